// Helpers shared by the reader and carving tests: temporary folders, live
// rows through the SQLite library, and a scan that collects parsed rows.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "sqlite/RecordParser.h"
#include "sqlite/SqliteDbReader.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::sqlite::test {

// A fresh folder under the system temp folder, removed at destruction.
using TempDir = corvyn::testing::TempFolder;

// Rowids of a table through the SQLite library (opened read-only, immutable).
std::vector<int64_t> LibraryRowIds(const std::filesystem::path& database, const std::string& table);

// Writes two copies of the cell holding `firstText` (a row of the table's
// first leaf) into the unallocated space of the leaf holding `lastText`,
// in a file of 1 KiB pages whose rowids take one byte: one exact, one
// under rowid 127 with its first bytes of `firstText` replaced by
// `changedStart`. False when the cells are not found or there is no room.
bool CopyCellIntoLastLeaf(const std::filesystem::path& database, const std::string& firstText,
                          const std::string& lastText, const std::string& changedStart);

// One record as the scan saw it.
struct ScannedRow {
  int64_t rowId = 0;
  int32_t deleted = 0;
  RecordMode mode = RecordMode::kFullCell;
  std::vector<std::string> texts;  // text (or blob) of each column, "" for other types or absent ones
  std::vector<int64_t> integers;   // integer of each column (0 for others)
  std::size_t columnCount = 0;
};

// Scans the table (with its profile from ProfileFor) with a decoder that
// parses every record with the generic parser (records it rejects are
// counted in *rejected).
Status ScanRows(SqliteDbReader& reader, const std::string& table, std::vector<ScannedRow>& rows,
                bool scanFreePages = true, int* rejected = nullptr);

}  // namespace corvyn::sqlite::test
