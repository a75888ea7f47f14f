// What one table scan expects of its table: the value handed to
// SqliteDbReader::ScanTable, the carving scanners and the record decoder of
// the scan. The reader knows tables only through it; the table scans
// (sqlite/TableScans.h) build one per scan from the table's name and, when
// the database's schema is readable, its CREATE TABLE text.
//
// During a scan the reader only reads the profile; the record decoder may
// write its memory (liveColumnCount), which the reader takes into account
// from the next leaf tree or free page on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvyn::sqlite {

// What a table stores in a column a decoder takes. NULL fits every class.
enum class Storage { kText, kInteger, kNumber /* integer or double */, kBlob /* blob or text */ };

// A column a decoder takes: the name the table declares it under, the column
// number it is read from (counting from 0 in declared order) and its storage
// class.
struct TakenColumn {
  std::string_view name;
  uint32_t number = 0;
  Storage storage = Storage::kText;
};

// How many serial types a carved record of the table is read with.
enum class CarvedColumns {
  kExpected,        // columnCount
  kLiveOrExpected,  // liveColumnCount once a full cell set it, else columnCount
  kLiveOnly,        // liveColumnCount; carved records are refused until a full cell set it
};

// Records whose column `number` does not hold exactly this text are refused.
struct TextMatch {
  uint32_t number = 0;
  std::string text;
};

struct TableProfile {
  // The schema name whose b-trees are walked (type, name or table name of a
  // sqlite_master row, so the table's indexes come along).
  std::string tableName;
  // Columns of a complete record. A free page is taken for the table when
  // the first record of its first leaf has this many; 0 turns off carving
  // and free pages.
  uint32_t columnCount = 0;
  bool scanTableTrees = true;  // false: only free pages are visited
  bool scanFreePages = true;

  // Carving rules.
  // Freeblock candidates whose record body does not begin with this many
  // non-zero bytes are dropped (0: no such rule).
  uint32_t nonZeroBodyPrefix = 0;
  // The tail and gap scanners test liveColumnCount serial types instead of
  // columnCount, and find nothing while it is 0 (for tables whose column
  // count changed between versions of their application).
  bool tailAndGapUseLiveColumnCount = false;
  CarvedColumns carvedColumns = CarvedColumns::kExpected;
  // Column that stores the rowid as NULL (its INTEGER PRIMARY KEY); tells
  // the carvers which serial type a record whose first one was overwritten
  // begins with.
  uint32_t rowidColumn = 0;

  // The decoder's columns, in the decoder's own order (its slots).
  std::vector<TakenColumn> taken;
  std::optional<TextMatch> rowFilter;

  // Column names from the table's CREATE TABLE text; empty when the schema
  // row or its text could not be read.
  std::vector<std::string> declaredColumns;

  // Memory of the scan: the column count of the last full cell the decoder
  // accepted (0 before the first).
  uint32_t liveColumnCount = 0;

  // Column number of a declared name (compared ignoring ASCII case);
  // std::nullopt when the name is not declared or no schema was read.
  std::optional<uint32_t> DeclaredIndex(std::string_view name) const;

  // Moves every taken column whose name the declared columns hold to the
  // declared position; the others keep their fixed numbers. Returns how
  // many moved.
  std::size_t ResolveTakenColumns();

  // Column number of the decoder's slot.
  uint32_t Column(std::size_t slot) const { return taken.at(slot).number; }

  // Serial types a carved record is read with (see CarvedColumns).
  uint32_t CarvedColumnCount() const;
};

}  // namespace corvyn::sqlite
