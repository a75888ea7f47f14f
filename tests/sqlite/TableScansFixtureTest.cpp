// Every table scan over fixture databases of the iOS 6 to 8 era (two sizes)
// with ground truth: each live row is found live, at least 95% and a floor of
// the deleted rows still present come back from freeblocks, the gap, stale
// pointers and free pages, no item is a row the table never held (stray) and
// no live row is reported again as deleted. A deleted row counts as still
// present when all its text values are still in the file's bytes; the floors
// are the present rows recovered when they were set, so a change that lowers
// recall or lets a stray through fails here. Prints each row's figures
// ("recall <table>: recovered/present ...; stray n; live as deleted n").
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "sqlite/RecordDecoders.h"
#include "sqlite/TableScans.h"
#include "tests/support/sqlite_fixtures/AppSchemas.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::sqlite {
namespace {

namespace fx = corvyn::testing;

// One scanned item reduced to its deleted flag and the text that identifies
// its row.
struct Found {
  int32_t deleted = 0;
  std::string key;
};

using Builder = std::function<std::unique_ptr<fx::FixtureDatabase>(const std::filesystem::path&)>;
using Scanner = std::function<Status(SqliteDbReader&, std::vector<Found>&)>;
using KeyOf = std::function<std::string(const fx::FixtureRow&)>;

template <typename Row>
Scanner Scanning(Status (*scan)(SqliteDbReader&, std::vector<Row>&),
                 std::function<std::string(const Row&)> key) {
  return [scan, key](SqliteDbReader& reader, std::vector<Found>& found) {
    std::vector<Row> rows;
    const Status status = scan(reader, rows);
    for (const Row& row : rows) found.push_back({row.deleted, key(row)});
    return status;
  };
}

KeyOf TextColumn(std::size_t column) {
  return [column](const fx::FixtureRow& row) {
    const auto* text = std::get_if<std::string>(&row.values.at(column));
    return text != nullptr ? *text : std::string();
  };
}

using BuildSized = std::function<std::unique_ptr<fx::FixtureDatabase>(const std::filesystem::path&, int)>;

struct TableCase {
  std::string name;   // shown in the recall line
  std::string table;  // table of the ground truth
  Builder build;
  Scanner scan;
  KeyOf key;
  std::size_t minimumRecovered;  // deleted rows still present in the file that must come back
  // Accepts a deleted item that kept only part of its row (a lost first column).
  std::function<bool(const std::string&, const std::set<std::string>&)> partialKey = nullptr;
};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One row per table and fixture size: floor of the deleted rows still
// present in the file that come back.
using Bounds = std::size_t;

std::vector<TableCase> Cases() {
  const auto sms = [](const std::filesystem::path& p, int rows) { return fx::BuildSmsDatabase(p, rows); };
  const auto addressBook = [](const std::filesystem::path& p, int rows) {
    return fx::BuildAddressBookDatabase(p, rows);
  };
  const auto notes = [](const std::filesystem::path& p, int rows) { return fx::BuildNotesDatabase(p, rows); };
  const auto calls = [](bool coreData) {
    return [coreData](const std::filesystem::path& p, int rows) {
      return fx::BuildCallHistoryDatabase(p, coreData, rows);
    };
  };
  const auto whatsApp = [](int count) {
    return [count](const std::filesystem::path& p, int rows) {
      return fx::BuildWhatsAppDatabase(p, count, rows);
    };
  };
  const auto joinKey = [](const fx::FixtureRow& row) {
    return std::to_string(std::get<int64_t>(row.values.at(0))) + "/" +
           std::to_string(std::get<int64_t>(row.values.at(1)));
  };
  const auto callScan = [](std::string table) -> Scanner {
    return [table](SqliteDbReader& r, std::vector<Found>& found) {
      std::vector<CallRecord> rows;
      const Status status = ScanCalls(r, table, rows);
      for (const CallRecord& c : rows) found.push_back({c.deleted, c.number});
      return status;
    };
  };
  const auto c2cScan = [](std::string table, std::string friendKey) -> Scanner {
    return [table, friendKey](SqliteDbReader& r, std::vector<Found>& found) {
      std::vector<ChatMessageRecord> rows;
      const Status status = ScanC2cMessages(r, table, friendKey, rows);
      for (const ChatMessageRecord& m : rows) found.push_back({m.deleted, m.text});
      return status;
    };
  };
  const auto chatScan = [](std::string table) -> Scanner {
    return [table](SqliteDbReader& r, std::vector<Found>& found) {
      std::vector<ChatMessageRecord> rows;
      const Status status = ScanChatMessages(r, table, true, rows);
      for (const ChatMessageRecord& m : rows) found.push_back({m.deleted, m.text});
      return status;
    };
  };
  const auto whatsAppScan = [](int count) -> Scanner {
    return [count](SqliteDbReader& r, std::vector<Found>& found) {
      std::vector<WhatsAppRecord> rows;
      const Status status = ScanWhatsAppMessages(r, count, rows);
      for (const WhatsAppRecord& m : rows) found.push_back({m.deleted, m.text});
      return status;
    };
  };
  const auto chatSessionScan = [](int count) -> Scanner {
    return [count](SqliteDbReader& r, std::vector<Found>& found) {
      std::vector<WhatsAppChatRow> rows;
      const Status status = ScanWhatsAppChats(r, count, rows);
      for (const WhatsAppChatRow& m : rows) found.push_back({m.deleted, m.partnerName});
      return status;
    };
  };
  const auto memberScan = [](int count) -> Scanner {
    return [count](SqliteDbReader& r, std::vector<Found>& found) {
      std::vector<WhatsAppMemberRow> rows;
      const Status status = ScanWhatsAppMembers(r, count, rows);
      for (const WhatsAppMemberRow& m : rows) found.push_back({m.deleted, m.memberName});
      return status;
    };
  };

  struct Row {
    const char* name;
    const char* table;
    BuildSized build;
    Scanner scan;
    KeyOf key;
    Bounds small;  // 200-row fixture
    Bounds large;  // 300-row fixture
  };
  const std::string md5 = "0123456789abcdef0123456789abcdef";
  const std::vector<Row> rows = {
      {"message", "message", sms,
       Scanning<MessageRecord>(&ScanMessages, [](const MessageRecord& r) { return r.text; }), TextColumn(2),
       23, 40},
      {"handle", "handle", sms,
       Scanning<HandleRow>(&ScanHandles, [](const HandleRow& r) { return r.address; }), TextColumn(1), 42,
       35},
      {"attachment", "attachment", sms,
       Scanning<AttachmentRow>(&ScanAttachments, [](const AttachmentRow& r) { return r.fileName; }),
       TextColumn(4), 21, 39},
      {"ABPersonFullTextSearch_content", "ABPersonFullTextSearch_content", addressBook,
       Scanning<ContactRecord>(&ScanContacts, [](const ContactRecord& r) { return r.phones; }),
       TextColumn(16), 13, 32},
      {"call", "call", calls(false), callScan("call"), TextColumn(1), 23, 25},
      {"ZCALLRECORD", "ZCALLRECORD", calls(true), callScan("ZCALLRECORD"), TextColumn(12), 19, 36},
      {"ZNOTE", "ZNOTE", notes, Scanning<NoteRow>(&ScanNotes, [](const NoteRow& r) { return r.title; }),
       TextColumn(14), 22, 25},
      {"ZNOTEBODY", "ZNOTEBODY", notes,
       Scanning<NoteBodyRow>(&ScanNoteBodies, [](const NoteBodyRow& r) { return r.html; }), TextColumn(4), 26,
       20},
      {"Friend", "Friend",
       [](const std::filesystem::path& p, int n) { return fx::BuildWeChatDatabase(p, {}, n); },
       Scanning<FriendRow>(&ScanFriends, [](const FriendRow& r) { return r.userName; }), TextColumn(1), 26,
       28},
      {"ZWAMESSAGE (27 columns)", "ZWAMESSAGE", whatsApp(27), whatsAppScan(27),
       TextColumn(WhatsAppMessageLayout(27).text), 23, 44},
      {"ZWACHATSESSION (18 columns)", "ZWACHATSESSION", whatsApp(27), chatSessionScan(27),
       TextColumn(WhatsAppChatLayout(27).partnerName), 23, 25},
      {"ZWAGROUPMEMBER (10 columns)", "ZWAGROUPMEMBER", whatsApp(27), memberScan(27),
       TextColumn(WhatsAppMemberLayout(27).memberName), 32, 30},
      {"ZWAMESSAGE (28 columns)", "ZWAMESSAGE", whatsApp(28), whatsAppScan(28),
       TextColumn(WhatsAppMessageLayout(28).text), 18, 38},
      {"ZWACHATSESSION (20 columns)", "ZWACHATSESSION", whatsApp(28), chatSessionScan(28),
       TextColumn(WhatsAppChatLayout(28).partnerName), 23, 25},
      {"ZWAGROUPMEMBER (11 columns)", "ZWAGROUPMEMBER", whatsApp(28), memberScan(28),
       TextColumn(WhatsAppMemberLayout(28).memberName), 31, 30},
      {"ZWAMESSAGE (29 columns)", "ZWAMESSAGE", whatsApp(29), whatsAppScan(29),
       TextColumn(WhatsAppMessageLayout(29).text), 19, 39},
      {"tb_c2cMsg", "tb_c2cMsg_10001",
       [](const std::filesystem::path& p, int n) { return fx::BuildQqDatabase(p, {"10001"}, n); },
       c2cScan("tb_c2cMsg_10001", "10001"), TextColumn(6), 29, 39},
      {"Chat_", "Chat_0123456789abcdef0123456789abcdef",
       [md5](const std::filesystem::path& p, int n) { return fx::BuildWeChatDatabase(p, {md5}, n); },
       chatScan("Chat_" + md5), TextColumn(4), 24, 28},
  };
  std::vector<TableCase> cases;
  for (const int size : {200, 300}) {
    for (const Row& row : rows) {
      const Bounds bounds = size == 200 ? row.small : row.large;
      const BuildSized build = row.build;
      cases.push_back({std::string(row.name) + " (" + std::to_string(size) + " rows)", row.table,
                       [build, size](const std::filesystem::path& p) { return build(p, size); }, row.scan,
                       row.key, bounds});
    }
    // The fixture's deleted join rows are nearly all overwritten, and a join
    // row whose first column was overwritten keeps its attachment id.
    cases.push_back({"message_attachment_join (" + std::to_string(size) + " rows)", "message_attachment_join",
                     [size](const std::filesystem::path& p) { return fx::BuildSmsDatabase(p, size); },
                     Scanning<MessageAttachmentJoinRow>(&ScanMessageAttachmentJoins,
                                                        [](const MessageAttachmentJoinRow& r) {
                                                          return std::to_string(r.messageId) + "/" +
                                                                 std::to_string(r.attachmentId);
                                                        }),
                     joinKey, 0,
                     [](const std::string& key, const std::set<std::string>& truth) {
                       if (!key.starts_with("0/")) return false;
                       const std::string attachment = key.substr(1);
                       return std::any_of(truth.begin(), truth.end(),
                                          [&](const std::string& t) { return t.ends_with(attachment); });
                     }});
  }
  return cases;
}

class TableScanFixtureTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(TableScanFixtureTest, FindsEveryLiveRowAndRecoversDeletedRows) {
  const TableCase c = Cases().at(GetParam());
  SCOPED_TRACE(c.name);
  const fx::TempFolder folder("scans-" + std::to_string(GetParam()));
  const std::filesystem::path& dir = folder.Path();
  const std::unique_ptr<fx::FixtureDatabase> database = c.build(dir / "fixture.db");
  ASSERT_NE(database, nullptr);
  const fx::GroundTruth& truth = database->Truth();

  SqliteDbReader reader;
  ASSERT_EQ(reader.Open(database->Path()), kOk);
  std::vector<Found> found;
  ASSERT_EQ(c.scan(reader, found), kOk);

  std::set<std::string> liveKeys, deletedKeys;
  for (const Found& f : found) (f.deleted ? deletedKeys : liveKeys).insert(f.key);

  std::set<std::string> truthKeys;
  const auto& liveRows = truth.live.at(c.table);
  for (const auto& [rowId, row] : liveRows) {
    const std::string key = c.key(row);
    truthKeys.insert(key);
    EXPECT_TRUE(liveKeys.count(key)) << "live row " << rowId << " not found: " << key;
  }
  // A deleted row can only come back while its bytes are still in the file;
  // SQLite overwrites many when it rebalances the tree after the deletes. A
  // row counts as present when every text value it holds is still in the
  // file's bytes (a row without text values, or with a text cut across
  // overflow pages, does not count).
  const std::string fileBytes = ReadFile(database->Path());
  const auto present = [&](const fx::FixtureRow& row) {
    bool anyText = false;
    for (const fx::FixtureValue& value : row.values) {
      const auto* text = std::get_if<std::string>(&value);
      if (text == nullptr || text->empty()) continue;
      anyText = true;
      if (fileBytes.find(*text) == std::string::npos) return false;
    }
    return anyText;
  };
  std::size_t recovered = 0;
  std::size_t deletedCount = 0;
  std::size_t presentCount = 0;
  std::size_t recoveredPresent = 0;
  if (truth.deleted.count(c.table)) {
    for (const auto& [rowId, row] : truth.deleted.at(c.table)) {
      const std::string key = c.key(row);
      truthKeys.insert(key);
      ++deletedCount;
      const bool isPresent = present(row);
      presentCount += isPresent;
      recovered += deletedKeys.count(key);
      recoveredPresent += isPresent && deletedKeys.count(key);
    }
  }
  ASSERT_GT(deletedCount, 0u) << "the fixture deleted nothing";
  // Items that are no row of the table: records carved out of misaligned or
  // foreign bytes that still passed the decoder.
  std::size_t stray = 0;
  for (const Found& f : found)
    stray += !truthKeys.count(f.key) && !(c.partialKey && c.partialKey(f.key, truthKeys));
  // Live rows reported a second time as deleted (copies left behind when
  // the tree moved them): none.
  std::size_t liveAsDeleted = 0;
  std::set<std::string> liveTruthKeys;
  for (const auto& [rowId, row] : liveRows) liveTruthKeys.insert(c.key(row));
  for (const std::string& key : deletedKeys) liveAsDeleted += liveTruthKeys.count(key);
  const double share =
      presentCount == 0 ? 1.0 : static_cast<double>(recoveredPresent) / static_cast<double>(presentCount);
  std::printf(
      "recall %s: %zu/%zu deleted rows still present in the file recovered (%.0f%%%s); %zu/%zu deleted in "
      "all; live %zu/%zu; stray %zu; live as deleted %zu\n",
      c.name.c_str(), recoveredPresent, presentCount, 100.0 * share, share >= 0.95 ? "" : ", below 95%",
      recovered, deletedCount, liveKeys.size(), liveRows.size(), stray, liveAsDeleted);
  EXPECT_GE(recoveredPresent, c.minimumRecovered);
  EXPECT_GE(share, 0.95);
  EXPECT_EQ(stray, 0u);
  EXPECT_EQ(liveAsDeleted, 0u);
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(AllTables, TableScanFixtureTest, ::testing::Range<std::size_t>(0, Cases().size()));

// The fixed positions the decoders fall back to agree with the column names
// of the era's schemas, so reading the schema moves nothing there.
TEST(TableProfileFixtureTest, FixedPositionsAreWhereTheSchemasDeclareTheTakenColumns) {
  struct Case {
    const char* table;
    int whatsAppColumns;
    std::function<std::unique_ptr<fx::FixtureDatabase>(const std::filesystem::path&)> build;
  };
  const auto sms = [](const std::filesystem::path& p) { return fx::BuildSmsDatabase(p, 20); };
  const auto whatsApp = [](int count) {
    return [count](const std::filesystem::path& p) { return fx::BuildWhatsAppDatabase(p, count, 20); };
  };
  const std::vector<Case> cases = {
      {"message", 28, sms},
      {"handle", 28, sms},
      {"attachment", 28, sms},
      {"message_attachment_join", 28, sms},
      {"ABPersonFullTextSearch_content", 28,
       [](const std::filesystem::path& p) { return fx::BuildAddressBookDatabase(p, 20); }},
      {"call", 28, [](const std::filesystem::path& p) { return fx::BuildCallHistoryDatabase(p, false, 20); }},
      {"ZCALLRECORD", 28,
       [](const std::filesystem::path& p) { return fx::BuildCallHistoryDatabase(p, true, 20); }},
      {"ZNOTE", 28, [](const std::filesystem::path& p) { return fx::BuildNotesDatabase(p, 20); }},
      {"ZNOTEBODY", 28, [](const std::filesystem::path& p) { return fx::BuildNotesDatabase(p, 20); }},
      {"Friend", 28, [](const std::filesystem::path& p) { return fx::BuildWeChatDatabase(p, {"ab"}, 20); }},
      {"Chat_ab", 28, [](const std::filesystem::path& p) { return fx::BuildWeChatDatabase(p, {"ab"}, 20); }},
      {"tb_c2cTables", 28, [](const std::filesystem::path& p) { return fx::BuildQqDatabase(p, {"7"}, 20); }},
      {"tb_c2cMsg_7", 28, [](const std::filesystem::path& p) { return fx::BuildQqDatabase(p, {"7"}, 20); }},
      {"ZWAMESSAGE", 27, whatsApp(27)},
      {"ZWAMESSAGE", 28, whatsApp(28)},
      {"ZWAMESSAGE", 29, whatsApp(29)},
      {"ZWACHATSESSION", 27, whatsApp(27)},
      {"ZWACHATSESSION", 28, whatsApp(28)},
      {"ZWAGROUPMEMBER", 27, whatsApp(27)},
      {"ZWAGROUPMEMBER", 28, whatsApp(28)},
  };
  const fx::TempFolder folder("scans-profiles");
  const std::filesystem::path& dir = folder.Path();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(std::string(c.table) + " " + std::to_string(c.whatsAppColumns));
    const auto database = c.build(dir / (std::to_string(i) + ".db"));
    ASSERT_NE(database, nullptr);
    SqliteDbReader reader;
    ASSERT_EQ(reader.Open(database->Path()), kOk);
    const TableProfile fixed = ProfileFor(c.table, c.whatsAppColumns);
    TableProfile read = ReadTableProfile(reader, c.table, c.whatsAppColumns);
    ASSERT_FALSE(fixed.taken.empty());
    ASSERT_EQ(read.declaredColumns.size(), fixed.columnCount);
    for (std::size_t slot = 0; slot < fixed.taken.size(); ++slot) {
      EXPECT_EQ(read.DeclaredIndex(fixed.taken[slot].name), fixed.Column(slot)) << fixed.taken[slot].name;
      EXPECT_EQ(read.Column(slot), fixed.Column(slot)) << fixed.taken[slot].name;
    }
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace corvyn::sqlite

namespace corvyn::sqlite {
namespace {

// QQ keeps one table per friend; a free page can hold rows of any of them.
TEST(C2cMessageScanTest, FreePageRowsOfOtherFriendsAreRefusedButTheTablesOwnRowsAreAllTaken) {
  const fx::TempFolder folder("scans-c2c");
  const std::filesystem::path& dir = folder.Path();
  const fx::TableSchema mine = fx::QqMessageTable("10001");
  const fx::TableSchema theirs = fx::QqMessageTable("20002");
  const int uin = mine.ColumnIndex("uin");
  ASSERT_EQ(uin, 1);
  std::string error;
  // Some rows of the friend's own table name another contact in column 1.
  const auto database =
      fx::BuildDatabase(dir / "QQ.db", {{mine, 200, -1, {}}, {theirs, 200, -1, {}}}, {}, &error,
                        [&](const fx::TableSchema& table, int64_t n, std::vector<fx::FixtureValue>& row) {
                          if (table.name == mine.name && n % 10 == 5) row[1] = std::string("30003");
                        });
  ASSERT_NE(database, nullptr) << error;
  const auto& live = database->Truth().live.at(mine.name);
  const auto liveOthers = std::count_if(live.begin(), live.end(), [](const auto& entry) {
    return std::get<std::string>(entry.second.values.at(1)) == "30003";
  });
  ASSERT_GT(liveOthers, 0);

  const auto scan = [&](std::string_view friendKey) {
    SqliteDbReader reader;
    EXPECT_EQ(reader.Open(dir / "QQ.db"), kOk);
    std::vector<ChatMessageRecord> rows;
    EXPECT_EQ(ScanC2cMessages(reader, mine.name, friendKey, rows), kOk);
    return rows;
  };
  const auto fromOtherTable = [&](const std::vector<ChatMessageRecord>& rows) {
    return std::count_if(rows.begin(), rows.end(),
                         [&](const ChatMessageRecord& m) { return m.text.starts_with(theirs.name); });
  };

  // Without a contact id the free pages give rows of the other table too.
  ASSERT_GT(fromOtherTable(scan("")), 0) << "the fixture left no free page of the other table";
  const std::vector<ChatMessageRecord> rows = scan("10001");
  EXPECT_EQ(fromOtherTable(rows), 0);
  EXPECT_EQ(
      std::count_if(rows.begin(), rows.end(),
                    [](const ChatMessageRecord& m) { return m.contactId == "30003" && m.deleted == 0; }),
      liveOthers);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace corvyn::sqlite
