// The one interface through which a front end drives a source of data (a
// backup folder or a connected device). Operations are listed in their binding
// slot order; every one returns a Status (platform/Status.h) and never throws.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/Records.h"
#include "platform/Status.h"

namespace corvyn {

// Engines report (user value, percent); a non-zero answer (2 when the user
// stopped) makes the engine return that value at once. The value 1 means "the
// source has been accepted".
using ProgressCallback = int (*)(void* userValue, int percent);

// The progress answer that asks the engine to stop.
inline constexpr int kStopAnswer = static_cast<int>(StatusCode::kStopped);

class IPhoneRecoveryParse {
 public:
  virtual ~IPhoneRecoveryParse() = default;  // slot 23

  // Slot 0: keeps the source context (owned by the caller, must outlive the
  // engine) and resets the engine's own counters.
  virtual Status Attach(void* sourceContext) = 0;
  virtual Status SetProgressCallback(ProgressCallback callback, void* userValue) = 0;
  virtual Status Reserved(void* unused) = 0;
  virtual bool IsBackupSource() const = 0;
  virtual Status OpenSource(const std::string& password) = 0;
  virtual Status CollectMessages(ConversationMap& conversations) = 0;
  virtual Status CollectMessageAttachments(std::vector<AttachmentRecord>& attachments) = 0;
  virtual Status CollectContacts(std::vector<ContactRecord>& contacts) = 0;
  virtual Status CollectNotes(std::vector<NoteRecord>& notes) = 0;
  virtual Status CollectCallHistory(std::vector<CallRecord>& calls) = 0;
  virtual Status CollectPhotos(std::vector<MediaFileRecord>& cameraRoll,
                               std::vector<MediaFileRecord>& photoStream) = 0;
  virtual Status CollectWhatsAppAttachments(std::vector<MediaFileRecord>& attachments) = 0;
  virtual Status CollectAppFiles(std::vector<AppFileRecord>& files) = 0;
  virtual Status CollectQQ(ChatConversationMap& chats) = 0;
  virtual Status CollectWeChat(ChatConversationMap& chats) = 0;
  virtual Status CollectWhatsApp(WhatsAppChatMap& chats) = 0;
  // Copies the file into "tmp.jpg", "tmp.wav" or "tmp.avi" in the engine's
  // working folder, by detected type; previewPath receives the copy's path.
  virtual Status ExtractForPreview(const std::filesystem::path& source, std::filesystem::path& previewPath,
                                   ProgressCallback callback, void* userValue) = 0;
  virtual Status CopyFileWithProgress(const std::filesystem::path& source,
                                      const std::filesystem::path& destination, ProgressCallback callback,
                                      void* userValue) = 0;
  virtual Status ExportMessagesCsv(const std::filesystem::path& destination) = 0;
  virtual Status ExportContactsCsv(const std::filesystem::path& destination) = 0;
  virtual Status ExportWhatsAppText(int32_t chatKey, const std::filesystem::path& destination,
                                    ProgressCallback callback, void* userValue) = 0;
  virtual Status ExportQQText(const std::string& account, const std::string& friendKey,
                              const std::filesystem::path& destination, ProgressCallback callback,
                              void* userValue) = 0;
  virtual Status ExportWeChatText(const std::string& account, const std::string& friendKey,
                                  const std::filesystem::path& destination, ProgressCallback callback,
                                  void* userValue) = 0;
};

}  // namespace corvyn
