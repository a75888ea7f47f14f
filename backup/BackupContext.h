// The state and the work of the backup engine: the backup being read, its
// file map, the engine-side maps, and every operation the engine forwards.
//
// One context serves every backup scan of a scan page (or of corvyn-cli);
// OpenSource empties the engine-side lists and maps, so nothing of an earlier
// scan survives except the working root. Not thread-safe: the scan worker
// uses it, then export, never both at once.
//
// Paths: a mapped file lives at backupFolder / storedName (Manifest.mbdb
// backups) or backupFolder / its first two digits / storedName (Manifest.db
// backups), where the stored name is always 40 hex digits (BackupFileMap.h),
// so no key of a manifest can point outside the backup folder. Stored files that are not regular files
// (links, folders) are skipped like missing ones. Names and application names
// taken from keys are cleaned so that an export never takes them for
// folders (see SafeFileName).
//
// Encrypted backups: one of the old layout is decrypted whole by the
// decryption program into a copy, which is then read like a plain backup.
// One of the newer layout (iOS 10.2 and later) is never decrypted whole: the
// password unlocks its keys once (EncryptedStore.h), then Manifest.db and
// each database the scan opens are decrypted into the working root, media
// are typed and sized from their first and last blocks, and a media file is
// decrypted whole only into a preview copy or an export.
//
// A database whose write-ahead log ("-wal") or rollback journal
// ("-journal") the backup holds is read from a working copy with them beside
// it (the page reader finds both by the database's name), whatever the kind
// of backup.
//
// Working files: the decrypted copy of an encrypted backup, the database
// copies and the preview copies live in the working root (WorkingRoot.h). The context deletes those
// it made when a new backup is selected, when DiscardWorkingFiles is called
// (the engine does so when it is released) and when it is destroyed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "backup/BackupDiscovery.h"
#include "backup/BackupFileMap.h"
#include "core/IPhoneRecoveryParse.h"
#include "core/Progress.h"
#include "core/Records.h"
#include "platform/Status.h"

namespace corvyn::platform {
class IProcessLauncher;
}

namespace corvyn::backup {

class EncryptedStore;

// Stored names of the databases the engine opens directly.
inline constexpr std::string_view kMessagesStoredName = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
inline constexpr std::string_view kCallHistoryStoredName = "5a4935c78a5255723f707230a451d79c540d2741";
// Calls the phone has not yet moved into CallHistory.storedata.
inline constexpr std::string_view kCallHistoryTempKey =
    "HomeDomain-Library/CallHistoryDB/CallHistoryTemp.storedata";
inline constexpr std::string_view kOlderCallHistoryStoredName = "2b2b0084a1bc3a5ac8c27afdf14afb42c61a19ca";
inline constexpr std::string_view kNotesStoredName = "ca3bc056d4da0bbf88b5fb3be254f3b7147e639c";
// AppDomainGroup-group.com.apple.notes-NoteStore.sqlite: the Notes store of iOS 9 and later.
inline constexpr std::string_view kNoteStoreStoredName = "4f98687d8ab0d6d1a371110e6b7300f6e465bef2";
inline constexpr std::string_view kManifestName = "Manifest.mbdb";
// The file list of backups made by iOS 10 and later.
inline constexpr std::string_view kNewerManifestName = "Manifest.db";

// Key texts the engine matches by substring.
inline constexpr std::string_view kCameraRollDomain = "CameraRollDomain-Media/DCIM/";
inline constexpr std::string_view kPhotoStreamDomain = "MediaDomain-Media/PhotoStreamsData/";
inline constexpr std::string_view kAttachmentsText = "/Attachments/";
inline constexpr std::string_view kAppDomain = "AppDomain-";
inline constexpr std::string_view kWhatsAppDomainText = "net.whatsapp.WhatsApp";
// Media of WhatsApp's newer versions: the shared group container's "Message/"
// folder (the paths its database stores are relative to it).
inline constexpr std::string_view kWhatsAppSharedMessagesKey =
    "AppDomainGroup-group.net.whatsapp.WhatsApp.shared-Message/";

// Keys of WhatsApp's chat database (domain "-" relative path), matched
// exactly so that its "-wal", "-shm" and "-journal" companions never stand in
// for it: the application's own folder, then the shared group folder.
inline constexpr std::string_view kWhatsAppChatsKeys[] = {
    "AppDomain-net.whatsapp.WhatsApp-Documents/ChatStorage.sqlite",
    "AppDomainGroup-group.net.whatsapp.WhatsApp.shared-ChatStorage.sqlite",
};
// QQ and WeChat keep one database per account, in a folder named after the
// account: matched by the key's exact last component.
inline constexpr std::string_view kQQFileName = "QQ.db";
inline constexpr std::string_view kWeChatFileName = "MM.sqlite";

inline constexpr int kOpenStep = 11;
inline constexpr int kEncryptedOpenStep = 10;
// The part of the opening an encrypted backup of the newer layout spends on
// its password check (the rest reads its file list).
inline constexpr int kPasswordCheckStep = kOpenStep - 2;

class BackupContext {
 public:
  BackupContext() = default;
  ~BackupContext();
  // Owns working files on disk: never copied.
  BackupContext(const BackupContext&) = delete;
  BackupContext& operator=(const BackupContext&) = delete;

  // The backup to read: the descriptor of the chosen backup (its folder and
  // encrypted flag). After a decryption both folder fields name the copy.
  std::filesystem::path backupFolder;
  BackupDescriptor descriptor;

  // Where preview copies and decrypted copies go; chosen on first use when
  // empty (WorkingRoot()).
  std::filesystem::path workingRoot;
  // The decryption program; empty means "tool" beside the running program.
  std::filesystem::path decryptionProgram;
  // Starts the decryption program; null means the process-wide launcher.
  platform::IProcessLauncher* launcher = nullptr;

  FolderListing backupList;     // listing of the backup root (discovery)
  FolderListing folderListing;  // listing of the folder being decrypted
  BackupFileMap fileMap;
  // What OpenSource could not take from the file list, in words: rows
  // refused as unsafe or malformed, file attributes that do not read, a list
  // damaged part-way. The scan goes on with the rest.
  std::vector<std::string> fileListWarnings;
  // How the stored files of the backup lie; set by OpenSource from the file
  // list it reads.
  StoredLayout storedLayout = StoredLayout::kFlat;
  ProgressShare progress;

  int64_t messageRowId = 0;  // highest message rowid (messages CSV numbering)
  int64_t contactRowId = 0;  // highest contact rowid (contacts CSV numbering)
  ConversationMap conversations;
  ChatConversationMap qqChats;
  ChatConversationMap weChatChats;
  WhatsAppChatMap whatsAppChats;
  std::vector<MediaFileRecord> whatsAppAttachments;

  // Sets the backup to read from a descriptor; the working files of the
  // backup read before are deleted.
  void Select(const BackupDescriptor& chosen);

  // Deletes the decrypted copy and the preview copies this context made.
  void DiscardWorkingFiles();

  Status OpenSource(const std::string& password);
  Status CollectPhotos(std::vector<MediaFileRecord>& cameraRoll, std::vector<MediaFileRecord>& photoStream);
  Status CollectMessages(ConversationMap& out);
  Status CollectMessageAttachments(std::vector<AttachmentRecord>& attachments);
  Status CollectContacts(std::vector<ContactRecord>& contacts);
  Status CollectCallHistory(std::vector<CallRecord>& calls);
  Status CollectNotes(std::vector<NoteRecord>& notes);
  Status CollectAppFiles(std::vector<AppFileRecord>& files);
  Status CollectWhatsApp(WhatsAppChatMap& out);
  Status CollectWhatsAppAttachments(std::vector<MediaFileRecord>& attachments);
  Status CollectQQ(ChatConversationMap& out);
  Status CollectWeChat(ChatConversationMap& out);
  Status ExportMessagesCsv(const std::filesystem::path& destination);
  Status ExportContactsCsv(const std::filesystem::path& destination);

  // Copies an image, audio or video file to "tmp.jpg", "tmp.wav" or
  // "tmp.avi" in the working root's preview folder (PreviewFolder);
  // previewPath receives the copy. Returns kInvalidData (and makes no copy)
  // for any other type or without a working root, and the refusal of
  // MakePrivateFolder when the folder is not ours alone.
  Status ExtractForPreview(const std::filesystem::path& source, std::filesystem::path& previewPath,
                           ProgressCallback callback, void* userValue);

  // Runs the decryption program on the encrypted folder into the working
  // root's copy folder; copyFolder receives it. See DecryptionRunner.h.
  // Returns kInvalidData without a working root, and the refusal of
  // MakePrivateFolder when the working root is not ours alone.
  Status DecryptBackup(const std::string& password, const std::filesystem::path& encryptedFolder,
                       std::filesystem::path& copyFolder);

  // The path of a stored file in the backup folder (in storedLayout).
  std::filesystem::path StoredPath(std::string_view storedName) const;

  // True while the backup read is an encrypted one of the newer layout,
  // whose stored files are decrypted as they are read.
  bool DecryptsOnRead() const { return encryptedStore_ != nullptr; }

  // The file a decoder opens for the stored database `storedName`: the
  // stored file itself when the backup is plain and holds no write-ahead log
  // ("-wal" file) or rollback journal ("-journal") for it; otherwise a copy
  // in the working root (decrypted when decrypting on read; made once per
  // opening) with its log and journal beside it under the same name plus
  // "-wal" and "-journal". Returns kInvalidData in words when the
  // backup does not hold the database, or the error of its copy.
  Status DatabasePath(std::string_view storedName, std::filesystem::path& path);

  // Copies a file named by a record of this scan to `destination` (see
  // backup/FileCopy.h): a stored file of a backup decrypted on read is
  // decrypted into it, any other file copied as it is.
  Status CopyFileWithProgress(const std::filesystem::path& source, const std::filesystem::path& destination,
                              ProgressCallback callback, void* userValue);

 private:
  // The working root, made private (see WorkingRoot.h); root receives it.
  Status EnsureWorkingRoot(std::filesystem::path& root);
  // The end of a category operation: moves the progress base on by `step`,
  // reports it, and returns the progress answer when it asks to stop, else
  // the operation's own result.
  Status EndStep(Status result, int step);
  // kOk when the stored database exists, else a status that says, in words,
  // that the backup does not hold it.
  Status CheckDatabasePresent(const std::filesystem::path& database) const;
  // Unlocks an encrypted backup of the newer layout and reads its file list.
  Status OpenDecryptingOnRead(const std::string& password);
  // A stored file a media collection looks at: false when it is missing, is
  // no regular file or (decrypting on read) cannot be decrypted, the reason
  // then joining fileListWarnings. Otherwise `size` is its plain size and
  // `extension` its detected media type ("" when its first bytes are none).
  bool ExamineStoredFile(const BackupFileEntry& entry, const std::filesystem::path& path, uint64_t& size,
                         std::string& extension, uint64_t& counter);
  // The detected media type of a file named by a record ("" when unknown).
  std::string RecordFileType(const std::filesystem::path& source, uint64_t& counter) const;
  // The entry of a stored file of the backup decrypted on read; null for any
  // other path.
  const BackupFileEntry* EntryOfStoredPath(const std::filesystem::path& path) const;
  // The map entry of a stored name; null when the file list has none.
  const BackupFileEntry* EntryOfStoredName(std::string_view storedName) const;
  // The map entry of a key (domain "-" relative path); null when none.
  const BackupFileEntry* EntryOfKey(std::string_view key) const;
  // ExamineStoredFile once per stored file and opening: the media
  // collections and the naming of message attachments share the result.
  bool ExamineStoredFileOnce(const BackupFileEntry& entry, const std::filesystem::path& path, uint64_t& size,
                             std::string& extension, uint64_t& counter);
  // The name the file of `key` carries in the Message Attachments or
  // WhatsApp Attachments list; empty when the backup does not list it there
  // (no such file, empty, or of no recognised type).
  std::string ListedMediaName(std::string_view key, uint64_t& counter);
  // Gives each message with an attachment the name its file carries in the
  // Message Attachments list, or the device path's last component when the
  // backup does not hold the file.
  void NameMessageAttachments(ConversationMap& conversations);
  // Names the media of WhatsApp messages sent without words as the WhatsApp
  // Attachments list names their files (kept when the file is not there).
  void NameWhatsAppMedia(WhatsAppChatMap& chats);
  void AddFileWarning(std::string warning);
  // The address book for names in messages and calls: its DatabasePath, or
  // its stored path (which then may not exist) when it cannot be had.
  std::filesystem::path AddressBookPath();

  std::filesystem::path decryptedCopy_;  // made by DecryptBackup or OpenSource; empty when none
  std::filesystem::path previewFolder_;  // made by ExtractForPreview; empty when none
  std::shared_ptr<const EncryptedStore> encryptedStore_;            // decrypting on read: the unlocked keys
  std::unordered_map<std::string, std::size_t> entryOfStoredName_;  // map index of each stored name
  std::unordered_map<std::string, std::size_t> entryOfKey_;         // map index of each key, the first one
  struct ExaminedFile {
    bool found = false;
    uint64_t size = 0;
    std::string extension;
  };
  std::unordered_map<std::string, ExaminedFile> examined_;            // by stored name
  std::unordered_map<std::string, std::filesystem::path> databases_;  // decrypted databases, by stored name
  std::size_t fileWarningsLeftOut_ = 0;
};

// kOk when the folder holds a file list this engine reads (Manifest.mbdb or
// Manifest.db); otherwise a status that says in words what is missing.
Status CheckManifestPresent(const std::filesystem::path& folder);

// The first entry of the map whose key is one of `keys`; null when none.
const BackupFileEntry* FindEntryByKey(const BackupFileMap& map, std::span<const std::string_view> keys);

// The first entry whose key ends with "/" and then exactly `fileName`; null
// when none.
const BackupFileEntry* FindEntryByFileName(const BackupFileMap& map, std::string_view fileName);

// A device file name made safe to be one file name on this machine: "/",
// "\" and control characters become "_", and "", "." and ".." become "_".
std::string SafeFileName(std::string_view name);

// The key's last "/" component (the whole key without one).
std::string_view LastComponent(std::string_view key);

// The application name of an application-domain key: the text after "com."
// (or, failing that, "net.") up to the next "-"; "other" without either.
std::string AppNameOf(std::string_view key);

}  // namespace corvyn::backup
