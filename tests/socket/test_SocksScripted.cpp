// SOCKS 4, 4A and 5 negotiation against a scripted proxy that sends exact
// bytes in exact fragments, well-behaved and hostile.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>

#include "SocketTestUtil.h"

using namespace socktest;

namespace {

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

// A client socket set up for a proxy on `srv`, with its events recorded.
struct SocksClient {
  Recorder r;
  TWSocket s;
  std::string data;  // bytes read through Receive after the tunnel is up
  SocksClient(const RawServer& srv, const std::string& level, const std::string& addr = "example",
              const std::string& port = "80") {
    r.Attach(s);
    s.OnDataAvailable = [this](TObject*, std::uint16_t) {
      char b[256];
      int n = s.Receive(b, sizeof b);
      r.ev.push_back("DataAvailable " + std::to_string(n));
      if (n > 0) data.append(b, static_cast<std::size_t>(n));
    };
    s.SetAddr(addr);
    s.SetPort(port);
    s.SetSocksServer("127.0.0.1");
    s.SetSocksPort(srv.PortStr());
    s.SetSocksLevel(level);
  }
  void UseAuth(const std::string& user, const std::string& pass) {
    s.SetSocksUsercode(user);
    s.SetSocksPassword(pass);
    s.SetSocksAuthentication(socksAuthenticateUsercode);
  }
  bool Closed(int ms = 5000) {
    return PumpUntil([&] {
      for (auto& e : r.ev)
        if (e.rfind("SessionClosed", 0) == 0) return true;
      return false;
    }, ms);
  }
  // The events after the three connection state changes.
  std::vector<std::string> After() const {
    std::vector<std::string> out;
    for (auto& e : r.ev)
      if (e.rfind("ChangeState", 0) != 0 && e.rfind("DataAvailable", 0) != 0) out.push_back(e);
    return out;
  }
};

const std::string kReplyOk = B({5, 0, 0, 1, 127, 0, 0, 1, 0x1F, 0x90});

}  // namespace

TEST(SocksScripted, Socks5NoAuthExactBytesAndBoundAddress) {
  std::string method, connect;
  RawServer srv([&](int fd) {
    method = RecvN(fd, 3);
    SendAll(fd, B({5, 0}));
    connect = RecvN(fd, 7 + 7);
    SendAll(fd, kReplyOk);
    RecvAll(fd, 300);
  });
  SocksClient c(srv, "5");
  c.s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return c.r.Has("SessionConnected 0"); })) << c.r.Dump();
  EXPECT_EQ(method, B({5, 1, 0}));
  EXPECT_EQ(connect, B({5, 1, 0, 3, 7}) + "example" + B({0, 80}));
  EXPECT_EQ(c.s.GetBoundAddr(), "127.0.0.1");
  EXPECT_EQ(c.s.GetBoundPort(), "8080");
  EXPECT_EQ(c.s.GetState(), wsConnected);
  EXPECT_EQ(c.r.ev[0], "ChangeState wsClosed->wsOpened");
  EXPECT_EQ(c.r.ev[2], "ChangeState wsConnecting->wsConnected");
  EXPECT_EQ(c.After(), (std::vector<std::string>{"SocksConnected 0", "SessionConnected 0"}));
  ASSERT_TRUE(c.Closed());
  // The SOCKS settings belong to one connection.
  EXPECT_EQ(c.s.GetSocksServer(), "");
  EXPECT_EQ(c.s.GetSocksPort(), "");
}

TEST(SocksScripted, Socks5ReplyFollowedByTwentyBytesInOnePacket) {
  RawServer srv([&](int fd) {
    RecvN(fd, 3);
    SendAll(fd, B({5, 0}));
    RecvN(fd, 14);
    SendAll(fd, kReplyOk + "twenty-bytes-of-data");
    SleepMs(150);
    SendAll(fd, "+more");
    SleepMs(150);
  });
  SocksClient c(srv, "5");
  std::string firstRead;
  c.s.OnSessionConnected = [&](TObject*, std::uint16_t e) {
    c.r.ev.push_back("SessionConnected " + std::to_string(e));
    EXPECT_EQ(c.s.GetRcvdCount(), 20);
  };
  c.s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return c.r.Has("SessionConnected 0"); })) << c.r.Dump();
  // A second Connect on the live tunnel is refused and leaves its data alone.
  EXPECT_THROW(c.s.Connect(), ESocketException);
  ASSERT_TRUE(c.Closed()) << c.r.Dump();
  EXPECT_EQ(c.data, "twenty-bytes-of-data+more");
  // OnDataAvailable came right after OnSessionConnected, for the 20 bytes.
  auto it = std::find(c.r.ev.begin(), c.r.ev.end(), "SessionConnected 0");
  ASSERT_NE(it, c.r.ev.end());
  ASSERT_NE(it + 1, c.r.ev.end());
  EXPECT_EQ(*(it + 1), "DataAvailable 20");
}

TEST(SocksScripted, Socks5RepliesInOneBytePackets) {
  RawServer srv([&](int fd) {
    RecvN(fd, 3);
    SendBytewise(fd, B({5, 2}));
    RecvN(fd, 1 + 1 + 4 + 1 + 6);
    SendBytewise(fd, B({1, 0}));
    RecvN(fd, 14);
    SendBytewise(fd, B({5, 0, 0, 3, 4}) + "host" + B({0, 21}));
    SendAll(fd, "ok");
    SleepMs(150);
  });
  SocksClient c(srv, "5");
  c.UseAuth("user", "secret");
  c.s.Connect();
  ASSERT_TRUE(c.Closed()) << c.r.Dump();
  EXPECT_EQ(c.After(), (std::vector<std::string>{"SocksConnected 0", "SocksAuthState 0", "SocksAuthState 1",
                                                 "SessionConnected 0", "SessionClosed 0"}));
  EXPECT_EQ(c.s.GetBoundAddr(), "host");
  EXPECT_EQ(c.s.GetBoundPort(), "21");
  EXPECT_EQ(c.data, "ok");
}

TEST(SocksScripted, Socks5UserPasswordRequestAndNoAuthNeeded) {
  std::string auth;
  RawServer srv([&](int fd) {
    EXPECT_EQ(RecvN(fd, 3), B({5, 1, 2}));
    SendAll(fd, B({5, 2}));
    auth = RecvN(fd, 1 + 1 + 5 + 1 + 3);
    SendAll(fd, B({1, 0}));
    RecvN(fd, 14);
    SendAll(fd, kReplyOk);
    RecvAll(fd, 300);
  });
  SocksClient c(srv, "5");
  c.UseAuth("alice", "pw!");
  c.s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return c.r.Has("SessionConnected 0"); })) << c.r.Dump();
  EXPECT_EQ(auth, B({1, 5}) + "alice" + B({3}) + "pw!");

  // A proxy that asks for no authentication although it was offered.
  RawServer srv2([&](int fd) {
    RecvN(fd, 3);
    SendAll(fd, B({5, 0}));
    RecvN(fd, 14);
    SendAll(fd, kReplyOk);
    RecvAll(fd, 300);
  });
  SocksClient c2(srv2, "5");
  c2.UseAuth("alice", "pw!");
  c2.s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return c2.r.Has("SessionConnected 0"); })) << c2.r.Dump();
  EXPECT_EQ(c2.After(), (std::vector<std::string>{"SocksConnected 0", "SocksAuthState 3", "SessionConnected 0"}));
}

struct HostileCase {
  const char* name;
  std::string methodReply;  // sent after the method request
  std::string authReply;    // sent after the user/password request (if asked)
  std::string connectReply; // sent after the CONNECT request
  bool closeAfter;          // close right after the last reply
  int code;
  std::string text;
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

class SocksHostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(SocksHostile, GivesCodeTextAndCloses) {
  const HostileCase& hc = GetParam();
  RawServer srv([&](int fd) {
    if (RecvN(fd, 3).size() != 3) return;
    SendAll(fd, hc.methodReply);
    if (hc.methodReply.size() == 2 && hc.methodReply[1] == 2) {
      RecvN(fd, 1 + 1 + 1 + 1 + 1);
      if (!hc.authReply.empty()) SendAll(fd, hc.authReply);
      if (hc.closeAfter && hc.connectReply.empty()) return;
    }
    if (hc.connectReply.empty() && hc.closeAfter) return;
    RecvN(fd, 14, 1000);
    SendAll(fd, hc.connectReply);
    if (!hc.closeAfter) RecvAll(fd, 1500);
  });
  SocksClient c(srv, "5");
  c.UseAuth("u", "p");
  c.s.Connect();
  ASSERT_TRUE(c.Closed()) << hc.name << "\n" << c.r.Dump();
  std::string code = std::to_string(hc.code);
  std::vector<std::string> tail = c.After();
  ASSERT_GE(tail.size(), 4u) << c.r.Dump();
  std::vector<std::string> last3(tail.end() - 3, tail.end());
  EXPECT_EQ(last3, (std::vector<std::string>{"SocksError " + code + " " + hc.text, "SessionConnected " + code,
                                             "SessionClosed " + code}))
      << hc.name << "\n" << c.r.Dump();
  EXPECT_EQ(c.s.GetState(), wsClosed);
  EXPECT_TRUE(c.data.empty()) << hc.name;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, SocksHostile,
    ::testing::Values(
        HostileCase{"method version", B({4, 0}), "", "", true, 20002, "socks version error"},
        HostileCase{"method refused", B({5, 255}), "", "", true, 20003, "authentification method not acceptable"},
        HostileCase{"auth version", B({5, 2}), B({2, 0}), "", true, 20002, "socks version error"},
        HostileCase{"auth refused", B({5, 2}), B({1, 1}), "", true, 20015, "socks authentication failed"},
        HostileCase{"auth too long", B({5, 2}), B({1, 0, 0}), "", true, 20001, "too much data availaible"},
        HostileCase{"connect version", B({5, 0}), "", B({4, 0, 0, 1, 1, 2, 3, 4, 0, 1}), false, 20002,
                    "socks version error"},
        HostileCase{"general failure", B({5, 0}), "", B({5, 1, 0, 1}), false, 20004, "general SOCKS server failure"},
        HostileCase{"ruleset", B({5, 0}), "", B({5, 2}), false, 20005, "connection not allowed by ruleset"},
        HostileCase{"net unreachable", B({5, 0}), "", B({5, 3}), false, 20006, "network unreachable"},
        HostileCase{"host unreachable", B({5, 0}), "", B({5, 4}), false, 20007, "host unreachable"},
        HostileCase{"refused", B({5, 0}), "", B({5, 5}), false, 20008, "connection refused"},
        HostileCase{"ttl", B({5, 0}), "", B({5, 6}), false, 20009, "time to live expired"},
        HostileCase{"command", B({5, 0}), "", B({5, 7}), false, 20010, "command not supported"},
        HostileCase{"address type code", B({5, 0}), "", B({5, 8}), false, 20011, "address type not supported"},
        HostileCase{"unassigned", B({5, 0}), "", B({5, 77}), false, 20012, "unassigned error #77"},
        HostileCase{"unknown address type reply", B({5, 0}), "", B({5, 0, 0, 9, 0, 0, 0, 0, 0, 0}), false, 20011,
                    "address type not supported"},
        HostileCase{"name beyond area", B({5, 0}), "", B({5, 0, 0, 3, 200}) + std::string(202, 'n'), false, 20001,
                    "too much data availaible"},
        HostileCase{"truncated then close", B({5, 0}), "", B({5, 0, 0, 1, 127}), true, 10053, "data receive error"},
        HostileCase{"close before method reply", "", "", "", true, 10053, "data receive error"}),
    [](const ::testing::TestParamInfo<HostileCase>& info) {
      std::string n;
      for (const char* p = info.param.name; *p; ++p) n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return n;
    });

TEST(SocksScripted, CloseDuringAuthenticationReportsAuthFailure) {
  RawServer srv([&](int fd) {
    RecvN(fd, 3);
    SendAll(fd, B({5, 2}));
    RecvN(fd, 5);
    SendAll(fd, B({1}));  // half a reply, then gone
    SleepMs(50);
  });
  SocksClient c(srv, "5");
  c.UseAuth("u", "p");
  c.s.Connect();
  ASSERT_TRUE(c.Closed()) << c.r.Dump();
  EXPECT_EQ(c.After(), (std::vector<std::string>{"SocksConnected 0", "SocksAuthState 0", "SocksAuthState 2",
                                                 "SocksError 10053 data receive error", "SessionConnected 10053",
                                                 "SessionClosed 10053"}));
}

TEST(SocksScripted, LongReplyDataKeepsOrderPastTheReplyArea) {
  std::string payload;
  for (int i = 0; i < 300; ++i) payload.push_back(static_cast<char>('A' + i % 26));
  RawServer srv([&](int fd) {
    RecvN(fd, 3);
    SendAll(fd, B({5, 0}));
    RecvN(fd, 14);
    SendAll(fd, kReplyOk + payload);  // far more than the 128-byte area
    SleepMs(150);
  });
  SocksClient c(srv, "5");
  c.s.Connect();
  ASSERT_TRUE(c.Closed()) << c.r.Dump();
  EXPECT_EQ(c.data, payload);
}

TEST(SocksScripted, Socks4And4AExactRequestsAndReplyCodes) {
  std::string req4, req4a, req4empty;
  RawServer s4([&](int fd) {
    req4 = RecvN(fd, 8 + 4 + 1);
    SendAll(fd, B({0, 90, 0, 0, 0, 0, 0, 0}) + "hi");
    SleepMs(150);
  });
  SocksClient c4(s4, "4", "127.0.0.1", "80");
  c4.s.SetSocksUsercode("fred");
  c4.s.Connect();
  ASSERT_TRUE(c4.Closed()) << c4.r.Dump();
  EXPECT_EQ(req4, B({4, 1, 0, 80, 127, 0, 0, 1}) + "fred" + B({0}));
  EXPECT_EQ(c4.After(), (std::vector<std::string>{"SocksConnected 0", "SessionConnected 0", "SessionClosed 0"}));
  EXPECT_EQ(c4.data, "hi");

  RawServer s4e([&](int fd) {
    req4empty = RecvN(fd, 9);
    SendBytewise(fd, B({0, 90, 0, 0, 0, 0, 0, 0}));
    SleepMs(100);
  });
  SocksClient c4e(s4e, "4", "127.0.0.1", "8080");
  c4e.s.Connect();
  ASSERT_TRUE(c4e.Closed()) << c4e.r.Dump();
  EXPECT_EQ(req4empty, B({4, 1, 0x1F, 0x90, 127, 0, 0, 1, 0}));  // empty user id: a single 0
  EXPECT_TRUE(c4e.r.Has("SessionConnected 0"));

  RawServer s4a([&](int fd) {
    req4a = RecvN(fd, 8 + 2 + 1 + 7 + 1);
    SendAll(fd, B({0, 90, 0, 0, 0, 0, 0, 0}));
    SleepMs(100);
  });
  SocksClient c4a(s4a, "4a", "example", "80");
  EXPECT_EQ(c4a.s.GetSocksLevel(), "4A");
  c4a.s.SetSocksUsercode("id");
  c4a.s.Connect();
  ASSERT_TRUE(c4a.Closed()) << c4a.r.Dump();
  EXPECT_EQ(req4a, B({4, 1, 0, 80, 0, 0, 0, 1}) + "id" + B({0}) + "example" + B({0}));
  EXPECT_TRUE(c4a.r.Has("SessionConnected 0"));

  struct Code {
    int reply;
    int code;
    std::string text;
  };
  for (const Code& k : {Code{91, 20016, "request rejected or failed"}, Code{92, 20008, "connection refused"},
                        Code{93, 20015, "authentification failed"}, Code{99, 20012, "unassigned error #99"}}) {
    RawServer sv([&](int fd) {
      RecvN(fd, 9);
      SendAll(fd, B({0, k.reply, 0, 0, 0, 0, 0, 0}));
      RecvAll(fd, 1000);
    });
    SocksClient ck(sv, "4", "127.0.0.1", "80");
    ck.s.Connect();
    ASSERT_TRUE(ck.Closed()) << ck.r.Dump();
    std::string code = std::to_string(k.code);
    EXPECT_EQ(ck.After(), (std::vector<std::string>{"SocksConnected 0", "SocksError " + code + " " + k.text,
                                                    "SessionConnected " + code, "SessionClosed " + code}));
  }
  // Wrong version byte in a SOCKS 4 reply.
  RawServer sv([&](int fd) {
    RecvN(fd, 9);
    SendAll(fd, B({4, 90, 0, 0, 0, 0, 0, 0}));
    RecvAll(fd, 1000);
  });
  SocksClient cv(sv, "4", "127.0.0.1", "80");
  cv.s.Connect();
  ASSERT_TRUE(cv.Closed());
  EXPECT_TRUE(cv.r.Has("SocksError 20002 socks version error")) << cv.r.Dump();
}

TEST(SocksScripted, Socks4UnresolvableDestination) {
  RawServer srv([&](int fd) { RecvAll(fd, 1000); });
  SocksClient c(srv, "4", "no-such-host.invalid", "80");
  c.s.Connect();
  ASSERT_TRUE(c.Closed(15000)) << c.r.Dump();
  std::vector<std::string> tail = c.After();
  ASSERT_EQ(tail.size(), 3u) << c.r.Dump();
  EXPECT_EQ(tail[0], "SocksConnected 0");
  EXPECT_EQ(tail[1].rfind("SocksError 20017 ESocketException WSocketResolveHost: Cannot convert host address "
                          "'no-such-host.invalid'",
                          0),
            0u)
      << tail[1];
  EXPECT_EQ(tail[2], "SessionClosed 20017");  // no OnSessionConnected
}

TEST(SocksScripted, LevelsProtocolAndOversizedRequestsRefusedBeforeSending) {
  TWSocket s;
  s.SetSocksLevel("4a");
  EXPECT_EQ(s.GetSocksLevel(), "4A");
  EXPECT_THROW(s.SetSocksLevel("6"), ESocketException);
  EXPECT_THROW(s.SetSocksLevel("4b"), ESocketException);
  EXPECT_EQ(s.GetSocksLevel(), "4A");

  RawServer srv([&](int fd) { RecvAll(fd, 500); });
  struct Case {
    std::string level, user, pass, addr;
    bool auth;
    bool refused;
  };
  const std::string h121(121, 'h');
  const std::vector<Case> cases = {
      {"5", std::string(62, 'u'), std::string(64, 'p'), "example", true, true},   // 126 together
      {"5", std::string(61, 'u'), std::string(64, 'p'), "example", true, false},  // 125 fits
      {"5", std::string(200, 'u'), std::string(200, 'p'), "example", false, false},  // not sent without auth
      {"5", "", "", h121 + "h", false, true},
      {"5", "", "", h121, false, false},
      {"4", std::string(120, 'u'), "", "127.0.0.1", false, true},
      {"4", std::string(119, 'u'), "", "127.0.0.1", false, false},
      {"4A", std::string(60, 'u'), "", std::string(59, 'h'), false, true},
      {"4A", std::string(60, 'u'), "", std::string(58, 'h'), false, false},
  };
  for (const Case& k : cases) {
    Recorder r;
    TWSocket c;
    r.Attach(c);
    c.SetAddr(k.addr);
    c.SetPort("80");
    c.SetSocksServer("127.0.0.1");
    c.SetSocksPort(srv.PortStr());
    c.SetSocksLevel(k.level);
    c.SetSocksUsercode(k.user);
    c.SetSocksPassword(k.pass);
    if (k.auth) c.SetSocksAuthentication(socksAuthenticateUsercode);
    int errors = 0;
    c.OnError = [&](TObject*) { ++errors; };
    c.Connect();
    if (k.refused) {
      ASSERT_EQ(r.ev.size(), 1u) << k.level << " " << k.user.size() << " " << k.addr.size() << "\n" << r.Dump();
      EXPECT_EQ(r.ev[0].rfind("SocksError 20018 socks ", 0), 0u) << r.ev[0];
      EXPECT_EQ(errors, 1);
      EXPECT_EQ(c.GetState(), wsClosed);
      EXPECT_EQ(c.GetHSocket(), INVALID_SOCKET);
    } else {
      EXPECT_EQ(errors, 0) << k.level << " " << k.user.size() << " " << k.addr.size();
      EXPECT_EQ(c.GetState(), wsConnecting);
    }
    c.Abort();
  }
  // Without OnError the refusal is an exception.
  TWSocket c;
  c.SetAddr(h121 + "h");
  c.SetPort("80");
  c.SetSocksServer("127.0.0.1");
  c.SetSocksPort(srv.PortStr());
  EXPECT_THROW(c.Connect(), ESocketException);

  TWSocket u;
  u.SetAddr("127.0.0.1");
  u.SetPort("80");
  u.SetProto("udp");
  u.SetSocksServer("127.0.0.1");
  u.SetSocksPort("1080");
  std::string text;
  try {
    u.Connect();
  } catch (const ESocketException& e) {
    text = e.what();
  }
  EXPECT_EQ(text, "tcp is the only protocol supported thru socks server");
}

TEST(SocksScripted, DirectFallbackAfterAFailedProxyReachesItsOwnAddress) {
  // The close handler falls back to a direct connection with the same Addr
  // and Port texts: once after the proxy refused the destination, once after
  // the proxy could not be reached at all.
  RawServer refusing([](int fd) {
    RecvN(fd, 3);
    SendAll(fd, B({5, 0}));
    RecvN(fd, 10);
    SendAll(fd, B({5, 5, 0, 1, 0, 0, 0, 0, 0, 0}));
    RecvAll(fd, 300);
  }, 2);
  for (const std::string& proxyPort : {refusing.PortStr(), std::to_string(ClosedPort())}) {
    std::string directGot;
    RawServer direct([&](int fd) {
      SendAll(fd, "direct");
      directGot = RecvAll(fd, 1000);
    });
    Recorder r;
    TWSocket s;
    r.Attach(s);
    std::string data;
    s.OnDataAvailable = [&](TObject*, std::uint16_t) {
      char b[64];
      int n = s.Receive(b, sizeof b);
      if (n > 0) data.append(b, static_cast<std::size_t>(n));
    };
    int closes = 0;
    s.OnSessionClosed = [&](TObject*, std::uint16_t e) {
      r.ev.push_back("SessionClosed " + std::to_string(e));
      if (++closes > 1) return;
      s.SetSocksServer("");
      s.Connect();
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(direct.PortStr());
    s.SetSocksServer("127.0.0.1");
    s.SetSocksPort(proxyPort);
    s.Connect();
    ASSERT_TRUE(PumpUntil([&] { return data == "direct"; })) << proxyPort << "\n" << r.Dump();
    EXPECT_EQ(r.Count("SessionConnected 0"), 1) << r.Dump();
    s.Close();
    ASSERT_TRUE(PumpUntil([&] { return direct.Done(); }));
    EXPECT_EQ(directGot, "");  // no SOCKS greeting went to the server itself
  }
  EXPECT_EQ(refusing.Accepted(), 1);
}

TEST(SocksScripted, Socks5Ipv6DestinationAndBoundAddressBothWays) {
  std::string connect;
  const std::string reply6 = B({5, 0, 0, 4, 0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0x1F, 0x90});
  RawServer srv([&](int fd) {
    RecvN(fd, 3);
    SendAll(fd, B({5, 0}));
    connect = RecvN(fd, 4 + 16 + 2);
    SendAll(fd, reply6 + "data");
    RecvAll(fd, 300);
  });
  SocksClient c(srv, "5", "::1", "8080");
  c.s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return c.data == "data"; })) << c.r.Dump();
  EXPECT_EQ(connect, B({5, 1, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x1F, 0x90}));
  EXPECT_EQ(c.s.GetBoundAddr(), "2001:db8::7");
  EXPECT_EQ(c.s.GetBoundPort(), "8080");
  EXPECT_TRUE(c.r.Has("SessionConnected 0"));
}

TEST(SocksScripted, Socks4CannotCarryIpv6AndSaysSo) {
  RawServer srv([&](int fd) { RecvAll(fd, 300); });
  for (const char* level : {"4", "4A"}) {
    SocksClient c(srv, level, "2001:db8::1");
    std::string refusal;
    try {
      c.s.Connect();
    } catch (const ESocketException& e) {
      refusal = e.what();
    }
    EXPECT_EQ(refusal, "connect: socks 4 cannot carry the IPv6 address 2001:db8::1") << level;
    EXPECT_TRUE(c.r.Has("SocksError 20019 socks 4 cannot carry the IPv6 address 2001:db8::1")) << c.r.Dump();
    EXPECT_EQ(c.s.GetState(), wsClosed);
  }
  EXPECT_EQ(srv.Accepted(), 0);
}

TEST(SocksScripted, ProxyOnIpv6Loopback) {
  std::string connect;
  RawServer srv6(
      [&](int fd) {
        RecvN(fd, 3);
        SendAll(fd, B({5, 0}));
        connect = RecvN(fd, 7 + 7);
        SendAll(fd, kReplyOk);
        RecvAll(fd, 300);
      },
      1, true);
  SocksClient c(srv6, "5");
  c.s.SetSocksServer("::1");
  c.s.SetSocksPort(srv6.PortStr());
  c.s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return c.r.Has("SessionConnected 0"); })) << c.r.Dump();
  EXPECT_EQ(connect, B({5, 1, 0, 3, 7}) + "example" + B({0, 80}));
  EXPECT_EQ(c.s.GetPeerAddr(), "::1");
}
