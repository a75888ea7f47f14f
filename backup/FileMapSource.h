// The file map of a backup folder, whichever file list it carries: the
// engine asks for the map and the layout of the stored files and never needs
// to know whether Manifest.mbdb (iOS 5 to 9) or Manifest.db (iOS 10 and
// later) lay underneath. Both give the same entries for the same device
// files: key (domain "-" path), stored name, recorded size, protection class,
// modification time and wrapped key.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "backup/BackupFileMap.h"
#include "platform/Status.h"

namespace corvyn::backup {

struct FileMapRead {
  StoredLayout layout = StoredLayout::kFlat;
  std::filesystem::path listPath;  // the file list that was read
  std::size_t refusedRows = 0;     // rows skipped because they were unsafe or malformed
  std::size_t damagedAttributes = 0;
  // In words, for the user: skipped rows, unreadable attributes, a list cut
  // short or damaged part-way (the entries read before are kept).
  std::vector<std::string> warnings;
};

// Appends the entries of the folder's file list to map: Manifest.mbdb when
// the folder has one, else Manifest.db. Returns kOk (warnings in `read`),
// kFileMapUnopenable with words when the folder has neither, or the refusal
// of the list's reader (kInvalidData with words) when it cannot be read at
// all.
Status ReadFolderFileMap(const std::filesystem::path& folder, BackupFileMap& map, FileMapRead& read);

}  // namespace corvyn::backup
