#include "backup/CLocalBuckupRecovery.h"

#include <memory>

#include "backup/FileCopy.h"
#include "core/EngineFactory.h"

namespace corvyn::backup {

CLocalBuckupRecovery::~CLocalBuckupRecovery() {
  if (context_) context_->DiscardWorkingFiles();
}

Status CLocalBuckupRecovery::Attach(void* sourceContext) {
  context_ = static_cast<BackupContext*>(sourceContext);
  return context_ ? kOk : kInvalidData;
}

Status CLocalBuckupRecovery::SetProgressCallback(ProgressCallback callback, void* userValue) {
  if (!context_) return kInvalidData;
  context_->progress.callback = callback;
  context_->progress.userValue = userValue;
  return kOk;
}

Status CLocalBuckupRecovery::Reserved(void*) {
  return kOk;
}

Status CLocalBuckupRecovery::OpenSource(const std::string& password) {
  return context_ ? context_->OpenSource(password) : kInvalidData;
}
Status CLocalBuckupRecovery::CollectMessages(ConversationMap& conversations) {
  return context_ ? context_->CollectMessages(conversations) : kInvalidData;
}
Status CLocalBuckupRecovery::CollectMessageAttachments(std::vector<AttachmentRecord>& attachments) {
  return context_ ? context_->CollectMessageAttachments(attachments) : kInvalidData;
}
Status CLocalBuckupRecovery::CollectContacts(std::vector<ContactRecord>& contacts) {
  return context_ ? context_->CollectContacts(contacts) : kInvalidData;
}
Status CLocalBuckupRecovery::CollectNotes(std::vector<NoteRecord>& notes) {
  return context_ ? context_->CollectNotes(notes) : kInvalidData;
}
Status CLocalBuckupRecovery::CollectCallHistory(std::vector<CallRecord>& calls) {
  return context_ ? context_->CollectCallHistory(calls) : kInvalidData;
}
Status CLocalBuckupRecovery::CollectPhotos(std::vector<MediaFileRecord>& cameraRoll,
                                           std::vector<MediaFileRecord>& photoStream) {
  return context_ ? context_->CollectPhotos(cameraRoll, photoStream) : kInvalidData;
}
Status CLocalBuckupRecovery::CollectWhatsAppAttachments(std::vector<MediaFileRecord>& attachments) {
  return context_ ? context_->CollectWhatsAppAttachments(attachments) : kInvalidData;
}
Status CLocalBuckupRecovery::CollectAppFiles(std::vector<AppFileRecord>& files) {
  return context_ ? context_->CollectAppFiles(files) : kInvalidData;
}
Status CLocalBuckupRecovery::CollectQQ(ChatConversationMap& chats) {
  return context_ ? context_->CollectQQ(chats) : kInvalidData;
}
Status CLocalBuckupRecovery::CollectWeChat(ChatConversationMap& chats) {
  return context_ ? context_->CollectWeChat(chats) : kInvalidData;
}
Status CLocalBuckupRecovery::CollectWhatsApp(WhatsAppChatMap& chats) {
  return context_ ? context_->CollectWhatsApp(chats) : kInvalidData;
}
Status CLocalBuckupRecovery::ExtractForPreview(const std::filesystem::path& source,
                                               std::filesystem::path& previewPath, ProgressCallback callback,
                                               void* userValue) {
  return context_ ? context_->ExtractForPreview(source, previewPath, callback, userValue) : kInvalidData;
}
Status CLocalBuckupRecovery::CopyFileWithProgress(const std::filesystem::path& source,
                                                  const std::filesystem::path& destination,
                                                  ProgressCallback callback, void* userValue) {
  return context_ ? context_->CopyFileWithProgress(source, destination, callback, userValue) : kInvalidData;
}
Status CLocalBuckupRecovery::ExportMessagesCsv(const std::filesystem::path& destination) {
  return context_ ? context_->ExportMessagesCsv(destination) : kInvalidData;
}
Status CLocalBuckupRecovery::ExportContactsCsv(const std::filesystem::path& destination) {
  return context_ ? context_->ExportContactsCsv(destination) : kInvalidData;
}
// The transcripts of single chats are offered by the interface, but no front
// end asks a backup engine for them.
Status CLocalBuckupRecovery::ExportWhatsAppText(int32_t, const std::filesystem::path&, ProgressCallback,
                                                void*) {
  return kOk;
}
Status CLocalBuckupRecovery::ExportQQText(const std::string&, const std::string&,
                                          const std::filesystem::path&, ProgressCallback, void*) {
  return kOk;
}
Status CLocalBuckupRecovery::ExportWeChatText(const std::string&, const std::string&,
                                              const std::filesystem::path&, ProgressCallback, void*) {
  return kOk;
}

void RegisterBackupEngine() {
  RegisterEngineFactory(kSourceKindBackup, [] { return std::make_unique<CLocalBuckupRecovery>(); });
}

}  // namespace corvyn::backup
