// The reader on whole files: opening, live rows against the SQLite library,
// the free list, overflow chains, 64-bit offsets, and hostile files whose
// chains loop or whose pages cannot be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "sqlite/ByteOrder.h"
#include "sqlite/RecordParser.h"
#include "sqlite/SqliteDbReader.h"
#include "tests/sqlite/ReaderTestSupport.h"
#include "tests/support/sqlite_fixtures/AppSchemas.h"
#include "tests/support/sqlite_fixtures/PagePatch.h"

namespace corvyn::sqlite {
namespace {

using test::ScannedRow;
using test::ScanRows;
using test::TempDir;
using testing::FixtureDatabase;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

std::vector<int64_t> LiveRowIds(const std::vector<ScannedRow>& rows) {
  std::vector<int64_t> ids;
  for (const ScannedRow& row : rows)
    if (row.deleted == 0) ids.push_back(row.rowId);
  std::sort(ids.begin(), ids.end());
  return ids;
}

// A table of `rows` rows with a short text each, in a database of the page size.
std::unique_ptr<FixtureDatabase> NotesDatabase(const std::filesystem::path& path, uint32_t pageSize, int rows,
                                               std::size_t textLength = 40) {
  auto database = FixtureDatabase::Create(path, {pageSize});
  if (!database || !database->Exec("CREATE TABLE note (id INTEGER PRIMARY KEY, body TEXT, n INTEGER)") ||
      !database->Exec("CREATE INDEX note_n ON note(n)") || !database->Begin())
    return nullptr;
  for (int i = 1; i <= rows; ++i) {
    std::string body = "note " + std::to_string(i) + " ";
    body.resize(textLength, 'x');
    if (database->Insert("note", {nullptr, body, int64_t{i}}) < 0) return nullptr;
  }
  if (!database->Commit()) return nullptr;
  database->Close();
  return database;
}

TEST(ReaderOpen, ChecksTheHeaderAndPageSize) {
  TempDir dir;
  ASSERT_NE(NotesDatabase(dir / "good.db", 4096, 3), nullptr);
  const std::vector<uint8_t> good = ReadFileBytes(dir / "good.db");
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> patch;
    Status expected;
  };
  const Case cases[] = {
      {"valid", [](auto&) {}, kOk},
      {"header in other letter case", [](auto& b) { std::memcpy(b.data(), "sqlite FORMAT 3", 15); }, kOk},
      {"other header", [](auto& b) { b[3] = 'X'; }, kInvalidData},
      {"page size 65536 (stored as 1)",
       [](auto& b) {
         b[16] = 0;
         b[17] = 1;
       },
       kInvalidData},
      {"page size not a power of two",
       [](auto& b) {
         b[16] = 0x0f;
         b[17] = 0xa0;
       },
       kInvalidData},
      {"page size 0",
       [](auto& b) {
         b[16] = 0;
         b[17] = 0;
       },
       kInvalidData},
      {"shorter than the header", [](auto& b) { b.resize(60); }, kInvalidData},
      {"empty", [](auto& b) { b.clear(); }, kInvalidData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = good;
    c.patch(bytes);
    ASSERT_TRUE(WriteFileBytes(dir / "case.db", bytes));
    SqliteDbReader reader;
    EXPECT_EQ(reader.Open(dir / "case.db"), c.expected);
    EXPECT_EQ(reader.IsOpen(), c.expected == kOk);
  }
  SqliteDbReader reader;
  EXPECT_EQ((reader.Open(dir / "missing.db")).systemError(), ENOENT);
  EXPECT_EQ((reader.Open(dir.Path())).systemError(), EISDIR);
  EXPECT_FALSE(reader.IsOpen());
  std::vector<uint8_t> page;
  EXPECT_EQ(reader.ReadPage(0, page), kInvalidData);
}

TEST(ReaderScan, LiveRowsMatchTheSqliteLibraryForEveryPageSize) {
  // Small pages make trees of three and more levels and a schema that spans pages.
  struct Case {
    uint32_t pageSize;
    int rows;
  };
  const Case cases[] = {{512, 3000}, {1024, 2000}, {4096, 2000}, {32768, 500}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pageSize);
    TempDir dir;
    auto database = NotesDatabase(dir / "notes.db", c.pageSize, c.rows, 60);
    ASSERT_NE(database, nullptr);
    SqliteDbReader reader;
    ASSERT_EQ(reader.Open(dir / "notes.db"), kOk);
    EXPECT_EQ(reader.PageSize(), c.pageSize);
    std::vector<ScannedRow> rows;
    ASSERT_EQ(ScanRows(reader, "note", rows), kOk);
    EXPECT_EQ(LiveRowIds(rows), test::LibraryRowIds(dir / "notes.db", "note"));
    for (const ScannedRow& row : rows) {
      ASSERT_EQ(row.columnCount, 3u);
      EXPECT_EQ(row.integers[2], row.rowId);  // column n repeats the rowid
      EXPECT_EQ(row.texts[1].substr(0, 5 + std::to_string(row.rowId).size()),
                "note " + std::to_string(row.rowId));
    }
  }
}

TEST(ReaderScan, CopiesOfLiveRowsMetLateInTheWalkAreNoDeletedRows) {
  // Nothing was ever deleted (and secure delete kept the root's old cells
  // from staying behind when it split), so the scan meets no free space
  // holding a record until the table's last leaf: copies of a cell of its
  // first leaf written there. The exact copy is no deleted row although the
  // first leaf was walked long before; a copy with another address is one.
  TempDir dir;
  const std::filesystem::path path = dir / "sms.db";
  const auto address = [](int i) { return "handle " + std::to_string(i) + " of the list"; };
  {
    auto database = FixtureDatabase::Create(path, {1024});
    ASSERT_TRUE(database);
    std::string sql = "PRAGMA secure_delete = ON; " + testing::HandleTable().CreateSql() + "; BEGIN;";
    for (int i = 1; i <= 150; ++i)
      sql +=
          "INSERT INTO handle VALUES (" + std::to_string(i) + ", '" + address(i) + "', 'de', 'SMS', NULL);";
    ASSERT_TRUE(database->Exec(sql + "COMMIT")) << database->LastError();
  }
  ASSERT_TRUE(test::CopyCellIntoLastLeaf(path, address(2), address(150), "HANDLE"));

  SqliteDbReader reader;
  ASSERT_EQ(reader.Open(path), kOk);
  std::vector<ScannedRow> rows;
  ASSERT_EQ(ScanRows(reader, "handle", rows), kOk);
  EXPECT_EQ(LiveRowIds(rows).size(), 150u);
  std::vector<std::string> deleted;
  for (const ScannedRow& row : rows)
    if (row.deleted != 0) deleted.push_back(row.texts.at(1));
  EXPECT_EQ(deleted, std::vector<std::string>{"HANDLE 2 of the list"});
}

TEST(ReaderScan, SchemaSpanningPagesAndIndexRootsAreWalked) {
  TempDir dir;
  auto database = FixtureDatabase::Create(dir / "many.db", {512});
  ASSERT_NE(database, nullptr);
  for (int t = 0; t < 60; ++t) {
    const std::string name = "table_with_a_rather_long_name_" + std::to_string(t);
    ASSERT_TRUE(database->Exec("CREATE TABLE " + name + " (id INTEGER PRIMARY KEY, v TEXT)"));
    ASSERT_TRUE(database->Exec("CREATE INDEX " + name + "_v ON " + name + "(v)"));
    ASSERT_GE(database->Insert(name, {nullptr, std::string("value ") + std::to_string(t)}), 0);
  }
  database->Close();
  SqliteDbReader reader;
  ASSERT_EQ(reader.Open(dir / "many.db"), kOk);
  std::vector<uint8_t> first;
  ASSERT_EQ(reader.ReadPage(0, first), kOk);
  ASSERT_EQ(first[kFileHeaderSize], kInteriorTablePage);  // the schema no longer fits page 1
  std::map<PageIndex, int64_t> roots;
  ASSERT_EQ(reader.FindTableRoots("table_with_a_rather_long_name_59", roots), kOk);
  EXPECT_EQ(roots.size(), 2u);  // the table and its index
  std::vector<ScannedRow> rows;
  ASSERT_EQ(ScanRows(reader, "table_with_a_rather_long_name_59", rows), kOk);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].texts[1], "value 59");
  roots.clear();
  ASSERT_EQ(reader.FindTableRoots("no_such_table", roots), kOk);
  EXPECT_TRUE(roots.empty());
}

TEST(ReaderScan, OverflowingTextsAreGatheredWhole) {
  TempDir dir;
  auto database = FixtureDatabase::Create(dir / "long.db", {1024});
  ASSERT_NE(database, nullptr);
  ASSERT_TRUE(database->Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, body TEXT)"));
  const std::size_t lengths[] = {900, 1000, 5000, 70000};
  for (const std::size_t length : lengths)
    ASSERT_GE(database->Insert("t", {nullptr, std::string(length, 'a' + length % 26)}), 0);
  database->Close();
  SqliteDbReader reader;
  ASSERT_EQ(reader.Open(dir / "long.db"), kOk);
  std::vector<ScannedRow> rows;
  ASSERT_EQ(ScanRows(reader, "t", rows), kOk);
  ASSERT_EQ(rows.size(), std::size(lengths));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].texts[1], std::string(lengths[i], 'a' + lengths[i] % 26)) << lengths[i];
  }
}

TEST(ReaderScan, OverflowChainsThatLoopOrBreakEndWithoutReadingPastThem) {
  TempDir dir;
  auto database = FixtureDatabase::Create(dir / "long.db", {1024});
  ASSERT_NE(database, nullptr);
  ASSERT_TRUE(database->Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, body TEXT)"));
  ASSERT_GE(database->Insert("t", {nullptr, std::string(8000, 'q')}), 0);
  database->Close();
  const std::vector<uint8_t> original = ReadFileBytes(dir / "long.db");
  // Root of t is page 2; its one cell holds the local part and the first overflow page number.
  SqliteDbReader probe;
  ASSERT_EQ(probe.Open(dir / "long.db"), kOk);
  std::vector<uint8_t> root;
  ASSERT_EQ(probe.ReadPage(1, root), kOk);
  const uint16_t cell = probe.ReadCellPointers(root, 0).at(0);
  const Varint payload = ReadVarint(ByteSpan(root).subspan(cell));
  const std::size_t local = probe.LocalPayloadSize(payload.value);
  const std::size_t linkAt = 1024 + cell + payload.length + 1 + local;  // rowid 1 takes one byte
  const uint32_t firstOverflow = ReadBigEndian32(&original[linkAt]);
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> patch;
  };
  const Case cases[] = {
      {"overflow page links to itself",
       [&](auto& b) { testing::Put32(b, (firstOverflow - 1) * 1024, firstOverflow); }},
      {"chain ends early", [&](auto& b) { testing::Put32(b, (firstOverflow - 1) * 1024, 0); }},
      {"link past the file", [&](auto& b) { testing::Put32(b, linkAt, 0x7fffffff); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = original;
    c.patch(bytes);
    ASSERT_TRUE(WriteFileBytes(dir / "case.db", bytes));
    SqliteDbReader reader;
    ASSERT_EQ(reader.Open(dir / "case.db"), kOk);
    std::vector<uint8_t> page;
    ASSERT_EQ(reader.ReadPage(1, page), kOk);
    // The columns that lie on the page are kept; the text is absent, not garbage.
    ParsedRecord record;
    const RecordLocation location{ByteSpan(page).subspan(cell), cell, 1024, RecordMode::kFullCell, 0};
    ASSERT_EQ(ParseCell(reader, location, record), kOk);
    EXPECT_TRUE(record.truncated);
    EXPECT_EQ(record.columns.size(), 2u);
    EXPECT_EQ(record.Column(1), nullptr);
    std::vector<uint8_t> cellBytes;
    bool overflowed = false;
    EXPECT_EQ(reader.GatherOverflowCell(location, cellBytes, overflowed), kInvalidData);
    EXPECT_TRUE(overflowed);
  }
}

}  // namespace
}  // namespace corvyn::sqlite
