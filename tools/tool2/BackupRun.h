// tool2's full backup: drives idevicebackup2 and turns what it prints into
// the few words the device helper's caller reads.
//
// Output on standard output, each its own write:
//   "<n>"             progress, 0 to 100 (repeated about once a second while
//                     nothing changes, so the caller can stop a silent backup)
//   "Path=<folder>"   the finished backup, <root>/<udid>, holding Manifest.db
//                     or Manifest.mbdb
//   "Disconnect"      the phone went away, or the connection or backup failed
//   "passcode lock"   the phone is locked with a passcode
//   "user cancle"     the stop file appeared (or tool2 was asked to end)
// Words for people go to standard error and hold no digits.
//
// The backup is written into a staging folder beside its final place and is
// moved there only when idevicebackup2 said "Backup Successful." and its
// Status.plist says the snapshot finished: a stopped or failed backup leaves
// nothing that could later pass for a complete one.
#pragma once

#include <filesystem>
#include <string>

namespace corvyn::tool2 {

struct BackupRequest {
  std::filesystem::path root;      // the backup goes to root/<udid>
  std::filesystem::path stopFile;  // its appearance stops the backup
  std::string udid;                // empty: the first phone listed
  std::string backupTool = "idevicebackup2";
};

// Exit code of the program.
int RunBackup(const BackupRequest& request);

// Prints `text` and a line end on standard output as one write.
void Say(const std::string& text);
// Prints `text` on standard error with every digit left out.
void Explain(const std::string& text);

}  // namespace corvyn::tool2
