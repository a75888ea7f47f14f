// The reader on the real databases of the external test data (copies, main
// file only): every table's live rowids equal what the SQLite library
// returns for the same file, and scanning with carving does not fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "tests/sqlite/ReaderTestSupport.h"

namespace corvyn::sqlite {
namespace {

std::filesystem::path ExternalData() {
  if (const char* overridden = std::getenv("CORVYN_TESTDATA")) return overridden;
  return CORVYN_EXTERNAL_TESTDATA;
}

// An SQLite file whose text is UTF-8 (header bytes 56-59 hold 1; 0 in an
// empty file). The reader takes all text as UTF-8, as the phone's databases
// are, so it cannot find table names stored in UTF-16.
bool LooksLikeUtf8Sqlite(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  unsigned char header[60] = {};
  file.read(reinterpret_cast<char*>(header), sizeof header);
  return file && std::string(reinterpret_cast<char*>(header), 15) == "SQLite format 3" && header[56] == 0 &&
         header[57] == 0 && header[58] == 0 && header[59] <= 1;
}

// Tables with rowids, through the library.
std::vector<std::string> RowidTables(const std::filesystem::path& database) {
  std::vector<std::string> tables;
  sqlite3* db = nullptr;
  const std::string uri = "file:" + database.string() + "?mode=ro&immutable=1";
  if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type='table' AND rootpage > 0", -1,
                           &statement, nullptr) == SQLITE_OK) {
      while (sqlite3_step(statement) == SQLITE_ROW) {
        tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
      }
    }
    sqlite3_finalize(statement);
    // WITHOUT ROWID tables are index b-trees, which the reader does not read.
    std::erase_if(tables, [&](const std::string& table) {
      sqlite3_stmt* probe = nullptr;
      const std::string sql = "SELECT rowid FROM \"" + table + "\" LIMIT 1";
      const bool rowid = sqlite3_prepare_v2(db, sql.c_str(), -1, &probe, nullptr) == SQLITE_OK;
      sqlite3_finalize(probe);
      return !rowid;
    });
  }
  sqlite3_close(db);
  return tables;
}

// The library's own verdict on the file ("ok" from PRAGMA quick_check). The
// corpus holds files damaged on purpose; on those the library and the reader
// legitimately differ, and only a clean scan is required.
bool LibraryFindsFileSound(const std::filesystem::path& database) {
  sqlite3* db = nullptr;
  bool sound = false;
  const std::string uri = "file:" + database.string() + "?mode=ro&immutable=1";
  if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      const auto* text = sqlite3_column_text(statement, 0);
      sound = text && std::string(reinterpret_cast<const char*>(text)) == "ok";
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return sound;
}

TEST(ReaderExternal, LiveRowsOfRealDatabasesMatchTheSqliteLibrary) {
  const std::filesystem::path root = ExternalData();
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "external test data not found at " << root;
  test::TempDir dir;
  int databases = 0;
  int tables = 0;
  int damaged = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file() || !LooksLikeUtf8Sqlite(entry.path())) continue;
    const std::string name = entry.path().filename().string();
    if (name.ends_with("-wal") || name.ends_with("-shm") || name.ends_with("-journal")) continue;
    SCOPED_TRACE(entry.path().string());
    const std::filesystem::path copy = dir / ("db" + std::to_string(databases++));
    std::filesystem::copy_file(entry.path(), copy);
    std::filesystem::permissions(copy,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    SqliteDbReader reader;
    ASSERT_EQ(reader.Open(copy), kOk);
    const bool sound = LibraryFindsFileSound(copy);
    if (!sound) ++damaged;
    for (const std::string& table : RowidTables(copy)) {
      SCOPED_TRACE(table);
      std::vector<test::ScannedRow> rows;
      const Status status = test::ScanRows(reader, table, rows);
      if (!sound) continue;
      EXPECT_EQ(status, kOk);
      std::vector<int64_t> live;
      for (const auto& row : rows)
        if (row.deleted == 0) live.push_back(row.rowId);
      std::sort(live.begin(), live.end());
      EXPECT_EQ(live, test::LibraryRowIds(copy, table));
      ++tables;
    }
    std::filesystem::remove(copy);
  }
  std::printf("external: %d databases (%d damaged on purpose, scanned only), %d tables compared\n", databases,
              damaged, tables);
  EXPECT_GT(databases, 10);
}

}  // namespace
}  // namespace corvyn::sqlite
