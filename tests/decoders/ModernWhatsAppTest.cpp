// WhatsApp's newer ChatStorage.sqlite read by column name: the real iOS 15
// store compared with SQL on a copy, and a built store with deleted rows.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "core/TextFormat.h"
#include "decoders/Decoders.h"
#include "tests/decoders/SampleFiles.h"
#include "tests/decoders/SqlOnCopy.h"
#include "tests/support/sqlite_fixtures/ModernAppBuilders.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::decoders {
namespace {

using testing::CopySample;
using testing::ExternalTestData;
using testing::TempFolder;

void Query(const std::filesystem::path& copy, const std::string& sql,
           const std::function<void(const std::vector<std::string>&)>& row) {
  testing::QueryCopy(copy, sql, row, testing::CopyOpen::kReadWrite);
}

using MessageKey = std::tuple<int32_t, std::string, std::string, int32_t, std::string, std::string>;

// Chat, date, text, direction, sender name, media path of each message.
TEST(ModernWhatsApp, Ios15StoreMatchesSql) {
  const char* relative =
      "abrignoni__iLEAPP/admin/test/cases/data/whatsApp/testdata.whatsApp.whatsAppMessages.josh_ios15_ffs/"
      "filesystem2/mobile/Containers/Shared/AppGroup/694FBBC5-2E69-480A-A25B-FF8CC038BEF8/ChatStorage.sqlite";
  const std::filesystem::path root = ExternalTestData();
  if (root.empty() || !std::filesystem::exists(root / relative))
    GTEST_SKIP() << "external test data not found: " << relative;
  TempFolder folder;
  const std::filesystem::path copy = CopySample(root / relative, folder.Path());

  WhatsAppChatMap chats;
  int32_t columns = kInitialWhatsAppMessageColumnCount;
  ASSERT_EQ(DecodeWhatsApp(chats, copy, columns), kOk);
  std::set<MessageKey> got;
  std::size_t deleted = 0;
  for (const auto& [session, messages] : chats) {
    for (const WhatsAppRecord& m : messages) {
      if (m.deleted != 0) {
        ++deleted;
        continue;
      }
      got.insert({m.sessionId, m.date, m.text, m.sent, m.senderName, m.extra});
    }
  }

  // Messages with text, and media sent without words: two photos (named by
  // their files) and four places (their coordinates).
  std::set<MessageKey> expected;
  std::size_t photos = 0, places = 0;
  Query(copy,
        "SELECT m.ZCHATSESSION, CAST(m.ZMESSAGEDATE AS INTEGER), coalesce(m.ZTEXT, ''), m.ZISFROMME, "
        "CASE WHEN m.ZISFROMME = 1 THEN 'Me' WHEN g.Z_PK IS NULL THEN c.ZPARTNERNAME "
        "WHEN g.ZCONTACTNAME <> '' THEN g.ZCONTACTNAME "
        "ELSE coalesce(p.ZPUSHNAME, substr(g.ZMEMBERJID, 1, instr(g.ZMEMBERJID, '@') - 1)) END, "
        "coalesce('Message/' || i.ZMEDIALOCALPATH, ''), m.ZMESSAGETYPE, "
        "coalesce(printf('[Location: %.5f, %.5f]', i.ZLATITUDE, i.ZLONGITUDE), '') "
        "FROM ZWAMESSAGE m LEFT JOIN ZWACHATSESSION c ON c.Z_PK = m.ZCHATSESSION "
        "LEFT JOIN ZWAGROUPMEMBER g ON g.Z_PK = m.ZGROUPMEMBER "
        "LEFT JOIN ZWAPROFILEPUSHNAME p ON p.ZJID = g.ZMEMBERJID "
        "LEFT JOIN ZWAMEDIAITEM i ON i.ZMESSAGE = m.Z_PK "
        "WHERE (m.ZTEXT IS NOT NULL AND m.ZTEXT <> '') OR i.Z_PK IS NOT NULL",
        [&](const std::vector<std::string>& v) {
          std::string text = v[2];
          if (text.empty() && v[6] == "1") {
            text = "[Photo: " + std::filesystem::path(v[5]).filename().string() + "]";
            ++photos;
          } else if (text.empty() && v[6] == "5") {
            text = v[7];
            ++places;
          }
          expected.insert(
              {std::stoi(v[0]), DateTextFromCocoa(std::stoll(v[1])), text, std::stoi(v[3]), v[4], v[5]});
        });
  EXPECT_EQ(expected.size(), 21u);
  EXPECT_EQ(photos, 2u);
  EXPECT_EQ(places, 4u);
  EXPECT_EQ(got, expected);
  // Z_PK 28 is gone; the reader finds no deleted message with text in this
  // store, and none is made up.
  EXPECT_EQ(deleted, 0u);
  EXPECT_EQ(columns, 34);
}

}  // namespace
}  // namespace corvyn::decoders

namespace corvyn::decoders {
namespace {

// Built store: members named by push name or JID, the media path kept, and
// the two deleted messages carved with their texts.
TEST(ModernWhatsApp, BuiltStoreWithDeletedMessages) {
  TempFolder folder;
  std::string error;
  auto db = testing::BuildModernChatStorage(folder.Path() / "ChatStorage.sqlite", &error);
  ASSERT_TRUE(db) << error;
  WhatsAppChatMap chats;
  int32_t columns = kInitialWhatsAppMessageColumnCount;
  ASSERT_EQ(DecodeWhatsApp(chats, db->Path(), columns), kOk);

  using Row = std::tuple<int32_t, int32_t, std::string, std::string, std::string>;
  std::set<Row> got;
  for (const auto& [session, messages] : chats) {
    for (const WhatsAppRecord& m : messages) got.insert({m.deleted, session, m.text, m.senderName, m.extra});
  }
  const std::string photo =
      "Message/Media/19198887386@s.whatsapp.net/d/0/d041d159-0000-4000-8000-000000000001.jpg";
  const std::set<Row> expected = {
      {0, 1, "Hello from Dana, a longer line of text", "Dana Two", ""},
      {0, 1, "Hello back, another longer line of text", "Me", ""},
      {0, 2, "Group hello from the lid member, long text", "205690463334636", ""},
      {0, 2, "Group answer from me with a long text line", "Me", ""},
      {0, 1, "Photo caption for the picture sent", "Me", photo},
      // Deleted rows: their chat and member keys survive in the record, the
      // media join does not (carved records have no key).
      {1, 1, "A deleted message with a fairly long text", "Dana Two", ""},
      {1, 2, "Group hello from Dana with enough text", "Dana", ""},
      {0, 2, "Another message in the group chat, long", "Dana", ""},
  };
  EXPECT_EQ(got, expected);
  const auto& live = db->Truth().live.at("ZWAMESSAGE");
  EXPECT_EQ(live.size(), 6u);
  for (const auto& [session, messages] : chats) {
    for (const WhatsAppRecord& m : messages) {
      if (m.deleted == 0 && m.messageKey == 2) {
        EXPECT_EQ(m.date, DateTextFromCocoa(666000060));
      }
    }
  }
}

}  // namespace
}  // namespace corvyn::decoders

namespace corvyn::decoders {
namespace {

// mvt's cut-down store (8-column ZWAMESSAGE, no member tables) read by name.
TEST(ModernWhatsApp, CutDownStoreMatchesSql) {
  const char* relative =
      "mvt-project__mvt/tests/artifacts/ios_backup/7c/7c7fba66680ef796b916b067077cc246adacf01d";
  const std::filesystem::path root = ExternalTestData();
  if (root.empty() || !std::filesystem::exists(root / relative))
    GTEST_SKIP() << "external test data not found: " << relative;
  TempFolder folder;
  const std::filesystem::path copy = CopySample(root / relative, folder.Path());
  WhatsAppChatMap chats;
  int32_t columns = kInitialWhatsAppMessageColumnCount;
  ASSERT_EQ(DecodeWhatsApp(chats, copy, columns), kOk);
  using Row = std::tuple<int32_t, std::string, std::string, int32_t, std::string>;
  std::set<Row> got;
  for (const auto& [session, messages] : chats) {
    for (const WhatsAppRecord& m : messages) got.insert({m.sessionId, m.date, m.text, m.sent, m.senderName});
  }
  std::set<Row> expected;
  Query(
      copy,
      "SELECT m.ZCHATSESSION, CAST(m.ZMESSAGEDATE AS INTEGER), m.ZTEXT, m.ZISFROMME, "
      "CASE WHEN m.ZISFROMME = 1 THEN 'Me' ELSE c.ZPARTNERNAME END "
      "FROM ZWAMESSAGE m LEFT JOIN ZWACHATSESSION c ON c.Z_PK = m.ZCHATSESSION WHERE m.ZTEXT <> ''",
      [&](const std::vector<std::string>& v) {
        expected.insert({std::stoi(v[0]), DateTextFromCocoa(std::stoll(v[1])), v[2], std::stoi(v[3]), v[4]});
      });
  EXPECT_EQ(expected.size(), 3u);
  EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace corvyn::decoders
