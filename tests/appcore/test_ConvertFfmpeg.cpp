// The converter runner with the real ffmpeg on a short generated FLV, and
// every preset of the format table through it.
#include "app/core/Formats.h"
#include "test_ConvertSupport.h"

#include <algorithm>

using namespace convtest;

namespace {

class ConvertFfmpeg : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe")) return;
    Source = new TTempDir;
    // Two seconds of test pattern and tone, as the service's videos come.
    std::string flv = Source->File("clip.flv");
    std::string cmd = "ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=160x120:rate=25:duration=2 "
                      "-f lavfi -i sine=frequency=440:duration=2 -ar 22050 '" + flv + "'";
    if (std::system(cmd.c_str()) == 0) Flv = flv;
  }
  static void TearDownTestSuite() {
    delete Source;
    Source = nullptr;
    Flv.clear();
  }
  void SetUp() override {
    if (Flv.empty()) GTEST_SKIP() << "ffmpeg or ffprobe not available";
    Proc.FNotifyWnd = Win.Wnd;
    Proc.OnAskOverwrite = [](const std::string&) { return true; };
  }
  void TearDown() override {
    Proc.StopProcess(0);
    PumpUntil([this] { return Proc.LiveReaders() == 0; }, 5000);
  }
  // Converts the generated clip into `out` with `preset`; false when no end
  // record came in time.
  bool Convert(const std::string& preset, const std::string& out) {
    Win.Reports.clear();
    Proc.FActive = true;
    Proc.FInputFile = Flv;
    Proc.FOutputFile = out;
    Proc.FArguments = preset;
    Proc.Start();
    bool ended = PumpUntil([this] { return Win.Ended(); }, 40000);
    Proc.StopProcess(0);  // as the window's close handling does
    return ended;
  }
  static std::string Probe(const std::string& entries, const std::string& file) {
    std::string r = Capture("ffprobe -v error -show_entries " + entries +
                            " -of default=noprint_wrappers=1:nokey=1 '" + file + "'");
    while (!r.empty() && (r.back() == '\n' || r.back() == '\r')) r.pop_back();
    return r;
  }

  static TTempDir* Source;
  static std::string Flv;
  TTempDir Dir;
  TReportWindow Win;
  TConvertProcess Proc;
};

TTempDir* ConvertFfmpeg::Source = nullptr;
std::string ConvertFfmpeg::Flv;

TEST_F(ConvertFfmpeg, ConvertsToMp3WithProgressAndEnd) {
  std::string out = Dir.File("clip.mp3");
  ASSERT_TRUE(Convert(PresetForIndex(7), out));
  EXPECT_EQ(Win.End()->Status, csProgress);
  EXPECT_EQ(Proc.ExitCode(), 0);
  EXPECT_EQ(Proc.Duration(), 2);
  // Today's converter writes "time=00:00:02.0x" at least in its final line.
  std::vector<int> p = Win.Percents();
  ASSERT_FALSE(p.empty());
  EXPECT_EQ(p.back(), 99);
  for (std::size_t i = 1; i < p.size(); ++i) EXPECT_LE(p[i - 1], p[i]);
  EXPECT_EQ(Win.Reports.back().Percent, 100);
  EXPECT_EQ(Probe("format=format_name", out), "mp3");
}

TEST_F(ConvertFfmpeg, RefusedOptionsFailWithTheConvertersMessage) {
  // The bit rate syntax of older converters is refused by today's one.
  std::string out = Dir.File("clip.wav");
  ASSERT_TRUE(Convert("-ar 44100 -ab 128kbit/s -ac 2 ", out));
  EXPECT_EQ(Win.End()->Status, csFailed);
  EXPECT_NE(Proc.ExitCode(), 0);
  EXPECT_FALSE(Proc.LastErrorLine().empty());
  EXPECT_EQ(Proc.LastErrorLine().find("time="), std::string::npos);
  // The converter's closing summary says less than the error before it.
  EXPECT_NE(Proc.LastErrorLine(), "Conversion failed!");
}

TEST_F(ConvertFfmpeg, OverwritesAnExistingOutputWhenAllowed) {
  std::string out = Dir.File("clip.wav");
  WriteFile(out, "old contents");
  ASSERT_TRUE(Convert(PresetForIndex(8), out));
  EXPECT_EQ(Win.End()->Status, csProgress);
  EXPECT_EQ(Proc.CommandLine().rfind("ffmpeg -y ", 0), 0u);
  EXPECT_EQ(Probe("format=format_name", out), "wav");
}

// Each format of the table, as the main window hands it over: extension
// from the label, preset from the index.
TEST_F(ConvertFfmpeg, EveryPresetGivesItsContainer) {
  struct Expect {
    const char* FormatName;
    const char* Brand;  // major brand of the QuickTime family, "" otherwise
    bool Video;
    const char* Codecs = "";  // the streams' codecs, when the row names them
  };
  const Expect expect[FormatCount] = {
      {"mov,mp4,m4a,3gp,3g2,mj2", "qt  ", true},  // QuickTime MOV
      {"mov,mp4,m4a,3gp,3g2,mj2", "isom", true},  // MPEG-4 MP4
      {"mov,mp4,m4a,3gp,3g2,mj2", "MSNV", true},  // PSP MP4
      {"mov,mp4,m4a,3gp,3g2,mj2", "3gp", true},   // 3GP (brand 3gpN)
      {"asf", "", true},
      {"avi", "", true},
      {"avi", "", true},
      {"mp3", "", false},
      {"wav", "", false},
      {"mpeg", "", true},
      {"mov,mp4,m4a,3gp,3g2,mj2", "isom", true, "h264 aac"},
      {"matroska,webm", "", true, "vp9 opus"},
      {"mov,mp4,m4a,3gp,3g2,mj2", "M4A ", false, "aac"},
      {"ogg", "", false, "opus"},
  };
  for (int i = 0; i < FormatCount; ++i) {
    SCOPED_TRACE(FormatAt(i)->Label);
    std::string ext = ExtensionForLabel(FormatAt(i)->Label);
    std::string out = Dir.File("clip" + std::to_string(i) + ext);
    ASSERT_TRUE(Convert(PresetForIndex(i), out));
    EXPECT_EQ(Win.End()->Status, csProgress) << Proc.LastErrorLine();
    ASSERT_TRUE(Exists(out));
    EXPECT_EQ(Probe("format=format_name", out), expect[i].FormatName);
    if (*expect[i].Brand) {
      EXPECT_EQ(Probe("format_tags=major_brand", out).rfind(expect[i].Brand, 0), 0u);
    }
    std::string types = Probe("stream=codec_type", out);
    EXPECT_NE(types.find("audio"), std::string::npos);
    EXPECT_EQ(types.find("video") != std::string::npos, expect[i].Video);
    if (*expect[i].Codecs) {
      std::string codecs = Probe("stream=codec_name", out);
      std::replace(codecs.begin(), codecs.end(), '\n', ' ');
      EXPECT_EQ(codecs, expect[i].Codecs);
    }
    // The newer video rows keep the source's frame size.
    if (i >= 10 && expect[i].Video) {
      EXPECT_EQ(Probe("stream=width,height -select_streams v", out), "160\n120");
    }
  }
}

}  // namespace
