// The hold / cancel / resume gate between whoever shows an export (a window
// asking "cancel?", a terminal) and the job's thread.
//
// Every progress report of the job passes the gate. Hold() closes it and
// returns once the job is not inside a report, so nothing is shown while a
// question is open; the job then waits at its next report. Resume() lets it
// go on where it halted; Cancel() opens the gate for good and makes every
// later report answer "stop".
//
// Hold, Resume, Cancel and WaitParked are called from a thread other than the
// job's (never from inside a sink call); the job calls Enter/Leave/MarkEnded.
#pragma once

#include <condition_variable>
#include <mutex>

namespace corvyn::exporting {

class ExportControl {
 public:
  void Hold();
  void Resume();
  void Cancel();
  bool IsCancelled() const;
  // True from Hold() until Resume() or Cancel().
  bool IsHeld() const;
  // Waits until the job waits at the closed gate (true) or has ended (false).
  bool WaitParked();

  // Job side: waits while the gate is closed; false when the export is
  // cancelled (the caller stops), else true and the job is inside a report
  // until Leave().
  bool Enter();
  void Leave();
  // The job has ended; a later Hold() returns at once.
  void MarkEnded();

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  bool cancelled_ = false;
  bool inReport_ = false;
  bool parked_ = false;
  bool ended_ = false;
};

}  // namespace corvyn::exporting
