// Test support: turns a plain backup folder of the Manifest.db layout (as
// BackupBuilder::WriteNewerLayout writes it) into the encrypted form the phone
// writes when backup encryption is on (iOS 10.2 and later).
//
// What it writes into `out` (created when missing):
//   Manifest.plist  the plain one's keys plus BackupKeyBag (a fresh two-stage
//                   keybag: random SALT and DPSL, small round counts, random
//                   class keys 1..11 wrapped RFC 3394 with the password key),
//                   ManifestKey (class prefix + wrapped random key) and
//                   IsEncrypted true
//   Manifest.db     the plain database whose every row gets a `file` blob (a
//                   small NSKeyedArchiver MBFile: RelativePath, Size, Mode,
//                   ProtectionClass and, for regular files, EncryptionKey =
//                   class prefix + a fresh file key wrapped with the class
//                   key), then AES-256-CBC encrypted with the ManifestKey
//   xx/<fileID>     each stored file AES-256-CBC encrypted, zero IV, PKCS#7
//   Info.plist, Status.plist  copied when present
// The plain folder is only read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/Status.h"

namespace corvyn::testsupport {

struct ModernEncryptOptions {
  std::uint32_t iterations = 10;        // ITER (real backups: 10000)
  std::uint32_t sha256Iterations = 10;  // DPIC (real backups: 10,000,000)
  std::uint32_t manifestKeyClass = 4;
  std::uint32_t fileClass = 3;  // protection class of every regular file
  // When not 0, this class's record in the keybag is an asymmetric
  // (Curve25519) key; keys of that class are then random bytes.
  std::uint32_t curve25519Class = 0;
};

// Returns kOk, kInvalidData when the plain folder has no readable
// Manifest.db or Manifest.plist, or an errno value when a file cannot be
// read or written.
Status EncryptNewerLayoutFolder(const std::filesystem::path& plain, const std::filesystem::path& out,
                                std::string_view password, const ModernEncryptOptions& options = {});

// The EncryptionKey of an MBFile `file` blob (NS.data inline or behind a
// UID), or nothing when the blob has none.
std::optional<std::vector<std::uint8_t>> EncryptionKeyOfFileBlob(std::span<const std::uint8_t> blob);

}  // namespace corvyn::testsupport
