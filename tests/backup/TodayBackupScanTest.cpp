// A backup of a phone of today, plain and encrypted: every category filled,
// each exactly as its decoder reads the database on its own, and the
// ground truth of the fixture builders (texts, chat names, note titles)
// arriving through the engine.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "backup/BackupContext.h"
#include "backup/BackupDiscovery.h"
#include "backup/CLocalBuckupRecovery.h"
#include "decoders/Decoders.h"
#include "tests/backup/EngineRecords.h"
#include "tests/support/backup_builder/ModernEncryption.h"
#include "tests/support/backup_builder/TodayBackup.h"
#include "tests/support/sqlite_fixtures/ModernAppBuilders.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::backup {
namespace {
namespace fs = std::filesystem;
namespace ts = corvyn::testsupport;

constexpr const char* kPassword = "today";

// Field lists for comparing records (everything a user sees).
auto Fields(const MessageRecord& m) {
  return std::tie(m.deleted, m.sent, m.messageId, m.handleId, m.date, m.address, m.name, m.text, m.edited,
                  m.unsent, m.chatId, m.chatName, m.members);
}
auto Fields(const ContactRecord& c) {
  return std::tie(c.deleted, c.email, c.address, c.social, c.url, c.phones, c.company, c.name);
}
auto Fields(const CallRecord& c) {
  return std::tie(c.deleted, c.incoming, c.duration, c.date, c.number, c.name, c.callType);
}
auto Fields(const NoteRecord& n) {
  return std::tie(n.deleted, n.noteId, n.date, n.title, n.content, n.folder, n.locked, n.created);
}
auto Fields(const WhatsAppRecord& w) {
  return std::tie(w.deleted, w.sent, w.messageKey, w.sessionId, w.memberKey, w.date, w.senderName, w.text,
                  w.senderId, w.memberName, w.memberPhone, w.chatTitle);
}

template <class Record>
void ExpectSameRecords(const std::vector<Record>& got, const std::vector<Record>& expected,
                       const char* label) {
  ASSERT_EQ(got.size(), expected.size()) << label;
  for (std::size_t i = 0; i < got.size(); ++i)
    EXPECT_TRUE(Fields(got[i]) == Fields(expected[i])) << label << " " << i;
}
template <class Map>
void ExpectSameGroups(const Map& got, const Map& expected, const char* label) {
  ASSERT_EQ(got.size(), expected.size()) << label;
  for (auto g = got.begin(), e = expected.begin(); g != got.end(); ++g, ++e) {
    EXPECT_EQ(g->first, e->first) << label;
    ExpectSameRecords(g->second, e->second, label);
  }
}

class TodayBackupScanTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    temp_ = new corvyn::testing::TempFolder("today-backup");
    backup_ = new ts::TodayBackup;
    ASSERT_EQ(ts::MakeTodayBackup(Root() / "scratch", *backup_), kOk);
    ASSERT_EQ(backup_->builder.WriteNewerLayout(Root() / "plain"), kOk);
    ASSERT_EQ(ts::EncryptNewerLayoutFolder(Root() / "plain", Root() / "encrypted", kPassword), kOk);
  }
  static void TearDownTestSuite() {
    delete backup_;
    delete temp_;
  }
  static fs::path Root() { return temp_->Path(); }

  // Scans the folder through the engine; failures land in out.failures.
  static void Scan(const fs::path& folder, const std::string& password, EngineRecords& out) {
    BackupDescriptor descriptor;
    ASSERT_EQ(ReadBackupFolder(folder, descriptor), kOk);
    BackupContext context;
    context.Select(descriptor);
    context.workingRoot = Root() / ("work-" + folder.filename().string());
    CLocalBuckupRecovery engine;
    ASSERT_EQ(engine.Attach(&context), kOk);
    ASSERT_EQ(engine.OpenSource(password), kOk);
    (void)CollectEverything(engine, out);
  }

  static corvyn::testing::TempFolder* temp_;
  static ts::TodayBackup* backup_;
};
corvyn::testing::TempFolder* TodayBackupScanTest::temp_ = nullptr;
ts::TodayBackup* TodayBackupScanTest::backup_ = nullptr;

TEST_F(TodayBackupScanTest, EveryCategoryIsWhatItsDecoderReadsFromTheDatabase) {
  EngineRecords got;
  Scan(Root() / "plain", "", got);
  EXPECT_TRUE(got.failures.empty()) << got.failures.front();

  // The same databases read directly.
  const ts::TodayBackup& b = *backup_;
  ConversationMap conversations;
  int64_t highest = 0;
  ASSERT_EQ(decoders::DecodeMessages(conversations, b.smsDb, b.addressBook, {}, highest), kOk);
  std::vector<ContactRecord> contacts;
  ASSERT_EQ(decoders::DecodeContacts(contacts, b.addressBook, highest), kOk);
  std::vector<CallRecord> calls;
  ASSERT_EQ(decoders::DecodeCallHistory(calls, b.callHistory, b.addressBook), kOk);
  std::vector<NoteRecord> notes;
  ASSERT_EQ(decoders::DecodeNotes(notes, b.noteStore), kOk);
  WhatsAppChatMap chats;
  ASSERT_EQ(decoders::DecodeWhatsApp(chats, b.chatStorage), kOk);

  ASSERT_FALSE(conversations.empty());
  ASSERT_FALSE(contacts.empty());
  ASSERT_FALSE(calls.empty());
  ASSERT_FALSE(notes.empty());
  ASSERT_FALSE(chats.empty());
  ExpectSameGroups(got.conversations, conversations, "Messages");
  ExpectSameRecords(got.contacts, contacts, "Contacts");
  ExpectSameRecords(got.calls, calls, "Call History");
  ExpectSameRecords(got.notes, notes, "Notes");
  ExpectSameGroups(got.whatsApp, chats, "WhatsApp");

  // What the builders put in arrives: every message (live and carved), the
  // group's name, every note title, the attachment files.
  std::multiset<std::string> texts, expectedTexts;
  bool groupNamed = false;
  for (const auto& [key, messages] : got.conversations) {
    for (const MessageRecord& m : messages) {
      texts.insert(m.text);
      groupNamed |= m.chatId == b.messages.groupChatId && m.chatName == b.messages.groupName;
    }
  }
  for (const auto& m : b.messages.messages) expectedTexts.insert(m.text);
  for (const std::string& text : expectedTexts)
    EXPECT_EQ(texts.count(text), expectedTexts.count(text)) << text;
  EXPECT_TRUE(groupNamed);
  std::multiset<std::string> titles, expectedTitles;
  for (const auto& n : got.notes) titles.insert(n.title);
  for (const auto& n : b.notes) expectedTitles.insert(n.title);
  EXPECT_EQ(titles, expectedTitles);
  std::vector<std::string> attachmentNames;
  for (const auto& a : got.attachments) attachmentNames.push_back(a.name);
  EXPECT_EQ(attachmentNames, b.attachmentNames);
  ASSERT_EQ(got.whatsAppAttachments.size(), 1u);
  EXPECT_EQ(got.whatsAppAttachments[0].name, "d041d159-0000-4000-8000-000000000001.JPG");

  // Messages name their attachments as the attachment lists do.
  std::vector<std::string> messageAttachments;
  for (const auto& [key, messages] : got.conversations) {
    for (const MessageRecord& m : messages) {
      if (!m.attachment.empty()) messageAttachments.push_back(m.attachment);
    }
  }
  EXPECT_EQ(messageAttachments, b.attachmentNames);
}

// Calls the phone has not yet moved out of CallHistoryTemp.storedata are
// listed with the others; a call both files hold is listed once.
TEST_F(TodayBackupScanTest, CallsWaitingInTheTemporaryStoreJoinTheOthersOnce) {
  ts::TodayBackup withTemp;
  ASSERT_EQ(ts::MakeTodayBackup(Root() / "scratch-temp", withTemp), kOk);
  // The older layout's table holds the same calls in part and others besides.
  const fs::path temp = Root() / "scratch-temp" / "CallHistoryTemp.storedata";
  ASSERT_TRUE(corvyn::testing::BuildModernCallHistory(temp, 18));
  // Two of its calls are a day later: calls only it holds.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(temp.c_str(), &db), SQLITE_OK);
  const int changed = sqlite3_exec(
      db, "UPDATE ZCALLRECORD SET ZDATE = ZDATE + 86400 WHERE Z_PK IN (SELECT Z_PK FROM ZCALLRECORD LIMIT 2)",
      nullptr, nullptr, nullptr);
  sqlite3_close(db);
  ASSERT_EQ(changed, SQLITE_OK);
  ASSERT_EQ(
      withTemp.builder.AddFileFrom("HomeDomain", "Library/CallHistoryDB/CallHistoryTemp.storedata", temp),
      kOk);
  ASSERT_EQ(withTemp.builder.WriteNewerLayout(Root() / "with-temp"), kOk);
  EngineRecords got;
  Scan(Root() / "with-temp", "", got);
  EXPECT_TRUE(got.failures.empty()) << got.failures.front();

  std::vector<CallRecord> main, pending;
  ASSERT_EQ(decoders::DecodeCallHistory(main, withTemp.callHistory, withTemp.addressBook), kOk);
  ASSERT_EQ(decoders::DecodeCallHistory(pending, temp, withTemp.addressBook), kOk);
  using Key = std::tuple<std::string, std::string, int32_t, int32_t>;
  std::set<Key> expected, listed;
  for (const auto* calls : {&main, &pending}) {
    for (const CallRecord& c : *calls) expected.insert({c.date, c.number, c.duration, c.incoming});
  }
  for (const CallRecord& c : got.calls) listed.insert({c.date, c.number, c.duration, c.incoming});
  ASSERT_GT(expected.size(), main.size());                   // the temporary store adds calls
  ASSERT_LT(expected.size(), main.size() + pending.size());  // and shares some
  EXPECT_EQ(got.calls.size(), expected.size());
  EXPECT_EQ(listed, expected);
}

TEST_F(TodayBackupScanTest, EncryptedBackupGivesWhatThePlainOneGives) {
  EngineRecords plain, encrypted;
  Scan(Root() / "plain", "", plain);
  Scan(Root() / "encrypted", kPassword, encrypted);
  EXPECT_TRUE(encrypted.failures.empty()) << encrypted.failures.front();
  ExpectSameGroups(encrypted.conversations, plain.conversations, "Messages");
  ExpectSameRecords(encrypted.contacts, plain.contacts, "Contacts");
  ExpectSameRecords(encrypted.calls, plain.calls, "Call History");
  ExpectSameRecords(encrypted.notes, plain.notes, "Notes");
  ExpectSameGroups(encrypted.whatsApp, plain.whatsApp, "WhatsApp");
  ASSERT_EQ(encrypted.attachments.size(), plain.attachments.size());
  for (std::size_t i = 0; i < plain.attachments.size(); ++i) {
    EXPECT_EQ(encrypted.attachments[i].name, plain.attachments[i].name);
    EXPECT_EQ(encrypted.attachments[i].size, plain.attachments[i].size);
  }
  ASSERT_EQ(encrypted.whatsAppAttachments.size(), plain.whatsAppAttachments.size());
}

}  // namespace
}  // namespace corvyn::backup
