// The categories of recovered data and the containers of one scan.
//
// ScanResults is owned by whoever runs the scan (the scan driver keeps one);
// a container owns its records. Record addresses stay valid from the moment
// their category is published (message 1032) until the next Clear(), because a
// category's container is filled once and never touched again during a scan.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/Records.h"

namespace corvyn {

// Every selectable row carries one of these; export and print dispatch on it.
enum class RecordCategory : int32_t {
  kNone = 0,  // category entries themselves, hidden tree nodes
  kCameraRoll = 1,
  kPhotoStream = 2,
  kAppPhotos = 3,
  kAppVideos = 4,
  kMessages = 5,
  kMessageAttachments = 6,
  kContacts = 7,
  kCallHistory = 8,
  kNotes = 9,
  kWhatsApp = 10,
  kWhatsAppAttachments = 11,
};

inline constexpr int kCategoryCount = 11;

// The eleven categories in code order (1 to 11).
inline constexpr std::array<RecordCategory, kCategoryCount> kAllCategories = {
    RecordCategory::kCameraRoll,
    RecordCategory::kPhotoStream,
    RecordCategory::kAppPhotos,
    RecordCategory::kAppVideos,
    RecordCategory::kMessages,
    RecordCategory::kMessageAttachments,
    RecordCategory::kContacts,
    RecordCategory::kCallHistory,
    RecordCategory::kNotes,
    RecordCategory::kWhatsApp,
    RecordCategory::kWhatsAppAttachments,
};

constexpr int CategoryIndex(RecordCategory category) {
  return static_cast<int>(category) - 1;
}

// The tree label without its count ("Camera Roll", ..., "WhatsApp
// Attachments"); empty for kNone or an unknown code.
std::string_view CategoryLabel(RecordCategory category);

// The category with that tree label, or kNone.
RecordCategory CategoryFromLabel(std::string_view label);

// True for the categories whose records carry a deleted flag (Messages,
// Contacts, Call History, Notes, WhatsApp): those with an only-deleted filter.
bool CategoryHasDeletedFlag(RecordCategory category);

struct ScanResults {
  std::vector<MediaFileRecord> cameraRoll;
  std::vector<MediaFileRecord> photoStream;
  std::vector<AppFileRecord> appFiles;          // raw list from the engine
  std::vector<MessageRecord> conversationRows;  // one per conversation, built
  std::vector<AttachmentRecord> messageAttachments;
  std::vector<ContactRecord> contacts;
  std::vector<CallRecord> calls;
  std::vector<WhatsAppRecord> whatsAppChatRows;  // one per chat, built
  std::vector<MediaFileRecord> whatsAppAttachments;
  std::vector<NoteRecord> notes;
  AppFolderMap appPhotos;
  AppFolderMap appVideos;
  ConversationMap conversations;  // handleId -> messages in date order
  WhatsAppChatMap whatsAppChats;  // chat session -> messages in date order

  void Clear();

  // Address of the category's container: the tag of its tree node and the key
  // of its category entry in CStatisticsObj. Messages and WhatsApp lead to
  // their conversation / chat rows. nullptr for kNone.
  const void* ContainerOf(RecordCategory category) const;

  // Number of items the category holds: records, conversation or chat rows,
  // or (App Photos, App Videos) files across all application folders.
  std::size_t ItemCount(RecordCategory category) const;
};

}  // namespace corvyn
