#include "tests/support/backup_builder/FixtureDatabases.h"

#include <sqlite3.h>

#include <system_error>

namespace corvyn::testsupport {
namespace fs = std::filesystem;
namespace {

class Database {
 public:
  explicit Database(const fs::path& path) {
    std::error_code error;
    fs::remove(path, error);
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) ok_ = false;
    Exec("PRAGMA journal_mode=DELETE; PRAGMA page_size=4096;");
  }
  ~Database() { sqlite3_close(db_); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void Exec(const std::string& sql) {
    if (!ok_) return;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) ok_ = false;
  }

  // Runs an INSERT with text/integer values bound in order ('?' placeholders).
  void Insert(const std::string& sql, const std::vector<std::string>& texts,
              const std::vector<int64_t>& numbers, const std::string& order) {
    if (!ok_) return;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      ok_ = false;
      return;
    }
    std::size_t textIndex = 0, numberIndex = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
      const int slot = static_cast<int>(i) + 1;
      if (order[i] == 't') {
        const std::string& text = texts[textIndex++];
        sqlite3_bind_text(statement, slot, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      } else {
        sqlite3_bind_int64(statement, slot, numbers[numberIndex++]);
      }
    }
    if (sqlite3_step(statement) != SQLITE_DONE) ok_ = false;
    sqlite3_finalize(statement);
  }

  Status Result() const { return ok_ ? kOk : kInvalidData; }

 private:
  sqlite3* db_ = nullptr;
  bool ok_ = true;
};

std::string Columns(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& name : names) out += (out.empty() ? "" : ", ") + name;
  return out;
}

constexpr int64_t kCocoa2014 = 420000000;  // 2014-04-24 in seconds since 2001

}  // namespace

DatabaseTruth FixtureTruth() {
  DatabaseTruth truth;
  truth.messages = {{1, "+4915112345678", "Hello from the fixture", 0},
                    {1, "+4915112345678", "Reply sent by the owner", 1},
                    {2, "anna@example.com", "Unicode text: caf\xC3\xA9 \xE2\x98\x95", 0}};
  truth.contacts = {{"Anna", "Berger", "+4915112345678"}, {"Ben", "Carlsen", "+4930123456"}};
  truth.calls = {{"+4915112345678", 65, 1}, {"+4930123456", 0, 0}};
  truth.notes = {{"Shopping list", "<div>Milk, bread</div>"}, {"Ideas", "<div>Write tests</div>"}};
  truth.whatsApp = {{1, "WhatsApp hello", 0}, {1, "WhatsApp answer", 1}};
  return truth;
}

Status WriteMessagesDb(const fs::path& path) {
  Database db(path);
  db.Exec(
      "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT, text TEXT, replace INTEGER, "
      "service_center TEXT, handle_id INTEGER, subject TEXT, country TEXT, attributedBody BLOB, version "
      "INTEGER, "
      "type INTEGER, service TEXT, account TEXT, account_guid TEXT, error INTEGER, date INTEGER, date_read "
      "INTEGER, date_delivered INTEGER, is_delivered INTEGER, is_finished INTEGER, is_emote INTEGER, "
      "is_from_me "
      "INTEGER, is_empty INTEGER, is_delayed INTEGER, is_auto_reply INTEGER, is_prepared INTEGER, is_read "
      "INTEGER, is_system_message INTEGER, is_sent INTEGER, has_dd_results INTEGER, is_service_message "
      "INTEGER, "
      "is_forward INTEGER, was_downgraded INTEGER, is_archive INTEGER, cache_has_attachments INTEGER, "
      "cache_roomnames TEXT, was_data_detected INTEGER, was_deduplicated INTEGER);"
      "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, id TEXT, country TEXT, service TEXT, "
      "uncanonicalized_id TEXT);"
      "CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT, created_date INTEGER, "
      "start_date INTEGER, filename TEXT, uti TEXT, mime_type TEXT, transfer_state INTEGER, is_outgoing "
      "INTEGER);"
      "CREATE TABLE message_attachment_join (message_id INTEGER, attachment_id INTEGER);");
  const DatabaseTruth truth = FixtureTruth();
  db.Insert("INSERT INTO handle (ROWID, id, country, service) VALUES (?, ?, 'de', 'SMS')", {"+4915112345678"},
            {1}, "nt");
  db.Insert("INSERT INTO handle (ROWID, id, country, service) VALUES (?, ?, 'de', 'iMessage')",
            {"anna@example.com"}, {2}, "nt");
  int64_t date = kCocoa2014;
  int64_t rowId = 1;
  for (const auto& message : truth.messages) {
    db.Insert(
        "INSERT INTO message (ROWID, guid, text, handle_id, service, date, is_from_me, is_sent, is_read) "
        "VALUES (?, ?, ?, ?, 'SMS', ?, ?, 1, 1)",
        {"GUID-" + std::to_string(rowId), message.text}, {rowId, message.handleId, date, message.sent},
        "nttnnn");
    date += 60;
    ++rowId;
  }
  return db.Result();
}

Status WriteAddressBookDb(const fs::path& path) {
  Database db(path);
  db.Exec("CREATE TABLE ABPersonFullTextSearch_content (" +
          Columns({"docid INTEGER PRIMARY KEY",
                   "c0First",
                   "c1Last",
                   "c2Middle",
                   "c3FirstPhonetic",
                   "c4MiddlePhonetic",
                   "c5LastPhonetic",
                   "c6Organization",
                   "c7Department",
                   "c8Note",
                   "c9Birthday",
                   "c10JobTitle",
                   "c11Nickname",
                   "c12Prefix",
                   "c13Suffix",
                   "c14DisplayName",
                   "c15Phone",
                   "c16Email",
                   "c17Address",
                   "c18SocialProfile",
                   "c19URL",
                   "c20RelatedNames",
                   "c21IM",
                   "c22Date"}) +
          ");");
  int64_t docId = 1;
  for (const auto& contact : FixtureTruth().contacts) {
    db.Insert(
        "INSERT INTO ABPersonFullTextSearch_content (docid, c0First, c1Last, c6Organization, c15Phone, "
        "c16Email) "
        "VALUES (?, ?, ?, 'Example GmbH', ?, ?)",
        {contact.first, contact.last, contact.phone + " ", contact.first + "@example.com"}, {docId++},
        "ntttt");
  }
  return db.Result();
}

Status WriteOlderCallHistoryDb(const fs::path& path) {
  Database db(path);
  db.Exec(
      "CREATE TABLE call (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date INTEGER, duration "
      "INTEGER, flags INTEGER, id INTEGER, name TEXT, country_code TEXT, network_code TEXT, read INTEGER, "
      "assisted INTEGER, face_time_data BLOB, originalAddress TEXT);");
  int64_t date = 1400000000;
  for (const auto& call : FixtureTruth().calls) {
    db.Insert("INSERT INTO call (address, date, duration, flags, id, read) VALUES (?, ?, ?, ?, -1, 1)",
              {call.number}, {date, call.duration, call.incoming ? 0 : 1}, "tnnn");
    date += 3600;
  }
  return db.Result();
}

Status WriteCallHistoryStoreDb(const fs::path& path) {
  Database db(path);
  db.Exec(
      "CREATE TABLE ZCALLRECORD (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZANSWERED INTEGER, "
      "ZCALLTYPE INTEGER, ZDISCONNECTED_CAUSE INTEGER, ZFACE_TIME_DATA INTEGER, ZNUMBER_AVAILABILITY "
      "INTEGER, "
      "ZORIGINATED INTEGER, ZREAD INTEGER, ZDATE TIMESTAMP, ZDURATION FLOAT, ZADDRESS VARCHAR, ZDEVICE_ID "
      "VARCHAR, ZISO_COUNTRY_CODE VARCHAR, ZNAME VARCHAR, ZUNIQUE_ID VARCHAR);");
  int64_t date = kCocoa2014;
  int64_t key = 1;
  for (const auto& call : FixtureTruth().calls) {
    db.Insert(
        "INSERT INTO ZCALLRECORD (Z_PK, Z_ENT, Z_OPT, ZANSWERED, ZCALLTYPE, ZORIGINATED, ZREAD, ZDATE, "
        "ZDURATION, "
        "ZADDRESS, ZUNIQUE_ID) VALUES (?, 2, 1, 1, 1, ?, 1, ?, ?, ?, ?)",
        {call.number, "UID-" + std::to_string(key)}, {key, call.incoming ? 0 : 1, date, call.duration},
        "nnnntt");
    date += 3600;
    ++key;
  }
  return db.Result();
}

Status WriteNotesDb(const fs::path& path) {
  Database db(path);
  db.Exec(
      "CREATE TABLE ZNOTE (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCONTAINSCJK INTEGER, "
      "ZCONTENTTYPE INTEGER, ZDELETEDFLAG INTEGER, ZEXTERNALFLAGS INTEGER, ZEXTERNALSERIALNUMBER INTEGER, "
      "ZINTEGERID INTEGER, ZISBOOKKEEPINGENTRY INTEGER, ZSTORE INTEGER, ZBODY INTEGER, ZCREATIONDATE "
      "TIMESTAMP, "
      "ZMODIFICATIONDATE TIMESTAMP, ZTITLE VARCHAR, ZAUTHOR VARCHAR, ZGUID VARCHAR, ZSERVERID VARCHAR, "
      "ZSUMMARY "
      "VARCHAR);"
      "CREATE TABLE ZNOTEBODY (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZOWNER INTEGER, "
      "ZCONTENT "
      "VARCHAR, ZEXTERNALCONTENTREF VARCHAR, ZEXTERNALREPRESENTATION BLOB);");
  int64_t key = 1;
  int64_t date = kCocoa2014;
  for (const auto& note : FixtureTruth().notes) {
    db.Insert(
        "INSERT INTO ZNOTE (Z_PK, Z_ENT, Z_OPT, ZDELETEDFLAG, ZSTORE, ZBODY, ZCREATIONDATE, "
        "ZMODIFICATIONDATE, "
        "ZTITLE, ZGUID) VALUES (?, 7, 1, 0, 1, ?, ?, ?, ?, ?)",
        {note.title, "NOTE-" + std::to_string(key)}, {key, key, date, date}, "nnnntt");
    db.Insert("INSERT INTO ZNOTEBODY (Z_PK, Z_ENT, Z_OPT, ZOWNER, ZCONTENT) VALUES (?, 6, 1, ?, ?)",
              {note.body}, {key, key}, "nnt");
    ++key;
    date += 86400;
  }
  return db.Result();
}

Status WriteWhatsAppDb(const fs::path& path) {
  Database db(path);
  // The 27-column ZWAMESSAGE layout: session 12, member 13, date 17, from-me 7, text 21.
  std::vector<std::string> messageColumns = {"Z_PK INTEGER PRIMARY KEY",
                                             "Z_ENT",
                                             "Z_OPT",
                                             "ZCHILDMESSAGESDELIVEREDCOUNT",
                                             "ZCHILDMESSAGESPLAYEDCOUNT",
                                             "ZCHILDMESSAGESREADCOUNT",
                                             "ZFILTEREDRECIPIENTCOUNT",
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
                                             "ZTOJID",
                                             "ZSTANZAID",
                                             "ZPUSHNAME",
                                             "ZPHASH",
                                             "ZSPOTLIGHTSTATUS"};
  db.Exec("CREATE TABLE ZWAMESSAGE (" + Columns(messageColumns) + ");");
  std::vector<std::string> chatColumns = {"Z_PK INTEGER PRIMARY KEY",
                                          "Z_ENT",
                                          "Z_OPT",
                                          "ZARCHIVED",
                                          "ZCONTACTABID",
                                          "ZFLAGS",
                                          "ZHIDDEN",
                                          "ZMESSAGECOUNTER",
                                          "ZREMOVED",
                                          "ZSESSIONTYPE",
                                          "ZSPOTLIGHTSTATUS",
                                          "ZUNREADCOUNT",
                                          "ZGROUPINFO",
                                          "ZLASTMESSAGE",
                                          "ZCONTACTJID",
                                          "ZLASTMESSAGEDATE",
                                          "ZPARTNERNAME",
                                          "ZSAVEDINPUT"};
  db.Exec("CREATE TABLE ZWACHATSESSION (" + Columns(chatColumns) + ");");
  std::vector<std::string> memberColumns = {
      "Z_PK INTEGER PRIMARY KEY", "Z_ENT",        "Z_OPT",      "ZISACTIVE", "ZISADMIN", "ZCHATSESSION",
      "ZRECENTGROUPCHAT",         "ZCONTACTNAME", "ZFIRSTNAME", "ZMEMBERJID"};
  db.Exec("CREATE TABLE ZWAGROUPMEMBER (" + Columns(memberColumns) + ");");
  db.Insert(
      "INSERT INTO ZWACHATSESSION (Z_PK, Z_ENT, Z_OPT, ZSESSIONTYPE, ZCONTACTJID, ZPARTNERNAME) "
      "VALUES (1, 4, 1, 0, ?, ?)",
      {"4915112345678@s.whatsapp.net", "Anna Berger"}, {}, "tt");
  int64_t key = 1;
  int64_t date = kCocoa2014;
  for (const auto& message : FixtureTruth().whatsApp) {
    db.Insert(
        "INSERT INTO ZWAMESSAGE (Z_PK, Z_ENT, Z_OPT, ZISFROMME, ZMESSAGESTATUS, ZMESSAGETYPE, ZCHATSESSION, "
        "ZMESSAGEDATE, ZFROMJID, ZTEXT) VALUES (?, 9, 1, ?, 8, 0, ?, ?, ?, ?)",
        {message.sent ? "" : "4915112345678@s.whatsapp.net", message.text},
        {key, message.sent, message.sessionId, date}, "nnnntt");
    ++key;
    date += 30;
  }
  return db.Result();
}

}  // namespace corvyn::testsupport
