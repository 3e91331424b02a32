// One rate limit for several clients: the token bucket alone (no sockets),
// greedy and idle readers drawing on it over simulated seconds, and two
// clients on loopback sharing one budget, their reads timed.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>

#include "http/HttpPeer.h"
#include "net/http/HttpProt.h"
#include "net/http/HttpRateBudget.h"
#include "platform/Stream.h"
#include "support/RateWindow.h"

using httptest::PeerConn;
using httptest::ScriptedServer;

TEST(HttpRateBudget, HoldsATwentiethOfASecondFillsAtTheRateAndOwesWhatWasOverdrawn) {
  THttpRateBudget b(20000, 1000);
  EXPECT_EQ(b.Burst(), 1000);
  EXPECT_EQ(b.Available(1000), 1000);
  b.Take(1000, 1000);
  EXPECT_EQ(b.Available(1000), 0);
  EXPECT_EQ(b.Available(1010), 200);
  EXPECT_EQ(b.Available(1005), 200) << "an older clock reading adds nothing";
  EXPECT_EQ(b.Available(60000), 1000) << "an idle minute still holds one burst";
  // A read larger than what was held is paid back before the next.
  b.Take(3000, 60000);
  EXPECT_EQ(b.WaitMs(500, 60000), 125u);  // 2000 owed and 500 more at 20 bytes/ms
  EXPECT_EQ(b.Available(60099), 0);
  EXPECT_EQ(b.Available(60125), 500);
  EXPECT_EQ(b.WaitMs(500, 60125), 0u);
  EXPECT_EQ(b.WaitMs(1 << 30, 60125), 25u) << "never waits for more than a burst";
  // The tick count wraps.
  THttpRateBudget w(20000, 0xFFFFFFF0u);
  w.Take(1000, 0xFFFFFFF0u);
  EXPECT_EQ(w.Available(0x10u), 640);
}

TEST(HttpRateBudget, GreedyAndIdleReadersTogetherGetTheLimitAndNeverMoreInAnySecond) {
  // Ten simulated seconds, four readers taking what they may each
  // millisecond in sizes of their own; two stand idle in the middle ones.
  const std::int64_t rate = 300000;
  THttpRateBudget b(rate, 0);
  std::vector<std::int64_t> perMs(10000, 0);
  std::srand(7);
  for (std::uint32_t ms = 0; ms < perMs.size(); ++ms) {
    for (int reader = 0; reader < 4; ++reader) {
      if (reader >= 2 && ms >= 3000 && ms < 7000) continue;
      const std::int64_t want = 1 + std::rand() % 20000;
      const std::int64_t got = std::min(want, b.Available(ms));
      if (got <= 0) continue;
      b.Take(got, ms);
      perMs[ms] += got;
    }
  }
  std::int64_t window = 0, most = 0, total = 0;
  for (std::size_t ms = 0; ms < perMs.size(); ++ms) {
    window += perMs[ms];
    if (ms >= 1000) window -= perMs[ms - 1000];
    most = std::max(most, window);
    total += perMs[ms];
  }
  EXPECT_LE(most, rate * 105 / 100);
  EXPECT_GE(total, rate * 10 * 99 / 100);
}

namespace {

ScriptedServer::Script Sends(const std::string& body) {
  return [body](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    c.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    c.WaitForClientClose();
  };
}

}  // namespace

TEST(HttpRateBudget, ClientsSharingOneBudgetStayWithinItInEverySecondAndReachIt) {
  const std::int64_t rate = 100000;
  const std::array<std::string, 2> bodies{std::string(120000, 'a'), std::string(120000, 'b')};
  ScriptedServer one(Sends(bodies[0]));
  ScriptedServer two(Sends(bodies[1]));
  auto budget = std::make_shared<THttpRateBudget>(rate, plat::GetTickCount());
  TRateWindow reads;
  std::array<THttpCli, 2> clients;
  std::array<plat::TMemoryStream, 2> data;
  int done = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 2; ++i) {
    THttpCli& c = clients[i];
    c.RateBudget = budget;
    c.ReceiveStream = &data[i];
    c.URL = (i == 0 ? one : two).Url("/shared");
    c.OnDocData = [&reads](THttpCli*, const void*, int len) { reads.Read(len); };
    c.OnRequestDone = [&done](THttpCli*, THttpRequest, std::uint16_t) { ++done; };
    c.GetASync();
  }
  ASSERT_TRUE(httptest::PumpUntil([&] { return done == 2; }, 30000));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (int i = 0; i < 2; ++i) EXPECT_EQ(data[i].DataString(), bodies[i]);
  EXPECT_EQ(reads.Count(), 240000);
  EXPECT_LE(reads.Most(1000), rate * 110 / 100);
  // Both draw on the one budget: 240 KB at 100 KB/s, never much faster.
  EXPECT_GT(seconds, 2.0);
  // And they use it: most seconds get most of it (loose, for a busy machine).
  EXPECT_GE(reads.Median(1000), rate * 60 / 100);
}
