// clipharbor-cli over https against nginx with a throw-away certificate
// authority: a watch page whose get_video relocates to https (refused by the
// system's store with the certificate's reason, accepted with --cacert and
// with --insecure / -k, which warn); direct https addresses named by the
// answer, retried and continued with a range; https through squid's CONNECT
// and danted's SOCKS 5, each proven by the peer's log.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include <regex>

#include "cli/CliFixture.h"
#include "http/TlsPeers.h"

using namespace e2e;

namespace {

class CliTlsTest : public CliTest {
 protected:
  void SetUp() override { ASSERT_TRUE(certs.Make()) << certs.error; }
  // The program trusting the test authority.
  TRunResult RunTrusting(const TService& s, std::vector<std::string> args) {
    args.insert(args.begin(), {"--cacert", certs.CaFile(), "--yes", "--output", Out_.Path});
    return RunCli(s, args);
  }
  httptest::TestCertificates certs;
  httptest::TlsNginx nginx;
};

const char* kWarning = "clipharbor-cli: warning: --insecure: the certificates and names of https servers are not checked";

}  // namespace

// The log's lines once it has `n` of them (nginx logs a little after the
// answer), or after 5 seconds.
std::vector<std::string> WaitForLines(const std::string& path, std::size_t n) {
  auto lines = httptest::LogLines(path);
  for (int i = 0; i < 100 && lines.size() < n; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    lines = httptest::LogLines(path);
  }
  return lines;
}

TEST_F(CliTlsTest, GetVideoRelocatedToHttps) {
  ASSERT_TRUE(nginx.Start(certs)) << nginx.error;
  TService s({"--cache-scheme", "https", "--cache-host", "localhost", "--cache-redirect-port",
              std::to_string(nginx.tlsPort)});
  ASSERT_TRUE(s.Running());
  const std::string flv = s.Flv();
  ASSERT_GT(flv.size(), 10000u);
  httptest::WriteFile(nginx.Www() + "/get_video.flv", flv);

  TRunResult refused = RunCli(s, {"--output", Out_.Path, s.WatchUrl()});
  EXPECT_EQ(refused.ExitCode, 1);
  EXPECT_NE(refused.Err.find("TLS with localhost failed: certificate verify failed: self-signed certificate in "
                             "certificate chain"),
            std::string::npos)
      << refused.Err;
  EXPECT_FALSE(Exists(Out(kClipFile)));
  EXPECT_EQ(refused.Err.find(kWarning), std::string::npos);

  const std::vector<std::vector<std::string>> accepted = {
      {"--cacert", certs.CaFile()}, {"--insecure"}, {"-k"}};
  for (std::vector<std::string> args : accepted) {
    std::remove(Out(kClipFile).c_str());
    args.insert(args.end(), {"--yes", "--output", Out_.Path, s.WatchUrl()});
    TRunResult r = RunCli(s, args);
    ASSERT_EQ(r.ExitCode, 0) << args[0] << r.Out << r.Err;
    EXPECT_EQ(ReadFile(Out(kClipFile)), flv) << args[0];
    EXPECT_EQ(r.Err.find(kWarning) != std::string::npos, args[0] != "--cacert") << args[0] << r.Err;
  }
  // Only the accepted runs reached the server.
  const auto lines = WaitForLines(nginx.AccessLog(), accepted.size());
  EXPECT_EQ(lines.size(), accepted.size());
  for (const auto& l : lines) EXPECT_NE(l.find(" GET /get_video.flv?id="), std::string::npos) << l;
}

TEST(CliTlsOptions, CacertNeedsAReadableFile) {
  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
           {"--cacert"}, {"--cacert", "/nonexistent/ca.pem", "http://x/watch?v=y"}}) {
    bad.insert(bad.begin(), Cli());
    TRunResult r = RunProcess(bad, Environment({}));
    EXPECT_EQ(r.ExitCode, 2) << bad.size();
    EXPECT_NE(r.Err.find("--cacert"), std::string::npos) << r.Err;
  }
}

// nginx ends TLS in front of the service's cache server, which names the
// file and resets the first transfer half-way; the retry asks for the rest.
// A ".part" of a static file is continued with a range.
TEST_F(CliTlsTest, DirectHttpsAddressNamedRetriedAndContinued) {
  TService s({"--disposition", "Named: Clip.flv", "--reset-half-way", "1"});
  ASSERT_TRUE(s.Running());
  ASSERT_TRUE(nginx.Start(certs, "    location /cache/ { proxy_pass http://127.0.0.1:" + std::to_string(s.CachePort) +
                                     "/; proxy_buffering off; }\n"))
      << nginx.error;
  TRunResult r = RunTrusting(s, {nginx.Https("/cache/get_video.flv?id=1")});
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  EXPECT_EQ(ReadFile(Out("Named Clip.flv")), s.Flv());
  EXPECT_NE(r.Err.find("retry 1 of 3"), std::string::npos) << r.Err;
  std::smatch m;
  const std::string requests = s.Requests();
  ASSERT_TRUE(std::regex_search(requests, m, std::regex("\"range\": \"bytes=([0-9]+)-\""))) << requests;
  EXPECT_GT(std::stol(m[1]), 0);

  std::string data = s.Flv();
  data += data;  // larger than one TLS record, not a multiple of one
  httptest::WriteFile(nginx.Www() + "/clip.flv", data);
  httptest::WriteFile(Out("clip.flv.part"), data.substr(0, 70001));
  r = RunTrusting(s, {"--continue", nginx.Https("/clip.flv")});
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  EXPECT_EQ(ReadFile(Out("clip.flv")), data);
  EXPECT_FALSE(Exists(Out("clip.flv.part")));
  EXPECT_NE(WaitForLog(nginx.dir / "ranges.log", "206").find("206 bytes=70001-"), std::string::npos)
      << ReadFile(nginx.dir / "ranges.log");
}

TEST_F(CliTlsTest, DirectHttpsThroughSquidAndDanted) {
  ASSERT_TRUE(nginx.Start(certs)) << nginx.error;
  const std::string data = httptest::Pattern(300000);
  httptest::WriteFile(nginx.Www() + "/clip.flv", data);
  TService s({});  // the program's environment only; not asked
  const std::string target = "localhost:" + std::to_string(nginx.tlsPort);
  for (const char* auth : {"", "basic"}) {
    httptest::Squid squid;
    ASSERT_TRUE(squid.Start(auth, "puser", "p@ss")) << squid.error;
    const std::string user = *auth ? "puser:p%40ss@" : "";
    TRunResult r = RunTrusting(s, {"--proxy", "http://" + user + "127.0.0.1:" + std::to_string(squid.port),
                                   nginx.Https("/clip.flv")});
    ASSERT_EQ(r.ExitCode, 0) << auth << r.Out << r.Err;
    EXPECT_EQ(ReadFile(Out("clip.flv")), data) << auth;
    const std::string want = "CONNECT " + target + (*auth ? " puser" : " -");
    EXPECT_NE(WaitForLog(squid.AccessLog(), want).find(want), std::string::npos) << ReadFile(squid.AccessLog());
  }
  httptest::Dante dante;
  ASSERT_TRUE(dante.Start()) << dante.error;
  TRunResult r =
      RunTrusting(s, {"--proxy", "socks5://127.0.0.1:" + std::to_string(dante.port), nginx.Https("/clip.flv")});
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  EXPECT_EQ(ReadFile(Out("clip.flv")), data);
  const std::string want = "127.0.0.1." + std::to_string(nginx.tlsPort);
  EXPECT_NE(WaitForLog(dante.Log(), want).find(want), std::string::npos) << ReadFile(dante.Log());
  // Three tunnels, three requests at the server.
  EXPECT_EQ(WaitForLines(nginx.AccessLog(), 3).size(), 3u) << ReadFile(nginx.AccessLog());
}

// OpenSSL is loaded by the first TLS connection; where it cannot be, the
// download fails and says so. A private mount namespace hides libssl from
// the program alone (needs root, as the network namespace tests do).
TEST_F(CliTlsTest, MissingOpenSslFailsWithAClearText) {
  TRunResult probe = RunProcess({"sh", "-c", "ldconfig -p | sed -n 's/.*libssl.so.3 .*=> //p' | head -1"},
                                Environment({}));
  std::string lib = probe.Out.substr(0, probe.Out.find('\n'));
  if (lib.empty() || RunProcess({"unshare", "-m", "true"}, Environment({})).ExitCode != 0)
    GTEST_SKIP() << "no libssl.so.3 to hide, or no mount namespace here";
  ASSERT_TRUE(nginx.Start(certs)) << nginx.error;
  httptest::WriteFile(nginx.Www() + "/clip.flv", "data");
  TService s({});
  const std::vector<std::string> hidden = {
      "unshare", "-m", "/bin/sh", "-c", "/bin/mount --bind /dev/null \"$0\" && exec \"$@\"", std::filesystem::canonical(lib),
      Cli(), "--cacert", certs.CaFile(), "--retries", "0", "--output", Out_.Path, nginx.Https("/clip.flv")};
  TRunResult r = RunProcess(hidden, Env(s, {}));
  EXPECT_EQ(r.ExitCode, 1) << r.Out << r.Err;
  EXPECT_NE(r.Err.find("Download failed: TLS with localhost failed: TLS is not available: "), std::string::npos)
      << r.Err;
  EXPECT_FALSE(Exists(Out("clip.flv")));
  // The same program outside the namespace has its library.
  TRunResult ok = RunTrusting(s, {nginx.Https("/clip.flv")});
  EXPECT_EQ(ok.ExitCode, 0) << ok.Err;
  EXPECT_EQ(ReadFile(Out("clip.flv")), "data");
}
