#include "backup/BackupFileMap.h"

#include <fstream>
#include <new>

namespace corvyn::backup {

bool IsStoredName(std::string_view name) {
  if (name.size() != kStoredNameLength) return false;
  for (char c : name) {
    const bool digit = c >= '0' && c <= '9';
    const bool letter = c >= 'a' && c <= 'f';
    if (!digit && !letter) return false;
  }
  return true;
}

std::filesystem::path StoredFilePath(const std::filesystem::path& folder, StoredLayout layout,
                                     std::string_view storedName) {
  if (layout == StoredLayout::kPrefixFolders && storedName.size() > 2)
    return folder / storedName.substr(0, 2) / storedName;
  return folder / storedName;
}

Status ParseBackupFileMap(std::span<const uint8_t> bytes, BackupFileMap& map, FileMapReadReport* report) {
  if (bytes.size() < kMbdbMagic.size() ||
      std::string_view(reinterpret_cast<const char*>(bytes.data()), kMbdbMagic.size()) != kMbdbMagic) {
    return kInvalidData;
  }
  FileMapReadReport seen;
  try {
    if (bytes.size() < kMbdbHeaderSize) seen.truncatedBytes = bytes.size();  // the header itself is cut
    std::size_t offset = kMbdbHeaderSize;
    while (seen.truncatedBytes == 0 && offset < bytes.size()) {
      MbdbRecord record;
      if (!DecodeMbdbRecord(bytes, offset, record)) {
        seen.truncatedBytes = bytes.size() - offset;
        break;
      }
      ++seen.records;
      if (!record.HasStoredFile()) continue;
      BackupFileEntry entry;
      entry.key = record.Key();
      entry.storedName = StoredNameOf(entry.key);
      entry.hasAttributes = true;
      entry.size = record.size;
      entry.protectionClass = record.protectionClass;
      entry.lastModified = record.time1;
      if (record.encryptionKey) entry.wrappedKey = *record.encryptionKey;
      map.push_back(std::move(entry));
    }
  } catch (const std::bad_alloc&) {
    if (report) *report = seen;
    return kInvalidData;
  }
  if (report) *report = seen;
  return kOk;
}

Status ReadBackupFileMap(const std::filesystem::path& manifestPath, BackupFileMap& map,
                         FileMapReadReport* report) {
  if (manifestPath.empty()) return kInvalidData;
  std::error_code error;
  if (!std::filesystem::is_regular_file(manifestPath, error)) return kFileMapUnopenable;
  std::ifstream file(manifestPath, std::ios::binary);
  if (!file) return kFileMapUnopenable;
  std::vector<uint8_t> bytes;
  try {
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0) return kFileMapUnopenable;
    file.seekg(0, std::ios::beg);
    bytes.resize(static_cast<std::size_t>(size));
    if (size > 0 && !file.read(reinterpret_cast<char*>(bytes.data()), size)) return kFileMapUnopenable;
  } catch (const std::bad_alloc&) {
    return kInvalidData;
  } catch (const std::length_error&) {
    return kInvalidData;
  }
  return ParseBackupFileMap(bytes, map, report);
}

}  // namespace corvyn::backup
