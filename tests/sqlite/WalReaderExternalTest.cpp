// The reader on the real databases of the external test data that were
// published with their `-wal` (copies): every table's live rows are the ones
// the SQLite library shows with the log applied, and rows the log removed
// from the main file come out as deleted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "sqlite/WalFile.h"
#include "tests/sqlite/ReaderTestSupport.h"
#include "tests/support/sqlite_fixtures/WalFixture.h"

namespace corvyn::sqlite {
namespace {

using corvyn::testing::CopyWithCompanions;
using corvyn::testing::LibraryRows;
using corvyn::testing::WithSuffix;

std::filesystem::path ExternalData() {
  if (const char* overridden = std::getenv("CORVYN_TESTDATA")) return overridden;
  return CORVYN_EXTERNAL_TESTDATA;
}

struct RealBook {
  const char* folder;  // under abrignoni__iLEAPP/admin/test/cases/data/addressBook/
  const char* path;    // of the database below the folder
  uint64_t pageCount;  // with the log applied
};

TEST(WalReaderExternal, AddressBooksOfIos14To16MatchTheLibraryWithTheirLogs) {
  const RealBook books[] = {
      {"testdata.addressBook.addressBook.mvs_ios_2023",
       "private/var/mobile/Library/AddressBook/AddressBook.sqlitedb", 75},
      {"testdata.addressBook.addressBook.josh_ios15_ffs",
       "filesystem2/mobile/Library/AddressBook/AddressBook.sqlitedb", 0},
      {"testdata.addressBook.addressBook.belkasoft_ctf6_ios_device1",
       "private/var/mobile/Library/AddressBook/AddressBook.sqlitedb", 75},
  };
  const std::filesystem::path root = ExternalData() / "abrignoni__iLEAPP/admin/test/cases/data/addressBook";
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "external test data not found at " << root;
  for (const RealBook& book : books) {
    SCOPED_TRACE(book.folder);
    const std::filesystem::path source = root / book.folder / book.path;
    ASSERT_TRUE(std::filesystem::exists(WithSuffix(source, "-wal")));
    test::TempDir dir;
    const std::filesystem::path copy = dir / "AddressBook.sqlitedb";
    CopyWithCompanions(source, copy);
    std::filesystem::remove(WithSuffix(copy, "-shm"));

    SqliteDbReader reader;
    ASSERT_EQ(reader.Open(copy), kOk);
    EXPECT_EQ(reader.WalState(), WalVerdict::kApplied) << WalVerdictText(reader.WalState());
    if (book.pageCount != 0) {
      EXPECT_EQ(reader.PageCount(), book.pageCount);
    }
    for (const char* table :
         {"ABPerson", "ABMultiValue", "ABPersonFullTextSearch_content", "ABPersonChanges"}) {
      SCOPED_TRACE(table);
      const auto expected = LibraryRows(copy, table);
      std::vector<test::ScannedRow> rows;
      ASSERT_EQ(test::ScanRows(reader, table, rows), kOk);
      std::map<int64_t, std::vector<std::string>> live;
      for (const auto& row : rows) {
        if (row.deleted != 0) continue;
        // Text columns as the library gives them; other columns are compared
        // by rowid only (the library prints numbers as text).
        std::vector<std::string> texts = row.texts;
        texts.resize(expected.count(row.rowId) ? expected.at(row.rowId).size() : texts.size());
        live[row.rowId] = texts;
      }
      ASSERT_EQ(live.size(), expected.size());
      std::size_t comparedTexts = 0;
      for (const auto& [rowid, columns] : expected) {
        ASSERT_EQ(live.count(rowid), 1u) << rowid;
        for (std::size_t column = 0; column < columns.size(); ++column) {
          if (!live.at(rowid)[column].empty()) {
            EXPECT_EQ(live.at(rowid)[column], columns[column]) << rowid;
            ++comparedTexts;
          }
        }
      }
      if (!expected.empty()) {
        EXPECT_GT(comparedTexts, 0u);
      }
      if (std::string(table) == "ABPerson" &&
          std::string(book.folder).find("belkasoft") != std::string::npos) {
        ASSERT_EQ(live.size(), 1u);
        const std::vector<std::string>& person = live.begin()->second;
        EXPECT_NE(std::find(person.begin(), person.end(), "William"), person.end());
        EXPECT_NE(std::find(person.begin(), person.end(), "Phorger"), person.end());
      }
      if (std::string(table) == "ABPerson")
        std::printf("%s: ABPerson %zu live, %zu page versions in history\n", book.folder, live.size(),
                    reader.HistoricalPageVersions());
    }
  }
}

// Tables with rowids, through the library on a copy with the log applied.
std::vector<std::string> LibraryRowidTables(const std::filesystem::path& database) {
  std::vector<std::string> tables;
  for (const auto& [rowid, row] : LibraryRows(database, "sqlite_master")) {
    (void)rowid;
    // type, name, tbl_name, rootpage, sql
    if (row.size() == 5 && row[0] == "table" && row[3] != "0" &&
        row[4].find("WITHOUT ROWID") == std::string::npos)
      tables.push_back(row[1]);
  }
  return tables;
}

TEST(WalReaderExternal, EveryRealDatabaseWithALogHasTheLibrarysLiveRowids) {
  const std::filesystem::path root = ExternalData();
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "external test data not found at " << root;
  int databases = 0;
  int tables = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || !name.ends_with("-wal")) continue;
    const std::filesystem::path source = entry.path().parent_path() / name.substr(0, name.size() - 4);
    if (!std::filesystem::exists(source)) continue;
    SCOPED_TRACE(source.string());
    test::TempDir dir;
    const std::filesystem::path copy = dir / "db";
    CopyWithCompanions(source, copy);
    std::filesystem::remove(WithSuffix(copy, "-shm"));
    SqliteDbReader reader;
    ASSERT_EQ(reader.Open(copy), kOk);
    ++databases;
    for (const std::string& table : LibraryRowidTables(copy)) {
      SCOPED_TRACE(table);
      std::vector<test::ScannedRow> rows;
      EXPECT_EQ(test::ScanRows(reader, table, rows), kOk);
      std::vector<int64_t> live;
      for (const auto& row : rows)
        if (row.deleted == 0) live.push_back(row.rowId);
      std::sort(live.begin(), live.end());
      std::vector<int64_t> expected;
      for (const auto& [rowid, columns] : LibraryRows(copy, table)) expected.push_back(rowid);
      EXPECT_EQ(live, expected);
      ++tables;
    }
  }
  std::printf("external with logs: %d databases, %d tables compared\n", databases, tables);
  EXPECT_GE(databases, 6);
}

// The main file of the iOS 15 book still holds rows the log has since
// removed: they come out as deleted.
TEST(WalReaderExternal, RowsTheLogRemovedFromTheMainFileComeOutAsDeleted) {
  const std::filesystem::path source =
      ExternalData() /
      "abrignoni__iLEAPP/admin/test/cases/data/addressBook/testdata.addressBook.addressBook.josh_ios15_ffs/"
      "filesystem2/mobile/Library/AddressBook/AddressBook.sqlitedb";
  if (!std::filesystem::exists(source)) GTEST_SKIP() << "external test data not found at " << source;
  test::TempDir dir;
  const std::filesystem::path mainOnly = dir / "main.sqlitedb";
  std::filesystem::copy_file(source, mainOnly);
  const std::filesystem::path copy = dir / "AddressBook.sqlitedb";
  CopyWithCompanions(source, copy);
  std::filesystem::remove(WithSuffix(copy, "-shm"));

  std::set<int64_t> removed;
  const auto replayed = LibraryRows(copy, "ABPersonChanges");
  for (const int64_t rowid : test::LibraryRowIds(mainOnly, "ABPersonChanges"))
    if (!replayed.count(rowid)) removed.insert(rowid);
  ASSERT_FALSE(removed.empty());

  SqliteDbReader reader;
  ASSERT_EQ(reader.Open(copy), kOk);
  std::vector<test::ScannedRow> rows;
  ASSERT_EQ(test::ScanRows(reader, "ABPersonChanges", rows), kOk);
  std::set<int64_t> deleted;
  for (const auto& row : rows)
    if (row.deleted != 0 && row.mode == RecordMode::kFullCell) deleted.insert(row.rowId);
  for (const int64_t rowid : removed) EXPECT_EQ(deleted.count(rowid), 1u) << rowid;
}

}  // namespace
}  // namespace corvyn::sqlite
