// Recall of deleted rows on the application fixture databases, through the
// generic record parser: every live row is found live, and at least a floor
// of the deleted rows comes back (carved or from free pages). Prints
// "recall <table>: recovered/deleted" for the record.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>

#include "tests/sqlite/ReaderTestSupport.h"
#include "tests/support/sqlite_fixtures/AppSchemas.h"

namespace corvyn::sqlite {
namespace {

using test::ScannedRow;
using testing::FixtureDatabase;
using testing::FixtureRow;

// The longest text of a row, and its column: unique per row in the fixtures.
std::pair<std::size_t, std::string> Key(const FixtureRow& row) {
  std::pair<std::size_t, std::string> best{0, ""};
  for (std::size_t i = 0; i < row.values.size(); ++i) {
    if (const auto* text = std::get_if<std::string>(&row.values[i]);
        text && text->size() > best.second.size()) {
      best = {i, *text};
    }
  }
  return best;
}

struct RecallCase {
  const char* table;
  std::function<std::unique_ptr<FixtureDatabase>(const std::filesystem::path&)> build;
  int32_t messageColumnCount;
  double minimumRecall;
};

class CarvingRecallTest : public ::testing::TestWithParam<RecallCase> {};

TEST_P(CarvingRecallTest, FindsEveryLiveRowAndRecoversDeletedRows) {
  const RecallCase& c = GetParam();
  test::TempDir dir;
  const auto database = c.build(dir / "fixture.db");
  ASSERT_NE(database, nullptr);
  SqliteDbReader reader;
  reader.messageColumnCount = c.messageColumnCount;
  ASSERT_EQ(reader.Open(dir / "fixture.db"), kOk);
  std::vector<ScannedRow> rows;
  ASSERT_EQ(test::ScanRows(reader, c.table, rows), kOk);

  std::vector<int64_t> live;
  for (const ScannedRow& row : rows)
    if (row.deleted == 0) live.push_back(row.rowId);
  std::sort(live.begin(), live.end());
  EXPECT_EQ(live, database->Truth().LiveRowIds(c.table));

  const auto& deleted = database->Truth().deleted.at(c.table);
  ASSERT_FALSE(deleted.empty());
  std::set<int64_t> recovered;
  for (const auto& [rowId, truth] : deleted) {
    const auto [column, key] = Key(truth);
    for (const ScannedRow& row : rows) {
      if (row.deleted == 1 && column < row.texts.size() && row.texts[column] == key) {
        recovered.insert(rowId);
        break;
      }
    }
  }
  const double recall = static_cast<double>(recovered.size()) / static_cast<double>(deleted.size());
  std::printf("recall %s: %zu/%zu (%.0f%%)\n", c.table, recovered.size(), deleted.size(), 100 * recall);
  EXPECT_GE(recall, c.minimumRecall);
}

std::unique_ptr<FixtureDatabase> Sms(const std::filesystem::path& path) {
  return testing::BuildSmsDatabase(path, 300);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, CarvingRecallTest,
    ::testing::Values(
        RecallCase{"message", Sms, 28, 0.4}, RecallCase{"handle", Sms, 28, 0.4},
        RecallCase{"attachment", Sms, 28, 0.2},
        RecallCase{"ABPersonFullTextSearch_content",
                   [](const auto& p) { return testing::BuildAddressBookDatabase(p, 300); }, 28, 0.4},
        RecallCase{"ZCALLRECORD",
                   [](const auto& p) { return testing::BuildCallHistoryDatabase(p, true, 300); }, 28, 0.3},
        RecallCase{"ZNOTE", [](const auto& p) { return testing::BuildNotesDatabase(p, 300); }, 28, 0.25},
        RecallCase{"ZWAMESSAGE", [](const auto& p) { return testing::BuildWhatsAppDatabase(p, 27, 300); }, 27,
                   0.4},
        RecallCase{"ZWAMESSAGE", [](const auto& p) { return testing::BuildWhatsAppDatabase(p, 29, 300); }, 29,
                   0.4},
        RecallCase{"ZWAGROUPMEMBER", [](const auto& p) { return testing::BuildWhatsAppDatabase(p, 28, 300); },
                   28, 0.4},
        RecallCase{"tb_c2cMsg_12345",
                   [](const auto& p) { return testing::BuildQqDatabase(p, {"12345"}, 300); }, 28, 0.4},
        RecallCase{"Friend",
                   [](const auto& p) { return testing::BuildWeChatDatabase(p, {"0123456789abcdef"}, 300); },
                   28, 0.4}));

}  // namespace
}  // namespace corvyn::sqlite
