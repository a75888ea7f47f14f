// Feeds arbitrary bytes to the Manifest.mbdb reader: it must never read
// outside them, and every entry it keeps must carry the hash of its key.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "backup/BackupFileMap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  corvyn::backup::BackupFileMap map;
  corvyn::backup::FileMapReadReport report;
  const corvyn::Status status =
      corvyn::backup::ParseBackupFileMap(std::span<const uint8_t>(data, size), map, &report);
  if (status != corvyn::kOk && !map.empty()) std::abort();
  if (map.size() > report.records) std::abort();
  for (const auto& entry : map) {
    if (!corvyn::backup::IsStoredName(entry.storedName)) std::abort();
    if (entry.key.find('-') == std::string::npos) std::abort();
  }
  return 0;
}
