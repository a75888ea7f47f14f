#include "tests/support/backup_builder/FixtureDatabases.h"

#include <cstdio>
#include <exception>
#include <map>

#include "tests/support/sqlite_fixtures/AppDatabase.h"

namespace corvyn::testsupport {
namespace fs = std::filesystem;
namespace {

using testing::AppDatabase;
using testing::NamedValues;

constexpr int64_t kCocoa2014 = 420000000;  // 2014-04-24 in seconds since 2001

// Runs `write` on a fresh database at `path` and closes it: kOk, or
// kInvalidData when SQLite failed on the way.
template <typename Write>
Status WriteDatabase(const fs::path& path, Write write) {
  try {
    AppDatabase db(path);
    // One transaction: a heavy user's hundred thousand rows are written in seconds.
    db.Exec("BEGIN");
    write(db);
    db.Exec("COMMIT");
    db.Close();
    return kOk;
  } catch (const std::exception&) {
    return kInvalidData;
  }
}

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

DatabaseTruth HostileTruth() {
  const std::string script = "<script>alert(1)</script>";
  const std::string image = "<img src=x onerror=alert(2)>";
  const std::string quoted = "\"quoted\", comma, line\nbreak";
  DatabaseTruth truth;
  truth.messages = {{1, "../../escape", script, 0},
                    {1, "../../escape", quoted, 1},
                    {2, "a/b", "=1+1", 0},
                    {2, "a/b", "@SUM(1)", 1},
                    {3, "..", image, 0},
                    {4, "name. \x01\x1f. ", "control \x01\x02\x7f text", 0}};
  truth.contacts = {{script, "..", "=1+1"}, {"a/b", "name. ", "@SUM(1)"}, {image, "\x01\x1f", quoted}};
  truth.calls = {{"=1+1", 65, 1}, {image, 0, 0}};
  truth.notes = {{"../../escape", script}, {"name. \x01 ", quoted}, {"a/b", image}};
  truth.whatsApp = {{1, script, 0}, {1, "=1+1", 1}, {1, quoted, 0}, {1, image, 1}};
  truth.whatsAppPartner = "../../escape";
  truth.whatsAppJid = "a/b@s.whatsapp.net";
  return truth;
}

Status WriteMessagesDb(const fs::path& path, const DatabaseTruth& truth) {
  return WriteDatabase(path, [&truth](AppDatabase& db) {
    db.Create(testing::SmsTables());
    std::map<int32_t, std::string> handles;
    for (const auto& message : truth.messages) handles.emplace(message.handleId, message.address);
    for (const auto& [handleId, address] : handles) {
      db.Insert("handle", NamedValues{{"id", address}, {"country", "de"}, {"service", "SMS"}}, handleId);
    }
    int64_t date = kCocoa2014;
    int64_t rowId = 1;
    for (const auto& message : truth.messages) {
      NamedValues values{{"guid", "GUID-" + std::to_string(rowId)},
                         {"text", message.text},
                         {"handle_id", int64_t{message.handleId}},
                         {"service", "SMS"},
                         {"date", date},
                         {"is_from_me", int64_t{message.sent}},
                         {"is_sent", int64_t{1}},
                         {"is_read", int64_t{1}}};
      if (truth.phoneSizedMessageRows) {
        char guid[40];
        std::snprintf(guid, sizeof guid, "%08llX-4E2A-4C1B-9F3D-%012llX",
                      static_cast<unsigned long long>(rowId * 2654435761ULL % 0xFFFFFFFFULL),
                      static_cast<unsigned long long>(rowId * 40503ULL));
        const bool iMessage = rowId % 3 != 0;
        values = NamedValues{{"guid", std::string(guid)},
                             {"text", message.text},
                             {"handle_id", int64_t{message.handleId}},
                             {"version", int64_t{10}},
                             {"service", iMessage ? "iMessage" : "SMS"},
                             {"account", iMessage ? "e:owner.of.this.phone@icloud.com" : "p:+4915112345678"},
                             {"account_guid", "6C3A21F0-7D55-4B8E-A1C2-93E4F5A6B7C8"},
                             {"date", date},
                             {"date_read", date + 45},
                             {"date_delivered", date + 2},
                             {"is_delivered", int64_t{1}},
                             {"is_finished", int64_t{1}},
                             {"is_from_me", int64_t{message.sent}},
                             {"is_sent", int64_t{message.sent}},
                             {"is_read", int64_t{1}}};
      }
      db.Insert("message", values, rowId);
      date += 60;
      ++rowId;
    }
  });
}

Status WriteAddressBookDb(const fs::path& path, const DatabaseTruth& truth) {
  return WriteDatabase(path, [&truth](AppDatabase& db) {
    db.Create(testing::ContactContentTable());
    int64_t docId = 1;
    for (const auto& contact : truth.contacts) {
      db.Insert("ABPersonFullTextSearch_content",
                NamedValues{{"c0First", contact.first},
                            {"c1Last", contact.last},
                            {"c6Organization", "Example GmbH"},
                            {"c15Phone", contact.phone + " "},
                            {"c16Email", contact.first + "@example.com"}},
                docId++);
    }
  });
}

Status WriteOlderCallHistoryDb(const fs::path& path, const DatabaseTruth& truth) {
  return WriteDatabase(path, [&truth](AppDatabase& db) {
    db.Create(testing::CallTable());
    int64_t date = 1400000000;
    for (const auto& call : truth.calls) {
      db.Insert("call", NamedValues{{"address", call.number},
                                    {"date", date},
                                    {"duration", int64_t{call.duration}},
                                    {"flags", int64_t{call.incoming ? 0 : 1}},
                                    {"id", int64_t{-1}},
                                    {"read", int64_t{1}}});
      date += 3600;
    }
  });
}

Status WriteCallHistoryStoreDb(const fs::path& path, const DatabaseTruth& truth) {
  return WriteDatabase(path, [&truth](AppDatabase& db) {
    db.Create(testing::CallRecordTable());
    int64_t date = kCocoa2014;
    int64_t key = 1;
    for (const auto& call : truth.calls) {
      db.Insert("ZCALLRECORD",
                NamedValues{{"Z_ENT", int64_t{2}},
                            {"Z_OPT", int64_t{1}},
                            {"ZANSWERED", int64_t{1}},
                            {"ZCALLTYPE", int64_t{1}},
                            {"ZORIGINATED", int64_t{call.incoming ? 0 : 1}},
                            {"ZREAD", int64_t{1}},
                            {"ZDATE", date},
                            {"ZDURATION", int64_t{call.duration}},
                            {"ZADDRESS", call.number},
                            {"ZUNIQUE_ID", "UID-" + std::to_string(key)}},
                key);
      date += 3600;
      ++key;
    }
  });
}

Status WriteNotesDb(const fs::path& path, const DatabaseTruth& truth) {
  return WriteDatabase(path, [&truth](AppDatabase& db) {
    db.Create(testing::NotesTables());
    int64_t key = 1;
    int64_t date = kCocoa2014;
    for (const auto& note : truth.notes) {
      db.Insert("ZNOTE",
                NamedValues{{"Z_ENT", int64_t{7}},
                            {"Z_OPT", int64_t{1}},
                            {"ZDELETEDFLAG", int64_t{0}},
                            {"ZSTORE", int64_t{1}},
                            {"ZBODY", key},
                            {"ZCREATIONDATE", date},
                            {"ZMODIFICATIONDATE", date},
                            {"ZTITLE", note.title},
                            {"ZGUID", "NOTE-" + std::to_string(key)}},
                key);
      db.Insert(
          "ZNOTEBODY",
          NamedValues{{"Z_ENT", int64_t{6}}, {"Z_OPT", int64_t{1}}, {"ZOWNER", key}, {"ZCONTENT", note.body}},
          key);
      ++key;
      date += 86400;
    }
  });
}

Status WriteWhatsAppDb(const fs::path& path, const DatabaseTruth& truth) {
  return WriteDatabase(path, [&truth](AppDatabase& db) {
    // The 27-column ZWAMESSAGE layout: session 12, member 13, date 17, from-me 7, text 21.
    db.Create(testing::WhatsAppTables(27));
    db.Insert("ZWACHATSESSION",
              NamedValues{{"Z_ENT", int64_t{4}},
                          {"Z_OPT", int64_t{1}},
                          {"ZSESSIONTYPE", int64_t{0}},
                          {"ZCONTACTJID", truth.whatsAppJid},
                          {"ZPARTNERNAME", truth.whatsAppPartner}},
              1);
    int64_t key = 1;
    int64_t date = kCocoa2014;
    for (const auto& message : truth.whatsApp) {
      db.Insert("ZWAMESSAGE",
                NamedValues{{"Z_ENT", int64_t{9}},
                            {"Z_OPT", int64_t{1}},
                            {"ZISFROMME", int64_t{message.sent}},
                            {"ZMESSAGESTATUS", int64_t{8}},
                            {"ZMESSAGETYPE", int64_t{0}},
                            {"ZCHATSESSION", int64_t{message.sessionId}},
                            {"ZMESSAGEDATE", date},
                            {"ZFROMJID", message.sent ? "" : truth.whatsAppJid},
                            {"ZTEXT", message.text}},
                key);
      ++key;
      date += 30;
    }
  });
}

}  // namespace corvyn::testsupport
