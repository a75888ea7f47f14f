#include "sqlite/WalFile.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "sqlite/ByteOrder.h"

namespace corvyn::sqlite {
namespace {

constexpr uint64_t kPageHashSeed = 0xcbf29ce484222325ull;

inline uint64_t PageHashStep(uint64_t hash, uint64_t word) {
  hash = (hash ^ word) * 0x100000001b3ull;
  return hash ^ (hash >> 29);
}

struct Checksum {
  uint32_t first = 0;
  uint32_t second = 0;
};

uint32_t ReadLittleEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[3]) << 24 | static_cast<uint32_t>(bytes[2]) << 16 |
         static_cast<uint32_t>(bytes[1]) << 8 | bytes[0];
}

// Continues `sum` over bytes (a multiple of 8 long), words in the byte order
// the magic chose.
void AddToChecksum(Checksum& sum, std::span<const uint8_t> bytes, bool bigEndianWords) {
  uint32_t first = sum.first;
  uint32_t second = sum.second;
  const uint8_t* data = bytes.data();
  const std::size_t pairs = bytes.size() / 8;
  if (bigEndianWords) {
    for (std::size_t i = 0; i < pairs; ++i, data += 8) {
      first += ReadBigEndian32(data) + second;
      second += ReadBigEndian32(data + 4) + first;
    }
  } else {
    for (std::size_t i = 0; i < pairs; ++i, data += 8) {
      first += ReadLittleEndian32(data) + second;
      second += ReadLittleEndian32(data + 4) + first;
    }
  }
  sum = {first, second};
}

// AddToChecksum and PageContentHash in one pass over a page (its size a
// multiple of 8, as every page size is): the log is read once, and both
// chains run side by side.
uint64_t AddToChecksumAndHash(Checksum& sum, std::span<const uint8_t> page, bool bigEndianWords) {
  uint32_t first = sum.first;
  uint32_t second = sum.second;
  uint64_t hash = kPageHashSeed;
  const uint8_t* data = page.data();
  for (std::size_t i = 0; i + 8 <= page.size(); i += 8, data += 8) {
    uint64_t word = 0;
    std::memcpy(&word, data, 8);
    hash = PageHashStep(hash, word);
    first += (bigEndianWords ? ReadBigEndian32(data) : ReadLittleEndian32(data)) + second;
    second += (bigEndianWords ? ReadBigEndian32(data + 4) : ReadLittleEndian32(data + 4)) + first;
  }
  sum = {first, second};
  return hash ^ page.size();
}

bool ChecksumMatches(const Checksum& sum, const uint8_t* stored) {
  return ReadBigEndian32(stored) == sum.first && ReadBigEndian32(stored + 4) == sum.second;
}

}  // namespace

std::string_view WalVerdictText(WalVerdict verdict) {
  switch (verdict) {
    case WalVerdict::kAbsent:
      return "no write-ahead log";
    case WalVerdict::kApplied:
      return "write-ahead log applied";
    case WalVerdict::kNothingCommitted:
      return "write-ahead log holds no committed change";
    case WalVerdict::kDamaged:
      return "write-ahead log damaged, ignored";
    case WalVerdict::kSaltMismatch:
      return "write-ahead log frames do not belong to its header, ignored";
    case WalVerdict::kPageSizeMismatch:
      return "write-ahead log belongs to a database of another page size, ignored";
    case WalVerdict::kUnreadable:
      return "write-ahead log could not be read, ignored";
  }
  return "write-ahead log in an unknown state";
}

uint64_t PageContentHash(std::span<const uint8_t> bytes) {
  uint64_t hash = kPageHashSeed;
  std::size_t i = 0;
  // Eight bytes per step keeps hashing far below the cost of reading the page.
  for (; i + 8 <= bytes.size(); i += 8) {
    uint64_t word = 0;
    std::memcpy(&word, bytes.data() + i, 8);
    hash = PageHashStep(hash, word);
  }
  for (; i < bytes.size(); ++i) hash = (hash ^ bytes[i]) * 0x100000001b3ull;
  return hash ^ bytes.size();
}

void WalFile::Close() {
  file_.Close();
  verdict_ = WalVerdict::kAbsent;
  pageSize_ = 0;
  checkpointSequence_ = 0;
  databasePages_ = 0;
  frames_.clear();
  committedFrames_ = 0;
  validFrames_ = 0;
  trailingBytes_ = 0;
  lastCommitted_.clear();
}

Status WalFile::Open(const std::filesystem::path& path, uint32_t databasePageSize) {
  Close();
  if (const Status status = file_.Open(path); status != kOk) {
    verdict_ = WalVerdict::kUnreadable;
    return status;
  }
  const uint64_t fileSize = file_.Size();
  uint8_t header[kWalHeaderSize];
  if (fileSize == 0) {
    verdict_ = WalVerdict::kNothingCommitted;
    return kOk;
  }
  if (fileSize < kWalHeaderSize) {
    verdict_ = WalVerdict::kDamaged;
    return kOk;
  }
  if (const Status status = file_.ReadAt(0, header); status != kOk) {
    verdict_ = WalVerdict::kUnreadable;
    return status;
  }
  const uint32_t magic = ReadBigEndian32(header);
  const uint32_t pageSize = ReadBigEndian32(header + 8);
  const bool bigEndianWords = magic == kWalMagicBigEndian;
  Checksum sum;
  AddToChecksum(sum, std::span<const uint8_t>(header, 24), bigEndianWords);
  if ((magic != kWalMagicLittleEndian && magic != kWalMagicBigEndian) ||
      ReadBigEndian32(header + 4) != kWalFormatVersion || !ChecksumMatches(sum, header + 24)) {
    verdict_ = WalVerdict::kDamaged;
    return kOk;
  }
  const bool powerOfTwo = pageSize >= 512 && pageSize <= 32768 && (pageSize & (pageSize - 1)) == 0;
  if (!powerOfTwo) {
    verdict_ = WalVerdict::kDamaged;
    return kOk;
  }
  if (pageSize != databasePageSize) {
    verdict_ = WalVerdict::kPageSizeMismatch;
    return kOk;
  }
  pageSize_ = pageSize;
  checkpointSequence_ = ReadBigEndian32(header + 12);
  const uint32_t salt1 = ReadBigEndian32(header + 16);
  const uint32_t salt2 = ReadBigEndian32(header + 20);

  const uint64_t frameSize = kWalFrameHeaderSize + pageSize;
  // Frames are read in batches of about 1 MB; `frame` points into the batch.
  const uint64_t framesPerBatch = std::max<uint64_t>(1, (1u << 20) / frameSize);
  std::vector<uint8_t> batch;
  uint64_t batchStart = 0;
  uint64_t offset = kWalHeaderSize;
  bool firstFrameTorn = false;
  bool firstFrameForeign = false;
  // SQLite rewrites frames of an open transaction in place and fixes their
  // checksums only when it commits, so the frames of this run after a
  // checksum break are kept unchecked: never committed, history only.
  bool checksumBroken = false;
  std::size_t uncheckedFrom = 0;
  for (; offset + frameSize <= fileSize; offset += frameSize) {
    if (batch.empty() || offset + frameSize > batchStart + batch.size()) {
      const uint64_t wholeFrames = (fileSize - offset) / frameSize;
      batch.resize(static_cast<std::size_t>(std::min(wholeFrames, framesPerBatch) * frameSize));
      batchStart = offset;
      if (const Status status = file_.ReadAt(offset, batch); status != kOk) {
        Close();
        verdict_ = WalVerdict::kUnreadable;
        return status;
      }
    }
    const std::span<const uint8_t> frame(batch.data() + (offset - batchStart), frameSize);
    const uint32_t pageNumber = ReadBigEndian32(frame.data());
    if (pageNumber == 0 || ReadBigEndian32(&frame[8]) != salt1 || ReadBigEndian32(&frame[12]) != salt2) {
      firstFrameForeign = frames_.empty();
      break;
    }
    Checksum next = sum;
    AddToChecksum(next, std::span<const uint8_t>(frame.data(), 8), bigEndianWords);
    const std::span<const uint8_t> data(frame.data() + kWalFrameHeaderSize, pageSize);
    const uint64_t contentHash = AddToChecksumAndHash(next, data, bigEndianWords);
    const bool sound = !checksumBroken && ChecksumMatches(next, &frame[16]);
    if (!sound && !checksumBroken) {
      firstFrameTorn = frames_.empty();
      checksumBroken = true;
      uncheckedFrom = frames_.size();
    }
    sum = next;
    WalFrame valid;
    valid.pageNumber = pageNumber;
    valid.databaseSize = ReadBigEndian32(&frame[4]);
    valid.dataOffset = offset + kWalFrameHeaderSize;
    valid.contentHash = contentHash;
    frames_.push_back(valid);
    if (valid.databaseSize != 0 && !checksumBroken) committedFrames_ = frames_.size();
  }
  validFrames_ = checksumBroken ? uncheckedFrom : frames_.size();
  trailingBytes_ = fileSize - offset;
  if (checksumBroken) trailingBytes_ += (frames_.size() - uncheckedFrom) * frameSize;

  for (std::size_t i = 0; i < committedFrames_; ++i) frames_[i].committed = true;
  if (committedFrames_ == 0) {
    // SQLite writes a fresh header together with the first frame of its run,
    // so a first frame with other salts or a failing checksum is no empty
    // log but a foreign or damaged one.
    verdict_ = firstFrameTorn      ? WalVerdict::kDamaged
               : firstFrameForeign ? WalVerdict::kSaltMismatch
                                   : WalVerdict::kNothingCommitted;
    return kOk;
  }
  databasePages_ = frames_[committedFrames_ - 1].databaseSize;
  for (std::size_t i = 0; i < committedFrames_; ++i) {
    const uint32_t pageIndex = frames_[i].pageNumber - 1;
    // A page past the database's final size was dropped by a later commit
    // (a vacuum that shrank the file); its frames are history only.
    if (pageIndex < databasePages_) lastCommitted_[pageIndex] = i;
  }
  verdict_ = WalVerdict::kApplied;
  return kOk;
}

int64_t WalFile::CommittedFrameOf(uint32_t pageIndex) const {
  if (verdict_ != WalVerdict::kApplied) return -1;
  const auto found = lastCommitted_.find(pageIndex);
  return found == lastCommitted_.end() ? -1 : static_cast<int64_t>(found->second);
}

Status WalFile::ReadFrameBytes(const WalFrame& frame, uint64_t offsetInPage, std::span<uint8_t> out) const {
  if (!file_.IsOpen() || offsetInPage > pageSize_ || out.size() > pageSize_ - offsetInPage)
    return kInvalidData;
  return file_.ReadAt(frame.dataOffset + offsetInPage, out);
}

}  // namespace corvyn::sqlite
