#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <unordered_map>

#include "decoders/ContactNameIndex.h"
#include "decoders/DecoderSteps.h"
#include "decoders/MessageChats.h"
#include "decoders/TextRules.h"

namespace corvyn::decoders {

void JoinMessages(MessageTables& tables) {
  // Attachment rowid -> message id of the first join row that names it.
  std::unordered_map<int64_t, int32_t> messageOfAttachment;
  messageOfAttachment.reserve(tables.joins.size());
  for (const auto& join : tables.joins) messageOfAttachment.emplace(join.attachmentId, join.messageId);

  // Message id -> file name of the first joined attachment. An attachment
  // without a join row keeps message id 0 but is not offered to the carved
  // messages (rowid 0): nothing ties it to them.
  std::unordered_map<int32_t, const std::string*> attachmentOfMessage;
  attachmentOfMessage.reserve(tables.attachments.size());
  for (auto& attachment : tables.attachments) {
    const auto join = messageOfAttachment.find(attachment.rowId);
    if (join == messageOfAttachment.end()) continue;
    attachment.messageId = join->second;
    attachmentOfMessage.emplace(attachment.messageId, &attachment.fileName);
  }

  // Handle rowid -> address of the first handle with that rowid; carved
  // handles (rowid 0) never match.
  std::unordered_map<int64_t, const std::string*> addressOfHandle;
  addressOfHandle.reserve(tables.handles.size());
  for (const auto& handle : tables.handles) {
    if (handle.rowId != 0) addressOfHandle.emplace(handle.rowId, &handle.address);
  }

  ContactNameIndex names(tables.contacts);
  for (auto& message : tables.messages) {
    message.address.clear();
    if (const auto handle = addressOfHandle.find(message.handleId); handle != addressOfHandle.end()) {
      message.address = *handle->second;
    }
    message.name.clear();
    if (!message.address.empty()) {
      if (const std::string* name = names.FindName(message.address)) message.name = *name;
    }
    if (const auto attachment = attachmentOfMessage.find(message.messageId);
        attachment != attachmentOfMessage.end()) {
      message.attachment = *attachment->second;
    }
  }
}

void AppendToConversations(MessageList& messages, ConversationMap& conversations) {
  const std::size_t count = messages.size();
  // Positions in conversation order: each conversation's messages in scan
  // order (a counting sort by key). Neighbours in a scan mostly share their
  // conversation, so the last key's entry is kept at hand.
  std::map<int32_t, std::size_t> startOfKey;
  {
    std::map<int32_t, std::size_t>::iterator last = startOfKey.end();
    for (const MessageRecord& message : messages) {
      if (last == startOfKey.end() || last->first != message.handleId)
        last = startOfKey.try_emplace(message.handleId, 0).first;
      ++last->second;
    }
  }
  std::size_t next = 0;
  for (auto& [key, start] : startOfKey) {
    const std::size_t size = start;
    start = next;
    next += size;
  }
  std::vector<std::size_t> order(count);
  {
    std::map<int32_t, std::size_t> fill = startOfKey;
    std::map<int32_t, std::size_t>::iterator last = fill.end();
    std::size_t index = 0;
    for (const MessageRecord& message : messages) {
      if (last == fill.end() || last->first != message.handleId) last = fill.find(message.handleId);
      order[last->second++] = index++;
    }
  }

  // The list is put in that order in place, each record moving once along
  // the permutation's cycles ...
  for (std::size_t start = 0; start < count; ++start) {
    if (order[start] == start) continue;
    MessageRecord held = std::move(messages[start]);
    std::size_t at = start;
    while (order[at] != start) {
      const std::size_t from = order[at];
      // The cycle jumps around the list: the record after this one is asked
      // for ahead, so that its memory arrives while this one moves.
      if (const std::size_t after = order[from]; after != start) {
        const char* ahead = reinterpret_cast<const char*>(&messages[after]);
        for (std::size_t line = 0; line < sizeof(MessageRecord); line += 64) __builtin_prefetch(ahead + line);
        __builtin_prefetch(&order[after]);
      }
      messages[at] = std::move(messages[from]);
      order[at] = at;
      at = from;
    }
    messages[at] = std::move(held);
    order[at] = at;
  }
  std::vector<std::size_t>().swap(order);

  // ... then emptied from the front into the conversations, each of which
  // gets exactly its room; a block of the list is given back as soon as its
  // messages have moved, so they never lie in memory twice. The messages
  // added to a conversation are then put in date order (stably), where they
  // are not in it already: rows come in rowid order, mostly date order.
  const auto earlier = [](const MessageRecord& left, const MessageRecord& right) {
    return CompareIgnoringCase(left.date, right.date) < 0;
  };
  std::size_t at = 0;
  for (auto key = startOfKey.cbegin(); key != startOfKey.cend(); ++key) {
    std::vector<MessageRecord>& conversation = conversations[key->first];
    const auto following = std::next(key);
    const std::size_t end = following == startOfKey.cend() ? count : following->second;
    const std::size_t before = conversation.size();
    conversation.reserve(before + (end - at));
    for (; at < end; ++at) conversation.push_back(std::move(messages[at]));
    messages.ReleaseBefore(at);
    const auto added = conversation.begin() + static_cast<std::ptrdiff_t>(before);
    if (!std::is_sorted(added, conversation.end(), earlier))
      std::stable_sort(added, conversation.end(), earlier);
  }
  messages.clear();
}

void SortAndGroupMessages(MessageList& messages, ConversationMap& conversations) {
  AppendToConversations(messages, conversations);
}

}  // namespace corvyn::decoders

namespace corvyn::decoders {

namespace {

constexpr int32_t kGroupChatStyle = 43;

// The chat of each message id, the first one given for it. Message rowids
// are mostly dense: those up to a few times the number of joins are kept in
// a flat table, any others in a hash map.
class ChatOfMessage {
 public:
  ChatOfMessage(std::size_t joins, int32_t highest) {
    const std::size_t bound = std::min<std::size_t>(4 * joins + 4096, std::size_t{1} << 26);
    if (highest >= 0)
      flat_.assign(std::min<std::size_t>(static_cast<std::size_t>(highest) + 1, bound), kNone);
  }
  void Add(int32_t messageId, int32_t chatId) {
    if (messageId >= 0 && static_cast<std::size_t>(messageId) < flat_.size()) {
      int32_t& slot = flat_[static_cast<std::size_t>(messageId)];
      if (slot == kNone) slot = chatId;
    } else {
      others_.emplace(messageId, chatId);
    }
  }
  std::optional<int32_t> Find(int32_t messageId) const {
    if (messageId >= 0 && static_cast<std::size_t>(messageId) < flat_.size()) {
      const int32_t chat = flat_[static_cast<std::size_t>(messageId)];
      return chat == kNone ? std::nullopt : std::optional<int32_t>(chat);
    }
    const auto found = others_.find(messageId);
    return found == others_.end() ? std::nullopt : std::optional<int32_t>(found->second);
  }

 private:
  static constexpr int32_t kNone = std::numeric_limits<int32_t>::min();
  std::vector<int32_t> flat_;
  std::unordered_map<int32_t, int32_t> others_;
};

struct ChatInfo {
  const sqlite::ChatRow* row = nullptr;
  std::vector<int32_t> memberHandles;  // in join order, each once
  bool group = false;
  std::string members;  // "name <address>" or "address", joined by ", "
};

}  // namespace

void GroupMessagesByChat(MessageList& messages, const MessageChatTables& chatTables,
                         const std::vector<sqlite::HandleRow>& handles,
                         const std::vector<ContactRecord>& contacts, ConversationMap& conversations) {
  std::unordered_map<int64_t, const std::string*> addressOfHandle;
  for (const auto& handle : handles) {
    if (handle.rowId != 0) addressOfHandle.emplace(handle.rowId, &handle.address);
  }

  // Live chat rows first: a chat row carved from free space never hides a live one.
  std::unordered_map<int32_t, ChatInfo> chats;
  for (const int32_t deleted : {0, 1}) {
    for (const auto& row : chatTables.chats) {
      if (row.deleted == deleted) chats.try_emplace(row.rowId).first->second.row = &row;
    }
  }
  for (const int32_t deleted : {0, 1}) {
    for (const auto& join : chatTables.chatHandles) {
      if (join.deleted != deleted) continue;
      ChatInfo& chat = chats[join.chatId];
      if (std::find(chat.memberHandles.begin(), chat.memberHandles.end(), join.otherId) ==
          chat.memberHandles.end())
        chat.memberHandles.push_back(join.otherId);
    }
  }

  ContactNameIndex names(contacts);
  for (auto& [chatId, chat] : chats) {
    chat.group = chat.memberHandles.size() > 1 || (chat.row != nullptr && chat.row->style == kGroupChatStyle);
    if (!chat.group) continue;
    for (const int32_t handleId : chat.memberHandles) {
      const auto address = addressOfHandle.find(handleId);
      if (address == addressOfHandle.end()) continue;
      if (!chat.members.empty()) chat.members += ", ";
      if (const std::string* name = names.FindName(*address->second))
        chat.members += *name + " <" + *address->second + ">";
      else
        chat.members += *address->second;
    }
  }

  int32_t highestMessage = 0;
  for (const auto& join : chatTables.chatMessages) highestMessage = std::max(highestMessage, join.otherId);
  for (const auto& join : chatTables.recoverable) highestMessage = std::max(highestMessage, join.otherId);
  ChatOfMessage chatOfMessage(chatTables.chatMessages.size() + chatTables.recoverable.size(), highestMessage);
  for (const int32_t deleted : {0, 1}) {
    for (const auto& join : chatTables.chatMessages) {
      if (join.deleted == deleted) chatOfMessage.Add(join.otherId, join.chatId);
    }
  }
  std::unordered_map<int32_t, int32_t> recentlyDeleted;
  for (const auto& join : chatTables.recoverable) {
    if (join.deleted == 0) recentlyDeleted.emplace(join.otherId, join.chatId);
  }
  for (const auto& [messageId, chatId] : recentlyDeleted) chatOfMessage.Add(messageId, chatId);

  // First every message's chat and key, then each goes to its conversation.
  for (auto& message : messages) {
    if (message.deleted == 0 && message.messageId > 0 && recentlyDeleted.count(message.messageId) != 0)
      message.deleted = 1;
    int32_t key = message.handleId;
    // Carved messages have no rowid of their own: no join row names them.
    const std::optional<int32_t> joined =
        message.messageId > 0 ? chatOfMessage.Find(message.messageId) : std::nullopt;
    if (joined) {
      message.chatId = *joined;
      const auto chat = chats.find(message.chatId);
      if (chat != chats.end() && chat->second.group) {
        message.handleId = key = GroupConversationKey(message.chatId);
        if (chat->second.row != nullptr) message.chatName = chat->second.row->displayName;
        message.members = chat->second.members;
      } else if (chat != chats.end() && message.handleId == 0 && chat->second.memberHandles.size() == 1) {
        message.handleId = key = chat->second.memberHandles.front();
        if (const auto address = addressOfHandle.find(key); address != addressOfHandle.end()) {
          message.address = *address->second;
          if (const std::string* name = names.FindName(message.address)) message.name = *name;
        }
      }
    }
  }
  AppendToConversations(messages, conversations);
}

}  // namespace corvyn::decoders
