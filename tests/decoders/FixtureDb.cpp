#include "tests/decoders/FixtureDb.h"

#include <sqlite3.h>

#include <atomic>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>

namespace corvyn::testing {
namespace {

std::atomic<int> folderCounter{0};

void Check(int code, sqlite3* handle, const std::string& what) {
  if (code != SQLITE_OK && code != SQLITE_DONE && code != SQLITE_ROW) {
    throw std::runtime_error(what + ": " + (handle ? sqlite3_errmsg(handle) : "no handle"));
  }
}

}  // namespace

TempFolder::TempFolder() {
  const auto base = std::filesystem::temp_directory_path();
  // Every test runs in its own process (in parallel under CTest): the name
  // must differ between processes, so it is drawn from random_device and the
  // folder is created fresh, never reused.
  std::random_device entropy;
  for (;;) {
    const auto stamp = std::to_string(entropy()) + "-" + std::to_string(folderCounter.fetch_add(1));
    path_ = base / ("corvyn-decoders-" + stamp);
    if (std::filesystem::create_directories(path_)) break;
  }
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

FixtureDb::FixtureDb(const std::filesystem::path& path) {
  std::filesystem::remove(path);
  Check(sqlite3_open(path.string().c_str(), &handle_), handle_, "open " + path.string());
  Exec(
      "PRAGMA page_size=4096; PRAGMA secure_delete=OFF; PRAGMA journal_mode=DELETE; PRAGMA "
      "auto_vacuum=NONE;");
}

FixtureDb::~FixtureDb() {
  Close();
}

void FixtureDb::Close() {
  if (handle_ != nullptr) sqlite3_close(handle_);
  handle_ = nullptr;
}

void FixtureDb::Exec(const std::string& sql) {
  char* message = nullptr;
  const int code = sqlite3_exec(handle_, sql.c_str(), nullptr, nullptr, &message);
  const std::string text = message ? message : "";
  sqlite3_free(message);
  if (code != SQLITE_OK) throw std::runtime_error(sql + ": " + text);
}

void FixtureDb::CreateTable(const std::string& name, int columnCount) {
  std::string sql = "CREATE TABLE " + name + " (c0 INTEGER PRIMARY KEY";
  for (int column = 1; column < columnCount; ++column) sql += ", c" + std::to_string(column);
  sql += ")";
  Exec(sql);
  columnCounts_[name] = columnCount;
}

int64_t FixtureDb::Insert(const std::string& table, const FixtureRow& row, int64_t rowid) {
  const int count = columnCounts_.at(table);
  std::string sql = "INSERT INTO " + table + " VALUES (";
  for (int column = 0; column < count; ++column) sql += column == 0 ? "?" : ", ?";
  sql += ")";
  sqlite3_stmt* statement = nullptr;
  Check(sqlite3_prepare_v2(handle_, sql.c_str(), -1, &statement, nullptr), handle_, sql);
  if (rowid != 0) sqlite3_bind_int64(statement, 1, rowid);
  for (const auto& [column, value] : row) {
    if (column == 0 || column >= count) throw std::runtime_error("bad fixture column");
    const int slot = column + 1;
    if (const auto* integer = std::get_if<int64_t>(&value)) {
      sqlite3_bind_int64(statement, slot, *integer);
    } else if (const auto* real = std::get_if<double>(&value)) {
      sqlite3_bind_double(statement, slot, *real);
    } else if (const auto* text = std::get_if<std::string>(&value)) {
      sqlite3_bind_text(statement, slot, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
    }
  }
  const int code = sqlite3_step(statement);
  sqlite3_finalize(statement);
  Check(code, handle_, sql);
  return sqlite3_last_insert_rowid(handle_);
}

void FixtureDb::Delete(const std::string& table, int64_t rowid) {
  Exec("DELETE FROM " + table + " WHERE rowid = " + std::to_string(rowid));
}

void CreateMessageTables(FixtureDb& db) {
  db.CreateTable("message", 38);
  db.CreateTable("handle", 5);
  db.CreateTable("attachment", 9);
  // message_attachment_join has no rowid alias: columns 0 and 1 are data.
  db.Exec("CREATE TABLE message_attachment_join (message_id INTEGER, attachment_id INTEGER)");
}

void CreateAddressBookTable(FixtureDb& db) {
  db.CreateTable("ABPersonFullTextSearch_content", 24);
}
void CreateOldCallTable(FixtureDb& db) {
  db.CreateTable("call", 13);
}
void CreateCallRecordTable(FixtureDb& db) {
  db.CreateTable("ZCALLRECORD", 17);
}

void CreateNoteTables(FixtureDb& db) {
  db.CreateTable("ZNOTE", 19);
  db.CreateTable("ZNOTEBODY", 7);
}

void CreateWhatsAppTables(FixtureDb& db, int messageColumns) {
  const bool newer = messageColumns >= 28;
  db.CreateTable("ZWACHATSESSION", newer ? 20 : 18);
  db.CreateTable("ZWAGROUPMEMBER", newer ? 11 : 10);
  db.CreateTable("ZWAMESSAGE", messageColumns);
}

std::filesystem::path CopySample(const std::filesystem::path& sample, const std::filesystem::path& folder) {
  const auto target = folder / sample.filename();
  std::filesystem::copy_file(sample, target, std::filesystem::copy_options::overwrite_existing);
  for (const char* suffix : {"-wal", "-shm"}) {
    const std::filesystem::path companion = sample.string() + suffix;
    if (std::filesystem::exists(companion)) {
      std::filesystem::copy_file(companion, target.string() + suffix,
                                 std::filesystem::copy_options::overwrite_existing);
    }
  }
  std::filesystem::permissions(target, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  return target;
}

std::filesystem::path ExternalTestData() {
  if (const char* fromEnvironment = std::getenv("CORVYN_TESTDATA")) {
    if (std::filesystem::exists(fromEnvironment)) return fromEnvironment;
  }
#ifdef CORVYN_EXTERNAL_TESTDATA
  if (std::filesystem::exists(CORVYN_EXTERNAL_TESTDATA)) return CORVYN_EXTERNAL_TESTDATA;
#endif
  return {};
}

}  // namespace corvyn::testing
