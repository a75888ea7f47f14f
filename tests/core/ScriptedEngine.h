// A recovery engine for driver tests: every operation reports the progress
// values its script names, then fills its containers from the script and
// returns the scripted status. Calls and their outcomes go to a journal that
// outlives the engine, so a test can also check when the engine was destroyed.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/IPhoneRecoveryParse.h"
#include "core/ScanDriver.h"
#include "core/ScanResults.h"

namespace corvyn::testing {

struct ScriptedStep {
  std::vector<int> progress;  // values reported, in order
  Status result = kOk;        // returned when no report asked to stop
};

struct EngineScript {
  std::map<std::string, ScriptedStep> steps;  // by operation name ("OpenSource", "CollectPhotos", ...)
  ScanResults data;                           // what the collect operations hand back
  // Called on the worker before each report; may block to let a test act.
  std::function<void(const std::string& operation, int percent)> beforeReport;
};

class Journal {
 public:
  void Add(std::string entry);
  void AddCall(std::string operation);
  std::vector<std::string> Entries() const;
  // Operation names only, in call order.
  std::vector<std::string> Calls() const;
  void SetDestroyed();
  bool Destroyed() const;
  // True when the engine was destroyed while one of its operations ran.
  bool DestroyedDuringOperation() const;
  void EnterOperation();
  void LeaveOperation();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
  std::vector<std::string> calls_;
  bool destroyed_ = false;
  int inOperation_ = 0;
  bool destroyedDuringOperation_ = false;
};

class ScriptedEngine final : public IPhoneRecoveryParse {
 public:
  ScriptedEngine(EngineScript script, std::shared_ptr<Journal> journal);
  ~ScriptedEngine() override;

  Status Attach(void* sourceContext) override;
  Status SetProgressCallback(ProgressCallback callback, void* userValue) override;
  Status Reserved(void*) override { return kOk; }
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
  Status CollectQQ(ChatConversationMap&) override { return kOk; }
  Status CollectWeChat(ChatConversationMap&) override { return kOk; }
  Status CollectWhatsApp(WhatsAppChatMap& chats) override;
  Status ExtractForPreview(const std::filesystem::path&, std::filesystem::path&, ProgressCallback,
                           void*) override {
    return kOk;
  }
  Status CopyFileWithProgress(const std::filesystem::path&, const std::filesystem::path&, ProgressCallback,
                              void*) override {
    return kOk;
  }
  Status ExportMessagesCsv(const std::filesystem::path&) override { return kOk; }
  Status ExportContactsCsv(const std::filesystem::path&) override { return kOk; }
  Status ExportWhatsAppText(int32_t, const std::filesystem::path&, ProgressCallback, void*) override {
    return kOk;
  }
  Status ExportQQText(const std::string&, const std::string&, const std::filesystem::path&, ProgressCallback,
                      void*) override {
    return kOk;
  }
  Status ExportWeChatText(const std::string&, const std::string&, const std::filesystem::path&,
                          ProgressCallback, void*) override {
    return kOk;
  }

  void* attachedContext = nullptr;
  std::string password;

 private:
  // Reports the step's progress; returns the callback's non-zero answer, or
  // the step's scripted result (and `fill` runs) when every report went on.
  Status RunStep(const std::string& operation, const std::function<void()>& fill);

  EngineScript script_;
  std::shared_ptr<Journal> journal_;
  ProgressCallback callback_ = nullptr;
  void* userValue_ = nullptr;
};

// Records the driver's notifications; Wait* block until one has arrived.
class RecordingSink final : public IScanEventSink {
 public:
  void Post(int message, int wParam) override;
  void OnProgress(int percent) override;
  std::vector<std::pair<int, int>> Posts() const;
  std::vector<int> ProgressValues() const;
  int Count(int message, int wParam) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<int, int>> posts_;
  std::vector<int> progress_;
};

// A one-shot meeting point between the worker and the test thread.
class Latch {
 public:
  void Open();
  void WaitOpen();

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

}  // namespace corvyn::testing
