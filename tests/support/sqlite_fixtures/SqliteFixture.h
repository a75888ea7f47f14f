// Builds SQLite database files for tests through the SQLite library and keeps
// the ground truth: every row inserted, and which of them were deleted.
// Deletes run with secure_delete off and no auto-vacuum, so the deleted rows'
// bytes stay in the file (freeblocks, the unallocated gap, behind stale cell
// pointers, on free-list pages).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct sqlite3;

namespace corvyn::testing {

struct FixtureBlob {
  std::vector<uint8_t> bytes;
  bool operator==(const FixtureBlob&) const = default;
};
using FixtureValue = std::variant<std::nullptr_t, int64_t, double, std::string, FixtureBlob>;

struct FixtureRow {
  int64_t rowId = 0;
  std::vector<FixtureValue> values;  // in declared column order, as inserted
};

// Rows per table, by rowid.
struct GroundTruth {
  std::map<std::string, std::map<int64_t, FixtureRow>> live;
  std::map<std::string, std::map<int64_t, FixtureRow>> deleted;

  std::vector<int64_t> LiveRowIds(const std::string& table) const;
  std::vector<int64_t> DeletedRowIds(const std::string& table) const;
};

struct FixtureOptions {
  uint32_t pageSize = 4096;
  bool secureDelete = false;
};

class FixtureDatabase {
 public:
  // Creates the file anew (an existing file is removed) with the page size,
  // auto_vacuum none, a rollback journal and secure_delete as given. nullptr
  // and *error on failure.
  static std::unique_ptr<FixtureDatabase> Create(const std::filesystem::path& path,
                                                 const FixtureOptions& options = {},
                                                 std::string* error = nullptr);
  ~FixtureDatabase();
  FixtureDatabase(const FixtureDatabase&) = delete;
  FixtureDatabase& operator=(const FixtureDatabase&) = delete;

  // Runs SQL without results. False (and LastError) on failure.
  bool Exec(std::string_view sql);
  // Inserts one row of values in column order; returns its rowid or -1.
  // A null for an INTEGER PRIMARY KEY column lets SQLite choose the rowid.
  int64_t Insert(const std::string& table, const std::vector<FixtureValue>& values);
  // Deletes rows by rowid inside one transaction and moves them to the
  // deleted ground truth.
  bool Delete(const std::string& table, const std::vector<int64_t>& rowIds);
  // Empties the table (SQLite frees its pages with their cells intact).
  bool DeleteAll(const std::string& table);
  bool Begin() { return Exec("BEGIN"); }
  bool Commit() { return Exec("COMMIT"); }
  // Closes the connection; the file is then complete. Idempotent.
  void Close();

  const GroundTruth& Truth() const { return truth_; }
  GroundTruth& MutableTruth() { return truth_; }
  const std::string& LastError() const { return lastError_; }
  const std::filesystem::path& Path() const { return path_; }
  sqlite3* Handle() { return db_; }

  // Leaf pages of the table's b-tree (page indexes: page number - 1) and the
  // rowids of their cells, in pointer-array order, read straight from the
  // file by a small walker of its own (the SQLite library offers no such
  // mapping). Lets tests choose rows by where they lie. Empty on failure.
  std::map<uint32_t, std::vector<int64_t>> RowIdsByLeafPage(const std::string& table);

 private:
  FixtureDatabase() = default;
  sqlite3* db_ = nullptr;
  std::filesystem::path path_;
  uint32_t pageSize_ = 4096;
  GroundTruth truth_;
  std::string lastError_;
};

// Text of a value for messages in test failures.
std::string ToText(const FixtureValue& value);

}  // namespace corvyn::testing
