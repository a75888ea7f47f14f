#include "decoders/DecoderSteps.h"
#include "decoders/Decoders.h"
#include "decoders/FirstFailure.h"
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

  FirstFailure failure;
  std::vector<ChatMessageRecord> working;
  for (const auto& table : tables) {
    // A failed scan of one conversation's table ends only that conversation.
    failure.Note(sqlite::ScanC2cMessages(reader, table.tableName, table.friendKey, working), table.tableName);
    FileConversation(working, table.friendKey, chats);
  }
  return failure.status();
}

Status DecodeWeChat(ChatConversationMap& chats, const std::filesystem::path& weChatDb) {
  sqlite::SqliteDbReader reader;
  if (const Status opened = reader.Open(weChatDb); opened != kOk) return opened;
  std::vector<sqlite::FriendRow> friends;
  if (const Status scanned = sqlite::ScanFriends(reader, friends); scanned != kOk) return scanned;

  FirstFailure failure;
  std::vector<ChatMessageRecord> working;
  for (const auto& friendRow : friends) {
    const std::string table = WeChatTableName(friendRow.userName);
    failure.Note(sqlite::ScanChatMessages(reader, table, false, working), table);
    FileConversation(working, friendRow.userName, chats);
  }
  // No table has this name: the pass reads only the free pages, whose rows can
  // no longer be told apart by conversation.
  failure.Note(sqlite::ScanChatMessages(reader, "Chat_FreePageNumber", true, working), "the free pages");
  FileConversation(working, "Unknown", chats);
  return failure.status();
}

}  // namespace corvyn::decoders
