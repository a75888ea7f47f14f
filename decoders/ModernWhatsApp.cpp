#include "decoders/ModernWhatsApp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string_view>
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

// What a message's media item holds that its text may show.
struct MediaItem {
  std::string path;  // under the shared container: "Message/Media/..."; "" when none
  std::optional<double> latitude, longitude;
  std::string contactNames;  // contact cards: the names, separated by kNameSeparator
};

constexpr int32_t kContactMessage = 4;
constexpr int32_t kLocationMessage = 5;
constexpr std::string_view kNameSeparator = "_$!<Name-Separator>!$_";

std::optional<double> NumberValue(const sqlite::ColumnValue* column) {
  if (column == nullptr) return std::nullopt;
  if (column->IsFloat()) return column->real;
  if (const std::optional<int64_t> whole = IntegerValue(column)) return static_cast<double>(*whole);
  return std::nullopt;
}

std::string_view LastPathComponent(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool IsMediaMessageType(int32_t type) {
  switch (type) {
    case 1:   // photo
    case 2:   // video
    case 3:   // audio, voice note
    case 4:   // contact card
    case 5:   // location
    case 8:   // document
    case 11:  // GIF
    case 15:  // sticker
      return true;
    default:
      return false;
  }
}

// "[Location: 35.63850, -78.87605]"; "[Location]" without a plausible place.
std::string LocationText(const MediaItem& item) {
  if (!item.latitude || !item.longitude || std::abs(*item.latitude) > 90 || std::abs(*item.longitude) > 180 ||
      (*item.latitude == 0 && *item.longitude == 0))
    return "[Location]";
  char text[64];
  std::snprintf(text, sizeof text, "[Location: %.5f, %.5f]", *item.latitude, *item.longitude);
  return text;
}

// "[Contact: Ann, Bob]"; "[Contact]" without names.
std::string ContactText(const MediaItem& item) {
  std::string names;
  std::string_view rest = item.contactNames;
  while (!rest.empty()) {
    const std::size_t cut = rest.find(kNameSeparator);
    const std::string_view name = rest.substr(0, cut);
    if (!name.empty()) names += (names.empty() ? "" : ", ") + std::string(name);
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + kNameSeparator.size());
  }
  return names.empty() ? "[Contact]" : "[Contact: " + names + "]";
}

// Column counts of ZWAMESSAGE read with fixed positions (2014-15 versions).
constexpr std::size_t kFirstFixedLayout = 27;
constexpr std::size_t kLastFixedLayout = 29;

}  // namespace

std::string WhatsAppMediaText(int32_t messageType, std::string_view fileName) {
  std::string_view kind = "Attachment";
  switch (messageType) {
    case 1:
      kind = "Photo";
      break;
    case 2:
      kind = "Video";
      break;
    case 3:
      kind = "Audio";
      break;
    case 8:
      kind = "Document";
      break;
    case 11:
      kind = "GIF";
      break;
    case 15:
      kind = "Sticker";
      break;
    default:
      break;
  }
  if (fileName.empty()) return "[" + std::string(kind) + "]";
  return "[" + std::string(kind) + ": " + std::string(fileName) + "]";
}

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

  // Media items by their own key and by the key of the message they belong
  // to: a message names its item (ZMEDIAITEM), the item its message
  // (ZMESSAGE); a carved message has only the first link.
  std::vector<MediaItem> items;
  std::unordered_map<int64_t, std::size_t> itemOfKey, itemOfMessage;
  note(ScanNamedColumns(reader, "ZWAMEDIAITEM",
                        {{"ZMESSAGE", Storage::kInteger},
                         {"ZMEDIALOCALPATH"},
                         {"ZLATITUDE", Storage::kNumber},
                         {"ZLONGITUDE", Storage::kNumber},
                         {"ZVCARDNAME"}},
                        [&](const NamedRow& row) {
                          const std::optional<int64_t> message = IntegerValue(row.columns[0]);
                          const std::optional<std::string> path = StrictTextValue(row.columns[1]);
                          if (!path || (row.deleted != 0 && path->empty())) return false;
                          MediaItem item;
                          if (!path->empty()) item.path = "Message/" + *path;
                          item.latitude = NumberValue(row.columns[2]);
                          item.longitude = NumberValue(row.columns[3]);
                          item.contactNames = TextValue(row.columns[4]);
                          const std::size_t position = items.size();
                          items.push_back(std::move(item));
                          if (row.rowId > 0) itemOfKey.emplace(row.rowId, position);
                          if (message && *message > 0) itemOfMessage.emplace(*message, position);
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

  note(ScanNamedColumns(
      reader, "ZWAMESSAGE",
      {{"ZCHATSESSION", Storage::kInteger},
       {"ZGROUPMEMBER", Storage::kInteger},
       {"ZMESSAGEDATE", Storage::kNumber},
       {"ZISFROMME", Storage::kInteger},
       {"ZTEXT"},
       {"ZMESSAGETYPE", Storage::kInteger},
       {"ZMEDIAITEM", Storage::kInteger}},
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
        message.messageType = Int32Value(row.columns[5]);
        const MediaItem* item = nullptr;
        if (const std::optional<int64_t> key = IntegerValue(row.columns[6]); key && *key > 0) {
          if (const auto found = itemOfKey.find(*key); found != itemOfKey.end()) item = &items[found->second];
        }
        if (item == nullptr && row.rowId > 0) {
          if (const auto found = itemOfMessage.find(row.rowId); found != itemOfMessage.end())
            item = &items[found->second];
        }
        if (item != nullptr) message.extra = item->path;
        // A photo, a video, a place... sent without words: the
        // text names what was sent.
        if (message.text.empty() && item != nullptr && IsMediaMessageType(message.messageType)) {
          if (message.messageType == kLocationMessage) {
            message.text = LocationText(*item);
          } else if (message.messageType == kContactMessage) {
            message.text = ContactText(*item);
          } else {
            message.mediaName = std::string(LastPathComponent(item->path));
            message.text = WhatsAppMediaText(message.messageType, message.mediaName);
          }
        }
        messages.push_back(std::move(message));
        return true;
      }));
  return result;
}

}  // namespace corvyn::decoders
