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
//                 16, with NULL domain, path and blob)
//   file          NSKeyedArchiver plist of the file's attributes (not read)
//
// The stored file of a row lies in a subfolder named by the first two hex
// digits of its fileID (StoredLayout::kPrefixFolders). The database of an
// encrypted backup is itself encrypted and does not open as a database.
#pragma once

#include <filesystem>

#include "backup/BackupFileMap.h"
#include "platform/Status.h"

namespace corvyn::backup {

// Appends one entry per regular file (flags 1) with a non-empty domain and
// path and a fileID of 40 hex digits (upper-case digits are taken in lower
// case; any other fileID is skipped) to map, in fileID order. The database is
// opened read-only and immutable: nothing is written beside or into it.
// Returns kOk (also for a table without files), kFileMapUnopenable when the
// file does not exist or is not a regular file, and kInvalidData with words
// when it is not a database with a Files table (map left unchanged then).
Status ReadManifestDb(const std::filesystem::path& manifestPath, BackupFileMap& map);

}  // namespace corvyn::backup
