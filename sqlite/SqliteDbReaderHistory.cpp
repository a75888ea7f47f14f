// SqliteDbReader: the write-ahead log beside the file and the page history
// it leaves (see the top of SqliteDbReader.h).
#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <unordered_set>

#include "sqlite/ByteOrder.h"
#include "sqlite/Carving.h"
#include "sqlite/SqliteDbReader.h"

namespace corvyn::sqlite {

void SqliteDbReader::OpenWal(const std::filesystem::path& walPath) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(walPath, error)) return;
  // An unreadable log leaves its verdict; the file is then read alone.
  (void)wal_.Open(walPath, pageSize_);
  walVerdict_ = wal_.Verdict();
  if (walVerdict_ == WalVerdict::kApplied) {
    walApplied_ = true;
    // Every page of the database lies in the file or in a committed frame; a
    // larger size after commit is not believed (it would size every page map).
    uint64_t highest = fileSize_ / pageSize_;
    for (std::size_t i = 0; i < wal_.CommittedFrameCount(); ++i)
      highest = std::max<uint64_t>(highest, wal_.Frames()[i].pageNumber);
    pageCount_ = std::min<uint64_t>(wal_.DatabasePages(), highest);
  } else if (walVerdict_ != WalVerdict::kNothingCommitted) {
    wal_.Close();
  }
}

void SqliteDbReader::OpenJournal(const std::filesystem::path& journalPath) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(journalPath, error)) return;
  // An unreadable journal leaves its verdict; the file is then read alone.
  (void)journal_.Open(journalPath, pageSize_, pageCount_);
  history_.clear();
  historyBuilt_ = false;
}

void SqliteDbReader::DropWal(WalVerdict verdict) {
  wal_.Close();
  walVerdict_ = verdict;
  walApplied_ = false;
  pageCount_ = pageSize_ ? fileSize_ / pageSize_ : 0;
  history_.clear();
  historyBuilt_ = false;
}

Status SqliteDbReader::ReadMainPage(PageIndex index, std::span<uint8_t> page) const {
  return file_.ReadAt(static_cast<uint64_t>(index) * pageSize_, page);
}

Status SqliteDbReader::ReadVersion(const PageVersion& version, std::vector<uint8_t>& page) const {
  page.resize(pageSize_);
  if (version.journalPage >= 0) {
    const std::vector<JournalPage>& images = journal_.Pages();
    if (static_cast<std::size_t>(version.journalPage) >= images.size()) return kInvalidData;
    return journal_.ReadPage(images[static_cast<std::size_t>(version.journalPage)], page);
  }
  if (version.walFrame < 0) return ReadMainPage(version.page, page);
  const std::vector<WalFrame>& frames = wal_.Frames();
  if (static_cast<std::size_t>(version.walFrame) >= frames.size()) return kInvalidData;
  return wal_.ReadFrameBytes(frames[static_cast<std::size_t>(version.walFrame)], 0, page);
}

std::size_t SqliteDbReader::HistoricalPageVersions() const {
  BuildHistory();
  return history_.size();
}

void SqliteDbReader::BuildHistory() const {
  if (historyBuilt_ || !IsOpen()) return;
  historyBuilt_ = true;
  history_.clear();
  BuildLogHistory();
  BuildJournalHistory();
}

void SqliteDbReader::BuildJournalHistory() const {
  const std::vector<JournalPage>& images = journal_.Pages();
  if (images.empty()) return;
  // Hashes of the versions of each page already accounted for: the live one
  // and those the log left.
  std::map<PageIndex, std::set<uint64_t>> known;
  for (const PageVersion& version : history_) known[version.page].insert(version.contentHash);
  // Pages whose live version was read (true) or could not be (false): an
  // image that cannot be told from the live page is left out.
  std::map<PageIndex, bool> liveRead;
  std::vector<PageVersion> older;
  std::vector<uint8_t> page(pageSize_);
  for (std::size_t i = 0; i < images.size(); ++i) {
    const PageIndex index = images[i].pageNumber - 1;
    if (index >= pageCount_) continue;
    std::set<uint64_t>& hashes = known[index];
    const auto [read, first] = liveRead.try_emplace(index, false);
    if (first && ReadPage(index, page) == kOk) {
      read->second = true;
      hashes.insert(PageContentHash(page));
    }
    if (!read->second) continue;
    if (journal_.ReadPage(images[i], page) != kOk) continue;
    const uint64_t hash = PageContentHash(page);
    if (!hashes.insert(hash).second) continue;
    older.push_back(PageVersion{index, -1, hash, static_cast<int64_t>(i)});
  }
  // A journal image is older than anything the main file or the log holds
  // of its page: each page's journal images come first.
  history_.insert(history_.end(), older.begin(), older.end());
  std::stable_sort(history_.begin(), history_.end(), [](const PageVersion& a, const PageVersion& b) {
    if (a.page != b.page) return a.page < b.page;
    return a.journalPage >= 0 && b.journalPage < 0;
  });
}

void SqliteDbReader::BuildLogHistory() const {
  const std::vector<WalFrame>& frames = wal_.Frames();
  if (frames.empty()) return;
  const uint64_t mainPages = fileSize_ / pageSize_;
  // Frames of each page in log order.
  std::map<PageIndex, std::vector<std::size_t>> framesOfPage;
  for (std::size_t i = 0; i < frames.size(); ++i) framesOfPage[frames[i].pageNumber - 1].push_back(i);

  std::vector<uint8_t> page(pageSize_);
  for (const auto& [index, frameIndexes] : framesOfPage) {
    const int64_t liveFrame = wal_.CommittedFrameOf(index);
    const bool mainIsLive = liveFrame < 0 && index < pageCount_;
    // Hashes of the versions already accounted for: the live one first.
    std::set<uint64_t> known;
    std::optional<uint64_t> mainHash;
    if (index < mainPages) {
      if (ReadMainPage(index, page) != kOk) {
        history_.clear();
        return;
      }
      mainHash = PageContentHash(page);
    }
    if (liveFrame >= 0) {
      known.insert(frames[static_cast<std::size_t>(liveFrame)].contentHash);
    } else if (mainIsLive && mainHash) {
      known.insert(*mainHash);
    }
    if (mainHash && !mainIsLive && known.insert(*mainHash).second) {
      history_.push_back(PageVersion{index, -1, *mainHash});
    }
    for (const std::size_t frame : frameIndexes) {
      if (static_cast<int64_t>(frame) == liveFrame || !known.insert(frames[frame].contentHash).second)
        continue;
      history_.push_back(PageVersion{index, static_cast<int64_t>(frame), frames[frame].contentHash});
    }
  }
}

namespace {

// A record carved from an old page version by its page, place and bytes
// (the same deleted record carved from several versions of a page gives the
// same key).
uint64_t CarvedRecordKey(PageIndex page, ByteSpan bytes, uint32_t start, uint32_t end) {
  const uint64_t content = PageContentHash(bytes.subspan(start, end - start));
  const uint64_t place =
      static_cast<uint64_t>(page) << 32 | static_cast<uint64_t>(start) << 16 | (end & 0xffff);
  return (content ^ place * 0x9e3779b97f4a7c15ull) * 0xbf58476d1ce4e5b9ull;
}

}  // namespace

uint32_t SqliteDbReader::FirstRecordColumns(ByteSpan page, const std::vector<uint16_t>& cells) const {
  uint64_t identity = 0;
  uint32_t cellEnd = 0;
  uint32_t columns = 0;
  if (page.empty() || page[0] != kLeafTablePage || cells.empty() ||
      !CellIdentity(page, cells.front(), identity, cellEnd) ||
      CountRecordColumns(page, cells.front(), cellEnd, columns) != kOk) {
    return 0;
  }
  return columns;
}

void SqliteDbReader::PlaceInVersion(const PageVersion& version, RecordLocation& location) const {
  if (version.journalPage >= 0) {
    location.origin = RecordOrigin::kJournal;
    location.page = version.page;
    location.walFrame = 0;
    location.replacedByLog = false;
    location.journalRecord = journal_.Pages()[static_cast<std::size_t>(version.journalPage)].record;
    return;
  }
  location.origin = RecordOrigin::kOldPageVersion;
  location.page = version.page;
  location.walFrame = version.walFrame < 0 ? 0 : FrameNumber(static_cast<std::size_t>(version.walFrame));
  location.replacedByLog = version.walFrame < 0;
}

void SqliteDbReader::ScanHistory(const TableProfile& profile, const RecordDecoder& decoder,
                                 const std::vector<bool>& treePages) {
  const uint32_t expected = profile.columnCount;
  const bool likeFreePages = profile.scanFreePages && expected != 0;
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> live;
  PageIndex livePage = 0;  // page 0 never enters the history scan
  bool liveRead = false;
  uint32_t liveColumns = 0;
  // Where the cells of old versions handed over lay, and the records carved
  // from old versions (see CarvedRecordKey).
  struct CellPlace {
    uint32_t start = 0;
    uint32_t end = 0;
    uint64_t hash = 0;  // of the cell's bytes past its first four
  };
  std::map<PageIndex, std::vector<CellPlace>> reportedCellPlaces;
  std::unordered_set<uint64_t> reportedCarved;
  for (PageVersion& version : history_) {
    // Page 1 holds the schema behind the file header.
    if (version.page == 0) continue;
    const bool inTree = version.page < treePages.size() && treePages[version.page];
    if (!inTree && !likeFreePages) continue;
    if (version.inspected && (version.pageType != kLeafTablePage || version.firstRecordColumns == 0))
      continue;
    if (ReadVersion(version, bytes) != kOk) continue;
    const std::vector<uint16_t> cells = ReadCellPointers(bytes, 0);
    if (!version.inspected) {
      version.inspected = true;
      version.pageType = bytes[0];
      version.firstRecordColumns = FirstRecordColumns(bytes, cells);
      if (version.pageType != kLeafTablePage || version.firstRecordColumns == 0) continue;
    }
    // An old version of a page of the table's tree must show the column count
    // of the live page's records or of the table (a page freed by one table
    // may have served another before); any other page must show the table's,
    // as free pages must.
    const uint32_t columns = version.firstRecordColumns;
    if (inTree && livePage != version.page) {
      livePage = version.page;
      liveRead = ReadPage(version.page, live) == kOk;
      liveColumns = liveRead ? FirstRecordColumns(live, ReadCellPointers(live, 0)) : 0;
    }
    const bool belongs = (expected != 0 && columns == expected) || (inTree && columns == liveColumns);
    if (!belongs) continue;

    const bool compareLive = inTree && carveDeletedRecords;
    for (const uint16_t offset : cells) {
      uint64_t identity = 0;
      uint32_t cellEnd = 0;
      if (!CellIdentity(bytes, offset, identity, cellEnd)) continue;
      if (liveCells_.count(identity) != 0 || reportedCells_.count(identity) != 0) continue;
      // A record carved from within the cell's place on the live page, whose
      // bytes there are the cell's but for the four a freeblock header
      // overwrites: already handed over.
      if (compareLive && liveRead && offset + 4u < cellEnd && cellEnd <= live.size()) {
        const auto carved = carvedRecords_.lower_bound({version.page, offset});
        if (carved != carvedRecords_.end() && carved->first == version.page && carved->second < cellEnd &&
            std::equal(bytes.begin() + offset + 4, bytes.begin() + cellEnd, live.begin() + offset + 4)) {
          continue;
        }
      }
      reportedCells_.insert(identity);
      if (offset + 4u < cellEnd && cellEnd <= bytes.size()) {
        reportedCellPlaces[version.page].push_back(
            {offset, cellEnd, PageContentHash(ByteSpan(bytes).subspan(offset + 4u, cellEnd - offset - 4u))});
      }
      RecordLocation location{ByteSpan(bytes).subspan(offset), offset, cellEnd, RecordMode::kFullCell, 1};
      PlaceInVersion(version, location);
      (void)decoder(*this, location);
    }

    // Records carved from the old version's free space: those deleted before
    // it was written, which the live page may no longer hold.
    const CarvingContext context = MakeCarvingContext(*this, profile);
    for (const Candidate& candidate : CollectPageCandidates(*this, context, bytes)) {
      const uint32_t start = candidate.offset;
      const uint64_t span = RecordSpan(context.columnCount, ByteSpan(bytes).subspan(start), 0,
                                       bytes.size() - start, candidate.headerIntact, context.rowidColumn);
      if (span < 2 || span > bytes.size() - start) continue;
      const uint32_t end = static_cast<uint32_t>(start + span);
      // Carved from the same place of the live page with the same bytes.
      if (compareLive && liveRead && carvedRecords_.count({version.page, start}) != 0 &&
          std::equal(bytes.begin() + start + 1, bytes.begin() + end, live.begin() + start + 1)) {
        continue;
      }
      // A cell of an older version handed over above, whose bytes (but for
      // the four a freeblock header overwrites) this version still holds.
      const auto places = reportedCellPlaces.find(version.page);
      if (places != reportedCellPlaces.end() &&
          std::any_of(places->second.begin(), places->second.end(), [&](const CellPlace& place) {
            return place.start <= start && start < place.end &&
                   PageContentHash(ByteSpan(bytes).subspan(place.start + 4u, place.end - place.start - 4u)) ==
                       place.hash;
          })) {
        continue;
      }
      // The values of a live row, or of a deleted cell handed over from
      // elsewhere (a root keeps its cells when it splits).
      if (HoldsKnownValues(ByteSpan(bytes).subspan(start), candidate.headerIntact)) continue;
      if (!reportedCarved.insert(CarvedRecordKey(version.page, bytes, start, end)).second) continue;
      RecordLocation location{ByteSpan(bytes).subspan(start), start, 0, RecordMode::kCarved, 1,
                              candidate.headerIntact};
      PlaceInVersion(version, location);
      (void)decoder(*this, location);
    }
  }
}

}  // namespace corvyn::sqlite
