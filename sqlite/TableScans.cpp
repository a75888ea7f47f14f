#include "sqlite/TableScans.h"

#include <ctime>
#include <string>

#include "core/TextFormat.h"
#include "sqlite/RecordDecoders.h"
#include "sqlite/ValueListWriter.h"

namespace corvyn::sqlite {
namespace {

template <typename Row>
using RowDecoder = Status (*)(SqliteDbReader&, const RecordLocation&, std::vector<Row>&);

template <typename Row>
Status Scan(SqliteDbReader& reader, std::string_view tableName, RowDecoder<Row> decode, std::vector<Row>& out,
            bool scanFreePages = true) {
  return reader.ScanTable(
      tableName, [&](SqliteDbReader& r, const RecordLocation& record) { return decode(r, record, out); },
      scanFreePages);
}

// A name no schema row can carry (it holds a zero character) that keeps the
// table name's prefix, so it looks up the same expected column count: scanning
// it visits the database's free pages only.
std::string FreePagesOnlyName(std::string_view tableName) {
  std::string name(tableName);
  name.push_back('\0');
  name += "free pages";
  return name;
}

template <typename LineBuilder>
Status WriteValueList(SqliteDbReader& reader, std::string_view tableName, const std::filesystem::path& output,
                      const LineBuilder& buildLine) {
  ValueListFile file;
  if (const Status opened = file.Open(output); opened != kOk) return opened;
  std::string line;
  const Status scanned = reader.ScanTable(tableName, [&](SqliteDbReader& r, const RecordLocation& record) {
    const Status built = buildLine(r, record, line);
    if (built == kOk) file.Write(line);
    return built;
  });
  const Status written = file.Close();
  return written != kOk ? written : scanned;
}

}  // namespace

Status WriteMessageValueList(SqliteDbReader& reader, const std::filesystem::path& output) {
  const int64_t nowCocoaSeconds = static_cast<int64_t>(std::time(nullptr)) - kCocoaEpochOffset;
  return WriteValueList(
      reader, "message", output,
      [nowCocoaSeconds](SqliteDbReader& r, const RecordLocation& record, std::string& line) {
        return BuildMessageValueLine(r, record, nowCocoaSeconds, line);
      });
}

Status WriteContactValueList(SqliteDbReader& reader, const std::filesystem::path& output) {
  return WriteValueList(reader, "ABPersonFullTextSearch_content", output, &BuildContactValueLine);
}

Status ScanMessages(SqliteDbReader& reader, std::vector<MessageRecord>& out) {
  return Scan(reader, "message", &DecodeMessageRecord, out);
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

Status ScanContacts(SqliteDbReader& reader, std::vector<ContactRecord>& out) {
  return Scan(reader, "ABPersonFullTextSearch_content", &DecodeContactRecord, out);
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
  reader.contactFilter.clear();
  const Status tableStatus = Scan(reader, tableName, &DecodeC2cMessageRecord, out, /*scanFreePages=*/false);
  // A free page may hold rows of any conversation: only this friend's are kept.
  reader.contactFilter = std::string(friendKey);
  const Status freeStatus = Scan(reader, FreePagesOnlyName(tableName), &DecodeC2cMessageRecord, out);
  reader.contactFilter.clear();
  reader.SetCurrentTableName(tableName);
  return tableStatus != kOk ? tableStatus : freeStatus;
}

Status ScanChatMessages(SqliteDbReader& reader, std::string_view tableName, bool scanFreePages,
                        std::vector<ChatMessageRecord>& out) {
  return Scan(reader, tableName, &DecodeChatMessageRecord, out, scanFreePages);
}

Status ScanWhatsAppMessages(SqliteDbReader& reader, std::vector<WhatsAppRecord>& out) {
  return Scan(reader, "ZWAMESSAGE", &DecodeWhatsAppMessageRecord, out);
}

Status ScanWhatsAppChats(SqliteDbReader& reader, std::vector<WhatsAppChatRow>& out) {
  return Scan(reader, "ZWACHATSESSION", &DecodeWhatsAppChatRecord, out);
}

Status ScanWhatsAppMembers(SqliteDbReader& reader, std::vector<WhatsAppMemberRow>& out) {
  return Scan(reader, "ZWAGROUPMEMBER", &DecodeWhatsAppMemberRecord, out);
}

}  // namespace corvyn::sqlite
