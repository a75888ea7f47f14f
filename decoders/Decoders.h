// Application database decoders: each turns one application database (already
// on disk) into recovered records, live and deleted, through the engine's own
// SQLite reader and carving. Every function returns a status code and never
// throws; the output containers belong to the caller.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "core/IPhoneRecoveryParse.h"
#include "core/Progress.h"
#include "core/Records.h"
#include "platform/Status.h"

namespace corvyn::decoders {

// Progress hand-over from an engine to a decoder: the decoder reports
// base + fraction of span; a non-zero answer stops the decoder, which returns
// it as its status.
using DecoderProgress = ProgressShare;

// Messages with their handles, contact names and attachment names, grouped by
// handle id in date order. highestRowId receives the largest message rowid
// (the starting number for WriteMessagesCsv). When the address book cannot be
// read the messages are kept without names (and the result is kOk). Returns the
// message database's open error, or the progress callback's non-zero answer
// (the map is then unchanged); the closing report's non-zero answer replaces
// any other result. A table of the message database that cannot be read
// loses its own rows; the others are still read and grouped, and the first
// such failure is returned.
Status DecodeMessages(ConversationMap& conversations, const std::filesystem::path& messageDb,
                      const std::filesystem::path& addressBookDb, const DecoderProgress& progress,
                      int64_t& highestRowId);
Status WriteMessagesCsv(const std::filesystem::path& messageDb, const std::filesystem::path& csvPath,
                        int64_t startingRowId);

// Contacts with phone numbers, one number per line, sorted by name. Returns kOk,
// the open error, or a failed read of the table (what was read before is kept;
// the caller's vector is still cleaned up).
Status DecodeContacts(std::vector<ContactRecord>& contacts, const std::filesystem::path& addressBookDb,
                      int64_t& highestRowId);
Status WriteContactsCsv(const std::filesystem::path& addressBookDb, const std::filesystem::path& csvPath,
                        int64_t startingRowId);

// Calls of the `ZCALLRECORD` table when a query of it runs, else of `call`,
// named from the address book and sorted by date. Returns the SQLite library's
// open code, the reader's open error, or the address book's open error (the
// calls then stay unnamed, in scan order).
Status DecodeCallHistory(std::vector<CallRecord>& calls, const std::filesystem::path& callHistoryDb,
                         const std::filesystem::path& addressBookDb);

// Note bodies paired with their titles and dates (Core Data time), HTML turned
// into text; appended to the caller's vector. Returns kOk, the open error, or
// the first table that could not be read to its end (what was read is kept).
// The Notes store of iOS 9 and later (NoteStore.sqlite) is recognised by its
// tables and read as decoders/NoteStore.h says.
Status DecodeNotes(std::vector<NoteRecord>& notes, const std::filesystem::path& notesDb);

// WhatsApp messages with text, named from their chat and group member, in
// date order per chat. messageColumnCount is the expected column count of
// `ZWAMESSAGE` (it picks the column positions): a query of the table sets it
// from its rows and leaves it as it was when the table is empty. Returns the
// SQLite library's open code, 1006 when the query fails, or a reader error;
// the map is unchanged on every error.
inline constexpr int32_t kInitialWhatsAppMessageColumnCount = 23;
Status DecodeWhatsApp(WhatsAppChatMap& chats, const std::filesystem::path& chatDb,
                      int32_t& messageColumnCount);
// The same with one column count kept for the whole process (23 at start).
Status DecodeWhatsApp(WhatsAppChatMap& chats, const std::filesystem::path& chatDb);

// QQ: one conversation per `tb_c2cTables` row, keyed by the friend key.
// WeChat: one per `Friend` row (table "Chat_" + MD5 of the user name), keyed by
// the user name, plus "Unknown" for rows of free pages. Conversations are in
// date order. Return 0, or the error of opening or of the index table's scan.
Status DecodeQQ(ChatConversationMap& chats, const std::filesystem::path& qqDb);
Status DecodeWeChat(ChatConversationMap& chats, const std::filesystem::path& weChatDb);

}  // namespace corvyn::decoders
