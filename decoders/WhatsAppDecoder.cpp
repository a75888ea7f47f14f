#include <atomic>
#include <unordered_map>

#include "decoders/DecoderSteps.h"
#include "decoders/Decoders.h"
#include "decoders/ModernWhatsApp.h"
#include "decoders/SqlProbe.h"
#include "decoders/TextRules.h"
#include "sqlite/SqliteDbReader.h"
#include "sqlite/TableScans.h"

namespace corvyn::decoders {
namespace {

// The column count of the last ZWAMESSAGE table that had rows, for callers of
// the two-argument DecodeWhatsApp.
std::atomic<int32_t> processMessageColumnCount{kInitialWhatsAppMessageColumnCount};

// Rowid -> index of the first row with that rowid; rows whose rowid was lost
// in carving (0) are left out, since 0 also stands for "no chat" or "no
// member" in a message.
template <typename Row>
std::unordered_map<int32_t, std::size_t> IndexByRowId(const std::vector<Row>& rows) {
  std::unordered_map<int32_t, std::size_t> index;
  index.reserve(rows.size());
  for (std::size_t position = 0; position < rows.size(); ++position) {
    if (rows[position].rowId != 0) index.emplace(rows[position].rowId, position);
  }
  return index;
}

}  // namespace

void BuildMemberLists(std::vector<sqlite::WhatsAppChatRow>& chats,
                      const std::vector<sqlite::WhatsAppMemberRow>& members) {
  std::unordered_map<int32_t, std::vector<std::size_t>> membersOfChat;
  for (std::size_t position = 0; position < members.size(); ++position) {
    membersOfChat[members[position].chatId].push_back(position);
  }
  for (auto& chat : chats) {
    if (chat.rowId == 0) continue;
    const auto found = membersOfChat.find(chat.rowId);
    if (found == membersOfChat.end()) continue;
    for (const std::size_t position : found->second) {
      const auto& member = members[position];
      if (chat.memberIds.empty()) {
        chat.memberIds = member.memberId;
        chat.memberNames = member.memberName;
      } else {
        chat.memberIds += ',';
        chat.memberIds += member.memberId;
        if (!member.memberName.empty()) {
          chat.memberNames += ',';
          chat.memberNames += member.memberName;
        }
      }
    }
  }
}

void NameAndGroupWhatsAppMessages(std::vector<WhatsAppRecord>& messages,
                                  const std::vector<sqlite::WhatsAppChatRow>& chats,
                                  const std::vector<sqlite::WhatsAppMemberRow>& members,
                                  WhatsAppChatMap& map) {
  const auto chatIndex = IndexByRowId(chats);
  const auto memberIndex = IndexByRowId(members);

  std::vector<WhatsAppRecord> kept;
  kept.reserve(messages.size());
  for (auto& message : messages) {
    if (const auto chatFound = chatIndex.find(message.sessionId); chatFound != chatIndex.end()) {
      const auto& chat = chats[chatFound->second];
      message.senderId = chat.contactId;
      message.senderName = chat.partnerName;
      message.chatTitle = chat.partnerName;
      message.memberPhone = chat.memberIds.empty() ? chat.contactId : chat.memberIds;
      message.memberName = chat.memberNames.empty() ? chat.partnerName : chat.memberNames;
      if (message.sent != 0) {
        message.senderName = "Me";
        message.senderId.clear();
      } else if (const auto memberFound = memberIndex.find(message.memberKey);
                 memberFound != memberIndex.end()) {
        message.senderName = members[memberFound->second].memberName;
        message.senderId = members[memberFound->second].memberId;
      }
    }
    // Every message with text is listed, the first of a group chat's run too.
    if (!message.text.empty()) kept.push_back(std::move(message));
  }
  messages.clear();

  if (kept.size() >= 2)
    StableSortByText(kept, [](const WhatsAppRecord& m) -> const std::string& { return m.date; });
  for (auto& message : kept) map[message.sessionId].push_back(std::move(message));
}

Status DecodeWhatsApp(WhatsAppChatMap& chats, const std::filesystem::path& chatDb,
                      int32_t& messageColumnCount) {
  sqlite::SqliteDbReader reader;
  const ProbeResult probe = RunProbeQuery(chatDb, "select * from ZWAMESSAGE;");
  if (probe.openCode != 0) {
    // The reader's own open tells why in words (a missing file, a folder...).
    const Status opened = reader.Open(chatDb);
    return opened != kOk ? opened : Status(kInvalidData, "the SQLite library cannot open " + chatDb.string());
  }
  if (probe.queryFailed) return kWhatsAppQueryFailed;
  if (const Status opened = reader.Open(chatDb); opened != kOk) return opened;
  if (probe.lastColumnCount >= 0) messageColumnCount = probe.lastColumnCount;

  // Newer versions of the app: every table read by column name.
  if (HasNamedWhatsAppTables(reader)) {
    std::vector<sqlite::WhatsAppChatRow> chatRows;
    std::vector<sqlite::WhatsAppMemberRow> members;
    std::vector<WhatsAppRecord> messages;
    if (const Status scanned = ScanNamedWhatsApp(reader, messages, chatRows, members); scanned != kOk)
      return scanned;
    BuildMemberLists(chatRows, members);
    NameAndGroupWhatsAppMessages(messages, chatRows, members, chats);
    return kOk;
  }

  std::vector<sqlite::WhatsAppChatRow> chatRows;
  if (const Status scanned = sqlite::ScanWhatsAppChats(reader, messageColumnCount, chatRows); scanned != kOk)
    return scanned;
  std::vector<sqlite::WhatsAppMemberRow> members;
  if (const Status scanned = sqlite::ScanWhatsAppMembers(reader, messageColumnCount, members); scanned != kOk)
    return scanned;
  BuildMemberLists(chatRows, members);

  std::vector<WhatsAppRecord> messages;
  if (const Status scanned = sqlite::ScanWhatsAppMessages(reader, messageColumnCount, messages);
      scanned != kOk)
    return scanned;
  NameAndGroupWhatsAppMessages(messages, chatRows, members, chats);
  return kOk;
}

Status DecodeWhatsApp(WhatsAppChatMap& chats, const std::filesystem::path& chatDb) {
  int32_t columnCount = processMessageColumnCount.load();
  const Status result = DecodeWhatsApp(chats, chatDb, columnCount);
  processMessageColumnCount.store(columnCount);
  return result;
}

}  // namespace corvyn::decoders
