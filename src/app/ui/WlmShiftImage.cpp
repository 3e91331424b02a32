#include "app/ui/WlmShiftImage.h"

#include <QEnterEvent>
#include <QMouseEvent>

TWlmShiftImage::TWlmShiftImage(QWidget* parent) : QLabel(parent) {}

void TWlmShiftImage::enterEvent(QEnterEvent* e) {
  QLabel::enterEvent(e);
  if (OnMouseEnter) OnMouseEnter();
  if (isEnabled()) {
    setPixmap(FFocusedPicture);
    update();
  }
}

void TWlmShiftImage::leaveEvent(QEvent* e) {
  QLabel::leaveEvent(e);
  if (OnMouseLeave) OnMouseLeave();
  if (isEnabled()) {
    setPixmap(FNoFocusedPicture);
    update();
  }
}

void TWlmShiftImage::mousePressEvent(QMouseEvent* e) {
  QLabel::mousePressEvent(e);
  if (e->button() == Qt::LeftButton) FLeftDown = true;
  // A second button while one is held leaves the control where it is.
  if (!FPressed) {
    FPressed = true;
    move(x() + 2, y() + 2);
  }
}

void TWlmShiftImage::mouseReleaseEvent(QMouseEvent* e) {
  QLabel::mouseReleaseEvent(e);
  // The press moved us: judge the release in the pressed position.
  const bool inside = rect().contains(e->position().toPoint());
  const bool click = FLeftDown && e->button() == Qt::LeftButton && inside;
  if (e->button() == Qt::LeftButton) FLeftDown = false;
  Unpress();
  if (click && OnClick) OnClick();
}

void TWlmShiftImage::Unpress() {
  if (!FPressed) return;
  FPressed = false;
  move(x() - 2, y() - 2);
}
