#include "decoders/ContactNameIndex.h"
#include "decoders/DecoderSteps.h"
#include "decoders/Decoders.h"
#include "decoders/FirstFailure.h"
#include "decoders/MessageChats.h"
#include "decoders/TypedStream.h"
#include "sqlite/MessageScans.h"
#include "sqlite/SqliteDbReader.h"
#include "sqlite/TableScans.h"

namespace corvyn::decoders {
namespace {

// Reads the four message tables and the address book's contact rows. Returns
// the message database's open error or the first non-zero progress answer
// (the caller then stops); a table that cannot be read is noted in `failure`
// and the others are still read. A missing address book leaves the contacts empty: the
// messages are still worth showing without names.
Status ReadMessageTables(MessageTables& tables, MessageChatTables& chatTables,
                         const std::filesystem::path& messageDb, const std::filesystem::path& addressBookDb,
                         const DecoderProgress& progress, int64_t& highestRowId, FirstFailure& failure) {
  sqlite::SqliteDbReader reader;
  if (const Status opened = reader.Open(messageDb); opened != kOk) return opened;
  // A message table of a layout this reader does not know (no text or no
  // date column) is an error, not an empty success.
  if (!sqlite::HasKnownMessageColumns(reader))
    return Status(kInvalidData, "the message table of this Messages database has no text or no date column");

  // A table that could not be read to its end still gives the rows read
  // before the failure; the other tables are read all the same. Tables of
  // iOS 10 and later are read by column name, with their chats.
  uint64_t highestMessageRowid = 0;
  if (sqlite::HasModernMessageTable(reader)) {
    failure.Note(sqlite::ScanModernMessages(reader, &TypedStreamText, tables.messages, highestMessageRowid),
                 "message");
    failure.Note(sqlite::ScanChats(reader, chatTables.chats), "chat");
    failure.Note(sqlite::ScanChatMessageJoins(reader, chatTables.chatMessages), "chat_message_join");
    failure.Note(sqlite::ScanChatHandleJoins(reader, chatTables.chatHandles), "chat_handle_join");
    failure.Note(sqlite::ScanRecoverableMessageJoins(reader, chatTables.recoverable),
                 "chat_recoverable_message_join");
  } else {
    failure.Note(sqlite::ScanMessages(reader, tables.messages, highestMessageRowid), "message");
  }
  if (Status answer = progress.ReportAt(1, 5); answer != kOk) return answer;
  highestRowId = static_cast<int64_t>(highestMessageRowid);

  failure.Note(sqlite::ScanHandles(reader, tables.handles), "handle");
  if (Status answer = progress.ReportAt(1, 4); answer != kOk) return answer;
  failure.Note(sqlite::ScanAttachments(reader, tables.attachments), "attachment");
  if (Status answer = progress.ReportAt(1, 3); answer != kOk) return answer;
  failure.Note(sqlite::ScanMessageAttachmentJoins(reader, tables.joins), "message_attachment_join");
  if (Status answer = progress.ReportAt(1, 2); answer != kOk) return answer;

  // Contacts only lend names (from either layout of the address book): a
  // damaged address book is no failure of the messages.
  (void)ReadContactsForNames(addressBookDb, tables.contacts);
  return progress.ReportAt(1, 1);
}

}  // namespace

Status DecodeMessages(ConversationMap& conversations, const std::filesystem::path& messageDb,
                      const std::filesystem::path& addressBookDb, const DecoderProgress& progress,
                      int64_t& highestRowId) {
  Status result = kOk;
  {
    MessageTables tables;
    MessageChatTables chatTables;
    FirstFailure failure;
    result = ReadMessageTables(tables, chatTables, messageDb, addressBookDb, progress, highestRowId, failure);
    if (result == kOk) {
      JoinMessages(tables);
      if (chatTables.chats.empty() && chatTables.chatMessages.empty())
        SortAndGroupMessages(tables.messages, conversations);
      else
        GroupMessagesByChat(tables.messages, chatTables, tables.handles, tables.contacts, conversations);
      result = failure.status();
    }
  }
  // The closing report's answer wins when it asks to stop; otherwise the
  // earlier result stands, so a database that could not be read is not
  // reported as decoded.
  if (progress.callback != nullptr) {
    if (Status answer = progress.ReportAt(1, 1); answer != kOk) result = answer;
  }
  return result;
}

Status WriteMessagesCsv(const std::filesystem::path& messageDb, const std::filesystem::path& csvPath,
                        int64_t startingRowId) {
  sqlite::SqliteDbReader reader;
  if (const Status opened = reader.Open(messageDb); opened != kOk) return opened;
  return sqlite::WriteMessageValueList(reader, csvPath,
                                       static_cast<uint64_t>(startingRowId < 0 ? 0 : startingRowId));
}

}  // namespace corvyn::decoders
