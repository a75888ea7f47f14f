// Manifest.mbdb records: the file list of an old-format backup. The one
// reader and writer of these records, shared by the backup engine's file map
// and the decryption program (a small library of its own, so that the
// program links no engine library).
//
// File layout (integers big-endian):
//   offset 0  size 4   "mbdb"
//   offset 4  size 2   version bytes (not checked)
//   offset 6  ...      records to the end of the file, no count
// Record:
//   string domain, string path, string link target, string data hash,
//   string encryption key, then a 40-byte block:
//     +0  2  mode (0xE000 mask: 0x4000 directory, 0x8000 file, 0xA000 link)
//     +2  8  inode number
//     +10 4  user id          +14 4  group id
//     +18 4  time 1           +22 4  time 2          +26 4  time 3
//     +30 8  size (recorded; not always the true length)
//     +38 1  protection class
//     +39 1  property count, then that many (name string, value string)
// String: 2-byte length then the bytes; 0xFFFF means absent (no bytes follow).
// Encryption key in encrypted backups: 4-byte little-endian protection class
// followed by the 40-byte RFC 3394-wrapped AES-256 file key.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Status.h"

namespace corvyn::backup {

inline constexpr std::string_view kMbdbMagic = "mbdb";
inline constexpr std::size_t kMbdbHeaderSize = 6;
inline constexpr std::size_t kMbdbFixedBlockSize = 40;
inline constexpr std::uint16_t kMbdbAbsentString = 0xFFFF;
inline constexpr std::uint16_t kMbdbTypeMask = 0xE000;
inline constexpr std::uint16_t kMbdbDirectory = 0x4000;
inline constexpr std::size_t kWrappedFileKeySize = 44;  // 4-byte class + 40 wrapped bytes

struct MbdbRecord {
  std::optional<std::string> domain;
  std::optional<std::string> path;
  std::optional<std::string> linkTarget;
  std::optional<std::string> dataHash;
  std::optional<std::string> encryptionKey;  // raw bytes
  std::uint16_t mode = 0;
  std::uint64_t inode = 0;
  std::uint32_t userId = 0;
  std::uint32_t groupId = 0;
  std::uint32_t time1 = 0;
  std::uint32_t time2 = 0;
  std::uint32_t time3 = 0;
  std::uint64_t size = 0;
  std::uint8_t protectionClass = 0;
  std::vector<std::pair<std::optional<std::string>, std::optional<std::string>>> properties;

  bool IsDirectory() const { return (mode & kMbdbTypeMask) == kMbdbDirectory; }
  // A record with a stored file: non-empty domain and path, not a directory.
  bool HasStoredFile() const;
  // domain "-" path (an absent string counts as empty).
  std::string Key() const;
  // StoredNameOf(Key()): the stored file's name.
  std::string StoredName() const;
};

// Lower-case hex SHA-1 of the key's bytes (40 digits): the name a device file
// is stored under in the backup folder.
std::string StoredNameOf(std::string_view key);

// Decodes the record that starts at bytes[offset]. On success moves `offset`
// past it and returns true; returns false when the record runs past the end
// of the bytes (`offset` unchanged, `record` partly filled). Never reads
// outside `bytes`.
bool DecodeMbdbRecord(std::span<const std::uint8_t> bytes, std::size_t& offset, MbdbRecord& record);

// Parses a whole manifest. Returns kInvalidData when the bytes do not begin
// with "mbdb", the header is cut short, or a record runs past the end of the
// bytes; the records before the damaged one are kept in `records` either way,
// and `damagedBytes` (when given) receives the length of the unread tail from
// the damaged header or record on (0 when nothing was damaged or the magic is
// wrong).
Status ParseMbdb(std::span<const std::uint8_t> bytes, std::vector<MbdbRecord>& records,
                 std::size_t* damagedBytes = nullptr);

// Appends the encoding of `record` (no header) to `out`. Strings longer than
// 0xFFFE bytes and more than 255 properties cannot be encoded: returns kInvalidData.
Status AppendMbdbRecord(const MbdbRecord& record, std::string& out);

// "mbdb" 05 00.
std::string MbdbHeader();

}  // namespace corvyn::backup
