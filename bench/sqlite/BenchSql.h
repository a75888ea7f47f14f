// SQL for the benchmarks that build their databases with the SQLite
// library: a statement run, its error printed when it fails.
#pragma once

#include <sqlite3.h>

#include <cstdio>
#include <string>

namespace corvyn::bench {

inline bool Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "%s: %s\n", sql.c_str(), error ? error : "?");
    sqlite3_free(error);
    return false;
  }
  return true;
}

}  // namespace corvyn::bench
