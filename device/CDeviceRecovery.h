// The recovery engine of a connected phone.
//
// Opening the source has the device helper write a full backup of the phone
// into a folder; the phone's databases (messages, contacts, call history,
// notes, WhatsApp, QQ, WeChat) and the message attachments are then read from
// that backup by the backup engine, whatever its format (Manifest.mbdb or
// Manifest.db, plain or encrypted). The pictures of the Camera Roll and the
// Photo Stream are walked on the phone itself ("/DCIM", "/PhotoStreamsData")
// and copied into the engine's work folder. WhatsApp media and the
// applications' files come from the phone's application containers on
// systems before 8.3, and from the backup on later ones (which no longer open
// containers to a computer).
//
// Progress: 1 when the opening begins, 1 to 19 while the helper backs up,
// then the backup engine's own scale from 20 to 100.
//
// On destruction the engine deletes its work folder, the backup engine's
// working files and the backup the helper wrote (only when it lies inside
// the backup root it was given).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/BackupContext.h"
#include "core/IPhoneRecoveryParse.h"
#include "core/Progress.h"
#include "device/IDeviceServices.h"

namespace corvyn::device {

// What a device scan is given (owned by the caller; outlives the engine).
struct DeviceSource {
  IDeviceServices* phone = nullptr;
  // Makes a full backup of the phone with the backup password (empty when
  // the phone does not encrypt its backups), reporting 0..100 through the
  // callback; `backupFolder` receives the folder that holds it (empty when
  // the helper named none). Normally the device helper (DeviceHelper.h).
  using BackupMaker = std::function<Status(const std::string& password, ProgressCallback callback,
                                           void* userValue, std::filesystem::path& backupFolder)>;
  BackupMaker makeBackup;
  // Where the helper writes its backups: a backup folder inside it is
  // deleted with the engine. Empty: the backup is never deleted.
  std::filesystem::path backupRoot;
  // Where the engine copies phone files and the backup engine keeps its
  // working files; empty: the run's working root (backup/WorkingRoot.h).
  std::filesystem::path workingRoot;
  // The decryption program for encrypted backups of the old layout; empty:
  // "tool" beside the program.
  std::filesystem::path decryptionProgram;
};

// True when `version` ("8.2", "10.0", "17.4.1") is before `than` comparing
// its dot-separated numbers as numbers (a missing number counts as 0; text
// after a number's digits is ignored). An empty version is before any.
bool VersionBefore(std::string_view version, std::string_view than);

// The first system version whose applications' files come from the backup.
inline constexpr std::string_view kBackupOnlyAppsVersion = "8.3";
inline constexpr std::string_view kWhatsAppBundle = "net.whatsapp.WhatsApp";
// The name of the engine's work folder under the working root.
inline constexpr std::string_view kDeviceWorkFolder = "CorvynDevice";

class CDeviceRecovery final : public IPhoneRecoveryParse {
 public:
  CDeviceRecovery() = default;
  ~CDeviceRecovery() override;
  CDeviceRecovery(const CDeviceRecovery&) = delete;
  CDeviceRecovery& operator=(const CDeviceRecovery&) = delete;

  Status Attach(void* sourceContext) override;  // a DeviceSource*
  Status SetProgressCallback(ProgressCallback callback, void* userValue) override;
  Status Reserved(void*) override { return kOk; }
  bool IsBackupSource() const override { return false; }
  Status OpenSource(const std::string& password) override;
  Status CollectMessages(ConversationMap& conversations) override;
  Status CollectMessageAttachments(std::vector<AttachmentRecord>& attachments) override;
  Status CollectContacts(std::vector<ContactRecord>& contacts) override;
  Status CollectNotes(std::vector<NoteRecord>& notes) override;
  Status CollectCallHistory(std::vector<CallRecord>& calls) override;
  Status CollectPhotos(std::vector<MediaFileRecord>& cameraRoll,
                       std::vector<MediaFileRecord>& photoStream) override;
  Status CollectWhatsAppAttachments(std::vector<MediaFileRecord>& attachments) override;
  Status CollectAppFiles(std::vector<AppFileRecord>& files) override;
  Status CollectQQ(ChatConversationMap& chats) override;
  Status CollectWeChat(ChatConversationMap& chats) override;
  Status CollectWhatsApp(WhatsAppChatMap& chats) override;
  Status ExtractForPreview(const std::filesystem::path& source, std::filesystem::path& previewPath,
                           ProgressCallback callback, void* userValue) override;
  Status CopyFileWithProgress(const std::filesystem::path& source, const std::filesystem::path& destination,
                              ProgressCallback callback, void* userValue) override;
  Status ExportMessagesCsv(const std::filesystem::path& destination) override;
  Status ExportContactsCsv(const std::filesystem::path& destination) override;
  Status ExportWhatsAppText(int32_t chatKey, const std::filesystem::path& destination,
                            ProgressCallback callback, void* userValue) override;
  Status ExportQQText(const std::string& account, const std::string& friendKey,
                      const std::filesystem::path& destination, ProgressCallback callback,
                      void* userValue) override;
  Status ExportWeChatText(const std::string& account, const std::string& friendKey,
                          const std::filesystem::path& destination, ProgressCallback callback,
                          void* userValue) override;

  // Read after OpenSource: the phone's system version, whether its file
  // service had full access, and the backup the helper wrote.
  const std::string& ProductVersion() const { return productVersion_; }
  bool RootAccess() const { return rootAccess_; }
  const std::filesystem::path& BackupFolder() const { return backupFolder_; }
  // Rows of the backup's file list that could not be taken (see BackupContext).
  const std::vector<std::string>& FileListWarnings() const { return backup_.fileListWarnings; }

 private:
  // One phone file the walks took: copied into the work folder.
  struct TakenFile {
    std::string name;  // shown name: device name without extension + detected one in upper case
    std::filesystem::path local;
    uint64_t size = 0;
  };

  bool WalksContainers() const { return VersionBefore(productVersion_, kBackupOnlyAppsVersion); }
  // kOk when the helper wrote a backup that the backup engine opened; words otherwise.
  Status NeedBackup() const;
  // The files under `start`, folders breadth-first, each folder's files in
  // the order the phone lists them.
  std::vector<std::string> ListFiles(const std::string& start);
  // Sniffs a phone file's first bytes; a media file is copied into the work
  // folder under the SHA-1 of its phone path. False when it is none, cannot
  // be read or is empty.
  bool TakeMediaFile(const std::string& devicePath, TakenFile& taken);
  // Copies the phone file into the work folder (the SHA-1 of its path).
  bool CopyIntoWorkFolder(const std::string& devicePath, std::filesystem::path& local, uint64_t& size);
  // Walks `start` and appends its media files, sorted by name.
  Status WalkMedia(const std::string& start, std::vector<MediaFileRecord>& out, const ProgressShare& share);
  static int ForwardHelperProgress(void* self, int percent);
  static int ForwardBackupProgress(void* self, int percent);

  DeviceSource* source_ = nullptr;
  ProgressShare progress_;
  backup::BackupContext backup_;
  bool backupOpen_ = false;
  Status openStatus_;
  std::filesystem::path workFolder_;
  std::filesystem::path backupFolder_;
  std::string productVersion_;
  bool rootAccess_ = false;
  std::vector<std::filesystem::path> qqDatabases_;
  std::vector<std::filesystem::path> weChatDatabases_;
};

// Registers the device engine with the core's engine factory (source kind 0).
void RegisterDeviceEngine();

}  // namespace corvyn::device
