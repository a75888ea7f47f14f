// Data derived from what the engines return, and the order lists are shown in:
// conversation and chat rows, application folders, the extension lists that
// classify media files, and the sort rules.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/Records.h"

namespace corvyn {

// Media classification lists: "*." plus a lower-case extension, "|"-separated.
// Every extension the file type table (FileType.h) names is in one of them.
extern const std::string_view kImageExtensions;
extern const std::string_view kVideoExtensions;  // "rm" is in both video and audio
extern const std::string_view kAudioExtensions;

// The text after the name's last "."; empty when the name has no ".".
std::string_view ExtensionOf(std::string_view name);

// True when the extension (with or without its leading ".", any case) equals
// an entry of the list. The empty extension belongs to no list.
bool ExtensionInList(std::string_view extension, std::string_view list);

bool IsImageName(std::string_view name);
bool IsVideoName(std::string_view name);
bool IsAudioName(std::string_view name);

// One row per conversation in ascending handleId order: a copy of the latest
// message (the last of its list) flagged deleted when any message of the list
// is deleted; then stable-sorted deleted first. Empty lists give no row.
std::vector<MessageRecord> BuildConversationRows(const ConversationMap& conversations);
std::vector<WhatsAppRecord> BuildChatRows(const WhatsAppChatMap& chats);

// Sorts application files into App Photos (image extensions, and anything not
// a video or audio file) and App Videos (video or audio extensions), keyed by
// appName, keeping the engine's order inside each folder. Appends to the maps.
void ClassifyAppFiles(const std::vector<AppFileRecord>& files, AppFolderMap& appPhotos,
                      AppFolderMap& appVideos);

// Call History: deleted first, each group newest first (date text descending).
void SortCallHistory(std::vector<CallRecord>& calls);

// Contacts, Notes (and any record with a deleted flag): stable, deleted first.
template <class Record>
void SortDeletedFirst(std::vector<Record>& records);

// Messages of a conversation (or chat) in date order: stable sort by date text
// ascending, compared without regard to ASCII case.
void SortByDateAscending(std::vector<MessageRecord>& messages);
void SortByDateAscending(std::vector<WhatsAppRecord>& messages);

}  // namespace corvyn
