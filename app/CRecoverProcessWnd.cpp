#include "app/CRecoverProcessWnd.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QTreeWidget>
#include <cstdio>

#include "app/AppMessages.h"
#include "ui/CMessageBox.h"

namespace corvyn::app {
namespace {

constexpr int kStatusColumnWidth = 190;

// A language text used as a printf format for integers: each "%d" (also
// "%u", "%i", "%ld", "%lu", "%lld", "%llu") takes the next value, "%%" is a
// percent sign; anything else is kept as written. A text with fewer
// conversions than values shows fewer of them; extra conversions stay as
// written.
QString FormatIntegers(const QString& format, std::initializer_list<uint64_t> values) {
  QString out;
  auto next = values.begin();
  for (qsizetype i = 0; i < format.size(); ++i) {
    if (format[i] != QLatin1Char('%') || i + 1 >= format.size()) {
      out += format[i];
      continue;
    }
    if (format[i + 1] == QLatin1Char('%')) {
      out += QLatin1Char('%');
      ++i;
      continue;
    }
    qsizetype end = i + 1;
    while (end < format.size() && format[end] == QLatin1Char('l')) ++end;
    if (end < format.size() && end - i <= 3 &&
        (format[end] == QLatin1Char('d') || format[end] == QLatin1Char('u') ||
         format[end] == QLatin1Char('i')) &&
        next != values.end()) {
      out += QString::number(*next++);
      i = end;
      continue;
    }
    out += format[i];
  }
  return out;
}

}  // namespace

CRecoverProcessWnd::CRecoverProcessWnd(QWidget* owner, const ScanResults& results,
                                       const CStatisticsObj& statistics, IPhoneRecoveryParse& engine,
                                       exporting::ExportRequest request, platform::IDesktop& desktop,
                                       platform::IDiskSpace* disk)
    : ui::CPopUpWnd(owner),
      request_(request),
      desktop_(desktop),
      job_(results, statistics, engine, std::move(request), this, disk) {}

CRecoverProcessWnd::~CRecoverProcessWnd() {
  // The job reports to this window: it must end before the window goes.
  job_.Control().Cancel();
  (void)job_.Wait();  // a cancelled job's summary is of no further use
}

Status CRecoverProcessWnd::Create() {
  const Status status = ui::CPopUpWnd::Create(parentWidget(), QStringLiteral("RecoverProcessWnd"),
                                              QStringLiteral("RecoverProcessWnd"), kWidth, kHeight);
  if (status != kOk) return status;
  progress_ = FindControl<QProgressBar>(QStringLiteral("Progress"));
  current_ = FindControl<QLabel>(QStringLiteral("current"));
  percent_ = FindControl<QLabel>(QStringLiteral("percent"));
  recovered_ = FindControl<QLabel>(QStringLiteral("recovered"));
  details_ = FindControl<QTreeWidget>(QStringLiteral("DetailList"));
  if (progress_ == nullptr || current_ == nullptr || percent_ == nullptr || recovered_ == nullptr ||
      details_ == nullptr) {
    return Status(kInvalidData, "the layout RecoverProcessWnd lacks a control of the progress window");
  }
  current_->installEventFilter(this);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  details_->hide();
  details_->setTextElideMode(Qt::ElideRight);
  details_->setWordWrap(false);
  QHeaderView* header = details_->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(0, QHeaderView::Stretch);
  header->setSectionResizeMode(1, QHeaderView::Fixed);
  header->resizeSection(1, kStatusColumnWidth);
  header->setDefaultAlignment(Qt::AlignCenter);
  if (auto* finish = FindControl(QStringLiteral("FinishBtn"))) finish->hide();
  setWindowTitle(Message("MSG1209"));
  ApplyTexts();
  return kOk;
}

void CRecoverProcessWnd::ApplyTexts() {
  ApplyLanguage();
  if (auto* title = FindControl<QLabel>(QStringLiteral("title"))) {
    const QString name = Message("MSG1209");
    if (!name.isEmpty()) title->setText(name);
  }
  ShowCounts();
}

void CRecoverProcessWnd::OnProgress(const std::string& currentPath, int percent,
                                    const exporting::ExportCounts& counts) {
  QMetaObject::invokeMethod(
      this,
      [this, path = QString::fromStdString(currentPath), percent, counts] {
        ShowProgress(path, percent, counts);
      },
      Qt::QueuedConnection);
}

void CRecoverProcessWnd::OnDetail(const exporting::ExportDetail& detail, const exporting::ExportCounts&) {
  QMetaObject::invokeMethod(
      this,
      [this, path = QString::fromStdString(detail.path), status = QString::fromStdString(detail.StatusText()),
       ok = detail.ok()] { ShowDetail(path, status, ok); },
      Qt::QueuedConnection);
}

void CRecoverProcessWnd::OnFinished(const exporting::ExportSummary& summary) {
  QMetaObject::invokeMethod(
      this, [this, summary] { ShowFinished(summary); }, Qt::QueuedConnection);
}

void CRecoverProcessWnd::ShowProgress(const QString& path, int percent,
                                      const exporting::ExportCounts& counts) {
  shownPercent_ = percent;
  shownCounts_ = counts;
  currentPath_ = path;
  progress_->setValue(percent);
  ShowCurrentPath();
  ShowCounts();
}

void CRecoverProcessWnd::ShowCurrentPath() {
  // The file name matters most: a long path loses its middle.
  const int room = std::max(current_->width(), 1);
  current_->setText(current_->fontMetrics().elidedText(currentPath_, Qt::ElideMiddle, room));
  current_->setToolTip(currentPath_);
}

bool CRecoverProcessWnd::eventFilter(QObject* watched, QEvent* event) {
  if (watched == current_ && event->type() == QEvent::Resize) ShowCurrentPath();
  return ui::CPopUpWnd::eventFilter(watched, event);
}

void CRecoverProcessWnd::ShowCounts() {
  if (percent_ == nullptr || recovered_ == nullptr) return;
  percent_->setText(Message("MSG1101") + QStringLiteral(" %1%").arg(shownPercent_));
  recovered_->setText(FormatIntegers(Message("MSG1102"), {shownCounts_.done, shownCounts_.total,
                                                          shownCounts_.Succeeded(), shownCounts_.failed}));
}

void CRecoverProcessWnd::ShowDetail(const QString& path, const QString& status, bool ok) {
  auto* row = new QTreeWidgetItem({path, status});
  row->setTextAlignment(0, Qt::AlignLeft | Qt::AlignVCenter);
  row->setTextAlignment(1, Qt::AlignCenter);
  row->setToolTip(0, path);
  row->setToolTip(1, status);
  if (ok) {
    details_->addTopLevelItem(row);
  } else {
    for (int column = 0; column < 2; ++column) row->setForeground(column, QColor(255, 0, 0));
    details_->insertTopLevelItem(0, row);
  }
}

void CRecoverProcessWnd::ShowFinished(const exporting::ExportSummary& summary) {
  if (closing_ || summary_) return;
  summary_ = summary;
  const Status& status = summary.status;
  if (!status.ok() && !status.IsStopped()) {
    // Nothing was written: the job could not start.
    std::fprintf(stderr, "corvyn: the export cannot start: %s\n", status.Message().c_str());
    const QString text =
        summary.templateUnreadable ? Message("MSG1104") : QString::fromStdString(status.Message());
    closing_ = true;
    ui::CMessageBox::Show(ui::kMessageBoxError, this, std::nullopt, text, 500, 200);
    Close(kClosedCancelled);
    return;
  }
  shownCounts_ = summary.counts;
  ShowCounts();
  if (auto* finish = FindControl(QStringLiteral("FinishBtn"))) finish->show();
  if (auto* cancel = FindControl(QStringLiteral("CancelBtn"))) cancel->hide();
}

void CRecoverProcessWnd::ToggleDetails() {
  const bool show = details_->isHidden();
  details_->setVisible(show);
  const QSize size =
      show ? QSize(kWidth + kDetailExtraWidth, kHeight + kDetailExtraHeight) : QSize(kWidth, kHeight);
  // Grow and shrink about the same centre.
  const QSize change = size - this->size();
  resize(size);
  move(pos() - QPoint(change.width() / 2, change.height() / 2));
}

void CRecoverProcessWnd::AskToCancel() {
  if (closing_ || asking_) return;
  if (summary_) {
    Close(kClosedFinished);
    return;
  }
  asking_ = true;
  job_.Control().Hold();
  // Reports made before the hold are shown now, none while the question is open.
  QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
  if (summary_) {
    // The job ended before it could be held.
    asking_ = false;
    job_.Control().Resume();
    if (!closing_) Close(kClosedFinished);
    return;
  }
  const int answer =
      ui::CMessageBox::Show(ui::kMessageBoxWarning, this, std::nullopt, Message("MSG1103"), 550, 200);
  asking_ = false;
  if (answer != ui::kCloseOk) {
    job_.Control().Resume();
    return;
  }
  job_.Control().Cancel();
  summary_ = job_.Wait();
  closing_ = true;
  Close(kClosedCancelled);
}

void CRecoverProcessWnd::OpenDestination() {
  const std::string root = request_.root.string();
  if (const Status opened = desktop_.OpenInDefaultProgram(root); opened != kOk) {
    std::fprintf(stderr, "corvyn: cannot open %s: %s\n", root.c_str(), opened.Message().c_str());
  }
}

void CRecoverProcessWnd::Notify(const ui::Notification& notification) {
  const QString& name = notification.senderName;
  if (notification.type == QLatin1String(ui::kNotifyWindowInit)) {
    if (!started_) {
      started_ = true;
      job_.Start();
    }
    return;
  }
  if (notification.type == QLatin1String(ui::kNotifyClick)) {
    if (name == QLatin1String("OpenBtn")) {
      OpenDestination();
      return;
    }
    if (name == QLatin1String("FinishBtn")) {
      Close(kClosedFinished);
      return;
    }
    if (name == QLatin1String("DetailBtn")) {
      ToggleDetails();
      return;
    }
    if (name == QLatin1String("CancelBtn") || name == QLatin1String("closebtn")) {
      AskToCancel();
      return;
    }
  }
  // Not CPopUpWnd's: its "closebtn" would close without asking.
  ui::CLayoutWnd::Notify(notification);
}

bool CRecoverProcessWnd::HandleMessage(int message, qintptr wParam, qintptr lParam) {
  if (message == kMsgLanguageChanged) {
    ApplyTexts();
    return true;
  }
  return ui::CPopUpWnd::HandleMessage(message, wParam, lParam);
}

}  // namespace corvyn::app
