// Throughput of carving alone on a database of about 1 GB: the generic carve
// (CarveDeletedRows) of a message-like table, every live row read and every
// deleted record looked for, rows counted, nothing printed per row.
//
// The database is built once (kept for later runs) in the folder given on
// the command line: about 3.2 million rows with text and integers on 4096-byte
// pages, written in one transaction with about 10% of the rows deleted, at
// random and in runs, so that freeblocks, gaps and free pages exist. Each
// measurement runs in a fresh process (this program started again with
// --phase); the best of three is kept, wall and CPU time, and the peak
// resident size of each child as wait4 reports it. The figure that counts is
// MB of database carved per second of wall time, against 100 MB/s.
//
//   nice -n 10 cmake --build build -j1 --target corvyn_carve_throughput_bench
//   build/bench/corvyn_carve_throughput_bench [folder]   (default: the system temp folder)
//
// A profile of the carve alone:
//   perf record --call-graph dwarf -o /tmp/carve.perf -- build/bench/corvyn_carve_throughput_bench
//     --phase carve FOLDER/corvyn-carve-bench/message-1g.db          (one line)
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/sqlite/BenchSql.h"
#include "sqlite/GenericCarve.h"
#include "sqlite/SqliteDbReader.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRows = 3200000;
constexpr double kGoalMegabytesPerSecond = 100.0;

using corvyn::bench::Exec;

// Words for the text column: messages of 40 to 400 characters.
const char* const kWords[] = {"see",    "you", "at",      "the",   "station", "tonight",  "bring",
                              "the",    "map", "please",  "call",  "me",      "when",     "you",
                              "arrive", "ok",  "thanks!", "later", "lunch",   "tomorrow?"};

bool BuildDatabase(const std::filesystem::path& path) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
  bool ok = Exec(db,
                 "PRAGMA page_size=4096; PRAGMA auto_vacuum=NONE; PRAGMA secure_delete=OFF;"
                 "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-262144;"
                 "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT NOT NULL, "
                 "text TEXT, handle_id INTEGER, service TEXT, date INTEGER, date_read INTEGER, "
                 "is_from_me INTEGER, is_read INTEGER, cache_roomnames TEXT, account TEXT);"
                 "BEGIN");
  sqlite3_stmt* insert = nullptr;
  ok = ok && sqlite3_prepare_v2(db, "INSERT INTO message VALUES (NULL,?,?,?,?,?,?,?,?,?,?)", -1, &insert,
                                nullptr) == SQLITE_OK;
  uint32_t state = 2463534242u;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  std::string text;
  for (int n = 1; ok && n <= kRows; ++n) {
    char guid[40];
    std::snprintf(guid, sizeof guid, "F1E2D3C4-B5A6-4978-8899-%012X", n);
    const std::size_t length = 40 + next() % 360;
    text = "Message " + std::to_string(n) + ":";
    while (text.size() < length) text += std::string(" ") + kWords[next() % std::size(kWords)];
    sqlite3_reset(insert);
    sqlite3_bind_text(insert, 1, guid, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 3, 1 + next() % 300);
    sqlite3_bind_text(insert, 4, n % 5 == 0 ? "SMS" : "iMessage", -1, SQLITE_STATIC);
    sqlite3_bind_int64(insert, 5, 420000000 + int64_t{n} * 61);
    sqlite3_bind_int64(insert, 6, n % 3 == 0 ? 0 : 420000000 + int64_t{n} * 61 + 30);
    sqlite3_bind_int64(insert, 7, n % 2);
    sqlite3_bind_int64(insert, 8, 1);
    if (n % 7 == 0) {
      sqlite3_bind_text(insert, 9, "chat123456789", -1, SQLITE_STATIC);
    } else {
      sqlite3_bind_null(insert, 9);
    }
    sqlite3_bind_text(insert, 10, "e:someone@example.com", -1, SQLITE_STATIC);
    ok = sqlite3_step(insert) == SQLITE_DONE;
  }
  sqlite3_finalize(insert);
  // About 8% at random (freeblocks), and runs of 3000 rows every 500,000
  // (whole pages freed).
  ok = ok && Exec(db, "CREATE TEMP TABLE gone (id INTEGER PRIMARY KEY)");
  sqlite3_stmt* mark = nullptr;
  ok = ok && sqlite3_prepare_v2(db, "INSERT OR IGNORE INTO gone VALUES (?)", -1, &mark, nullptr) == SQLITE_OK;
  for (int i = 0; ok && i < kRows / 12; ++i) {
    sqlite3_reset(mark);
    sqlite3_bind_int64(mark, 1, 1 + next() % kRows);
    ok = sqlite3_step(mark) == SQLITE_DONE;
  }
  sqlite3_finalize(mark);
  ok = ok && Exec(db,
                  "DELETE FROM message WHERE ROWID IN (SELECT id FROM gone) OR "
                  "(ROWID % 500000) BETWEEN 1000 AND 3999;"
                  "COMMIT");
  sqlite3_close(db);
  return ok;
}

struct Counts {
  unsigned long long live = 0;
  unsigned long long deleted = 0;
};

bool CarveOnce(const std::filesystem::path& path, Counts& counts) {
  using namespace corvyn::sqlite;
  SqliteDbReader reader;
  if (reader.Open(path) != corvyn::kOk) return false;
  CarveResult result;
  if (CarveDeletedRows(reader, "message", result) != corvyn::kOk || result.tables.size() != 1) return false;
  counts.live = result.tables[0].liveRows;
  counts.deleted = result.tables[0].deleted.size();
  return true;
}

// One carve in this process: "wall-seconds cpu-seconds live deleted".
int RunPhase(const std::filesystem::path& path) {
  Counts counts;
  const auto start = Clock::now();
  const std::clock_t cpuStart = std::clock();
  if (!CarveOnce(path, counts)) return 1;
  const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("%.4f %.4f %llu %llu\n", wall, cpu, counts.live, counts.deleted);
  return 0;
}

struct Result {
  double wall = 0;
  double cpu = 0;
  Counts counts;
  long peakKb = 0;
};

// Runs the carve in a child process; its peak resident size from wait4.
bool Measure(const std::string& self, const std::filesystem::path& path, Result& result) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return false;
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    execl(self.c_str(), self.c_str(), "--phase", "carve", path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeEnds[1]);
  std::string out;
  char buffer[256];
  for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, got);
  close(pipeEnds[0]);
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return false;
  result.peakKb = usage.ru_maxrss;
  return std::sscanf(out.c_str(), "%lf %lf %llu %llu", &result.wall, &result.cpu, &result.counts.live,
                     &result.counts.deleted) == 4;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--phase") return RunPhase(argv[3]);
  const std::filesystem::path folder =
      (argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path()) /
      "corvyn-carve-bench";
  std::filesystem::create_directories(folder);
  const std::filesystem::path database = folder / "message-1g.db";
  if (!std::filesystem::exists(database)) {
    std::printf("building %s (%d rows)...\n", database.c_str(), kRows);
    const auto start = Clock::now();
    if (!BuildDatabase(database)) {
      std::fprintf(stderr, "the database could not be built\n");
      return 1;
    }
    std::printf("built in %.1f s\n", std::chrono::duration<double>(Clock::now() - start).count());
  }
  const double megabytes = static_cast<double>(std::filesystem::file_size(database)) / 1e6;
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  Result best;
  best.wall = 1e30;
  best.cpu = 1e30;
  for (int run = 0; run < 3; ++run) {
    Result result;
    if (!Measure(self, database, result)) {
      std::fprintf(stderr, "a measurement failed\n");
      return 1;
    }
    std::printf("run %d: wall %.3f s  cpu %.3f s  peak %ld KB\n", run + 1, result.wall, result.cpu,
                result.peakKb);
    best.wall = std::min(best.wall, result.wall);
    best.cpu = std::min(best.cpu, result.cpu);
    best.peakKb = std::max(best.peakKb, result.peakKb);
    best.counts = result.counts;
  }
  std::printf("database: %s, %.1f MB\n", database.c_str(), megabytes);
  std::printf("carve of message: %llu live rows, %llu deleted rows\n", best.counts.live, best.counts.deleted);
  std::printf("best of 3: wall %.3f s  cpu %.3f s  peak %ld KB\n", best.wall, best.cpu, best.peakKb);
  std::printf("throughput: %.1f MB/s wall, %.1f MB/s cpu   (goal >= %.0f MB/s)\n", megabytes / best.wall,
              megabytes / best.cpu, kGoalMegabytesPerSecond);
  return 0;
}
