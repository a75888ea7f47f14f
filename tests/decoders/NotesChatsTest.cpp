// Notes, WhatsApp, QQ and WeChat decoded end to end from fixture databases.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/TextFormat.h"
#include "decoders/Decoders.h"
#include "decoders/TextRules.h"
#include "tests/decoders/SampleFiles.h"
#include "tests/support/sqlite_fixtures/AppDatabase.h"
#include "tests/support/sqlite_fixtures/AppSchemas.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::decoders {
namespace {

using testing::AppDatabase;
using testing::ColumnValues;
using testing::TempFolder;

std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> FolderListing(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

TEST(DecodeNotes, PairsBodiesWithTitlesAndCoreDataDates) {
  TempFolder folder;
  const auto path = folder / "notes.sqlite";
  constexpr int64_t kNoteDate = 420000000;  // seconds since 2001: 2014-04
  {
    AppDatabase db(path);
    db.Create(testing::NotesTables());
    db.Insert("ZNOTE",
              ColumnValues{{11, int64_t{1}}, {13, kNoteDate}, {14, std::string("Shopping &amp; co")}}, 1);
    db.Insert("ZNOTE", ColumnValues{{11, int64_t{2}}, {13, kNoteDate + 60}, {14, std::string("Title only")}},
              2);
    db.Insert("ZNOTEBODY", ColumnValues{{3, int64_t{1}}, {4, std::string("<div>milk</div><div>eggs</div>")}},
              1);
    db.Insert("ZNOTEBODY", ColumnValues{{3, int64_t{7}}, {4, std::string("orphan&nbsp;body")}}, 3);
  }
  std::vector<NoteRecord> notes;
  ASSERT_EQ(DecodeNotes(notes, path), kOk);
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_EQ(notes[0].title, "Shopping & co");
  EXPECT_EQ(notes[0].content, "\nmilk\neggs");
  EXPECT_EQ(notes[0].date, DateTextFromCocoa(kNoteDate));
  EXPECT_NE(notes[0].date, DateText(kNoteDate));
  EXPECT_EQ(notes[1].content, "orphan body");
  EXPECT_EQ(notes[1].title, "");
  EXPECT_EQ(notes[2].title, "Title only");
  EXPECT_EQ(notes[2].date, DateTextFromCocoa(kNoteDate + 60));
}

TEST(DecodeNotes, MissingTablesAndUnreadableFiles) {
  TempFolder folder;
  {
    AppDatabase db(folder / "bodies-only.sqlite");
    db.Create(testing::NoteBodyTable());
    db.Insert("ZNOTEBODY", ColumnValues{{3, int64_t{1}}, {4, std::string("a<br>b")}});
  }
  std::vector<NoteRecord> notes;
  ASSERT_EQ(DecodeNotes(notes, folder / "bodies-only.sqlite"), kOk);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].content, "a\nb");

  std::ofstream(folder / "garbage") << std::string(1000, 'n');
  notes.clear();
  EXPECT_EQ(DecodeNotes(notes, folder / "garbage"), kInvalidData);
  EXPECT_NE(DecodeNotes(notes, folder / "missing"), kOk);
  EXPECT_TRUE(notes.empty());
}

// Column positions of the WhatsApp tables by ZWAMESSAGE column count.
struct WhatsAppLayout {
  int messageColumns;
  int fromMe, session, member, date, text;  // ZWAMESSAGE
  int chatJid, chatName;                    // ZWACHATSESSION
  int memberChat, memberName, memberJid;    // ZWAGROUPMEMBER
};

constexpr WhatsAppLayout kLayouts[] = {
    {27, 7, 12, 13, 17, 21, 14, 16, 5, 7, 9},
    {28, 10, 14, 15, 20, 26, 16, 18, 6, 8, 10},
    {29, 10, 15, 16, 21, 27, 16, 18, 6, 8, 10},
};

constexpr int64_t kChatDate = 440000000;

void BuildWhatsApp(const std::filesystem::path& path, const WhatsAppLayout& l) {
  AppDatabase db(path);
  db.Create(testing::WhatsAppTables(l.messageColumns));
  db.Insert("ZWACHATSESSION",
            ColumnValues{{l.chatJid, std::string("4915112345678@s.whatsapp.net")},
                         {l.chatName, std::string("Anna")}},
            1);
  db.Insert("ZWACHATSESSION",
            ColumnValues{{l.chatJid, std::string("4915100000001-1400000000@g.us")},
                         {l.chatName, std::string("Family")}},
            2);
  db.Insert("ZWAGROUPMEMBER",
            ColumnValues{{l.memberChat, int64_t{2}},
                         {l.memberName, std::string("Mum")},
                         {l.memberJid, std::string("4915100000001@s.whatsapp.net")}},
            1);
  db.Insert("ZWAGROUPMEMBER",
            ColumnValues{{l.memberChat, int64_t{2}},
                         {l.memberName, std::string("Dad")},
                         {l.memberJid, std::string("4915100000002")}},
            2);
  auto message = [&](int64_t rowid, int64_t chat, int64_t member, int64_t fromMe, int64_t date,
                     const char* text) {
    ColumnValues row{{l.session, chat}, {l.fromMe, fromMe}, {l.date, date}};
    if (member != 0) row[l.member] = member;
    if (text != nullptr) row[l.text] = std::string(text);
    db.Insert("ZWAMESSAGE", row, rowid);
  };
  message(1, 2, 1, 0, kChatDate + 1, "group: first of the run");
  message(2, 2, 2, 0, kChatDate + 2, "group: second");
  message(3, 2, 0, 1, kChatDate + 3, "group: mine");
  message(4, 1, 0, 0, kChatDate + 4, "anna: hello");
  message(5, 2, 1, 0, kChatDate + 5, "group: after another chat");
  message(6, 1, 0, 0, kChatDate + 6, nullptr);  // a picture: no text
}

TEST(DecodeWhatsApp, EveryLayoutNamesAndKeepsEveryMessageWithText) {
  for (const auto& layout : kLayouts) {
    SCOPED_TRACE(layout.messageColumns);
    TempFolder folder;
    BuildWhatsApp(folder / "ChatStorage.sqlite", layout);
    WhatsAppChatMap chats;
    int32_t columnCount = kInitialWhatsAppMessageColumnCount;
    ASSERT_EQ(DecodeWhatsApp(chats, folder / "ChatStorage.sqlite", columnCount), kOk);
    EXPECT_EQ(columnCount, layout.messageColumns);
    ASSERT_EQ(chats.size(), 2u);

    const auto& group = chats[2];
    ASSERT_EQ(group.size(), 4u);
    EXPECT_EQ(group[0].text, "group: first of the run");
    EXPECT_EQ(group[0].senderName, "Mum");
    EXPECT_EQ(group[0].senderId, "4915100000001");
    EXPECT_EQ(group[0].chatTitle, "Family");
    EXPECT_EQ(group[0].memberPhone, "4915100000001,4915100000002");
    EXPECT_EQ(group[0].memberName, "Mum,Dad");
    EXPECT_EQ(group[0].date, DateTextFromCocoa(kChatDate + 1));
    EXPECT_EQ(group[1].senderName, "Dad");
    EXPECT_EQ(group[2].senderName, "Me");
    EXPECT_EQ(group[2].sent, 1);
    EXPECT_EQ(group[3].text, "group: after another chat");

    const auto& anna = chats[1];
    ASSERT_EQ(anna.size(), 1u);
    EXPECT_EQ(anna[0].senderName, "Anna");
    EXPECT_EQ(anna[0].senderId, "4915112345678");
    EXPECT_EQ(anna[0].memberPhone, "4915112345678");
  }
}

TEST(DecodeWhatsApp, ColumnCountKeptWhenTheTableIsEmpty) {
  TempFolder folder;
  {
    AppDatabase db(folder / "empty.sqlite");
    db.Create(testing::WhatsAppTables(27));
  }
  BuildWhatsApp(folder / "full.sqlite", kLayouts[1]);
  int32_t columnCount = 29;
  WhatsAppChatMap chats;
  ASSERT_EQ(DecodeWhatsApp(chats, folder / "empty.sqlite", columnCount), kOk);
  EXPECT_EQ(columnCount, 29);
  EXPECT_TRUE(chats.empty());
  ASSERT_EQ(DecodeWhatsApp(chats, folder / "full.sqlite", columnCount), kOk);
  EXPECT_EQ(columnCount, 28);
  ASSERT_EQ(DecodeWhatsApp(chats, folder / "empty.sqlite", columnCount), kOk);
  EXPECT_EQ(columnCount, 28);
}

TEST(DecodeWhatsApp, UnqueryableDatabasesLeaveTheMapAlone) {
  TempFolder folder;
  {
    AppDatabase db(folder / "no-messages.sqlite");
    db.Create(testing::WhatsAppChatTable(27));
  }
  std::ofstream(folder / "garbage.sqlite") << std::string(4096, 'w');
  WhatsAppChatMap chats;
  chats[5].push_back(WhatsAppRecord{});
  int32_t columnCount = 27;
  EXPECT_EQ(DecodeWhatsApp(chats, folder / "no-messages.sqlite", columnCount), kWhatsAppQueryFailed);
  EXPECT_EQ(DecodeWhatsApp(chats, folder / "garbage.sqlite", columnCount), kWhatsAppQueryFailed);
  const Status missing = DecodeWhatsApp(chats, folder / "missing.sqlite", columnCount);
  EXPECT_NE(missing, kOk);
  EXPECT_NE(missing, kWhatsAppQueryFailed);
  EXPECT_EQ(chats.size(), 1u);
  EXPECT_EQ(columnCount, 27);
}

// A phone's database comes in WAL mode with committed pages still in its
// -wal file; opening it for writing would fold them into the main file.
TEST(DecodeWhatsApp, ProbeNeitherWritesNorCreatesFiles) {
  TempFolder folder;
  const auto built = folder / "built.sqlite";
  BuildWhatsApp(built, kLayouts[0]);
  const auto snapshot = folder / "snapshot";
  std::filesystem::create_directories(snapshot);
  const auto path = snapshot / "odd name #1 %20?.sqlite";
  {
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(built.c_str(), &handle), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(handle,
                           "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                           "UPDATE ZWACHATSESSION SET ZPARTNERNAME = 'Anna in the WAL' WHERE Z_PK = 1;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    // Copied while the writer is open: the -wal file holds the update.
    for (const char* suffix : {"", "-wal", "-shm"}) {
      std::filesystem::copy_file(built.string() + suffix, path.string() + suffix);
    }
    sqlite3_close(handle);
  }
  ASSERT_GT(std::filesystem::file_size(path.string() + "-wal"), 0u);
  std::map<std::string, std::string> before;
  for (const char* suffix : {"", "-wal", "-shm"}) before[suffix] = FileBytes(path.string() + suffix);
  const auto listing = FolderListing(snapshot);

  WhatsAppChatMap chats;
  int32_t columnCount = 23;
  ASSERT_EQ(DecodeWhatsApp(chats, path, columnCount), kOk);
  EXPECT_EQ(columnCount, 27);
  EXPECT_EQ(chats[2].size(), 4u);
  for (const char* suffix : {"", "-wal", "-shm"}) {
    EXPECT_EQ(FileBytes(path.string() + suffix), before[suffix]) << "file" << suffix;
  }
  EXPECT_EQ(FolderListing(snapshot), listing);
}

TEST(DecodeQQ, OneConversationPerIndexRowInDateOrder) {
  TempFolder folder;
  const auto path = folder / "QQ.db";
  {
    AppDatabase db(path);
    db.Create(testing::QqTableListTable());
    for (const char* table : {"tb_c2cMsg_111", "tb_c2cMsg_222", "tb_c2cMsg_333", "tb_c2cMsg_111"}) {
      db.Exec(std::string("INSERT INTO tb_c2cTables VALUES ('") + table + "')");
    }
    for (const char* table : {"tb_c2cMsg_111", "tb_c2cMsg_222"}) db.Create(testing::NumberedTable(table, 7));
    auto message = [&db](const char* table, const char* contact, int64_t date, int64_t flag,
                         const char* text) {
      db.Insert(table, ColumnValues{{1, std::string(contact)}, {2, date}, {4, flag}, {6, std::string(text)}});
    };
    message("tb_c2cMsg_111", "111", 1400000300, 1, "c");
    message("tb_c2cMsg_111", "111", 1400000100, 0, "a");
    message("tb_c2cMsg_111", "111", 1400000200, 1, "b");
    message("tb_c2cMsg_222", "222", 1400000900, 1, "later");
    message("tb_c2cMsg_222", "222", 1400000800, 1, "earlier");
  }
  ChatConversationMap chats;
  ASSERT_EQ(DecodeQQ(chats, path), kOk);
  ASSERT_EQ(chats.size(), 2u);
  ASSERT_EQ(chats["111"].size(), 3u);  // listed twice: the second scan replaces the first
  EXPECT_EQ(chats["111"][0].text, "a");
  EXPECT_EQ(chats["111"][0].sent, 1);
  EXPECT_EQ(chats["111"][0].date, DateText(1400000100));
  EXPECT_EQ(chats["111"][2].text, "c");
  ASSERT_EQ(chats["222"].size(), 2u);
  EXPECT_EQ(chats["222"][0].text, "earlier");  // two messages are in date order too

  EXPECT_EQ(DecodeQQ(chats, folder / "missing.db") == kOk, false);
}

TEST(DecodeWeChat, TablesByMd5OfUserNameAndFreePagesUnderUnknown) {
  TempFolder folder;
  const auto path = folder / "MM.sqlite";
  std::set<std::string> droppedTexts;
  {
    AppDatabase db(path);
    db.Create(testing::NumberedTable("Friend", 7));
    db.Insert("Friend", ColumnValues{{1, std::string("wxid_abc123")}, {2, std::string("Abc")}});
    db.Insert("Friend", ColumnValues{{1, std::string("nobody_here")}});
    const std::string table = WeChatTableName("wxid_abc123");
    db.Create(testing::NumberedTable(table, 9));
    db.Insert(table, ColumnValues{{3, int64_t{1500000200}}, {4, std::string("second")}, {8, int64_t{1}}});
    db.Insert(table, ColumnValues{{3, int64_t{1500000100}}, {4, std::string("first")}, {8, int64_t{0}}});
    // A conversation deleted with its table: its pages go to the free list.
    const std::string gone = WeChatTableName("deleted_friend");
    db.Create(testing::NumberedTable(gone, 9));
    for (int i = 0; i < 60; ++i) {
      const std::string text = "gone " + std::to_string(i) + " " + std::string(200, 'g');
      droppedTexts.insert(text);
      db.Insert(gone, ColumnValues{{3, int64_t{1500001000 + i}}, {4, text}, {8, int64_t{1}}});
    }
    db.Exec("DROP TABLE " + gone);
  }
  ChatConversationMap chats;
  ASSERT_EQ(DecodeWeChat(chats, path), kOk);
  ASSERT_EQ(chats["wxid_abc123"].size(), 2u);
  EXPECT_EQ(chats["wxid_abc123"][0].text, "first");
  EXPECT_EQ(chats["wxid_abc123"][0].sent, 1);
  EXPECT_EQ(chats.count("nobody_here"), 0u);
  ASSERT_EQ(chats.count("Unknown"), 1u);
  EXPECT_FALSE(chats["Unknown"].empty());
  for (const auto& message : chats["Unknown"]) {
    EXPECT_EQ(message.deleted, 1);
    EXPECT_EQ(droppedTexts.count(message.text), 1u) << message.text;
  }
}

template <typename Map>
std::size_t RecordCount(const Map& groups) {
  std::size_t count = 0;
  for (const auto& [key, records] : groups) count += records.size();
  return count;
}

// One application database and the decoder that reads it; `decode` returns the
// number of records it found (whatever its status).
struct DamageCase {
  const char* name;
  std::function<bool(const std::filesystem::path&)> build;
  std::function<std::size_t(const std::filesystem::path&)> decode;
};

std::vector<DamageCase> DamageCases() {
  constexpr int kRows = 120;
  return {
      {"sms.db", [](const auto& path) { return testing::BuildSmsDatabase(path, kRows) != nullptr; },
       [](const auto& path) {
         ConversationMap conversations;
         int64_t highest = 0;
         (void)DecodeMessages(conversations, path, path, {}, highest);
         return RecordCount(conversations);
       }},
      {"AddressBook.sqlitedb",
       [](const auto& path) { return testing::BuildAddressBookDatabase(path, kRows) != nullptr; },
       [](const auto& path) {
         std::vector<ContactRecord> contacts;
         int64_t highest = 0;
         (void)DecodeContacts(contacts, path, highest);
         return contacts.size();
       }},
      {"CallHistory.storedata",
       [](const auto& path) { return testing::BuildCallHistoryDatabase(path, true, kRows) != nullptr; },
       [](const auto& path) {
         std::vector<CallRecord> calls;
         (void)DecodeCallHistory(calls, path, path);
         return calls.size();
       }},
      {"call_history.db",
       [](const auto& path) { return testing::BuildCallHistoryDatabase(path, false, kRows) != nullptr; },
       [](const auto& path) {
         std::vector<CallRecord> calls;
         (void)DecodeCallHistory(calls, path, path);
         return calls.size();
       }},
      {"notes.sqlite", [](const auto& path) { return testing::BuildNotesDatabase(path, kRows) != nullptr; },
       [](const auto& path) {
         std::vector<NoteRecord> notes;
         (void)DecodeNotes(notes, path);
         return notes.size();
       }},
      {"ChatStorage.sqlite",
       [](const auto& path) { return testing::BuildWhatsAppDatabase(path, 28, kRows) != nullptr; },
       [](const auto& path) {
         WhatsAppChatMap chats;
         int32_t columnCount = 28;
         (void)DecodeWhatsApp(chats, path, columnCount);
         return RecordCount(chats);
       }},
      {"QQ.db",
       [](const auto& path) {
         return testing::BuildQqDatabase(path, {"111", "222"}, kRows) != nullptr;
       },
       [](const auto& path) {
         ChatConversationMap chats;
         (void)DecodeQQ(chats, path);
         return RecordCount(chats);
       }},
      {"MM.sqlite",
       [](const auto& path) {
         // The builder's first friend is wxid_900001; its conversation table goes with it.
         const std::string table = WeChatTableName("wxid_900001");
         return testing::BuildWeChatDatabase(path, {table.substr(table.find('_') + 1)}, kRows) != nullptr;
       },
       [](const auto& path) {
         ChatConversationMap chats;
         (void)DecodeWeChat(chats, path);
         return RecordCount(chats);
       }},
  };
}

// Damaged files: every decoder must come back with a status and without
// reading out of bounds (the sanitizer build checks the latter). The damage
// goes to the pages after the first (table b-trees, overflow and free-list
// pages), so page 1's schema still leads each decoder to its tables and the
// damaged records are really read: in some rounds the decoder still finds
// records, and in some it finds a different number than in the clean file.
TEST(DamagedDatabases, DecodersReturnWithoutHarm) {
  constexpr std::size_t kPageSize = 4096;
  for (const DamageCase& entry : DamageCases()) {
    SCOPED_TRACE(entry.name);
    TempFolder folder;
    const auto cleanPath = folder / entry.name;
    ASSERT_TRUE(entry.build(cleanPath));
    const std::string original = FileBytes(cleanPath);
    ASSERT_GT(original.size(), 4 * kPageSize);
    const std::size_t cleanCount = entry.decode(cleanPath);
    ASSERT_GT(cleanCount, 0u);

    std::mt19937 random(11);
    int roundsWithRecords = 0, roundsWithChanges = 0;
    for (int round = 0; round < 40; ++round) {
      std::string damaged = original;
      for (int hit = 0; hit < 24; ++hit) {
        const std::size_t offset = kPageSize + random() % (damaged.size() - kPageSize);
        damaged[offset] = static_cast<char>(random());
      }
      const auto path = folder / ("damaged-" + std::to_string(round) + "-" + entry.name);
      std::ofstream(path, std::ios::binary) << damaged;
      const std::size_t count = entry.decode(path);
      if (count > 0) ++roundsWithRecords;
      if (count != cleanCount) ++roundsWithChanges;
    }
    EXPECT_GT(roundsWithRecords, 0) << "the decoder never got to the damaged pages";
    EXPECT_GT(roundsWithChanges, 0) << "the damage never changed what the decoder found";
  }
}

}  // namespace
}  // namespace corvyn::decoders
