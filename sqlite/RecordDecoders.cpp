#include "sqlite/RecordDecoders.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>

#include "platform/Ascii.h"
#include "sqlite/CreateTableParser.h"
#include "sqlite/RecordDecodersCommon.h"

namespace corvyn::sqlite {
namespace {

using detail::CocoaDateText;

constexpr Storage kText = Storage::kText;
constexpr Storage kInteger = Storage::kInteger;
constexpr Storage kNumber = Storage::kNumber;

using platform::EqualsIgnoringCase;

struct NamedCount {
  std::string_view name;
  uint32_t columns;
};

// Rows before ZWAMESSAGE; the first match wins.
constexpr NamedCount kFixedCounts[] = {
    {"ZNOTEBODY", 7},
    {"ZNOTE", 19},
    {"message", 38},
    {"handle", 5},
    {"attachment", 9},
    {"message_attachment_join", 2},
    {"ABPersonFullTextSearch_content", 24},
    {"call", 13},
    {"Friend", 13},
    {"tb_c2cTables", 1},
};

// Bytes of the record body that must be non-zero for a `message` candidate in
// a freeblock (its leading integer and text columns are never all zero).
constexpr uint32_t kMessageBodyCheckBytes = 36;

// The columns each table's decoder takes, in the order of its slots.
std::vector<TakenColumn> TakenColumnsFor(std::string_view table, int32_t whatsAppMessageColumns) {
  if (EqualsIgnoringCase(table, "handle")) return {{"id", 1, kText}};
  if (EqualsIgnoringCase(table, "attachment")) return {{"filename", 4, kText}};
  if (EqualsIgnoringCase(table, "message_attachment_join"))
    return {{"message_id", 0, kInteger}, {"attachment_id", 1, kInteger}};
  if (EqualsIgnoringCase(table, "message"))
    return {
        {"text", 2, kText}, {"handle_id", 5, kInteger}, {"date", 15, kNumber}, {"is_from_me", 21, kInteger}};
  if (EqualsIgnoringCase(table, "ABPersonFullTextSearch_content"))
    return {{"c0First", 1, kText},           {"c1Last", 2, kText},    {"c6Organization", 7, kText},
            {"c15Phone", 16, kText},         {"c16Email", 17, kText}, {"c17Address", 18, kText},
            {"c18SocialProfile", 19, kText}, {"c19URL", 20, kText}};
  if (EqualsIgnoringCase(table, "ZCALLRECORD"))
    return {{"ZADDRESS", 12, kText},
            {"ZDATE", 10, kNumber},
            {"ZDURATION", 11, kNumber},
            {"ZORIGINATED", 8, kInteger}};
  if (EqualsIgnoringCase(table, "call"))
    return {{"address", 1, kText}, {"date", 2, kInteger}, {"duration", 3, kNumber}, {"flags", 4, kInteger}};
  if (EqualsIgnoringCase(table, "ZNOTE"))
    return {{"ZBODY", 11, kInteger}, {"ZMODIFICATIONDATE", 13, kNumber}, {"ZTITLE", 14, kText}};
  // Core Data's entity and version numbers are never text: a record read
  // from a serial type on is refused by them.
  if (EqualsIgnoringCase(table, "ZNOTEBODY"))
    return {{"ZOWNER", 3, kInteger}, {"ZCONTENT", 4, kText}, {"Z_ENT", 1, kInteger}, {"Z_OPT", 2, kInteger}};
  if (EqualsIgnoringCase(table, "Friend"))
    return {{"UsrName", 1, kText}, {"NickName", 2, kText}, {"Type", 6, kInteger}};
  if (EqualsIgnoringCase(table, "tb_c2cTables")) return {{"name", 0, kText}};
  if (EqualsIgnoringCase(table, "ZWAMESSAGE")) {
    const WhatsAppMessageColumns columns = WhatsAppMessageLayout(whatsAppMessageColumns);
    return {{"ZCHATSESSION", columns.sessionId, kInteger},
            {"ZGROUPMEMBER", columns.memberId, kInteger},
            {"ZMESSAGEDATE", columns.date, kNumber},
            {"ZISFROMME", columns.fromMe, kInteger},
            {"ZTEXT", columns.text, kText}};
  }
  if (EqualsIgnoringCase(table, "ZWACHATSESSION")) {
    const WhatsAppChatColumns columns = WhatsAppChatLayout(whatsAppMessageColumns);
    return {{"ZCONTACTJID", columns.contactId, kText},
            {"ZPARTNERNAME", columns.partnerName, kText},
            {"Z_ENT", 1, kInteger},
            {"Z_OPT", 2, kInteger},
            {"ZLASTMESSAGEDATE", columns.partnerName - 1, kNumber}};
  }
  if (EqualsIgnoringCase(table, "ZWAGROUPMEMBER")) {
    const WhatsAppMemberColumns columns = WhatsAppMemberLayout(whatsAppMessageColumns);
    return {{"ZCHATSESSION", columns.chatId, kInteger},
            {"ZCONTACTNAME", columns.memberName, kText},
            {"ZMEMBERJID", columns.memberId, kText}};
  }
  if (table.starts_with("Chat_"))
    return {{"CreateTime", 3, kInteger}, {"Message", 4, kText}, {"Des", 8, kInteger}};
  if (table.starts_with("tb_c2cMsg"))
    return {{"uin", 1, kText}, {"time", 2, kInteger}, {"flag", 4, kInteger}, {"content", 6, kText}};
  return {};
}

bool IsCallRecordTable(const TableProfile& profile) {
  return EqualsIgnoringCase(profile.tableName, "ZCALLRECORD");
}

bool HasControlCharacter(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 32; });
}

// Strict text of a column into `out`; false when the column breaks the rules.
bool TakeStrict(const ColumnValue* column, std::string& out) {
  std::optional<std::string> text = detail::StrictTextValue(column);
  if (!text) return false;
  out = std::move(*text);
  return true;
}

std::string CutBeforeAt(const std::string& text) {
  const std::size_t at = text.find('@');
  return at == std::string::npos ? text : text.substr(0, at);
}

// The column of a decoder's slot in the parsed record.
const ColumnValue* Taken(const ParsedRecord& parsed, const TableProfile& profile, std::size_t slot) {
  return parsed.Column(profile.Column(slot));
}

bool TakenColumnsHold(const TableProfile& profile, const ParsedRecord& parsed) {
  for (const TakenColumn& column : profile.taken) {
    if (column.number < parsed.firstColumn) continue;
    const ColumnValue* value = parsed.Column(column.number);
    if (value == nullptr) return false;
    if (value->IsNull()) continue;
    const bool fits = column.storage == Storage::kText      ? value->IsText()
                      : column.storage == Storage::kInteger ? value->IsInteger()
                      : column.storage == Storage::kBlob    ? value->IsBlob() || value->IsText()
                                                            : value->IsInteger() || value->IsFloat();
    if (!fits) return false;
  }
  return true;
}

// A carved record of a table whose rowid is column 1, whose column 0 lost
// its serial type to a freeblock header: it begins with the rowid's NULL and
// its serial types are read as columns 1 on. Column 0's body (a small
// number of 0 to 8 bytes) still lies before the others; the size taken is
// the first that puts a date of this century into the date column `dateColumn`.
// Refused like any deleted record when a taken column is missing or holds
// another storage class.
Status ParseWithColumnZeroLost(const TableProfile& profile, const RecordLocation& record, uint32_t dateColumn,
                               ParsedRecord& parsed) {
  const uint32_t columns = profile.CarvedColumnCount();
  if (record.mode != RecordMode::kCarved || record.headerIntact || profile.rowidColumn != 1 ||
      record.bytes.empty() || record.bytes[0] != 0 || columns < 2) {
    return kInvalidData;
  }
  const std::size_t typeBytes = VarintRunLength(record.bytes, columns - 1);
  if (typeBytes == 0) return kInvalidData;
  constexpr int64_t kYear2000 = 946684800;
  constexpr int64_t kYear2100 = 4102444800;
  static constexpr uint8_t kLostSizes[] = {0, 1, 2, 3, 4, 6, 8};
  for (const uint8_t lost : kLostSizes) {
    if (typeBytes + lost > record.bytes.size()) break;
    std::vector<uint8_t> joined(record.bytes.begin(),
                                record.bytes.begin() + static_cast<std::ptrdiff_t>(typeBytes));
    joined.insert(joined.end(), record.bytes.begin() + static_cast<std::ptrdiff_t>(typeBytes + lost),
                  record.bytes.end());
    ParsedRecord read;
    if (ParseCarvedRecord(ByteSpan(joined), columns - 1, read) != kOk || read.firstColumn != 0) continue;
    read.columns.insert(read.columns.begin(), ColumnValue{});
    read.firstColumn = 1;
    const std::optional<int64_t> date = detail::IntegerValue(read.Column(dateColumn));
    if (!date || *date < kYear2000 || *date >= kYear2100 || !TakenColumnsHold(profile, read)) continue;
    read.storage = std::move(joined);  // the bodies point into it
    parsed = std::move(read);
    return kOk;
  }
  return kInvalidData;
}

void RaiseTo(uint64_t& highest, int64_t rowId) {
  if (rowId > 0) highest = std::max(highest, static_cast<uint64_t>(rowId));
}

}  // namespace

uint32_t ExpectedColumnCountFor(std::string_view tableName, int32_t whatsAppMessageColumns) {
  for (const NamedCount& row : kFixedCounts) {
    if (EqualsIgnoringCase(tableName, row.name)) return row.columns;
  }
  const uint32_t messageColumns =
      whatsAppMessageColumns > 0 ? static_cast<uint32_t>(whatsAppMessageColumns) : 0;
  if (EqualsIgnoringCase(tableName, "ZWAMESSAGE")) return messageColumns;
  if (EqualsIgnoringCase(tableName, "ZWACHATSESSION")) return whatsAppMessageColumns < 28 ? 18 : 20;
  if (EqualsIgnoringCase(tableName, "ZWAGROUPMEMBER")) return whatsAppMessageColumns < 28 ? 10 : 11;
  if (EqualsIgnoringCase(tableName, "ZCALLRECORD")) return 17;
  if (EqualsIgnoringCase(tableName, "ZWACONTACT")) return 11;
  if (EqualsIgnoringCase(tableName, "ZWAPHONE")) return 9;
  if (tableName.starts_with("Chat_")) return 9;
  if (tableName.starts_with("tb_c2cMsg")) return 50;
  return 0;
}

TableProfile ProfileFor(std::string_view tableName, int32_t whatsAppMessageColumns) {
  TableProfile profile;
  profile.tableName = std::string(tableName);
  profile.columnCount = ExpectedColumnCountFor(tableName, whatsAppMessageColumns);
  profile.taken = TakenColumnsFor(tableName, whatsAppMessageColumns);
  if (tableName == "message") profile.nonZeroBodyPrefix = kMessageBodyCheckBytes;
  if (tableName == "call") profile.tailAndGapUseLiveColumnCount = true;
  if (EqualsIgnoringCase(tableName, "call") || EqualsIgnoringCase(tableName, "ZCALLRECORD"))
    profile.carvedColumns = CarvedColumns::kLiveOnly;
  if (EqualsIgnoringCase(tableName, "ABPersonFullTextSearch_content"))
    profile.carvedColumns = CarvedColumns::kLiveOrExpected;
  // WeChat's message tables keep a version number before the rowid.
  if (tableName.starts_with("Chat_")) profile.rowidColumn = 1;
  return profile;
}

TableProfile ReadTableProfile(const SqliteDbReader& reader, std::string_view tableName,
                              int32_t whatsAppMessageColumns) {
  TableProfile profile = ProfileFor(tableName, whatsAppMessageColumns);
  std::string sql;
  // A schema that cannot be read or parsed leaves the fixed positions.
  if (reader.FindTableSql(tableName, sql) == kOk && ParseCreateTableColumns(sql, profile.declaredColumns)) {
    profile.ResolveTakenColumns();
    // A complete record holds every declared column: carving expects that many.
    profile.columnCount = static_cast<uint32_t>(profile.declaredColumns.size());
  } else
    profile.declaredColumns.clear();
  return profile;
}

Status DecodeHandleRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                          std::vector<HandleRow>& out) {
  ParsedRecord parsed;
  if (const Status status = detail::ParseTakenColumns(reader, record, profile, parsed); status != kOk)
    return status;
  HandleRow row;
  row.deleted = record.deleted;
  row.rowId = parsed.rowId;
  row.address = detail::TextValue(Taken(parsed, profile, kHandleAddress));
  if (!row.address.empty()) out.push_back(std::move(row));
  return kOk;
}

Status DecodeAttachmentRecord(const SqliteDbReader& reader, TableProfile& profile,
                              const RecordLocation& record, std::vector<AttachmentRow>& out) {
  ParsedRecord parsed;
  if (const Status status = detail::ParseTakenColumns(reader, record, profile, parsed); status != kOk)
    return status;
  AttachmentRow row;
  row.deleted = record.deleted;
  row.rowId = parsed.rowId;
  row.fileName = detail::TextValue(Taken(parsed, profile, kAttachmentFileName));
  if (!row.fileName.empty()) out.push_back(std::move(row));
  return kOk;
}

Status DecodeJoinRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                        std::vector<MessageAttachmentJoinRow>& out) {
  ParsedRecord parsed;
  if (const Status status = detail::ParseTakenColumns(reader, record, profile, parsed); status != kOk)
    return status;
  out.push_back(MessageAttachmentJoinRow{record.deleted,
                                         detail::Int32Value(Taken(parsed, profile, kJoinMessageId)),
                                         detail::Int32Value(Taken(parsed, profile, kJoinAttachmentId))});
  return kOk;
}

Status DecodeMessageRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                           std::vector<MessageRecord>& out, uint64_t& highestRowid) {
  ParsedRecord parsed;
  if (const Status status = detail::ParseTakenColumns(reader, record, profile, parsed); status != kOk)
    return status;
  MessageRecord message;
  if (!TakeStrict(Taken(parsed, profile, kMessageText), message.text)) return kInvalidData;
  message.deleted = record.deleted;
  message.messageId = static_cast<int32_t>(parsed.rowId);
  message.handleId = detail::Int32Value(Taken(parsed, profile, kMessageHandleId));
  message.date = CocoaDateText(Taken(parsed, profile, kMessageDate), /*nanosecondsAllowed=*/true);
  message.sent = detail::HoldsInteger(Taken(parsed, profile, kMessageFromMe), 1) ? 1 : 0;
  RaiseTo(highestRowid, parsed.rowId);
  out.push_back(std::move(message));
  return kOk;
}

Status DecodeContactRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                           std::vector<ContactRecord>& out, uint64_t& highestRowid) {
  ParsedRecord parsed;
  if (const Status status = detail::ParseTakenColumns(reader, record, profile, parsed); status != kOk)
    return status;
  if (record.mode == RecordMode::kFullCell)
    profile.liveColumnCount = static_cast<uint32_t>(parsed.columns.size());
  ContactRecord contact;
  std::string first, last;
  const auto take = [&](std::size_t slot, std::string& text) {
    return TakeStrict(Taken(parsed, profile, slot), text);
  };
  if (!take(kContactFirst, first) || !take(kContactLast, last) || !take(kContactCompany, contact.company) ||
      !take(kContactPhones, contact.phones) || !take(kContactEmail, contact.email) ||
      !take(kContactAddress, contact.address) || !take(kContactSocial, contact.social) ||
      !take(kContactUrl, contact.url) || HasControlCharacter(contact.phones)) {
    return kInvalidData;
  }
  contact.deleted = record.deleted;
  contact.name = first + last;
  RaiseTo(highestRowid, parsed.rowId);
  out.push_back(std::move(contact));
  return kOk;
}

Status DecodeCallRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                        std::vector<CallRecord>& out) {
  ParsedRecord parsed;
  if (const Status status = detail::ParseTakenColumns(reader, record, profile, parsed); status != kOk)
    return status;
  if (record.mode == RecordMode::kFullCell)
    profile.liveColumnCount = static_cast<uint32_t>(parsed.columns.size());
  CallRecord call;
  call.deleted = record.deleted;
  call.number = detail::TextValue(Taken(parsed, profile, kCallNumber));
  call.duration = detail::WholeNumber32(Taken(parsed, profile, kCallDuration));
  call.incoming = detail::HoldsInteger(Taken(parsed, profile, kCallDirection), 0) ? 1 : 0;
  if (IsCallRecordTable(profile)) {
    call.date = CocoaDateText(Taken(parsed, profile, kCallDate));
  } else {
    if (HasControlCharacter(call.number)) return kInvalidData;
    call.date = detail::UnixDateText(Taken(parsed, profile, kCallDate));
  }
  if (!call.number.empty() && !call.date.empty()) out.push_back(std::move(call));
  return kOk;
}

Status DecodeNoteRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                        std::vector<NoteRow>& out) {
  ParsedRecord parsed;
  if (const Status status = detail::ParseTakenColumns(reader, record, profile, parsed); status != kOk)
    return status;
  NoteRow row;
  row.deleted = record.deleted;
  row.noteId = detail::Int32Value(Taken(parsed, profile, kNoteBody));
  row.date = CocoaDateText(Taken(parsed, profile, kNoteDate));
  row.title = detail::TextValue(Taken(parsed, profile, kNoteTitle));
  out.push_back(std::move(row));
  return kOk;
}

Status DecodeNoteBodyRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                            std::vector<NoteBodyRow>& out) {
  ParsedRecord parsed;
  if (const Status status = detail::ParseTakenColumns(reader, record, profile, parsed); status != kOk)
    return status;
  out.push_back(NoteBodyRow{record.deleted, detail::Int32Value(Taken(parsed, profile, kNoteBodyOwner)),
                            detail::TextValue(Taken(parsed, profile, kNoteBodyHtml))});
  return kOk;
}

Status DecodeFriendRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                          std::vector<FriendRow>& out) {
  ParsedRecord parsed;
  if (const Status status = detail::ParseTakenColumns(reader, record, profile, parsed); status != kOk)
    return status;
  // Every contact has a user name: a deleted record without one is no row.
  if (record.deleted != 0 && detail::TextValue(Taken(parsed, profile, kFriendUserName)).empty())
    return kInvalidData;
  out.push_back(FriendRow{record.deleted, detail::TextValue(Taken(parsed, profile, kFriendUserName)),
                          detail::TextValue(Taken(parsed, profile, kFriendNickName)),
                          detail::Int32Value(Taken(parsed, profile, kFriendType))});
  return kOk;
}

Status DecodeC2cTableRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                            std::vector<C2cTableRow>& out) {
  ParsedRecord parsed;
  if (const Status status = detail::ParseTakenColumns(reader, record, profile, parsed); status != kOk)
    return status;
  C2cTableRow row;
  row.deleted = record.deleted;
  row.tableName = detail::TextValue(Taken(parsed, profile, kC2cTableName));
  const std::size_t underscore = row.tableName.rfind('_');
  if (underscore != std::string::npos) row.friendKey = row.tableName.substr(underscore + 1);
  out.push_back(std::move(row));
  return kOk;
}

Status DecodeC2cMessageRecord(const SqliteDbReader& reader, TableProfile& profile,
                              const RecordLocation& record, std::vector<ChatMessageRecord>& out) {
  ParsedRecord parsed;
  if (const Status status = detail::ParseTakenColumns(reader, record, profile, parsed); status != kOk)
    return status;
  ChatMessageRecord message;
  message.contactId = detail::TextValue(Taken(parsed, profile, kC2cContactId));
  message.deleted = record.deleted;
  message.rowId = parsed.rowId;
  message.date = detail::UnixDateText(Taken(parsed, profile, kC2cDate));
  message.sent = detail::HoldsInteger(Taken(parsed, profile, kC2cFlag), 0) ? 1 : 0;
  message.text = detail::TextValue(Taken(parsed, profile, kC2cText));
  if (!message.text.empty()) out.push_back(std::move(message));
  return kOk;
}

Status DecodeChatMessageRecord(const SqliteDbReader& reader, TableProfile& profile,
                               const RecordLocation& record, std::vector<ChatMessageRecord>& out) {
  ParsedRecord parsed;
  if (const Status status = detail::ParseTakenColumns(reader, record, profile, parsed); status != kOk) {
    parsed = ParsedRecord();
    if (ParseWithColumnZeroLost(profile, record, profile.Column(kChatDate), parsed) != kOk) return status;
  }
  ChatMessageRecord message;
  message.deleted = record.deleted;
  message.rowId = parsed.rowId;
  message.date = detail::UnixDateText(Taken(parsed, profile, kChatDate));
  message.text = detail::TextValue(Taken(parsed, profile, kChatText));
  message.sent = detail::HoldsInteger(Taken(parsed, profile, kChatSent), 0) ? 1 : 0;
  if (!message.text.empty()) out.push_back(std::move(message));
  return kOk;
}

WhatsAppMessageColumns WhatsAppMessageLayout(int32_t messageColumnCount) {
  if (messageColumnCount < 29) {
    if (messageColumnCount == 28) return {14, 15, 20, 10, 26};
    return {12, 13, 17, 7, 21};
  }
  if (messageColumnCount == 29) return {15, 16, 21, 10, 27};
  return {12, 13, 17, 7, 21};
}

WhatsAppChatColumns WhatsAppChatLayout(int32_t messageColumnCount) {
  return messageColumnCount > 27 ? WhatsAppChatColumns{16, 18} : WhatsAppChatColumns{14, 16};
}

WhatsAppMemberColumns WhatsAppMemberLayout(int32_t messageColumnCount) {
  return messageColumnCount > 27 ? WhatsAppMemberColumns{6, 8, 10} : WhatsAppMemberColumns{5, 7, 9};
}

Status DecodeWhatsAppMessageRecord(const SqliteDbReader& reader, TableProfile& profile,
                                   const RecordLocation& record, std::vector<WhatsAppRecord>& out) {
  ParsedRecord parsed;
  if (const Status status = detail::ParseTakenColumns(reader, record, profile, parsed); status != kOk)
    return status;
  WhatsAppRecord message;
  if (!TakeStrict(Taken(parsed, profile, kWhatsAppText), message.text)) return kInvalidData;
  message.deleted = record.deleted;
  message.sent = detail::HoldsInteger(Taken(parsed, profile, kWhatsAppFromMe), 1) ? 1 : 0;
  message.messageKey = static_cast<int32_t>(parsed.rowId);
  message.sessionId = detail::Int32Value(Taken(parsed, profile, kWhatsAppSession));
  message.memberKey = detail::Int32Value(Taken(parsed, profile, kWhatsAppMember));
  message.date = CocoaDateText(Taken(parsed, profile, kWhatsAppDate));
  out.push_back(std::move(message));
  return kOk;
}

Status DecodeWhatsAppChatRecord(const SqliteDbReader& reader, TableProfile& profile,
                                const RecordLocation& record, std::vector<WhatsAppChatRow>& out) {
  ParsedRecord parsed;
  if (const Status status = detail::ParseTakenColumns(reader, record, profile, parsed); status != kOk)
    return status;
  WhatsAppChatRow row;
  row.deleted = record.deleted;
  row.rowId = static_cast<int32_t>(parsed.rowId);
  const std::string contact = detail::TextValue(Taken(parsed, profile, kWhatsAppChatContact));
  if (const std::size_t at = contact.find('@'); at != std::string::npos)
    row.contactId = contact.substr(0, at);
  row.partnerName = detail::TextValue(Taken(parsed, profile, kWhatsAppChatPartner));
  out.push_back(std::move(row));
  return kOk;
}

Status DecodeWhatsAppMemberRecord(const SqliteDbReader& reader, TableProfile& profile,
                                  const RecordLocation& record, std::vector<WhatsAppMemberRow>& out) {
  ParsedRecord parsed;
  if (const Status status = detail::ParseTakenColumns(reader, record, profile, parsed); status != kOk)
    return status;
  WhatsAppMemberRow row;
  row.deleted = record.deleted;
  row.rowId = static_cast<int32_t>(parsed.rowId);
  row.chatId = detail::Int32Value(Taken(parsed, profile, kWhatsAppMemberChat));
  row.memberName = detail::TextValue(Taken(parsed, profile, kWhatsAppMemberName));
  row.memberId = CutBeforeAt(detail::TextValue(Taken(parsed, profile, kWhatsAppMemberId)));
  out.push_back(std::move(row));
  return kOk;
}

}  // namespace corvyn::sqlite
