// The real ffmpeg writing the temporary output: a leftover of an earlier run
// does not stop it, and a full disk (a file-size limit) is a failure although
// ffmpeg exits 0 after it.
#include "test_ConvertSupport.h"
#include "app/core/ConvertOutput.h"
#include "app/core/Formats.h"
#include "support/SizeLimitedConverter.h"

using namespace convtest;

namespace {

class ConvertRealOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not available";
    ASSERT_TRUE(MakeTestFlv(Dir.File("clip.flv"), 25));
    Proc.FNotifyWnd = Win.Wnd;
    Proc.FInputFile = Dir.File("clip.flv");
    Proc.FOutputFile = Dir.File("clip.wav");
    Proc.FArguments = PresetForIndex(8);
    Proc.OnAskOverwrite = [](const std::string&) { return true; };
  }
  void TearDown() override {
    Proc.StopProcess(0);
    PumpUntil([this] { return Proc.LiveReaders() == 0; }, 5000);
  }
  bool Convert() {
    Proc.FActive = true;
    Proc.Start();
    return PumpUntil([this] { return Win.Ended(); }, 30000);
  }
  TTempDir Dir;
  TReportWindow Win;
  TConvertProcess Proc;
};

TEST_F(ConvertRealOutput, LeftoverPartDoesNotMakeTheConverterAsk) {
  // ffmpeg would ask on its standard input whether to overwrite, and wait.
  WriteFile(Dir.File("clip.part.wav"), "left by a run that never ended");
  ASSERT_TRUE(Convert());
  EXPECT_EQ(Win.End()->Status, csProgress) << Proc.LastErrorLine();
  EXPECT_EQ(ReadFile(Proc.FOutputFile).substr(0, 4), "RIFF");
  EXPECT_FALSE(Exists(Dir.File("clip.part.wav")));
}

TEST_F(ConvertRealOutput, FullDiskIsAFailureWithTheSystemsText) {
  const std::string bin = testsupport::SizeLimitedConverterDir(Dir.Path, 8);
  ASSERT_FALSE(bin.empty());
  const char* path = std::getenv("PATH");
  TScopedEnv limited("PATH", bin + ":" + (path ? path : "/usr/bin:/bin"));
  ASSERT_TRUE(Convert());
  EXPECT_EQ(Win.End()->Status, csFailed);
  EXPECT_EQ(Proc.ExitCode(), 0);  // what makes this case: ffmpeg says nothing else
  EXPECT_NE(Proc.LastErrorLine().find("File too large"), std::string::npos) << Proc.LastErrorLine();
  EXPECT_FALSE(Exists(Proc.FOutputFile));
  EXPECT_FALSE(Exists(Dir.File("clip.part.wav")));
}

}  // namespace
