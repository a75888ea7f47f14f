// Messages, contacts and call history decoded end to end from fixture
// databases with the iOS 6-8 column positions.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/TextFormat.h"
#include "decoders/Decoders.h"
#include "tests/decoders/SampleFiles.h"
#include "tests/support/sqlite_fixtures/AppDatabase.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::decoders {
namespace {

using testing::AppDatabase;
using testing::ColumnValues;
using testing::TempFolder;

constexpr int64_t kBaseDate = 450000000;  // Core Data seconds, 2015-04

// Message text long enough that a deleted row's record header survives the
// freeblock header written over the start of its cell.
std::string Long(const std::string& text) {
  return text + std::string(150, '.');
}

void AddContact(AppDatabase& db, const std::string& first, const std::string& last, const std::string& phones,
                int64_t rowid = 0) {
  db.Insert("ABPersonFullTextSearch_content",
            ColumnValues{{1, first}, {2, last}, {16, phones}, {17, first + "@example.com"}}, rowid);
}

void BuildAddressBook(const std::filesystem::path& path) {
  AppDatabase db(path);
  db.Create(testing::ContactContentTable());
  AddContact(db, "Anna", "Adler", "+4915112345678 015112345678 15112345678 ", 3);
  AddContact(db, "Bert", "", "5551234 ", 5);
  AddContact(db, "Also", "Bert", "5551234 0015551234 ", 7);
}

// Handles 1 and 2; messages 1-5 (4 has an attachment); message 6 deleted.
void BuildMessages(const std::filesystem::path& path) {
  AppDatabase db(path);
  db.Create(testing::SmsTables());
  // guid and service are NOT NULL on the phone; the decoder reads neither.
  db.Insert("handle", ColumnValues{{1, std::string("+4915112345678")}, {3, std::string("SMS")}}, 1);
  db.Insert("handle", ColumnValues{{1, std::string("5551234")}, {3, std::string("SMS")}}, 2);
  auto message = [&db](int64_t rowid, int64_t handle, int64_t date, const std::string& text, int64_t fromMe) {
    const std::string account = "E1B2C3D4-0000-4000-8000-00000000ABCD";  // 36 characters, as on the phone
    db.Insert("message",
              ColumnValues{{1, "GUID-" + std::to_string(rowid)},
                           {2, text},
                           {5, handle},
                           {13, account},
                           {15, date},
                           {21, fromMe}},
              rowid);
  };
  // Inserted first, so its cell lies amid the others and becomes a freeblock.
  message(6, 2, kBaseDate + 15, Long("deleted by the owner"), 0);
  message(1, 1, kBaseDate + 30, "third to anna", 0);
  message(2, 1, kBaseDate + 10, "first to anna", 1);
  message(3, 2, kBaseDate + 20, "bert", 0);
  message(4, 1, kBaseDate + 20, "second to anna, picture", 0);
  message(5, 0, kBaseDate + 5, "no handle", 0);
  db.Insert("attachment",
            ColumnValues{{1, std::string("ATTACHMENT-1")},
                         {4, std::string("~/Library/SMS/Attachments/ab/IMG_0001.JPG")}},
            1);
  db.Exec("INSERT INTO message_attachment_join VALUES (4, 1)");
  db.Delete("message", 6);
}

struct ProgressLog {
  std::vector<int> values;
  int stopAt = -1;  // answer 2 from this report on (index), -1 never
};

int LogProgress(void* user, int value) {
  auto* log = static_cast<ProgressLog*>(user);
  log->values.push_back(value);
  return (log->stopAt >= 0 && static_cast<int>(log->values.size()) > log->stopAt) ? 2 : 0;
}

TEST(DecodeMessages, JoinsNamesSortsAndGroupsLiveAndDeletedRows) {
  TempFolder folder;
  BuildMessages(folder / "sms.db");
  BuildAddressBook(folder / "AddressBook.sqlitedb");
  ConversationMap conversations;
  ProgressLog log;
  int64_t highest = 0;
  const Status status = DecodeMessages(conversations, folder / "sms.db", folder / "AddressBook.sqlitedb",
                                       DecoderProgress{LogProgress, &log, 10, 20}, highest);
  ASSERT_EQ(status, kOk);
  EXPECT_EQ(highest, 5);
  EXPECT_EQ(log.values, (std::vector<int>{14, 15, 16, 20, 30, 30}));

  ASSERT_EQ(conversations.size(), 3u);
  const auto& anna = conversations[1];
  ASSERT_EQ(anna.size(), 3u);
  EXPECT_EQ(anna[0].text, "first to anna");
  EXPECT_EQ(anna[0].sent, 1);
  EXPECT_EQ(anna[1].text, "second to anna, picture");
  EXPECT_EQ(anna[1].attachment, "~/Library/SMS/Attachments/ab/IMG_0001.JPG");
  EXPECT_EQ(anna[2].text, "third to anna");
  for (const auto& message : anna) {
    EXPECT_EQ(message.address, "+4915112345678");
    EXPECT_EQ(message.name, "AnnaAdler");
  }
  EXPECT_EQ(anna[0].date, DateTextFromCocoa(kBaseDate + 10));

  const auto& bert = conversations[2];
  ASSERT_EQ(bert.size(), 2u);
  EXPECT_EQ(bert[0].text, Long("deleted by the owner"));
  EXPECT_EQ(bert[0].deleted, 1);
  EXPECT_EQ(bert[0].name, "Bert");  // the first contact in scan order that holds the number
  EXPECT_EQ(bert[1].deleted, 0);

  ASSERT_EQ(conversations[0].size(), 1u);
  EXPECT_EQ(conversations[0][0].address, "");
  EXPECT_EQ(conversations[0][0].name, "");
}

TEST(DecodeMessages, KeepsMessagesUnnamedWithoutAddressBook) {
  TempFolder folder;
  BuildMessages(folder / "sms.db");
  std::ofstream(folder / "not-a-database") << "plain text, no SQLite header";
  for (const char* addressBook : {"missing.sqlitedb", "not-a-database"}) {
    ConversationMap conversations;
    int64_t highest = 0;
    const Status status =
        DecodeMessages(conversations, folder / "sms.db", folder / addressBook, DecoderProgress{}, highest);
    EXPECT_EQ(status, kOk) << addressBook;
    ASSERT_EQ(conversations[1].size(), 3u) << addressBook;
    EXPECT_EQ(conversations[1][0].address, "+4915112345678");
    EXPECT_EQ(conversations[1][0].name, "");
  }
}

TEST(DecodeMessages, UnreadableMessageDatabaseIsAnErrorEvenWithProgress) {
  TempFolder folder;
  BuildAddressBook(folder / "AddressBook.sqlitedb");
  std::ofstream(folder / "garbage.db") << std::string(4096, 'x');
  {
    AppDatabase empty(folder / "empty.db");
    empty.Exec("CREATE TABLE unrelated (a)");
  }
  struct Case {
    const char* file;
    bool expectError;
  };
  for (const Case& test : {Case{"missing.db", true}, Case{"garbage.db", true}, Case{"empty.db", false}}) {
    ConversationMap conversations;
    ProgressLog log;
    int64_t highest = -1;
    const Status status = DecodeMessages(conversations, folder / test.file, folder / "AddressBook.sqlitedb",
                                         DecoderProgress{LogProgress, &log, 0, 100}, highest);
    if (test.expectError) {
      EXPECT_NE(status, kOk) << test.file;
    } else {
      EXPECT_EQ(status, kOk) << test.file;
    }
    EXPECT_TRUE(conversations.empty()) << test.file;
    ASSERT_FALSE(log.values.empty());
    EXPECT_EQ(log.values.back(), 100) << "closing report";
  }
  ConversationMap conversations;
  int64_t highest = 0;
  EXPECT_EQ(
      DecodeMessages(conversations, folder / "garbage.db", folder / "AddressBook.sqlitedb", {}, highest),
      kInvalidData);
}

TEST(DecodeMessages, StopRequestLeavesTheMapUnchanged) {
  TempFolder folder;
  BuildMessages(folder / "sms.db");
  BuildAddressBook(folder / "AddressBook.sqlitedb");
  for (int stopAt : {0, 2, 4}) {
    ConversationMap conversations;
    conversations[9].push_back(MessageRecord{});
    ProgressLog log;
    log.stopAt = stopAt;
    int64_t highest = 0;
    const Status status = DecodeMessages(conversations, folder / "sms.db", folder / "AddressBook.sqlitedb",
                                         DecoderProgress{LogProgress, &log, 0, 100}, highest);
    EXPECT_EQ(status, kStopped) << stopAt;
    EXPECT_EQ(conversations.size(), 1u) << stopAt;
    EXPECT_EQ(static_cast<int>(log.values.size()), stopAt + 2) << "one closing report after the stop";
  }
}

TEST(DecodeContacts, CleansUpSortsAndKeepsTheLastNumber) {
  TempFolder folder;
  const auto path = folder / "AddressBook.sqlitedb";
  {
    AppDatabase db(path);
    db.Create(testing::ContactContentTable());
    AddContact(db, "zora", "", "5551234 5559876", 2);  // no trailing space
    AddContact(db, "", "", "+4915112345678 015112345678 ", 4);
    AddContact(db, "Mail", "Only", "", 6);
    AddContact(db, "adam", "", "123456 ", 9);
  }
  std::vector<ContactRecord> contacts;
  int64_t highest = 0;
  ASSERT_EQ(DecodeContacts(contacts, path, highest), kOk);
  EXPECT_EQ(highest, 9);
  std::vector<std::string> rows;
  for (const auto& contact : contacts) rows.push_back(contact.name + "|" + contact.phones);
  EXPECT_EQ(rows, (std::vector<std::string>{"adam|", "No Name|+4915112345678", "zora|5551234\n5559876"}));

  std::vector<ContactRecord> none;
  EXPECT_NE(DecodeContacts(none, folder / "missing.sqlitedb", highest), kOk);
  EXPECT_TRUE(none.empty());
}

TEST(DecodeContacts, DeletedContactIsListedWithItsColumns) {
  TempFolder folder;
  const auto path = folder / "AddressBook.sqlitedb";
  {
    AppDatabase db(path);
    db.Create(testing::ContactContentTable());
    AddContact(db, "Carved", "Person", "0301234567 ", 11);  // deleted below: its cell becomes a freeblock
    AddContact(db, "Live", "Person", "0307654321 ", 12);
    db.Delete("ABPersonFullTextSearch_content", 11);
  }
  std::vector<ContactRecord> contacts;
  int64_t highest = 0;
  ASSERT_EQ(DecodeContacts(contacts, path, highest), kOk);
  EXPECT_EQ(highest, 12);
  std::vector<std::string> rows;
  for (const auto& contact : contacts) {
    rows.push_back(contact.name + "|" + contact.phones + "|" + contact.email + "|" +
                   std::to_string(contact.deleted));
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"CarvedPerson|0301234567|Carved@example.com|1",
                                            "LivePerson|0307654321|Live@example.com|0"}));
}

TEST(DecodeCallHistory, BothSchemasNamedAndSorted) {
  TempFolder folder;
  BuildAddressBook(folder / "AddressBook.sqlitedb");
  {
    AppDatabase old(folder / "call_history.db");
    old.Create(testing::CallTable());
    old.Insert(
        "call",
        ColumnValues{
            {1, std::string("15112345678")}, {2, int64_t{1400000200}}, {3, int64_t{61}}, {4, int64_t{0}}});
    old.Insert(
        "call",
        ColumnValues{{1, std::string("2222")}, {2, int64_t{1400000100}}, {3, int64_t{5}}, {4, int64_t{1}}});
    old.Insert("call", ColumnValues{{1, std::string("bad\x01number")}, {2, int64_t{1400000000}}});
  }
  {
    AppDatabase newer(folder / "CallHistory.storedata");
    newer.Create(testing::CallRecordTable());
    newer.Insert(
        "ZCALLRECORD",
        ColumnValues{
            {8, int64_t{1}}, {10, double{420000100.0}}, {11, int64_t{30}}, {12, std::string("5551234")}});
    newer.Insert("ZCALLRECORD", ColumnValues{{8, int64_t{0}},
                                             {10, double{420000050.5}},
                                             {11, int64_t{0}},
                                             {12, std::string("+4915112345678")}});
    newer.Create(testing::CallTable());  // both tables: the newer one is read
  }
  std::vector<CallRecord> calls;
  ASSERT_EQ(DecodeCallHistory(calls, folder / "call_history.db", folder / "AddressBook.sqlitedb"), kOk);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].number, "2222");
  EXPECT_EQ(calls[0].name, "");
  EXPECT_EQ(calls[1].number, "15112345678");
  EXPECT_EQ(calls[1].name, "AnnaAdler");
  EXPECT_EQ(calls[1].incoming, 1);
  EXPECT_EQ(calls[1].duration, 61);
  EXPECT_EQ(calls[1].date, DateText(1400000200));

  calls.clear();
  ASSERT_EQ(DecodeCallHistory(calls, folder / "CallHistory.storedata", folder / "AddressBook.sqlitedb"), kOk);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].number, "+4915112345678");
  EXPECT_EQ(calls[0].incoming, 1);
  EXPECT_EQ(calls[0].date, DateTextFromCocoa(420000050));
  EXPECT_EQ(calls[1].name, "Bert");
  EXPECT_EQ(calls[1].duration, 30);

  calls.clear();
  // Without an address book the calls are all there, unnamed and sorted;
  // the call history itself did not fail.
  EXPECT_EQ(DecodeCallHistory(calls, folder / "call_history.db", folder / "missing"), kOk);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].number, "15112345678");
  EXPECT_EQ(calls[0].name, "");
  EXPECT_EQ(calls[1].name, "");

  calls.clear();
  EXPECT_NE(DecodeCallHistory(calls, folder / "missing.db", folder / "AddressBook.sqlitedb"), kOk);
  std::ofstream(folder / "garbage.db") << std::string(2048, 'z');
  EXPECT_EQ(DecodeCallHistory(calls, folder / "garbage.db", folder / "AddressBook.sqlitedb"), kInvalidData);
  EXPECT_TRUE(calls.empty());
}

std::vector<std::string> FileLines(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The value-list files: live rows by rowid, then the carved ones; a carved
// message is numbered on from the highest rowid that the decoder reported.
TEST(ValueListFiles, CarvedRowsNumberedOnFromTheDecodersHighestRowId) {
  TempFolder folder;
  BuildMessages(folder / "sms.db");
  {
    AppDatabase db(folder / "AddressBook.sqlitedb");
    db.Create(testing::ContactContentTable());
    AddContact(db, "Carved", "Person", "0301234567 ", 11);
    AddContact(db, "Live", "Person", "0307654321 ", 12);
    db.Delete("ABPersonFullTextSearch_content", 11);
  }
  ConversationMap conversations;
  int64_t highestMessage = 0;
  ASSERT_EQ(
      DecodeMessages(conversations, folder / "sms.db", folder / "AddressBook.sqlitedb", {}, highestMessage),
      kOk);
  std::vector<ContactRecord> contacts;
  int64_t highestContact = 0;
  ASSERT_EQ(DecodeContacts(contacts, folder / "AddressBook.sqlitedb", highestContact), kOk);

  struct Case {
    const char* name;
    std::function<Status(const std::filesystem::path&, const std::filesystem::path&, int64_t)> write;
    std::filesystem::path database;
    int64_t start;
    std::vector<std::string> livePrefixes;
    std::string carvedPrefix;
  };
  const std::vector<Case> cases = {
      {"messages",
       WriteMessagesCsv,
       folder / "sms.db",
       highestMessage,
       {"1,", "2,", "3,", "4,", "5,"},
       "6,\"27B99F78-F6F0-475F-8BA1-000000000006\",\"deleted by the owner"},
      {"contacts",
       WriteContactsCsv,
       folder / "AddressBook.sqlitedb",
       highestContact,
       {"12,"},
       "\"Carved\",\"Person\","},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const auto csv = folder / (std::string(test.name) + ".csv");
    ASSERT_EQ(test.write(test.database, csv, test.start), kOk);
    const auto lines = FileLines(csv);
    ASSERT_EQ(lines.size(), test.livePrefixes.size() + 1);
    for (std::size_t i = 0; i < test.livePrefixes.size(); ++i) {
      EXPECT_EQ(lines[i].rfind(test.livePrefixes[i], 0), 0u) << lines[i];
    }
    EXPECT_EQ(lines.back().rfind(test.carvedPrefix, 0), 0u) << lines.back();
    EXPECT_NE(test.write(folder / "missing.db", folder / "never.csv", test.start), kOk);
    EXPECT_FALSE(std::filesystem::exists(folder / "never.csv"));
  }
}

}  // namespace
}  // namespace corvyn::decoders
