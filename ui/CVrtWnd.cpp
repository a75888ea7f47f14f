#include "ui/CVrtWnd.h"

#include <QKeyEvent>
#include <QVBoxLayout>

namespace corvyn::ui {

CVrtWnd::CVrtWnd(QWidget* host) : CLayoutWnd(nullptr) {
  setWindowFlags(Qt::Widget);
  if (host != nullptr) Embed(host);
}

void CVrtWnd::Embed(QWidget* host) {
  if (host == nullptr) return;
  setParent(host, Qt::Widget);
  auto* layout = qobject_cast<QVBoxLayout*>(host->layout());
  if (layout == nullptr) {
    delete host->layout();
    layout = new QVBoxLayout(host);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
  }
  layout->addWidget(this);
  show();
}

void CVrtWnd::keyPressEvent(QKeyEvent* event) {
  // A page neither closes nor swallows keys: they belong to its window.
  event->ignore();
  QWidget::keyPressEvent(event);
}

}  // namespace corvyn::ui
