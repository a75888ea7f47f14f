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
#include "tests/support/sqlite_fixtures/ModernAppBuilders.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::decoders {
namespace {

using testing::CopySample;
using testing::ExternalTestData;
using testing::TempFolder;

void Query(const std::filesystem::path& copy, const std::string& sql,
           const std::function<void(const std::vector<std::string>&)>& row) {
  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open_v2(copy.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(handle, sql.c_str(), -1, &statement, nullptr), SQLITE_OK)
      << sqlite3_errmsg(handle);
  while (sqlite3_step(statement) == SQLITE_ROW) {
    std::vector<std::string> values;
    for (int column = 0; column < sqlite3_column_count(statement); ++column) {
      const auto* text = sqlite3_column_text(statement, column);
      values.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
    }
    row(values);
  }
  sqlite3_finalize(statement);
  sqlite3_close(handle);
}

using MessageKey = std::tuple<int32_t, std::string, std::string, int32_t, std::string, std::string>;

// Messages with text: chat, date, text, direction, sender name, media path.
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

  std::set<MessageKey> expected;
  Query(copy,
        "SELECT m.ZCHATSESSION, CAST(m.ZMESSAGEDATE AS INTEGER), m.ZTEXT, m.ZISFROMME, "
        "CASE WHEN m.ZISFROMME = 1 THEN 'Me' WHEN g.Z_PK IS NULL THEN c.ZPARTNERNAME "
        "WHEN g.ZCONTACTNAME <> '' THEN g.ZCONTACTNAME "
        "ELSE coalesce(p.ZPUSHNAME, substr(g.ZMEMBERJID, 1, instr(g.ZMEMBERJID, '@') - 1)) END, "
        "coalesce('Message/' || i.ZMEDIALOCALPATH, '') "
        "FROM ZWAMESSAGE m LEFT JOIN ZWACHATSESSION c ON c.Z_PK = m.ZCHATSESSION "
        "LEFT JOIN ZWAGROUPMEMBER g ON g.Z_PK = m.ZGROUPMEMBER "
        "LEFT JOIN ZWAPROFILEPUSHNAME p ON p.ZJID = g.ZMEMBERJID "
        "LEFT JOIN ZWAMEDIAITEM i ON i.ZMESSAGE = m.Z_PK "
        "WHERE m.ZTEXT IS NOT NULL AND m.ZTEXT <> ''",
        [&](const std::vector<std::string>& v) {
          expected.insert(
              {std::stoi(v[0]), DateTextFromCocoa(std::stoll(v[1])), v[2], std::stoi(v[3]), v[4], v[5]});
        });
  EXPECT_EQ(expected.size(), 15u);
  EXPECT_EQ(got, expected);
  // Z_PK 28 is gone; the reader finds no deleted message with text in this
  // store, and none is made up.
  EXPECT_EQ(deleted, 0u);
  EXPECT_EQ(columns, 34);
}

}  // namespace
}  // namespace corvyn::decoders
