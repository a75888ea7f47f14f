#include "decoders/SqlProbe.h"

#include <sqlite3.h>

namespace corvyn::decoders {
namespace {

int CountColumns(void* context, int columnCount, char** /*values*/, char** /*names*/) {
  auto* result = static_cast<ProbeResult*>(context);
  ++result->rowCount;
  result->lastColumnCount = columnCount;
  return 0;
}

}  // namespace

std::string ReadOnlyUri(const std::filesystem::path& database) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(database, error);
  if (error) absolute = database;
  const std::string path = absolute.string();
  std::string uri = "file:";
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char character : path) {
    const auto byte = static_cast<unsigned char>(character);
    if (byte == '%' || byte == '?' || byte == '#' || byte <= 0x20 || byte == 0x7F) {
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 0x0F];
    } else {
      uri += character;
    }
  }
  uri += "?mode=ro&immutable=1";
  return uri;
}

ProbeResult RunProbeQuery(const std::filesystem::path& database, const char* sql) {
  ProbeResult result;
  sqlite3* handle = nullptr;
  const std::string uri = ReadOnlyUri(database);
  result.openCode = sqlite3_open_v2(uri.c_str(), &handle, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
  if (result.openCode != SQLITE_OK) {
    if (handle != nullptr) sqlite3_close(handle);
    return result;
  }
  char* message = nullptr;
  const int code = sqlite3_exec(handle, sql, CountColumns, &result, &message);
  if (message != nullptr || code != SQLITE_OK) {
    result.queryFailed = true;
    sqlite3_free(message);
  }
  sqlite3_close(handle);
  return result;
}

}  // namespace corvyn::decoders
