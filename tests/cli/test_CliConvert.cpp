// clipharbor-cli converting a local file: a conversion that did not produce
// a whole file is a failure with the converter's reason and leaves nothing
// under the final name; any name the file system allows converts.
#include <gtest/gtest.h>

#include "cli/E2eSupport.h"
#include "support/SizeLimitedConverter.h"

using namespace e2e;

namespace {

std::string Cli() { return BinaryDir() + "/clipharbor-cli"; }

// One second of tone and pattern, made by the real ffmpeg.
bool MakeFlv(const std::string& path) {
  return RunProcess({"ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                     "testsrc=size=64x48:rate=25:duration=1", "-f", "lavfi", "-i", "sine=frequency=440:duration=1",
                     "-ar", "22050", "-f", "flv", path},
                    Environment({}))
             .ExitCode == 0;
}

class CliConvert : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeFlv(Flv)) << "ffmpeg is needed";
  }
  // Runs the CLI with `bin` first on PATH (its `ffmpeg` is the one used)
  // unless `env` names a PATH.
  TRunResult Run(const std::string& bin, std::vector<std::string> args, const std::string& input = "",
                 std::map<std::string, std::optional<std::string>> env = {}) {
    if (!env.count("PATH")) env["PATH"] = PathWithout(bin);
    env["CONVERT_STANDIN"] = Dir / "steps.json";
    args.insert(args.begin(), Cli());
    return RunProcess(args, Environment(env), input);
  }

  TTempDir Dir;
  std::string Flv = Dir / "clip.flv";
};

TEST_F(CliConvert, FullDiskFailsWithTheConvertersReason) {
  const std::string bin = testsupport::SizeLimitedConverterDir(Dir.Path, 8);
  ASSERT_FALSE(bin.empty());
  TRunResult r = Run(bin, {"--output", Dir.Path, "--format", "8", Flv});
  EXPECT_EQ(r.ExitCode, 1) << r.Out << r.Err;
  EXPECT_NE(r.Err.find("File too large"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Out.find("Saved"), std::string::npos) << r.Out;
  EXPECT_FALSE(Exists(Dir / "clip.wav"));
  EXPECT_FALSE(Exists(Dir / "clip.part.wav"));
}

TEST_F(CliConvert, ConverterThatWritesNothingFails) {
  WriteFile(Dir / "steps.json", R"([["err", "Duration: 00:00:01.00\n"], ["exit", 0]])");
  TRunResult r = Run(StandInConverterDir(Dir), {"--output", Dir.Path, "--format", "7", Flv});
  EXPECT_EQ(r.ExitCode, 1) << r.Out << r.Err;
  EXPECT_NE(r.Err.find("ffmpeg wrote nothing into " + Dir / "clip.mp3"), std::string::npos) << r.Err;
  EXPECT_FALSE(Exists(Dir / "clip.mp3"));
}

TEST_F(CliConvert, NameWithQuotesAndBlanksConverts) {
  const std::string odd = Dir / "say \"hi\" \\ -x.flv";
  ASSERT_EQ(std::rename(Flv.c_str(), odd.c_str()), 0);
  TRunResult r = Run("", {"--output", Dir.Path, "--format", "8", odd}, "",
                     {{"PATH", std::string(std::getenv("PATH"))}});
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  const std::string wav = ReadFile(Dir / "say \"hi\" \\ -x.wav");
  ASSERT_GT(wav.size(), 44u);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_NE(r.Out.find("Saved " + Dir / "say \"hi\" \\ -x.wav"), std::string::npos) << r.Out;
}

}  // namespace
