// The decoders on real phone databases (copies of the external samples),
// checked against SQL queries of the same copies. The decoders read the
// iOS 6-8 column positions; for newer files the tests pin down what they do
// find, so that a change shows.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "core/TextFormat.h"
#include "decoders/Decoders.h"
#include "tests/decoders/SampleFiles.h"
#include "tests/decoders/SqlOnCopy.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::decoders {
namespace {

using testing::CopySample;
using testing::ExternalTestData;
using testing::TempFolder;

#define REQUIRE_SAMPLE(variable, relative)                                                 \
  const std::filesystem::path root_##variable = ExternalTestData();                        \
  if (root_##variable.empty() || !std::filesystem::exists(root_##variable / (relative))) { \
    GTEST_SKIP() << "external test data not found at " << (root_##variable / (relative));  \
  }                                                                                        \
  const std::filesystem::path variable = root_##variable / (relative)

// Runs a query on a copy and hands every row's texts (NULL as "") to `row`.
void Query(const std::filesystem::path& copy, const std::string& sql,
           const std::function<void(const std::vector<std::string>&)>& row) {
  testing::QueryCopy(copy, sql, row, testing::CopyOpen::kReadOnly);
}

// message date: seconds since 2001 up to iOS 10, nanoseconds after.
std::string MessageDate(const std::string& stored) {
  int64_t value = std::stoll(stored.empty() ? "0" : stored);
  if (value >= 100000000000LL || value <= -100000000000LL) value /= 1000000000;
  return DateTextFromCocoa(value);
}

using MessageKey = std::tuple<int32_t, std::string, std::string, int32_t, std::string, std::string>;

void ExpectLiveMessagesMatchSql(const std::filesystem::path& sample, std::size_t expectedCount) {
  TempFolder folder;
  const auto copy = CopySample(sample, folder.Path());
  ConversationMap conversations;
  int64_t highest = 0;
  ASSERT_EQ(DecodeMessages(conversations, copy, folder / "no-address-book", {}, highest), kOk);

  std::map<int32_t, MessageKey> decoded;
  for (const auto& [handle, messages] : conversations) {
    for (const auto& m : messages) {
      if (m.deleted != 0) continue;
      EXPECT_EQ(m.handleId, handle);
      decoded[m.messageId] = {m.messageId, m.text, m.address, m.sent, m.attachment, m.date};
    }
  }
  // The attachment is the first in rowid order among those joined to it.
  std::map<int32_t, MessageKey> expected;
  int64_t maxRowId = 0;
  Query(copy,
        "SELECT m.ROWID, m.text, IFNULL(h.id, ''), m.is_from_me,"
        " IFNULL((SELECT a.filename FROM attachment a WHERE a.ROWID IN"
        "   (SELECT j.attachment_id FROM message_attachment_join j WHERE j.message_id = m.ROWID)"
        "   ORDER BY a.ROWID LIMIT 1), ''), m.date"
        " FROM message m LEFT JOIN handle h ON h.ROWID = m.handle_id",
        [&](const std::vector<std::string>& v) {
          const int32_t rowid = std::stoi(v[0]);
          maxRowId = std::max<int64_t>(maxRowId, rowid);
          expected[rowid] = {rowid, v[1], v[2], std::stoi(v[3]), v[4], MessageDate(v[5])};
        });
  EXPECT_EQ(expected.size(), expectedCount);
  EXPECT_EQ(decoded, expected);
  EXPECT_EQ(highest, maxRowId);

  // Each conversation is in date order.
  for (const auto& [handle, messages] : conversations) {
    for (std::size_t i = 1; i < messages.size(); ++i) EXPECT_LE(messages[i - 1].date, messages[i].date);
  }
}

TEST(RealData, MagnetSmsDatabaseMatchesSql) {
  REQUIRE_SAMPLE(sample, "amandawills__CS426-iphone-sms-forensics/sms.db");
  ExpectLiveMessagesMatchSql(sample, 105);
}

TEST(RealData, PlasoMessageDatabaseMatchesSql) {
  REQUIRE_SAMPLE(sample, "log2timeline__plaso/test_data/sqlite/imessage_chat.db");
  ExpectLiveMessagesMatchSql(sample, 10);
}

TEST(RealData, OldCallHistoryMatchesSql) {
  REQUIRE_SAMPLE(calls, "shamsulchowdhury__Unit-21-Homework-Final-Report/call_history.db");
  REQUIRE_SAMPLE(book, "shamsulchowdhury__Unit-21-Homework-Final-Report/AddressBook.sqlitedb");
  TempFolder folder;
  const auto callsCopy = CopySample(calls, folder.Path());
  const auto bookCopy = CopySample(book, folder.Path());
  std::vector<CallRecord> decoded;
  ASSERT_EQ(DecodeCallHistory(decoded, callsCopy, bookCopy), kOk);

  std::vector<std::tuple<std::string, std::string, int32_t, int32_t>> got;
  for (const auto& call : decoded) {
    if (call.deleted == 0) got.emplace_back(call.date, call.number, call.duration, call.incoming);
  }
  std::vector<std::tuple<std::string, std::string, int32_t, int32_t>> expected;
  Query(callsCopy, "SELECT date, address, duration, flags FROM call ORDER BY date, ROWID",
        [&](const std::vector<std::string>& v) {
          expected.emplace_back(DateText(std::stoll(v[0])), v[1], std::stoi(v[2]), v[3] == "0" ? 1 : 0);
        });
  EXPECT_EQ(expected.size(), 5u);
  EXPECT_EQ(got, expected);
  // This iOS 4 address book has no full-text table: nothing to name calls with.
  for (const auto& call : decoded) EXPECT_EQ(call.name, "");

  std::vector<ContactRecord> contacts;
  int64_t highest = -1;
  EXPECT_EQ(DecodeContacts(contacts, bookCopy, highest), kOk);
  EXPECT_TRUE(contacts.empty());
  EXPECT_EQ(highest, 0);
}

TEST(RealData, ModernFilesDecodeWithoutHarm) {
  REQUIRE_SAMPLE(book,
                 "abrignoni__iLEAPP/admin/test/cases/data/addressBook/"
                 "testdata.addressBook.addressBook.josh_ios15_ffs/filesystem2/mobile/Library/AddressBook/"
                 "AddressBook.sqlitedb");
  REQUIRE_SAMPLE(chats,
                 "abrignoni__iLEAPP/admin/test/cases/data/whatsApp/"
                 "testdata.whatsApp.whatsAppMessages.josh_ios15_ffs/filesystem2/mobile/Containers/Shared/"
                 "AppGroup/694FBBC5-2E69-480A-A25B-FF8CC038BEF8/ChatStorage.sqlite");
  REQUIRE_SAMPLE(notes, "log2timeline__plaso/test_data/ios/NoteStore.sqlite");
  TempFolder folder;

  // iOS 15 contacts: the phone column moved from 16 to 17, so column 16 is
  // the display name; the rows are read (the rowid counter reaches the
  // largest docid) but none has the phone text the decoder keeps.
  const auto bookCopy = CopySample(book, folder.Path());
  std::vector<ContactRecord> contacts;
  int64_t highest = 0;
  EXPECT_EQ(DecodeContacts(contacts, bookCopy, highest), kOk);
  int64_t maxDocId = 0;
  Query(bookCopy, "SELECT MAX(docid) FROM ABPersonFullTextSearch_content",
        [&](const std::vector<std::string>& v) { maxDocId = std::stoll(v[0]); });
  EXPECT_EQ(highest, maxDocId);

  // iOS 15 WhatsApp: the query sets the column count from the live table; the
  // 2015 column positions then hold no message texts.
  const auto chatCopy = CopySample(chats, folder.Path());
  int32_t columnCount = kInitialWhatsAppMessageColumnCount;
  WhatsAppChatMap chatMap;
  EXPECT_EQ(DecodeWhatsApp(chatMap, chatCopy, columnCount), kOk);
  int32_t sqlColumns = 0;
  Query(chatCopy, "SELECT COUNT(*) FROM pragma_table_info('ZWAMESSAGE')",
        [&](const std::vector<std::string>& v) { sqlColumns = std::stoi(v[0]); });
  EXPECT_EQ(columnCount, sqlColumns);

  // iOS 9+ notes live in other tables, read by name (NoteStoreTest checks them against SQL).
  const auto notesCopy = CopySample(notes, folder.Path());
  std::vector<NoteRecord> noteRecords;
  EXPECT_EQ(DecodeNotes(noteRecords, notesCopy), kOk);
  EXPECT_FALSE(noteRecords.empty());
}

}  // namespace
}  // namespace corvyn::decoders
