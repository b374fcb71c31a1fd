#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "ldr_dialog.h"

// A chip with an arrow pointing into it: firmware going into the device.
QPixmap ldr_program_icon(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);

  p.setPen(QPen(QColor(70, 70, 70), 1.2));
  for (int i = 0; i < 4; ++i) {
    const double x = 9.5 + i * 4.5;
    p.drawLine(QPointF(x, 13), QPointF(x, 10.5));
    p.drawLine(QPointF(x, 29), QPointF(x, 31.5));
  }
  QLinearGradient body(0, 13, 0, 29);
  body.setColorAt(0, QColor(60, 60, 68));
  body.setColorAt(1, QColor(25, 25, 30));
  p.setBrush(body);
  p.setPen(QPen(QColor(15, 15, 15), 1));
  p.drawRoundedRect(QRectF(6, 13, 20, 16), 2, 2);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(120, 200, 255));
  p.drawEllipse(QPointF(9.5, 26), 1.2, 1.2);

  QPainterPath arrow;
  arrow.moveTo(13, 1);
  arrow.lineTo(19, 1);
  arrow.lineTo(19, 9);
  arrow.lineTo(24, 9);
  arrow.lineTo(16, 19);
  arrow.lineTo(8, 9);
  arrow.lineTo(13, 9);
  arrow.closeSubpath();
  p.setBrush(QColor(40, 170, 60));
  p.setPen(QPen(QColor(20, 90, 30), 1));
  p.drawPath(arrow);
  return pm;
}
