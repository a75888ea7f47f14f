// The two questions the decoders ask the SQLite library: does a query run on
// this database, and how many columns do its rows have. The file is opened
// read-only and immutable (no journal, WAL or lock files are created or
// changed); nothing else is read through the library.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace corvyn::decoders {

struct ProbeResult {
  int openCode = 0;          // the SQLite library's result code from opening; non-zero: nothing else was done
  bool queryFailed = false;  // the library reported an error for the query
  int64_t rowCount = 0;
  int32_t lastColumnCount = -1;  // columns of the last row delivered; -1 without rows
};

ProbeResult RunProbeQuery(const std::filesystem::path& database, const char* sql);

// "file:" URI of the path, with the characters that a URI would take for its
// own ('%', '?', '#') and non-printing bytes percent-encoded.
std::string ReadOnlyUri(const std::filesystem::path& database);

}  // namespace corvyn::decoders
