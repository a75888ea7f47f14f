// The reader with a write-ahead log beside the file: the live rows are the
// ones the SQLite library shows for the same files (compared on separate
// copies, since the library checkpoints a log it opens), a log it must not
// use leaves the main file alone, and records of older page versions come
// out once, as deleted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "sqlite/TableScans.h"
#include "sqlite/WalFile.h"
#include "tests/sqlite/ReaderTestSupport.h"
#include "tests/support/sqlite_fixtures/AppSchemas.h"
#include "tests/support/sqlite_fixtures/WalFixture.h"

namespace corvyn::sqlite {
namespace {

using corvyn::testing::FixtureDatabase;
using corvyn::testing::FixtureOptions;

std::filesystem::path WithSuffix(const std::filesystem::path& path, const char* suffix) {
  std::filesystem::path result = path;
  result += suffix;
  return result;
}

// Copies a database and its companions (those present) to `target`.
void CopyWithCompanions(const std::filesystem::path& source, const std::filesystem::path& target) {
  const auto overwrite = std::filesystem::copy_options::overwrite_existing;
  std::filesystem::copy_file(source, target, overwrite);
  for (const char* suffix : {"-wal", "-shm"}) {
    std::filesystem::remove(WithSuffix(target, suffix));
    if (std::filesystem::exists(WithSuffix(source, suffix)))
      std::filesystem::copy_file(WithSuffix(source, suffix), WithSuffix(target, suffix), overwrite);
  }
  for (const auto& file : {target, WithSuffix(target, "-wal"), WithSuffix(target, "-shm")}) {
    if (std::filesystem::exists(file))
      std::filesystem::permissions(file,
                                   std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
}

// rowid -> every column as text ("" for NULL), through the library on a copy
// of the database and its log (the library applies the log as a reader of
// the phone's files would).
std::map<int64_t, std::vector<std::string>> LibraryRows(const std::filesystem::path& database,
                                                        const std::string& table) {
  const std::filesystem::path copy = WithSuffix(database, ".library");
  CopyWithCompanions(database, copy);
  std::map<int64_t, std::vector<std::string>> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    const std::string sql = "SELECT rowid, * FROM \"" + table + "\"";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
      while (sqlite3_step(statement) == SQLITE_ROW) {
        std::vector<std::string>& row = rows[sqlite3_column_int64(statement, 0)];
        for (int column = 1; column < sqlite3_column_count(statement); ++column) {
          const auto* text = sqlite3_column_text(statement, column);
          row.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
        }
      }
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(WithSuffix(copy, suffix));
  return rows;
}

std::map<int64_t, std::string> LibraryColumn(const std::filesystem::path& database, const std::string& table,
                                             std::size_t column) {
  std::map<int64_t, std::string> values;
  for (const auto& [rowid, row] : LibraryRows(database, table)) values[rowid] = row.at(column);
  return values;
}

struct HandleScan {
  std::map<int64_t, std::string> live;
  std::multiset<std::string> deleted;  // addresses of every deleted row handed over
};

HandleScan ScanHandlesOf(SqliteDbReader& reader) {
  std::vector<HandleRow> rows;
  EXPECT_EQ(ScanHandles(reader, rows), kOk);
  HandleScan scan;
  for (const HandleRow& row : rows) {
    if (row.deleted == 0) {
      EXPECT_TRUE(scan.live.emplace(row.rowId, row.address).second) << "live rowid twice: " << row.rowId;
    } else {
      scan.deleted.insert(row.address);
    }
  }
  return scan;
}

std::string Address(int64_t rowid) {
  return "+49301234" + std::to_string(1000 + rowid);
}

void InsertHandle(FixtureDatabase& db, int64_t rowid, const std::string& address) {
  ASSERT_EQ(db.Insert("handle", {rowid, address, std::string("de"), std::string("SMS"), nullptr}), rowid)
      << db.LastError();
}

// 150 handles committed to the main file, then in WAL mode two committed
// transactions: the first changes row 5, deletes rows 10-12 and adds rows
// 151-153; the second changes row 5 again and deletes row 20.
std::unique_ptr<FixtureDatabase> BuildHandleHistory(const std::filesystem::path& path,
                                                    uint32_t pageSize = 4096,
                                                    const std::string& addressPrefix = "") {
  FixtureOptions options;
  options.pageSize = pageSize;
  auto db = FixtureDatabase::Create(path, options);
  if (!db) return db;
  const corvyn::testing::TableSchema handle = corvyn::testing::HandleTable();
  EXPECT_TRUE(db->Exec(handle.CreateSql())) << db->LastError();
  db->Begin();
  for (int64_t rowid = 1; rowid <= 150; ++rowid) InsertHandle(*db, rowid, addressPrefix + Address(rowid));
  db->Commit();
  EXPECT_TRUE(corvyn::testing::SwitchToWal(*db)) << db->LastError();
  EXPECT_TRUE(
      db->Exec("BEGIN; UPDATE handle SET id='changed-5' WHERE ROWID=5;"
               "DELETE FROM handle WHERE ROWID BETWEEN 10 AND 12;"
               "INSERT INTO handle VALUES (151, '+4930new151', 'de', 'SMS', NULL);"
               "INSERT INTO handle VALUES (152, '+4930new152', 'de', 'SMS', NULL);"
               "INSERT INTO handle VALUES (153, '+4930new153', 'de', 'SMS', NULL); COMMIT"))
      << db->LastError();
  EXPECT_TRUE(
      db->Exec("BEGIN; UPDATE handle SET id='changed-again-5' WHERE ROWID=5;"
               "DELETE FROM handle WHERE ROWID=20; COMMIT"))
      << db->LastError();
  return db;
}

TEST(WalReader, CommittedFramesGiveTheLiveRowsAndOlderVersionsComeOutOnceAsDeleted) {
  test::TempDir dir;
  auto db = BuildHandleHistory(dir / "build.db");
  ASSERT_TRUE(db);
  const std::filesystem::path copy = dir / "sms.db";
  ASSERT_TRUE(corvyn::testing::SnapshotWithWal(*db, copy));

  SqliteDbReader reader;
  ASSERT_EQ(reader.Open(copy), kOk);
  EXPECT_EQ(reader.WalState(), WalVerdict::kApplied) << WalVerdictText(reader.WalState());
  EXPECT_GT(reader.HistoricalPageVersions(), 0u);
  const HandleScan scan = ScanHandlesOf(reader);
  EXPECT_EQ(scan.live, LibraryColumn(copy, "handle", 1));
  EXPECT_EQ(scan.live.at(5), "changed-again-5");
  EXPECT_EQ(scan.live.count(20), 0u);

  // Every earlier state of a changed or deleted row, each once; nothing live
  // comes back as deleted.
  for (const std::string& address :
       {Address(5), std::string("changed-5"), Address(10), Address(11), Address(12), Address(20)}) {
    EXPECT_EQ(scan.deleted.count(address), 1u) << address;
  }
  for (const auto& [rowid, address] : scan.live) EXPECT_EQ(scan.deleted.count(address), 0u) << address;

  // The generic scan sees the same: rowids of deleted full cells are the
  // changed and deleted rows only.
  std::vector<test::ScannedRow> rows;
  ASSERT_EQ(test::ScanRows(reader, "handle", rows), kOk);
  std::set<int64_t> deletedCells;
  for (const auto& row : rows)
    if (row.deleted && row.mode == RecordMode::kFullCell) deletedCells.insert(row.rowId);
  for (const int64_t rowid : deletedCells)
    EXPECT_TRUE(rowid == 5 || (rowid >= 10 && rowid <= 12) || rowid == 20);

  // A log kept under another name (as in a backup) is given by its path;
  // without the log the main file's rows are all there is.
  const std::filesystem::path renamed = dir / "cd47480f213dba9bc38ee792775d17e3f5a73a59";
  std::filesystem::rename(WithSuffix(copy, "-wal"), renamed);
  SqliteDbReader named;
  ASSERT_EQ(named.Open(copy, renamed), kOk);
  EXPECT_EQ(named.WalState(), WalVerdict::kApplied);
  EXPECT_EQ(ScanHandlesOf(named).live, scan.live);
  for (const std::filesystem::path& wal : {std::filesystem::path(), renamed}) {
    SqliteDbReader alone;
    ASSERT_EQ(wal.empty() ? alone.Open(copy, wal) : alone.Open(copy), kOk);
    EXPECT_EQ(alone.WalState(), WalVerdict::kAbsent);
    EXPECT_EQ(ScanHandlesOf(alone).live.size(), 150u);
  }
}

// Table of logs the reader must judge: each is edited after the snapshot,
// the verdict is checked and the live rows must equal the library's.
struct DamagedLogCase {
  const char* name;
  std::function<void(const std::filesystem::path& database, const std::filesystem::path& scratch)> edit;
  WalVerdict verdict;
  std::size_t liveRows;
};

TEST(WalReader, TornForeignAndDamagedLogsAreJudgedAsTheLibraryJudgesThem) {
  using namespace corvyn::testing;
  const DamagedLogCase cases[] = {
      {"last frame torn",
       [](const std::filesystem::path& database, const std::filesystem::path&) {
         const auto wal = WithSuffix(database, "-wal");
         const WalLayout layout = ReadWalLayout(wal);
         ASSERT_TRUE(TruncateFile(wal, layout.FrameOffset(layout.frames - 1) + 24 + layout.pageSize / 2));
       },
       WalVerdict::kApplied, 150 - 3 + 3},
      {"first frame's checksum broken",
       [](const std::filesystem::path& database, const std::filesystem::path&) {
         const auto wal = WithSuffix(database, "-wal");
         ASSERT_TRUE(FlipByte(wal, ReadWalLayout(wal).FrameOffset(0) + 24 + 200));
       },
       WalVerdict::kDamaged, 150},
      {"header of another database's log (other salts)",
       [](const std::filesystem::path& database, const std::filesystem::path& scratch) {
         auto other = BuildHandleHistory(scratch / "other.db", 4096, "other");
         ASSERT_TRUE(other);
         ASSERT_TRUE(CopyPrefix(WithSuffix(scratch / "other.db", "-wal"), WithSuffix(database, "-wal"), 32));
       },
       WalVerdict::kSaltMismatch, 150},
      {"log of a database with another page size",
       [](const std::filesystem::path& database, const std::filesystem::path& scratch) {
         auto other = BuildHandleHistory(scratch / "small.db", 1024, "other");
         ASSERT_TRUE(other);
         std::filesystem::copy_file(WithSuffix(scratch / "small.db", "-wal"), WithSuffix(database, "-wal"),
                                    std::filesystem::copy_options::overwrite_existing);
       },
       WalVerdict::kPageSizeMismatch, 150},
      {"header checksum broken",
       [](const std::filesystem::path& database, const std::filesystem::path&) {
         ASSERT_TRUE(FlipByte(WithSuffix(database, "-wal"), 13));
       },
       WalVerdict::kDamaged, 150},
  };
  for (const DamagedLogCase& row : cases) {
    SCOPED_TRACE(row.name);
    test::TempDir dir;
    auto db = BuildHandleHistory(dir / "build.db");
    ASSERT_TRUE(db);
    const std::filesystem::path copy = dir / "sms.db";
    ASSERT_TRUE(SnapshotWithWal(*db, copy));
    row.edit(copy, dir.Path());
    if (::testing::Test::HasFatalFailure()) return;

    SqliteDbReader reader;
    ASSERT_EQ(reader.Open(copy), kOk);
    EXPECT_EQ(reader.WalState(), row.verdict) << WalVerdictText(reader.WalState());
    const HandleScan scan = ScanHandlesOf(reader);
    EXPECT_EQ(scan.live.size(), row.liveRows);
    if (row.verdict == WalVerdict::kApplied) {
      EXPECT_EQ(scan.live, LibraryColumn(copy, "handle", 1));
    } else {
      // Ignored means the main file alone, also where the library would
      // apply the log anyway (it takes a log of another page size).
      std::filesystem::remove(WithSuffix(copy, "-wal"));
      EXPECT_EQ(scan.live, LibraryColumn(copy, "handle", 1));
    }
    if (row.verdict == WalVerdict::kApplied) {
      // The torn frame was the second transaction's commit: its changes are
      // not live, and the torn bytes are reported as left over.
      EXPECT_GT(reader.Wal().TrailingBytes(), 0u);
      EXPECT_EQ(scan.live.at(5), "changed-5");
      EXPECT_EQ(scan.live.at(20), Address(20));
    } else {
      EXPECT_EQ(reader.PageCount(), reader.FileSize() / reader.PageSize());
      EXPECT_EQ(reader.HistoricalPageVersions(), 0u);
    }
  }
}

// Logs edited and then resealed (checksums recomputed), so that the reader
// meets them as valid: the live rows must equal the library's on the same
// files, or, where the library refuses the file, the rows before the edit.
struct ResealedLogCase {
  const char* name;
  bool bigEndianChecksums;
  uint32_t lastFrameDatabaseSize;  // written into the last frame; 1 keeps it
  bool libraryReadsIt;
  std::function<void(const SqliteDbReader&, const HandleScan&)> check;
};

TEST(WalReader, ResealedLogsOfEveryByteOrderAndCommitAreRead) {
  using namespace corvyn::testing;
  const ResealedLogCase cases[] = {
      {"checksums over big-endian words", true, 1, true,
       [](const SqliteDbReader& reader, const HandleScan& scan) {
         EXPECT_EQ(reader.WalState(), WalVerdict::kApplied);
         EXPECT_EQ(scan.live.at(5), "changed-again-5");
       }},
      {"last commit undone: its frames are deleted, never live", false, 0, true,
       [](const SqliteDbReader& reader, const HandleScan& scan) {
         EXPECT_EQ(reader.WalState(), WalVerdict::kApplied);
         EXPECT_LT(reader.Wal().CommittedFrameCount(), reader.Wal().Frames().size());
         EXPECT_EQ(scan.live.at(5), "changed-5");
         EXPECT_EQ(scan.deleted.count("changed-again-5"), 1u);
       }},
      {"commit claims a database of 2^31 pages", false, 0x7fffff00, false,
       [](const SqliteDbReader& reader, const HandleScan& scan) {
         EXPECT_EQ(reader.WalState(), WalVerdict::kApplied);
         EXPECT_LT(reader.PageCount(), 100u);
         EXPECT_EQ(scan.live.at(5), "changed-again-5");
       }},
  };
  for (const ResealedLogCase& row : cases) {
    SCOPED_TRACE(row.name);
    test::TempDir dir;
    auto db = BuildHandleHistory(dir / "build.db");
    ASSERT_TRUE(db);
    const std::filesystem::path copy = dir / "sms.db";
    ASSERT_TRUE(SnapshotWithWal(*db, copy));
    const auto before = LibraryColumn(copy, "handle", 1);
    const auto wal = WithSuffix(copy, "-wal");
    const WalLayout layout = ReadWalLayout(wal);
    const uint64_t lastSize = layout.FrameOffset(layout.frames - 1) + 4;
    ASSERT_NE(ReadNumber(wal, lastSize), 0u) << "the last frame is no commit";
    if (row.lastFrameDatabaseSize != 1) {
      ASSERT_TRUE(WriteNumber(wal, lastSize, row.lastFrameDatabaseSize));
    }
    ASSERT_TRUE(ResealWal(wal, row.bigEndianChecksums));

    SqliteDbReader reader;
    ASSERT_EQ(reader.Open(copy), kOk);
    const HandleScan scan = ScanHandlesOf(reader);
    EXPECT_EQ(scan.live, row.libraryReadsIt ? LibraryColumn(copy, "handle", 1) : before);
    row.check(reader, scan);
  }
}

// Any one byte of the log flipped: the reader takes exactly the frames the
// library takes (both check the header, the salts and the running checksum).
TEST(WalReader, EveryFlippedByteOfTheLogLeavesTheLibrarysLiveRows) {
  test::TempDir dir;
  auto db = BuildHandleHistory(dir / "build.db");
  ASSERT_TRUE(db);
  const std::filesystem::path original = dir / "original.db";
  ASSERT_TRUE(corvyn::testing::SnapshotWithWal(*db, original));
  const uint64_t walSize = std::filesystem::file_size(WithSuffix(original, "-wal"));
  const corvyn::testing::WalLayout layout = corvyn::testing::ReadWalLayout(WithSuffix(original, "-wal"));
  // Every header field, every frame header field, and spots in each page.
  std::vector<uint64_t> offsets;
  for (uint64_t offset = 0; offset < 32; offset += 3) offsets.push_back(offset);
  for (uint64_t frame = 0; frame < layout.frames; ++frame) {
    const uint64_t start = layout.FrameOffset(frame);
    for (const uint64_t within : {0ull, 5ull, 7ull, 9ull, 14ull, 17ull, 22ull, 24ull, 1000ull, 4119ull})
      offsets.push_back(start + within);
  }
  for (const uint64_t offset : offsets) {
    ASSERT_LT(offset, walSize);
    SCOPED_TRACE("byte " + std::to_string(offset));
    const std::filesystem::path copy = dir / "sms.db";
    CopyWithCompanions(original, copy);
    ASSERT_TRUE(corvyn::testing::FlipByte(WithSuffix(copy, "-wal"), offset));
    SqliteDbReader reader;
    ASSERT_EQ(reader.Open(copy), kOk);
    const HandleScan scan = ScanHandlesOf(reader);
    EXPECT_EQ(scan.live, LibraryColumn(copy, "handle", 1)) << WalVerdictText(reader.WalState());
  }
}

TEST(WalReader, FramesPastTheLastCommitAreNeverLive) {
  test::TempDir dir;
  auto db = BuildHandleHistory(dir / "build.db");
  ASSERT_TRUE(db);
  ASSERT_TRUE(corvyn::testing::SwitchToWal(*db, /*spillEveryPage=*/true)) << db->LastError();
  // A long transaction that spills its pages to the log and never commits.
  ASSERT_TRUE(db->Begin());
  for (int64_t rowid = 1000; rowid < 4000; ++rowid)
    InsertHandle(*db, rowid, "uncommitted-" + std::to_string(rowid));
  ASSERT_TRUE(db->Exec("DELETE FROM handle WHERE ROWID=30"));
  const std::filesystem::path copy = dir / "sms.db";
  ASSERT_TRUE(corvyn::testing::SnapshotWithWal(*db, copy));
  ASSERT_TRUE(db->Exec("ROLLBACK"));

  SqliteDbReader reader;
  ASSERT_EQ(reader.Open(copy), kOk);
  ASSERT_EQ(reader.WalState(), WalVerdict::kApplied);
  ASSERT_GT(reader.Wal().Frames().size(), reader.Wal().CommittedFrameCount())
      << "nothing was spilled " << corvyn::testing::ReadWalLayout(WithSuffix(copy, "-wal")).frames;
  const HandleScan scan = ScanHandlesOf(reader);
  EXPECT_EQ(scan.live, LibraryColumn(copy, "handle", 1));
  EXPECT_EQ(scan.live.at(30), Address(30));
  std::size_t uncommitted = 0;
  for (const std::string& address : scan.deleted) {
    if (address.starts_with("uncommitted-")) {
      ++uncommitted;
      EXPECT_EQ(scan.deleted.count(address), 1u) << address;
    }
  }
  EXPECT_GT(uncommitted, 0u);
}

// A database whose tables were created after the switch to WAL mode: the
// main file is one page without a schema, everything else is in the log (as
// on iOS 14 and 16 address books).
TEST(WalReader, DatabaseThatLivesOnlyInTheLogReadsThroughTheContactsDecoder) {
  test::TempDir dir;
  auto db = FixtureDatabase::Create(dir / "build.db");
  ASSERT_TRUE(db);
  ASSERT_TRUE(corvyn::testing::SwitchToWal(*db)) << db->LastError();
  ASSERT_TRUE(db->Exec(corvyn::testing::ContactContentTable().CreateSql())) << db->LastError();
  const char* names[][2] = {
      {"Ada", "Lovelace"}, {"Alan", "Turing"}, {"Grace", "Hopper"}, {"Edsger", "Dijkstra"}};
  for (const auto& name : names) {
    std::vector<corvyn::testing::FixtureValue> values(24, nullptr);
    values[1] = std::string(name[0]);
    values[2] = std::string(name[1]);
    ASSERT_GT(db->Insert("ABPersonFullTextSearch_content", values), 0) << db->LastError();
  }
  ASSERT_TRUE(db->Exec("DELETE FROM ABPersonFullTextSearch_content WHERE c0First='Alan'"));
  const std::filesystem::path copy = dir / "AddressBook.sqlitedb";
  ASSERT_TRUE(corvyn::testing::SnapshotWithWal(*db, copy));

  SqliteDbReader reader;
  ASSERT_EQ(reader.Open(copy), kOk);
  EXPECT_EQ(reader.WalState(), WalVerdict::kApplied);
  EXPECT_EQ(reader.FileSize(), 4096u);
  EXPECT_GT(reader.PageCount(), 1u);
  std::vector<ContactRecord> contacts;
  ASSERT_EQ(ScanContacts(reader, contacts), kOk);
  std::multiset<std::string> live;
  std::multiset<std::string> deleted;
  for (const ContactRecord& contact : contacts) (contact.deleted ? deleted : live).insert(contact.name);
  EXPECT_EQ(live, (std::multiset<std::string>{"AdaLovelace", "GraceHopper", "EdsgerDijkstra"}));
  EXPECT_EQ(deleted.count("AlanTuring"), 1u);
}

// ---------------------------------------------------------------------------
// Real address books whose contacts live in the log.

std::filesystem::path ExternalData() {
  if (const char* overridden = std::getenv("CORVYN_TESTDATA")) return overridden;
  return CORVYN_EXTERNAL_TESTDATA;
}

struct RealBook {
  const char* folder;  // under abrignoni__iLEAPP/admin/test/cases/data/addressBook/
  const char* path;    // of the database below the folder
  uint64_t pageCount;  // with the log applied
};

TEST(WalReaderExternal, AddressBooksOfIos14To16MatchTheLibraryWithTheirLogs) {
  const RealBook books[] = {
      {"testdata.addressBook.addressBook.mvs_ios_2023",
       "private/var/mobile/Library/AddressBook/AddressBook.sqlitedb", 75},
      {"testdata.addressBook.addressBook.josh_ios15_ffs",
       "filesystem2/mobile/Library/AddressBook/AddressBook.sqlitedb", 0},
      {"testdata.addressBook.addressBook.belkasoft_ctf6_ios_device1",
       "private/var/mobile/Library/AddressBook/AddressBook.sqlitedb", 75},
  };
  const std::filesystem::path root = ExternalData() / "abrignoni__iLEAPP/admin/test/cases/data/addressBook";
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "external test data not found at " << root;
  for (const RealBook& book : books) {
    SCOPED_TRACE(book.folder);
    const std::filesystem::path source = root / book.folder / book.path;
    ASSERT_TRUE(std::filesystem::exists(WithSuffix(source, "-wal")));
    test::TempDir dir;
    const std::filesystem::path copy = dir / "AddressBook.sqlitedb";
    CopyWithCompanions(source, copy);
    std::filesystem::remove(WithSuffix(copy, "-shm"));

    SqliteDbReader reader;
    ASSERT_EQ(reader.Open(copy), kOk);
    EXPECT_EQ(reader.WalState(), WalVerdict::kApplied) << WalVerdictText(reader.WalState());
    if (book.pageCount != 0) {
      EXPECT_EQ(reader.PageCount(), book.pageCount);
    }
    for (const char* table :
         {"ABPerson", "ABMultiValue", "ABPersonFullTextSearch_content", "ABPersonChanges"}) {
      SCOPED_TRACE(table);
      const auto expected = LibraryRows(copy, table);
      std::vector<test::ScannedRow> rows;
      ASSERT_EQ(test::ScanRows(reader, table, rows), kOk);
      std::map<int64_t, std::vector<std::string>> live;
      for (const auto& row : rows) {
        if (row.deleted != 0) continue;
        // Text columns as the library gives them; other columns are compared
        // by rowid only (the library prints numbers as text).
        std::vector<std::string> texts = row.texts;
        texts.resize(expected.count(row.rowId) ? expected.at(row.rowId).size() : texts.size());
        live[row.rowId] = texts;
      }
      ASSERT_EQ(live.size(), expected.size());
      std::size_t comparedTexts = 0;
      for (const auto& [rowid, columns] : expected) {
        ASSERT_EQ(live.count(rowid), 1u) << rowid;
        for (std::size_t column = 0; column < columns.size(); ++column) {
          if (!live.at(rowid)[column].empty()) {
            EXPECT_EQ(live.at(rowid)[column], columns[column]) << rowid;
            ++comparedTexts;
          }
        }
      }
      if (!expected.empty()) {
        EXPECT_GT(comparedTexts, 0u);
      }
      if (std::string(table) == "ABPerson" &&
          std::string(book.folder).find("belkasoft") != std::string::npos) {
        ASSERT_EQ(live.size(), 1u);
        const std::vector<std::string>& person = live.begin()->second;
        EXPECT_NE(std::find(person.begin(), person.end(), "William"), person.end());
        EXPECT_NE(std::find(person.begin(), person.end(), "Phorger"), person.end());
      }
      if (std::string(table) == "ABPerson")
        std::printf("%s: ABPerson %zu live, %zu page versions in history\n", book.folder, live.size(),
                    reader.HistoricalPageVersions());
    }
  }
}

// Tables with rowids, through the library on a copy with the log applied.
std::vector<std::string> LibraryRowidTables(const std::filesystem::path& database) {
  std::vector<std::string> tables;
  for (const auto& [rowid, row] : LibraryRows(database, "sqlite_master")) {
    (void)rowid;
    // type, name, tbl_name, rootpage, sql
    if (row.size() == 5 && row[0] == "table" && row[3] != "0" &&
        row[4].find("WITHOUT ROWID") == std::string::npos)
      tables.push_back(row[1]);
  }
  return tables;
}

TEST(WalReaderExternal, EveryRealDatabaseWithALogHasTheLibrarysLiveRowids) {
  const std::filesystem::path root = ExternalData();
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "external test data not found at " << root;
  int databases = 0;
  int tables = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || !name.ends_with("-wal")) continue;
    const std::filesystem::path source = entry.path().parent_path() / name.substr(0, name.size() - 4);
    if (!std::filesystem::exists(source)) continue;
    SCOPED_TRACE(source.string());
    test::TempDir dir;
    const std::filesystem::path copy = dir / "db";
    CopyWithCompanions(source, copy);
    std::filesystem::remove(WithSuffix(copy, "-shm"));
    SqliteDbReader reader;
    ASSERT_EQ(reader.Open(copy), kOk);
    ++databases;
    for (const std::string& table : LibraryRowidTables(copy)) {
      SCOPED_TRACE(table);
      std::vector<test::ScannedRow> rows;
      EXPECT_EQ(test::ScanRows(reader, table, rows), kOk);
      std::vector<int64_t> live;
      for (const auto& row : rows)
        if (row.deleted == 0) live.push_back(row.rowId);
      std::sort(live.begin(), live.end());
      std::vector<int64_t> expected;
      for (const auto& [rowid, columns] : LibraryRows(copy, table)) expected.push_back(rowid);
      EXPECT_EQ(live, expected);
      ++tables;
    }
  }
  std::printf("external with logs: %d databases, %d tables compared\n", databases, tables);
  EXPECT_GE(databases, 6);
}

// The main file of the iOS 15 book still holds rows the log has since
// removed: they come out as deleted.
TEST(WalReaderExternal, RowsTheLogRemovedFromTheMainFileComeOutAsDeleted) {
  const std::filesystem::path source =
      ExternalData() /
      "abrignoni__iLEAPP/admin/test/cases/data/addressBook/testdata.addressBook.addressBook.josh_ios15_ffs/"
      "filesystem2/mobile/Library/AddressBook/AddressBook.sqlitedb";
  if (!std::filesystem::exists(source)) GTEST_SKIP() << "external test data not found at " << source;
  test::TempDir dir;
  const std::filesystem::path mainOnly = dir / "main.sqlitedb";
  std::filesystem::copy_file(source, mainOnly);
  const std::filesystem::path copy = dir / "AddressBook.sqlitedb";
  CopyWithCompanions(source, copy);
  std::filesystem::remove(WithSuffix(copy, "-shm"));

  std::set<int64_t> removed;
  const auto replayed = LibraryRows(copy, "ABPersonChanges");
  for (const int64_t rowid : test::LibraryRowIds(mainOnly, "ABPersonChanges"))
    if (!replayed.count(rowid)) removed.insert(rowid);
  ASSERT_FALSE(removed.empty());

  SqliteDbReader reader;
  ASSERT_EQ(reader.Open(copy), kOk);
  std::vector<test::ScannedRow> rows;
  ASSERT_EQ(test::ScanRows(reader, "ABPersonChanges", rows), kOk);
  std::set<int64_t> deleted;
  for (const auto& row : rows)
    if (row.deleted != 0 && row.mode == RecordMode::kFullCell) deleted.insert(row.rowId);
  for (const int64_t rowid : removed) EXPECT_EQ(deleted.count(rowid), 1u) << rowid;
}

}  // namespace
}  // namespace corvyn::sqlite
