#include "backup/mbdb/MbdbRecord.h"

#include <openssl/evp.h>

#include <array>
#include <cstring>

namespace corvyn::backup {
namespace {

// Reads from [position, limit); every read checks the remaining length first.
class ByteReader {
 public:
  ByteReader(std::span<const std::uint8_t> bytes, std::size_t position)
      : bytes_(bytes), position_(position) {}

  std::size_t Position() const { return position_; }
  std::size_t Remaining() const { return bytes_.size() - position_; }

  bool ReadUint(std::size_t width, std::uint64_t& value) {
    if (Remaining() < width) return false;
    value = 0;
    for (std::size_t i = 0; i < width; ++i) value = (value << 8) | bytes_[position_ + i];
    position_ += width;
    return true;
  }

  bool ReadString(std::optional<std::string>& value) {
    std::uint64_t length = 0;
    if (!ReadUint(2, length)) return false;
    if (length == kMbdbAbsentString) {
      value.reset();
      return true;
    }
    if (Remaining() < length) return false;
    value.emplace(reinterpret_cast<const char*>(bytes_.data() + position_), static_cast<std::size_t>(length));
    position_ += static_cast<std::size_t>(length);
    return true;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_;
};

bool ReadRecord(ByteReader& reader, MbdbRecord& record) {
  if (!reader.ReadString(record.domain) || !reader.ReadString(record.path) ||
      !reader.ReadString(record.linkTarget) || !reader.ReadString(record.dataHash) ||
      !reader.ReadString(record.encryptionKey)) {
    return false;
  }
  std::uint64_t mode = 0, inode = 0, userId = 0, groupId = 0, time1 = 0, time2 = 0, time3 = 0, size = 0,
                protectionClass = 0, propertyCount = 0;
  if (!reader.ReadUint(2, mode) || !reader.ReadUint(8, inode) || !reader.ReadUint(4, userId) ||
      !reader.ReadUint(4, groupId) || !reader.ReadUint(4, time1) || !reader.ReadUint(4, time2) ||
      !reader.ReadUint(4, time3) || !reader.ReadUint(8, size) || !reader.ReadUint(1, protectionClass) ||
      !reader.ReadUint(1, propertyCount)) {
    return false;
  }
  record.mode = static_cast<std::uint16_t>(mode);
  record.inode = inode;
  record.userId = static_cast<std::uint32_t>(userId);
  record.groupId = static_cast<std::uint32_t>(groupId);
  record.time1 = static_cast<std::uint32_t>(time1);
  record.time2 = static_cast<std::uint32_t>(time2);
  record.time3 = static_cast<std::uint32_t>(time3);
  record.size = size;
  record.protectionClass = static_cast<std::uint8_t>(protectionClass);
  record.properties.resize(static_cast<std::size_t>(propertyCount));
  for (auto& [name, value] : record.properties) {
    if (!reader.ReadString(name) || !reader.ReadString(value)) return false;
  }
  return true;
}

void AppendUint(std::uint64_t value, std::size_t width, std::string& out) {
  for (std::size_t i = width; i-- > 0;) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

bool AppendString(const std::optional<std::string>& value, std::string& out) {
  if (!value) {
    AppendUint(kMbdbAbsentString, 2, out);
    return true;
  }
  if (value->size() >= kMbdbAbsentString) return false;
  AppendUint(value->size(), 2, out);
  out += *value;
  return true;
}

}  // namespace

bool MbdbRecord::HasStoredFile() const {
  return domain && !domain->empty() && path && !path->empty() && !IsDirectory();
}

std::string MbdbRecord::Key() const {
  std::string key;
  const std::string_view domainText = domain ? std::string_view(*domain) : std::string_view();
  const std::string_view pathText = path ? std::string_view(*path) : std::string_view();
  key.reserve(domainText.size() + 1 + pathText.size());
  key.append(domainText).append("-").append(pathText);
  return key;
}

std::string MbdbRecord::StoredName() const {
  return StoredNameOf(Key());
}

std::string StoredNameOf(std::string_view key) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int digestSize = 0;
  if (EVP_Digest(key.data(), key.size(), digest.data(), &digestSize, EVP_sha1(), nullptr) != 1) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(digestSize * 2);
  for (unsigned int i = 0; i < digestSize; ++i) {
    text.push_back(kHex[digest[i] >> 4]);
    text.push_back(kHex[digest[i] & 0xF]);
  }
  return text;
}

bool DecodeMbdbRecord(std::span<const std::uint8_t> bytes, std::size_t& offset, MbdbRecord& record) {
  if (offset > bytes.size()) return false;
  ByteReader reader(bytes, offset);
  if (!ReadRecord(reader, record)) return false;
  offset = reader.Position();
  return true;
}

Status ParseMbdb(std::span<const std::uint8_t> bytes, std::vector<MbdbRecord>& records,
                 std::size_t* damagedBytes) {
  if (damagedBytes) *damagedBytes = 0;
  if (bytes.size() < kMbdbMagic.size() ||
      std::memcmp(bytes.data(), kMbdbMagic.data(), kMbdbMagic.size()) != 0) {
    return kInvalidData;
  }
  if (bytes.size() < kMbdbHeaderSize) {
    if (damagedBytes) *damagedBytes = bytes.size();  // the header itself is cut
    return kInvalidData;
  }
  std::size_t offset = kMbdbHeaderSize;
  while (offset < bytes.size()) {
    MbdbRecord record;
    if (!DecodeMbdbRecord(bytes, offset, record)) {
      if (damagedBytes) *damagedBytes = bytes.size() - offset;
      return kInvalidData;
    }
    records.push_back(std::move(record));
  }
  return kOk;
}

Status AppendMbdbRecord(const MbdbRecord& record, std::string& out) {
  if (record.properties.size() > 255) return kInvalidData;
  std::string encoded;
  bool ok = AppendString(record.domain, encoded) && AppendString(record.path, encoded) &&
            AppendString(record.linkTarget, encoded) && AppendString(record.dataHash, encoded) &&
            AppendString(record.encryptionKey, encoded);
  if (!ok) return kInvalidData;
  AppendUint(record.mode, 2, encoded);
  AppendUint(record.inode, 8, encoded);
  AppendUint(record.userId, 4, encoded);
  AppendUint(record.groupId, 4, encoded);
  AppendUint(record.time1, 4, encoded);
  AppendUint(record.time2, 4, encoded);
  AppendUint(record.time3, 4, encoded);
  AppendUint(record.size, 8, encoded);
  AppendUint(record.protectionClass, 1, encoded);
  AppendUint(record.properties.size(), 1, encoded);
  for (const auto& [name, value] : record.properties) {
    if (!AppendString(name, encoded) || !AppendString(value, encoded)) return kInvalidData;
  }
  out += encoded;
  return kOk;
}

std::string MbdbHeader() {
  return std::string("mbdb\x05\x00", 6);
}

}  // namespace corvyn::backup
