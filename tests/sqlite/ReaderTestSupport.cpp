#include "tests/sqlite/ReaderTestSupport.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

#include "sqlite/ByteOrder.h"
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

namespace {

// The page (1-based) of a file of 1 KiB pages whose bytes hold `text`, and
// the start and end of the cell that holds it.
struct CellPlace {
  std::size_t page = 0;
  std::size_t start = 0;
  std::size_t end = 0;
};

constexpr std::size_t kCopyPageSize = 1024;

CellPlace CellHolding(const std::string& file, const std::string& text) {
  const std::size_t at = file.find(text);
  if (at == std::string::npos) return {};
  const std::size_t page = at / kCopyPageSize;
  const auto* bytes = reinterpret_cast<const uint8_t*>(file.data()) + page * kCopyPageSize;
  const std::size_t within = at % kCopyPageSize;
  std::vector<std::size_t> starts;
  for (uint32_t i = 0, count = ReadBigEndian16(bytes + 3); i < count; ++i)
    starts.push_back(ReadBigEndian16(bytes + 8 + 2 * i));
  std::sort(starts.begin(), starts.end());
  CellPlace place{page + 1, 0, kCopyPageSize};
  for (const std::size_t start : starts) {
    if (start <= within) place.start = start;
    if (start > within) {
      place.end = start;
      break;
    }
  }
  return place;
}

}  // namespace

bool CopyCellIntoLastLeaf(const std::filesystem::path& database, const std::string& firstText,
                          const std::string& lastText, const std::string& changedStart) {
  std::string file;
  {
    std::ifstream in(database, std::ios::binary);
    file.assign(std::istreambuf_iterator<char>(in), {});
  }
  const CellPlace first = CellHolding(file, firstText);
  const CellPlace last = CellHolding(file, lastText);
  if (first.page == 0 || last.page <= first.page || first.start == 0) return false;
  const std::string cell =
      file.substr((first.page - 1) * kCopyPageSize + first.start, first.end - first.start);
  if (cell.size() < 2 || static_cast<uint8_t>(cell[1]) >= 0x80) return false;  // a one-byte rowid
  std::string changed = cell;
  changed[1] = 0x7f;
  const std::size_t text = changed.find(firstText);
  if (text == std::string::npos || changedStart.size() > firstText.size()) return false;
  changed.replace(text, changedStart.size(), changedStart);
  const std::size_t lastPage = (last.page - 1) * kCopyPageSize;
  const auto* lastBytes = reinterpret_cast<const uint8_t*>(file.data()) + lastPage;
  const std::size_t gapStart = 8 + 2 * ReadBigEndian16(lastBytes + 3);
  const std::size_t contentStart = ReadBigEndian16(lastBytes + 5);
  if (contentStart < gapStart + 2 * cell.size() + 8) return false;
  file.replace(lastPage + contentStart - cell.size(), cell.size(), cell);
  file.replace(lastPage + contentStart - 2 * cell.size() - 4, cell.size(), changed);
  std::ofstream out(database, std::ios::binary | std::ios::trunc);
  out << file;
  return static_cast<bool>(out);
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
