// clipharbor-cli with a watch page whose get_video relocates to an https
// cache host (nginx with a throw-away certificate authority): refused with
// the certificate's reason by the system's store, accepted with --cacert and
// with --insecure / -k (which warn).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/CliFixture.h"
#include "http/TlsPeers.h"

using namespace e2e;

namespace {

class CliTlsTest : public CliTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(certs.Make()) << certs.error;
    ASSERT_TRUE(nginx.Start(certs)) << nginx.error;
  }
  httptest::TestCertificates certs;
  httptest::TlsNginx nginx;
};

const std::string kFile = "Sample Clip.flv";
const char* kWarning = "clipharbor-cli: warning: --insecure: the certificates and names of https servers are not checked";

}  // namespace

TEST_F(CliTlsTest, GetVideoRelocatedToHttps) {
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
  EXPECT_FALSE(Exists(Out(kFile)));
  EXPECT_EQ(refused.Err.find(kWarning), std::string::npos);

  const std::vector<std::vector<std::string>> accepted = {
      {"--cacert", certs.CaFile()}, {"--insecure"}, {"-k"}};
  for (std::vector<std::string> args : accepted) {
    std::remove(Out(kFile).c_str());
    args.insert(args.end(), {"--yes", "--output", Out_.Path, s.WatchUrl()});
    TRunResult r = RunCli(s, args);
    ASSERT_EQ(r.ExitCode, 0) << args[0] << r.Out << r.Err;
    EXPECT_EQ(ReadFile(Out(kFile)), flv) << args[0];
    EXPECT_EQ(r.Err.find(kWarning) != std::string::npos, args[0] != "--cacert") << args[0] << r.Err;
  }
  // Only the accepted runs reached the server (nginx logs a little after).
  auto lines = httptest::LogLines(nginx.AccessLog());
  for (int i = 0; i < 100 && lines.size() < accepted.size(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    lines = httptest::LogLines(nginx.AccessLog());
  }
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
