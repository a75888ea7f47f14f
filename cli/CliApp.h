// corvyn-cli: the command-line front end on the same backup engine and scan
// driver as the window program.
//
//   corvyn-cli --version | --help
//   corvyn-cli backups                     list the backups with their summary
//   corvyn-cli scan FOLDER [--password-stdin] [--json]
//   corvyn-cli scan --device [UDID] [--password-stdin] [--json]
//   corvyn-cli export FOLDER --out DIR [--password-stdin] [--only-deleted]
//                    [--category LABEL]... [--json]
//   corvyn-cli carve DB [--table T] [--json]
//                                          deleted rows of any SQLite file, each
//                                          with where it was found (read only)
//
// Exit status: 0 success (a scan that completed with some categories
// unreadable included; each is named on standard error), 2 usage, 3 wrong
// password, 4 the source cannot be opened (for carve: also a file that is not
// an SQLite database), 1 anything else (for export: any
// file that could not be written); every failure prints one line on standard
// error.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace corvyn::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitWrongPassword = 3;
inline constexpr int kExitUnopenable = 4;

struct CliStreams {
  std::FILE* in = stdin;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool errIsTerminal = false;            // draw a progress bar on err
  std::filesystem::path templateFolder;  // report templates; empty: "template" beside the program
  // The process ends when the command returns (the program's main sets it):
  // a scan's records, which the operating system takes back at once, are
  // then not freed one by one. Working files are removed all the same.
  bool processEndsAfter = false;
};

int RunCli(const std::vector<std::string>& args, const CliStreams& streams);

// True when standard error is a terminal (a pseudo-terminal or a console).
bool StandardErrorIsTerminal();

}  // namespace corvyn::cli
