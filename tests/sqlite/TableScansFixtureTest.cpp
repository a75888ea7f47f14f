// Every table scan over fixture databases of the iOS 6 to 8 era with ground
// truth: each live row is found live, deleted rows are recovered from
// freeblocks, the gap, stale pointers and free pages, and nothing of another
// table is passed off as a row. Prints the recall of deleted rows per table
// ("recall <table>: recovered/deleted").
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "sqlite/RecordDecoders.h"
#include "sqlite/TableScans.h"
#include "tests/support/sqlite_fixtures/AppSchemas.h"

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

struct TableCase {
  const char* name;   // shown in the recall line
  const char* table;  // table of the ground truth
  Builder build;
  std::function<void(SqliteDbReader&)> prepare;  // reader settings the caller makes
  Scanner scan;
  KeyOf key;
  // Deleted rows that must come back. The fixture's deleted join rows are all
  // overwritten, so that table only prints its figures.
  std::size_t minimumRecovered = 1;
  // Accepts a deleted item that kept only part of its row (a lost first column).
  std::function<bool(const std::string&, const std::set<std::string>&)> partialKey = nullptr;
};

std::filesystem::path TempDir(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("corvyn-scans-" + std::to_string(std::random_device()()) + "-" + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<TableCase> Cases() {
  const auto sms = [](const std::filesystem::path& p) { return fx::BuildSmsDatabase(p); };
  const auto whatsApp = [](int count) {
    return [count](const std::filesystem::path& p) { return fx::BuildWhatsAppDatabase(p, count); };
  };
  const auto setCount = [](int count) {
    return [count](SqliteDbReader& r) { r.messageColumnCount = count; };
  };
  const auto none = [](SqliteDbReader&) {};
  const auto joinKey = [](const fx::FixtureRow& row) {
    return std::to_string(std::get<int64_t>(row.values.at(0))) + "/" +
           std::to_string(std::get<int64_t>(row.values.at(1)));
  };
  std::vector<TableCase> cases = {
      {"message", "message", sms, none,
       Scanning<MessageRecord>(&ScanMessages, [](const MessageRecord& r) { return r.text; }), TextColumn(2)},
      {"handle", "handle", sms, none,
       Scanning<HandleRow>(&ScanHandles, [](const HandleRow& r) { return r.address; }), TextColumn(1)},
      {"attachment", "attachment", sms, none,
       Scanning<AttachmentRow>(&ScanAttachments, [](const AttachmentRow& r) { return r.fileName; }),
       TextColumn(4)},
      {"message_attachment_join", "message_attachment_join", sms, none,
       Scanning<MessageAttachmentJoinRow>(&ScanMessageAttachmentJoins,
                                          [](const MessageAttachmentJoinRow& r) {
                                            return std::to_string(r.messageId) + "/" +
                                                   std::to_string(r.attachmentId);
                                          }),
       joinKey, 0,
       // A join row whose first column was overwritten keeps its attachment id.
       [](const std::string& key, const std::set<std::string>& truth) {
         if (!key.starts_with("0/")) return false;
         const std::string attachment = key.substr(1);
         return std::any_of(truth.begin(), truth.end(),
                            [&](const std::string& t) { return t.ends_with(attachment); });
       }},
      {"ABPersonFullTextSearch_content", "ABPersonFullTextSearch_content",
       [](const std::filesystem::path& p) { return fx::BuildAddressBookDatabase(p); }, none,
       Scanning<ContactRecord>(&ScanContacts, [](const ContactRecord& r) { return r.phones; }),
       TextColumn(16)},
      {"call", "call", [](const std::filesystem::path& p) { return fx::BuildCallHistoryDatabase(p, false); },
       [](SqliteDbReader& r) { r.callSchemaFlag = 0; },
       [](SqliteDbReader& r, std::vector<Found>& found) {
         std::vector<CallRecord> calls;
         const Status status = ScanCalls(r, "call", calls);
         for (const CallRecord& c : calls) found.push_back({c.deleted, c.number});
         return status;
       },
       TextColumn(1)},
      {"ZCALLRECORD", "ZCALLRECORD",
       [](const std::filesystem::path& p) { return fx::BuildCallHistoryDatabase(p, true); },
       [](SqliteDbReader& r) { r.callSchemaFlag = 1; },
       [](SqliteDbReader& r, std::vector<Found>& found) {
         std::vector<CallRecord> calls;
         const Status status = ScanCalls(r, "ZCALLRECORD", calls);
         for (const CallRecord& c : calls) found.push_back({c.deleted, c.number});
         return status;
       },
       TextColumn(12)},
      {"ZNOTE", "ZNOTE", [](const std::filesystem::path& p) { return fx::BuildNotesDatabase(p); }, none,
       Scanning<NoteRow>(&ScanNotes, [](const NoteRow& r) { return r.title; }), TextColumn(14)},
      {"ZNOTEBODY", "ZNOTEBODY", [](const std::filesystem::path& p) { return fx::BuildNotesDatabase(p); },
       none, Scanning<NoteBodyRow>(&ScanNoteBodies, [](const NoteBodyRow& r) { return r.html; }),
       TextColumn(4)},
      {"Friend", "Friend", [](const std::filesystem::path& p) { return fx::BuildWeChatDatabase(p, {}); },
       none, Scanning<FriendRow>(&ScanFriends, [](const FriendRow& r) { return r.userName; }), TextColumn(1)},
  };
  for (const int count : {27, 28, 29}) {
    const WhatsAppMessageColumns columns = WhatsAppMessageLayout(count);
    const WhatsAppChatColumns chatColumns = WhatsAppChatLayout(count);
    const WhatsAppMemberColumns memberColumns = WhatsAppMemberLayout(count);
    cases.push_back(
        {count == 27   ? "ZWAMESSAGE (27 columns)"
         : count == 28 ? "ZWAMESSAGE (28 columns)"
                       : "ZWAMESSAGE (29 columns)",
         "ZWAMESSAGE", whatsApp(count), setCount(count),
         Scanning<WhatsAppRecord>(&ScanWhatsAppMessages, [](const WhatsAppRecord& r) { return r.text; }),
         TextColumn(columns.text)});
    if (count == 29) continue;
    cases.push_back({count == 27 ? "ZWACHATSESSION (18 columns)" : "ZWACHATSESSION (20 columns)",
                     "ZWACHATSESSION", whatsApp(count), setCount(count),
                     Scanning<WhatsAppChatRow>(&ScanWhatsAppChats,
                                               [](const WhatsAppChatRow& r) { return r.partnerName; }),
                     TextColumn(chatColumns.partnerName)});
    cases.push_back({count == 27 ? "ZWAGROUPMEMBER (10 columns)" : "ZWAGROUPMEMBER (11 columns)",
                     "ZWAGROUPMEMBER", whatsApp(count), setCount(count),
                     Scanning<WhatsAppMemberRow>(&ScanWhatsAppMembers,
                                                 [](const WhatsAppMemberRow& r) { return r.memberName; }),
                     TextColumn(memberColumns.memberName)});
  }
  cases.push_back({"tb_c2cMsg", "tb_c2cMsg_10001",
                   [](const std::filesystem::path& p) { return fx::BuildQqDatabase(p, {"10001"}); }, none,
                   [](SqliteDbReader& r, std::vector<Found>& found) {
                     std::vector<ChatMessageRecord> rows;
                     const Status status = ScanC2cMessages(r, "tb_c2cMsg_10001", "10001", rows);
                     for (const ChatMessageRecord& m : rows) found.push_back({m.deleted, m.text});
                     return status;
                   },
                   TextColumn(6)});
  const std::string md5 = "0123456789abcdef0123456789abcdef";
  cases.push_back({"Chat_", "Chat_0123456789abcdef0123456789abcdef",
                   [md5](const std::filesystem::path& p) { return fx::BuildWeChatDatabase(p, {md5}); }, none,
                   [md5](SqliteDbReader& r, std::vector<Found>& found) {
                     std::vector<ChatMessageRecord> rows;
                     const Status status = ScanChatMessages(r, "Chat_" + md5, true, rows);
                     for (const ChatMessageRecord& m : rows) found.push_back({m.deleted, m.text});
                     return status;
                   },
                   TextColumn(4)});
  return cases;
}

class TableScanFixtureTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(TableScanFixtureTest, FindsEveryLiveRowAndRecoversDeletedRows) {
  const TableCase c = Cases().at(GetParam());
  SCOPED_TRACE(c.name);
  const std::filesystem::path dir = TempDir(std::to_string(GetParam()));
  const std::unique_ptr<fx::FixtureDatabase> database = c.build(dir / "fixture.db");
  ASSERT_NE(database, nullptr);
  const fx::GroundTruth& truth = database->Truth();

  SqliteDbReader reader;
  ASSERT_EQ(reader.Open(database->Path()), kOk);
  c.prepare(reader);
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
  // SQLite overwrites many when it rebalances the tree after the deletes.
  const std::string fileBytes = ReadFile(database->Path());
  std::size_t recovered = 0;
  std::size_t deletedCount = 0;
  std::size_t intact = 0;
  std::size_t recoveredIntact = 0;
  if (truth.deleted.count(c.table)) {
    for (const auto& [rowId, row] : truth.deleted.at(c.table)) {
      const std::string key = c.key(row);
      truthKeys.insert(key);
      ++deletedCount;
      const bool isIntact = fileBytes.find(key) != std::string::npos;
      intact += isIntact;
      recovered += deletedKeys.count(key);
      recoveredIntact += isIntact && deletedKeys.count(key);
    }
  }
  ASSERT_GT(deletedCount, 0u) << "the fixture deleted nothing";
  // Items that are no row of the table: records carved out of misaligned or
  // foreign bytes that still passed the decoder.
  std::size_t stray = 0;
  for (const Found& f : found)
    stray += !truthKeys.count(f.key) && !(c.partialKey && c.partialKey(f.key, truthKeys));
  std::printf(
      "recall %s: %zu/%zu deleted rows (%.0f%%); %zu/%zu of those still in the file; live %zu/%zu; stray "
      "%zu\n",
      c.name, recovered, deletedCount,
      100.0 * static_cast<double>(recovered) / static_cast<double>(deletedCount), recoveredIntact, intact,
      liveKeys.size(), liveRows.size(), stray);
  EXPECT_GE(recovered, c.minimumRecovered);
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(AllTables, TableScanFixtureTest, ::testing::Range<std::size_t>(0, Cases().size()));

}  // namespace
}  // namespace corvyn::sqlite

namespace corvyn::sqlite {
namespace {

// QQ keeps one table per friend; a free page can hold rows of any of them.
TEST(C2cMessageScanTest, FreePageRowsOfOtherFriendsAreRefusedButTheTablesOwnRowsAreAllTaken) {
  const std::filesystem::path dir = TempDir("c2c");
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
    EXPECT_TRUE(reader.contactFilter.empty());
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
