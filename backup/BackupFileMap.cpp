#include "backup/BackupFileMap.h"

#include <openssl/evp.h>

#include <fstream>
#include <new>
#include <optional>

namespace corvyn::backup {
namespace {

// A forward-only reader over the manifest bytes; every read checks the limit.
class ManifestCursor {
 public:
  explicit ManifestCursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  std::size_t Position() const { return position_; }
  bool AtEnd() const { return position_ >= bytes_.size(); }

  bool Skip(std::size_t count) {
    if (count > bytes_.size() - position_) return false;
    position_ += count;
    return true;
  }

  std::optional<uint16_t> ReadU16() {
    if (bytes_.size() - position_ < 2) return std::nullopt;
    const uint16_t value = static_cast<uint16_t>((bytes_[position_] << 8) | bytes_[position_ + 1]);
    position_ += 2;
    return value;
  }

  std::optional<uint8_t> ReadU8() {
    if (AtEnd()) return std::nullopt;
    return bytes_[position_++];
  }

  // A length-prefixed string; an absent string (0xFFFF) reads as empty.
  std::optional<std::string_view> ReadString() {
    const auto length = ReadU16();
    if (!length) return std::nullopt;
    if (*length == kAbsentStringLength) return std::string_view();
    if (*length > bytes_.size() - position_) return std::nullopt;
    std::string_view text(reinterpret_cast<const char*>(bytes_.data() + position_), *length);
    position_ += *length;
    return text;
  }

 private:
  std::span<const uint8_t> bytes_;
  std::size_t position_ = 0;
};

struct ManifestRecord {
  std::string_view domain;
  std::string_view path;
  uint16_t mode = 0;
};

std::optional<ManifestRecord> ReadRecord(ManifestCursor& cursor) {
  ManifestRecord record;
  const auto domain = cursor.ReadString();
  if (!domain) return std::nullopt;
  const auto path = cursor.ReadString();
  if (!path) return std::nullopt;
  for (int skipped = 0; skipped < 3; ++skipped) {  // link target, data hash, encryption key
    if (!cursor.ReadString()) return std::nullopt;
  }
  const auto mode = cursor.ReadU16();
  if (!mode) return std::nullopt;
  // inode (8), uid (4), gid (4), three times (12), size (8), protection class (1)
  if (!cursor.Skip(kRecordFixedSize - 2 - 1)) return std::nullopt;
  const auto propertyCount = cursor.ReadU8();
  if (!propertyCount) return std::nullopt;
  for (unsigned property = 0; property < *propertyCount; ++property) {
    if (!cursor.ReadString() || !cursor.ReadString()) return std::nullopt;
  }
  record.domain = *domain;
  record.path = *path;
  record.mode = *mode;
  return record;
}

}  // namespace

std::string StoredNameOf(std::string_view key) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if (EVP_Digest(key.data(), key.size(), digest, &digestLength, EVP_sha1(), nullptr) != 1) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name;
  name.reserve(digestLength * 2);
  for (unsigned int i = 0; i < digestLength; ++i) {
    name.push_back(kHex[digest[i] >> 4]);
    name.push_back(kHex[digest[i] & 0x0F]);
  }
  return name;
}

bool IsStoredName(std::string_view name) {
  if (name.size() != kStoredNameLength) return false;
  for (char c : name) {
    const bool digit = c >= '0' && c <= '9';
    const bool letter = c >= 'a' && c <= 'f';
    if (!digit && !letter) return false;
  }
  return true;
}

Status ParseBackupFileMap(std::span<const uint8_t> bytes, BackupFileMap& map, FileMapReadReport* report) {
  if (bytes.size() < kManifestMagic.size() || std::string_view(reinterpret_cast<const char*>(bytes.data()),
                                                               kManifestMagic.size()) != kManifestMagic) {
    return kInvalidData;
  }
  FileMapReadReport seen;
  try {
    ManifestCursor cursor(bytes);
    if (!cursor.Skip(kManifestHeaderSize)) {
      seen.truncatedBytes = bytes.size() - kManifestMagic.size();
    }
    while (seen.truncatedBytes == 0 && !cursor.AtEnd()) {
      const std::size_t recordStart = cursor.Position();
      const auto record = ReadRecord(cursor);
      if (!record) {
        seen.truncatedBytes = bytes.size() - recordStart;
        break;
      }
      ++seen.records;
      if (record->domain.empty() || record->path.empty()) continue;
      if ((record->mode & kModeTypeMask) == kModeDirectory) continue;
      BackupFileEntry entry;
      entry.key.reserve(record->domain.size() + 1 + record->path.size());
      entry.key.append(record->domain).append("-").append(record->path);
      entry.storedName = StoredNameOf(entry.key);
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
