// The rollback journal (`<database>-journal`) of an SQLite database outside
// WAL mode: the images of pages as they were before a transaction changed
// them. A hot journal (its transaction never finished) and the remains a
// finished one leaves behind (journal_mode=PERSIST zeroes the header and
// keeps the records) both hold old versions of pages the main file now
// shows changed, and with them the rows those pages held.
//
// File format facts the reader relies on (all integers big-endian):
//
//   Segment header (28 bytes, padded with zeros to the sector size)
//   | offset | size | meaning                                              |
//   |--------|------|------------------------------------------------------|
//   | 0      | 8    | magic d9 d5 05 f9 20 a1 63 d7                        |
//   | 8      | 4    | record count; 0 or 0xffffffff: as many as the file   |
//   |        |      | holds (written before the journal was synced)        |
//   | 12     | 4    | nonce: the starting value of every record checksum   |
//   | 16     | 4    | database size in pages before the transaction        |
//   | 20     | 4    | sector size (a power of two, 32 .. 65536)            |
//   | 24     | 4    | page size                                            |
//
//   Record = 4-byte page number (1-based), the page image, 4-byte checksum:
//   the nonce plus the page bytes at offsets page size - 200, - 400, ...
//   down to (not including) 0, each taken as an unsigned byte.
//
// A header is first written with zeros for its magic and count; SQLite
// writes both once the records behind it are synced, so the last segment of
// a hot journal (or its only one) may show them zero.
//
// Records follow their header's sector-padded block back to back. A journal
// synced in the middle of a transaction starts a new segment: another
// header at the next sector boundary after the last record, with its own
// nonce. A finished transaction in PERSIST mode zeroes the first 28 bytes
// and leaves the records; the next transaction writes a new header and
// overwrites the records from the start, so records of earlier transactions
// (with another nonce) may lie behind the current ones.
//
// What is taken: every record slot up to the file's end (never a count the
// header gives past it) whose page number is within the database's page
// count and whose checksum holds under its segment's nonce. A record whose
// checksum does not hold (its nonce is not known: a zeroed header, or an
// earlier transaction's record behind the current ones) is taken only when
// its image looks like a b-tree page; the reader then hands it to the same
// column-count checks any old page version must pass before its rows count
// as the table's.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "platform/Status.h"
#include "sqlite/ReadOnlyFile.h"

namespace corvyn::sqlite {

inline constexpr std::size_t kJournalHeaderSize = 28;
inline constexpr uint8_t kJournalMagic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};

// What became of the journal beside a database.
enum class JournalVerdict {
  kAbsent,      // no journal file
  kRead,        // page images were found
  kCutShort,    // page images were found; the file ends inside a record
  kEmpty,       // no page image: an empty file, a header without records, or zeros
  kDamaged,     // neither a journal header nor a zeroed one, a header whose sector size
                // is impossible, or no record that passes
  kForeign,     // its header names another page size than the database's
  kUnreadable,  // the file could not be opened or read
};

// Words for a verdict, e.g. for a carve's report.
std::string_view JournalVerdictText(JournalVerdict verdict);

// One page image taken from the journal.
struct JournalPage {
  uint32_t pageNumber = 0;  // 1-based, as stored
  // 1-based number of the record slot in the file, counting every slot read
  // from the first segment on (also slots not taken).
  uint32_t record = 0;
  uint32_t segment = 0;     // 0-based segment the record belongs to
  uint64_t dataOffset = 0;  // offset of the page image in the journal file
  bool checked = false;     // the checksum held under the segment's nonce
};

class RollbackJournal {
 public:
  // Reads the journal at `path` for a database of the given page size and
  // page count (record by record, each read bounded by the file's size).
  // Returns kOk whenever a verdict was reached (also for a damaged or
  // foreign journal), a system error when the file cannot be opened or read
  // (verdict kUnreadable).
  Status Open(const std::filesystem::path& path, uint32_t databasePageSize, uint64_t databasePageCount);
  void Close();

  JournalVerdict Verdict() const { return verdict_; }
  // The first header was zeroed (as PERSIST mode leaves it after a commit).
  bool HeaderZeroed() const { return headerZeroed_; }
  uint32_t SectorSize() const { return sectorSize_; }
  uint32_t Segments() const { return segments_; }
  // Page images taken, in file order.
  const std::vector<JournalPage>& Pages() const { return pages_; }

  // Reads the page image of `page` into out (out.size() at most the page
  // size). kInvalidData when no journal is open or out is too long.
  Status ReadPage(const JournalPage& page, std::span<uint8_t> out) const;

 private:
  struct Segment {
    uint32_t nonce = 0;
    bool nonceKnown = false;
    uint64_t recordCount = 0;  // 0: not given
  };
  // A sound segment header at `offset` (magic, this page size, a possible
  // sector size); fills `segment` and *sectorSize.
  bool HeaderAt(uint64_t offset, Segment& segment, uint32_t* sectorSize) const;
  // The sector size behind a zeroed header: the smallest at which a record
  // of a page in range lies (0 when none).
  uint32_t GuessSectorSize(uint64_t databasePageCount) const;

  ReadOnlyFile file_;
  JournalVerdict verdict_ = JournalVerdict::kAbsent;
  uint32_t pageSize_ = 0;
  uint32_t sectorSize_ = 0;
  uint32_t segments_ = 0;
  bool headerZeroed_ = false;
  std::vector<JournalPage> pages_;
};

// The checksum SQLite stores after a page image: nonce plus every 200th
// byte counted back from the page's end.
uint32_t JournalChecksum(uint32_t nonce, std::span<const uint8_t> image);

// Whether bytes look like a b-tree page of a database of this page size
// (page 1 keeps its header behind the 100-byte file header): a known page
// type, and a cell count, content start and first freeblock that fit.
bool LooksLikeBtreePage(std::span<const uint8_t> image, uint32_t pageNumber);

}  // namespace corvyn::sqlite
