#include "sqlite/MessageScans.h"

#include <algorithm>
#include <array>

#include "sqlite/CreateTableParser.h"
#include "sqlite/RecordDecodersCommon.h"
#include "sqlite/TableProfile.h"

namespace corvyn::sqlite {
namespace {

constexpr uint32_t kAbsent = UINT32_MAX;

// Bytes of the record body that must be non-zero for a `message` candidate
// in a freeblock: its body begins with the 36-character guid.
constexpr uint32_t kMessageBodyCheckBytes = 36;

struct WantedColumn {
  std::string_view name;
  Storage storage;
};

// A profile whose taken columns are the wanted ones the table declares; slot
// i of the result is the taken index of wanted[i], or kAbsent. False when the
// table's CREATE TABLE text cannot be read.
template <std::size_t N>
bool ProfileByName(const SqliteDbReader& reader, std::string_view table,
                   const std::array<WantedColumn, N>& wanted, TableProfile& profile,
                   std::array<uint32_t, N>& slots) {
  profile = TableProfile{};
  profile.tableName = std::string(table);
  std::string sql;
  if (reader.FindTableSql(table, sql) != kOk || !ParseCreateTableColumns(sql, profile.declaredColumns) ||
      profile.declaredColumns.empty())
    return false;
  profile.columnCount = static_cast<uint32_t>(profile.declaredColumns.size());
  for (std::size_t i = 0; i < N; ++i) {
    slots[i] = kAbsent;
    if (const std::optional<uint32_t> number = profile.DeclaredIndex(wanted[i].name)) {
      slots[i] = static_cast<uint32_t>(profile.taken.size());
      profile.taken.push_back(TakenColumn{wanted[i].name, *number, wanted[i].storage});
    }
  }
  return true;
}

template <std::size_t N>
const ColumnValue* At(const ParsedRecord& parsed, const TableProfile& profile,
                      const std::array<uint32_t, N>& slots, std::size_t wanted) {
  const uint32_t slot = slots[wanted];
  return slot == kAbsent ? nullptr : parsed.Column(profile.taken[slot].number);
}

// A date a phone could have written: after 2001 and before 2101, in
// seconds or nanoseconds (told apart as CocoaDateText does).
bool PlausibleDate(const ColumnValue* column) {
  constexpr int64_t kCentury = 3'155'760'000;  // seconds in 100 years
  if (column != nullptr && column->IsFloat()) return column->real > 0 && column->real < kCentury;
  std::optional<int64_t> value = detail::IntegerValue(column);
  if (!value || *value <= 0) return false;
  if (*value > 1'000'000'000'000) *value /= 1'000'000'000;
  return *value < kCentury;
}

bool IsSet(const ColumnValue* column) {
  const std::optional<int64_t> value = detail::IntegerValue(column);
  return value && *value != 0;
}

enum MessageColumn : std::size_t {
  kText,
  kHandleId,
  kDate,
  kFromMe,
  kAttributedBody,
  kDateEdited,
  kDateRetracted,
  kMessageColumns
};
constexpr std::array<WantedColumn, kMessageColumns> kMessageWanted{{
    {"text", Storage::kText},
    {"handle_id", Storage::kInteger},
    {"date", Storage::kNumber},
    {"is_from_me", Storage::kInteger},
    {"attributedBody", Storage::kBlob},
    {"date_edited", Storage::kNumber},
    {"date_retracted", Storage::kNumber},
}};

enum ChatColumn : std::size_t { kChatStyle, kChatIdentifier, kChatDisplayName, kChatColumns };
constexpr std::array<WantedColumn, kChatColumns> kChatWanted{{
    {"style", Storage::kInteger},
    {"chat_identifier", Storage::kText},
    {"display_name", Storage::kText},
}};

Status ScanJoins(SqliteDbReader& reader, std::string_view table, std::string_view otherColumn,
                 std::vector<ChatJoinRow>& out) {
  TableProfile profile;
  std::array<uint32_t, 2> slots{};
  const std::array<WantedColumn, 2> wanted{
      {{"chat_id", Storage::kInteger}, {otherColumn, Storage::kInteger}}};
  if (!ProfileByName(reader, table, wanted, profile, slots)) return kOk;
  if (slots[0] == kAbsent || slots[1] == kAbsent) return kOk;
  // One parsed record for the whole scan: its column list keeps its room.
  ParsedRecord parsed;
  return reader.ScanTable(profile, [&](SqliteDbReader& r, const RecordLocation& record) -> Status {
    if (const Status status = detail::ParseTakenColumns(r, record, profile, parsed); status != kOk)
      return status;
    const int32_t chatId = detail::Int32Value(At(parsed, profile, slots, 0));
    const int32_t otherId = detail::Int32Value(At(parsed, profile, slots, 1));
    // A carved pair of zeros or negatives names nothing.
    if (chatId <= 0 || otherId <= 0) return record.deleted != 0 ? kInvalidData : kOk;
    out.push_back(ChatJoinRow{record.deleted, chatId, otherId});
    return kOk;
  });
}

}  // namespace

bool HasModernMessageTable(const SqliteDbReader& reader) {
  std::string sql;
  std::vector<std::string> columns;
  if (reader.FindTableSql("message", sql) != kOk || !ParseCreateTableColumns(sql, columns)) return false;
  TableProfile profile;
  profile.declaredColumns = std::move(columns);
  return profile.DeclaredIndex("attributedBody").has_value();
}

bool HasKnownMessageColumns(const SqliteDbReader& reader) {
  std::string sql;
  TableProfile profile;
  if (reader.FindTableSql("message", sql) != kOk || sql.empty() ||
      !ParseCreateTableColumns(sql, profile.declaredColumns))
    return true;
  return profile.DeclaredIndex("date") &&
         (profile.DeclaredIndex("text") || profile.DeclaredIndex("attributedBody"));
}

namespace {

template <class List>
Status ScanModernMessagesInto(SqliteDbReader& reader, AttributedBodyText bodyText, List& out,
                              uint64_t& highestRowid) {
  highestRowid = 0;
  TableProfile profile;
  std::array<uint32_t, kMessageColumns> slots{};
  if (!ProfileByName(reader, "message", kMessageWanted, profile, slots)) return kInvalidData;
  profile.nonZeroBodyPrefix = kMessageBodyCheckBytes;
  // One parsed record for the whole scan: its column list keeps its room.
  ParsedRecord parsed;
  return reader.ScanTable(profile, [&](SqliteDbReader& r, const RecordLocation& record) -> Status {
    if (const Status status = detail::ParseTakenColumns(r, record, profile, parsed); status != kOk)
      return status;
    std::optional<std::string> text = detail::StrictTextValue(At(parsed, profile, slots, kText));
    if (!text) return kInvalidData;
    // Filled where it stays (a record moved costs as much as one built),
    // and taken back when it turns out no message.
    MessageRecord& message = out.emplace_back();
    message.text = std::move(*text);
    const ColumnValue* body = At(parsed, profile, slots, kAttributedBody);
    const bool hasBody = body != nullptr && !body->IsNull() && !body->Text().empty();
    if (message.text.empty() && hasBody && bodyText != nullptr) {
      if (std::optional<std::string> found = bodyText(body->Text())) message.text = std::move(*found);
    }
    message.deleted = record.deleted;
    message.messageId = static_cast<int32_t>(parsed.rowId);
    message.handleId = detail::Int32Value(At(parsed, profile, slots, kHandleId));
    message.date = detail::CocoaDateText(At(parsed, profile, slots, kDate), /*nanosecondsAllowed=*/true);
    message.sent = detail::HoldsInteger(At(parsed, profile, slots, kFromMe), 1) ? 1 : 0;
    const bool edited = IsSet(At(parsed, profile, slots, kDateEdited));
    message.unsent =
        IsSet(At(parsed, profile, slots, kDateRetracted)) || (edited && message.text.empty() && !hasBody) ? 1
                                                                                                          : 0;
    message.edited = edited && message.unsent == 0 ? 1 : 0;
    // A carved row needs a date a phone could have written.
    if (record.deleted != 0 && !PlausibleDate(At(parsed, profile, slots, kDate))) {
      out.pop_back();
      return kInvalidData;
    }
    if (parsed.rowId > 0) highestRowid = std::max(highestRowid, static_cast<uint64_t>(parsed.rowId));
    return kOk;
  });
}

}  // namespace

Status ScanModernMessages(SqliteDbReader& reader, AttributedBodyText bodyText,
                          std::vector<MessageRecord>& out, uint64_t& highestRowid) {
  return ScanModernMessagesInto(reader, bodyText, out, highestRowid);
}

Status ScanModernMessages(SqliteDbReader& reader, AttributedBodyText bodyText, MessageList& out,
                          uint64_t& highestRowid) {
  return ScanModernMessagesInto(reader, bodyText, out, highestRowid);
}

Status ScanChats(SqliteDbReader& reader, std::vector<ChatRow>& out) {
  TableProfile profile;
  std::array<uint32_t, kChatColumns> slots{};
  if (!ProfileByName(reader, "chat", kChatWanted, profile, slots)) return kOk;
  // One parsed record for the whole scan: its column list keeps its room.
  ParsedRecord parsed;
  return reader.ScanTable(profile, [&](SqliteDbReader& r, const RecordLocation& record) -> Status {
    if (const Status status = detail::ParseTakenColumns(r, record, profile, parsed); status != kOk)
      return status;
    ChatRow row;
    row.deleted = record.deleted;
    row.rowId = static_cast<int32_t>(parsed.rowId);
    row.style = detail::Int32Value(At(parsed, profile, slots, kChatStyle));
    row.identifier = detail::TextValue(At(parsed, profile, slots, kChatIdentifier));
    row.displayName = detail::TextValue(At(parsed, profile, slots, kChatDisplayName));
    if (row.rowId > 0) out.push_back(std::move(row));
    return kOk;
  });
}

Status ScanChatMessageJoins(SqliteDbReader& reader, std::vector<ChatJoinRow>& out) {
  return ScanJoins(reader, "chat_message_join", "message_id", out);
}

Status ScanChatHandleJoins(SqliteDbReader& reader, std::vector<ChatJoinRow>& out) {
  return ScanJoins(reader, "chat_handle_join", "handle_id", out);
}

Status ScanRecoverableMessageJoins(SqliteDbReader& reader, std::vector<ChatJoinRow>& out) {
  return ScanJoins(reader, "chat_recoverable_message_join", "message_id", out);
}

}  // namespace corvyn::sqlite
