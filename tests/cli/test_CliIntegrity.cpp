// clipharbor-cli against downloads that go wrong: each failure says why,
// exits non-zero, converts nothing and leaves nothing under the final name
// but keeps the ".part" when bytes arrived (and none when nothing did); each
// success leaves the whole file under its final name and no ".part"; a
// symbolic link at the ".part" is never written through. Also the names
// made from hostile titles and the age gate after a refused login.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/CliFixture.h"
#include "http/HttpPeer.h"

using namespace e2e;

namespace {

const std::string kFinal = "Sample Clip.flv";
const std::string kPart = "Sample Clip.flv.part";

const char* kQuickConversion = R"([["err", "  Duration: 00:00:10.00, start: 0\n"], ["output", "converted"], ["exit", 0]])";

class CliIntegrityTest : public CliTest {
 protected:
  void SetUp() override { Steps(kQuickConversion); }

  // A failed download in mode 1: the reason on standard error, exit 1 (4
  // when this side failed), no conversion, no final file, the ".part" kept
  // when bytes arrived and gone when none did.
  void ExpectFailure(const TRunResult& r, const std::string& why, int status = 1, bool bytesArrived = true) {
    EXPECT_EQ(r.ExitCode, status) << r.Out << r.Err;
    EXPECT_NE(r.Err.find("Download failed: " + why), std::string::npos) << r.Err;
    EXPECT_EQ(r.Out.find("Converting:"), std::string::npos) << r.Out;
    EXPECT_EQ(r.Out.find("Saved"), std::string::npos) << r.Out;
    EXPECT_FALSE(Exists(Out(kFinal)));
    EXPECT_FALSE(Exists(Out("Sample Clip.mp3")));
    EXPECT_EQ(Exists(Out(kPart)), bytesArrived);
  }
};

// Every byte below 32 (line ends aside) and DEL.
bool HasControlCharacters(const std::string& text) {
  for (char c : text)
    if ((static_cast<unsigned char>(c) < 32 && c != '\n') || c == 127) return true;
  return false;
}

}  // namespace

TEST_F(CliIntegrityTest, ErrorStatusCutAndResetBodiesSayWhy) {
  {
    TService s({"--get-video-status", "404"});
    ASSERT_TRUE(s.Running());
    ExpectFailure(RunCli(s, {"--output", Out_.Path, "--format", "7", s.WatchUrl()}), "404 Not Found", 1, false);
  }
  {
    TService s({"--cut-after", "5000"});
    ASSERT_TRUE(s.Running());
    TRunResult r = RunCli(s, {"--output", Out_.Path, "--format", "7", s.WatchUrl()});
    ExpectFailure(r, "Connection closed before the end of the answer");
    EXPECT_TRUE(ReadFile(Out(kPart)) == s.Flv().substr(0, 5000));
  }
  {
    TService s({"--cut-after", "5000", "--reset"});
    ASSERT_TRUE(s.Running());
    ExpectFailure(RunCli(s, {"--output", Out_.Path, "--format", "7", s.WatchUrl()}), "");
  }
}

TEST_F(CliIntegrityTest, NothingReceivedLeavesNoPartAndALinkThereIsNeverWrittenThrough) {
  // Whatever reaches this server got there through a port that wrapped.
  httptest::ScriptedServer server([](httptest::PeerConn&, int) {});
  const std::string wrapped = std::to_string(65536 + server.Port());
  const struct {
    std::string address, why;
  } cases[] = {
      {"http://no-such-host.invalid/clip.flv", "can't resolve hostname to IP address"},
      {"http://127.0.0.1:" + wrapped + "/clip.flv",
       "Refused address: port " + wrapped + " is not a number from 1 to 65535"},
  };
  for (const auto& c : cases) {
    TRunResult r = RunProcess({Cli(), "--output", Out_.Path, "--proxy", "", c.address}, Environment({}));
    EXPECT_EQ(r.ExitCode, 1) << r.Err;
    EXPECT_NE(r.Err.find("Download failed: " + c.why + "\n"), std::string::npos) << r.Err;
    EXPECT_FALSE(Exists(Out("clip.flv.part"))) << c.address;
  }
  EXPECT_EQ(server.Connections(), 0);

  // A link at the ".part" that points at a file of the user's.
  TService s({});
  ASSERT_TRUE(s.Running());
  const std::string letter = Dir / "letter.txt";
  WriteFile(letter, "the user's own words");
  std::filesystem::create_symlink(letter, Out(kPart));
  TRunResult r = RunCli(s, {"--output", Out_.Path, "--continue", s.WatchUrl()});
  EXPECT_EQ(r.ExitCode, 4) << r.Err;
  EXPECT_NE(r.Err.find("Cannot open file \"" + Out(kPart) + "\". It is a symbolic link, which is not followed."),
            std::string::npos)
      << r.Err;
  EXPECT_TRUE(std::filesystem::is_symlink(Out(kPart)));
  r = RunCli(s, {"--output", Out_.Path, s.WatchUrl()});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_TRUE(ReadFile(Out(kFinal)) == s.Flv());
  EXPECT_FALSE(Exists(Out(kPart)));
  EXPECT_EQ(ReadFile(letter), "the user's own words");
}

TEST_F(CliIntegrityTest, FullDiskSaysWhyAndKeepsThePart) {
  TService s({});
  ASSERT_TRUE(s.Running());
  // A file-size limit makes writes beyond 20000 bytes fail as on a full disk.
  const std::string limited =
      "import os, resource, signal, sys\n"
      "signal.signal(signal.SIGXFSZ, signal.SIG_IGN)\n"
      "resource.setrlimit(resource.RLIMIT_FSIZE, (20000, 20000))\n"
      "os.execv(sys.argv[1], sys.argv[1:])\n";
  TRunResult r = RunProcess({Bin + "/python3", "-c", limited, Cli(), "--output", Out_.Path, "--format", "7",
                             s.WatchUrl()},
                            Env(s));
  ExpectFailure(r, "File too large", 4);
  EXPECT_TRUE(ReadFile(Out(kPart)) == s.Flv().substr(0, 20000));
}

TEST_F(CliIntegrityTest, StopKeepsThePartAndConvertsNothing) {
  TService s({"--rate", "30000"});
  ASSERT_TRUE(s.Running());
  TChild c({Cli(), "--output", Out_.Path, "--format", "7", s.WatchUrl()}, Env(s));
  ASSERT_TRUE(c.ReadUntil([](const std::string& out, const std::string&) {
    return out.find("KB of") != std::string::npos;
  }, 20000)) << c.OutText << c.ErrText;
  c.Signal(SIGINT);
  TRunResult r = c.Finish(10000);
  EXPECT_EQ(r.ExitCode, 130);
  EXPECT_NE(r.Err.find("Stopped."), std::string::npos);
  EXPECT_EQ(r.Out.find("Converting:"), std::string::npos);
  EXPECT_FALSE(Exists(Out(kFinal)));
  EXPECT_FALSE(Exists(Out("Sample Clip.mp3")));
  const std::string part = ReadFile(Out(kPart));
  EXPECT_GT(part.size(), 0u);
  EXPECT_LT(part.size(), s.Flv().size());
  EXPECT_TRUE(part == s.Flv().substr(0, part.size()));
}

TEST_F(CliIntegrityTest, SuccessReplacesAStalePartAndAgreedFinalFile) {
  TService s({});
  ASSERT_TRUE(s.Running());
  WriteFile(Out(kPart), "left by an earlier run");
  TRunResult fresh = RunCli(s, {"--output", Out_.Path, s.WatchUrl()});
  ASSERT_EQ(fresh.ExitCode, 0) << fresh.Err;
  EXPECT_TRUE(ReadFile(Out(kFinal)) == s.Flv());
  EXPECT_FALSE(Exists(Out(kPart)));

  WriteFile(Out(kFinal), "older");
  TRunResult again = RunCli(s, {"--output", Out_.Path, "--yes", s.WatchUrl()});
  ASSERT_EQ(again.ExitCode, 0) << again.Err;
  EXPECT_TRUE(ReadFile(Out(kFinal)) == s.Flv());
  EXPECT_FALSE(Exists(Out(kPart)));
}

TEST_F(CliIntegrityTest, FailedDownloadLeavesAnAgreedFinalFileAlone) {
  TService s({"--cut-after", "5000"});
  ASSERT_TRUE(s.Running());
  WriteFile(Out(kFinal), "older");
  TRunResult r = RunCli(s, {"--output", Out_.Path, "--yes", s.WatchUrl()});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(ReadFile(Out(kFinal)), "older");
  EXPECT_TRUE(ReadFile(Out(kPart)) == s.Flv().substr(0, 5000));
}

TEST_F(CliIntegrityTest, HostileTitlesMakeSafeNamesAndNothingRawIsPrinted) {
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
  {
    // A server's reason phrase is remote text as well.
    TService s({"--get-video-status", "404", "--get-video-reason", "Not\x1b[2JFound"});
    ASSERT_TRUE(s.Running());
    TRunResult r = RunCli(s, {"--output", Out_.Path, s.WatchUrl()});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("Download failed: 404 Not?[2JFound"), std::string::npos) << r.Err;
    EXPECT_FALSE(HasControlCharacters(r.Out + r.Err)) << r.Out << r.Err;
  }
}

TEST_F(CliIntegrityTest, OverlongTitleIsCutAtACharacterBoundary) {
  std::string title = "x";
  for (int i = 0; i < 300; ++i) title += "\xc3\xa9";
  TService s({"--title", title});
  ASSERT_TRUE(s.Running());
  TRunResult r = RunCli(s, {"--output", Out_.Path, s.WatchUrl()});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  // 255 bytes with ".part.ctl": 241 bytes of title would end inside a character.
  const std::string expected = title.substr(0, 241) + ".flv";
  EXPECT_TRUE(ReadFile(Out(expected)) == s.Flv());
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Out_.Path)) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1u);
}

TEST_F(CliIntegrityTest, MistypedPasswordIsAskedForAgain) {
  TService s({"--age-gate"});
  ASSERT_TRUE(s.Running());
  TRunResult r = RunCli(s, {"--output", Out_.Path, s.WatchUrl()}, "y\nuser\nwrong\ny\nuser\nsecret\n");
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_TRUE(ReadFile(Out(kFinal)) == s.Flv());
  const std::string question = "Do you want Login to access your account?";
  const std::string::size_type first = r.Err.find(question);
  ASSERT_NE(first, std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find(question, first + 1), std::string::npos) << r.Err;
  const std::string log = s.Requests();
  EXPECT_NE(log.find("password=wrong"), std::string::npos);
  EXPECT_EQ(log.find("password=wrong"), log.rfind("password=wrong")) << "the refused login is not sent again";
}
