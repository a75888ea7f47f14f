// Test support: turns a plain old-format backup folder (Info.plist,
// Manifest.plist, Manifest.mbdb and the files stored under their SHA-1 names)
// into the encrypted form the phone writes when backup encryption is on.
//
// What it writes into `out` (created when missing; existing files of the same
// names are replaced):
//   Manifest.plist  the plain one's keys (or an empty dictionary when absent)
//                   plus BackupKeyBag (a fresh keybag: random SALT, ITER,
//                   optionally DPSL/DPIC, random class keys 1..11 wrapped
//                   RFC 3394 with the password-derived key) and IsEncrypted true
//   Manifest.mbdb   the same records; every regular file or link record whose
//                   stored file exists gets a fresh 32-byte file key, wrapped
//                   with its class key, as its encryption key string
//                   (4-byte little-endian class + 40 wrapped bytes)
//   <stored name>   each such file AES-256-CBC encrypted, zero IV, PKCS#7
//   everything else in the plain folder is copied as it is
// The plain folder is only read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "platform/Status.h"

namespace corvyn::testsupport {

struct BackupEncryptOptions {
  // PBKDF2-HMAC-SHA1 rounds (ITER). Real backups use 10000; tests may lower it.
  std::uint32_t iterations = 10000;
  // When true the keybag carries DPSL/DPIC and the key comes from the
  // two-stage derivation (PBKDF2-HMAC-SHA256 first).
  bool twoStageKeybag = false;
  // PBKDF2-HMAC-SHA256 rounds (DPIC) for the two-stage keybag. Real backups
  // use 10,000,000; tests should lower it.
  std::uint32_t sha256Iterations = 10000;
  // Protection class given to records whose own class byte is not 1..4.
  std::uint32_t defaultProtectionClass = 3;
};

// Returns kOk, kInvalidData when the plain folder has no readable
// Manifest.mbdb (or its records are malformed), or an errno value when a
// file cannot be read or written.
Status EncryptBackupFolder(const std::filesystem::path& plain, const std::filesystem::path& out,
                           std::string_view password, const BackupEncryptOptions& options = {});

}  // namespace corvyn::testsupport
