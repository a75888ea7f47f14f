// The ground truth of the real-sample tests: SQL run through the SQLite
// library on a copy of the sample (never on the sample itself).
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace corvyn::testing {

enum class CopyOpen {
  kReadOnly,
  kReadWrite,  // a main file copied without its log gets an empty one
  kImmutable,  // the main file alone, whatever lies beside it
};

// Runs `sql` on the copy and hands every row's texts (NULL as "") to `row`.
inline void QueryCopy(const std::filesystem::path& copy, const std::string& sql,
                      const std::function<void(const std::vector<std::string>&)>& row,
                      CopyOpen open = CopyOpen::kReadOnly) {
  sqlite3* handle = nullptr;
  const std::string name =
      open == CopyOpen::kImmutable ? "file:" + copy.string() + "?immutable=1" : copy.string();
  const int flags = open == CopyOpen::kReadWrite   ? SQLITE_OPEN_READWRITE
                    : open == CopyOpen::kImmutable ? SQLITE_OPEN_READONLY | SQLITE_OPEN_URI
                                                   : SQLITE_OPEN_READONLY;
  ASSERT_EQ(sqlite3_open_v2(name.c_str(), &handle, flags, nullptr), SQLITE_OK) << copy;
  sqlite3_stmt* statement = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(handle, sql.c_str(), -1, &statement, nullptr), SQLITE_OK)
      << sqlite3_errmsg(handle);
  while (sqlite3_step(statement) == SQLITE_ROW) {
    std::vector<std::string> values;
    for (int column = 0; column < sqlite3_column_count(statement); ++column) {
      const auto* text = sqlite3_column_text(statement, column);
      values.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
    }
    row(values);
  }
  sqlite3_finalize(statement);
  sqlite3_close(handle);
}

}  // namespace corvyn::testing
