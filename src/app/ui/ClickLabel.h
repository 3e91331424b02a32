// A label that reports a left click, for the pictures and links of the windows.
#pragma once

#include <QLabel>
#include <QMouseEvent>

class TClickLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TClickLabel(QWidget* parent = nullptr) : QLabel(parent) {}

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* e) override {
    QLabel::mousePressEvent(e);
    if (e->button() == Qt::LeftButton) pressed_ = true;
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    QLabel::mouseReleaseEvent(e);
    bool click = pressed_ && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint());
    pressed_ = false;
    if (click) emit clicked();
  }

 private:
  bool pressed_ = false;
};
