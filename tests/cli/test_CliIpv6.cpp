// clipharbor-cli with IPv6, in namespaces of the test's own (nothing leaves
// the machine): a name with only an IPv6 address, -4 and -6, a name whose
// IPv6 address is a black hole beside a working IPv4 one, squid, danted and
// microsocks reaching an IPv6 origin, and SOCKS proxies that resolve names
// only they know.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "cli/E2eSupport.h"
#include "http/ExternalPeers.h"
#include "socket/SocksPeers.h"
#include "support/Ipv6Namespace.h"

using namespace e2e;

namespace {

constexpr int kOriginPort = 18080;


std::string Ipv6Payload() {
  std::string d;
  for (int i = 0; i < 150000; ++i) d += static_cast<char>((i * 7 + i / 509) & 0xFF);
  return d;
}

std::vector<std::string> CleanEnv() {
  std::map<std::string, std::optional<std::string>> env;
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
    env[name] = std::nullopt;
  return Environment(env);
}

TRunResult RunCli(std::vector<std::string> args) {
  args.insert(args.begin(), Cli());
  return RunProcess(args, CleanEnv(), "", 60000);
}

std::string Url(const std::string& host) { return "http://" + host + ":" + std::to_string(kOriginPort) + "/clip.bin"; }

}  // namespace

TEST(CliIpv6, NamesFamiliesBlackHoleAndSocksPeers) {
  if (!netns::InIpv6Namespace("127.0.0.1 localhost\n"
                              "fd00:beef::1 v6only.test\n"
                              "fd00:bad::2 dual.test\n"
                              "127.0.0.1 dual.test\n"))
    return;
  TTempDir www;
  const std::string data = Ipv6Payload();
  WriteFile(www / "clip.bin", data);
  // One server for both families ("::" takes IPv4 too).
  socktest::ChildProcess origin;
  ASSERT_TRUE(origin.Start({"/usr/bin/env", "python3", "-m", "http.server", std::to_string(kOriginPort), "--bind",
                            "::", "--directory", www.Path},
                           www / "origin.log"));
  ASSERT_TRUE(peer::WaitForPort(origin, kOriginPort)) << ReadFile(www / "origin.log");

  {  // a name with only an IPv6 address, as is and with -6; -4 says why it fails
    for (const std::vector<std::string>& extra : {std::vector<std::string>{}, {"-6"}}) {
      TTempDir out;
      std::vector<std::string> args = extra;
      args.insert(args.end(), {"--output", out.Path, Url("v6only.test")});
      TRunResult r = RunCli(args);
      ASSERT_EQ(r.ExitCode, 0) << r.Err;
      EXPECT_EQ(ReadFile(out / "clip.bin"), data);
    }
    TTempDir out;
    TRunResult r = RunCli({"-4", "--output", out.Path, Url("v6only.test")});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("can't resolve hostname to IPv4 address"), std::string::npos) << r.Err;
    EXPECT_FALSE(Exists(out / "clip.bin"));
  }
  {  // a literal in brackets, and -4 against it
    TTempDir out;
    TRunResult r = RunCli({"--output", out.Path, Url("[::1]")});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadFile(out / "clip.bin"), data);
    r = RunCli({"-4", "--output", out.Path, "--yes", Url("[::1]")});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("can't resolve hostname to IPv4 address"), std::string::npos) << r.Err;
  }
  {  // the black-holed IPv6 address does not hold up the working IPv4 one
    TTempDir out;
    const auto start = std::chrono::steady_clock::now();
    TRunResult r = RunCli({"--output", out.Path, Url("dual.test")});
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadFile(out / "clip.bin"), data);
    std::printf("timing: clipharbor-cli whole run to dual.test (black-holed IPv6 first): %lld ms\n",
                static_cast<long long>(ms));
    // The neighbour lookup of the black hole alone takes seconds.
    EXPECT_LT(ms, 2500);
    // -6 has nothing but the black hole: the connect time-out ends it.
    r = RunCli({"-6", "--connect-timeout", "1", "--retries", "0", "--output", out.Path, "--yes", Url("dual.test")});
    EXPECT_EQ(r.ExitCode, 1) << r.Err;
  }
  {  // microsocks: socks5 resolves here and sends the IPv6 address as such;
     // socks5h leaves a name to the proxy, which alone knows it
    TTempDir hosts;
    WriteFile(hosts / "hosts", "127.0.0.1 localhost\nfd00:beef::1 proxyonly.test\n");
    socktest::ChildProcess socks;
    const int socksPort = 11080;
    ASSERT_TRUE(socks.Start({"/usr/bin/unshare", "-m", "sh", "-c",
                             "mount --bind '" + hosts / "hosts" +
                                 "' /etc/hosts && exec /usr/bin/microsocks -i "
                                 "127.0.0.1 -p " +
                                 std::to_string(socksPort)},
                            hosts / "socks.log"));
    ASSERT_TRUE(peer::WaitForPort(socks, socksPort)) << ReadFile(hosts / "socks.log");
    const std::string proxy = "127.0.0.1:" + std::to_string(socksPort);
    TTempDir out;
    TRunResult r = RunCli({"--proxy", "socks5://" + proxy, "--output", out.Path, Url("v6only.test")});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadFile(out / "clip.bin"), data);
    r = RunCli({"--proxy", "socks5h://" + proxy, "--output", out.Path, "--yes", Url("proxyonly.test")});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadFile(out / "clip.bin"), data);
    // Resolving it here fails: the name is the proxy's alone.
    r = RunCli({"--proxy", "socks5://" + proxy, "--output", out.Path, "--yes", Url("proxyonly.test")});
    EXPECT_EQ(r.ExitCode, 1) << r.Err;
    const std::string log = WaitForLog(hosts / "socks.log", "proxyonly.test");
    EXPECT_NE(log.find("connected to proxyonly.test:" + std::to_string(kOriginPort)), std::string::npos) << log;
    EXPECT_NE(log.find(std::string("connected to ") + netns::kOwnIpv6), std::string::npos) << log;
  }
  if (socktest::Executable("/usr/sbin/danted")) {  // danted reaching the IPv6 origin
    TTempDir d;
    const int dantePort = 11081;
    WriteFile(d / "danted.conf",
              "logoutput: " + d / "danted.log" +
                  "\n"
                  "internal: 127.0.0.1 port = " +
                  std::to_string(dantePort) +
                  "\n"
                  "external: lo\nclientmethod: none\nsocksmethod: none\n"
                  "user.privileged: root\nuser.unprivileged: nobody\n"
                  "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
                  "socks pass {\n  from: 127.0.0.0/8 to: ::/0\n  command: connect\n  log: connect error\n}\n");
    socktest::ChildProcess dante;
    ASSERT_TRUE(dante.Start({"/usr/sbin/danted", "-f", d / "danted.conf", "-p", d / "danted.pid", "-N", "1"},
                            d / "stdout.log"));
    ASSERT_TRUE(peer::WaitForPort(dante, dantePort)) << ReadFile(d / "stdout.log");
    TTempDir out;
    TRunResult r = RunCli(
        {"--proxy", "socks5://127.0.0.1:" + std::to_string(dantePort), "--output", out.Path, Url("v6only.test")});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadFile(out / "clip.bin"), data);
    const std::string log = WaitForLog(d / "danted.log", std::string("-> ") + netns::kOwnIpv6);
    EXPECT_NE(log.find(std::string(netns::kOwnIpv6) + "." + std::to_string(kOriginPort)), std::string::npos) << log;
  }
  {  // squid reaching the IPv6 origin
    httptest::Squid squid;
    ASSERT_TRUE(squid.Start("none")) << squid.error;
    TTempDir out;
    TRunResult r =
        RunCli({"--proxy", "http://127.0.0.1:" + std::to_string(squid.port), "--output", out.Path, Url("v6only.test")});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadFile(out / "clip.bin"), data);
    const std::string log = WaitForLog(squid.AccessLog(), std::string("/") + netns::kOwnIpv6);
    EXPECT_NE(log.find("HIER_DIRECT/" + std::string(netns::kOwnIpv6)), std::string::npos) << log;
  }
  {  // the SOCKS 4A relay resolves the name itself; SOCKS 4 cannot carry IPv6
    TTempDir hosts;
    WriteFile(hosts / "hosts", "127.0.0.1 localhost proxyonly4.test\n");
    const std::string log = hosts / "relay.log";
    TChild relay({"/usr/bin/unshare", "-m", "sh", "-c",
                  "mount --bind '" + hosts / "hosts" + "' /etc/hosts && exec python3 '" + SourceDir() +
                      "/tests/cli/socks4_relay.py' '" + log + "'"},
                 Environment({}));
    ASSERT_TRUE(relay.ReadUntil(
        [](const std::string& o, const std::string&) { return o.find('\n') != std::string::npos; }, 10000));
    const std::string port = std::to_string(std::atoi(relay.OutText.c_str()));
    TTempDir out;
    TRunResult r = RunCli({"--proxy", "socks4a://127.0.0.1:" + port, "--output", out.Path, Url("proxyonly4.test")});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadFile(out / "clip.bin"), data);
    const std::string text = WaitForLog(log, "SOCKS4A CONNECT proxyonly4.test:" + std::to_string(kOriginPort));
    EXPECT_NE(text.find("SOCKS4A CONNECT proxyonly4.test:" + std::to_string(kOriginPort)), std::string::npos) << text;
    r = RunCli({"--proxy", "socks4a://127.0.0.1:" + port, "--output", out.Path, "--yes", Url("[::1]")});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("socks 4 cannot carry the IPv6 address ::1"), std::string::npos) << r.Err;
    relay.Signal(SIGKILL);
  }
}
