// The export progress window: layout "RecoverProcessWnd", 550 by 250,
// modal over its owner. It runs one ExportJob on a worker thread and shows
// what the job reports; every decision (what is written, counts, the order
// of the detail rows) is the job's.
//
// Controls: "Progress" (0-100), "current" (the file being written; the full
// path is its tool tip), "percent" (MSG1101 + " N%"), "recovered" (MSG1102
// with done, total, succeeded, failed), "DetailList" (columns "File" and
// "Status": failures on top in red, successes appended; hidden at first),
// "OpenBtn" (opens the destination), "DetailBtn" (shows the list and
// enlarges the window by 150 by 300, or restores it), "FinishBtn" (hidden
// until the job ends, closes with 1), "CancelBtn", "closebtn" and Escape
// (ask to cancel). Enter is swallowed.
//
// Cancel: after the job ended the window closes with 1. Otherwise the job is
// held (it stops at its next report and nothing new is shown), MSG1103 is
// asked in a warning box; OK cancels, waits for the job and closes with 2,
// any other answer lets the job go on.
//
// A job that cannot start (a report template that cannot be read: MSG1104;
// any other reason: its message) shows an error box and closes with 2.
//
// The job's reports arrive on its thread and are handed to the window's
// thread as queued calls; no widget is touched from the worker.
#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "export/ExportJob.h"
#include "export/ExportProgress.h"
#include "platform/Desktop.h"
#include "platform/DiskSpace.h"
#include "platform/Status.h"
#include "ui/CPopUpWnd.h"

class QLabel;
class QProgressBar;
class QTreeWidget;

namespace corvyn::app {

class CRecoverProcessWnd final : public ui::CPopUpWnd, private exporting::IExportSink {
 public:
  static constexpr int kWidth = 550;
  static constexpr int kHeight = 250;
  static constexpr int kDetailExtraWidth = 150;
  static constexpr int kDetailExtraHeight = 300;
  static constexpr int kClosedFinished = 1;
  static constexpr int kClosedCancelled = 2;

  // The results, statistics and engine are borrowed until the window is
  // destroyed and must not change meanwhile. `disk` null: the system's.
  CRecoverProcessWnd(QWidget* owner, const ScanResults& results, const CStatisticsObj& statistics,
                     IPhoneRecoveryParse& engine, exporting::ExportRequest request,
                     platform::IDesktop& desktop, platform::IDiskSpace* disk = nullptr);
  // Cancels a job that still runs and waits for it.
  ~CRecoverProcessWnd() override;

  // Loads the layout and centres the window on its owner. kOk or kInvalidData.
  Status Create();
  // The job starts when the window is first shown; DoModal returns 1 after a
  // finished job, 2 after a cancel or a job that could not start.

  // The job's gate; for whoever must hold it from outside (tests).
  exporting::ExportControl& Control() { return job_.Control(); }
  bool Finished() const { return summary_.has_value(); }
  // How the job ended; empty until then.
  const std::optional<exporting::ExportSummary>& Summary() const { return summary_; }

 protected:
  void Notify(const ui::Notification& notification) override;
  bool HandleMessage(int message, qintptr wParam, qintptr lParam) override;
  void OnEscape() override { AskToCancel(); }
  void reject() override { AskToCancel(); }
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Worker thread: hand over to the window's thread.
  void OnProgress(const std::string& currentPath, int percent,
                  const exporting::ExportCounts& counts) override;
  void OnDetail(const exporting::ExportDetail& detail, const exporting::ExportCounts& counts) override;
  void OnFinished(const exporting::ExportSummary& summary) override;

  // Window thread.
  void ShowProgress(const QString& path, int percent, const exporting::ExportCounts& counts);
  void ShowDetail(const QString& path, const QString& status, bool ok);
  void ShowFinished(const exporting::ExportSummary& summary);
  void ShowCounts();
  void ShowCurrentPath();
  void ToggleDetails();
  void AskToCancel();
  void OpenDestination();
  void ApplyTexts();

  exporting::ExportRequest request_;
  platform::IDesktop& desktop_;
  exporting::ExportJob job_;
  QProgressBar* progress_ = nullptr;
  QLabel* current_ = nullptr;
  QLabel* percent_ = nullptr;
  QLabel* recovered_ = nullptr;
  QTreeWidget* details_ = nullptr;
  QString currentPath_;
  int shownPercent_ = 0;
  exporting::ExportCounts shownCounts_;
  std::optional<exporting::ExportSummary> summary_;
  bool started_ = false;
  bool asking_ = false;
  bool closing_ = false;
};

}  // namespace corvyn::app
