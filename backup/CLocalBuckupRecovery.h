// The recovery engine of a backup folder: holds one reference to a
// BackupContext (owned by the caller, which must outlive the engine) and
// forwards every operation to it. Before Attach, or attached to nothing,
// every operation returns kInvalidData. Released, it deletes the working
// files (decrypted copy, preview copies) its context made for it.
#pragma once

#include "backup/BackupContext.h"
#include "core/IPhoneRecoveryParse.h"

namespace corvyn::backup {

class CLocalBuckupRecovery final : public IPhoneRecoveryParse {
 public:
  CLocalBuckupRecovery() = default;
  ~CLocalBuckupRecovery() override;
  CLocalBuckupRecovery(const CLocalBuckupRecovery&) = delete;
  CLocalBuckupRecovery& operator=(const CLocalBuckupRecovery&) = delete;

  Status Attach(void* sourceContext) override;  // a BackupContext*
  Status SetProgressCallback(ProgressCallback callback, void* userValue) override;
  Status Reserved(void* unused) override;
  bool IsBackupSource() const override { return true; }
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

 private:
  BackupContext* context_ = nullptr;
};

// Registers the backup engine with the core's engine factory (source kind 1).
void RegisterBackupEngine();

}  // namespace corvyn::backup
