// The window's job is as robust as the command line's: a reset or a stalled
// server is retried with the stored retries and time-outs, the window saying
// so while it waits, and a ".part" left by a failure is continued by the
// next Start instead of begun again.
#include "ui/DownloadWindowFixture.h"

#include <QApplication>

#include <algorithm>

#include "app/core/JobSettings.h"
#include "app/ui/JobResults.h"
#include "platform/FileUtil.h"

using e2e::ReadFile;
using e2e::kClipFile;
using e2e::TService;

namespace {

// True when the service saw a range request that starts past zero.
bool ContinuedFromTheMiddle(const std::string& requests) {
  const std::string::size_type at = requests.find("\"range\": \"bytes=");
  return at != std::string::npos && requests.compare(at, 17, "\"range\": \"bytes=0") != 0;
}

class DownloadRetryTest : public DownloadWindowTest {
 protected:
  // The main window shown with `settings` stored, its output folder the test's.
  void ShowMainWith(const TJobSettings& settings) {
    SaveJobSettings(FDir / "settings.ini", settings);
    FMain->show();
    QApplication::processEvents();
    FMain->eOutputFolder->setText(plat::ToQ(FOut.Path));
  }
  // Start pressed for `address`; every text of the transfer's file line the
  // window showed meanwhile is kept.
  std::vector<std::string> StartAndWatch(const std::string& address) {
    std::vector<std::string> lines;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* form = dynamic_cast<TfrmDownload*>(w);
        if (!form || !form->isVisible()) continue;
        const std::string text = Text(form->lFileName);
        if (!text.empty() && (lines.empty() || lines.back() != text)) lines.push_back(text);
      }
    });
    timer.start(20);
    FMain->eUrl->setText(plat::ToQ(address));
    FMain->bStart->click();  // returns when the download window has closed
    return lines;
  }
  static bool Saw(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
};

}  // namespace

TEST_F(DownloadRetryTest, AResetIsRetriedFromWhereItBrokeWithTheRetryOnScreen) {
  // The rest comes slowly enough to be seen on the window.
  TService s({"--reset-half-way", "1", "--rate", "50000"});
  ASSERT_TRUE(s.Running());
  UseService(s);
  ShowMainWith(TJobSettings{});
  const std::vector<std::string> lines = StartAndWatch(s.WatchUrl());
  EXPECT_EQ(ReadFile(FOut / kClipFile), s.Flv());
  EXPECT_TRUE(ContinuedFromTheMiddle(s.Requests())) << s.Requests();
  // The wait for the retry is shown, and the file's line comes back after it.
  ASSERT_TRUE(Saw(lines, "Connection reset by peer (Error #10054); retry 1 of 3 in 1 second"))
      << ::testing::PrintToString(lines);
  EXPECT_EQ(lines.back(), std::string("Downloading: ") + kClipFile + " ...");
  ASSERT_EQ(FMain->JobResults->Outcomes().size(), 1u);
  EXPECT_TRUE(FMain->JobResults->Outcomes()[0].Succeeded()) << FMain->JobResults->Outcomes()[0].Failure;
  EXPECT_TRUE(FDesktop.Boxes.empty());
}

TEST_F(DownloadRetryTest, AStalledServerRunsIntoTheStoredTimeOutAndIsRetried) {
  TService s({"--stall", "1"});
  ASSERT_TRUE(s.Running());
  UseService(s);
  TJobSettings settings;
  settings.TimeoutS = 1;
  ShowMainWith(settings);
  const std::vector<std::string> lines = StartAndWatch(s.WatchUrl());
  EXPECT_EQ(ReadFile(FOut / kClipFile), s.Flv());
  EXPECT_TRUE(Saw(lines, "Timed out: nothing received for 1 second; retry 1 of 3 in 1 second"))
      << ::testing::PrintToString(lines);
  EXPECT_TRUE(ContinuedFromTheMiddle(s.Requests())) << s.Requests();
  EXPECT_TRUE(FDesktop.Boxes.empty());
}

TEST_F(DownloadRetryTest, APartLeftByAFailureIsContinuedByTheNextStart) {
  TService s({"--reset-half-way", "1"});
  ASSERT_TRUE(s.Running());
  UseService(s);
  TJobSettings settings;
  settings.Retries = 0;
  ShowMainWith(settings);
  FDesktop.ExpectBox("Download failed: Connection reset by peer (Error #10054)", plat::IDOK);
  StartAndWatch(s.WatchUrl());
  const std::string part = FOut / (kClipFile + ".part");
  const std::string half = ReadFile(part);
  ASSERT_FALSE(half.empty());
  EXPECT_LT(half.size(), s.Flv().size());
  EXPECT_FALSE(plat::FileExists(FOut / kClipFile));
  ASSERT_EQ(FMain->JobResults->Outcomes().size(), 1u);
  EXPECT_NE(FMain->JobResults->Outcomes()[0].Failure.find("Connection reset by peer"), std::string::npos);

  // The next Start asks only for the rest of the same file.
  StartAndWatch(s.WatchUrl());
  EXPECT_EQ(ReadFile(FOut / kClipFile), s.Flv());
  EXPECT_FALSE(plat::FileExists(part));
  EXPECT_TRUE(ContinuedFromTheMiddle(s.Requests())) << s.Requests();
  EXPECT_TRUE(FMain->JobResults->Outcomes()[0].Succeeded());
}
