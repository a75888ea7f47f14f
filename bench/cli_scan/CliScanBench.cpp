// A whole scan as a user runs it: `corvyn-cli scan FOLDER --json` (reading,
// carving, decoding, joins, sorting, the JSON written to a file) of a backup
// whose message database holds --messages messages (160,000 by default),
// against the sqlite3 shell selecting the same message columns into a file.
// Prints both times, their ratio (goal: at most 2), and the scan's peak
// memory against the size of the databases it reads (goal: at most 1.5).
// Message rows are filled as a phone fills them (a UUID guid, the account and
// its guid, read and delivered dates): about 55 MB of databases for 160,000
// messages. --lean-rows fills only the columns the scan reads (about 33 MB):
// the same records in memory against half the bytes on disk.
//
// Each program runs --rounds times (7 by default), alternately; the fastest
// run of each is compared, as a busy machine only ever slows a run down.
//
//   corvyn_cli_scan_bench [--messages N] [--lean-rows] [--rounds N] [--folder DIR] [--keep]
// (--measure is the second stage: it measures the backup already in DIR.)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/backup_builder/BackupBuilder.h"
#include "tests/support/backup_builder/StandardBackup.h"

namespace fs = std::filesystem;
using namespace corvyn;
using Clock = std::chrono::steady_clock;

namespace {

struct Run {
  double seconds = 0;
  long peakKb = 0;
  int exitCode = -1;
};

// Runs argv with standard output into `output`; its time and peak resident memory.
Run Measure(const std::vector<std::string>& argv, const fs::path& output) {
  Run run;
  std::fflush(stdout);
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (!std::freopen(output.c_str(), "w", stdout)) _exit(126);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.peakKb = usage.ru_maxrss;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return run;
}

testsupport::DatabaseTruth HeavyUser(int messages) {
  testsupport::DatabaseTruth truth = testsupport::FixtureTruth();
  truth.messages.clear();
  truth.messages.reserve(static_cast<std::size_t>(messages));
  for (int i = 0; i < messages; ++i) {
    testsupport::TruthMessage message;
    message.handleId = 1 + i % 400;
    message.address = "+4915" + std::to_string(1000000 + message.handleId * 37);
    message.text = "Message " + std::to_string(i) + ": see you at the station at " + std::to_string(i % 24) +
                   " o'clock, and bring the book about the " + std::to_string(i % 97) + " islands.";
    message.sent = i % 3 == 0;
    truth.messages.push_back(std::move(message));
  }
  return truth;
}

}  // namespace

int main(int argc, char** argv) {
  int messages = 160000;
  fs::path folder = fs::temp_directory_path() / "corvyn-bench-cli-scan";
  bool keep = false;
  bool measure = false;
  bool leanRows = false;
  int rounds = 7;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--messages") == 0 && i + 1 < argc) {
      messages = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--measure") == 0) {
      measure = true;
    } else if (std::strcmp(argv[i], "--folder") == 0 && i + 1 < argc) {
      folder = argv[++i];
    } else if (std::strcmp(argv[i], "--keep") == 0) {
      keep = true;
    } else if (std::strcmp(argv[i], "--lean-rows") == 0) {
      leanRows = true;
    } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
      rounds = std::atoi(argv[++i]);
    } else {
      std::fprintf(
          stderr,
          "usage: corvyn_cli_scan_bench [--messages N] [--lean-rows] [--rounds N] [--folder DIR] [--keep]\n");
      return 2;
    }
  }
  std::error_code error;
  const fs::path backupFolder = folder / "backup";
  if (!measure) {
    fs::remove_all(folder, error);
    testsupport::DatabaseTruth truth = HeavyUser(messages);
    truth.phoneSizedMessageRows = !leanRows;
    testsupport::StandardBackupOptions options;
    options.truth = &truth;
    testsupport::StandardBackup backup;
    const auto built = Clock::now();
    if (testsupport::MakeStandardBackup(folder / "scratch", backup, options) != kOk ||
        backup.builder.Write(backupFolder) != kOk) {
      std::fprintf(stderr, "corvyn_cli_scan_bench: the backup cannot be built\n");
      return 1;
    }
    std::printf("built a backup with %d messages in %.1f s\n", messages,
                std::chrono::duration<double>(Clock::now() - built).count());
    std::fflush(stdout);
    // Measured from a fresh, small process: a forked child's peak memory
    // counts the pages it shared with its parent before it started the program.
    const std::string self = fs::canonical("/proc/self/exe").string();
    std::vector<std::string> again = {self,       "--measure",           "--folder", folder.string(),
                                      "--rounds", std::to_string(rounds)};
    if (keep) again.push_back("--keep");
    std::vector<char*> args;
    for (std::string& arg : again) args.push_back(arg.data());
    args.push_back(nullptr);
    execv(self.c_str(), args.data());
    std::perror("corvyn_cli_scan_bench");
    return 1;
  }
  const fs::path sms = backupFolder / testsupport::StoredNameFor("HomeDomain", "Library/SMS/sms.db");
  if (!fs::is_regular_file(sms, error)) {
    std::fprintf(stderr, "corvyn_cli_scan_bench: no backup in %s (build one first, with --keep)\n",
                 backupFolder.c_str());
    return 1;
  }
  uint64_t databaseBytes = 0;
  for (const auto& [domain, path] :
       {std::pair{"HomeDomain", "Library/SMS/sms.db"},
        std::pair{"HomeDomain", "Library/AddressBook/AddressBook.sqlitedb"},
        std::pair{"WirelessDomain", "Library/CallHistory/call_history.db"},
        std::pair{"HomeDomain", "Library/Notes/notes.sqlite"},
        std::pair{"AppDomain-net.whatsapp.WhatsApp", "Documents/ChatStorage.sqlite"}}) {
    databaseBytes += fs::file_size(backupFolder / testsupport::StoredNameFor(domain, path), error);
  }
  std::printf("databases %.1f MB (sms.db %.1f MB)\n", databaseBytes / 1e6, fs::file_size(sms, error) / 1e6);

  const fs::path cli = fs::canonical("/proc/self/exe").parent_path().parent_path() / "bin" / "corvyn-cli";
  // The columns the scan reads of each message.
  const std::string query =
      "SELECT m.ROWID, m.date, m.text, m.is_from_me, m.handle_id, h.id FROM message m "
      "LEFT JOIN handle h ON h.ROWID = m.handle_id ORDER BY m.handle_id, m.date";
  Run best{1e9, 0, 0}, shell{1e9, 0, 0};
  for (int round = 0; round < rounds; ++round) {
    Run scan = Measure({cli.string(), "scan", backupFolder.string(), "--json"}, folder / "scan.json");
    Run select = Measure({"sqlite3", "-readonly", sms.string(), query}, folder / "select.txt");
    if (scan.exitCode != 0 || select.exitCode != 0) {
      std::fprintf(stderr, "corvyn_cli_scan_bench: a run failed (scan %d, sqlite3 %d)\n", scan.exitCode,
                   select.exitCode);
      return 1;
    }
    if (scan.seconds < best.seconds) best = scan;
    if (select.seconds < shell.seconds) shell = select;
  }
  // wait4 gives the peak resident size in KiB.
  const double scanPeakBytes = best.peakKb * 1024.0;
  std::printf("corvyn-cli scan --json: %.3f s, peak %.1f MB (JSON %.1f MB)\n", best.seconds,
              scanPeakBytes / 1e6, fs::file_size(folder / "scan.json", error) / 1e6);
  std::printf("sqlite3 shell, same columns: %.3f s, peak %.1f MB\n", shell.seconds,
              shell.peakKb * 1024.0 / 1e6);
  std::printf("ratio scan / shell: %.2f (goal: at most 2)\n", best.seconds / shell.seconds);
  std::printf("peak memory / databases: %.2f (goal: at most 1.5)\n", scanPeakBytes / databaseBytes);
  if (!keep) fs::remove_all(folder, error);
  return 0;
}
