// Record decoders of the application tables: each turns one record (a live
// cell, a cell of a reused free page, or a carved record) into at most one item
// and appends it to the output. They follow the record decoder contract of
// sqlite/SqliteDbReader.h: 0 when the record was read (the item may still be
// left out by the table's append rule), 87 when it is refused (a body that runs
// past the available bytes, text that breaks the table's rules), or a read
// error while gathering overflow pages. A refused record appends nothing.
//
// Columns (numbered from 0 in the table's declared order) and append rules:
// clang-format off
//   | decoder           | columns                                                  | appended when        |
//   |-------------------|----------------------------------------------------------|----------------------|
//   | handle            | 1 address                                                | address not empty    |
//   | attachment        | 4 file name                                              | name not empty       |
//   | join              | 0 message id, 1 attachment id                            | always               |
//   | message           | 2 text (strict), 5 handle id, 15 date (2001), 21 from me | always               |
//   | contact           | 1+2 name, 7 company, 16 phones (no control characters),  | always               |
//   |                   | 17 e-mail, 18 address, 19 social, 20 url; all strict     |                      |
//   | call, ZCALLRECORD | 8 originated (0 = incoming), 10 date (2001), 11 duration,| number and date set  |
//   |                   | 12 number                                                |                      |
//   | call, `call`      | 1 number (no control characters), 2 date (1970),         | number and date set  |
//   |                   | 3 duration, 4 flags (0 = incoming)                       |                      |
//   | note              | 11 body link, 13 date (2001), 14 title                   | always               |
//   | note body         | 3 owning note, 4 HTML                                    | always               |
//   | friend            | 1 user name, 2 nickname, 6 type                          | always               |
//   | table list        | 0 table name; friend key after its last '_'              | always               |
//   | c2c message       | 1 contact id (equal to the reader's contact filter when  | text not empty       |
//   |                   | that is set), 2 date (1970), 4 sent when 0, 6 text       |                      |
//   | chat message      | 3 date (1970), 4 text, 8 sent when 0                     | text not empty       |
//   | WhatsApp          | see WhatsAppMessageLayout and the other layouts below    | always               |
// clang-format on
//
// Deleted records (carved or from a free page) are also refused when a column
// taken holds another storage class than the table keeps there (text where a
// number belongs and the like); NULL always fits.
//
// 2001-based dates are seconds since 2001-01-01 UTC, stored as an integer or,
// with a fraction, as a double; message dates beyond 1e12 are nanoseconds.
#pragma once

#include <cstdint>
#include <vector>

#include "core/Records.h"
#include "platform/Status.h"
#include "sqlite/SqliteDbReader.h"
#include "sqlite/TableScans.h"

namespace corvyn::sqlite {

Status DecodeHandleRecord(SqliteDbReader& reader, const RecordLocation& record, std::vector<HandleRow>& out);
Status DecodeAttachmentRecord(SqliteDbReader& reader, const RecordLocation& record,
                              std::vector<AttachmentRow>& out);
Status DecodeJoinRecord(SqliteDbReader& reader, const RecordLocation& record,
                        std::vector<MessageAttachmentJoinRow>& out);

// Raises reader.messageRowidCounter to the largest rowid decoded.
Status DecodeMessageRecord(SqliteDbReader& reader, const RecordLocation& record,
                           std::vector<MessageRecord>& out);

// Raises reader.contactRowidCounter to the largest rowid decoded and records
// each full cell's column count in reader.contactHeaderLength; a carved
// record reads that many serial types (one fewer when its first column was
// lost) when it is set, else the table's expected count.
Status DecodeContactRecord(SqliteDbReader& reader, const RecordLocation& record,
                           std::vector<ContactRecord>& out);

// Columns by reader.callSchemaFlag. Records each full cell's column count in
// reader.callHeaderLength (the carving's stand-in for the expected column
// count of `call`, whose column count changed between iOS versions); a carved
// record reads that many serial types, and none until a full cell was
// decoded. A count is kept rather than the header length less 1, which only
// equals it while every serial type takes one byte.
Status DecodeCallRecord(SqliteDbReader& reader, const RecordLocation& record, std::vector<CallRecord>& out);

Status DecodeNoteRecord(SqliteDbReader& reader, const RecordLocation& record, std::vector<NoteRow>& out);
Status DecodeNoteBodyRecord(SqliteDbReader& reader, const RecordLocation& record,
                            std::vector<NoteBodyRow>& out);
Status DecodeFriendRecord(SqliteDbReader& reader, const RecordLocation& record, std::vector<FriendRow>& out);
Status DecodeC2cTableRecord(SqliteDbReader& reader, const RecordLocation& record,
                            std::vector<C2cTableRow>& out);
Status DecodeC2cMessageRecord(SqliteDbReader& reader, const RecordLocation& record,
                              std::vector<ChatMessageRecord>& out);
Status DecodeChatMessageRecord(SqliteDbReader& reader, const RecordLocation& record,
                               std::vector<ChatMessageRecord>& out);

// WhatsApp column positions by the reader's ZWAMESSAGE column count.
struct WhatsAppMessageColumns {
  uint32_t sessionId, memberId, date, fromMe, text;
};
struct WhatsAppChatColumns {
  uint32_t contactId, partnerName;
};
struct WhatsAppMemberColumns {
  uint32_t chatId, memberName, memberId;
};
// Below 29 columns: the 28-column positions when the count is 28, else the
// 27-column ones. 29 and more: the 29-column positions when the count is 29,
// else the 27-column ones.
WhatsAppMessageColumns WhatsAppMessageLayout(int32_t messageColumnCount);
// The newer positions when the count is 28 or more.
WhatsAppChatColumns WhatsAppChatLayout(int32_t messageColumnCount);
WhatsAppMemberColumns WhatsAppMemberLayout(int32_t messageColumnCount);

Status DecodeWhatsAppMessageRecord(SqliteDbReader& reader, const RecordLocation& record,
                                   std::vector<WhatsAppRecord>& out);
Status DecodeWhatsAppChatRecord(SqliteDbReader& reader, const RecordLocation& record,
                                std::vector<WhatsAppChatRow>& out);
Status DecodeWhatsAppMemberRecord(SqliteDbReader& reader, const RecordLocation& record,
                                  std::vector<WhatsAppMemberRow>& out);

}  // namespace corvyn::sqlite
