// Every row of the format table converts FLV inputs at the frame rates FLV
// files come with (12, 15, 25 and 30 fps) through the real ffmpeg, and every
// container that holds tags carries the page's title and address.
#include "app/core/Formats.h"
#include "test_ConvertSupport.h"

#include <QString>

#include <map>
#include <sstream>

using namespace convtest;

namespace {

constexpr int kRates[] = {12, 15, 25, 30};

// The tags ffprobe reads from a file, container and streams alike (Ogg keeps
// them with the stream), keys in lower case.
std::map<std::string, std::string> ProbedTags(const std::string& file) {
  std::istringstream lines(Capture("ffprobe -v error -show_entries format_tags:stream_tags -of default=nw=1 '" +
                                   file + "'"));
  std::map<std::string, std::string> tags;
  for (std::string line; std::getline(lines, line);) {
    const std::size_t eq = line.find('=');
    if (line.rfind("TAG:", 0) != 0 || eq == std::string::npos) continue;
    std::string key = line.substr(4, eq - 4);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    tags[key] = line.substr(eq + 1);
  }
  return tags;
}

// A 3GPP text box as the file holds it: the tag, version and flags, a
// language code, then the UTF-8 text ended by a zero.
bool Has3gppBox(const std::string& data, const std::string& tag, const std::string& text) {
  for (std::size_t at = data.find(tag); at != std::string::npos; at = data.find(tag, at + 1))
    if (at + 10 + text.size() < data.size() && data.compare(at + 10, text.size() + 1, text + '\0') == 0) return true;
  return false;
}

std::string Utf16Be(const std::string& utf8) {
  std::string out;
  for (const char16_t unit : QString::fromStdString(utf8).toStdU16String()) {
    out += static_cast<char>(unit >> 8);
    out += static_cast<char>(unit & 0xff);
  }
  return out;
}

class ConvertPresets : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe")) GTEST_SKIP() << "ffmpeg or ffprobe not available";
    proc.FNotifyWnd = win.Wnd;
  }
  void TearDown() override {
    PumpUntil([&] { return proc.LiveReaders() == 0; }, 5000);
  }
  // Converts `flv` with row `row` into `out` + the row's extension; true
  // when the converter ended within a minute (the end record says how).
  bool ConvertRow(int row, const std::string& flv, const std::string& out, const TConvertTags& tags = {}) {
    win.Reports.clear();
    proc.FActive = true;
    proc.FInputFile = flv;
    proc.FOutputFile = dir.File(out + ExtensionForLabel(FormatAt(row)->Label));
    proc.FArguments = PresetForIndex(row);
    proc.FTags = tags;
    proc.Start();
    const bool ended = PumpUntil([&] { return win.Ended(); }, 60000);
    proc.StopProcess(0);
    return ended;
  }

  TTempDir dir;
  TReportWindow win;
  TConvertProcess proc;
};

TEST_F(ConvertPresets, EveryRowConvertsEveryCommonFrameRate) {
  for (int fps : kRates) {
    const std::string flv = dir.File("in" + std::to_string(fps) + ".flv");
    ASSERT_TRUE(MakeTestFlv(flv, fps)) << fps;
    for (int i = 0; i < FormatCount; ++i) {
      SCOPED_TRACE(std::string(FormatAt(i)->Label) + " at " + std::to_string(fps) + " fps");
      ASSERT_TRUE(ConvertRow(i, flv, "out" + std::to_string(fps) + "-" + std::to_string(i)));
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
}

TEST_F(ConvertPresets, EveryTaggingContainerCarriesTitleAndAddress) {
  const std::string flv = dir.File("in.flv");
  ASSERT_TRUE(MakeTestFlv(flv, 25));
  const TConvertTags tags{"Harbour \"Lights\" & \xc3\x9cmlaut = -2008", "http://www.youtube.com/watch?v=piEWjpA_51Q"};
  for (int i = 0; i < FormatCount; ++i) {
    SCOPED_TRACE(FormatAt(i)->Label);
    ASSERT_TRUE(ConvertRow(i, flv, "tagged-" + std::to_string(i), tags));
    ASSERT_EQ(win.End()->Status, csProgress) << proc.LastErrorLine();
    const std::string data = ReadFile(proc.FOutputFile);
    std::map<std::string, std::string> probed = ProbedTags(proc.FOutputFile);
    if (i == 2) {
      // The PSP's own box holds the title only, in UTF-16.
      EXPECT_NE(data.find(Utf16Be(tags.Title)), std::string::npos);
    } else if (i == 3) {
      // 3GPP's title and description boxes, which ffprobe does not read.
      EXPECT_TRUE(Has3gppBox(data, "titl", tags.Title));
      EXPECT_TRUE(Has3gppBox(data, "dscp", tags.Address));
    } else if (i == 9) {
      // An MPEG program stream has no place for tags.
      EXPECT_EQ(probed.count("title"), 0u);
    } else {
      EXPECT_EQ(probed["title"], tags.Title);
      EXPECT_EQ(probed["comment"], tags.Address);
    }
  }
}

}  // namespace
