#include "sqlite/TableScans.h"

#include <ctime>
#include <string>

#include "core/TextFormat.h"
#include "sqlite/RecordDecoders.h"
#include "sqlite/ValueListWriter.h"

namespace corvyn::sqlite {
namespace {

template <typename Row>
using RowDecoder = Status (*)(const SqliteDbReader&, TableProfile&, const RecordLocation&, std::vector<Row>&);

template <typename Row>
Status Scan(SqliteDbReader& reader, TableProfile& profile, RowDecoder<Row> decode, std::vector<Row>& out) {
  return reader.ScanTable(profile, [&](SqliteDbReader& r, const RecordLocation& record) {
    return decode(r, profile, record, out);
  });
}

template <typename Row>
Status Scan(SqliteDbReader& reader, std::string_view tableName, RowDecoder<Row> decode, std::vector<Row>& out,
            int32_t whatsAppMessageColumns = kDefaultWhatsAppMessageColumns) {
  TableProfile profile = ReadTableProfile(reader, tableName, whatsAppMessageColumns);
  return Scan(reader, profile, decode, out);
}

template <typename LineBuilder>
Status WriteValueList(SqliteDbReader& reader, std::string_view tableName, const std::filesystem::path& output,
                      const LineBuilder& buildLine) {
  ValueListFile file;
  if (const Status opened = file.Open(output); opened != kOk) return opened;
  TableProfile profile = ProfileFor(tableName);
  std::string line;
  const Status scanned = reader.ScanTable(profile, [&](SqliteDbReader& r, const RecordLocation& record) {
    const Status built = buildLine(r, record, line);
    if (built == kOk) file.Write(line);
    return built;
  });
  const Status written = file.Close();
  return written != kOk ? written : scanned;
}

}  // namespace

Status WriteMessageValueList(SqliteDbReader& reader, const std::filesystem::path& output,
                             uint64_t startingRowid) {
  const int64_t nowCocoaSeconds = static_cast<int64_t>(std::time(nullptr)) - kCocoaEpochOffset;
  ValueListNumbering numbering{startingRowid, 0};
  return WriteValueList(reader, "message", output,
                        [&](SqliteDbReader& r, const RecordLocation& record, std::string& line) {
                          return BuildMessageValueLine(r, record, nowCocoaSeconds, numbering, line);
                        });
}

Status WriteContactValueList(SqliteDbReader& reader, const std::filesystem::path& output,
                             uint64_t startingRowid) {
  ValueListNumbering numbering{startingRowid, 0};
  return WriteValueList(reader, "ABPersonFullTextSearch_content", output,
                        [&](SqliteDbReader& r, const RecordLocation& record, std::string& line) {
                          return BuildContactValueLine(r, record, numbering, line);
                        });
}

Status ScanMessages(SqliteDbReader& reader, std::vector<MessageRecord>& out, uint64_t& highestRowid) {
  highestRowid = 0;
  TableProfile profile = ReadTableProfile(reader, "message");
  return reader.ScanTable(profile, [&](SqliteDbReader& r, const RecordLocation& record) {
    return DecodeMessageRecord(r, profile, record, out, highestRowid);
  });
}

Status ScanMessages(SqliteDbReader& reader, MessageList& out, uint64_t& highestRowid) {
  highestRowid = 0;
  TableProfile profile = ReadTableProfile(reader, "message");
  std::vector<MessageRecord> decoded;
  return reader.ScanTable(profile, [&](SqliteDbReader& r, const RecordLocation& record) {
    const Status status = DecodeMessageRecord(r, profile, record, decoded, highestRowid);
    for (MessageRecord& message : decoded) out.push_back(std::move(message));
    decoded.clear();
    return status;
  });
}

Status ScanMessages(SqliteDbReader& reader, std::vector<MessageRecord>& out) {
  uint64_t highestRowid = 0;
  return ScanMessages(reader, out, highestRowid);
}

Status ScanHandles(SqliteDbReader& reader, std::vector<HandleRow>& out) {
  return Scan(reader, "handle", &DecodeHandleRecord, out);
}

Status ScanAttachments(SqliteDbReader& reader, std::vector<AttachmentRow>& out) {
  return Scan(reader, "attachment", &DecodeAttachmentRecord, out);
}

Status ScanMessageAttachmentJoins(SqliteDbReader& reader, std::vector<MessageAttachmentJoinRow>& out) {
  return Scan(reader, "message_attachment_join", &DecodeJoinRecord, out);
}

Status ScanContacts(SqliteDbReader& reader, std::vector<ContactRecord>& out, uint64_t& highestRowid) {
  highestRowid = 0;
  TableProfile profile = ReadTableProfile(reader, "ABPersonFullTextSearch_content");
  return reader.ScanTable(profile, [&](SqliteDbReader& r, const RecordLocation& record) {
    return DecodeContactRecord(r, profile, record, out, highestRowid);
  });
}

Status ScanContacts(SqliteDbReader& reader, std::vector<ContactRecord>& out) {
  uint64_t highestRowid = 0;
  return ScanContacts(reader, out, highestRowid);
}

Status ScanCalls(SqliteDbReader& reader, std::string_view tableName, std::vector<CallRecord>& out) {
  return Scan(reader, tableName, &DecodeCallRecord, out);
}

Status ScanNotes(SqliteDbReader& reader, std::vector<NoteRow>& out) {
  return Scan(reader, "ZNOTE", &DecodeNoteRecord, out);
}

Status ScanNoteBodies(SqliteDbReader& reader, std::vector<NoteBodyRow>& out) {
  return Scan(reader, "ZNOTEBODY", &DecodeNoteBodyRecord, out);
}

Status ScanFriends(SqliteDbReader& reader, std::vector<FriendRow>& out) {
  return Scan(reader, "Friend", &DecodeFriendRecord, out);
}

Status ScanC2cTables(SqliteDbReader& reader, std::vector<C2cTableRow>& out) {
  return Scan(reader, "tb_c2cTables", &DecodeC2cTableRecord, out);
}

Status ScanC2cMessages(SqliteDbReader& reader, std::string_view tableName, std::string_view friendKey,
                       std::vector<ChatMessageRecord>& out) {
  TableProfile profile = ReadTableProfile(reader, tableName);
  profile.scanFreePages = false;
  const Status tableStatus = Scan(reader, profile, &DecodeC2cMessageRecord, out);
  // A free page may hold rows of any conversation: only this friend's are kept.
  profile.scanTableTrees = false;
  profile.scanFreePages = true;
  if (!friendKey.empty())
    profile.rowFilter = TextMatch{profile.Column(kC2cContactId), std::string(friendKey)};
  const Status freeStatus = Scan(reader, profile, &DecodeC2cMessageRecord, out);
  return tableStatus != kOk ? tableStatus : freeStatus;
}

Status ScanChatMessages(SqliteDbReader& reader, std::string_view tableName, bool scanFreePages,
                        std::vector<ChatMessageRecord>& out) {
  TableProfile profile = ReadTableProfile(reader, tableName);
  profile.scanFreePages = scanFreePages;
  return Scan(reader, profile, &DecodeChatMessageRecord, out);
}

Status ScanWhatsAppMessages(SqliteDbReader& reader, int32_t messageColumnCount,
                            std::vector<WhatsAppRecord>& out) {
  return Scan(reader, "ZWAMESSAGE", &DecodeWhatsAppMessageRecord, out, messageColumnCount);
}

Status ScanWhatsAppChats(SqliteDbReader& reader, int32_t messageColumnCount,
                         std::vector<WhatsAppChatRow>& out) {
  return Scan(reader, "ZWACHATSESSION", &DecodeWhatsAppChatRecord, out, messageColumnCount);
}

Status ScanWhatsAppMembers(SqliteDbReader& reader, int32_t messageColumnCount,
                           std::vector<WhatsAppMemberRow>& out) {
  return Scan(reader, "ZWAGROUPMEMBER", &DecodeWhatsAppMemberRecord, out, messageColumnCount);
}

}  // namespace corvyn::sqlite
