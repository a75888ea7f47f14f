// The media collections of the backup engine: Camera Roll and Photo Stream,
// message attachments, application files (WhatsApp attachments set aside).
#include <algorithm>
#include <system_error>

#include "backup/BackupContext.h"
#include "backup/MediaProbe.h"
#include "decoders/MessageAttachments.h"
#include "decoders/ModernWhatsApp.h"
#include "platform/Ascii.h"

namespace corvyn::backup {
namespace fs = std::filesystem;
namespace {

template <class Record>
void SortByName(std::vector<Record>& records) {
  std::stable_sort(records.begin(), records.end(), [](const Record& left, const Record& right) {
    return platform::LessIgnoringCase(left.name, right.name);
  });
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// The device name without its extension, followed by the detected one in
// upper case.
std::string NameWithDetectedExtension(std::string_view key, std::string_view extension) {
  std::string_view base = LastComponent(key);
  if (const auto dot = base.rfind('.'); dot != std::string_view::npos) base = base.substr(0, dot);
  const std::string name = SafeFileName(base) + ".";
  if (extension.empty()) extension = "jpg";
  return name + platform::AsciiUpperCopy(extension);
}

}  // namespace

Status BackupContext::CollectPhotos(std::vector<MediaFileRecord>& cameraRoll,
                                    std::vector<MediaFileRecord>& photoStream) {
  uint64_t counter = 0;
  const int64_t count = static_cast<int64_t>(fileMap.size());
  for (int64_t index = 0; index < count; ++index) {
    const BackupFileEntry& entry = fileMap[static_cast<std::size_t>(index)];
    const bool inPhotoStream = Contains(entry.key, kPhotoStreamDomain);
    if (!inPhotoStream && !Contains(entry.key, kCameraRollDomain)) continue;
    const fs::path path = StoredPath(entry.storedName);
    uint64_t size = 0;
    std::string extension;
    if (!ExamineStoredFile(entry, path, size, extension, counter)) continue;
    if (!extension.empty()) {
      MediaFileRecord record;
      record.name = SafeFileName(LastComponent(entry.key));
      record.path = path.string();
      record.size = size;
      (inPhotoStream ? photoStream : cameraRoll).push_back(std::move(record));
    }
    if (Status answer = progress.Part(2 * progress.span).ReportAt(index + 1, count); answer != kOk)
      return answer;
  }
  SortByName(cameraRoll);
  SortByName(photoStream);
  return progress.Advance(2 * progress.span);
}

Status BackupContext::CollectMessageAttachments(std::vector<AttachmentRecord>& attachments) {
  uint64_t counter = 0;
  const int64_t count = static_cast<int64_t>(fileMap.size());
  for (int64_t index = 0; index < count; ++index) {
    const BackupFileEntry& entry = fileMap[static_cast<std::size_t>(index)];
    if (!Contains(entry.key, kAttachmentsText)) continue;
    const fs::path path = StoredPath(entry.storedName);
    uint64_t size = 0;
    std::string extension;
    if (ExamineStoredFileOnce(entry, path, size, extension, counter) && size != 0) {
      if (!extension.empty()) {
        AttachmentRecord record;
        record.name = NameWithDetectedExtension(entry.key, extension);
        record.path = path.string();
        record.size = size;
        attachments.push_back(std::move(record));
      }
    }
    if (Status answer = progress.ReportAt(index + 1, count); answer != kOk) return answer;
  }
  SortByName(attachments);
  return progress.Advance(progress.span);
}

Status BackupContext::CollectAppFiles(std::vector<AppFileRecord>& files) {
  uint64_t counter = 0;
  whatsAppAttachments.clear();
  const int64_t count = static_cast<int64_t>(fileMap.size());
  for (int64_t index = 0; index < count; ++index) {
    const BackupFileEntry& entry = fileMap[static_cast<std::size_t>(index)];
    if (!Contains(entry.key, kAppDomain) &&
        !std::string_view(entry.key).starts_with(kWhatsAppSharedMessagesKey))
      continue;
    const fs::path path = StoredPath(entry.storedName);
    uint64_t size = 0;
    std::string extension;
    // Only WhatsApp's files are looked at again (naming its messages' media).
    const bool whatsApp = Contains(entry.key, kWhatsAppDomainText);
    if (whatsApp)
      ExamineStoredFileOnce(entry, path, size, extension, counter);
    else
      ExamineStoredFile(entry, path, size, extension, counter);
    if (!extension.empty()) {
      const std::string name = NameWithDetectedExtension(entry.key, extension);
      if (whatsApp) {
        if (size != 0) whatsAppAttachments.push_back({size, name, path.string()});
      } else {
        files.push_back({size, AppNameOf(entry.key), name, path.string()});
      }
    }
    if (Status answer = progress.Part(2 * progress.span).ReportAt(index + 1, count); answer != kOk)
      return answer;
  }
  SortByName(whatsAppAttachments);
  return progress.Advance(progress.span);
}

bool BackupContext::ExamineStoredFileOnce(const BackupFileEntry& entry, const fs::path& path, uint64_t& size,
                                          std::string& extension, uint64_t& counter) {
  auto [known, added] = examined_.try_emplace(entry.storedName);
  ExaminedFile& file = known->second;
  if (added) file.found = ExamineStoredFile(entry, path, file.size, file.extension, counter);
  size = file.size;
  extension = file.extension;
  return file.found;
}

std::string BackupContext::ListedMediaName(std::string_view key, uint64_t& counter) {
  const BackupFileEntry* entry = EntryOfKey(key);
  if (entry == nullptr) return {};
  uint64_t size = 0;
  std::string extension;
  if (!ExamineStoredFileOnce(*entry, StoredPath(entry->storedName), size, extension, counter) || size == 0 ||
      extension.empty())
    return {};
  return NameWithDetectedExtension(entry->key, extension);
}

void BackupContext::NameMessageAttachments(ConversationMap& conversations) {
  uint64_t counter = 0;
  for (auto& [handle, messages] : conversations) {
    for (MessageRecord& message : messages) {
      if (message.attachment.empty()) continue;
      const std::string key = decoders::AttachmentBackupKey(message.attachment);
      std::string name = key.empty() ? std::string() : ListedMediaName(key, counter);
      if (name.empty()) name = SafeFileName(LastComponent(message.attachment));
      message.attachment = std::move(name);
    }
  }
}

void BackupContext::NameWhatsAppMedia(WhatsAppChatMap& chats) {
  // The paths the database keeps are relative to the shared group
  // container's "Message/" folder (the decoder puts it in front).
  constexpr std::string_view kMessageFolder = "Message/";
  uint64_t counter = 0;
  for (auto& [session, messages] : chats) {
    for (WhatsAppRecord& message : messages) {
      if (message.mediaName.empty() || !message.extra.starts_with(kMessageFolder)) continue;
      const std::string key =
          std::string(kWhatsAppSharedMessagesKey) + message.extra.substr(kMessageFolder.size());
      std::string name = ListedMediaName(key, counter);
      if (name.empty() || name == message.mediaName) continue;
      message.mediaName = std::move(name);
      message.text = decoders::WhatsAppMediaText(message.messageType, message.mediaName);
    }
  }
}

}  // namespace corvyn::backup
