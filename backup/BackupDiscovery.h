// Finding backup folders (written by the desktop sync program or by
// idevicebackup2, which share one layout) and reading the few values of their
// "Info.plist", "Manifest.plist" and "Status.plist" that the backup list
// shows. Each plist may be XML or binary.
//
// Backup roots: "$XDG_DATA_HOME/Apple Computer/MobileSync/Backup" (or
// "~/.local/share/..." when XDG_DATA_HOME is unset), plus every value of the
// "[BackupFolders]" section of config.ini (one folder per line, any key:
//   [BackupFolders]
//   Folder1=/media/usb/MobileSync/Backup
// ). Every entry of a root whose name does not begin with "." is a candidate;
// one without an "Info.plist" yields nothing, and so does an entry named
// "Snapshot" (the staging folder a device leaves behind when a backup stops
// part-way).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Status.h"

namespace corvyn::backup {

// Address-book database under its stored name (and the older ".mddata" form):
// the encryption test reads its first bytes.
inline constexpr std::string_view kAddressBookStoredName = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";
inline constexpr std::string_view kOlderStoredNameSuffix = ".mddata";
inline constexpr std::string_view kInfoPlistName = "Info.plist";
inline constexpr std::string_view kManifestPlistName = "Manifest.plist";
inline constexpr std::string_view kStatusPlistName = "Status.plist";
inline constexpr std::string_view kSnapshotFolderName = "Snapshot";
inline constexpr std::string_view kSnapshotFinished = "finished";
inline constexpr std::string_view kBackupRootsSection = "BackupFolders";

struct BackupDescriptor {
  uint8_t encrypted = 0;       // 1 when the backup is encrypted
  std::string lastBackupDate;  // local "YYYY-MM-DD HH:MM:SS"; empty when absent
  std::string phoneNumber;
  std::string serialNumber;
  std::filesystem::path folder;  // without a trailing separator
  std::string displayName;
  // Manifest.plist's IsEncrypted (false without Manifest.plist). Here and
  // below, a backup without Manifest.plist is read from the one in its
  // "Snapshot" staging folder when there is one.
  bool manifestEncrypted = false;
  // The device's iOS version: Manifest.plist's Lockdown/ProductVersion, else
  // Info.plist's "Product Version"; empty when neither has one.
  std::string productVersion;
  // The backup did not finish: Status.plist's SnapshotState is not
  // "finished", a "Snapshot" staging folder is left in it, or none of the
  // files the phone sends (Status.plist, Manifest.plist, Manifest.db or
  // Manifest.mbdb) is there beside Info.plist. The backup is still listed
  // and read; the list warns.
  bool snapshotUnfinished = false;
};

// Summary of a listing: the entries (folder + name, names not starting with
// ".") in name order, and the summed size of the regular files among them.
struct FolderListing {
  std::vector<std::filesystem::path> entries;
  uint64_t totalBytes = 0;
};

// Lists one folder as described above. Returns kOk, or a system error naming
// the folder when it cannot be read (listing left empty).
Status ListFolder(const std::filesystem::path& folder, FolderListing& listing);

// The default root, from XDG_DATA_HOME or HOME. Empty when neither is set.
std::filesystem::path DefaultBackupRoot();

// The values of config.ini's "[BackupFolders]" section, in file order. A
// missing file or section gives none.
std::vector<std::filesystem::path> ExtraBackupRoots(const std::filesystem::path& configIni);

// The default root followed by the extra roots of configIni (duplicates
// dropped).
std::vector<std::filesystem::path> BackupRoots(const std::filesystem::path& configIni);

// Appends one descriptor per backup folder under the given roots (roots that
// do not exist are skipped). Returns kOk, or ENOENT when no root can be named
// at all (roots empty).
Status ListBackups(const std::vector<std::filesystem::path>& roots,
                   std::vector<BackupDescriptor>& descriptors);

// Fills one descriptor from a folder the user picked. A folder without an
// "Info.plist" that holds exactly one backup folder (the folder given to
// idevicebackup2, which writes into <folder>/<UDID>/) stands for that backup.
// Returns kOk, or kInvalidData when no readable "Info.plist" is found that
// way. A missing or unreadable Manifest.plist or Status.plist leaves their
// fields at their defaults.
Status ReadBackupFolder(const std::filesystem::path& folder, BackupDescriptor& descriptor);

// True when the folder's address-book file (at the folder's root or, in
// backups of iOS 10 and later, in its "31" subfolder) exists and does not begin with
// "SQLite" (letter case ignored); without an address-book file, true when
// Manifest.plist (or, without one, the staging folder's) says IsEncrypted.
bool IsEncryptedBackup(const std::filesystem::path& folder);

// "YYYY-MM-DDTHH:MM:SSZ" (UTC) as local "YYYY-MM-DD HH:MM:SS", with the local
// zone's real offset at that date (daylight saving and half-hour zones
// included; the date moves with the hour). Text that is not in that form
// keeps its date and time as written: the "T" becomes a blank and the text is
// cut at "Z".
std::string LocalBackupDate(std::string_view isoUtc);

}  // namespace corvyn::backup
