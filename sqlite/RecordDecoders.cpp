#include "sqlite/RecordDecoders.h"

#include <algorithm>
#include <optional>
#include <string>

#include "sqlite/RecordDecodersCommon.h"

namespace corvyn::sqlite {
namespace {

using detail::CocoaDateText;

using detail::Storage;
constexpr Storage kText = Storage::kText;
constexpr Storage kInteger = Storage::kInteger;
constexpr Storage kNumber = Storage::kNumber;

// Parses with the table's expected column count for carved records.
Status Parse(SqliteDbReader& reader, const RecordLocation& record,
             std::initializer_list<detail::TakenColumn> taken, ParsedRecord& parsed) {
  return detail::ParseTakenColumns(reader, record, detail::TableLayout(reader), taken, parsed);
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

}  // namespace

Status DecodeHandleRecord(SqliteDbReader& reader, const RecordLocation& record, std::vector<HandleRow>& out) {
  ParsedRecord parsed;
  if (const Status status = Parse(reader, record, {{1, kText}}, parsed); status != kOk) return status;
  HandleRow row;
  row.deleted = record.deleted;
  row.rowId = parsed.rowId;
  row.address = detail::TextValue(parsed.Column(1));
  if (!row.address.empty()) out.push_back(std::move(row));
  return kOk;
}

Status DecodeAttachmentRecord(SqliteDbReader& reader, const RecordLocation& record,
                              std::vector<AttachmentRow>& out) {
  ParsedRecord parsed;
  if (const Status status = Parse(reader, record, {{4, kText}}, parsed); status != kOk) return status;
  AttachmentRow row;
  row.deleted = record.deleted;
  row.rowId = parsed.rowId;
  row.fileName = detail::TextValue(parsed.Column(4));
  if (!row.fileName.empty()) out.push_back(std::move(row));
  return kOk;
}

Status DecodeJoinRecord(SqliteDbReader& reader, const RecordLocation& record,
                        std::vector<MessageAttachmentJoinRow>& out) {
  ParsedRecord parsed;
  if (const Status status = Parse(reader, record, {{0, kInteger}, {1, kInteger}}, parsed); status != kOk)
    return status;
  out.push_back(MessageAttachmentJoinRow{record.deleted, detail::Int32Value(parsed.Column(0)),
                                         detail::Int32Value(parsed.Column(1))});
  return kOk;
}

Status DecodeMessageRecord(SqliteDbReader& reader, const RecordLocation& record,
                           std::vector<MessageRecord>& out) {
  ParsedRecord parsed;
  if (const Status status =
          Parse(reader, record, {{2, kText}, {5, kInteger}, {15, kNumber}, {21, kInteger}}, parsed);
      status != kOk)
    return status;
  MessageRecord message;
  if (!TakeStrict(parsed.Column(2), message.text)) return kInvalidData;
  message.deleted = record.deleted;
  message.messageId = static_cast<int32_t>(parsed.rowId);
  message.handleId = detail::Int32Value(parsed.Column(5));
  message.date = CocoaDateText(parsed.Column(15), /*nanosecondsAllowed=*/true);
  message.sent = detail::HoldsInteger(parsed.Column(21), 1) ? 1 : 0;
  if (parsed.rowId > 0) {
    reader.messageRowidCounter = std::max(reader.messageRowidCounter, static_cast<uint64_t>(parsed.rowId));
  }
  out.push_back(std::move(message));
  return kOk;
}

Status DecodeContactRecord(SqliteDbReader& reader, const RecordLocation& record,
                           std::vector<ContactRecord>& out) {
  ParsedRecord parsed;
  detail::CarvedLayout layout = detail::TableLayout(reader);
  if (reader.contactHeaderLength > 0) layout.columnCount = static_cast<uint32_t>(reader.contactHeaderLength);
  if (const Status status = detail::ParseTakenColumns(reader, record, layout,
                                                      {{1, kText},
                                                       {2, kText},
                                                       {7, kText},
                                                       {16, kText},
                                                       {17, kText},
                                                       {18, kText},
                                                       {19, kText},
                                                       {20, kText}},
                                                      parsed);
      status != kOk) {
    return status;
  }
  if (record.mode == RecordMode::kFullCell)
    reader.contactHeaderLength = static_cast<int32_t>(parsed.columns.size());
  ContactRecord contact;
  std::string first, last;
  if (!TakeStrict(parsed.Column(1), first) || !TakeStrict(parsed.Column(2), last) ||
      !TakeStrict(parsed.Column(7), contact.company) || !TakeStrict(parsed.Column(16), contact.phones) ||
      !TakeStrict(parsed.Column(17), contact.email) || !TakeStrict(parsed.Column(18), contact.address) ||
      !TakeStrict(parsed.Column(19), contact.social) || !TakeStrict(parsed.Column(20), contact.url) ||
      HasControlCharacter(contact.phones)) {
    return kInvalidData;
  }
  contact.deleted = record.deleted;
  contact.name = first + last;
  if (parsed.rowId > 0) {
    reader.contactRowidCounter = std::max(reader.contactRowidCounter, static_cast<uint64_t>(parsed.rowId));
  }
  out.push_back(std::move(contact));
  return kOk;
}

Status DecodeCallRecord(SqliteDbReader& reader, const RecordLocation& record, std::vector<CallRecord>& out) {
  const bool callRecordTable = reader.callSchemaFlag == 1;
  ParsedRecord parsed;
  const detail::CarvedLayout layout{static_cast<uint32_t>(std::max(reader.callHeaderLength, 0))};
  const Status status =
      callRecordTable
          ? detail::ParseTakenColumns(reader, record, layout,
                                      {{8, kInteger}, {10, kNumber}, {11, kNumber}, {12, kText}}, parsed)
          : detail::ParseTakenColumns(reader, record, layout,
                                      {{1, kText}, {2, kInteger}, {3, kNumber}, {4, kInteger}}, parsed);
  if (status != kOk) return status;
  if (record.mode == RecordMode::kFullCell)
    reader.callHeaderLength = static_cast<int32_t>(parsed.columns.size());
  CallRecord call;
  call.deleted = record.deleted;
  if (callRecordTable) {
    call.incoming = detail::HoldsInteger(parsed.Column(8), 0) ? 1 : 0;
    call.date = CocoaDateText(parsed.Column(10));
    call.duration = detail::WholeNumber32(parsed.Column(11));
    call.number = detail::TextValue(parsed.Column(12));
  } else {
    call.number = detail::TextValue(parsed.Column(1));
    if (HasControlCharacter(call.number)) return kInvalidData;
    call.date = detail::UnixDateText(parsed.Column(2));
    call.duration = detail::WholeNumber32(parsed.Column(3));
    call.incoming = detail::HoldsInteger(parsed.Column(4), 0) ? 1 : 0;
  }
  if (!call.number.empty() && !call.date.empty()) out.push_back(std::move(call));
  return kOk;
}

Status DecodeNoteRecord(SqliteDbReader& reader, const RecordLocation& record, std::vector<NoteRow>& out) {
  ParsedRecord parsed;
  if (const Status status = Parse(reader, record, {{11, kInteger}, {13, kNumber}, {14, kText}}, parsed);
      status != kOk)
    return status;
  NoteRow row;
  row.deleted = record.deleted;
  row.noteId = detail::Int32Value(parsed.Column(11));
  row.date = CocoaDateText(parsed.Column(13));
  row.title = detail::TextValue(parsed.Column(14));
  out.push_back(std::move(row));
  return kOk;
}

Status DecodeNoteBodyRecord(SqliteDbReader& reader, const RecordLocation& record,
                            std::vector<NoteBodyRow>& out) {
  ParsedRecord parsed;
  if (const Status status = Parse(reader, record, {{3, kInteger}, {4, kText}}, parsed); status != kOk)
    return status;
  out.push_back(
      NoteBodyRow{record.deleted, detail::Int32Value(parsed.Column(3)), detail::TextValue(parsed.Column(4))});
  return kOk;
}

Status DecodeFriendRecord(SqliteDbReader& reader, const RecordLocation& record, std::vector<FriendRow>& out) {
  ParsedRecord parsed;
  if (const Status status = Parse(reader, record, {{1, kText}, {2, kText}, {6, kInteger}}, parsed);
      status != kOk)
    return status;
  out.push_back(FriendRow{record.deleted, detail::TextValue(parsed.Column(1)),
                          detail::TextValue(parsed.Column(2)), detail::Int32Value(parsed.Column(6))});
  return kOk;
}

Status DecodeC2cTableRecord(SqliteDbReader& reader, const RecordLocation& record,
                            std::vector<C2cTableRow>& out) {
  ParsedRecord parsed;
  if (const Status status = Parse(reader, record, {{0, kText}}, parsed); status != kOk) return status;
  C2cTableRow row;
  row.deleted = record.deleted;
  row.tableName = detail::TextValue(parsed.Column(0));
  const std::size_t underscore = row.tableName.rfind('_');
  if (underscore != std::string::npos) row.friendKey = row.tableName.substr(underscore + 1);
  out.push_back(std::move(row));
  return kOk;
}

Status DecodeC2cMessageRecord(SqliteDbReader& reader, const RecordLocation& record,
                              std::vector<ChatMessageRecord>& out) {
  ParsedRecord parsed;
  if (const Status status =
          Parse(reader, record, {{1, kText}, {2, kInteger}, {4, kInteger}, {6, kText}}, parsed);
      status != kOk)
    return status;
  ChatMessageRecord message;
  message.contactId = detail::TextValue(parsed.Column(1));
  if (!reader.contactFilter.empty() && message.contactId != reader.contactFilter) return kInvalidData;
  message.deleted = record.deleted;
  message.rowId = parsed.rowId;
  message.date = detail::UnixDateText(parsed.Column(2));
  message.sent = detail::HoldsInteger(parsed.Column(4), 0) ? 1 : 0;
  message.text = detail::TextValue(parsed.Column(6));
  if (!message.text.empty()) out.push_back(std::move(message));
  return kOk;
}

Status DecodeChatMessageRecord(SqliteDbReader& reader, const RecordLocation& record,
                               std::vector<ChatMessageRecord>& out) {
  ParsedRecord parsed;
  if (const Status status = Parse(reader, record, {{3, kInteger}, {4, kText}, {8, kInteger}}, parsed);
      status != kOk)
    return status;
  ChatMessageRecord message;
  message.deleted = record.deleted;
  message.rowId = parsed.rowId;
  message.date = detail::UnixDateText(parsed.Column(3));
  message.text = detail::TextValue(parsed.Column(4));
  message.sent = detail::HoldsInteger(parsed.Column(8), 0) ? 1 : 0;
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

Status DecodeWhatsAppMessageRecord(SqliteDbReader& reader, const RecordLocation& record,
                                   std::vector<WhatsAppRecord>& out) {
  const WhatsAppMessageColumns columns = WhatsAppMessageLayout(reader.messageColumnCount);
  ParsedRecord parsed;
  if (const Status status = Parse(reader, record,
                                  {{columns.sessionId, kInteger},
                                   {columns.memberId, kInteger},
                                   {columns.date, kNumber},
                                   {columns.fromMe, kInteger},
                                   {columns.text, kText}},
                                  parsed);
      status != kOk)
    return status;
  WhatsAppRecord message;
  if (!TakeStrict(parsed.Column(columns.text), message.text)) return kInvalidData;
  message.deleted = record.deleted;
  message.sent = detail::HoldsInteger(parsed.Column(columns.fromMe), 1) ? 1 : 0;
  message.messageKey = static_cast<int32_t>(parsed.rowId);
  message.sessionId = detail::Int32Value(parsed.Column(columns.sessionId));
  message.memberKey = detail::Int32Value(parsed.Column(columns.memberId));
  message.date = CocoaDateText(parsed.Column(columns.date));
  out.push_back(std::move(message));
  return kOk;
}

Status DecodeWhatsAppChatRecord(SqliteDbReader& reader, const RecordLocation& record,
                                std::vector<WhatsAppChatRow>& out) {
  const WhatsAppChatColumns columns = WhatsAppChatLayout(reader.messageColumnCount);
  ParsedRecord parsed;
  if (const Status status =
          Parse(reader, record, {{columns.contactId, kText}, {columns.partnerName, kText}}, parsed);
      status != kOk) {
    return status;
  }
  WhatsAppChatRow row;
  row.deleted = record.deleted;
  row.rowId = static_cast<int32_t>(parsed.rowId);
  const std::string contact = detail::TextValue(parsed.Column(columns.contactId));
  if (const std::size_t at = contact.find('@'); at != std::string::npos)
    row.contactId = contact.substr(0, at);
  row.partnerName = detail::TextValue(parsed.Column(columns.partnerName));
  out.push_back(std::move(row));
  return kOk;
}

Status DecodeWhatsAppMemberRecord(SqliteDbReader& reader, const RecordLocation& record,
                                  std::vector<WhatsAppMemberRow>& out) {
  const WhatsAppMemberColumns columns = WhatsAppMemberLayout(reader.messageColumnCount);
  ParsedRecord parsed;
  if (const Status status =
          Parse(reader, record,
                {{columns.chatId, kInteger}, {columns.memberName, kText}, {columns.memberId, kText}}, parsed);
      status != kOk)
    return status;
  WhatsAppMemberRow row;
  row.deleted = record.deleted;
  row.rowId = static_cast<int32_t>(parsed.rowId);
  row.chatId = detail::Int32Value(parsed.Column(columns.chatId));
  row.memberName = detail::TextValue(parsed.Column(columns.memberName));
  row.memberId = CutBeforeAt(detail::TextValue(parsed.Column(columns.memberId)));
  out.push_back(std::move(row));
  return kOk;
}

}  // namespace corvyn::sqlite
