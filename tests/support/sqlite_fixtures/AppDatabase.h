// An application database built row by row for tests: the tables come from
// AppSchemas (or NumberedTable), rows are given by column number or column
// name with every other column null, and deletes leave the row bytes in the
// file (secure_delete off) for the carving to find. Built on FixtureDatabase,
// so the ground truth of live and deleted rows is kept too.
//
// Every failure of the SQLite library throws std::runtime_error with its
// message: a test that cannot build its database stops there.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/sqlite_fixtures/AppSchemas.h"
#include "tests/support/sqlite_fixtures/SqliteFixture.h"

namespace corvyn::testing {

using ColumnValues = std::map<int, FixtureValue>;         // column number -> value
using NamedValues = std::map<std::string, FixtureValue>;  // column name -> value

class AppDatabase {
 public:
  // Creates (replacing) the file; 4096-byte pages unless options say otherwise.
  explicit AppDatabase(const std::filesystem::path& path, const FixtureOptions& options = {});

  void Create(const TableSchema& table);
  void Create(const std::vector<TableSchema>& tables);

  // Inserts a row; rowid 0 lets SQLite choose (it goes to the table's
  // INTEGER PRIMARY KEY column, which must be column 0). Returns the rowid.
  int64_t Insert(const std::string& table, const ColumnValues& values, int64_t rowid = 0);
  int64_t Insert(const std::string& table, const NamedValues& values, int64_t rowid = 0);
  void Delete(const std::string& table, int64_t rowid);
  void Exec(const std::string& sql);

  // Closes the connection; the file is complete afterwards. Idempotent.
  void Close();

  FixtureDatabase& Database() { return *database_; }

 private:
  const TableSchema& Schema(const std::string& table) const;

  std::unique_ptr<FixtureDatabase> database_;
  std::map<std::string, TableSchema> tables_;
};

}  // namespace corvyn::testing
