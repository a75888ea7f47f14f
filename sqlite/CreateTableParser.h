// Column names of a table from the CREATE TABLE text SQLite keeps in the
// `sql` column of sqlite_master. Only the statement's shape is read:
//
//   CREATE [TEMP] TABLE [IF NOT EXISTS] [schema.]name ( item, item, ... ) [options]
//
// where each item is a column definition (name first, then type and
// constraints) or a table constraint (beginning with CONSTRAINT, PRIMARY,
// UNIQUE, CHECK or FOREIGN, ignoring case), which names no column. Names may
// be bare or quoted with "...", `...` or [...] (a doubled quote stands for
// one); commas inside parentheses or string literals do not end an item;
// "--" and "/* */" comments are skipped. Table options after the closing
// parenthesis (WITHOUT ROWID, STRICT) are ignored.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvyn::sqlite {

// Fills `names` with the declared column names in order and returns true;
// returns false (names empty) when the text is not a CREATE TABLE statement
// with a column list (CREATE TABLE ... AS SELECT, a virtual table, a cut-off
// text, unbalanced parentheses or quotes).
bool ParseCreateTableColumns(std::string_view sql, std::vector<std::string>& names);

}  // namespace corvyn::sqlite
