#include "core/ScanResults.h"

namespace corvyn {
namespace {

constexpr std::array<std::string_view, kCategoryCount> kLabels = {
    "Camera Roll",          "Photo Stream", "App Photos",   "App Videos", "Messages",
    "Messages Attachments", "Contacts",     "Call History", "Notes",      "WhatsApp",
    "WhatsApp Attachments",
};

bool IsKnown(RecordCategory category) {
  const int index = CategoryIndex(category);
  return index >= 0 && index < kCategoryCount;
}

std::size_t FileCount(const AppFolderMap& folders) {
  std::size_t count = 0;
  for (const auto& [appName, files] : folders) count += files.size();
  return count;
}

}  // namespace

std::string_view CategoryLabel(RecordCategory category) {
  return IsKnown(category) ? kLabels[static_cast<std::size_t>(CategoryIndex(category))] : std::string_view();
}

RecordCategory CategoryFromLabel(std::string_view label) {
  for (RecordCategory category : kAllCategories) {
    if (CategoryLabel(category) == label) return category;
  }
  return RecordCategory::kNone;
}

bool CategoryHasDeletedFlag(RecordCategory category) {
  switch (category) {
    case RecordCategory::kMessages:
    case RecordCategory::kContacts:
    case RecordCategory::kCallHistory:
    case RecordCategory::kNotes:
    case RecordCategory::kWhatsApp:
      return true;
    default:
      return false;
  }
}

void ScanResults::Clear() {
  *this = ScanResults();
}

const void* ScanResults::ContainerOf(RecordCategory category) const {
  switch (category) {
    case RecordCategory::kCameraRoll:
      return &cameraRoll;
    case RecordCategory::kPhotoStream:
      return &photoStream;
    case RecordCategory::kAppPhotos:
      return &appPhotos;
    case RecordCategory::kAppVideos:
      return &appVideos;
    case RecordCategory::kMessages:
      return &conversationRows;
    case RecordCategory::kMessageAttachments:
      return &messageAttachments;
    case RecordCategory::kContacts:
      return &contacts;
    case RecordCategory::kCallHistory:
      return &calls;
    case RecordCategory::kNotes:
      return &notes;
    case RecordCategory::kWhatsApp:
      return &whatsAppChatRows;
    case RecordCategory::kWhatsAppAttachments:
      return &whatsAppAttachments;
    case RecordCategory::kNone:
      break;
  }
  return nullptr;
}

std::size_t ScanResults::ItemCount(RecordCategory category) const {
  switch (category) {
    case RecordCategory::kCameraRoll:
      return cameraRoll.size();
    case RecordCategory::kPhotoStream:
      return photoStream.size();
    case RecordCategory::kAppPhotos:
      return FileCount(appPhotos);
    case RecordCategory::kAppVideos:
      return FileCount(appVideos);
    case RecordCategory::kMessages:
      return conversationRows.size();
    case RecordCategory::kMessageAttachments:
      return messageAttachments.size();
    case RecordCategory::kContacts:
      return contacts.size();
    case RecordCategory::kCallHistory:
      return calls.size();
    case RecordCategory::kNotes:
      return notes.size();
    case RecordCategory::kWhatsApp:
      return whatsAppChatRows.size();
    case RecordCategory::kWhatsAppAttachments:
      return whatsAppAttachments.size();
    case RecordCategory::kNone:
      break;
  }
  return 0;
}

}  // namespace corvyn
