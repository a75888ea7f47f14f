// Measures the page reader on a large `message` database (built once in a
// temp folder: 220,000 rows, about 100 MB, some deleted):
//   (a) our live scan of `message` against the SQLite library's SELECT of the
//       same columns,
//   (b) our scan with carving and free pages,
//   (c) peak memory of each, and of the carving scan on a database a quarter
//       the size (memory should not grow with the file).
// Each measurement runs in its own process (this program started again with
// --phase) so that its peak resident size is its own. Times are the best of
// five runs, wall and CPU (on a busy machine the CPU time is the steadier). Our scans decode each
// record with the generic RecordParser, taking the columns the message
// decoder reads (text 2, handle_id 5, date 15, is_from_me 21) and the rowid.
//
//   bench/sqlite_reader_bench [folder]      (default: the system temp folder)
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/sqlite/BenchSql.h"
#include "sqlite/RecordDecoders.h"
#include "sqlite/RecordParser.h"
#include "sqlite/SqliteDbReader.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Totals {
  uint64_t rows = 0;
  uint64_t deleted = 0;
  uint64_t textBytes = 0;
  int64_t checksum = 0;
};

long PeakResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

using corvyn::bench::Exec;

bool BuildDatabase(const std::filesystem::path& path, int rows) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
  std::string create =
      "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, "
      "text TEXT, replace INTEGER, service_center TEXT, handle_id INTEGER";
  for (int column = 6; column < 38; ++column) create += ", c" + std::to_string(column) + " INTEGER";
  create += ")";
  bool ok = Exec(db,
                 "PRAGMA page_size=4096; PRAGMA auto_vacuum=NONE; PRAGMA secure_delete=OFF; "
                 "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF") &&
            Exec(db, create.c_str()) && Exec(db, "BEGIN");
  sqlite3_stmt* insert = nullptr;
  std::string sql = "INSERT INTO message VALUES (NULL";
  for (int column = 1; column < 38; ++column) sql += ",?";
  sql += ")";
  ok = ok && sqlite3_prepare_v2(db, sql.c_str(), -1, &insert, nullptr) == SQLITE_OK;
  std::string text;
  for (int n = 1; ok && n <= rows; ++n) {
    char guid[40];
    std::snprintf(guid, sizeof guid, "F1E2D3C4-B5A6-4978-8899-%012X", n);
    text = "Message " + std::to_string(n) + ": ";
    while (text.size() < 180 + static_cast<std::size_t>(n % 200)) text += "see you at the station tonight ";
    sqlite3_reset(insert);
    sqlite3_bind_text(insert, 1, guid, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    for (int column = 3; column < 38; ++column) {
      int64_t value = (n + column) % 3;
      if (column == 5) value = 1 + n % 40;
      if (column == 15 || column == 16 || column == 17) value = 420000000 + int64_t{n} * 61;
      if (column == 21) value = n % 2;
      if (column == 4 || column == 6 || column == 7) {
        sqlite3_bind_null(insert, column);
      } else {
        sqlite3_bind_int64(insert, column, value);
      }
    }
    ok = sqlite3_step(insert) == SQLITE_DONE;
  }
  sqlite3_finalize(insert);
  ok = ok && Exec(db, "COMMIT") &&
       Exec(db, "DELETE FROM message WHERE ROWID % 50 = 7 OR (ROWID > 100000 AND ROWID <= 101000)");
  sqlite3_close(db);
  return ok;
}

bool SqliteSelect(const std::filesystem::path& path, Totals& totals) {
  sqlite3* db = nullptr;
  const std::string uri = "file:" + path.string() + "?mode=ro";
  if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK)
    return false;
  sqlite3_stmt* select = nullptr;
  const bool ok = sqlite3_prepare_v2(db, "SELECT ROWID, text, handle_id, c15, c21 FROM message", -1, &select,
                                     nullptr) == SQLITE_OK;
  while (ok && sqlite3_step(select) == SQLITE_ROW) {
    ++totals.rows;
    totals.checksum += sqlite3_column_int64(select, 0) + sqlite3_column_int64(select, 2) +
                       sqlite3_column_int64(select, 3) + sqlite3_column_int64(select, 4);
    sqlite3_column_text(select, 1);
    totals.textBytes += static_cast<uint64_t>(sqlite3_column_bytes(select, 1));
  }
  sqlite3_finalize(select);
  sqlite3_close(db);
  return ok;
}

bool OurScan(const std::filesystem::path& path, bool carve, Totals& totals) {
  using namespace corvyn::sqlite;
  SqliteDbReader reader;
  if (reader.Open(path) != corvyn::kOk) return false;
  reader.carveDeletedRecords = carve;
  ParsedRecord record;
  TableProfile profile = ProfileFor("message");
  profile.scanFreePages = carve;
  const auto status = reader.ScanTable(profile, [&](SqliteDbReader& r, const RecordLocation& location) {
    if (ParseRecord(r, location, profile.columnCount, record) != corvyn::kOk) return corvyn::kInvalidData;
    const ColumnValue* text = record.Column(2);
    if (!text || !text->IsText()) return corvyn::kInvalidData;
    ++totals.rows;
    totals.deleted += static_cast<uint64_t>(location.deleted);
    totals.textBytes += text->body.size();
    for (const std::size_t column : {5u, 15u, 21u}) {
      if (const ColumnValue* value = record.Column(column)) totals.checksum += value->integer;
    }
    totals.checksum += record.rowId;
    return corvyn::kOk;
  });
  return status == corvyn::kOk;
}

// One measured phase: the best of five runs, as "wall-seconds cpu-seconds
// rows deleted peakKB" (CPU time of the process, which a busy machine does not
// inflate the way it inflates wall time).
int RunPhase(const std::string& phase, const std::filesystem::path& path) {
  double bestWall = 1e9;
  double bestCpu = 1e9;
  Totals totals;
  for (int run = 0; run < 5; ++run) {
    totals = Totals{};
    const auto start = Clock::now();
    const std::clock_t cpuStart = std::clock();
    const bool ok = phase == "sqlite" ? SqliteSelect(path, totals) : OurScan(path, phase == "carve", totals);
    if (!ok) return 1;
    bestCpu = std::min(bestCpu, static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC);
    bestWall = std::min(bestWall, std::chrono::duration<double>(Clock::now() - start).count());
  }
  std::printf("%.4f %.4f %llu %llu %ld\n", bestWall, bestCpu, static_cast<unsigned long long>(totals.rows),
              static_cast<unsigned long long>(totals.deleted), PeakResidentKilobytes());
  return 0;
}

struct Result {
  double seconds = 0;
  double cpuSeconds = 0;
  unsigned long long rows = 0;
  unsigned long long deleted = 0;
  long peakKb = 0;
};

bool Measure(const std::string& self, const std::string& phase, const std::filesystem::path& path,
             Result& result) {
  const std::filesystem::path out = path.string() + "." + phase + ".txt";
  const std::string command =
      "'" + self + "' --phase " + phase + " '" + path.string() + "' > '" + out.string() + "'";
  if (std::system(command.c_str()) != 0) return false;
  std::ifstream in(out);
  return static_cast<bool>(in >> result.seconds >> result.cpuSeconds >> result.rows >> result.deleted >>
                           result.peakKb);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--phase") return RunPhase(argv[2], argv[3]);
  const std::filesystem::path folder =
      (argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path()) /
      "corvyn-sqlite-bench";
  std::filesystem::create_directories(folder);
  const std::filesystem::path large = folder / "message-220k.db";
  const std::filesystem::path small = folder / "message-55k.db";
  for (const auto& [path, rows] : {std::pair{large, 220000}, std::pair{small, 55000}}) {
    if (!std::filesystem::exists(path)) {
      std::printf("building %s (%d rows)...\n", path.c_str(), rows);
      if (!BuildDatabase(path, rows)) return 1;
    }
  }
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  Result sqlite, live, carve, carveSmall;
  if (!Measure(self, "sqlite", large, sqlite) || !Measure(self, "live", large, live) ||
      !Measure(self, "carve", large, carve) || !Measure(self, "carve", small, carveSmall)) {
    std::fprintf(stderr, "a measurement failed\n");
    return 1;
  }
  std::printf("database: %s, %.1f MB\n", large.c_str(), std::filesystem::file_size(large) / 1e6);
  std::printf("decoder of our scans: RecordParser, columns rowid, 2 (text), 5, 15, 21\n");
  auto line = [](const char* what, const Result& r) {
    std::printf("%-24s wall %.3f s  cpu %.3f s  %llu rows (%llu deleted)  peak %ld KB\n", what, r.seconds,
                r.cpuSeconds, r.rows, r.deleted, r.peakKb);
  };
  line("(a) SQLite SELECT", sqlite);
  line("(a) our live scan", live);
  line("(b) our scan + carving", carve);
  line("(c) carving, 1/4 size", carveSmall);
  std::printf("ratio live / SQLite      wall %.2f  cpu %.2f   (goal <= 1.00)\n",
              live.seconds / sqlite.seconds, live.cpuSeconds / sqlite.cpuSeconds);
  std::printf("ratio carving / live     wall %.2f  cpu %.2f   (goal <= 1.50)\n", carve.seconds / live.seconds,
              carve.cpuSeconds / live.cpuSeconds);
  std::printf("peak memory large/small  %.2f   (%ld KB vs %ld KB; goal: about 1)\n",
              static_cast<double>(carve.peakKb) / static_cast<double>(carveSmall.peakKb), carve.peakKb,
              carveSmall.peakKb);
  return 0;
}
