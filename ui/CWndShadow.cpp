#include "ui/CWndShadow.h"

#include <QEvent>
#include <QPainter>
#include <algorithm>

namespace corvyn::ui {

CWndShadow::CWndShadow() : QWidget(nullptr) {
  setObjectName(QStringLiteral("CLumenShadowWnd"));
  setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                 Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint);
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_ShowWithoutActivating);
}

CWndShadow::~CWndShadow() {
  if (owner_) owner_->removeEventFilter(this);
}

void CWndShadow::Create(QWidget* owner, int size, int offsetX, int offsetY, int darkness, QColor color) {
  if (owner_) owner_->removeEventFilter(this);
  owner_ = owner;
  size_ = std::clamp(size, 0, 20);
  offsetX_ = offsetX;
  offsetY_ = offsetY;
  darkness_ = std::clamp(darkness, 0, 255);
  color_ = color;
  if (owner_) {
    owner_->installEventFilter(this);
    Follow();
  }
}

QRect CWndShadow::GeometryFor(const QRect& ownerGeometry) const {
  return ownerGeometry.translated(offsetX_, offsetY_).adjusted(-size_, -size_, size_, size_);
}

void CWndShadow::Follow() {
  if (!owner_) return;
  const bool visible = owner_->isVisible() && !owner_->isMinimized();
  setGeometry(GeometryFor(owner_->frameGeometry()));
  if (visible && !isVisible()) {
    show();
    owner_->raise();
  } else if (!visible && isVisible()) {
    hide();
  }
}

bool CWndShadow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == owner_) {
    switch (event->type()) {
      case QEvent::Move:
      case QEvent::Resize:
      case QEvent::Show:
      case QEvent::Hide:
      case QEvent::WindowStateChange:
        Follow();
        break;
      case QEvent::Destroy:
        owner_ = nullptr;
        hide();
        break;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CWndShadow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.fillRect(rect(), Qt::transparent);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter.setRenderHint(QPainter::Antialiasing);
  // Rings from the outside in, each darker; the alpha falls off with the
  // square of the distance from the window edge.
  for (int ring = 0; ring < size_; ++ring) {
    const double closeness = static_cast<double>(ring + 1) / size_;
    QColor shade = color_;
    shade.setAlpha(static_cast<int>(darkness_ * closeness * closeness));
    painter.setPen(QPen(shade, 1));
    painter.setBrush(Qt::NoBrush);
    const QRectF ringRect = QRectF(rect()).adjusted(ring + 0.5, ring + 0.5, -ring - 0.5, -ring - 0.5);
    painter.drawRoundedRect(ringRect, size_ - ring, size_ - ring);
  }
}

}  // namespace corvyn::ui
