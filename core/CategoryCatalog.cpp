#include "core/CategoryCatalog.h"

#include "core/DerivedData.h"
#include "core/Statistics.h"
#include "core/TextFormat.h"

namespace corvyn {
namespace {

using C = RecordCategory;

constexpr int kPhotosGroup = 0;
constexpr int kMessagesGroup = 5;
constexpr int kMemosGroup = 14;

constexpr IconRect Icon(int left) {
  return IconRect{left, 410, left + 18, 428};
}

const std::array<TreeNodeInfo, 20> kTreeNodes = {{
    {true, "Photos & Videos", -1, std::nullopt, true, C::kNone},
    {false, "Camera Roll", kPhotosGroup, Icon(1), true, C::kCameraRoll},
    {false, "Photo Stream", kPhotosGroup, Icon(19), true, C::kPhotoStream},
    {false, "App Photos", kPhotosGroup, Icon(37), true, C::kAppPhotos},
    {false, "App Videos", kPhotosGroup, Icon(55), true, C::kAppVideos},
    {true, "Messages & Call logs", -1, std::nullopt, true, C::kNone},
    {false, "Messages", kMessagesGroup, Icon(73), true, C::kMessages},
    {false, "Messages Attachments", kMessagesGroup, Icon(91), true, C::kMessageAttachments},
    {false, "Contacts", kMessagesGroup, Icon(109), true, C::kContacts},
    {false, "Call History", kMessagesGroup, Icon(127), true, C::kCallHistory},
    {false, "Notes", kMessagesGroup, Icon(145), true, C::kNotes},
    {false, "Voicemail", kMessagesGroup, std::nullopt, false, C::kNone},
    {false, "WhatsApp", kMessagesGroup, Icon(163), true, C::kWhatsApp},
    {false, "WhatsApp Attachments", kMessagesGroup, Icon(91), true, C::kWhatsAppAttachments},
    {true, "Memos & Others", -1, std::nullopt, false, C::kNone},
    {false, "Reminders", kMemosGroup, std::nullopt, false, C::kNone},
    {false, "Calendar", kMemosGroup, std::nullopt, false, C::kNone},
    {false, "Voice Memos", kMemosGroup, std::nullopt, false, C::kNone},
    {false, "Safari Bookmark", kMemosGroup, std::nullopt, false, C::kNone},
    {false, "App Document", kMemosGroup, std::nullopt, false, C::kNone},
}};

const ListColumns kMediaFilesColumns = {{{"File Name", 200}, {"File Size", 0}}};
const ListColumns kAppFoldersColumns = {{{"App Name", 300}, {"Type", 0}}};
const ListColumns kAppFilesColumns = {{{"File Name", 200}, {"App Name", 200}, {"Size", 0}}};
const ListColumns kMessagesColumns = {
    {{"User Name", 100}, {"Phone Number", 100}, {"Date", 120}, {"Message", 0}}};
const ListColumns kAttachmentColumns = {{{"File Name", 300}, {"File Size", 0}}};
const ListColumns kContactsColumns = {
    {{"Name", 100, true}, {"Company", 100}, {"Phone", 100, true}, {"Email", 100, true}, {"Home Page", 0}}};
const ListColumns kCallHistoryColumns = {{{"User Name", 150},
                                          {"Phone Number", 150},
                                          {"Date", 130},
                                          {"Call Status", 100},
                                          {"Duration", 100},
                                          {"Status", 0}}};
const ListColumns kNotesColumns = {{{"Title", 100}, {"Date", 110}, {"Note", 0}}};
const ListColumns kWhatsAppColumns = {{{"Chats", 150}, {"Name", 150, true}, {"Phone", 0, true}}};

std::string FileSizeText(uint64_t size) {
  return SizeText(static_cast<int64_t>(size));
}

}  // namespace

std::span<const TreeNodeInfo> TreeNodes() {
  return kTreeNodes;
}

int TreeNodeIndex(RecordCategory category) {
  if (category == C::kNone) return -1;
  for (std::size_t i = 0; i < kTreeNodes.size(); ++i) {
    if (kTreeNodes[i].category == category) return static_cast<int>(i);
  }
  return -1;
}

std::string InitialTreeLabel(const TreeNodeInfo& node) {
  std::string label(node.label);
  if (!node.isGroup) label += " (0)";
  return label;
}

std::string UpdatedTreeLabel(std::string_view currentLabel, uint64_t count) {
  const std::size_t open = currentLabel.find('(');
  std::string label(currentLabel.substr(0, open));
  label += '(';
  label += std::to_string(count);
  label += ')';
  return label;
}

uint64_t TreeCount(RecordCategory category, const ScanResults& results, const CStatisticsObj& statistics) {
  switch (category) {
    case C::kCameraRoll:
    case C::kPhotoStream:
    case C::kAppPhotos:
    case C::kAppVideos:
      return statistics.CountOf(results.ContainerOf(category));
    default:
      return results.ItemCount(category);
  }
}

const ListColumns& ColumnsOf(ListLayout layout) {
  switch (layout) {
    case ListLayout::kMediaFiles:
      return kMediaFilesColumns;
    case ListLayout::kAppFolders:
      return kAppFoldersColumns;
    case ListLayout::kAppFiles:
      return kAppFilesColumns;
    case ListLayout::kMessages:
      return kMessagesColumns;
    case ListLayout::kMessageAttachments:
      return kAttachmentColumns;
    case ListLayout::kContacts:
      return kContactsColumns;
    case ListLayout::kCallHistory:
      return kCallHistoryColumns;
    case ListLayout::kNotes:
      return kNotesColumns;
    case ListLayout::kWhatsApp:
      return kWhatsAppColumns;
    case ListLayout::kWhatsAppAttachments:
      return kAttachmentColumns;
  }
  return kMediaFilesColumns;
}

ListLayout LayoutOf(RecordCategory category) {
  switch (category) {
    case C::kAppPhotos:
    case C::kAppVideos:
      return ListLayout::kAppFolders;
    case C::kMessages:
      return ListLayout::kMessages;
    case C::kMessageAttachments:
      return ListLayout::kMessageAttachments;
    case C::kContacts:
      return ListLayout::kContacts;
    case C::kCallHistory:
      return ListLayout::kCallHistory;
    case C::kNotes:
      return ListLayout::kNotes;
    case C::kWhatsApp:
      return ListLayout::kWhatsApp;
    case C::kWhatsAppAttachments:
      return ListLayout::kWhatsAppAttachments;
    default:
      return ListLayout::kMediaFiles;
  }
}

ListRowTexts RowTexts(const MediaFileRecord& file) {
  return {file.name, FileSizeText(file.size)};
}

ListRowTexts RowTexts(const AttachmentRecord& attachment) {
  return {attachment.name, FileSizeText(attachment.size)};
}

ListRowTexts RowTexts(std::string_view appName, const std::vector<AppFileRecord>&) {
  return {std::string(appName), "Folder"};
}

ListRowTexts RowTexts(const AppFileRecord& file) {
  return {file.name, file.appName, FileSizeText(file.size)};
}

ListRowTexts RowTexts(const MessageRecord& row) {
  // A group chat is listed under its name (or as a group chat) with its members.
  if (!row.members.empty())
    return {row.chatName.empty() ? "Group chat" : row.chatName, row.members, row.date,
            MessageBodyText(row.text, row.attachment)};
  return {row.name, row.address, row.date, MessageBodyText(row.text, row.attachment)};
}

std::string_view FirstPhone(std::string_view phones) {
  return phones.substr(0, phones.find('\n'));
}

ListRowTexts RowTexts(const ContactRecord& contact) {
  return {contact.name, contact.company, std::string(FirstPhone(contact.phones)), contact.email, contact.url};
}

ListRowTexts RowTexts(const CallRecord& call) {
  std::string duration;
  if (call.duration == 0) {
    duration = call.incoming ? "Missed" : "Canceled";
  } else {
    duration = DurationText(call.duration);
  }
  return {call.name, call.number,
          call.date, call.incoming ? "Incoming" : "Outgoing",
          duration,  call.deleted ? "Deleted" : "Normal"};
}

ListRowTexts RowTexts(const NoteRecord& note) {
  return {note.title, note.date, note.content};
}

ListRowTexts RowTexts(const WhatsAppRecord& row) {
  return {row.chatTitle, row.memberName.empty() ? row.senderName : row.memberName,
          row.memberPhone.empty() ? row.senderId : row.memberPhone};
}

IconRect FileRowIcon(RecordCategory category, std::string_view name) {
  if (category == C::kCameraRoll || category == C::kPhotoStream) return kFileIcon;
  return IsVideoName(name) ? kVideoFileIcon : kFileIcon;
}

}  // namespace corvyn
