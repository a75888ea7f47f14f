#include "backup/BackupContext.h"

#include <system_error>

#include "backup/DecryptionRunner.h"
#include "backup/FileCopy.h"
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
  return backupFolder / storedName;
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

Status BackupContext::OpenSource(const std::string& password) {
  progress.base = 0;
  progress.step = kOpenStep;
  if (const int answer = progress.Report(0); answer != 0) return answer;
  conversations.clear();
  qqChats.clear();
  weChatChats.clear();
  whatsAppChats.clear();
  whatsAppAttachments.clear();
  folderListing = {};
  backupList = {};
  fileMap.clear();

  Status status = kOk;
  if (descriptor.encrypted) {
    progress.step = kEncryptedOpenStep;
    const fs::path encryptedFolder = backupFolder;
    ListFolder(encryptedFolder, folderListing);
    fs::path copyFolder;
    status = DecryptBackup(password, encryptedFolder, copyFolder);
    if (status != kOk) return status;
    ListFolder(copyFolder, folderListing);
    // The manifest is never encrypted; its stored names are those of the copy.
    std::error_code error;
    if (fs::exists(encryptedFolder / kManifestName, error)) {
      status = ReadBackupFileMap(encryptedFolder / kManifestName, fileMap);
    } else {
      status = kInvalidData;
    }
    backupFolder = copyFolder;
    descriptor.folder = copyFolder;
  } else {
    progress.base = 1;
    if (const int answer = progress.Report(1); answer != 0) return answer;
    std::error_code error;
    if (fs::exists(backupFolder / kManifestName, error)) {
      status = ReadBackupFileMap(backupFolder / kManifestName, fileMap);
    } else {
      status = kInvalidData;
    }
  }
  progress.base += progress.step;
  if (const int answer = progress.Report(progress.base); answer != 0) return answer;
  return status;
}

Status BackupContext::CollectMessages(ConversationMap& out) {
  decoders::DecoderProgress share{progress.callback, progress.userValue, progress.base, progress.step / 2};
  conversations.clear();
  const Status status = decoders::DecodeMessages(conversations, StoredPath(kMessagesStoredName),
                                                 StoredPath(kAddressBookStoredName), share, messageRowId);
  if (status == kStopped) return status;
  out = conversations;
  progress.base += progress.step / 2;
  if (const int answer = progress.Report(progress.base); answer != 0) return answer;
  return status;
}

Status BackupContext::CollectContacts(std::vector<ContactRecord>& contacts) {
  const Status status = decoders::DecodeContacts(contacts, StoredPath(kAddressBookStoredName), contactRowId);
  progress.base += progress.step / 2;
  if (const int answer = progress.Report(progress.base); answer != 0) return answer;
  return status;
}

Status BackupContext::CollectCallHistory(std::vector<CallRecord>& calls) {
  std::error_code error;
  fs::path database = StoredPath(kCallHistoryStoredName);
  if (!fs::exists(database, error)) database = StoredPath(kOlderCallHistoryStoredName);
  const Status status = decoders::DecodeCallHistory(calls, database, StoredPath(kAddressBookStoredName));
  progress.base += progress.step / 2;
  if (const int answer = progress.Report(progress.base); answer != 0) return answer;
  return status;
}

Status BackupContext::CollectNotes(std::vector<NoteRecord>& notes) {
  const Status status = decoders::DecodeNotes(notes, StoredPath(kNotesStoredName));
  progress.base += progress.step / 2;
  if (const int answer = progress.Report(progress.base); answer != 0) return answer;
  return status;
}

Status BackupContext::CollectWhatsApp(WhatsAppChatMap& out) {
  const BackupFileEntry* chats = FindEntryByKey(fileMap, kWhatsAppChatsKeys);
  whatsAppChats.clear();
  const Status status =
      chats ? decoders::DecodeWhatsApp(whatsAppChats, StoredPath(chats->storedName)) : Status{kInvalidData};
  out = whatsAppChats;
  progress.base += progress.step;
  if (const int answer = progress.Report(progress.base); answer != 0) return answer;
  return status;
}

Status BackupContext::CollectWhatsAppAttachments(std::vector<MediaFileRecord>& attachments) {
  attachments.insert(attachments.end(), whatsAppAttachments.begin(), whatsAppAttachments.end());
  progress.base += progress.step;
  return progress.Report(progress.base);
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
