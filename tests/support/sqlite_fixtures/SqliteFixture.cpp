#include "tests/support/sqlite_fixtures/SqliteFixture.h"

#include <sqlite3.h>

#include <fstream>
#include <sstream>

namespace corvyn::testing {
namespace {

uint32_t Be16(const std::vector<uint8_t>& b, std::size_t at) {
  return static_cast<uint32_t>(b[at]) << 8 | b[at + 1];
}
uint32_t Be32(const std::vector<uint8_t>& b, std::size_t at) {
  return static_cast<uint32_t>(b[at]) << 24 | static_cast<uint32_t>(b[at + 1]) << 16 |
         static_cast<uint32_t>(b[at + 2]) << 8 | b[at + 3];
}
// A varint of the file format; `at` moves past it.
uint64_t Varint(const std::vector<uint8_t>& b, std::size_t& at) {
  uint64_t value = 0;
  for (int i = 0; i < 9 && at < b.size(); ++i) {
    const uint8_t byte = b[at++];
    if (i == 8) return value << 8 | byte;
    value = value << 7 | (byte & 0x7f);
    if (!(byte & 0x80)) break;
  }
  return value;
}

bool Bind(sqlite3_stmt* statement, int index, const FixtureValue& value) {
  int rc = SQLITE_OK;
  if (std::holds_alternative<std::nullptr_t>(value)) {
    rc = sqlite3_bind_null(statement, index);
  } else if (const auto* integer = std::get_if<int64_t>(&value)) {
    rc = sqlite3_bind_int64(statement, index, *integer);
  } else if (const auto* real = std::get_if<double>(&value)) {
    rc = sqlite3_bind_double(statement, index, *real);
  } else if (const auto* text = std::get_if<std::string>(&value)) {
    rc = sqlite3_bind_text(statement, index, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
  } else {
    const auto& blob = std::get<FixtureBlob>(value).bytes;
    rc = sqlite3_bind_blob(statement, index, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
  }
  return rc == SQLITE_OK;
}

}  // namespace

std::vector<int64_t> GroundTruth::LiveRowIds(const std::string& table) const {
  std::vector<int64_t> ids;
  if (auto it = live.find(table); it != live.end())
    for (const auto& [id, row] : it->second) ids.push_back(id);
  return ids;
}

std::vector<int64_t> GroundTruth::DeletedRowIds(const std::string& table) const {
  std::vector<int64_t> ids;
  if (auto it = deleted.find(table); it != deleted.end())
    for (const auto& [id, row] : it->second) ids.push_back(id);
  return ids;
}

std::string ToText(const FixtureValue& value) {
  if (std::holds_alternative<std::nullptr_t>(value)) return "NULL";
  if (const auto* integer = std::get_if<int64_t>(&value)) return std::to_string(*integer);
  if (const auto* real = std::get_if<double>(&value)) {
    std::ostringstream out;
    out.precision(17);
    out << *real;
    return out.str();
  }
  if (const auto* text = std::get_if<std::string>(&value)) return "'" + *text + "'";
  return "blob(" + std::to_string(std::get<FixtureBlob>(value).bytes.size()) + ")";
}

std::unique_ptr<FixtureDatabase> FixtureDatabase::Create(const std::filesystem::path& path,
                                                         const FixtureOptions& options, std::string* error) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  std::filesystem::remove(path.string() + "-journal", ignored);
  std::unique_ptr<FixtureDatabase> database(new FixtureDatabase());
  database->path_ = path;
  database->pageSize_ = options.pageSize;
  if (sqlite3_open(path.c_str(), &database->db_) != SQLITE_OK) {
    if (error) *error = database->db_ ? sqlite3_errmsg(database->db_) : "sqlite3_open failed";
    return nullptr;
  }
  const std::string setup = "PRAGMA page_size=" + std::to_string(options.pageSize) +
                            "; PRAGMA auto_vacuum=NONE; PRAGMA journal_mode=DELETE; PRAGMA secure_delete=" +
                            (options.secureDelete ? "ON" : "OFF") + ";";
  if (!database->Exec(setup)) {
    if (error) *error = database->lastError_;
    return nullptr;
  }
  return database;
}

FixtureDatabase::~FixtureDatabase() {
  Close();
}

void FixtureDatabase::Close() {
  if (db_) sqlite3_close(db_);
  db_ = nullptr;
}

bool FixtureDatabase::Exec(std::string_view sql) {
  if (!db_) {
    lastError_ = "database closed";
    return false;
  }
  char* message = nullptr;
  const std::string text(sql);
  if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    lastError_ = message ? message : "sqlite3_exec failed";
    sqlite3_free(message);
    return false;
  }
  return true;
}

int64_t FixtureDatabase::Insert(const std::string& table, const std::vector<FixtureValue>& values) {
  if (!db_) return -1;
  std::string sql = "INSERT INTO \"" + table + "\" VALUES (";
  for (std::size_t i = 0; i < values.size(); ++i) sql += i ? ",?" : "?";
  sql += ")";
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    lastError_ = sqlite3_errmsg(db_);
    return -1;
  }
  bool ok = true;
  for (std::size_t i = 0; i < values.size() && ok; ++i)
    ok = Bind(statement, static_cast<int>(i + 1), values[i]);
  ok = ok && sqlite3_step(statement) == SQLITE_DONE;
  if (!ok) lastError_ = sqlite3_errmsg(db_);
  sqlite3_finalize(statement);
  if (!ok) return -1;
  const int64_t rowId = sqlite3_last_insert_rowid(db_);
  truth_.live[table][rowId] = FixtureRow{rowId, values};
  return rowId;
}

bool FixtureDatabase::Delete(const std::string& table, const std::vector<int64_t>& rowIds) {
  if (!db_ || !Exec("BEGIN")) return false;
  sqlite3_stmt* statement = nullptr;
  const std::string sql = "DELETE FROM \"" + table + "\" WHERE rowid = ?";
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    lastError_ = sqlite3_errmsg(db_);
    Exec("ROLLBACK");
    return false;
  }
  bool ok = true;
  for (const int64_t rowId : rowIds) {
    sqlite3_reset(statement);
    sqlite3_bind_int64(statement, 1, rowId);
    if (sqlite3_step(statement) != SQLITE_DONE) {
      lastError_ = sqlite3_errmsg(db_);
      ok = false;
      break;
    }
    auto& live = truth_.live[table];
    if (auto it = live.find(rowId); it != live.end()) {
      truth_.deleted[table][rowId] = std::move(it->second);
      live.erase(it);
    }
  }
  sqlite3_finalize(statement);
  if (!ok) {
    Exec("ROLLBACK");
    return false;
  }
  return Exec("COMMIT");
}

bool FixtureDatabase::DeleteAll(const std::string& table) {
  if (!Exec("DELETE FROM \"" + table + "\"")) return false;
  auto& live = truth_.live[table];
  for (auto& [rowId, row] : live) truth_.deleted[table][rowId] = std::move(row);
  live.clear();
  return true;
}

std::map<uint32_t, std::vector<int64_t>> FixtureDatabase::RowIdsByLeafPage(const std::string& table) {
  std::map<uint32_t, std::vector<int64_t>> result;
  if (!db_) return result;
  sqlite3_stmt* statement = nullptr;
  const std::string sql = "SELECT rootpage FROM sqlite_master WHERE type='table' AND name=?";
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) return result;
  sqlite3_bind_text(statement, 1, table.c_str(), -1, SQLITE_TRANSIENT);
  uint32_t root = 0;
  if (sqlite3_step(statement) == SQLITE_ROW) root = static_cast<uint32_t>(sqlite3_column_int64(statement, 0));
  sqlite3_finalize(statement);
  if (root == 0) return result;

  std::ifstream file(path_, std::ios::binary);
  std::vector<uint32_t> pending{root};
  std::vector<uint8_t> page(pageSize_);
  for (std::size_t guard = 0; !pending.empty() && guard < 1000000; ++guard) {
    const uint32_t number = pending.back();
    pending.pop_back();
    file.seekg(static_cast<std::streamoff>(number - 1) * pageSize_);
    if (!file.read(reinterpret_cast<char*>(page.data()), pageSize_)) return {};
    const std::size_t header = number == 1 ? 100 : 0;
    const uint8_t type = page[header];
    const uint32_t cells = Be16(page, header + 3);
    const std::size_t array = header + (type == 5 ? 12 : 8);
    if (type == 5) {
      pending.push_back(Be32(page, header + 8));
      for (uint32_t i = 0; i < cells; ++i) pending.push_back(Be32(page, Be16(page, array + 2 * i)));
    } else if (type == 13) {
      auto& rowIds = result[number - 1];
      for (uint32_t i = 0; i < cells; ++i) {
        std::size_t at = Be16(page, array + 2 * i);
        Varint(page, at);
        rowIds.push_back(static_cast<int64_t>(Varint(page, at)));
      }
    }
  }
  return result;
}

}  // namespace corvyn::testing
