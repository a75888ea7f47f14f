// tool2: the device helper. Talks to the connected phone through usbmuxd
// (libimobiledevice) and answers in the few words its caller reads.
//
//   tool2 0   prints "1" when the phone encrypts its backups, "0" when not
//   tool2 1   makes a full backup (see BackupRun.h for what it prints)
//   tool2 2   prints "0" when the phone accepts the backup password, "1"
//             when it refuses it
//
// Commands 1 and 2 read the backup password as the first line of standard
// input (it may be empty), so it never shows on a command line.
// Environment:
//   CORVYN_DEVICE_UDID   the phone to use (default: the first one listed)
//   CORVYN_BACKUP_ROOT   command 1: the folder the backup goes into (required)
//   CORVYN_STOP_FILE     command 1: a file whose appearance stops the backup
//                        (default: "exit" beside this program)
// On any failure tool2 prints words without digits and ends with a non-zero
// exit code: 1 the phone or the backup failed, 2 usage, 3 stopped.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "platform/PasswordLine.h"
#include "tools/tool2/BackupRun.h"
#include "tools/tool2/PhoneLink.h"

namespace {

namespace fs = std::filesystem;
using corvyn::tool2::Explain;
using corvyn::tool2::LinkOutcome;
using corvyn::tool2::LinkResult;
using corvyn::tool2::PhoneLink;
using corvyn::tool2::Say;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

fs::path DefaultStopFile() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : self.parent_path() / "exit";
}

int Fail(const LinkOutcome& outcome) {
  Explain(outcome.words);
  return kExitFailed;
}

int AskEncryption() {
  PhoneLink link;
  if (const LinkOutcome opened = link.Open(Environment("CORVYN_DEVICE_UDID"));
      opened.result != LinkResult::kOk)
    return Fail(opened);
  bool encrypts = false;
  if (const LinkOutcome asked = link.WillEncrypt(encrypts); asked.result != LinkResult::kOk)
    return Fail(asked);
  Say(encrypts ? "1" : "0");
  return kExitOk;
}

int CheckPassword(const std::string& password) {
  PhoneLink link;
  if (const LinkOutcome opened = link.Open(Environment("CORVYN_DEVICE_UDID"));
      opened.result != LinkResult::kOk)
    return Fail(opened);
  bool accepted = false;
  if (const LinkOutcome asked = link.CheckPassword(password, accepted); asked.result != LinkResult::kOk)
    return Fail(asked);
  Say(accepted ? "0" : "1");
  return kExitOk;
}

int Usage() {
  Explain(
      "usage: tool two COMMAND, where COMMAND is zero (is the backup encrypted), one (make a full backup) "
      "or two (check the backup password); the password is read from standard input");
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Usage();
  const std::string command = argv[1];
  if (command == "0") return AskEncryption();
  if (command != "1" && command != "2") return Usage();

  const auto password = corvyn::platform::ReadPasswordLine(stdin);
  if (!password) {
    Explain("the password line is too long");
    return kExitUsage;
  }
  if (command == "2") return CheckPassword(*password);

  // A backup needs no password: the phone encrypts with its own, and whoever
  // reads the backup later decrypts it with the one the user gave.
  corvyn::tool2::BackupRequest request;
  request.root = Environment("CORVYN_BACKUP_ROOT");
  const std::string stopFile = Environment("CORVYN_STOP_FILE");
  request.stopFile = stopFile.empty() ? DefaultStopFile() : fs::path(stopFile);
  request.udid = Environment("CORVYN_DEVICE_UDID");
  return corvyn::tool2::RunBackup(request);
}
