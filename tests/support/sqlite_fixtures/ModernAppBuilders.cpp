#include "tests/support/sqlite_fixtures/ModernAppBuilders.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>
#include <vector>

namespace corvyn::testing {
namespace {

constexpr const char* kCallRecord18 =
    "CREATE TABLE ZCALLRECORD ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZANSWERED INTEGER, "
    "ZCALLTYPE INTEGER, ZDISCONNECTED_CAUSE INTEGER, ZFACE_TIME_DATA INTEGER, ZNUMBER_AVAILABILITY INTEGER, "
    "ZORIGINATED INTEGER, ZREAD INTEGER, ZDATE TIMESTAMP, ZDURATION FLOAT, ZDEVICE_ID VARCHAR, "
    "ZISO_COUNTRY_CODE VARCHAR, ZLOCATION VARCHAR, ZNAME VARCHAR, ZUNIQUE_ID VARCHAR, ZADDRESS BLOB )";
constexpr const char* kCallRecord21 =
    "CREATE TABLE ZCALLRECORD ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZANSWERED INTEGER, "
    "ZCALL_CATEGORY INTEGER, ZCALLTYPE INTEGER, ZDISCONNECTED_CAUSE INTEGER, ZFACE_TIME_DATA INTEGER, "
    "ZHANDLE_TYPE INTEGER, ZNUMBER_AVAILABILITY INTEGER, ZORIGINATED INTEGER, ZREAD INTEGER, ZDATE "
    "TIMESTAMP, "
    "ZDURATION FLOAT, ZDEVICE_ID VARCHAR, ZISO_COUNTRY_CODE VARCHAR, ZLOCATION VARCHAR, ZNAME VARCHAR, "
    "ZSERVICE_PROVIDER VARCHAR, ZUNIQUE_ID VARCHAR, ZADDRESS BLOB, UNIQUE (ZUNIQUE_ID) )";

FixtureBlob Blob(const std::string& text) {
  return FixtureBlob{std::vector<uint8_t>(text.begin(), text.end())};
}

struct Call {
  int64_t answered, type, originated;
  FixtureValue date, duration;
  std::string provider;
  FixtureValue address;
};

std::unique_ptr<FixtureDatabase> Fail(std::string* error, const FixtureDatabase& db) {
  if (error != nullptr) *error = db.LastError();
  return nullptr;
}

}  // namespace

std::unique_ptr<FixtureDatabase> BuildModernCallHistory(const std::filesystem::path& path, int columns,
                                                        std::string* error) {
  auto db = FixtureDatabase::Create(path, {}, error);
  if (!db) return nullptr;
  if (!db->Exec(columns == 18 ? kCallRecord18 : kCallRecord21)) return Fail(error, *db);
  const std::vector<Call> calls = {
      {1, 1, 1, 600000000.5, 61.9, "com.apple.Telephony", Blob("+15551230001")},
      {1, 1, 0, int64_t{600000100}, int64_t{30}, "com.apple.Telephony", std::string("+15551230002")},
      {0, 1, 0, 600000200.25, 0.0, "com.apple.Telephony", Blob("+15551230003")},
      {1, 8, 1, 600000300.0, 125.0, "com.apple.FaceTime", Blob("friend@example.com")},
      {1, 16, 0, 600000400.75, 42.5, "com.apple.FaceTime", Blob("+15551230005")},
      {1, 0, 1, 600000500.0, 300.0, "net.whatsapp.WhatsApp", Blob("+15551230006")},
      {1, 1, 1, 600000600.0, 12.0, "com.apple.Telephony", Blob("+15551230007")},
      {1, 8, 0, 600000700.0, 9.0, "com.apple.FaceTime", Blob("other@example.com")},
      {1, 1, 0, 600000800.0, 77.0, "com.apple.Telephony", std::string("+15551230009")},
      {1, 16, 1, 600000900.0, 3.0, "com.apple.FaceTime", Blob("+15551230010")},
  };
  int64_t key = 0;
  for (const Call& call : calls) {
    ++key;
    const std::string unique = "7F3C2A10-0000-4000-8000-0000000000" + std::to_string(10 + key);
    std::vector<FixtureValue> row;
    if (columns == 18) {
      row = {key,        int64_t{2},        int64_t{1},      call.answered, call.type, int64_t{0},
             int64_t{0}, int64_t{0},        call.originated, int64_t{1},    call.date, call.duration,
             nullptr,    std::string("us"), nullptr,         nullptr,       unique,    call.address};
    } else {
      row = {key,           int64_t{2},    int64_t{1},  call.answered,     int64_t{1},      call.type,
             int64_t{0},    int64_t{0},    int64_t{2},  int64_t{0},        call.originated, int64_t{1},
             call.date,     call.duration, nullptr,     std::string("us"), nullptr,         nullptr,
             call.provider, unique,        call.address};
    }
    if (db->Insert("ZCALLRECORD", row) < 0) return Fail(error, *db);
  }
  if (!db->Delete("ZCALLRECORD", {3, 6, 8})) return Fail(error, *db);
  db->Close();
  return db;
}

std::unique_ptr<FixtureDatabase> BuildModernAddressBook(const std::filesystem::path& path,
                                                        std::string* error) {
  auto db = FixtureDatabase::Create(path, {}, error);
  if (!db) return nullptr;
  const char* schema[] = {
      "CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last TEXT, Middle TEXT, "
      "FirstPhonetic TEXT, MiddlePhonetic TEXT, LastPhonetic TEXT, Organization TEXT, Department TEXT, Note "
      "TEXT, "
      "Kind INTEGER, Birthday TEXT, JobTitle TEXT, Nickname TEXT, Prefix TEXT, Suffix TEXT, FirstSort TEXT, "
      "LastSort TEXT, CreationDate INTEGER, ModificationDate INTEGER, CompositeNameFallback TEXT, "
      "ExternalIdentifier TEXT, ExternalModificationTag TEXT, ExternalUUID TEXT, StoreID INTEGER, "
      "DisplayName "
      "TEXT, ExternalRepresentation BLOB, FirstSortSection TEXT, LastSortSection TEXT, "
      "FirstSortLanguageIndex "
      "INTEGER DEFAULT 2147483647, LastSortLanguageIndex INTEGER DEFAULT 2147483647, PersonLink INTEGER "
      "DEFAULT "
      "-1, ImageURI TEXT, IsPreferredName INTEGER DEFAULT 1, guid TEXT, PhonemeData TEXT, AlternateBirthday "
      "TEXT, MapsData TEXT, FirstPronunciation TEXT, MiddlePronunciation TEXT, LastPronunciation TEXT, "
      "OrganizationPhonetic TEXT, OrganizationPronunciation TEXT, PreviousFamilyName TEXT, "
      "PreferredLikenessSource TEXT, PreferredPersonaIdentifier TEXT, PreferredChannel TEXT, "
      "DowntimeWhitelist "
      "TEXT, ImageType TEXT, ImageHash BLOB, MemojiMetadata BLOB)",
      "CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property INTEGER, identifier "
      "INTEGER, label INTEGER, value TEXT, guid TEXT)",
      "CREATE TABLE ABMultiValueLabel (value TEXT, UNIQUE(value))",
      "CREATE TABLE ABPersonFullTextSearch_content(docid INTEGER PRIMARY KEY, 'c0First', 'c1Last', "
      "'c2Middle', "
      "'c3FirstPhonetic', 'c4MiddlePhonetic', 'c5LastPhonetic', 'c6Organization', 'c7OrganizationPhonetic', "
      "'c8Department', 'c9Note', 'c10Birthday', 'c11JobTitle', 'c12Nickname', 'c13Prefix', 'c14Suffix', "
      "'c15DisplayName', 'c16Phone', 'c17Email', 'c18Address', 'c19SocialProfile', 'c20URL', "
      "'c21RelatedNames', 'c22IM', 'c23Date', 'c24SupplementalCompositeNameTerms')",
  };
  for (const char* sql : schema) {
    if (!db->Exec(sql)) return Fail(error, *db);
  }
  for (const char* label : {"_$!<Mobile>!$_", "_$!<Home>!$_", "TextNow"}) {
    if (db->Insert("ABMultiValueLabel", {std::string(label)}) < 0) return Fail(error, *db);
  }
  const auto person = [&](int64_t id, const std::string& first, const std::string& last,
                          const std::string& organization) {
    std::vector<FixtureValue> row(51, nullptr);
    row[0] = id;
    row[1] = first;
    row[2] = last;
    row[7] = organization;
    row[10] = int64_t{0};
    row[18] = int64_t{703260029} + id;
    row[19] = int64_t{703260029} + id;
    row[34] = "4C1C7C2E-0000-4000-8000-00000000000" + std::to_string(id);
    return db->Insert("ABPerson", row) >= 0;
  };
  const auto value = [&](int64_t uid, int64_t record, int64_t property, int64_t identifier,
                         FixtureValue label, const std::string& text) {
    return db->Insert("ABMultiValue",
                      {uid, record, property, identifier, label, text, "9A0B-" + std::to_string(uid)}) >= 0;
  };
  const bool built =
      person(1, "Jane", "Roe", "") && person(2, "Max", "Muster", "Acme Ltd") &&
      person(3, "Gone", "Person", "") && person(4, "", "", "Email Only Inc") &&
      value(1, 1, 3, 0, int64_t{1}, "(919) 888-7386") && value(2, 1, 3, 1, int64_t{3}, "+1 555 010 0202") &&
      value(3, 1, 4, 0, int64_t{2}, "jane@example.com") && value(4, 2, 3, 0, int64_t{2}, "030 1234567") &&
      value(5, 2, 3, 1, int64_t{1}, "0170 7654321") && value(6, 3, 3, 0, int64_t{1}, "+44 20 7946 0000") &&
      value(7, 4, 4, 0, nullptr, "info@example.com");
  if (!built) return Fail(error, *db);
  // A person removed with its value, and one number of a person that stays.
  if (!db->Delete("ABPerson", {3}) || !db->Delete("ABMultiValue", {6}) || !db->Delete("ABMultiValue", {2}))
    return Fail(error, *db);
  db->Close();
  return db;
}

namespace {

struct NamedTable {
  const char* name;
  const char* columns;  // declared order, space separated
  const char* types;    // one per column, same order
};

// Column lists of the app's iOS 15 store, in declared order.
constexpr NamedTable kChatTables[] = {
    {"ZWAMESSAGE",
     "Z_PK Z_ENT Z_OPT ZCHILDMESSAGESDELIVEREDCOUNT ZCHILDMESSAGESPLAYEDCOUNT ZCHILDMESSAGESREADCOUNT "
     "ZDATAITEMVERSION ZDOCID ZENCRETRYCOUNT ZFILTEREDRECIPIENTCOUNT ZFLAGS ZGROUPEVENTTYPE ZISFROMME "
     "ZMESSAGEERRORSTATUS ZMESSAGESTATUS ZMESSAGETYPE ZSORT ZSPOTLIGHTSTATUS ZSTARRED ZCHATSESSION "
     "ZGROUPMEMBER "
     "ZLASTSESSION ZMEDIAITEM ZMESSAGEINFO ZPARENTMESSAGE ZMESSAGEDATE ZSENTDATE ZFROMJID ZMEDIASECTIONID "
     "ZPHASH "
     "ZPUSHNAME ZSTANZAID ZTEXT ZTOJID",
     "IIIIIIIIIIIIIIIIIIIIIIIIITTVVVVVVV"},
    {"ZWACHATSESSION",
     "Z_PK Z_ENT Z_OPT ZARCHIVED ZCONTACTABID ZFLAGS ZHIDDEN ZIDENTITYVERIFICATIONEPOCH "
     "ZIDENTITYVERIFICATIONSTATE ZMESSAGECOUNTER ZREMOVED ZSESSIONTYPE ZSPOTLIGHTSTATUS ZUNREADCOUNT "
     "ZGROUPINFO "
     "ZLASTMESSAGE ZPROPERTIES ZLASTMESSAGEDATE ZLOCATIONSHARINGENDDATE ZCONTACTIDENTIFIER ZCONTACTJID ZETAG "
     "ZLASTMESSAGETEXT ZPARTNERNAME ZSAVEDINPUT",
     "IIIIIIIIIIIIIIIIITTVVVVVV"},
    {"ZWAGROUPMEMBER",
     "Z_PK Z_ENT Z_OPT ZCONTACTABID ZISACTIVE ZISADMIN ZSENDERKEYSENT ZCHATSESSION ZRECENTGROUPCHAT "
     "ZCONTACTIDENTIFIER ZCONTACTNAME ZFIRSTNAME ZMEMBERJID",
     "IIIIIIIIIVVVV"},
    {"ZWAPROFILEPUSHNAME", "Z_PK Z_ENT Z_OPT ZJID ZPUSHNAME", "IIIVV"},
    {"ZWAMEDIAITEM",
     "Z_PK Z_ENT Z_OPT ZCLOUDSTATUS ZFILESIZE ZMEDIAORIGIN ZMOVIEDURATION ZMESSAGE ZASPECTRATIO ZHACCURACY "
     "ZLATITUDE ZLONGITUDE ZMEDIAURLDATE ZAUTHORNAME ZCOLLECTIONNAME ZMEDIALOCALPATH ZMEDIAURL "
     "ZTHUMBNAILLOCALPATH ZTITLE ZVCARDNAME ZVCARDSTRING ZXMPPTHUMBPATH ZMEDIAKEY ZMETADATA",
     "IIIIIIIIFFFFTVVVVVVVVVBB"},
};

std::vector<std::string> Words(const char* text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string CreateSql(const NamedTable& table) {
  const std::vector<std::string> columns = Words(table.columns);
  std::string sql = std::string("CREATE TABLE ") + table.name + " (";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const char type = table.types[i];
    sql += (i == 0 ? " " : ", ") + columns[i] + " " +
           (i == 0        ? "INTEGER PRIMARY KEY"
            : type == 'I' ? "INTEGER"
            : type == 'T' ? "TIMESTAMP"
            : type == 'F' ? "FLOAT"
            : type == 'B' ? "BLOB"
                          : "VARCHAR");
  }
  return sql + " )";
}

// A row of the table from column names (the others NULL).
std::vector<FixtureValue> RowOf(const NamedTable& table, const std::map<std::string, FixtureValue>& values) {
  const std::vector<std::string> columns = Words(table.columns);
  std::vector<FixtureValue> row(columns.size(), nullptr);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (const auto found = values.find(columns[i]); found != values.end()) row[i] = found->second;
  }
  return row;
}

}  // namespace

std::unique_ptr<FixtureDatabase> BuildModernChatStorage(const std::filesystem::path& path,
                                                        std::string* error) {
  auto db = FixtureDatabase::Create(path, {}, error);
  if (!db) return nullptr;
  for (const NamedTable& table : kChatTables) {
    if (!db->Exec(CreateSql(table))) return Fail(error, *db);
  }
  const auto insert = [&](int table, const std::map<std::string, FixtureValue>& values) {
    return db->Insert(kChatTables[table].name, RowOf(kChatTables[table], values)) >= 0;
  };
  const auto message = [&](int64_t key, int64_t chat, FixtureValue member, int64_t fromMe, FixtureValue date,
                           const std::string& text) {
    return insert(0, {{"Z_PK", key},
                      {"Z_ENT", int64_t{9}},
                      {"Z_OPT", int64_t{3}},
                      {"ZISFROMME", fromMe},
                      {"ZMESSAGETYPE", int64_t{0}},
                      {"ZCHATSESSION", chat},
                      {"ZGROUPMEMBER", member},
                      {"ZMESSAGEDATE", date},
                      {"ZSENTDATE", date},
                      {"ZSTANZAID", "3AD2D4F6C4FC6362220" + std::to_string(key)},
                      {"ZTEXT", text}});
  };
  const bool built =
      insert(1, {{"Z_PK", int64_t{1}},
                 {"ZSESSIONTYPE", int64_t{0}},
                 {"ZCONTACTJID", std::string("19198887386@s.whatsapp.net")},
                 {"ZPARTNERNAME", std::string("Dana Two")}}) &&
      insert(1, {{"Z_PK", int64_t{2}},
                 {"ZSESSIONTYPE", int64_t{1}},
                 {"ZCONTACTJID", std::string("120363023356659014@g.us")},
                 {"ZPARTNERNAME", std::string("Test Group")}}) &&
      insert(2, {{"Z_PK", int64_t{1}},
                 {"ZCHATSESSION", int64_t{2}},
                 {"ZCONTACTNAME", std::string()},
                 {"ZMEMBERJID", std::string("19198887386@s.whatsapp.net")}}) &&
      insert(2, {{"Z_PK", int64_t{2}},
                 {"ZCHATSESSION", int64_t{2}},
                 {"ZCONTACTNAME", std::string()},
                 {"ZMEMBERJID", std::string("205690463334636@lid")}}) &&
      insert(3, {{"Z_PK", int64_t{1}},
                 {"ZJID", std::string("19198887386@s.whatsapp.net")},
                 {"ZPUSHNAME", std::string("Dana")}}) &&
      message(1, 1, nullptr, 0, int64_t{666000000}, "Hello from Dana, a longer line of text") &&
      message(2, 1, nullptr, 1, 666000060.5, "Hello back, another longer line of text") &&
      message(3, 2, int64_t{1}, 0, int64_t{666000120}, "Group hello from Dana with enough text") &&
      message(4, 2, int64_t{2}, 0, 666000180.25, "Group hello from the lid member, long text") &&
      message(5, 2, nullptr, 1, int64_t{666000240}, "Group answer from me with a long text line") &&
      message(6, 1, nullptr, 0, int64_t{666000300}, "A deleted message with a fairly long text") &&
      message(7, 1, nullptr, 1, int64_t{666000360}, "Photo caption for the picture sent") &&
      message(8, 2, int64_t{1}, 0, int64_t{666000420}, "Another message in the group chat, long") &&
      insert(4,
             {{"Z_PK", int64_t{1}},
              {"ZMESSAGE", int64_t{7}},
              {"ZMEDIALOCALPATH",
               std::string("Media/19198887386@s.whatsapp.net/d/0/d041d159-0000-4000-8000-000000000001.jpg")},
              {"ZVCARDSTRING", std::string("image/jpeg")}});
  if (!built) return Fail(error, *db);
  if (!db->Delete("ZWAMESSAGE", {6}) || !db->Delete("ZWAMESSAGE", {3})) return Fail(error, *db);
  db->Close();
  return db;
}

TableSchema TableSchemaOf(const std::filesystem::path& database, const std::string& table) {
  TableSchema schema{table, {}, {}};
  sqlite3* handle = nullptr;
  if (sqlite3_open_v2(database.string().c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(handle);
    return schema;
  }
  sqlite3_stmt* statement = nullptr;
  const std::string sql =
      "SELECT name, type, pk, \"notnull\" FROM pragma_table_info('" + table + "') ORDER BY cid";
  if (sqlite3_prepare_v2(handle, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
    while (sqlite3_step(statement) == SQLITE_ROW) {
      ColumnSchema column;
      column.name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
      const unsigned char* type = sqlite3_column_text(statement, 1);
      column.type = type != nullptr ? reinterpret_cast<const char*>(type) : "";
      if (sqlite3_column_int(statement, 2) == 1) column.type += " PRIMARY KEY";
      if (sqlite3_column_int(statement, 3) == 1) column.type += " NOT NULL";
      schema.columns.push_back(std::move(column));
    }
  }
  sqlite3_finalize(statement);
  sqlite3_close(handle);
  return schema;
}

std::unique_ptr<FixtureDatabase> BuildTableWithDeletions(
    const std::filesystem::path& path, const TableSchema& table, int rows, uint32_t randomStart,
    std::string* error,
    const std::function<void(const TableSchema&, int64_t, std::vector<FixtureValue>&)>& customize) {
  auto db = FixtureDatabase::Create(path, {}, error);
  if (!db) return nullptr;
  if (table.columns.empty() || !db->Exec(table.CreateSql())) return Fail(error, *db);
  if (!db->Begin()) return Fail(error, *db);
  for (int64_t n = 1; n <= rows; ++n) {
    std::vector<FixtureValue> row = MakeRow(table, n);
    if (customize) customize(table, n, row);
    if (db->Insert(table.name, row) < 0) return Fail(error, *db);
  }
  if (!db->Commit()) return Fail(error, *db);

  std::vector<std::vector<int64_t>> pages;  // leaf pages in key order
  for (const auto& [index, rowIds] : db->RowIdsByLeafPage(table.name))
    if (!rowIds.empty()) pages.push_back(rowIds);
  std::sort(pages.begin(), pages.end(), [](const auto& a, const auto& b) { return a.front() < b.front(); });
  std::vector<int64_t> whole, runs, random;
  std::mt19937 pick(randomStart);
  for (std::size_t p = 0; p < pages.size(); ++p) {
    const std::vector<int64_t>& rowIds = pages[p];
    const bool inner = p > 0 && p + 1 < pages.size();
    if (inner && p % 5 == 2) {
      whole.insert(whole.end(), rowIds.begin(), rowIds.end());
      continue;
    }
    std::size_t runStart = rowIds.size();
    if (p % 5 == 4 && rowIds.size() >= 6) {
      runStart = rowIds.size() / 3;
      runs.insert(runs.end(), rowIds.begin() + static_cast<std::ptrdiff_t>(runStart),
                  rowIds.begin() + static_cast<std::ptrdiff_t>(runStart + 4));
    }
    for (std::size_t i = 0; i < rowIds.size(); ++i) {
      const bool inRun = i >= runStart && i < runStart + 4;
      if (!inRun && pick() % 8 == 0) random.push_back(rowIds[i]);
    }
  }
  for (std::vector<int64_t>* doomed : {&random, &runs, &whole}) {
    std::sort(doomed->begin(), doomed->end());
    if (!doomed->empty() && !db->Delete(table.name, *doomed)) return Fail(error, *db);
  }
  db->Close();
  return db;
}

}  // namespace corvyn::testing
