#include "tests/support/sqlite_fixtures/AppSchemas.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace corvyn::testing {
namespace {

TableSchema Table(std::string name, std::vector<ColumnSchema> columns, std::vector<std::string> extra = {}) {
  return TableSchema{std::move(name), std::move(columns), std::move(extra)};
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
               {{"ROWID", "INTEGER PRIMARY KEY AUTOINCREMENT"},
                {"guid", "TEXT UNIQUE NOT NULL"},
                {"text", "TEXT"},
                {"replace", "INTEGER DEFAULT 0"},
                {"service_center", "TEXT"},
                {"handle_id", "INTEGER DEFAULT 0"},
                {"subject", "TEXT"},
                {"country", "TEXT"},
                {"attributedBody", "BLOB"},
                {"version", "INTEGER DEFAULT 0"},
                {"type", "INTEGER DEFAULT 0"},
                {"service", "TEXT"},
                {"account", "TEXT"},
                {"account_guid", "TEXT"},
                {"error", "INTEGER DEFAULT 0"},
                {"date", "INTEGER"},
                {"date_read", "INTEGER"},
                {"date_delivered", "INTEGER"},
                {"is_delivered", "INTEGER DEFAULT 0"},
                {"is_finished", "INTEGER DEFAULT 0"},
                {"is_emote", "INTEGER DEFAULT 0"},
                {"is_from_me", "INTEGER DEFAULT 0"},
                {"is_empty", "INTEGER DEFAULT 0"},
                {"is_delayed", "INTEGER DEFAULT 0"},
                {"is_auto_reply", "INTEGER DEFAULT 0"},
                {"is_prepared", "INTEGER DEFAULT 0"},
                {"is_read", "INTEGER DEFAULT 0"},
                {"is_system_message", "INTEGER DEFAULT 0"},
                {"is_sent", "INTEGER DEFAULT 0"},
                {"has_dd_results", "INTEGER DEFAULT 0"},
                {"is_service_message", "INTEGER DEFAULT 0"},
                {"is_forward", "INTEGER DEFAULT 0"},
                {"was_downgraded", "INTEGER DEFAULT 0"},
                {"is_archive", "INTEGER DEFAULT 0"},
                {"cache_has_attachments", "INTEGER DEFAULT 0"},
                {"cache_roomnames", "TEXT"},
                {"was_data_detected", "INTEGER DEFAULT 0"},
                {"was_deduplicated", "INTEGER DEFAULT 0"}},
               SmsIndexes());
}

TableSchema HandleTable() {
  return Table("handle", {{"ROWID", "INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE"},
                          {"id", "TEXT NOT NULL"},
                          {"country", "TEXT"},
                          {"service", "TEXT NOT NULL"},
                          {"uncanonicalized_id", "TEXT"}});
}

TableSchema AttachmentTable() {
  return Table("attachment", {{"ROWID", "INTEGER PRIMARY KEY AUTOINCREMENT"},
                              {"guid", "TEXT UNIQUE NOT NULL"},
                              {"created_date", "INTEGER DEFAULT 0"},
                              {"start_date", "INTEGER DEFAULT 0"},
                              {"filename", "TEXT"},
                              {"uti", "TEXT"},
                              {"mime_type", "TEXT"},
                              {"transfer_state", "INTEGER DEFAULT 0"},
                              {"is_outgoing", "INTEGER DEFAULT 0"}});
}

TableSchema MessageAttachmentJoinTable() {
  return Table("message_attachment_join",
               {{"message_id", "INTEGER REFERENCES message (ROWID) ON DELETE CASCADE"},
                {"attachment_id", "INTEGER REFERENCES attachment (ROWID) ON DELETE CASCADE"}});
}

TableSchema ContactContentTable() {
  std::vector<ColumnSchema> columns{{"docid", "INTEGER PRIMARY KEY"}};
  const char* names[] = {"c0First",          "c1Last",         "c2Middle",         "c3FirstPhonetic",
                         "c4MiddlePhonetic", "c5LastPhonetic", "c6Organization",   "c7Department",
                         "c8Note",           "c9Birthday",     "c10JobTitle",      "c11Nickname",
                         "c12Prefix",        "c13Suffix",      "c14DisplayName",   "c15Phone",
                         "c16Email",         "c17Address",     "c18SocialProfile", "c19URL",
                         "c20RelatedNames",  "c21IM",          "c22Date"};
  for (const char* name : names) columns.push_back({name, ""});
  return Table("ABPersonFullTextSearch_content", columns);
}

TableSchema CallTable() {
  return Table("call", {{"ROWID", "INTEGER PRIMARY KEY AUTOINCREMENT"},
                        {"address", "TEXT"},
                        {"date", "INTEGER"},
                        {"duration", "INTEGER"},
                        {"flags", "INTEGER"},
                        {"id", "INTEGER"},
                        {"name", "TEXT"},
                        {"country_code", "TEXT"},
                        {"network_code", "TEXT"},
                        {"read", "INTEGER"},
                        {"assisted", "INTEGER"},
                        {"face_time_data", "BLOB"},
                        {"originalAddress", "TEXT"}});
}

TableSchema CallRecordTable() {
  return Table("ZCALLRECORD", {{"Z_PK", "INTEGER PRIMARY KEY"},
                               {"Z_ENT", "INTEGER"},
                               {"Z_OPT", "INTEGER"},
                               {"ZANSWERED", "INTEGER"},
                               {"ZCALLTYPE", "INTEGER"},
                               {"ZDISCONNECTED_CAUSE", "INTEGER"},
                               {"ZFACE_TIME_DATA", "INTEGER"},
                               {"ZNUMBER_AVAILABILITY", "INTEGER"},
                               {"ZORIGINATED", "INTEGER"},
                               {"ZREAD", "INTEGER"},
                               {"ZDATE", "TIMESTAMP"},
                               {"ZDURATION", "FLOAT"},
                               {"ZADDRESS", "VARCHAR"},
                               {"ZDEVICE_ID", "VARCHAR"},
                               {"ZISO_COUNTRY_CODE", "VARCHAR"},
                               {"ZNAME", "VARCHAR"},
                               {"ZUNIQUE_ID", "VARCHAR"}});
}

TableSchema NoteTable() {
  return Table("ZNOTE", {{"Z_PK", "INTEGER PRIMARY KEY"},
                         {"Z_ENT", "INTEGER"},
                         {"Z_OPT", "INTEGER"},
                         {"ZCONTAINSCJK", "INTEGER"},
                         {"ZCONTENTTYPE", "INTEGER"},
                         {"ZDELETEDFLAG", "INTEGER"},
                         {"ZEXTERNALFLAGS", "INTEGER"},
                         {"ZEXTERNALSERVERINTID", "INTEGER"},
                         {"ZINTEGERID", "INTEGER"},
                         {"ZISBOOKKEEPINGENTRY", "INTEGER"},
                         {"ZSTORE", "INTEGER"},
                         {"ZBODY", "INTEGER"},
                         {"ZCREATIONDATE", "TIMESTAMP"},
                         {"ZMODIFICATIONDATE", "TIMESTAMP"},
                         {"ZTITLE", "VARCHAR"},
                         {"ZAUTHOR", "VARCHAR"},
                         {"ZGUID", "VARCHAR"},
                         {"ZSERVERID", "VARCHAR"},
                         {"ZSUMMARY", "VARCHAR"}});
}

TableSchema NoteBodyTable() {
  return Table("ZNOTEBODY", {{"Z_PK", "INTEGER PRIMARY KEY"},
                             {"Z_ENT", "INTEGER"},
                             {"Z_OPT", "INTEGER"},
                             {"ZOWNER", "INTEGER"},
                             {"ZCONTENT", "VARCHAR"},
                             {"ZEXTERNALCONTENTREF", "VARCHAR"},
                             {"ZEXTERNALREPRESENTATION", "BLOB"}});
}

TableSchema WhatsAppMessageTable(int columnCount) {
  std::vector<std::string> names;
  if (columnCount <= 27) {
    names = {"Z_PK",
             "Z_ENT",
             "Z_OPT",
             "ZCHILDMESSAGESDELIVEREDCOUNT",
             "ZCHILDMESSAGESPLAYEDCOUNT",
             "ZCHILDMESSAGESREADCOUNT",
             "ZDATAITEMVERSION",
             "ZISFROMME",
             "ZMESSAGEERRORSTATUS",
             "ZMESSAGESTATUS",
             "ZMESSAGETYPE",
             "ZSORT",
             "ZCHATSESSION",
             "ZGROUPMEMBER",
             "ZLASTSESSION",
             "ZMEDIAITEM",
             "ZMESSAGEINFO",
             "ZMESSAGEDATE",
             "ZSENTDATE",
             "ZFROMJID",
             "ZMEDIASECTIONID",
             "ZTEXT",
             "ZPHASH",
             "ZPUSHNAME",
             "ZSTANZAID",
             "ZTOJID",
             "ZPARENTMESSAGE"};
  } else {
    names = {"Z_PK",
             "Z_ENT",
             "Z_OPT",
             "ZCHILDMESSAGESDELIVEREDCOUNT",
             "ZCHILDMESSAGESPLAYEDCOUNT",
             "ZCHILDMESSAGESREADCOUNT",
             "ZDATAITEMVERSION",
             "ZDOCID",
             "ZENCRETRYCOUNT",
             "ZFILTEREDRECIPIENTCOUNT",
             "ZISFROMME",
             "ZMESSAGEERRORSTATUS",
             "ZMESSAGESTATUS",
             "ZMESSAGETYPE",
             "ZCHATSESSION",
             "ZGROUPMEMBER",
             "ZLASTSESSION",
             "ZMEDIAITEM",
             "ZMESSAGEINFO",
             "ZPARENTMESSAGE",
             "ZMESSAGEDATE",
             "ZSENTDATE",
             "ZFROMJID",
             "ZMEDIASECTIONID",
             "ZPHASH",
             "ZPUSHNAME",
             "ZTEXT",
             "ZTOJID"};
    if (columnCount >= 29) names.insert(names.begin() + 14, "ZSORT");
  }
  std::vector<ColumnSchema> columns;
  for (const std::string& name : names) {
    std::string type = "INTEGER";
    if (name == "Z_PK")
      type = "INTEGER PRIMARY KEY";
    else if (name == "ZMESSAGEDATE" || name == "ZSENTDATE")
      type = "TIMESTAMP";
    else if (name == "ZFROMJID" || name == "ZMEDIASECTIONID" || name == "ZPHASH" || name == "ZPUSHNAME" ||
             name == "ZSTANZAID" || name == "ZTEXT" || name == "ZTOJID")
      type = "VARCHAR";
    columns.push_back({name, type});
  }
  return Table("ZWAMESSAGE", columns);
}

TableSchema WhatsAppChatTable(int messageColumnCount) {
  std::vector<std::string> names{"Z_PK",
                                 "Z_ENT",
                                 "Z_OPT",
                                 "ZARCHIVED",
                                 "ZCONTACTABID",
                                 "ZFLAGS",
                                 "ZHIDDEN",
                                 "ZIDENTITYVERIFICATIONEPOCH",
                                 "ZMESSAGECOUNTER",
                                 "ZREMOVED",
                                 "ZSESSIONTYPE",
                                 "ZSPOTLIGHTSTATUS",
                                 "ZUNREADCOUNT",
                                 "ZGROUPINFO",
                                 "ZLASTMESSAGE",
                                 "ZPROPERTIES",
                                 "ZCONTACTJID",
                                 "ZLASTMESSAGEDATE",
                                 "ZPARTNERNAME",
                                 "ZSAVEINPUT"};
  if (messageColumnCount < 28) {
    std::erase(names, "ZIDENTITYVERIFICATIONEPOCH");
    std::erase(names, "ZSPOTLIGHTSTATUS");
  }
  std::vector<ColumnSchema> columns;
  for (const std::string& name : names) {
    std::string type = "INTEGER";
    if (name == "Z_PK")
      type = "INTEGER PRIMARY KEY";
    else if (name == "ZLASTMESSAGEDATE")
      type = "TIMESTAMP";
    else if (name == "ZCONTACTJID" || name == "ZPARTNERNAME" || name == "ZSAVEINPUT")
      type = "VARCHAR";
    else if (name == "ZPROPERTIES")
      type = "BLOB";
    columns.push_back({name, type});
  }
  return Table("ZWACHATSESSION", columns);
}

TableSchema WhatsAppMemberTable(int messageColumnCount) {
  std::vector<std::string> names{"Z_PK",         "Z_ENT",      "Z_OPT",        "ZCONTACTABID",
                                 "ZISACTIVE",    "ZISADMIN",   "ZCHATSESSION", "ZRECENTGROUPCHAT",
                                 "ZCONTACTNAME", "ZFIRSTNAME", "ZMEMBERJID"};
  if (messageColumnCount < 28) std::erase(names, "ZISACTIVE");
  std::vector<ColumnSchema> columns;
  for (const std::string& name : names) {
    std::string type = "INTEGER";
    if (name == "Z_PK")
      type = "INTEGER PRIMARY KEY";
    else if (name == "ZCONTACTNAME" || name == "ZFIRSTNAME" || name == "ZMEMBERJID")
      type = "VARCHAR";
    columns.push_back({name, type});
  }
  return Table("ZWAGROUPMEMBER", columns);
}

TableSchema QqTableListTable() {
  return Table("tb_c2cTables", {{"name", "TEXT"}});
}

TableSchema QqMessageTable(const std::string& friendId) {
  std::vector<ColumnSchema> columns{
      {"id", "INTEGER PRIMARY KEY"}, {"uin", "TEXT"},     {"time", "INTEGER"}, {"type", "INTEGER"},
      {"flag", "INTEGER"},           {"read", "INTEGER"}, {"content", "TEXT"}};
  for (int i = 7; i < 50; ++i)
    columns.push_back({"col" + std::to_string(i), i % 3 == 0 ? "TEXT" : "INTEGER"});
  return Table("tb_c2cMsg_" + friendId, columns);
}

TableSchema WeChatFriendTable() {
  return Table("Friend", {{"id", "INTEGER PRIMARY KEY"},
                          {"UsrName", "TEXT"},
                          {"NickName", "TEXT"},
                          {"Uin", "INTEGER"},
                          {"Email", "TEXT"},
                          {"Mobile", "TEXT"},
                          {"Type", "INTEGER"},
                          {"LastChatTime", "INTEGER"},
                          {"Draft", "TEXT"},
                          {"Sex", "INTEGER"},
                          {"Remark", "TEXT"},
                          {"ImgStatus", "INTEGER"},
                          {"Extra", "BLOB"}});
}

TableSchema WeChatChatTable(const std::string& md5Hex) {
  return Table("Chat_" + md5Hex, {{"TableVer", "INTEGER DEFAULT 1"},
                                  {"MesLocalID", "INTEGER PRIMARY KEY AUTOINCREMENT"},
                                  {"MesSvrID", "INTEGER DEFAULT 0"},
                                  {"CreateTime", "INTEGER DEFAULT 0"},
                                  {"Message", "TEXT"},
                                  {"Status", "INTEGER DEFAULT 0"},
                                  {"ImgStatus", "INTEGER DEFAULT 0"},
                                  {"Type", "INTEGER"},
                                  {"Des", "INTEGER"}});
}

std::vector<TableSchema> SmsTables() {
  return {MessageTable(), HandleTable(), AttachmentTable(), MessageAttachmentJoinTable()};
}

std::vector<TableSchema> NotesTables() {
  return {NoteTable(), NoteBodyTable()};
}

std::vector<TableSchema> WhatsAppTables(int messageColumnCount) {
  return {WhatsAppChatTable(messageColumnCount), WhatsAppMemberTable(messageColumnCount),
          WhatsAppMessageTable(messageColumnCount)};
}

TableSchema NumberedTable(const std::string& name, int columnCount) {
  std::vector<ColumnSchema> columns{{"c0", "INTEGER PRIMARY KEY"}};
  for (int column = 1; column < columnCount; ++column) {
    std::string columnName = "c";
    columnName += std::to_string(column);
    columns.push_back({columnName, ""});
  }
  return Table(name, columns);
}

}  // namespace corvyn::testing
