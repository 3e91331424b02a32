#include "app/ui/Pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace pics {

QPixmap Banner(int width, int height) {
  QPixmap pm(width, height);
  QPainter p(&pm);
  QLinearGradient g(0, 0, width, height);
  g.setColorAt(0.0, QColor(0x12, 0x3a, 0x6b));
  g.setColorAt(1.0, QColor(0x2f, 0x7f, 0xc1));
  p.fillRect(pm.rect(), g);
  // A faint harbour line of waves along the bottom.
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(255, 255, 255, 40), 2));
  QPainterPath wave;
  wave.moveTo(0, height - 8);
  for (int x = 0; x < width; x += 24) wave.quadTo(x + 6, height - 14, x + 12, height - 8), wave.quadTo(x + 18, height - 2, x + 24, height - 8);
  p.drawPath(wave);
  return pm;
}

QPixmap Logo(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient g(size * 0.35, size * 0.3, size * 0.7);
  g.setColorAt(0, QColor(0xff, 0x9a, 0x3c));
  g.setColorAt(1, QColor(0xd9, 0x3b, 0x12));
  p.setBrush(g);
  p.setPen(QPen(Qt::white, size / 16.0));
  p.drawEllipse(QRectF(1.5, 1.5, size - 3, size - 3));
  QPolygonF play;
  play << QPointF(size * 0.40, size * 0.28) << QPointF(size * 0.74, size * 0.50) << QPointF(size * 0.40, size * 0.72);
  p.setBrush(Qt::white);
  p.setPen(Qt::NoPen);
  p.drawPolygon(play);
  return pm;
}

QPixmap UpdateIcon() {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(0x3c, 0xb3, 0x4a));
  p.setPen(QPen(Qt::white, 1));
  p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
  QPolygonF arrow;
  arrow << QPointF(8, 3) << QPointF(12.5, 8) << QPointF(9.5, 8) << QPointF(9.5, 12.5) << QPointF(6.5, 12.5)
        << QPointF(6.5, 8) << QPointF(3.5, 8);
  p.setBrush(Qt::white);
  p.setPen(Qt::NoPen);
  p.drawPolygon(arrow);
  return pm;
}

QPixmap MenuPicture(bool focused) {
  QPixmap pm(28, 20);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(focused ? QColor(255, 255, 255, 90) : QColor(255, 255, 255, 40));
  p.setPen(QPen(QColor(255, 255, 255, focused ? 230 : 150), 1));
  p.drawRoundedRect(QRectF(0.5, 0.5, 27, 19), 4, 4);
  p.setPen(QPen(Qt::white, 2));
  for (int y : {6, 10, 14}) p.drawLine(QPointF(7, y), QPointF(21, y));
  return pm;
}

}  // namespace pics
