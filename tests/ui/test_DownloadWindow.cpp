// The download window under offscreen Qt with the scripted desktop, against
// the stand-in video service: panels, captions and sizes, the three modes,
// the age gate through the login dialog, Stop buttons, the close box as
// Stop, converter failures.
#include <sys/file.h>

#include <QApplication>
#include <QComboBox>
#include <QRadioButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "app/core/ConvertThread.h"
#include "app/core/Formats.h"
#include "app/ui/Login.h"
#include "net/http/HttpProt.h"
#include "platform/QtText.h"
#include "platform/ScriptedDesktop.h"
#include "ui/DownloadWindowFixture.h"

using namespace e2e;

namespace {

const char* kGoodConversion = R"([
  ["err", "  Duration: 00:00:10.00, start: 0.000000, bitrate: 364 kb/s\n"],
  ["err", "size= 10kB time=00:00:05.00 bitrate= 32.0kbits/s\r"],
  ["sleep", 0.2],
  ["output", "converted"],
  ["exit", 0]
])";

}  // namespace

TEST_F(DownloadWindowTest, DownloadShowsPanelsInTurnAndClosesWithTheFile) {
  TService s({"--rate", "50000"});
  ASSERT_TRUE(s.Running());
  UseService(s);
  FMain->move(200, 150);
  TfrmDownload& f = Make(s.WatchUrl(), 0);
  EXPECT_EQ(plat::FromQ(f.windowTitle()), "Download");
  EXPECT_EQ(plat::FromQ(f.eFileName->text()), "get_video");
  bool sawRetrieval = false, sawTransfer = false;
  std::string speed;
  const int result = RunModal([&] {
    if (f.Panel1->isVisible()) {
      sawRetrieval = true;
      EXPECT_FALSE(f.Panel2->isVisible());
      EXPECT_EQ(f.size(), QSize(268, 129));
      EXPECT_EQ(Text(f.Label1), "Get html from the URL, please wait...");
      EXPECT_EQ(Text(f.lUrl), s.WatchUrl());
      EXPECT_EQ(plat::FromQ(f.windowTitle()), "Clipharbor");
    }
    if (f.Panel2->isVisible() && !Text(f.lReceiveData).empty()) {
      sawTransfer = true;
      EXPECT_FALSE(f.Panel1->isVisible());
      EXPECT_EQ(f.size(), QSize(353, 202));
      EXPECT_EQ(Text(f.lFileName), "Downloading: Sample Clip.flv ...");
      EXPECT_EQ(plat::FromQ(f.lFileName->toolTip()), Text(f.lFileName));
      EXPECT_NE(plat::FromQ(f.eDownloadUrl->text()).find("/get_video?video_id=Xk3mP9qA_7w&t=OEgs"),
                std::string::npos);
      if (!Text(f.lReceiveSpeed).empty()) speed = Text(f.lReceiveSpeed);
      // Centred on the main window with whole window sizes.
      const QRect m = FMain->frameGeometry(), w = f.frameGeometry();
      EXPECT_EQ(w.left(), m.left() + (m.width() - w.width()) / 2);
      EXPECT_EQ(w.top(), m.top() + (m.height() - w.height()) / 2);
    }
  });
  EXPECT_EQ(result, mrCancel);
  EXPECT_TRUE(sawRetrieval);
  EXPECT_TRUE(sawTransfer);
  EXPECT_FALSE(f.isVisible());
  const std::string flv = s.Flv();
  EXPECT_EQ(ReadFile(FOut / "Sample Clip.flv"), flv);
  EXPECT_EQ(Text(f.lReceiveData), std::to_string((flv.size() + 512) / 1024) + " KB of " +
                                      std::to_string((flv.size() + 512) / 1024) + " KB received");
  EXPECT_EQ(f.suiProgressBar1->maximum(), static_cast<int>(flv.size()));
  EXPECT_EQ(f.suiProgressBar1->value(), static_cast<int>(flv.size()));
  // At 50 KB/s the body takes more than two seconds: one speed sample at least.
  EXPECT_NE(speed.find(" KB/S"), std::string::npos) << speed;
  EXPECT_EQ(f.gbDetails->title(), "Details");
  EXPECT_EQ(Text(f.lReceiveDataCaption), "Download Size: ");
  EXPECT_EQ(Text(f.lEstimateTimeCaption), "Estimating time remaining: ");
  EXPECT_EQ(f.lReceiveSpeedCaption->text(), QString::fromUtf8("Download Speed\xEF\xBC\x9A"));
  EXPECT_TRUE(FDesktop.Boxes.empty());
}

TEST_F(DownloadWindowTest, MainWindowStartRunsTheWholeJob) {
  TService s({});
  ASSERT_TRUE(s.Running());
  UseService(s);
  UseStandInConverter(kGoodConversion);
  FMain->eUrl->setText(plat::ToQ(s.WatchUrl()));
  FMain->rbDownloadConvert->setChecked(true);
  FMain->cbFormat->setCurrentIndex(7);
  FMain->bStart->click();  // returns when the download window has closed
  EXPECT_EQ(ReadFile(FOut / "Sample Clip.flv"), s.Flv());
  EXPECT_EQ(ReadFile(FOut / "Sample Clip.mp3"), "converted");
  EXPECT_TRUE(FDesktop.Boxes.empty());
}

TEST_F(DownloadWindowTest, DownloadAndConvertShowsConversionPanel) {
  TService s({});
  ASSERT_TRUE(s.Running());
  UseService(s);
  UseStandInConverter(kGoodConversion);
  TfrmDownload& f = Make(s.WatchUrl(), 1, 7);
  int seenPercent = 0;
  const int result = RunModal([&] {
    if (f.Panel3->isVisible()) {
      EXPECT_EQ(f.size(), QSize(348, 145));
      EXPECT_EQ(f.gbConverting->title(), "Converting");
      if (f.suiProgressBar2->value() > 0 && f.suiProgressBar2->value() < 100)
        seenPercent = f.suiProgressBar2->value();
    }
  });
  EXPECT_EQ(result, mrCancel);
  EXPECT_EQ(seenPercent, 50);
  EXPECT_EQ(Text(f.lConvertName), "Sample Clip.mp3");
  EXPECT_EQ(plat::FromQ(f.lConvertName->toolTip()), "Sample Clip.mp3");
  EXPECT_EQ(f.suiProgressBar2->value(), 100);
  // The end record empties both times.
  EXPECT_EQ(Text(f.lTimeElapsed), "");
  EXPECT_EQ(Text(f.lTimeEstimated), "");
  EXPECT_EQ(ReadFile(FOut / "Sample Clip.flv"), s.Flv());
  EXPECT_EQ(ReadFile(FOut / "Sample Clip.mp3"), "converted");
  EXPECT_FALSE(ConvertProcess->FActive);
}

TEST_F(DownloadWindowTest, ConvertLocalFileWithRealConverter) {
  TService s({});
  ASSERT_TRUE(s.Running());
  const std::string flv = FOut / "clip.flv";
  WriteFile(flv, s.Flv());
  TfrmDownload& f = Make(flv, 2, 7);
  bool retrievalShown = false;
  const int result = RunModal([&] { retrievalShown = retrievalShown || f.Panel1->isVisible(); });
  EXPECT_EQ(result, mrCancel);
  EXPECT_FALSE(retrievalShown);
  const std::string mp3 = ReadFile(FOut / "clip.mp3");
  ASSERT_GT(mp3.size(), 1000u);
  TRunResult probe = RunProcess({"ffprobe", "-v", "error", "-show_entries", "format=format_name", "-of",
                          "default=nw=1:nk=1", FOut / "clip.mp3"},
                         Environment({}));
  EXPECT_EQ(probe.Out, "mp3\n");
}

TEST_F(DownloadWindowTest, AgeGateAsksThroughLoginDialog) {
  TService s({"--age-gate"});
  ASSERT_TRUE(s.Running());
  UseService(s);
  FDesktop.ExpectBox(std::string("This video may contain content that is inappropriate for some users, as "
                                 "flagged by YouTube\"s user commnunity.\r\nTo view this video, please verify "
                                 "you are 18 or older by logging in or signing up.\r\n\r\nDo you want Login "
                                 "to access your account?"),
                     plat::IDYES);
  Make(s.WatchUrl(), 0);
  int dialogs = 0;
  const int result = RunModal([&] {
    if (auto* login = qobject_cast<TfrmLogin*>(QApplication::activeModalWidget())) {
      ++dialogs;
      EXPECT_TRUE(login->eUsername->text().isEmpty());
      login->eUsername->setText("user");
      login->ePassword->setText("secret");
      login->bOK->click();
    }
  });
  EXPECT_EQ(result, mrCancel);
  EXPECT_EQ(dialogs, 1);
  ASSERT_EQ(FDesktop.Boxes.size(), 1u);
  EXPECT_EQ(FDesktop.Boxes[0].Flags, plat::MB_YESNO | plat::MB_ICONINFORMATION);
  EXPECT_EQ(FDesktop.Boxes[0].Caption, "Clipharbor");
  // The account is kept in the main window for later jobs.
  EXPECT_EQ(FMain->FAccountUser, "user");
  EXPECT_EQ(FMain->FAccountPassword, "secret");
  EXPECT_EQ(ReadFile(FOut / "Sample Clip.flv"), s.Flv());
}

TEST_F(DownloadWindowTest, AgeGateWithStoredAccountAsksNothing) {
  TService s({"--age-gate", "--birth-date"});
  ASSERT_TRUE(s.Running());
  UseService(s);
  FMain->FAccountUser = "user";
  FMain->FAccountPassword = "secret";
  Make(s.WatchUrl(), 0);
  EXPECT_EQ(RunModal(), mrCancel);
  EXPECT_TRUE(FDesktop.Boxes.empty());
  EXPECT_EQ(ReadFile(FOut / "Sample Clip.flv"), s.Flv());
  const std::string log = s.Requests();
  EXPECT_LT(log.find("/login?next="), log.find("/verify_age?next_url="));
}

TEST_F(DownloadWindowTest, AgeGateRefusedOrCancelledStops) {
  TService s({"--age-gate"});
  ASSERT_TRUE(s.Running());
  UseService(s);
  FDesktop.ExpectBox(plat::IDNO);
  Make(s.WatchUrl(), 0);
  EXPECT_EQ(RunModal(), mrStop);

  FDesktop.ExpectBox(plat::IDYES);
  TfrmDownload& f = Make(s.WatchUrl(), 0);
  const int result = RunModal([&] {
    if (auto* login = qobject_cast<TfrmLogin*>(QApplication::activeModalWidget())) {
      login->eUsername->setText("typed");
      login->bCancel->click();
    }
  });
  EXPECT_EQ(result, mrStop);
  EXPECT_EQ(FMain->FAccountUser, "");
  EXPECT_FALSE(Exists(FOut / "Sample Clip.flv"));
  EXPECT_EQ(FDesktop.Boxes.size(), 2u);
  (void)f;
}

TEST_F(DownloadWindowTest, PagesWithoutAddressReportAndStop) {
  for (const char* which : {"--not-available", "--no-token"}) {
    TService s({which});
    ASSERT_TRUE(s.Running());
    UseService(s);
    FDesktop.ExpectBox("Unable get html from " + s.WatchUrl(), plat::IDOK);
    TfrmDownload& f = Make(s.WatchUrl(), 1);
    f.Job().FPollLimitMs = 1000;
    EXPECT_EQ(RunModal(), mrStop) << which;
    ASSERT_FALSE(FDesktop.Boxes.empty());
    EXPECT_EQ(FDesktop.Boxes.back().Flags, plat::MB_OK | plat::MB_ICONINFORMATION);
    EXPECT_TRUE(f.eDownloadUrl->text().isEmpty());
  }
}

TEST_F(DownloadWindowTest, ExistingTargetAnsweredNoMakesNoRequest) {
  TService s({});
  ASSERT_TRUE(s.Running());
  UseService(s);
  WriteFile(FOut / "Sample Clip.flv", "keep me");
  FDesktop.ExpectBox(FOut.Path + "/Sample Clip.flv has existed,overite it?", plat::IDNO);
  Make(s.WatchUrl(), 1);
  EXPECT_EQ(RunModal(), mrCancel);
  EXPECT_EQ(FDesktop.Boxes.at(0).Flags, plat::MB_YESNO | plat::MB_ICONINFORMATION | plat::MB_DEFBUTTON2);
  EXPECT_EQ(ReadFile(FOut / "Sample Clip.flv"), "keep me");
  EXPECT_EQ(s.Requests().find("/get_video"), std::string::npos);
  EXPECT_FALSE(ConvertProcess->FActive);
}

TEST_F(DownloadWindowTest, StopButtonInEachStage) {
  {
    TService s({"--page-delay", "20"});
    ASSERT_TRUE(s.Running());
    UseService(s);
    TfrmDownload& f = Make(s.WatchUrl(), 0);
    const std::uint32_t start = plat::GetTickCount();
    int ticks = 0;
    bool transferShown = false;
    EXPECT_EQ(RunModal([&] {
                if (++ticks == 10) StopOf(f.Panel1)->click();
                transferShown = transferShown || f.Panel2->isVisible();
              }),
              mrStop);
    // Ended while the page was still loading, with nothing posted.
    EXPECT_LT(plat::GetTickCount() - start, 10000u);
    EXPECT_FALSE(transferShown);
    EXPECT_TRUE(FDesktop.Boxes.empty());
  }
  {
    TService s({"--rate", "30000"});
    ASSERT_TRUE(s.Running());
    UseService(s);
    TfrmDownload& f = Make(s.WatchUrl(), 0);
    // Once: a busy machine may run the tick again before the modal run ends,
    // and a second Stop finds the client ready and says "OK".
    bool stopped = false;
    EXPECT_EQ(RunModal([&] {
                if (!stopped && f.Panel2->isVisible() && f.suiProgressBar1->value() > 0) {
                  stopped = true;
                  StopOf(f.Panel2)->click();
                }
              }),
              mrStop);
    EXPECT_EQ(f.Job().HttpCli1().StatusCode(), 404);
    EXPECT_EQ(f.Job().HttpCli1().ReasonPhrase(), "Connection aborted on request");
    EXPECT_FALSE(Exists(FOut / "Sample Clip.flv"));
    EXPECT_LT(ReadFile(FOut / "Sample Clip.flv.part").size(), s.Flv().size());
  }
  {
    const std::string pids = FDir / "pids.json";
    UseStandInConverter(R"([["err", "  Duration: 00:00:10.00, start: 0\n"],
                            ["err", "time=00:00:03.00 \r"], ["pids", ")" + pids + R"("], ["hang"]])");
    const std::string flv = FOut / "in.flv";
    WriteFile(flv, "FLV");
    TfrmDownload& f = Make(flv, 2);
    EXPECT_EQ(RunModal([&] {
                if (f.suiProgressBar2->value() == 30 && Exists(pids)) StopOf(f.Panel3)->click();
              }),
              mrStop);
    EXPECT_FALSE(ConvertProcess->FActive);
    EXPECT_EQ(Text(f.lTimeElapsed).size(), 5u);
  }
}

// The close box (and Alt+F4, which a window manager turns into the same
// close request) is Stop in every stage: the transfer is aborted at once,
// leaving its ".part", and nothing is converted.
TEST_F(DownloadWindowTest, CloseBoxDuringTransferStopsIt) {
  TService s({"--rate", "60000"});
  ASSERT_TRUE(s.Running());
  UseService(s);
  const std::string pids = FDir / "pids.json";
  UseStandInConverter(R"([["pids", ")" + pids + R"("], ["hang"]])");
  TfrmDownload& f = Make(s.WatchUrl(), 1);
  bool closed = false;
  const int result = RunModal([&] {
    if (!closed && f.Panel2->isVisible() && f.suiProgressBar1->value() > 0) {
      closed = true;
      f.close();
    }
  });
  EXPECT_EQ(result, mrStop);
  EXPECT_TRUE(closed);
  EXPECT_EQ(f.Job().HttpCli1().ReasonPhrase(), "Connection aborted on request");
  EXPECT_FALSE(Exists(FOut / "Sample Clip.flv"));
  EXPECT_LT(ReadFile(FOut / "Sample Clip.flv.part").size(), s.Flv().size());
  EXPECT_FALSE(Exists(pids)) << "a stopped download is not converted";
  EXPECT_FALSE(ConvertProcess->FActive);
  EXPECT_TRUE(FDesktop.Boxes.empty());
}

TEST_F(DownloadWindowTest, CloseBoxInRetrievalAndConversion) {
  {
    // Retrieval ends within a pumped message; nothing is fetched.
    TService s({"--page-delay", "3"});
    ASSERT_TRUE(s.Running());
    UseService(s);
    TfrmDownload& f = Make(s.WatchUrl(), 0);
    bool closed = false, transferShown = false;
    EXPECT_EQ(RunModal([&] {
                if (!closed && f.Panel1->isVisible()) {
                  closed = true;
                  f.close();
                }
                transferShown = transferShown || f.Panel2->isVisible();
              }),
              mrStop);
    EXPECT_FALSE(transferShown);
    EXPECT_TRUE(f.eDownloadUrl->text().isEmpty());
    EXPECT_EQ(s.Requests().find("/get_video"), std::string::npos);
  }
  {
    const std::string pids = FDir / "pids.json";
    UseStandInConverter(R"([["err", "  Duration: 00:00:10.00, start: 0\n"], ["pids", ")" + pids + R"("], ["hang"]])");
    const std::string flv = FOut / "in.flv";
    WriteFile(flv, "FLV");
    TfrmDownload& f = Make(flv, 2);
    EXPECT_EQ(RunModal([&] {
                if (Exists(pids)) f.close();
              }),
              mrStop);
    EXPECT_FALSE(ConvertProcess->FActive);
    const std::string info = ReadFile(pids);
    const int pid = std::atoi(info.substr(info.find(':') + 1).c_str());
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 50 && ::kill(pid, 0) == 0; ++i) plat::WaitForInput(100);
    EXPECT_NE(::kill(pid, 0), 0) << "the converter outlived the window";
    EXPECT_FALSE(Exists(FOut / "in.mp3"));
  }
}

TEST_F(DownloadWindowTest, ConverterFailuresShowABoxAndWaitForStop) {
  const std::string flv = FOut / "in.flv";
  WriteFile(flv, "FLV");
  {
    // Not on PATH.
    FEnv.push_back(std::make_unique<ScopedEnv>("PATH", PathWithout(StandInConverterDir(FDir, false)).c_str()));
    FDesktop.ExpectBox("Error while creating convert process!2.", plat::IDOK);
    TfrmDownload& f = Make(flv, 2);
    int ticks = 0;
    EXPECT_EQ(RunModal([&] {
                if (++ticks == 5) {
                  EXPECT_TRUE(f.Panel3->isVisible());
                  StopOf(f.Panel3)->click();
                }
              }),
              mrStop);
    EXPECT_EQ(FDesktop.Boxes.back().Flags, plat::MB_OK | plat::MB_ICONERROR);
  }
  {
    UseStandInConverter(R"([["err", "in.flv: Invalid data found when processing input\n"], ["exit", 1]])");
    FDesktop.ExpectBox("in.flv: Invalid data found when processing input", plat::IDOK);
    TfrmDownload& f = Make(flv, 2);
    bool boxed = false;
    EXPECT_EQ(RunModal([&] {
                if (!boxed && FDesktop.Boxes.size() == 2) {
                  boxed = true;
                  EXPECT_TRUE(f.isVisible());
                  StopOf(f.Panel3)->click();
                }
              }),
              mrStop);
  }
  {
    WriteFile(FOut / "in.mp3", "in use");
    const int fd = ::open((FOut / "in.mp3").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    FDesktop.ExpectBox(FOut / "in.mp3" + " has existed,overite it?", plat::IDYES);
    FDesktop.ExpectBox("Video file will be created may be used, convert process failed!", plat::IDOK);
    TfrmDownload& f = Make(flv, 2);
    EXPECT_EQ(RunModal([&] {
                if (FDesktop.Boxes.size() == 4) StopOf(f.Panel3)->click();
              }),
              mrStop);
    ::close(fd);
    EXPECT_EQ(FDesktop.Boxes.back().Flags, plat::MB_OK | plat::MB_ICONERROR);
    EXPECT_EQ(ReadFile(FOut / "in.mp3"), "in use");
  }
}

TEST_F(DownloadWindowTest, WithoutALengthTheBarIsBusyAndTheSizeStandsAlone) {
  TService s({"--content-length", "none", "--rate", "60000"});
  ASSERT_TRUE(s.Running());
  UseService(s);
  TfrmDownload& f = Make(s.WatchUrl(), 0);
  bool sawBusy = false, sawFull = false;
  RunModal([&] {
    if (!f.Panel2->isVisible() || Text(f.lReceiveData).empty()) return;
    const QProgressBar* bar = f.suiProgressBar1;
    sawBusy = sawBusy || (bar->minimum() == 0 && bar->maximum() == 0);
    sawFull = sawFull || (bar->maximum() > 0 && bar->value() == bar->maximum());
    EXPECT_EQ(Text(f.lReceiveData).find(" of "), std::string::npos) << Text(f.lReceiveData);
  });
  EXPECT_TRUE(sawBusy);
  EXPECT_FALSE(sawFull) << "a full bar while the end is not known";
  const std::string flv = s.Flv();
  EXPECT_EQ(ReadFile(FOut / "Sample Clip.flv"), flv);
  EXPECT_EQ(Text(f.lReceiveData), std::to_string((flv.size() + 512) / 1024) + " KB received");
}

TEST_F(DownloadWindowTest, EscapeDoesNothingAndModeTwoIsCentredForItsPanel) {
  // Retrieval: the page takes a while; Escape neither stops nor closes.
  {
    TService s({"--page-delay", "1.5"});
    ASSERT_TRUE(s.Running());
    UseService(s);
    TfrmDownload& f = Make(s.WatchUrl(), 0);
    bool escaped = false;
    EXPECT_EQ(RunModal([&] {
                if (!escaped && f.Panel1->isVisible()) {
                  escaped = true;
                  QTest::keyClick(&f, Qt::Key_Escape);
                  EXPECT_EQ(f.Job().ModalResult(), mrNone);
                }
              }),
              mrCancel);
    EXPECT_TRUE(escaped);
    EXPECT_EQ(ReadFile(FOut / "Sample Clip.flv"), s.Flv()) << "the job went on to its end";
  }
  // Conversion of a local file: Escape leaves the converter running, and the
  // window is centred on the main window with the conversion panel's size.
  const std::string flv = FOut / "local.flv";
  WriteFile(flv, "FLV");
  UseStandInConverter(R"([
    ["err", "  Duration: 00:00:10.00, start: 0.000000, bitrate: 364 kb/s\n"],
    ["err", "size= 10kB time=00:00:05.00 bitrate= 32.0kbits/s\r"],
    ["sleep", 1.0],
    ["output", "converted"],
    ["exit", 0]
  ])");
  FMain->setGeometry(230, 170, 407, 362);
  TfrmDownload& f = Make(flv, 2, 7);
  bool escaped = false;
  EXPECT_EQ(RunModal([&] {
              if (escaped || f.suiProgressBar2->value() != 50) return;
              escaped = true;
              const QRect m = FMain->frameGeometry(), w = f.frameGeometry();
              EXPECT_EQ(f.size(), f.Panel3->size());
              EXPECT_EQ(w.left(), m.left() + (m.width() - w.width()) / 2);
              EXPECT_EQ(w.top(), m.top() + (m.height() - w.height()) / 2);
              QTest::keyClick(&f, Qt::Key_Escape);
              EXPECT_TRUE(ConvertProcess->FActive);
            }),
            mrCancel);
  EXPECT_TRUE(escaped);
  EXPECT_EQ(ReadFile(FOut / "local.mp3"), "converted") << "the conversion ran to its end";
}

TEST_F(DownloadWindowTest, DemoSetupCacheHostUnderAnotherNameLetsACopiedAddressIn) {
  // As scripts/demo --gui runs it: the service on 127.0.0.1, its cache host as "localhost".
  TService s({"--cache-host", "localhost"});
  ASSERT_TRUE(s.Running());
  FEnv.push_back(std::make_unique<ScopedEnv>("CLIPHARBOR_SERVICE", s.Host().c_str()));
  FEnv.push_back(std::make_unique<ScopedEnv>("CLIPHARBOR_CACHE_HOST", "localhost"));
  FDesktop.CopyText("  " + s.WatchUrl() + "\n");
  EXPECT_EQ(plat::FromQ(FMain->eUrl->text()), s.WatchUrl());
  FMain->rbDownload->setChecked(true);
  FMain->bStart->click();  // the whole job, the file fetched from the cache host by its name
  EXPECT_EQ(ReadFile(FOut / "Sample Clip.flv"), s.Flv());
  EXPECT_TRUE(FDesktop.Boxes.empty());
}
