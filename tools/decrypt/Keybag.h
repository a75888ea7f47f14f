// The backup keybag (Manifest.plist, key BackupKeyBag) and the password check.
//
// Layout: a sequence of items, each
//   offset 0  size 4  tag (ASCII)
//   offset 4  size 4  value length, big-endian
//   offset 8  size n  value (a 4-byte value is a big-endian integer)
// The header comes first (VERS, TYPE, UUID, HMCK, WRAP, SALT, ITER and, in
// two-stage keybags, DPWT, DPIC, DPSL). The first UUID is the keybag's own;
// every later UUID starts a class-key record whose CLAS, WRAP, KTYP, WPKY and
// PBKY follow it.
//
// Key-encryption key: PBKDF2-HMAC-SHA1(password, SALT, ITER, 32 bytes); when
// the keybag has DPSL and DPIC the password is first replaced by
// PBKDF2-HMAC-SHA256(password, DPSL, DPIC, 32 bytes). Every class key whose
// WRAP has bit 2 set is RFC 3394-unwrapped with it; a failed unwrap means a
// wrong password.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Status.h"

namespace corvyn::backupcrypto {

inline constexpr std::size_t kKeybagItemHeaderSize = 8;
inline constexpr std::uint32_t kWrapPasscode = 2;
inline constexpr std::uint32_t kKeyTypeAes = 0;
// Bounds on what a keybag may ask of us; real ones use ITER 10000 and DPIC 10,000,000.
inline constexpr std::uint32_t kMaxIterations = 100'000'000;
inline constexpr std::size_t kMaxClassKeys = 64;

using Bytes = std::vector<std::uint8_t>;

struct KeybagClassKey {
  Bytes uuid;
  std::uint32_t protectionClass = 0;
  std::uint32_t wrap = 0;
  std::uint32_t keyType = 0;
  Bytes wrappedKey;  // WPKY
};

struct Keybag {
  std::uint32_t version = 0;
  std::uint32_t type = 0;
  Bytes uuid;
  Bytes salt;                          // SALT
  std::uint32_t iterations = 0;        // ITER
  Bytes sha256Salt;                    // DPSL (empty when absent)
  std::uint32_t sha256Iterations = 0;  // DPIC (0 when absent)
  std::vector<KeybagClassKey> classKeys;

  bool IsTwoStage() const { return !sha256Salt.empty() && sha256Iterations != 0; }
};

// Parses keybag bytes. Returns kInvalidData when an item runs past the end,
// SALT or ITER is missing, an iteration count is 0 or above kMaxIterations,
// or there are more than kMaxClassKeys class records.
Status ParseKeybag(std::span<const std::uint8_t> bytes, Keybag& keybag);

// Derives the 32-byte key-encryption key from the password (UTF-8 bytes).
std::optional<Bytes> DerivePasswordKey(const Keybag& keybag, std::string_view password);

// Unwraps every password-wrapped AES class key with `passwordKey` into
// `classKeys` (protection class -> 32-byte key). Returns kWrongPassword when
// any unwrap fails its integrity check, kInvalidData when the keybag has no
// password-wrapped AES class key at all.
Status UnlockClassKeys(const Keybag& keybag, std::span<const std::uint8_t> passwordKey,
                       std::map<std::uint32_t, Bytes>& classKeys);

// Encodes a keybag in the layout above (test fixtures build theirs with it).
std::string EncodeKeybag(const Keybag& keybag);

}  // namespace corvyn::backupcrypto
