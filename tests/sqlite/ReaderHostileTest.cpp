// Hostile files: free-list and b-tree chains that loop, counts past the page,
// files cut short, and offsets past 4 GiB. The reader must end, stay inside
// its buffers and keep what it could read.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "sqlite/ByteOrder.h"
#include "sqlite/SqliteDbReader.h"
#include "tests/sqlite/ReaderTestSupport.h"
#include "tests/support/sqlite_fixtures/PagePatch.h"
#include "tests/support/sqlite_fixtures/SqliteFixture.h"

namespace corvyn::sqlite {
namespace {

using test::ScannedRow;
using test::ScanRows;
using test::TempDir;
using testing::FixtureDatabase;
using testing::Put16;
using testing::Put32;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

constexpr uint32_t kPageSize = 1024;

// Table message_attachment_join (2 columns) with live rows and table handle
// (5 columns) emptied, whose pages went to the free list with their cells
// intact. Both are tables the carving knows the column counts of.
std::vector<uint8_t> DatabaseWithFreePages(const TempDir& dir, int rows = 300) {
  auto database = FixtureDatabase::Create(dir / "free.db", {kPageSize});
  EXPECT_NE(database, nullptr);
  EXPECT_TRUE(
      database->Exec("CREATE TABLE message_attachment_join (message_id INTEGER, attachment_id INTEGER)"));
  EXPECT_TRUE(
      database->Exec("CREATE TABLE handle (ROWID INTEGER PRIMARY KEY, id TEXT, country TEXT, service TEXT, "
                     "uncanonicalized_id TEXT)"));
  EXPECT_TRUE(database->Begin());
  for (int i = 1; i <= rows; ++i) {
    database->Insert("message_attachment_join", {int64_t{i}, int64_t{1000 + i}});
    database->Insert("handle", {nullptr, "gone row number " + std::to_string(i), "de", "SMS", nullptr});
  }
  EXPECT_TRUE(database->Commit());
  EXPECT_TRUE(database->DeleteAll("handle"));
  database->Close();
  return ReadFileBytes(dir / "free.db");
}

std::vector<PageIndex> FreePagesOf(const std::filesystem::path& path, Status* status = nullptr) {
  SqliteDbReader reader;
  const Status opened = reader.Open(path);
  if (status) *status = opened;
  return reader.FreePages();
}

TEST(ReaderFreeList, CollectsLeavesAndCutsHostileTrunkChains) {
  TempDir dir;
  const std::vector<uint8_t> original = DatabaseWithFreePages(dir);
  const uint32_t trunk = ReadBigEndian32(&original[32]);
  ASSERT_NE(trunk, 0u);
  const std::size_t trunkAt = static_cast<std::size_t>(trunk - 1) * kPageSize;
  const uint32_t leafCount = ReadBigEndian32(&original[trunkAt + 4]);
  ASSERT_GT(leafCount, 2u);
  const std::vector<PageIndex> expected = FreePagesOf(dir / "free.db");
  ASSERT_EQ(expected.size(), leafCount);
  const uint64_t pageCount = original.size() / kPageSize;

  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> patch;
    std::size_t expectedCount;
  };
  const Case cases[] = {
      {"trunk links to itself", [&](auto& b) { Put32(b, trunkAt, trunk); }, leafCount},
      {"leaf count past the trunk page", [&](auto& b) { Put32(b, trunkAt + 4, 0xffffffff); },
       kPageSize / 4 - 2},
      {"leaf numbers past the file are dropped",
       [&](auto& b) {
         Put32(b, trunkAt + 8, 0x00ffffff);
         Put32(b, trunkAt + 12, 0);
       },
       leafCount - 2},
      {"first trunk past the file", [&](auto& b) { Put32(b, 32, 0x7fffffff); }, 0},
      {"empty trunk first, then the real one",
       [&](auto& b) {
         b.resize(b.size() + kPageSize, 0);  // a new last page: next = the old trunk, no leaves
         Put32(b, b.size() - kPageSize, trunk);
         Put32(b, 32, static_cast<uint32_t>(b.size() / kPageSize));
       },
       leafCount},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = original;
    c.patch(bytes);
    ASSERT_TRUE(WriteFileBytes(dir / "case.db", bytes));
    Status status = kInvalidData;
    const std::vector<PageIndex> pages = FreePagesOf(dir / "case.db", &status);
    EXPECT_EQ(status, kOk);
    // Capped counts may list whatever the trunk holds, but never a page outside the file.
    EXPECT_LE(pages.size(), std::max<std::size_t>(c.expectedCount, pageCount));
    if (c.expectedCount != kPageSize / 4 - 2) {
      EXPECT_EQ(pages.size(), c.expectedCount);
    }
    for (const PageIndex page : pages) EXPECT_LT(page, bytes.size() / kPageSize);
  }
}

TEST(ReaderFreeList, ReusesFreePagesOfTheTableOnlyAndRecoversTheirRows) {
  TempDir dir;
  DatabaseWithFreePages(dir, 300);
  SqliteDbReader reader;
  ASSERT_EQ(reader.Open(dir / "free.db"), kOk);
  ASSERT_FALSE(reader.FreePages().empty());
  // `handle` is still in the schema with an empty root; the scan recovers the
  // rows of its freed pages as deleted full cells, rowids included.
  std::vector<ScannedRow> rows;
  ASSERT_EQ(ScanRows(reader, "handle", rows), kOk);
  std::set<int64_t> recovered;
  for (const ScannedRow& row : rows) {
    EXPECT_EQ(row.deleted, 1);
    if (row.mode == RecordMode::kFullCell) {
      EXPECT_EQ(row.texts[1], "gone row number " + std::to_string(row.rowId));
      recovered.insert(row.rowId);
    }
  }
  // The root page is emptied in place (its rows are lost); every row of the freed pages is back.
  EXPECT_GT(recovered.size(), 250u);

  // The join table has two columns, handle five: handle's free pages are not
  // taken as join rows.
  rows.clear();
  ASSERT_EQ(ScanRows(reader, "message_attachment_join", rows), kOk);
  for (const ScannedRow& row : rows) EXPECT_EQ(row.deleted, 0) << row.texts.size();
  EXPECT_EQ(rows.size(), 300u);
}

TEST(ReaderHostile, BTreeLoopsAndCountsPastThePageAreCut) {
  TempDir dir;
  auto database = FixtureDatabase::Create(dir / "tree.db", {512});
  ASSERT_NE(database, nullptr);
  ASSERT_TRUE(database->Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, v TEXT)"));
  ASSERT_TRUE(database->Begin());
  for (int i = 1; i <= 2000; ++i) database->Insert("t", {nullptr, "value " + std::to_string(i)});
  ASSERT_TRUE(database->Commit());
  database->Close();
  const std::vector<uint8_t> original = ReadFileBytes(dir / "tree.db");
  const std::size_t rootAt = 512;  // table t is rooted on page 2
  ASSERT_EQ(original[rootAt], kInteriorTablePage);
  const uint16_t firstCell = static_cast<uint16_t>(ReadBigEndian16(&original[rootAt + 12]));
  const uint32_t firstChild = ReadBigEndian32(&original[rootAt + firstCell]);
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> patch;
  };
  const Case cases[] = {
      {"child points to the root", [&](auto& b) { Put32(b, rootAt + firstCell, 2); }},
      {"right-most child points to the root", [&](auto& b) { Put32(b, rootAt + 8, 2); }},
      {"grandchild points to its parent",
       [&](auto& b) {
         const std::size_t childAt = static_cast<std::size_t>(firstChild - 1) * 512;
         if (b[childAt] == kInteriorTablePage) Put32(b, childAt + 8, firstChild);
       }},
      {"cell count past the page", [&](auto& b) { Put16(b, rootAt + 3, 0xffff); }},
      {"cell pointers past the page", [&](auto& b) { Put16(b, rootAt + 12, 0xfff0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = original;
    c.patch(bytes);
    ASSERT_TRUE(WriteFileBytes(dir / "case.db", bytes));
    SqliteDbReader reader;
    ASSERT_EQ(reader.Open(dir / "case.db"), kOk);
    std::vector<ScannedRow> rows;
    EXPECT_EQ(ScanRows(reader, "t", rows), kOk);
    std::set<int64_t> live;
    for (const ScannedRow& row : rows) {
      if (row.deleted == 0) {
        EXPECT_TRUE(live.insert(row.rowId).second) << "rowid twice: " << row.rowId;
      }
    }
    EXPECT_LE(live.size(), 2000u);
  }
}

TEST(ReaderHostile, AFileCutShortKeepsTheRowsBeforeTheCut) {
  TempDir dir;
  auto database = FixtureDatabase::Create(dir / "cut.db", {1024});
  ASSERT_NE(database, nullptr);
  ASSERT_TRUE(database->Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, v TEXT)"));
  ASSERT_TRUE(database->Begin());
  for (int i = 1; i <= 1000; ++i) database->Insert("t", {nullptr, "value " + std::to_string(i)});
  ASSERT_TRUE(database->Commit());
  database->Close();
  std::vector<uint8_t> bytes = ReadFileBytes(dir / "cut.db");
  bytes.resize(bytes.size() / 2 + 100);  // the last page is partial
  ASSERT_TRUE(WriteFileBytes(dir / "cut.db", bytes));
  SqliteDbReader reader;
  ASSERT_EQ(reader.Open(dir / "cut.db"), kOk);
  std::vector<ScannedRow> rows;
  const Status status = ScanRows(reader, "t", rows);
  EXPECT_EQ(status, kShortRead);
  EXPECT_GT(rows.size(), 100u);
  EXPECT_LT(rows.size(), 1000u);
  std::vector<uint8_t> page;
  EXPECT_EQ(reader.ReadPage(static_cast<PageIndex>(bytes.size() / 1024), page), kShortRead);
}

TEST(ReaderHostile, PagesPastFourGibibytesAreRead) {
  TempDir dir;
  const std::vector<uint8_t> original = DatabaseWithFreePages(dir, 60);
  // Move the free list to a trunk page past 4 GiB (a sparse file): the trunk
  // lists one leaf, a copy of a freed page of handle, also past 4 GiB.
  const uint32_t oldTrunk = ReadBigEndian32(&original[32]);
  const std::size_t oldTrunkAt = static_cast<std::size_t>(oldTrunk - 1) * kPageSize;
  const uint32_t freedLeaf = ReadBigEndian32(&original[oldTrunkAt + 8]);
  const uint64_t farTrunk = (5ull << 30) / kPageSize;  // page number at 5 GiB
  const uint64_t farLeaf = farTrunk + 3;
  {
    std::vector<uint8_t> bytes = original;
    Put32(bytes, 32, static_cast<uint32_t>(farTrunk));
    ASSERT_TRUE(WriteFileBytes(dir / "big.db", bytes));
    std::vector<uint8_t> trunkPage(kPageSize, 0);
    Put32(trunkPage, 4, 1);
    Put32(trunkPage, 8, static_cast<uint32_t>(farLeaf));
    std::fstream file(dir / "big.db", std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>((farTrunk - 1) * kPageSize));
    file.write(reinterpret_cast<const char*>(trunkPage.data()), kPageSize);
    file.seekp(static_cast<std::streamoff>((farLeaf - 1) * kPageSize));
    file.write(reinterpret_cast<const char*>(&original[(freedLeaf - 1) * kPageSize]), kPageSize);
    ASSERT_TRUE(file.good());
  }
  SqliteDbReader reader;
  ASSERT_EQ(reader.Open(dir / "big.db"), kOk);
  EXPECT_GT(reader.FileSize(), 5ull << 30);
  ASSERT_EQ(reader.FreePages(), std::vector<PageIndex>{static_cast<PageIndex>(farLeaf - 1)});
  std::vector<ScannedRow> rows;
  ASSERT_EQ(ScanRows(reader, "handle", rows), kOk);
  std::size_t fromFarPage = 0;
  for (const ScannedRow& row : rows)
    if (row.deleted == 1 && row.mode == RecordMode::kFullCell) ++fromFarPage;
  EXPECT_GT(fromFarPage, 5u);
}

}  // namespace
}  // namespace corvyn::sqlite
