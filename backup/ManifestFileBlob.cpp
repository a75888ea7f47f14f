#include "backup/ManifestFileBlob.h"

#include <plist/plist.h>

#include <cstring>
#include <memory>
#include <string_view>

namespace corvyn::backup {
namespace {

struct FreePlist {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistHolder = std::unique_ptr<void, FreePlist>;

constexpr std::string_view kBinaryPlistMagic = "bplist00";

Status Damaged(const char* why) {
  return Status(kInvalidData, std::string("the file attributes cannot be read (") + why + ")");
}

bool IsType(plist_t node, plist_type type) {
  return node != nullptr && plist_get_node_type(node) == type;
}

// The archive's object table and the node a UID names in it (null when the
// UID points outside the table).
class Archive {
 public:
  explicit Archive(plist_t objects) : objects_(objects) {}

  plist_t Resolve(plist_t node) const {
    if (!IsType(node, PLIST_UID)) return node;
    uint64_t index = 0;
    plist_get_uid_val(node, &index);
    if (index >= plist_array_get_size(objects_)) return nullptr;
    plist_t target = plist_array_get_item(objects_, static_cast<uint32_t>(index));
    // A UID naming another UID is no value; archives never chain them.
    return IsType(target, PLIST_UID) ? nullptr : target;
  }

  plist_t Member(plist_t dict, const char* key) const { return Resolve(plist_dict_get_item(dict, key)); }

 private:
  plist_t objects_;
};

bool ReadInteger(plist_t node, uint64_t& value) {
  if (!IsType(node, PLIST_UINT)) return false;
  plist_get_uint_val(node, &value);
  return true;
}

// The bytes of an NSData: inline data, or a dictionary whose NS.data is data
// or a UID naming data.
bool ReadData(const Archive& archive, plist_t node, std::string& bytes) {
  if (IsType(node, PLIST_DICT)) node = archive.Member(node, "NS.data");
  if (!IsType(node, PLIST_DATA)) return false;
  uint64_t length = 0;
  const char* data = plist_get_data_ptr(node, &length);
  if (data == nullptr && length != 0) return false;
  bytes.assign(data == nullptr ? "" : data, static_cast<std::size_t>(length));
  return true;
}

}  // namespace

Status ParseManifestFileBlob(std::span<const uint8_t> blob, ManifestFileAttributes& attributes) {
  attributes = {};
  if (blob.empty()) return Damaged("empty");
  if (blob.size() > kManifestFileBlobLimit) return Damaged("too large");
  if (blob.size() < kBinaryPlistMagic.size() ||
      std::memcmp(blob.data(), kBinaryPlistMagic.data(), kBinaryPlistMagic.size()) != 0) {
    return Damaged("not a binary property list");
  }
  plist_t rawRoot = nullptr;
  plist_from_bin(reinterpret_cast<const char*>(blob.data()), static_cast<uint32_t>(blob.size()), &rawRoot);
  const PlistHolder root(rawRoot);
  if (!IsType(rawRoot, PLIST_DICT)) return Damaged("not a property list dictionary");

  plist_t objects = plist_dict_get_item(rawRoot, "$objects");
  plist_t top = plist_dict_get_item(rawRoot, "$top");
  if (!IsType(objects, PLIST_ARRAY) || !IsType(top, PLIST_DICT)) return Damaged("not a keyed archive");
  const Archive archive(objects);
  plist_t file = archive.Member(top, "root");
  if (!IsType(file, PLIST_DICT)) return Damaged("the archive holds no file record");

  ManifestFileAttributes read;
  uint64_t value = 0;
  if (ReadInteger(archive.Member(file, "Size"), value)) {
    read.hasSize = true;
    read.size = value;
  }
  if (ReadInteger(archive.Member(file, "ProtectionClass"), value) && value <= UINT32_MAX) {
    read.hasProtectionClass = true;
    read.protectionClass = static_cast<uint32_t>(value);
  }
  if (ReadInteger(archive.Member(file, "LastModified"), value)) {
    read.hasLastModified = true;
    read.lastModified = static_cast<int64_t>(value);  // the integer's own bits: negative dates stay negative
  }
  if (ReadInteger(archive.Member(file, "Mode"), value) && value <= UINT32_MAX) {
    read.hasMode = true;
    read.mode = static_cast<uint32_t>(value);
  }
  ReadData(archive, archive.Member(file, "EncryptionKey"), read.encryptionKey);
  attributes = std::move(read);
  return kOk;
}

}  // namespace corvyn::backup
