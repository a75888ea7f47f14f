#include "tools/decrypt/ModernBackup.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <plist/plist.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "tools/decrypt/BackupDecryptor.h"
#include "tools/decrypt/KeyWrap.h"

namespace corvyn::backupcrypto {
namespace {
namespace fs = std::filesystem;

struct PlistFree {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

constexpr char kSqliteMagic[] = "SQLite format 3";  // followed by a zero byte
constexpr std::size_t kSqliteHeaderSize = 100;

void Cleanse(Bytes& bytes) {
  if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
  bytes.clear();
}

bool Pbkdf2(std::span<const std::uint8_t> password, std::span<const std::uint8_t> salt,
            std::uint32_t iterations, const EVP_MD* digest, Bytes& out) {
  if (password.size() > INT_MAX || salt.size() > INT_MAX || iterations == 0 || iterations > INT_MAX)
    return false;
  out.assign(kKekSize, 0);
  return PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(password.data()), static_cast<int>(password.size()),
                           salt.data(), static_cast<int>(salt.size()), static_cast<int>(iterations), digest,
                           static_cast<int>(out.size()), out.data()) == 1;
}

Status ReadSmallFile(const fs::path& path, std::uintmax_t limit, std::string& bytes) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) return Status(kInvalidData, "cannot read " + path.filename().string() + ": " + error.message());
  if (size > limit) return Status(kInvalidData, path.filename().string() + " is too large to be a manifest");
  FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file) return Status::System(errno, "opening " + path.string());
  bytes.resize(static_cast<std::size_t>(size));
  if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
    return Status::System(errno, "reading " + path.string());
  return kOk;
}

Bytes DataValue(plist_t dict, const char* key) {
  plist_t node = plist_dict_get_item(dict, key);
  if (!node || plist_get_node_type(node) != PLIST_DATA) return {};
  char* data = nullptr;
  std::uint64_t length = 0;
  plist_get_data_val(node, &data, &length);
  Bytes bytes(data, data + length);
  std::free(data);
  return bytes;
}

std::uint32_t ClassOf(std::span<const std::uint8_t> wrappedKeyWithClass) {
  const auto* b = wrappedKeyWithClass.data();
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::uint32_t BigEndian(const std::uint8_t* bytes, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value = (value << 8) | bytes[i];
  return value;
}

// PKCS#7: 1..16 bytes, each equal to the count; 0 when invalid.
std::size_t PaddingLength(std::span<const std::uint8_t> tail) {
  if (tail.size() < kAesBlockSize) return 0;
  const std::uint8_t count = tail.back();
  if (count == 0 || count > kAesBlockSize) return 0;
  return std::all_of(tail.end() - count, tail.end(), [count](std::uint8_t b) { return b == count; }) ? count
                                                                                                     : 0;
}

// Decrypts `source` block by block into `output` keeping every byte (no
// padding removed); the caller decides the length.
Status DecryptRaw(const fs::path& source, const fs::path& output, std::span<const std::uint8_t> key,
                  std::uint64_t& written, std::uint8_t lastBlock[kAesBlockSize]) {
  FileHandle in(std::fopen(source.c_str(), "rb"));
  if (!in) return Status::System(errno, "opening " + source.string());
  FileHandle out;
  if (const Status status = CreateFreshFile(output, out); status != kOk) return status;
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  static constexpr std::uint8_t kZeroIv[kAesBlockSize] = {};
  if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), kZeroIv) != 1)
    return Status(kInvalidData, "the cipher could not be set up");
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  std::vector<std::uint8_t> input(kCipherChunkSize), plain(kCipherChunkSize + kAesBlockSize);
  written = 0;
  std::size_t carried = 0;
  for (;;) {
    const std::size_t got = std::fread(input.data() + carried, 1, input.size() - carried, in.get());
    const std::size_t available = carried + got;
    const std::size_t whole = available - available % kAesBlockSize;
    int length = 0;
    if (whole > 0 &&
        EVP_DecryptUpdate(ctx.get(), plain.data(), &length, input.data(), static_cast<int>(whole)) != 1)
      return Status(kInvalidData, "decrypting " + source.filename().string());
    if (length > 0) {
      if (std::fwrite(plain.data(), 1, static_cast<std::size_t>(length), out.get()) !=
          static_cast<std::size_t>(length))
        return Status::System(errno, "writing " + output.string());
      std::memcpy(lastBlock, plain.data() + length - kAesBlockSize, kAesBlockSize);
      written += static_cast<std::uint64_t>(length);
    }
    carried = available - whole;
    std::memmove(input.data(), input.data() + whole, carried);
    if (got == 0) break;
  }
  if (std::ferror(in.get())) return Status::System(EIO, "reading " + source.string());
  if (carried != 0)
    return Status(kInvalidData, source.filename().string() + " is not a whole number of cipher blocks");
  if (std::fclose(out.release()) != 0) return Status::System(errno, "writing " + output.string());
  return kOk;
}

}  // namespace

ModernBackup::ModernBackup(ModernBackup&& other) noexcept {
  *this = std::move(other);
}

ModernBackup& ModernBackup::operator=(ModernBackup&& other) noexcept {
  if (this != &other) {
    Wipe();
    folder_ = std::move(other.folder_);
    keybag_ = std::move(other.keybag_);
    manifestKey_ = std::move(other.manifestKey_);
    classKeys_ = std::move(other.classKeys_);
    unsupportedClasses_ = std::move(other.unsupportedClasses_);
    other.classKeys_.clear();
  }
  return *this;
}

ModernBackup::~ModernBackup() {
  Wipe();
}

void ModernBackup::Wipe() {
  for (auto& [protectionClass, key] : classKeys_) Cleanse(key);
  classKeys_.clear();
}

Status ModernBackup::Open(const fs::path& folder, ModernBackup& backup) {
  backup = ModernBackup();
  std::string bytes;
  if (const Status status = ReadSmallFile(folder / "Manifest.plist", kMaxManifestPlistSize, bytes);
      status != kOk) {
    return status;
  }
  plist_t node = nullptr;
  plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &node);
  PlistPtr root(node);
  if (!node || plist_get_node_type(node) != PLIST_DICT)
    return Status(kInvalidData, "Manifest.plist of this backup cannot be read");
  const Bytes keybagBytes = DataValue(node, "BackupKeyBag");
  if (keybagBytes.empty()) return Status(kInvalidData, "Manifest.plist of this backup has no keybag");
  if (const Status status = ParseKeybag(keybagBytes, backup.keybag_); status != kOk)
    return Status(kInvalidData, "the keybag of this backup is damaged");
  backup.manifestKey_ = DataValue(node, "ManifestKey");
  if (backup.manifestKey_.size() != kWrappedKeyWithClassSize)
    return Status(kInvalidData, "Manifest.plist of this backup has no usable ManifestKey");
  for (const KeybagClassKey& entry : backup.keybag_.classKeys) {
    if ((entry.wrap & kWrapPasscode) != 0 && entry.keyType == kKeyTypeCurve25519)
      backup.unsupportedClasses_.insert(entry.protectionClass);
  }
  backup.folder_ = folder;
  return kOk;
}

Status ModernBackup::Unlock(std::string_view password, const UnlockProgress& progress) {
  Bytes secret(password.begin(), password.end());
  if (keybag_.IsTwoStage()) {
    if (progress) progress(UnlockStep::kStretchingPassword);
    Bytes first;
    const bool ok = Pbkdf2(secret, keybag_.sha256Salt, keybag_.sha256Iterations, EVP_sha256(), first);
    Cleanse(secret);
    if (!ok) return Status(kInvalidData, "the password could not be checked (key derivation failed)");
    secret = std::move(first);
  }
  if (progress) progress(UnlockStep::kDerivingKey);
  Bytes key;
  const bool ok = Pbkdf2(secret, keybag_.salt, keybag_.iterations, EVP_sha1(), key);
  Cleanse(secret);
  if (!ok) return Status(kInvalidData, "the password could not be checked (key derivation failed)");
  if (progress) progress(UnlockStep::kUnwrappingClassKeys);
  const Status status = UnlockWithPasswordKey(key);
  Cleanse(key);
  return status;
}

Status ModernBackup::UnlockWithPasswordKey(std::span<const std::uint8_t> passwordKey) {
  Wipe();
  if (passwordKey.size() != kKekSize) return Status(kInvalidData, "the password key has the wrong size");
  const Status status = UnlockClassKeys(keybag_, passwordKey, classKeys_);
  if (status == kWrongPassword) return kWrongPassword;
  if (status != kOk) return Status(kInvalidData, "the keybag of this backup holds no password-protected key");
  return kOk;
}

std::optional<fs::path> ModernBackup::StoredFile(std::string_view fileId) const {
  constexpr std::size_t kFileIdLength = 40;
  if (fileId.size() != kFileIdLength || !std::all_of(fileId.begin(), fileId.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
      }))
    return std::nullopt;
  return folder_ / std::string(fileId.substr(0, 2)) / std::string(fileId);
}

std::uint32_t ModernBackup::ManifestKeyClass() const {
  return manifestKey_.size() == kWrappedKeyWithClassSize ? ClassOf(manifestKey_) : 0;
}

Status ModernBackup::UnwrapKey(std::span<const std::uint8_t> wrappedKeyWithClass, Bytes& fileKey) const {
  fileKey.clear();
  if (wrappedKeyWithClass.size() != kWrappedKeyWithClassSize) {
    return Status(kInvalidData, "the file key has " + std::to_string(wrappedKeyWithClass.size()) +
                                    " bytes instead of " + std::to_string(kWrappedKeyWithClassSize));
  }
  const std::uint32_t protectionClass = ClassOf(wrappedKeyWithClass);
  if (unsupportedClasses_.count(protectionClass) != 0) {
    return Status(kInvalidData, "protection class " + std::to_string(protectionClass) +
                                    " uses a key type this program cannot unwrap (Curve25519)");
  }
  const auto classKey = classKeys_.find(protectionClass);
  if (classKey == classKeys_.end()) {
    if (!IsUnlocked()) return Status(kWrongPassword, "the backup has not been unlocked with its password");
    return Status(kInvalidData, "the file key names protection class " + std::to_string(protectionClass) +
                                    ", which the keybag does not hold");
  }
  auto key = AesKeyUnwrap(classKey->second, wrappedKeyWithClass.subspan(4));
  if (!key || key->size() != kFileKeySize) {
    return Status(kInvalidData,
                  "the file key is damaged: it does not unwrap with the key of protection class " +
                      std::to_string(protectionClass));
  }
  fileKey = std::move(*key);
  return kOk;
}

Status ModernBackup::DecryptManifestDb(const fs::path& output) const {
  Bytes key;
  if (const Status status = UnwrapKey(manifestKey_, key); status != kOk)
    return status.WithContext("Manifest.db");
  std::uint64_t written = 0;
  std::uint8_t lastBlock[kAesBlockSize] = {};
  const fs::path source = folder_ / "Manifest.db";
  Status status = DecryptRaw(source, output, key, written, lastBlock);
  Cleanse(key);
  if (status != kOk) {
    std::error_code ignored;
    fs::remove(output, ignored);
    return status;
  }
  // The database's own length, from its header, wins over the padding.
  std::uint8_t header[kSqliteHeaderSize] = {};
  bool isSqlite = false;
  std::uint64_t length = written;
  if (FileHandle file(std::fopen(output.c_str(), "rb"));
      file && std::fread(header, 1, sizeof header, file.get()) == sizeof header) {
    isSqlite = std::memcmp(header, kSqliteMagic, sizeof kSqliteMagic) == 0;
  }
  if (isSqlite) {
    std::uint64_t pageSize = BigEndian(header + 16, 2);
    if (pageSize == 1) pageSize = 65536;
    const std::uint64_t pages = BigEndian(header + 28, 4);
    if (pageSize >= 512 && pages > 0 && pageSize * pages <= written) {
      length = pageSize * pages;
    } else {
      length = written - PaddingLength(lastBlock);
    }
  }
  std::error_code error;
  if (isSqlite && length != written) fs::resize_file(output, length, error);
  if (!isSqlite || error) {
    fs::remove(output, error);
    return Status(
        kInvalidData,
        "Manifest.db does not decrypt to a database: the backup is damaged or its ManifestKey is wrong");
  }
  return kOk;
}

Status ModernBackup::DecryptFile(std::span<const std::uint8_t> wrappedKeyWithClass, const fs::path& source,
                                 const fs::path& output, std::optional<std::uint64_t> recordedSize,
                                 FileDecryptResult& result) const {
  result = {};
  Bytes key;
  if (const Status status = UnwrapKey(wrappedKeyWithClass, key); status != kOk) return status;
  const Status status = DecryptFileCbc(source, output, key, recordedSize, result);
  Cleanse(key);
  return status;
}

Status ModernBackup::DecryptPrefix(std::span<const std::uint8_t> wrappedKeyWithClass, const fs::path& source,
                                   std::size_t count, Bytes& prefix) const {
  FileProbe probe;
  const Status status = ProbeFile(wrappedKeyWithClass, source, count, std::nullopt, probe);
  prefix = std::move(probe.prefix);
  return status;
}

namespace {

// Decrypts whole blocks of `cipher` into `plain` (resized to match) with `iv`.
bool DecryptBlocks(std::span<const std::uint8_t> key, const std::uint8_t* iv,
                   std::span<const std::uint8_t> cipher, Bytes& plain) {
  plain.resize(cipher.size() + kAesBlockSize);
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  int length = 0;
  const bool ok = ctx && EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), iv) == 1 &&
                  EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
                  (cipher.empty() || EVP_DecryptUpdate(ctx.get(), plain.data(), &length, cipher.data(),
                                                       static_cast<int>(cipher.size())) == 1);
  plain.resize(ok ? static_cast<std::size_t>(length) : 0);
  return ok;
}

}  // namespace

Status ModernBackup::ProbeFile(std::span<const std::uint8_t> wrappedKeyWithClass, const fs::path& source,
                               std::size_t count, std::optional<std::uint64_t> recordedSize, FileProbe& probe,
                               bool length) const {
  probe = {};
  Bytes key;
  if (const Status status = UnwrapKey(wrappedKeyWithClass, key); status != kOk) return status;
  struct KeyWiper {
    Bytes& key;
    ~KeyWiper() { Cleanse(key); }
  } wiper{key};
  FileHandle in(std::fopen(source.c_str(), "rb"));
  if (!in) return Status::System(errno, "opening " + source.string());
  std::error_code sizeError;
  const std::uint64_t fileSize = fs::file_size(source, sizeError);
  if (sizeError) return Status::System(sizeError, "reading " + source.string());
  const std::uint64_t wholeBlocks = fileSize - fileSize % kAesBlockSize;
  static constexpr std::uint8_t kZeroIv[kAesBlockSize] = {};

  // The first bytes: whole blocks from the start, never more than the file holds.
  const std::uint64_t asked = std::min<std::uint64_t>(count, wholeBlocks);
  Bytes cipher(static_cast<std::size_t>((asked + kAesBlockSize - 1) / kAesBlockSize * kAesBlockSize));
  if (std::fread(cipher.data(), 1, cipher.size(), in.get()) != cipher.size())
    return Status::System(EIO, "reading " + source.string());
  if (!DecryptBlocks(key, kZeroIv, cipher, probe.prefix))
    return Status(kInvalidData, "decrypting " + source.filename().string());

  // The last block, with the one before it (or the zero IV) as its IV.
  probe.plainLength = wholeBlocks;
  if (wholeBlocks >= kAesBlockSize && (length || cipher.size() == wholeBlocks)) {
    std::uint8_t tail[2 * kAesBlockSize] = {};
    const bool hasPrevious = wholeBlocks >= 2 * kAesBlockSize;
    const std::uint64_t tailStart = wholeBlocks - (hasPrevious ? 2 : 1) * kAesBlockSize;
    const std::size_t tailSize = (hasPrevious ? 2 : 1) * kAesBlockSize;
    if (std::fseek(in.get(), static_cast<long>(tailStart), SEEK_SET) != 0 ||
        std::fread(tail, 1, tailSize, in.get()) != tailSize)
      return Status::System(EIO, "reading " + source.string());
    Bytes last;
    const std::uint8_t* iv = hasPrevious ? tail : kZeroIv;
    if (!DecryptBlocks(key, iv, std::span(tail + tailSize - kAesBlockSize, kAesBlockSize), last))
      return Status(kInvalidData, "decrypting " + source.filename().string());
    const bool aligned = fileSize % kAesBlockSize == 0;
    const std::size_t padding = aligned ? PaddingLength(last) : 0;
    probe.paddingValid = padding != 0;
    if (probe.paddingValid) {
      probe.plainLength = wholeBlocks - padding;
    } else if (aligned && recordedSize && *recordedSize < wholeBlocks &&
               *recordedSize + kAesBlockSize >= wholeBlocks) {
      probe.plainLength = *recordedSize;
    }
  }
  if (probe.prefix.size() > probe.plainLength)
    probe.prefix.resize(static_cast<std::size_t>(probe.plainLength));
  if (probe.prefix.size() > count) probe.prefix.resize(count);
  return kOk;
}

}  // namespace corvyn::backupcrypto
