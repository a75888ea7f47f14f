// The progress window of a preview copy: layout "xml\PreviewProcessWnd.xml",
// 500 by 200, modal over the preview pane. When first shown it runs the
// engine's ExtractForPreview on a worker thread and shows the file's name
// ("LblFileName"), the percent done ("LblPercent", "<MSG1101> N%") and a bar
// ("Progress"). It closes by itself with 1 when the copy is made and with 2
// when the copy fails; "BtnCancel", "closebtn" and Escape stop the copy, wait
// for the worker and close with 2.
//
// The worker reports through queued calls; no widget is touched off the
// window's thread.
#pragma once

#include <QString>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

#include "core/IPhoneRecoveryParse.h"
#include "platform/Status.h"
#include "ui/CPopUpWnd.h"

class QLabel;
class QProgressBar;

namespace corvyn::app {

// The scratch copies ("tmp.jpg", "tmp.wav", "tmp.avi") are shared by every
// preview: one copy is written at a time.
std::mutex& PreviewScratchLock();

// ExtractForPreview under the scratch lock.
Status ExtractPreviewCopy(IPhoneRecoveryParse& engine, const std::filesystem::path& source,
                          std::filesystem::path& previewPath, ProgressCallback callback, void* userValue);

class CPreviewProcessWnd final : public ui::CPopUpWnd {
 public:
  static constexpr int kWidth = 500;
  static constexpr int kHeight = 200;
  static constexpr int kClosedCopied = 1;
  static constexpr int kClosedNotCopied = 2;

  // `engine` is borrowed until the window is destroyed.
  CPreviewProcessWnd(QWidget* owner, IPhoneRecoveryParse& engine, std::filesystem::path source,
                     QString fileName);
  // Stops a copy that still runs and waits for it.
  ~CPreviewProcessWnd() override;

  // Loads the layout and centres the window on its owner. kOk or kInvalidData.
  Status Create();

  // After the modal run: how the copy ended (kStopped when cancelled) and,
  // when it succeeded, the copy's path.
  const Status& Result() const { return result_; }
  const std::filesystem::path& PreviewPath() const { return previewPath_; }

  void OnLanguageChanged() override { ApplyTexts(); }

 protected:
  void Notify(const ui::Notification& notification) override;
  bool HandleMessage(int message, qintptr wParam, qintptr lParam) override;
  void OnEscape() override { Cancel(); }
  void reject() override { Cancel(); }

 private:
  static int OnWorkerProgress(void* userValue, int percent);  // worker thread
  void ShowPercent(int percent);
  void Finish(const Status& status, const std::filesystem::path& copy);
  void Cancel();
  void StopWorker();
  void ApplyTexts();

  IPhoneRecoveryParse& engine_;
  std::filesystem::path source_;
  QString fileName_;
  std::thread worker_;
  std::atomic<bool> stop_{false};
  QLabel* name_ = nullptr;
  QLabel* percent_ = nullptr;
  QProgressBar* progress_ = nullptr;
  int shownPercent_ = 0;
  Status result_{kStopped};
  std::filesystem::path previewPath_;
  bool started_ = false;
  bool closing_ = false;
};

}  // namespace corvyn::app
