// Runs the decryption program on an encrypted backup and watches its output.
//
// The program ("tool" beside ours) is started as
//   tool --password-stdin ENCRYPTED_FOLDER COPY_FOLDER
// and reads the password from its standard input (we write it followed by a
// newline, then close the pipe), so the password never shows on a command
// line. Its standard output and error arrive on one pipe; we rely on two
// forms: "Count: N" (N files done so far) and "Wrong password".
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "core/Progress.h"
#include "platform/Process.h"
#include "platform/Status.h"

namespace corvyn::backup {

inline constexpr std::string_view kDecryptionProgramName = "tool";
inline constexpr std::string_view kWrongPasswordText = "Wrong password";
inline constexpr std::string_view kCountText = "Count:";
inline constexpr int kPassesAfterExit = 100;

struct DecryptionJob {
  std::filesystem::path program;
  std::filesystem::path encryptedFolder;
  std::filesystem::path copyFolder;  // made private (MakePrivateFolder) before the start
  uint64_t expectedFileCount = 0;    // entries of the encrypted folder
};

// Starts the program and follows it to its end. Progress: the first "Count:"
// line turns a base of 0 into 1 and reports 1; each count reports
// base + step * count / expected. The callback is also asked (with the
// current value) while the program is silent, so a stop is honoured at once.
// On a stop or a wrong password the program is ended. Finally the step is
// added to the base and reported.
// Returns kOk, kWrongPassword, the callback's non-zero answer (kStopped), the
// error of MakePrivateFolder when the copy folder cannot be made or is not
// ours alone, or kInvalidData when the program cannot be started or it failed
// (non-zero exit, or a signal), whatever it reported before. A silent program
// that exits with 0 counts as a success. On every failure the copy folder is
// deleted with whatever was decrypted into it: a part of a backup is never
// scanned as if it were the whole.
Status RunDecryption(platform::IProcessLauncher& launcher, const DecryptionJob& job,
                     std::string_view password, ProgressShare& progress);

// The decryption program beside the running program (or beside the given
// program folder).
std::filesystem::path DecryptionProgramPath(const std::filesystem::path& programFolder = {});

// The folder of the running program (empty when unknown).
std::filesystem::path ProgramFolder();

}  // namespace corvyn::backup
