#include "backup/FileMapSource.h"

#include <system_error>

#include "backup/ManifestDbReader.h"

namespace corvyn::backup {
namespace fs = std::filesystem;

namespace {
constexpr const char* kOlderListName = "Manifest.mbdb";
constexpr const char* kNewerListName = "Manifest.db";
}  // namespace

Status ReadFolderFileMap(const fs::path& folder, BackupFileMap& map, FileMapRead& read) {
  read = {};
  std::error_code error;
  if (fs::is_regular_file(folder / kOlderListName, error)) {
    read.layout = StoredLayout::kFlat;
    read.listPath = folder / kOlderListName;
    FileMapReadReport report;
    const Status status = ReadBackupFileMap(read.listPath, map, &report);
    if (status == kOk && report.truncatedBytes > 0) {
      read.warnings.push_back("the file list " + std::string(kOlderListName) +
                              " ends in the middle of a record (" + std::to_string(report.truncatedBytes) +
                              " bytes); the files listed before are still read");
    }
    if (status == kInvalidData && status.detail().empty())
      return Status(kInvalidData, "the file list " + std::string(kOlderListName) + " cannot be read");
    return status;
  }
  if (fs::is_regular_file(folder / kNewerListName, error)) {
    read.layout = StoredLayout::kPrefixFolders;
    read.listPath = folder / kNewerListName;
    ManifestDbReport report;
    const Status status = ReadManifestDb(read.listPath, map, &report);
    read.refusedRows = report.refusedRows;
    read.damagedAttributes = report.damagedAttributes;
    read.warnings = std::move(report.warnings);
    return status;
  }
  return Status(kFileMapUnopenable, "the backup folder holds no list of its files (" +
                                        std::string(kOlderListName) + " or " + kNewerListName + ")");
}

}  // namespace corvyn::backup
