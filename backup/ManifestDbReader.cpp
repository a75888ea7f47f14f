#include "backup/ManifestDbReader.h"

#include <sqlite3.h>

#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <system_error>

#include "decoders/SqlProbe.h"

namespace corvyn::backup {
namespace {

struct CloseDatabase {
  void operator()(sqlite3* handle) const { sqlite3_close(handle); }
};
struct FinalizeStatement {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

// The text of a column; empty for NULL and for values that are not text.
std::string_view TextColumn(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) != SQLITE_TEXT) return {};
  const auto* text = sqlite3_column_text(statement, column);
  const int length = sqlite3_column_bytes(statement, column);
  if (text == nullptr || length <= 0) return {};
  return {reinterpret_cast<const char*>(text), static_cast<std::size_t>(length)};
}

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// Regular files only: flags 1.
constexpr const char* kFilesQuery =
    "SELECT fileID, domain, relativePath FROM Files WHERE flags = 1 ORDER BY fileID";

Status NotReadable(const std::filesystem::path& manifestPath, const char* why) {
  return Status(kInvalidData, "the file list " + manifestPath.filename().string() +
                                  " cannot be read as a database (" + why + ")");
}

}  // namespace

Status ReadManifestDb(const std::filesystem::path& manifestPath, BackupFileMap& map) {
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
  const int prepareCode = sqlite3_prepare_v2(handle.get(), kFilesQuery, -1, &rawStatement, nullptr);
  std::unique_ptr<sqlite3_stmt, FinalizeStatement> statement(rawStatement);
  if (prepareCode != SQLITE_OK) return NotReadable(manifestPath, sqlite3_errmsg(handle.get()));

  BackupFileMap read;
  try {
    int stepCode = SQLITE_ROW;
    while ((stepCode = sqlite3_step(statement.get())) == SQLITE_ROW) {
      const std::string storedName = LowerCase(TextColumn(statement.get(), 0));
      const std::string_view domain = TextColumn(statement.get(), 1);
      const std::string_view relativePath = TextColumn(statement.get(), 2);
      // The stored name is joined to the backup folder: only 40 hex digits
      // are taken, so no row can name a file outside it.
      if (!IsStoredName(storedName) || domain.empty() || relativePath.empty()) continue;
      BackupFileEntry entry;
      entry.key.reserve(domain.size() + 1 + relativePath.size());
      entry.key.append(domain).append("-").append(relativePath);
      entry.storedName = storedName;
      read.push_back(std::move(entry));
    }
    if (stepCode != SQLITE_DONE) return NotReadable(manifestPath, sqlite3_errmsg(handle.get()));
    map.insert(map.end(), std::make_move_iterator(read.begin()), std::make_move_iterator(read.end()));
  } catch (const std::bad_alloc&) {
    return kInvalidData;
  }
  return kOk;
}

}  // namespace corvyn::backup
