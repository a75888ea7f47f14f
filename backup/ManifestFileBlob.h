// The attributes blob of a Manifest.db row (the `file` column): a binary
// property list written by NSKeyedArchiver holding one MBFile object.
//
//   { "$archiver": "NSKeyedArchiver", "$version": 100000,
//     "$top": { "root": UID n },
//     "$objects": [ "$null", ..., MBFile at n, ... ] }
//
//   MBFile key        type                       read here
//   Size              integer                    recorded size in bytes
//   ProtectionClass   integer                    data-protection class (0 for folders and links)
//   LastModified      integer                    Unix seconds
//   Mode              integer                    st_mode: file type and permissions
//   EncryptionKey     UID -> { NS.data: bytes }  encrypted backups only: 4-byte little-endian
//                     (NS.data may itself be     protection class, then the 40-byte wrapped key
//                      a UID -> bytes)
//   RelativePath, Birth, LastStatusChange, UserID, GroupID, InodeNumber,
//   Flags, Digest, ExtendedAttributes, Target, $class: not read.
//
// The recorded Size is known to be wrong for some SQLite files of encrypted
// backups; the decrypted length decides there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/Status.h"

namespace corvyn::backup {

// Blobs larger than this are refused unread (real ones are under 2 KiB; one
// with extended attributes stays far below).
inline constexpr std::size_t kManifestFileBlobLimit = 1024 * 1024;

struct ManifestFileAttributes {
  bool hasSize = false;
  uint64_t size = 0;
  bool hasProtectionClass = false;
  uint32_t protectionClass = 0;
  bool hasLastModified = false;
  int64_t lastModified = 0;  // Unix seconds
  bool hasMode = false;
  uint32_t mode = 0;          // st_mode
  std::string encryptionKey;  // raw bytes as stored (class prefix + wrapped key); empty when absent
};

// Reads the attributes from one blob. Returns kOk with what the MBFile holds
// (a missing key leaves its has-flag false), or kInvalidData with words when
// the bytes are not a binary property list, not a keyed archive or have no
// MBFile root (attributes left empty then). Never reads outside `blob`; UIDs
// that point outside $objects are treated as absent values.
Status ParseManifestFileBlob(std::span<const uint8_t> blob, ManifestFileAttributes& attributes);

}  // namespace corvyn::backup
