// The main window's jobs beyond one address: several addresses or files
// pasted or dropped run as one queue (each checked first), direct and https
// addresses are taken, the end stays on the window with Open, Show in
// folder and Retry, and a notification goes out only when the program is
// not in front.
#include "MainFixture.h"

#include "app/ui/JobResults.h"
#include "platform/FileUtil.h"

#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QUrl>

#include <fstream>

using plat::IDOK;
using plat::IDYES;

namespace {

const std::string kWatch = "http://www.youtube.com/watch?v=abcDEF123";

// Drops `data` onto `target` as a drag from another program would.
void Drop(QWidget* target, QMimeData* data) {
  const QPoint at = target->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  ASSERT_TRUE(enter.isAccepted()) << "the drag was refused";
  QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
}

std::vector<QWidget*> Rows(TfrmMain& f, const char* name) {
  std::vector<QWidget*> rows;
  for (QWidget* w : f.JobResults->findChildren<QWidget*>(name))
    if (w->isVisibleTo(&f)) rows.push_back(w);
  return rows;
}

}  // namespace

TEST_F(MainWindowTest, SeveralPastedAddressesRunAsOneQueueInTheirOrder) {
  TfrmMain& f = Open();
  f.eOutputFolder->setText(QString::fromStdString(Dir()));
  f.rbDownloadConvert->click();
  f.eUrl->setText(QString::fromStdString(kWatch + " https://files.test/a.flv\r\n\n https://www.youtube.com/watch?v=x \n"));
  f.bStart->click();
  EXPECT_EQ(log_.Events, (std::vector<std::string>{"create", "show", "destroy"}));
  EXPECT_EQ(log_.Input,
            (TStringList{kWatch, "https://files.test/a.flv", "https://www.youtube.com/watch?v=x"}));
  EXPECT_EQ(log_.InputKinds, (std::vector<TInputKind>{ikWatchPage, ikDirect, ikWatchPage}));
  EXPECT_EQ(log_.JobMode, 1);

  // Local files, one per line, names with blanks and all, in the convert mode.
  const std::string a = Dir() + "/my clip.mp4", b = Dir() + "/other.mkv";
  std::ofstream(a) << "x";
  std::ofstream(b) << "x";
  f.rbConvert->click();
  f.eFileName->setText(QString::fromStdString(a + "\n" + b));
  f.bStart->click();
  EXPECT_EQ(log_.Input, (TStringList{a, b}));
  EXPECT_EQ(log_.InputKinds, (std::vector<TInputKind>{ikLocalFile, ikLocalFile}));
}

TEST_F(MainWindowTest, EveryInputOfAQueueIsCheckedBeforeAnyRuns) {
  TfrmMain& f = Open();
  const std::string folder = Dir() + "/new";
  f.eOutputFolder->setText(QString::fromStdString(folder));
  f.eUrl->setText(QString::fromStdString(kWatch + "\nftp://files.test/a.flv"));
  // The folder first, as for one address, then the input that is wrong.
  desk_.ExpectBox(folder + ", the output directory does not exist.\r\ncreates a new directory?", IDYES);
  desk_.ExpectBox("Please enter the url like " + kExample + "\r\nftp://files.test/a.flv", IDOK);
  f.bStart->click();
  f.eUrl->setText(QString::fromStdString(kWatch + " " + Dir() + "/missing.flv"));
  desk_.ExpectBox("Please check whether the video file exist.\r\n" + Dir() + "/missing.flv", IDOK);
  f.bStart->click();
  EXPECT_TRUE(log_.Events.empty());
  EXPECT_EQ(desk_.Boxes.size(), 3u);
}

TEST_F(MainWindowTest, DirectAndHttpsAddressesAreTakenOnTheirOwn) {
  TfrmMain& f = Open();
  f.eOutputFolder->setText(QString::fromStdString(Dir()));
  for (auto [address, kind] : {std::pair{std::string("https://www.youtube.com/watch?v=x"), ikWatchPage},
                               std::pair{std::string("http://files.test/clip.flv"), ikDirect},
                               std::pair{std::string("HTTPS://files.test/get?id=7"), ikDirect}}) {
    f.eUrl->setText(QString::fromStdString(address));
    f.bStart->click();
    EXPECT_EQ(log_.Input, TStringList{address});
    EXPECT_EQ(log_.InputKinds, std::vector<TInputKind>{kind}) << address;
  }
  EXPECT_EQ(log_.Shows, 3);
  // The window's jobs speak https, checked against the system's store.
  EXPECT_TRUE(log_.Net.Https);
  EXPECT_TRUE(log_.Net.Trust.VerifyPeer);
  EXPECT_TRUE(log_.Net.Trust.CaFile.empty());
}

TEST_F(MainWindowTest, DropsOfOneInputFillItsBoxAndOfSeveralStartThem) {
  TfrmMain& f = Open();
  f.eOutputFolder->setText(QString::fromStdString(Dir()));
  const std::string clip = Dir() + "/dropped clip.webm";
  std::ofstream(clip) << "x";

  // One file, dropped on the address box: the file box and the convert mode.
  auto* data = new QMimeData;
  data->setUrls({QUrl::fromLocalFile(QString::fromStdString(clip))});
  Drop(f.eUrl, data);
  delete data;
  EXPECT_EQ(f.eFileName->text().toStdString(), clip);
  EXPECT_TRUE(f.rbConvert->isChecked());
  EXPECT_TRUE(f.eFileName->isVisibleTo(&f));
  // One link: the address box and a download mode again.
  data = new QMimeData;
  data->setUrls({QUrl("http://www.youtube.com/watch?v=dropped")});
  Drop(&f, data);
  delete data;
  EXPECT_EQ(f.eUrl->text().toStdString(), "http://www.youtube.com/watch?v=dropped");
  EXPECT_TRUE(f.rbDownload->isChecked());
  EXPECT_TRUE(log_.Events.empty());

  // Links and files together start at once.
  data = new QMimeData;
  data->setUrls({QUrl("https://files.test/a.flv"), QUrl::fromLocalFile(QString::fromStdString(clip)),
                 QUrl("http://www.youtube.com/watch?v=b")});
  Drop(f.bStart, data);
  delete data;
  EXPECT_EQ(log_.Input, (TStringList{"https://files.test/a.flv", clip, "http://www.youtube.com/watch?v=b"}));
  EXPECT_EQ(log_.InputKinds, (std::vector<TInputKind>{ikDirect, ikLocalFile, ikWatchPage}));
  EXPECT_EQ(log_.JobMode, 0);

  // Dropped text is split as a paste is.
  data = new QMimeData;
  data->setText(QString::fromStdString(kWatch + "\n" + "http://files.test/b.flv"));
  Drop(f.eOutputFolder, data);
  delete data;
  EXPECT_EQ(log_.Input, (TStringList{kWatch, "http://files.test/b.flv"}));
  EXPECT_EQ(log_.Shows, 2);
  EXPECT_EQ(f.eOutputFolder->text().toStdString(), Dir());  // the box took nothing itself

  // A folder is where the files go.
  const std::string folder = Dir() + "/videos";
  plat::ForceDirectories(folder);
  data = new QMimeData;
  data->setUrls({QUrl::fromLocalFile(QString::fromStdString(folder))});
  Drop(f.eOutputFolder, data);
  delete data;
  EXPECT_EQ(f.eOutputFolder->text().toStdString(), folder);
  EXPECT_EQ(log_.Shows, 2);
}

TEST_F(MainWindowTest, TheEndStaysOnTheWindowWithOpenShowInFolderAndRetry) {
  TfrmMain& f = Open();
  f.eOutputFolder->setText(QString::fromStdString(Dir()));
  f.rbDownloadConvert->click();
  const QSize designSize = f.size();
  log_.Outcomes = {{kWatch, TJobMode::jmDownloadConvert, {Dir() + "/Clip.flv", Dir() + "/Clip.mp3"}, ""},
                   {"http://files.test/gone.flv", TJobMode::jmDownloadConvert, {}, "Download failed: 404 Not Found"}};
  f.eUrl->setText(QString::fromStdString(kWatch + " http://files.test/gone.flv"));
  f.bStart->click();
  ASSERT_TRUE(f.JobResults->isVisible());
  EXPECT_EQ(f.JobResults->lSummary->text().toStdString(), "1 of 2 jobs failed, 2 files saved");
  EXPECT_GT(f.height(), designSize.height());  // the window grew for it
  EXPECT_GE(f.JobResults->geometry().top(), f.bStart->geometry().bottom());
  EXPECT_LE(f.JobResults->geometry().bottom(), f.height());

  const std::vector<QWidget*> saved = Rows(f, "SavedRow");
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0]->property("path").toString().toStdString(), Dir() + "/Clip.flv");
  auto* path = saved[1]->findChild<QLabel*>("lSavedPath");
  ASSERT_TRUE(path);
  EXPECT_EQ(path->text().remove(QChar(0x200B)).toStdString(), Dir() + "/Clip.mp3");  // the full path
  saved[1]->findChild<QPushButton*>("bOpen")->click();
  saved[0]->findChild<QPushButton*>("bShowInFolder")->click();
  EXPECT_EQ(desk_.Opened, std::vector<std::string>{Dir() + "/Clip.mp3"});
  EXPECT_EQ(desk_.ShownInFolder, std::vector<std::string>{Dir() + "/Clip.flv"});

  const std::vector<QWidget*> failed = Rows(f, "FailureRow");
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0]->findChild<QLabel*>("lFailure")->text().toStdString(), "Download failed: 404 Not Found");
  // Retry runs that input alone, in its mode; its end replaces the list.
  log_.Outcomes = {{"http://files.test/gone.flv", TJobMode::jmDownloadConvert, {Dir() + "/gone.flv", Dir() + "/gone.mp3"}, ""}};
  f.rbDownload->click();  // the mode of the failed job counts, not today's
  failed[0]->findChild<QPushButton*>("bRetry")->click();
  QTest::qWait(20);  // the retry runs once the click has returned
  EXPECT_EQ(log_.Input, TStringList{"http://files.test/gone.flv"});
  EXPECT_EQ(log_.JobMode, 1);
  EXPECT_EQ(log_.InputKinds, std::vector<TInputKind>{ikDirect});
  EXPECT_EQ(f.JobResults->lSummary->text().toStdString(), "2 files saved");
  EXPECT_EQ(Rows(f, "FailureRow").size(), 0u);
  // The panel measured the new rows: both in sight without scrolling.
  auto* scroll = f.JobResults->findChild<QScrollArea*>("JobResultScroll");
  const std::vector<QWidget*> now = Rows(f, "SavedRow");
  ASSERT_EQ(now.size(), 2u);
  EXPECT_LE(now[1]->geometry().bottom(), scroll->viewport()->height());

  f.JobResults->bCloseResults->click();
  EXPECT_FALSE(f.JobResults->isVisible());
  EXPECT_EQ(f.size(), designSize);
}

TEST_F(MainWindowTest, ManyResultsScrollInsteadOfGrowingTheWindowWithoutEnd) {
  TfrmMain& f = Open();
  f.eOutputFolder->setText(QString::fromStdString(Dir()));
  std::string text;
  for (int i = 0; i < 30; ++i) {
    const std::string address = "http://files.test/" + std::to_string(i) + ".flv";
    text += address + "\n";
    log_.Outcomes.push_back({address, TJobMode::jmDownload, {Dir() + "/a/very/long/folder/name/that/does/not/fit/" + std::to_string(i) +
                                          ".flv"}, ""});
  }
  f.eUrl->setText(QString::fromStdString(text));
  f.bStart->click();
  ASSERT_TRUE(f.JobResults->isVisible());
  EXPECT_LT(f.height(), 362 + 400);
  auto* scroll = f.JobResults->findChild<QScrollArea*>("JobResultScroll");
  ASSERT_TRUE(scroll);
  EXPECT_GT(scroll->widget()->height(), scroll->viewport()->height());
  // Long paths wrap: nothing wider than the window.
  EXPECT_LE(f.JobResults->width(), f.width());
  EXPECT_LE(scroll->widget()->width(), scroll->viewport()->width());
}

TEST_F(MainWindowTest, ANotificationOnlyWhenTheProgramIsNotInFront) {
  TfrmMain& f = Open();
  f.eOutputFolder->setText(QString::fromStdString(Dir()));
  f.eUrl->setText(QString::fromStdString(kWatch));
  log_.Outcomes = {{kWatch, TJobMode::jmDownload, {Dir() + "/Clip.flv"}, ""}};
  f.activateWindow();
  QTest::qWait(20);
  ASSERT_TRUE(f.isActiveWindow());
  f.bStart->click();
  EXPECT_TRUE(desk_.Notifications.empty());

  // Another program in front while the job runs.
  QWidget other;
  other.setWindowTitle("another program");
  log_.OnShow = [&] {
    other.show();
    other.activateWindow();
    QTest::qWait(20);
  };
  f.bStart->click();
  ASSERT_EQ(desk_.Notifications.size(), 1u);
  EXPECT_EQ(desk_.Notifications[0].Summary, "1 file saved");
  EXPECT_EQ(desk_.Notifications[0].Body, Dir() + "/Clip.flv");
  EXPECT_FALSE(desk_.Notifications[0].Failure);

  log_.Outcomes = {{kWatch, TJobMode::jmDownload, {}, "Download failed: connection refused"}};
  f.bStart->click();
  ASSERT_EQ(desk_.Notifications.size(), 2u);
  EXPECT_EQ(desk_.Notifications[1].Summary, "Failed");
  EXPECT_EQ(desk_.Notifications[1].Body, kWatch + ": Download failed: connection refused");
  EXPECT_TRUE(desk_.Notifications[1].Failure);
  // The failure's reason stays on the window with Retry.
  ASSERT_EQ(Rows(f, "FailureRow").size(), 1u);
  EXPECT_TRUE(Rows(f, "FailureRow")[0]->findChild<QPushButton*>("bRetry")->isVisibleTo(&f));
}
