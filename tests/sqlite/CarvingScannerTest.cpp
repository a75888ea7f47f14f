// Each carving scanner on hand-made leaf pages: a record placed for it is
// found, a near miss is refused, and corrupt chains stay inside the page.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sqlite/Carving.h"
#include "sqlite/RecordParser.h"
#include "tests/support/sqlite_fixtures/PagePatch.h"

namespace corvyn::sqlite {
namespace {

using testing::AddCell;
using testing::EmptyLeafPage;
using testing::EncodeCell;
using testing::EncodeRecord;
using testing::Put16;
using testing::RecordField;

constexpr uint32_t kPageSize = 1024;

// A row of a 5-column table whose column 0 is the rowid (stored as NULL),
// like `handle`.
std::vector<RecordField> HandleRow(int n) {
  return {RecordField::Null(), RecordField::Text("+49151000000" + std::to_string(10 + n)),
          RecordField::Text("de"), RecordField::Text(n % 2 ? "SMS" : "iMessage"),
          RecordField::Text("u" + std::to_string(n))};
}

CarvingContext HandleContext() {
  CarvingContext context;
  context.columnCount = 5;
  context.usableSize = kPageSize;
  return context;
}

std::vector<uint8_t> Bytes(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

std::vector<uint8_t> Tail(const std::vector<uint8_t>& bytes, std::size_t from) {
  return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end());
}

void Place(std::vector<uint8_t>& page, std::size_t at, const std::vector<uint8_t>& bytes) {
  std::memcpy(&page[at], bytes.data(), bytes.size());
}

// A page with two live cells at its end.
std::vector<uint8_t> PageWithLiveCells() {
  std::vector<uint8_t> page = EmptyLeafPage(kPageSize);
  const auto first = EncodeCell(1, EncodeRecord(HandleRow(1)));
  const auto second = EncodeCell(2, EncodeRecord(HandleRow(2)));
  AddCell(page, static_cast<uint16_t>(kPageSize - first.size()), first);
  AddCell(page, static_cast<uint16_t>(kPageSize - first.size() - second.size()), second);
  return page;
}

// Makes one freeblock at `offset` holding `content` after its 4-byte header.
void PutFreeblock(std::vector<uint8_t>& page, uint16_t offset, uint16_t size,
                  const std::vector<uint8_t>& content) {
  Put16(page, 1, offset);
  Put16(page, offset, 0);
  Put16(page, offset + 2, size);
  Place(page, offset + 4u, content);
}

std::vector<uint16_t> ReadCells(const std::vector<uint8_t>& page) {
  return SqliteDbReader().ReadCellPointers(page, 0);
}

std::vector<uint16_t> Offsets(const CandidateList& found) {
  std::vector<uint16_t> offsets;
  for (const Candidate& candidate : found) offsets.push_back(candidate.offset);
  return offsets;
}

TEST(ScanFreeblocks, FindsRecordsWhateverPartOfTheCellTheHeaderOverwrote) {
  const std::vector<uint8_t> record = EncodeRecord(HandleRow(7));  // header length, serial types, body
  struct Case {
    const char* name;
    std::vector<uint8_t> content;  // bytes after the freeblock header
    uint16_t expectedOffset;       // relative to the freeblock
    bool headerIntact;
  };
  const uint16_t freeblock = 400;
  const Case cases[] = {
      // payload (1) + rowid (2) + header length (1) overwritten: serial types from F + 4.
      {"header length lost", Tail(record, 1), 4, false},
      // payload (2) + rowid (2) overwritten: the header length survives at F + 4.
      {"header length intact", record, 5, true},
      // payload (2) + rowid (3): one rowid byte remains before the header length.
      {"rowid of three bytes", Bytes({{0x05}, record}), 6, true},
      // payload (1) + rowid (1) + header length (1) + first serial type (1):
      // F + 4 holds the second serial type; the first column is lost.
      {"first serial type lost", Tail(record, 2), 4, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> page = PageWithLiveCells();
    PutFreeblock(page, freeblock, static_cast<uint16_t>(c.content.size() + 4), c.content);
    CandidateList found;
    ScanFreeblocks(HandleContext(), page, found);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].offset, freeblock + c.expectedOffset);
    EXPECT_EQ(found[0].headerIntact, c.headerIntact);

    // The candidate decodes to the row that was placed.
    ParsedRecord parsed;
    const RecordLocation location{ByteSpan(page).subspan(found[0].offset),
                                  found[0].offset,
                                  0,
                                  RecordMode::kCarved,
                                  1,
                                  found[0].headerIntact};
    ASSERT_EQ(ParseCarvedRecord(location, 5, parsed), kOk);
    ASSERT_NE(parsed.Column(1), nullptr);
    EXPECT_EQ(parsed.Column(1)->Text(), "+4915100000017");
    ASSERT_NE(parsed.Column(4), nullptr);
    EXPECT_EQ(parsed.Column(4)->Text(), "u7");
  }
}

// A join table's row (two numbers) freed alone: its freeblock is the cell's
// size, and which bytes the header overwrote shows in how the rest fills it.
TEST(ScanFreeblocks, AShortRecordIsReadTheWayThatFillsItsFreeblock) {
  struct Case {
    const char* name;
    std::vector<uint8_t> content;  // bytes after the freeblock header
    bool headerIntact;
    int64_t second;  // column 1's value
  };
  const Case cases[] = {
      // payload (1) + rowid (2) + header length (1) overwritten: both serial
      // types (2-byte numbers) survive, though the first reads like a header
      // length of two.
      {"two-byte rowid", {0x02, 0x02, 0x00, 0x97, 0x00, 0x97}, true, 151},
      // payload, rowid, header length and column 0's serial type overwritten.
      {"first serial type lost", {0x01, 0x4c, 0x4c}, false, 76},
  };
  CarvingContext context;
  context.columnCount = 2;
  context.usableSize = kPageSize;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> page = PageWithLiveCells();
    const uint16_t freeblock = 400;
    PutFreeblock(page, freeblock, static_cast<uint16_t>(c.content.size() + 4), c.content);
    CandidateList found;
    ScanFreeblocks(context, page, found);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].offset, freeblock + 4);
    EXPECT_EQ(found[0].headerIntact, c.headerIntact);
    ParsedRecord parsed;
    const RecordLocation location{ByteSpan(page).subspan(found[0].offset),
                                  found[0].offset,
                                  0,
                                  RecordMode::kCarved,
                                  1,
                                  found[0].headerIntact};
    ASSERT_EQ(ParseCarvedRecord(location, 2, parsed), kOk);
    ASSERT_NE(parsed.Column(1), nullptr);
    EXPECT_EQ(parsed.Column(1)->integer, c.second);
  }
}

TEST(ScanFreeblocks, RefusesNearMisses) {
  std::vector<uint8_t> record = EncodeRecord(HandleRow(7));
  std::vector<uint8_t> wrongHeader = record;
  wrongHeader[0] = static_cast<uint8_t>(wrongHeader[0] + 1);  // header length one more than its serial types
  std::vector<uint8_t> tooLong = Tail(record, 1);
  tooLong[1] = 0x7f;  // column 1 claims 57 bytes of text: the body no longer fits the freeblock
  struct Case {
    const char* name;
    std::vector<uint8_t> content;
  };
  const Case cases[] = {{"header length does not match", wrongHeader},
                        {"body larger than the freeblock", tooLong}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> page = PageWithLiveCells();
    PutFreeblock(page, 400, static_cast<uint16_t>(c.content.size() + 4), c.content);
    CandidateList found;
    ScanFreeblocks(HandleContext(), page, found);
    EXPECT_TRUE(found.empty()) << found.size();
  }
}

TEST(ScanFreeblocks, MessageBodiesMustBeginWithThirtySixNonZeroBytes) {
  // A 38-column `message` row: NULL rowid, 36-character guid, text, then
  // integers (0 and 1 take no body bytes).
  auto messageRow = [](const std::string& guid) {
    std::vector<RecordField> row{RecordField::Null(), RecordField::Text(guid),
                                 RecordField::Text("hello there")};
    for (int i = 3; i < 38; ++i) row.push_back(RecordField::Int(i % 2));
    return EncodeRecord(row);
  };
  CarvingContext context;
  context.columnCount = 38;
  context.usableSize = kPageSize;
  context.nonZeroBodyPrefix = 36;
  const std::string guid = "F1E2D3C4-B5A6-4978-8899-AABBCCDDEEFF";
  std::string guidWithZero = guid;
  guidWithZero[20] = '\0';
  for (const auto& [text, expected] : {std::pair{guid, 1u}, std::pair{guidWithZero, 0u}}) {
    std::vector<uint8_t> page = PageWithLiveCells();
    const std::vector<uint8_t> content = Tail(messageRow(text), 1);
    PutFreeblock(page, 300, static_cast<uint16_t>(content.size() + 4), content);
    CandidateList found;
    ScanFreeblocks(context, page, found);
    EXPECT_EQ(found.size(), expected);
  }
}

TEST(ScanFreeblocks, ChainsThatLoopOrLeaveThePageAreCut) {
  struct Case {
    const char* name;
    uint16_t first;
    uint16_t next;
  };
  const Case cases[] = {{"points back to itself", 400, 400},
                        {"points backwards", 400, 300},
                        {"starts past the page", 0xfff0, 0},
                        {"next past the page", 400, 0xffff}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> page = PageWithLiveCells();
    const std::vector<uint8_t> content = Tail(EncodeRecord(HandleRow(7)), 1);
    if (c.first < kPageSize) PutFreeblock(page, c.first, static_cast<uint16_t>(content.size() + 4), content);
    Put16(page, 1, c.first);
    if (c.first < kPageSize) Put16(page, c.first, c.next);
    CandidateList found;
    ScanFreeblocks(HandleContext(), page, found);  // terminates, reads inside the page
    EXPECT_LE(found.size(), 1u);
  }
}

// Three neighbouring cells freed into one freeblock: the first under the
// freeblock's header, the second whole (freed after it, merged without a
// header of its own), the third under the header it got when it was freed
// alone. All three are found; a third header whose size fits neither its
// cell nor the rest of the freeblock is a chance pair of bytes.
TEST(ScanFreeblocks, FindsEveryRecordOfAMergedFreeblock) {
  struct Case {
    const char* name;
    int thirdSizeExtra;  // added to the third cell's stale freeblock size
    std::size_t expected;
  };
  const Case cases[] = {{"the third header sized for its cell", 0, 3},
                        {"a third header of no fitting size", 3, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> page = PageWithLiveCells();
    const auto first = EncodeCell(11, EncodeRecord(HandleRow(11)));
    const auto second = EncodeCell(12, EncodeRecord(HandleRow(12)));
    const auto third = EncodeCell(13, EncodeRecord(HandleRow(13)));
    const uint16_t at = 400;
    const auto secondAt = static_cast<uint16_t>(at + first.size());
    const auto thirdAt = static_cast<uint16_t>(secondAt + second.size());
    Place(page, at, Bytes({first, second, third}));
    Put16(page, thirdAt, 0);
    Put16(page, thirdAt + 2u, static_cast<uint16_t>(third.size() + c.thirdSizeExtra));
    Put16(page, 1, at);
    Put16(page, at, 0);
    Put16(page, at + 2u, static_cast<uint16_t>(first.size() + second.size() + third.size()));

    CandidateList found;
    ScanFreeblocks(HandleContext(), page, found);
    ASSERT_EQ(found.size(), c.expected);
    // The first and third lost their first serial type (the rowid's NULL).
    EXPECT_EQ(found[0].offset, at + 4);
    EXPECT_FALSE(found[0].headerIntact);
    // The second is a whole cell: its rowid is known.
    EXPECT_EQ(found[1].cellStart, secondAt);
    EXPECT_EQ(found[1].offset, secondAt + 3);  // payload length, rowid, header length
    EXPECT_TRUE(found[1].headerIntact);
    if (c.expected == 3) {
      EXPECT_EQ(found[2].offset, thirdAt + 4);
    }
    for (const Candidate& candidate : found) EXPECT_EQ(candidate.origin, RecordOrigin::kFreeblock);
  }
}

TEST(ScanTail, FindsTheDeletedRecordAfterTheHighestCellAndRefusesABrokenOne) {
  for (const bool broken : {false, true}) {
    SCOPED_TRACE(broken ? "broken" : "intact");
    std::vector<uint8_t> page = EmptyLeafPage(kPageSize);
    const auto live = EncodeCell(1, EncodeRecord(HandleRow(1)));
    std::vector<uint8_t> deletedRecord = EncodeRecord(HandleRow(9));
    if (broken) deletedRecord[0] = 9;  // header length 9 while the five serial types take 5 bytes
    // The deleted cell lost its payload length and rowid bytes to a freeblock header.
    const std::vector<uint8_t> deleted = Bytes({{0x00, 0x00, 0x00, 0x00}, deletedRecord});
    const uint16_t liveAt = 600;
    AddCell(page, liveAt, live);
    const std::size_t deletedAt = liveAt + live.size();
    Place(page, deletedAt, deleted);
    CandidateList found;
    const std::vector<uint16_t> cells{liveAt};
    ScanTail(HandleContext(), page, cells, found);
    if (broken) {
      EXPECT_TRUE(found.empty());
    } else {
      ASSERT_EQ(found.size(), 1u);
      EXPECT_EQ(found[0].offset, deletedAt + 5);  // after the freeblock header and the header length
      EXPECT_TRUE(found[0].headerIntact);
    }
  }
}

TEST(ScanGap, FindsRecordsFromTheHighestDownAndKeepsLowerOnesBelowThem) {
  std::vector<uint8_t> page = PageWithLiveCells();
  const uint16_t lowestCell = static_cast<uint16_t>(page[5] << 8 | page[6]);
  const auto upper = EncodeCell(20, EncodeRecord(HandleRow(20)));
  const auto lower = EncodeCell(21, EncodeRecord(HandleRow(21)));
  const std::size_t upperAt = lowestCell - upper.size();
  const std::size_t lowerAt = upperAt - lower.size();
  Place(page, upperAt, upper);
  Place(page, lowerAt, lower);
  CandidateList found;
  ScanGap(HandleContext(), page, ReadCells(page), found);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].offset, upperAt + 3);  // payload length, rowid, header length
  EXPECT_EQ(found[1].offset, lowerAt + 3);

  // The lower record now claims a body that runs into the upper one: refused.
  std::vector<uint8_t> overlapping = page;
  overlapping[lowerAt + 4] = 0x7f;  // column 1: 57 bytes of text
  found.clear();
  ScanGap(HandleContext(), overlapping, ReadCells(overlapping), found);
  EXPECT_EQ(Offsets(found), std::vector<uint16_t>{static_cast<uint16_t>(upperAt + 3)});
}

TEST(ScanGap, FindsACellThatBecameAFreeblockAndThenPartOfTheGap) {
  std::vector<uint8_t> page = PageWithLiveCells();
  const uint16_t lowestCell = static_cast<uint16_t>(page[5] << 8 | page[6]);
  // [next 0][size][serial types...][body]: the 4 bytes of payload length,
  // rowid and header length were overwritten by the freeblock header.
  const std::vector<uint8_t> record = Tail(EncodeRecord(HandleRow(30)), 1);
  const std::size_t at = lowestCell - record.size() - 4;
  Put16(page, at, 0);
  Put16(page, at + 2, static_cast<uint32_t>(record.size() + 4));
  Place(page, at + 4, record);
  CandidateList found;
  ScanGap(HandleContext(), page, ReadCells(page), found);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].offset, at + 4);
  EXPECT_FALSE(found[0].headerIntact);
}

// A table whose column 0 is a small number and column 1 the rowid (WeChat's
// message tables): a freed short cell lost column 0's serial type to the
// freeblock header, so its serial types begin with the rowid's NULL. Found
// in a freeblock and in the gap, column 0's body (when it has one) still
// lying before the others.
TEST(ScanFreeblocks, RowidInColumnOneRecordsBeginWithItsNull) {
  struct Case {
    const char* name;
    int64_t columnZero;  // 1: no body; 3: a one-byte body
    bool inGap;
  };
  const Case cases[] = {{"freeblock, column 0 without body", 1, false},
                        {"freeblock, column 0 with a body", 3, false},
                        {"gap, column 0 without body", 1, true},
                        {"gap, column 0 with a body", 3, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> page = PageWithLiveCells();
    const std::vector<uint8_t> record =
        EncodeRecord({RecordField::Int(c.columnZero), RecordField::Null(), RecordField::Int(1400000000),
                      RecordField::Text("a message of the chat table"), RecordField::Int(2)});
    // Payload length, rowid, header length and column 0's serial type.
    const std::vector<uint8_t> kept = Tail(record, 2);
    CarvingContext context = HandleContext();
    context.rowidColumn = 1;
    CandidateList found;
    std::size_t at = 0;
    if (c.inGap) {
      const uint16_t lowestCell = static_cast<uint16_t>(page[5] << 8 | page[6]);
      at = lowestCell - kept.size() - 4;
      Put16(page, at, 0);
      Put16(page, at + 2, static_cast<uint32_t>(kept.size() + 4));
      Place(page, at + 4, kept);
      ScanGap(context, page, ReadCells(page), found);
    } else {
      at = 400;
      PutFreeblock(page, static_cast<uint16_t>(at), static_cast<uint16_t>(kept.size() + 4), kept);
      ScanFreeblocks(context, page, found);
    }
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].offset, at + 4);
    EXPECT_FALSE(found[0].headerIntact);
    // Four serial types remain; the span leaves out column 0's body.
    const std::size_t columnZeroBody = c.columnZero == 1 ? 0 : 1;
    EXPECT_EQ(RecordSpan(5, kept, 0, 1000, false, 1), kept.size() - columnZeroBody);
    // Read as if column 0 were the rowid, the NULL would start five serial types.
    EXPECT_NE(RecordSpan(5, kept, 0, 1000, false, 0), kept.size() - columnZeroBody);
  }
}

TEST(ScanGap, AnIntactRecordKeepsAColumnZeroThatIsNotTheRowid) {
  // message_attachment_join: both columns are non-zero integers, so the first
  // serial-type byte is not 0; the header length was found intact, so no
  // column is lost.
  const std::vector<RecordField> row{RecordField::Int(417), RecordField::Int(9)};
  std::vector<uint8_t> page = EmptyLeafPage(kPageSize);
  const auto live = EncodeCell(1, EncodeRecord({RecordField::Int(300), RecordField::Int(2)}));
  AddCell(page, static_cast<uint16_t>(kPageSize - live.size()), live);
  const auto deleted = EncodeCell(2, EncodeRecord(row));
  const std::size_t at = kPageSize - live.size() - deleted.size();
  Place(page, at, deleted);
  CarvingContext context;
  context.columnCount = 2;
  context.usableSize = kPageSize;
  CandidateList found;
  ScanGap(context, page, ReadCells(page), found);
  ASSERT_EQ(found.size(), 1u);
  ASSERT_TRUE(found[0].headerIntact);
  const RecordLocation location{
      ByteSpan(page).subspan(found[0].offset), found[0].offset, 0, RecordMode::kCarved, 1, true};
  ParsedRecord parsed;
  ASSERT_EQ(ParseCarvedRecord(location, 2, parsed), kOk);
  ASSERT_NE(parsed.Column(0), nullptr);
  EXPECT_EQ(parsed.Column(0)->integer, 417);
  ASSERT_NE(parsed.Column(1), nullptr);
  EXPECT_EQ(parsed.Column(1)->integer, 9);
}

TEST(ScanTail, ARememberedHeaderColumnCountReplacesTheExpectedOne) {
  std::vector<uint8_t> page = EmptyLeafPage(kPageSize);
  const auto live = EncodeCell(1, EncodeRecord(HandleRow(1)));
  const uint16_t liveAt = 600;
  AddCell(page, liveAt, live);
  Place(page, liveAt + live.size(), Bytes({{0, 0, 0, 0}, EncodeRecord(HandleRow(9))}));
  CarvingContext context = HandleContext();
  for (const auto& [remembered, expected] : {std::pair{0u, 0u}, std::pair{5u, 1u}}) {
    context.headerTestColumns = remembered;
    CandidateList found;
    ScanTail(context, page, {liveAt}, found);
    EXPECT_EQ(found.size(), expected) << "remembered header length " << remembered;
  }
}

TEST(ScanStalePointers, FollowsPointersLeftBehindAndRefusesLiveOrNearbyOnes) {
  const auto deleted = EncodeCell(40, EncodeRecord(HandleRow(40)));
  struct Case {
    const char* name;
    int stale;  // -1: the deleted cell; otherwise an offset relative to the last live cell
    std::size_t expected;
  };
  const Case cases[] = {
      {"pointer to a deleted cell", -1, 1},
      {"within 6 bytes of the last live pointer", 4, 0},
      {"pointer to the first live cell", -2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> page = PageWithLiveCells();
    const std::vector<uint16_t> live = ReadCells(page);
    const uint16_t deletedAt = 500;
    Place(page, deletedAt, deleted);
    uint16_t stale = deletedAt;
    if (c.stale == -2) stale = live[0];
    if (c.stale >= 0) stale = static_cast<uint16_t>(live.back() + c.stale);
    Put16(page, 8 + 2 * live.size(), stale);
    CandidateList found;
    ScanStalePointers(HandleContext(), page, found);
    ASSERT_EQ(found.size(), c.expected);
    if (c.expected) {
      EXPECT_EQ(found[0].offset, deletedAt + 3);
    }
  }
}

TEST(ScanStalePointers, StopsAtTheFirstDuplicateOfAFoundRecord) {
  std::vector<uint8_t> page = PageWithLiveCells();
  const std::vector<uint16_t> live = ReadCells(page);
  const auto first = EncodeCell(40, EncodeRecord(HandleRow(40)));
  const auto second = EncodeCell(41, EncodeRecord(HandleRow(41)));
  Place(page, 400, first);
  Place(page, 500, second);
  Put16(page, 8 + 2 * live.size(), 400);
  Put16(page, 10 + 2 * live.size(), 500);
  CandidateList found{Candidate{403, true}};  // the first one was found by another scanner
  ScanStalePointers(HandleContext(), page, found);
  EXPECT_EQ(Offsets(found), std::vector<uint16_t>{403});

  found.clear();
  ScanStalePointers(HandleContext(), page, found);
  EXPECT_EQ(Offsets(found), (std::vector<uint16_t>{403, 503}));
}

TEST(CollectPageCandidates, APageWithoutFreeSpaceYieldsNothing) {
  // Cells packed from the page end up to the pointer array, no freeblocks.
  std::vector<uint8_t> page = EmptyLeafPage(kPageSize);
  std::size_t top = kPageSize;
  for (int n = 1;; ++n) {
    const auto cell = EncodeCell(n, EncodeRecord(HandleRow(n)));
    const std::size_t arrayEnd = 8 + 2 * static_cast<std::size_t>(n);
    if (top - cell.size() < arrayEnd) {
      // Fill what is left between the pointer array and the lowest cell with
      // another live cell's worth of bytes that is not a record.
      std::memset(&page[8 + 2 * static_cast<std::size_t>(n - 1)], 0xff,
                  top - (8 + 2 * static_cast<std::size_t>(n - 1)));
      break;
    }
    top -= cell.size();
    AddCell(page, static_cast<uint16_t>(top), cell);
  }
  SqliteDbReader reader;
  EXPECT_TRUE(CollectPageCandidates(reader, HandleContext(), page).empty());
}

TEST(MakeCarvingContext, TakesTheProfilesRulesAndItsMemoryAtTheTimeOfTheCall) {
  SqliteDbReader reader;
  TableProfile profile;
  profile.columnCount = 13;
  profile.nonZeroBodyPrefix = 36;
  EXPECT_EQ(MakeCarvingContext(reader, profile).headerTestColumns, std::nullopt);
  profile.tailAndGapUseLiveColumnCount = true;
  EXPECT_EQ(MakeCarvingContext(reader, profile).headerTestColumns, 0u);
  profile.liveColumnCount = 14;
  const CarvingContext context = MakeCarvingContext(reader, profile);
  EXPECT_EQ(context.columnCount, 13u);
  EXPECT_EQ(context.headerTestColumns, 14u);
  EXPECT_EQ(context.nonZeroBodyPrefix, 36u);
}

TEST(RecordSpan, AddsSerialTypeBytesAndBodies) {
  const std::vector<uint8_t> record =
      EncodeRecord(HandleRow(3));  // 1 + 5 serial types + 14 + 2 + 3 + 2 body bytes
  const std::vector<uint8_t> types = Tail(record, 1);
  EXPECT_EQ(RecordSpan(5, types, 0, 1000, true), 5u + 14 + 2 + 3 + 2);
  // First serial type overwritten: four serial types from column 1.
  EXPECT_EQ(RecordSpan(5, Tail(record, 2), 0, 1000), 4u + 14 + 2 + 3 + 2);
  // Without an expected column count the fallback header length is used.
  EXPECT_EQ(RecordSpan(0, types, 2, 1000), 2u + 14);
  // Adding stops once the total passes what is available.
  EXPECT_LE(RecordSpan(5, types, 0, 10, true), 5u + 14);
  // Serial types that run off the bytes count for nothing.
  EXPECT_EQ(RecordSpan(5, std::vector<uint8_t>{0x81}, 0, 1000), 0u);
}

}  // namespace
}  // namespace corvyn::sqlite
