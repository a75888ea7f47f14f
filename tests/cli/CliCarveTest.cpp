// corvyn-cli carve: the deleted rows of an SQLite file as text lines and as
// JSON, the file and its log left as they were, and failures in words with
// their exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "cli/CliApp.h"
#include "tests/cli/CliRunner.h"
#include "tests/cli/MiniJson.h"
#include "tests/support/sqlite_fixtures/SqliteFixture.h"
#include "tests/support/sqlite_fixtures/WalFixture.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::cli {
namespace {
namespace fs = std::filesystem;
using corvyn::testing::FixtureDatabase;
using corvyn::testing::FixtureOptions;

using CarveRun = CliRun;

CarveRun Carve(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"carve"};
  all.insert(all.end(), args.begin(), args.end());
  return RunInProcess(all);
}

std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// "note" keeps 40 rows on 1 KiB pages; rows 33 and 37 are deleted (rows
// the root, which split, never held: their bytes are only in freeblocks), and
// "other" holds one live row and nothing deleted.
class CliCarveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FixtureOptions options;
    options.pageSize = 1024;
    db_ = FixtureDatabase::Create(Database(), options);
    ASSERT_TRUE(db_);
    std::string sql =
        "CREATE TABLE note (id INTEGER PRIMARY KEY, title TEXT, body TEXT, stars REAL, icon BLOB);"
        "CREATE TABLE other (a TEXT); INSERT INTO other VALUES ('live');BEGIN;";
    for (int id = 1; id <= 40; ++id) {
      const std::string n = std::to_string(id);
      sql += "INSERT INTO note VALUES (" + n + ", 'title " + n + "', 'body\tof " + n + "', " + n +
             ".5, x'0a0b');";
    }
    ASSERT_TRUE(db_->Exec(sql + "COMMIT; DELETE FROM note WHERE id IN (33, 37);")) << db_->LastError();
  }

  fs::path Database() const { return folder_.Path() / "notes.db"; }

  corvyn::testing::TempFolder folder_{"cli-carve-tests"};
  std::unique_ptr<FixtureDatabase> db_;
};

TEST_F(CliCarveTest, TextShowsOneLinePerDeletedRowWithItsPlaceAndATableHeader) {
  db_->Close();
  const CarveRun run = Carve({Database().string()});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_NE(run.out.find("# note: 2 deleted rows\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("# other: 0 deleted rows\n"), std::string::npos) << run.out;
  // table, origin, page number, rowid (- when lost), then column=value; the
  // tab inside the body is escaped so that the row stays on one line.
  const std::string row37 = "\tid=?\ttitle=title 37\tbody=body\\tof 37\tstars=37.5\ticon=x'0a0b'\n";
  const std::size_t at = run.out.find(row37);
  ASSERT_NE(at, std::string::npos) << run.out;
  const std::size_t lineStart = run.out.rfind('\n', at) + 1;
  const std::string line = run.out.substr(lineStart, at - lineStart);
  EXPECT_EQ(line.rfind("note\tfreeblock\t", 0), 0u) << line;
  EXPECT_EQ(line.substr(line.size() - 2), "\t-") << line;
  EXPECT_EQ(run.out.find("title 6\t"), std::string::npos) << "a live row came out as deleted";

  // With every table dropped the output still says what it found.
  const fs::path dropped = folder_.Path() / "dropped.db";
  {
    auto db = FixtureDatabase::Create(dropped, FixtureOptions{});
    ASSERT_TRUE(db);
    ASSERT_TRUE(db->Exec("CREATE TABLE gone (a TEXT); INSERT INTO gone VALUES ('x'); DROP TABLE gone;"));
  }
  const CarveRun empty = Carve({dropped.string()});
  EXPECT_EQ(empty.exitCode, kExitOk) << empty.err;
  EXPECT_EQ(empty.out, "# the schema names no table\n");
}

TEST_F(CliCarveTest, JsonNamesEveryTableItsColumnsAndEachRowsPlace) {
  db_->Close();
  const CarveRun run = Carve({Database().string(), "--table", "note", "--json"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  const auto json = testjson::Parse(run.out);
  ASSERT_TRUE(json) << run.out;
  EXPECT_EQ((*json)["database"].AsString(), Database().string());
  const testjson::Array& tables = (*json)["tables"].AsArray();
  ASSERT_EQ(tables.size(), 1u) << "--table limits the output to that table";
  EXPECT_EQ(tables[0]["name"].AsString(), "note");
  std::vector<std::string> columns;
  for (const auto& column : tables[0]["columns"].AsArray()) columns.push_back(column.AsString());
  EXPECT_EQ(columns, (std::vector<std::string>{"id", "title", "body", "stars", "icon"}));
  std::set<std::string> titles;
  for (const auto& row : tables[0]["deleted"].AsArray()) {
    EXPECT_EQ(row["origin"].AsString(), "freeblock");
    EXPECT_GE(row["page"].AsNumber(), 2);
    EXPECT_EQ(row["walFrame"].AsNumber(), 0);
    EXPECT_FALSE(std::get<bool>(row["earlierVersion"].data));
    const testjson::Array& values = row["values"].AsArray();
    ASSERT_EQ(values.size(), 5u);
    titles.insert(values[1].AsString());
    EXPECT_EQ(values[3].AsNumber(), std::stod(values[1].AsString().substr(6)) + 0.5);
    EXPECT_EQ(values[4]["blob"].AsString(), "0a0b");
  }
  EXPECT_EQ(titles, (std::set<std::string>{"title 33", "title 37"}));
  EXPECT_TRUE((*json)["skipped"].IsArray());
}

// In WAL mode with the deletion in the log only: the rows come from the log,
// with the frame, and neither the file nor its log is touched.
TEST_F(CliCarveTest, ReadsTheLogAndLeavesTheFileAndTheLogAsTheyWere) {
  ASSERT_TRUE(corvyn::testing::SwitchToWal(*db_)) << db_->LastError();
  ASSERT_TRUE(db_->Exec("DELETE FROM note WHERE id = 30;")) << db_->LastError();
  const fs::path copy = folder_.Path() / "logged.db";
  ASSERT_TRUE(corvyn::testing::SnapshotWithWal(*db_, copy));
  const fs::path wal = corvyn::testing::WithSuffix(copy, "-wal");
  const std::string fileBefore = FileBytes(copy);
  const std::string walBefore = FileBytes(wal);
  ASSERT_FALSE(walBefore.empty());

  const CarveRun run = Carve({copy.string(), "--json"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(FileBytes(copy), fileBefore);
  EXPECT_EQ(FileBytes(wal), walBefore);
  EXPECT_FALSE(fs::exists(corvyn::testing::WithSuffix(copy, "-shm")));

  const auto json = testjson::Parse(run.out);
  ASSERT_TRUE(json) << run.out;
  bool fromLog = false;
  for (const auto& table : (*json)["tables"].AsArray()) {
    if (table["name"].AsString() != "note") continue;
    for (const auto& row : table["deleted"].AsArray()) {
      if (row["values"].AsArray()[1].AsString() == "title 30") fromLog = row["walFrame"].AsNumber() >= 1;
    }
  }
  EXPECT_TRUE(fromLog) << run.out;
}

// A row deleted with secure_delete on in journal_mode=PERSIST is only in the
// records the journal keeps: it comes from there, with the record number,
// in text and JSON, and neither file is touched.
TEST_F(CliCarveTest, RowsOnlyInTheRollbackJournalNameTheirRecord) {
  ASSERT_TRUE(
      db_->Exec("PRAGMA journal_mode=PERSIST; PRAGMA secure_delete=ON; DELETE FROM note WHERE id = 30;"))
      << db_->LastError();
  db_->Close();
  const fs::path journal = Database().string() + "-journal";
  const std::string fileBefore = FileBytes(Database());
  const std::string journalBefore = FileBytes(journal);
  ASSERT_FALSE(journalBefore.empty());

  const CarveRun text = Carve({Database().string(), "--table", "note"});
  ASSERT_EQ(text.exitCode, kExitOk) << text.err;
  const std::size_t at = text.out.find("	title=title 30	");
  ASSERT_NE(at, std::string::npos) << text.out;
  const std::size_t lineStart = text.out.rfind('\n', at) + 1;
  EXPECT_EQ(text.out.substr(lineStart, at - lineStart).rfind("note\trollback journal (record ", 0), 0u)
      << text.out.substr(lineStart, at - lineStart);

  const CarveRun run = Carve({Database().string(), "--table", "note", "--json"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  const auto json = testjson::Parse(run.out);
  ASSERT_TRUE(json) << run.out;
  // The rows deleted before (33 and 37) and row 30: the zeroed freeblock the
  // last deletion left in the file gives no row of its own.
  std::set<std::string> titles;
  for (const auto& row : (*json)["tables"].AsArray()[0]["deleted"].AsArray()) {
    const std::string title = row["values"].AsArray()[1].AsString();
    titles.insert(title);
    if (title != "title 30") continue;
    EXPECT_EQ(row["origin"].AsString(), "journal");
    EXPECT_GE(row["journalRecord"].AsNumber(), 1);
  }
  EXPECT_EQ(titles, (std::set<std::string>{"title 33", "title 37", "title 30"})) << run.out;
  EXPECT_EQ(FileBytes(Database()), fileBefore);
  EXPECT_EQ(FileBytes(journal), journalBefore);
}

TEST_F(CliCarveTest, FailuresAreSaidInWordsWithTheirExitStatus) {
  db_->Close();
  const fs::path notSqlite = folder_.Path() / "text.db";
  std::ofstream(notSqlite) << "just some text, not a database at all; long enough to have a header.......";
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string words;
  };
  const std::vector<Case> cases = {
      {{Database().string(), "--table", "missing"}, kExitUsage, "no table named missing"},
      {{notSqlite.string()}, kExitUnopenable, "not an SQLite 3 database"},
      {{(folder_.Path() / "absent.db").string()}, kExitUnopenable, "cannot open"},
      {{}, kExitUsage, "needs the database file"},
      {{Database().string(), "--table"}, kExitUsage, "--table needs a table name"},
      {{Database().string(), "--fast"}, kExitUsage, "unknown option --fast"},
  };
  for (const Case& c : cases) {
    const CarveRun run = Carve(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.words;
    EXPECT_NE(run.err.find(c.words), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
  }
}

}  // namespace
}  // namespace corvyn::cli
