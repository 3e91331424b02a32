// Every row of the format table converts FLV inputs at the frame rates FLV
// files come with (12, 15, 25 and 30 fps) through the real ffmpeg.
#include "app/core/Formats.h"
#include "test_ConvertSupport.h"

using namespace convtest;

namespace {

constexpr int kRates[] = {12, 15, 25, 30};

TEST(ConvertPresets, EveryRowConvertsEveryCommonFrameRate) {
  if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe")) GTEST_SKIP() << "ffmpeg or ffprobe not available";
  TTempDir dir;
  TReportWindow win;
  TConvertProcess proc;
  proc.FNotifyWnd = win.Wnd;
  for (int fps : kRates) {
    const std::string flv = dir.File("in" + std::to_string(fps) + ".flv");
    ASSERT_TRUE(MakeTestFlv(flv, fps)) << fps;
    for (int i = 0; i < FormatCount; ++i) {
      SCOPED_TRACE(std::string(FormatAt(i)->Label) + " at " + std::to_string(fps) + " fps");
      win.Reports.clear();
      proc.FActive = true;
      proc.FInputFile = flv;
      proc.FOutputFile = dir.File("out" + std::to_string(fps) + "-" + std::to_string(i) +
                                  ExtensionForLabel(FormatAt(i)->Label));
      proc.FArguments = PresetForIndex(i);
      proc.Start();
      ASSERT_TRUE(PumpUntil([&] { return win.Ended(); }, 60000));
      proc.StopProcess(0);
      EXPECT_EQ(win.End()->Status, csProgress) << proc.LastErrorLine();
      EXPECT_TRUE(Exists(proc.FOutputFile));
      if (i == 9) {
        // MPEG-1 knows a fixed set of rates; 12 and 15 become 25.
        const std::string rate = Capture("ffprobe -v error -select_streams v -show_entries stream=r_frame_rate "
                                         "-of default=nw=1:nk=1 '" + proc.FOutputFile + "'");
        EXPECT_EQ(rate, "25/1\n");
      }
    }
  }
  PumpUntil([&] { return proc.LiveReaders() == 0; }, 5000);
}

}  // namespace
