// Runs the device helper "tool2" (it lies in the program's folder) and reads
// what it prints. Three commands:
//
//   tool2 0   answers whether the phone encrypts its backups
//   tool2 1   makes a full backup of the phone into a folder
//   tool2 2   answers whether the phone accepts a backup password
//
// Commands 1 and 2 get the password on their standard input (one line, then
// the input is closed), never on the command line. The helper's standard
// output and error arrive on one pipe, which is polled: a wait of 5 ms for
// the helper to end, then a read of at most 4096 bytes when something is
// there; once the helper has ended, at most 100 more polls drain the pipe.
// Each read is one chunk of text and is judged on its own.
//
// Environment given to the helper: CORVYN_STOP_FILE (the program's folder +
// "/exit"; the helper stops a backup when it appears), CORVYN_DEVICE_UDID
// (when a phone is named) and, for command 1, CORVYN_BACKUP_ROOT.
//
// Every function blocks until the helper has ended (or, after its last
// word, a bounded wait for it to end has passed, when it is killed).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/IPhoneRecoveryParse.h"
#include "platform/Process.h"
#include "platform/Status.h"

namespace corvyn::device {

inline constexpr std::string_view kDeviceHelperName = "tool2";
inline constexpr std::string_view kDeviceHelperStopFileName = "exit";

struct DeviceHelperSetup {
  std::filesystem::path programFolder;             // tool2 and the stop file "exit" lie there
  std::filesystem::path backupRoot;                // CORVYN_BACKUP_ROOT for command 1
  std::string udid;                                // CORVYN_DEVICE_UDID when not empty
  platform::IProcessLauncher* launcher = nullptr;  // null: the process-wide one
};

// Command 0. The first chunk decides: containing "1", the backups are
// encrypted; else containing "0", they are not. kOk with `encrypted` set, or
// kInvalidData with words (the helper's own when it printed any) when the
// chunk holds neither digit, nothing was printed, or the helper cannot start.
Status AskBackupEncryption(const DeviceHelperSetup& setup, bool& encrypted);

// Command 2. The first chunk decides: containing "0", kOk (accepted); else
// containing "1", kPasswordRefused; otherwise kInvalidData with words.
Status CheckBackupPassword(const DeviceHelperSetup& setup, const std::string& password);

// Command 1. The stop file is deleted before the helper starts. Per chunk:
//   - "Disconnect", "passcode lock" or "user cancle" (tested in this order)
//     end the run with kSourceUnreadable, kPasscodeLocked or kStopped;
//   - "Path=<folder>" sets `backupFolder` (the rest of that line) and reports
//     the previous progress value again;
//   - otherwise the chunk's leading decimal number becomes the progress value
//     (a chunk without one leaves it as it was) and is reported.
// Each report calls `callback(userValue, value)` (a null callback answers 0);
// a non-zero answer creates the stop file, ends the run and is returned as
// Status::FromProgressAnswer. The helper is then given time to stop and
// clean up before this returns.
// kOk when the helper ended without any of these words (`backupFolder` is
// empty when it printed no path); kInvalidData with words when it cannot
// start or no backup root is set.
Status RunDeviceBackup(const DeviceHelperSetup& setup, const std::string& password, ProgressCallback callback,
                       void* userValue, std::filesystem::path& backupFolder);

// The helper's stop file: the program's folder + "/exit".
std::filesystem::path DeviceHelperStopFile(const DeviceHelperSetup& setup);

}  // namespace corvyn::device
