// The reader with a write-ahead log beside the file: the live rows are the
// ones the SQLite library shows for the same files (compared on separate
// copies, since the library checkpoints a log it opens), a log it must not
// use leaves the main file alone, and records of older page versions come
// out once, as deleted.
#include <gtest/gtest.h>

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

using corvyn::testing::CopyWithCompanions;
using corvyn::testing::FixtureDatabase;
using corvyn::testing::FixtureOptions;
using corvyn::testing::LibraryColumn;
using corvyn::testing::WithSuffix;

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

// 150 handles committed to the main file (rows 90 and 95 deleted there, their
// bytes left in the page's free space), then in WAL mode two committed
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
  EXPECT_TRUE(db->Exec("DELETE FROM handle WHERE ROWID IN (90, 95)")) << db->LastError();
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
  for (const std::string& address : {Address(5), std::string("changed-5"), Address(10), Address(11),
                                     Address(12), Address(20), Address(90), Address(95)}) {
    EXPECT_EQ(scan.deleted.count(address), 1u) << address;
  }
  for (const auto& [rowid, address] : scan.live) EXPECT_EQ(scan.deleted.count(address), 0u) << address;

  // The generic scan sees the same: rowids of deleted full cells are the
  // changed and deleted rows only (90 and 95 from the cells the root kept
  // when it split).
  std::vector<test::ScannedRow> rows;
  ASSERT_EQ(test::ScanRows(reader, "handle", rows), kOk);
  std::set<int64_t> deletedCells;
  for (const auto& row : rows)
    if (row.deleted && row.mode == RecordMode::kFullCell) deletedCells.insert(row.rowId);
  for (const int64_t rowid : deletedCells)
    EXPECT_TRUE(rowid == 5 || (rowid >= 10 && rowid <= 12) || rowid == 20 || rowid == 90 || rowid == 95)
        << rowid;

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
    EXPECT_EQ(ScanHandlesOf(alone).live.size(), 148u);
  }
}

// A vacuum through the log rewrites every page without free space: rows
// deleted before (in the main file's free space, and as cells of older
// frames) survive only in the page history, and come out once each.
TEST(WalReader, RowsAVacuumWipedFromTheLivePagesComeOutOfThePageHistory) {
  test::TempDir dir;
  auto db = BuildHandleHistory(dir / "build.db");
  ASSERT_TRUE(db);
  ASSERT_TRUE(db->Exec("DELETE FROM handle WHERE ROWID IN (40, 41); VACUUM")) << db->LastError();
  const std::filesystem::path copy = dir / "sms.db";
  ASSERT_TRUE(corvyn::testing::SnapshotWithWal(*db, copy));
  // Rows 90 and 95 were deleted in the main file before the log began.
  SqliteDbReader reader;
  ASSERT_EQ(reader.Open(copy), kOk);
  ASSERT_EQ(reader.WalState(), WalVerdict::kApplied);
  const HandleScan scan = ScanHandlesOf(reader);
  EXPECT_EQ(scan.live, LibraryColumn(copy, "handle", 1));
  for (const int64_t rowid : {10, 11, 12, 20, 40, 41, 90, 95}) {
    EXPECT_EQ(scan.deleted.count(Address(rowid)), 1u) << rowid;
  }
  for (const auto& [rowid, address] : scan.live) EXPECT_EQ(scan.deleted.count(address), 0u) << address;
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
       WalVerdict::kApplied, 148 - 3 + 3},
      {"first frame's checksum broken",
       [](const std::filesystem::path& database, const std::filesystem::path&) {
         const auto wal = WithSuffix(database, "-wal");
         ASSERT_TRUE(FlipByte(wal, ReadWalLayout(wal).FrameOffset(0) + 24 + 200));
       },
       WalVerdict::kDamaged, 148},
      {"header of another database's log (other salts)",
       [](const std::filesystem::path& database, const std::filesystem::path& scratch) {
         auto other = BuildHandleHistory(scratch / "other.db", 4096, "other");
         ASSERT_TRUE(other);
         ASSERT_TRUE(CopyPrefix(WithSuffix(scratch / "other.db", "-wal"), WithSuffix(database, "-wal"), 32));
       },
       WalVerdict::kSaltMismatch, 148},
      {"log of a database with another page size",
       [](const std::filesystem::path& database, const std::filesystem::path& scratch) {
         auto other = BuildHandleHistory(scratch / "small.db", 1024, "other");
         ASSERT_TRUE(other);
         std::filesystem::copy_file(WithSuffix(scratch / "small.db", "-wal"), WithSuffix(database, "-wal"),
                                    std::filesystem::copy_options::overwrite_existing);
       },
       WalVerdict::kPageSizeMismatch, 148},
      {"header checksum broken",
       [](const std::filesystem::path& database, const std::filesystem::path&) {
         ASSERT_TRUE(FlipByte(WithSuffix(database, "-wal"), 13));
       },
       WalVerdict::kDamaged, 148},
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

}  // namespace
}  // namespace corvyn::sqlite
