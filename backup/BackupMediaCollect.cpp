// The media collections of the backup engine: Camera Roll and Photo Stream,
// message attachments, application files (WhatsApp attachments set aside).
#include <algorithm>
#include <system_error>

#include "backup/BackupContext.h"
#include "backup/MediaProbe.h"
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
    if (ExamineStoredFile(entry, path, size, extension, counter) && size != 0) {
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
