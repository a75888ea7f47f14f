#include "sqlite/Carving.h"

#include <algorithm>
#include <cctype>

#include "sqlite/ByteOrder.h"

namespace corvyn::sqlite {
namespace {

std::size_t Remaining(ByteSpan page, std::size_t position) {
  return position < page.size() ? page.size() - position : 0;
}

ByteSpan From(ByteSpan page, std::size_t position) {
  return position < page.size() ? page.subspan(position) : ByteSpan();
}

}  // namespace

CarvingContext MakeCarvingContext(const SqliteDbReader& reader, const TableProfile& profile) {
  CarvingContext context;
  context.columnCount = profile.columnCount;
  if (profile.tailAndGapUseLiveColumnCount) context.headerTestColumns = profile.liveColumnCount;
  context.usableSize = reader.UsableSize();
  context.nonZeroBodyPrefix = profile.nonZeroBodyPrefix;
  context.rowidColumn = profile.rowidColumn;
  return context;
}

bool FirstColumnLost(uint8_t firstByte, bool headerIntact, uint32_t rowidColumn) {
  if (headerIntact) return false;
  return rowidColumn == 1 ? firstByte == 0 : firstByte != 0;
}

uint64_t RecordSpan(uint32_t columnCount, ByteSpan bytes, uint64_t fallbackHeaderLength, uint64_t available,
                    bool headerIntact, uint32_t rowidColumn) {
  if (bytes.empty()) return 0;
  uint64_t headerLength = fallbackHeaderLength;
  if (columnCount != 0) {
    headerLength = VarintRunLength(
        bytes, FirstColumnLost(bytes[0], headerIntact, rowidColumn) ? columnCount - 1 : columnCount);
  }
  uint64_t total = headerLength;
  std::size_t walked = 0;
  while (walked < headerLength && total <= available) {
    if (walked >= bytes.size()) break;
    const Varint serialType = ReadVarint(bytes.subspan(walked));
    if (!serialType.complete) break;
    walked += serialType.length;
    total += SerialTypeBodySize(serialType.value);
  }
  return total;
}

namespace {

// The record body after the serial types at `start` begins with
// `prefixBytes` non-zero bytes.
bool BodyBeginsNonZero(ByteSpan page, std::size_t start, uint32_t columns, bool headerIntact,
                       uint32_t rowidColumn, std::size_t prefixBytes) {
  const std::size_t typeBytes = VarintRunLength(
      page.subspan(start), FirstColumnLost(page[start], headerIntact, rowidColumn) ? columns - 1 : columns);
  const std::size_t bodyStart = start + typeBytes;
  return typeBytes != 0 && Remaining(page, bodyStart) >= prefixBytes &&
         std::none_of(page.begin() + static_cast<std::ptrdiff_t>(bodyStart),
                      page.begin() + static_cast<std::ptrdiff_t>(bodyStart + prefixBytes),
                      [](uint8_t byte) { return byte == 0; });
}

// A record whose header-length varint is at `at`, inside a freeblock ending
// at `limit`: its serial types must fill the header exactly.
bool IntactRecordAt(ByteSpan page, std::size_t at, std::size_t limit, uint32_t columns, Candidate& found) {
  if (at >= limit) return false;
  const Varint header = ReadVarint(page.subspan(at, limit - at));
  const std::size_t start = at + header.length;
  if (!header.complete || header.value <= columns || start >= limit) return false;
  const std::size_t run = VarintRunLength(page.subspan(start, limit - start), columns);
  if (run == 0 || run + 1 != header.value) return false;
  const uint64_t span = RecordSpan(columns, page.subspan(start), 0, page.size() - start, true);
  if (span == 0 || span > limit - start) return false;
  found = Candidate{static_cast<uint16_t>(start), true};
  return true;
}

}  // namespace

namespace {

// A whole cell at `at` that ends by `limit`: payload length, a positive
// rowid, then a record of C serial types whose header length counts them
// exactly and whose header and bodies fill the payload exactly. A payload
// that would overflow the page is not taken. On success `found` holds the
// record (headerIntact, with the cell's start) and `end` the cell's end.
bool WholeCellAt(const CarvingContext& context, ByteSpan page, std::size_t at, std::size_t limit,
                 Candidate& found, std::size_t& end) {
  const uint32_t columns = context.columnCount;
  if (at == 0 || at >= limit || limit > page.size()) return false;
  const ByteSpan area = page.subspan(at, limit - at);
  const Varint payload = ReadVarint(area);
  if (!payload.complete || payload.value < 2 || payload.value > area.size()) return false;
  if (context.usableSize != 0 && LocalPayloadSize(payload.value, context.usableSize) < payload.value)
    return false;
  const Varint rowid = ReadVarint(area.subspan(payload.length));
  if (!rowid.complete || rowid.value == 0 || rowid.value > static_cast<uint64_t>(INT64_MAX)) return false;
  const std::size_t headerAt = payload.length + rowid.length;
  if (headerAt + payload.value > area.size()) return false;
  const ByteSpan record = area.subspan(headerAt, static_cast<std::size_t>(payload.value));
  const Varint header = ReadVarint(record);
  if (!header.complete || header.value <= columns || header.value >= record.size()) return false;
  const ByteSpan types = record.subspan(header.length);
  const std::size_t run = VarintRunLength(types, columns);
  if (run == 0 || run + header.length != header.value) return false;
  const uint64_t span = RecordSpan(columns, types, 0, types.size(), true);
  if (span != types.size()) return false;
  found = Candidate{static_cast<uint16_t>(at + headerAt + header.length), true, RecordOrigin::kFreeblock,
                    static_cast<uint16_t>(at)};
  end = at + headerAt + static_cast<std::size_t>(payload.value);
  return true;
}

// The record of a deleted cell that became the freeblock at `freeblock` of
// `size` bytes: its first 4 bytes overwrote the payload length, rowid and
// header length (and, for short cells, the first serial type: the first
// column is then lost). False when no record of the table fits there. A
// surviving header length (at F + 4, or at F + 5 behind a long rowid) is
// tried before a lost first serial type unless shortCellFirst.
bool RecordInFreeblock(const CarvingContext& context, ByteSpan page, std::size_t freeblock, std::size_t size,
                       Candidate& candidate, bool shortCellFirst = false) {
  const std::size_t pageSize = page.size();
  const uint32_t columns = context.columnCount;
  if (freeblock + 4 >= pageSize) return false;
  const std::size_t blockEnd = std::min(freeblock + size, pageSize);
  const std::size_t first = freeblock + 4;
  const Varint leading = ReadVarint(page.subspan(first));
  const uint32_t rowidColumn = context.rowidColumn;
  // A short cell: payload length, rowid and header length took three bytes,
  // so the first serial type was overwritten too and F + 4 holds the second
  // one. The remaining serial types and their bodies must fit into the
  // freeblock.
  const auto shortCell = [&] {
    if (columns <= 1 || size >= pageSize) return false;
    const uint64_t span = RecordSpan(columns, page.subspan(first), 0, pageSize - first, false, rowidColumn);
    candidate = Candidate{static_cast<uint16_t>(first), false};
    return VarintRunLength(page.subspan(first), columns - 1) != 0 && span != 0 && 4 + span <= size;
  };
  bool plausible = false;
  if (FirstColumnLost(page[first], false, rowidColumn) && rowidColumn == 1) {
    // Column 0 (a number of its own) lost its serial type; F + 4 holds the
    // rowid column's NULL.
    plausible = shortCell();
  } else if (leading.value < columns) {
    // The header length was overwritten; the serial types start at F + 4.
    const std::size_t run = VarintRunLength(page.subspan(first), columns);
    plausible = size < pageSize && run != 0 && (run == columns || run == columns + 1);
    if (plausible) {
      const uint64_t span = RecordSpan(columns, page.subspan(first), 0, pageSize - first, false, rowidColumn);
      plausible = span != 0 && span <= size;
    }
    candidate = Candidate{static_cast<uint16_t>(first), false};
  } else {
    // The header length survived at F + 4, or at F + 5 behind a rowid of
    // three bytes or more.
    const auto behindLongRowid = [&] {
      return size > 5 && IntactRecordAt(page, first + 1, blockEnd, columns, candidate);
    };
    // Or a two-byte rowid took the header length's place: all the serial
    // types survive at F + 4 and the record fills the freeblock exactly (a
    // serial type read as the header length cannot do that).
    const auto typesFillBlock = [&] {
      if (size >= pageSize || VarintRunLength(page.subspan(first), columns) == 0) return false;
      const uint64_t span = RecordSpan(columns, page.subspan(first), 0, pageSize - first, true);
      if (span == 0 || 4 + span != size) return false;
      candidate = Candidate{static_cast<uint16_t>(first), true};
      return true;
    };
    plausible = shortCellFirst ? shortCell() || IntactRecordAt(page, first, pageSize, columns, candidate) ||
                                     behindLongRowid()
                               : IntactRecordAt(page, first, pageSize, columns, candidate) ||
                                     behindLongRowid() || typesFillBlock() || shortCell();
  }
  if (plausible && context.nonZeroBodyPrefix != 0) {
    plausible = BodyBeginsNonZero(page, candidate.offset, columns, candidate.headerIntact, rowidColumn,
                                  context.nonZeroBodyPrefix);
  }
  return plausible;
}

// End of a carved record: its serial types and bodies from its offset (a
// lost first column's body, when it had one, is not counted).
std::size_t CarvedRecordEnd(const CarvingContext& context, ByteSpan page, const Candidate& candidate) {
  const uint64_t span =
      RecordSpan(context.columnCount, page.subspan(candidate.offset), 0, page.size() - candidate.offset,
                 candidate.headerIntact, context.rowidColumn);
  const uint64_t end = candidate.offset + span;
  return span == 0 || end > page.size() ? page.size() : static_cast<std::size_t>(end);
}

// Whether the record found in the freeblock at `position` of `size` bytes
// ends where such a freeblock can: the freeblock held this cell alone, or
// this cell and the ones after it to the end of the area, or this cell and
// the next one's freeblock (whose header then follows with the rest of the
// size) or a whole cell freed later. A size that fits none of them is a
// chance pair of bytes.
bool FreeblockRecordEnds(const CarvingContext& context, ByteSpan page, std::size_t position, std::size_t size,
                         std::size_t to, const Candidate& candidate) {
  const std::size_t recordEnd = CarvedRecordEnd(context, page, candidate);
  // A lost first column's body, when it held a number, adds its size.
  const bool firstLost = FirstColumnLost(page[candidate.offset], candidate.headerIntact, context.rowidColumn);
  static constexpr uint8_t kLostSizes[] = {0, 1, 2, 3, 4, 6, 8};
  bool followed = false;
  for (const uint8_t lost : kLostSizes) {
    if (lost != 0 && !firstLost) break;
    const std::size_t end = recordEnd + lost;
    Candidate after;
    std::size_t afterEnd = 0;
    followed = end + 4 <= to && end < position + size &&
               (ReadBigEndian16(&page[end + 2]) == position + size - end ||
                (WholeCellAt(context, page, end, to, after, afterEnd) && afterEnd <= position + size));
    if (followed) break;
  }
  // A freeblock that reached past the area's end, where a cell was written
  // later over the last few bytes of the record (its last column or two).
  constexpr std::size_t kOverwrittenTail = 8;
  if (recordEnd > to) return position + size >= to && recordEnd <= to + kOverwrittenTail;
  return recordEnd == position + size || position + size == to || followed;
}

}  // namespace

void ScanArea(const CarvingContext& context, ByteSpan page, std::size_t from, std::size_t to,
              RecordOrigin origin, CandidateList& found) {
  const uint32_t columns = context.columnCount;
  to = std::min(to, page.size());
  if (columns == 0 || page.size() < 8) return;
  std::size_t position = std::max<std::size_t>(from, 8);
  while (position + 4 < to) {
    Candidate candidate;
    std::size_t end = 0;
    if (WholeCellAt(context, page, position, to, candidate, end)) {
      candidate.origin = origin;
      found.push_back(candidate);
      position = end;
      continue;
    }
    // A cell freed on its own before its neighbours took it into their
    // freeblock: its first 4 bytes still hold that freeblock's header,
    // whose size covers at least the record. A record of one or two columns
    // (a join table's two numbers) is too short to tell from chance bytes:
    // only whole cells are taken for it here.
    if (columns < 3) {
      ++position;
      continue;
    }
    const std::size_t next = ReadBigEndian16(&page[position]);
    const std::size_t size = ReadBigEndian16(&page[position + 2]);
    const bool header = (next == 0 || (next > position && next < page.size())) && size > 4 + columns &&
                        position + 4 + columns < to && size <= page.size() - position;
    const std::size_t limited = header ? std::min(size, to - position) : 0;
    bool taken = header && RecordInFreeblock(context, page, position, limited, candidate) &&
                 FreeblockRecordEnds(context, page, position, size, to, candidate);
    // A header length that leaves the record ending nowhere may be a
    // serial type of a short cell.
    if (header && !taken && candidate.headerIntact) {
      taken = RecordInFreeblock(context, page, position, limited, candidate, true) &&
              FreeblockRecordEnds(context, page, position, size, to, candidate);
    }
    if (taken) {
      // A serial type read as a surviving header length can end well by
      // chance: the short cell's reading, when it ends well too, is kept for
      // the decoder to try when it refuses this one.
      // The walk goes on from the nearer of the two ends.
      std::size_t recordEnd = CarvedRecordEnd(context, page, candidate);
      Candidate other;
      if (candidate.headerIntact && RecordInFreeblock(context, page, position, limited, other, true) &&
          !other.headerIntact && FreeblockRecordEnds(context, page, position, size, to, other)) {
        candidate.alternative = other.offset;
        recordEnd = std::min(recordEnd, CarvedRecordEnd(context, page, other));
      }
      candidate.origin = origin;
      found.push_back(candidate);
      position = std::max(recordEnd, position + 5);
      continue;
    }
    ++position;
  }
}

void ScanFreeblocks(const CarvingContext& context, ByteSpan page, CandidateList& found) {
  const std::size_t pageSize = page.size();
  const uint32_t columns = context.columnCount;
  if (columns == 0 || pageSize < 8) return;
  std::size_t freeblock = ReadBigEndian16(&page[1]);
  std::size_t previous = 0;
  // Freeblocks lie in ascending order; a chain that goes back or leaves the
  // page is cut there.
  while (freeblock != 0 && freeblock > previous && freeblock >= 8 && freeblock + 4 < pageSize) {
    const std::size_t next = ReadBigEndian16(&page[freeblock]);
    const std::size_t size = ReadBigEndian16(&page[freeblock + 2]);
    const std::size_t blockEnd = std::min(freeblock + size, pageSize);
    previous = freeblock;
    Candidate candidate;
    std::size_t rest = freeblock + 4;
    if (RecordInFreeblock(context, page, freeblock, size, candidate)) {
      rest = CarvedRecordEnd(context, page, candidate);
      // A serial type read as a surviving header length: the short cell's
      // reading is kept for the decoder to try when it refuses this one.
      Candidate other;
      if (candidate.headerIntact && RecordInFreeblock(context, page, freeblock, size, other, true) &&
          !other.headerIntact && other.offset != candidate.offset) {
        candidate.alternative = other.offset;
        rest = std::min(rest, CarvedRecordEnd(context, page, other));
      }
      found.push_back(candidate);
      // A record cut by a cell written later into the freeblock reads on
      // over that cell's start: a whole cell inside it ends it there.
      for (std::size_t at = candidate.offset + 1; at + 4 < std::min(rest, blockEnd); ++at) {
        Candidate cell;
        std::size_t cellEnd = 0;
        if (WholeCellAt(context, page, at, blockEnd, cell, cellEnd)) {
          rest = at;
          break;
        }
      }
    }
    // Neighbouring cells freed one after the other merge into one
    // freeblock: the records behind the first one lie in it too.
    if (rest < blockEnd) ScanArea(context, page, rest, blockEnd, RecordOrigin::kFreeblock, found);
    freeblock = next;
  }
}

namespace {

// End of the cell at `offset`: payload-length and rowid varints, the local
// payload, and the overflow page number when the payload overflows.
std::size_t CellEnd(const CarvingContext& context, ByteSpan page, std::size_t offset) {
  const Varint payload = ReadVarint(From(page, offset));
  const Varint rowid = ReadVarint(From(page, offset + payload.length));
  uint64_t local = LocalPayloadSize(payload.value, context.usableSize);
  if (local < payload.value) local += 4;  // the first overflow page number
  const uint64_t end = offset + payload.length + rowid.length + local;
  return end < page.size() ? static_cast<std::size_t>(end) : page.size();
}

// Serial types at `start` whose header length was overwritten by a freeblock
// header (the 4 bytes before start: next offset, size): the first serial type
// is 0 (the rowid column; when that is column 1, column 0's serial type was
// overwritten too), or, when the rowid is column 0, a short cell's second
// serial type (payload length, rowid and header length took three bytes, so
// the header took the rowid column's 0 as well); the run of serial types
// takes as many bytes or one more, the freeblock's size covers the record
// and the record ends below `upper`.
bool FreeblockRemnantAt(ByteSpan page, std::size_t start, std::size_t floor, std::size_t upper,
                        uint32_t columns, uint32_t rowidColumn) {
  if (start < floor + 4 || start >= upper || columns < 2) return false;
  const bool firstLost = FirstColumnLost(page[start], false, rowidColumn);
  if (page[start] != 0 && !(firstLost && rowidColumn == 0)) return false;
  const std::size_t next = ReadBigEndian16(&page[start - 4]);
  const std::size_t size = ReadBigEndian16(&page[start - 2]);
  if ((next != 0 && (next <= start || next >= page.size())) || size < 4 || size >= page.size()) return false;
  // Serial types of a record that lost its first one are any bytes below
  // 0x80 in a row: the header must be the last of its chain and the
  // freeblock must end inside the page.
  if (page[start] != 0 && (next != 0 || start - 4 + size > page.size())) return false;
  // A header length that survived behind a two-byte payload length and
  // rowid is no serial type: the record is read whole from there.
  if (page[start] != 0 && page[start] > columns && page[start] <= columns + 5 &&
      VarintRunLength(page.subspan(start + 1, upper - start - 1), columns) + 1 == page[start]) {
    return false;
  }
  const uint32_t types = firstLost ? columns - 1 : columns;
  const std::size_t run = VarintRunLength(page.subspan(start, upper - start), types);
  if (run == 0 || (run != types && run != types + 1)) return false;
  const uint64_t span =
      RecordSpan(columns, page.subspan(start, upper - start), 0, upper - start, false, rowidColumn);
  return span != 0 && span <= upper - start && span + 4 <= size;
}

uint32_t HeaderTestColumns(const CarvingContext& context) {
  return context.headerTestColumns.value_or(context.columnCount);
}

}  // namespace

void ScanTail(const CarvingContext& context, ByteSpan page, const std::vector<uint16_t>& cells,
              CandidateList& found) {
  const std::size_t pageSize = page.size();
  const uint64_t columns = context.columnCount;
  const uint32_t testColumns = HeaderTestColumns(context);
  if (columns == 0 || testColumns == 0 || cells.empty()) return;
  std::size_t position = CellEnd(context, page, *std::max_element(cells.begin(), cells.end()));
  while (position < pageSize) {
    const Varint header = ReadVarint(page.subspan(position));
    const std::size_t start = position + header.length;
    position = start;  // on rejection: one varint further
    const uint64_t left = pageSize - (start - header.length);
    if (header.value == 0 || header.value > columns + 5 || header.value >= left ||
        columns >= left - header.length) {
      continue;
    }
    const std::size_t run = VarintRunLength(page.subspan(start), testColumns);
    if (run == 0 || run + 1 != header.value) continue;
    // The span is checked whole against the page: a serial type read from
    // the file may claim a body of any size.
    const uint64_t span =
        RecordSpan(context.columnCount, page.subspan(start), header.value - 1, pageSize - start, true);
    if (span >= pageSize - start) break;  // the record runs past the page: nothing after it is a record
    found.push_back(Candidate{static_cast<uint16_t>(start), true, RecordOrigin::kTail});
    position = start + static_cast<std::size_t>(span);
  }
}

void ScanGap(const CarvingContext& context, ByteSpan page, const std::vector<uint16_t>& cells,
             CandidateList& found) {
  const std::size_t pageSize = page.size();
  const uint64_t columns = context.columnCount;
  const uint32_t testColumns = HeaderTestColumns(context);
  if (columns == 0 || testColumns == 0 || pageSize < 8) return;
  // A page without cells (emptied before it was freed) has its content area
  // start at the page end: the gap is the whole page.
  std::size_t top = cells.empty() ? std::min<std::size_t>(ReadBigEndian16(&page[5]), pageSize)
                                  : *std::min_element(cells.begin(), cells.end());
  if (top == 0) top = pageSize;  // a content area start of 0 stands for 65536
  // The pointer array (live and stale entries) ends at its first zero word.
  std::size_t word = 8;
  while (word + 1 < top && ReadBigEndian16(&page[word]) != 0) word += 2;
  if (word + 1 >= top) return;
  const std::size_t alignedTop = top & ~static_cast<std::size_t>(1);
  std::size_t low = word + 2;
  while (low < alignedTop && page[low] == 0) ++low;
  if (low >= alignedTop) return;

  std::size_t upper = top;
  for (std::size_t position = top; position-- > low;) {
    if (FreeblockRemnantAt(page, position, word + 2, upper, static_cast<uint32_t>(columns),
                           context.rowidColumn)) {
      // A deleted cell that became a freeblock and was then taken into the
      // gap: its freeblock header sits right before its serial types.
      found.push_back(Candidate{static_cast<uint16_t>(position), false, RecordOrigin::kGap});
      upper = position - 4;
      position = upper;
      continue;
    }
    const Varint header = ReadVarint(page.subspan(position, upper - position));
    const std::size_t start = position + header.length;
    const uint64_t room = upper - position;
    if (header.value == 0 || header.value < columns || header.value > columns + 5 || header.value >= room ||
        header.value >= room - header.length) {
      continue;
    }
    const std::size_t run = VarintRunLength(page.subspan(start, upper - start), testColumns);
    if (run == 0 || run + 1 != header.value) continue;
    const uint64_t span = RecordSpan(context.columnCount, page.subspan(start, upper - start), header.value,
                                     upper - start, true);
    if (span > upper - start) continue;
    found.push_back(Candidate{static_cast<uint16_t>(start), true, RecordOrigin::kGap});
    upper = position;
  }
}

void ScanStalePointers(const CarvingContext& context, ByteSpan page, CandidateList& found) {
  const std::size_t pageSize = page.size();
  const uint64_t columns = context.columnCount;
  if (columns == 0 || pageSize < 8) return;
  const std::size_t liveCount = ReadBigEndian16(&page[3]);
  std::size_t reference = 0;
  std::vector<std::size_t> liveCells;
  for (std::size_t entry = 0; entry < pageSize / 2; ++entry) {
    const std::size_t pointerAt = 8 + 2 * entry;
    if (pointerAt + 2 > pageSize) break;
    const std::size_t cell = ReadBigEndian16(&page[pointerAt]);
    if (cell == 0 || cell >= pageSize) break;
    if (entry < liveCount) {
      reference = cell;
      liveCells.push_back(cell);
      continue;
    }
    if (cell >= reference && cell <= reference + 6) continue;
    // A pointer left behind by an older layout of the page may lead to a cell
    // that is still live; that row is not a deleted one.
    if (std::find(liveCells.begin(), liveCells.end(), cell) != liveCells.end()) continue;

    const bool becameFreeblock = cell + 2 <= pageSize && ReadBigEndian16(&page[cell]) == 0;
    std::size_t headerAt;
    int64_t expectedPayload;
    uint64_t payloadLength = 0;
    if (becameFreeblock) {
      if (cell + 4 >= pageSize) continue;
      expectedPayload = static_cast<int64_t>(ReadBigEndian16(&page[cell + 2])) - 5;
      headerAt = cell + 4;
      if (columns >= pageSize - cell) continue;
    } else {
      const Varint payload = ReadVarint(page.subspan(cell));
      if (!payload.complete || payload.value == 0 || payload.value - 1 > pageSize - cell) continue;
      payloadLength = payload.value;
      const Varint rowid = ReadVarint(From(page, cell + payload.length));
      const std::size_t rowidEnd = cell + payload.length + rowid.length;
      if (!rowid.complete || rowidEnd >= pageSize) continue;
      expectedPayload = static_cast<int64_t>(payloadLength) - 1;
      headerAt = rowidEnd;
      if (columns >= pageSize - rowidEnd) continue;
    }
    const Varint header = ReadVarint(page.subspan(headerAt));
    const std::size_t start = headerAt + header.length;
    if (!header.complete || header.value == 0 || start >= pageSize) continue;
    const std::size_t run = VarintRunLength(page.subspan(start), columns);
    if (run == 0 || run + 1 != header.value) continue;
    if (start + header.value >= pageSize) continue;
    if (expectedPayload >= 0 && header.value >= static_cast<uint64_t>(expectedPayload)) continue;
    const uint64_t span =
        RecordSpan(context.columnCount, page.subspan(start), header.value, pageSize - start, true);
    if (!becameFreeblock && span != payloadLength - 1) continue;
    const bool duplicate = std::any_of(found.begin(), found.end(), [&](const Candidate& other) {
      return (other.offset > start ? other.offset - start : start - other.offset) <= 6;
    });
    // Once a stale pointer leads to a record found already, the page's
    // remaining stale pointers are taken as leading to found records too.
    if (duplicate) break;
    found.push_back(Candidate{static_cast<uint16_t>(start), true, RecordOrigin::kStalePointer});
  }
}

void ScanAroundCells(const CarvingContext& context, ByteSpan page, std::size_t from,
                     const std::vector<uint16_t>& cells, RecordOrigin origin, CandidateList& found) {
  std::vector<uint16_t> sorted(cells.begin(), cells.end());
  std::sort(sorted.begin(), sorted.end());
  std::size_t position = from;
  for (const uint16_t cell : sorted) {
    if (cell < position) {
      position = std::max(position, CellEnd(context, page, cell));
      continue;
    }
    ScanArea(context, page, position, cell, origin, found);
    position = CellEnd(context, page, cell);
  }
  ScanArea(context, page, position, page.size(), origin, found);
}

CandidateList CollectPageCandidates(const SqliteDbReader& reader, const CarvingContext& context,
                                    ByteSpan page) {
  CandidateList found;
  if (page.size() < 12 || page[0] != kLeafTablePage || context.columnCount == 0) return found;
  const std::vector<uint16_t> cells = reader.ReadCellPointers(page, 0);
  ScanFreeblocks(context, page, found);
  ScanTail(context, page, cells, found);
  ScanGap(context, page, cells, found);
  ScanStalePointers(context, page, found);
  {
    // A page emptied row by row: its header no longer tells where the
    // cells were, so the whole content area is walked as well (past the
    // pointer entries left behind); on other pages the gap below the
    // cells, where the records of freed cells the gap took in lie. Each
    // record is taken once.
    std::size_t from = 8 + 2 * cells.size();
    while (from + 1 < page.size()) {
      const std::size_t pointer = ReadBigEndian16(&page[from]);
      if (pointer == 0 || pointer >= page.size() || pointer < from) break;
      from += 2;
    }
    const std::size_t to = cells.empty() ? page.size() : *std::min_element(cells.begin(), cells.end());
    CandidateList walked;
    if (from < to) ScanArea(context, page, from, to, RecordOrigin::kGap, walked);
    for (const Candidate& candidate : walked) {
      const auto known = std::find_if(found.begin(), found.end(), [&](const Candidate& other) {
        return other.offset == candidate.offset;
      });
      if (known == found.end()) {
        found.push_back(candidate);
      } else if (known->alternative == 0) {
        // The walk may have seen a second reading of the same bytes (a
        // short cell behind its freeblock header) that the gap scan did not.
        known->alternative = candidate.alternative;
      }
    }
  }
  return found;
}

CandidateList CollectInteriorGapCandidates(const SqliteDbReader& reader, const CarvingContext& context,
                                           ByteSpan page) {
  CandidateList found;
  if (page.size() < 12 || page[0] != kInteriorTablePage || context.columnCount == 0) return found;
  const std::vector<uint16_t> cells = reader.ReadCellPointers(page, 0);
  std::size_t from = 12 + 2 * cells.size();
  while (from + 1 < page.size()) {
    const std::size_t pointer = ReadBigEndian16(&page[from]);
    if (pointer == 0 || pointer >= page.size() || pointer < from) break;
    from += 2;
  }
  const std::size_t to = cells.empty() ? page.size() : *std::min_element(cells.begin(), cells.end());
  // Whole cells only: the gap holds the page's cells as they were before it
  // split, live rows' among them, whose bytes read from a wrong offset make
  // records of their own.
  for (std::size_t position = std::max<std::size_t>(from, 12); position + 4 < to;) {
    Candidate candidate;
    std::size_t end = 0;
    if (!WholeCellAt(context, page, position, to, candidate, end)) {
      ++position;
      continue;
    }
    candidate.origin = RecordOrigin::kGap;
    found.push_back(candidate);
    position = end;
  }
  return found;
}

Status CollectDeletedCandidates(const SqliteDbReader& reader, const CarvingContext& context,
                                const std::vector<uint8_t>& page, PageIndex index, CandidateMap& candidates) {
  std::vector<bool> visited;
  return reader.ForEachLeafPage(index, page, visited, [&](PageIndex leaf, const std::vector<uint8_t>& bytes) {
    if (leaf == 0) return kOk;
    CandidateList found = CollectPageCandidates(reader, context, bytes);
    if (!found.empty()) candidates[leaf] = std::move(found);
    return kOk;
  });
}

}  // namespace corvyn::sqlite
