#include "Pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace kl {
namespace {

const QColor kDeep(16, 46, 92);
const QColor kSea(28, 104, 170);
const QColor kFuel(236, 160, 40);

// A tank seen from the side with the sensor on top and its echo rings.
void DrawTank(QPainter& p, const QRectF& r) {
  p.setPen(QPen(QColor(230, 238, 246), 4));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(r, r.height() * 0.18, r.height() * 0.18);
  QRectF fuel(r.left() + 4, r.top() + r.height() * 0.45, r.width() - 8, r.height() * 0.55 - 4);
  QPainterPath clip;
  clip.addRoundedRect(r.adjusted(2, 2, -2, -2), r.height() * 0.17, r.height() * 0.17);
  p.save();
  p.setClipPath(clip);
  p.fillRect(fuel, kFuel);
  p.restore();
  const QPointF sensor(r.center().x(), r.top());
  p.setBrush(QColor(230, 238, 246));
  p.drawRect(QRectF(sensor.x() - 14, sensor.y() - 22, 28, 22));
  p.setBrush(Qt::NoBrush);
  for (int i = 1; i <= 3; ++i) {
    p.setPen(QPen(QColor(255, 255, 255, 220 - 50 * i), 3));
    const double rad = 24.0 * i;
    p.drawArc(QRectF(sensor.x() - rad, sensor.y() - rad + 8, 2 * rad, 2 * rad), -40 * 16, -100 * 16);
  }
}

}  // namespace

QImage DrawLogo() {
  QImage img(kLogoWidth, kLogoHeight, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, kLogoWidth, kLogoHeight);
  g.setColorAt(0, kDeep);
  g.setColorAt(1, kSea);
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawRoundedRect(QRectF(8, 8, kLogoWidth - 16, kLogoHeight - 16), 36, 36);
  DrawTank(p, QRectF(70, 120, 300, 180));
  p.setPen(Qt::white);
  QFont big("DejaVu Sans", 96, QFont::Bold);
  p.setFont(big);
  p.drawText(QRectF(420, 70, 580, 140), Qt::AlignLeft | Qt::AlignVCenter, "KL31");
  QFont mid("DejaVu Sans", 34);
  p.setFont(mid);
  p.drawText(QRectF(424, 200, 580, 60), Qt::AlignLeft | Qt::AlignVCenter, "Install Service");
  QFont small("DejaVu Sans", 18);
  p.setFont(small);
  p.setPen(QColor(200, 220, 240));
  p.drawText(QRectF(426, 270, 580, 40), Qt::AlignLeft | Qt::AlignVCenter,
             QString::fromUtf8("Ультразвуковой датчик уровня топлива"));
  p.drawText(QRectF(426, 305, 580, 40), Qt::AlignLeft | Qt::AlignVCenter, "v.2.0.0.9");
  return img;
}

QImage DrawLogoShort() {
  QImage img(kLogoShortWidth, kLogoShortHeight, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, kLogoShortWidth, 0);
  g.setColorAt(0, kSea);
  g.setColorAt(1, kDeep);
  p.fillRect(img.rect(), g);
  // Echo pulses running along the strip; the name sits at the right edge,
  // which stays in view when the window is narrower than the picture.
  p.setPen(QPen(QColor(255, 255, 255, 90), 2));
  QPainterPath wave;
  wave.moveTo(0, 14);
  for (int x = 0; x < kLogoShortWidth - 260; x += 2) {
    const double y = 14 + 9 * std::sin(x / 9.0) * std::exp(-std::fmod(x, 240.0) / 80.0);
    wave.lineTo(x, y);
  }
  p.drawPath(wave);
  p.setPen(Qt::white);
  p.setFont(QFont("DejaVu Sans", 12, QFont::Bold));
  p.drawText(QRect(kLogoShortWidth - 250, 0, 240, kLogoShortHeight), Qt::AlignRight | Qt::AlignVCenter,
             "KL31 Install Service");
  p.setPen(kFuel);
  p.drawRect(QRect(kLogoShortWidth - 262, 7, 6, 14));
  return img;
}

}  // namespace kl
