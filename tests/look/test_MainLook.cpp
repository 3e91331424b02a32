// The main window as users see it, built with the program's look: the format
// list open and closed, text that fits at the desktop font, contrast under a
// light and a dark palette, the window icon.
#include "LookSupport.h"

#include "app/ui/ClickLabel.h"
#include "app/ui/Main.h"
#include "app/ui/Pictures.h"
#include "app/ui/SUIURLLabel.h"
#include "app/ui/WlmShiftImage.h"
#include "platform/ScriptedDesktop.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace look;

namespace {

class MainLookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FDir.isValid());
    FDesktop.OnUnexpected = [](const std::string& what) { ADD_FAILURE() << "unexpected " << what; };
  }

  // The main window, shown, in `mode`.
  TfrmMain& Open(int mode = 0) {
    FForm = std::make_unique<TfrmMain>((FDir.path() + "/settings.ini").toStdString());
    FForm->show();
    FForm->ApplyMode(static_cast<TJobMode>(mode));
    (mode == 0 ? FForm->rbDownload : mode == 1 ? FForm->rbDownloadConvert : FForm->rbConvert)->setChecked(true);
    QApplication::processEvents();
    return *FForm;
  }

  QTemporaryDir FDir;
  plat::ScriptedDesktop FDesktop;
  plat::ScopedDesktop FScope{FDesktop};
  std::unique_ptr<TfrmMain> FForm;
};

// The row of `index` in the open list, in the popup's coordinates.
QRect RowInPopup(QComboBox* combo, int index) {
  QAbstractItemView* view = combo->view();
  const QRect r = view->visualRect(view->model()->index(index, 0));
  return QRect(view->viewport()->mapTo(view->window(), r.topLeft()), r.size());
}

}  // namespace

TEST_F(MainLookTest, OpenFormatListShowsTheCurrentAndTheHoveredRow) {
  TScopedLook style;
  TfrmMain& f = Open(1);
  f.cbFormat->setCurrentIndex(2);
  f.cbFormat->showPopup();
  QWidget* popup = f.cbFormat->view()->window();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(popup));
  QApplication::processEvents();

  QImage list = Grab(popup);
  const QRect current = RowInPopup(f.cbFormat, 2);
  EXPECT_GT(DarkPixels(list, current), 20) << "the current row is drawn without its text";

  const QRect hovered = RowInPopup(f.cbFormat, 5);
  QTest::mouseMove(f.cbFormat->view()->viewport(), f.cbFormat->view()->visualRect(f.cbFormat->model()->index(5, 0)).center());
  QTest::qWait(100);  // a display delivers the move a little later
  list = Grab(popup);
  EXPECT_GT(DarkPixels(list, hovered), 20) << "the row under the mouse is drawn without its text";
  // Every row shows its text; the row under the mouse stands out from a plain one.
  for (int i = 0; i < f.cbFormat->count(); ++i) EXPECT_GT(DarkPixels(list, RowInPopup(f.cbFormat, i)), 20) << i;
  const QRect plain = RowInPopup(f.cbFormat, 8);
  EXPECT_NE(list.pixelColor(hovered.left() + 1, hovered.top() + 1), list.pixelColor(plain.left() + 1, plain.top() + 1));

  // The list over its window, as the screen shows it.
  const QRect onScreen = f.frameGeometry().united(popup->frameGeometry());
  QImage shot = QGuiApplication::primaryScreen()->grabWindow(0, onScreen.x(), onScreen.y(), onScreen.width(),
                                                             onScreen.height()).toImage();
  if (shot.isNull() || shot.size() != onScreen.size()) shot = list;  // a platform that cannot grab its screen
  SaveShot(shot, "format-list-open");
  f.cbFormat->hidePopup();
}

TEST_F(MainLookTest, ClosedFormatListShowsAnArrowEnabledAndDisabled) {
  for (bool dark : {false, true}) {
    TScopedLook style(dark);
    for (int mode : {1, 0}) {  // enabled, then disabled
      TfrmMain& f = Open(mode);
      ASSERT_EQ(f.cbFormat->isEnabled(), mode == 1);
      const QImage image = Grab(f.cbFormat);
      // Inside the drop-down button (its borders left out): a triangle, each
      // row of arrow pixels (dark ones on the light look, light ones on the
      // dark) narrower than the one above it.
      QStyleOptionComboBox option;
      option.initFrom(f.cbFormat);
      const QRect button = f.cbFormat->style()
                               ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, f.cbFormat)
                               .adjusted(2, 2, -2, -2);
      std::vector<int> rows;
      for (int y = button.top(); y <= button.bottom(); ++y) {
        int n = 0;
        for (int x = button.left(); x <= button.right(); ++x) {
          const int lightness = QColor(image.pixel(x, y)).lightness();
          if (dark ? lightness > 100 : lightness < 180) ++n;
        }
        if (n > 0) rows.push_back(n);
      }
      const std::string what = std::string(dark ? "dark" : "light") + " mode " + std::to_string(mode);
      ASSERT_GE(rows.size(), 3u) << "no arrow, " << what;
      EXPECT_TRUE(std::is_sorted(rows.rbegin(), rows.rend()) && rows.front() > rows.back()) << what;
    }
  }
}

// On a dark desktop the open list is dark too, and every row, the current
// one and the one under the mouse included, keeps its text readable.
TEST_F(MainLookTest, OpenFormatListKeepsItsContrastOnADarkDesktop) {
  TScopedLook style(true);
  TfrmMain& f = Open(1);
  f.cbFormat->setCurrentIndex(11);
  f.cbFormat->showPopup();
  QWidget* popup = f.cbFormat->view()->window();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(popup));
  QTest::mouseMove(f.cbFormat->view()->viewport(),
                   f.cbFormat->view()->visualRect(f.cbFormat->model()->index(4, 0)).center());
  QTest::qWait(100);
  const QImage list = Grab(popup);
  for (int i = 0; i < f.cbFormat->count(); ++i) {
    const TTextContrast m = MeasureText(list, RowInPopup(f.cbFormat, i));
    EXPECT_GE(m.Ratio, 4.5) << "row " << i << ": " << m.Text.name().toStdString() << " on "
                            << m.Background.name().toStdString();
    if (i != 11 && i != 4) {
      EXPECT_LT(m.Background.lightness(), 100) << "row " << i << " on a light surface";
    }
  }
  SaveShot(list, "format-list-open-dark");
  f.cbFormat->hidePopup();
}

TEST_F(MainLookTest, TextsFitAtTheDesktopFontInOneSize) {
  TScopedLook style;
  for (int mode : {0, 2}) {
    TfrmMain& f = Open(mode);
    EXPECT_EQ(f.size(), QSize(407, 362)) << "the design size holds at the desktop font";
    const int size = QFontInfo(QApplication::font()).pixelSize();
    const QRect client = f.rect();
    std::vector<QWidget*> shown;
    for (QWidget* w : f.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
      if (w->isVisibleTo(&f) && w != f.iBanner) shown.push_back(w);
    for (QWidget* w : shown) {
      const std::string name = w->objectName().toStdString();
      EXPECT_TRUE(client.contains(w->geometry())) << name;
      EXPECT_EQ(QFontInfo(w->font()).pixelSize(), size) << name << ": one size throughout";
      if (auto* l = qobject_cast<QLabel*>(w); l && !l->text().isEmpty()) {
        EXPECT_LE(l->fontMetrics().horizontalAdvance(DrawnText(l)), l->contentsRect().width()) << name;
      }
      if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        EXPECT_LE(b->sizeHint().width(), b->width()) << name;
      }
    }
    // Nothing overlaps below the banner.
    for (std::size_t i = 0; i < shown.size(); ++i)
      for (std::size_t j = i + 1; j < shown.size(); ++j)
        if (shown[i]->y() >= 50 && shown[j]->y() >= 50) {
          EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
              << shown[i]->objectName().toStdString() << " overlaps " << shown[j]->objectName().toStdString();
        }
    if (mode == 0) {
      // The sentence reads on: the address follows the caption, on its line or the next.
      EXPECT_TRUE(f.lUrl->y() == f.lVideo->y() ? f.lUrl->x() == f.lVideo->geometry().right() + 1
                                               : f.lUrl->y() > f.lVideo->geometry().bottom());
      EXPECT_EQ(f.lUrlEnd->pos(), QPoint(f.lUrl->geometry().right() + 1, f.lUrl->y()));
      EXPECT_LT(f.lUrl->geometry().bottom(), f.eUrl->y());
    } else {
      EXPECT_EQ(f.eFileName->pos(), f.eUrl->pos());
      EXPECT_LT(f.lVideo->geometry().bottom(), f.eFileName->y());
    }
  }
}

// An 18 pt desktop font: every text of the main window fits and nothing
// overlaps, in each mode; the banner grows to hold its titles, which keep
// clear of the update link and the menu picture.
TEST_F(MainLookTest, EighteenPointFontClipsAndOverlapsNothing) {
  TScopedLook style;
  TScopedFontSize big(18);
  for (int mode : {0, 1, 2}) {
    SCOPED_TRACE(mode);
    TfrmMain& f = Open(mode);
    ExpectNothingClippedOrOverlapping(&f);
    const QRect banner = f.iBanner->geometry();
    EXPECT_EQ(banner.width(), f.width());
    for (QWidget* w : std::initializer_list<QWidget*>{f.Image1, f.lTitle, f.lTitleHint, f.lUpdate, f.iUpdate,
                                                      f.WlmShiftImage1})
      EXPECT_TRUE(banner.contains(w->geometry())) << w->objectName().toStdString() << " off the banner";
    EXPECT_GT(banner.height(), 50);
    EXPECT_LT(banner.bottom(), f.lVideo->y());
    EXPECT_EQ(f.iBanner->pixmap().deviceIndependentSize().toSize(), banner.size()) << "the picture grows too";
    if (mode == 1) SaveShot(Grab(&f), "main-18pt");
  }
}

TEST_F(MainLookTest, LargerDesktopFontGrowsTheWindowInsteadOfClipping) {
  TScopedLook style;
  QFont big = QApplication::font();
  big.setPixelSize(18);
  QApplication::setFont(big);
  TfrmMain& f = Open(1);
  EXPECT_GE(f.width(), 407);
  EXPECT_GE(f.height(), 362);
  for (QWidget* w : f.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (!w->isVisibleTo(&f)) continue;
    EXPECT_TRUE(f.rect().contains(w->geometry())) << w->objectName().toStdString();
    if (auto* l = qobject_cast<QLabel*>(w); l && !l->text().isEmpty()) {
      EXPECT_LE(l->fontMetrics().horizontalAdvance(DrawnText(l)), l->contentsRect().width())
          << l->objectName().toStdString();
    }
  }
  EXPECT_LE(f.bExit->geometry().bottom(), f.height() - 1);
}

TEST_F(MainLookTest, EveryTextKeepsItsContrastUnderALightAndADarkPalette) {
  for (bool dark : {false, true}) {
    TScopedLook style(dark);
    for (int mode : {0, 1}) {  // mode 0 disables the format list and its caption
      TfrmMain& f = Open(mode);
      f.eUrl->setText("http://www.youtube.com/watch?v=piEWjpA_51Q");
      f.eOutputFolder->setText("/home/user/Videos/");
      const QImage image = ExpectContrast(&f, dark);
      // The surface follows the desktop: dark on a dark one, where no line
      // is drawn in a light colour either.
      EXPECT_EQ(QColor(image.pixel(2, image.height() - 3)).lightness() < 100, dark);
      const QRect line = f.bvSeparator->geometry();
      for (int y = line.top(); dark && y <= line.bottom(); ++y) {
        EXPECT_LT(QColor(image.pixel(line.center().x(), y)).lightness(), 128) << "separator row " << y - line.top();
      }
      // The checked mode is marked: its indicator holds a dot the others
      // lack, dark on the light look and light on the dark one.
      auto markOf = [&](QRadioButton* rb) {
        QStyleOptionButton option;
        option.initFrom(rb);
        const QRect r = InWindow(rb, rb->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, rb));
        return dark ? r.width() * r.height() - DarkPixels(image, r, 120) : DarkPixels(image, r);
      };
      QRadioButton* checked = mode == 0 ? f.rbDownload : f.rbDownloadConvert;
      EXPECT_GT(markOf(checked), markOf(f.rbConvert) + 4) << (dark ? "dark" : "light") << " mode " << mode;
      if (mode == 1) SaveShot(image, dark ? "main-dark" : "main-light");
    }
  }
}

// A desktop that switches between light and dark while the program runs:
// the look switches with it, and leaves a sheet that is not its own alone.
TEST_F(MainLookTest, TheLookFollowsTheDesktopBetweenLightAndDark) {
  TScopedLook style;
  const QPalette light = QApplication::palette();
  ASSERT_FALSE(IsDarkPalette(light));
  EXPECT_TRUE(IsDarkPalette(DarkPalette()));
  EXPECT_EQ(qApp->styleSheet(), FlatStyleSheet(false));
  TfrmMain& f = Open(1);
  QApplication::setPalette(DarkPalette());
  EXPECT_EQ(qApp->styleSheet(), FlatStyleSheet(true));
  QImage image = ExpectContrast(&f, true);
  EXPECT_LT(QColor(image.pixel(2, image.height() - 3)).lightness(), 100);
  QApplication::setPalette(light);
  EXPECT_EQ(qApp->styleSheet(), FlatStyleSheet(false));
  image = ExpectContrast(&f, false);
  EXPECT_GT(QColor(image.pixel(2, image.height() - 3)).lightness(), 200);

  qApp->setStyleSheet("QLabel { color: #123456; }");
  QApplication::setPalette(DarkPalette());
  EXPECT_EQ(qApp->styleSheet(), "QLabel { color: #123456; }");
}

TEST_F(MainLookTest, EveryWindowCarriesTheProgramIconAtEverySize) {
  TScopedLook style;
  TfrmMain& f = Open();
  const QIcon icon = f.windowIcon();
  ASSERT_FALSE(icon.isNull());
  QList<int> sizes;
  for (const QSize& s : icon.availableSizes()) sizes.push_back(s.width());
  std::sort(sizes.begin(), sizes.end());
  EXPECT_EQ(sizes, pics::IconSizes());
  EXPECT_EQ(sizes.front(), 16);
  EXPECT_EQ(sizes.back(), 256);
  // Each size is drawn for itself, not scaled from another.
  for (int size : {16, 48, 256})
    EXPECT_EQ(icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32),
              pics::Logo(size).toImage().convertToFormat(QImage::Format_ARGB32))
        << size;
}

TEST(Pictures, DrawnAtTwiceTheRatioTheyAreAsSharpAsAtTwiceTheSize) {
  const QPixmap at2x = pics::Logo(40, 2.0);
  EXPECT_EQ(at2x.devicePixelRatio(), 2.0);
  EXPECT_EQ(at2x.size(), QSize(80, 80));
  const QImage a = at2x.toImage().convertToFormat(QImage::Format_ARGB32);
  const QImage b = pics::Logo(80).toImage().convertToFormat(QImage::Format_ARGB32);
  int differing = 0;
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 80; ++x)
      if (std::abs(qAlpha(a.pixel(x, y)) - qAlpha(b.pixel(x, y))) > 8 ||
          std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y))) > 8)
        ++differing;
  EXPECT_LT(differing, 40) << "the 2x logo is not drawn at the device's pixels";
  for (const QPixmap& p : {pics::Banner(100, 50, 2.0), pics::UpdateIcon(2.0), pics::MenuPicture(true, 2.0)}) {
    EXPECT_EQ(p.devicePixelRatio(), 2.0);
    EXPECT_EQ(p.deviceIndependentSize() * 2, QSizeF(p.size()));
  }
}
