#include "device/CDeviceRecovery.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <deque>
#include <system_error>

#include "backup/BackupDiscovery.h"
#include "backup/WorkingRoot.h"
#include "backup/mbdb/MbdbRecord.h"
#include "core/EngineFactory.h"
#include "core/FileType.h"
#include "decoders/Decoders.h"
#include "platform/Ascii.h"
#include "platform/SpecialFolders.h"

namespace corvyn::device {
namespace fs = std::filesystem;
namespace {

// Where the scale of the backup engine begins once the helper is done.
constexpr int kBackupScaleBase = 20;
constexpr std::size_t kSniffBytes = 512;

template <class Record>
void SortByName(std::vector<Record>& records) {
  std::stable_sort(records.begin(), records.end(), [](const Record& left, const Record& right) {
    return platform::LessIgnoringCase(left.name, right.name);
  });
}

std::string_view LastPart(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string JoinDevicePath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (path.empty() || path.back() != '/') path.push_back('/');
  return path.append(name);
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// A path inside `root` (both made absolute and normal, compared part by part).
bool LiesInside(const fs::path& path, const fs::path& root) {
  if (root.empty() || path.empty()) return false;
  const fs::path normalPath = fs::absolute(path).lexically_normal();
  const fs::path normalRoot = fs::absolute(root).lexically_normal();
  const fs::path relative = normalPath.lexically_relative(normalRoot);
  return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

}  // namespace

bool VersionBefore(std::string_view version, std::string_view than) {
  auto next = [](std::string_view& text) {
    uint64_t number = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, number);
    if (error != std::errc()) number = 0;
    const auto dot = std::string_view(stop, static_cast<std::size_t>(end - stop)).find('.');
    text = dot == std::string_view::npos ? std::string_view() : std::string_view(stop + dot + 1, end);
    return number;
  };
  if (version.empty()) return true;
  while (!version.empty() || !than.empty()) {
    const uint64_t left = next(version);
    const uint64_t right = next(than);
    if (left != right) return left < right;
  }
  return false;
}

CDeviceRecovery::~CDeviceRecovery() {
  backup_.DiscardWorkingFiles();
  std::error_code error;
  if (!workFolder_.empty()) fs::remove_all(workFolder_, error);
  if (source_ != nullptr && LiesInside(backupFolder_, source_->backupRoot))
    fs::remove_all(backupFolder_, error);
}

Status CDeviceRecovery::Attach(void* sourceContext) {
  source_ = static_cast<DeviceSource*>(sourceContext);
  return source_ != nullptr && source_->phone != nullptr ? kOk : kInvalidData;
}

Status CDeviceRecovery::SetProgressCallback(ProgressCallback callback, void* userValue) {
  progress_.callback = callback;
  progress_.userValue = userValue;
  return kOk;
}

int CDeviceRecovery::ForwardHelperProgress(void* self, int percent) {
  auto* engine = static_cast<CDeviceRecovery*>(self);
  const int clamped = std::clamp(percent, 0, 100);
  const int value = 1 + clamped * (kBackupScaleBase - 2) / 100;
  return engine->progress_.callback ? engine->progress_.callback(engine->progress_.userValue, value) : 0;
}

int CDeviceRecovery::ForwardBackupProgress(void* self, int percent) {
  auto* engine = static_cast<CDeviceRecovery*>(self);
  const int value = kBackupScaleBase + std::clamp(percent, 0, 100) * (100 - kBackupScaleBase) / 100;
  return engine->progress_.callback ? engine->progress_.callback(engine->progress_.userValue, value) : 0;
}

Status CDeviceRecovery::OpenSource(const std::string& password) {
  if (source_ == nullptr || source_->phone == nullptr) return kInvalidData;
  IDeviceServices& phone = *source_->phone;
  if (Status answer = progress_.Report(1); answer != kOk) return answer;
  backupOpen_ = false;
  openStatus_ = Status(kInvalidData, "the phone's backup has not been made");
  qqDatabases_.clear();
  weChatDatabases_.clear();

  phone.ReopenFileService();
  rootAccess_ = phone.HasRootFileService();
  productVersion_.clear();
  (void)phone.DeviceValue("ProductVersion", productVersion_);

  const fs::path root = source_->workingRoot.empty() ? backup::WorkingRoot() : source_->workingRoot;
  if (root.empty()) return Status(kInvalidData, "no working folder can be made for the phone's files");
  // The phone's files are private data: the folders are ours alone.
  if (Status made = platform::MakePrivateFolder(root); made != kOk) return made;
  workFolder_ = root / kDeviceWorkFolder;
  std::error_code error;
  fs::remove_all(workFolder_, error);
  if (Status made = platform::MakePrivateFolder(workFolder_); made != kOk) return made;

  backup_.progress = ProgressShare{&CDeviceRecovery::ForwardBackupProgress, this, 0, backup::kOpenStep};
  // Previews and exports of the phone's own pictures need the working root
  // even when no backup could be read.
  backup_.workingRoot = root;
  if (!source_->makeBackup) return Status(kInvalidData, "no device helper is set to back the phone up");
  fs::path written;
  if (Status made = source_->makeBackup(password, &CDeviceRecovery::ForwardHelperProgress, this, written);
      made != kOk) {
    return made;
  }
  backupFolder_ = written;
  if (backupFolder_.empty()) {
    openStatus_ = Status(kInvalidData, "the device helper named no backup of the phone");
  } else {
    backup::BackupDescriptor descriptor;
    if (backup::ReadBackupFolder(backupFolder_, descriptor) != kOk) {
      openStatus_ =
          Status(kInvalidData, "the phone's backup in " + backupFolder_.string() + " cannot be read");
    } else {
      backup_.Select(descriptor);
      backup_.workingRoot = root;
      backup_.decryptionProgram = source_->decryptionProgram;
      Status opened = backup_.OpenSource(password);
      // A wrong password ends the opening (the page asks for it again), as
      // does a stop; any other failure is told by each category.
      if (opened == kWrongPassword || opened == kStopped) return opened;
      backupOpen_ = opened == kOk;
      openStatus_ = opened;
    }
  }
  // An opened backup has reported its own opening on the scale after 20.
  return backupOpen_ ? Status() : progress_.Report(kBackupScaleBase);
}

Status CDeviceRecovery::NeedBackup() const {
  return backupOpen_ ? Status() : openStatus_;
}

Status CDeviceRecovery::CollectMessages(ConversationMap& conversations) {
  if (Status status = NeedBackup(); status != kOk) return status;
  return backup_.CollectMessages(conversations);
}

Status CDeviceRecovery::CollectMessageAttachments(std::vector<AttachmentRecord>& attachments) {
  if (Status status = NeedBackup(); status != kOk) return status;
  return backup_.CollectMessageAttachments(attachments);
}

Status CDeviceRecovery::CollectContacts(std::vector<ContactRecord>& contacts) {
  if (Status status = NeedBackup(); status != kOk) return status;
  return backup_.CollectContacts(contacts);
}

Status CDeviceRecovery::CollectNotes(std::vector<NoteRecord>& notes) {
  if (Status status = NeedBackup(); status != kOk) return status;
  return backup_.CollectNotes(notes);
}

Status CDeviceRecovery::CollectCallHistory(std::vector<CallRecord>& calls) {
  if (Status status = NeedBackup(); status != kOk) return status;
  return backup_.CollectCallHistory(calls);
}

Status CDeviceRecovery::CollectWhatsApp(WhatsAppChatMap& chats) {
  if (Status status = NeedBackup(); status != kOk) return status;
  return backup_.CollectWhatsApp(chats);
}

std::vector<std::string> CDeviceRecovery::ListFiles(const std::string& start) {
  IDeviceServices& phone = *source_->phone;
  std::vector<std::string> files;
  std::deque<std::string> folders{start};
  while (!folders.empty()) {
    const std::string folder = std::move(folders.front());
    folders.pop_front();
    std::vector<std::string> names;
    phone.ListDirectory(folder, names);
    for (const std::string& name : names) {
      std::string path = JoinDevicePath(folder, name);
      if (phone.IsDirectory(path))
        folders.push_back(std::move(path));
      else
        files.push_back(std::move(path));
    }
  }
  return files;
}

bool CDeviceRecovery::CopyIntoWorkFolder(const std::string& devicePath, fs::path& local, uint64_t& size) {
  local = workFolder_ / backup::StoredNameOf(devicePath);
  size = 0;
  if (source_->phone->CopyFile(devicePath, local, size) != kOk || size == 0) {
    std::error_code error;
    fs::remove(local, error);
    return false;
  }
  return true;
}

bool CDeviceRecovery::TakeMediaFile(const std::string& devicePath, TakenFile& taken) {
  IDeviceServices& phone = *source_->phone;
  const uint64_t file = phone.OpenFile(devicePath);
  if (file == 0) return false;
  std::vector<char> head(kSniffBytes);
  std::size_t filled = 0;
  while (filled < head.size()) {
    std::size_t length = head.size() - filled;
    if (phone.ReadFile(file, head.data() + filled, length) != kOk || length == 0) break;
    filled += length;
  }
  (void)phone.CloseFile(file);
  const int type =
      DetectTypeCode(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(head.data()), filled));
  if (filled == 0 || type == kFileTypeUnknown) return false;
  if (!CopyIntoWorkFolder(devicePath, taken.local, taken.size)) return false;
  std::string_view base = LastPart(devicePath);
  if (const auto dot = base.rfind('.'); dot != std::string_view::npos) base = base.substr(0, dot);
  std::string_view extension = ExtensionOfType(type);
  if (extension.empty()) extension = "jpg";
  taken.name = backup::SafeFileName(base) + "." + platform::AsciiUpperCopy(extension);
  return true;
}

Status CDeviceRecovery::WalkMedia(const std::string& start, std::vector<MediaFileRecord>& out,
                                  const ProgressShare& share) {
  const std::vector<std::string> files = ListFiles(start);
  const int64_t count = static_cast<int64_t>(files.size());
  for (int64_t index = 0; index < count; ++index) {
    TakenFile taken;
    if (TakeMediaFile(files[static_cast<std::size_t>(index)], taken))
      out.push_back({taken.size, std::move(taken.name), taken.local.string()});
    if (Status answer = share.ReportAt(index + 1, count); answer != kOk) return answer;
  }
  SortByName(out);
  return kOk;
}

Status CDeviceRecovery::CollectPhotos(std::vector<MediaFileRecord>& cameraRoll,
                                      std::vector<MediaFileRecord>& photoStream) {
  if (source_ == nullptr || workFolder_.empty()) return kInvalidData;
  source_->phone->ReopenFileService();
  const int span = backup_.progress.span;
  ProgressShare share = backup_.progress.Part(span);
  Status status = WalkMedia("/DCIM", cameraRoll, share);
  if (status == kOk) {
    share.base += span;
    status = WalkMedia("/PhotoStreamsData", photoStream, share);
  }
  if (status != kOk) return status;
  return backup_.progress.Advance(2 * span);
}

Status CDeviceRecovery::CollectWhatsAppAttachments(std::vector<MediaFileRecord>& attachments) {
  if (!WalksContainers()) {
    if (Status status = NeedBackup(); status != kOk) return status;
    return backup_.CollectWhatsAppAttachments(attachments);
  }
  IDeviceServices& phone = *source_->phone;
  Status status = phone.OpenAppContainer(std::string(kWhatsAppBundle));
  if (status == kOk)
    status = WalkMedia("/Library/Media/", attachments, backup_.progress.Part(backup_.progress.span));
  phone.ReopenFileService();
  // A phone without WhatsApp has no media of it: not a failure.
  if (status != kOk && status != kStopped) status = kOk;
  if (status != kOk) return status;
  return backup_.progress.Advance(backup_.progress.span);
}

Status CDeviceRecovery::CollectAppFiles(std::vector<AppFileRecord>& files) {
  if (!WalksContainers()) {
    if (Status status = NeedBackup(); status != kOk) return status;
    return backup_.CollectAppFiles(files);
  }
  IDeviceServices& phone = *source_->phone;
  std::vector<std::string> applications;
  if (Status listed = phone.ListUserApplications(applications); listed != kOk) return listed;
  const ProgressShare share = backup_.progress.Part(2 * backup_.progress.span);
  const int64_t count = static_cast<int64_t>(applications.size());
  Status status;
  for (int64_t index = 0; index < count && status == kOk; ++index) {
    const std::string& bundle = applications[static_cast<std::size_t>(index)];
    if (phone.OpenAppContainer(bundle) == kOk) {
      const std::string appName = backup::AppNameOf(bundle);
      for (const std::string& path : ListFiles("/Documents/")) {
        if (Contains(path, "/QQ.db") || Contains(path, "/MM.sqlite")) {
          fs::path local;
          uint64_t size = 0;
          if (CopyIntoWorkFolder(path, local, size))
            (Contains(path, "/QQ.db") ? qqDatabases_ : weChatDatabases_).push_back(local);
          continue;
        }
        TakenFile taken;
        if (TakeMediaFile(path, taken))
          files.push_back({taken.size, appName, std::move(taken.name), taken.local.string()});
      }
    }
    status = share.ReportAt(index + 1, count);
  }
  phone.ReopenFileService();
  if (status != kOk) return status;
  SortByName(files);
  return backup_.progress.Advance(backup_.progress.span);
}

Status CDeviceRecovery::CollectQQ(ChatConversationMap& chats) {
  if (!WalksContainers()) {
    if (Status status = NeedBackup(); status != kOk) return status;
    return backup_.CollectQQ(chats);
  }
  Status result;
  for (const fs::path& database : qqDatabases_) {
    if (Status status = decoders::DecodeQQ(chats, database); status != kOk) result = status;
  }
  return result;
}

Status CDeviceRecovery::CollectWeChat(ChatConversationMap& chats) {
  if (!WalksContainers()) {
    if (Status status = NeedBackup(); status != kOk) return status;
    return backup_.CollectWeChat(chats);
  }
  Status result;
  for (const fs::path& database : weChatDatabases_) {
    if (Status status = decoders::DecodeWeChat(chats, database); status != kOk) result = status;
  }
  return result;
}

Status CDeviceRecovery::ExtractForPreview(const fs::path& source, fs::path& previewPath,
                                          ProgressCallback callback, void* userValue) {
  return backup_.ExtractForPreview(source, previewPath, callback, userValue);
}

Status CDeviceRecovery::CopyFileWithProgress(const fs::path& source, const fs::path& destination,
                                             ProgressCallback callback, void* userValue) {
  return backup_.CopyFileWithProgress(source, destination, callback, userValue);
}

Status CDeviceRecovery::ExportMessagesCsv(const fs::path& destination) {
  if (Status status = NeedBackup(); status != kOk) return status;
  return backup_.ExportMessagesCsv(destination);
}

Status CDeviceRecovery::ExportContactsCsv(const fs::path& destination) {
  if (Status status = NeedBackup(); status != kOk) return status;
  return backup_.ExportContactsCsv(destination);
}

// The transcripts are written by the export's own writers from the scan's
// records, as for a backup folder.
Status CDeviceRecovery::ExportWhatsAppText(int32_t, const fs::path&, ProgressCallback, void*) {
  return kOk;
}
Status CDeviceRecovery::ExportQQText(const std::string&, const std::string&, const fs::path&,
                                     ProgressCallback, void*) {
  return kOk;
}
Status CDeviceRecovery::ExportWeChatText(const std::string&, const std::string&, const fs::path&,
                                         ProgressCallback, void*) {
  return kOk;
}

void RegisterDeviceEngine() {
  RegisterEngineFactory(kSourceKindDevice, [] { return std::make_unique<CDeviceRecovery>(); });
}

}  // namespace corvyn::device
