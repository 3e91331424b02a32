// clipharbor-cli run as a process against the stand-in video service: every
// mode, the page cases, the age gate, the overwrite questions, Stop (Ctrl-C)
// in each stage, locked files and a missing or failing converter.
#include <sys/file.h>

#include <gtest/gtest.h>

#include "cli/CliFixture.h"

using namespace e2e;

namespace {


// A conversion of ten seconds in four reports, then the output file.
const char* kGoodConversion = R"([
  ["err", "Input #0, flv, from 'in.flv':\n  Duration: 00:00:10.00, start: 0.000000, bitrate: 364 kb/s\n"],
  ["err", "size=      10kB time=00:00:02.50 bitrate= 32.0kbits/s speed=5x\r"],
  ["sleep", 0.1],
  ["err", "size=      20kB time=00:00:05.00 bitrate= 32.0kbits/s speed=5x\r"],
  ["sleep", 0.1],
  ["output", "converted"],
  ["err", "size=      40kB time=00:00:10.00 bitrate= 32.0kbits/s speed=5x\n"],
  ["exit", 0]
])";

}  // namespace

TEST(CliOptions, HelpAndBadCommandLines) {
  TRunResult help = RunProcess({Cli(), "--help"}, Environment({}));
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_NE(help.Out.find("Usage: clipharbor-cli [--format N] [--output DIR] [--yes|--no]"), std::string::npos);
  EXPECT_NE(help.Out.find("\n   7  MPEG Audio Layer 3 (MP3)\n"), std::string::npos);
  EXPECT_NE(help.Out.find("\n  13  Opus Audio (OPUS)\n"), std::string::npos);

  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
           {}, {"--format"}, {"--format", "14", "x"}, {"--format", "-1", "x"}, {"--bogus", "x"},
           {"--yes", "--no", "x"}, {"a", "b"}}) {
    bad.insert(bad.begin(), Cli());
    TRunResult r = RunProcess(bad, Environment({}));
    EXPECT_EQ(r.ExitCode, 2) << bad.size();
    EXPECT_NE(r.Err.find("Try 'clipharbor-cli --help'."), std::string::npos);
  }
}

TEST_F(CliTest, StartChecksInOrderWithTheirTexts) {
  TService s({});
  ASSERT_TRUE(s.Running());
  TRunResult empty = RunCli(s, {""});
  EXPECT_EQ(empty.ExitCode, 1);
  EXPECT_NE(empty.Err.find("Please enter video URL!"), std::string::npos);

  // The folder question comes before the address check; No ends the job.
  const std::string missing = Dir / "new/out";
  TRunResult no = RunCli(s, {"--output", missing, "--no", "http://elsewhere.example/watch?v=x"});
  EXPECT_EQ(no.ExitCode, 1);
  EXPECT_NE(no.Err.find(missing + ", the output directory does not exist.\ncreates a new directory?"),
            std::string::npos);
  EXPECT_EQ(no.Err.find("Please enter the url like"), std::string::npos);
  EXPECT_FALSE(Exists(missing));

  // Another http address is a direct download; what is not http is refused.
  TRunResult wrong = RunCli(s, {"--output", missing, "--yes", "ftp://elsewhere.example/watch?v=x"});
  EXPECT_EQ(wrong.ExitCode, 1);
  EXPECT_TRUE(Exists(missing));
  EXPECT_NE(wrong.Err.find("Please enter the url like http://" + s.Host() + "/watch?v=piEWjpA_51Q"),
            std::string::npos);

  TRunResult noFile = RunCli(s, {"--format", "7", Dir / "absent.flv"});
  EXPECT_EQ(noFile.ExitCode, 1);
  EXPECT_NE(noFile.Err.find("Please check whether the video file exist."), std::string::npos);
}

TEST_F(CliTest, DownloadViaCacheHostIsByteIdentical) {
  TService s({"--cache-host", "localhost"});
  ASSERT_TRUE(s.Running());
  TRunResult r = RunCli(s, {"--output", Out_.Path, s.WatchUrl()});
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  const std::string flv = s.Flv();
  ASSERT_GT(flv.size(), 10000u);
  EXPECT_EQ(ReadFile(Out(kClip + ".flv")), flv);
  EXPECT_NE(r.Out.find("Downloading: " + kClip + ".flv ..."), std::string::npos);
  EXPECT_NE(r.Out.find("KB of " + std::to_string((flv.size() + 512) / 1024)), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("Saved " + Out(kClip + ".flv")), std::string::npos);
  // get_video was answered by a relocation to the cache host, which the
  // client followed with its own agent.
  const std::string log = s.Requests();
  EXPECT_NE(log.find("\"path\": \"/get_video.flv?id=Xk3mP9qA_7w\", \"host\": \"localhost:" +
                     std::to_string(s.CachePort) + "\""),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("\"agent\": \"Mozilla/3.0 (compatible)\", \"server\": \"cache\""), std::string::npos);
}

TEST_F(CliTest, TitleWithDoublyEscapedAmpersand) {
  TService s({"--title", "Tom & Jerry: <Best>?", "--double-escaped-ampersand"});
  ASSERT_TRUE(s.Running());
  TRunResult r = RunCli(s, {"--output", Out_.Path, s.WatchUrl()});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  // The entity folded back, then the characters file names cannot hold dropped.
  EXPECT_EQ(ReadFile(Out("Tom & Jerry &lt;Best&gt;.flv")), s.Flv());
}

TEST_F(CliTest, TitleWithoutClosingQuoteKeepsDesignName) {
  TService s({"--no-title-quote"});
  ASSERT_TRUE(s.Running());
  TRunResult r = RunCli(s, {"--output", Out_.Path, s.WatchUrl()});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(ReadFile(Out("get_video")), s.Flv());
}

TEST_F(CliTest, NoContentLengthShowsReceivedKilobytesAlone) {
  for (const char* mode : {"none", "lower"}) {
    TService s({"--content-length", mode});
    ASSERT_TRUE(s.Running());
    TTempDir out;
    TRunResult r = RunCli(s, {"--output", out.Path, s.WatchUrl()});
    ASSERT_EQ(r.ExitCode, 0) << mode << r.Err;
    EXPECT_EQ(ReadFile(out / (kClip + ".flv")), s.Flv()) << mode;
    EXPECT_NE(r.Out.find(std::to_string((s.Flv().size() + 512) / 1024) + " KB received"), std::string::npos)
        << mode << r.Out;
    EXPECT_EQ(r.Out.find(" of "), std::string::npos) << mode;
    EXPECT_EQ(r.Out.find("remaining"), std::string::npos) << mode;
  }
}

TEST_F(CliTest, AgeGateWithStoredCredentialsEncoded) {
  TService s({"--age-gate", "--password", "p&ss #1+x"});
  ASSERT_TRUE(s.Running());
  TRunResult r = RunCli(s, {"--output", Out_.Path, "--user", "user", s.WatchUrl()}, "",
                        {{"CLIPHARBOR_PASSWORD", std::string("p&ss #1+x")}});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(ReadFile(Out(kClip + ".flv")), s.Flv());
  // Stored credentials: no question.
  EXPECT_EQ(r.Err.find("Do you want Login"), std::string::npos);
  EXPECT_NE(s.Requests().find("/login?next=/watch?v=Xk3mP9qA_7w&username=user&password=p%26ss%20%231%2Bx"
                              "&action_login=Log+In"),
            std::string::npos);
}

TEST_F(CliTest, AgeGateAsksAndLogsIn) {
  TService s({"--age-gate"});
  ASSERT_TRUE(s.Running());
  TRunResult r = RunCli(s, {"--output", Out_.Path, s.WatchUrl()}, "y\n\nsecret\nuser\nsecret\n");
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_NE(r.Err.find("This video may contain content that is inappropriate for some users, as flagged by "
                       "YouTube\"s user commnunity.\nTo view this video, please verify you are 18 or older by "
                       "logging in or signing up.\n\nDo you want Login to access your account?"),
            std::string::npos)
      << r.Err;
  // The login questions check as the dialog does.
  EXPECT_NE(r.Err.find("Please enter Username."), std::string::npos);
  EXPECT_EQ(ReadFile(Out(kClip + ".flv")), s.Flv());
}

TEST_F(CliTest, AgeGateRefusedOrCancelledEndsWithoutFile) {
  TService s({"--age-gate"});
  ASSERT_TRUE(s.Running());
  TRunResult no = RunCli(s, {"--output", Out_.Path, "--no", s.WatchUrl()});
  EXPECT_EQ(no.ExitCode, 1);
  TRunResult cancelled = RunCli(s, {"--output", Out_.Path, s.WatchUrl()}, "y\n");  // input ends at the login
  EXPECT_EQ(cancelled.ExitCode, 1);
  EXPECT_FALSE(Exists(Out(kClip + ".flv")));
  EXPECT_EQ(no.Err.find("Unable get html"), std::string::npos);
  EXPECT_EQ(s.Requests().find("/get_video"), std::string::npos);
}

TEST_F(CliTest, RefusedStoredAccountIsAskedForInsteadOfSubmittedAgain) {
  TService s({"--age-gate"});
  ASSERT_TRUE(s.Running());
  TRunResult r = RunCli(s, {"--output", Out_.Path, "--user", "user", "--password", "wrong", s.WatchUrl()}, "n\n");
  EXPECT_EQ(r.ExitCode, 1);
  // Sent once without asking; refused, it leads to the question, and No stops.
  EXPECT_NE(r.Err.find("Do you want Login"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Err.find("Unable get html"), std::string::npos) << r.Err;
  const std::string log = s.Requests();
  const std::string login = "/login?next=/watch?v=Xk3mP9qA_7w&username=user&password=wrong";
  const std::string::size_type first = log.find(login);
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find(login, first + 1), std::string::npos) << log;
  EXPECT_EQ(log.find("/get_video"), std::string::npos);
}

TEST_F(CliTest, PageLargerThanTheFirstBlockIsReadWhole) {
  // About 140 KB of title text before the token; the marker without its
  // quote keeps the file name at its design text.
  TService s({"--title", std::string(70000, 'x'), "--no-title-quote"});
  ASSERT_TRUE(s.Running());
  TRunResult r = RunCli(s, {"--output", Out_.Path, s.WatchUrl()}, "",
                        {{"CLIPHARBOR_TEST_POLL_LIMIT_MS", std::string("3000")}});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(ReadFile(Out("get_video")), s.Flv());
}

TEST_F(CliTest, BirthDateConfirmation) {
  TService s({"--birth-date"});
  ASSERT_TRUE(s.Running());
  TRunResult r = RunCli(s, {"--output", Out_.Path, s.WatchUrl()});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(ReadFile(Out(kClip + ".flv")), s.Flv());
  EXPECT_NE(s.Requests().find("/verify_age?next_url=/watch?v=Xk3mP9qA_7w&action_confirm=Confirm+Birth+Date"),
            std::string::npos);
}

TEST_F(CliTest, NotAvailableAndNoTokenReportUnableGetHtml) {
  {
    TService s({"--not-available"});
    ASSERT_TRUE(s.Running());
    TRunResult r = RunCli(s, {"--output", Out_.Path, s.WatchUrl()});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("Unable get html from " + s.WatchUrl()), std::string::npos) << r.Err;
  }
  {
    TService s({"--no-token"});
    ASSERT_TRUE(s.Running());
    TRunResult r = RunCli(s, {"--output", Out_.Path, s.WatchUrl()}, "",
                          {{"CLIPHARBOR_TEST_POLL_LIMIT_MS", std::string("1500")}});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("Unable get html from " + s.WatchUrl()), std::string::npos) << r.Err;
    // A page was read in the first attempt: no second one.
    const std::string log = s.Requests();
    EXPECT_EQ(log.find("/watch?v="), log.rfind("/watch?v=")) << log;
  }
  EXPECT_FALSE(Exists(Out(kClip + ".flv")));
}

TEST_F(CliTest, ExistingTargetAnsweredNoOrYes) {
  TService s({});
  ASSERT_TRUE(s.Running());
  WriteFile(Out(kClip + ".flv"), "mine");
  TRunResult no = RunCli(s, {"--output", Out_.Path, s.WatchUrl()});  // no input: the default, No
  EXPECT_EQ(no.ExitCode, 1);
  EXPECT_NE(no.Err.find(Out(kClip + ".flv") + " has existed,overite it?"), std::string::npos);
  EXPECT_EQ(ReadFile(Out(kClip + ".flv")), "mine");
  EXPECT_EQ(s.Requests().find("/get_video"), std::string::npos);

  TRunResult yes = RunCli(s, {"--output", Out_.Path, s.WatchUrl()}, "yes\n");
  EXPECT_EQ(yes.ExitCode, 0) << yes.Err;
  EXPECT_EQ(ReadFile(Out(kClip + ".flv")), s.Flv());
}

TEST_F(CliTest, LockedTargetKeepsItsBytes) {
  TService s({});
  ASSERT_TRUE(s.Running());
  WriteFile(Out(kClip + ".flv"), "held by another program");
  const int fd = ::open(Out(kClip + ".flv").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  TRunResult r = RunCli(s, {"--output", Out_.Path, "--yes", s.WatchUrl()});
  ::close(fd);
  EXPECT_EQ(r.ExitCode, 4);  // a local file problem
  EXPECT_NE(r.Err.find("Cannot open file \"" + Out(kClip + ".flv") + "\""), std::string::npos) << r.Err;
  EXPECT_EQ(ReadFile(Out(kClip + ".flv")), "held by another program");
}

TEST_F(CliTest, DownloadAndConvertWithProgress) {
  TService s({});
  ASSERT_TRUE(s.Running());
  Steps(kGoodConversion);
  TRunResult r = RunCli(s, {"--output", Out_.Path, "--format", "7", s.WatchUrl()});
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  EXPECT_EQ(ReadFile(Out(kClip + ".flv")), s.Flv());
  EXPECT_EQ(ReadFile(Out(kClip + ".mp3")), "converted");
  EXPECT_NE(r.Out.find("Converting: " + kClip + ".mp3"), std::string::npos);
  // Whole seconds: 2.50 of 10 is 20 percent.
  EXPECT_NE(r.Out.find(" 20%  Time elapsed: "), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find(" 50%  Time elapsed: "), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("Saved " + Out(kClip + ".mp3") + " (9 bytes)"), std::string::npos) << r.Out;
}

TEST_F(CliTest, ConverterFailures) {
  TService s({});
  ASSERT_TRUE(s.Running());
  const std::string flv = Out("in.flv");
  WriteFile(flv, s.Flv());

  // A non-zero exit is a failure, reported with the converter's last error line.
  Steps(R"([["err", "Input #0, flv\n  Duration: 00:00:10.00, start: 0\n"],
            ["err", "Unknown encoder 'bogus'\n"], ["exit", 1]])");
  TRunResult failed = RunCli(s, {"--output", Out_.Path, "--format", "8", flv});
  EXPECT_EQ(failed.ExitCode, 3);
  EXPECT_NE(failed.Err.find("Unknown encoder 'bogus'"), std::string::npos) << failed.Err;

  // An output file in use: nothing runs.
  Steps(kGoodConversion);
  WriteFile(Out("in.wav"), "busy");
  const int fd = ::open(Out("in.wav").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  TRunResult locked = RunCli(s, {"--output", Out_.Path, "--format", "8", "--yes", flv});
  ::close(fd);
  EXPECT_EQ(locked.ExitCode, 3);
  EXPECT_NE(locked.Err.find("in.wav has existed,overite it?"), std::string::npos);
  EXPECT_NE(locked.Err.find("Video file will be created may be used, convert process failed!"), std::string::npos);
  EXPECT_EQ(ReadFile(Out("in.wav")), "busy");

  // Declining to overwrite the output is no success either.
  TRunResult declined = RunCli(s, {"--output", Out_.Path, "--format", "8", "--no", flv});
  EXPECT_EQ(declined.ExitCode, 3);
  EXPECT_EQ(ReadFile(Out("in.wav")), "busy");

  // No converter on PATH.
  TTempDir empty;
  const std::string noConverter = StandInConverterDir(empty, false);
  TRunResult missing = RunCli(s, {"--output", Out_.Path, "--format", "8", "--yes", flv}, "",
                              {{"PATH", PathWithout(noConverter)}});
  EXPECT_EQ(missing.ExitCode, 3);
  EXPECT_NE(missing.Err.find("Error while creating convert process!2"), std::string::npos) << missing.Err;
}

TEST_F(CliTest, ConvertLocalFileWithRealConverter) {
  TService s({});
  ASSERT_TRUE(s.Running());
  const std::string flv = Out("local clip.flv");
  WriteFile(flv, s.Flv());
  TRunResult r = RunCli(s, {"--output", Out_.Path, "--format", "8", flv}, "",
                        {{"PATH", std::string(std::getenv("PATH"))}});
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  const std::string wav = ReadFile(Out("local clip.wav"));
  ASSERT_GT(wav.size(), 44u);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(wav.substr(8, 4), "WAVE");
  EXPECT_NE(r.Out.find("100%"), std::string::npos) << r.Out;
}

TEST_F(CliTest, HttpErrorStatusIsAFailureThatSaysWhy) {
  TService s({"--get-video-status", "404"});
  ASSERT_TRUE(s.Running());
  TRunResult r = RunCli(s, {"--output", Out_.Path, "--format", "7", s.WatchUrl()});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Err.find("Unable get html"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("Download failed: 404 Not Found"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Out.find("Converting:"), std::string::npos) << r.Out;
  // Nothing arrived: nothing under the final name, and no empty ".part".
  EXPECT_FALSE(Exists(Out(kClip + ".flv")));
  EXPECT_FALSE(Exists(Out(kClip + ".flv.part")));
}

TEST_F(CliTest, ProgressBarOnATerminal) {
  if (!Exists("/usr/bin/script")) GTEST_SKIP() << "no script(1) to give the program a terminal";
  TService s({"--rate", "60000"});
  ASSERT_TRUE(s.Running());
  Steps(kGoodConversion);
  const std::string command = "'" + Cli() + "' --output '" + Out_.Path + "' --format 7 '" + s.WatchUrl() + "'";
  TRunResult r = RunProcess({"script", "-qefc", command, "/dev/null"}, Env(s));
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  // One line redrawn in place: carriage returns and erase-to-end, no line per step.
  EXPECT_NE(r.Out.find("\r[##############################] 100%  165 KB of 165 KB received"), std::string::npos)
      << r.Out;
  EXPECT_NE(r.Out.find("\x1b[K"), std::string::npos);
  EXPECT_NE(r.Out.find("KB/S"), std::string::npos);
  EXPECT_NE(r.Out.find(" remaining"), std::string::npos);
  EXPECT_NE(r.Out.find("\r[###############---------------]  50%  Time elapsed: 00:00  Time estimated: 00:00"),
            std::string::npos);
  EXPECT_EQ(ReadFile(Out(kClip + ".flv")), s.Flv());
}

// A file server that misbehaves: an invalid length, or a body cut short.
TEST_F(CliTest, BadOrShortBodyIsNoSuccess) {
  WriteFile(Dir / "peer.py", R"(import sys, socketserver, http.server
class H(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    def log_message(self, *a): pass
    def do_GET(self):
        if self.path.startswith("/watch"):
            body = b'<meta name="title" content="Bad">"t": "OEgsABC", '
            self.send_response(200); self.send_header("Content-Length", str(len(body))); self.end_headers()
            self.wfile.write(body)
        else:
            self.send_response(200); self.send_header("Content-Length", sys.argv[1]); self.end_headers()
            self.wfile.write(b"x" * 5000)
s = socketserver.TCPServer(("127.0.0.1", 0), H)
print(s.server_address[1], flush=True)
s.serve_forever()
)");
  for (const char* length : {"abc", "10000"}) {
    TChild peer({"python3", Dir / "peer.py", length}, Environment({}));
    ASSERT_TRUE(peer.ReadUntil([](const std::string& out, const std::string&) {
      return out.find('\n') != std::string::npos;
    }, 30000)) << peer.ErrText;
    const std::string host = "127.0.0.1:" + std::to_string(std::atoi(peer.OutText.c_str()));
    TTempDir out;
    TRunResult r = RunProcess({Cli(), "--output", out.Path, "http://" + host + "/watch?v=x"},
                              Environment({{"CLIPHARBOR_SERVICE", host}, {"PATH", PathWithout(Bin)}}));
    EXPECT_EQ(r.ExitCode, 1) << length << r.Out << r.Err;
    const std::string why = std::string(length) == "abc" ? "'abc' is not a valid integer value"
                                                         : "Connection closed before the end of the answer";
    EXPECT_NE(r.Err.find("Download failed: " + why), std::string::npos) << r.Err;
    // What arrived stays in the ".part", nothing under the final name; a
    // refused header lets no byte in, and leaves no ".part" either.
    EXPECT_FALSE(Exists(out / "Bad.flv")) << length;
    EXPECT_EQ(Exists(out / "Bad.flv.part"), std::string(length) != "abc") << length;
    EXPECT_LE(ReadFile(out / "Bad.flv.part").size(), 5000u);
    peer.Signal(SIGKILL);
  }
}

// Ctrl-C is the Stop button: in each stage the job ends at once, with 130.
TEST_F(CliTest, StopInEachStage) {
  {
    TService s({"--page-delay", "20"});
    ASSERT_TRUE(s.Running());
    TChild c({Cli(), "--output", Out_.Path, s.WatchUrl()}, Env(s));
    ASSERT_TRUE(c.ReadUntil([&](const std::string& out, const std::string&) {
      return out.find(s.WatchUrl()) != std::string::npos;
    }, 20000));
    c.Signal(SIGINT);
    TRunResult r = c.Finish(10000);
    EXPECT_EQ(r.ExitCode, 130);
    EXPECT_NE(r.Err.find("Stopped."), std::string::npos);
    EXPECT_FALSE(Exists(Out(kClip + ".flv")));
  }
  {
    // A question waiting for an answer.
    TService s({"--age-gate"});
    ASSERT_TRUE(s.Running());
    TChild c({Cli(), "--output", Out_.Path, s.WatchUrl()}, Env(s));
    ASSERT_TRUE(c.ReadUntil([](const std::string&, const std::string& err) {
      return err.find("Do you want Login to access your account? [Y/n] ") != std::string::npos;
    }, 20000)) << c.ErrText;
    c.Signal(SIGINT);
    TRunResult r = c.Finish(10000);
    EXPECT_EQ(r.ExitCode, 130);
    EXPECT_NE(r.Err.find("Stopped."), std::string::npos);
  }
  {
    TService s({"--rate", "30000"});
    ASSERT_TRUE(s.Running());
    TChild c({Cli(), "--output", Out_.Path, s.WatchUrl()}, Env(s));
    ASSERT_TRUE(c.ReadUntil([](const std::string& out, const std::string&) {
      return out.find("KB of") != std::string::npos;
    }, 20000)) << c.OutText << c.ErrText;
    c.Signal(SIGINT);
    TRunResult r = c.Finish(10000);
    EXPECT_EQ(r.ExitCode, 130) << r.Err;
    // The partly written file stays as the ".part".
    EXPECT_FALSE(Exists(Out(kClip + ".flv")));
    EXPECT_TRUE(Exists(Out(kClip + ".flv.part")));
    EXPECT_LT(ReadFile(Out(kClip + ".flv.part")).size(), s.Flv().size());
  }
  {
    TService s({});
    ASSERT_TRUE(s.Running());
    const std::string pids = Dir / "pids.json";
    Steps(R"([["err", "  Duration: 00:00:10.00, start: 0\n"], ["pids", ")" + pids + R"("], ["hang"]])");
    const std::string flv = Out("in.flv");
    WriteFile(flv, s.Flv());
    TChild c({Cli(), "--output", Out_.Path, "--format", "7", flv}, Env(s));
    ASSERT_TRUE(c.ReadUntil([&](const std::string& out, const std::string&) {
      return out.find("Converting: in.mp3") != std::string::npos && Exists(pids);
    }, 20000));
    c.Signal(SIGINT);
    TRunResult r = c.Finish(10000);
    EXPECT_EQ(r.ExitCode, 130);
    const std::string info = ReadFile(pids);
    const int pid = std::atoi(info.substr(info.find(':') + 1).c_str());
    ASSERT_GT(pid, 0);
    // The converter was terminated with the job.
    for (int i = 0; i < 50 && ::kill(pid, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_NE(::kill(pid, 0), 0);
  }
}
