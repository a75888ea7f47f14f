// Deleted rows of any table of an SQLite file, each with the place it was
// found: the table's CREATE TABLE text gives the profile (column count,
// declared names and types, the INTEGER PRIMARY KEY column that the record
// stores as NULL, NOT NULL columns), SqliteDbReader::ScanTable hands over the
// live cells and every deleted record, and each record is decoded column by
// column.
//
// What is reported, per table:
//   - a deleted record that decodes under the profile: the declared column
//     count (or a count a live row has, for tables that gained columns),
//     text that is valid in the file's encoding, NULL in the INTEGER PRIMARY
//     KEY column, no NULL in a NOT NULL column, and in each column a storage
//     class the column's type admits (or one a live row keeps there);
//   - not a record identical to a live row (same rowid and values, or the
//     same values when the rowid was lost): a copy left behind when SQLite
//     moved cells between pages;
//   - a record with a live row's rowid but other values, marked as an
//     earlier version of that row;
//   - each deleted record once (same values, and the same rowid or none),
//     with the place it was first found.
// Carving every table also gives the rows of tables no longer in the
// schema: whole cells left on free pages whose column count is no carved
// table's, and the records around them, each count as a table named
// "dropped table (N columns)" with columns c1..cN, values by their serial
// types (a column NULL in every cell shows the rowid).
// Tables without rowid, virtual tables, tables with virtual generated
// columns and SQLite's own sqlite_ tables are skipped with a reason. Names
// and text of files that keep text as UTF-16 are given as UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Status.h"
#include "sqlite/SqliteDbReader.h"

namespace corvyn::sqlite {

enum class CarvedValueKind : uint8_t { kNull, kInteger, kReal, kText, kBlob, kLost };

struct CarvedValue {
  CarvedValueKind kind = CarvedValueKind::kNull;
  int64_t integer = 0;
  double real = 0.0;
  std::string bytes;  // text as UTF-8, or the blob's bytes

  // "NULL", the number, the text as it is, a blob as "x'0a1b'", a lost
  // column as "?".
  std::string Display() const;
  bool operator==(const CarvedValue&) const = default;
};

struct CarvedRow {
  std::optional<int64_t> rowid;  // empty when only the record was found, not its cell
  RecordOrigin origin = RecordOrigin::kFreeblock;
  PageIndex page = 0;           // page index (page number - 1)
  uint32_t walFrame = 0;        // 1-based frame of the `-wal` file; 0: the main file
  bool replacedByLog = false;   // the main file's copy of a page the log replaced
  uint32_t journalRecord = 0;   // 1-based record of the rollback journal; 0: not from it
  bool earlierVersion = false;  // a live row has this rowid with other values
  // One per declared column; the INTEGER PRIMARY KEY column shows the rowid
  // (lost when the rowid is not known); a first column a freeblock header
  // overwrote is lost.
  std::vector<CarvedValue> values;
};

struct CarvedTable {
  std::string name;
  std::vector<std::string> columns;
  std::optional<uint32_t> rowidColumn;  // the INTEGER PRIMARY KEY column
  std::vector<CarvedRow> deleted;       // in the order found
  std::size_t liveRows = 0;
  std::size_t staleCopies = 0;  // deleted records equal to a live row, not reported
  std::size_t refused = 0;      // deleted records that do not decode under the profile
  std::size_t repeated = 0;     // deleted records found again, reported once
  // Why some of the table's pages could not be read (empty when all were).
  std::string readProblem;
};

struct SkippedTable {
  std::string name;
  std::string reason;  // in words
};

struct CarveResult {
  std::vector<CarvedTable> tables;
  std::vector<SkippedTable> skipped;
};

// Carves the table named exactly `tableName` (or, with an empty name, every
// table of the schema in schema order) into `result`. kOk; kInvalidData
// with nothing added when the named table is not in the schema (see
// TableExists); a failed read of the schema gives its error; a failed read
// of a table's pages gives the first such error once every table was carved
// (each table that met one says so in readProblem).
Status CarveDeletedRows(SqliteDbReader& reader, std::string_view tableName, CarveResult& result);

// Whether the schema holds a table (or a skipped kind of table) of that name.
Status TableExists(const SqliteDbReader& reader, std::string_view tableName, bool& exists);

}  // namespace corvyn::sqlite
