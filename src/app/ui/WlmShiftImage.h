// A picture that changes under the mouse and shifts while a button is held,
// so that it reads as a button.
#pragma once

#include <QLabel>
#include <QPixmap>

#include <functional>

class TWlmShiftImage : public QLabel {
  Q_OBJECT
 public:
  explicit TWlmShiftImage(QWidget* parent = nullptr);

  // Shown while the mouse is over the control; the picture is copied.
  const QPixmap& FocusedPicture() const { return FFocusedPicture; }
  void SetFocusedPicture(const QPixmap& p) { FFocusedPicture = p; }
  // Shown after the mouse has left; the picture is copied.
  const QPixmap& NoFocusedPicture() const { return FNoFocusedPicture; }
  void SetNoFocusedPicture(const QPixmap& p) { FNoFocusedPicture = p; }

  // True while the control is moved by a held button.
  bool Pressed() const { return FPressed; }
  // The button went up where the control cannot see it (a popup took the
  // mouse): moves the control back, once.
  void Unpress();

  std::function<void()> OnMouseEnter;
  std::function<void()> OnMouseLeave;
  std::function<void()> OnClick;

 protected:
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  QPixmap FFocusedPicture;
  QPixmap FNoFocusedPicture;
  bool FLeftDown = false;
  bool FPressed = false;
};
