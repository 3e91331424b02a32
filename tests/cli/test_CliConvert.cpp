// clipharbor-cli converting a local file: a conversion that did not produce
// a whole file is a failure with the converter's reason and leaves nothing
// under the final name; any name the file system allows converts; however
// the program is ended, its converter ends with it.
#include <signal.h>

#include <gtest/gtest.h>

#include "cli/E2eSupport.h"
#include "support/SizeLimitedConverter.h"

using namespace e2e;

namespace {


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
  EXPECT_EQ(r.ExitCode, 3) << r.Out << r.Err;
  EXPECT_NE(r.Err.find("File too large"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Out.find("Saved"), std::string::npos) << r.Out;
  EXPECT_FALSE(Exists(Dir / "clip.wav"));
  EXPECT_FALSE(Exists(Dir / "clip.part.wav"));
}

TEST_F(CliConvert, ConverterThatWritesNothingFails) {
  WriteFile(Dir / "steps.json", R"([["err", "Duration: 00:00:01.00\n"], ["exit", 0]])");
  TRunResult r = Run(StandInConverterDir(Dir), {"--output", Dir.Path, "--format", "7", Flv});
  EXPECT_EQ(r.ExitCode, 3) << r.Out << r.Err;
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

// The stand-in converter: its output begun, its process id written, then
// progress every 0.3 s and no end.
std::string HangingConversion(const std::string& pids) {
  std::string steps = R"([["output", "half"], ["pids", ")" + pids + R"("], ["err", "Duration: 00:00:10.00\n"])";
  for (int t = 1; t < 10; ++t)
    steps += R"(, ["err", "time=00:00:0)" + std::to_string(t) + R"(.00\r"], ["sleep", 0.3])";
  return steps + R"(, ["hang"]])";
}

int PidIn(const std::string& pidsJson) {
  const std::string::size_type colon = pidsJson.find(':');
  return colon == std::string::npos ? 0 : std::atoi(pidsJson.c_str() + colon + 1);
}

bool GoneWithin(int pid, int ms) {
  for (int waited = 0; waited < ms && ::kill(pid, 0) == 0; waited += 50)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return ::kill(pid, 0) != 0;
}

TEST_F(CliConvert, EverySignalThatEndsTheProgramEndsItsConverter) {
  for (int sig : {SIGHUP, SIGPIPE, SIGQUIT, SIGTERM, SIGKILL}) {
    SCOPED_TRACE(::strsignal(sig));
    const std::string pids = Dir / ("pids" + std::to_string(sig));
    WriteFile(Dir / "steps.json", HangingConversion(pids));
    std::vector<std::string> env = Environment({{"PATH", PathWithout(StandInConverterDir(Dir))},
                                                {"CONVERT_STANDIN", Dir / "steps.json"}});
    TChild cli({Cli(), "--output", Dir.Path, "--format", "7", Flv}, env);
    ASSERT_TRUE(cli.ReadUntil([&](const std::string&, const std::string&) { return Exists(pids); }, 20000));
    const int converter = PidIn(ReadFile(pids));
    ASSERT_GT(converter, 0);
    cli.Signal(sig);
    TRunResult r = cli.Finish(10000);
    EXPECT_FALSE(r.TimedOut);
    EXPECT_TRUE(GoneWithin(converter, 5000)) << "ffmpeg outlived the program";
    EXPECT_FALSE(Exists(Dir / "clip.mp3"));
    if (sig == SIGKILL) continue;  // nothing of ours runs after it
    EXPECT_EQ(r.ExitCode, 130) << r.Err;
    EXPECT_NE(r.Err.find("Stopped."), std::string::npos) << r.Err;
    EXPECT_FALSE(Exists(Dir / "clip.part.mp3"));
  }
}

TEST_F(CliConvert, ClosedOutputPipeEndsTheConverter) {
  const std::string pids = Dir / "pids";
  WriteFile(Dir / "steps.json", HangingConversion(pids));
  // The reader of the output goes away after the first byte.
  const std::string script = "'" + Cli() + "' --output '" + Dir.Path + "' --format 7 '" + Flv +
                             "' 2>'" + Dir / "err" + "' | /usr/bin/head -c 1 >/dev/null; echo ${PIPESTATUS[0]} >'" +
                             Dir / "status" + "'";
  TRunResult r = RunProcess({"bash", "-c", script},
                            Environment({{"PATH", PathWithout(StandInConverterDir(Dir))},
                                         {"CONVERT_STANDIN", Dir / "steps.json"}}),
                            "", 30000);
  EXPECT_FALSE(r.TimedOut);
  EXPECT_EQ(ReadFile(Dir / "status"), "130\n") << ReadFile(Dir / "err");
  const int converter = PidIn(ReadFile(pids));
  ASSERT_GT(converter, 0);
  EXPECT_TRUE(GoneWithin(converter, 5000)) << "ffmpeg outlived the program";
  EXPECT_FALSE(Exists(Dir / "clip.mp3"));
  EXPECT_FALSE(Exists(Dir / "clip.part.mp3"));
}

}  // namespace
