// The main window's secondary actions: Show Files, the menu, the account,
// the About box, the link label and the hover picture.
#include "MainFixture.h"

#include "app/ui/About.h"
#include "app/ui/ClickLabel.h"
#include "app/ui/Links.h"
#include "app/ui/Login.h"
#include "app/ui/SUIURLLabel.h"
#include "app/ui/WlmShiftImage.h"
#include "platform/FileUtil.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QEnterEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

namespace {

// Runs `fn` on the modal dialog of type T as soon as it is up.
template <typename T>
void WhenModal(std::function<void(T&)> fn, int triesLeft = 200) {
  QTimer::singleShot(10, [fn, triesLeft] {
    if (auto* d = qobject_cast<T*>(QApplication::activeModalWidget())) {
      fn(*d);
    } else if (triesLeft > 0) {
      WhenModal<T>(fn, triesLeft - 1);
    } else {
      ADD_FAILURE() << "no modal dialog came up";
    }
  });
}

void SendEnter(QWidget* w) {
  QEnterEvent e(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
  QApplication::sendEvent(w, &e);
}
void SendLeave(QWidget* w) {
  QEvent e(QEvent::Leave);
  QApplication::sendEvent(w, &e);
}

}  // namespace

TEST_F(MainWindowTest, ShowFilesOpensTheTypedFolderOrReportsIt) {
  TfrmMain& f = Open();
  f.eOutputFolder->setText(QString::fromStdString(Dir()));
  f.bShowFiles->click();
  EXPECT_EQ(desk_.Opened, std::vector<std::string>{Dir()});
  EXPECT_EQ(f.FOutputDir, Dir());

  const std::string typed = Dir() + " ";  // untrimmed: names no folder
  f.eOutputFolder->setText(QString::fromStdString(typed));
  desk_.ExpectBox(typed + ", the output directory does not exist.", plat::IDOK);
  f.bShowFiles->click();
  ASSERT_EQ(desk_.Boxes.size(), 1u);
  EXPECT_EQ(desk_.Boxes[0].Caption, "Clipharbor");
  EXPECT_EQ(desk_.Boxes[0].Flags, plat::MB_ICONERROR | plat::MB_OK);
  EXPECT_EQ(desk_.Opened.size(), 1u);
  EXPECT_EQ(f.FOutputDir, typed);
}

TEST_F(MainWindowTest, FolderButtonAndFileButton) {
  TfrmMain& f = Open();
  f.eOutputFolder->setText("/kept");
  desk_.FolderAnswers.push_back(std::nullopt);
  f.bBrowser->click();
  EXPECT_EQ(f.eOutputFolder->text().toStdString(), "/kept");
  desk_.FolderAnswers.push_back(Dir());
  f.bBrowser->click();
  ASSERT_EQ(desk_.FolderCalls.size(), 2u);
  EXPECT_EQ(desk_.FolderCalls[0].Caption, "Please select the directory to add");
  EXPECT_EQ(desk_.FolderCalls[0].Path, "");
  EXPECT_TRUE(desk_.FolderCalls[0].Root.empty());
  EXPECT_EQ(f.eOutputFolder->text().toStdString(), Dir());
  EXPECT_EQ(f.FOutputDir, Dir());

  f.eFileName->setText("/old.flv");
  desk_.OpenAnswers.push_back(std::nullopt);
  f.bSelectFile->click();
  EXPECT_EQ(f.eFileName->text().toStdString(), "/old.flv");
  desk_.OpenAnswers.push_back(std::vector<std::string>{"/v/first.flv", "/v/second.flv"});
  f.bSelectFile->click();
  EXPECT_EQ(f.eFileName->text().toStdString(), "/v/first.flv");
  ASSERT_EQ(desk_.OpenCalls.size(), 2u);
  // Every kind of file FFmpeg reads: the usual video files, or any file.
  const std::string filter = desk_.OpenCalls[1].Filter;
  EXPECT_EQ(filter.rfind("Video files|*.flv;*.mp4;", 0), 0u) << filter;
  for (const char* ext : {"*.mkv", "*.webm", "*.avi", "*.mov", "*.wmv", "*.mpg", "*.3gp", "*.ts"})
    EXPECT_NE(filter.find(ext), std::string::npos) << ext;
  EXPECT_EQ(filter.substr(filter.size() - 14), "|All files|*.*");
  EXPECT_EQ(desk_.OpenCalls[1].FileName, "");
  EXPECT_TRUE(desk_.OpenCalls[1].AllowMultiSelect);
  EXPECT_TRUE(desk_.OpenCalls[1].HideReadOnly);
  EXPECT_TRUE(desk_.OpenCalls[1].EnableSizing);
}

TEST_F(MainWindowTest, PopupMenuItemsInOrder) {
  TfrmMain& f = Open();
  std::vector<std::string> items;
  for (QAction* a : f.suiPopupMenu1->actions()) items.push_back(a->isSeparator() ? "-" : a->text().toStdString());
  EXPECT_EQ(items, (std::vector<std::string>{"&Home Page", "-", "&Donate", "-", "&Set YouTube Account", "-",
                                             "Se&ttings...", "-", "&About..."}));
}

TEST_F(MainWindowTest, MenuPictureShiftsWhilePressedAndPopsUpTheMenuAtTheCursor) {
  TfrmMain& f = Open();
  desk_.Cursor = {120, 90};
  const QPoint home = f.WlmShiftImage1->pos();
  QTest::mousePress(f.WlmShiftImage1, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_EQ(f.WlmShiftImage1->pos(), home + QPoint(2, 2));
  EXPECT_FALSE(f.suiPopupMenu1->isVisible());
  QTest::mouseRelease(f.WlmShiftImage1, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_EQ(f.WlmShiftImage1->pos(), home);
  EXPECT_TRUE(f.suiPopupMenu1->isVisible());
  EXPECT_EQ(f.suiPopupMenu1->pos(), QPoint(120, 90));
  f.suiPopupMenu1->hide();
  // A right button shifts too, but only the context menu opens the menu.
  QTest::mousePress(f.WlmShiftImage1, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_EQ(f.WlmShiftImage1->pos(), home + QPoint(2, 2));
  QTest::mouseRelease(f.WlmShiftImage1, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_EQ(f.WlmShiftImage1->pos(), home);
  EXPECT_FALSE(f.suiPopupMenu1->isVisible());
}

TEST_F(MainWindowTest, MenuPictureMovesBackWhenTheMenuTakesTheRightButtonsRelease) {
  TfrmMain& f = Open();
  const QPoint home = f.WlmShiftImage1->pos();
  for (bool releaseOnMenu : {true, false, true}) {
    QTest::mousePress(f.WlmShiftImage1, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_EQ(f.WlmShiftImage1->pos(), home + QPoint(2, 2));
    // A desktop opens the context menu on the press; the open menu then takes the release.
    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(5, 5), f.WlmShiftImage1->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(f.WlmShiftImage1, &menu);
    ASSERT_TRUE(f.suiPopupMenu1->isVisible());
    EXPECT_EQ(f.WlmShiftImage1->pos(), home + QPoint(2, 2)) << "pressed while the menu opens";
    if (releaseOnMenu) {
      QTest::mouseRelease(f.suiPopupMenu1, Qt::RightButton, Qt::NoModifier, QPoint(-20, -20));
      EXPECT_EQ(f.WlmShiftImage1->pos(), home) << "the release reached the menu, not the picture";
    }
    f.suiPopupMenu1->hide();  // closing the menu without a release (Escape) moves it back too
    EXPECT_EQ(f.WlmShiftImage1->pos(), home);
  }
}

TEST_F(MainWindowTest, WebAddressesOpenedByTheShell) {
  TfrmMain& f = Open();
  f.Homepage1->trigger();
  QTest::mouseClick(f.Image1, Qt::LeftButton);
  QTest::mouseClick(f.lTitle, Qt::LeftButton);
  f.Donate1->trigger();
  QTest::mouseClick(f.lUpdate, Qt::LeftButton);
  ASSERT_EQ(desk_.Opened.size(), 5u);
  EXPECT_EQ(desk_.Opened[0], kHomePage);
  EXPECT_EQ(desk_.Opened[1], kHomePage);
  EXPECT_EQ(desk_.Opened[2], kMakerSite);
  EXPECT_EQ(desk_.Opened[4], kUpdatePage);
  EXPECT_EQ(f.lTitle->text().toStdString(), kMakerName);
  EXPECT_EQ(f.lTitleHint->text().toStdString(), "Download any video from YouTube.");
  EXPECT_EQ(f.lUpdate->text().toStdString(), "Check for updates...");

  const QUrl donate(QString::fromStdString(desk_.Opened[3]));
  EXPECT_EQ(donate.path().toStdString(), "/cgi-bin/webscr");
  EXPECT_EQ(donate.query().toStdString(),
            std::string("cmd=_xclick&business=") + kMakerEmail +
                "&item_name=Clipharbor&item_number=7273-11&no_shipping=0&no_note=1&tax=0&currency_code=USD"
                "&bn=PP-DonationsBF&charset=UTF-8");
}

TEST_F(MainWindowTest, AccountDialogStartsEmptyThenShowsStoredCredentials) {
  TfrmMain& f = Open();
  bool checked = false;
  WhenModal<TfrmLogin>([&](TfrmLogin& d) {
    EXPECT_TRUE(d.eUsername->text().isEmpty());
    EXPECT_TRUE(d.ePassword->text().isEmpty());
    EXPECT_EQ(d.parentWidget(), &f);
    d.eUsername->setText("alice");
    d.ePassword->setText("p&ss word");
    d.bOK->click();
    checked = true;
  });
  f.miSetYouTubeaccount->trigger();
  ASSERT_TRUE(checked);
  EXPECT_EQ(f.FAccountUser, "alice");
  EXPECT_EQ(f.FAccountPassword, "p&ss word");

  checked = false;
  WhenModal<TfrmLogin>([&](TfrmLogin& d) {
    EXPECT_EQ(d.eUsername->text().toStdString(), "alice");
    EXPECT_EQ(d.ePassword->text().toStdString(), "p&ss word");
    d.eUsername->setText("mallory");
    d.bCancel->click();
    checked = true;
  });
  f.miSetYouTubeaccount->trigger();
  ASSERT_TRUE(checked);
  EXPECT_EQ(f.FAccountUser, "alice");

  // Credentials set elsewhere (the download window's login) show up too.
  f.FAccountUser = "carol";
  f.FAccountPassword = "pw";
  checked = false;
  WhenModal<TfrmLogin>([&](TfrmLogin& d) {
    EXPECT_EQ(d.eUsername->text().toStdString(), "carol");
    EXPECT_EQ(d.ePassword->text().toStdString(), "pw");
    d.close();
    checked = true;
  });
  f.miSetYouTubeaccount->trigger();
  ASSERT_TRUE(checked);
  EXPECT_EQ(f.FAccountUser, "carol");
}

TEST_F(MainWindowTest, AboutBox) {
  TfrmMain& f = Open();
  bool checked = false;
  WhenModal<TfrmAbout>([&](TfrmAbout& d) {
    EXPECT_EQ(d.windowTitle().toStdString(), "About Clipharbor");
    EXPECT_EQ(d.size(), QSize(360, 249));
    EXPECT_EQ(d.Label1->text().toStdString(), "Clipharbor");
    EXPECT_EQ(d.Label2->text().toStdString(), "Version: 1.0   Build 20080723");
    EXPECT_EQ(d.lPoweredBy->text().toStdString(), "Powered by:");
    EXPECT_EQ(d.Label3->text().toStdString(), std::string("Email: ") + kMakerEmail);
    EXPECT_EQ(d.Image2->geometry(), QRect(0, 0, 360, 50));
    EXPECT_EQ(d.bOK->text().toStdString(), "&OK");
    // Centred on the main window.
    EXPECT_NEAR(d.frameGeometry().center().x(), f.frameGeometry().center().x(), 1);
    EXPECT_NEAR(d.frameGeometry().center().y(), f.frameGeometry().center().y(), 1);
    QTest::mouseClick(d.lbEAddress, Qt::LeftButton);
    d.bOK->click();
    checked = true;
  });
  f.About1->trigger();
  ASSERT_TRUE(checked);
  EXPECT_EQ(desk_.Opened, std::vector<std::string>{kHomePage});
}

TEST(URLLabel, ColoursUrlAndClick) {
  plat::ScriptedDesktop desk;
  plat::ScopedDesktop scope(desk);
  TsuiURLLabel l;
  EXPECT_TRUE(l.font().underline());
  EXPECT_EQ(l.cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(l.FontHoverColor(), QColor(Qt::red));
  EXPECT_EQ(l.FontLinkColor(), QColor(Qt::blue));
  EXPECT_EQ(l.FontColor(), QColor(Qt::blue));
  l.SetFontLinkColor(Qt::white);
  EXPECT_EQ(l.FontColor(), QColor(Qt::white));  // at once
  l.SetFontHoverColor(Qt::green);
  EXPECT_EQ(l.FontColor(), QColor(Qt::white));
  SendEnter(&l);
  EXPECT_EQ(l.FontColor(), QColor(Qt::green));
  SendLeave(&l);
  EXPECT_EQ(l.FontColor(), QColor(Qt::white));
  l.SetCaption("A much longer caption than before");
  EXPECT_EQ(l.size(), l.sizeHint());

  int clicks = 0;
  QObject::connect(&l, &TsuiURLLabel::clicked, [&] { ++clicks; });
  l.SetURL(" \t ");
  QTest::mouseClick(&l, Qt::LeftButton);
  EXPECT_TRUE(desk.Opened.empty());
  EXPECT_EQ(clicks, 1);
  l.SetURL(" http://a.example/ ");
  QTest::mouseClick(&l, Qt::LeftButton);
  EXPECT_EQ(desk.Opened, std::vector<std::string>{" http://a.example/ "});  // as stored
  EXPECT_EQ(clicks, 2);
}

TEST(ShiftImage, PicturesFollowTheMouseWhenEnabled) {
  TWlmShiftImage w;
  QPixmap on(4, 4), off(6, 6);
  on.fill(Qt::red);
  off.fill(Qt::blue);
  w.SetFocusedPicture(on);
  w.SetNoFocusedPicture(off);
  on.fill(Qt::black);  // copies were taken
  int enters = 0, leaves = 0;
  w.OnMouseEnter = [&] { ++enters; };
  w.OnMouseLeave = [&] { ++leaves; };
  SendEnter(&w);
  EXPECT_EQ(w.pixmap().size(), QSize(4, 4));
  EXPECT_EQ(w.pixmap().toImage().pixelColor(0, 0), QColor(Qt::red));
  SendLeave(&w);
  EXPECT_EQ(w.pixmap().size(), QSize(6, 6));
  EXPECT_EQ(enters, 1);
  EXPECT_EQ(leaves, 1);
  w.setEnabled(false);
  w.setPixmap(QPixmap());
  SendEnter(&w);
  EXPECT_EQ(enters, 2);  // the event still runs ...
  EXPECT_TRUE(w.pixmap().isNull());  // ... the picture stays
}

TEST_F(MainWindowTest, ShowRunningRestoresAndShows) {
  TfrmMain& f = Open();
  f.showMinimized();
  QApplication::processEvents();
  ASSERT_TRUE(f.isMinimized());
  EXPECT_EQ(plat::SendMessage(f.Handle(), 0x1604, 0, 0), 1);
  QApplication::processEvents();
  EXPECT_FALSE(f.isMinimized());
  EXPECT_TRUE(f.isVisible());
}
