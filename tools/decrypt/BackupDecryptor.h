// Decrypts an encrypted old-format backup (Manifest.plist + Manifest.mbdb +
// stored files) into a copy folder that reads like a plain backup:
//   <stored name>   each file of the manifest, decrypted (or copied when its
//                   record carries no key)
//   Manifest.mbdb   the same records with their encryption keys removed
//   Manifest.plist  the same dictionary without BackupKeyBag, IsEncrypted false
//   Info.plist, Status.plist  copied when present
// The source folder is only read. Output names are the 40-digit stored names
// computed from each record, so nothing the backup names can leave the copy
// folder; anything already lying at an output name (a symbolic link too) is
// replaced, never written through.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Status.h"

namespace corvyn::backupcrypto {

// Bounds on the manifests read whole into memory.
inline constexpr std::uintmax_t kMaxManifestPlistSize = 64u << 20;
inline constexpr std::uintmax_t kMaxMbdbSize = 1u << 30;

// Observer calls come from worker threads, one at a time.
struct DecryptObserver {
  // Called after every stored file has been written, with the running count
  // of files written.
  std::function<void(std::uint64_t filesDone)> fileDone;
  // One line per file that could not be written as expected (missing
  // payload, unknown class, invalid padding, recorded size mismatch, ...).
  std::function<void(const std::string& line)> warning;
};

struct DecryptSummary {
  std::uint64_t filesWritten = 0;
  std::uint64_t filesMissing = 0;  // listed in the manifest, absent from the folder
  std::uint64_t filesFailed = 0;   // key or I/O failure; the copy of that file is absent
  bool manifestDamaged = false;    // Manifest.mbdb ended inside a record
};

struct DecryptOptions {
  // Files decrypted at once; 0 picks the processor count, at most 4.
  unsigned workers = 0;
};

// Refuses (kInvalidData) a copy folder that is the backup folder itself or
// lies inside it; both are compared after resolving links and "..".
Status CheckCopyFolder(const std::filesystem::path& backup, const std::filesystem::path& copy);

// Returns kOk when every listed file was written, kWrongPassword when the
// password does not unlock the keybag, kInvalidData when the backup cannot be
// opened (no readable Manifest.plist with a keybag, no Manifest.mbdb, an
// unsafe copy folder), EIO when one or more files failed or Manifest.mbdb
// ends inside a record (every file that could be is still written), or an
// errno value when the copy folder or its manifests cannot be written.
Status DecryptBackupFolder(const std::filesystem::path& backup, const std::filesystem::path& copy,
                           std::string_view password, const DecryptObserver& observer,
                           DecryptSummary& summary, const DecryptOptions& options = {});

}  // namespace corvyn::backupcrypto
