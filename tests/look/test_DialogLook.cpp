// The download window at the longest values its labels can hold, the login
// dialog and the About box, built with the program's look: no text clipped,
// every text readable under a light and a dark palette, the password as stars.
#include "LookSupport.h"

#include "app/ui/About.h"
#include "app/ui/Download.h"
#include "app/ui/ClickLabel.h"
#include "app/ui/Login.h"
#include "platform/ScriptedDesktop.h"

#include <QFrame>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace look;

namespace {

const std::string kLongTitle =
    "The Longest Harbour Documentary Ever Uploaded, Part 12 of 12 (Extended Director's Cut, Remastered in HD)";

// The three panels at the longest values their labels can hold.
TDownloadDisplay Retrieval() {
  TDownloadDisplay d;
  d.Panel = dpRetrieval;
  d.Caption = "Clipharbor";
  d.Url = "http://www.youtube.com/watch?v=piEWjpA_51Q&feature=related&list=PL0123456789ABCDEF0123&index=12";
  return d;
}

TDownloadDisplay Transfer() {
  TDownloadDisplay d;
  d.Panel = dpTransfer;
  d.Caption = "Clipharbor";
  d.FileLabel = "Downloading: " + kLongTitle + ".flv ...";
  d.Bar1Max = 10737418240;  // 10 GB
  d.Bar1Pos = 5368709120;
  d.TotalText = "10485760 KB";
  d.ReceiveData = "10485760 KB of 10485760 KB received";
  d.EstimateTime = "2147483647:59:59";
  d.ReceiveSpeed = "5242880.0 KB/S";
  return d;
}

TDownloadDisplay Conversion() {
  TDownloadDisplay d;
  d.Panel = dpConvert;
  d.Caption = "Clipharbor";
  d.ConvertName = kLongTitle + ".mp4";
  d.Bar2Pos = 42;
  d.TimeElapsed = "99999:59";
  d.TimeEstimated = "99999:59";
  return d;
}

QFrame* Shown(TfrmDownload& f) {
  for (QFrame* p : {f.Panel1, f.Panel2, f.Panel3})
    if (p->isVisibleTo(&f)) return p;
  return nullptr;
}

class DialogLookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDesktop.OnUnexpected = [](const std::string& what) { ADD_FAILURE() << "unexpected " << what; };
  }

  // The download window, shown, displaying `d`.
  TfrmDownload& Download(const TDownloadDisplay& d) {
    if (!FDownload) FDownload = std::make_unique<TfrmDownload>(nullptr, TStringList{"http://x/watch?v=1"});
    FDownload->show();
    FDownload->DisplayChanged(d);
    QApplication::processEvents();
    // On a display the server confirms a resize later, and a confirmation of
    // the size at the first show may arrive in between; wait for the last.
    QTest::qWaitFor([this] { return Shown(*FDownload) && FDownload->size() == Shown(*FDownload)->size(); }, 2000);
    return *FDownload;
  }

  plat::ScriptedDesktop FDesktop;
  plat::ScopedDesktop FScope{FDesktop};
  std::unique_ptr<TfrmDownload> FDownload;
};

// No label of the shown panel is clipped: its text fits its width (the
// shortened ones after shortening), its height holds a line, and it lies
// inside its parent, which lies inside the window.
void ExpectNothingClipped(TfrmDownload& f, const char* what) {
  QFrame* panel = Shown(f);
  ASSERT_TRUE(panel) << what;
  EXPECT_EQ(f.size(), panel->size()) << what;
  for (QLabel* l : panel->findChildren<QLabel*>()) {
    if (!l->isVisibleTo(&f)) continue;
    const std::string name = l->objectName().toStdString() + " in " + what;
    const QFontMetrics fm = l->fontMetrics();
    if (auto* e = qobject_cast<TElidedLabel*>(l)) {
      EXPECT_LE(fm.horizontalAdvance(e->DisplayedText()), l->contentsRect().width()) << name;
      if (fm.horizontalAdvance(l->text()) > l->contentsRect().width()) {
        EXPECT_TRUE(e->DisplayedText().contains(QChar(0x2026))) << name << ": " << e->DisplayedText().toStdString();
      }
    } else if (l->wordWrap()) {
      EXPECT_LE(l->heightForWidth(l->width()), l->height()) << name;
    } else {
      EXPECT_LE(fm.horizontalAdvance(l->text()), l->contentsRect().width()) << name << ": " << l->text().toStdString();
    }
    EXPECT_GE(l->height(), fm.height()) << name;
    EXPECT_TRUE(l->parentWidget()->rect().contains(l->geometry())) << name;
    EXPECT_TRUE(panel->rect().contains(QRect(l->mapTo(panel, QPoint(0, 0)), l->size()))) << name;
  }
  for (QWidget* w : panel->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&f)) continue;
    EXPECT_TRUE(panel->rect().contains(QRect(w->mapTo(panel, QPoint(0, 0)), w->size())))
        << w->objectName().toStdString() << " in " << what;
  }
}

// A value keeps the caption's spacing: it starts after the caption's text,
// trailing blank included, or on a line of its own below it.
void ExpectAfterCaption(QLabel* caption, QLabel* value) {
  const int captionEnd = caption->x() + caption->fontMetrics().horizontalAdvance(caption->text());
  if (value->y() == caption->y()) {
    EXPECT_GE(value->x(), captionEnd) << value->objectName().toStdString();
  } else {
    EXPECT_GT(value->y(), caption->geometry().bottom()) << value->objectName().toStdString();
  }
}

}  // namespace

TEST_F(DialogLookTest, DownloadPanelsHoldTheirLongestValues) {
  TScopedLook style;
  TfrmDownload& f = Download(Retrieval());
  ExpectNothingClipped(f, "retrieval");
  EXPECT_EQ(f.lUrl->text().toStdString(), Retrieval().Url);
  SaveShot(Grab(&f), "download-retrieval");
  // A failure text on the retrieval panel wraps instead of running off.
  TDownloadDisplay failed = Retrieval();
  failed.Label1 = "Unable get html from the url. Please try again later!";
  Download(failed);
  ExpectNothingClipped(f, "retrieval with a failure");

  Download(Transfer());
  ExpectNothingClipped(f, "transfer");
  EXPECT_EQ(f.lFileName->toolTip().toStdString(), Transfer().FileLabel) << "the hint keeps the whole text";
  ExpectAfterCaption(f.lReceiveDataCaption, f.lReceiveData);
  ExpectAfterCaption(f.lEstimateTimeCaption, f.lEstimateTime);
  ExpectAfterCaption(f.lReceiveSpeedCaption, f.lReceiveSpeed);
  EXPECT_EQ(f.suiProgressBar1->value() * 2, f.suiProgressBar1->maximum() + (f.suiProgressBar1->maximum() & 1));
  SaveShot(Grab(&f), "download-transfer");

  Download(Conversion());
  ExpectNothingClipped(f, "conversion");
  EXPECT_EQ(f.lConvertName->toolTip().toStdString(), Conversion().ConvertName);
  ExpectAfterCaption(f.lTimeElapsedCaption, f.lTimeElapsed);
  ExpectAfterCaption(f.lTimeEstimatedCaption, f.lTimeEstimated);
  SaveShot(Grab(&f), "download-conversion");
}

TEST_F(DialogLookTest, LargerDesktopFontGrowsThePanelsInsteadOfClipping) {
  TScopedLook style;
  QFont big = QApplication::font();
  big.setPixelSize(17);
  QApplication::setFont(big);
  for (const TDownloadDisplay& d : {Retrieval(), Transfer(), Conversion()}) {
    FDownload.reset();
    TfrmDownload& f = Download(d);
    ExpectNothingClipped(f, d.Panel == dpRetrieval ? "retrieval" : d.Panel == dpTransfer ? "transfer" : "conversion");
  }
}

// An 18 pt desktop font: in every panel of the download window, the login
// box and the About box every text fits and nothing overlaps.
TEST_F(DialogLookTest, EighteenPointFontClipsAndOverlapsNothing) {
  TScopedLook style;
  TScopedFontSize big(18);
  for (const TDownloadDisplay& d : {Retrieval(), Transfer(), Conversion()}) {
    FDownload.reset();
    TfrmDownload& f = Download(d);
    ExpectNothingClippedOrOverlapping(&f);
    if (d.Panel == dpTransfer) SaveShot(Grab(&f), "download-transfer-18pt");
  }

  TfrmLogin login(nullptr);
  login.eUsername->setText("harbour.master");
  login.ePassword->setText("secret");
  login.show();
  QApplication::processEvents();
  ExpectNothingClippedOrOverlapping(&login);
  EXPECT_GE(login.eUsername->width(), login.eUsername->fontMetrics().horizontalAdvance("harbour.master"));
  SaveShot(Grab(&login), "login-18pt");

  TfrmAbout about(nullptr);
  about.show();
  QApplication::processEvents();
  ExpectNothingClippedOrOverlapping(&about);
  EXPECT_LT(about.Label3->geometry().bottom(), about.Bevel1->y());
  EXPECT_LT(about.Bevel1->geometry().bottom(), about.lbEAddress->y());
  EXPECT_LT(about.lbEAddress->geometry().bottom(), about.bOK->y());
  SaveShot(Grab(&about), "about-18pt");
}

// At the desktop's own font the boxes keep their design sizes.
TEST_F(DialogLookTest, DesktopFontKeepsTheDesignSizes) {
  TScopedLook style;
  TfrmLogin login(nullptr);
  EXPECT_EQ(login.size(), QSize(TfrmLogin::kDesignWidth, TfrmLogin::kDesignHeight));
  TfrmAbout about(nullptr);
  EXPECT_EQ(about.size(), QSize(TfrmAbout::kDesignWidth, TfrmAbout::kDesignHeight));
}

TEST_F(DialogLookTest, EveryTextKeepsItsContrastUnderALightAndADarkPalette) {
  for (bool dark : {false, true}) {
    TScopedLook style(dark);
    // The surface follows the desktop: dark on a dark one.
    auto expectSurface = [dark](const QImage& image, const char* what) {
      EXPECT_EQ(QColor(image.pixel(image.width() - 3, image.height() - 3)).lightness() < 100, dark) << what;
    };
    FDownload.reset();
    for (const TDownloadDisplay& d : {Retrieval(), Transfer(), Conversion()}) {
      const QImage image = ExpectContrast(&Download(d), dark);
      expectSurface(image, "download window");
      if (dark && d.Panel == dpTransfer) SaveShot(image, "download-transfer-dark");
    }

    TfrmLogin login(nullptr);
    login.eUsername->setText("harbour.master");
    login.ePassword->setText("secret");
    login.show();
    QImage image = ExpectContrast(&login, dark);
    expectSurface(image, "login");
    SaveShot(image, dark ? "login-dark" : "login");

    TfrmAbout about(nullptr);
    about.show();
    image = ExpectContrast(&about, dark);
    expectSurface(image, "About");
    if (dark) SaveShot(image, "about-dark");
  }
}

TEST_F(DialogLookTest, PasswordShowsEachCharacterAsAStar) {
  TScopedLook style;
  TfrmLogin login(nullptr);
  login.ePassword->setText("secret");
  login.show();
  QApplication::processEvents();
  EXPECT_EQ(login.ePassword->displayText(), "******");
  // And it is drawn so: the box looks like a plain box holding six stars.
  QLineEdit stars(login.GroupBox1);
  stars.setGeometry(login.ePassword->geometry());
  stars.setText("******");
  stars.show();
  const QImage expected = Grab(&stars);
  EXPECT_EQ(Grab(login.ePassword), expected);
}
