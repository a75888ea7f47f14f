#include "backup/BackupContext.h"

#include <system_error>

#include "backup/DecryptionRunner.h"
#include "backup/FileCopy.h"
#include "backup/ManifestDbReader.h"
#include "backup/MediaProbe.h"
#include "backup/WorkingRoot.h"
#include "core/DerivedData.h"
#include "decoders/Decoders.h"
#include "platform/Process.h"
#include "platform/SpecialFolders.h"

namespace corvyn::backup {
namespace fs = std::filesystem;

std::string SafeFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return "_";
  std::string safe(name);
  for (char& c : safe) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) c = '_';
  }
  return safe;
}

std::string_view LastComponent(std::string_view key) {
  const auto slash = key.rfind('/');
  return slash == std::string_view::npos ? key : key.substr(slash + 1);
}

std::string AppNameOf(std::string_view key) {
  auto at = key.find("com.");
  if (at == std::string_view::npos) at = key.find("net.");
  if (at == std::string_view::npos) return "other";
  std::string_view rest = key.substr(at + 4);
  const auto dash = rest.find('-');
  if (dash != std::string_view::npos) rest = rest.substr(0, dash);
  return SafeFileName(rest);
}

const BackupFileEntry* FindEntryByKey(const BackupFileMap& map, std::span<const std::string_view> keys) {
  for (const auto& entry : map) {
    for (const auto key : keys) {
      if (entry.key == key) return &entry;
    }
  }
  return nullptr;
}

const BackupFileEntry* FindEntryByFileName(const BackupFileMap& map, std::string_view fileName) {
  for (const auto& entry : map) {
    const std::string_view key = entry.key;
    if (key.size() > fileName.size() && key.ends_with(fileName) &&
        key[key.size() - fileName.size() - 1] == '/') {
      return &entry;
    }
  }
  return nullptr;
}

BackupContext::~BackupContext() {
  DiscardWorkingFiles();
}

void BackupContext::DiscardWorkingFiles() {
  std::error_code ignored;  // a folder that is already gone is fine
  if (!decryptedCopy_.empty()) fs::remove_all(decryptedCopy_, ignored);
  if (!previewFolder_.empty()) fs::remove_all(previewFolder_, ignored);
  decryptedCopy_.clear();
  previewFolder_.clear();
}

void BackupContext::Select(const BackupDescriptor& chosen) {
  DiscardWorkingFiles();
  descriptor = chosen;
  backupFolder = chosen.folder;
}

fs::path BackupContext::StoredPath(std::string_view storedName) const {
  return StoredFilePath(backupFolder, storedLayout, storedName);
}

Status BackupContext::EnsureWorkingRoot(fs::path& root) {
  if (workingRoot.empty()) workingRoot = WorkingRoot();
  if (workingRoot.empty()) return kInvalidData;
  if (const Status status = platform::MakePrivateFolder(workingRoot); status != kOk) return status;
  root = workingRoot;
  return kOk;
}

Status BackupContext::DecryptBackup(const std::string& password, const fs::path& encryptedFolder,
                                    fs::path& copyFolder) {
  fs::path root;
  if (const Status status = EnsureWorkingRoot(root); status != kOk) return status;
  copyFolder = DecryptedCopyFolder(root);
  decryptedCopy_ = copyFolder;
  // Files of an earlier backup must not be read as part of this one.
  std::error_code error;
  fs::remove_all(copyFolder, error);
  DecryptionJob job;
  job.program = decryptionProgram.empty() ? DecryptionProgramPath() : decryptionProgram;
  job.encryptedFolder = encryptedFolder;
  job.copyFolder = copyFolder;
  job.expectedFileCount = folderListing.entries.size();
  platform::IProcessLauncher& chosenLauncher = launcher ? *launcher : platform::DefaultProcessLauncher();
  return RunDecryption(chosenLauncher, job, password, progress);
}

Status BackupContext::EndStep(Status result, int step) {
  if (Status answer = progress.Advance(step); answer != kOk) return answer;
  return result;
}

Status BackupContext::CheckDatabasePresent(const fs::path& database) const {
  std::error_code error;
  if (fs::is_regular_file(database, error)) return kOk;
  return Status(kInvalidData, "the database file is missing from this backup");
}

Status CheckManifestPresent(const fs::path& folder) {
  std::error_code error;
  if (fs::is_regular_file(folder / kManifestName, error)) return kOk;
  if (fs::is_regular_file(folder / kNewerManifestName, error)) return kOk;
  return Status(kInvalidData, "the backup folder holds no list of its files (" + std::string(kManifestName) +
                                  " or " + std::string(kNewerManifestName) + ")");
}

namespace {

// Backups of iOS 10 and later carry Manifest.db instead of Manifest.mbdb.
bool IsNewerLayout(const fs::path& folder) {
  std::error_code error;
  return !fs::is_regular_file(folder / kManifestName, error) &&
         fs::is_regular_file(folder / kNewerManifestName, error);
}

// The file list of a newer backup; one that does not open as a database is
// named as the newer layout's, so the user knows which kind of backup failed.
Status ReadNewerFileMap(const fs::path& folder, BackupFileMap& map, std::vector<std::string>& warnings) {
  ManifestDbReport report;
  const Status status = ReadManifestDb(folder / kNewerManifestName, map, &report);
  if (status == kInvalidData && !status.detail().empty())
    return status.WithContext("this backup uses the newer layout of iOS 10 and later");
  warnings = std::move(report.warnings);  // a list damaged part-way is among them
  return status;
}

}  // namespace

Status BackupContext::OpenSource(const std::string& password) {
  progress.base = 0;
  progress.span = kOpenStep;
  if (Status answer = progress.Report(0); answer != kOk) return answer;
  conversations.clear();
  qqChats.clear();
  weChatChats.clear();
  whatsAppChats.clear();
  whatsAppAttachments.clear();
  folderListing = {};
  backupList = {};
  fileMap.clear();
  fileListWarnings.clear();

  storedLayout = StoredLayout::kFlat;

  Status status = CheckManifestPresent(backupFolder);
  if (status != kOk) return status;
  if (IsNewerLayout(backupFolder)) {
    if (descriptor.encrypted) {
      return Status(kInvalidData,
                    "this backup is encrypted and uses the newer layout of iOS 10 and later "
                    "(Manifest.db): encrypted backups of iOS 10 and later are not supported yet");
    }
    storedLayout = StoredLayout::kPrefixFolders;
    progress.base = 1;
    if (Status answer = progress.Report(1); answer != kOk) return answer;
    status = ReadNewerFileMap(backupFolder, fileMap, fileListWarnings);
  } else if (descriptor.encrypted) {
    progress.span = kEncryptedOpenStep;
    const fs::path encryptedFolder = backupFolder;
    if (status = ListFolder(encryptedFolder, folderListing); status != kOk) return status;
    fs::path copyFolder;
    status = DecryptBackup(password, encryptedFolder, copyFolder);
    if (status != kOk) return status;
    if (status = ListFolder(copyFolder, folderListing); status != kOk) return status;
    // The manifest is never encrypted; its stored names are those of the copy.
    status = ReadBackupFileMap(encryptedFolder / kManifestName, fileMap);
    backupFolder = copyFolder;
    descriptor.folder = copyFolder;
  } else {
    progress.base = 1;
    if (Status answer = progress.Report(1); answer != kOk) return answer;
    status = ReadBackupFileMap(backupFolder / kManifestName, fileMap);
  }
  return EndStep(status, progress.span);
}

Status BackupContext::CollectMessages(ConversationMap& out) {
  conversations.clear();
  const fs::path database = StoredPath(kMessagesStoredName);
  Status status = CheckDatabasePresent(database);
  if (status == kOk) {
    status = decoders::DecodeMessages(conversations, database, StoredPath(kAddressBookStoredName),
                                      progress.Part(progress.span / 2), messageRowId);
  }
  if (status == kStopped) return status;
  out = conversations;
  return EndStep(status, progress.span / 2);
}

Status BackupContext::CollectContacts(std::vector<ContactRecord>& contacts) {
  const fs::path database = StoredPath(kAddressBookStoredName);
  Status status = CheckDatabasePresent(database);
  if (status == kOk) status = decoders::DecodeContacts(contacts, database, contactRowId);
  return EndStep(status, progress.span / 2);
}

Status BackupContext::CollectCallHistory(std::vector<CallRecord>& calls) {
  std::error_code error;
  fs::path database = StoredPath(kCallHistoryStoredName);
  if (!fs::exists(database, error)) database = StoredPath(kOlderCallHistoryStoredName);
  Status status = CheckDatabasePresent(database);
  if (status == kOk)
    status = decoders::DecodeCallHistory(calls, database, StoredPath(kAddressBookStoredName));
  return EndStep(status, progress.span / 2);
}

Status BackupContext::CollectNotes(std::vector<NoteRecord>& notes) {
  const fs::path database = StoredPath(kNotesStoredName);
  Status status = CheckDatabasePresent(database);
  if (status == kOk) status = decoders::DecodeNotes(notes, database);
  return EndStep(status, progress.span / 2);
}

Status BackupContext::CollectWhatsApp(WhatsAppChatMap& out) {
  const BackupFileEntry* chats = FindEntryByKey(fileMap, kWhatsAppChatsKeys);
  whatsAppChats.clear();
  Status status = chats ? CheckDatabasePresent(StoredPath(chats->storedName))
                        : Status(kInvalidData, "the backup holds no WhatsApp database");
  if (status == kOk) status = decoders::DecodeWhatsApp(whatsAppChats, StoredPath(chats->storedName));
  out = whatsAppChats;
  return EndStep(status, progress.span);
}

Status BackupContext::CollectWhatsAppAttachments(std::vector<MediaFileRecord>& attachments) {
  attachments.insert(attachments.end(), whatsAppAttachments.begin(), whatsAppAttachments.end());
  return EndStep(kOk, progress.span);
}

Status BackupContext::CollectQQ(ChatConversationMap& out) {
  const BackupFileEntry* database = FindEntryByFileName(fileMap, kQQFileName);
  if (!database) return kInvalidData;
  qqChats.clear();
  const Status status = decoders::DecodeQQ(qqChats, StoredPath(database->storedName));
  out = qqChats;
  return status;
}

Status BackupContext::CollectWeChat(ChatConversationMap& out) {
  const BackupFileEntry* database = FindEntryByFileName(fileMap, kWeChatFileName);
  if (!database) return kInvalidData;
  weChatChats.clear();
  const Status status = decoders::DecodeWeChat(weChatChats, StoredPath(database->storedName));
  out = weChatChats;
  return status;
}

Status BackupContext::ExportMessagesCsv(const fs::path& destination) {
  return decoders::WriteMessagesCsv(StoredPath(kMessagesStoredName), destination, messageRowId);
}

Status BackupContext::ExportContactsCsv(const fs::path& destination) {
  return decoders::WriteContactsCsv(StoredPath(kAddressBookStoredName), destination, contactRowId);
}

Status BackupContext::ExtractForPreview(const fs::path& source, fs::path& previewPath,
                                        ProgressCallback callback, void* userValue) {
  uint64_t counter = 0;
  const std::string extension = DetectedExtension(source, counter);
  if (extension.empty()) return kInvalidData;
  const std::string probe = "x." + extension;
  std::string_view copyName;
  if (IsImageName(probe)) {
    copyName = "tmp.jpg";
  } else if (IsAudioName(probe)) {
    copyName = "tmp.wav";
  } else if (IsVideoName(probe)) {
    copyName = "tmp.avi";
  } else {
    return kInvalidData;
  }
  fs::path root;
  if (const Status status = EnsureWorkingRoot(root); status != kOk) return status;
  const fs::path folder = PreviewFolder(root);
  if (const Status status = platform::MakePrivateFolder(folder); status != kOk) return status;
  previewFolder_ = folder;
  const fs::path copy = folder / copyName;
  const Status status = CopyFileWithProgress(source, copy, callback, userValue);
  if (status == kOk) previewPath = copy;
  return status;
}

}  // namespace corvyn::backup
