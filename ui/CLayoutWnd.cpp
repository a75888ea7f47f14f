#include "ui/CLayoutWnd.h"

#include <QAbstractButton>
#include <QBuffer>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QUiLoader>
#include <QVBoxLayout>
#include <QWindow>

#include "ui/SkinArchive.h"

namespace corvyn::ui {
namespace {

const QEvent::Type kPrivateMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class PrivateMessageEvent final : public QEvent {
 public:
  PrivateMessageEvent(int message, qintptr wParam, qintptr lParam)
      : QEvent(kPrivateMessageEvent), message(message), wParam(wParam), lParam(lParam) {}
  const int message;
  const qintptr wParam;
  const qintptr lParam;
};

void SetControlText(QWidget* control, const QString& text) {
  if (auto* label = qobject_cast<QLabel*>(control)) {
    label->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    button->setText(text);
  } else if (auto* line = qobject_cast<QLineEdit*>(control)) {
    line->setText(text);
  } else if (auto* rich = qobject_cast<QTextEdit*>(control)) {
    rich->setPlainText(text);
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(control)) {
    plain->setPlainText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
    group->setTitle(text);
  }
}

// The live windows, in creation order (UI thread only).
QList<CLayoutWnd*>& LiveWindows() {
  static QList<CLayoutWnd*> windows;
  return windows;
}

}  // namespace

void ReapplyLanguageEverywhere() {
  // A window may close or open others while it re-applies its texts.
  const QList<QPointer<CLayoutWnd>> windows(LiveWindows().begin(), LiveWindows().end());
  for (const QPointer<CLayoutWnd>& window : windows) {
    if (window) window->OnLanguageChanged();
  }
}

void ApplyTexts(QWidget* root, const TextSection& section) {
  if (root == nullptr) return;
  for (const auto& [key, text] : section) {
    const QString name = QString::fromStdString(key);
    if (name.isEmpty()) continue;
    QWidget* control = root->objectName() == name ? root : root->findChild<QWidget*>(name);
    if (control != nullptr) SetControlText(control, QString::fromStdString(text));
  }
}

CLayoutWnd::CLayoutWnd(QWidget* parent) : QDialog(parent) {
  setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
  LiveWindows().append(this);
}

CLayoutWnd::~CLayoutWnd() {
  LiveWindows().removeAll(this);
}

Status CLayoutWnd::LoadLayout(const QString& layoutName, const QString& windowName) {
  setObjectName(windowName);
  const SkinArchive& archive = SkinArchive::Current();
  const QString entry = archive.ResolveLayout(layoutName);
  if (entry.isEmpty()) return kInvalidData;
  const auto bytes = archive.Read(entry);
  if (!bytes) return kInvalidData;
  QByteArray content = *bytes;
  QBuffer buffer(&content);
  buffer.open(QIODevice::ReadOnly);
  QUiLoader loader;
  QWidget* form = loader.load(&buffer, this);
  if (form == nullptr) return kInvalidData;

  delete form_;
  delete layout();
  auto* host = new QVBoxLayout(this);
  host->setContentsMargins(0, 0, 0, 0);
  host->setSpacing(0);
  host->addWidget(form);
  form_ = form;
  if (form->width() > 0 && form->height() > 0) resize(form->size());

  for (QWidget* control : form->findChildren<QWidget*>()) ConnectControl(control);
  if (auto* caption = FindControl("caption")) caption->installEventFilter(this);
  ApplyLanguage();
  return kOk;
}

void CLayoutWnd::ApplyLanguage() {
  if (form_ == nullptr || objectName().isEmpty()) return;
  ApplyTexts(form_, Texts().Section(objectName().toStdString()));
}

QString CLayoutWnd::Message(const char* id) {
  return QString::fromStdString(Texts().Text("Messages", id));
}

void CLayoutWnd::ConnectControl(QWidget* control) {
  if (control == nullptr || control->property("corvynConnected").toBool()) return;
  control->setProperty("corvynConnected", true);
  if (auto* push = qobject_cast<QPushButton*>(control)) {
    push->setAutoDefault(false);
    push->setDefault(false);
  }
  if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    connect(button, &QAbstractButton::clicked, this, [this, button] { Dispatch(kNotifyClick, button); });
    if (button->isCheckable()) {
      connect(button, &QAbstractButton::toggled, this,
              [this, button](bool checked) { Dispatch(kNotifySelectChanged, button, checked ? 1 : 0); });
    }
  } else if (auto* list = qobject_cast<QListWidget*>(control)) {
    connect(list, &QListWidget::currentRowChanged, this,
            [this, list](int row) { Dispatch(kNotifyItemSelect, list, row); });
  } else if (auto* tree = qobject_cast<QTreeWidget*>(control)) {
    connect(tree, &QTreeWidget::currentItemChanged, this, [this, tree](QTreeWidgetItem* current) {
      qintptr row = -1;
      if (current != nullptr) {
        row = current->parent() != nullptr ? current->parent()->indexOfChild(current)
                                           : tree->indexOfTopLevelItem(current);
      }
      Dispatch(kNotifyItemSelect, tree, row, reinterpret_cast<qintptr>(current));
    });
  } else if (auto* table = qobject_cast<QTableWidget*>(control)) {
    connect(table, &QTableWidget::currentCellChanged, this,
            [this, table](int row) { Dispatch(kNotifyItemSelect, table, row); });
  } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
    connect(combo, &QComboBox::currentIndexChanged, this,
            [this, combo](int index) { Dispatch(kNotifyItemSelect, combo, index); });
  }
}

void CLayoutWnd::Dispatch(const QString& type, QWidget* sender, qintptr wParam, qintptr lParam) {
  Notification notification;
  notification.type = type;
  notification.sender = sender;
  notification.senderName = sender != nullptr ? sender->objectName() : QString();
  notification.wParam = wParam;
  notification.lParam = lParam;
  Notify(notification);
}

void CLayoutWnd::Notify(const Notification& notification) {
  if (notification.type != QLatin1String(kNotifyClick)) return;
  if (notification.senderName == QLatin1String("minbtn")) showMinimized();
}

bool CLayoutWnd::HandleMessage(int, qintptr, qintptr) {
  return false;
}

void CLayoutWnd::PostPrivateMessage(int message, qintptr wParam, qintptr lParam) {
  QCoreApplication::postEvent(this, new PrivateMessageEvent(message, wParam, lParam));
}

bool CLayoutWnd::SendPrivateMessage(int message, qintptr wParam, qintptr lParam) {
  return HandleMessage(message, wParam, lParam);
}

void CLayoutWnd::SetTimer(QWidget* control, int id, int intervalMs) {
  const auto key = qMakePair(control, id);
  QTimer* timer = timers_.value(key);
  if (timer == nullptr) {
    timer = new QTimer(this);
    timers_.insert(key, timer);
    QPointer<QWidget> target(control);
    connect(timer, &QTimer::timeout, this, [this, target, id] {
      if (target) Dispatch(kNotifyTimer, target, id);
    });
  }
  timer->start(std::max(intervalMs, 0));
}

void CLayoutWnd::KillTimer(QWidget* control, int id) {
  if (QTimer* timer = timers_.take(qMakePair(control, id))) {
    timer->stop();
    timer->deleteLater();
  }
}

bool CLayoutWnd::HasTimer(QWidget* control, int id) const {
  return timers_.contains(qMakePair(control, id));
}

void CLayoutWnd::SizeAndCenter(QWidget* owner, int width, int height) {
  resize(width, height);
  QRect area;
  if (owner != nullptr) {
    area = owner->window()->frameGeometry();
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  if (area.isValid()) move(area.center() - QPoint(width / 2, height / 2));
}

bool CLayoutWnd::event(QEvent* event) {
  if (event->type() == kPrivateMessageEvent) {
    const auto* message = static_cast<PrivateMessageEvent*>(event);
    HandleMessage(message->message, message->wParam, message->lParam);
    return true;
  }
  return QDialog::event(event);
}

void CLayoutWnd::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      event->accept();
      OnEscape();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      event->accept();  // never closes a window
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void CLayoutWnd::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!initialised_) {
    initialised_ = true;
    Dispatch(kNotifyWindowInit, this);
  }
}

bool CLayoutWnd::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FindControl("caption")) {
    if (event->type() == QEvent::MouseButtonPress) {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::LeftButton) {
        QWindow* handle = windowHandle();
        if (handle != nullptr && handle->startSystemMove()) return true;
        dragging_ = true;
        dragOffset_ = mouse->globalPosition().toPoint() - frameGeometry().topLeft();
        return true;
      }
    } else if (event->type() == QEvent::MouseMove && dragging_) {
      move(static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - dragOffset_);
      return true;
    } else if (event->type() == QEvent::MouseButtonRelease) {
      dragging_ = false;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace corvyn::ui
