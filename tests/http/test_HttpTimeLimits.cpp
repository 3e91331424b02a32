// The client's time limits against servers that go quiet: silence after the
// header, a SOCKS proxy that never answers, a SOCKS negotiation or TLS
// handshake that stalls without a connect limit, a trickle that keeps a slow
// transfer alive, and the limit measured exactly on a test clock.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "http/HttpPeer.h"
#include "net/http/HttpTimeLimits.h"

using namespace httptest;

namespace {

const std::string kHead = "HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n";

// Runs Get and returns the milliseconds it took.
long long TimedGet(THttpCli& cli) {
  const auto start = std::chrono::steady_clock::now();
  try {
    cli.Get();
  } catch (const EHttpException&) {
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST(HttpTimeLimits, SilenceAfterSomeDataEndsTheRequest) {
  ScriptedServer server([](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    c.Send(kHead + std::string(100, 'x'));
    c.WaitForClientClose();  // then silence
  });
  THttpCli cli;
  cli.URL = server.Url("/stall");
  plat::TMemoryStream body;
  cli.ReceiveStream = &body;
  THttpTimeLimits limits(cli, 2000, 300);
  const long long ms = TimedGet(cli);
  EXPECT_TRUE(limits.Expired());
  EXPECT_FALSE(limits.ConnectExpired());
  EXPECT_EQ(limits.Reason(), "Timed out: nothing received for 0.3 seconds");
  EXPECT_GE(ms, 300);
  EXPECT_LT(ms, 3000);
  EXPECT_EQ(body.GetSize(), 100);
  EXPECT_EQ(cli.State(), httpReady);
  EXPECT_NE(cli.StatusCode(), 200);  // aborted: no success
}

TEST(HttpTimeLimits, SocksProxyThatNeverAnswersIsAConnectTimeout) {
  ScriptedServer proxy([](PeerConn& c, int) { c.WaitForClientClose(); });
  THttpCli cli;
  cli.URL = "http://127.0.0.1:9/x";
  cli.SocksServer = "127.0.0.1";
  cli.SocksPort = proxy.PortText();
  THttpTimeLimits limits(cli, 400, 5000);
  const long long ms = TimedGet(cli);
  EXPECT_TRUE(limits.ConnectExpired());
  EXPECT_EQ(limits.Reason(), "Timed out: not connected within 0.4 seconds");
  EXPECT_LT(ms, 4000);
  // Rearmed, the limits watch the next request afresh.
  limits.Rearm();
  EXPECT_FALSE(limits.Expired());
  EXPECT_TRUE(limits.Reason().empty());
}

TEST(HttpTimeLimits, StalledHandshakesRunIntoTheSilenceLimitWithoutAConnectLimit) {
  // Accepts, reads what comes and never answers.
  ScriptedServer silent([](PeerConn& c, int) { c.WaitForClientClose(); });
  struct TCase {
    const char* stage;
    std::function<void(THttpCli&)> route;
  } cases[] = {
      {" during the SOCKS negotiation",
       [&](THttpCli& cli) {
         cli.URL = "http://127.0.0.1:9/x";
         cli.SocksServer = "127.0.0.1";
         cli.SocksPort = silent.PortText();
       }},
      {" during the TLS handshake",
       [&](THttpCli& cli) {
         cli.URL = "https://127.0.0.1:" + silent.PortText() + "/x";
         cli.HttpsEnabled = true;
         cli.SslTrust.VerifyPeer = false;
       }},
  };
  for (const TCase& c : cases) {
    THttpCli cli;
    c.route(cli);
    THttpTimeLimits limits(cli, 0, 300);
    const long long ms = TimedGet(cli);
    EXPECT_TRUE(limits.Expired()) << c.stage;
    EXPECT_FALSE(limits.ConnectExpired()) << c.stage;
    EXPECT_EQ(limits.Reason(), std::string("Timed out: nothing received for 0.3 seconds") + c.stage);
    EXPECT_GE(ms, 300) << c.stage;
    EXPECT_LT(ms, 4000) << c.stage;  // the peer itself gives up after 5 s
    EXPECT_EQ(cli.State(), httpReady);
    EXPECT_NE(cli.StatusCode(), 200);
  }
}

TEST(HttpTimeLimits, ATrickleKeepsASlowTransferAlive) {
  ScriptedServer server([](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    c.Send(kHead);
    for (int i = 0; i < 10; ++i) c.SendSlowly(std::string(100, 'y'), 120);
    c.WaitForClientClose();
  });
  THttpCli cli;
  cli.URL = server.Url("/slow");
  plat::TMemoryStream body;
  cli.ReceiveStream = &body;
  THttpTimeLimits limits(cli, 2000, 400);  // the whole transfer takes three times the limit
  TimedGet(cli);
  EXPECT_FALSE(limits.Expired()) << limits.Reason();
  EXPECT_EQ(cli.StatusCode(), 200);
  EXPECT_EQ(body.GetSize(), 1000);
}

TEST(HttpTimeLimits, LimitRunsOutExactlyOnTheClock) {
  ScriptedServer server([](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    c.WaitForClientClose();  // connected, never answers
  });
  std::uint32_t now = 0xFFFFFF00u;  // across the wrap of the tick count
  THttpCli cli;
  cli.URL = server.Url("/quiet");
  THttpTimeLimits limits(cli, 0, 60000, [&] { return now; });
  cli.GetASync();
  ASSERT_TRUE(PumpUntil([&] { return cli.State() == httpWaitingHeader; }));
  limits.Check();
  now += 59999;
  limits.Check();
  EXPECT_FALSE(limits.Expired());
  EXPECT_EQ(cli.State(), httpWaitingHeader);
  now += 1;
  limits.Check();
  EXPECT_TRUE(limits.Expired());
  EXPECT_EQ(limits.Reason(), "Timed out: nothing received for 60 seconds");
  EXPECT_EQ(cli.State(), httpReady);
  EXPECT_EQ(SecondsText(1000), "1 second");
  EXPECT_EQ(SecondsText(1250), "1.25 seconds");
}
