#include "ui/AppIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace velkor {

QPixmap AppIconPixmap(int size, qreal devicePixelRatio) {
  const int pixels = qMax(1, qRound(size * devicePixelRatio));
  QPixmap pixmap(pixels, pixels);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(pixels / 64.0, pixels / 64.0);  // the SVG's view box
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1f, 0x5f, 0x99));
  p.drawRoundedRect(QRectF(4, 4, 56, 56), 10, 10);
  const qreal opacity[] = {1.0, 0.85, 0.7};
  for (int i = 0; i < 3; ++i) {
    QColor white(Qt::white);
    white.setAlphaF(float(opacity[i]));
    p.setBrush(white);
    p.drawRoundedRect(QRectF(11, 14 + 14 * i, 20, 8), 2, 2);
  }
  QPen stroke(QColor(0xf2, 0xa3, 0x3a), 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(stroke);
  p.setBrush(Qt::NoBrush);
  const QPointF v[] = {{37, 15}, {45, 49}, {53, 15}};
  p.drawPolyline(v, 3);
  p.end();
  pixmap.setDevicePixelRatio(devicePixelRatio);
  return pixmap;
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) icon.addPixmap(AppIconPixmap(size));
  return icon;
}

}  // namespace velkor
