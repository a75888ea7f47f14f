#include "decoders/ModernWhatsApp.h"

#include <algorithm>
#include <unordered_map>

#include "decoders/NamedColumnScan.h"
#include "sqlite/RecordDecodersCommon.h"

namespace corvyn::decoders {
namespace {

using sqlite::Storage;
using sqlite::detail::Int32Value;
using sqlite::detail::IntegerValue;
using sqlite::detail::StrictTextValue;
using sqlite::detail::TextValue;

std::string CutBeforeAt(const std::string& text) {
  const std::size_t at = text.find('@');
  return at == std::string::npos ? text : text.substr(0, at);
}

// Column counts of ZWAMESSAGE read with fixed positions (2014-15 versions).
constexpr std::size_t kFirstFixedLayout = 27;
constexpr std::size_t kLastFixedLayout = 29;

}  // namespace

bool HasNamedWhatsAppTables(const sqlite::SqliteDbReader& reader) {
  const std::vector<std::string> columns = DeclaredColumns(reader, "ZWAMESSAGE");
  const auto declares = [&columns](std::string_view name) {
    return std::find(columns.begin(), columns.end(), name) != columns.end();
  };
  const bool fixedLayout = columns.size() >= kFirstFixedLayout && columns.size() <= kLastFixedLayout;
  return !fixedLayout && declares("ZTEXT") && declares("ZCHATSESSION");
}

Status ScanNamedWhatsApp(sqlite::SqliteDbReader& reader, std::vector<WhatsAppRecord>& messages,
                         std::vector<sqlite::WhatsAppChatRow>& chats,
                         std::vector<sqlite::WhatsAppMemberRow>& members) {
  Status result = kOk;
  const auto note = [&result](const Status& status) {
    if (result == kOk && status != kOk) result = status;
  };

  std::unordered_map<std::string, std::string> pushNames;  // JID -> push name, live rows first
  note(ScanNamedColumns(reader, "ZWAPROFILEPUSHNAME", {{"ZJID"}, {"ZPUSHNAME"}}, [&](const NamedRow& row) {
    const std::string jid = TextValue(row.columns[0]);
    const std::optional<std::string> name = StrictTextValue(row.columns[1]);
    if (jid.empty() || !name || name->empty()) return false;
    pushNames.emplace(jid, *name);
    return true;
  }));

  std::unordered_map<int64_t, std::string> mediaPaths;  // message key -> path
  note(ScanNamedColumns(reader, "ZWAMEDIAITEM", {{"ZMESSAGE", Storage::kInteger}, {"ZMEDIALOCALPATH"}},
                        [&](const NamedRow& row) {
                          const std::optional<int64_t> message = IntegerValue(row.columns[0]);
                          const std::string path = TextValue(row.columns[1]);
                          if (!message || path.empty()) return false;
                          mediaPaths.emplace(*message, "Message/" + path);
                          return true;
                        }));

  note(ScanNamedColumns(reader, "ZWACHATSESSION", {{"ZCONTACTJID"}, {"ZPARTNERNAME"}},
                        [&](const NamedRow& row) {
                          sqlite::WhatsAppChatRow chat;
                          chat.deleted = row.deleted;
                          chat.rowId = static_cast<int32_t>(row.rowId);
                          const std::optional<std::string> jid = StrictTextValue(row.columns[0]);
                          const std::optional<std::string> name = StrictTextValue(row.columns[1]);
                          if (!jid || !name || (jid->empty() && name->empty())) return false;
                          chat.contactId = CutBeforeAt(*jid);
                          chat.partnerName = *name;
                          chats.push_back(std::move(chat));
                          return true;
                        }));

  note(ScanNamedColumns(
      reader, "ZWAGROUPMEMBER", {{"ZCHATSESSION", Storage::kInteger}, {"ZCONTACTNAME"}, {"ZMEMBERJID"}},
      [&](const NamedRow& row) {
        const std::optional<std::string> name = StrictTextValue(row.columns[1]);
        const std::optional<std::string> jid = StrictTextValue(row.columns[2]);
        if (!name || !jid || jid->empty()) return false;
        sqlite::WhatsAppMemberRow member;
        member.deleted = row.deleted;
        member.rowId = static_cast<int32_t>(row.rowId);
        member.chatId = Int32Value(row.columns[0]);
        member.memberId = CutBeforeAt(*jid);
        member.memberName = *name;
        if (member.memberName.empty()) {
          const auto pushName = pushNames.find(*jid);
          member.memberName = pushName != pushNames.end() ? pushName->second : member.memberId;
        }
        members.push_back(std::move(member));
        return true;
      }));

  note(ScanNamedColumns(reader, "ZWAMESSAGE",
                        {{"ZCHATSESSION", Storage::kInteger},
                         {"ZGROUPMEMBER", Storage::kInteger},
                         {"ZMESSAGEDATE", Storage::kNumber},
                         {"ZISFROMME", Storage::kInteger},
                         {"ZTEXT"}},
                        [&](const NamedRow& row) {
                          WhatsAppRecord message;
                          const std::optional<std::string> text = StrictTextValue(row.columns[4]);
                          if (!text) return false;
                          message.text = *text;
                          message.deleted = row.deleted;
                          message.messageKey = static_cast<int32_t>(row.rowId);
                          message.sessionId = Int32Value(row.columns[0]);
                          message.memberKey = Int32Value(row.columns[1]);
                          message.date = sqlite::detail::CocoaDateText(row.columns[2]);
                          message.sent = sqlite::detail::HoldsInteger(row.columns[3], 1) ? 1 : 0;
                          if (row.rowId > 0) {
                            if (const auto path = mediaPaths.find(row.rowId); path != mediaPaths.end()) {
                              message.extra = path->second;
                              message.attachment = path->second.substr(path->second.rfind('/') + 1);
                            }
                          }
                          messages.push_back(std::move(message));
                          return true;
                        }));
  return result;
}

}  // namespace corvyn::decoders
