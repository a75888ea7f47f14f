#include "app/CDecryptionWnd.h"

#include <QLabel>
#include <QLineEdit>
#include <cstdio>

#include "app/AppMessages.h"
#include "ui/CMessageBox.h"

namespace corvyn::app {
namespace {

constexpr int kMaxPasswordLength = 256;

}  // namespace

CDecryptionWnd::CDecryptionWnd(QWidget* owner, Purpose purpose) : ui::CPopUpWnd(owner), purpose_(purpose) {}

Status CDecryptionWnd::Create() {
  const Status status = ui::CPopUpWnd::Create(parentWidget(), QStringLiteral("xml/DecryptionWnd"),
                                              QStringLiteral("DecryptionWnd"), kWidth, kHeight);
  if (status != kOk) return Status(kInvalidData, "the password dialog's layout cannot be loaded");
  auto* edit = FindControl<QLineEdit>(QStringLiteral("EditPassword"));
  if (edit == nullptr) return Status(kInvalidData, "the password dialog's layout has no password field");
  edit->setEchoMode(QLineEdit::Password);
  edit->setMaxLength(kMaxPasswordLength);
  // Windows swallow Enter so that it never presses a button; in the field it
  // means "this is the password".
  connect(edit, &QLineEdit::returnPressed, this, [this] { Confirm(); });
  edit->setFocus();
  ApplyTexts();
  return kOk;
}

void CDecryptionWnd::ApplyTexts() {
  ApplyLanguage();
  const QString description = Message(purpose_ == Purpose::kDevice ? "MSG0601" : "MSG0602");
  if (auto* label = FindControl<QLabel>(QStringLiteral("Description")); label && !description.isEmpty()) {
    label->setText(description);
  }
  if (auto* title = FindControl<QLabel>(QStringLiteral("Title"))) setWindowTitle(title->text());
}

void CDecryptionWnd::Confirm() {
  if (auto* edit = FindControl<QLineEdit>(QStringLiteral("EditPassword"))) password_ = edit->text();
  Close(ui::kCloseOk);
}

void CDecryptionWnd::Notify(const ui::Notification& notification) {
  if (notification.type == QLatin1String(ui::kNotifyWindowInit)) {
    ApplyTexts();
    if (auto* edit = FindControl(QStringLiteral("EditPassword"))) edit->setFocus();
    return;
  }
  if (notification.type == QLatin1String(ui::kNotifyClick)) {
    if (notification.senderName == QLatin1String("BtnOK")) {
      Confirm();
      return;
    }
    if (notification.senderName == QLatin1String("BtnCancel")) {
      Close(ui::kCloseCancel);
      return;
    }
  }
  ui::CPopUpWnd::Notify(notification);
}

bool CDecryptionWnd::HandleMessage(int message, qintptr wParam, qintptr lParam) {
  if (message == kMsgLanguageChanged) {
    ApplyTexts();
    return true;
  }
  return ui::CPopUpWnd::HandleMessage(message, wParam, lParam);
}

bool AskBackupPassword(QWidget* owner, std::string* password) {
  for (;;) {
    CDecryptionWnd dialog(owner, CDecryptionWnd::Purpose::kBackup);
    if (const Status created = dialog.Create(); created != kOk) {
      std::fprintf(stderr, "corvyn: %s\n", created.Message().c_str());
      ui::CMessageBox::Show(ui::kMessageBoxError, owner, std::nullopt,
                            QString::fromStdString(created.Message()), 550, 200);
      return false;
    }
    if (dialog.DoModal() != ui::kCloseOk) return false;
    const QString typed = dialog.Password();
    if (typed.isEmpty()) {
      const int answer = ui::CMessageBox::Show(ui::kMessageBoxWarning, owner, std::nullopt,
                                               ui::CLayoutWnd::Message("MSG0301"), 550, 200);
      if (answer == ui::kCloseOk) continue;
    }
    *password = typed.toStdString();
    return true;
  }
}

}  // namespace corvyn::app
