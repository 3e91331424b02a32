// What clipharbor-cli reads from its user: the password of --user, asked on
// a terminal without echo and refused without one; answers to questions,
// where no answer that can be read means No.
#include <gtest/gtest.h>

#include "cli/E2eSupport.h"

using namespace e2e;

namespace {

std::string Cli() { return BinaryDir() + "/clipharbor-cli"; }
const std::string kClip = "Sample Clip";

TEST(CliAnswers, PasswordIsAskedOnTheTerminalWithoutEchoAndOnlyThere) {
  TService s({"--age-gate", "--password", "s3cret pw"});
  ASSERT_TRUE(s.Running());
  TTempDir out;
  auto serviceEnv = s.Env();
  serviceEnv["CLIPHARBOR_PASSWORD"] = std::nullopt;
  const std::vector<std::string> env = Environment(serviceEnv);
  const std::vector<std::string> args = {Cli(), "--output", out.Path, "--user", "user", s.WatchUrl()};

  // Standard input is no terminal: nothing is tried with an empty password.
  TRunResult refused = RunProcess(args, env, "s3cret pw\n");
  EXPECT_EQ(refused.ExitCode, 2);
  EXPECT_NE(refused.Err.find("clipharbor-cli: --user user needs a password: give --password or CLIPHARBOR_PASSWORD, "
                             "or run on a terminal to be asked for it"),
            std::string::npos)
      << refused.Err;
  EXPECT_EQ(s.Requests().find("/watch"), std::string::npos);

  std::vector<std::string> onTerminal = {"python3", SourceDir() + "/tests/cli/pty_run.py", "Password for user: ",
                                         "s3cret pw"};
  onTerminal.insert(onTerminal.end(), args.begin(), args.end());
  TRunResult r = RunProcess(onTerminal, env);
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  EXPECT_EQ(r.Out.find("s3cret"), std::string::npos) << "the password was echoed: " << r.Out;
  EXPECT_EQ(ReadFile(out / (kClip + ".flv")), s.Flv());
  EXPECT_NE(s.Requests().find("&username=user&password=s3cret%20pw&"), std::string::npos);
}

TEST(CliAnswers, UnreadableAnswersAreNoForEveryQuestion) {
  TTempDir dir;
  const std::string flv = dir / "clip.flv";
  WriteFile(flv, "FLV");
  WriteFile(dir / "steps.json", R"([["output", "converted"], ["exit", 0]])");
  const std::vector<std::string> env =
      Environment({{"PATH", PathWithout(StandInConverterDir(dir))}, {"CONVERT_STANDIN", dir / "steps.json"}});
  WriteFile(dir / "clip.mp3", "mine");
  // The conversion's overwrite question has Yes for its default button.
  for (const std::string input : {"", "maybe\nperhaps\nlater\n"}) {
    TRunResult r = RunProcess({Cli(), "--output", dir.Path, "--format", "7", flv}, env, input);
    EXPECT_EQ(r.ExitCode, 3) << input;  // the conversion did not run
    EXPECT_NE(r.Err.find(dir / "clip.mp3 has existed,overite it? [Y/n] "), std::string::npos) << r.Err;
    EXPECT_EQ(ReadFile(dir / "clip.mp3"), "mine") << input;
  }
  // So has the question whether to create the output folder.
  TRunResult r = RunProcess({Cli(), "--output", dir / "new", "--format", "7", flv}, env, "");
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("creates a new directory? [Y/n] no"), std::string::npos) << r.Err;
  EXPECT_FALSE(Exists(dir / "new"));
  // A real answer still counts, and Enter takes the default button.
  r = RunProcess({Cli(), "--output", dir.Path, "--format", "7", flv}, env, "\n");
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(ReadFile(dir / "clip.mp3"), "converted");
}

}  // namespace
