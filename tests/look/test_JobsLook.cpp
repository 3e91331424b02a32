// The end of a job on the main window and the settings dialog, built with
// the program's look: nothing clipped or outside its window, every text
// readable under a light and a dark palette, and the screenshots of both
// (README shows the ones taken on Xvfb).
#include "LookSupport.h"

#include "app/ui/JobResults.h"
#include "app/ui/Main.h"
#include "app/ui/SettingsDialog.h"
#include "platform/ScriptedDesktop.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>

#include <memory>

using namespace look;

namespace {

// Every visible control of `window` lies inside it; a button and a check
// box show their whole text, a wrapping label all its lines.
void ExpectNothingClipped(QWidget* window, const char* what) {
  const QRect inside = window->rect();
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window) || w->isWindow()) continue;
    const std::string name = w->objectName().toStdString() + " in " + what;
    const QRect r(w->mapTo(window, QPoint(0, 0)), w->size());
    if (!qobject_cast<QScrollArea*>(w->parentWidget()) && w->objectName() != "JobResultRows" &&
        !(w->parentWidget() && w->parentWidget()->objectName() == "qt_scrollarea_viewport")) {
      EXPECT_TRUE(inside.contains(r)) << name;
    }
    if (auto* b = qobject_cast<QPushButton*>(w)) {
      EXPECT_GE(b->width(), b->sizeHint().width()) << name;
    } else if (auto* c = qobject_cast<QCheckBox*>(w)) {
      EXPECT_GE(c->width(), c->sizeHint().width()) << name;
    } else if (auto* l = qobject_cast<QLabel*>(w); l && l->wordWrap() && !l->text().isEmpty()) {
      EXPECT_LE(l->heightForWidth(l->width()), l->height()) << name;
    } else if (auto* s = qobject_cast<QAbstractSpinBox*>(w)) {
      EXPECT_GE(s->width(), s->minimumSizeHint().width()) << name;
    }
  }
}

class JobsLookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FDir.isValid());
    FDesktop.OnUnexpected = [](const std::string& what) { ADD_FAILURE() << "unexpected " << what; };
  }

  // The main window after a queue of three: two files saved, one failure.
  TfrmMain& AfterAQueue() {
    FForm = std::make_unique<TfrmMain>((FDir.path() + "/settings.ini").toStdString());
    FForm->show();
    FForm->eOutputFolder->setText("/home/ada/Videos");
    FForm->eUrl->setText("http://www.youtube.com/watch?v=piEWjpA_51Q");
    FForm->ShowOutcomes(
        {{"http://www.youtube.com/watch?v=piEWjpA_51Q", TJobMode::jmDownloadConvert,
          {"/home/ada/Videos/Harbour Lights at Dusk.flv", "/home/ada/Videos/Harbour Lights at Dusk.mp3"}, ""},
         {"https://files.example.org/clips/tide-tables-2008.flv", TJobMode::jmDownloadConvert, {},
          "Download failed: 404 Not Found"}});
    QApplication::processEvents();
    return *FForm;
  }

  QTemporaryDir FDir;
  plat::ScriptedDesktop FDesktop;
  plat::ScopedDesktop FScope{FDesktop};
  std::unique_ptr<TfrmMain> FForm;
};

}  // namespace

TEST_F(JobsLookTest, TheEndOfAJobFitsTheWindowAndReadsWellLightAndDark) {
  for (bool dark : {false, true}) {
    TScopedLook style(dark);
    TfrmMain& f = AfterAQueue();
    ASSERT_TRUE(f.JobResults->isVisible());
    ExpectNothingClipped(&f, dark ? "the dark main window" : "the main window");
    const QImage image = ExpectContrast(&f, dark);
    // The paths and the reason are drawn, not only laid out.
    for (QLabel* l : f.JobResults->findChildren<QLabel*>()) {
      if (dark || l->text().isEmpty() || !l->isVisibleTo(&f)) continue;
      EXPECT_GT(DarkPixels(image, InWindow(l, l->contentsRect())), 10) << l->objectName().toStdString();
    }
    SaveShot(Grab(&f), dark ? "job-end-dark" : "job-end");
  }
}

TEST_F(JobsLookTest, TheSettingsDialogFitsItsTextsAndReadsWellLightAndDark) {
  for (bool dark : {false, true}) {
    TScopedLook style(dark);
    TfrmSettings d(nullptr);
    TJobSettings s;
    s.Proxy = "http://ada@proxy.example.org:3128";
    s.NoProxy = "localhost, .example.org";
    d.SetValues(s, "/home/ada/Videos", "secret");
    d.show();
    QApplication::processEvents();
    ExpectNothingClipped(&d, dark ? "the dark settings dialog" : "the settings dialog");
    const QImage image = ExpectContrast(&d, dark);
    SaveShot(image, dark ? "settings-dark" : "settings");
    // A checked box shows its mark, which an unchecked one lacks: dark on
    // the light look's face, light on the dark one's.
    d.cbKeepDownload->setChecked(false);
    const QImage after = Grab(&d);
    const auto markOf = [&](const QImage& shot, QCheckBox* box) {
      QStyleOptionButton o;
      o.initFrom(box);
      const QRect r = InWindow(box, box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &o, box));
      return dark ? r.width() * r.height() - DarkPixels(shot, r, 120) : DarkPixels(shot, r);
    };
    EXPECT_GT(markOf(after, d.cbWatchClipboard), markOf(after, d.cbKeepDownload) + 8) << (dark ? "dark" : "light");
  }
}
