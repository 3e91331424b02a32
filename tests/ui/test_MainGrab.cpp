// The main window drawn offscreen with the program's style, kept as a PNG.
#include "MainFixture.h"

#include "app/ui/Style.h"

#include <QImage>
#include <QLineEdit>
#include <QPixmap>

TEST_F(MainWindowTest, GrabbedClientAreaIs407By362) {
  const QString previous = qApp->styleSheet();
  qApp->setStyleSheet(FlatStyleSheet());
  TfrmMain& f = Open();
  f.eUrl->setText("http://www.youtube.com/watch?v=piEWjpA_51Q");
  QApplication::processEvents();
  const QPixmap shot = f.grab();
  const QString path = QString(CLIPHARBOR_BINARY_DIR) + "/ui_main_window.png";
  ASSERT_TRUE(shot.save(path, "PNG"));
  qApp->setStyleSheet(previous);

  QImage back(path);
  ASSERT_FALSE(back.isNull());
  EXPECT_EQ(back.width(), 407);
  EXPECT_EQ(back.height(), 362);
  // The banner is drawn (not the plain window colour) and so is the page below.
  const QColor banner = back.pixelColor(200, 40);
  const QColor page = back.pixelColor(200, 300);
  EXPECT_LT(banner.lightness(), 160);
  EXPECT_GT(page.lightness(), 200);
}
