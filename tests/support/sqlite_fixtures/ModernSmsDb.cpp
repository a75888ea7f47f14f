#include "tests/support/sqlite_fixtures/ModernSmsDb.h"

#include <sqlite3.h>

#include <map>

namespace corvyn::testing {
namespace {

constexpr const char* kMessageTable =
    "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, text TEXT,"
    " replace INTEGER DEFAULT 0, service_center TEXT, handle_id INTEGER DEFAULT 0, subject TEXT, country "
    "TEXT, attributedBody BLOB, version INTEGER DEFAULT 0, type INTEGER DEFAULT 0, service TEXT, account "
    "TEXT, account_guid TEXT, error INTEGER DEFAULT 0, date INTEGER, date_read INTEGER, date_delivered "
    "INTEGER, is_delivered INTEGER DEFAULT 0, is_finished INTEGER DEFAULT 0, is_emote INTEGER DEFAULT 0, "
    "is_from_me INTEGER DEFAULT 0, is_empty INTEGER DEFAULT 0, is_delayed INTEGER DEFAULT 0, "
    "is_auto_reply INTEGER DEFAULT 0, is_prepared INTEGER DEFAULT 0, is_read INTEGER DEFAULT 0, "
    "is_system_message INTEGER DEFAULT 0, is_sent INTEGER DEFAULT 0, has_dd_results INTEGER DEFAULT 0, "
    "is_service_message INTEGER DEFAULT 0, is_forward INTEGER DEFAULT 0, was_downgraded INTEGER DEFAULT "
    "0, is_archive INTEGER DEFAULT 0, cache_has_attachments INTEGER DEFAULT 0, cache_roomnames TEXT, "
    "was_data_detected INTEGER DEFAULT 0, was_deduplicated INTEGER DEFAULT 0, is_audio_message INTEGER "
    "DEFAULT 0, is_played INTEGER DEFAULT 0, date_played INTEGER, item_type INTEGER DEFAULT 0, "
    "other_handle INTEGER DEFAULT 0, group_title TEXT, group_action_type INTEGER DEFAULT 0, share_status "
    "INTEGER DEFAULT 0, share_direction INTEGER DEFAULT 0, is_expirable INTEGER DEFAULT 0, expire_state "
    "INTEGER DEFAULT 0, message_action_type INTEGER DEFAULT 0, message_source INTEGER DEFAULT 0, "
    "associated_message_guid TEXT, associated_message_type INTEGER DEFAULT 0, balloon_bundle_id TEXT, "
    "payload_data BLOB, expressive_send_style_id TEXT, associated_message_range_location INTEGER DEFAULT "
    "0, associated_message_range_length INTEGER DEFAULT 0, time_expressive_send_played INTEGER, "
    "message_summary_info BLOB, ck_sync_state INTEGER DEFAULT 0, ck_record_id TEXT, ck_record_change_tag "
    "TEXT, destination_caller_id TEXT, sr_ck_sync_state INTEGER DEFAULT 0, sr_ck_record_id TEXT, "
    "sr_ck_record_change_tag TEXT, is_corrupt INTEGER DEFAULT 0, reply_to_guid TEXT, sort_id INTEGER, "
    "is_spam INTEGER DEFAULT 0, has_unseen_mention INTEGER DEFAULT 0, thread_originator_guid TEXT, "
    "thread_originator_part TEXT, syndication_ranges TEXT DEFAULT NULL, synced_syndication_ranges TEXT "
    "DEFAULT NULL, was_delivered_quietly INTEGER DEFAULT 0, did_notify_recipient INTEGER DEFAULT 0, "
    "date_retracted INTEGER DEFAULT 0, date_edited INTEGER DEFAULT 0, was_detonated INTEGER DEFAULT 0, "
    "part_count INTEGER)";
constexpr const char* kOtherTables[] = {
    "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, country TEXT,"
    " service TEXT NOT NULL, uncanonicalized_id TEXT, person_centric_id TEXT, UNIQUE (id, service))",
    "CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, style INTEGER,"
    " state INTEGER, account_id TEXT, properties BLOB, chat_identifier TEXT, service_name TEXT, room_name "
    "TEXT,"
    " account_login TEXT, is_archived INTEGER DEFAULT 0, last_addressed_handle TEXT, display_name TEXT,"
    " group_id TEXT, is_filtered INTEGER, successful_query INTEGER)",
    "CREATE TABLE chat_handle_join (chat_id INTEGER, handle_id INTEGER, UNIQUE(chat_id, handle_id))",
    "CREATE TABLE chat_message_join (chat_id INTEGER, message_id INTEGER, message_date INTEGER DEFAULT 0,"
    " PRIMARY KEY (chat_id, message_id))",
    "CREATE TABLE chat_recoverable_message_join (chat_id INTEGER, message_id INTEGER, delete_date INTEGER,"
    " ck_sync_state INTEGER DEFAULT 0, PRIMARY KEY (chat_id, message_id))",
    "CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL,"
    " created_date INTEGER DEFAULT 0, start_date INTEGER DEFAULT 0, filename TEXT, uti TEXT, mime_type TEXT,"
    " transfer_state INTEGER DEFAULT 0, is_outgoing INTEGER DEFAULT 0, user_info BLOB, transfer_name TEXT,"
    " total_bytes INTEGER DEFAULT 0)",
    "CREATE TABLE message_attachment_join (message_id INTEGER, attachment_id INTEGER,"
    " UNIQUE(message_id, attachment_id))",
};

using Named = std::map<std::string, FixtureValue>;

// Inserts a row given by column name; the other columns are NULL.
int64_t InsertNamed(FixtureDatabase& db, sqlite3* handle, const std::string& table, const Named& values) {
  std::vector<FixtureValue> row;
  sqlite3_stmt* statement = nullptr;
  const std::string sql = "SELECT name FROM pragma_table_info('" + table + "') ORDER BY cid";
  if (sqlite3_prepare_v2(handle, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) return -1;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    const auto value = values.find(name);
    row.push_back(value == values.end() ? FixtureValue(nullptr) : value->second);
  }
  sqlite3_finalize(statement);
  return db.Insert(table, row);
}

// A guid of 36 characters, like Messages writes.
std::string Guid(int64_t number) {
  char text[40];
  std::snprintf(text, sizeof text, "%08llX-0000-4000-8000-%012llX", static_cast<unsigned long long>(number),
                static_cast<unsigned long long>(number * 7919));
  return text;
}

constexpr int64_t kNanosecondsPerSecond = 1'000'000'000;

std::vector<uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

void AppendLength(std::vector<uint8_t>& out, std::size_t length) {
  if (length < 0x80) {
    out.push_back(static_cast<uint8_t>(length));
  } else if (length < 0x8000) {
    out.push_back(0x81);
    out.push_back(static_cast<uint8_t>(length & 0xFF));
    out.push_back(static_cast<uint8_t>(length >> 8));
  } else {
    out.push_back(0x82);
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(length >> shift));
  }
}

void AppendClass(std::vector<uint8_t>& out, std::string_view name, uint8_t version) {
  out.insert(out.end(), {0x84, 0x84});
  out.push_back(static_cast<uint8_t>(name.size()));
  out.insert(out.end(), name.begin(), name.end());
  out.push_back(version);
}

}  // namespace

std::vector<uint8_t> AttributedBodyBytes(std::string_view text) {
  std::vector<uint8_t> out{0x04, 0x0B};
  const auto signature = Bytes("streamtyped");
  out.insert(out.end(), signature.begin(), signature.end());
  out.insert(out.end(), {0x81, 0xE8, 0x03, 0x84, 0x01, 0x40, 0x84});
  AppendClass(out, "NSMutableAttributedString", 0);
  AppendClass(out, "NSAttributedString", 0);
  AppendClass(out, "NSObject", 0);
  out.insert(out.end(), {0x85, 0x92, 0x84});
  AppendClass(out, "NSMutableString", 1);
  AppendClass(out, "NSString", 1);
  out.insert(out.end(), {0x95, 0x84, 0x01, 0x2B});
  AppendLength(out, text.size());
  out.insert(out.end(), text.begin(), text.end());
  // End of the string object, then one attribute run over the whole text.
  out.insert(out.end(), {0x86, 0x84, 0x02, 0x69, 0x49, 0x01});
  AppendLength(out, text.size());
  out.insert(out.end(), {0x92, 0x84, 0x84, 0x84});
  const auto dictionary = Bytes("\x0CNSDictionary");
  out.insert(out.end(), dictionary.begin(), dictionary.end());
  out.insert(out.end(), {0x00, 0x95, 0x84, 0x01, 0x69, 0x00, 0x86, 0x86});
  return out;
}

bool BuildModernSmsDb(const std::filesystem::path& path, ModernSmsTruth& truth, std::string* error) {
  std::unique_ptr<FixtureDatabase> db = FixtureDatabase::Create(path, {}, error);
  if (!db) return false;
  const auto fail = [&] {
    if (error != nullptr) *error = db->LastError();
    return false;
  };
  if (!db->Exec(kMessageTable)) return fail();
  for (const char* sql : kOtherTables) {
    if (!db->Exec(sql)) return fail();
  }
  sqlite3* handle = db->Handle();
  truth = {};
  truth.handleAddresses = {"+15551230001", "+15551230002", "friend@example.com"};
  for (const std::string& address : truth.handleAddresses) {
    if (InsertNamed(*db, handle, "handle", {{"id", address}, {"service", std::string("iMessage")}}) < 0)
      return fail();
  }
  // Chat 1: one-to-one with handle 1. Chat 2: a named group of handles 2 and 3.
  if (InsertNamed(*db, handle, "chat",
                  {{"guid", std::string("iMessage;-;+15551230001")},
                   {"style", int64_t{45}},
                   {"chat_identifier", std::string("+15551230001")}}) != 1 ||
      InsertNamed(*db, handle, "chat",
                  {{"guid", std::string("iMessage;+;chat493822")},
                   {"style", int64_t{43}},
                   {"chat_identifier", std::string("chat493822")},
                   {"display_name", std::string("Climbing")}}) != 2)
    return fail();
  truth.groupChatId = 2;
  truth.groupName = "Climbing";
  truth.groupAddresses = {truth.handleAddresses[1], truth.handleAddresses[2]};
  for (const auto& [chat, member] : {std::pair{1, 1}, std::pair{2, 2}, std::pair{2, 3}}) {
    if (InsertNamed(*db, handle, "chat_handle_join",
                    {{"chat_id", int64_t{chat}}, {"handle_id", int64_t{member}}}) < 0)
      return fail();
  }

  const int64_t base = 700'000'000;  // 2023-03-07, seconds since 2001
  // rowid, text column, body text (empty: no attributedBody), handle, chat, sent, edited, retracted, seconds
  // date
  struct Plan {
    const char* text;
    const char* body;
    int32_t handleId;
    int32_t chatId;
    bool sent, edited, retracted, dateInSeconds;
    bool recentlyDeleted = false;  // in "Recently Deleted" instead of its chat
  };
  const std::vector<Plan> plans = {
      {"Hello there", "Hello there", 1, 1, false, false, false, false},
      {nullptr, "Only in the body \xE2\x9C\x93", 0, 1, true, false, false, false},
      {"Group hello", "Group hello", 2, 2, false, false, false, false},
      {"Edited to this", "Edited to this", 3, 2, false, true, false, false},
      {nullptr, nullptr, 0, 2, true, true, true, false},
      {"\xEF\xBF\xBC", "\xEF\xBF\xBC", 1, 1, false, false, false, false},
      {"Dated in seconds", nullptr, 1, 1, true, false, false, true},
      {"Recently deleted: see you Friday", nullptr, 1, 1, false, false, false, false, true},
      {"Deleted one: meet at the north gate at seven", nullptr, 1, 1, false, false, false, false},
      {"Deleted two: the group plan changed again", nullptr, 2, 2, false, false, false, false},
      {nullptr, "Deleted three: kept only in the body", 3, 2, false, false, false, false},
  };
  if (!db->Begin()) return fail();
  for (std::size_t i = 0; i < plans.size(); ++i) {
    const Plan& plan = plans[i];
    ModernSmsMessage m;
    m.cocoaSeconds = base + static_cast<int64_t>(i) * 3600;
    const int64_t stored =
        plan.dateInSeconds ? m.cocoaSeconds : m.cocoaSeconds * kNanosecondsPerSecond + 123456789;
    Named row{{"guid", Guid(static_cast<int64_t>(i) + 1)},
              {"handle_id", int64_t{plan.handleId}},
              {"service", std::string("iMessage")},
              {"date", stored},
              {"date_read", m.cocoaSeconds + 5},
              {"is_from_me", int64_t{plan.sent ? 1 : 0}},
              {"is_finished", int64_t{1}},
              {"part_count", int64_t{1}}};
    if (plan.text != nullptr) row["text"] = std::string(plan.text);
    if (plan.body != nullptr) row["attributedBody"] = FixtureBlob{AttributedBodyBytes(plan.body)};
    if (plan.edited) row["date_edited"] = stored + 60 * kNanosecondsPerSecond;
    if (plan.retracted) row["date_retracted"] = stored + 60 * kNanosecondsPerSecond;
    m.rowId = InsertNamed(*db, handle, "message", row);
    if (m.rowId < 0) return fail();
    const bool joined =
        plan.recentlyDeleted
            ? InsertNamed(
                  *db, handle, "chat_recoverable_message_join",
                  {{"chat_id", int64_t{plan.chatId}}, {"message_id", m.rowId}, {"delete_date", stored}}) >= 0
            : InsertNamed(
                  *db, handle, "chat_message_join",
                  {{"chat_id", int64_t{plan.chatId}}, {"message_id", m.rowId}, {"message_date", stored}}) >=
                  0;
    if (!joined) return fail();
    m.text = plan.text != nullptr ? plan.text : plan.body != nullptr ? plan.body : "";
    m.handleId = plan.handleId;
    m.chatId = plan.chatId;
    m.sent = plan.sent;
    m.unsent = plan.retracted;
    m.edited = plan.edited && !plan.retracted;
    m.recentlyDeleted = plan.recentlyDeleted;
    truth.messages.push_back(m);
  }
  // Two attachments of the message with the object replacement character.
  int64_t attachmentNumber = 100;
  for (const std::string name :
       {"~/Library/SMS/Attachments/ab/11/6F1E2A4C-0000-4000-8000-000000000006/IMG_0001.HEIC",
        "~/Library/SMS/Attachments/cd/22/6F1E2A4C-0000-4000-8000-000000000007/IMG_0002.HEIC"}) {
    const int64_t attachment = InsertNamed(*db, handle, "attachment",
                                           {{"guid", Guid(++attachmentNumber)},
                                            {"filename", name},
                                            {"created_date", base},
                                            {"transfer_name", name.substr(name.rfind('/') + 1)}});
    if (attachment < 0 ||
        InsertNamed(*db, handle, "message_attachment_join",
                    {{"message_id", truth.messages[5].rowId}, {"attachment_id", attachment}}) < 0)
      return fail();
  }
  truth.messages[5].attachment =
      "~/Library/SMS/Attachments/ab/11/6F1E2A4C-0000-4000-8000-000000000006/IMG_0001.HEIC";
  if (!db->Commit()) return fail();
  // The last three messages are deleted; their chat join rows stay, as the
  // trigger-less copies of real files show.
  if (!db->Delete("message", {9, 10, 11})) return fail();
  for (std::size_t i = 8; i < 11; ++i) truth.messages[i].deleted = true;
  db->Close();
  return true;
}

bool BuildLargeModernSmsDb(const std::filesystem::path& path, int64_t count, std::string* error) {
  std::unique_ptr<FixtureDatabase> db = FixtureDatabase::Create(path, {}, error);
  if (!db) return false;
  const auto fail = [&] {
    if (error != nullptr) *error = db->LastError();
    return false;
  };
  if (!db->Exec(kMessageTable)) return fail();
  for (const char* sql : kOtherTables) {
    if (!db->Exec(sql)) return fail();
  }
  sqlite3* handle = db->Handle();
  if (!db->Exec("INSERT INTO handle (id, service) VALUES ('+15551230001', 'SMS'), ('+15551230002', 'SMS')") ||
      !db->Exec("INSERT INTO chat (guid, style, chat_identifier) VALUES ('SMS;-;+15551230001', 45, "
                "'+15551230001')") ||
      !db->Exec("INSERT INTO chat_handle_join VALUES (1, 1)"))
    return fail();
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(
          handle,
          "INSERT INTO message (guid, text, handle_id, service, attributedBody, date, date_read,"
          " is_from_me, is_finished, account, account_guid) VALUES (?, ?, ?, 'SMS', ?, ?, ?, ?, 1,"
          " 'p:+15551239999', 'A2D5B1C6-0000-4000-8000-000000000000')",
          -1, &statement, nullptr) != SQLITE_OK)
    return fail();
  if (!db->Begin()) return fail();
  for (int64_t i = 1; i <= count; ++i) {
    const std::string text =
        "Message number " + std::to_string(i) + ": see you at the usual place around eight";
    const std::vector<uint8_t> body = AttributedBodyBytes(text);
    const std::string guid = Guid(i);
    sqlite3_bind_text(statement, 1, guid.c_str(), -1, SQLITE_TRANSIENT);
    if (i % 2 == 0)
      sqlite3_bind_null(statement, 2);
    else
      sqlite3_bind_text(statement, 2, text.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(statement, 3, 1 + i % 2);
    sqlite3_bind_blob(statement, 4, body.data(), static_cast<int>(body.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(statement, 5, (600'000'000 + i * 60) * kNanosecondsPerSecond);
    sqlite3_bind_int64(statement, 6, 600'000'000 + i * 60 + 5);
    sqlite3_bind_int64(statement, 7, i % 3 == 0 ? 1 : 0);
    if (sqlite3_step(statement) != SQLITE_DONE) {
      sqlite3_finalize(statement);
      return fail();
    }
    sqlite3_reset(statement);
  }
  sqlite3_finalize(statement);
  if (!db->Exec("INSERT INTO chat_message_join (chat_id, message_id) SELECT 1, ROWID FROM message") ||
      !db->Commit())
    return fail();
  db->Close();
  return true;
}

}  // namespace corvyn::testing
