#include "sqlite/RollbackJournal.h"

#include <algorithm>
#include <cstring>

#include "sqlite/ByteOrder.h"

namespace corvyn::sqlite {
namespace {

constexpr uint32_t kSmallestSector = 32;
constexpr uint32_t kLargestSector = 65536;
constexpr uint32_t kRecordOverhead = 8;  // page number and checksum

bool IsPowerOfTwo(uint32_t value) {
  return value != 0 && (value & (value - 1)) == 0;
}

}  // namespace

std::string_view JournalVerdictText(JournalVerdict verdict) {
  switch (verdict) {
    case JournalVerdict::kAbsent:
      return "no rollback journal";
    case JournalVerdict::kRead:
      return "rollback journal read";
    case JournalVerdict::kCutShort:
      return "rollback journal read; it ends inside a page image, which was left out";
    case JournalVerdict::kEmpty:
      return "rollback journal holds no page image";
    case JournalVerdict::kDamaged:
      return "rollback journal damaged, ignored";
    case JournalVerdict::kForeign:
      return "rollback journal belongs to a database of another page size, ignored";
    case JournalVerdict::kUnreadable:
      return "rollback journal could not be read, ignored";
  }
  return "rollback journal in an unknown state";
}

uint32_t JournalChecksum(uint32_t nonce, std::span<const uint8_t> image) {
  uint32_t sum = nonce;
  if (image.size() <= 200) return sum;
  for (std::size_t i = image.size() - 200; i > 0; i -= std::min<std::size_t>(i, 200)) sum += image[i];
  return sum;
}

bool LooksLikeBtreePage(std::span<const uint8_t> image, uint32_t pageNumber) {
  const std::size_t h = pageNumber == 1 ? 100 : 0;
  if (image.size() < h + 12) return false;
  const uint8_t type = image[h];
  if (type != 2 && type != 5 && type != 10 && type != 13) return false;
  const std::size_t headerSize = type == 2 || type == 5 ? 12 : 8;
  const std::size_t cells = ReadBigEndian16(&image[h + 3]);
  std::size_t contentStart = ReadBigEndian16(&image[h + 5]);
  if (contentStart == 0) contentStart = 65536;
  const std::size_t freeblock = ReadBigEndian16(&image[h + 1]);
  const std::size_t pointersEnd = h + headerSize + 2 * cells;
  if (pointersEnd > image.size() || image[h + 7] > 60) return false;
  if (cells == 0 ? contentStart > image.size() && contentStart != 65536
                 : contentStart < pointersEnd || contentStart >= image.size()) {
    return false;
  }
  if (freeblock != 0 && (freeblock < pointersEnd || freeblock + 4 > image.size())) return false;
  for (std::size_t i = 0; i < cells; ++i) {
    const std::size_t pointer = ReadBigEndian16(&image[h + headerSize + 2 * i]);
    if (pointer < contentStart || pointer >= image.size()) return false;
  }
  return true;
}

void RollbackJournal::Close() {
  file_.Close();
  verdict_ = JournalVerdict::kAbsent;
  pageSize_ = 0;
  sectorSize_ = 0;
  segments_ = 0;
  headerZeroed_ = false;
  pages_.clear();
}

bool RollbackJournal::HeaderAt(uint64_t offset, Segment& segment, uint32_t* sectorSize) const {
  uint8_t header[kJournalHeaderSize];
  if (offset + kJournalHeaderSize > file_.Size() || file_.ReadAt(offset, header) != kOk) return false;
  // A header SQLite has not synced yet keeps zeros for its magic and count
  // (it writes them once its records are on disk); its nonce holds already.
  const bool unsynced = std::all_of(header, header + 12, [](uint8_t byte) { return byte == 0; });
  if (!unsynced && std::memcmp(header, kJournalMagic, sizeof kJournalMagic) != 0) return false;
  const uint32_t sector = ReadBigEndian32(header + 20);
  if (ReadBigEndian32(header + 24) != pageSize_ || !IsPowerOfTwo(sector) || sector < kSmallestSector ||
      sector > kLargestSector) {
    return false;
  }
  const uint32_t count = ReadBigEndian32(header + 8);
  segment.recordCount = count == 0xffffffffu ? 0 : count;
  segment.nonce = ReadBigEndian32(header + 12);
  segment.nonceKnown = true;
  *sectorSize = sector;
  return true;
}

uint32_t RollbackJournal::GuessSectorSize(uint64_t databasePageCount) const {
  std::vector<uint8_t> image(4 + static_cast<std::size_t>(pageSize_));
  for (uint32_t sector = 512; sector <= kLargestSector; sector *= 2) {
    if (sector + image.size() > file_.Size()) break;
    if (file_.ReadAt(sector, image) != kOk) return 0;
    const uint32_t pageNumber = ReadBigEndian32(image.data());
    if (pageNumber != 0 && pageNumber <= databasePageCount &&
        LooksLikeBtreePage(std::span<const uint8_t>(image).subspan(4), pageNumber)) {
      return sector;
    }
  }
  return 0;
}

Status RollbackJournal::Open(const std::filesystem::path& path, uint32_t databasePageSize,
                             uint64_t databasePageCount) {
  Close();
  if (const Status status = file_.Open(path); status != kOk) {
    verdict_ = JournalVerdict::kUnreadable;
    return status;
  }
  pageSize_ = databasePageSize;
  const uint64_t fileSize = file_.Size();
  if (fileSize == 0 || pageSize_ == 0) {
    verdict_ = JournalVerdict::kEmpty;
    return kOk;
  }
  uint8_t header[kJournalHeaderSize] = {};
  const std::size_t headerBytes = static_cast<std::size_t>(std::min<uint64_t>(fileSize, kJournalHeaderSize));
  if (const Status status = file_.ReadAt(0, std::span<uint8_t>(header, headerBytes)); status != kOk) {
    Close();
    verdict_ = JournalVerdict::kUnreadable;
    return status;
  }
  Segment segment;
  const bool magic = headerBytes == kJournalHeaderSize && std::memcmp(header, kJournalMagic, 8) == 0;
  if (!magic && HeaderAt(0, segment, &sectorSize_)) {
    // A first header not synced yet.
  } else if (magic) {
    if (ReadBigEndian32(header + 24) != pageSize_) {
      verdict_ = JournalVerdict::kForeign;
      return kOk;
    }
    if (!HeaderAt(0, segment, &sectorSize_)) {
      verdict_ = JournalVerdict::kDamaged;
      return kOk;
    }
  } else if (std::all_of(header, header + headerBytes, [](uint8_t byte) { return byte == 0; })) {
    headerZeroed_ = true;
    sectorSize_ = GuessSectorSize(databasePageCount);
    if (sectorSize_ == 0) {
      verdict_ = JournalVerdict::kEmpty;
      return kOk;
    }
  } else {
    verdict_ = JournalVerdict::kDamaged;
    return kOk;
  }

  segments_ = 1;
  const uint64_t recordSize = static_cast<uint64_t>(pageSize_) + kRecordOverhead;
  std::vector<uint8_t> record(static_cast<std::size_t>(recordSize));
  const std::span<const uint8_t> image(record.data() + 4, pageSize_);
  uint64_t offset = sectorSize_;
  uint64_t inSegment = 0;
  uint32_t slot = 0;
  bool slotsWithPages = false;  // a slot not all zeros in its page number
  bool cut = false;
  while (offset < fileSize) {
    // Once the header's count is reached (at every record when it gave none,
    // or where a slot holds no page of the database), a later segment may
    // begin at the next sector boundary.
    bool segmentMayEnd = segment.recordCount == 0 || inSegment >= segment.recordCount;
    if (!segmentMayEnd && offset + 4 <= fileSize) {
      uint8_t number[4];
      segmentMayEnd = file_.ReadAt(offset, number) != kOk || ReadBigEndian32(number) == 0 ||
                      ReadBigEndian32(number) > databasePageCount;
    }
    if (segmentMayEnd) {
      const uint64_t boundary = (offset + sectorSize_ - 1) / sectorSize_ * sectorSize_;
      Segment next;
      uint32_t nextSector = 0;
      if (HeaderAt(boundary, next, &nextSector)) {
        segment = next;
        offset = boundary + nextSector;
        inSegment = 0;
        ++segments_;
        continue;
      }
    }
    if (offset + recordSize > fileSize) {
      // Bytes too few for a record: a record cut short unless they are zeros.
      const std::span<uint8_t> rest(record.data(), static_cast<std::size_t>(fileSize - offset));
      if (const Status status = file_.ReadAt(offset, rest); status != kOk) {
        Close();
        verdict_ = JournalVerdict::kUnreadable;
        return status;
      }
      cut = std::any_of(rest.begin(), rest.end(), [](uint8_t byte) { return byte != 0; });
      break;
    }
    if (const Status status = file_.ReadAt(offset, record); status != kOk) {
      Close();
      verdict_ = JournalVerdict::kUnreadable;
      return status;
    }
    ++slot;
    const uint32_t pageNumber = ReadBigEndian32(record.data());
    slotsWithPages |= pageNumber != 0;
    const bool inRange = pageNumber != 0 && pageNumber <= databasePageCount;
    const bool checked =
        inRange && segment.nonceKnown &&
        JournalChecksum(segment.nonce, image) == ReadBigEndian32(record.data() + 4 + pageSize_);
    // Without a nonce that holds, only what looks like a b-tree page.
    if (inRange && (checked || LooksLikeBtreePage(image, pageNumber))) {
      pages_.push_back(JournalPage{pageNumber, slot, segments_ - 1, offset + 4, checked});
    }
    offset += recordSize;
    ++inSegment;
  }
  if (!pages_.empty()) {
    verdict_ = cut ? JournalVerdict::kCutShort : JournalVerdict::kRead;
  } else {
    verdict_ = slotsWithPages || cut ? JournalVerdict::kDamaged : JournalVerdict::kEmpty;
  }
  return kOk;
}

Status RollbackJournal::ReadPage(const JournalPage& page, std::span<uint8_t> out) const {
  if (!file_.IsOpen() || out.size() > pageSize_) return kInvalidData;
  return file_.ReadAt(page.dataOffset, out);
}

}  // namespace corvyn::sqlite
