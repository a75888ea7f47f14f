#include "core/ScanDriver.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "core/ScanCompletion.h"

namespace corvyn {

bool CScanDriver::ResultsAccess::IsPublished(RecordCategory category) const {
  const int index = CategoryIndex(category);
  return index >= 0 && index < kCategoryCount && published_[index];
}

CScanDriver::CScanDriver(IScanEventSink& sink, std::chrono::milliseconds beginDelay)
    : sink_(sink), beginDelay_(beginDelay) {}

CScanDriver::~CScanDriver() {
  StopAndJoin();
}

void CScanDriver::StopAndJoin() {
  if (!worker_.joinable()) return;
  {
    std::lock_guard lock(scanMutex_);
    stopFlag_ = true;
    paused_ = false;
  }
  gate_.notify_all();
  worker_.join();
}

Status CScanDriver::Start(std::unique_ptr<IPhoneRecoveryParse> engine, std::string sourceText) {
  if (engine == nullptr) return kInvalidData;
  StopAndJoin();
  engine_.reset();  // only now that no worker can reach it
  {
    std::lock_guard lock(resultsMutex_);
    results_.Clear();
    statistics_.Clear();
    std::fill(std::begin(published_), std::end(published_), false);
  }
  {
    std::lock_guard lock(scanMutex_);
    paused_ = false;
    progress_ = 0;
  }
  stopFlag_ = false;
  treeHasSelection_ = false;
  firstCategory_ = 0;
  SetOutcome(kOk, {});
  finishedFlag_ = false;
  engine_ = std::move(engine);
  if (Status status = engine_->SetProgressCallback(&CScanDriver::ProgressThunk, this); status != kOk) {
    finishedFlag_ = true;
    SetOutcome(status, {});
    return status;
  }
  try {
    worker_ = std::thread(&CScanDriver::Run, this, std::move(sourceText));
  } catch (const std::system_error& error) {
    finishedFlag_ = true;
    const Status status =
        Status::System(error.code().value() != 0 ? error.code().value() : EAGAIN, "starting the scan thread");
    SetOutcome(status, {});
    return status;
  }
  return kOk;
}

void CScanDriver::Pause() {
  // Taking the scan lock waits out a progress report in flight; from then on
  // the worker waits at the gate in its next report.
  std::lock_guard lock(scanMutex_);
  paused_ = true;
}

void CScanDriver::Resume() {
  {
    std::lock_guard lock(scanMutex_);
    paused_ = false;
  }
  gate_.notify_all();
}

bool CScanDriver::IsPaused() const {
  std::lock_guard lock(scanMutex_);
  return paused_;
}

bool CScanDriver::Stop(const std::function<bool()>& confirm) {
  if (!worker_.joinable()) return true;
  if (finishedFlag_) {  // nothing left to stop or to ask about
    Wait();
    return true;
  }
  const bool wasPaused = IsPaused();
  if (!wasPaused) Pause();  // hold the worker while the user decides
  const bool confirmed = !confirm || confirm();
  if (!confirmed) {
    if (!wasPaused) Resume();
    return false;
  }
  StopAndJoin();
  return true;
}

void CScanDriver::Wait() {
  if (worker_.joinable()) worker_.join();
}

bool CScanDriver::IsFinished() const {
  return finishedFlag_;
}

int CScanDriver::Progress() const {
  std::lock_guard lock(scanMutex_);
  return progress_;
}

Status CScanDriver::FinalStatus() const {
  std::lock_guard lock(outcomeMutex_);
  return finalStatus_;
}

std::vector<CScanDriver::CategoryFailure> CScanDriver::CategoryFailures() const {
  std::lock_guard lock(outcomeMutex_);
  return failures_;
}

void CScanDriver::SetOutcome(Status status, std::vector<CategoryFailure> failures) {
  std::lock_guard lock(outcomeMutex_);
  finalStatus_ = std::move(status);
  failures_ = std::move(failures);
}

void CScanDriver::NoteTreeSelection() {
  treeHasSelection_ = true;
}

RecordCategory CScanDriver::FirstCategory() const {
  return static_cast<RecordCategory>(firstCategory_.load());
}

CScanDriver::ResultsAccess CScanDriver::LockResults() {
  return ResultsAccess(std::unique_lock(resultsMutex_), results_, statistics_, published_);
}

int CScanDriver::ProgressThunk(void* userValue, int percent) {
  return static_cast<CScanDriver*>(userValue)->OnEngineProgress(percent);
}

int CScanDriver::OnEngineProgress(int percent) {
  constexpr int kBegun = 1;
  constexpr int kLowest = 2;
  constexpr int kHighest = 99;  // 100 is shown only when the scan has ended
  int shown = -1;
  {
    std::unique_lock lock(scanMutex_);
    gate_.wait(lock, [this] { return !paused_ || stopFlag_; });
    if (stopFlag_) return kStopAnswer;
    if (percent > progress_) {
      if (percent == kBegun) {
        sink_.Post(kMsgScanState, kScanStateBegun);
        // Give the window time to switch pages; a Stop cuts the wait short.
        gate_.wait_for(lock, beginDelay_, [this] { return stopFlag_.load(); });
        if (stopFlag_) return kStopAnswer;
      }
      const int value = std::clamp(percent, kLowest, kHighest);
      if (value != progress_) {
        progress_ = value;
        shown = value;
      }
    }
  }
  if (shown >= 0) sink_.OnProgress(shown);
  return 0;
}

void CScanDriver::Publish(RecordCategory category) {
  if (!treeHasSelection_ && firstCategory_ == 0) firstCategory_ = static_cast<int>(category);
  sink_.Post(kMsgCategoryDone, 0);
  if (firstCategory_ != 0) sink_.Post(kMsgFirstCategory, 0);
}

Status CScanDriver::RunCollectors(std::vector<CategoryFailure>& failures) {
  Status status = kOk;
  for (CollectStep step : kCollectOrder) {
    ScanResults scratch;
    status = RunCollectStep(*engine_, step, scratch);
    if (status != kOk && status != kStopped) {
      failures.push_back({step, std::string(CollectStepLabel(step)), status});
    }
    std::vector<RecordCategory> nonEmpty;
    {
      std::lock_guard lock(resultsMutex_);
      nonEmpty = CompleteCollectStep(step, scratch, results_, statistics_);
      for (RecordCategory category : nonEmpty) published_[CategoryIndex(category)] = true;
    }
    for (RecordCategory category : nonEmpty) Publish(category);
    if (status == kStopped) break;
  }
  return status;
}

void CScanDriver::Run(std::string sourceText) {
  Status status = kInvalidData;
  std::vector<CategoryFailure> failures;
  try {
    status = engine_->OpenSource(sourceText);
  } catch (const std::bad_alloc&) {
    status = Status::System(ENOMEM, "opening the source");
  } catch (...) {
    status = kInvalidData;
  }
  if (status == kOk) {
    sink_.Post(kMsgCategoryDone, 0);
    status = RunCollectors(failures);
  } else if (status == kWrongPassword) {
    sink_.Post(kMsgScanState, kScanStateWrongPassword);
  } else if (status != kStopped && status != kSourceUnreadable) {
    sink_.Post(kMsgScanState, kScanStateOpenFailed);
  }
  SetOutcome(status, std::move(failures));
  finishedFlag_ = true;
  // Every end but a wrong password leaves the scanning state, also when the
  // last category failed: the window must not wait for an end that never comes.
  if (status != kWrongPassword) sink_.Post(kMsgScanEnded, 0);
}

}  // namespace corvyn
