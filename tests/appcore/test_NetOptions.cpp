// What a job's network settings do to each request: the route chosen for
// the request's own host, https and its trust, and the bandwidth, measured
// on a real transfer.
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "app/core/NetOptions.h"
#include "http/HttpPeer.h"
#include "support/RateWindow.h"

namespace {

TEnvLookup Env(std::map<std::string, std::string> vars) {
  return [vars](const std::string& name) -> std::optional<std::string> {
    auto it = vars.find(name);
    if (it == vars.end()) return std::nullopt;
    return it->second;
  };
}

}  // namespace

TEST(NetOptions, RoutePerHostAndUnreadableProxy) {
  THttpCli cli;
  TNetOptions o;
  o.Env = Env({{"http_proxy", "http://proxy.test:3128"}, {"no_proxy", "cache.test"}});
  EXPECT_EQ(PrepareRequest(cli, o, "http://video.test/watch?v=1"), "");
  EXPECT_EQ(cli.Proxy, "proxy.test");
  EXPECT_EQ(PrepareRequest(cli, o, "http://a.cache.test/get_video.flv"), "");
  EXPECT_TRUE(cli.Proxy.empty());
  // The design's bandwidth settings stay unless a rate is given.
  EXPECT_FALSE(cli.GetOptions().Contains(httpoBandwidthControl));
  EXPECT_EQ(cli.BandwidthLimit, 10000);
  // https stays off by default (the window); a job that speaks it gives its
  // trust to every request.
  EXPECT_FALSE(cli.HttpsEnabled);
  o.Https = true;
  o.Trust = {"/etc/ca.pem", false};
  EXPECT_EQ(PrepareRequest(cli, o, "https://a.cache.test/get_video.flv"), "");
  EXPECT_TRUE(cli.HttpsEnabled);
  EXPECT_TRUE(cli.SslTrust == o.Trust);

  o.Env = Env({{"all_proxy", "socks9://x:1"}});
  EXPECT_EQ(PrepareRequest(cli, o, "http://video.test/"),
            "all_proxy: unsupported proxy scheme \"socks9\" (http, socks4, socks4a, socks5 or socks5h)");
  EXPECT_TRUE(cli.Proxy.empty());
  EXPECT_TRUE(cli.SocksServer.empty());
}

TEST(NetOptions, RateLimitSlowsTheTransfer) {
  const std::string body(60000, 'r');
  httptest::ScriptedServer server([&](httptest::PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    c.Send("HTTP/1.0 200 OK\r\nContent-Length: 60000\r\n\r\n" + body);
    c.WaitForClientClose();
  });
  THttpCli cli;
  TNetOptions o;
  o.Env = Env({});
  o.RateLimit = 30 * 1024;
  plat::TMemoryStream data;
  cli.ReceiveStream = &data;
  cli.URL = server.Url("/limited");
  EXPECT_EQ(PrepareRequest(cli, o, cli.URL), "");
  EXPECT_TRUE(cli.GetOptions().Contains(httpoBandwidthControl));
  TRateWindow reads;
  cli.OnDocData = [&reads](THttpCli*, const void*, int len) { reads.Read(len); };
  const auto start = std::chrono::steady_clock::now();
  cli.Get();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(data.DataString(), body);
  // 60000 bytes at 30 KiB/s: close to two seconds, never much less.
  EXPECT_GT(seconds, 1.4);
  EXPECT_LT(seconds, 6.0);
  // Smooth: no second gets more than a tenth above the limit.
  EXPECT_LE(reads.Most(1000), 30 * 1024 * 110 / 100);
}
