// Conversations of the Messages tables of iOS 10 and later: messages placed
// in their chats (`chat`, `chat_message_join`, `chat_handle_join`) instead of
// only by their handle. Declared apart from DecoderSteps.h so that tests and
// benchmarks can drive the step on rows built in memory.
#pragma once

#include <vector>

#include "core/Records.h"
#include "sqlite/MessageScans.h"
#include "sqlite/TableScans.h"

namespace corvyn::decoders {

struct MessageChatTables {
  std::vector<sqlite::ChatRow> chats;
  std::vector<sqlite::ChatJoinRow> chatMessages;  // chat_id, message_id
  std::vector<sqlite::ChatJoinRow> chatHandles;   // chat_id, handle_id
  std::vector<sqlite::ChatJoinRow> recoverable;   // chat_id, message_id of "Recently Deleted"
};

// The conversation key of a group chat: minus its chat rowid (handle ids,
// the keys of one-to-one conversations, are never negative).
inline int32_t GroupConversationKey(int32_t chatId) {
  return -chatId;
}

// Marks the messages in "Recently Deleted" (live rows of
// chat_recoverable_message_join name them) as deleted, gives every message its chat (a live join row first; a
// deleted one only for a message no live row names) and sorts them by date (stable, ignoring case), then
// appends each to its conversation:
// - a group chat (style 43, or more than one member) under
//   GroupConversationKey(chat), which also becomes the message's handle id
//   (as for every message, the key of its conversation; address and name
//   stay the sender's), with chatName and members ("name <address>" or the
//   address, in member order, names from `contacts`);
//   A recently deleted message without a chat_message_join row takes its
//   chat from the recoverable join.
// - any other message under its handle id as before; a message of a
//   one-to-one chat without a handle (handle id 0) takes the chat's only
//   member as its handle, address and name.
void GroupMessagesByChat(MessageList& messages, const MessageChatTables& chatTables,
                         const std::vector<sqlite::HandleRow>& handles,
                         const std::vector<ContactRecord>& contacts, ConversationMap& conversations);

}  // namespace corvyn::decoders
