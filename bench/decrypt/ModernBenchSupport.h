// Shared by the benchmarks of encrypted Manifest.db backups: filler data for
// large stored files, the rows and keys of an encrypted backup as the phone
// wrote them, and page-cache eviction of a folder.
#pragma once

#include <fcntl.h>
#include <plist/plist.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/Status.h"
#include "tests/support/backup_builder/ModernEncryption.h"
#include "tools/decrypt/ModernBackup.h"

namespace corvyn::bench {

namespace modern_fs = std::filesystem;

// Paths are quoted for the shell.
inline std::string Quote(const modern_fs::path& path) {
  return "\"" + path.string() + "\"";
}

inline std::string Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

// Extends `path` (created when missing) with cheap, non-repeating bytes until
// it holds `size` bytes; what it already holds (a media header) stays first.
inline bool ExtendWithPattern(const modern_fs::path& path, std::uint64_t size, std::uint32_t salt) {
  std::error_code error;
  const std::uint64_t have = modern_fs::exists(path, error) ? modern_fs::file_size(path, error) : 0;
  std::ofstream out(path, std::ios::binary | std::ios::app);
  std::vector<std::uint32_t> block(1 << 16);
  std::uint32_t state = 2166136261u ^ salt;
  for (std::uint64_t left = size > have ? size - have : 0; left > 0;) {
    for (auto& word : block) word = state = state * 1664525u + 1013904223u;
    const std::uint64_t bytes = std::min<std::uint64_t>(left, block.size() * sizeof(std::uint32_t));
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(bytes));
    left -= bytes;
  }
  return out.good();
}

// One regular file of an encrypted backup's Manifest.db.
struct StoredRow {
  std::string fileId, domain, path;
  std::vector<std::uint8_t> wrappedKey;  // class prefix + wrapped file key
};

// Decrypts Manifest.db of an unlocked backup into `work` and lists its rows
// that carry an EncryptionKey.
inline Status ReadStoredRows(const backupcrypto::ModernBackup& backup, const modern_fs::path& work,
                             std::vector<StoredRow>& rows) {
  const modern_fs::path database = work / "Manifest.plain.db";
  if (const Status status = backup.DecryptManifestDb(database); status != kOk) return status;
  sqlite3* handle = nullptr;
  if (sqlite3_open_v2(database.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(handle);
    return Status(kInvalidData, "cannot open " + database.string());
  }
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(handle, sqlite3_close);
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(handle, "SELECT fileID, domain, relativePath, file FROM Files", -1, &statement,
                         nullptr) != SQLITE_OK)
    return Status(kInvalidData, std::string("reading Files: ") + sqlite3_errmsg(handle));
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statementOwner(statement, sqlite3_finalize);
  const auto text = [&](int column) {
    const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return std::string(value ? value : "");
  };
  while (sqlite3_step(statement) == SQLITE_ROW) {
    const auto* blob = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, 3));
    const auto length = static_cast<std::size_t>(sqlite3_column_bytes(statement, 3));
    if (blob == nullptr) continue;
    auto key = testsupport::EncryptionKeyOfFileBlob(std::span(blob, length));
    if (!key) continue;
    rows.push_back({text(0), text(1), text(2), std::move(*key)});
  }
  return kOk;
}

// The unwrapped key of Manifest.db (ManifestKey of Manifest.plist).
inline Status ManifestDbKey(const backupcrypto::ModernBackup& backup, backupcrypto::Bytes& key) {
  std::ifstream in(backup.folder() / "Manifest.plist", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
  if (root == nullptr) return Status(kInvalidData, "Manifest.plist does not read");
  std::vector<std::uint8_t> wrapped;
  if (plist_t node = plist_dict_get_item(root, "ManifestKey");
      node && plist_get_node_type(node) == PLIST_DATA) {
    char* data = nullptr;
    std::uint64_t length = 0;
    plist_get_data_val(node, &data, &length);
    wrapped.assign(data, data + length);
    std::free(data);
  }
  plist_free(root);
  return backup.UnwrapKey(wrapped, key);
}

// Asks the kernel to forget the cached pages of every file under `folder`
// (written pages are flushed first), so that the next reader starts cold
// without dropping the whole machine's cache.
inline void EvictFromCache(const modern_fs::path& folder) {
  (void)std::system("sync");
  std::error_code error;
  for (const auto& entry : modern_fs::recursive_directory_iterator(folder, error)) {
    if (!entry.is_regular_file(error)) continue;
    const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  }
}

// Byte-by-byte comparison of two files.
inline bool SameContents(const modern_fs::path& a, const modern_fs::path& b) {
  std::ifstream first(a, std::ios::binary), second(b, std::ios::binary);
  if (!first || !second) return false;
  std::vector<char> left(1 << 20), right(1 << 20);
  while (true) {
    first.read(left.data(), static_cast<std::streamsize>(left.size()));
    second.read(right.data(), static_cast<std::streamsize>(right.size()));
    if (first.gcount() != second.gcount()) return false;
    if (!std::equal(left.begin(), left.begin() + first.gcount(), right.begin())) return false;
    if (!first || !second) return !first && !second;
  }
}

}  // namespace corvyn::bench
