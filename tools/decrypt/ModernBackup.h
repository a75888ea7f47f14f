// An encrypted backup of the Manifest.db era (iOS 10.2 and later), opened
// with its password and read file by file.
//
// Such a backup is often 50 to 200 GB, so nothing here decrypts the whole
// folder: the caller asks for Manifest.db, then for each file it actually
// reads (a database with its -wal, a media file that is previewed or
// exported), or for the first bytes of a file to learn its type.
//
// Manifest.plist holds:
//   BackupKeyBag  the keybag (see Keybag.h); the password unlocks its class keys
//   ManifestKey   4-byte little-endian protection class + 40-byte RFC 3394
//                 wrapped key of Manifest.db
// Every stored file (and Manifest.db) is AES-256-CBC with a zero IV and
// PKCS#7 padding; a file's own key is the EncryptionKey of its `file` blob in
// Manifest.db, in the same 44-byte layout as ManifestKey.
//
// The password is derived once per backup (two stages when the keybag has
// DPSL/DPIC: 10,000,000 rounds of PBKDF2-HMAC-SHA256 on real backups, several
// seconds); the class keys then stay in this object's memory only and are
// wiped when it goes away. Nothing here logs or writes a key.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string_view>

#include "platform/Status.h"
#include "tools/decrypt/FileCipher.h"
#include "tools/decrypt/Keybag.h"

namespace corvyn::backupcrypto {

// Size of a wrapped key with its class prefix (ManifestKey, EncryptionKey).
inline constexpr std::size_t kWrappedKeyWithClassSize = 44;
inline constexpr std::uint32_t kKeyTypeCurve25519 = 1;

// What the password check is doing; the first stage is the long one.
enum class UnlockStep {
  kStretchingPassword,  // PBKDF2-HMAC-SHA256, DPIC rounds (two-stage keybags only)
  kDerivingKey,         // PBKDF2-HMAC-SHA1, ITER rounds
  kUnwrappingClassKeys,
};
using UnlockProgress = std::function<void(UnlockStep step)>;

// Once unlocked, the const members may be called from several threads at once.
class ModernBackup {
 public:
  ModernBackup() = default;
  ModernBackup(const ModernBackup&) = delete;
  ModernBackup& operator=(const ModernBackup&) = delete;
  ModernBackup(ModernBackup&& other) noexcept;
  ModernBackup& operator=(ModernBackup&& other) noexcept;
  ~ModernBackup();

  // Reads `folder`/Manifest.plist (binary or XML). Returns kInvalidData, in
  // words, when it is missing or unreadable, has no keybag, or has no
  // ManifestKey (then it is no encrypted backup of this era).
  static Status Open(const std::filesystem::path& folder, ModernBackup& backup);

  // Derives the password key once and unwraps the class keys with it.
  // `progress` is told each step before it starts. Returns kWrongPassword
  // when the password does not unlock the keybag (an empty one included).
  Status Unlock(std::string_view password, const UnlockProgress& progress = {});
  // The same with a key already derived from the password (the output of
  // both stages), for a caller that keeps it in memory between openings.
  Status UnlockWithPasswordKey(std::span<const std::uint8_t> passwordKey);
  bool IsUnlocked() const { return !classKeys_.empty(); }

  const Keybag& keybag() const { return keybag_; }
  const std::filesystem::path& folder() const { return folder_; }
  // Where the stored file of a Manifest.db row lies (<folder>/<first two
  // digits>/<fileID>); nothing when `fileId` is not 40 hex digits, so no
  // name from the database can point outside the backup folder.
  std::optional<std::filesystem::path> StoredFile(std::string_view fileId) const;
  // Protection class of ManifestKey.
  std::uint32_t ManifestKeyClass() const;
  // Protection classes whose key this program cannot unwrap (Curve25519).
  const std::set<std::uint32_t>& UnsupportedClasses() const { return unsupportedClasses_; }

  // Unwraps a 44-byte class-prefixed key into a 32-byte file key. Errors in
  // words: wrong size, unknown class, Curve25519 class, damaged key.
  Status UnwrapKey(std::span<const std::uint8_t> wrappedKeyWithClass, Bytes& fileKey) const;

  // Decrypts Manifest.db into a fresh file at `output`. The length is the
  // database's own (page size x page count from its header) when the header
  // reads as SQLite, otherwise the decrypted length less a valid PKCS#7 tail.
  // A result that is no SQLite database returns kInvalidData in words.
  Status DecryptManifestDb(const std::filesystem::path& output) const;

  // Decrypts one stored file into a fresh `output`. The true length comes
  // from the padding; `recordedSize` (the Size of its record, when known)
  // only flags a mismatch in `result`, except when the padding is invalid.
  Status DecryptFile(std::span<const std::uint8_t> wrappedKeyWithClass, const std::filesystem::path& source,
                     const std::filesystem::path& output, std::optional<std::uint64_t> recordedSize,
                     FileDecryptResult& result) const;

  // Decrypts only the first `count` bytes of a stored file (rounded up to
  // whole blocks when read, which a zero IV allows). `prefix` receives at
  // most `count` bytes: fewer when the file is shorter, without its padding.
  Status DecryptPrefix(std::span<const std::uint8_t> wrappedKeyWithClass, const std::filesystem::path& source,
                       std::size_t count, Bytes& prefix) const;

  // What a stored file holds without decrypting it whole: its first `count`
  // bytes (as DecryptPrefix gives them) and its plain length, taken from the
  // padding of its last block (decrypted with the block before it as the
  // IV). When that padding is invalid the length is the recorded size if it
  // lies within the last block, else the stored length, as DecryptFile
  // decides it; `paddingValid` says which.
  struct FileProbe {
    Bytes prefix;
    std::uint64_t plainLength = 0;
    bool paddingValid = false;
  };
  // Without `length` the last block is not read: the length is then that of
  // the whole blocks, less the padding when the head reached the end.
  Status ProbeFile(std::span<const std::uint8_t> wrappedKeyWithClass, const std::filesystem::path& source,
                   std::size_t count, std::optional<std::uint64_t> recordedSize, FileProbe& probe,
                   bool length = true) const;

 private:
  void Wipe();

  std::filesystem::path folder_;
  Keybag keybag_;
  Bytes manifestKey_;  // with its class prefix
  std::map<std::uint32_t, Bytes> classKeys_;
  std::set<std::uint32_t> unsupportedClasses_;
};

}  // namespace corvyn::backupcrypto
