#include "backup/BackupContext.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <system_error>
#include <tuple>

#include "backup/DecryptionRunner.h"
#include "backup/EncryptedStore.h"
#include "backup/FileCopy.h"
#include "backup/ManifestDbReader.h"
#include "backup/MediaProbe.h"
#include "backup/WorkingRoot.h"
#include "core/DerivedData.h"
#include "core/FileType.h"
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
  databases_.clear();
}

void BackupContext::Select(const BackupDescriptor& chosen) {
  DiscardWorkingFiles();
  encryptedStore_.reset();
  entryOfStoredName_.clear();
  entryOfKey_.clear();
  examined_.clear();
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
  fileWarningsLeftOut_ = 0;
  encryptedStore_.reset();
  entryOfStoredName_.clear();
  entryOfKey_.clear();
  examined_.clear();
  databases_.clear();

  storedLayout = StoredLayout::kFlat;

  Status status = CheckManifestPresent(backupFolder);
  if (status != kOk) return status;
  if (IsNewerLayout(backupFolder)) {
    storedLayout = StoredLayout::kPrefixFolders;
    if (descriptor.encrypted) {
      status = OpenDecryptingOnRead(password);
    } else {
      progress.base = 1;
      if (Status answer = progress.Report(1); answer != kOk) return answer;
      status = ReadNewerFileMap(backupFolder, fileMap, fileListWarnings);
    }
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
  for (std::size_t index = 0; index < fileMap.size(); ++index) {
    entryOfStoredName_.emplace(fileMap[index].storedName, index);
    entryOfKey_.emplace(fileMap[index].key, index);
  }
  return EndStep(status, progress.span);
}

Status BackupContext::OpenDecryptingOnRead(const std::string& password) {
  // The password check takes most of the opening (seconds on today's
  // backups); the file list is then decrypted and read.
  constexpr int kCheckShare = kPasswordCheckStep;
  std::unique_ptr<EncryptedStore> store;
  Status status = EncryptedStore::Unlock(
      backupFolder, password,
      [this](double partDone) { return progress.Report(static_cast<int>(partDone * kCheckShare)); }, store);
  if (status != kOk) return status;
  progress.base = kCheckShare;
  if (Status answer = progress.Report(progress.base); answer != kOk) return answer;

  fs::path root;
  if (status = EnsureWorkingRoot(root); status != kOk) return status;
  const fs::path folder = DecryptedCopyFolder(root);
  std::error_code error;
  fs::remove_all(folder, error);  // nothing of an earlier backup is read as this one's
  if (status = platform::MakePrivateFolder(folder); status != kOk) return status;
  decryptedCopy_ = folder;
  const fs::path fileList = folder / kNewerManifestName;
  if (status = store->DecryptFileList(fileList); status != kOk) return status;
  status = ReadNewerFileMap(folder, fileMap, fileListWarnings);
  fs::remove(fileList, error);  // read into memory: no need to keep the names on disk
  if (status != kOk) return status;

  if (std::string note = store->UnsupportedClassesNote(); !note.empty()) AddFileWarning(std::move(note));
  encryptedStore_ = std::move(store);
  return kOk;
}

void BackupContext::AddFileWarning(std::string warning) {
  if (fileListWarnings.size() < kManifestDbWarningLimit) {
    fileListWarnings.push_back(std::move(warning));
    return;
  }
  // One last line counts what no longer fits.
  std::string more = std::to_string(++fileWarningsLeftOut_) + " more files could not be read";
  if (fileWarningsLeftOut_ == 1) {
    fileListWarnings.push_back(std::move(more));
  } else {
    fileListWarnings.back() = std::move(more);
  }
}

const BackupFileEntry* BackupContext::EntryOfStoredName(std::string_view storedName) const {
  const auto found = entryOfStoredName_.find(std::string(storedName));
  return found == entryOfStoredName_.end() ? nullptr : &fileMap[found->second];
}

const BackupFileEntry* BackupContext::EntryOfKey(std::string_view key) const {
  const auto found = entryOfKey_.find(std::string(key));
  return found == entryOfKey_.end() ? nullptr : &fileMap[found->second];
}

Status BackupContext::DatabasePath(std::string_view storedName, fs::path& path) {
  if (const auto known = databases_.find(std::string(storedName)); known != databases_.end()) {
    path = known->second;
    return kOk;
  }
  const fs::path stored = StoredPath(storedName);
  const BackupFileEntry* entry = EntryOfStoredName(storedName);
  // The write-ahead log holds the latest changes, which are not yet in the
  // database itself; it is a file of its own in the backup. So is a rollback
  // journal, whose old page images the reader carves.
  const auto companionOf = [&](const char* suffix) -> const BackupFileEntry* {
    if (!entry) return nullptr;
    const std::string key = entry->key + suffix;
    for (const BackupFileEntry& companion : fileMap) {
      if (companion.key == key && CheckDatabasePresent(StoredPath(companion.storedName)) == kOk)
        return &companion;
    }
    return nullptr;
  };
  const BackupFileEntry* wal = companionOf("-wal");
  const BackupFileEntry* journal = companionOf("-journal");
  // A plain database without a log or journal is read where it lies.
  if (!DecryptsOnRead() && wal == nullptr && journal == nullptr) {
    path = stored;
    return CheckDatabasePresent(stored);
  }
  if (Status status = CheckDatabasePresent(entry ? stored : fs::path()); status != kOk) return status;

  // Otherwise the database goes into the working root, decrypted or copied,
  // with its log beside it under the same name plus "-wal".
  fs::path root;
  if (Status status = EnsureWorkingRoot(root); status != kOk) return status;
  const fs::path copies = DecryptedCopyFolder(root);
  const fs::path folder = copies / "databases";
  if (Status status = platform::MakePrivateFolder(copies); status != kOk) return status;
  if (Status status = platform::MakePrivateFolder(folder); status != kOk) return status;
  decryptedCopy_ = copies;
  const fs::path copy = folder / std::string(storedName);
  fs::path walCopy = copy;
  walCopy += "-wal";
  fs::path journalCopy = copy;
  journalCopy += "-journal";
  std::error_code error;
  fs::remove(walCopy, error);  // never a log of another database
  fs::remove(journalCopy, error);
  const auto bring = [this](const BackupFileEntry& file, const fs::path& to) {
    return DecryptsOnRead() ? encryptedStore_->DecryptFile(file, StoredPath(file.storedName), to)
                            : backup::CopyFileWithProgress(StoredPath(file.storedName), to, nullptr, nullptr);
  };
  if (Status status = bring(*entry, copy); status != kOk) return status;
  if (wal != nullptr) {
    if (Status status = bring(*wal, walCopy); status != kOk) AddFileWarning(status.Message());
  }
  if (journal != nullptr) {
    if (Status status = bring(*journal, journalCopy); status != kOk) AddFileWarning(status.Message());
  }
  databases_.emplace(std::string(storedName), copy);
  path = copy;
  return kOk;
}

const BackupFileEntry* BackupContext::EntryOfStoredPath(const fs::path& path) const {
  if (!DecryptsOnRead()) return nullptr;
  const std::string name = path.filename().string();
  if (!IsStoredName(name) || path != StoredPath(name)) return nullptr;
  return EntryOfStoredName(name);
}

bool BackupContext::ExamineStoredFile(const BackupFileEntry& entry, const fs::path& path, uint64_t& size,
                                      std::string& extension, uint64_t& counter) {
  size = 0;
  extension.clear();
  // Only a regular file counts as a stored file: a link in a hostile backup
  // could otherwise make the engine read (and export copy) any file.
  std::error_code error;
  if (!fs::is_regular_file(fs::symlink_status(path, error))) return false;
  if (!DecryptsOnRead()) {
    size = fs::file_size(path, error);
    if (error) return false;
    extension = DetectedExtension(path, counter);
    return true;
  }
  // The recorded size stands when the stored length is exactly what the
  // cipher's padding makes of it (one to sixteen bytes more, to a whole
  // block); otherwise the padding of the last block decides.
  const uint64_t storedLength = fs::file_size(path, error);
  if (error) return false;
  const bool recordedFits = entry.hasAttributes && storedLength % 16 == 0 && entry.size < storedLength &&
                            entry.size + 16 >= storedLength;
  EncryptedStore::Probe probe;
  if (Status status = encryptedStore_->ProbeFile(entry, path, kSniffLength, probe, !recordedFits);
      status != kOk) {
    AddFileWarning(status.Message());
    return false;
  }
  size = recordedFits ? entry.size : probe.plainLength;
  std::string name;
  if (!probe.head.empty()) (void)DetectBufferType(probe.head, name, counter);  // always kOk
  if (const auto dot = name.find('.'); dot != std::string::npos) extension = name.substr(dot + 1);
  return true;
}

// Previews run beside a scan: nothing here changes the context.
std::string BackupContext::RecordFileType(const fs::path& source, uint64_t& counter) const {
  const BackupFileEntry* entry = EntryOfStoredPath(source);
  const std::shared_ptr<const EncryptedStore> store = encryptedStore_;
  if (!entry || !store) return DetectedExtension(source, counter);
  EncryptedStore::Probe probe;
  std::string name;
  if (store->ProbeFile(*entry, source, kSniffLength, probe) == kOk && !probe.head.empty())
    (void)DetectBufferType(probe.head, name, counter);  // always kOk
  const auto dot = name.find('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

Status BackupContext::CopyFileWithProgress(const fs::path& source, const fs::path& destination,
                                           ProgressCallback callback, void* userValue) {
  const BackupFileEntry* entry = EntryOfStoredPath(source);
  const std::shared_ptr<const EncryptedStore> store = encryptedStore_;
  if (!entry || !store) return backup::CopyFileWithProgress(source, destination, callback, userValue);
  if (destination.empty()) return kInvalidData;
  if (callback) {
    if (Status answer = Status::FromProgressAnswer(callback(userValue, 0)); answer != kOk) return answer;
  }
  std::error_code error;
  if (destination.has_parent_path()) fs::create_directories(destination.parent_path(), error);
  if (error) return Status::System(error, "making the folder of " + destination.string());
  if (Status status = store->DecryptFile(*entry, source, destination); status != kOk) return status;
  if (callback) {
    if (Status answer = Status::FromProgressAnswer(callback(userValue, 100)); answer != kOk) {
      fs::remove(destination, error);
      return answer;
    }
  }
  return kOk;
}

Status BackupContext::CollectMessages(ConversationMap& out) {
  conversations.clear();
  fs::path database;
  Status status = DatabasePath(kMessagesStoredName, database);
  if (status == kOk) {
    status = decoders::DecodeMessages(conversations, database, AddressBookPath(),
                                      progress.Part(progress.span / 2), messageRowId);
  }
  if (status == kStopped) return status;
  NameMessageAttachments(conversations);
  // Handed over, not copied: a heavy user has hundreds of thousands.
  out = std::move(conversations);
  conversations.clear();
  return EndStep(status, progress.span / 2);
}

Status BackupContext::CollectContacts(std::vector<ContactRecord>& contacts) {
  fs::path database;
  Status status = DatabasePath(kAddressBookStoredName, database);
  if (status == kOk) status = decoders::DecodeContacts(contacts, database, contactRowId);
  return EndStep(status, progress.span / 2);
}

Status BackupContext::CollectCallHistory(std::vector<CallRecord>& calls) {
  std::error_code error;
  const std::string_view storedName = fs::exists(StoredPath(kCallHistoryStoredName), error)
                                          ? kCallHistoryStoredName
                                          : kOlderCallHistoryStoredName;
  fs::path database;
  std::vector<CallRecord> found;
  Status status = DatabasePath(storedName, database);
  if (status == kOk) status = decoders::DecodeCallHistory(found, database, AddressBookPath());
  // Calls still waiting in CallHistoryTemp.storedata join them; a call both
  // files hold is listed once.
  if (const BackupFileEntry* temp = EntryOfKey(kCallHistoryTempKey); temp != nullptr && status != kStopped) {
    fs::path tempDatabase;
    std::vector<CallRecord> pending;
    Status read = DatabasePath(temp->storedName, tempDatabase);
    if (read == kOk) read = decoders::DecodeCallHistory(pending, tempDatabase, AddressBookPath());
    if (read != kOk) AddFileWarning("CallHistoryTemp.storedata: " + read.Message());
    using CallKey = std::tuple<std::string, std::string, int32_t, int32_t>;
    const auto key = [](const CallRecord& c) { return CallKey{c.date, c.number, c.duration, c.incoming}; };
    std::set<CallKey> held;
    for (const CallRecord& call : found) held.insert(key(call));
    for (CallRecord& call : pending) {
      if (held.insert(key(call)).second) found.push_back(std::move(call));
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const CallRecord& a, const CallRecord& b) { return a.date < b.date; });
    // The main file missing but the waiting calls read: the category holds them.
    if (status != kOk && read == kOk && !fs::exists(StoredPath(storedName), error)) status = kOk;
  }
  calls.insert(calls.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
  return EndStep(status, progress.span / 2);
}

Status BackupContext::CollectNotes(std::vector<NoteRecord>& notes) {
  // A backup holds the older notes database, the Notes store of iOS 9 and
  // later, or both; without either the older one's absence is reported.
  std::error_code error;
  const bool hasStore = fs::exists(StoredPath(kNoteStoreStoredName), error);
  Status status = kOk;
  for (const std::string_view storedName : {kNotesStoredName, kNoteStoreStoredName}) {
    if (storedName == kNoteStoreStoredName ? !hasStore
                                           : hasStore && !fs::exists(StoredPath(storedName), error))
      continue;
    fs::path database;
    Status read = DatabasePath(storedName, database);
    if (read == kOk) read = decoders::DecodeNotes(notes, database);
    if (status == kOk) status = read;
  }
  return EndStep(status, progress.span / 2);
}

Status BackupContext::CollectWhatsApp(WhatsAppChatMap& out) {
  const BackupFileEntry* chats = FindEntryByKey(fileMap, kWhatsAppChatsKeys);
  whatsAppChats.clear();
  fs::path database;
  Status status = chats ? DatabasePath(chats->storedName, database)
                        : Status(kInvalidData, "the backup holds no WhatsApp database");
  if (status == kOk) status = decoders::DecodeWhatsApp(whatsAppChats, database);
  NameWhatsAppMedia(whatsAppChats);
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
  fs::path path;
  Status status = DatabasePath(database->storedName, path);
  if (status == kOk) status = decoders::DecodeQQ(qqChats, path);
  out = qqChats;
  return status;
}

Status BackupContext::CollectWeChat(ChatConversationMap& out) {
  const BackupFileEntry* database = FindEntryByFileName(fileMap, kWeChatFileName);
  if (!database) return kInvalidData;
  weChatChats.clear();
  fs::path path;
  Status status = DatabasePath(database->storedName, path);
  if (status == kOk) status = decoders::DecodeWeChat(weChatChats, path);
  out = weChatChats;
  return status;
}

Status BackupContext::ExportMessagesCsv(const fs::path& destination) {
  fs::path database;
  if (Status status = DatabasePath(kMessagesStoredName, database); status != kOk) return status;
  return decoders::WriteMessagesCsv(database, destination, messageRowId);
}

Status BackupContext::ExportContactsCsv(const fs::path& destination) {
  fs::path database;
  if (Status status = DatabasePath(kAddressBookStoredName, database); status != kOk) return status;
  return decoders::WriteContactsCsv(database, destination, contactRowId);
}

fs::path BackupContext::AddressBookPath() {
  // Without the address book, names stay numbers: the scan goes on.
  fs::path database;
  if (DatabasePath(kAddressBookStoredName, database) != kOk) return StoredPath(kAddressBookStoredName);
  return database;
}

Status BackupContext::ExtractForPreview(const fs::path& source, fs::path& previewPath,
                                        ProgressCallback callback, void* userValue) {
  uint64_t counter = 0;
  const std::string extension = RecordFileType(source, counter);
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
