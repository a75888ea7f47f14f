#include "tests/support/sqlite_fixtures/AppDatabase.h"

#include <stdexcept>

namespace corvyn::testing {

AppDatabase::AppDatabase(const std::filesystem::path& path, const FixtureOptions& options) {
  std::string error;
  database_ = FixtureDatabase::Create(path, options, &error);
  if (!database_) throw std::runtime_error("cannot create " + path.string() + ": " + error);
}

void AppDatabase::Create(const TableSchema& table) {
  Exec(table.CreateSql());
  for (const std::string& sql : table.extraSql) Exec(sql);
  tables_.insert_or_assign(table.name, table);
}

void AppDatabase::Create(const std::vector<TableSchema>& tables) {
  for (const TableSchema& table : tables) Create(table);
}

const TableSchema& AppDatabase::Schema(const std::string& table) const {
  const auto found = tables_.find(table);
  if (found == tables_.end()) throw std::runtime_error("no schema for table " + table);
  return found->second;
}

int64_t AppDatabase::Insert(const std::string& table, const ColumnValues& values, int64_t rowid) {
  const TableSchema& schema = Schema(table);
  std::vector<FixtureValue> row(schema.columns.size(), nullptr);
  for (const auto& [column, value] : values) {
    if (column < 0 || static_cast<std::size_t>(column) >= row.size()) {
      throw std::runtime_error(table + " has no column " + std::to_string(column));
    }
    row[static_cast<std::size_t>(column)] = value;
  }
  if (rowid != 0) {
    if (row.empty() || !std::holds_alternative<std::nullptr_t>(row[0])) {
      throw std::runtime_error(table + ": a rowid and a value for column 0");
    }
    row[0] = rowid;
  }
  const int64_t inserted = database_->Insert(table, row);
  if (inserted < 0) throw std::runtime_error("insert into " + table + ": " + database_->LastError());
  return inserted;
}

int64_t AppDatabase::Insert(const std::string& table, const NamedValues& values, int64_t rowid) {
  const TableSchema& schema = Schema(table);
  ColumnValues byNumber;
  for (const auto& [name, value] : values) {
    const int column = schema.ColumnIndex(name);
    if (column < 0) throw std::runtime_error(table + " has no column " + name);
    byNumber[column] = value;
  }
  return Insert(table, byNumber, rowid);
}

void AppDatabase::Delete(const std::string& table, int64_t rowid) {
  if (!database_->Delete(table, {rowid})) {
    throw std::runtime_error("delete from " + table + ": " + database_->LastError());
  }
}

void AppDatabase::Exec(const std::string& sql) {
  if (!database_->Exec(sql)) throw std::runtime_error(sql + ": " + database_->LastError());
}

void AppDatabase::Close() {
  database_->Close();
}

}  // namespace corvyn::testing
