#include "backup/ManifestDbReader.h"

#include <sqlite3.h>

#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "backup/ManifestFileBlob.h"
#include "decoders/SqlProbe.h"

namespace corvyn::backup {
namespace {

struct CloseDatabase {
  void operator()(sqlite3* handle) const { sqlite3_close(handle); }
};
struct FinalizeStatement {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

// The text of a column with its real length (embedded NULs included); empty
// for NULL and for values that are not text.
std::string_view TextColumn(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) != SQLITE_TEXT) return {};
  const auto* text = sqlite3_column_text(statement, column);
  const int length = sqlite3_column_bytes(statement, column);
  if (text == nullptr || length <= 0) return {};
  return {reinterpret_cast<const char*>(text), static_cast<std::size_t>(length)};
}

std::span<const uint8_t> BlobColumn(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) != SQLITE_BLOB) return {};
  const void* bytes = sqlite3_column_blob(statement, column);
  const int length = sqlite3_column_bytes(statement, column);
  if (bytes == nullptr || length <= 0) return {};
  return {static_cast<const uint8_t*>(bytes), static_cast<std::size_t>(length)};
}

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

constexpr int kRegularFile = 1;
constexpr int kDirectory = 2;
constexpr int kSymbolicLink = 4;

// The flags that match the file type of an st_mode; 0 for any other type.
int FlagsOfMode(uint32_t mode) {
  switch (mode & 0170000) {
    case 0100000:
      return kRegularFile;
    case 0040000:
      return kDirectory;
    case 0120000:
      return kSymbolicLink;
    default:
      return 0;
  }
}

constexpr const char* kFilesQuery =
    "SELECT fileID, domain, relativePath, flags, file FROM Files ORDER BY fileID";
// Older or hand-made lists without the attributes column.
constexpr const char* kFilesQueryWithoutAttributes =
    "SELECT fileID, domain, relativePath, flags, NULL FROM Files ORDER BY fileID";

Status NotReadable(const std::filesystem::path& manifestPath, const char* why) {
  return Status(kInvalidData, "the file list " + manifestPath.filename().string() +
                                  " cannot be read as a database (" + why + ")");
}

// Text of a row value fit for a warning: control bytes shown as "?".
std::string Printable(std::string_view text) {
  std::string shown(text.substr(0, 200));
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return shown;
}

void Warn(ManifestDbReport& report, std::string words) {
  if (report.warnings.size() < kManifestDbWarningLimit) report.warnings.push_back(std::move(words));
}

}  // namespace

bool IsSafeManifestPath(std::string_view domain, std::string_view relativePath) {
  if (domain.empty() || relativePath.empty()) return false;
  if (domain.find('\0') != std::string_view::npos || relativePath.find('\0') != std::string_view::npos)
    return false;
  if (domain.find('/') != std::string_view::npos || domain == "." || domain == "..") return false;
  if (relativePath.front() == '/') return false;
  std::size_t start = 0;
  while (start <= relativePath.size()) {
    std::size_t end = relativePath.find('/', start);
    if (end == std::string_view::npos) end = relativePath.size();
    const std::string_view part = relativePath.substr(start, end - start);
    if (part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

Status ReadManifestDb(const std::filesystem::path& manifestPath, BackupFileMap& map,
                      ManifestDbReport* report) {
  if (manifestPath.empty()) return kInvalidData;
  std::error_code error;
  if (!std::filesystem::is_regular_file(manifestPath, error)) return kFileMapUnopenable;

  sqlite3* rawHandle = nullptr;
  const std::string uri = decoders::ReadOnlyUri(manifestPath);
  const int openCode =
      sqlite3_open_v2(uri.c_str(), &rawHandle, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
  std::unique_ptr<sqlite3, CloseDatabase> handle(rawHandle);
  if (openCode != SQLITE_OK) return NotReadable(manifestPath, sqlite3_errstr(openCode));

  sqlite3_stmt* rawStatement = nullptr;
  int prepareCode = sqlite3_prepare_v2(handle.get(), kFilesQuery, -1, &rawStatement, nullptr);
  if (prepareCode != SQLITE_OK) {
    sqlite3_finalize(rawStatement);
    rawStatement = nullptr;
    prepareCode = sqlite3_prepare_v2(handle.get(), kFilesQueryWithoutAttributes, -1, &rawStatement, nullptr);
  }
  std::unique_ptr<sqlite3_stmt, FinalizeStatement> statement(rawStatement);
  if (prepareCode != SQLITE_OK) return NotReadable(manifestPath, sqlite3_errmsg(handle.get()));

  BackupFileMap read;
  ManifestDbReport seen;
  try {
    int stepCode = SQLITE_ROW;
    while ((stepCode = sqlite3_step(statement.get())) == SQLITE_ROW) {
      ++seen.rows;
      const std::string_view rawName = TextColumn(statement.get(), 0);
      const std::string_view domain = TextColumn(statement.get(), 1);
      const std::string_view relativePath = TextColumn(statement.get(), 2);
      const bool integerFlags = sqlite3_column_type(statement.get(), 3) == SQLITE_INTEGER;
      sqlite3_int64 flags = integerFlags ? sqlite3_column_int64(statement.get(), 3) : -1;
      const auto blob = BlobColumn(statement.get(), 4);
      ManifestFileAttributes attributes;
      const Status blobStatus = blob.empty() ? Status(kInvalidData, "the file attributes are missing")
                                             : ParseManifestFileBlob(blob, attributes);
      // Rows written by other tools may leave flags at 0: the file's mode
      // then tells its kind.
      if (flags != kRegularFile && flags != kDirectory && flags != kSymbolicLink && blobStatus == kOk &&
          attributes.hasMode) {
        flags = FlagsOfMode(attributes.mode);
      }
      if (flags == kDirectory || flags == kSymbolicLink) {
        ++seen.foldersAndLinks;
        continue;
      }
      const std::string storedName = LowerCase(rawName);
      // The stored name is joined to the backup folder: only 40 hex digits
      // are taken, so no row can name a file outside it.
      const char* refusal = nullptr;
      if (flags != kRegularFile) {
        refusal = "it is neither a file, a folder nor a link";
      } else if (!IsStoredName(storedName)) {
        refusal = "its stored name is not 40 hex digits";
      } else if (!IsSafeManifestPath(domain, relativePath)) {
        refusal = "its domain or path is empty or leads outside its domain";
      }
      if (refusal != nullptr) {
        ++seen.refusedRows;
        Warn(seen, "a row of the file list (" + Printable(domain) + "-" + Printable(relativePath) +
                       ") was skipped: " + refusal);
        continue;
      }
      BackupFileEntry entry;
      entry.key.reserve(domain.size() + 1 + relativePath.size());
      entry.key.append(domain).append("-").append(relativePath);
      entry.storedName = storedName;
      if (blobStatus == kOk) {
        entry.hasAttributes = true;
        entry.size = attributes.size;
        entry.protectionClass = attributes.protectionClass;
        entry.lastModified = attributes.lastModified;
        entry.wrappedKey = std::move(attributes.encryptionKey);
        // The key's first four bytes name its class (little-endian); a key of
        // another length, or whose class disagrees with the record's, is kept
        // as stored for the decryption to refuse, and said here.
        if (!entry.wrappedKey.empty()) {
          const auto* bytes = reinterpret_cast<const unsigned char*>(entry.wrappedKey.data());
          std::string problem;
          if (entry.wrappedKey.size() != kWrappedFileKeySize) {
            problem = "the file's key is " + std::to_string(entry.wrappedKey.size()) + " bytes, not " +
                      std::to_string(kWrappedFileKeySize);
          } else if (const uint32_t keyClass =
                         bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (uint32_t{bytes[3]} << 24);
                     attributes.hasProtectionClass && keyClass != entry.protectionClass) {
            problem = "the file's key names protection class " + std::to_string(keyClass) +
                      ", the file class " + std::to_string(entry.protectionClass);
          }
          if (!problem.empty()) {
            ++seen.damagedAttributes;
            Warn(seen, Printable(entry.key) + ": " + problem);
          }
        }
      } else {
        ++seen.damagedAttributes;
        Warn(seen, Printable(entry.key) + ": " + blobStatus.Message() + "; listed with what its row says");
      }
      read.push_back(std::move(entry));
    }
    if (stepCode != SQLITE_DONE) {
      if (read.empty() && seen.rows == 0) return NotReadable(manifestPath, sqlite3_errmsg(handle.get()));
      seen.damage = "the file list " + manifestPath.filename().string() + " is damaged after " +
                    std::to_string(seen.rows) + " rows (" + sqlite3_errmsg(handle.get()) +
                    "); the files listed before are still read";
      Warn(seen, seen.damage);
    }
    seen.files = read.size();
    map.insert(map.end(), std::make_move_iterator(read.begin()), std::make_move_iterator(read.end()));
  } catch (const std::bad_alloc&) {
    return kInvalidData;
  }
  if (report) *report = std::move(seen);
  return kOk;
}

}  // namespace corvyn::backup
