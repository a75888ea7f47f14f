// The file list of backups made by iOS 10 and later: "Manifest.db", an SQLite
// database with one table the reader uses:
//
//   Files (fileID TEXT, domain TEXT, relativePath TEXT, flags INTEGER, file BLOB)
//
//   column        meaning
//   fileID        stored name: lower-case hex SHA-1 of domain "-" relativePath
//   domain        e.g. "HomeDomain", "AppDomain-com.example.app"
//   relativePath  path inside the domain ("" for the domain's own folder)
//   flags         1 regular file, 2 directory, 4 symbolic link (others seen:
//                 16, with NULL domain, path and blob); a row whose flags are
//                 none of 1, 2, 4 (0 in lists written by some tools) takes
//                 its kind from the Mode of its attributes
//   file          the file's attributes: an NSKeyedArchiver property list
//                 (ManifestFileBlob.h)
//
// The stored file of a row lies in a subfolder named by the first two hex
// digits of its fileID (StoredLayout::kPrefixFolders). The database of an
// encrypted backup is itself encrypted (EncryptedStore.h decrypts it).
//
// Every value of a row is data from the backup, never a path to follow: the
// stored file is found by the fileID alone (40 hex digits), and rows whose
// domain or path could name something outside a domain ("..", a leading "/",
// NUL) are refused. "-wal" and "-shm" companions of a database are rows of
// their own and are found by their own keys like any other file.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "backup/BackupFileMap.h"
#include "platform/Status.h"

namespace corvyn::backup {

// At most this many warnings are kept in words; the counts go on.
inline constexpr std::size_t kManifestDbWarningLimit = 50;

// What a read of Manifest.db saw besides the entries.
struct ManifestDbReport {
  std::size_t rows = 0;             // rows read
  std::size_t files = 0;            // entries appended
  std::size_t foldersAndLinks = 0;  // flags 2 and 4: nothing stored, skipped
  std::size_t refusedRows = 0;      // other flags, bad fileID, unsafe or empty domain or path
  // File rows whose attributes blob is missing or unreadable, or whose
  // wrapped key is not 44 bytes with the record's protection class first.
  std::size_t damagedAttributes = 0;
  // The database failed part-way: the rows read before are kept, this says
  // why the rest is missing (empty when the whole table was read).
  std::string damage;
  std::vector<std::string> warnings;  // in words, naming the row's key or fileID
};

// True when domain and relativePath are safe to show and match as a device
// path: both non-empty, no NUL, no "/" at the start of either and none in the
// domain, and no "." or ".." component in the path.
bool IsSafeManifestPath(std::string_view domain, std::string_view relativePath);

// Appends one entry per regular file (flags 1) with a safe domain and path
// (IsSafeManifestPath) and a fileID of 40 hex digits (upper-case digits are
// taken in lower case) to map, in fileID order, carrying the size, protection
// class, modification time and wrapped key of its attributes blob. A blob
// that cannot be read leaves the entry without attributes and adds a warning.
// The database is opened read-only and immutable: nothing is written beside
// or into it.
// Returns kOk (also for a table without files, and when the table fails
// part-way after some rows: report->damage says so), kFileMapUnopenable when
// the file does not exist or is not a regular file, and kInvalidData with
// words when it is not a database with a Files table or fails before its
// first row (map left unchanged then).
Status ReadManifestDb(const std::filesystem::path& manifestPath, BackupFileMap& map,
                      ManifestDbReport* report = nullptr);

}  // namespace corvyn::backup
