// The print window: layout "xml/PrintWnd", 800 by 600, modal over its owner.
// It makes the print page of one category (export/PrintCollection.h) on a
// worker thread, shows it and prints it; what the page holds is the
// collection's decision.
//
// Controls: "PrintTabPage" (page 0 while collecting: "LblLoading" and the
// busy bar "BtnGifPrintLoading"; page 1: "LblNotice", hidden unless the
// template could not be read, the page in the text browser "WebPagePrint",
// "BtnPrint" and "BtnPdf"), "closebtn".
//
// Once the page is ready the print dialog opens by itself, once; cancelling
// it leaves the page on screen. "BtnPrint" opens it again, "BtnPdf" saves the
// page as a PDF file.
//
// Closing: "closebtn" after the collection closes with 1. While collecting it
// holds the worker at its next record and asks MSG0903 (warning box, 550 by
// 200): OK cancels, waits for the worker and closes with 2; any other answer
// lets the collection go on. Escape closes with 2 at once, cancelling a
// running collection. Enter is swallowed.
//
// Failures, shown in words: a category that does not print (MSG0906, error
// box, then closes with 2), a page that cannot be written (MSG0905 with the
// folder and the reason, error box, closes with 2), a template that cannot be
// read (MSG0904 in "LblNotice"; the page is the records alone), a PDF that
// cannot be written (MSG0907, error box, the window stays).
#pragma once

#include <QString>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "core/ScanResults.h"
#include "core/Statistics.h"
#include "export/PrintCollection.h"
#include "platform/Status.h"
#include "ui/CPopUpWnd.h"

class QPrinter;
class QStackedWidget;
class QTextBrowser;

namespace corvyn::app {

// Worker → window: the collection ended (page written, failed or cancelled).
inline constexpr int kMsgPrintPageReady = 1036;

class CPrintWnd final : public ui::CPopUpWnd {
 public:
  static constexpr int kWidth = 800, kHeight = 600;
  static constexpr int kClosedFinished = 1;
  static constexpr int kClosedCancelled = 2;

  // Everything borrowed must stay unchanged while the window lives (the scan has ended).
  CPrintWnd(QWidget* owner, const ScanResults& results, const CStatisticsObj& statistics,
            RecordCategory category, bool onlyDeleted, exporting::PrintPaths paths = {});
  // Cancels a collection that still runs and waits for it.
  ~CPrintWnd() override;

  // Loads the layout and centres the window on its owner. kOk or kInvalidData.
  // The collection starts when the window is first shown; DoModal returns 1
  // after a normal close, 2 after Escape, a cancelled collection or a failure.
  Status Create();

  // The print dialog; true when the user chose to print (the default runs
  // QPrintDialog on `printer`). False: the user cancelled.
  std::function<bool(QPrinter& printer)> askPrinter;
  // The PDF file to write; empty when the user cancelled (the default asks
  // with a save dialog for "*.pdf").
  std::function<QString(QWidget* owner)> askPdfPath;
  // Test hook: runs on the worker before each record, conversation message
  // or chat is collected.
  std::function<void()> onEachRecord;

  // True once the collection has ended (the page, if any, is written).
  bool Collected() const { return done_; }
  // Where the page was written; empty before, or when nothing was written.
  const std::filesystem::path& PagePath() const { return pagePath_; }
  // How the collection ended (kOk before it ended).
  const Status& Result() const { return result_; }
  // True once the collection has been told to stop (Escape, the question, the end of the window).
  bool Cancelling() const { return cancel_; }

 protected:
  void Notify(const ui::Notification& notification) override;
  bool HandleMessage(int message, qintptr wParam, qintptr lParam) override;
  void OnEscape() override;
  void reject() override { OnEscape(); }

 private:
  void Start();
  void Collect();          // worker thread
  bool CancelRequested();  // worker thread: waits while held
  void CancelAndWait();
  void ShowCollected();  // window thread, after the worker ended
  void ShowPage();
  void Print();
  void SavePdf();
  void AskToCancel();
  void ShowError(const QString& text);
  void ApplyTexts();

  const ScanResults& results_;
  const CStatisticsObj& statistics_;
  exporting::PrintSelection selection_;
  exporting::PrintPaths paths_;

  QStackedWidget* pages_ = nullptr;
  QTextBrowser* browser_ = nullptr;

  std::thread worker_;
  std::mutex gate_;
  std::condition_variable gateChanged_;
  bool held_ = false;  // guarded by gate_
  std::atomic<bool> cancel_{false};
  std::atomic<bool> done_{false};
  // Written by the worker before it posts kMsgPrintPageReady, read after joining.
  Status result_ = kOk;
  Status templateStatus_ = kOk;
  std::filesystem::path pagePath_;

  bool started_ = false;
  bool asking_ = false;
  bool closing_ = false;
  bool printedOnce_ = false;
};

}  // namespace corvyn::app
