#include "ScriptedEngine.h"

#include <algorithm>

namespace corvyn::testing {

void Journal::Add(std::string entry) {
  std::lock_guard lock(mutex_);
  entries_.push_back(std::move(entry));
}

std::vector<std::string> Journal::Entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

std::vector<std::string> Journal::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

void Journal::AddCall(std::string operation) {
  std::lock_guard lock(mutex_);
  calls_.push_back(std::move(operation));
}

void Journal::SetDestroyed() {
  std::lock_guard lock(mutex_);
  destroyed_ = true;
  if (inOperation_ > 0) destroyedDuringOperation_ = true;
}

bool Journal::Destroyed() const {
  std::lock_guard lock(mutex_);
  return destroyed_;
}

bool Journal::DestroyedDuringOperation() const {
  std::lock_guard lock(mutex_);
  return destroyedDuringOperation_;
}

void Journal::EnterOperation() {
  std::lock_guard lock(mutex_);
  ++inOperation_;
}

void Journal::LeaveOperation() {
  std::lock_guard lock(mutex_);
  --inOperation_;
}

ScriptedEngine::ScriptedEngine(EngineScript script, std::shared_ptr<Journal> journal)
    : script_(std::move(script)), journal_(std::move(journal)) {}

ScriptedEngine::~ScriptedEngine() {
  journal_->SetDestroyed();
}

Status ScriptedEngine::Attach(void* sourceContext) {
  attachedContext = sourceContext;
  return kOk;
}

Status ScriptedEngine::SetProgressCallback(ProgressCallback callback, void* userValue) {
  callback_ = callback;
  userValue_ = userValue;
  return kOk;
}

Status ScriptedEngine::RunStep(const std::string& operation, const std::function<void()>& fill) {
  journal_->EnterOperation();
  journal_->AddCall(operation);
  const auto found = script_.steps.find(operation);
  const ScriptedStep step = found == script_.steps.end() ? ScriptedStep{} : found->second;
  for (int percent : step.progress) {
    if (script_.beforeReport) script_.beforeReport(operation, percent);
    const int answer = callback_ != nullptr ? callback_(userValue_, percent) : 0;
    journal_->Add(operation + " " + std::to_string(percent) + " -> " + std::to_string(answer));
    if (answer != 0) {
      journal_->LeaveOperation();
      return Status::FromProgressAnswer(answer);
    }
  }
  fill();
  journal_->LeaveOperation();
  return step.result;
}

Status ScriptedEngine::OpenSource(const std::string& sourcePassword) {
  password = sourcePassword;
  return RunStep("OpenSource", [] {});
}

Status ScriptedEngine::CollectMessages(ConversationMap& conversations) {
  return RunStep("CollectMessages", [&] { conversations = script_.data.conversations; });
}

Status ScriptedEngine::CollectMessageAttachments(std::vector<AttachmentRecord>& attachments) {
  return RunStep("CollectMessageAttachments", [&] {
    attachments.insert(attachments.end(), script_.data.messageAttachments.begin(),
                       script_.data.messageAttachments.end());
  });
}

Status ScriptedEngine::CollectContacts(std::vector<ContactRecord>& contacts) {
  return RunStep("CollectContacts", [&] {
    contacts.insert(contacts.end(), script_.data.contacts.begin(), script_.data.contacts.end());
  });
}

Status ScriptedEngine::CollectNotes(std::vector<NoteRecord>& notes) {
  return RunStep("CollectNotes",
                 [&] { notes.insert(notes.end(), script_.data.notes.begin(), script_.data.notes.end()); });
}

Status ScriptedEngine::CollectCallHistory(std::vector<CallRecord>& calls) {
  return RunStep("CollectCallHistory",
                 [&] { calls.insert(calls.end(), script_.data.calls.begin(), script_.data.calls.end()); });
}

Status ScriptedEngine::CollectPhotos(std::vector<MediaFileRecord>& cameraRoll,
                                     std::vector<MediaFileRecord>& photoStream) {
  return RunStep("CollectPhotos", [&] {
    cameraRoll.insert(cameraRoll.end(), script_.data.cameraRoll.begin(), script_.data.cameraRoll.end());
    photoStream.insert(photoStream.end(), script_.data.photoStream.begin(), script_.data.photoStream.end());
  });
}

Status ScriptedEngine::CollectWhatsAppAttachments(std::vector<MediaFileRecord>& attachments) {
  return RunStep("CollectWhatsAppAttachments", [&] {
    attachments.insert(attachments.end(), script_.data.whatsAppAttachments.begin(),
                       script_.data.whatsAppAttachments.end());
  });
}

Status ScriptedEngine::CollectAppFiles(std::vector<AppFileRecord>& files) {
  return RunStep("CollectAppFiles", [&] {
    files.insert(files.end(), script_.data.appFiles.begin(), script_.data.appFiles.end());
  });
}

Status ScriptedEngine::CollectWhatsApp(WhatsAppChatMap& chats) {
  return RunStep("CollectWhatsApp", [&] { chats = script_.data.whatsAppChats; });
}

void RecordingSink::Post(int message, int wParam) {
  std::lock_guard lock(mutex_);
  posts_.emplace_back(message, wParam);
}

void RecordingSink::OnProgress(int percent) {
  std::lock_guard lock(mutex_);
  progress_.push_back(percent);
}

std::vector<std::pair<int, int>> RecordingSink::Posts() const {
  std::lock_guard lock(mutex_);
  return posts_;
}

std::vector<int> RecordingSink::ProgressValues() const {
  std::lock_guard lock(mutex_);
  return progress_;
}

int RecordingSink::Count(int message, int wParam) const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count(posts_.begin(), posts_.end(), std::make_pair(message, wParam)));
}

void Latch::Open() {
  {
    std::lock_guard lock(mutex_);
    open_ = true;
  }
  opened_.notify_all();
}

void Latch::WaitOpen() {
  std::unique_lock lock(mutex_);
  opened_.wait(lock, [this] { return open_; });
}

}  // namespace corvyn::testing
