// Carving of deleted records out of the free space of table leaf pages.
//
// A deleted row of a known table stays in its page until overwritten. Four
// scanners look for it on each leaf page (header at byte 0), each producing
// candidate offsets: the offset of the record's first serial type (the byte
// after its header-length varint, or where that byte would be when the header
// length has been overwritten).
//
//   scanner        | where it looks
//   ---------------|---------------------------------------------------------
//   freeblock      | each freeblock of the chain (bytes 1-2 of the header);
//                  | a freeblock is [next offset:2][size:2][old cell bytes...]
//                  | whose first 4 bytes overwrote the payload length, rowid
//                  | and header length (and, for short cells, the first
//                  | serial type: the first column is then lost); cells freed
//                  | one after the other merge into one freeblock, so the
//                  | rest of it is walked too (ScanArea)
//   tail           | the bytes after the highest live cell
//   gap            | between the end of the cell pointer array and the lowest
//                  | live cell, walked downwards
//   stale pointer  | pointer-array entries left behind past the live ones
//   (whole area)   | a page without cells: its whole content area, as for
//                  | free pages whose first cell is not the table's
//
// A candidate is recognised by the table's expected column count and by the
// consistency of its record header with the bytes around it; every read stays
// inside the page buffer and every chain is cut when it loops. What the
// scanners expect of the table comes from the scan's TableProfile
// (sqlite/TableProfile.h) through a CarvingContext.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/Status.h"
#include "sqlite/SqliteDbReader.h"
#include "sqlite/TableProfile.h"

namespace corvyn::sqlite {

using CandidateList = std::vector<Candidate>;
using CandidateMap = std::map<PageIndex, CandidateList>;

// What the scanners need to know about the table being carved.
struct CarvingContext {
  uint32_t columnCount = 0;  // expected columns C
  // Serial types the tail and gap scanners test instead of C; 0 makes them
  // find nothing. Unset: C.
  std::optional<uint32_t> headerTestColumns;
  uint32_t usableSize = 0;         // for the local size of an overflowing cell
  uint32_t nonZeroBodyPrefix = 0;  // freeblock bodies must begin with this many non-zero bytes
  // Column that holds the rowid (its INTEGER PRIMARY KEY, stored as NULL).
  // When it is column 1, a record whose first serial type was overwritten
  // begins with that NULL; when column 0, a record that begins with a
  // non-zero serial type has lost its first one.
  uint32_t rowidColumn = 0;
};

// True when a carved record whose serial types begin with `firstByte` lost
// its first column (see CarvingContext::rowidColumn); never when the header
// was found intact.
bool FirstColumnLost(uint8_t firstByte, bool headerIntact, uint32_t rowidColumn = 0);
// The context of one scan's profile as it stands now (the
// profile's memory may change as the scan goes on).
CarvingContext MakeCarvingContext(const SqliteDbReader& reader, const TableProfile& profile);

// Length from the first serial type at bytes[0] to the end of the record's
// body. With C columns the serial types are the run of C varints (C - 1 when
// FirstColumnLost); with C = 0 they fill fallbackHeaderLength bytes. Stops
// adding once the total exceeds available. Returns 0 when the serial types
// do not end within bytes.
uint64_t RecordSpan(uint32_t columnCount, ByteSpan bytes, uint64_t fallbackHeaderLength, uint64_t available,
                    bool headerIntact = false, uint32_t rowidColumn = 0);

// Records of the table in page[from, to), walked from `from` on: whole
// cells (with their rowid), and records whose cell's first 4 bytes a
// freeblock header overwrote; each found one is skipped whole. For the
// rest of a freeblock and for pages whose header no longer tells where
// their cells were.
void ScanArea(const CarvingContext& context, ByteSpan page, std::size_t from, std::size_t to,
              RecordOrigin origin, CandidateList& found);

// ScanArea over page[from, end) but for the cells at `cells` (a page's
// cells that are another table's).
void ScanAroundCells(const CarvingContext& context, ByteSpan page, std::size_t from,
                     const std::vector<uint16_t>& cells, RecordOrigin origin, CandidateList& found);

// The four scanners, each appending to `found` (page = one whole leaf page).
void ScanFreeblocks(const CarvingContext& context, ByteSpan page, CandidateList& found);
void ScanTail(const CarvingContext& context, ByteSpan page, const std::vector<uint16_t>& cells,
              CandidateList& found);
void ScanGap(const CarvingContext& context, ByteSpan page, const std::vector<uint16_t>& cells,
             CandidateList& found);
void ScanStalePointers(const CarvingContext& context, ByteSpan page, CandidateList& found);

// All four scanners on one leaf table page, in the order above; nothing for
// other page types or when the expected column count is 0.
CandidateList CollectPageCandidates(const SqliteDbReader& reader, const CarvingContext& context,
                                    ByteSpan page);

// The records in the unallocated gap of an interior table page: a root
// that outgrew one page became interior and kept the bytes of the cells it
// held as a leaf (those still live are copies the decoding drops). Nothing
// for other page types.
CandidateList CollectInteriorGapCandidates(const SqliteDbReader& reader, const CarvingContext& context,
                                           ByteSpan page);

// Candidates of every leaf page at or below `page` (page `index`, already
// read). Stops at the first failed page read and returns it.
Status CollectDeletedCandidates(const SqliteDbReader& reader, const CarvingContext& context,
                                const std::vector<uint8_t>& page, PageIndex index, CandidateMap& candidates);

}  // namespace corvyn::sqlite
