#include "tests/support/backup_crypto/BackupEncryptor.h"

#include <openssl/rand.h>
#include <plist/plist.h>

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "backup/mbdb/MbdbRecord.h"
#include "tools/decrypt/FileCipher.h"
#include "tools/decrypt/KeyWrap.h"
#include "tools/decrypt/Keybag.h"

namespace corvyn::testsupport {
namespace fs = std::filesystem;
namespace bc = corvyn::backupcrypto;
namespace {

struct PlistFree {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

bc::Bytes RandomBytes(std::size_t count) {
  bc::Bytes bytes(count);
  if (RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) bytes.clear();
  return bytes;
}

Status ReadWhole(const fs::path& path, std::string& bytes) {
  bc::FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file) return kInvalidData;
  bytes.clear();
  char buffer[1 << 14];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file.get())) != 0;)
    bytes.append(buffer, got);
  return std::ferror(file.get()) ? kShortRead : kOk;
}

Status WriteWhole(const fs::path& path, const void* data, std::size_t size) {
  bc::FileHandle file;
  if (Status status = bc::CreateFreshFile(path, file); status != kOk) return status;
  if (size != 0 && std::fwrite(data, 1, size, file.get()) != size) return kShortRead;
  return std::fclose(file.release()) == 0 ? kOk : kShortRead;
}

// Protection classes 1..11; the file classes 1..4 and most keychain classes
// are wrapped with the password only, 5, 9, 10, 11 also with the device key.
bool MakeKeybag(const BackupEncryptOptions& options, std::string_view password, bc::Keybag& keybag,
                std::map<std::uint32_t, bc::Bytes>& classKeys) {
  keybag.version = options.twoStageKeybag ? 5 : 3;
  keybag.type = 1;
  keybag.uuid = RandomBytes(16);
  keybag.salt = RandomBytes(20);
  keybag.iterations = options.iterations;
  if (options.twoStageKeybag) {
    keybag.sha256Salt = RandomBytes(20);
    keybag.sha256Iterations = options.sha256Iterations;
  }
  const auto kek = bc::DerivePasswordKey(keybag, password);
  if (!kek) return false;
  for (std::uint32_t protectionClass = 1; protectionClass <= 11; ++protectionClass) {
    bc::KeybagClassKey entry;
    entry.uuid = RandomBytes(16);
    entry.protectionClass = protectionClass;
    const bool deviceBound = protectionClass == 5 || protectionClass >= 9;
    entry.wrap = deviceBound ? 3 : bc::kWrapPasscode;
    entry.keyType = bc::kKeyTypeAes;
    bc::Bytes key = RandomBytes(32);
    auto wrapped = bc::AesKeyWrap(*kek, key);
    if (!wrapped || key.size() != 32) return false;
    entry.wrappedKey = std::move(*wrapped);
    classKeys[protectionClass] = std::move(key);
    keybag.classKeys.push_back(std::move(entry));
  }
  return true;
}

Status WriteManifestPlist(const fs::path& plain, const fs::path& out, const std::string& keybagBytes) {
  PlistPtr root;
  std::string existing;
  if (fs::is_regular_file(plain / "Manifest.plist") && ReadWhole(plain / "Manifest.plist", existing) == kOk) {
    plist_t node = nullptr;
    plist_from_memory(existing.data(), static_cast<std::uint32_t>(existing.size()), &node);
    root.reset(node);
  }
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) root.reset(plist_new_dict());
  plist_dict_set_item(root.get(), "BackupKeyBag", plist_new_data(keybagBytes.data(), keybagBytes.size()));
  plist_dict_set_item(root.get(), "IsEncrypted", plist_new_bool(1));
  char* bytes = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(root.get(), &bytes, &length);
  if (!bytes) return kInvalidData;
  const Status status = WriteWhole(out / "Manifest.plist", bytes, length);
  plist_to_bin_free(bytes);
  return status;
}

}  // namespace

Status EncryptBackupFolder(const fs::path& plain, const fs::path& out, std::string_view password,
                           const BackupEncryptOptions& options) {
  std::string mbdb;
  if (ReadWhole(plain / "Manifest.mbdb", mbdb) != kOk) return kInvalidData;
  std::vector<backup::MbdbRecord> records;
  if (backup::ParseMbdb(std::span(reinterpret_cast<const std::uint8_t*>(mbdb.data()), mbdb.size()),
                        records) != kOk) {
    return kInvalidData;
  }
  bc::Keybag keybag;
  std::map<std::uint32_t, bc::Bytes> classKeys;
  if (!MakeKeybag(options, password, keybag, classKeys)) return kInvalidData;
  std::error_code ec;
  fs::create_directories(out, ec);
  if (ec) return Status::System(ec, "creating " + out.string());

  std::map<std::string, std::string> wrappedKeys;  // stored name -> encryption key string
  std::string encryptedMbdb = backup::MbdbHeader();
  for (backup::MbdbRecord& record : records) {
    if (record.HasStoredFile() && fs::is_regular_file(plain / record.StoredName())) {
      const std::string name = record.StoredName();
      auto known = wrappedKeys.find(name);
      if (known == wrappedKeys.end()) {
        const std::uint32_t protectionClass = record.protectionClass >= 1 && record.protectionClass <= 4
                                                  ? record.protectionClass
                                                  : options.defaultProtectionClass;
        const auto classKey = classKeys.find(protectionClass);
        if (classKey == classKeys.end()) return kInvalidData;
        const bc::Bytes fileKey = RandomBytes(bc::kFileKeySize);
        const auto wrapped = bc::AesKeyWrap(classKey->second, fileKey);
        if (!wrapped || fileKey.size() != bc::kFileKeySize) return kInvalidData;
        if (Status status = bc::EncryptFileCbc(plain / name, out / name, fileKey); status != kOk)
          return status;
        std::string encryptionKey;
        for (int shift = 0; shift < 32; shift += 8)
          encryptionKey.push_back(static_cast<char>(protectionClass >> shift));
        encryptionKey.append(reinterpret_cast<const char*>(wrapped->data()), wrapped->size());
        known = wrappedKeys.emplace(name, std::move(encryptionKey)).first;
      }
      record.encryptionKey = known->second;
    }
    if (Status status = backup::AppendMbdbRecord(record, encryptedMbdb); status != kOk) return status;
  }
  if (Status status = WriteWhole(out / "Manifest.mbdb", encryptedMbdb.data(), encryptedMbdb.size());
      status != kOk) {
    return status;
  }
  if (Status status = WriteManifestPlist(plain, out, bc::EncodeKeybag(keybag)); status != kOk) return status;

  const std::set<std::string> written = {"Manifest.mbdb", "Manifest.plist"};
  for (const auto& entry : fs::directory_iterator(plain, ec)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || written.count(name) != 0 || wrappedKeys.count(name) != 0) continue;
    std::string bytes;
    if (Status status = ReadWhole(entry.path(), bytes); status != kOk) return status;
    if (Status status = WriteWhole(out / name, bytes.data(), bytes.size()); status != kOk) return status;
  }
  if (ec) return Status::System(ec, "listing the backup");
  return kOk;
}

}  // namespace corvyn::testsupport
