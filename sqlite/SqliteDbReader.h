// A read-only reader of SQLite 3 database files that walks table b-trees page
// by page itself (no SQL library), and hands every live cell and every record
// carved out of free space to a per-table record decoder.
//
// File format facts the reader relies on (all integers big-endian):
//
//   File header (page 1, bytes 0..99)
//   | offset | size | meaning                                          |
//   |--------|------|--------------------------------------------------|
//   | 0      | 16   | "SQLite format 3\0" (compared ignoring case)     |
//   | 16     | 2    | page size (1 = 65536, not supported)             |
//   | 20     | 1    | reserved bytes at the end of each page           |
//   | 32     | 4    | first free-list trunk page number (0 = none)     |
//
//   Free-list trunk page
//   | offset | size | meaning                                          |
//   |--------|------|--------------------------------------------------|
//   | 0      | 4    | next trunk page number (0 = last)                |
//   | 4      | 4    | leaf count L (at most usable size / 4 - 2)       |
//   | 8      | 4*L  | leaf page numbers                                |
//
//   Overflow page: 4-byte next page number (0 = last), then usable size - 4
//   bytes of payload. A leaf table cell keeps its whole payload when it is at
//   most usable size - 35 bytes; otherwise the local part is K = M + (P - M) %
//   (usable size - 4) when K <= usable size - 35, else M, where M = (usable
//   size - 12) * 32 / 255 - 23, followed by the first overflow page number.
//
//   B-tree page header (byte 0 of a page, byte 100 of page 1)
//   | offset | size | meaning                                          |
//   |--------|------|--------------------------------------------------|
//   | 0      | 1    | page type: 5 interior table, 13 leaf table       |
//   | 1      | 2    | first freeblock offset (0 = none)                |
//   | 3      | 2    | number of cells                                  |
//   | 5      | 2    | start of the cell content area                   |
//   | 7      | 1    | fragmented free bytes                            |
//   | 8      | 4    | right-most child page number (interior only)     |
//   Cell pointer array: after the header (8 bytes leaf, 12 bytes interior).
//
//   Leaf table cell: payload length (varint), rowid (varint), record.
//   Interior table cell: 4-byte left child page number, key (varint).
//   Record: header length (varint, counting itself), serial types (varints),
//   then the column bodies in column order.
//
// Page indexes are page numbers minus 1. Offsets into the file are 64-bit.
//
// Write-ahead log: when `<file>-wal` lies beside the file (or the log is named
// at Open) and holds committed frames (sqlite/WalFile.h), every page is read
// from its last committed frame when it has one, else from the file, and the
// page count is the database size of the last commit: the live rows are the
// ones SQLite would show. A log that is damaged, whose frames carry other
// salts than its header, or made for another page size is ignored and the
// file read alone (WalState() says why). The versions of pages the live
// database no longer shows (the file's copy of a page the log replaced,
// superseded and uncommitted frames) are kept as page history; ScanTable
// hands their records to the decoder as deleted when the live table does not
// hold the same record.
//
// Rollback journal: when `<file>-journal` lies beside the file (or is named
// at Open), its page images (sqlite/RollbackJournal.h) are the pages as they
// were before a transaction the main file already shows, or remains of
// earlier transactions. They never change what is live; each image that
// differs from its page's live version and from the other versions joins
// the page history, and its records come out as deleted with origin
// kJournal and the journal record they came from.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/Status.h"
#include "sqlite/IdentitySet.h"
#include "sqlite/ReadOnlyFile.h"
#include "sqlite/RollbackJournal.h"
#include "sqlite/TableProfile.h"
#include "sqlite/WalFile.h"

namespace corvyn::sqlite {

using PageIndex = uint32_t;
using ByteSpan = std::span<const uint8_t>;

inline constexpr uint8_t kInteriorTablePage = 5;
inline constexpr uint8_t kLeafTablePage = 13;
inline constexpr std::size_t kFileHeaderSize = 100;
// Deepest b-tree the walks follow; SQLite's own limit is 20 levels.
inline constexpr int kMaxTreeDepth = 40;

// ---------------------------------------------------------------------------
// Varints and serial types (pure functions over a bounded byte span).

struct Varint {
  uint64_t value = 0;
  std::size_t length = 0;  // bytes consumed
  bool complete = false;   // a terminating byte was found within the limit
};

// Big-endian base-128 number; at most data.size() bytes (and at most 9) are
// examined, the first eight contributing 7 bits each and a ninth all 8 (as the
// file format has it, so negative rowids read right). When no byte within the
// limit ends the number, all examined bytes count as used and `complete` is
// false. Empty input gives {0, 0}.
Varint ReadVarint(ByteSpan data);

// Total byte length of `count` consecutive varints at the start of data; 0
// when they do not all end within data.
std::size_t VarintRunLength(ByteSpan data, std::size_t count);

// Body size in bytes of a column of the given serial type (0 for NULL, the
// constants and the reserved types 10 and 11).
inline uint64_t SerialTypeBodySize(uint64_t serialType) {
  constexpr uint8_t kFixedSizes[12] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};
  return serialType < 12 ? kFixedSizes[serialType] : (serialType - 12) / 2;
}

// ---------------------------------------------------------------------------
// Record decoder contract.

enum class RecordMode : int {
  kFullCell = 0,  // bytes start at the cell: payload length, rowid, header length, serial types
  kCarved = 1,    // bytes start at the first serial type of a carved record
};

// Where a record handed to the decoder was found.
enum class RecordOrigin : uint8_t {
  kLive,            // a cell of the table's live b-tree
  kFreeblock,       // carved from a freeblock of a live leaf page
  kTail,            // carved from the bytes after the highest live cell
  kGap,             // carved from the unallocated space below the cells
  kStalePointer,    // reached through a pointer-array entry past the live ones
  kFreePage,        // a cell or a carved record of a page on the free list
  kOldPageVersion,  // a cell or a carved record of a page version the live database no longer shows
  kJournal,         // a cell or a carved record of a page image in the rollback journal
};
// Lower-case words for the origin: "live", "freeblock", "tail", "gap",
// "stale pointer", "free page", "old page version", "rollback journal".
std::string_view RecordOriginName(RecordOrigin origin);

struct RecordLocation {
  ByteSpan bytes;           // from the record's first byte to the end of the page buffer
  uint32_t cellOffset = 0;  // offset of bytes[0] within the page
  uint32_t cellEnd = 0;     // end offset of the cell within the page; 0 for carved records
  RecordMode mode = RecordMode::kFullCell;
  int32_t deleted = 0;  // 0 live, 1 from a free page or carved
  // Carved records only: the record's header length was found intact and
  // matched all expected serial types, so no column was lost and the
  // first-column-lost rule (first byte not 0) does not apply.
  bool headerIntact = false;
  // Where the record lay: set by ScanTable for every record it hands over.
  RecordOrigin origin = RecordOrigin::kLive;
  PageIndex page = 0;
  // 1-based number of the log frame the page's bytes came from (as counted
  // from the start of the `-wal` file); 0 when they came from the main file.
  uint32_t walFrame = 0;
  // The main file's copy of a page that the log replaced (walFrame is 0).
  bool replacedByLog = false;
  // 1-based record of the rollback journal the page image came from
  // (RollbackJournal's JournalPage::record); 0 when it did not.
  uint32_t journalRecord = 0;
};

// A carved record found on a leaf page: the offset of its first serial type.
struct Candidate {
  uint16_t offset = 0;
  bool headerIntact = false;                       // see RecordLocation::headerIntact
  RecordOrigin origin = RecordOrigin::kFreeblock;  // the scanner that found it
  // Where the whole cell (payload length, rowid, header) begins when it was
  // found intact, so that its rowid is known; 0 when only the record was.
  uint16_t cellStart = 0;
  // Another reading of the same bytes (a short cell whose first serial type
  // was lost, at this offset) for when the decoder refuses this one; 0: none.
  uint16_t alternative = 0;
  bool operator==(const Candidate&) const = default;
};

class SqliteDbReader;

// Bytes of a payload of the given length kept on a leaf table page of the
// given usable size (the rest lies on overflow pages); the whole payload
// below the smallest usable size the reader accepts.
uint64_t LocalPayloadSize(uint64_t payloadLength, uint32_t usableSize);

// Returns kOk or kInvalidData (or a read error while gathering overflow
// pages). An error drops that record only.
using RecordDecoder = std::function<Status(SqliteDbReader& reader, const RecordLocation& record)>;

// ---------------------------------------------------------------------------

class SqliteDbReader {
 public:
  SqliteDbReader();
  ~SqliteDbReader();
  SqliteDbReader(const SqliteDbReader&) = delete;
  SqliteDbReader& operator=(const SqliteDbReader&) = delete;

  // Opens the file read-only (closing any file open before), checks the
  // header, takes the page size, reads `<path>-wal` when present (see the top
  // of this file) and collects the free-list leaf pages. Returns kOk, a
  // system error (with the path) when the file cannot be opened, kInvalidData
  // when it is not an SQLite 3 database (or its page size is unusable). A log
  // that cannot be used never fails the open: the file is read alone.
  Status Open(const std::filesystem::path& path);
  // The same with the log at walPath (an empty path: no log), for a log kept
  // under another name, as a backup keeps `-wal` files under their own file
  // IDs.
  Status Open(const std::filesystem::path& path, const std::filesystem::path& walPath);
  // The same with the rollback journal at journalPath too (an empty path:
  // no journal); the two-path Open looks for `<path>-journal`.
  Status Open(const std::filesystem::path& path, const std::filesystem::path& walPath,
              const std::filesystem::path& journalPath);
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }

  // Positional read of out.size() bytes of the database as the log leaves it
  // (offset = page index * page size + offset in the page). kInvalidData when
  // no file is open, kShortRead when the database ends before all bytes
  // arrived, a system error on a failed read.
  Status ReadAt(uint64_t offset, std::span<uint8_t> out, std::size_t* bytesRead = nullptr) const;

  // Reads one whole page into `page` (resized to the page size), from its
  // last committed log frame when it has one.
  Status ReadPage(PageIndex index, std::vector<uint8_t>& page) const;

  uint32_t PageSize() const { return pageSize_; }
  // Page size less the reserved bytes at the end of each page.
  uint32_t UsableSize() const { return usableSize_; }
  // Size of the main file alone.
  uint64_t FileSize() const { return fileSize_; }
  // Pages of the database: the database size of the log's last commit when
  // the log is applied, else the main file's whole pages.
  uint64_t PageCount() const { return pageCount_; }

  // What became of `<path>-wal` (kAbsent when there was none).
  WalVerdict WalState() const { return walVerdict_; }
  const WalFile& Wal() const { return wal_; }
  // What became of the rollback journal (kAbsent when there was none).
  JournalVerdict JournalState() const { return journal_.Verdict(); }
  const RollbackJournal& Journal() const { return journal_; }
  // Distinct page versions the live database no longer shows (the file's
  // copies of pages the log replaced, superseded and uncommitted frames, the
  // rollback journal's images), each differing from its page's live version
  // and from the others.
  // Found at the first call or the first scan that carves, not at Open.
  std::size_t HistoricalPageVersions() const;
  const std::vector<PageIndex>& FreePages() const { return freePages_; }
  // The trunk pages of the free list, in chain order.
  const std::vector<PageIndex>& FreeTrunkPages() const { return freeTrunks_; }

  // Cell offsets of the b-tree page whose header starts at headerOffset (0,
  // or 100 on page 1), in pointer-array order; with exactly one cell, the
  // cell content area start. Offsets outside the page are dropped.
  std::vector<uint16_t> ReadCellPointers(ByteSpan page, std::size_t headerOffset) const;

  // Interior table page: child page index -> key (right-most child -> -1).
  std::map<PageIndex, int64_t> CollectChildPages(ByteSpan page, std::size_t headerOffset) const;

  // Root page indexes of every schema row whose type, name or table name is
  // exactly tableName (so indexes of the table are included).
  Status FindTableRoots(std::string_view tableName, std::map<PageIndex, int64_t>& roots) const;

  // The `sql` text of the schema row of type "table" named exactly
  // tableName. kOk with an empty text when no such row (or no text) was
  // found; a failed read of the schema pages gives its error.
  Status FindTableSql(std::string_view tableName, std::string& sql) const;

  using LeafVisitor = std::function<Status(PageIndex, const std::vector<uint8_t>&)>;
  // Calls onLeaf for every leaf table page at or below `page` (page `index`,
  // already read), children in ascending page-index order, each page once
  // (pages already marked in `visited` are skipped; `visited` is sized to the
  // page count), at most kMaxTreeDepth levels down. Stops at the first failed
  // read or error of onLeaf and returns it.
  Status ForEachLeafPage(PageIndex index, const std::vector<uint8_t>& page, std::vector<bool>& visited,
                         const LeafVisitor& onLeaf) const;

  // Leaf page index -> cell offsets, for the b-tree below `page`.
  Status CollectLeafCells(ByteSpan page, PageIndex index,
                          std::map<PageIndex, std::vector<uint16_t>>& leaves) const;

  // Number of columns of the record in the cell [cellOffset, cellEnd) of the
  // page, following overflow pages when the payload does not fit.
  Status CountRecordColumns(ByteSpan page, uint32_t cellOffset, uint32_t cellEnd, uint32_t& columns) const;

  // LocalPayloadSize for this file's usable size.
  uint64_t LocalPayloadSize(uint64_t payloadLength) const;

  // When the full cell's payload does not fit on its page (LocalPayloadSize),
  // fills `cell` with the whole cell (payload length, rowid, complete payload)
  // gathered from the overflow chain and returns true through `overflowed`;
  // otherwise leaves `cell` empty. A chain that loops, ends early or leaves
  // the file gives 87; a failed page read gives its error.
  Status GatherOverflowCell(const RecordLocation& record, std::vector<uint8_t>& cell, bool& overflowed) const;

  // Walks every root of profile.tableName (live cells with deleted 0, carved
  // records with deleted 1) unless !profile.scanTableTrees, then, when
  // profile.scanFreePages, every free page whose first record has
  // profile.columnCount columns (its cells with deleted 1, then its carved
  // records). Leaf pages that are live pages of the table are never taken
  // again from the free list. Then the page history (see the top of this
  // file): an old version of a leaf table page whose first record has
  // profile.columnCount columns (with profile.scanFreePages, as free pages)
  // or, for a page now in the table's tree, as many as the live page's
  // first record, has its cells handed over with deleted 1, then its carved
  // records, oldest version first; each record once: not a cell whose rowid
  // and payload equal a live cell's or a cell handed over before, nor a
  // record the carving of the live page or an older version's cell already
  // gave from the same place and bytes, nor one carved from an older
  // version. Carving follows the profile's rules (see
  // sqlite/Carving.h); the decoder may update profile.liveColumnCount.
  // Every record handed over carries its origin, page and log frame (see
  // RecordLocation): free-page records say kFreePage and page-history
  // records kOldPageVersion (kJournal for a rollback journal's images)
  // whichever scanner found them.
  // Returns kOk or the first page-read error of the table's own pages (the
  // remaining roots are skipped, the free pages still scanned); a free page
  // that cannot be read is skipped; decoder errors drop their record only.
  Status ScanTable(TableProfile& profile, const RecordDecoder& decoder);

  // When false, ScanTable hands over live cells and free-page cells only and
  // runs no carving and no page history (true at construction).
  bool carveDeletedRecords = true;

 private:
  Status WalkTree(PageIndex index, const std::vector<uint8_t>& page, int depth, std::vector<bool>& visited,
                  const LeafVisitor& onLeaf) const;
  Status ScanTableTree(PageIndex root, const TableProfile& profile, const RecordDecoder& decoder,
                       std::vector<bool>& tablePages);
  // Remembers the live cells of the tree at `root` without handing them over.
  void LearnLiveCells(PageIndex root, std::vector<bool>& tablePages);
  // The table's records anywhere in page[from, end) of a free page but in
  // its `cells` (another table's), handed over as free-page records.
  void ScanWholeFreePage(PageIndex index, const std::vector<uint8_t>& page, std::size_t from,
                         const std::vector<uint16_t>& cells, const TableProfile& profile,
                         const RecordDecoder& decoder);
  Status ScanFreePage(PageIndex index, const TableProfile& profile, const RecordDecoder& decoder,
                      std::vector<bool>& seenPages);
  // Whether a carved record (bytes from its first serial type) holds, from
  // column 1 on, the values of a live row or of a deleted whole cell already
  // handed over: a copy the tree left behind when it moved the row, not
  // another deleted row.
  bool HoldsKnownValues(ByteSpan record, bool headerIntact) const;
  void DecodeCandidates(const std::map<PageIndex, std::vector<Candidate>>& candidates,
                        const RecordDecoder& decoder, const std::vector<uint8_t>* pageInHand,
                        PageIndex pageInHandIndex, bool freePages);
  // Learns the live cells of the leaves walked so far (the page in hand
  // is taken as it is) and of every leaf from now on.
  void LearnLiveCellsNow(PageIndex pageInHand, const std::vector<uint8_t>& bytesInHand);
  void DecodeLeafCells(const std::vector<uint8_t>& page, PageIndex index, const std::vector<uint16_t>& cells,
                       const RecordDecoder& decoder, int32_t deleted);
  // 1-based log frame the live version of the page is read from; 0 when it
  // comes from the main file.
  uint32_t LiveFrameNumber(PageIndex index) const;
  // 1-based position in the log file of frame `frameIndex` of wal_.Frames().
  uint32_t FrameNumber(std::size_t frameIndex) const;

  // One page version of the history.
  struct PageVersion {
    PageIndex page = 0;
    int64_t walFrame = -1;  // index into wal_.Frames(); -1: the main file's copy
    uint64_t contentHash = 0;
    int64_t journalPage = -1;  // index into journal_.Pages() when the version is a journal image
    // Learnt at the first scan that looks at the version.
    bool inspected = false;
    uint8_t pageType = 0;
    uint32_t firstRecordColumns = 0;  // 0: no cell or an unreadable first record
  };
  void OpenWal(const std::filesystem::path& walPath);
  // Reads the journal's page images (its verdict stays when it cannot be used).
  void OpenJournal(const std::filesystem::path& journalPath);
  void DropWal(WalVerdict verdict);
  // Lists the page history once (nothing when the file cannot give the old
  // copies: the live database still reads).
  void BuildHistory() const;
  // The versions the log leaves, then the journal's images (see the top of
  // this file).
  void BuildLogHistory() const;
  void BuildJournalHistory() const;
  Status ReadMainPage(PageIndex index, std::span<uint8_t> page) const;
  Status ReadVersion(const PageVersion& version, std::vector<uint8_t>& page) const;
  // Marks a record of an old page version as such, with its frame.
  void PlaceInVersion(const PageVersion& version, RecordLocation& location) const;
  // Rowid and payload of the full cell at `offset` in one number; false when
  // the cell cannot be read. *cellEnd gets the end of its bytes on the page.
  // With `tail`, also the identity of its values from column 1 on, when its
  // record is whole on the page, sound, and of carvedColumns_ columns (the
  // payload's bytes are hashed once for both).
  bool CellIdentity(ByteSpan page, uint32_t offset, uint64_t& identity, uint32_t& cellEnd,
                    std::optional<uint64_t>* tail = nullptr) const;
  // Columns of the first record of a leaf table page (0: none readable).
  uint32_t FirstRecordColumns(ByteSpan page, const std::vector<uint16_t>& cells) const;
  // The history part of ScanTable; treePages marks the pages of the table's
  // live trees.
  void ScanHistory(const TableProfile& profile, const RecordDecoder& decoder,
                   const std::vector<bool>& treePages);

  ReadOnlyFile file_;
  uint32_t pageSize_ = 0;
  uint32_t usableSize_ = 0;
  uint64_t fileSize_ = 0;
  uint64_t pageCount_ = 0;
  std::vector<PageIndex> freePages_;
  std::vector<PageIndex> freeTrunks_;  // trunk pages of the free list
  WalFile wal_;
  RollbackJournal journal_;
  WalVerdict walVerdict_ = WalVerdict::kAbsent;
  bool walApplied_ = false;
  mutable bool historyBuilt_ = false;
  mutable std::vector<PageVersion> history_;
  // During a scan with page history: identities of the live cells and of the
  // deleted cells already handed over.
  bool trackCells_ = false;
  // Whether the live cells' identities are taken as their leaves are walked;
  // until then the leaves walked are listed, and learnt when it turns.
  bool learnLiveCells_ = false;
  std::vector<PageIndex> unlearntLeaves_;
  IdentityList liveCells_;
  IdentitySet reportedCells_;
  // The values of the live records from column 1 on (their serial types and
  // bodies), so that a carved copy of one, whose rowid and column 0's serial
  // type were overwritten, is not passed off as a deleted row. Kept for
  // tables of three columns or more (carvedColumns_).
  IdentityList liveTails_;
  // The same of the deleted whole cells handed over.
  IdentitySet reportedTails_;
  uint32_t carvedColumns_ = 0;
  uint32_t rowidColumn_ = 0;
  // Carved records the decoder took during the scan, by page and the offset
  // of their first serial type.
  std::set<std::pair<PageIndex, uint32_t>> carvedRecords_;
};

}  // namespace corvyn::sqlite
