#include "tests/support/backup_builder/ModernEncryption.h"

#include <openssl/rand.h>
#include <plist/plist.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <system_error>

#include "tools/decrypt/FileCipher.h"
#include "tools/decrypt/KeyWrap.h"
#include "tools/decrypt/Keybag.h"
#include "tools/decrypt/ModernBackup.h"

namespace corvyn::testsupport {
namespace {
namespace fs = std::filesystem;
namespace bc = corvyn::backupcrypto;
using Bytes = std::vector<std::uint8_t>;

struct PlistFree {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

constexpr std::uint32_t kClassCount = 11;

Bytes RandomBytes(std::size_t size) {
  Bytes bytes(size);
  RAND_bytes(bytes.data(), static_cast<int>(size));
  return bytes;
}

Bytes WithClass(std::uint32_t protectionClass, const Bytes& wrapped) {
  Bytes out(4 + wrapped.size());
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(protectionClass >> (8 * i));
  std::copy(wrapped.begin(), wrapped.end(), out.begin() + 4);
  return out;
}

Status ReadAll(const fs::path& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status(kInvalidData, "cannot read " + path.string());
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return kOk;
}

Status WriteAll(const fs::path& path, const char* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data, static_cast<std::streamsize>(size));
  if (!out) return Status::System(EIO, "writing " + path.string());
  return kOk;
}

plist_t ClassObject(const char* name, std::initializer_list<const char*> classes) {
  plist_t dict = plist_new_dict();
  plist_dict_set_item(dict, "$classname", plist_new_string(name));
  plist_t list = plist_new_array();
  for (const char* entry : classes) plist_array_append_item(list, plist_new_string(entry));
  plist_dict_set_item(dict, "$classes", list);
  return dict;
}

// A minimal NSKeyedArchiver MBFile; objects: 0 $null, 1 MBFile, 2 path,
// 3 MBFile class, then NSMutableData and its class for the key.
std::string FileBlob(const std::string& relativePath, std::uint64_t size, std::uint64_t mode,
                     std::uint32_t protectionClass, const Bytes& encryptionKey) {
  plist_t objects = plist_new_array();
  plist_array_append_item(objects, plist_new_string("$null"));
  plist_t file = plist_new_dict();
  plist_dict_set_item(file, "$class", plist_new_uid(3));
  plist_dict_set_item(file, "RelativePath", plist_new_uid(2));
  plist_dict_set_item(file, "Size", plist_new_uint(size));
  plist_dict_set_item(file, "Mode", plist_new_uint(mode));
  plist_dict_set_item(file, "UserID", plist_new_uint(501));
  plist_dict_set_item(file, "GroupID", plist_new_uint(501));
  plist_dict_set_item(file, "LastModified", plist_new_uint(1628082463));
  plist_dict_set_item(file, "LastStatusChange", plist_new_uint(1628082509));
  plist_dict_set_item(file, "Birth", plist_new_uint(1627974948));
  plist_dict_set_item(file, "Flags", plist_new_uint(0));
  plist_dict_set_item(file, "ProtectionClass", plist_new_uint(protectionClass));
  if (!encryptionKey.empty()) plist_dict_set_item(file, "EncryptionKey", plist_new_uid(4));
  plist_array_append_item(objects, file);
  plist_array_append_item(objects, plist_new_string(relativePath.c_str()));
  plist_array_append_item(objects, ClassObject("MBFile", {"MBFile", "NSObject"}));
  if (!encryptionKey.empty()) {
    plist_t data = plist_new_dict();
    plist_dict_set_item(
        data, "NS.data",
        plist_new_data(reinterpret_cast<const char*>(encryptionKey.data()), encryptionKey.size()));
    plist_dict_set_item(data, "$class", plist_new_uid(5));
    plist_array_append_item(objects, data);
    plist_array_append_item(objects, ClassObject("NSMutableData", {"NSMutableData", "NSData", "NSObject"}));
  }
  PlistPtr root(plist_new_dict());
  plist_dict_set_item(root.get(), "$archiver", plist_new_string("NSKeyedArchiver"));
  plist_dict_set_item(root.get(), "$version", plist_new_uint(100000));
  plist_t top = plist_new_dict();
  plist_dict_set_item(top, "root", plist_new_uid(1));
  plist_dict_set_item(root.get(), "$top", top);
  plist_dict_set_item(root.get(), "$objects", objects);
  char* bytes = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(root.get(), &bytes, &length);
  std::string blob(bytes, length);
  plist_to_bin_free(bytes);
  return blob;
}

struct Keys {
  std::map<std::uint32_t, Bytes> classKeys;
  Bytes passwordKey;
};

std::string MakeKeybag(std::string_view password, const ModernEncryptOptions& options, Keys& keys) {
  bc::Keybag keybag;
  keybag.version = 5;
  keybag.type = 1;
  keybag.uuid = RandomBytes(16);
  keybag.salt = RandomBytes(20);
  keybag.iterations = options.iterations;
  keybag.sha256Salt = RandomBytes(20);
  keybag.sha256Iterations = options.sha256Iterations;
  keys.passwordKey = *bc::DerivePasswordKey(keybag, password);
  for (std::uint32_t protectionClass = 1; protectionClass <= kClassCount; ++protectionClass) {
    bc::KeybagClassKey entry;
    entry.uuid = RandomBytes(16);
    entry.protectionClass = protectionClass;
    entry.wrap = bc::kWrapPasscode;
    if (protectionClass == options.curve25519Class) {
      entry.keyType = bc::kKeyTypeCurve25519;
      entry.wrappedKey = RandomBytes(40);
    } else {
      keys.classKeys[protectionClass] = RandomBytes(32);
      entry.wrappedKey = *bc::AesKeyWrap(keys.passwordKey, keys.classKeys[protectionClass]);
    }
    keybag.classKeys.push_back(entry);
  }
  return bc::EncodeKeybag(keybag);
}

// A fresh key for `protectionClass`, wrapped; the plain key goes to `key`.
Bytes NewWrappedKey(const Keys& keys, std::uint32_t protectionClass, Bytes& key) {
  key = RandomBytes(32);
  const auto classKey = keys.classKeys.find(protectionClass);
  if (classKey == keys.classKeys.end()) return WithClass(protectionClass, RandomBytes(40));
  return WithClass(protectionClass, *bc::AesKeyWrap(classKey->second, key));
}

Status AddFileBlobs(const fs::path& plain, const fs::path& database, const Keys& keys, const fs::path& out,
                    const ModernEncryptOptions& options) {
  sqlite3* handle = nullptr;
  if (sqlite3_open(database.c_str(), &handle) != SQLITE_OK) {
    sqlite3_close(handle);
    return Status(kInvalidData, "cannot open " + database.string());
  }
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(handle, sqlite3_close);
  sqlite3_stmt* rows = nullptr;
  sqlite3_stmt* update = nullptr;
  int code = sqlite3_prepare_v2(handle, "SELECT fileID, relativePath, flags FROM Files", -1, &rows, nullptr);
  if (code == SQLITE_OK)
    code = sqlite3_prepare_v2(handle, "UPDATE Files SET file = ? WHERE fileID = ?", -1, &update, nullptr);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> rowsOwner(rows, sqlite3_finalize),
      updateOwner(update, sqlite3_finalize);
  if (code != SQLITE_OK) return Status(kInvalidData, std::string("reading Files: ") + sqlite3_errmsg(handle));
  sqlite3_exec(handle, "BEGIN", nullptr, nullptr, nullptr);
  while (sqlite3_step(rows) == SQLITE_ROW) {
    const auto* idText = reinterpret_cast<const char*>(sqlite3_column_text(rows, 0));
    const auto* pathText = reinterpret_cast<const char*>(sqlite3_column_text(rows, 1));
    const std::string fileId = idText ? idText : "";
    const std::string relativePath = pathText ? pathText : "";
    const int flags = sqlite3_column_int(rows, 2);
    std::string blob;
    if (flags == 1 && fileId.size() >= 2) {
      const fs::path stored = plain / fileId.substr(0, 2) / fileId;
      std::error_code error;
      const std::uint64_t size = fs::exists(stored, error) ? fs::file_size(stored, error) : 0;
      Bytes key;
      const Bytes wrapped = NewWrappedKey(keys, options.fileClass, key);
      blob = FileBlob(relativePath, size, 0100644, options.fileClass, wrapped);
      if (fs::exists(stored, error)) {
        fs::create_directories(out / fileId.substr(0, 2), error);
        if (error) return Status::System(error, "creating " + (out / fileId.substr(0, 2)).string());
        if (const Status status = bc::EncryptFileCbc(stored, out / fileId.substr(0, 2) / fileId, key);
            status != kOk)
          return status;
      }
    } else {
      blob = FileBlob(relativePath, 0, flags == 2 ? 040755 : 0120755, 0, {});
    }
    sqlite3_bind_blob(update, 1, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(update, 2, fileId.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(update) != SQLITE_DONE)
      return Status(kInvalidData, std::string("writing Files: ") + sqlite3_errmsg(handle));
    sqlite3_reset(update);
  }
  if (sqlite3_exec(handle, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
    return Status(kInvalidData, std::string("writing Files: ") + sqlite3_errmsg(handle));
  return kOk;
}

}  // namespace

Status EncryptNewerLayoutFolder(const fs::path& plain, const fs::path& out, std::string_view password,
                                const ModernEncryptOptions& options) {
  std::error_code error;
  fs::create_directories(out, error);
  if (error) return Status::System(error, "creating " + out.string());

  Keys keys;
  const std::string keybag = MakeKeybag(password, options, keys);

  // Manifest.db with its blobs, encrypted with the manifest key.
  const fs::path work = out / "Manifest.db.plain";
  fs::copy_file(plain / "Manifest.db", work, fs::copy_options::overwrite_existing, error);
  if (error) return Status(kInvalidData, "cannot copy " + (plain / "Manifest.db").string());
  if (const Status status = AddFileBlobs(plain, work, keys, out, options); status != kOk) return status;
  Bytes manifestKey;
  const Bytes wrappedManifestKey = NewWrappedKey(keys, options.manifestKeyClass, manifestKey);
  const Status encrypted = bc::EncryptFileCbc(work, out / "Manifest.db", manifestKey);
  fs::remove(work, error);
  if (encrypted != kOk) return encrypted;

  std::string plistBytes;
  if (const Status status = ReadAll(plain / "Manifest.plist", plistBytes); status != kOk) return status;
  plist_t node = nullptr;
  plist_from_memory(plistBytes.data(), static_cast<std::uint32_t>(plistBytes.size()), &node);
  PlistPtr root(node);
  if (!node || plist_get_node_type(node) != PLIST_DICT) return Status(kInvalidData, "plain Manifest.plist");
  plist_dict_set_item(node, "BackupKeyBag", plist_new_data(keybag.data(), keybag.size()));
  plist_dict_set_item(
      node, "ManifestKey",
      plist_new_data(reinterpret_cast<const char*>(wrappedManifestKey.data()), wrappedManifestKey.size()));
  plist_dict_set_item(node, "IsEncrypted", plist_new_bool(1));
  char* bytes = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(node, &bytes, &length);
  const Status written = WriteAll(out / "Manifest.plist", bytes, length);
  plist_to_bin_free(bytes);
  if (written != kOk) return written;

  for (const char* name : {"Info.plist", "Status.plist"}) {
    if (!fs::exists(plain / name)) continue;
    fs::copy_file(plain / name, out / name, fs::copy_options::overwrite_existing, error);
    if (error) return Status::System(error, "copying " + std::string(name));
  }
  return kOk;
}

std::optional<Bytes> EncryptionKeyOfFileBlob(std::span<const std::uint8_t> blob) {
  plist_t node = nullptr;
  plist_from_memory(reinterpret_cast<const char*>(blob.data()), static_cast<std::uint32_t>(blob.size()),
                    &node);
  PlistPtr root(node);
  if (!node || plist_get_node_type(node) != PLIST_DICT) return std::nullopt;
  plist_t objects = plist_dict_get_item(node, "$objects");
  plist_t top = plist_dict_get_item(node, "$top");
  if (!objects || !top || plist_get_node_type(objects) != PLIST_ARRAY) return std::nullopt;
  auto resolve = [&](plist_t item) -> plist_t {
    if (item && plist_get_node_type(item) == PLIST_UID) {
      std::uint64_t index = 0;
      plist_get_uid_val(item, &index);
      return index < plist_array_get_size(objects)
                 ? plist_array_get_item(objects, static_cast<std::uint32_t>(index))
                 : nullptr;
    }
    return item;
  };
  plist_t file = resolve(plist_dict_get_item(top, "root"));
  if (!file || plist_get_node_type(file) != PLIST_DICT) return std::nullopt;
  plist_t key = resolve(plist_dict_get_item(file, "EncryptionKey"));
  if (key && plist_get_node_type(key) == PLIST_DICT) key = resolve(plist_dict_get_item(key, "NS.data"));
  if (!key || plist_get_node_type(key) != PLIST_DATA) return std::nullopt;
  char* data = nullptr;
  std::uint64_t length = 0;
  plist_get_data_val(key, &data, &length);
  Bytes bytes(data, data + length);
  std::free(data);
  return bytes;
}

}  // namespace corvyn::testsupport
