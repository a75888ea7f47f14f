#include "app/BusySpinner.h"

#include <QColor>
#include <QPainter>

namespace corvyn::app {

QPixmap BusySpinnerFrame(int side, int step, bool running) {
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.translate(side / 2.0, side / 2.0);
  const double dot = side / 9.0;
  const double radius = side / 2.0 - dot - 1;
  for (int i = 0; i < kBusySpinnerSteps; ++i) {
    const int age = (step - i + kBusySpinnerSteps) % kBusySpinnerSteps;
    QColor colour(0x1E, 0x88, 0xA8);
    colour.setAlphaF(running ? 1.0 - age * 0.07 : 0.35);
    painter.setBrush(colour);
    painter.setPen(Qt::NoPen);
    painter.save();
    painter.rotate(360.0 * i / kBusySpinnerSteps);
    painter.drawEllipse(QPointF(0, -radius), dot, dot);
    painter.restore();
  }
  return pixmap;
}

}  // namespace corvyn::app
