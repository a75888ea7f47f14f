#include "decoders/DecoderSteps.h"
#include "decoders/Decoders.h"
#include "decoders/TextRules.h"
#include "sqlite/SqliteDbReader.h"
#include "sqlite/TableScans.h"

namespace corvyn::decoders {

void FileConversation(std::vector<ChatMessageRecord>& working, const std::string& key,
                      ChatConversationMap& chats) {
  // Two messages are put in date order like any longer conversation.
  if (working.size() > 1) {
    StableSortByText(working, [](const ChatMessageRecord& m) -> const std::string& { return m.date; });
  }
  if (working.empty()) return;
  chats[key] = std::move(working);
  working.clear();
}

Status DecodeQQ(ChatConversationMap& chats, const std::filesystem::path& qqDb) {
  sqlite::SqliteDbReader reader;
  if (const Status opened = reader.Open(qqDb); opened != kOk) return opened;
  std::vector<sqlite::C2cTableRow> tables;
  if (const Status scanned = sqlite::ScanC2cTables(reader, tables); scanned != kOk) return scanned;

  std::vector<ChatMessageRecord> working;
  for (const auto& table : tables) {
    // A failed scan of one conversation's table ends only that conversation.
    sqlite::ScanC2cMessages(reader, table.tableName, table.friendKey, working);
    FileConversation(working, table.friendKey, chats);
  }
  return kOk;
}

Status DecodeWeChat(ChatConversationMap& chats, const std::filesystem::path& weChatDb) {
  sqlite::SqliteDbReader reader;
  if (const Status opened = reader.Open(weChatDb); opened != kOk) return opened;
  std::vector<sqlite::FriendRow> friends;
  if (const Status scanned = sqlite::ScanFriends(reader, friends); scanned != kOk) return scanned;

  std::vector<ChatMessageRecord> working;
  for (const auto& friendRow : friends) {
    sqlite::ScanChatMessages(reader, WeChatTableName(friendRow.userName), false, working);
    FileConversation(working, friendRow.userName, chats);
  }
  // No table has this name: the pass reads only the free pages, whose rows can
  // no longer be told apart by conversation.
  sqlite::ScanChatMessages(reader, "Chat_FreePageNumber", true, working);
  FileConversation(working, "Unknown", chats);
  return kOk;
}

}  // namespace corvyn::decoders
