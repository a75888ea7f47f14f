// Timing another program for the decryption benchmarks: wall time and the
// processor time of the child (on a shared machine the wall time alone is
// noisy).
#pragma once

#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace corvyn::bench {

struct Timing {
  double wall = 1e30;
  double cpu = 1e30;  // user + system time of the command
};

// Runs `command` under bash's `time` (its timing written to `timeFile`); a
// command that fails ends the benchmark.
inline Timing TimeCommand(const std::string& command, const std::filesystem::path& timeFile) {
  const std::string timed =
      "bash -c 'TIMEFORMAT=\"%R %U %S\"; { time " + command + " ; } 2> " + timeFile.string() + "'";
  if (const int result = std::system(timed.c_str()); result != 0) {
    std::fprintf(stderr, "command failed (%d): %s\n", result, command.c_str());
    std::exit(1);
  }
  double real = 0, user = 0, system = 0;
  std::ifstream in(timeFile);
  in >> real >> user >> system;
  return {real, user + system};
}

struct MeasuredRun {
  double wall = 0;
  double cpu = 0;             // user + system time of the command and its children
  std::uint64_t written = 0;  // bytes sent towards the disk: ru_oublock x 512
  int exitStatus = 0;         // -1 when a signal ended it
};

// Runs `command` with `bash -c` and reads what wait4 reports for it: the
// processor time and the blocks written by the shell and every process it
// waited for. Linux counts a block when a page is first dirtied (the
// `write_bytes` of /proc/<pid>/io), so the figure does not depend on when the
// kernel flushes; a file removed before the flush still counts.
inline MeasuredRun RunMeasured(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    execl("/bin/bash", "bash", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) {
    std::fprintf(stderr, "command did not run: %s\n", command.c_str());
    std::exit(1);
  }
  MeasuredRun run;
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const auto seconds = [](const timeval& value) { return value.tv_sec + value.tv_usec / 1e6; };
  run.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  run.written = static_cast<std::uint64_t>(usage.ru_oublock) * 512;
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace corvyn::bench
