// The converter runner against a scripted stand-in `ffmpeg` put first on
// PATH, and its progress parsing on its own.
#include <sys/file.h>
#include <fcntl.h>
#include <signal.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "ConvertScripted.h"
#include "app/core/ConvertOutput.h"

using namespace convtest;

namespace {

// Days of a clock the test moves by hand.
struct TFakeClock {
  double Days = 45000.0;
  void Advance(double seconds) { Days += seconds / 86400.0; }
};

class ConvertParse : public ::testing::Test {
 protected:
  void SetUp() override {
    Proc.FNotifyWnd = Win.Wnd;
    Proc.Now = [this] { return Clock.Days; };
  }
  std::vector<TProcessInfo> Parse(const std::string& text) {
    std::size_t before = Win.Reports.size();
    Proc.ParseOutput(text);
    plat::ProcessMessages();
    return std::vector<TProcessInfo>(Win.Reports.begin() + static_cast<std::ptrdiff_t>(before), Win.Reports.end());
  }
  TReportWindow Win;
  TConvertProcess Proc;
  TFakeClock Clock;
};

TEST_F(ConvertParse, DurationAndTimeValuesGivePercent) {
  EXPECT_TRUE(Parse("Input #0, flv, from 'a.flv':\r\n  Duration: 00:03:25.12, start: 0.000000, bitrate: 64 kb/s\r\n").empty());
  EXPECT_EQ(Proc.Duration(), 205);

  auto r = Parse("size=      10kB time=102.40 bitrate=  64.0kbits/s\r");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].Percent, 49);
  EXPECT_EQ(r[0].Status, csProgress);

  EXPECT_TRUE(Parse("size=       0kB time=1.00 bitrate=N/A\r").empty());  // 0 percent

  // Today's converter writes hours, minutes and seconds.
  r = Parse("frame=  100 fps=0.0 q=2.0 size=  100kB time=00:01:42.40 bitrate= 8.0kbits/s speed=10x\r");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].Percent, 49);

  // Values that are no time at all give nothing.
  EXPECT_TRUE(Parse("size=N/A time=N/A bitrate=N/A\r").empty());
  EXPECT_TRUE(Parse("frame=0 time=-577014:32:22.77 bitrate=N/A\r").empty());
  EXPECT_TRUE(Parse("time=00:0x:10.00\r").empty());
  EXPECT_TRUE(Parse("time=102\r").empty());  // no "." at all

  // Upper case duration, lines ended by CR alone, both tests on one line.
  r = Parse("DURATION: 01:00:00.00\rtime=00:30:00.00\rDuration: 00:00:10.00 time=5.00\r");
  EXPECT_EQ(Proc.Duration(), 10);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].Percent, 50);  // 1800 of 3600
  EXPECT_EQ(r[1].Percent, 50);  // 5 of 10
}

TEST_F(ConvertParse, UnusableDurationNeverReports) {
  Parse("  Duration: N/A, start: 0.000000, bitrate: N/A\n");
  EXPECT_EQ(Proc.Duration(), 0);
  EXPECT_TRUE(Parse("time=00:00:01.00 bitrate=N/A\r").empty());
  EXPECT_TRUE(Parse("time=5.00\r").empty());
}

TEST_F(ConvertParse, ElapsedAndEstimatedTimes) {
  Parse("Duration: 00:03:25.00\n");
  Clock.Advance(30);
  auto r = Parse("time=41.00\r");  // 20 percent after 30 s
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].Percent, 20);
  EXPECT_EQ(r[0].Elapsed, "00:30");
  EXPECT_EQ(r[0].Estimated, "02:30");

  // Past an hour the minutes go on counting.
  Clock.Advance(75 * 60 + 3 - 30);
  r = Parse("time=00:02:03.00\r");  // 60 percent
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].Percent, 60);
  EXPECT_EQ(r[0].Elapsed, "75:03");
  EXPECT_EQ(r[0].Estimated, "125:05");  // 4503 * 100 / 60 = 7505

  // Halves round to even. 1/256 of a day is exactly 337.5 s.
  Clock.Days = 45000.0;
  Parse("Duration: 00:16:40.00\n");
  Clock.Days = 45000.0 + 1.0 / 256;
  r = Parse("time=100.00\r");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].Elapsed, "05:38");  // 337.5 -> 338
  EXPECT_EQ(r[0].Estimated, "56:20");
  Clock.Days = 45000.0 + 3.0 / 256;
  r = Parse("time=100.00\r");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].Elapsed, "16:52");  // 1012.5 -> 1012
  EXPECT_EQ(r[0].Estimated, "168:40");
}

TEST_F(ConvertParse, FullTimeWaitsForTheConvertersEnd) {
  Parse("Duration: 00:00:10.00\n");
  auto r = Parse("time=00:00:10.00\rtime=00:00:11.00\r");
  // 100 is held back until the converter has ended: the window closes at
  // 100 and would stop a converter still finishing its file.
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].Percent, 99);
  EXPECT_FALSE(Win.Ended());
}

TEST_F(ConvertScripted, CommandLineWithoutExistingOutput) {
  Run();
  ASSERT_TRUE(WaitEnd());
  const std::string in = Proc->FInputFile, out = Proc->FOutputFile;
  EXPECT_EQ(Proc->CommandLine(), "ffmpeg -i \"" + in + "\" -ar 44100 -ab 128k -ac 2 \"" + out + "\"");
  // The converter writes beside the final name, with the format's extension.
  std::vector<std::string> expected{"-i", in, "-ar", "44100", "-ab", "128k", "-ac", "2", Dir.File("my clip.part.mp3")};
  EXPECT_EQ(PassedArgs(), expected);
  EXPECT_TRUE(Asked.empty());
  EXPECT_EQ(Win.End()->Status, csProgress);
  EXPECT_EQ(Win.End()->Elapsed, "");
  EXPECT_EQ(Win.End()->Estimated, "");
  EXPECT_EQ(Proc->ExitCode(), 0);
  EXPECT_FALSE(Proc->Running());
  EXPECT_TRUE(Proc->FActive);  // cleared by the window's close handling
  EXPECT_TRUE(WaitReaders());
}

TEST_F(ConvertScripted, ExistingOutputAnsweredYesOverwrites) {
  WriteFile(Proc->FOutputFile, "old");
  Run();
  ASSERT_TRUE(WaitEnd());
  ASSERT_EQ(Asked.size(), 1u);
  EXPECT_EQ(Asked[0], Proc->FOutputFile + " has existed,overite it?");
  EXPECT_EQ(Proc->CommandLine().rfind("ffmpeg -y -i \"", 0), 0u);
  auto args = PassedArgs();
  ASSERT_FALSE(args.empty());
  EXPECT_EQ(args[0], "-y");
}

TEST_F(ConvertScripted, ExistingOutputAnsweredNoRunsNothing) {
  WriteFile(Proc->FOutputFile, "old");
  Answer = false;
  Run();
  EXPECT_FALSE(Proc->Running());
  ASSERT_TRUE(WaitEnd(2000));
  EXPECT_EQ(Win.End()->Status, csProgress);
  EXPECT_EQ(Win.Reports.size(), 1u);
  EXPECT_FALSE(Exists(Dir.File("args.json")));
  EXPECT_EQ(ReadFile(Proc->FOutputFile), "old");
}

TEST_F(ConvertScripted, DeclinedRunAfterASuccessDoesNotReportTheOldExitCode) {
  Run();
  ASSERT_TRUE(WaitEnd());
  ASSERT_EQ(Proc->ExitCode(), 0);
  ASSERT_TRUE(WaitReaders());
  Win.Reports.clear();
  WriteFile(Proc->FOutputFile, "first run");
  Answer = false;
  Run();
  ASSERT_TRUE(WaitEnd(2000));
  EXPECT_EQ(Proc->ExitCode(), -1);
  EXPECT_TRUE(Proc->LastErrorLine().empty());
}

TEST_F(ConvertScripted, LockedOutputReportsInUse) {
  WriteFile(Proc->FOutputFile, "old");
  int fd = ::open(Proc->FOutputFile.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  Run();
  ASSERT_TRUE(WaitEnd(2000));
  ::close(fd);
  EXPECT_EQ(Win.End()->Status, csInUse);
  EXPECT_EQ(Win.End()->Percent, 100);
  EXPECT_EQ(Asked.size(), 1u);
  EXPECT_FALSE(Exists(Dir.File("args.json")));
  EXPECT_FALSE(Proc->Running());
}

TEST_F(ConvertScripted, ProgressFromFragmentedOutput) {
  // Lines split across writes (and so across reads) still parse whole.
  Script({{"err", "ffmpeg version stand-in\n"},
          {"err", "  Duration: 00:0"},
          {"sleep", "0.15"},
          {"err", "0:10.00, start: 0.000000, bitrate: 64 kb/s\n"},
          {"sleep", "0.15"},
          {"err", "frame=    1 size=    1kB time=00:00:02.50 bitrate= 1.0kbits/s\r"},
          {"sleep", "0.15"},
          {"err", "frame=    2 size=    2kB time=00:00:0"},
          {"sleep", "0.15"},
          {"err", "5.00 bitrate= 1.0kbits/s\r"},
          {"sleep", "0.15"},
          {"out", "size=3kB time=7.00 bitrate=1.0\r"},
          {"sleep", "0.15"},
          {"err", "size=4kB time=00:00:10.00 bitrate=1.0kbits/s speed=1x\n"},
          {"output", "converted"},
          {"exit", "0"}});
  Run();
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(Win.Percents(), (std::vector<int>{20, 50, 70, 99}));
  EXPECT_EQ(Win.Reports.back().Percent, 100);
  EXPECT_EQ(Win.Reports.back().Status, csProgress);
  EXPECT_EQ(Proc->Duration(), 10);
  EXPECT_EQ(Proc->ExitCode(), 0);
}

TEST_F(ConvertScripted, NonZeroExitIsAFailureWithTheLastErrorLine) {
  Script({{"err", "  Duration: 00:00:10.00, start: 0.000000\n"},
          {"err", "size=1kB time=00:00:02.00 bitrate=1.0\r"},
          {"err", "Error while encoding: Invalid argument\n"},
          {"err", "size=1kB time=00:00:02.00 bitrate=1.0\r"},
          {"exit", "1"}});
  Run();
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(Win.Percents(), (std::vector<int>{20, 20}));
  EXPECT_EQ(Win.End()->Status, csFailed);
  EXPECT_EQ(Proc->ExitCode(), 1);
  EXPECT_EQ(Proc->LastErrorLine(), "Error while encoding: Invalid argument");
}

TEST_F(ConvertScripted, SilentNonZeroExitNamesTheStatus) {
  Script({{"exit", "3"}});
  Run();
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(Win.End()->Status, csFailed);
  EXPECT_EQ(Proc->LastErrorLine(), "ffmpeg ended with exit status 3");
}

TEST_F(ConvertScripted, HandOffsAreServedInsideANestedWait) {
  // The window's stages wait in nested loops inside a message handler; the
  // reader's hand-offs must get through there as well.
  Script({{"err", "Duration: 00:00:10.00\n"},
          {"sleep", "0.2"},
          {"err", "time=00:00:05.00\r"},
          {"exit", "0"}});
  bool endedInside = false;
  plat::HWND stage = plat::AllocateHWnd([&](plat::UINT msg, plat::WPARAM, plat::LPARAM) -> plat::LRESULT {
    if (msg == plat::WM_USER + 7) {
      Run();
      endedInside = PumpUntil([this] { return Win.Ended(); }, 15000);
    }
    return 0;
  });
  plat::PostMessage(stage, plat::WM_USER + 7, 0, 0);
  PumpUntil([&] { return endedInside; }, 20000);
  plat::DeallocateHWnd(stage);
  EXPECT_TRUE(endedInside);
  EXPECT_EQ(Win.Percents(), (std::vector<int>{50}));
}

TEST_F(ConvertScripted, StopTerminatesConverterAndHelpers) {
  std::string pids = Dir.File("pids.json");
  Script({{"output", "partial"},
          {"helper", "30"},
          {"pids", pids},
          {"err", "  Duration: 00:00:10.00\n"},
          {"err", "time=00:00:03.00\r"},
          {"hang"}});
  Run();
  ASSERT_TRUE(PumpUntil([this] { return !Win.Percents().empty(); }, 15000));
  QJsonObject ids = QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(pids))).object();
  int self = ids["self"].toInt();
  ASSERT_GT(self, 0);
  ASSERT_EQ(ids["helpers"].toArray().size(), 1);
  int helper = ids["helpers"].toArray()[0].toInt();
  EXPECT_FALSE(ProcessGone(self));

  Proc->StopProcess(0);
  EXPECT_FALSE(Proc->FActive);
  EXPECT_FALSE(Proc->Running());
  EXPECT_EQ(Proc->ExitCode(), 0);
  EXPECT_TRUE(WaitReaders());
  EXPECT_TRUE(PumpUntil([&] { return ProcessGone(self) && ProcessGone(helper); }, 5000));
  PumpUntil([] { return false; }, 300);
  EXPECT_FALSE(Win.Ended());  // a stopped conversion posts no end record
  // The partial output is removed and nothing stands under the final name.
  EXPECT_FALSE(Exists(Proc->FOutputFile));
  EXPECT_FALSE(Exists(Dir.File("my clip.part.mp3")));

  // A second stop does nothing; the object converts again afterwards.
  Proc->StopProcess(0);
  Script({{"err", "Duration: 00:00:04.00\n"}, {"err", "time=00:00:02.00\r"}, {"output", "x"}, {"exit", "0"}});
  Answer = true;
  Run();
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(Win.Percents(), (std::vector<int>{30, 50}));
  EXPECT_EQ(Win.End()->Status, csProgress);
}

TEST_F(ConvertScripted, DestroyingWhileRunningStopsTheChild) {
  std::string pids = Dir.File("pids.json");
  Script({{"pids", pids}, {"err", "Duration: 00:00:10.00\n"}, {"hang"}});
  Run();
  ASSERT_TRUE(PumpUntil([&] { return Exists(pids) && !ReadFile(pids).empty(); }, 15000));
  int self = QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(pids))).object()["self"].toInt();
  ASSERT_GT(self, 0);
  Proc.reset();
  EXPECT_TRUE(PumpUntil([&] { return ProcessGone(self); }, 5000));
}

TEST_F(ConvertScripted, MissingConverterRaisesAndLeaksNothing) {
  TTempDir empty;
  TScopedEnv path("PATH", empty.Path);
  int fds = OpenFdCount();
  Proc->FActive = true;
  try {
    Proc->Start();
    FAIL() << "Start did not raise";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Error while creating convert process!2");
  }
  EXPECT_EQ(OpenFdCount(), fds);
  EXPECT_FALSE(Proc->Running());
  EXPECT_EQ(Proc->LiveReaders(), 0);
  EXPECT_EQ(Proc->LastErrorLine(), "Error while creating convert process!2");
  PumpUntil([] { return false; }, 200);
  EXPECT_TRUE(Win.Reports.empty());
}

// An output that is the input itself, under any spelling or through a
// link, is refused before the overwrite question: Yes would destroy it.
TEST_F(ConvertScripted, OutputThatIsTheInputIsRefusedBeforeTheQuestion) {
  const std::string input = Proc->FInputFile;
  ASSERT_EQ(::symlink(input.c_str(), Dir.File("link.flv").c_str()), 0);
  for (const std::string& output : {input, Dir.Path + "/./my clip.flv", Dir.File("link.flv")}) {
    Proc->FOutputFile = output;
    Proc->FActive = true;
    try {
      Proc->Start();
      ADD_FAILURE() << "Start did not refuse " << output;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.what(), OntoItselfText(output));
    }
    EXPECT_EQ(Proc->LastErrorLine(), OntoItselfText(output));
    EXPECT_FALSE(Proc->Running());
  }
  EXPECT_TRUE(Asked.empty());
  EXPECT_FALSE(Exists(Dir.File("args.json"))) << "no converter ran";
  EXPECT_EQ(ReadFile(input), "FLV");
  // A file of the same name elsewhere is only an existing output.
  TTempDir other;
  Proc->FOutputFile = other.Path + "/my clip.flv";
  WriteFile(Proc->FOutputFile, "old");
  Answer = false;
  Run();
  EXPECT_EQ(Asked.size(), 1u);
}

TEST(ConvertGlobal, CreateAndDestroyTheOneObject) {
  EXPECT_EQ(ConvertProcess, nullptr);
  CreateConvertProcess();
  TConvertProcess* first = ConvertProcess;
  ASSERT_NE(first, nullptr);
  CreateConvertProcess();
  EXPECT_EQ(ConvertProcess, first);
  EXPECT_FALSE(ConvertProcess->FActive);
  DestroyConvertProcess();
  EXPECT_EQ(ConvertProcess, nullptr);
}

}  // namespace
