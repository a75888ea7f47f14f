#include "tests/sqlite/ReaderTestSupport.h"

#include <random>

#include "sqlite/RecordDecoders.h"

namespace corvyn::sqlite::test {

std::vector<int64_t> LibraryRowIds(const std::filesystem::path& database, const std::string& table) {
  std::vector<int64_t> ids;
  sqlite3* db = nullptr;
  const std::string uri = "file:" + database.string() + "?mode=ro&immutable=1";
  if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return ids;
  }
  sqlite3_stmt* statement = nullptr;
  const std::string sql = "SELECT rowid FROM \"" + table + "\" ORDER BY rowid";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
    while (sqlite3_step(statement) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(statement, 0));
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return ids;
}

Status ScanRows(SqliteDbReader& reader, const std::string& table, std::vector<ScannedRow>& rows,
                bool scanFreePages, int* rejected) {
  ParsedRecord record;
  TableProfile profile = ProfileFor(table);
  profile.scanFreePages = scanFreePages;
  return reader.ScanTable(profile, [&](SqliteDbReader& r, const RecordLocation& location) -> Status {
    const Status status = ParseRecord(r, location, profile.columnCount, record);
    if (status != kOk) {
      if (rejected) ++*rejected;
      return status;
    }
    ScannedRow row;
    row.rowId = record.rowId;
    row.deleted = location.deleted;
    row.mode = location.mode;
    row.columnCount = record.columns.size();
    for (std::size_t i = 0; i < record.columns.size(); ++i) {
      const ColumnValue* value = record.Column(i);
      row.texts.emplace_back(value ? std::string(value->Text()) : std::string());
      row.integers.push_back(value && value->IsInteger() ? value->integer : 0);
    }
    rows.push_back(std::move(row));
    return kOk;
  });
}

}  // namespace corvyn::sqlite::test
