// Test support: writes complete backup folders (Info.plist, Manifest.plist,
// Manifest.mbdb and the files stored under the SHA-1 of their keys), plain or
// encrypted with a chosen password, or plain in the newer layout of iOS 10
// and later (Manifest.db with real attribute blobs, stored files in
// subfolders). Info.plist as XML lines or binary; Status.plist on request.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Status.h"

namespace corvyn::testsupport {

inline constexpr uint16_t kModeRegularFile = 0x81A4;
inline constexpr uint16_t kModeDirectory = 0x41ED;
inline constexpr uint16_t kModeSymlink = 0xA1ED;

// One record of Manifest.mbdb. `contents` is written under the stored name
// when `writeFile` is set (regular files only).
struct ManifestRecordPlan {
  std::string domain;
  std::string path;
  uint16_t mode = kModeRegularFile;
  std::string linkTarget;
  uint8_t protectionClass = 3;
  std::vector<std::pair<std::string, std::string>> properties;
  std::string contents;
  bool writeFile = true;
  bool absentDomain = false;  // writes the domain as an absent string (0xFFFF)
  bool absentPath = false;    // writes the path as an absent string (0xFFFF)
  // Modification time (Unix seconds; Manifest.mbdb's first time field).
  int64_t lastModified = 1400000000;
  // Manifest.db only: the attributes blob's EncryptionKey (raw bytes, left
  // out when empty), and a blob written as given instead of the built one
  // (empty: NULL).
  std::string encryptionKey;
  std::optional<std::string> attributesBlob;
};

// The bytes of a Manifest.mbdb holding the records (header "mbdb" 05 00).
std::string EncodeManifest(const std::vector<ManifestRecordPlan>& records);

// One record's bytes, without the header.
std::string EncodeManifestRecord(const ManifestRecordPlan& record);

// Which program wrote the folder. The phone sends Manifest.plist,
// Status.plist, the index and the stored files itself, so those are the same
// for both; only Info.plist differs. idevicebackup2 writes it with libplist
// as XML (tab-indented, keys in its own order): the device name as both
// "Device Name" and "Display Name", a fresh GUID, empty "Applications",
// "Installed Applications", "iTunes Files" and "iTunes Settings", "Target
// Type" "Device", "Unique Identifier" (the UDID upper-cased), "iTunes
// Version" "10.0.1" (the phone's minimum, not a real iTunes) and no "Product
// Name"; "Last Backup Date" is when the backup started.
enum class BackupWriter { kDesktopSync, kIdeviceBackup2 };

// The UDID the built Info.plist names ("Target Identifier").
inline constexpr std::string_view kBuiltBackupUdid = "0123456789abcdef0123456789abcdef01234567";

struct BackupInfo {
  std::string displayName = "Corvyn Test iPhone";
  std::string serialNumber = "F17TESTSERIAL";
  std::string phoneNumber = "+49 151 12345678";
  std::string lastBackupDate = "2014-05-01T23:30:00Z";  // written as <date>
  std::string productVersion = "7.1.2";
  bool binaryInfoPlist = false;  // Info.plist as a binary property list instead of XML lines
  // Status.plist's SnapshotState ("finished" for a complete backup); no
  // Status.plist is written when empty.
  std::string snapshotState;
  // kIdeviceBackup2: Info.plist as that program writes it (always XML;
  // binaryInfoPlist is then ignored).
  BackupWriter writer = BackupWriter::kDesktopSync;
};

class BackupBuilder {
 public:
  BackupInfo info;

  // A regular file with its contents.
  void AddFile(std::string domain, std::string path, std::string contents);
  // A regular file whose stored file is left out (a damaged backup).
  void AddMissingFile(std::string domain, std::string path);
  // A regular file copied from disk (a fixture database).
  Status AddFileFrom(std::string domain, std::string path, const std::filesystem::path& source);
  void AddDirectory(std::string domain, std::string path);
  void AddLink(std::string domain, std::string path, std::string target);
  void AddRecord(ManifestRecordPlan record);

  const std::vector<ManifestRecordPlan>& Records() const { return records_; }

  // Writes the folder (created with its parents). Returns kOk or an errno.
  Status Write(const std::filesystem::path& folder) const;

  // Writes the folder in the layout of iOS 10 and later: Manifest.db (its
  // Files table: fileID, domain, relativePath, flags and the attributes blob
  // of FileAttributesBlob) instead of
  // Manifest.mbdb, each stored file in the subfolder of its first two hex
  // digits. Returns kOk or the failing status.
  Status WriteNewerLayout(const std::filesystem::path& folder) const;

  // An encrypted backup of that layout as far as the engine can tell without
  // a password: Manifest.plist says IsEncrypted, Manifest.db is bytes that
  // are no database; no stored files.
  Status WriteNewerLayoutEncryptedStandIn(const std::filesystem::path& folder) const;

  // Writes the plain folder to `plainFolder`, then its encrypted form to
  // `encryptedFolder` with the password (few key-derivation rounds, so tests
  // stay fast unless `realRounds`).
  Status WriteEncrypted(const std::filesystem::path& plainFolder,
                        const std::filesystem::path& encryptedFolder, std::string_view password,
                        bool realRounds = false) const;

 private:
  std::vector<ManifestRecordPlan> records_;
};

// Info.plist as the desktop program writes it (XML, one key per line, the
// value on the next line).
std::string InfoPlistText(const BackupInfo& info);

// Info.plist as a binary property list with the same keys.
std::string InfoPlistBinary(const BackupInfo& info);

// Info.plist as idevicebackup2 writes it (see BackupWriter).
std::string InfoPlistOfIdeviceBackup2(const BackupInfo& info);

// Info.plist as info.writer (and binaryInfoPlist) ask for.
std::string InfoPlistBytes(const BackupInfo& info);

// The `file` blob of a Manifest.db row as iOS 14 writes it: a binary
// NSKeyedArchiver archive of one MBFile (RelativePath, LastModified,
// LastStatusChange, Birth, Size = contents size for files, Mode, UserID,
// GroupID, InodeNumber, Flags, ProtectionClass (0 for folders and links),
// EncryptionKey as an NSMutableData when the record has one).
std::string FileAttributesBlob(const ManifestRecordPlan& record);

// The stored name of domain "-" path.
std::string StoredNameFor(std::string_view domain, std::string_view path);

// SHA-256 of every file under a folder, by relative path (for "nothing was
// written" checks).
std::vector<std::pair<std::string, std::string>> HashFolder(const std::filesystem::path& folder);

}  // namespace corvyn::testsupport
