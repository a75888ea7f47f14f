#include "core/DerivedData.h"

#include <algorithm>

#include "platform/Ascii.h"

namespace corvyn {

const std::string_view kImageExtensions =
    "*.bmp|*.gif|*.jpg|*.jpeg|*.png|*.psd|*.tif|*.tiff|*.pcx|*.scr|*.ico|*.nef|*.nrw|*.crw|*.cr2|*.sr2|*.arw|"
    "*.srf|*.divu|*.pgm|*.k25|*.kdc|*.dcr|*.raf|*.iff|*.pbm|*.mef|*.jp2|*.mos|*.x3f|*.orf|*.erf|*.indd|*.pef|"
    "*.psp|*.mrw|*.dng|*.raw|*.pct|*.tga|*.jpe|*.heic|*.heif|*.avif";
const std::string_view kVideoExtensions =
    "*.rmvb|*.rm|*.mpeg|*.mpg|*.mov|*.avi|*.wmv|*.asf|*.mp4|*.flv|*.fla|*.swf|*.m4v|*.3gp|*.dv|*.3g2|*.m4b|*."
    "mkv|*."
    "mts|"
    "*.divx|*.ogm|*.moi|*.vob|*.ajp|*.f4v|*.mqv|*.svi|*.vid|*.tod|*.hdmov|*.mod|*.m2t|*.lrv";
const std::string_view kAudioExtensions =
    "*.mp3|*.wav|*.ape|*.aiff|*.rps|*.mid|*.midi|*.m4a|*.m4p|*.au|*.ogg|*.wma|*.rm|*.ra|*.acd|*.amr|*.at3|*."
    "caf|"
    "*.dss|*.m4r|*.nra|*.snd|*.aac";

namespace {

using platform::EqualsIgnoringCase;
using platform::LessIgnoringCase;

template <class Map>
auto BuildRows(const Map& map) {
  std::vector<typename Map::mapped_type::value_type> rows;
  rows.reserve(map.size());
  for (const auto& [key, list] : map) {
    if (list.empty()) continue;
    auto row = list.back();
    row.deleted = std::any_of(list.begin(), list.end(), [](const auto& r) { return r.deleted != 0; }) ? 1 : 0;
    rows.push_back(std::move(row));
  }
  SortDeletedFirst(rows);
  return rows;
}

}  // namespace

std::string_view ExtensionOf(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

bool ExtensionInList(std::string_view extension, std::string_view list) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  if (extension.empty()) return false;
  while (!list.empty()) {
    const std::size_t bar = list.find('|');
    std::string_view entry = list.substr(0, bar);
    list = bar == std::string_view::npos ? std::string_view() : list.substr(bar + 1);
    if (entry.starts_with("*.")) entry.remove_prefix(2);
    if (EqualsIgnoringCase(entry, extension)) return true;
  }
  return false;
}

bool IsImageName(std::string_view name) {
  return ExtensionInList(ExtensionOf(name), kImageExtensions);
}
bool IsVideoName(std::string_view name) {
  return ExtensionInList(ExtensionOf(name), kVideoExtensions);
}
bool IsAudioName(std::string_view name) {
  return ExtensionInList(ExtensionOf(name), kAudioExtensions);
}

std::vector<MessageRecord> BuildConversationRows(const ConversationMap& conversations) {
  return BuildRows(conversations);
}

std::vector<WhatsAppRecord> BuildChatRows(const WhatsAppChatMap& chats) {
  return BuildRows(chats);
}

void ClassifyAppFiles(const std::vector<AppFileRecord>& files, AppFolderMap& appPhotos,
                      AppFolderMap& appVideos) {
  for (const AppFileRecord& file : files) {
    const bool media = !IsImageName(file.name) && (IsVideoName(file.name) || IsAudioName(file.name));
    (media ? appVideos : appPhotos)[file.appName].push_back(file);
  }
}

void SortCallHistory(std::vector<CallRecord>& calls) {
  std::stable_sort(calls.begin(), calls.end(),
                   [](const CallRecord& a, const CallRecord& b) { return a.date > b.date; });
  SortDeletedFirst(calls);
}

template <class Record>
void SortDeletedFirst(std::vector<Record>& records) {
  std::stable_sort(records.begin(), records.end(),
                   [](const Record& a, const Record& b) { return a.deleted != 0 && b.deleted == 0; });
}

template void SortDeletedFirst(std::vector<MessageRecord>&);
template void SortDeletedFirst(std::vector<ContactRecord>&);
template void SortDeletedFirst(std::vector<CallRecord>&);
template void SortDeletedFirst(std::vector<NoteRecord>&);
template void SortDeletedFirst(std::vector<WhatsAppRecord>&);
template void SortDeletedFirst(std::vector<ChatMessageRecord>&);

void SortByDateAscending(std::vector<MessageRecord>& messages) {
  const auto earlier = [](const MessageRecord& a, const MessageRecord& b) {
    return LessIgnoringCase(a.date, b.date);
  };
  // A stable sort moves every record even when they are in order already.
  if (!std::is_sorted(messages.begin(), messages.end(), earlier))
    std::stable_sort(messages.begin(), messages.end(), earlier);
}

void SortByDateAscending(std::vector<WhatsAppRecord>& messages) {
  const auto earlier = [](const WhatsAppRecord& a, const WhatsAppRecord& b) {
    return LessIgnoringCase(a.date, b.date);
  };
  // A stable sort moves every record even when they are in order already.
  if (!std::is_sorted(messages.begin(), messages.end(), earlier))
    std::stable_sort(messages.begin(), messages.end(), earlier);
}

}  // namespace corvyn
