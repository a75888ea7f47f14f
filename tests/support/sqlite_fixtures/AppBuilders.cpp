#include <algorithm>
#include <cctype>
#include <cstdio>

#include "tests/support/sqlite_fixtures/AppSchemas.h"

namespace corvyn::testing {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool Contains(const std::string& haystack, const char* needle) {
  return haystack.find(needle) != std::string::npos;
}

std::string Uuid(const std::string& table, int64_t n) {
  char text[40];
  unsigned hash = 2166136261u;
  for (char c : table) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  std::snprintf(
      text, sizeof text, "%08X-%04X-4%03X-A%03X-%012llX", hash, static_cast<unsigned>(n & 0xffff),
      static_cast<unsigned>(n % 0xfff), static_cast<unsigned>((n * 7) % 0xfff),
      static_cast<unsigned long long>(0x100000000000ull + static_cast<unsigned long long>(n) * 7919));
  return text;
}

// 1,2,3... as a readable sentence long enough to make records of realistic size.
std::string Sentence(const std::string& table, const std::string& column, int64_t n) {
  return table + " " + column + " " + std::to_string(n) + " - see you at the station at " +
         std::to_string(7 + n % 12) + " o'clock";
}

std::string LongText(int64_t n, std::size_t length) {
  std::string text = "Long message " + std::to_string(n) + ": ";
  while (text.size() < length) text += "the quick brown fox jumps over the lazy dog. ";
  text.resize(length);
  return text;
}

}  // namespace
std::vector<FixtureValue> MakeRow(const TableSchema& table, int64_t n, int longTextColumn,
                                  std::size_t longTextLength) {
  std::vector<FixtureValue> row;
  const std::string tableLower = Lower(table.name);
  const bool coreData = table.name.starts_with("Z");
  const bool unixDates = tableLower == "call" || tableLower.starts_with("tb_c2c") ||
                         tableLower.starts_with("chat_") || tableLower == "friend";
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    const ColumnSchema& column = table.columns[i];
    const std::string name = Lower(column.name);
    const std::string type = Lower(column.type);
    if (static_cast<int>(i) == longTextColumn && longTextLength != 0) {
      row.emplace_back(LongText(n, longTextLength));
    } else if (Contains(type, "primary key")) {
      row.emplace_back(nullptr);
    } else if (Contains(name, "date") || name == "time" || name == "createtime" || name == "lastchattime") {
      const int64_t base = unixDates ? 1400000000 : 420000000;  // 2014 either way
      const int64_t seconds = base + n * 3607 + static_cast<int64_t>(i);
      // Core Data REAL dates: some with a fraction (stored as a double), some whole (stored as an integer).
      if (coreData && Contains(type, "timestamp") && n % 2 == 1) {
        row.emplace_back(static_cast<double>(seconds) + 0.25);
      } else {
        row.emplace_back(seconds);
      }
    } else if (name == "guid" || name == "zguid" || name == "zunique_id" || name == "zstanzaid") {
      row.emplace_back(Uuid(table.name, n));
    } else if (name == "id" && tableLower == "handle") {
      row.emplace_back("+49151" + std::to_string(10000000 + n));
    } else if (name == "address" || name == "zaddress" || name == "c15phone") {
      const std::string number = std::to_string(15110000000 + n);
      row.emplace_back(name == "c15phone" ? "+49" + number + " 0" + number + " " + number + " "
                                          : "+49" + number);
    } else if (name == "uin" && tableLower.starts_with("tb_c2cmsg_")) {
      row.emplace_back(table.name.substr(std::string("tb_c2cMsg_").size()));
    } else if (name == "name" && tableLower == "tb_c2ctables") {
      row.emplace_back("tb_c2cMsg_" + std::to_string(100000 + n));
    } else if (Contains(name, "jid")) {
      row.emplace_back(std::to_string(4915110000000 + n) +
                       (name == "zcontactjid" && n % 4 == 0 ? "-1400000000@g.us" : "@s.whatsapp.net"));
    } else if (name == "usrname") {
      row.emplace_back("wxid_" + std::to_string(900000 + n));
    } else if (name == "service") {
      row.emplace_back(n % 3 == 0 ? "SMS" : "iMessage");
    } else if (name == "filename") {
      row.emplace_back("~/Library/SMS/Attachments/" + std::to_string(n % 100) + "/IMG_" +
                       std::to_string(1000 + n) + ".JPG");
    } else if (tableLower == "abpersonfulltextsearch_content" && name != "c0first" && name != "c1last" &&
               name != "c6organization" && name != "c14displayname" && name != "c16email" &&
               name != "c17address") {
      row.emplace_back(nullptr);  // most contact fields are empty
    } else if (name == "text" || name == "ztext" || name == "content" || name == "message" ||
               name == "zcontent" || name == "c8note") {
      row.emplace_back(Sentence(table.name, column.name, n));
    } else if (Contains(type, "text") || Contains(type, "varchar") || type.empty()) {
      row.emplace_back(column.name + " " + std::to_string(n));
    } else if (Contains(type, "blob")) {
      row.emplace_back(nullptr);
    } else if (Contains(type, "float") || Contains(type, "real")) {
      row.emplace_back(static_cast<double>(n % 600) + 0.5);
    } else if (name == "is_from_me" || name == "zisfromme" || name == "zoriginated" || name == "flags" ||
               name == "flag" || name == "des") {
      row.emplace_back(static_cast<int64_t>(n % 2));
    } else if (name == "message_id" || name == "attachment_id" || name == "zbody" || name == "zowner") {
      row.emplace_back(n);
    } else {
      row.emplace_back(static_cast<int64_t>((n * 31 + static_cast<int64_t>(i)) % 5));
    }
  }
  return row;
}

std::unique_ptr<FixtureDatabase> BuildDatabase(
    const std::filesystem::path& path, const std::vector<TableFill>& tables, const FixtureOptions& options,
    std::string* error,
    const std::function<void(const TableSchema&, int64_t, std::vector<FixtureValue>&)>& customize) {
  auto database = FixtureDatabase::Create(path, options, error);
  if (!database) return nullptr;
  auto fail = [&]() -> std::unique_ptr<FixtureDatabase> {
    if (error) *error = database->LastError();
    return nullptr;
  };
  for (const TableFill& fill : tables) {
    if (!database->Exec(fill.table.CreateSql())) return fail();
    for (const std::string& sql : fill.table.extraSql)
      if (!database->Exec(sql)) return fail();
  }
  constexpr std::size_t kLongText = 5000;
  for (const TableFill& fill : tables) {
    if (!database->Begin()) return fail();
    for (int64_t n = 1; n <= fill.rows; ++n) {
      const bool longRow = fill.plan.overflowRow && fill.textColumn >= 0 && n == fill.rows / 3 + 1;
      std::vector<FixtureValue> row =
          MakeRow(fill.table, n, longRow ? fill.textColumn : -1, longRow ? kLongText : 0);
      if (customize) customize(fill.table, n, row);
      if (database->Insert(fill.table.name, row) < 0) return fail();
    }
    if (!database->Commit()) return fail();
  }
  for (const TableFill& fill : tables) {
    const auto leaves = database->RowIdsByLeafPage(fill.table.name);
    // Leaf pages in key order.
    std::vector<std::vector<int64_t>> pages;
    for (const auto& [index, rowIds] : leaves)
      if (!rowIds.empty()) pages.push_back(rowIds);
    std::sort(pages.begin(), pages.end(), [](const auto& a, const auto& b) { return a.front() < b.front(); });
    std::vector<int64_t> doomed;
    for (std::size_t p = 0; p < pages.size(); ++p) {
      const auto& rowIds = pages[p];
      const bool inner = p > 0 && p + 1 < pages.size();
      if (fill.plan.freeblocks && (p % 5 == 0 || pages.size() < 3) && rowIds.size() >= 4) {
        doomed.push_back(rowIds[rowIds.size() / 2]);
        doomed.push_back(rowIds[rowIds.size() / 4]);
      }
      if (fill.plan.gapAndStale && (p % 5 == 3 || pages.size() < 3) && rowIds.size() >= 3) {
        doomed.push_back(rowIds.back());
      }
      if (fill.plan.wholePages && inner && p % 5 == 2)
        doomed.insert(doomed.end(), rowIds.begin(), rowIds.end());
    }
    if (fill.plan.overflowRow && fill.textColumn >= 0) {
      const auto live = database->Truth().LiveRowIds(fill.table.name);
      const int64_t longRowId = fill.rows / 3 + 1;
      if (std::find(live.begin(), live.end(), longRowId) != live.end()) doomed.push_back(longRowId);
    }
    std::sort(doomed.begin(), doomed.end());
    doomed.erase(std::unique(doomed.begin(), doomed.end()), doomed.end());
    if (!doomed.empty() && !database->Delete(fill.table.name, doomed)) return fail();
  }
  database->Close();
  return database;
}

namespace {
std::unique_ptr<FixtureDatabase> BuildOrNull(const std::filesystem::path& path,
                                             const std::vector<TableFill>& tables) {
  return BuildDatabase(path, tables);
}
TableFill Fill(TableSchema table, int rows, const std::string& textColumn, const DeletionPlan& plan) {
  const int column = textColumn.empty() ? -1 : table.ColumnIndex(textColumn);
  return TableFill{std::move(table), rows, column, plan};
}
}  // namespace

std::unique_ptr<FixtureDatabase> BuildSmsDatabase(const std::filesystem::path& path, int rows,
                                                  const DeletionPlan& plan) {
  return BuildOrNull(
      path, {Fill(MessageTable(), rows, "text", plan), Fill(HandleTable(), rows, "", plan),
             Fill(AttachmentTable(), rows, "", plan), Fill(MessageAttachmentJoinTable(), rows, "", plan)});
}

std::unique_ptr<FixtureDatabase> BuildAddressBookDatabase(const std::filesystem::path& path, int rows,
                                                          const DeletionPlan& plan) {
  return BuildOrNull(path, {Fill(ContactContentTable(), rows, "c8Note", plan)});
}

std::unique_ptr<FixtureDatabase> BuildCallHistoryDatabase(const std::filesystem::path& path, bool coreData,
                                                          int rows, const DeletionPlan& plan) {
  return BuildOrNull(path, {Fill(coreData ? CallRecordTable() : CallTable(), rows, "", plan)});
}

std::unique_ptr<FixtureDatabase> BuildNotesDatabase(const std::filesystem::path& path, int rows,
                                                    const DeletionPlan& plan) {
  return BuildOrNull(
      path, {Fill(NoteTable(), rows, "ZSUMMARY", plan), Fill(NoteBodyTable(), rows, "ZCONTENT", plan)});
}

std::unique_ptr<FixtureDatabase> BuildWhatsAppDatabase(const std::filesystem::path& path,
                                                       int messageColumnCount, int rows,
                                                       const DeletionPlan& plan) {
  return BuildOrNull(path, {Fill(WhatsAppMessageTable(messageColumnCount), rows, "ZTEXT", plan),
                            Fill(WhatsAppChatTable(messageColumnCount), rows, "", plan),
                            Fill(WhatsAppMemberTable(messageColumnCount), rows, "", plan)});
}

std::unique_ptr<FixtureDatabase> BuildQqDatabase(const std::filesystem::path& path,
                                                 const std::vector<std::string>& friendIds, int rows,
                                                 const DeletionPlan& plan) {
  DeletionPlan listPlan;  // the table list keeps every entry
  listPlan = DeletionPlan{false, false, false, false};
  std::vector<TableFill> tables{Fill(QqTableListTable(), static_cast<int>(friendIds.size()), "", listPlan)};
  for (const std::string& id : friendIds) tables.push_back(Fill(QqMessageTable(id), rows, "content", plan));
  return BuildDatabase(
      path, tables, {}, nullptr, [&](const TableSchema& table, int64_t n, std::vector<FixtureValue>& row) {
        if (table.name == "tb_c2cTables" && n >= 1 && static_cast<std::size_t>(n) <= friendIds.size()) {
          row[0] = "tb_c2cMsg_" + friendIds[static_cast<std::size_t>(n - 1)];
        }
      });
}

std::unique_ptr<FixtureDatabase> BuildWeChatDatabase(const std::filesystem::path& path,
                                                     const std::vector<std::string>& chatMd5s, int rows,
                                                     const DeletionPlan& plan) {
  std::vector<TableFill> tables{Fill(WeChatFriendTable(), rows, "", plan)};
  for (const std::string& md5 : chatMd5s) tables.push_back(Fill(WeChatChatTable(md5), rows, "Message", plan));
  return BuildOrNull(path, tables);
}

}  // namespace corvyn::testing
