// Addresses of either family: IPv6 listen, accept and connect with the same
// events as IPv4, IPv6 texts in the address properties and lookups, the
// connecting order of a host's addresses and the race between them.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "SocketTestUtil.h"
#include "support/Ipv6Namespace.h"

using namespace socktest;

namespace {

std::vector<std::string> Texts(const std::vector<plat::TSockAddr>& addrs) {
  std::vector<std::string> out;
  for (const plat::TSockAddr& a : addrs) out.push_back(plat::WsAddrText(a));
  return out;
}

plat::TSockAddr Addr(const std::string& text) {
  plat::TSockAddr a;
  EXPECT_TRUE(plat::WsParseAddr(text, a)) << text;
  return a;
}

}  // namespace

TEST(Ipv6Addresses, ParseAndTextOfBothFamilies) {
  EXPECT_EQ(plat::WsAddrText(Addr("::1")), "::1");
  EXPECT_EQ(plat::WsAddrText(Addr("[::1]")), "::1");
  EXPECT_EQ(plat::WsAddrText(Addr("2001:DB8:0:0:0:0:0:1")), "2001:db8::1");
  EXPECT_EQ(plat::WsAddrText(Addr("127.0.0.1")), "127.0.0.1");
  EXPECT_EQ(Addr("::1").Family, plat::WS_AF_INET6);
  EXPECT_EQ(Addr("10.1.2.3").Family, plat::WS_AF_INET);
  plat::TSockAddr a;
  for (const char* bad : {"", "[]", "::1::2", "1.2.3", "example", "[::1", "::1%", "fe80::1%no-such-if0"})
    EXPECT_FALSE(plat::WsParseAddr(bad, a)) << bad;
}

TEST(Ipv6Addresses, ConnectingOrderPutsIpv6FirstAndAlternates) {
  const std::vector<plat::TSockAddr> mixed = {Addr("10.0.0.1"), Addr("10.0.0.2"), Addr("10.0.0.3"), Addr("fd00::1"),
                                              Addr("fd00::2")};
  EXPECT_EQ(Texts(plat::InterleaveFamilies(mixed)),
            (std::vector<std::string>{"fd00::1", "10.0.0.1", "fd00::2", "10.0.0.2", "10.0.0.3"}));
  EXPECT_EQ(Texts(plat::InterleaveFamilies({Addr("10.0.0.1"), Addr("10.0.0.2")})),
            (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
}

TEST(Ipv6Addresses, ResolveLiteralsAndFamilyLimits) {
  EXPECT_EQ(Texts(WSocketResolveHostAddrs("::1")), (std::vector<std::string>{"::1"}));
  EXPECT_EQ(Texts(WSocketResolveHostAddrs(" 127.0.0.1 ")), (std::vector<std::string>{"127.0.0.1"}));
  EXPECT_EQ(Texts(WSocketResolveHostAddrs("localhost", plat::WS_AF_INET)), (std::vector<std::string>{"127.0.0.1"}));
  for (auto [text, family] : {std::pair{"::1", plat::WS_AF_INET}, std::pair{"127.0.0.1", plat::WS_AF_INET6}}) {
    try {
      WSocketResolveHostAddrs(text, family);
      ADD_FAILURE() << text << " resolved in the other family";
    } catch (const ESocketException& e) {
      EXPECT_EQ(std::string(e.what()).rfind("WSocketResolveHost: Cannot convert host address", 0), 0u) << e.what();
    }
  }
  // The IPv4-only resolver keeps refusing what is no IPv4 address.
  EXPECT_THROW(WSocketResolveHost("::1"), ESocketException);
}

TEST(Ipv6Socket, DnsLookupOfLiteralCompletesInsideTheCall) {
  Recorder r;
  TWSocket s;
  r.Attach(s);
  s.DnsLookup("[::1]");
  EXPECT_EQ(r.ev, (std::vector<std::string>{"DnsLookupDone 0"}));
  EXPECT_EQ(s.GetDnsResult(), "::1");
  s.SetAddrFamily(plat::WS_AF_INET);
  s.DnsLookup("::1");
  EXPECT_EQ(r.ev.back(), "DnsLookupDone 11004");
  EXPECT_EQ(s.GetDnsResult(), "");
  s.SetAddrFamily(plat::WS_AF_INET6);
  s.DnsLookup("127.0.0.1");
  EXPECT_EQ(r.ev.back(), "DnsLookupDone 11004");
}

TEST(Ipv6Socket, ListenAcceptConnectWithTheSameEventsAsIpv4) {
  Recorder sr;
  TWSocket server;
  sr.Attach(server);
  server.SetAddr("::1");
  server.SetPort("0");
  std::unique_ptr<TWSocket> accepted;
  std::string serverGot;
  server.OnSessionAvailable = [&](TObject*, std::uint16_t) {
    TSocket h = server.Accept();
    accepted = std::make_unique<TWSocket>();
    accepted->OnDataAvailable = [&](TObject*, std::uint16_t) {
      serverGot += accepted->ReceiveText();
      if (serverGot == "ping") accepted->SendText("pong");
    };
    accepted->Dup(h);
  };
  server.Listen();
  EXPECT_EQ(sr.ev, (std::vector<std::string>{"ChangeState wsClosed->wsBound", "ChangeState wsBound->wsListening"}));
  EXPECT_EQ(server.GetLocalAddrText(), "::1");
  const std::string port = server.GetLocalPortText();
  ASSERT_NE(port, "error");

  Recorder cr;
  TWSocket client;
  cr.Attach(client);
  std::string clientGot;
  client.OnSessionConnected = [&](TObject*, std::uint16_t e) {
    cr.ev.push_back("SessionConnected " + std::to_string(e));
    if (e == 0) client.SendText("ping");
  };
  client.OnDataAvailable = [&](TObject*, std::uint16_t) { clientGot += client.ReceiveText(); };
  client.SetAddr("::1");
  client.SetPort(port);
  client.Connect();
  ASSERT_TRUE(PumpUntil([&] { return clientGot == "pong"; })) << clientGot << cr.Dump();
  EXPECT_EQ(cr.ev, (std::vector<std::string>{"ChangeState wsClosed->wsOpened", "ChangeState wsOpened->wsConnecting",
                                             "ChangeState wsConnecting->wsConnected", "SessionConnected 0"}));
  EXPECT_EQ(client.GetPeerAddr(), "::1");
  EXPECT_EQ(client.GetPeerPort(), port);
  EXPECT_EQ(client.GetLocalAddrText(), "::1");
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->GetPeerAddr(), "::1");
  EXPECT_EQ(accepted->GetPeerPort(), client.GetLocalPortText());
  // The IPv4 record form cannot hold an IPv6 peer: refused, not garbage.
  TSockAddrIn v4{};
  EXPECT_NE(client.GetPeerName(v4, sizeof v4), 0);
}

TEST(Ipv6Socket, RefusedIpv6ConnectReportsAsIpv4Does) {
  Recorder r;
  TWSocket s;
  r.Attach(s);
  s.SetAddr("::1");
  s.SetPort(std::to_string(ClosedPort()));
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return r.Has("SessionClosed 0"); })) << r.Dump();
  EXPECT_EQ(r.ev, (std::vector<std::string>{"ChangeState wsClosed->wsOpened", "ChangeState wsOpened->wsConnecting",
                                            "ChangeState wsConnecting->wsConnected", "SessionConnected 10061",
                                            "ChangeState wsConnected->wsClosed", "SessionClosed 0"}));
}

// The race of a host's addresses, with the addresses given as a lookup
// would give them.
TEST(AddressRace, RefusedFirstAddressFallsToTheNextWithOneSetOfEvents) {
  RawServer srv([](int fd) {
    SendAll(fd, "hello");
    RecvAll(fd, 300);
  });
  Recorder r;
  TWSocket s;
  r.Attach(s);
  std::string got;
  s.OnDataAvailable = [&](TObject*, std::uint16_t) { got += s.ReceiveText(); };
  s.SetAddr("::1");
  s.SetAddrList({"::1", "127.0.0.1"});  // nothing listens on ::1 at that port
  s.SetPort(srv.PortStr());
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return got == "hello"; })) << r.Dump();
  EXPECT_EQ(r.ev, (std::vector<std::string>{"ChangeState wsClosed->wsOpened", "ChangeState wsOpened->wsConnecting",
                                            "ChangeState wsConnecting->wsConnected", "SessionConnected 0"}));
  EXPECT_EQ(s.GetPeerAddr(), "127.0.0.1");
  s.Close();
  EXPECT_EQ(plat::WsOpenSocketCount(), 0);
}

TEST(AddressRace, AllRefusedReportsTheLastFailureOnce) {
  Recorder r;
  TWSocket s;
  r.Attach(s);
  s.SetAddr("127.0.0.1");
  s.SetAddrList({"::1", "127.0.0.1", "::1"});
  s.SetPort(std::to_string(ClosedPort()));
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return r.Has("SessionClosed 0"); })) << r.Dump();
  EXPECT_EQ(r.ev, (std::vector<std::string>{"ChangeState wsClosed->wsOpened", "ChangeState wsOpened->wsConnecting",
                                            "ChangeState wsConnecting->wsConnected", "SessionConnected 10061",
                                            "ChangeState wsConnected->wsClosed", "SessionClosed 0"}));
  EXPECT_EQ(plat::WsOpenSocketCount(), 0);
}

TEST(AddressRace, FamilyLimitKeepsOnlyThatFamily) {
  RawServer srv6([](int fd) { RecvAll(fd, 300); }, 1, true);
  Recorder r;
  TWSocket s;
  r.Attach(s);
  s.SetAddrFamily(plat::WS_AF_INET6);
  s.SetAddr("127.0.0.1");
  s.SetAddrList({"127.0.0.1", "::1"});
  s.SetPort(srv6.PortStr());
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return r.Has("SessionConnected 0") || r.Has("SessionClosed 0"); })) << r.Dump();
  EXPECT_EQ(s.GetPeerAddr(), "::1");
  s.Close();
  // No address of that family left: refused before any socket is opened.
  s.SetAddrFamily(plat::WS_AF_INET);
  s.SetAddr("::1");
  s.SetAddrList({"::1"});
  s.SetPort(srv6.PortStr());
  bool refused = false;
  try {
    s.Connect();
  } catch (const ESocketException&) {
    refused = true;
  }
  EXPECT_TRUE(refused);
  EXPECT_EQ(s.GetState(), wsClosed);
}

TEST(AddressRace, AbortDuringTheRaceClosesEveryAttempt) {
  Recorder r;
  TWSocket s;
  r.Attach(s);
  // 192.0.2.0/24 is documentation space: with no route, attempts fail at
  // once or hang; either way the abort must leave nothing open.
  s.SetAddr("192.0.2.1");
  s.SetAddrList({"192.0.2.1", "192.0.2.2", "192.0.2.3"});
  s.SetPort("9");
  s.SetAttemptDelay(10);
  s.Connect();
  PumpFor(60);
  s.Abort();
  EXPECT_EQ(s.GetState(), wsClosed);
  EXPECT_EQ(plat::WsOpenSocketCount(), 0);
  EXPECT_LE(r.Count("SessionClosed 0"), 1);
}

// The black hole: an IPv6 address on a link where no one answers, first in
// the connecting order, and a working IPv4 address. The IPv4 attempt starts
// after the attempt delay and wins while the IPv6 one is still pending.
TEST(AddressRace, BlackHoledIpv6DoesNotHoldUpIpv4) {
  if (!netns::InIpv6Namespace("127.0.0.1 localhost\n")) return;
  RawServer srv([](int fd) {
    SendAll(fd, "v4");
    RecvAll(fd, 300);
  });
  Recorder r;
  TWSocket s;
  r.Attach(s);
  std::string got;
  s.OnDataAvailable = [&](TObject*, std::uint16_t) { got += s.ReceiveText(); };
  s.SetAddr(netns::kBlackHole);
  s.SetAddrList({netns::kBlackHole, "127.0.0.1"});
  s.SetPort(srv.PortStr());
  const auto start = std::chrono::steady_clock::now();
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return r.Has("SessionConnected 0"); }, 10000)) << r.Dump();
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  std::printf("timing: black-holed IPv6, then IPv4: connected after %lld ms\n", static_cast<long long>(ms));
  EXPECT_EQ(s.GetPeerAddr(), "127.0.0.1");
  // The IPv6 attempt went first: the IPv4 one waited for the delay. The
  // neighbour lookup of the black hole gives up only after seconds.
  EXPECT_GE(ms, 200);
  EXPECT_LT(ms, 1500);
  ASSERT_TRUE(PumpUntil([&] { return got == "v4"; })) << r.Dump();
  EXPECT_EQ(r.ev, (std::vector<std::string>{"ChangeState wsClosed->wsOpened", "ChangeState wsOpened->wsConnecting",
                                            "ChangeState wsConnecting->wsConnected", "SessionConnected 0"}));
  s.Close();
  EXPECT_EQ(plat::WsOpenSocketCount(), 0);  // the pending IPv6 attempt is closed too
}
