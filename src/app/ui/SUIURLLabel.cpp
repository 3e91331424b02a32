#include "app/ui/SUIURLLabel.h"

#include "platform/AsciiText.h"
#include "platform/Desktop.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPalette>

TsuiURLLabel::TsuiURLLabel(QWidget* parent) : QLabel(parent) {
  QFont f = font();
  f.setUnderline(true);
  setFont(f);
  setCursor(Qt::PointingHandCursor);
  FFontHoverColor = QColor(Qt::red);
  SetFontLinkColor(QColor(Qt::blue));
  SetCaption("URL Label");
}

void TsuiURLLabel::SetURL(const std::string& url) {
  if (url != FURL) FURL = url;
}

void TsuiURLLabel::SetFontLinkColor(const QColor& c) {
  FFontLinkColor = c;
  SetFontColor(c);
}

void TsuiURLLabel::SetCaption(const QString& text) {
  setText(text);
  adjustSize();
}

void TsuiURLLabel::SetFontColor(const QColor& c) {
  FFontColor = c;
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, c);
  setPalette(pal);
}

void TsuiURLLabel::enterEvent(QEnterEvent* e) {
  QLabel::enterEvent(e);
  SetFontColor(FFontHoverColor);
}

void TsuiURLLabel::leaveEvent(QEvent* e) {
  QLabel::leaveEvent(e);
  SetFontColor(FFontLinkColor);
}

// A new application style sheet (the look switching with the desktop)
// gives back the palette the label had when first polished, which may
// predate its colour: the colour is put back.
void TsuiURLLabel::changeEvent(QEvent* e) {
  QLabel::changeEvent(e);
  if (e->type() == QEvent::StyleChange && palette().color(QPalette::WindowText) != FFontColor)
    SetFontColor(FFontColor);
}

void TsuiURLLabel::mousePressEvent(QMouseEvent* e) {
  QLabel::mousePressEvent(e);
  if (e->button() == Qt::LeftButton) FLeftDown = true;
}

void TsuiURLLabel::mouseReleaseEvent(QMouseEvent* e) {
  QLabel::mouseReleaseEvent(e);
  const bool click = FLeftDown && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint());
  if (e->button() == Qt::LeftButton) FLeftDown = false;
  if (click) Click();
}

void TsuiURLLabel::Click() {
  if (!ascii::Trim(FURL).empty()) plat::Desktop().ShellOpen(FURL);
  emit clicked();
}
