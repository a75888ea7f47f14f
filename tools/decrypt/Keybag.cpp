#include "tools/decrypt/Keybag.h"

#include <openssl/evp.h>

#include <climits>
#include <cstring>

#include "tools/decrypt/KeyWrap.h"

namespace corvyn::backupcrypto {
namespace {

std::uint32_t BigEndian32(std::span<const std::uint8_t> bytes) {
  std::uint32_t value = 0;
  for (std::uint8_t b : bytes) value = (value << 8) | b;
  return value;
}

bool ReadU32(std::span<const std::uint8_t> value, std::uint32_t& out) {
  if (value.size() != 4) return false;
  out = BigEndian32(value);
  return true;
}

void AppendItem(std::string& out, const char* tag, std::span<const std::uint8_t> value) {
  out.append(tag, 4);
  const auto length = static_cast<std::uint32_t>(value.size());
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((length >> shift) & 0xFF));
  out.append(reinterpret_cast<const char*>(value.data()), value.size());
}

void AppendU32Item(std::string& out, const char* tag, std::uint32_t value) {
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value >> 24),
                                 static_cast<std::uint8_t>(value >> 16),
                                 static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
  AppendItem(out, tag, bytes);
}

bool Pbkdf2(std::span<const std::uint8_t> password, std::span<const std::uint8_t> salt,
            std::uint32_t iterations, const EVP_MD* digest, Bytes& out) {
  if (password.size() > INT_MAX || salt.size() > INT_MAX || iterations == 0 || iterations > INT_MAX)
    return false;
  out.assign(32, 0);
  return PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(password.data()), static_cast<int>(password.size()),
                           salt.data(), static_cast<int>(salt.size()), static_cast<int>(iterations), digest,
                           static_cast<int>(out.size()), out.data()) == 1;
}

}  // namespace

Status ParseKeybag(std::span<const std::uint8_t> bytes, Keybag& keybag) {
  keybag = Keybag{};
  bool sawSalt = false, sawIterations = false;
  KeybagClassKey* current = nullptr;
  std::size_t position = 0;
  while (bytes.size() - position >= kKeybagItemHeaderSize) {
    const auto tagBytes = bytes.subspan(position, 4);
    const std::string tag(reinterpret_cast<const char*>(tagBytes.data()), 4);
    const std::uint32_t length = BigEndian32(bytes.subspan(position + 4, 4));
    position += kKeybagItemHeaderSize;
    if (length > bytes.size() - position) return kInvalidData;
    const auto value = bytes.subspan(position, length);
    position += length;

    std::uint32_t number = 0;
    if (tag == "UUID") {
      if (keybag.uuid.empty() && current == nullptr) {
        keybag.uuid.assign(value.begin(), value.end());
        if (keybag.uuid.empty()) return kInvalidData;
      } else {
        if (keybag.classKeys.size() >= kMaxClassKeys) return kInvalidData;
        current = &keybag.classKeys.emplace_back();
        current->uuid.assign(value.begin(), value.end());
      }
    } else if (current != nullptr) {
      if (tag == "CLAS") {
        if (!ReadU32(value, current->protectionClass)) return kInvalidData;
      } else if (tag == "WRAP") {
        if (!ReadU32(value, current->wrap)) return kInvalidData;
      } else if (tag == "KTYP") {
        if (!ReadU32(value, current->keyType)) return kInvalidData;
      } else if (tag == "WPKY") {
        current->wrappedKey.assign(value.begin(), value.end());
      }
    } else if (tag == "VERS") {
      if (!ReadU32(value, keybag.version)) return kInvalidData;
    } else if (tag == "TYPE") {
      if (!ReadU32(value, keybag.type)) return kInvalidData;
    } else if (tag == "SALT") {
      keybag.salt.assign(value.begin(), value.end());
      sawSalt = true;
    } else if (tag == "ITER") {
      if (!ReadU32(value, keybag.iterations)) return kInvalidData;
      sawIterations = true;
    } else if (tag == "DPSL") {
      keybag.sha256Salt.assign(value.begin(), value.end());
    } else if (tag == "DPIC") {
      if (!ReadU32(value, number)) return kInvalidData;
      keybag.sha256Iterations = number;
    }
  }
  if (!sawSalt || !sawIterations || keybag.iterations == 0 || keybag.iterations > kMaxIterations ||
      keybag.sha256Iterations > kMaxIterations) {
    return kInvalidData;
  }
  return kOk;
}

std::optional<Bytes> DerivePasswordKey(const Keybag& keybag, std::string_view password) {
  Bytes passwordBytes(password.begin(), password.end());
  if (keybag.IsTwoStage()) {
    Bytes first;
    if (!Pbkdf2(passwordBytes, keybag.sha256Salt, keybag.sha256Iterations, EVP_sha256(), first))
      return std::nullopt;
    passwordBytes = std::move(first);
  }
  Bytes key;
  if (!Pbkdf2(passwordBytes, keybag.salt, keybag.iterations, EVP_sha1(), key)) return std::nullopt;
  return key;
}

Status UnlockClassKeys(const Keybag& keybag, std::span<const std::uint8_t> passwordKey,
                       std::map<std::uint32_t, Bytes>& classKeys) {
  classKeys.clear();
  for (const KeybagClassKey& entry : keybag.classKeys) {
    if ((entry.wrap & kWrapPasscode) == 0 || entry.keyType != kKeyTypeAes || entry.wrappedKey.empty())
      continue;
    auto key = AesKeyUnwrap(passwordKey, entry.wrappedKey);
    if (!key) {
      classKeys.clear();
      return kWrongPassword;
    }
    classKeys[entry.protectionClass] = std::move(*key);
  }
  return classKeys.empty() ? kInvalidData : kOk;
}

std::string EncodeKeybag(const Keybag& keybag) {
  std::string out;
  AppendU32Item(out, "VERS", keybag.version);
  AppendU32Item(out, "TYPE", keybag.type);
  AppendItem(out, "UUID", keybag.uuid);
  AppendU32Item(out, "WRAP", 0);
  AppendItem(out, "SALT", keybag.salt);
  AppendU32Item(out, "ITER", keybag.iterations);
  if (keybag.IsTwoStage()) {
    AppendU32Item(out, "DPWT", 1);
    AppendU32Item(out, "DPIC", keybag.sha256Iterations);
    AppendItem(out, "DPSL", keybag.sha256Salt);
  }
  for (const KeybagClassKey& entry : keybag.classKeys) {
    AppendItem(out, "UUID", entry.uuid);
    AppendU32Item(out, "CLAS", entry.protectionClass);
    AppendU32Item(out, "WRAP", entry.wrap);
    AppendU32Item(out, "KTYP", entry.keyType);
    AppendItem(out, "WPKY", entry.wrappedKey);
  }
  return out;
}

}  // namespace corvyn::backupcrypto
