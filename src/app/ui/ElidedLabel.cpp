#include "app/ui/ElidedLabel.h"

#include <QPainter>
#include <QStyle>

QString TElidedLabel::DisplayedText() const {
  // The middle goes: a file name keeps its extension, an address its host and its id.
  return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

void TElidedLabel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  style()->drawItemText(&p, contentsRect(), static_cast<int>(alignment()), palette(), isEnabled(), DisplayedText(),
                        foregroundRole());
}
