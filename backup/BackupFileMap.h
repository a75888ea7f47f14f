// The backup file map: which device file each hashed file of an old-format
// backup folder holds, read from the folder's "Manifest.mbdb".
//
// Manifest.mbdb (all integers big-endian, unsigned):
//
//   offset  size  field
//   0       4     magic "mbdb"
//   4       2     version bytes (not checked)
//   6       ...   records, one after another, to the end of the file
//
// A record:
//
//   field            encoding                 use
//   domain           string                   key part 1
//   path             string                   key part 2
//   link target      string                   skipped
//   data hash        string                   skipped
//   encryption key   string                   skipped (the decryption program reads it)
//   mode             u16                      0x4000 under mask 0xE000 = directory
//   inode number     u64                      skipped
//   user id          u32                      skipped
//   group id         u32                      skipped
//   modified         u32                      skipped
//   accessed         u32                      skipped
//   created          u32                      skipped
//   size             u64                      skipped
//   protection class u8                       skipped
//   property count   u8                       pairs of (name string, value string) follow
//
// string: u16 length, then that many bytes (UTF-8, no terminator); the length
// 0xFFFF means an absent string (nothing follows, value empty).
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

#include "platform/Status.h"

namespace corvyn::backup {

inline constexpr std::string_view kManifestMagic = "mbdb";
inline constexpr std::size_t kManifestHeaderSize = 6;
inline constexpr std::size_t kRecordFixedSize = 40;  // mode .. property count
inline constexpr uint16_t kAbsentStringLength = 0xFFFF;
inline constexpr uint16_t kModeTypeMask = 0xE000;
inline constexpr uint16_t kModeDirectory = 0x4000;
inline constexpr std::size_t kStoredNameLength = 40;

struct BackupFileEntry {
  std::string key;         // domain "-" path, as stored (UTF-8)
  std::string storedName;  // 40 lower-case hex digits: SHA-1 of key
};

// File order of the manifest.
using BackupFileMap = std::vector<BackupFileEntry>;

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

// Lower-case hex SHA-1 of the key's bytes.
std::string StoredNameOf(std::string_view key);

// True for exactly 40 lower-case hex digits.
bool IsStoredName(std::string_view name);

}  // namespace corvyn::backup
