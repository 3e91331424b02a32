// clipharbor-cli with page titles that make poor file names: the names are
// cleaned and cut to fit, and nothing of the remote text reaches the terminal
// raw. Also the age gate after a refused login.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/CliFixture.h"

using namespace e2e;

namespace {

// Every byte below 32 (line ends aside) and DEL.
bool HasControlCharacters(const std::string& text) {
  for (char c : text)
    if ((static_cast<unsigned char>(c) < 32 && c != '\n') || c == 127) return true;
  return false;
}

}  // namespace

TEST_F(CliTest, HostileTitlesMakeSafeNamesAndNothingRawIsPrinted) {
  {
    TService s({"--title", "../../etc/passwd"});
    ASSERT_TRUE(s.Running());
    TRunResult r = RunCli(s, {"--output", Out_.Path, s.WatchUrl()});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_TRUE(ReadFile(Out("etcpasswd.flv")) == s.Flv());
  }
  {
    TService s({"--title", "Clip \x1b[2J\x1b]0;owned\x07 end\x7f"});
    ASSERT_TRUE(s.Running());
    TRunResult r = RunCli(s, {"--output", Out_.Path, s.WatchUrl()});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_TRUE(ReadFile(Out("Clip [2J]0;owned end.flv")) == s.Flv());
    EXPECT_FALSE(HasControlCharacters(r.Out + r.Err)) << r.Out << r.Err;
  }
}

TEST_F(CliTest, OverlongTitleIsCutAtACharacterBoundary) {
  std::string title = "x";
  for (int i = 0; i < 300; ++i) title += "\xc3\xa9";
  TService s({"--title", title});
  ASSERT_TRUE(s.Running());
  TRunResult r = RunCli(s, {"--output", Out_.Path, s.WatchUrl()});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  // 255 bytes with ".part": 245 bytes of title would end inside a character.
  const std::string expected = title.substr(0, 245) + ".flv";
  EXPECT_TRUE(ReadFile(Out(expected)) == s.Flv());
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Out_.Path)) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1u);
}

TEST_F(CliTest, MistypedPasswordIsAskedForAgain) {
  TService s({"--age-gate"});
  ASSERT_TRUE(s.Running());
  TRunResult r = RunCli(s, {"--output", Out_.Path, s.WatchUrl()}, "y\nuser\nwrong\ny\nuser\nsecret\n");
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_TRUE(ReadFile(Out("Sample Clip.flv")) == s.Flv());
  const std::string question = "Do you want Login to access your account?";
  const std::string::size_type first = r.Err.find(question);
  ASSERT_NE(first, std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find(question, first + 1), std::string::npos) << r.Err;
  const std::string log = s.Requests();
  EXPECT_NE(log.find("password=wrong"), std::string::npos);
  EXPECT_EQ(log.find("password=wrong"), log.rfind("password=wrong")) << "the refused login is not sent again";
}
