// The windows built with the look the program installs at start-up, and what
// the tests read from their pixels: dark pixels inside a rectangle, the
// contrast of a text with its background, and the folder of screenshots.
#pragma once

#include "app/ui/ElidedLabel.h"
#include "app/ui/Style.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFont>
#include <QHash>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QRegularExpression>
#include <QLineEdit>
#include <QPalette>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace look {

// A dark desktop palette, as a dark theme hands it to the program.
inline QPalette DarkPalette() {
  QPalette p;
  const QColor window(0x2d, 0x2d, 0x30), base(0x1e, 0x1e, 0x1e), text(0xdc, 0xdc, 0xdc);
  for (auto role : {QPalette::Window, QPalette::Button, QPalette::AlternateBase, QPalette::ToolTipBase})
    p.setColor(role, window);
  p.setColor(QPalette::Base, base);
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText,
                    QPalette::BrightText})
    p.setColor(role, text);
  p.setColor(QPalette::Highlight, QColor(0x26, 0x4f, 0x78));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::Link, QColor(0x56, 0x9c, 0xd6));
  p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
  p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
  p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
  return p;
}

// The program's look for the life of a test, on the desktop palette or a
// dark one; everything it changed is put back afterwards.
class TScopedLook {
 public:
  explicit TScopedLook(bool dark = false)
      : FSheet(qApp->styleSheet()), FPalette(QApplication::palette()), FFont(QApplication::font()),
        FIcon(QApplication::windowIcon()) {
    if (dark) QApplication::setPalette(DarkPalette());
    InstallDesktopLook(*qApp);
  }
  ~TScopedLook() {
    qApp->setStyleSheet(FSheet);
    QApplication::setPalette(FPalette);
    QApplication::setFont(FFont);
    QApplication::setWindowIcon(FIcon);
  }
  TScopedLook(const TScopedLook&) = delete;
  TScopedLook& operator=(const TScopedLook&) = delete;

 private:
  QString FSheet;
  QPalette FPalette;
  QFont FFont;
  QIcon FIcon;
};

// build/<preset>/screenshots/<platform>/<name>.png; the platform is
// "offscreen" under ctest and "xcb" when the tests run on a display.
inline QString ShotPath(const QString& name) {
  const QString dir = QString(CLIPHARBOR_BINARY_DIR) + "/screenshots/" + QGuiApplication::platformName();
  QDir().mkpath(dir);
  return dir + "/" + name + ".png";
}

inline void SaveShot(const QImage& image, const QString& name) {
  EXPECT_TRUE(image.save(ShotPath(name), "PNG")) << name.toStdString();
}

// The text a label draws: with a buddy its mnemonic marks are not drawn
// ("&&" draws "&"); without one they are.
inline QString DrawnText(const QLabel* l) {
  if (!l->buddy()) return l->text();
  QString out;
  const QString text = l->text();
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'&' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

// Relative luminance and contrast ratio as the accessibility guidelines define them.
inline double Luminance(const QColor& c) {
  auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

inline double Contrast(const QColor& a, const QColor& b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

struct TTextContrast {
  QColor Background;
  QColor Text;
  double Ratio = 0;
};

// The text inside `r`: its background is the most frequent colour there, its
// colour the pixel that differs most from that background (a glyph's stem).
inline TTextContrast MeasureText(const QImage& image, const QRect& r) {
  QHash<QRgb, int> counts;
  const QRect area = r.intersected(image.rect());
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) ++counts[image.pixel(x, y) | 0xff000000u];
  TTextContrast m;
  int most = -1;
  for (auto it = counts.cbegin(); it != counts.cend(); ++it)
    if (it.value() > most) most = it.value(), m.Background = QColor(it.key());
  for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
    const double ratio = Contrast(m.Background, QColor(it.key()));
    if (ratio > m.Ratio) m.Ratio = ratio, m.Text = QColor(it.key());
  }
  return m;
}

// Pixels inside `r` at least as dark as text is drawn.
inline int DarkPixels(const QImage& image, const QRect& r, int maxLightness = 110) {
  int n = 0;
  const QRect area = r.intersected(image.rect());
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (QColor(image.pixel(x, y)).lightness() <= maxLightness) ++n;
  return n;
}

// A widget's rectangle in the coordinates of its window's image.
inline QRect InWindow(const QWidget* w, const QRect& r) {
  return QRect(w->mapTo(w->window(), r.topLeft()), r.size());
}

inline QImage Grab(QWidget* window) {
  QApplication::processEvents();
  return window->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Every widget of `window` that shows a text of its own, with the rectangle
// (in window coordinates) in which that text is drawn.
inline std::vector<std::pair<QString, QRect>> TextAreas(QWidget* window) {
  std::vector<std::pair<QString, QRect>> areas;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window)) continue;
    const QString name = w->objectName().isEmpty() ? QString(w->metaObject()->className()) : w->objectName();
    if (auto* l = qobject_cast<QLabel*>(w); l && !l->text().isEmpty())
      areas.emplace_back(name, InWindow(l, l->contentsRect()));
    else if (auto* b = qobject_cast<QAbstractButton*>(w); b && !b->text().isEmpty())
      areas.emplace_back(name, InWindow(b, b->rect()));
    else if (auto* e = qobject_cast<QLineEdit*>(w); e && !e->displayText().isEmpty())
      areas.emplace_back(name, InWindow(e, e->rect().adjusted(2, 2, -2, -2)));
    else if (auto* c = qobject_cast<QComboBox*>(w); c && !c->currentText().isEmpty())
      areas.emplace_back(name, InWindow(c, c->rect().adjusted(2, 2, -20, -2)));
    else if (auto* g = qobject_cast<QGroupBox*>(w); g && !g->title().isEmpty())
      areas.emplace_back(name, InWindow(g, QRect(0, 0, g->width(), g->fontMetrics().height() + 2)));
  }
  return areas;
}

// The desktop font at `points` for the life of a scope (after the look is
// installed, which sets the desktop's own).
class TScopedFontSize {
 public:
  explicit TScopedFontSize(int points) : FFont(QApplication::font()) {
    QFont big = FFont;
    big.setPointSize(points);
    QApplication::setFont(big);
  }
  ~TScopedFontSize() { QApplication::setFont(FFont); }
  TScopedFontSize(const TScopedFontSize&) = delete;
  TScopedFontSize& operator=(const TScopedFontSize&) = delete;

 private:
  QFont FFont;
};

// A picture under other widgets (a banner): a label with a pixmap and no text.
inline bool IsBackdrop(const QWidget* w) {
  auto* l = qobject_cast<const QLabel*>(w);
  return l && l->text().isEmpty() && !l->pixmap().isNull();
}

// Expects every shown widget of `window` to lie inside its parent, every
// text to fit its widget (a shortened one by its shortened form, a wrapped
// one by its height) at the window's font, and no two siblings to overlap
// unless one is a picture behind the other (a banner behind its texts).
inline void ExpectNothingClippedOrOverlapping(QWidget* window) {
  const std::string where = window->objectName().toStdString();
  std::vector<QWidget*> shown;
  for (QWidget* w : window->findChildren<QWidget*>())
    if (w->isVisibleTo(window) && !w->isWindow()) shown.push_back(w);
  for (QWidget* w : shown) {
    const std::string name = where + "." + w->objectName().toStdString();
    EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry())) << name;
    const QFontMetrics fm = w->fontMetrics();
    if (auto* l = qobject_cast<QLabel*>(w); l && !l->text().isEmpty()) {
      QString drawn = l->text();
      if (auto* e = qobject_cast<TElidedLabel*>(l)) drawn = e->DisplayedText();
      // A label with a buddy draws its mnemonic mark as an underline, not as "&".
      if (l->buddy()) drawn.replace(QRegularExpression("&(.)"), "\\1");
      if (l->wordWrap()) {
        EXPECT_LE(l->heightForWidth(l->width()), l->height()) << name;
      } else {
        EXPECT_LE(fm.horizontalAdvance(drawn), l->contentsRect().width()) << name << ": " << drawn.toStdString();
        EXPECT_GE(l->contentsRect().height(), fm.height()) << name;
      }
    } else if (auto* b = qobject_cast<QAbstractButton*>(w); b && !b->text().isEmpty()) {
      EXPECT_LE(b->sizeHint().width(), b->width()) << name;
      EXPECT_LE(b->sizeHint().height(), b->height()) << name;
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
      EXPECT_LE(e->sizeHint().height(), e->height()) << name;
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
      EXPECT_LE(c->sizeHint().height(), c->height()) << name;
    }
  }
  for (std::size_t i = 0; i < shown.size(); ++i)
    for (std::size_t j = i + 1; j < shown.size(); ++j) {
      QWidget* a = shown[i];
      QWidget* b = shown[j];
      if (a->parentWidget() != b->parentWidget()) continue;
      if ((IsBackdrop(a) && a->geometry().contains(b->geometry())) ||
          (IsBackdrop(b) && b->geometry().contains(a->geometry())))
        continue;
      EXPECT_FALSE(a->geometry().intersects(b->geometry()))
          << where << ": " << a->objectName().toStdString() << " overlaps " << b->objectName().toStdString();
    }
}

// Grabs `window` and expects every text in it to keep a contrast of 4.5:1
// with its background; returns the image.
inline QImage ExpectContrast(QWidget* window, bool dark) {
  const QImage image = Grab(window);
  for (const auto& [name, area] : TextAreas(window)) {
    const TTextContrast m = MeasureText(image, area);
    EXPECT_GE(m.Ratio, 4.5) << window->objectName().toStdString() << "." << name.toStdString()
                            << (dark ? " (dark palette)" : " (light palette)") << ": " << m.Text.name().toStdString()
                            << " on " << m.Background.name().toStdString();
  }
  return image;
}

}  // namespace look
