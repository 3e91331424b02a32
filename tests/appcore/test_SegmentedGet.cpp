// A file fetched over several connections against a server that serves
// ranges to many at once: byte-identical around segment boundaries, a cap
// of two connections (503 beyond), a reset in the middle of one range, a
// version that changes half-way, a server that ignores ranges, ranges done
// by an earlier run, one rate limit for all connections, and a connection
// reopened for being too slow. A first stream runs alone for a probe and
// is split only when it is paced (a fast one finishes as one stream); when
// split, it goes on as one of the connections.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>

#include "app/core/ResumableGet.h"
#include "app/core/SegmentedGet.h"
#include "app/core/SplitProbe.h"
#include "appcore/RangeServer.h"
#include "net/http/HttpProt.h"
#include "platform/MessageLoop.h"
#include "platform/Stream.h"
#include "support/RateWindow.h"

namespace {

std::string Document(std::size_t size, int seed = 0) {
  std::string d(size, '\0');
  for (std::size_t i = 0; i < size; ++i) d[i] = static_cast<char>('A' + (i * 7 + i / 26 + seed) % 26);
  return d;
}

struct TSegRun {
  std::string path;
  int fd = -1;
  std::vector<std::string> said;
  std::vector<std::vector<TByteRange>> saves;
  int mostOpenSeen = 0;
  TSegRun() {
    char name[] = "/tmp/clipharbor-seg-XXXXXX";
    fd = ::mkstemp(name);
    path = name;
  }
  ~TSegRun() {
    ::close(fd);
    ::unlink(path.c_str());
  }
  TSegmentedHooks Hooks() {
    TSegmentedHooks h;
    h.Say = [this](const std::string& l) { said.push_back(l); };
    h.Stopped = [] { return false; };
    h.Prepare = [](THttpCli& cli) { cli.SetRequestVer("1.0"); };
    h.SaveDone = [this](const std::vector<TByteRange>& d) {
      saves.push_back(d);
      return std::string();
    };
    h.Progress = [this](std::int64_t, int open) { mostOpenSeen = std::max(mostOpenSeen, open); };
    return h;
  }
  std::string Saved() const {
    std::string s;
    char buf[65536];
    for (off_t at = 0;;) {
      const ssize_t n = ::pread(fd, buf, sizeof buf, at);
      if (n <= 0) break;
      s.append(buf, static_cast<std::size_t>(n));
      at += n;
    }
    return s;
  }
};

TPartIdentity IdentityOf(const TRangeServer& server, const std::string& doc) {
  TPartIdentity id;
  id.Url = server.Url();
  id.Total = static_cast<std::int64_t>(doc.size());
  id.ETag = server.ETag;
  return id;
}

void Small(TSegmentedGet& get, std::int64_t segment) {
  get.SegmentSize = segment;
  get.MinSplit = segment;
  get.MsPerSecond = 20;
  get.IdleTimeoutMs = 5000;
}

}  // namespace

TEST(SegmentedGet, OnlyFilesOfTwoSegmentsServedInRangesAreSplit) {
  const std::vector<std::string> ranges{"HTTP/1.1 200 OK", "Accept-Ranges: bytes", "Content-Length: 2000"};
  for (std::int64_t total : {0, 1, 999, 1000, 1001, 1999})
    EXPECT_FALSE(Segmentable(200, ranges, total, 1000)) << total;
  EXPECT_TRUE(Segmentable(200, ranges, 2000, 1000));
  EXPECT_TRUE(Segmentable(206, {"HTTP/1.1 206 Partial Content"}, 5000, 1000));
  EXPECT_FALSE(Segmentable(200, {"HTTP/1.1 200 OK"}, 5000, 1000));  // no Accept-Ranges
  EXPECT_FALSE(Segmentable(200, {"HTTP/1.1 200 OK", "Accept-Ranges: none"}, 5000, 1000));
  EXPECT_FALSE(Segmentable(200, {"HTTP/1.1 200 OK", "Accept-Ranges: bytes", "Transfer-Encoding: chunked"}, 5000, 1000));
  EXPECT_FALSE(Segmentable(200, {"HTTP/1.1 200 OK", "Accept-Ranges: bytes", "Content-Encoding: gzip"}, 5000, 1000));
  EXPECT_FALSE(Segmentable(416, ranges, 5000, 1000));
}

TEST(SegmentedGet, ByteIdenticalAroundSegmentBoundariesWithClosedRanges) {
  for (std::size_t size : {2000u, 2001u, 2999u, 3000u, 12345u}) {
    const std::string doc = Document(size, static_cast<int>(size));
    TRangeServer server(doc);
    server.Start();
    TSegRun r;
    TSegmentedGet get(r.fd, IdentityOf(server, doc), r.Hooks());
    Small(get, 1000);
    const TSegmentedOutcome out = get.Run(server.Url());
    server.Stop();
    ASSERT_EQ(out.End, seComplete) << size << ": " << out.Failure.Reason;
    EXPECT_EQ(r.Saved(), doc) << size;
    for (const TRangeServer::TRequest& q : server.Requests()) {
      EXPECT_GE(q.First, 0) << q.Head;
      EXPECT_GE(q.Last, q.First) << q.Head;  // closed
      EXPECT_LE(q.Last - q.First + 1, 1000) << q.Head;
      EXPECT_NE(q.Head.find("\r\nIf-Range: \"v1\"\r\n"), std::string::npos) << q.Head;
    }
    EXPECT_EQ(server.BodyBytesSent(), static_cast<long long>(size)) << "no byte fetched twice";
    ASSERT_FALSE(r.saves.empty());
    EXPECT_EQ(r.saves.back(), (std::vector<TByteRange>{{0, static_cast<std::int64_t>(size)}}));
  }
}

TEST(SegmentedGet, WorkIsStolenAndTheConnectionsRunAtOnce) {
  const std::string doc = Document(64 * 1024);
  TRangeServer server(doc);
  server.PaceMs = 5;
  server.Start();
  TSegRun r;
  TSegmentedGet get(r.fd, IdentityOf(server, doc), r.Hooks());
  Small(get, 0);
  get.MinSplit = 4096;
  get.Connections = 4;
  const TSegmentedOutcome out = get.Run(server.Url());
  server.Stop();
  ASSERT_EQ(out.End, seComplete) << out.Failure.Reason;
  EXPECT_EQ(r.Saved(), doc);
  EXPECT_EQ(out.MostOpen, 4);
  EXPECT_EQ(r.mostOpenSeen, 4);
  EXPECT_GE(server.MostAtOnce(), 2);
  // Connections that start together ask for equal shares: none asks for
  // everything only to be cut short once the others split its range.
  const auto requests = server.Requests();
  ASSERT_GE(requests.size(), 4u);
  std::vector<std::pair<long long, long long>> first;
  for (std::size_t i = 0; i < 4; ++i) first.emplace_back(requests[i].First, requests[i].Last);
  std::sort(first.begin(), first.end());
  EXPECT_EQ(first, (std::vector<std::pair<long long, long long>>{
                       {0, 16383}, {16384, 32767}, {32768, 49151}, {49152, 65535}}));
  EXPECT_EQ(server.BodyBytesSent(), 64 * 1024) << "no range cut short and asked again";
}

TEST(SegmentedGet, AServerThatTakesTwoConnectionsGetsTwoAndTheDownloadSucceeds) {
  const std::string doc = Document(40000);
  TRangeServer server(doc);
  server.Cap = 2;
  server.PaceMs = 10;
  server.Start();
  TSegRun r;
  TSegmentedGet get(r.fd, IdentityOf(server, doc), r.Hooks());
  Small(get, 2000);
  get.Connections = 4;
  const TSegmentedOutcome out = get.Run(server.Url());
  server.Stop();
  ASSERT_EQ(out.End, seComplete) << out.Failure.Reason;
  EXPECT_EQ(r.Saved(), doc);
  EXPECT_LE(get.HostLimit(), 2);
  bool said = false;
  for (const std::string& l : r.said) said = said || l.find("takes no more than") != std::string::npos;
  EXPECT_TRUE(said);
}

TEST(SegmentedGet, AConnectionJustClosedThatStillCountsAgainstTheCapLowersNothing) {
  // Shares that last beyond the second a refused connection waits, so that
  // the two served still run when it asks again.
  const std::string doc = Document(4 * 1000 * 1000);
  TRangeServer server(doc);
  server.Cap = 2;
  server.PaceMs = 5;
  server.LingerMs = 300;
  server.Start();
  {
    // A first request closed as soon as its answer begins, as when the
    // first answer is handed over to the segments.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(std::stoi(server.Url().substr(17))));
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const std::string get = "GET /clip.flv HTTP/1.1\r\nHost: x\r\n\r\n";
    ASSERT_EQ(::send(fd, get.data(), get.size(), 0), static_cast<ssize_t>(get.size()));
    char buf[64];
    ASSERT_GT(::recv(fd, buf, sizeof buf, 0), 0);
    ::close(fd);
  }
  TSegRun r;
  TSegmentedGet get(r.fd, IdentityOf(server, doc), r.Hooks());
  Small(get, 0);
  get.MinSplit = 500000;
  get.MsPerSecond = 1000;  // the wait of Retry-After: 1 outlasts the linger
  get.Connections = 4;
  const TSegmentedOutcome out = get.Run(server.Url());
  server.Stop();
  ASSERT_EQ(out.End, seComplete) << out.Failure.Reason;
  EXPECT_EQ(r.Saved(), doc);
  EXPECT_EQ(get.HostLimit(), 2) << testing::PrintToString(r.said);
}

TEST(SegmentedGet, AServerThatServesLessThanAskedIsAskedForTheRestWithoutAFailure) {
  const std::string doc = Document(20001);
  TRangeServer server(doc);
  server.MostPerAnswer = 3000;
  server.Start();
  TSegRun r;
  TSegmentedGet get(r.fd, IdentityOf(server, doc), r.Hooks());
  Small(get, 0);
  get.MinSplit = 2000;
  get.Connections = 2;
  get.Policy = TRetryPolicy(0);  // a short answer taken for a failure would end the run
  const TSegmentedOutcome out = get.Run(server.Url());
  server.Stop();
  ASSERT_EQ(out.End, seComplete) << out.Failure.Reason;
  EXPECT_EQ(r.Saved(), doc);
  EXPECT_TRUE(r.said.empty()) << r.said.front();
  EXPECT_GE(server.Requests().size(), 7u);
}

TEST(SegmentedGet, AResetInTheMiddleOfOneRangeIsRetriedForTheRestOfThatRange) {
  const std::string doc = Document(30000);
  TRangeServer server(doc);
  server.ResetAt = 17000;
  server.Start();
  TSegRun r;
  TSegmentedGet get(r.fd, IdentityOf(server, doc), r.Hooks());
  Small(get, 10000);
  const TSegmentedOutcome out = get.Run(server.Url());
  server.Stop();
  ASSERT_EQ(out.End, seComplete) << out.Failure.Reason;
  EXPECT_EQ(r.Saved(), doc);
  // Asked again from where the reset left it, not from the range's start.
  bool continued = false;
  for (const TRangeServer::TRequest& q : server.Requests())
    continued = continued || (q.First > 10000 && q.First <= 17000 && q.Last == 19999);
  EXPECT_TRUE(continued);
  ASSERT_FALSE(r.said.empty());
  EXPECT_NE(r.said[0].find("retry 1 of 3"), std::string::npos) << r.said[0];
}

TEST(SegmentedGet, AChangedVersionOrIgnoredRangesEndInOneStreamNeverSpliced) {
  const std::string doc = Document(20000);
  for (bool ignore : {false, true}) {
    TRangeServer server(doc);
    server.PaceMs = 2;
    if (ignore) {
      server.IgnoreRanges = true;
    } else {
      server.ChangeAfter = 2;
      server.ChangedDoc = Document(20000, 5);
    }
    server.Start();
    TSegRun r;
    TSegmentedGet get(r.fd, IdentityOf(server, doc), r.Hooks());
    Small(get, 4000);
    const TSegmentedOutcome out = get.Run(server.Url());
    server.Stop();
    EXPECT_EQ(out.End, seOneStream) << ignore;
    EXPECT_NE(out.Why.find(ignore ? "whole file" : "the file changed on the server"), std::string::npos) << out.Why;
    // Nothing of the other version counts as done.
    for (const auto& save : r.saves)
      for (const TByteRange& d : save) EXPECT_EQ(r.Saved().substr(d.Begin, d.Size()), doc.substr(d.Begin, d.Size()));
  }
}

TEST(SegmentedGet, RangesDoneEarlierAreNotFetchedAgain) {
  const std::string doc = Document(30000);
  TRangeServer server(doc);
  server.Start();
  TSegRun r;
  ASSERT_EQ(::pwrite(r.fd, doc.data(), 10000, 0), 10000);
  ASSERT_EQ(::pwrite(r.fd, doc.data() + 20000, 5000, 20000), 5000);
  TSegmentedGet get(r.fd, IdentityOf(server, doc), r.Hooks());
  Small(get, 4000);
  get.Done = {{0, 10000}, {20000, 25000}};
  const TSegmentedOutcome out = get.Run(server.Url());
  server.Stop();
  ASSERT_EQ(out.End, seComplete) << out.Failure.Reason;
  EXPECT_EQ(r.Saved(), doc);
  EXPECT_EQ(server.BodyBytesSent(), 15000);
  ASSERT_FALSE(r.saves.empty());
  EXPECT_EQ(r.saves.front(), (std::vector<TByteRange>{{0, 10000}, {20000, 25000}}));  // kept before any request
}

TEST(SegmentedGet, AfterAStopTheNextRunAsksForNothingTheLastSaveListsAsDone) {
  const std::string doc = Document(600 * 1024 + 17, 5);
  TRangeServer server(doc);
  server.PaceMs = 5;
  server.Start();
  TSegRun r;
  std::vector<TByteRange> saved;
  {
    TSegmentedHooks h = r.Hooks();
    std::int64_t done = 0;
    h.Progress = [&done](std::int64_t count, int) { done = count; };
    h.Stopped = [&done] { return done > 200 * 1024; };
    TSegmentedGet get(r.fd, IdentityOf(server, doc), h);
    Small(get, 0);
    get.MinSplit = 32 * 1024;
    get.Connections = 4;
    const TSegmentedOutcome out = get.Run(server.Url());
    EXPECT_EQ(out.Failure.Kind, fkStopped);
    ASSERT_FALSE(r.saves.empty());
    saved = r.saves.back();
  }
  std::int64_t had = 0;
  for (const TByteRange& d : saved) had += d.Size();
  ASSERT_GT(had, 200 * 1024);
  ASSERT_LT(had, static_cast<std::int64_t>(doc.size()));
  const std::size_t before = server.Requests().size();
  TSegmentedGet get(r.fd, IdentityOf(server, doc), r.Hooks());
  Small(get, 0);
  get.MinSplit = 32 * 1024;
  get.Connections = 4;
  get.Done = saved;
  const TSegmentedOutcome out = get.Run(server.Url());
  server.Stop();
  ASSERT_EQ(out.End, seComplete) << out.Failure.Reason;
  EXPECT_TRUE(r.Saved() == doc);
  const auto requests = server.Requests();
  ASSERT_GT(requests.size(), before);
  for (std::size_t i = before; i < requests.size(); ++i) {
    for (const TByteRange& d : saved) {
      EXPECT_TRUE(requests[i].Last < d.Begin || requests[i].First >= d.End) << requests[i].Head;
    }
  }
}

TEST(SegmentedGet, OneRateLimitHoldsForAllConnections) {
  const std::string doc = Document(1024 * 1024);
  TRangeServer server(doc);
  server.Start();
  TSegRun r;
  TSegmentedGet get(r.fd, IdentityOf(server, doc), r.Hooks());
  Small(get, 0);
  get.MinSplit = 64 * 1024;
  get.RateLimit = 512 * 1024;
  const auto start = std::chrono::steady_clock::now();
  const TSegmentedOutcome out = get.Run(server.Url());
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  server.Stop();
  ASSERT_EQ(out.End, seComplete) << out.Failure.Reason;
  EXPECT_EQ(r.Saved(), doc);
  EXPECT_EQ(out.MostOpen, 4);
  // 1 MiB at 512 KiB/s for all of them takes 2 s; each connection at the
  // whole rate would take a quarter of that. Only a lower bound: a slow
  // machine only makes it longer.
  EXPECT_GE(ms, 1500);
}

TEST(SegmentedGet, TheOneConnectionServedGetsTheWholeLimitWhileTheOthersAreTurnedAway) {
  // A server that serves one connection at a time: the others are refused
  // and wait, and the one served reads at the whole limit, never above it.
  const std::int64_t limit = 160 * 1024;
  const std::string doc = Document(640 * 1024);
  TRangeServer server(doc);
  server.Cap = 1;
  server.Start();
  TSegRun r;
  TRateWindow seen;
  TSegmentedHooks hooks = r.Hooks();
  hooks.Progress = [&seen](std::int64_t done, int) { seen.Seen(done); };
  TSegmentedGet get(r.fd, IdentityOf(server, doc), hooks);
  Small(get, 0);
  get.MinSplit = 64 * 1024;
  get.MsPerSecond = 200;
  get.RateLimit = static_cast<std::int32_t>(limit);
  const auto start = std::chrono::steady_clock::now();
  const TSegmentedOutcome out = get.Run(server.Url());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  server.Stop();
  ASSERT_EQ(out.End, seComplete) << out.Failure.Reason;
  EXPECT_EQ(r.Saved(), doc);
  EXPECT_EQ(get.HostLimit(), 1);
  EXPECT_LE(seen.Most(1000), limit * 110 / 100);
  // Loose, for a busy machine: most seconds get most of the limit, and the
  // whole takes not much more than its 4 s.
  EXPECT_GE(seen.Median(1000), limit * 60 / 100);
  EXPECT_LT(seconds, 10.0);
}

TEST(SegmentedGet, AConnectionSlowerThanTheLeastSpeedIsReopenedKeepingItsBytes) {
  const std::string doc = Document(40000);
  TRangeServer server(doc);
  server.SlowFirstMs = 400;  // 4 KiB per 0.4 s: 10 KiB/s
  server.Start();
  TSegRun r;
  TSegmentedGet get(r.fd, IdentityOf(server, doc), r.Hooks());
  Small(get, 20000);
  get.Connections = 2;
  get.MinSpeed = 100 * 1024;
  get.MinSpeedTimeMs = 600;
  const TSegmentedOutcome out = get.Run(server.Url());
  server.Stop();
  ASSERT_EQ(out.End, seComplete) << out.Failure.Reason;
  EXPECT_EQ(r.Saved(), doc);
  bool reopened = false;
  for (const std::string& l : r.said) reopened = reopened || l.find("reopening it") != std::string::npos;
  EXPECT_TRUE(reopened);
  // The reopened request starts where the slow one stopped, not at its start.
  const auto requests = server.Requests();
  ASSERT_GE(requests.size(), 3u);
  EXPECT_GT(requests[2].First, 0);
  EXPECT_LT(server.BodyBytesSent(), 40000 + 8192);
}

TEST(SegmentedGet, OnlyAFirstStreamSlowerThanAnyOpenPipeWithMuchLeftIsSplit) {
  constexpr std::int64_t MiB = 1024 * 1024;
  // Windows of half a second here, to keep the numbers round.
  const auto probe = [](std::int64_t rest, std::uint32_t start) {
    TSplitProbe p(rest, start);
    p.ProbeMs = 500;
    p.WindowMs = 500;
    return p;
  };
  {
    TSplitProbe p = probe(64 * MiB, 1000);
    EXPECT_EQ(p.Sample(100, 1499), pvWait);  // still probing
    EXPECT_EQ(p.Sample(MiB / 2, 1500), pvSplit);  // 1 MiB/s, 63.5 MiB left
    EXPECT_EQ(p.Sample(40 * MiB, 1600), pvSplit);  // decided once
  }
  {
    TSplitProbe p = probe(1024 * MiB, 0);
    EXPECT_EQ(p.Sample(50 * MiB, 500), pvStay);  // an open pipe
    EXPECT_EQ(p.Sample(90 * MiB, 999), pvWait);  // within the next window
    EXPECT_EQ(p.Sample(100 * MiB, 1000), pvStay);  // still open
  }
  {
    TSplitProbe at = probe(1024 * MiB, 0), below = probe(1024 * MiB, 0);
    EXPECT_EQ(at.Sample(16 * MiB, 500), pvStay);  // exactly the pace no paced server reaches
    EXPECT_EQ(below.Sample(16 * MiB - 1, 500), pvSplit);
  }
  {
    // At 1 MiB/s: what is left after the probe must take more than a second.
    TSplitProbe little = probe(MiB / 2 + 900 * 1024, 0), more = probe(MiB / 2 + 3 * MiB / 2, 0);
    EXPECT_EQ(little.Sample(MiB / 2, 500), pvStay);
    EXPECT_EQ(more.Sample(MiB / 2, 500), pvSplit);
  }
  {
    // Held back by this side's own limit, not by the server.
    TSplitProbe own = probe(64 * MiB, 0), server = probe(64 * MiB, 0);
    own.RateLimit = MiB;
    server.RateLimit = 4 * MiB;
    EXPECT_EQ(own.Sample(MiB / 2, 500), pvStay);
    EXPECT_EQ(own.Sample(MiB + MiB / 4, 1000), pvStay);
    EXPECT_EQ(own.Sample(MiB + MiB / 4, 1500), pvStay);  // a pause of its limiter
    EXPECT_EQ(own.Sample(MiB + MiB / 4 + 100, 2500), pvStay);  // now far below it
    EXPECT_EQ(own.Sample(MiB + MiB / 4 + 200, 3000), pvSplit);  // and still
    EXPECT_EQ(server.Sample(MiB / 2, 500), pvSplit);
  }
  {
    TSplitProbe whole = probe(1000, 0);
    EXPECT_EQ(whole.Sample(1000, 10), pvStay);  // all arrived within the probe
  }
  {
    TSplitProbe wrapped = probe(64 * MiB, 0xFFFFFF00u);  // the tick counter wraps
    EXPECT_EQ(wrapped.Sample(1000, 0xFFFFFFF0u), pvWait);
    EXPECT_EQ(wrapped.Sample(MiB / 2, 0xFFFFFF00u + 500), pvSplit);
  }
  {
    // A burst at the pipe's speed, then a pace: split when the pace shows,
    // judged on the window's own bytes, not the average since the start.
    TSplitProbe p = probe(1024 * MiB, 0);
    EXPECT_EQ(p.Sample(40 * MiB, 500), pvStay);
    EXPECT_EQ(p.Sample(60 * MiB, 1000), pvStay);  // 40 MiB/s
    EXPECT_EQ(p.Sample(60 * MiB + MiB / 2, 1500), pvStay);  // 1 MiB/s: a stall, or a pace?
    EXPECT_EQ(p.Sample(80 * MiB, 2000), pvStay);  // a stall: fast again
    EXPECT_EQ(p.Sample(80 * MiB + MiB / 2, 2500), pvStay);
    EXPECT_EQ(p.Sample(81 * MiB, 3000), pvSplit);  // a pace
  }
  {
    // The default first window is shorter than the later ones.
    TSplitProbe p(64 * MiB, 0);
    EXPECT_EQ(p.Sample(MiB / 8, p.ProbeMs), pvSplit);
  }
}

namespace {

// A first stream whose answer shows ranges, judged by a probe on the real
// clock; returns the outcome and the file it wrote.
struct TProbedRun {
  THttpCli cli;
  plat::TMemoryStream file;
  TResumableGet get{cli, file, {{}, [] { return false; }, {}, {}, {}, {}, {}}};
  std::optional<TSplitProbe> probe;
  std::int64_t pacedBelow = TSplitProbe::kPacedBelow;
  int probed = 0;
  TProbedRun() {
    cli.SetRequestVer("1.0");
    get.MsPerSecond = 20;
    get.IdleTimeoutMs = 5000;
    get.Hooks().TakeOver = [this](const THttpCli& c, std::int64_t have) {
      if (!Segmentable(c.StatusCode(), c.ReceivedHeader(), get.Identity.Total, 64 * 1024)) return false;
      probe.emplace(get.Identity.Total - have, plat::GetTickCount());
      probe->ProbeMs = 100;
      probe->PacedBelow = pacedBelow;
      return true;
    };
    get.Hooks().Probe = [this](std::int64_t received) {
      ++probed;
      return probe->Sample(received, plat::GetTickCount()) == pvSplit;
    };
  }
};

}  // namespace

TEST(SegmentedGet, AFastFirstStreamFinishesAloneAndAPacedOneIsHandedOverWithItsBytes) {
  {
    const std::string doc = Document(24 * 1024 * 1024, 3);
    TRangeServer server(doc);
    server.Start();
    TProbedRun r;
    // Far below what loopback gives even a loaded machine.
    r.pacedBelow = 4 * 1024 * 1024;
    const TGetOutcome out = r.get.Run(server.Url());
    server.Stop();
    EXPECT_TRUE(out.Complete) << out.Failure.Reason;
    EXPECT_FALSE(out.HandedOver);
    EXPECT_GT(r.probed, 0);
    EXPECT_TRUE(r.file.DataString() == doc);
    EXPECT_EQ(server.Requests().size(), 1u);
  }
  {
    const std::string doc = Document(1024 * 1024 + 333, 4);
    TRangeServer server(doc);
    server.PaceMs = 10;  // at most 400 KiB/s per connection
    server.Start();
    TProbedRun r;
    const TGetOutcome out = r.get.Run(server.Url());
    ASSERT_TRUE(out.HandedOver) << out.Failure.Reason;
    EXPECT_FALSE(out.Complete);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].First, -1);  // the first stream asked for the whole
    // The probe's bytes stay: the first stream is done with [0, have).
    const std::string have = r.file.DataString();
    ASSERT_GT(have.size(), 0u);
    ASSERT_LT(have.size(), doc.size());
    EXPECT_EQ(out.HandedAt, static_cast<std::int64_t>(have.size()));
    EXPECT_TRUE(have == doc.substr(0, have.size()));
    EXPECT_EQ(r.get.Identity.Total, static_cast<std::int64_t>(doc.size()));
    // The first stream goes on as a connection; the others fetch the rest.
    TSegRun seg;
    ASSERT_EQ(::pwrite(seg.fd, have.data(), have.size(), 0), static_cast<ssize_t>(have.size()));
    TSegmentedGet get(seg.fd, r.get.Identity, seg.Hooks());
    Small(get, 0);
    get.MinSplit = 64 * 1024;
    get.Done = {{0, static_cast<std::int64_t>(have.size())}};
    get.Adopt(r.cli, out.HandedAt);
    const TSegmentedOutcome rest = get.Run(server.Url());
    server.Stop();
    ASSERT_EQ(rest.End, seComplete) << rest.Failure.Reason;
    EXPECT_TRUE(seg.Saved() == doc);
    // Byte `have` on came over the first stream: no later request asks for
    // it (halves taken over for a free connection start further on).
    std::size_t ranged = 0;
    for (const TRangeServer::TRequest& q : server.Requests()) {
      if (q.First < 0) continue;
      ++ranged;
      EXPECT_GT(q.First, static_cast<long long>(have.size())) << q.Head;
    }
    EXPECT_EQ(server.Requests().size(), ranged + 1);
    EXPECT_GE(ranged, 3u);
    EXPECT_EQ(rest.MostOpen, 4);
  }
}
