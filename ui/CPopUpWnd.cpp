#include "ui/CPopUpWnd.h"

namespace corvyn::ui {

CPopUpWnd::CPopUpWnd(QWidget* owner) : CLayoutWnd(owner) {
  setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  setModal(true);
}

Status CPopUpWnd::Create(QWidget* owner, const QString& layoutName, const QString& windowName, int width,
                         int height) {
  if (owner != nullptr && parentWidget() != owner) {
    setParent(owner, Qt::Dialog | Qt::FramelessWindowHint);
  }
  const Status status = LoadLayout(layoutName, windowName);
  SizeAndCenter(owner, width, height);
  return status;
}

void CPopUpWnd::Notify(const Notification& notification) {
  if (notification.type == QLatin1String(kNotifyClick)) {
    if (notification.senderName == QLatin1String("okbtn")) {
      Close(kCloseOk);
      return;
    }
    if (notification.senderName == QLatin1String("closebtn") ||
        notification.senderName == QLatin1String("cancelbtn")) {
      Close(kCloseCancel);
      return;
    }
  }
  CLayoutWnd::Notify(notification);
}

}  // namespace corvyn::ui
