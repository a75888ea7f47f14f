// Timing another program for the decryption benchmarks: wall time and the
// processor time of the child (on a shared machine the wall time alone is
// noisy).
#pragma once

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

}  // namespace corvyn::bench
