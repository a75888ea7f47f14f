// Messages of iOS 10 and later: the attributedBody reader, and the messages
// decoder on a built iOS 16 sms.db (ground truth known, deleted rows
// included) and on real files compared with SQL run on copies.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/TextFormat.h"
#include "decoders/Decoders.h"
#include "decoders/MessageAttachments.h"
#include "decoders/MessageChats.h"
#include "decoders/TypedStream.h"
#include "sqlite/SqliteDbReader.h"
#include "sqlite/TableScans.h"
#include "tests/decoders/SampleFiles.h"
#include "tests/support/sqlite_fixtures/ModernSmsDb.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::decoders {
namespace {

using testing::AttributedBodyBytes;
using testing::TempFolder;

std::string_view View(const std::vector<uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

TEST(TypedStreamText, ReadsTheStringAtEveryLengthWidth) {
  const std::vector<std::string> texts = {
      "",
      "Hi",
      "Gr\xC3\xBC\xC3\x9F"
      "e \xF0\x9F\x98\x80 \xEF\xBF\xBC",  // UTF-8 of 2 to 4 bytes, an attachment mark
      std::string(127, 'a'),              // the longest one-byte length
      std::string(128, 'b'),              // 0x81 and two bytes
      std::string(40000, 'c'),            // 0x82 and four bytes
  };
  for (const std::string& text : texts) {
    const std::vector<uint8_t> stream = AttributedBodyBytes(text);
    EXPECT_EQ(TypedStreamText(View(stream)), text) << text.size() << " bytes";
  }
}

TEST(TypedStreamText, RefusesDamagedStreams) {
  const std::vector<uint8_t> good = AttributedBodyBytes("Meet at noon");
  const std::size_t textAt = View(good).find("Meet");
  ASSERT_NE(textAt, std::string_view::npos);
  const auto changed = [&](std::size_t at, std::vector<uint8_t> bytes) {
    std::vector<uint8_t> copy = good;
    copy.erase(copy.begin() + static_cast<std::ptrdiff_t>(at),
               copy.begin() + static_cast<std::ptrdiff_t>(at + 1));
    copy.insert(copy.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin(), bytes.end());
    return copy;
  };
  const struct {
    const char* what;
    std::vector<uint8_t> stream;
  } cases[] = {
      {"no signature", changed(2, {'x'})},
      {"length past the end", changed(textAt - 1, {0x7F})},
      {"negative two-byte length", changed(textAt - 1, {0x81, 0xFF, 0xFF})},
      {"four-byte length past the end", changed(textAt - 1, {0x82, 0x00, 0x00, 0x00, 0x40})},
      {"a tag that is no length", changed(textAt - 1, {0x85})},
      {"bytes that are not UTF-8", changed(textAt, {0xC3})},
      {"no type string after the class", changed(textAt - 2, {0x2A})},
      {"empty", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(TypedStreamText(View(c.stream)), std::nullopt) << c.what;
  // Every cut that loses any of the text refuses; none reads past the end.
  for (std::size_t size = 0; size < textAt + 12; ++size)
    EXPECT_EQ(TypedStreamText(View(good).substr(0, size)), std::nullopt) << size;
}

TEST(AttachmentBackupKey, MapsDevicePathsToTheMediaDomain) {
  const struct {
    const char* device;
    const char* key;
  } cases[] = {
      {"~/Library/SMS/Attachments/9e/14/3F582393-07A0-4DB2-9211-D0A9470D1079/IMG_0066.HEIC",
       "MediaDomain-Library/SMS/Attachments/9e/14/3F582393-07A0-4DB2-9211-D0A9470D1079/IMG_0066.HEIC"},
      {"/var/mobile/Library/SMS/Attachments/0a/10/A/voice.caf",
       "MediaDomain-Library/SMS/Attachments/0a/10/A/voice.caf"},
      {"~/Library/Messages/Attachments/0a/10/A/mac.jpg", ""},  // a Mac's folder
      {"~/Library/SMS/Attachments/", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(AttachmentBackupKey(c.device), c.key) << c.device;
}

TEST(ModernMessages, MessageTableOfAnUnknownLayoutIsAnErrorInWords) {
  TempFolder folder;
  std::string error;
  auto db = testing::FixtureDatabase::Create(folder / "sms.db", {}, &error);
  ASSERT_TRUE(db) << error;
  ASSERT_TRUE(
      db->Exec("CREATE TABLE message (ROWID INTEGER PRIMARY KEY, guid TEXT, body TEXT, sent_at INTEGER)"));
  ASSERT_TRUE(db->Exec("INSERT INTO message (guid, body, sent_at) VALUES ('g', 'hello', 600000000)"));
  db->Close();
  ConversationMap conversations;
  int64_t highest = 0;
  const Status status =
      DecodeMessages(conversations, folder / "sms.db", folder / "no-address-book", {}, highest);
  EXPECT_EQ(status, kInvalidData);
  EXPECT_NE(status.Message().find("no text or no date column"), std::string::npos) << status.Message();
  EXPECT_TRUE(conversations.empty());
}

// Deleted rows of today's handle and attachment tables (more columns than
// the older ones) are carved with the column count their CREATE TABLE text
// declares. (The row inserted last lies at the start of the cell content
// area; deleting it widens the unallocated gap instead of making a
// freeblock, a case left to the gap scanner.)
TEST(ModernMessages, DeletedHandlesAndAttachmentsAreCarvedByTheirDeclaredColumns) {
  TempFolder folder;
  testing::ModernSmsTruth truth;
  std::string error;
  const std::filesystem::path path = folder / "sms.db";
  ASSERT_TRUE(testing::BuildModernSmsDb(path, truth, &error)) << error;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const int deleted = sqlite3_exec(db,
                                   "PRAGMA secure_delete = 0;"
                                   "DELETE FROM attachment WHERE filename LIKE '%IMG_0002.HEIC';"
                                   "DELETE FROM handle WHERE id = '+15551230002';",
                                   nullptr, nullptr, nullptr);
  sqlite3_close(db);
  ASSERT_EQ(deleted, SQLITE_OK);

  sqlite::SqliteDbReader reader;
  ASSERT_EQ(reader.Open(path), kOk);
  std::vector<sqlite::HandleRow> handles;
  std::vector<sqlite::AttachmentRow> attachments;
  ASSERT_EQ(sqlite::ScanHandles(reader, handles), kOk);
  ASSERT_EQ(sqlite::ScanAttachments(reader, attachments), kOk);
  std::multiset<std::pair<int32_t, std::string>> gotHandles, gotAttachments;
  for (const auto& h : handles) gotHandles.insert({h.deleted, h.address});
  for (const auto& a : attachments) gotAttachments.insert({a.deleted, a.fileName});
  EXPECT_EQ(gotHandles.count({1, "+15551230002"}), 1u);
  EXPECT_EQ(gotHandles.count({0, "+15551230002"}), 0u);
  EXPECT_EQ(gotAttachments.count(
                {1, "~/Library/SMS/Attachments/cd/22/6F1E2A4C-0000-4000-8000-000000000007/IMG_0002.HEIC"}),
            1u);
  EXPECT_EQ(gotAttachments.count(
                {0, "~/Library/SMS/Attachments/ab/11/6F1E2A4C-0000-4000-8000-000000000006/IMG_0001.HEIC"}),
            1u);
  // Nothing live comes a second time as deleted.
  for (const auto& [isDeleted, text] : gotHandles)
    EXPECT_EQ(gotHandles.count({0, text}) + gotHandles.count({1, text}), 1u) << text;
}

std::map<int32_t, const MessageRecord*> ByRowId(const ConversationMap& conversations, int32_t deleted) {
  std::map<int32_t, const MessageRecord*> out;
  for (const auto& [key, messages] : conversations) {
    for (const auto& m : messages) {
      if (m.deleted == deleted) out[m.messageId] = &m;
    }
  }
  return out;
}

TEST(ModernMessages, BuiltDatabaseGivesBodiesChatsEditsAndDeletedRows) {
  TempFolder folder;
  testing::ModernSmsTruth truth;
  std::string error;
  ASSERT_TRUE(testing::BuildModernSmsDb(folder / "sms.db", truth, &error)) << error;

  ConversationMap conversations;
  int64_t highest = 0;
  ASSERT_EQ(DecodeMessages(conversations, folder / "sms.db", folder / "no-address-book", {}, highest), kOk);
  const auto live = ByRowId(conversations, 0);

  const std::string members = truth.groupAddresses[0] + ", " + truth.groupAddresses[1];
  std::size_t liveCount = 0;
  for (const auto& expected : truth.messages) {
    if (expected.deleted || expected.recentlyDeleted) continue;
    ++liveCount;
    SCOPED_TRACE(expected.rowId);
    const auto found = live.find(static_cast<int32_t>(expected.rowId));
    ASSERT_NE(found, live.end());
    const MessageRecord& m = *found->second;
    EXPECT_EQ(m.text, expected.text);
    EXPECT_EQ(m.date, DateTextFromCocoa(expected.cocoaSeconds));
    EXPECT_EQ(m.sent, expected.sent ? 1 : 0);
    EXPECT_EQ(m.edited, expected.edited ? 1 : 0);
    EXPECT_EQ(m.unsent, expected.unsent ? 1 : 0);
    EXPECT_EQ(m.chatId, expected.chatId);
    EXPECT_EQ(m.attachment, expected.attachment);
    if (expected.chatId == truth.groupChatId) {
      EXPECT_EQ(m.chatName, truth.groupName);
      EXPECT_EQ(m.members, members);
      EXPECT_EQ(m.handleId, GroupConversationKey(truth.groupChatId));
      if (expected.handleId != 0) {
        EXPECT_EQ(m.address, truth.handleAddresses[expected.handleId - 1]);
      }
    } else {
      // One-to-one: a message without a handle takes the chat's only member.
      EXPECT_EQ(m.handleId, 1);
      EXPECT_EQ(m.address, truth.handleAddresses[0]);
      EXPECT_TRUE(m.members.empty());
    }
  }
  EXPECT_EQ(live.size(), liveCount);
  // Live messages sit in two conversations: handle 1 and the group. Carved
  // messages lost their rowid, so no chat names them: they stay with their handle.
  std::set<int32_t> liveKeys;
  for (const auto& [key, messages] : conversations) {
    for (const auto& m : messages) {
      if (m.deleted == 0) liveKeys.insert(key);
    }
  }
  EXPECT_EQ(liveKeys, (std::set<int32_t>{GroupConversationKey(truth.groupChatId), 1}));
  EXPECT_EQ(highest, 8);

  // The message in "Recently Deleted" is shown deleted, in its chat, with its rowid.
  const auto recentlyDeleted = ByRowId(conversations, 1);
  for (const auto& expected : truth.messages) {
    if (!expected.recentlyDeleted) continue;
    const auto found = recentlyDeleted.find(static_cast<int32_t>(expected.rowId));
    ASSERT_NE(found, recentlyDeleted.end());
    EXPECT_EQ(found->second->text, expected.text);
    EXPECT_EQ(found->second->chatId, expected.chatId);
    EXPECT_EQ(found->second->handleId, expected.handleId);
  }

  // Every deleted message is carved with its text and date; no live text is
  // reported as deleted.
  std::set<std::string> liveTexts;
  for (const auto& [rowId, m] : live) liveTexts.insert(m->text);
  std::map<std::string, std::string> carved;  // text -> date
  for (const auto& [key, messages] : conversations) {
    for (const auto& m : messages) {
      if (m.deleted == 0) continue;
      carved[m.text] = m.date;
      EXPECT_FALSE(liveTexts.count(m.text) && !m.text.empty()) << m.text;
    }
  }
  for (const auto& expected : truth.messages) {
    if (!expected.deleted) continue;
    ASSERT_TRUE(carved.count(expected.text)) << expected.text;
    EXPECT_EQ(carved[expected.text], DateTextFromCocoa(expected.cocoaSeconds));
  }
}

#define REQUIRE_SAMPLE(variable, relative)                                                 \
  const std::filesystem::path root_##variable = testing::ExternalTestData();               \
  if (root_##variable.empty() || !std::filesystem::exists(root_##variable / (relative))) { \
    GTEST_SKIP() << "external test data not found at " << (root_##variable / (relative));  \
  }                                                                                        \
  const std::filesystem::path variable = root_##variable / (relative)

struct SqlMessage {
  std::string text;
  std::optional<std::string> bodyText;  // TypedStreamText of attributedBody
  int32_t chatId = 0;
  int32_t handleId = 0;
  std::string date;
};

// Every live message of a copy as SQL sees it, by rowid.
std::map<int32_t, SqlMessage> MessagesBySql(const std::filesystem::path& copy) {
  std::map<int32_t, SqlMessage> out;
  sqlite3* handle = nullptr;
  EXPECT_EQ(sqlite3_open_v2(copy.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(
                handle,
                "SELECT m.ROWID, IFNULL(m.text, ''), m.attributedBody,"
                " IFNULL((SELECT MIN(j.chat_id) FROM chat_message_join j WHERE j.message_id = m.ROWID), 0),"
                " m.handle_id, m.date FROM message m",
                -1, &statement, nullptr),
            SQLITE_OK);
  while (sqlite3_step(statement) == SQLITE_ROW) {
    SqlMessage m;
    m.text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
    if (const void* blob = sqlite3_column_blob(statement, 2)) {
      m.bodyText = TypedStreamText(
          {static_cast<const char*>(blob), static_cast<std::size_t>(sqlite3_column_bytes(statement, 2))});
    }
    m.chatId = sqlite3_column_int(statement, 3);
    m.handleId = sqlite3_column_int(statement, 4);
    int64_t date = sqlite3_column_int64(statement, 5);
    if (date >= 100'000'000'000LL) date /= 1'000'000'000;
    m.date = DateTextFromCocoa(date);
    out[sqlite3_column_int(statement, 0)] = m;
  }
  sqlite3_finalize(statement);
  sqlite3_close(handle);
  return out;
}

struct RealSample {
  const char* path;
  std::size_t messages;
  std::size_t bodiesMatchingText;  // attributedBody texts equal to the text column
  std::size_t chats;
};

TEST(ModernMessages, RealFilesMatchSqlWithChatsAndBodies) {
  const RealSample samples[] = {
      {"amandawills__CS426-iphone-sms-forensics/sms.db", 105, 105, 7},
      // Two plaso rows were edited by hand in the text column only.
      {"log2timeline__plaso/test_data/sqlite/imessage_chat.db", 10, 8, 0},
  };
  for (const RealSample& sample : samples) {
    SCOPED_TRACE(sample.path);
    REQUIRE_SAMPLE(path, sample.path);
    TempFolder folder;
    const auto copy = testing::CopySample(path, folder.Path());
    const auto expected = MessagesBySql(copy);
    ASSERT_EQ(expected.size(), sample.messages);
    std::size_t matching = 0;
    for (const auto& [rowId, m] : expected) matching += m.bodyText == m.text ? 1 : 0;
    EXPECT_EQ(matching, sample.bodiesMatchingText);

    ConversationMap conversations;
    int64_t highest = 0;
    ASSERT_EQ(DecodeMessages(conversations, copy, folder / "no-address-book", {}, highest), kOk);
    const auto live = ByRowId(conversations, 0);
    ASSERT_EQ(live.size(), expected.size());
    std::set<int32_t> chats;
    for (const auto& [rowId, want] : expected) {
      SCOPED_TRACE(rowId);
      ASSERT_TRUE(live.count(rowId));
      const MessageRecord& m = *live.at(rowId);
      EXPECT_EQ(m.text, want.text);
      EXPECT_EQ(m.chatId, want.chatId);
      EXPECT_EQ(m.date, want.date);
      if (want.handleId != 0) {
        EXPECT_EQ(m.handleId, want.handleId);
      }
      EXPECT_EQ(m.edited + m.unsent, 0);
      if (m.chatId != 0) chats.insert(m.chatId);
    }
    if (sample.chats != 0) {
      EXPECT_EQ(chats.size(), sample.chats);
    }
  }
}

}  // namespace
}  // namespace corvyn::decoders
