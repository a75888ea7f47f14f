// tool: decrypts an encrypted backup folder into a copy folder.
//
//   tool BACKUP COPY PASSWORD...      password from the command line (the
//                                     words after COPY, joined by blanks)
//   tool BACKUP COPY                  password read from standard input, one
//   tool --password-stdin BACKUP COPY line, so it never shows in a process list
//
// Standard output: "Count: N" after each file written, "Wrong password" when
// the password is rejected, "Done: N" at the end. Problems with single files
// go to standard error.
// Exit status: 0 every file written, 1 some files failed or the copy could not
// be written, 2 usage (or a copy folder inside the backup), 3 wrong password,
// 4 the backup cannot be opened.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/PasswordLine.h"
#include "tools/decrypt/BackupDecryptor.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitWrongPassword = 3;
constexpr int kExitUnopenable = 4;
int Usage() {
  std::fprintf(stderr,
               "usage: tool BACKUP COPY [PASSWORD...]\n"
               "       tool --password-stdin BACKUP COPY\n"
               "Without PASSWORD the password is read as one line from standard input.\n");
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args.front() == "--password-stdin") {
    args.erase(args.begin());
    if (args.size() != 2) return Usage();
  }
  if (args.size() < 2 || args[0].empty() || args[1].empty()) return Usage();

  std::string password;
  if (args.size() == 2) {
    const auto line = corvyn::platform::ReadPasswordLine(stdin);
    if (!line) {
      std::fprintf(stderr, "The password line is too long.\n");
      return kExitUsage;
    }
    password = *line;
  } else {
    for (std::size_t i = 2; i < args.size(); ++i) {
      if (i > 2) password += ' ';
      password += args[i];
    }
  }

  corvyn::backupcrypto::DecryptObserver observer;
  observer.fileDone = [](std::uint64_t count) {
    std::printf("Count: %llu\n", static_cast<unsigned long long>(count));
    std::fflush(stdout);
  };
  observer.warning = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };

  corvyn::backupcrypto::DecryptSummary summary;
  const corvyn::Status status =
      corvyn::backupcrypto::DecryptBackupFolder(args[0], args[1], password, observer, summary);
  std::fill(password.begin(), password.end(), '\0');

  if (status == corvyn::kWrongPassword) {
    std::printf("Wrong password\n");
    std::fflush(stdout);
    return kExitWrongPassword;
  }
  if (status == corvyn::kInvalidData) {
    if (corvyn::backupcrypto::CheckCopyFolder(args[0], args[1]) != corvyn::kOk) {
      std::fprintf(stderr, "The copy folder must not be the backup folder or lie inside it.\n");
      return kExitUsage;
    }
    std::fprintf(stderr,
                 "The backup cannot be opened: no readable Manifest.plist keybag or Manifest.mbdb.\n");
    return kExitUnopenable;
  }
  std::printf("Done: %llu\n", static_cast<unsigned long long>(summary.filesWritten));
  std::fflush(stdout);
  if (status != corvyn::kOk) {
    std::fprintf(stderr, "%llu files could not be written (%s).\n",
                 static_cast<unsigned long long>(summary.filesFailed), status.Message().c_str());
    return kExitFailed;
  }
  return kExitOk;
}
