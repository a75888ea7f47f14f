// Column names from CREATE TABLE texts as sqlite_master keeps them: quoting,
// constraints, nested parentheses, table options and comments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sqlite/CreateTableParser.h"

namespace corvyn::sqlite {
namespace {

TEST(ParseCreateTableColumns, ReadsTheDeclaredNamesInOrder) {
  struct Case {
    const char* name;
    const char* sql;
    std::vector<std::string> columns;
  };
  const Case cases[] = {
      {"bare names and types",
       "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, id TEXT NOT NULL)",
       {"ROWID", "id"}},
      {"no types", "CREATE TABLE t(a, b,c)", {"a", "b", "c"}},
      {"double-quoted table and column names, a doubled quote inside",
       R"(CREATE TABLE "my table" ("first name" TEXT, "say ""hi""" TEXT))",
       {"first name", R"(say "hi")"}},
      {"backquotes and brackets", "CREATE TABLE `t` (`a b` INT, [c,d] TEXT, 'e' BLOB)", {"a b", "c,d", "e"}},
      {"table constraints name no column",
       "CREATE TABLE j (message_id INTEGER, attachment_id INTEGER, PRIMARY KEY (message_id, attachment_id), "
       "UNIQUE(attachment_id), CONSTRAINT c CHECK (message_id > 0), FOREIGN KEY (message_id) REFERENCES "
       "message(ROWID))",
       {"message_id", "attachment_id"}},
      {"commas inside nested parentheses and strings",
       "CREATE TABLE t (price DECIMAL(10, 2) DEFAULT (round(1.5, (2))), note TEXT DEFAULT 'a, b)', "
       "flag INTEGER CHECK (flag IN (0, 1)))",
       {"price", "note", "flag"}},
      {"WITHOUT ROWID and STRICT after the list",
       "CREATE TABLE kv (k TEXT PRIMARY KEY, v BLOB) WITHOUT ROWID, STRICT",
       {"k", "v"}},
      {"comments anywhere",
       "CREATE TABLE t ( -- the key\n  a INTEGER, /* b was, once, c */ b TEXT -- last\n)",
       {"a", "b"}},
      {"lower case keywords, IF NOT EXISTS, schema name",
       "create temp table if not exists main.t (x)",
       {"x"}},
      {"a column named like a keyword that is no table constraint",
       "CREATE TABLE t (key TEXT, primary_key INTEGER, \"CHECK\" TEXT)",
       {"key", "primary_key", "CHECK"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> names;
    EXPECT_TRUE(ParseCreateTableColumns(c.sql, names));
    EXPECT_EQ(names, c.columns);
  }
}

TEST(ParseCreateTableColumns, RefusesTextsWithoutAColumnList) {
  const char* const texts[] = {
      "",
      "CREATE INDEX i ON t(a)",
      "CREATE VIRTUAL TABLE f USING fts4(content)",
      "CREATE TABLE t AS SELECT a, b FROM u",
      "CREATE TABLE t (a INTEGER, b TEXT",      // cut off
      "CREATE TABLE t (a TEXT DEFAULT 'open)",  // unclosed string
      "CREATE TABLE t (a INTEGER /* unclosed",  // unclosed comment
      "CREATE TABLE t ()",                      // no column
      "CREATE TABLE t (a INTEGER, , b)",        // empty item
      "CREATE TABLE t (PRIMARY KEY (a))",       // constraints only
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    std::vector<std::string> names{"stale"};
    EXPECT_FALSE(ParseCreateTableColumns(text, names));
    EXPECT_TRUE(names.empty());
  }
}

}  // namespace
}  // namespace corvyn::sqlite
