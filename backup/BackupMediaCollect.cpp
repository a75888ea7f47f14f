// The media collections of the backup engine: Camera Roll and Photo Stream,
// message attachments, application files (WhatsApp attachments set aside).
#include <algorithm>
#include <system_error>

#include "backup/BackupContext.h"
#include "backup/MediaProbe.h"
#include "decoders/MessageAttachments.h"
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

const BackupContext::ExaminedFile& BackupContext::ExamineEntry(std::size_t index, uint64_t& counter) {
  if (const auto found = examined_.find(index); found != examined_.end()) return found->second;
  const BackupFileEntry& entry = fileMap[index];
  ExaminedFile file;
  file.readable = ExamineStoredFile(entry, StoredPath(entry.storedName), file.size, file.extension, counter);
  return examined_.emplace(index, std::move(file)).first->second;
}

std::string BackupContext::ListedFileName(std::string_view key, std::string_view devicePath) {
  if (indexOfKey_.empty()) {
    indexOfKey_.reserve(fileMap.size());
    for (std::size_t index = 0; index < fileMap.size(); ++index)
      indexOfKey_.emplace(fileMap[index].key, index);
  }
  if (const auto found = indexOfKey_.find(key); found != indexOfKey_.end()) {
    uint64_t counter = 0;
    const ExaminedFile& file = ExamineEntry(found->second, counter);
    if (file.readable && file.size != 0 && !file.extension.empty())
      return NameWithDetectedExtension(fileMap[found->second].key, file.extension);
  }
  return std::string(LastComponent(devicePath));
}

void BackupContext::NameMessageAttachments(ConversationMap& conversations) {
  for (auto& [handle, messages] : conversations) {
    for (MessageRecord& message : messages) {
      if (!message.attachment.empty())
        message.attachment =
            ListedFileName(decoders::AttachmentBackupKey(message.attachment), message.attachment);
    }
  }
}

void BackupContext::NameWhatsAppAttachments(WhatsAppChatMap& chats) {
  // The stored paths are relative to the shared container; its "Message/"
  // folder is where the key prefix ends.
  const std::string_view container = kWhatsAppSharedMessagesKey.substr(
      0, kWhatsAppSharedMessagesKey.size() - std::string_view("Message/").size());
  for (auto& [session, messages] : chats) {
    for (WhatsAppRecord& message : messages) {
      if (message.attachment.empty() || !message.extra.starts_with("Message/")) continue;
      message.attachment = ListedFileName(std::string(container) + message.extra, message.extra);
    }
  }
}

Status BackupContext::CollectMessageAttachments(std::vector<AttachmentRecord>& attachments) {
  uint64_t counter = 0;
  const int64_t count = static_cast<int64_t>(fileMap.size());
  for (int64_t index = 0; index < count; ++index) {
    const BackupFileEntry& entry = fileMap[static_cast<std::size_t>(index)];
    if (!Contains(entry.key, kAttachmentsText)) continue;
    const ExaminedFile& file = ExamineEntry(static_cast<std::size_t>(index), counter);
    if (file.readable && file.size != 0 && !file.extension.empty()) {
      AttachmentRecord record;
      record.name = NameWithDetectedExtension(entry.key, file.extension);
      record.path = StoredPath(entry.storedName).string();
      record.size = file.size;
      attachments.push_back(std::move(record));
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
    ExamineStoredFile(entry, path, size, extension, counter);
    if (!extension.empty()) {
      const std::string name = NameWithDetectedExtension(entry.key, extension);
      if (Contains(entry.key, kWhatsAppDomainText)) {
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

}  // namespace corvyn::backup
