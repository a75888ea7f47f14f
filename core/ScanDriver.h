// The scan driver: runs one recovery engine on a worker thread, turns its
// progress reports into the shown percentage, lets the controlling thread
// pause, resume and stop the scan, and publishes each category as soon as it
// is complete. It needs no window: the GUI and the command-line front end both
// drive it through the same calls and receive its notifications through an
// IScanEventSink.
//
// Worker sequence: OpenSource(source text), then CollectPhotos (Camera Roll and
// Photo Stream), CollectMessages, CollectMessageAttachments, CollectContacts,
// CollectCallHistory, CollectNotes, CollectAppFiles, CollectWhatsApp,
// CollectWhatsAppAttachments, each followed by its completion step (derived
// rows, sorting, statistics, publication). The sequence ends at the first
// operation that returns kStopped (the user's Stop); any other failure is
// remembered for its category (CategoryFailures) and the next one runs.
//
// Notifications (IScanEventSink::Post, always from the worker thread):
//   1032, 0   the source was opened, or a non-empty category was published
//   1033, 0   a first category is known (see FirstCategory)
//   1034, 0   the scan has ended (normally, by Stop, or after an open error);
//             FinalStatus() is valid when it arrives. Not posted after a
//             wrong password.
//   1035, 0   the engine reported progress 1: the scan has begun (once)
//   1035, 1   OpenSource returned kWrongPassword; the scan ends, no 1034
//   1035, 3   OpenSource failed with another status (1034 follows)
// OpenSource returning kSourceUnreadable posts no 1035 and ends with 1034;
// FinalStatus() then tells the window to show "MSG0512".
//
// The scan lock is a gate rather than a held mutex: Pause() closes the gate
// and returns once the worker is outside its progress report; the worker then
// waits at the gate in its next report until Resume() or Stop() opens it.
// Nothing has to be unlocked on the thread that locked it, and a paused scan
// can be stopped or destroyed safely.
//
// Threads: Start, Pause, Resume, Stop, Wait and the destructor are called by
// one controlling thread (the UI thread, or the CLI's main thread), never from
// inside a sink callback. The worker writes ScanResults and the statistics
// only under the results lock; readers take it through LockResults().
//
// Lifetime: the engine belongs to the driver. Start() and the destructor stop
// and join a running worker before the previous engine is destroyed, so no
// worker can outlive its engine.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/IPhoneRecoveryParse.h"
#include "core/ScanCompletion.h"
#include "core/ScanResults.h"
#include "core/Statistics.h"
#include "platform/Status.h"

namespace corvyn {

inline constexpr int kMsgStartScan = 1031;  // wParam: source kind (front ends only)
inline constexpr int kMsgCategoryDone = 1032;
inline constexpr int kMsgFirstCategory = 1033;
inline constexpr int kMsgScanEnded = 1034;
inline constexpr int kMsgScanState = 1035;

// wParam values of kMsgScanState.
inline constexpr int kScanStateBegun = 0;
inline constexpr int kScanStateWrongPassword = 1;
inline constexpr int kScanStateDeviceUnreadable = 2;  // posted by the device source, not by the driver
inline constexpr int kScanStateOpenFailed = 3;

// Receives the driver's notifications. Both calls come from the worker thread;
// they must return promptly and must not call the driver (queue the work to
// the controlling thread instead).
class IScanEventSink {
 public:
  virtual ~IScanEventSink() = default;
  virtual void Post(int message, int wParam) = 0;
  // The shown percentage changed (2 to 99), in report order.
  virtual void OnProgress(int percent) { (void)percent; }
};

class CScanDriver {
 public:
  // `sink` must outlive the driver. `beginDelay` is the pause after posting
  // "scan has begun", which gives a window time to switch pages.
  explicit CScanDriver(IScanEventSink& sink,
                       std::chrono::milliseconds beginDelay = std::chrono::milliseconds(100));
  ~CScanDriver();  // stops and joins a running worker, then destroys the engine
  CScanDriver(const CScanDriver&) = delete;
  CScanDriver& operator=(const CScanDriver&) = delete;

  // Ends a running scan as a confirmed Stop would, joins its worker, destroys
  // the previous engine, clears the results and statistics, and starts a new
  // worker on `engine`. Returns kInvalidData (and starts nothing) when engine
  // is null, otherwise kOk.
  Status Start(std::unique_ptr<IPhoneRecoveryParse> engine, std::string sourceText);

  // Holds the worker at its next progress report. Returns once the worker is
  // not inside a report. No effect when already paused.
  void Pause();
  void Resume();
  bool IsPaused() const;

  // The Stop button: holds the worker (unless paused), asks `confirm` on the
  // calling thread (no function means confirmed). On confirmation sets the stop
  // flag, opens the gate and waits for the worker to finish; returns true.
  // Declined: a paused scan stays paused, a running one runs on; returns false.
  // Without a running worker, returns true at once.
  bool Stop(const std::function<bool()>& confirm = {});

  // Waits until the worker has finished and joins it.
  void Wait();

  // False while a worker runs (set before Start returns), true otherwise.
  bool IsFinished() const;

  // Percentage shown: 0 before the first report, then 2 to 99.
  int Progress() const;

  // The last engine status of the scan: the failing OpenSource status, or the
  // status of the last operation called. Valid once finished.
  Status FinalStatus() const;

  // The categories whose operation failed during the last scan, in scan
  // order, with the status each returned. Valid once finished.
  struct CategoryFailure {
    CollectStep step;
    std::string label;  // CollectStepLabel(step)
    Status status;
  };
  std::vector<CategoryFailure> CategoryFailures() const;

  // The engine of the current or last scan (nullptr before the first Start).
  // Use it only while the scan is finished: export and preview read through it.
  IPhoneRecoveryParse* Engine() const { return engine_.get(); }

  // The controlling thread tells the driver that the user selected a tree
  // node; from then on no first category is remembered for this scan.
  void NoteTreeSelection();

  // The first non-empty category published while the user had not selected a
  // node, or kNone.
  RecordCategory FirstCategory() const;

  // Access to the results and statistics under the results lock. Hold it while
  // reading what a running scan has published, or while checking entries.
  class ResultsAccess {
   public:
    ScanResults& results;
    CStatisticsObj& statistics;
    // True once the category's completion step found it non-empty.
    bool IsPublished(RecordCategory category) const;

   private:
    friend class CScanDriver;
    ResultsAccess(std::unique_lock<std::mutex> lock, ScanResults& r, CStatisticsObj& s, const bool* published)
        : results(r), statistics(s), lock_(std::move(lock)), published_(published) {}
    std::unique_lock<std::mutex> lock_;
    const bool* published_;
  };
  ResultsAccess LockResults();

 private:
  static int ProgressThunk(void* userValue, int percent);
  int OnEngineProgress(int percent);
  void Run(std::string sourceText);
  Status RunCollectors(std::vector<CategoryFailure>& failures);
  void SetOutcome(Status status, std::vector<CategoryFailure> failures);
  void StopAndJoin();
  void Publish(RecordCategory category);

  IScanEventSink& sink_;
  const std::chrono::milliseconds beginDelay_;

  // Scan lock: guards paused_ and progress_; the worker waits on gate_.
  mutable std::mutex scanMutex_;
  std::condition_variable gate_;
  bool paused_ = false;
  int progress_ = 0;

  std::atomic<bool> stopFlag_{false};
  std::atomic<bool> finishedFlag_{true};
  std::atomic<bool> treeHasSelection_{false};
  // Outcome lock: guards finalStatus_ and failures_.
  mutable std::mutex outcomeMutex_;
  Status finalStatus_;
  std::vector<CategoryFailure> failures_;
  std::atomic<int> firstCategory_{0};

  // Results lock: guards results_, statistics_ and published_.
  std::mutex resultsMutex_;
  ScanResults results_;
  CStatisticsObj statistics_;
  bool published_[kCategoryCount] = {};

  std::unique_ptr<IPhoneRecoveryParse> engine_;
  std::thread worker_;  // declared last: joined before the members above go
};

}  // namespace corvyn
