#include "app/ui/Pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QGuiApplication>
#include <QRadialGradient>

namespace pics {

namespace {

// A transparent canvas of `width` by `height` logical pixels at `dpr`.
QPixmap Canvas(int width, int height, qreal dpr) {
  QPixmap pm(QSize(width, height) * dpr);
  pm.setDevicePixelRatio(dpr);
  pm.fill(Qt::transparent);
  return pm;
}

}  // namespace

QPixmap Banner(int width, int height, qreal dpr) {
  QPixmap pm = Canvas(width, height, dpr);
  QPainter p(&pm);
  QLinearGradient g(0, 0, width, height);
  g.setColorAt(0.0, QColor(0x12, 0x3a, 0x6b));
  g.setColorAt(1.0, QColor(0x2f, 0x7f, 0xc1));
  p.fillRect(QRect(0, 0, width, height), g);
  // A faint harbour line of waves along the bottom.
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(255, 255, 255, 40), 2));
  QPainterPath wave;
  wave.moveTo(0, height - 8);
  for (int x = 0; x < width; x += 24) wave.quadTo(x + 6, height - 14, x + 12, height - 8), wave.quadTo(x + 18, height - 2, x + 24, height - 8);
  p.drawPath(wave);
  return pm;
}

QPixmap Logo(int size, qreal dpr) {
  QPixmap pm = Canvas(size, size, dpr);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient g(size * 0.35, size * 0.3, size * 0.7);
  g.setColorAt(0, QColor(0xff, 0x9a, 0x3c));
  g.setColorAt(1, QColor(0xd9, 0x3b, 0x12));
  p.setBrush(g);
  // Every measure follows the size, so the logo at 2x is the logo at twice the size.
  const qreal ring = size / 16.0;
  const qreal inset = ring / 2 + size / 64.0;
  p.setPen(QPen(Qt::white, ring));
  p.drawEllipse(QRectF(inset, inset, size - 2 * inset, size - 2 * inset));
  QPolygonF play;
  play << QPointF(size * 0.40, size * 0.28) << QPointF(size * 0.74, size * 0.50) << QPointF(size * 0.40, size * 0.72);
  p.setBrush(Qt::white);
  p.setPen(Qt::NoPen);
  p.drawPolygon(play);
  return pm;
}

QPixmap UpdateIcon(qreal dpr) {
  QPixmap pm = Canvas(16, 16, dpr);
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

QPixmap MenuPicture(bool focused, qreal dpr) {
  QPixmap pm = Canvas(28, 20, dpr);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(focused ? QColor(255, 255, 255, 90) : QColor(255, 255, 255, 40));
  p.setPen(QPen(QColor(255, 255, 255, focused ? 230 : 150), 1));
  p.drawRoundedRect(QRectF(0.5, 0.5, 27, 19), 4, 4);
  p.setPen(QPen(Qt::white, 2));
  for (int y : {6, 10, 14}) p.drawLine(QPointF(7, y), QPointF(21, y));
  return pm;
}

const QList<int>& IconSizes() {
  static const QList<int> sizes{16, 22, 24, 32, 48, 64, 128, 256};
  return sizes;
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : IconSizes()) icon.addPixmap(Logo(size));
  return icon;
}

qreal DisplayRatio() { return qApp ? qApp->devicePixelRatio() : 1.0; }

}  // namespace pics
