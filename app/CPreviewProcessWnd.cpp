#include "app/CPreviewProcessWnd.h"

#include <QLabel>
#include <QProgressBar>

#include "app/AppMessages.h"

namespace corvyn::app {

std::mutex& PreviewScratchLock() {
  static std::mutex lock;
  return lock;
}

Status ExtractPreviewCopy(IPhoneRecoveryParse& engine, const std::filesystem::path& source,
                          std::filesystem::path& previewPath, ProgressCallback callback, void* userValue) {
  std::lock_guard hold(PreviewScratchLock());
  return engine.ExtractForPreview(source, previewPath, callback, userValue);
}

CPreviewProcessWnd::CPreviewProcessWnd(QWidget* owner, IPhoneRecoveryParse& engine,
                                       std::filesystem::path source, QString fileName)
    : ui::CPopUpWnd(owner), engine_(engine), source_(std::move(source)), fileName_(std::move(fileName)) {}

CPreviewProcessWnd::~CPreviewProcessWnd() {
  StopWorker();
}

Status CPreviewProcessWnd::Create() {
  const Status status = ui::CPopUpWnd::Create(parentWidget(), QStringLiteral("xml\\PreviewProcessWnd.xml"),
                                              QStringLiteral("PreviewProcessWnd"), kWidth, kHeight);
  if (status != kOk) return status;
  name_ = FindControl<QLabel>(QStringLiteral("LblFileName"));
  percent_ = FindControl<QLabel>(QStringLiteral("LblPercent"));
  progress_ = FindControl<QProgressBar>(QStringLiteral("Progress"));
  if (name_ == nullptr || percent_ == nullptr || progress_ == nullptr) {
    return Status(kInvalidData, "the layout PreviewProcessWnd lacks a control of the progress window");
  }
  progress_->setRange(0, 100);
  progress_->setValue(0);
  name_->setText(fileName_);
  name_->setToolTip(fileName_);
  ApplyTexts();
  return kOk;
}

void CPreviewProcessWnd::ApplyTexts() {
  if (name_ == nullptr) return;
  ApplyLanguage();
  name_->setText(fileName_);
  ShowPercent(shownPercent_);
}

int CPreviewProcessWnd::OnWorkerProgress(void* userValue, int percent) {
  auto* self = static_cast<CPreviewProcessWnd*>(userValue);
  if (self->stop_.load()) return kStopAnswer;
  QMetaObject::invokeMethod(
      self, [self, percent] { self->ShowPercent(percent); }, Qt::QueuedConnection);
  return 0;
}

void CPreviewProcessWnd::ShowPercent(int percent) {
  if (closing_) return;
  shownPercent_ = std::clamp(percent, 0, 100);
  progress_->setValue(shownPercent_);
  percent_->setText(QStringLiteral("%1 %2%").arg(Message("MSG1101")).arg(shownPercent_));
}

void CPreviewProcessWnd::Finish(const Status& status, const std::filesystem::path& copy) {
  if (closing_) return;
  closing_ = true;
  StopWorker();
  result_ = status;
  if (status.ok()) previewPath_ = copy;
  Close(status.ok() ? kClosedCopied : kClosedNotCopied);
}

void CPreviewProcessWnd::Cancel() {
  if (closing_) return;
  closing_ = true;
  StopWorker();
  result_ = kStopped;
  previewPath_.clear();
  Close(kClosedNotCopied);
}

void CPreviewProcessWnd::StopWorker() {
  stop_.store(true);
  if (worker_.joinable()) worker_.join();
}

void CPreviewProcessWnd::Notify(const ui::Notification& notification) {
  if (notification.type == QLatin1String(ui::kNotifyWindowInit)) {
    if (!started_) {
      started_ = true;
      worker_ = std::thread([this] {
        std::filesystem::path copy;
        const Status status = ExtractPreviewCopy(engine_, source_, copy, &OnWorkerProgress, this);
        QMetaObject::invokeMethod(
            this, [this, status, copy] { Finish(status, copy); }, Qt::QueuedConnection);
      });
    }
    return;
  }
  if (notification.type == QLatin1String(ui::kNotifyClick) &&
      (notification.senderName == QLatin1String("BtnCancel") ||
       notification.senderName == QLatin1String("closebtn"))) {
    Cancel();
    return;
  }
  ui::CLayoutWnd::Notify(notification);
}

bool CPreviewProcessWnd::HandleMessage(int message, qintptr wParam, qintptr lParam) {
  if (message == kMsgLanguageChanged) {
    ApplyTexts();
    return true;
  }
  return ui::CPopUpWnd::HandleMessage(message, wParam, lParam);
}

}  // namespace corvyn::app
