// Feeds arbitrary bytes as the write-ahead log of a small valid database,
// then scans its table live and with carving (which visits the older page
// versions the log holds). Any read outside a buffer, hang or crash is a
// finding; the main file must open whatever the log holds.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "sqlite/RecordDecoders.h"
#include "sqlite/SqliteDbReader.h"
#include "sqlite/TableScans.h"

namespace {

std::filesystem::path DatabasePath() {
  static const std::filesystem::path path = [] {
    std::random_device random;
    const std::filesystem::path made =
        std::filesystem::temp_directory_path() / ("corvyn-wal-fuzz-" + std::to_string(random()) + ".db");
    // The database the corpus logs were written for: a handle table in a
    // 1024-byte-page file with a few rows.
    sqlite3* handle = nullptr;
    if (sqlite3_open(made.c_str(), &handle) != SQLITE_OK) std::abort();
    const char* sql =
        "PRAGMA page_size=1024; CREATE TABLE handle (ROWID INTEGER PRIMARY KEY, id TEXT, country TEXT, "
        "service TEXT, uncanonicalized_id TEXT);"
        "INSERT INTO handle (id, service) VALUES ('+4915112345678', 'SMS'), ('anna@example.com', 'iMessage');"
        "PRAGMA journal_mode=WAL;";
    if (sqlite3_exec(handle, sql, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    sqlite3_close(handle);
    return made;
  }();
  // The database and the logs written beside it go when the process ends.
  static const struct Cleanup {
    ~Cleanup() {
      std::error_code ignored;
      for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        std::filesystem::path file = path;
        file += suffix;
        std::filesystem::remove(file, ignored);
      }
    }
  } cleanup;
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace corvyn::sqlite;
  const std::filesystem::path database = DatabasePath();
  std::filesystem::path log = database;
  log += "-wal";
  {
    std::ofstream file(log, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  SqliteDbReader reader;
  if (reader.Open(database) != corvyn::kOk) std::abort();  // a log never keeps the main file from opening
  std::vector<HandleRow> handles;
  (void)ScanHandles(reader, handles);
  return 0;
}
