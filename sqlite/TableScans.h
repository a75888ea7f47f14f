// One scan operation per application table the decoders read. Each builds
// the table's profile (ReadTableProfile in sqlite/RecordDecoders.h: expected
// columns, carving rules, the decoder's columns checked against the
// database's CREATE TABLE text), runs SqliteDbReader::ScanTable with it and
// the table's record decoder on an opened reader, and appends the items
// (live rows with deleted 0, rows from free pages and carved rows with
// deleted 1) to the output. Each returns kOk or the first page-read error; a
// record its decoder rejects is skipped.
//
// Column numbers count from 0 in the table's declared order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/MessageList.h"
#include "core/Records.h"
#include "platform/Status.h"
#include "sqlite/SqliteDbReader.h"

namespace corvyn::sqlite {

// `handle`: column 1 (address). Kept when the address is not empty.
struct HandleRow {
  int32_t deleted = 0;
  int64_t rowId = 0;  // 0 for carved rows
  std::string address;
};

// `attachment`: column 4 (file name). Kept when the name is not empty.
struct AttachmentRow {
  int32_t deleted = 0;
  int64_t rowId = 0;
  int32_t messageId = 0;  // 0 as delivered; the messages decoder fills it
  std::string fileName;
};

// `message_attachment_join`: column 0 (message id), column 1 (attachment id).
struct MessageAttachmentJoinRow {
  int32_t deleted = 0;
  int32_t messageId = 0;
  int32_t attachmentId = 0;
};

// `ZNOTE`: column 11 (note id), 13 (date, Core Data seconds), 14 (title).
struct NoteRow {
  int32_t deleted = 0;
  int32_t noteId = 0;
  std::string date;
  std::string title;
};

// `ZNOTEBODY`: column 3 (owning note id), 4 (HTML body).
struct NoteBodyRow {
  int32_t deleted = 0;
  int32_t noteId = 0;
  std::string html;
};

// WeChat `Friend`: column 1 (user name), 2 (nickname), 6 (type).
struct FriendRow {
  int32_t deleted = 0;
  std::string userName;
  std::string nickName;
  int32_t type = 0;
};

// QQ `tb_c2cTables`: column 0 (a tb_c2cMsg table name); the part after its
// last underscore is the friend (contact) id.
struct C2cTableRow {
  int32_t deleted = 0;
  std::string tableName;
  std::string friendKey;
};

// WhatsApp `ZWACHATSESSION`.
struct WhatsAppChatRow {
  int32_t deleted = 0;
  int32_t rowId = 0;
  std::string contactId;    // column 14 / 16, cut before the first '@' (empty without '@')
  std::string partnerName;  // column 16 / 18
  std::string memberIds;    // filled by the WhatsApp decoder
  std::string memberNames;  // filled by the WhatsApp decoder
};

// WhatsApp `ZWAGROUPMEMBER`.
struct WhatsAppMemberRow {
  int32_t deleted = 0;
  int32_t rowId = 0;
  int32_t chatId = 0;      // column 5 / 6
  std::string memberId;    // column 9 / 10, cut before the first '@' when there is one
  std::string memberName;  // column 7 / 8
};

// `message`: MessageRecord with deleted, sent (column 21 holds 1), messageId
// (rowid), handleId (column 5), date (column 15, Core Data seconds or
// nanoseconds as stored), text (column 2, strict UTF-8). highestRowid gets
// the largest rowid decoded (0 when none).
Status ScanMessages(SqliteDbReader& reader, std::vector<MessageRecord>& out, uint64_t& highestRowid);
Status ScanMessages(SqliteDbReader& reader, std::vector<MessageRecord>& out);
Status ScanMessages(SqliteDbReader& reader, MessageList& out, uint64_t& highestRowid);
Status ScanHandles(SqliteDbReader& reader, std::vector<HandleRow>& out);
Status ScanAttachments(SqliteDbReader& reader, std::vector<AttachmentRow>& out);
Status ScanMessageAttachmentJoins(SqliteDbReader& reader, std::vector<MessageAttachmentJoinRow>& out);

// `ABPersonFullTextSearch_content`: ContactRecord (name from columns 1 and 2,
// the other fields as the contacts decoder documents). highestRowid gets the
// largest rowid decoded (0 when none).
Status ScanContacts(SqliteDbReader& reader, std::vector<ContactRecord>& out, uint64_t& highestRowid);
Status ScanContacts(SqliteDbReader& reader, std::vector<ContactRecord>& out);

// `call` or `ZCALLRECORD`, by tableName (the columns follow the name).
// Kept when both the number and the date text are not empty.
Status ScanCalls(SqliteDbReader& reader, std::string_view tableName, std::vector<CallRecord>& out);

Status ScanNotes(SqliteDbReader& reader, std::vector<NoteRow>& out);
Status ScanNoteBodies(SqliteDbReader& reader, std::vector<NoteBodyRow>& out);

Status ScanFriends(SqliteDbReader& reader, std::vector<FriendRow>& out);
Status ScanC2cTables(SqliteDbReader& reader, std::vector<C2cTableRow>& out);
// A QQ tb_c2cMsg table; during its free-page step rows whose contact id is
// not friendKey are refused when it is not empty (a free page may hold any
// conversation's rows).
Status ScanC2cMessages(SqliteDbReader& reader, std::string_view tableName, std::string_view friendKey,
                       std::vector<ChatMessageRecord>& out);
// A WeChat "Chat_" table; free pages are scanned only when scanFreePages.
Status ScanChatMessages(SqliteDbReader& reader, std::string_view tableName, bool scanFreePages,
                        std::vector<ChatMessageRecord>& out);

// WhatsApp tables; expected column counts and fixed column positions follow
// the database's ZWAMESSAGE column count (messageColumnCount).
// ZWAMESSAGE gives WhatsAppRecord with deleted, sent, messageKey (rowid),
// sessionId, memberKey, date and text.
Status ScanWhatsAppMessages(SqliteDbReader& reader, int32_t messageColumnCount,
                            std::vector<WhatsAppRecord>& out);
Status ScanWhatsAppChats(SqliteDbReader& reader, int32_t messageColumnCount,
                         std::vector<WhatsAppChatRow>& out);
Status ScanWhatsAppMembers(SqliteDbReader& reader, int32_t messageColumnCount,
                           std::vector<WhatsAppMemberRow>& out);

// Value-list (CSV) files: every live, free-page and carved row of `message` or
// `ABPersonFullTextSearch_content` becomes one line of the file, which is
// opened once for the whole scan. Rows without their own rowid are numbered
// on from startingRowid. An error status when the file cannot be opened or
// written; a row that fails to decode writes nothing.
Status WriteMessageValueList(SqliteDbReader& reader, const std::filesystem::path& output,
                             uint64_t startingRowid);
Status WriteContactValueList(SqliteDbReader& reader, const std::filesystem::path& output,
                             uint64_t startingRowid);

}  // namespace corvyn::sqlite
