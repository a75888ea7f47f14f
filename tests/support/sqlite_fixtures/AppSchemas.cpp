#include "tests/support/sqlite_fixtures/AppSchemas.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace corvyn::testing {
namespace {

TableSchema Table(std::string name, std::vector<ColumnSchema> columns, std::vector<std::string> extra = {}) {
  return TableSchema{std::move(name), std::move(columns), std::move(extra)};
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool Contains(const std::string& haystack, const char* needle) { return haystack.find(needle) != std::string::npos; }

std::string Uuid(const std::string& table, int64_t n) {
  char text[40];
  unsigned hash = 2166136261u;
  for (char c : table) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  std::snprintf(text, sizeof text, "%08X-%04X-4%03X-A%03X-%012llX", hash, static_cast<unsigned>(n & 0xffff),
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

std::vector<std::string> SmsIndexes() {
  return {"CREATE INDEX message_idx_handle ON message(handle_id, date)"};
}

}  // namespace

std::string TableSchema::CreateSql() const {
  std::string sql = "CREATE TABLE \"" + name + "\" (";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i) sql += ", ";
    sql += columns[i].name + " " + columns[i].type;
  }
  return sql + ")";
}

int TableSchema::ColumnIndex(const std::string& columnName) const {
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (columns[i].name == columnName) return static_cast<int>(i);
  return -1;
}

TableSchema MessageTable() {
  return Table("message",
               {{"ROWID", "INTEGER PRIMARY KEY AUTOINCREMENT"}, {"guid", "TEXT UNIQUE NOT NULL"}, {"text", "TEXT"},
                {"replace", "INTEGER DEFAULT 0"}, {"service_center", "TEXT"}, {"handle_id", "INTEGER DEFAULT 0"},
                {"subject", "TEXT"}, {"country", "TEXT"}, {"attributedBody", "BLOB"}, {"version", "INTEGER DEFAULT 0"},
                {"type", "INTEGER DEFAULT 0"}, {"service", "TEXT"}, {"account", "TEXT"}, {"account_guid", "TEXT"},
                {"error", "INTEGER DEFAULT 0"}, {"date", "INTEGER"}, {"date_read", "INTEGER"},
                {"date_delivered", "INTEGER"}, {"is_delivered", "INTEGER DEFAULT 0"}, {"is_finished", "INTEGER DEFAULT 0"},
                {"is_emote", "INTEGER DEFAULT 0"}, {"is_from_me", "INTEGER DEFAULT 0"}, {"is_empty", "INTEGER DEFAULT 0"},
                {"is_delayed", "INTEGER DEFAULT 0"}, {"is_auto_reply", "INTEGER DEFAULT 0"},
                {"is_prepared", "INTEGER DEFAULT 0"}, {"is_read", "INTEGER DEFAULT 0"},
                {"is_system_message", "INTEGER DEFAULT 0"}, {"is_sent", "INTEGER DEFAULT 0"},
                {"has_dd_results", "INTEGER DEFAULT 0"}, {"is_service_message", "INTEGER DEFAULT 0"},
                {"is_forward", "INTEGER DEFAULT 0"}, {"was_downgraded", "INTEGER DEFAULT 0"},
                {"is_archive", "INTEGER DEFAULT 0"}, {"cache_has_attachments", "INTEGER DEFAULT 0"},
                {"cache_roomnames", "TEXT"}, {"was_data_detected", "INTEGER DEFAULT 0"},
                {"was_deduplicated", "INTEGER DEFAULT 0"}},
               SmsIndexes());
}

TableSchema HandleTable() {
  return Table("handle", {{"ROWID", "INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE"}, {"id", "TEXT NOT NULL"},
                          {"country", "TEXT"}, {"service", "TEXT NOT NULL"}, {"uncanonicalized_id", "TEXT"}});
}

TableSchema AttachmentTable() {
  return Table("attachment", {{"ROWID", "INTEGER PRIMARY KEY AUTOINCREMENT"}, {"guid", "TEXT UNIQUE NOT NULL"},
                              {"created_date", "INTEGER DEFAULT 0"}, {"start_date", "INTEGER DEFAULT 0"},
                              {"filename", "TEXT"}, {"uti", "TEXT"}, {"mime_type", "TEXT"},
                              {"transfer_state", "INTEGER DEFAULT 0"}, {"is_outgoing", "INTEGER DEFAULT 0"}});
}

TableSchema MessageAttachmentJoinTable() {
  return Table("message_attachment_join",
               {{"message_id", "INTEGER REFERENCES message (ROWID) ON DELETE CASCADE"},
                {"attachment_id", "INTEGER REFERENCES attachment (ROWID) ON DELETE CASCADE"}});
}

TableSchema ContactContentTable() {
  std::vector<ColumnSchema> columns{{"docid", "INTEGER PRIMARY KEY"}};
  const char* names[] = {"c0First", "c1Last", "c2Middle", "c3FirstPhonetic", "c4MiddlePhonetic", "c5LastPhonetic",
                         "c6Organization", "c7Department", "c8Note", "c9Birthday", "c10JobTitle", "c11Nickname",
                         "c12Prefix", "c13Suffix", "c14DisplayName", "c15Phone", "c16Email", "c17Address",
                         "c18SocialProfile", "c19URL", "c20RelatedNames", "c21IM", "c22Date"};
  for (const char* name : names) columns.push_back({name, ""});
  return Table("ABPersonFullTextSearch_content", columns);
}

TableSchema CallTable() {
  return Table("call", {{"ROWID", "INTEGER PRIMARY KEY AUTOINCREMENT"}, {"address", "TEXT"}, {"date", "INTEGER"},
                        {"duration", "INTEGER"}, {"flags", "INTEGER"}, {"id", "INTEGER"}, {"name", "TEXT"},
                        {"country_code", "TEXT"}, {"network_code", "TEXT"}, {"read", "INTEGER"},
                        {"assisted", "INTEGER"}, {"face_time_data", "BLOB"}, {"originalAddress", "TEXT"}});
}

TableSchema CallRecordTable() {
  return Table("ZCALLRECORD",
               {{"Z_PK", "INTEGER PRIMARY KEY"}, {"Z_ENT", "INTEGER"}, {"Z_OPT", "INTEGER"}, {"ZANSWERED", "INTEGER"},
                {"ZCALLTYPE", "INTEGER"}, {"ZDISCONNECTED_CAUSE", "INTEGER"}, {"ZFACE_TIME_DATA", "INTEGER"},
                {"ZNUMBER_AVAILABILITY", "INTEGER"}, {"ZORIGINATED", "INTEGER"}, {"ZREAD", "INTEGER"},
                {"ZDATE", "TIMESTAMP"}, {"ZDURATION", "FLOAT"}, {"ZADDRESS", "VARCHAR"}, {"ZDEVICE_ID", "VARCHAR"},
                {"ZISO_COUNTRY_CODE", "VARCHAR"}, {"ZNAME", "VARCHAR"}, {"ZUNIQUE_ID", "VARCHAR"}});
}

TableSchema NoteTable() {
  return Table("ZNOTE", {{"Z_PK", "INTEGER PRIMARY KEY"}, {"Z_ENT", "INTEGER"}, {"Z_OPT", "INTEGER"},
                         {"ZCONTAINSCJK", "INTEGER"}, {"ZCONTENTTYPE", "INTEGER"}, {"ZDELETEDFLAG", "INTEGER"},
                         {"ZEXTERNALFLAGS", "INTEGER"}, {"ZEXTERNALSERVERINTID", "INTEGER"}, {"ZINTEGERID", "INTEGER"},
                         {"ZISBOOKKEEPINGENTRY", "INTEGER"}, {"ZSTORE", "INTEGER"}, {"ZBODY", "INTEGER"},
                         {"ZCREATIONDATE", "TIMESTAMP"}, {"ZMODIFICATIONDATE", "TIMESTAMP"}, {"ZTITLE", "VARCHAR"},
                         {"ZAUTHOR", "VARCHAR"}, {"ZGUID", "VARCHAR"}, {"ZSERVERID", "VARCHAR"},
                         {"ZSUMMARY", "VARCHAR"}});
}

TableSchema NoteBodyTable() {
  return Table("ZNOTEBODY", {{"Z_PK", "INTEGER PRIMARY KEY"}, {"Z_ENT", "INTEGER"}, {"Z_OPT", "INTEGER"},
                             {"ZOWNER", "INTEGER"}, {"ZCONTENT", "VARCHAR"}, {"ZEXTERNALCONTENTREF", "VARCHAR"},
                             {"ZEXTERNALREPRESENTATION", "BLOB"}});
}

TableSchema WhatsAppMessageTable(int columnCount) {
  std::vector<std::string> names;
  if (columnCount <= 27) {
    names = {"Z_PK", "Z_ENT", "Z_OPT", "ZCHILDMESSAGESDELIVEREDCOUNT", "ZCHILDMESSAGESPLAYEDCOUNT",
             "ZCHILDMESSAGESREADCOUNT", "ZDATAITEMVERSION", "ZISFROMME", "ZMESSAGEERRORSTATUS", "ZMESSAGESTATUS",
             "ZMESSAGETYPE", "ZSORT", "ZCHATSESSION", "ZGROUPMEMBER", "ZLASTSESSION", "ZMEDIAITEM", "ZMESSAGEINFO",
             "ZMESSAGEDATE", "ZSENTDATE", "ZFROMJID", "ZMEDIASECTIONID", "ZTEXT", "ZPHASH", "ZPUSHNAME",
             "ZSTANZAID", "ZTOJID", "ZPARENTMESSAGE"};
  } else {
    names = {"Z_PK", "Z_ENT", "Z_OPT", "ZCHILDMESSAGESDELIVEREDCOUNT", "ZCHILDMESSAGESPLAYEDCOUNT",
             "ZCHILDMESSAGESREADCOUNT", "ZDATAITEMVERSION", "ZDOCID", "ZENCRETRYCOUNT", "ZFILTEREDRECIPIENTCOUNT",
             "ZISFROMME", "ZMESSAGEERRORSTATUS", "ZMESSAGESTATUS", "ZMESSAGETYPE", "ZCHATSESSION", "ZGROUPMEMBER",
             "ZLASTSESSION", "ZMEDIAITEM", "ZMESSAGEINFO", "ZPARENTMESSAGE", "ZMESSAGEDATE", "ZSENTDATE",
             "ZFROMJID", "ZMEDIASECTIONID", "ZPHASH", "ZPUSHNAME", "ZTEXT", "ZTOJID"};
    if (columnCount >= 29) names.insert(names.begin() + 14, "ZSORT");
  }
  std::vector<ColumnSchema> columns;
  for (const std::string& name : names) {
    std::string type = "INTEGER";
    if (name == "Z_PK") type = "INTEGER PRIMARY KEY";
    else if (name == "ZMESSAGEDATE" || name == "ZSENTDATE") type = "TIMESTAMP";
    else if (name == "ZFROMJID" || name == "ZMEDIASECTIONID" || name == "ZPHASH" || name == "ZPUSHNAME" ||
             name == "ZSTANZAID" || name == "ZTEXT" || name == "ZTOJID") type = "VARCHAR";
    columns.push_back({name, type});
  }
  return Table("ZWAMESSAGE", columns);
}

TableSchema WhatsAppChatTable(int messageColumnCount) {
  std::vector<std::string> names{"Z_PK", "Z_ENT", "Z_OPT", "ZARCHIVED", "ZCONTACTABID", "ZFLAGS", "ZHIDDEN",
                                 "ZIDENTITYVERIFICATIONEPOCH", "ZMESSAGECOUNTER", "ZREMOVED", "ZSESSIONTYPE",
                                 "ZSPOTLIGHTSTATUS", "ZUNREADCOUNT", "ZGROUPINFO", "ZLASTMESSAGE", "ZPROPERTIES",
                                 "ZCONTACTJID", "ZLASTMESSAGEDATE", "ZPARTNERNAME", "ZSAVEINPUT"};
  if (messageColumnCount < 28) {
    std::erase(names, "ZIDENTITYVERIFICATIONEPOCH");
    std::erase(names, "ZSPOTLIGHTSTATUS");
  }
  std::vector<ColumnSchema> columns;
  for (const std::string& name : names) {
    std::string type = "INTEGER";
    if (name == "Z_PK") type = "INTEGER PRIMARY KEY";
    else if (name == "ZLASTMESSAGEDATE") type = "TIMESTAMP";
    else if (name == "ZCONTACTJID" || name == "ZPARTNERNAME" || name == "ZSAVEINPUT") type = "VARCHAR";
    else if (name == "ZPROPERTIES") type = "BLOB";
    columns.push_back({name, type});
  }
  return Table("ZWACHATSESSION", columns);
}

TableSchema WhatsAppMemberTable(int messageColumnCount) {
  std::vector<std::string> names{"Z_PK", "Z_ENT", "Z_OPT", "ZCONTACTABID", "ZISACTIVE", "ZISADMIN",
                                 "ZCHATSESSION", "ZRECENTGROUPCHAT", "ZCONTACTNAME", "ZFIRSTNAME", "ZMEMBERJID"};
  if (messageColumnCount < 28) std::erase(names, "ZISACTIVE");
  std::vector<ColumnSchema> columns;
  for (const std::string& name : names) {
    std::string type = "INTEGER";
    if (name == "Z_PK") type = "INTEGER PRIMARY KEY";
    else if (name == "ZCONTACTNAME" || name == "ZFIRSTNAME" || name == "ZMEMBERJID") type = "VARCHAR";
    columns.push_back({name, type});
  }
  return Table("ZWAGROUPMEMBER", columns);
}

TableSchema QqTableListTable() { return Table("tb_c2cTables", {{"name", "TEXT"}}); }

TableSchema QqMessageTable(const std::string& friendId) {
  std::vector<ColumnSchema> columns{{"id", "INTEGER PRIMARY KEY"}, {"uin", "TEXT"}, {"time", "INTEGER"},
                                    {"type", "INTEGER"}, {"flag", "INTEGER"}, {"read", "INTEGER"},
                                    {"content", "TEXT"}};
  for (int i = 7; i < 50; ++i) columns.push_back({"col" + std::to_string(i), i % 3 == 0 ? "TEXT" : "INTEGER"});
  return Table("tb_c2cMsg_" + friendId, columns);
}

TableSchema WeChatFriendTable() {
  return Table("Friend", {{"id", "INTEGER PRIMARY KEY"}, {"UsrName", "TEXT"}, {"NickName", "TEXT"}, {"Uin", "INTEGER"},
                          {"Email", "TEXT"}, {"Mobile", "TEXT"}, {"Type", "INTEGER"}, {"LastChatTime", "INTEGER"},
                          {"Draft", "TEXT"}, {"Sex", "INTEGER"}, {"Remark", "TEXT"}, {"ImgStatus", "INTEGER"},
                          {"Extra", "BLOB"}});
}

TableSchema WeChatChatTable(const std::string& md5Hex) {
  return Table("Chat_" + md5Hex, {{"TableVer", "INTEGER DEFAULT 1"}, {"MesLocalID", "INTEGER PRIMARY KEY AUTOINCREMENT"},
                                  {"MesSvrID", "INTEGER DEFAULT 0"}, {"CreateTime", "INTEGER DEFAULT 0"},
                                  {"Message", "TEXT"}, {"Status", "INTEGER DEFAULT 0"},
                                  {"ImgStatus", "INTEGER DEFAULT 0"}, {"Type", "INTEGER"}, {"Des", "INTEGER"}});
}

std::vector<FixtureValue> MakeRow(const TableSchema& table, int64_t n, int longTextColumn, std::size_t longTextLength) {
  std::vector<FixtureValue> row;
  const std::string tableLower = Lower(table.name);
  const bool coreData = table.name.starts_with("Z");
  const bool unixDates = tableLower == "call" || tableLower.starts_with("tb_c2c") || tableLower.starts_with("chat_") ||
                         tableLower == "friend";
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
      row.emplace_back(name == "c15phone" ? "+49" + number + " 0" + number + " " + number + " " : "+49" + number);
    } else if (name == "uin" && tableLower.starts_with("tb_c2cmsg_")) {
      row.emplace_back(table.name.substr(std::string("tb_c2cMsg_").size()));
    } else if (name == "name" && tableLower == "tb_c2ctables") {
      row.emplace_back("tb_c2cMsg_" + std::to_string(100000 + n));
    } else if (Contains(name, "jid")) {
      row.emplace_back(std::to_string(4915110000000 + n) + (name == "zcontactjid" && n % 4 == 0 ? "-1400000000@g.us"
                                                                                                : "@s.whatsapp.net"));
    } else if (name == "usrname") {
      row.emplace_back("wxid_" + std::to_string(900000 + n));
    } else if (name == "service") {
      row.emplace_back(n % 3 == 0 ? "SMS" : "iMessage");
    } else if (name == "filename") {
      row.emplace_back("~/Library/SMS/Attachments/" + std::to_string(n % 100) + "/IMG_" + std::to_string(1000 + n) +
                       ".JPG");
    } else if (tableLower == "abpersonfulltextsearch_content" && name != "c0first" && name != "c1last" &&
               name != "c6organization" && name != "c14displayname" && name != "c16email" && name != "c17address") {
      row.emplace_back(nullptr);  // most contact fields are empty
    } else if (name == "text" || name == "ztext" || name == "content" || name == "message" || name == "zcontent" ||
               name == "c8note") {
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
    std::string* error, const std::function<void(const TableSchema&, int64_t, std::vector<FixtureValue>&)>& customize) {
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
      std::vector<FixtureValue> row = MakeRow(fill.table, n, longRow ? fill.textColumn : -1, longRow ? kLongText : 0);
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
      if (fill.plan.wholePages && inner && p % 5 == 2) doomed.insert(doomed.end(), rowIds.begin(), rowIds.end());
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
std::unique_ptr<FixtureDatabase> BuildOrNull(const std::filesystem::path& path, const std::vector<TableFill>& tables) {
  return BuildDatabase(path, tables);
}
TableFill Fill(TableSchema table, int rows, const std::string& textColumn, const DeletionPlan& plan) {
  const int column = textColumn.empty() ? -1 : table.ColumnIndex(textColumn);
  return TableFill{std::move(table), rows, column, plan};
}
}  // namespace

std::unique_ptr<FixtureDatabase> BuildSmsDatabase(const std::filesystem::path& path, int rows, const DeletionPlan& plan) {
  return BuildOrNull(path, {Fill(MessageTable(), rows, "text", plan), Fill(HandleTable(), rows, "", plan),
                            Fill(AttachmentTable(), rows, "", plan), Fill(MessageAttachmentJoinTable(), rows, "", plan)});
}

std::unique_ptr<FixtureDatabase> BuildAddressBookDatabase(const std::filesystem::path& path, int rows,
                                                          const DeletionPlan& plan) {
  return BuildOrNull(path, {Fill(ContactContentTable(), rows, "c8Note", plan)});
}

std::unique_ptr<FixtureDatabase> BuildCallHistoryDatabase(const std::filesystem::path& path, bool coreData, int rows,
                                                          const DeletionPlan& plan) {
  return BuildOrNull(path, {Fill(coreData ? CallRecordTable() : CallTable(), rows, "", plan)});
}

std::unique_ptr<FixtureDatabase> BuildNotesDatabase(const std::filesystem::path& path, int rows,
                                                    const DeletionPlan& plan) {
  return BuildOrNull(path, {Fill(NoteTable(), rows, "ZSUMMARY", plan), Fill(NoteBodyTable(), rows, "ZCONTENT", plan)});
}

std::unique_ptr<FixtureDatabase> BuildWhatsAppDatabase(const std::filesystem::path& path, int messageColumnCount,
                                                       int rows, const DeletionPlan& plan) {
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
  return BuildDatabase(path, tables, {}, nullptr, [&](const TableSchema& table, int64_t n, std::vector<FixtureValue>& row) {
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
