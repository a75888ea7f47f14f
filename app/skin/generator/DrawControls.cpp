// Draws the sprite sheet "Controls.png" from the icon table: simple flat
// icons of our own, one at every source rectangle. Run at build time:
//   corvyn_draw_controls <output.png>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

#include "app/skin/ControlsSheet.h"

namespace {

using corvyn::app::skin::Glyph;

const QColor kInk(0x23, 0x39, 0x5B);
const QColor kAccent(0x1E, 0x88, 0xA8);
const QColor kPaper(0xF4, 0xF7, 0xFA);
const QColor kDanger(0xF3, 0x73, 0x02);
const QColor kGreen(0x2E, 0xA0, 0x5A);

void DrawGlyph(QPainter& p, const QRectF& r, Glyph glyph) {
  const qreal w = r.width(), h = r.height();
  const QPointF c = r.center();
  QPen outline(kInk, 1.4);
  outline.setJoinStyle(Qt::RoundJoin);
  outline.setCapStyle(Qt::RoundCap);
  p.setPen(outline);
  p.setBrush(Qt::NoBrush);
  switch (glyph) {
    case Glyph::kCamera:
      p.setBrush(kAccent);
      p.drawRoundedRect(r.adjusted(1.5, 4.5, -1.5, -2.5), 2, 2);
      p.drawRect(QRectF(r.left() + 5, r.top() + 2.5, 5, 2));
      p.setBrush(kPaper);
      p.drawEllipse(QPointF(c.x(), c.y() + 1), 3.2, 3.2);
      break;
    case Glyph::kCloud: {
      p.setBrush(kAccent);
      QPainterPath cloud;
      cloud.addEllipse(QPointF(c.x() - 3, c.y() + 1.5), 4, 3.5);
      cloud.addEllipse(QPointF(c.x() + 1, c.y() - 1.5), 4.5, 4.5);
      cloud.addEllipse(QPointF(c.x() + 4.5, c.y() + 2), 3.2, 3);
      p.drawPath(cloud.simplified());
      break;
    }
    case Glyph::kPicture: {
      p.setBrush(kPaper);
      p.drawRect(r.adjusted(1.5, 2.5, -1.5, -2.5));
      p.setBrush(kAccent);
      QPolygonF hill;
      hill << QPointF(r.left() + 2.5, r.bottom() - 3.5) << QPointF(r.left() + 7, r.top() + 8)
           << QPointF(r.left() + 10, r.bottom() - 6) << QPointF(r.left() + 12, r.top() + 9.5)
           << QPointF(r.right() - 2.5, r.bottom() - 3.5);
      p.drawPolygon(hill);
      p.drawEllipse(QPointF(r.right() - 5, r.top() + 6), 1.5, 1.5);
      break;
    }
    case Glyph::kFilm:
    case Glyph::kVideoFile: {
      p.setBrush(kInk);
      p.drawRoundedRect(r.adjusted(1.5, 3.5, -1.5, -3.5), 1.5, 1.5);
      p.setPen(Qt::NoPen);
      p.setBrush(kPaper);
      QPolygonF play;
      play << QPointF(c.x() - 2.5, c.y() - 3.5) << QPointF(c.x() + 3.5, c.y())
           << QPointF(c.x() - 2.5, c.y() + 3.5);
      p.drawPolygon(play);
      break;
    }
    case Glyph::kBubble:
    case Glyph::kChat: {
      const QColor fill = glyph == Glyph::kChat ? kGreen : kAccent;
      p.setBrush(fill);
      QPainterPath bubble;
      bubble.addRoundedRect(r.adjusted(1.5, 2.5, -1.5, -5.5), 4, 4);
      QPolygonF tail;
      tail << QPointF(r.left() + 4, r.bottom() - 6) << QPointF(r.left() + 3, r.bottom() - 1.5)
           << QPointF(r.left() + 9, r.bottom() - 6);
      bubble.addPolygon(tail);
      p.drawPath(bubble.simplified());
      p.setPen(QPen(kPaper, 1.4));
      p.drawLine(QPointF(r.left() + 5, c.y() - 2), QPointF(r.right() - 5, c.y() - 2));
      p.drawLine(QPointF(r.left() + 5, c.y() + 1), QPointF(r.right() - 7, c.y() + 1));
      break;
    }
    case Glyph::kPaperclip: {
      p.setPen(QPen(kInk, 1.6, Qt::SolidLine, Qt::RoundCap));
      QPainterPath clip;
      clip.moveTo(r.left() + 11, r.top() + 5);
      clip.lineTo(r.left() + 11, r.bottom() - 5);
      clip.arcTo(QRectF(r.left() + 5, r.bottom() - 8, 6, 6), 0, -180);
      clip.lineTo(r.left() + 5, r.top() + 4);
      clip.arcTo(QRectF(r.left() + 5, r.top() + 1.5, 8, 6), 180, -180);
      clip.lineTo(r.left() + 13, r.bottom() - 4);
      p.drawPath(clip);
      break;
    }
    case Glyph::kPerson:
      p.setBrush(kAccent);
      p.drawEllipse(QPointF(c.x(), r.top() + 6), 3.5, 3.5);
      p.drawChord(QRectF(r.left() + 2.5, r.top() + 10.5, w - 5, 12), 0, 180 * 16);
      break;
    case Glyph::kPhone: {
      p.setBrush(kAccent);
      QPainterPath handset;
      handset.moveTo(r.left() + 3, r.top() + 4);
      handset.quadTo(r.left() + 3, r.bottom() - 3, r.right() - 4, r.bottom() - 3);
      handset.lineTo(r.right() - 2.5, r.bottom() - 6);
      handset.lineTo(r.right() - 6, r.bottom() - 8);
      handset.lineTo(r.right() - 8, r.bottom() - 6.5);
      handset.quadTo(r.left() + 7, r.top() + 10, r.left() + 6.5, r.top() + 8);
      handset.lineTo(r.left() + 8, r.top() + 6);
      handset.lineTo(r.left() + 6, r.top() + 2.5);
      handset.closeSubpath();
      p.drawPath(handset);
      break;
    }
    case Glyph::kNote:
      p.setBrush(QColor(0xFF, 0xE0, 0x82));
      p.drawRect(r.adjusted(3.5, 1.5, -3.5, -1.5));
      for (int line = 0; line < 3; ++line) {
        p.drawLine(QPointF(r.left() + 6, r.top() + 6 + line * 3),
                   QPointF(r.right() - 6, r.top() + 6 + line * 3));
      }
      break;
    case Glyph::kFolder: {
      p.setBrush(QColor(0xF2, 0xB6, 0x3C));
      QPolygonF folder;
      folder << QPointF(r.left() + 1.5, r.top() + 4.5) << QPointF(r.left() + 7, r.top() + 4.5)
             << QPointF(r.left() + 8.5, r.top() + 6.5) << QPointF(r.right() - 1.5, r.top() + 6.5)
             << QPointF(r.right() - 1.5, r.bottom() - 2.5) << QPointF(r.left() + 1.5, r.bottom() - 2.5);
      p.drawPolygon(folder);
      break;
    }
    case Glyph::kFile: {
      p.setBrush(kPaper);
      QPolygonF page;
      page << QPointF(r.left() + 3.5, r.top() + 1.5) << QPointF(r.right() - 7.5, r.top() + 1.5)
           << QPointF(r.right() - 3.5, r.top() + 5.5) << QPointF(r.right() - 3.5, r.bottom() - 1.5)
           << QPointF(r.left() + 3.5, r.bottom() - 1.5);
      p.drawPolygon(page);
      p.drawLine(QPointF(r.right() - 7.5, r.top() + 1.5), QPointF(r.right() - 7.5, r.top() + 5.5));
      p.drawLine(QPointF(r.right() - 7.5, r.top() + 5.5), QPointF(r.right() - 3.5, r.top() + 5.5));
      break;
    }
    case Glyph::kDeleted:
      p.setPen(Qt::NoPen);
      p.setBrush(kDanger);
      p.drawEllipse(r.adjusted(1, 1, -1, -1));
      p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(c.x() - 3, c.y() - 3), QPointF(c.x() + 3, c.y() + 3));
      p.drawLine(QPointF(c.x() + 3, c.y() - 3), QPointF(c.x() - 3, c.y() + 3));
      break;
    case Glyph::kBackup:
    case Glyph::kLockedBackup: {
      // A phone beside a stack of disks.
      p.setBrush(kInk);
      p.drawRoundedRect(QRectF(r.left() + 4.5, r.top() + 1.5, 12, h - 3), 2.5, 2.5);
      p.setBrush(kPaper);
      p.drawRect(QRectF(r.left() + 6.5, r.top() + 4.5, 8, h - 10));
      p.setBrush(kAccent);
      for (int disk = 0; disk < 3; ++disk) {
        p.drawEllipse(QRectF(r.left() + 21.5, r.top() + 4.5 + disk * 6, 14, 5));
      }
      if (glyph == Glyph::kLockedBackup) {
        p.setPen(QPen(kDanger, 2));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(r.right() - 11, r.top() + 5, 7, 8), 0, 180 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(kDanger);
        p.drawRoundedRect(QRectF(r.right() - 12.5, r.top() + 10, 10, 9), 1.5, 1.5);
      }
      break;
    }
    case Glyph::kCheck:
      p.setPen(QPen(kAccent, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.drawPolyline(QPolygonF() << QPointF(r.left() + 3, c.y()) << QPointF(c.x() - 1, r.bottom() - 4)
                                 << QPointF(r.right() - 3, r.top() + 4));
      break;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output.png>\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  QImage sheet(corvyn::app::skin::kSheetWidth, corvyn::app::skin::kSheetHeight,
               QImage::Format_ARGB32_Premultiplied);
  sheet.fill(Qt::transparent);
  {
    QPainter painter(&sheet);
    painter.setRenderHint(QPainter::Antialiasing);
    for (const auto& icon : corvyn::app::skin::kSheetIcons) {
      const QRectF area(icon.left, icon.top, icon.right - icon.left, icon.bottom - icon.top);
      painter.save();
      painter.setClipRect(area);
      DrawGlyph(painter, area, icon.glyph);
      painter.restore();
    }
  }
  if (!sheet.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
