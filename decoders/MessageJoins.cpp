#include <unordered_map>

#include "decoders/ContactNameIndex.h"
#include "decoders/DecoderSteps.h"
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

void SortAndGroupMessages(std::vector<MessageRecord>& messages, ConversationMap& conversations) {
  if (messages.size() > 1)
    StableSortByText(messages, [](const MessageRecord& m) -> const std::string& { return m.date; });
  for (auto& message : messages) conversations[message.handleId].push_back(std::move(message));
  messages.clear();
}

}  // namespace corvyn::decoders
