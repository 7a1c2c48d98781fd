#include "app/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

#include <cmath>

namespace quimbel {

QIcon MakeIcon(IconKind kind) {
  // Drawn on a 32 x 30 grid: twice the 16 x 15 toolbar button.
  QPixmap pixmap(32, 30);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor ink(40, 60, 90);
  p.setPen(QPen(ink, 2));
  switch (kind) {
    case IconKind::kSelect:  // an open folder
      p.setBrush(QColor(240, 200, 90));
      p.drawPolygon(QPolygonF({{3, 8}, {12, 8}, {15, 11}, {29, 11}, {29, 26}, {3, 26}}));
      break;
    case IconKind::kExport:  // a page with an arrow leaving it
      p.setBrush(Qt::white);
      p.drawRect(4, 3, 16, 23);
      p.setPen(QPen(QColor(30, 130, 60), 3));
      p.drawLine(14, 15, 29, 15);
      p.drawLine(23, 9, 29, 15);
      p.drawLine(23, 21, 29, 15);
      break;
    case IconKind::kRepair: {  // a wrench
      p.setPen(QPen(ink, 5, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(8, 24, 20, 12);
      p.setPen(QPen(ink, 2));
      p.setBrush(QColor(160, 170, 185));
      p.drawEllipse(QPointF(22, 9), 7, 7);
      p.setBrush(Qt::white);
      p.drawEllipse(QPointF(23, 8), 3, 3);
      break;
    }
    case IconKind::kPrint:  // a printer
      p.setBrush(Qt::white);
      p.drawRect(9, 3, 14, 9);
      p.setBrush(QColor(170, 175, 185));
      p.drawRect(3, 12, 26, 11);
      p.setBrush(Qt::white);
      p.drawRect(9, 19, 14, 8);
      break;
    case IconKind::kPreferences:  // check boxes
      p.setBrush(Qt::white);
      p.drawRect(4, 4, 9, 9);
      p.drawRect(4, 17, 9, 9);
      p.setPen(QPen(QColor(30, 130, 60), 2.5));
      p.drawLine(6, 8, 8, 11);
      p.drawLine(8, 11, 12, 5);
      p.setPen(QPen(ink, 2));
      p.drawLine(17, 8, 29, 8);
      p.drawLine(17, 21, 29, 21);
      break;
    case IconKind::kStop: {  // a red octagon
      QPolygonF octagon;
      for (int i = 0; i < 8; ++i) {
        const double angle = (22.5 + 45.0 * i) * 3.14159265 / 180.0;
        octagon << QPointF(16 + 13 * std::cos(angle), 15 + 13 * std::sin(angle));
      }
      p.setBrush(QColor(200, 40, 40));
      p.setPen(QPen(QColor(120, 20, 20), 1.5));
      p.drawPolygon(octagon);
      p.setPen(QPen(Qt::white, 3));
      p.drawLine(10, 15, 22, 15);
      break;
    }
    case IconKind::kAbout:  // a question mark in a circle
      p.setBrush(QColor(60, 110, 190));
      p.drawEllipse(QPointF(16, 15), 13, 13);
      p.setPen(Qt::white);
      p.setFont(QFont("Sans", 15, QFont::Bold));
      p.drawText(QRectF(3, 2, 26, 26), Qt::AlignCenter, "?");
      break;
    case IconKind::kProgram:  // a broken chain link
      p.setPen(QPen(QColor(30, 90, 170), 4, Qt::SolidLine, Qt::RoundCap));
      p.setBrush(Qt::transparent);
      p.drawRoundedRect(2, 9, 15, 12, 6, 6);
      p.setPen(QPen(QColor(200, 50, 50), 4, Qt::SolidLine, Qt::RoundCap));
      p.drawRoundedRect(15, 9, 15, 12, 6, 6);
      break;
  }
  p.end();
  return QIcon(pixmap);
}

}  // namespace quimbel
