#include "tests/support/backup_builder/BackupBuilder.h"

#include <openssl/evp.h>
#include <plist/plist.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>

#include "tests/support/backup_crypto/BackupEncryptor.h"

namespace corvyn::testsupport {
namespace fs = std::filesystem;
namespace {

void PutU16(std::string& out, uint16_t value) {
  out.push_back(static_cast<char>(value >> 8));
  out.push_back(static_cast<char>(value & 0xFF));
}

void PutU32(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void PutString(std::string& out, std::string_view text, bool absent = false) {
  if (absent) {
    PutU16(out, 0xFFFF);
    return;
  }
  PutU16(out, static_cast<uint16_t>(text.size()));
  out.append(text);
}

std::string HexDigest(const EVP_MD* type, std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, type, nullptr);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text.push_back(kHex[digest[i] >> 4]);
    text.push_back(kHex[digest[i] & 0x0F]);
  }
  return text;
}

Status WriteBytes(const fs::path& path, std::string_view bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return Status::System(errno, "creating " + path.string());
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) return Status::System(EIO, "writing " + path.string());
  return kOk;
}

// A property list in binary form; frees `root`.
std::string PlistBinaryBytes(plist_t root) {
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &bytes, &length);
  std::string out(bytes ? bytes : "", length);
  std::free(bytes);
  plist_free(root);
  return out;
}

std::string ManifestPlistBytes(const BackupInfo& info, bool encrypted = false) {
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "IsEncrypted", plist_new_bool(encrypted ? 1 : 0));
  plist_dict_set_item(root, "Version", plist_new_string("9.1"));
  plist_t lockdown = plist_new_dict();
  plist_dict_set_item(lockdown, "ProductVersion", plist_new_string(info.productVersion.c_str()));
  plist_dict_set_item(lockdown, "DeviceName", plist_new_string(info.displayName.c_str()));
  plist_dict_set_item(lockdown, "SerialNumber", plist_new_string(info.serialNumber.c_str()));
  plist_dict_set_item(root, "Lockdown", lockdown);
  return PlistBinaryBytes(root);
}

std::string StatusPlistBytes(const BackupInfo& info) {
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "BackupState", plist_new_string("new"));
  plist_dict_set_item(root, "IsFullBackup", plist_new_bool(0));
  plist_dict_set_item(root, "SnapshotState", plist_new_string(info.snapshotState.c_str()));
  plist_dict_set_item(root, "UUID", plist_new_string("00000000-0000-0000-0000-000000000000"));
  plist_dict_set_item(root, "Version", plist_new_string("3.3"));
  return PlistBinaryBytes(root);
}

// The Files table as iOS 14 writes it.
constexpr const char* kFilesSchema =
    "CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, flags INTEGER, file BLOB);"
    "CREATE INDEX FilesDomainIdx ON Files(domain);"
    "CREATE INDEX FilesRelativePathIdx ON Files(relativePath);"
    "CREATE INDEX FilesFlagsIdx ON Files(flags);"
    "CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB);";

int FlagsOf(uint16_t mode) {
  switch (mode & 0xF000) {
    case 0x4000:
      return 2;
    case 0xA000:
      return 4;
    default:
      return 1;
  }
}

Status WriteManifestDb(const fs::path& path, const std::vector<ManifestRecordPlan>& records) {
  sqlite3* handle = nullptr;
  int code = sqlite3_open(path.c_str(), &handle);
  sqlite3_stmt* insert = nullptr;
  if (code == SQLITE_OK) code = sqlite3_exec(handle, kFilesSchema, nullptr, nullptr, nullptr);
  if (code == SQLITE_OK) code = sqlite3_exec(handle, "BEGIN", nullptr, nullptr, nullptr);
  if (code == SQLITE_OK)
    code = sqlite3_prepare_v2(handle, "INSERT INTO Files VALUES (?, ?, ?, ?, ?)", -1, &insert, nullptr);
  for (std::size_t i = 0; code == SQLITE_OK && i < records.size(); ++i) {
    const ManifestRecordPlan& record = records[i];
    const std::string fileId = StoredNameFor(record.domain, record.path);
    sqlite3_bind_text(insert, 1, fileId.c_str(), -1, SQLITE_TRANSIENT);
    if (record.absentDomain) {
      sqlite3_bind_null(insert, 2);
    } else {
      sqlite3_bind_text(insert, 2, record.domain.c_str(), -1, SQLITE_TRANSIENT);
    }
    if (record.absentPath) {
      sqlite3_bind_null(insert, 3);
    } else {
      sqlite3_bind_text(insert, 3, record.path.c_str(), -1, SQLITE_TRANSIENT);
    }
    sqlite3_bind_int(insert, 4, FlagsOf(record.mode));
    const std::string blob = record.attributesBlob ? *record.attributesBlob : FileAttributesBlob(record);
    if (blob.empty()) {
      sqlite3_bind_null(insert, 5);
    } else {
      sqlite3_bind_blob(insert, 5, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
    }
    code = sqlite3_step(insert) == SQLITE_DONE ? SQLITE_OK : SQLITE_ERROR;
    sqlite3_reset(insert);
  }
  if (code == SQLITE_OK) code = sqlite3_exec(handle, "COMMIT", nullptr, nullptr, nullptr);
  const std::string message = handle ? sqlite3_errmsg(handle) : "out of memory";
  sqlite3_finalize(insert);
  sqlite3_close(handle);
  if (code != SQLITE_OK) return Status(kInvalidData, "writing " + path.string() + ": " + message);
  return kOk;
}

}  // namespace

std::string FileAttributesBlob(const ManifestRecordPlan& record) {
  const bool isFile = (record.mode & 0xF000) == 0x8000;
  plist_t objects = plist_new_array();
  plist_array_append_item(objects, plist_new_string("$null"));
  plist_t file = plist_new_dict();
  plist_array_append_item(objects, file);                                   // UID 1
  plist_array_append_item(objects, plist_new_string(record.path.c_str()));  // UID 2
  plist_t fileClass = plist_new_dict();
  plist_dict_set_item(fileClass, "$classname", plist_new_string("MBFile"));
  plist_t fileClasses = plist_new_array();
  plist_array_append_item(fileClasses, plist_new_string("MBFile"));
  plist_array_append_item(fileClasses, plist_new_string("NSObject"));
  plist_dict_set_item(fileClass, "$classes", fileClasses);
  plist_array_append_item(objects, fileClass);  // UID 3
  plist_dict_set_item(file, "$class", plist_new_uid(3));
  plist_dict_set_item(file, "RelativePath", plist_new_uid(2));
  plist_dict_set_item(file, "LastModified", plist_new_uint(static_cast<uint64_t>(record.lastModified)));
  plist_dict_set_item(file, "LastStatusChange", plist_new_uint(static_cast<uint64_t>(record.lastModified)));
  plist_dict_set_item(file, "Birth", plist_new_uint(static_cast<uint64_t>(record.lastModified)));
  plist_dict_set_item(file, "Size", plist_new_uint(isFile ? record.contents.size() : 0));
  plist_dict_set_item(file, "Mode", plist_new_uint(record.mode));
  plist_dict_set_item(file, "UserID", plist_new_uint(501));
  plist_dict_set_item(file, "GroupID", plist_new_uint(501));
  plist_dict_set_item(file, "InodeNumber", plist_new_uint(0x1234));
  plist_dict_set_item(file, "Flags", plist_new_uint(0));
  plist_dict_set_item(file, "ProtectionClass", plist_new_uint(isFile ? record.protectionClass : 0));
  if (!record.encryptionKey.empty()) {
    plist_t data = plist_new_dict();
    plist_dict_set_item(data, "NS.data",
                        plist_new_data(record.encryptionKey.data(), record.encryptionKey.size()));
    plist_dict_set_item(data, "$class", plist_new_uid(5));
    plist_array_append_item(objects, data);  // UID 4
    plist_t dataClass = plist_new_dict();
    plist_dict_set_item(dataClass, "$classname", plist_new_string("NSMutableData"));
    plist_t dataClasses = plist_new_array();
    plist_array_append_item(dataClasses, plist_new_string("NSMutableData"));
    plist_array_append_item(dataClasses, plist_new_string("NSData"));
    plist_array_append_item(dataClasses, plist_new_string("NSObject"));
    plist_dict_set_item(dataClass, "$classes", dataClasses);
    plist_array_append_item(objects, dataClass);  // UID 5
    plist_dict_set_item(file, "EncryptionKey", plist_new_uid(4));
  }
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "$archiver", plist_new_string("NSKeyedArchiver"));
  plist_dict_set_item(root, "$version", plist_new_uint(100000));
  plist_t top = plist_new_dict();
  plist_dict_set_item(top, "root", plist_new_uid(1));
  plist_dict_set_item(root, "$top", top);
  plist_dict_set_item(root, "$objects", objects);
  return PlistBinaryBytes(root);
}

namespace {

// Seconds since 2001-01-01 UTC (a plist date), from "YYYY-MM-DDTHH:MM:SSZ".
std::optional<int32_t> PlistDateSeconds(const std::string& isoUtc) {
  std::tm parts = {};
  if (std::sscanf(isoUtc.c_str(), "%d-%d-%dT%d:%d:%d", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                  &parts.tm_hour, &parts.tm_min, &parts.tm_sec) != 6) {
    return std::nullopt;
  }
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  return static_cast<int32_t>(timegm(&parts) - 978307200);
}

}  // namespace

std::string InfoPlistBinary(const BackupInfo& info) {
  plist_t root = plist_new_dict();
  const auto add = [root](const char* key, const std::string& value) {
    plist_dict_set_item(root, key, plist_new_string(value.c_str()));
  };
  add("Build Version", "11D257");
  add("Device Name", info.displayName);
  add("Display Name", info.displayName);
  add("GUID", "0123456789ABCDEF0123456789ABCDEF");
  if (!info.phoneNumber.empty()) add("Phone Number", info.phoneNumber);
  add("Product Type", "iPhone6,2");
  add("Product Version", info.productVersion);
  add("Serial Number", info.serialNumber);
  add("Target Identifier", std::string(kBuiltBackupUdid));
  add("iTunes Version", "11.2.2");
  if (const auto seconds = PlistDateSeconds(info.lastBackupDate))
    plist_dict_set_item(root, "Last Backup Date", plist_new_date(*seconds, 0));
  return PlistBinaryBytes(root);
}

std::string InfoPlistOfIdeviceBackup2(const BackupInfo& info) {
  plist_t root = plist_new_dict();
  const auto add = [root](const char* key, std::string_view value) {
    plist_dict_set_item(root, key, plist_new_string(std::string(value).c_str()));
  };
  plist_dict_set_item(root, "Applications", plist_new_dict());
  add("Build Version", "20H115");
  add("Device Name", info.displayName);
  add("Display Name", info.displayName);
  add("GUID", "5F2B4C1E-7A3D-4E8B-9C60-1D2E3F405162");
  plist_dict_set_item(root, "Installed Applications", plist_new_array());
  if (const auto seconds = PlistDateSeconds(info.lastBackupDate))
    plist_dict_set_item(root, "Last Backup Date", plist_new_date(*seconds, 0));
  if (!info.phoneNumber.empty()) add("Phone Number", info.phoneNumber);
  add("Product Type", "iPhone12,8");
  add("Product Version", info.productVersion);
  add("Serial Number", info.serialNumber);
  add("Target Identifier", kBuiltBackupUdid);
  add("Target Type", "Device");
  std::string upper(kBuiltBackupUdid);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  add("Unique Identifier", upper);
  plist_t files = plist_new_dict();
  const std::string prefs = "bplist00-iTunesPrefs";
  plist_dict_set_item(files, "iTunesPrefs", plist_new_data(prefs.data(), prefs.size()));
  plist_dict_set_item(root, "iTunes Files", files);
  plist_dict_set_item(root, "iTunes Settings", plist_new_dict());
  add("iTunes Version", "10.0.1");
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_xml(root, &bytes, &length);
  std::string out(bytes ? bytes : "", length);
  std::free(bytes);
  plist_free(root);
  return out;
}

std::string InfoPlistBytes(const BackupInfo& info) {
  if (info.writer == BackupWriter::kIdeviceBackup2) return InfoPlistOfIdeviceBackup2(info);
  return info.binaryInfoPlist ? InfoPlistBinary(info) : InfoPlistText(info);
}

std::string StoredNameFor(std::string_view domain, std::string_view path) {
  std::string key(domain);
  key.append("-").append(path);
  return HexDigest(EVP_sha1(), key);
}

std::string EncodeManifestRecord(const ManifestRecordPlan& record) {
  std::string out;
  PutString(out, record.domain, record.absentDomain);
  PutString(out, record.path, record.absentPath);
  PutString(out, record.linkTarget, record.linkTarget.empty());
  const bool isFile = (record.mode & 0xF000) == 0x8000;
  PutString(out, isFile ? HexDigest(EVP_sha1(), record.contents).substr(0, 20) : "", !isFile);
  PutString(out, "", true);  // encryption key: absent in a plain backup
  PutU16(out, record.mode);
  PutU32(out, 0);       // inode, high
  PutU32(out, 0x1234);  // inode, low
  PutU32(out, 501);     // user
  PutU32(out, 501);     // group
  PutU32(out, static_cast<uint32_t>(record.lastModified));
  PutU32(out, 1400000001);
  PutU32(out, 1400000002);
  PutU32(out, 0);  // size, high
  PutU32(out, isFile ? static_cast<uint32_t>(record.contents.size()) : 0);
  out.push_back(static_cast<char>(record.protectionClass));
  out.push_back(static_cast<char>(record.properties.size()));
  for (const auto& [name, value] : record.properties) {
    PutString(out, name);
    PutString(out, value);
  }
  return out;
}

std::string EncodeManifest(const std::vector<ManifestRecordPlan>& records) {
  std::string out = "mbdb";
  out.push_back('\x05');
  out.push_back('\x00');
  for (const auto& record : records) out += EncodeManifestRecord(record);
  return out;
}

std::string InfoPlistText(const BackupInfo& info) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n<dict>\n";
  const auto add = [&text](std::string_view key, std::string_view tag, std::string_view value) {
    text.append("\t<key>").append(key).append("</key>\n\t<").append(tag).append(">");
    text.append(value).append("</").append(tag).append(">\n");
  };
  add("Build Version", "string", "11D257");
  add("Device Name", "string", info.displayName);
  add("Display Name", "string", info.displayName);
  add("GUID", "string", "0123456789ABCDEF0123456789ABCDEF");
  if (!info.lastBackupDate.empty()) add("Last Backup Date", "date", info.lastBackupDate);
  if (!info.phoneNumber.empty()) add("Phone Number", "string", info.phoneNumber);
  add("Product Type", "string", "iPhone6,2");
  add("Product Version", "string", info.productVersion);
  add("Serial Number", "string", info.serialNumber);
  add("Target Identifier", "string", kBuiltBackupUdid);
  add("iTunes Version", "string", "11.2.2");
  text.append("</dict>\n</plist>\n");
  return text;
}

void BackupBuilder::AddFile(std::string domain, std::string path, std::string contents) {
  ManifestRecordPlan record;
  record.domain = std::move(domain);
  record.path = std::move(path);
  record.contents = std::move(contents);
  records_.push_back(std::move(record));
}

void BackupBuilder::AddMissingFile(std::string domain, std::string path) {
  ManifestRecordPlan record;
  record.domain = std::move(domain);
  record.path = std::move(path);
  record.writeFile = false;
  records_.push_back(std::move(record));
}

Status BackupBuilder::AddFileFrom(std::string domain, std::string path, const fs::path& source) {
  std::ifstream file(source, std::ios::binary);
  if (!file) return Status::System(ENOENT, source.string());
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  AddFile(std::move(domain), std::move(path), std::move(bytes));
  return kOk;
}

void BackupBuilder::AddDirectory(std::string domain, std::string path) {
  ManifestRecordPlan record;
  record.domain = std::move(domain);
  record.path = std::move(path);
  record.mode = kModeDirectory;
  record.writeFile = false;
  records_.push_back(std::move(record));
}

void BackupBuilder::AddLink(std::string domain, std::string path, std::string target) {
  ManifestRecordPlan record;
  record.domain = std::move(domain);
  record.path = std::move(path);
  record.mode = kModeSymlink;
  record.linkTarget = std::move(target);
  record.writeFile = false;
  records_.push_back(std::move(record));
}

void BackupBuilder::AddRecord(ManifestRecordPlan record) {
  records_.push_back(std::move(record));
}

namespace {

// Creates the backup folder and writes its Info.plist and Manifest.plist.
Status WriteFolderAndPlists(const fs::path& folder, const BackupInfo& info, bool encrypted) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) return Status::System(error, "creating " + folder.string());
  if (const Status status = WriteBytes(folder / "Info.plist", InfoPlistBytes(info)); status != kOk)
    return status;
  if (!info.snapshotState.empty()) {
    if (const Status status = WriteBytes(folder / "Status.plist", StatusPlistBytes(info)); status != kOk)
      return status;
  }
  return WriteBytes(folder / "Manifest.plist", ManifestPlistBytes(info, encrypted));
}

}  // namespace

Status BackupBuilder::Write(const fs::path& folder) const {
  if (const Status status = WriteFolderAndPlists(folder, info, false); status != kOk) return status;
  if (const Status status = WriteBytes(folder / "Manifest.mbdb", EncodeManifest(records_)); status != kOk) {
    return status;
  }
  for (const auto& record : records_) {
    if (!record.writeFile || (record.mode & 0xF000) != 0x8000) continue;
    const fs::path stored = folder / StoredNameFor(record.domain, record.path);
    if (const Status status = WriteBytes(stored, record.contents); status != kOk) return status;
  }
  return kOk;
}

Status BackupBuilder::WriteNewerLayout(const fs::path& folder) const {
  if (const Status status = WriteFolderAndPlists(folder, info, false); status != kOk) return status;
  std::error_code error;
  fs::remove(folder / "Manifest.db", error);
  if (const Status status = WriteManifestDb(folder / "Manifest.db", records_); status != kOk) return status;
  for (const auto& record : records_) {
    if (!record.writeFile || (record.mode & 0xF000) != 0x8000) continue;
    const std::string storedName = StoredNameFor(record.domain, record.path);
    const fs::path subfolder = folder / storedName.substr(0, 2);
    fs::create_directories(subfolder, error);
    if (error) return Status::System(error, "creating " + subfolder.string());
    if (const Status status = WriteBytes(subfolder / storedName, record.contents); status != kOk)
      return status;
  }
  return kOk;
}

Status BackupBuilder::WriteNewerLayoutEncryptedStandIn(const fs::path& folder) const {
  if (const Status status = WriteFolderAndPlists(folder, info, true); status != kOk) return status;
  std::string cipherLike(4096, '\0');
  for (std::size_t i = 0; i < cipherLike.size(); ++i) cipherLike[i] = static_cast<char>((i * 151 + 7) % 256);
  return WriteBytes(folder / "Manifest.db", cipherLike);
}

Status BackupBuilder::WriteEncrypted(const fs::path& plainFolder, const fs::path& encryptedFolder,
                                     std::string_view password, bool realRounds) const {
  if (const Status status = Write(plainFolder); status != kOk) return status;
  BackupEncryptOptions options;
  if (!realRounds) {
    options.iterations = 10;
    options.sha256Iterations = 10;
  }
  if (const Status status = EncryptBackupFolder(plainFolder, encryptedFolder, password, options);
      status != kOk) {
    return status;
  }
  // The encrypted folder carries the same summary.
  return WriteBytes(encryptedFolder / "Info.plist", InfoPlistBytes(info));
}

std::vector<std::pair<std::string, std::string>> HashFolder(const fs::path& folder) {
  std::vector<std::pair<std::string, std::string>> hashes;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (!it->is_regular_file()) {
      hashes.emplace_back(fs::relative(it->path(), folder).string(), "<not a file>");
      continue;
    }
    std::ifstream file(it->path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    hashes.emplace_back(fs::relative(it->path(), folder).string(), HexDigest(EVP_sha256(), bytes));
  }
  std::sort(hashes.begin(), hashes.end());
  return hashes;
}

}  // namespace corvyn::testsupport
