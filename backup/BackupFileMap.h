// The backup file map: which device file each hashed file of a backup folder
// holds, read from the folder's "Manifest.mbdb" (iOS 5 to 9; here) or
// "Manifest.db" (iOS 10 and later; ManifestDbReader.h).
//
// The layout of Manifest.mbdb and its records is documented, read and written
// in one place: backup/mbdb/MbdbRecord.h. The map keeps the records with a
// stored file (non-empty domain and path, not a directory).
//
// The stored name of a device file is the lower-case hex SHA-1 of its key
// (domain "-" path). Stored names are always 40 hex digits, so joining one to
// the backup folder never leaves that folder, whatever the manifest says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "backup/mbdb/MbdbRecord.h"
#include "platform/Status.h"

namespace corvyn::backup {

inline constexpr std::size_t kStoredNameLength = 40;

struct BackupFileEntry {
  std::string key;         // domain "-" path, as stored (UTF-8)
  std::string storedName;  // 40 lower-case hex digits: SHA-1 of key
  // What the manifest records about the device file (Manifest.mbdb: its
  // record; Manifest.db: the attributes blob). Without readable attributes
  // hasAttributes is false and the values are 0 / empty. The recorded size
  // is the device's word, not the stored file's length (encrypted stored
  // files are padded, and the size is known to be wrong for some databases).
  bool hasAttributes = false;
  uint64_t size = 0;
  uint32_t protectionClass = 0;
  int64_t lastModified = 0;     // Unix seconds
  std::string wrappedKey = {};  // encrypted backups: 4-byte little-endian class, 40-byte wrapped key
};

// File order of the manifest.
using BackupFileMap = std::vector<BackupFileEntry>;

// Where the stored files of a backup lie: directly in the backup folder
// (Manifest.mbdb backups, iOS 5 to 9), or in a subfolder named by the first
// two hex digits of the stored name (Manifest.db backups, iOS 10 and later).
enum class StoredLayout { kFlat, kPrefixFolders };

// The path of a stored file of `folder` in that layout.
std::filesystem::path StoredFilePath(const std::filesystem::path& folder, StoredLayout layout,
                                     std::string_view storedName);

// What a parse saw, for callers that want to tell a damaged manifest apart.
struct FileMapReadReport {
  std::size_t records = 0;         // complete records read
  std::size_t truncatedBytes = 0;  // bytes of a last record that ran past the end (dropped)
};

// Appends the entries of the manifest at manifestPath (non-empty domain and
// path, not a directory) to map. Returns kOk (also for a manifest without
// records, or one whose last record is cut short: the complete records read
// before it are kept), kFileMapUnopenable when the file cannot be opened,
// kInvalidData when the path is empty, the file cannot be held in memory or
// does not begin with "mbdb" (map left unchanged).
Status ReadBackupFileMap(const std::filesystem::path& manifestPath, BackupFileMap& map,
                         FileMapReadReport* report = nullptr);

// The same over bytes already in memory. Never reads outside `bytes`.
Status ParseBackupFileMap(std::span<const uint8_t> bytes, BackupFileMap& map,
                          FileMapReadReport* report = nullptr);

// True for exactly 40 lower-case hex digits.
bool IsStoredName(std::string_view name);

}  // namespace corvyn::backup
