// clipharbor-cli run as a process against real peers on loopback: squid as
// an HTTP proxy (open, Basic, NTLM), danted and microsocks as SOCKS 5, the
// scripted SOCKS 4/4A relay, each proven by its own log; nginx for direct
// addresses and resume; the stand-in service's failing servers (reset,
// busy, stalled, ignoring ranges); the proxy environment; batch files; the
// exit statuses.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "cli/E2eSupport.h"
#include "http/ExternalPeers.h"
#include "http/HttpPeer.h"
#include "socket/SocksPeers.h"

using namespace e2e;

namespace {

using TEnvChanges = std::map<std::string, std::optional<std::string>>;


int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

// 200 KB that differ from place to place.
std::string Payload() {
  std::string d;
  for (int i = 0; i < 200000; ++i) d += static_cast<char>((i * 31 + i / 251) & 0xFF);
  return d;
}

class CliNet : public ::testing::Test {
 protected:
  // The program's environment: the service (when given), the stand-in
  // converter, and no proxy variable of the test machine's own.
  std::vector<std::string> Env(const TService* s, const TEnvChanges& extra) {
    TEnvChanges env = s ? s->Env() : TEnvChanges{};
    env["PATH"] = PathWithout(Bin);
    env["CONVERT_STANDIN"] = Dir / "steps.json";
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
      env[name] = std::nullopt;
    for (const auto& [k, v] : extra) env[k] = v;
    return Environment(env);
  }
  TRunResult Run(const TService* s, std::vector<std::string> args, const TEnvChanges& extra = {},
                 const std::string& input = "") {
    args.insert(args.begin(), Cli());
    return RunProcess(args, Env(s, extra), input, 120000);
  }
  void Steps(const std::string& json) { WriteFile(Dir / "steps.json", json); }

  TTempDir Dir;
  std::string Bin = StandInConverterDir(Dir);
};

// nginx serving the payload as /clip.flv.
class NginxWithClip {
 public:
  NginxWithClip() {
    ok = nginx.Start();
    std::filesystem::create_directories(nginx.Www());
    WriteFile(nginx.Www() + "/clip.flv", data);
  }
  httptest::Nginx nginx;
  std::string data = Payload();
  bool ok = false;
};

const char* kConversion = R"([
  ["err", "  Duration: 00:00:04.00, start: 0.000000\n"],
  ["output", "converted"],
  ["err", "size=      40kB time=00:00:04.00 bitrate= 32.0kbits/s speed=5x\n"],
  ["exit", 0]
])";

}  // namespace

TEST_F(CliNet, HttpProxySquidOpenBasicAndNtlm) {
  TService s({});
  ASSERT_TRUE(s.Running());
  const std::string cachePort = std::to_string(s.CachePort);
  const struct {
    const char* auth;
    std::string userInfo;  // as written in the proxy address
    std::string logged;    // the user as squid logs it
  } cases[] = {{"", "", " - "}, {"basic", "puser:p%40ss%3Aw%25rd@", " puser "}, {"ntlm", "ntlmuser:any@", "ntlmuser"}};
  for (const auto& c : cases) {
    httptest::Squid squid;
    ASSERT_TRUE(squid.Start(c.auth, "puser", "p@ss:w%rd")) << squid.error;
    TTempDir out;
    const std::string proxy = "http://" + c.userInfo + "127.0.0.1:" + std::to_string(squid.port);
    TRunResult r = Run(&s, {"--proxy", proxy, "--output", out.Path, s.WatchUrl()});
    ASSERT_EQ(r.ExitCode, 0) << c.auth << r.Out << r.Err;
    EXPECT_EQ(ReadFile(out / kClipFile), s.Flv()) << c.auth;
    // Every request of the job went through the proxy: the page, get_video
    // and its relocation to the cache host.
    const std::string log = WaitForLog(squid.AccessLog(), "get_video.flv");
    // (squid leaves the queries out of its log)
    EXPECT_NE(log.find("GET http://" + s.Host() + "/watch?"), std::string::npos) << c.auth << log;
    EXPECT_NE(log.find("GET http://" + s.Host() + "/get_video?"), std::string::npos) << log;
    EXPECT_NE(log.find("GET http://127.0.0.1:" + cachePort + "/get_video.flv"), std::string::npos) << log;
    EXPECT_NE(log.find(c.logged), std::string::npos) << c.auth << log;
  }
}

TEST_F(CliNet, Socks5DantedWithPasswordAndMicrosocks) {
  TService s({});
  ASSERT_TRUE(s.Running());
  const std::string cachePort = std::to_string(s.CachePort);
  if (socktest::Executable("/usr/sbin/danted")) {
    const std::string why = socktest::EnsureSocksUser();
    if (why.empty()) {
      socktest::Dante d;
      ASSERT_TRUE(d.Start("username")) << d.error;
      TTempDir out;
      const std::string proxy = std::string("socks5://") + socktest::kSocksUser + ":" + socktest::kSocksPassword +
                                "@127.0.0.1:" + std::to_string(d.port);
      TRunResult r = Run(&s, {"--proxy", proxy, "--output", out.Path, s.WatchUrl()});
      ASSERT_EQ(r.ExitCode, 0) << r.Err;
      EXPECT_EQ(ReadFile(out / kClipFile), s.Flv());
      const std::string log = WaitForLog(d.Log(), "127.0.0.1." + cachePort);
      EXPECT_NE(log.find(std::string("username%") + socktest::kSocksUser + "@127.0.0.1"), std::string::npos) << log;
      EXPECT_NE(log.find("127.0.0.1." + std::to_string(s.Port)), std::string::npos) << log;
      EXPECT_NE(log.find("127.0.0.1." + cachePort), std::string::npos) << log;
    } else {
      ADD_FAILURE() << "danted with a password needs its system user: " << why;
    }
  }
  socktest::MicroSocks m;
  ASSERT_TRUE(m.Start()) << m.error;
  TTempDir out;
  TRunResult r = Run(&s, {"--proxy", "socks5://127.0.0.1:" + std::to_string(m.port), "--output", out.Path,
                          s.WatchUrl()});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(ReadFile(out / kClipFile), s.Flv());
  const std::string log = WaitForLog(m.dir / "stdout.log", "connected to 127.0.0.1:" + cachePort);
  EXPECT_NE(log.find("connected to 127.0.0.1:" + std::to_string(s.Port)), std::string::npos) << log;
  EXPECT_NE(log.find("connected to 127.0.0.1:" + cachePort), std::string::npos) << log;
}

TEST_F(CliNet, Socks4And4AThroughTheScriptedRelay) {
  TService s({});
  ASSERT_TRUE(s.Running());
  const std::string log = Dir / "relay.log";
  TChild relay({"python3", SourceDir() + "/tests/cli/socks4_relay.py", log}, Environment({}));
  ASSERT_TRUE(relay.ReadUntil([](const std::string& o, const std::string&) { return o.find('\n') != std::string::npos; },
                              10000));
  const std::string port = std::to_string(std::atoi(relay.OutText.c_str()));
  for (const std::string& proxy : {"socks4://ident@127.0.0.1:" + port, "socks4a://127.0.0.1:" + port}) {
    TTempDir out;
    TRunResult r = Run(&s, {"--proxy", proxy, "--output", out.Path, s.WatchUrl()});
    ASSERT_EQ(r.ExitCode, 0) << proxy << r.Err;
    EXPECT_EQ(ReadFile(out / kClipFile), s.Flv()) << proxy;
  }
  const std::string text = WaitForLog(log, "SOCKS4A CONNECT 127.0.0.1:" + std::to_string(s.CachePort));
  EXPECT_NE(text.find("SOCKS4 CONNECT 127.0.0.1:" + std::to_string(s.Port) + " user=ident"), std::string::npos) << text;
  EXPECT_NE(text.find("SOCKS4 CONNECT 127.0.0.1:" + std::to_string(s.CachePort) + " user=ident"), std::string::npos);
  EXPECT_NE(text.find("SOCKS4A CONNECT 127.0.0.1:" + std::to_string(s.Port) + " user=\n"), std::string::npos) << text;
  EXPECT_NE(text.find("SOCKS4A CONNECT 127.0.0.1:" + std::to_string(s.CachePort) + " user=\n"), std::string::npos);
  relay.Signal(SIGKILL);
}

TEST_F(CliNet, ProxyEnvironmentWithAndWithoutNoProxy) {
  TService s({});
  ASSERT_TRUE(s.Running());
  httptest::Squid squid;
  ASSERT_TRUE(squid.Start("")) << squid.error;
  const std::string viaSquid = "http://127.0.0.1:" + std::to_string(squid.port);
  auto fetch = [&](const TEnvChanges& env, std::vector<std::string> extra = {}) {
    TTempDir out;
    extra.insert(extra.end(), {"--output", out.Path, s.WatchUrl()});
    TRunResult r = Run(&s, extra, env);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadFile(out / kClipFile), s.Flv());
  };

  fetch({{"http_proxy", viaSquid}});
  int lines = Lines(WaitForLog(squid.AccessLog(), "get_video.flv"));
  EXPECT_GE(lines, 3);
  // Upper case works too.
  fetch({{"HTTP_PROXY", viaSquid}});
  const std::string log = WaitForLog(squid.AccessLog(), "");
  EXPECT_GE(Lines(log), lines + 3) << log;
  lines = Lines(log);

  // Bypassed: no_proxy by name or by address, --noproxy, an empty --proxy.
  fetch({{"http_proxy", viaSquid}, {"no_proxy", "example.com, 127.0.0.0/8"}});
  fetch({{"ALL_PROXY", viaSquid}, {"NO_PROXY", "127.0.0.1"}});
  fetch({{"http_proxy", viaSquid}}, {"--noproxy", "*"});
  fetch({{"http_proxy", viaSquid}}, {"--proxy", ""});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(Lines(ReadFile(squid.AccessLog())), lines) << ReadFile(squid.AccessLog());

  // all_proxy takes a SOCKS proxy as well.
  socktest::MicroSocks m;
  ASSERT_TRUE(m.Start()) << m.error;
  fetch({{"all_proxy", "socks5://127.0.0.1:" + std::to_string(m.port)}});
  EXPECT_NE(WaitForLog(m.dir / "stdout.log", "connected to").find("connected to 127.0.0.1:" + std::to_string(s.Port)),
            std::string::npos);

  // A proxy variable that cannot be read is a wrong command line.
  TRunResult bad = Run(&s, {s.WatchUrl()}, {{"http_proxy", "gopher://127.0.0.1:70"}});
  EXPECT_EQ(bad.ExitCode, 2);
  EXPECT_NE(bad.Err.find("http_proxy: unsupported proxy scheme \"gopher\""), std::string::npos) << bad.Err;
}

TEST_F(CliNet, DirectAddressesFromNginx) {
  NginxWithClip site;
  ASSERT_TRUE(site.ok) << site.nginx.error;
  TTempDir out;
  TRunResult r = Run(nullptr, {"--output", out.Path, site.nginx.Url("/clip.flv")});
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  EXPECT_EQ(ReadFile(out / "clip.flv"), site.data);
  EXPECT_NE(r.Out.find("Saved " + out / "clip.flv" + " (200000 bytes)"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find("Get html"), std::string::npos);  // no page to read

  // With a format, converted as in the download-and-convert mode.
  Steps(kConversion);
  TTempDir converted;
  r = Run(nullptr, {"--output", converted.Path, "--format", "7", site.nginx.Url("/clip.flv")});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(ReadFile(converted / "clip.mp3"), "converted");

  // A missing document fails with the server's answer and leaves no file.
  TTempDir none;
  r = Run(nullptr, {"--output", none.Path, site.nginx.Url("/missing.flv")});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("Download failed: 404 Not Found"), std::string::npos) << r.Err;
  EXPECT_FALSE(Exists(none / "missing.flv"));
}

TEST_F(CliNet, ContentDispositionNamesADirectDownload) {
  TService s({"--disposition", "Named: Clip.flv"});
  ASSERT_TRUE(s.Running());
  TTempDir out;
  const std::string url = "http://127.0.0.1:" + std::to_string(s.CachePort) + "/get_video.flv?id=1";
  TRunResult r = Run(&s, {"--output", out.Path, url});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(ReadFile(out / "Named Clip.flv"), s.Flv());  // cleaned like a title
  EXPECT_FALSE(Exists(out / "get_video.flv"));
}

TEST_F(CliNet, ResumeAPartFromNginxWithARange) {
  NginxWithClip site;
  ASSERT_TRUE(site.ok) << site.nginx.error;
  TTempDir out;
  const std::string half = site.data.substr(0, site.data.size() / 2);
  WriteFile(out / "clip.flv.part", half);
  TRunResult r = Run(nullptr, {"--continue", "--output", out.Path, site.nginx.Url("/clip.flv")});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(ReadFile(out / "clip.flv"), site.data);
  EXPECT_FALSE(Exists(out / "clip.flv.part"));
  EXPECT_NE(WaitForLog(site.nginx.RangeLog(), "206").find("206 bytes=100000-"), std::string::npos)
      << ReadFile(site.nginx.RangeLog());

  EXPECT_FALSE(Exists(out / "clip.flv.part.ctl"));  // it goes with the part

  // The part's control file names another version: nginx answers the
  // If-Range with the whole file, which replaces the part's bytes.
  WriteFile(out / "clip.flv.part", std::string(half.size(), 'x'));
  WriteFile(out / "clip.flv.part.ctl", "clipharbor-part 1\nurl " + site.nginx.Url("/clip.flv") +
                                           "\ntotal " + std::to_string(site.data.size()) + "\netag \"stale\"\n");
  std::filesystem::remove(out / "clip.flv");
  r = Run(nullptr, {"--continue", "--output", out.Path, site.nginx.Url("/clip.flv")});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(ReadFile(out / "clip.flv"), site.data);
  EXPECT_NE(r.Err.find("the server sent the whole file; starting again from zero"), std::string::npos) << r.Err;
  EXPECT_FALSE(Exists(out / "clip.flv.part.ctl"));

  // Without --continue the part is started again.
  WriteFile(out / "other.part", "x");
  WriteFile(site.nginx.Www() + "/other", site.data);
  r = Run(nullptr, {"--output", out.Path, site.nginx.Url("/other")});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(ReadFile(out / "other"), site.data);
  EXPECT_NE(WaitForLog(site.nginx.RangeLog(), "200 -").find("200 -"), std::string::npos);
}

TEST_F(CliNet, FailingServersAreRetriedAndResumed) {
  auto rangeAsked = [](const std::string& requests) {
    std::smatch m;
    const std::string::size_type cache = requests.find("\"server\": \"cache\", \"range\": \"bytes=");
    return cache != std::string::npos &&
           std::regex_search(requests.begin() + static_cast<long>(cache), requests.end(), m,
                             std::regex("bytes=([1-9][0-9]*)-")) &&
           std::stol(m[1]) > 0;
  };
  {  // Reset half-way: the retry continues from the bytes already there.
    TService s({"--reset-half-way", "1"});
    ASSERT_TRUE(s.Running());
    TTempDir out;
    TRunResult r = Run(&s, {"--output", out.Path, s.WatchUrl()});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadFile(out / kClipFile), s.Flv());
    EXPECT_NE(r.Err.find("Connection reset by peer (Error #10054); retry 1 of 3 in 1 second"), std::string::npos)
        << r.Err;
    EXPECT_TRUE(rangeAsked(s.Requests())) << s.Requests();
  }
  {  // Busy: Retry-After is honoured.
    TService s({"--busy", "2"});
    ASSERT_TRUE(s.Running());
    TTempDir out;
    TRunResult r = Run(&s, {"--output", out.Path, s.WatchUrl()});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadFile(out / kClipFile), s.Flv());
    EXPECT_NE(r.Err.find("503 Service Unavailable; retry 1 of 3 in 1 second"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("503 Service Unavailable; retry 2 of 3 in 1 second"), std::string::npos) << r.Err;
  }
  {  // A stall runs into --timeout; the retry continues.
    TService s({"--stall", "1"});
    ASSERT_TRUE(s.Running());
    TTempDir out;
    TRunResult r = Run(&s, {"--timeout", "1", "--output", out.Path, s.WatchUrl()});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadFile(out / kClipFile), s.Flv());
    EXPECT_NE(r.Err.find("Timed out: nothing received for 1 second; retry 1 of 3 in 1 second"), std::string::npos)
        << r.Err;
    EXPECT_TRUE(rangeAsked(s.Requests())) << s.Requests();
  }
  {  // A server that ignores the range: the file starts again from zero.
    TService s({"--reset-half-way", "1", "--ignore-range"});
    ASSERT_TRUE(s.Running());
    TTempDir out;
    TRunResult r = Run(&s, {"--output", out.Path, s.WatchUrl()});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadFile(out / kClipFile), s.Flv());
    EXPECT_NE(r.Err.find("the server sent the whole file; starting again from zero"), std::string::npos) << r.Err;
  }
  {  // Stalled for good: the time limit is the failure's reason.
    TService s({"--stall", "9"});
    ASSERT_TRUE(s.Running());
    TTempDir out;
    const auto start = std::chrono::steady_clock::now();
    TRunResult r = Run(&s, {"--timeout", "1", "--retries", "1", "--output", out.Path, s.WatchUrl()});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_NE(r.Err.find("Timed out: nothing received for 1 second"), std::string::npos) << r.Err;
    EXPECT_FALSE(Exists(out / kClipFile));
  }
}

// get_video's chain of relocations is followed up to five hops, and the
// sixth fails saying so, with no file left under the final name.
TEST_F(CliNet, RelocationChainUpToTheLimit) {
  {
    TService s({"--redirects", "5", "--redirect-status", "302"});
    ASSERT_TRUE(s.Running());
    TTempDir out;
    TRunResult r = Run(&s, {"--output", out.Path, s.WatchUrl()});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadFile(out / kClipFile), s.Flv());
  }
  {
    TService s({"--redirects", "6", "--redirect-status", "302"});
    ASSERT_TRUE(s.Running());
    TTempDir out;
    TRunResult r = Run(&s, {"--output", out.Path, s.WatchUrl()});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("Download failed: too many relocations (5)"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Err.find("retry"), std::string::npos) << r.Err;
    EXPECT_FALSE(Exists(out / kClipFile));
  }
}

TEST_F(CliNet, ConnectionAndPageTimeLimits) {
  // A SOCKS proxy that takes the connection and never answers.
  httptest::ScriptedServer silent([](httptest::PeerConn& c, int) { c.WaitForClientClose(); });
  const std::string proxy = "socks5://127.0.0.1:" + silent.PortText();
  NginxWithClip site;
  ASSERT_TRUE(site.ok) << site.nginx.error;
  TTempDir out;
  auto start = std::chrono::steady_clock::now();
  TRunResult r = Run(nullptr, {"--proxy", proxy, "--connect-timeout", "1", "--retries", "0", "--output", out.Path,
                               site.nginx.Url("/clip.flv")});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("Timed out: not connected within 1 second"), std::string::npos) << r.Err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  // Without a connection limit the silence limit cuts the stalled
  // negotiation off.
  start = std::chrono::steady_clock::now();
  r = Run(nullptr, {"--proxy", proxy, "--connect-timeout", "0", "--timeout", "1", "--retries", "0", "--output",
                    out.Path, site.nginx.Url("/clip.flv")});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("Download failed: Timed out: nothing received for 1 second during the SOCKS negotiation\n"),
            std::string::npos)
      << r.Err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));

  // The page reads keep the same limit and say why they came back empty.
  TService s({});
  ASSERT_TRUE(s.Running());
  start = std::chrono::steady_clock::now();
  r = Run(&s, {"--proxy", proxy, "--connect-timeout", "0.5", "--output", out.Path, s.WatchUrl()});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("Timed out: not connected within 0.5 seconds"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("Unable get html from " + s.WatchUrl()), std::string::npos) << r.Err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST_F(CliNet, BatchFileWithAFailingJob) {
  TService s({});
  ASSERT_TRUE(s.Running());
  NginxWithClip site;
  ASSERT_TRUE(site.ok) << site.nginx.error;
  const std::string list = "# my list\n\n" + s.WatchUrl() + "\n   " + site.nginx.Url("/missing.flv") + "  \r\n" +
                           site.nginx.Url("/clip.flv") + "\n";
  WriteFile(Dir / "list.txt", list);
  for (const bool fromStdin : {false, true}) {
    TTempDir out;
    TRunResult r = fromStdin ? Run(&s, {"-a", "-", "--output", out.Path}, {}, list)
                             : Run(&s, {"--batch-file", Dir / "list.txt", "--output", out.Path});
    EXPECT_EQ(r.ExitCode, 1) << r.Out << r.Err;
    EXPECT_NE(r.Out.find("2 succeeded, 1 failed"), std::string::npos) << r.Out;
    EXPECT_EQ(ReadFile(out / kClipFile), s.Flv());
    EXPECT_EQ(ReadFile(out / "clip.flv"), site.data);  // the job after the failure ran
  }
}

TEST_F(CliNet, ExitStatuses) {
  NginxWithClip site;
  ASSERT_TRUE(site.ok) << site.nginx.error;
  TTempDir out;
  // 2: a wrong command line, a batch file that cannot be read.
  TRunResult r = Run(nullptr, {"--limit-rate", "fast", site.nginx.Url("/clip.flv")});
  EXPECT_EQ(r.ExitCode, 2);
  EXPECT_NE(r.Err.find("--limit-rate"), std::string::npos);
  r = Run(nullptr, {"-a", Dir / "absent.txt"});
  EXPECT_EQ(r.ExitCode, 2);
  EXPECT_NE(r.Err.find("cannot read the batch file " + Dir / "absent.txt" + ": No such file or directory"),
            std::string::npos)
      << r.Err;
  // 4: an output folder that cannot be made.
  WriteFile(Dir / "plain-file", "x");
  r = Run(nullptr, {"--yes", "--output", Dir / "plain-file/sub", site.nginx.Url("/clip.flv")});
  EXPECT_EQ(r.ExitCode, 4);
  EXPECT_NE(r.Err.find("Cannot create " + Dir / "plain-file/sub"), std::string::npos) << r.Err;
  // 3: a conversion that fails; the worst of several jobs counts.
  Steps(R"([["err", "Unknown encoder 'bogus'\n"], ["exit", 1]])");
  r = Run(nullptr, {"--output", out.Path, "--format", "7", site.nginx.Url("/missing.flv"), site.nginx.Url("/clip.flv")});
  EXPECT_EQ(r.ExitCode, 3) << r.Err;
  EXPECT_NE(r.Out.find("0 succeeded, 2 failed"), std::string::npos) << r.Out;
  // 0 and --quiet: nothing but errors.
  r = Run(nullptr, {"--quiet", "--yes", "--output", out.Path, site.nginx.Url("/clip.flv")});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Err.find("KB"), std::string::npos) << r.Err;
  r = Run(nullptr, {"-q", "--output", out.Path, site.nginx.Url("/missing.flv")});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Out, "");
  EXPECT_NE(r.Err.find("Download failed: 404 Not Found"), std::string::npos);
  // --version.
  r = Run(nullptr, {"--version"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Out, "clipharbor-cli 1.0\n");
  // 130: Ctrl-C in a batch stops it there.
  TService slow({"--rate", "30000"});
  ASSERT_TRUE(slow.Running());
  TChild c({Cli(), "--output", out.Path, slow.WatchUrl(), site.nginx.Url("/clip.flv")}, Env(&slow, {}));
  ASSERT_TRUE(c.ReadUntil([](const std::string& o, const std::string&) { return o.find("KB of") != std::string::npos; },
                          30000))
      << c.OutText << c.ErrText;
  c.Signal(SIGINT);
  r = c.Finish(20000);
  EXPECT_EQ(r.ExitCode, 130) << r.Err;
  EXPECT_NE(r.Err.find("Stopped."), std::string::npos);
  EXPECT_NE(r.Out.find("0 succeeded, 1 failed"), std::string::npos) << r.Out;  // the second job never ran
}

TEST_F(CliNet, LimitRateSlowsTheDownload) {
  NginxWithClip site;
  ASSERT_TRUE(site.ok) << site.nginx.error;
  TTempDir out;
  const auto start = std::chrono::steady_clock::now();
  TRunResult r = Run(nullptr, {"--limit-rate", "50K", "--output", out.Path, site.nginx.Url("/clip.flv")});
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(ReadFile(out / "clip.flv"), site.data);
  // 200000 bytes at 51200 per second: about four seconds.
  EXPECT_GT(seconds, 3.0);
  EXPECT_LT(seconds, 20.0);
}
