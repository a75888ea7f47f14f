#include "app/CPrintWnd.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QTextDocument>
#include <cstdio>
#include <initializer_list>

#include "app/AppMessages.h"
#include "ui/CMessageBox.h"

namespace corvyn::app {
namespace {

namespace fs = std::filesystem;

// The page's own "Init" starts printing in a browser; here the window does it
// on this timer of the browser control, once the page is shown.
constexpr int kPrintTimerId = 102;
constexpr int kPrintTimerMs = 100;

constexpr int kPageCollecting = 0;
constexpr int kPageShown = 1;

// A language text with "%s" places, filled in order; missing values leave
// the place empty, extra ones are dropped.
QString FillText(const QString& format, std::initializer_list<QString> values) {
  QString out;
  auto next = values.begin();
  for (qsizetype i = 0; i < format.size(); ++i) {
    if (format[i] == QLatin1Char('%') && i + 1 < format.size() && format[i + 1] == QLatin1Char('s')) {
      if (next != values.end()) out += *next++;
      ++i;
      continue;
    }
    out += format[i];
  }
  return out;
}

QString PathText(const fs::path& path) {
  return QString::fromStdString(path.string());
}
QString StatusText(const Status& status) {
  return QString::fromStdString(status.Message());
}

// What the text browser draws well: each record block becomes a two-column
// table (labels on the left), since a text document knows neither the page
// style's custom properties nor its selectors. The page's own style and
// script are dropped; record values are escaped by the collection, so only
// the collection's own markup is rewritten.
const char kPageStyle[] =
    "body { color: #1c2230; font-size: 10pt; }"
    "table.card { margin-bottom: 10px; border-style: solid; border-color: #c9d2de; border-collapse: "
    "collapse; }"
    "td { padding: 3px 8px; vertical-align: top; }"
    "td.label { color: #5b6474; font-weight: bold; white-space: nowrap; background-color: #f3f5f8; }";

QString PageForTextDocument(QString html) {
  static const QRegularExpression kDropped(
      QStringLiteral("<style\\b.*?</style\\s*>|<script\\b.*?</script\\s*>|<!--.*?-->"),
      QRegularExpression::DotMatchesEverythingOption | QRegularExpression::CaseInsensitiveOption);
  html.remove(kDropped);
  html.replace(QStringLiteral("<div>"),
               QStringLiteral("<table class=\"card\" width=\"100%\" border=\"1\" cellspacing=\"0\">"));
  html.replace(QStringLiteral("</div>"), QStringLiteral("</table>"));
  html.replace(QStringLiteral("<p><span>"), QStringLiteral("<tr><td class=\"label\" width=\"22%\">"));
  html.replace(QStringLiteral("</span></p>"), QStringLiteral("</td><td></td></tr>"));
  html.replace(QStringLiteral("</span>"), QStringLiteral("</td><td>"));
  html.replace(QStringLiteral("<p>"), QStringLiteral("<tr><td class=\"label\"></td><td>"));
  html.replace(QStringLiteral("</p>"), QStringLiteral("</td></tr>"));
  return html;
}

}  // namespace

CPrintWnd::CPrintWnd(QWidget* owner, const ScanResults& results, const CStatisticsObj& statistics,
                     RecordCategory category, bool onlyDeleted, exporting::PrintPaths paths)
    : ui::CPopUpWnd(owner),
      results_(results),
      statistics_(statistics),
      selection_{category, onlyDeleted},
      paths_(std::move(paths)) {
  askPrinter = [this](QPrinter& printer) {
    QPrintDialog dialog(&printer, this);
    return dialog.exec() == QDialog::Accepted;
  };
  askPdfPath = [](QWidget* owner) {
    QString path = QFileDialog::getSaveFileName(owner, QString(), QStringLiteral("Print.pdf"),
                                                QStringLiteral("PDF (*.pdf)"));
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".pdf");
    return path;
  };
}

CPrintWnd::~CPrintWnd() {
  CancelAndWait();
}

Status CPrintWnd::Create() {
  const Status status = ui::CPopUpWnd::Create(parentWidget(), QStringLiteral("xml/PrintWnd"),
                                              QStringLiteral("PrintWnd"), kWidth, kHeight);
  if (status != kOk) return status;
  pages_ = FindControl<QStackedWidget>(QStringLiteral("PrintTabPage"));
  browser_ = FindControl<QTextBrowser>(QStringLiteral("WebPagePrint"));
  if (pages_ == nullptr || browser_ == nullptr || pages_->count() < 2) {
    return Status(kInvalidData, "the layout PrintWnd lacks the page switch or the page view");
  }
  pages_->setCurrentIndex(kPageCollecting);
  if (auto* busy = FindControl<QProgressBar>(QStringLiteral("BtnGifPrintLoading"))) busy->setRange(0, 0);
  if (auto* notice = FindControl(QStringLiteral("LblNotice"))) notice->hide();
  browser_->setOpenLinks(false);
  browser_->document()->setDefaultStyleSheet(QString::fromLatin1(kPageStyle));
  ApplyTexts();
  return kOk;
}

void CPrintWnd::ApplyTexts() {
  ApplyLanguage();
  setWindowTitle(Message("MSG1209"));
}

void CPrintWnd::Start() {
  if (!exporting::CategoryPrints(selection_.category)) {
    done_ = true;
    // After the window is up: a box during its first show would come first.
    QMetaObject::invokeMethod(
        this,
        [this] {
          ShowError(Message("MSG0906"));
          closing_ = true;
          Close(kClosedCancelled);
        },
        Qt::QueuedConnection);
    return;
  }
  worker_ = std::thread([this] { Collect(); });
}

void CPrintWnd::Collect() {
  Status templateStatus = kOk;
  fs::path page;
  const Status result = exporting::MakePrintPage(
      results_, statistics_, selection_, [this] { return CancelRequested(); }, paths_, &templateStatus,
      &page);
  result_ = result;
  templateStatus_ = templateStatus;
  if (result.ok()) pagePath_ = page;
  done_ = true;
  PostPrivateMessage(kMsgPrintPageReady);
}

bool CPrintWnd::CancelRequested() {
  if (onEachRecord) onEachRecord();
  std::unique_lock lock(gate_);
  gateChanged_.wait(lock, [this] { return !held_ || cancel_; });
  return cancel_;
}

void CPrintWnd::CancelAndWait() {
  cancel_ = true;
  {
    std::lock_guard lock(gate_);
    held_ = false;
  }
  gateChanged_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void CPrintWnd::ShowCollected() {
  if (worker_.joinable()) worker_.join();  // it has posted its last word
  if (closing_ || asking_) return;
  if (result_.IsStopped()) {
    closing_ = true;
    Close(kClosedCancelled);
    return;
  }
  if (!result_.ok()) {
    std::fprintf(stderr, "corvyn: the print page cannot be written: %s\n", result_.Message().c_str());
    ShowError(FillText(Message("MSG0905"), {PathText(paths_.folder), StatusText(result_)}));
    closing_ = true;
    Close(kClosedCancelled);
    return;
  }
  ShowPage();
}

void CPrintWnd::ShowPage() {
  QFile file(PathText(pagePath_));
  if (!file.open(QIODevice::ReadOnly)) {
    ShowError(FillText(Message("MSG0905"), {PathText(paths_.folder), file.errorString()}));
    closing_ = true;
    Close(kClosedCancelled);
    return;
  }
  auto* notice = FindControl<QLabel>(QStringLiteral("LblNotice"));
  if (notice != nullptr && !templateStatus_.ok()) {
    std::fprintf(stderr, "corvyn: the print template cannot be used: %s\n",
                 templateStatus_.Message().c_str());
    notice->setText(FillText(Message("MSG0904"), {StatusText(templateStatus_)}));
    notice->setToolTip(notice->text());
    notice->show();
  }
  browser_->setHtml(PageForTextDocument(QString::fromUtf8(file.readAll())));
  pages_->setCurrentIndex(kPageShown);
  SetTimer(browser_, kPrintTimerId, kPrintTimerMs);
}

void CPrintWnd::Print() {
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(QStringLiteral("Corvyn"));
  if (!askPrinter || !askPrinter(printer)) return;
  browser_->document()->print(&printer);
  if (printer.printerState() == QPrinter::Error) ShowError(Message("MSG0908"));
}

void CPrintWnd::SavePdf() {
  const QString path = askPdfPath ? askPdfPath(this) : QString();
  if (path.isEmpty()) return;
  // QPrinter says nothing when its file cannot be made: find out first.
  QFile probe(path);
  if (!probe.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    ShowError(FillText(Message("MSG0907"), {path, probe.errorString()}));
    return;
  }
  probe.close();
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(path);
  printer.setDocName(QStringLiteral("Corvyn"));
  browser_->document()->print(&printer);
  if (printer.printerState() == QPrinter::Error || QFileInfo(path).size() == 0) {
    ShowError(FillText(Message("MSG0907"), {path, QString()}));
  }
}

void CPrintWnd::AskToCancel() {
  if (closing_ || asking_) return;
  if (done_) {
    closing_ = true;
    Close(kClosedFinished);
    return;
  }
  asking_ = true;
  {
    std::lock_guard lock(gate_);
    held_ = true;
  }
  const int answer =
      ui::CMessageBox::Show(ui::kMessageBoxWarning, this, std::nullopt, Message("MSG0903"), 550, 200);
  asking_ = false;
  if (answer == ui::kCloseOk) {
    CancelAndWait();
    closing_ = true;
    Close(kClosedCancelled);
    return;
  }
  {
    std::lock_guard lock(gate_);
    held_ = false;
  }
  gateChanged_.notify_all();
  // The page may have been finished just before the hold.
  if (done_) ShowCollected();
}

void CPrintWnd::OnEscape() {
  if (closing_) return;
  CancelAndWait();
  closing_ = true;
  Close(kClosedCancelled);
}

void CPrintWnd::ShowError(const QString& text) {
  ui::CMessageBox::Show(ui::kMessageBoxError, this, std::nullopt, text, 500, 200);
}

void CPrintWnd::Notify(const ui::Notification& notification) {
  const QString& name = notification.senderName;
  if (notification.type == QLatin1String(ui::kNotifyWindowInit)) {
    if (!started_) {
      started_ = true;
      Start();
    }
    return;
  }
  if (notification.type == QLatin1String(ui::kNotifyTimer) && notification.sender == browser_ &&
      notification.wParam == kPrintTimerId) {
    KillTimer(browser_, kPrintTimerId);
    if (!printedOnce_ && !closing_) {
      printedOnce_ = true;
      Print();
    }
    return;
  }
  if (notification.type == QLatin1String(ui::kNotifyClick)) {
    if (name == QLatin1String("closebtn")) {
      AskToCancel();
      return;
    }
    if (name == QLatin1String("BtnPrint")) {
      Print();
      return;
    }
    if (name == QLatin1String("BtnPdf")) {
      SavePdf();
      return;
    }
  }
  // Not CPopUpWnd's: its "closebtn" would close without asking.
  ui::CLayoutWnd::Notify(notification);
}

bool CPrintWnd::HandleMessage(int message, qintptr wParam, qintptr lParam) {
  if (message == kMsgPrintPageReady) {
    ShowCollected();
    return true;
  }
  if (message == kMsgLanguageChanged) {
    ApplyTexts();
    return true;
  }
  return ui::CPopUpWnd::HandleMessage(message, wParam, lParam);
}

}  // namespace corvyn::app
