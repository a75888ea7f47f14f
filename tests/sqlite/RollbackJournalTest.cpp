// The rollback journal beside a database: the rows a transaction deleted or
// changed come back from the page images SQLite saved before it (a hot
// journal whose transaction is still open, and the records PERSIST mode
// leaves behind its zeroed header), as deleted rows with their journal
// record; rows the main file still holds never come back as deleted; a
// damaged, cut or foreign journal gets its verdict and nothing invented; and
// neither file is touched.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sqlite/GenericCarve.h"
#include "sqlite/RollbackJournal.h"
#include "tests/sqlite/ReaderTestSupport.h"

namespace corvyn::sqlite {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// A title per row, unique so that a recovered row names itself.
std::string Title(int64_t id) {
  return "title-" + std::to_string(id) + "-of-a-note";
}
std::string Body(int64_t id) {
  return "body text of note " + std::to_string(id) + std::string(60 + id % 40, 'x');
}

std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put32(std::string& bytes, std::size_t offset, uint32_t value) {
  const char word[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                        static_cast<char>(value >> 8), static_cast<char>(value)};
  bytes.replace(offset, 4, word, 4);
}

uint32_t Get32(const std::string& bytes, std::size_t offset) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(bytes[offset + i]);
  return value;
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

fs::path WithSuffix(const fs::path& path, const char* suffix) {
  fs::path with = path;
  with += suffix;
  return with;
}

class Connection {
 public:
  explicit Connection(const fs::path& path) { EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK); }
  ~Connection() { sqlite3_close(db_); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  bool Exec(const std::string& sql) {
    char* error = nullptr;
    const bool ok = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK;
    if (!ok) ADD_FAILURE() << (error ? error : "?") << " in " << sql.substr(0, 200);
    sqlite3_free(error);
    return ok;
  }

 private:
  sqlite3* db_ = nullptr;
};

// `rows` notes written in one transaction, secure_delete off.
void WriteNotes(Connection& db, uint32_t pageSize, int64_t rows, const char* journalMode,
                bool secureDelete = false) {
  std::string sql =
      "PRAGMA page_size=" + std::to_string(pageSize) + "; PRAGMA journal_mode=" + journalMode +
      "; PRAGMA secure_delete=" + (secureDelete ? "ON" : "OFF") +
      ";"
      "CREATE TABLE note (id INTEGER PRIMARY KEY, title TEXT NOT NULL, body TEXT, stamp INTEGER);"
      "BEGIN;";
  for (int64_t id = 1; id <= rows; ++id) {
    sql += "INSERT INTO note VALUES (" + std::to_string(id) + ", '" + Title(id) + "', '" + Body(id) + "', " +
           std::to_string(id * 1000) + ");";
  }
  ASSERT_TRUE(db.Exec(sql + "COMMIT;"));
}

// Rowids of `note` in the main file alone, through the library (the file is
// copied under a name with no journal beside it, so nothing is rolled back).
std::set<int64_t> LiveInMainFile(const fs::path& database, const fs::path& scratch) {
  fs::copy_file(database, scratch, fs::copy_options::overwrite_existing);
  const std::vector<int64_t> ids = test::LibraryRowIds(scratch, "note");
  return {ids.begin(), ids.end()};
}

struct Carved {
  JournalVerdict verdict = JournalVerdict::kAbsent;
  std::map<std::string, CarvedRow> deletedByTitle;  // a title seen twice fails
};

Carved CarveNotes(const fs::path& database) {
  Carved carved;
  SqliteDbReader reader;
  EXPECT_EQ(reader.Open(database), kOk);
  carved.verdict = reader.JournalState();
  CarveResult result;
  EXPECT_EQ(CarveDeletedRows(reader, "note", result), kOk);
  EXPECT_EQ(result.tables.size(), 1u);
  if (result.tables.empty()) return carved;
  for (const CarvedRow& row : result.tables[0].deleted) {
    const std::string title = row.values.at(1).Display();
    EXPECT_TRUE(carved.deletedByTitle.emplace(title, row).second) << "reported twice: " << title;
  }
  return carved;
}

// Every deleted row is a row once written, with the values it was written
// with (its title names it); the rowid may be lost.
void ExpectWrittenValues(const Carved& carved, const std::map<int64_t, std::string>& changedTitles = {}) {
  for (const auto& [title, row] : carved.deletedByTitle) {
    long long named = 0;
    if (std::sscanf(title.c_str(), "%*[A-Za-z]-%lld", &named) != 1) {
      ADD_FAILURE() << "an invented row: " << title;
      continue;
    }
    const int64_t id = row.rowid.value_or(named);
    EXPECT_EQ(id, named) << title;
    const auto changed = changedTitles.find(id);
    EXPECT_TRUE(title == Title(id) || (changed != changedTitles.end() && changed->second == title)) << title;
    EXPECT_EQ(row.values.at(2).Display(), Body(id)) << title;
    EXPECT_EQ(row.values.at(3).Display(), std::to_string(id * 1000)) << title;
  }
}

// A hot journal: the transaction deletes every third note with
// secure_delete on (the main file keeps no bytes of them) and changes one
// title in place; the cache is too small to hold the changes, so SQLite
// writes some changed pages to the main file while the transaction is open.
// The database and its journal are copied at that moment.
class HotJournal : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path live = dir_ / "live.db";
    Connection db(live);
    WriteNotes(db, 1024, 900, "DELETE");
    ASSERT_TRUE(
        db.Exec("PRAGMA cache_size=10; PRAGMA secure_delete=ON; BEGIN;"
                "UPDATE note SET title='TITLE-7-OF-A-NOTE' WHERE id=7;"
                "DELETE FROM note WHERE id % 3 = 0;"));
    ASSERT_TRUE(fs::exists(WithSuffix(live, "-journal")));
    fs::copy_file(live, Database());
    fs::copy_file(WithSuffix(live, "-journal"), WithSuffix(Database(), "-journal"));
    ASSERT_TRUE(db.Exec("ROLLBACK;"));
  }
  fs::path Database() const { return dir_ / "hot.db"; }

  TempDir dir_{"journal-tests"};
};

TEST_F(HotJournal, RowsTheTransactionDeletedComeBackFromTheJournalAndLiveRowsNever) {
  const std::set<int64_t> live = LiveInMainFile(Database(), dir_ / "main-alone.db");
  std::set<int64_t> deletedFromMain;
  for (int64_t id = 3; id <= 900; id += 3)
    if (live.count(id) == 0) deletedFromMain.insert(id);
  ASSERT_FALSE(deletedFromMain.empty()) << "the cache never spilled: the main file shows no deletion";
  ASSERT_FALSE(live.empty());

  const std::string databaseBefore = FileBytes(Database());
  const std::string journalBefore = FileBytes(WithSuffix(Database(), "-journal"));
  const Carved carved = CarveNotes(Database());
  EXPECT_EQ(FileBytes(Database()), databaseBefore);
  EXPECT_EQ(FileBytes(WithSuffix(Database(), "-journal")), journalBefore);
  EXPECT_FALSE(fs::exists(WithSuffix(Database(), "-shm")));

  EXPECT_EQ(carved.verdict, JournalVerdict::kRead);
  for (const int64_t id : deletedFromMain) {
    const auto found = carved.deletedByTitle.find(Title(id));
    ASSERT_NE(found, carved.deletedByTitle.end()) << "row " << id << " not recovered";
    EXPECT_EQ(found->second.origin, RecordOrigin::kJournal) << "row " << id;
    EXPECT_GE(found->second.journalRecord, 1u) << "row " << id;
    EXPECT_FALSE(found->second.earlierVersion) << "row " << id;
  }
  // Rows the main file still holds are live, the deleted ones that did not
  // reach it included.
  for (const auto& [title, row] : carved.deletedByTitle) {
    if (!row.rowid) continue;
    EXPECT_TRUE(live.count(*row.rowid) == 0 || row.earlierVersion) << "live row as deleted: " << title;
  }
  ExpectWrittenValues(carved, {{7, "TITLE-7-OF-A-NOTE"}});
}

// What the reader makes of journals cut, mangled or made for another
// database: a verdict, no crash, and only rows that were written.
TEST_F(HotJournal, DamagedCutAndForeignJournalsGetAVerdictAndNothingInvented) {
  const std::string journal = FileBytes(WithSuffix(Database(), "-journal"));
  ASSERT_GT(journal.size(), 4096u);
  const std::string database = FileBytes(Database());
  const std::size_t sector = Get32(journal, 20);
  ASSERT_GE(sector, 512u);
  struct Case {
    const char* name;
    std::function<std::string(std::string)> mangle;
    std::set<JournalVerdict> verdicts;
    bool journalRows;  // rows from the journal expected
  };
  const auto noise = [](std::size_t length) {
    std::string bytes(length, '\0');
    uint32_t state = 12345;
    for (char& byte : bytes) byte = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    return bytes;
  };
  const std::vector<Case> cases = {
      {"empty file", [](std::string) { return std::string(); }, {JournalVerdict::kEmpty}, false},
      {"header alone", [](std::string j) { return j.substr(0, 28); }, {JournalVerdict::kEmpty}, false},
      {"cut inside a record",
       [](std::string j) { return j.substr(0, j.size() - 700); },
       {JournalVerdict::kCutShort},
       true},
      {"cut inside the first record",
       [&](std::string j) { return j.substr(0, sector + 300); },
       {JournalVerdict::kDamaged},
       false},
      {"another page size",
       [](std::string j) {
         Put32(j, 24, 4096);
         return j;
       },
       {JournalVerdict::kForeign},
       false},
      {"unknown magic", [](std::string j) { return (j[0] = 'X', j); }, {JournalVerdict::kDamaged}, false},
      {"impossible sector size",
       [](std::string j) {
         Put32(j, 20, 3000);
         return j;
       },
       {JournalVerdict::kDamaged},
       false},
      {"a count far past the end",
       [](std::string j) {
         Put32(j, 8, 0x7fffffff);
         return j;
       },
       {JournalVerdict::kRead},
       true},
      {"noise behind a sound header",
       [&](std::string j) { return j.substr(0, sector) + noise(j.size() - sector); },
       {JournalVerdict::kDamaged},
       false},
      {"noise", [&](std::string j) { return noise(j.size()); }, {JournalVerdict::kDamaged}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path folder = dir_ / (std::string("case-") + std::to_string(&c - cases.data()));
    fs::create_directories(folder);
    const fs::path copy = folder / "hot.db";
    WriteBytes(copy, database);
    WriteBytes(WithSuffix(copy, "-journal"), c.mangle(journal));
    const Carved carved = CarveNotes(copy);
    EXPECT_EQ(c.verdicts.count(carved.verdict), 1u) << JournalVerdictText(carved.verdict);
    bool fromJournal = false;
    for (const auto& [title, row] : carved.deletedByTitle)
      fromJournal |= row.origin == RecordOrigin::kJournal;
    EXPECT_EQ(fromJournal, c.journalRows);
    ExpectWrittenValues(carved, {{7, "TITLE-7-OF-A-NOTE"}});
  }
}

// PERSIST mode: after the commit the journal's header is zeroed and the
// records stay. Rows the transaction deleted (secure_delete on from the
// start, so the main file has none of their bytes, not even in the gap of
// the root that split) and the old title of a row changed in place come
// back from those records.
TEST(PersistedJournal, RecordsBehindTheZeroedHeaderGiveTheDeletedRowsAndTheEarlierVersion) {
  TempDir dir("journal-tests");
  const fs::path database = dir / "persist.db";
  {
    Connection db(database);
    WriteNotes(db, 4096, 400, "PERSIST", true);
    ASSERT_TRUE(
        db.Exec("BEGIN;"
                "UPDATE note SET title='TITLE-10-OF-A-NOTE' WHERE id=10;"
                "DELETE FROM note WHERE id BETWEEN 50 AND 70 OR id IN (200, 250, 300);"
                "COMMIT;"));
  }
  ASSERT_TRUE(fs::exists(WithSuffix(database, "-journal")));
  const std::string journal = FileBytes(WithSuffix(database, "-journal"));
  ASSERT_EQ(journal.substr(0, 28), std::string(28, '\0')) << "SQLite left the header in place";

  RollbackJournal reader;
  ASSERT_EQ(reader.Open(WithSuffix(database, "-journal"), 4096, fs::file_size(database) / 4096), kOk);
  EXPECT_TRUE(reader.HeaderZeroed());
  EXPECT_EQ(reader.Verdict(), JournalVerdict::kRead);

  const Carved carved = CarveNotes(database);
  std::set<int64_t> deleted = {200, 250, 300};
  for (int64_t id = 50; id <= 70; ++id) deleted.insert(id);
  for (const int64_t id : deleted) {
    const auto found = carved.deletedByTitle.find(Title(id));
    ASSERT_NE(found, carved.deletedByTitle.end()) << "row " << id << " not recovered";
    EXPECT_EQ(found->second.origin, RecordOrigin::kJournal) << "row " << id;
    EXPECT_EQ(found->second.rowid, id);
  }
  const auto earlier = carved.deletedByTitle.find(Title(10));
  ASSERT_NE(earlier, carved.deletedByTitle.end()) << "the old title of row 10 was not recovered";
  EXPECT_TRUE(earlier->second.earlierVersion);
  EXPECT_EQ(earlier->second.origin, RecordOrigin::kJournal);
  EXPECT_EQ(carved.deletedByTitle.size(), deleted.size() + 1) << "a live row came back as deleted";
  ExpectWrittenValues(carved);
}

}  // namespace
}  // namespace corvyn::sqlite
