// Record decoders of the application tables: each turns one record (a live
// cell, a cell of a reused free page, or a carved record) into at most one item
// and appends it to the output. They follow the record decoder contract of
// sqlite/SqliteDbReader.h: kOk when the record was read (the item may still be
// left out by the table's append rule), kInvalidData when it is refused (a
// body that runs past the available bytes, text that breaks the table's
// rules), or a read error while gathering overflow pages. A refused record
// appends nothing.
//
// Columns are numbered from 0 in the table's declared order. The columns each decoder takes are the taken
// columns of its TableProfile (ProfileFor below), read at their fixed positions unless the database's CREATE
// TABLE text names them elsewhere (ReadTableProfile):
// clang-format off
//   | decoder           | columns (declared name, fixed position)                  | appended when        |
//   |-------------------|----------------------------------------------------------|----------------------|
//   | handle            | id 1 (address)                                           | address not empty    |
//   | attachment        | filename 4                                               | name not empty       |
//   | join              | message_id 0, attachment_id 1                            | always               |
//   | message           | text 2 (strict), handle_id 5, date 15 (2001),            | always               |
//   |                   | is_from_me 21                                            |                      |
//   | contact           | c0First 1 + c1Last 2 (name), c6Organization 7,           | always               |
//   |                   | c15Phone 16 (no control characters), c16Email 17,        |                      |
//   |                   | c17Address 18, c18SocialProfile 19, c19URL 20; strict    |                      |
//   | call, ZCALLRECORD | ZORIGINATED 8 (0 = incoming), ZDATE 10 (2001),           | number and date set  |
//   |                   | ZDURATION 11, ZADDRESS 12                                |                      |
//   | call, `call`      | address 1 (no control characters), date 2 (1970),        | number and date set  |
//   |                   | duration 3, flags 4 (0 = incoming)                       |                      |
//   | note              | ZBODY 11, ZMODIFICATIONDATE 13 (2001), ZTITLE 14         | always               |
//   | note body         | ZOWNER 3, ZCONTENT 4                                     | always               |
//   | friend            | UsrName 1, NickName 2, Type 6                            | always               |
//   | table list        | name 0; friend key after its last '_'                    | always               |
//   | c2c message       | uin 1 (contact id), time 2 (1970), flag 4 (sent when 0), | text not empty       |
//   |                   | content 6                                                |                      |
//   | chat message      | CreateTime 3 (1970), Message 4, Des 8 (sent when 0)      | text not empty       |
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
#include <string_view>
#include <vector>

#include "core/Records.h"
#include "platform/Status.h"
#include "sqlite/SqliteDbReader.h"
#include "sqlite/TableProfile.h"
#include "sqlite/TableScans.h"

namespace corvyn::sqlite {

// The ZWAMESSAGE column count assumed when none was measured.
inline constexpr int32_t kDefaultWhatsAppMessageColumns = 28;

// Expected columns of a table by name (0 for tables the engine does not know):
// ZNOTEBODY 7, ZNOTE 19, message 38, handle 5, attachment 9,
// message_attachment_join 2, ABPersonFullTextSearch_content 24, call 13,
// Friend 13, tb_c2cTables 1, ZWAMESSAGE whatsAppMessageColumns,
// ZWACHATSESSION 18 or 20 and ZWAGROUPMEMBER 10 or 11 (below 28 or not),
// ZCALLRECORD 17, ZWACONTACT 11, ZWAPHONE 9 (all ignoring case), then names
// beginning with "Chat_" 9 and with "tb_c2cMsg" 50 (case-sensitive).
uint32_t ExpectedColumnCountFor(std::string_view tableName, int32_t whatsAppMessageColumns);

// The profile of a scan of the named table: its expected column count, its
// carving rules (message: 36 non-zero body bytes in freeblocks; call: tail
// and gap wait for a live cell's column count; call and ZCALLRECORD carve
// with the live column count, contacts with it once known) and the columns
// its decoder takes at their fixed positions (slots below).
TableProfile ProfileFor(std::string_view tableName,
                        int32_t whatsAppMessageColumns = kDefaultWhatsAppMessageColumns);

// ProfileFor plus the table's declared column names read from the
// database's schema; when they are readable, each taken column moves to the
// position its name holds there, and the others keep their fixed positions.
TableProfile ReadTableProfile(const SqliteDbReader& reader, std::string_view tableName,
                              int32_t whatsAppMessageColumns = kDefaultWhatsAppMessageColumns);

// Slots of the taken columns (TableProfile::Column), per decoder.
enum HandleSlot : std::size_t { kHandleAddress };
enum AttachmentSlot : std::size_t { kAttachmentFileName };
enum JoinSlot : std::size_t { kJoinMessageId, kJoinAttachmentId };
enum MessageSlot : std::size_t { kMessageText, kMessageHandleId, kMessageDate, kMessageFromMe };
enum ContactSlot : std::size_t {
  kContactFirst,
  kContactLast,
  kContactCompany,
  kContactPhones,
  kContactEmail,
  kContactAddress,
  kContactSocial,
  kContactUrl
};
enum CallSlot : std::size_t { kCallNumber, kCallDate, kCallDuration, kCallDirection };
enum NoteSlot : std::size_t { kNoteBody, kNoteDate, kNoteTitle };
enum NoteBodySlot : std::size_t { kNoteBodyOwner, kNoteBodyHtml };
enum FriendSlot : std::size_t { kFriendUserName, kFriendNickName, kFriendType };
enum C2cTableSlot : std::size_t { kC2cTableName };
enum C2cMessageSlot : std::size_t { kC2cContactId, kC2cDate, kC2cFlag, kC2cText };
enum ChatMessageSlot : std::size_t { kChatDate, kChatText, kChatSent };
enum WhatsAppMessageSlot : std::size_t {
  kWhatsAppSession,
  kWhatsAppMember,
  kWhatsAppDate,
  kWhatsAppFromMe,
  kWhatsAppText
};
enum WhatsAppChatSlot : std::size_t { kWhatsAppChatContact, kWhatsAppChatPartner };
enum WhatsAppMemberSlot : std::size_t { kWhatsAppMemberChat, kWhatsAppMemberName, kWhatsAppMemberId };

// Each decoder reads the columns of the profile it is given (a profile of
// its own table, from ProfileFor or ReadTableProfile).
Status DecodeHandleRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                          std::vector<HandleRow>& out);
Status DecodeAttachmentRecord(const SqliteDbReader& reader, TableProfile& profile,
                              const RecordLocation& record, std::vector<AttachmentRow>& out);
Status DecodeJoinRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                        std::vector<MessageAttachmentJoinRow>& out);

// Raises highestRowid to the largest rowid decoded.
Status DecodeMessageRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                           std::vector<MessageRecord>& out, uint64_t& highestRowid);

// Raises highestRowid to the largest rowid decoded and records each full
// cell's column count in profile.liveColumnCount; a carved record reads that
// many serial types (one fewer when its first column was lost) when it is
// set, else the table's expected count.
Status DecodeContactRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                           std::vector<ContactRecord>& out, uint64_t& highestRowid);

// Columns and date base by the profile's table (ZCALLRECORD or `call`).
// Records each full cell's column count in profile.liveColumnCount (the
// carving's stand-in for the expected column count of `call`, whose column
// count changed between iOS versions); a carved record reads that many
// serial types, and none until a full cell was decoded. A count is kept
// rather than the header length less 1, which only equals it while every
// serial type takes one byte.
Status DecodeCallRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                        std::vector<CallRecord>& out);

Status DecodeNoteRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                        std::vector<NoteRow>& out);
Status DecodeNoteBodyRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                            std::vector<NoteBodyRow>& out);
Status DecodeFriendRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                          std::vector<FriendRow>& out);
Status DecodeC2cTableRecord(const SqliteDbReader& reader, TableProfile& profile, const RecordLocation& record,
                            std::vector<C2cTableRow>& out);
// Rows of other conversations are refused through the profile's row filter
// (ScanC2cMessages sets it for the free-page step).
Status DecodeC2cMessageRecord(const SqliteDbReader& reader, TableProfile& profile,
                              const RecordLocation& record, std::vector<ChatMessageRecord>& out);
Status DecodeChatMessageRecord(const SqliteDbReader& reader, TableProfile& profile,
                               const RecordLocation& record, std::vector<ChatMessageRecord>& out);

// WhatsApp fixed column positions by the database's ZWAMESSAGE column count.
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

Status DecodeWhatsAppMessageRecord(const SqliteDbReader& reader, TableProfile& profile,
                                   const RecordLocation& record, std::vector<WhatsAppRecord>& out);
Status DecodeWhatsAppChatRecord(const SqliteDbReader& reader, TableProfile& profile,
                                const RecordLocation& record, std::vector<WhatsAppChatRow>& out);
Status DecodeWhatsAppMemberRecord(const SqliteDbReader& reader, TableProfile& profile,
                                  const RecordLocation& record, std::vector<WhatsAppMemberRow>& out);

}  // namespace corvyn::sqlite
