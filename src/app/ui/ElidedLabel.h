// A label that shows a long text shortened in the middle with "…" when it
// does not fit, while text() and the hint keep the whole text.
#pragma once

#include <QLabel>

class TElidedLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TElidedLabel(QWidget* parent = nullptr) : QLabel(parent) {}

  // What the label draws: the text, or its shortened form.
  QString DisplayedText() const;

 protected:
  void paintEvent(QPaintEvent* e) override;
};
