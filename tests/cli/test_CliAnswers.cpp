// What clipharbor-cli reads from its user: the password of --user, asked on
// a terminal without echo and refused without one.
#include <gtest/gtest.h>

#include "cli/E2eSupport.h"

using namespace e2e;

namespace {

std::string Cli() { return BinaryDir() + "/clipharbor-cli"; }
const std::string kClip = "Sample Clip";

TEST(CliAnswers, PasswordIsAskedOnTheTerminalWithoutEcho) {
  TService s({"--age-gate", "--password", "s3cret pw"});
  ASSERT_TRUE(s.Running());
  TTempDir out;
  auto env = s.Env();
  env["CLIPHARBOR_PASSWORD"] = std::nullopt;
  TRunResult r = RunProcess({"python3", SourceDir() + "/tests/cli/pty_run.py", "Password for user: ", "s3cret pw",
                             Cli(), "--output", out.Path, "--user", "user", s.WatchUrl()},
                            Environment(env));
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  EXPECT_EQ(r.Out.find("s3cret"), std::string::npos) << "the password was echoed: " << r.Out;
  EXPECT_EQ(ReadFile(out / (kClip + ".flv")), s.Flv());
  EXPECT_NE(s.Requests().find("&username=user&password=s3cret%20pw&"), std::string::npos);
}

TEST(CliAnswers, PasswordWithoutATerminalIsRefusedClearly) {
  TService s({"--age-gate", "--password", "pw"});
  ASSERT_TRUE(s.Running());
  TTempDir out;
  auto env = s.Env();
  env["CLIPHARBOR_PASSWORD"] = std::nullopt;
  TRunResult r = RunProcess({Cli(), "--output", out.Path, "--user", "user", s.WatchUrl()}, Environment(env), "pw\n");
  EXPECT_EQ(r.ExitCode, 2);
  EXPECT_NE(r.Err.find("clipharbor-cli: --user user needs a password: give --password or CLIPHARBOR_PASSWORD, or "
                       "run on a terminal to be asked for it"),
            std::string::npos)
      << r.Err;
  EXPECT_EQ(s.Requests().find("/watch"), std::string::npos);  // nothing was tried with an empty password
}

}  // namespace
