#include "ui/CMessageBox.h"

#include <QLabel>
#include <QTextEdit>

namespace corvyn::ui {
namespace {

struct KindInfo {
  const char* layout;
  const char* titleId;
};

constexpr KindInfo kKinds[] = {
    {"xml/MessageBox_Error.ui", "MSG0401"},       {"xml/MessageBox_Confirm.ui", "MSG0402"},
    {"xml/MessageBox_Information.ui", "MSG0403"}, {"xml/MessageBox_Question.ui", "MSG0404"},
    {"xml/MessageBox_Warning.ui", "MSG0405"},
};

const KindInfo& Info(int kind) {
  if (kind < kMessageBoxError || kind > kMessageBoxWarning) kind = kMessageBoxInformation;
  return kKinds[kind];
}

}  // namespace

QString CMessageBox::LayoutFor(int kind) {
  return QString::fromLatin1(Info(kind).layout);
}

const char* CMessageBox::DefaultTitleId(int kind) {
  return Info(kind).titleId;
}

Status CMessageBox::Prepare(int kind, QWidget* owner, const std::optional<QString>& title,
                            const QString& text, int width, int height) {
  const QString layout = LayoutFor(kind);
  const QString windowName = layout.section(QLatin1Char('/'), -1).section(QLatin1Char('.'), 0, 0);
  const Status status = Create(owner, layout, windowName, width, height);
  if (status != kOk) return status;
  const QString shownTitle = title.has_value() ? *title : Message(DefaultTitleId(kind));
  if (auto* titleLabel = FindControl<QLabel>(QStringLiteral("title"))) titleLabel->setText(shownTitle);
  setWindowTitle(shownTitle);
  if (auto* message = FindControl<QLabel>(QStringLiteral("message"))) {
    message->setText(text);
  } else if (auto* messageEdit = FindControl<QTextEdit>(QStringLiteral("message"))) {
    messageEdit->setPlainText(text);
  }
  return kOk;
}

int CMessageBox::Show(int kind, QWidget* owner, const std::optional<QString>& title, const QString& text,
                      int width, int height) {
  CMessageBox box(owner);
  if (box.Prepare(kind, owner, title, text, width, height) != kOk) return kCloseCancel;
  return box.DoModal();
}

}  // namespace corvyn::ui
