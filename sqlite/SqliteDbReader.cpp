#include "sqlite/SqliteDbReader.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>
#include <unordered_set>

#include "sqlite/ByteOrder.h"
#include "sqlite/Carving.h"
#include "sqlite/RecordParser.h"

namespace corvyn::sqlite {
namespace {

// The identity of a record's values from column 1 on, from the hashes of
// their serial types and of their bodies (BytesIdentity): a carved record
// and a live cell with the same values give the same.
uint64_t TailIdentity(uint64_t typesHash, uint64_t bodiesHash) {
  return typesHash * 0x9e3779b97f4a7c15ull ^ bodiesHash;
}

// Identity of a record's values from column 1 on: the serial types of
// columns 1 to count - 1 at `types` and their bodies at `bodies`. False when
// they do not lie inside the bytes.
bool RecordTailIdentity(ByteSpan types, std::size_t count, ByteSpan bodies, uint64_t& identity) {
  std::size_t typeBytes = 0;
  uint64_t bodyBytes = 0;
  for (std::size_t column = 1; column < count; ++column) {
    if (typeBytes >= types.size()) return false;
    // Nearly every serial type is one byte.
    uint64_t serialType = types[typeBytes];
    if (serialType < 0x80) {
      ++typeBytes;
    } else {
      const Varint varint = ReadVarint(types.subspan(typeBytes));
      if (!varint.complete) return false;
      serialType = varint.value;
      typeBytes += varint.length;
    }
    bodyBytes += SerialTypeBodySize(serialType);
  }
  if (typeBytes > types.size() || bodyBytes > bodies.size()) return false;
  identity = TailIdentity(BytesIdentity(types.first(typeBytes)),
                          BytesIdentity(bodies.first(static_cast<std::size_t>(bodyBytes))));
  return true;
}

// Hashes of a record (its payload, whole on the page) whose serial types
// fill its header and whose bodies fill the rest of it, as every record
// SQLite writes does: of the whole payload, and of its values from column 1
// on (the tail identity, as RecordTailIdentity gives it for a carved copy).
// The payload's hash is put together from the hashes of its parts, so that
// its bytes are read once for both.
struct SoundRecordHashes {
  uint64_t payload = 0;
  uint64_t tail = 0;
  std::size_t columns = 0;
};

bool HashSoundRecord(ByteSpan record, SoundRecordHashes& out) {
  const Varint header = ReadVarint(record);
  if (!header.complete || header.value > record.size() || header.value <= header.length) return false;
  const ByteSpan types =
      record.subspan(header.length, static_cast<std::size_t>(header.value) - header.length);
  const Varint first = ReadVarint(types);
  if (!first.complete) return false;
  const uint64_t firstBody = SerialTypeBodySize(first.value);
  if (header.value + firstBody > record.size()) return false;
  const ByteSpan rest = types.subspan(first.length);
  const ByteSpan bodies = record.subspan(static_cast<std::size_t>(header.value + firstBody));
  if (!rest.empty() && rest.back() >= 0x80) return false;
  // Each serial type ends at a byte below 0x80: counted eight at a time.
  std::size_t ends = 0;
  std::size_t i = 0;
  for (; i + 8 <= rest.size(); i += 8) {
    uint64_t word = 0;
    std::memcpy(&word, rest.data() + i, 8);
    ends += 8 - static_cast<std::size_t>(std::popcount(word & 0x8080808080808080ull));
  }
  for (; i < rest.size(); ++i) ends += rest[i] < 0x80 ? 1 : 0;
  uint64_t sizes = 0;
  for (std::size_t at = 0; at < rest.size();) {
    if (rest[at] < 0x80) {
      sizes += SerialTypeBodySize(rest[at++]);
      continue;
    }
    const Varint type = ReadVarint(rest.subspan(at));
    sizes += SerialTypeBodySize(type.value);
    at += type.length;
  }
  if (sizes != bodies.size()) return false;
  const uint64_t typesHash = BytesIdentity(rest);
  const uint64_t bodiesHash = BytesIdentity(bodies);
  out.columns = ends + 1;
  out.tail = TailIdentity(typesHash, bodiesHash);
  const auto combine = [](uint64_t hash, uint64_t part) {
    hash = (hash ^ part) * 0xbf58476d1ce4e5b9ull;
    return hash ^ (hash >> 29);
  };
  uint64_t hash = BytesIdentity(record.first(header.length + first.length));
  hash = combine(hash, BytesIdentity(record.subspan(static_cast<std::size_t>(header.value),
                                                    static_cast<std::size_t>(firstBody))));
  hash = combine(hash, typesHash);
  out.payload = combine(hash, bodiesHash);
  return true;
}

constexpr char kHeaderString[16] = "SQLite format 3";  // with its terminating zero: 16 bytes
constexpr std::size_t kPageSizeOffset = 16;
constexpr std::size_t kReservedBytesOffset = 20;
constexpr std::size_t kFirstTrunkOffset = 32;
constexpr uint32_t kMinimumUsableSize = 480;

bool HeaderStringMatches(const uint8_t* bytes) {
  for (std::size_t i = 0; i < sizeof(kHeaderString); ++i) {
    if (std::tolower(bytes[i]) != std::tolower(static_cast<unsigned char>(kHeaderString[i]))) return false;
  }
  return true;
}

std::size_t HeaderOffsetOf(PageIndex index) {
  return index == 0 ? kFileHeaderSize : 0;
}

// End offset of each cell (in the order given): the next higher cell
// offset, or pageEnd for the highest cell. Cells lie back to back in the
// content area, so that is where a cell ends at the latest.
std::vector<uint32_t> CellEnds(const std::vector<uint16_t>& cells, uint32_t pageEnd) {
  std::vector<uint16_t> sorted = cells;
  std::sort(sorted.begin(), sorted.end());
  std::vector<uint32_t> ends;
  ends.reserve(cells.size());
  for (const uint16_t offset : cells) {
    const auto next = std::upper_bound(sorted.begin(), sorted.end(), offset);
    ends.push_back(next == sorted.end() ? pageEnd : *next);
  }
  return ends;
}

}  // namespace

// ---------------------------------------------------------------------------

Varint ReadVarint(ByteSpan data) {
  Varint result;
  const std::size_t limit = std::min<std::size_t>(data.size(), 9);
  for (std::size_t i = 0; i < limit; ++i) {
    if (i == 8) {
      result.value = (result.value << 8) | data[i];
      result.length = 9;
      result.complete = true;
      return result;
    }
    result.value = (result.value << 7) | (data[i] & 0x7f);
    if ((data[i] & 0x80) == 0) {
      result.length = i + 1;
      result.complete = true;
      return result;
    }
  }
  result.length = limit;
  return result;
}

std::size_t VarintRunLength(ByteSpan data, std::size_t count) {
  std::size_t position = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (position >= data.size()) return 0;
    const Varint varint = ReadVarint(data.subspan(position));
    if (!varint.complete) return 0;
    position += varint.length;
  }
  return position;
}

// ---------------------------------------------------------------------------

SqliteDbReader::SqliteDbReader() = default;
SqliteDbReader::~SqliteDbReader() = default;

void SqliteDbReader::Close() {
  file_.Close();
  pageSize_ = 0;
  usableSize_ = 0;
  fileSize_ = 0;
  pageCount_ = 0;
  freePages_.clear();
  freeTrunks_.clear();
  wal_.Close();
  walVerdict_ = WalVerdict::kAbsent;
  walApplied_ = false;
  journal_.Close();
  history_.clear();
  historyBuilt_ = false;
  trackCells_ = false;
  liveCells_.clear();
  reportedCells_.clear();
  carvedRecords_.clear();
}

Status SqliteDbReader::Open(const std::filesystem::path& path) {
  std::filesystem::path walPath = path;
  walPath += "-wal";
  return Open(path, walPath);
}

Status SqliteDbReader::Open(const std::filesystem::path& path, const std::filesystem::path& walPath) {
  std::filesystem::path journalPath = path;
  journalPath += "-journal";
  return Open(path, walPath, journalPath);
}

Status SqliteDbReader::Open(const std::filesystem::path& path, const std::filesystem::path& walPath,
                            const std::filesystem::path& journalPath) {
  Close();
  if (const Status status = file_.Open(path); status != kOk) return status;
  fileSize_ = file_.Size();
  uint8_t header[kFileHeaderSize];
  if (fileSize_ < kFileHeaderSize || file_.ReadAt(0, header) != kOk || !HeaderStringMatches(header)) {
    Close();
    return kInvalidData;
  }
  const uint32_t pageSize = ReadBigEndian16(header + kPageSizeOffset);
  const uint32_t reserved = header[kReservedBytesOffset];
  // 1 stands for 65536, which this reader does not support.
  const bool powerOfTwo = pageSize >= 512 && pageSize <= 32768 && (pageSize & (pageSize - 1)) == 0;
  if (!powerOfTwo || pageSize - reserved < kMinimumUsableSize) {
    Close();
    return kInvalidData;
  }
  pageSize_ = pageSize;
  usableSize_ = pageSize - reserved;
  pageCount_ = fileSize_ / pageSize_;

  if (!walPath.empty()) OpenWal(walPath);
  if (walApplied_) {
    // Page 1 now comes from the log; a first page there that is no database
    // header for this page size means the log is not this database's.
    std::vector<uint8_t> first;
    const bool sound = ReadPage(0, first) == kOk && HeaderStringMatches(first.data()) &&
                       ReadBigEndian16(&first[kPageSizeOffset]) == pageSize &&
                       pageSize - first[kReservedBytesOffset] >= kMinimumUsableSize;
    if (sound) {
      std::memcpy(header, first.data(), kFileHeaderSize);
      usableSize_ = pageSize - header[kReservedBytesOffset];
    } else {
      DropWal(WalVerdict::kDamaged);
    }
  }

  // Free-list trunk chain: each trunk is read once, leaf counts are capped to
  // what the trunk page holds, leaf numbers outside the file are dropped, and
  // a trunk that cannot be read ends the chain.
  const uint64_t pageCount = PageCount();
  const uint32_t maxLeaves = usableSize_ / 4 - 2;
  std::vector<bool> seenTrunks(pageCount + 1, false);
  std::vector<uint8_t> trunk;
  uint64_t trunkNumber = ReadBigEndian32(header + kFirstTrunkOffset);
  while (trunkNumber != 0 && trunkNumber <= pageCount && !seenTrunks[trunkNumber]) {
    seenTrunks[trunkNumber] = true;
    if (ReadPage(static_cast<PageIndex>(trunkNumber - 1), trunk) != kOk) break;
    freeTrunks_.push_back(static_cast<PageIndex>(trunkNumber - 1));
    const uint32_t leafCount = std::min(ReadBigEndian32(&trunk[4]), maxLeaves);
    for (uint32_t i = 0; i < leafCount && freePages_.size() < pageCount; ++i) {
      const uint32_t leafNumber = ReadBigEndian32(&trunk[8 + 4 * static_cast<std::size_t>(i)]);
      if (leafNumber != 0 && leafNumber <= pageCount) freePages_.push_back(leafNumber - 1);
    }
    trunkNumber = ReadBigEndian32(&trunk[0]);
  }
  if (!journalPath.empty()) OpenJournal(journalPath);
  return kOk;
}

Status SqliteDbReader::ReadAt(uint64_t offset, std::span<uint8_t> out, std::size_t* bytesRead) const {
  if (!walApplied_) return file_.ReadAt(offset, out, bytesRead);
  if (bytesRead) *bytesRead = 0;
  if (!IsOpen()) return kInvalidData;
  // Page by page, each from where its live version lies.
  std::size_t done = 0;
  while (done < out.size()) {
    const uint64_t position = offset + done;
    const uint64_t pageIndex = position / pageSize_;
    const uint64_t within = position % pageSize_;
    const std::size_t take =
        static_cast<std::size_t>(std::min<uint64_t>(out.size() - done, pageSize_ - within));
    if (pageIndex >= pageCount_) return kShortRead;
    const std::span<uint8_t> piece = out.subspan(done, take);
    const int64_t frame = wal_.CommittedFrameOf(static_cast<uint32_t>(pageIndex));
    std::size_t got = 0;
    const Status status =
        frame >= 0 ? wal_.ReadFrameBytes(wal_.Frames()[static_cast<std::size_t>(frame)], within, piece)
                   : file_.ReadAt(position, piece, &got);
    if (frame >= 0 && status == kOk) got = take;
    done += got;
    if (bytesRead) *bytesRead = done;
    if (status != kOk) return status;
  }
  return kOk;
}

uint32_t SqliteDbReader::FrameNumber(std::size_t frameIndex) const {
  const std::vector<WalFrame>& frames = wal_.Frames();
  if (frameIndex >= frames.size() || pageSize_ == 0) return 0;
  const uint64_t frameSize = kWalFrameHeaderSize + pageSize_;
  return static_cast<uint32_t>((frames[frameIndex].dataOffset - kWalHeaderSize) / frameSize + 1);
}

uint32_t SqliteDbReader::LiveFrameNumber(PageIndex index) const {
  if (!walApplied_) return 0;
  const int64_t frame = wal_.CommittedFrameOf(index);
  return frame >= 0 ? FrameNumber(static_cast<std::size_t>(frame)) : 0;
}

std::string_view RecordOriginName(RecordOrigin origin) {
  switch (origin) {
    case RecordOrigin::kLive:
      return "live";
    case RecordOrigin::kFreeblock:
      return "freeblock";
    case RecordOrigin::kTail:
      return "tail";
    case RecordOrigin::kGap:
      return "gap";
    case RecordOrigin::kStalePointer:
      return "stale pointer";
    case RecordOrigin::kFreePage:
      return "free page";
    case RecordOrigin::kOldPageVersion:
      return "old page version";
    case RecordOrigin::kJournal:
      return "rollback journal";
  }
  return "unknown";
}

Status SqliteDbReader::ReadPage(PageIndex index, std::vector<uint8_t>& page) const {
  if (!IsOpen() || pageSize_ == 0) return kInvalidData;
  page.resize(pageSize_);
  if (walApplied_) {
    const int64_t frame = wal_.CommittedFrameOf(index);
    if (frame >= 0) return wal_.ReadFrameBytes(wal_.Frames()[static_cast<std::size_t>(frame)], 0, page);
    if (index >= pageCount_) return kShortRead;
  }
  return file_.ReadAt(static_cast<uint64_t>(index) * pageSize_, page);
}

uint64_t LocalPayloadSize(uint64_t payloadLength, uint32_t usableSize) {
  const uint64_t usable = usableSize;
  if (usable < kMinimumUsableSize) return payloadLength;
  const uint64_t maxLocal = usable - 35;
  if (payloadLength <= maxLocal) return payloadLength;
  const uint64_t minLocal = (usable - 12) * 32 / 255 - 23;
  const uint64_t local = minLocal + (payloadLength - minLocal) % (usable - 4);
  return local <= maxLocal ? local : minLocal;
}

uint64_t SqliteDbReader::LocalPayloadSize(uint64_t payloadLength) const {
  return sqlite::LocalPayloadSize(payloadLength, usableSize_ != 0 ? usableSize_ : pageSize_);
}

// ---------------------------------------------------------------------------
// Page structure.

std::vector<uint16_t> SqliteDbReader::ReadCellPointers(ByteSpan page, std::size_t headerOffset) const {
  std::vector<uint16_t> cells;
  if (headerOffset + 8 > page.size()) return cells;
  const uint8_t type = page[headerOffset];
  const std::size_t arrayStart = headerOffset + (type == kInteriorTablePage ? 12 : 8);
  const std::size_t count = ReadBigEndian16(&page[headerOffset + 3]);
  const std::size_t arrayEnd = arrayStart + 2 * count;
  if (arrayEnd > page.size()) return cells;  // a cell count the page cannot hold
  cells.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t offset = ReadBigEndian16(&page[arrayStart + 2 * i]);
    if (offset >= arrayEnd && offset < page.size()) cells.push_back(static_cast<uint16_t>(offset));
  }
  return cells;
}

std::map<PageIndex, int64_t> SqliteDbReader::CollectChildPages(ByteSpan page,
                                                               std::size_t headerOffset) const {
  std::map<PageIndex, int64_t> children;
  if (headerOffset + 12 > page.size() || page[headerOffset] != kInteriorTablePage) return children;
  // Children past the end of the file are kept: reading them reports the
  // short read (a file cut short) instead of hiding the lost rows.
  auto valid = [](uint32_t number) { return number != 0 && number <= 0x7fffffffu; };
  for (const uint16_t offset : ReadCellPointers(page, headerOffset)) {
    if (offset + 4u > page.size()) continue;
    const uint32_t child = ReadBigEndian32(&page[offset]);
    if (!valid(child)) continue;
    children[child - 1] = static_cast<int64_t>(ReadVarint(page.subspan(offset + 4u)).value);
  }
  const uint32_t rightMost = ReadBigEndian32(&page[headerOffset + 8]);
  if (valid(rightMost)) children[rightMost - 1] = -1;
  return children;
}

Status SqliteDbReader::WalkTree(PageIndex index, const std::vector<uint8_t>& page, int depth,
                                std::vector<bool>& visited, const LeafVisitor& onLeaf) const {
  const std::size_t headerOffset = HeaderOffsetOf(index);
  if (headerOffset >= page.size()) return kOk;
  const uint8_t type = page[headerOffset];
  if (type == kLeafTablePage) return onLeaf(index, page);
  if (type != kInteriorTablePage || depth >= kMaxTreeDepth) return kOk;
  std::vector<uint8_t> child;
  for (const auto& [childIndex, key] : CollectChildPages(page, headerOffset)) {
    (void)key;
    if (childIndex >= visited.size()) return kShortRead;  // past the end of the file
    if (visited[childIndex]) continue;
    visited[childIndex] = true;
    if (const Status status = ReadPage(childIndex, child); status != kOk) return status;
    if (const Status status = WalkTree(childIndex, child, depth + 1, visited, onLeaf); status != kOk)
      return status;
  }
  return kOk;
}

Status SqliteDbReader::ForEachLeafPage(PageIndex index, const std::vector<uint8_t>& page,
                                       std::vector<bool>& visited, const LeafVisitor& onLeaf) const {
  if (visited.size() < PageCount()) visited.resize(PageCount(), false);
  if (index < visited.size()) visited[index] = true;
  return WalkTree(index, page, 0, visited, onLeaf);
}

Status SqliteDbReader::CollectLeafCells(ByteSpan page, PageIndex index,
                                        std::map<PageIndex, std::vector<uint16_t>>& leaves) const {
  std::vector<bool> visited;
  const std::vector<uint8_t> copy(page.begin(), page.end());
  return ForEachLeafPage(index, copy, visited, [&](PageIndex leaf, const std::vector<uint8_t>& bytes) {
    leaves[leaf] = ReadCellPointers(bytes, HeaderOffsetOf(leaf));
    return kOk;
  });
}

// ---------------------------------------------------------------------------
// Schema and records.

namespace {

// Calls onRow for every row of sqlite_master (the b-tree rooted at page 1)
// that parses; rows that do not are skipped.
Status ForEachSchemaRow(const SqliteDbReader& reader, const std::function<void(const ParsedRecord&)>& onRow) {
  std::vector<uint8_t> first;
  if (const Status status = reader.ReadPage(0, first); status != kOk) return status;
  std::vector<bool> visited;
  ParsedRecord row;
  return reader.ForEachLeafPage(0, first, visited, [&](PageIndex leaf, const std::vector<uint8_t>& page) {
    const std::vector<uint16_t> cells = reader.ReadCellPointers(page, HeaderOffsetOf(leaf));
    const std::vector<uint32_t> ends = CellEnds(cells, reader.PageSize());
    for (std::size_t i = 0; i < cells.size(); ++i) {
      const uint16_t offset = cells[i];
      const RecordLocation location{ByteSpan(page).subspan(offset), offset, ends[i], RecordMode::kFullCell,
                                    0};
      if (ParseCell(reader, location, row) == kOk) onRow(row);
    }
    return kOk;
  });
}

bool TextColumnIs(const ParsedRecord& row, std::size_t column, std::string_view text) {
  const ColumnValue* value = row.Column(column);
  return value && value->IsText() && value->Text() == text;
}

}  // namespace

Status SqliteDbReader::FindTableRoots(std::string_view tableName, std::map<PageIndex, int64_t>& roots) const {
  const uint64_t pageCount = PageCount();
  return ForEachSchemaRow(*this, [&](const ParsedRecord& row) {
    bool named = false;
    for (std::size_t column = 0; column < 3 && !named; ++column) named = TextColumnIs(row, column, tableName);
    const ColumnValue* root = row.Column(3);
    if (!named || !root || !root->IsInteger()) return;
    if (root->integer > 0 && static_cast<uint64_t>(root->integer) <= pageCount) {
      roots[static_cast<PageIndex>(root->integer - 1)] = -1;
    }
  });
}

Status SqliteDbReader::FindTableSql(std::string_view tableName, std::string& sql) const {
  sql.clear();
  bool found = false;
  return ForEachSchemaRow(*this, [&](const ParsedRecord& row) {
    if (found || !TextColumnIs(row, 0, "table") || !TextColumnIs(row, 1, tableName)) return;
    const ColumnValue* text = row.Column(4);
    if (text == nullptr || !text->IsText()) return;
    sql = std::string(text->Text());
    found = true;
  });
}

Status SqliteDbReader::GatherOverflowCell(const RecordLocation& record, std::vector<uint8_t>& cell,
                                          bool& overflowed) const {
  cell.clear();
  overflowed = false;
  const Varint payload = ReadVarint(record.bytes);
  if (!payload.complete) return kInvalidData;
  const Varint rowid = ReadVarint(record.bytes.subspan(payload.length));
  if (!rowid.complete) return kInvalidData;
  const uint64_t local = LocalPayloadSize(payload.value);
  if (local >= payload.value) return kOk;
  overflowed = true;
  const std::size_t prefix = payload.length + rowid.length;
  const uint64_t pageCount = PageCount();
  if (prefix + local + 4 > record.bytes.size() || payload.value > pageCount * usableSize_)
    return kInvalidData;
  cell.reserve(prefix + payload.value);
  cell.assign(record.bytes.begin(), record.bytes.begin() + static_cast<std::ptrdiff_t>(prefix + local));
  uint32_t next = ReadBigEndian32(&record.bytes[prefix + local]);
  uint64_t remaining = payload.value - local;
  std::vector<uint8_t> page;
  std::unordered_set<uint32_t> visited;
  while (remaining > 0) {
    // A page seen before means the chain loops: its bytes would repeat.
    if (next == 0 || next > pageCount || !visited.insert(next).second) return kInvalidData;
    if (const Status status = ReadPage(next - 1, page); status != kOk) return status;
    const uint64_t take = std::min<uint64_t>(remaining, usableSize_ - 4);
    cell.insert(cell.end(), page.begin() + 4, page.begin() + 4 + static_cast<std::ptrdiff_t>(take));
    remaining -= take;
    next = ReadBigEndian32(page.data());
  }
  return kOk;
}

Status SqliteDbReader::CountRecordColumns(ByteSpan page, uint32_t cellOffset, uint32_t cellEnd,
                                          uint32_t& columns) const {
  columns = 0;
  if (cellOffset >= page.size()) return kInvalidData;
  ParsedRecord record;
  const RecordLocation location{page.subspan(cellOffset), cellOffset, cellEnd, RecordMode::kFullCell, 1};
  const Status status = ParseCell(*this, location, record);
  if (status != kOk) return status;
  columns = static_cast<uint32_t>(record.columns.size());
  return kOk;
}

// ---------------------------------------------------------------------------
// The table scan.

bool SqliteDbReader::CellIdentity(ByteSpan page, uint32_t offset, uint64_t& identity, uint32_t& cellEnd,
                                  std::optional<uint64_t>* tail) const {
  if (tail != nullptr) tail->reset();
  if (offset >= page.size()) return false;
  const ByteSpan cell = page.subspan(offset);
  const Varint payload = ReadVarint(cell);
  if (!payload.complete) return false;
  const Varint rowid = ReadVarint(cell.subspan(payload.length));
  if (!rowid.complete) return false;
  const std::size_t prefix = payload.length + rowid.length;
  const uint64_t local = LocalPayloadSize(payload.value);
  uint64_t payloadHash = 0;
  if (local >= payload.value) {
    if (payload.value > cell.size() - prefix) return false;
    const ByteSpan record = cell.subspan(prefix, static_cast<std::size_t>(payload.value));
    SoundRecordHashes hashes;
    if (HashSoundRecord(record, hashes)) {
      payloadHash = hashes.payload;
      if (tail != nullptr && carvedColumns_ != 0 && hashes.columns == carvedColumns_) *tail = hashes.tail;
    } else {
      payloadHash = BytesIdentity(record);
    }
    cellEnd = static_cast<uint32_t>(offset + prefix + payload.value);
  } else {
    if (prefix + local + 4 > cell.size()) return false;
    const RecordLocation location{cell, offset, 0, RecordMode::kFullCell, 0};
    std::vector<uint8_t> whole;
    bool overflowed = false;
    if (GatherOverflowCell(location, whole, overflowed) != kOk || !overflowed) return false;
    payloadHash = BytesIdentity(ByteSpan(whole).subspan(prefix));
    cellEnd = static_cast<uint32_t>(offset + prefix + local + 4);
  }
  identity = (payloadHash ^ (rowid.value * 0x9e3779b97f4a7c15ull)) * 0xbf58476d1ce4e5b9ull;
  identity ^= identity >> 31;
  return true;
}

void SqliteDbReader::DecodeLeafCells(const std::vector<uint8_t>& page, PageIndex index,
                                     const std::vector<uint16_t>& cells, const RecordDecoder& decoder,
                                     int32_t deleted) {
  const std::vector<uint32_t> ends = CellEnds(cells, pageSize_);
  const ByteSpan bytes(page);
  for (std::size_t i = 0; i < cells.size(); ++i) {
    RecordLocation location{bytes.subspan(cells[i]), cells[i], ends[i], RecordMode::kFullCell, deleted};
    location.origin = deleted == 0 ? RecordOrigin::kLive : RecordOrigin::kFreePage;
    location.page = index;
    location.walFrame = LiveFrameNumber(index);
    if (trackCells_ && (deleted != 0 || learnLiveCells_)) {
      // Remembered so that the page history does not hand the same record over again.
      uint64_t identity = 0;
      uint32_t cellEnd = 0;
      std::optional<uint64_t> tail;
      if (CellIdentity(bytes, cells[i], identity, cellEnd, deleted == 0 ? &tail : nullptr)) {
        // A cell of a free page identical to a live one (same rowid and
        // payload) is a copy left behind when the tree was rebalanced, not
        // a deleted row.
        if (deleted != 0 && liveCells_.count(identity) != 0) continue;
        if (deleted == 0)
          liveCells_.insert(identity);
        else
          reportedCells_.insert(identity);
        // The values of a live record that lies whole before the next cell.
        if (tail && cellEnd <= ends[i]) liveTails_.insert(*tail);
      }
    }
    // A record the decoder refuses is dropped alone; the scan goes on.
    (void)decoder(*this, location);
  }
}

bool SqliteDbReader::HoldsKnownValues(ByteSpan record, bool headerIntact) const {
  if (!trackCells_ || carvedColumns_ == 0 || (liveTails_.empty() && reportedTails_.empty())) return false;
  if (record.empty()) return false;
  const bool lost = FirstColumnLost(record[0], headerIntact, rowidColumn_);
  const Varint first = ReadVarint(record);
  const ByteSpan types = lost ? record : record.subspan(first.length);
  const std::size_t typeBytes = VarintRunLength(types, carvedColumns_ - 1);
  const uint64_t skipped = lost ? 0 : SerialTypeBodySize(first.value);
  const std::size_t bodyAt = (lost ? 0 : first.length) + typeBytes + static_cast<std::size_t>(skipped);
  const auto matches = [&](std::size_t at) {
    uint64_t tail = 0;
    return at < record.size() && RecordTailIdentity(types, carvedColumns_, record.subspan(at), tail) &&
           (liveTails_.count(tail) != 0 || reportedTails_.count(tail) != 0);
  };
  if (typeBytes == 0) return false;
  if (matches(bodyAt)) return true;
  // A lost first column that is not the rowid's NULL still holds its body
  // before the others: any size a number of the record may take.
  if (!lost || rowidColumn_ == 0) return false;
  for (const std::size_t size : {1u, 2u, 3u, 4u, 6u, 8u}) {
    if (matches(bodyAt + size)) return true;
  }
  return false;
}

void SqliteDbReader::DecodeCandidates(const std::map<PageIndex, std::vector<Candidate>>& candidates,
                                      const RecordDecoder& decoder, const std::vector<uint8_t>* pageInHand,
                                      PageIndex pageInHandIndex, bool freePages) {
  std::vector<uint8_t> page;
  for (const auto& [index, offsets] : candidates) {
    if (offsets.empty()) continue;
    const std::vector<uint8_t>* bytes = &page;
    if (pageInHand && index == pageInHandIndex) {
      bytes = pageInHand;
    } else if (ReadPage(index, page) != kOk) {
      continue;
    }
    for (const Candidate& candidate : offsets) {
      const uint16_t offset = candidate.offset;
      if (offset >= bytes->size()) continue;
      RecordLocation location{
          ByteSpan(*bytes).subspan(offset), offset, 0, RecordMode::kCarved, 1, candidate.headerIntact};
      const auto liveCopy = [&](uint16_t at, bool headerIntact) {
        return HoldsKnownValues(ByteSpan(*bytes).subspan(at), headerIntact);
      };
      if (candidate.cellStart == 0 && liveCopy(offset, candidate.headerIntact)) continue;
      uint64_t cellIdentity = 0;
      uint32_t cellEnd = 0;
      bool cellIdentified = false;
      std::optional<uint64_t> cellTail;
      if (candidate.cellStart != 0 && candidate.cellStart < offset) {
        // A whole cell: handed over as one, with its rowid; a copy of a
        // live cell is no deleted row.
        // A cell already handed over (the same one kept in two places) is
        // dropped too.
        cellIdentified = trackCells_ && CellIdentity(ByteSpan(*bytes), candidate.cellStart, cellIdentity,
                                                     cellEnd, &cellTail);
        if (cellIdentified &&
            (liveCells_.count(cellIdentity) != 0 || reportedCells_.count(cellIdentity) != 0))
          continue;
        location = RecordLocation{ByteSpan(*bytes).subspan(candidate.cellStart), candidate.cellStart,
                                  static_cast<uint32_t>(bytes->size()), RecordMode::kFullCell, 1};
      }
      location.origin = freePages ? RecordOrigin::kFreePage : candidate.origin;
      location.page = index;
      location.walFrame = LiveFrameNumber(index);
      // A refused candidate is dropped alone.
      Status decoded = decoder(*this, location);
      if (decoded == kOk && cellIdentified && location.mode == RecordMode::kFullCell) {
        // The cell's values are remembered too, so that a record carved
        // elsewhere with the same values (its rowid lost) is not handed over
        // again.
        reportedCells_.insert(cellIdentity);
        if (cellTail) reportedTails_.insert(*cellTail);
      }
      if (decoded != kOk && candidate.alternative != 0 && candidate.alternative < bytes->size() &&
          !liveCopy(candidate.alternative, false)) {
        location.bytes = ByteSpan(*bytes).subspan(candidate.alternative);
        location.cellOffset = candidate.alternative;
        location.headerIntact = false;
        decoded = decoder(*this, location);
      }
      if (trackCells_ && decoded == kOk) carvedRecords_.insert({index, offset});
    }
  }
}

void SqliteDbReader::LearnLiveCells(PageIndex root, std::vector<bool>& tablePages) {
  if (!trackCells_ || root >= tablePages.size() || tablePages[root]) return;
  std::vector<uint8_t> page;
  if (ReadPage(root, page) != kOk) return;
  const RecordDecoder nothing = [](SqliteDbReader&, const RecordLocation&) { return kOk; };
  (void)ForEachLeafPage(root, page, tablePages, [&](PageIndex leaf, const std::vector<uint8_t>& bytes) {
    DecodeLeafCells(bytes, leaf, ReadCellPointers(bytes, HeaderOffsetOf(leaf)), nothing, 0);
    return kOk;
  });
}

void SqliteDbReader::LearnLiveCellsNow(PageIndex pageInHand, const std::vector<uint8_t>& bytesInHand) {
  if (learnLiveCells_) return;
  learnLiveCells_ = true;
  const RecordDecoder nothing = [](SqliteDbReader&, const RecordLocation&) { return kOk; };
  std::vector<uint8_t> page;
  for (const PageIndex leaf : unlearntLeaves_) {
    const std::vector<uint8_t>* bytes = &bytesInHand;
    if (leaf != pageInHand || pageInHand == 0) {
      if (ReadPage(leaf, page) != kOk) continue;
      bytes = &page;
    }
    DecodeLeafCells(*bytes, leaf, ReadCellPointers(*bytes, HeaderOffsetOf(leaf)), nothing, 0);
  }
  unlearntLeaves_.clear();
  unlearntLeaves_.shrink_to_fit();
}

Status SqliteDbReader::ScanTableTree(PageIndex root, const TableProfile& profile,
                                     const RecordDecoder& decoder, std::vector<bool>& tablePages) {
  if (root >= tablePages.size() || tablePages[root]) return kOk;
  std::vector<uint8_t> page;
  if (const Status status = ReadPage(root, page); status != kOk) return status;
  const CarvingContext context = MakeCarvingContext(*this, profile);
  CandidateMap candidates;
  // Live cells are decoded while their page is in hand; the carved records of
  // the tree follow once the walk is done, as the decoders expect.
  const Status status =
      ForEachLeafPage(root, page, tablePages, [&](PageIndex leaf, const std::vector<uint8_t>& bytes) {
        const std::vector<uint16_t> cells = ReadCellPointers(bytes, HeaderOffsetOf(leaf));
        DecodeLeafCells(bytes, leaf, cells, decoder, 0);
        if (trackCells_ && !learnLiveCells_) unlearntLeaves_.push_back(leaf);
        if (leaf != 0 && carveDeletedRecords) {
          CandidateList found = CollectPageCandidates(*this, context, bytes);
          if (!found.empty()) {
            candidates[leaf] = std::move(found);
            LearnLiveCellsNow(leaf, bytes);
          }
        }
        return kOk;
      });
  // The whole cells a root kept when it split go first: a record carved
  // from a leaf with the same values is the same row again.
  if (root != 0 && carveDeletedRecords) {
    CandidateList found = CollectInteriorGapCandidates(*this, context, page);
    if (!found.empty()) {
      LearnLiveCellsNow(0, {});
      CandidateMap rootGap;
      rootGap[root] = std::move(found);
      DecodeCandidates(rootGap, decoder, &page, root, false);
    }
  }
  DecodeCandidates(candidates, decoder, nullptr, 0, false);
  return status;
}

Status SqliteDbReader::ScanFreePage(PageIndex index, const TableProfile& profile,
                                    const RecordDecoder& decoder, std::vector<bool>& seenPages) {
  if (index == 0 || index >= seenPages.size() || seenPages[index]) return kOk;
  std::vector<uint8_t> page;
  if (ReadPage(index, page) != kOk) return kOk;  // an unreadable free page is skipped
  if (page[0] == 0 && profile.columnCount != 0 && carveDeletedRecords) {
    // A header reset before the page was freed: its old cells may still lie
    // anywhere after it.
    seenPages[index] = true;
    ScanWholeFreePage(index, page, 8, {}, profile, decoder);
    return kOk;
  }
  if (page[0] != kLeafTablePage && page[0] != kInteriorTablePage) return kOk;
  std::map<PageIndex, std::vector<uint16_t>> leaves;
  const Status walked =
      ForEachLeafPage(index, page, seenPages, [&](PageIndex leaf, const std::vector<uint8_t>& bytes) {
        leaves[leaf] = ReadCellPointers(bytes, 0);
        return kOk;
      });
  if (walked != kOk) return walked;

  const uint32_t expected = profile.columnCount;
  if (expected == 0) return kOk;
  // The page belonged to this table when the first record of its first leaf
  // has the table's column count.
  std::vector<uint8_t> leafPage;
  bool matches = false;
  for (const auto& [leaf, cells] : leaves) {
    if (cells.empty()) continue;
    const std::vector<uint8_t>* bytes = &page;
    if (leaf != index) {
      if (const Status status = ReadPage(leaf, leafPage); status != kOk) return status;
      bytes = &leafPage;
    }
    uint32_t columns = 0;
    const Status counted =
        CountRecordColumns(*bytes, cells.front(), CellEnds(cells, pageSize_).front(), columns);
    if (counted != kOk && counted != kInvalidData) return counted;
    matches = counted == kOk && columns == expected;
    break;
  }
  if (!matches) {
    // Emptied row by row before it was freed, or first holding another
    // table's row: the table's records are looked for over the whole
    // content area of each leaf.
    if (!carveDeletedRecords) return kOk;
    for (const auto& [leaf, cells] : leaves) {
      const std::vector<uint8_t>* bytes = &page;
      if (leaf != index) {
        if (const Status status = ReadPage(leaf, leafPage); status != kOk) return status;
        bytes = &leafPage;
      }
      ScanWholeFreePage(leaf, *bytes, 8 + 2 * cells.size(), cells, profile, decoder);
    }
    return kOk;
  }

  const CarvingContext context = MakeCarvingContext(*this, profile);
  CandidateMap candidates;
  for (const auto& [leaf, cells] : leaves) {
    const std::vector<uint8_t>* bytes = &page;
    if (leaf != index) {
      if (const Status status = ReadPage(leaf, leafPage); status != kOk) return status;
      bytes = &leafPage;
    }
    DecodeLeafCells(*bytes, leaf, cells, decoder, 1);
    if (!carveDeletedRecords) continue;
    CandidateList found = CollectPageCandidates(*this, context, *bytes);
    if (!found.empty()) candidates[leaf] = std::move(found);
  }
  DecodeCandidates(candidates, decoder, &page, index, true);
  return kOk;
}

void SqliteDbReader::ScanWholeFreePage(PageIndex index, const std::vector<uint8_t>& page, std::size_t from,
                                       const std::vector<uint16_t>& cells, const TableProfile& profile,
                                       const RecordDecoder& decoder) {
  // Pointer-array entries left behind by the cells the page held: none of
  // them is a record's byte.
  while (from + 1 < page.size() && from < pageSize_) {
    const std::size_t pointer = ReadBigEndian16(&page[from]);
    if (pointer == 0 || pointer >= page.size() || pointer < from) break;
    from += 2;
  }
  const CarvingContext context = MakeCarvingContext(*this, profile);
  CandidateMap candidates;
  CandidateList found;
  ScanAroundCells(context, page, from, cells, RecordOrigin::kFreePage, found);
  if (found.empty()) return;
  candidates[index] = std::move(found);
  DecodeCandidates(candidates, decoder, &page, index, true);
}

Status SqliteDbReader::ScanTable(TableProfile& profile, const RecordDecoder& decoder) {
  if (!IsOpen()) return kInvalidData;
  std::map<PageIndex, int64_t> roots;
  if (profile.scanTableTrees) {
    if (const Status status = FindTableRoots(profile.tableName, roots); status != kOk) return status;
  } else if (carveDeletedRecords) {
    // Only free pages are visited, but their copies of the table's live rows
    // are still no deleted rows: the live cells are learnt all the same.
    (void)FindTableRoots(profile.tableName, roots);
  }

  std::vector<bool> tablePages(PageCount(), false);
  if (carveDeletedRecords) BuildHistory();
  // Live cells are remembered so that copies of them left in free space
  // are not passed off as deleted rows (and the page history does not hand
  // a record over twice).
  trackCells_ = carveDeletedRecords;
  // The live cells are learnt only once something they may be copied to is
  // known: a free page, an old page version, or a leaf's free space with a
  // record in it. Leaves walked before that are learnt then, once.
  learnLiveCells_ =
      !history_.empty() || !freePages_.empty() || !freeTrunks_.empty() || !profile.scanTableTrees;
  unlearntLeaves_.clear();
  liveTails_.clear();
  carvedColumns_ = profile.columnCount >= 3 ? profile.columnCount : 0;
  rowidColumn_ = profile.rowidColumn;
  liveCells_.clear();
  reportedCells_.clear();
  reportedTails_.clear();
  carvedRecords_.clear();
  Status result = kOk;
  for (const auto& [root, key] : roots) {
    (void)key;
    if (!profile.scanTableTrees) {
      LearnLiveCells(root, tablePages);
      continue;
    }
    result = ScanTableTree(root, profile, decoder, tablePages);
    if (result != kOk) break;
  }
  // The free-page walk below marks pages too; the history needs the trees
  // alone, and only when their rows are handed over.
  const std::vector<bool> treePages =
      trackCells_ && !history_.empty() && profile.scanTableTrees ? tablePages : std::vector<bool>();
  if (profile.scanFreePages) {
    // Pages of the table's own trees are never taken again from the free list.
    std::vector<bool>& seenPages = tablePages;
    for (const PageIndex index : freePages_) {
      const Status status = ScanFreePage(index, profile, decoder, seenPages);
      if (status != kOk) {
        if (result == kOk) result = status;
        break;
      }
    }
    // Trunk pages of the free list keep old cells after their list of leaves.
    if (carveDeletedRecords && profile.columnCount != 0) {
      std::vector<uint8_t> trunk;
      for (const PageIndex index : freeTrunks_) {
        if (index == 0 || index >= seenPages.size() || seenPages[index] || ReadPage(index, trunk) != kOk)
          continue;
        seenPages[index] = true;
        const uint64_t leaves = std::min<uint64_t>(ReadBigEndian32(&trunk[4]), usableSize_ / 4 - 2);
        ScanWholeFreePage(index, trunk, static_cast<std::size_t>(8 + 4 * leaves), {}, profile, decoder);
      }
    }
  }
  if (trackCells_) {
    if (!history_.empty()) ScanHistory(profile, decoder, treePages);
    trackCells_ = false;
    liveCells_.clear();
    reportedCells_.clear();
    reportedTails_.clear();
    carvedRecords_.clear();
    liveTails_.clear();
  }
  return result;
}

}  // namespace corvyn::sqlite
