// Measures what reading through a write-ahead log costs the page reader, on a
// large `message` database (built once in a temp folder: 120,000 rows, about
// 50 MB) in two forms with the same live rows:
//   flat: the log checkpointed into the file (no log),
//   wal:  the file as it was before 40 transactions, each changing every
//         97th row from a different start, plus their log (thousands of
//         frames, most pages with several old versions).
// For each: our live scan of `message` (no carving), and our scan with
// carving, free pages and, with the log, the page history; and the SQLite
// library's SELECT for reference. Times are the best of five runs (three
// for the library), wall and CPU.
//
//   bench/wal_overlay_bench [folder]      (default: the system temp folder)
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "bench/sqlite/BenchSql.h"
#include "sqlite/RecordDecoders.h"
#include "sqlite/RecordParser.h"
#include "sqlite/SqliteDbReader.h"

namespace {

using Clock = std::chrono::steady_clock;

using corvyn::bench::Exec;

bool Copy(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::error_code error;
  return std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
}

// Builds `wal` (+ `wal-wal`) and `flat`; false on failure.
bool BuildDatabases(const std::filesystem::path& work, const std::filesystem::path& wal,
                    const std::filesystem::path& flat, int rows) {
  for (const auto& path : {work, wal, flat}) {
    std::filesystem::remove(path);
    std::filesystem::remove(path.string() + "-wal");
  }
  sqlite3* db = nullptr;
  if (sqlite3_open(work.c_str(), &db) != SQLITE_OK) return false;
  std::string create = "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT, text TEXT";
  for (int column = 3; column < 38; ++column) create += ", c" + std::to_string(column) + " INTEGER";
  create += ")";
  bool ok = Exec(db, "PRAGMA page_size=4096; PRAGMA auto_vacuum=NONE; PRAGMA journal_mode=DELETE") &&
            Exec(db, create) && Exec(db, "BEGIN");
  sqlite3_stmt* insert = nullptr;
  ok = ok && sqlite3_prepare_v2(db, "INSERT INTO message (guid, text, c5, c15, c21) VALUES (?, ?, ?, ?, ?)",
                                -1, &insert, nullptr) == SQLITE_OK;
  std::string text;
  for (int n = 1; ok && n <= rows; ++n) {
    const std::string guid = "F1E2D3C4-B5A6-4978-8899-" + std::to_string(1000000 + n);
    text = "Message " + std::to_string(n) + ": ";
    while (text.size() < 180 + static_cast<std::size_t>(n % 200)) text += "see you at the station tonight ";
    sqlite3_reset(insert);
    sqlite3_bind_text(insert, 1, guid.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 3, 1 + n % 40);
    sqlite3_bind_int64(insert, 4, 420000000 + int64_t{n} * 61);
    sqlite3_bind_int64(insert, 5, n % 2);
    ok = sqlite3_step(insert) == SQLITE_DONE;
  }
  sqlite3_finalize(insert);
  ok = ok && Exec(db, "COMMIT") && Exec(db, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0");
  for (int round = 0; ok && round < 40; ++round) {
    ok = Exec(db, "UPDATE message SET text = 'edited " + std::to_string(round) +
                      ": ' || text, c21 = c21 + 1 " + "WHERE ROWID % 97 = " + std::to_string(round));
  }
  // The file and its log as they are before closing checkpoints the log.
  ok = ok && Copy(work, wal) && Copy(work.string() + "-wal", wal.string() + "-wal");
  sqlite3_close(db);
  return ok && Copy(work, flat);
}

struct Result {
  double wall = 1e9;
  double cpu = 1e9;
  uint64_t rows = 0;
  uint64_t deleted = 0;
  std::size_t history = 0;
};

bool Scan(const std::filesystem::path& path, bool carve, Result& result) {
  using namespace corvyn::sqlite;
  for (int run = 0; run < 5; ++run) {
    const auto start = Clock::now();
    const std::clock_t cpuStart = std::clock();
    SqliteDbReader reader;
    if (reader.Open(path) != corvyn::kOk) return false;
    reader.carveDeletedRecords = carve;
    ParsedRecord record;
    TableProfile profile = ProfileFor("message");
    profile.scanFreePages = carve;
    uint64_t rows = 0;
    uint64_t deleted = 0;
    const auto status = reader.ScanTable(profile, [&](SqliteDbReader& r, const RecordLocation& location) {
      if (ParseRecord(r, location, profile.columnCount, record) != corvyn::kOk) return corvyn::kInvalidData;
      ++rows;
      deleted += location.deleted != 0;
      return corvyn::kOk;
    });
    if (status != corvyn::kOk) return false;
    result.cpu = std::min(result.cpu, static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC);
    result.wall = std::min(result.wall, std::chrono::duration<double>(Clock::now() - start).count());
    result.rows = rows;
    result.deleted = deleted;
    result.history = reader.HistoricalPageVersions();
  }
  return true;
}

// The SQLite library's SELECT of the same rows, on a fresh copy of the file
// and its log each run (the library reads the whole log to open it, then
// checkpoints it on close); the copying is not timed.
bool LibraryScan(const std::filesystem::path& path, Result& result) {
  const std::filesystem::path copy = path.string() + ".library";
  for (int run = 0; run < 3; ++run) {
    std::filesystem::remove(copy.string() + "-shm");
    if (!Copy(path, copy)) return false;
    if (std::filesystem::exists(path.string() + "-wal") &&
        !Copy(path.string() + "-wal", copy.string() + "-wal"))
      return false;
    const auto start = Clock::now();
    const std::clock_t cpuStart = std::clock();
    sqlite3* db = nullptr;
    if (sqlite3_open(copy.c_str(), &db) != SQLITE_OK) return false;
    sqlite3_stmt* select = nullptr;
    uint64_t rows = 0;
    if (sqlite3_prepare_v2(db, "SELECT ROWID, text, c5, c15, c21 FROM message", -1, &select, nullptr) ==
        SQLITE_OK) {
      while (sqlite3_step(select) == SQLITE_ROW) {
        sqlite3_column_text(select, 1);
        ++rows;
      }
    }
    sqlite3_finalize(select);
    result.cpu = std::min(result.cpu, static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC);
    result.wall = std::min(result.wall, std::chrono::duration<double>(Clock::now() - start).count());
    result.rows = rows;
    sqlite3_close(db);
  }
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(copy.string() + suffix);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path folder =
      (argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path()) /
      "corvyn-wal-bench";
  std::filesystem::create_directories(folder);
  const std::filesystem::path wal = folder / "message-wal.db";
  const std::filesystem::path flat = folder / "message-flat.db";
  if (!std::filesystem::exists(wal) || !std::filesystem::exists(flat)) {
    std::printf("building %s and %s...\n", wal.c_str(), flat.c_str());
    if (!BuildDatabases(folder / "work.db", wal, flat, 120000)) return 1;
  }
  Result flatLive, walLive, flatCarve, walCarve, flatLibrary, walLibrary;
  if (!Scan(flat, false, flatLive) || !Scan(wal, false, walLive) || !Scan(flat, true, flatCarve) ||
      !Scan(wal, true, walCarve) || !LibraryScan(flat, flatLibrary) || !LibraryScan(wal, walLibrary)) {
    std::fprintf(stderr, "a scan failed\n");
    return 1;
  }
  std::printf("database %.1f MB, log %.1f MB\n", std::filesystem::file_size(wal) / 1e6,
              std::filesystem::file_size(wal.string() + "-wal") / 1e6);
  auto line = [](const char* what, const Result& r) {
    std::printf("%-26s wall %.3f s  cpu %.3f s  %llu rows (%llu deleted), %zu old page versions\n", what,
                r.wall, r.cpu, static_cast<unsigned long long>(r.rows),
                static_cast<unsigned long long>(r.deleted), r.history);
  };
  line("flat, SQLite SELECT", flatLibrary);
  line("wal, SQLite SELECT", walLibrary);
  line("flat, live scan", flatLive);
  line("wal, live scan", walLive);
  line("flat, carving", flatCarve);
  line("wal, carving + history", walCarve);
  std::printf("ratio wal / flat live     cpu %.2f  (SQLite: %.2f)\n", walLive.cpu / flatLive.cpu,
              walLibrary.cpu / flatLibrary.cpu);
  std::printf("ratio live / SQLite, wal  cpu %.2f\n", walLive.cpu / walLibrary.cpu);
  std::printf("ratio wal / flat carving  cpu %.2f\n", walCarve.cpu / flatCarve.cpu);
  return 0;
}
