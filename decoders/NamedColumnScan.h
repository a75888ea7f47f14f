// Reads a table whose columns are found by the names its CREATE TABLE text
// declares: the table's live rows, rows of its free pages and records carved
// from free space, each handed to the caller with its columns looked up by
// name. Used for tables whose column order moves between versions of their
// application (Core Data stores, the address book of newer systems).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Status.h"
#include "sqlite/RecordParser.h"
#include "sqlite/SqliteDbReader.h"
#include "sqlite/TableProfile.h"

namespace corvyn::decoders {

// A column a reader wants: its declared name and the storage class a deleted
// record must hold there (NULL always fits).
struct WantedColumn {
  std::string_view name;
  sqlite::Storage storage = sqlite::Storage::kText;
};

// One decoded record: the columns in the order they were wanted (nullptr for
// a column the table does not declare or the record does not hold).
struct NamedRow {
  int32_t deleted = 0;
  int64_t rowId = 0;  // 0 for carved records
  std::vector<const sqlite::ColumnValue*> columns;
};

// The declared column names of a table; empty when the table is absent or its
// CREATE TABLE text cannot be read.
std::vector<std::string> DeclaredColumns(const sqlite::SqliteDbReader& reader, std::string_view table);

// Scans `table`; each row is handed to onRow, which returns false to refuse
// it (the record is then not counted as a row). The columns are only valid
// during the call. Returns kOk or the first page-read error.
Status ScanNamedColumns(sqlite::SqliteDbReader& reader, std::string_view table,
                        const std::vector<WantedColumn>& wanted,
                        const std::function<bool(const NamedRow&)>& onRow);

// Text of a TEXT column, or of a BLOB holding valid UTF-8 without control
// characters (Core Data keeps some addresses as BLOB); empty otherwise.
std::string TextOrBlobText(const sqlite::ColumnValue* column);

}  // namespace corvyn::decoders
