// The write-ahead log (`<database>-wal`) of an SQLite database in WAL mode:
// which frames are valid, which of them are committed, and for each page the
// frame that holds its current content.
//
// File format facts the reader relies on (all integers big-endian):
//
//   WAL header (32 bytes)
//   | offset | size | meaning                                              |
//   |--------|------|------------------------------------------------------|
//   | 0      | 4    | magic 0x377f0682 (checksums over little-endian words) |
//   |        |      | or 0x377f0683 (checksums over big-endian words)      |
//   | 4      | 4    | format version 3007000                               |
//   | 8      | 4    | database page size (1 = 65536, not supported)        |
//   | 12     | 4    | checkpoint sequence number                           |
//   | 16     | 4    | salt-1 (incremented at each restart of the log)      |
//   | 20     | 4    | salt-2 (random at each restart)                      |
//   | 24     | 4    | checksum-1 of bytes 0..23                            |
//   | 28     | 4    | checksum-2 of bytes 0..23                            |
//
//   Frame = 24-byte frame header + one page of data
//   | offset | size | meaning                                              |
//   |--------|------|------------------------------------------------------|
//   | 0      | 4    | page number (1-based)                                |
//   | 4      | 4    | database size in pages after commit; 0 when the      |
//   |        |      | frame is not the last of its transaction             |
//   | 8      | 4    | salt-1, equal to the header's in a valid frame       |
//   | 12     | 4    | salt-2, equal to the header's in a valid frame       |
//   | 16     | 4    | checksum-1 (cumulative)                              |
//   | 20     | 4    | checksum-2 (cumulative)                              |
//
// Checksum: over 32-bit words x[0..n) taken two at a time, starting from
// (s1, s2) = the previous checksum (0, 0 for the header; the header's for the
// first frame): s1 += x[i] + s2; s2 += x[i+1] + s1. A frame's checksum covers
// its header bytes 0..7 and its page data.
//
// Frames are valid from the first one up to (not including) the first whose
// salts differ from the header's, whose checksum does not hold, whose page
// number is 0, or that the file cuts short. Of the valid frames, those up to
// the last commit frame (non-zero database size) are committed; the frames
// after it belong to a transaction that never committed, and a database
// reader ignores them as SQLite does.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/Status.h"
#include "sqlite/ReadOnlyFile.h"

namespace corvyn::sqlite {

inline constexpr uint32_t kWalMagicLittleEndian = 0x377f0682;
inline constexpr uint32_t kWalMagicBigEndian = 0x377f0683;
inline constexpr uint32_t kWalFormatVersion = 3007000;
inline constexpr std::size_t kWalHeaderSize = 32;
inline constexpr std::size_t kWalFrameHeaderSize = 24;

// What became of the log beside a database.
enum class WalVerdict {
  kAbsent,            // no log file
  kApplied,           // at least one committed frame: pages are read through it
  kNothingCommitted,  // a sound header but no committed frame (an empty log, or only an open transaction)
  kDamaged,           // too short for its header, unknown magic or version, bad header checksum,
                      // or a first frame that fails its checksum
  kSaltMismatch,      // its first frame carries other salts than its header: frames of another log
  kPageSizeMismatch,  // its page size is not the database's
  kUnreadable,        // the file could not be opened or read
};

// Words for a verdict, e.g. for a scan's report.
std::string_view WalVerdictText(WalVerdict verdict);

// One valid frame of the log.
struct WalFrame {
  uint32_t pageNumber = 0;    // 1-based, as stored
  uint32_t databaseSize = 0;  // pages after commit; 0 when not a commit frame
  uint64_t dataOffset = 0;    // offset of the page data in the log file
  uint64_t contentHash = 0;   // of the page data, to tell identical versions apart
  bool committed = false;     // at or before the last commit frame
};

class WalFile {
 public:
  // Reads the log at `path` for a database of the given page size, checking
  // the header, every frame's salts and the running checksum (the whole file
  // is read once). The verdict says what was found; only kApplied makes
  // CommittedFrameOf give frames. Returns kOk whenever a verdict was reached
  // (also for a damaged log), a system error when the file cannot be opened
  // or read (verdict kUnreadable).
  Status Open(const std::filesystem::path& path, uint32_t databasePageSize);
  void Close();

  WalVerdict Verdict() const { return verdict_; }
  uint32_t PageSize() const { return pageSize_; }
  uint32_t CheckpointSequence() const { return checkpointSequence_; }
  // Database size in pages after the last commit (0 when none).
  uint32_t DatabasePages() const { return databasePages_; }

  // Frames of this run of the log in log order: the committed ones, the
  // valid ones after the last commit, then those with this run's salts after
  // the first checksum break (an open transaction whose frames SQLite
  // rewrote in place, or a torn write); empty unless the header was sound.
  const std::vector<WalFrame>& Frames() const { return frames_; }
  std::size_t CommittedFrameCount() const { return committedFrames_; }
  // Frames whose running checksum holds (the first ones of Frames()).
  std::size_t ValidFrameCount() const { return validFrames_; }
  // Bytes of the file past the valid frames (unchecked frames, a torn frame,
  // frames of an earlier run of the log, or garbage).
  uint64_t TrailingBytes() const { return trailingBytes_; }

  // Index into Frames() of the last committed frame of the page (0-based
  // page index), or -1 when the log holds no committed version of it within
  // the database size after the last commit.
  int64_t CommittedFrameOf(uint32_t pageIndex) const;

  // Reads out.size() bytes of one frame's page data from offsetInPage on;
  // kInvalidData when they reach past the page or no log is open.
  Status ReadFrameBytes(const WalFrame& frame, uint64_t offsetInPage, std::span<uint8_t> out) const;

 private:
  ReadOnlyFile file_;
  WalVerdict verdict_ = WalVerdict::kAbsent;
  uint32_t pageSize_ = 0;
  uint32_t checkpointSequence_ = 0;
  uint32_t databasePages_ = 0;
  std::vector<WalFrame> frames_;
  std::size_t committedFrames_ = 0;
  std::size_t validFrames_ = 0;
  uint64_t trailingBytes_ = 0;
  std::unordered_map<uint32_t, std::size_t> lastCommitted_;  // page index -> frame index
};

// 64-bit hash of a page's bytes (FNV-1a), shared by the log and the reader
// to recognise identical page versions.
uint64_t PageContentHash(std::span<const uint8_t> bytes);

}  // namespace corvyn::sqlite
