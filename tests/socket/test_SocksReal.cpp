// Tunnels through real SOCKS servers: danted (SOCKS 4, 4A, 5, with and
// without user and password) and microsocks (SOCKS 5).
#include <gtest/gtest.h>

#include "SocksPeers.h"

using namespace socktest;

namespace {

struct Outcome {
  std::vector<std::string> ev;
  std::string data;
  std::string Dump() const {
    std::string s;
    for (auto& e : ev) s += e + "\n";
    return s + "data: " + data;
  }
  bool Has(const std::string& e) const { return std::find(ev.begin(), ev.end(), e) != ev.end(); }
  std::vector<std::string> Socks() const {  // the SOCKS and session events
    std::vector<std::string> out;
    for (auto& e : ev)
      if (e.rfind("ChangeState", 0) != 0) out.push_back(e);
    return out;
  }
};

// The destination: answers "ping" with "pong" for each connection.
class PongServer {
 public:
  explicit PongServer(int conns)
      : FSrv(
            [](int fd) {
              if (RecvN(fd, 4, 3000) == "ping") SendAll(fd, "pong");
              RecvAll(fd, 2000);
            },
            conns) {}
  std::string PortStr() const { return FSrv.PortStr(); }

 private:
  RawServer FSrv;
};

Outcome Tunnel(int proxyPort, const std::string& level, const std::string& addr, const std::string& destPort,
               const std::string& user = "", const std::string& pass = "", bool auth = false) {
  Outcome o;
  Recorder r;
  TWSocket s;
  r.Attach(s);
  s.OnSessionConnected = [&](TObject*, std::uint16_t e) {
    r.ev.push_back("SessionConnected " + std::to_string(e));
    if (e == 0) s.SendText("ping");
  };
  s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    o.data += s.ReceiveText();
    if (o.data == "pong") s.Close();
  };
  s.SetAddr(addr);
  s.SetPort(destPort);
  s.SetSocksServer("127.0.0.1");
  s.SetSocksPort(std::to_string(proxyPort));
  s.SetSocksLevel(level);
  s.SetSocksUsercode(user);
  s.SetSocksPassword(pass);
  if (auth) s.SetSocksAuthentication(socksAuthenticateUsercode);
  s.Connect();
  PumpUntil([&] { return s.GetState() == wsClosed; }, 10000);
  o.ev = r.ev;
  return o;
}

const std::vector<std::string> kOk5 = {"SocksConnected 0", "SessionConnected 0", "SessionClosed 0"};
const std::vector<std::string> kOk5Auth = {"SocksConnected 0", "SocksAuthState 0", "SocksAuthState 1",
                                           "SessionConnected 0", "SessionClosed 0"};

}  // namespace

TEST(SocksDante, Socks5And4WithoutAuthentication) {
  if (!Executable("/usr/sbin/danted")) GTEST_SKIP() << "danted is not installed (package dante-server)";
  Dante d;
  ASSERT_TRUE(d.Start("none")) << d.error;
  PongServer dest(4);

  Outcome o5 = Tunnel(d.port, "5", "127.0.0.1", dest.PortStr());
  EXPECT_EQ(o5.data, "pong") << o5.Dump();
  EXPECT_EQ(o5.Socks(), kOk5) << o5.Dump();

  // SOCKS 5 always sends the name: the proxy resolves it.
  Outcome o5n = Tunnel(d.port, "5", "localhost", dest.PortStr());
  EXPECT_EQ(o5n.data, "pong") << o5n.Dump();

  Outcome o4 = Tunnel(d.port, "4", "127.0.0.1", dest.PortStr(), "someone");
  EXPECT_EQ(o4.data, "pong") << o4.Dump();
  EXPECT_EQ(o4.Socks(), kOk5) << o4.Dump();

  // SOCKS 4 resolves the destination locally.
  Outcome o4n = Tunnel(d.port, "4", "localhost", dest.PortStr());
  EXPECT_EQ(o4n.data, "pong") << o4n.Dump();

  std::string log;
  PumpUntil([&] {
    log = ReadTextFile(d.Log());
    return log.find("pass(1): tcp/connect") != std::string::npos;
  }, 3000);
  EXPECT_NE(log.find("pass(1): tcp/connect"), std::string::npos) << log;
}

TEST(SocksDante, Socks4AIsSentAsANameButThisDanteTakesIt4Only) {
  if (!Executable("/usr/sbin/danted")) GTEST_SKIP() << "danted is not installed (package dante-server)";
  Dante d;
  ASSERT_TRUE(d.Start("none")) << d.error;
  PongServer dest(1);
  // Dante 1.4 reads a 4A request as plain SOCKS 4 and tries 0.0.0.1: it
  // refuses with code 91, which must come out as 20016.
  Outcome o = Tunnel(d.port, "4A", "localhost", dest.PortStr(), "me");
  EXPECT_EQ(o.Socks(), (std::vector<std::string>{"SocksConnected 0", "SocksError 20016 request rejected or failed",
                                                 "SessionConnected 20016", "SessionClosed 20016"}))
      << o.Dump();
  // The proxy writes its log line a little later.
  std::string log;
  PumpUntil([&] {
    log = ReadTextFile(d.Log());
    return log.find("0.0.0.1." + dest.PortStr()) != std::string::npos;
  }, 3000);
  EXPECT_NE(log.find("0.0.0.1." + dest.PortStr()), std::string::npos) << log;
}

TEST(SocksDante, Socks5WithUserAndPassword) {
  if (!Executable("/usr/sbin/danted")) GTEST_SKIP() << "danted is not installed (package dante-server)";
  std::string why = EnsureSocksUser();
  if (!why.empty()) GTEST_SKIP() << why;
  Dante d;
  ASSERT_TRUE(d.Start("username")) << d.error;
  PongServer dest(1);

  Outcome ok = Tunnel(d.port, "5", "127.0.0.1", dest.PortStr(), kSocksUser, kSocksPassword, true);
  EXPECT_EQ(ok.data, "pong") << ok.Dump();
  EXPECT_EQ(ok.Socks(), kOk5Auth) << ok.Dump();
  std::string log;
  const std::string who = std::string("username%") + kSocksUser + "@127.0.0.1";
  PumpUntil([&] {
    log = ReadTextFile(d.Log());
    return log.find(who) != std::string::npos;
  }, 3000);
  EXPECT_NE(log.find(who), std::string::npos) << log;

  Outcome bad = Tunnel(d.port, "5", "127.0.0.1", dest.PortStr(), kSocksUser, "wrong", true);
  EXPECT_TRUE(bad.Has("SocksError 20015 socks authentication failed")) << bad.Dump();
  EXPECT_TRUE(bad.Has("SessionClosed 20015")) << bad.Dump();
  EXPECT_EQ(bad.data, "");

  Outcome none = Tunnel(d.port, "5", "127.0.0.1", dest.PortStr());
  EXPECT_TRUE(none.Has("SocksError 20003 authentification method not acceptable")) << none.Dump();
  EXPECT_TRUE(none.Has("SessionClosed 20003")) << none.Dump();
}

TEST(SocksMicrosocks, Socks5WithAndWithoutUserAndPassword) {
  if (!Executable("/usr/bin/microsocks")) GTEST_SKIP() << "microsocks is not installed (package microsocks)";
  PongServer dest(3);
  {
    MicroSocks m;
    ASSERT_TRUE(m.Start()) << m.error;
    Outcome o = Tunnel(m.port, "5", "127.0.0.1", dest.PortStr());
    EXPECT_EQ(o.data, "pong") << o.Dump();
    EXPECT_EQ(o.Socks(), kOk5) << o.Dump();
  }
  {
    MicroSocks m;
    ASSERT_TRUE(m.Start("mu", "mp-123")) << m.error;
    Outcome o = Tunnel(m.port, "5", "localhost", dest.PortStr(), "mu", "mp-123", true);
    EXPECT_EQ(o.data, "pong") << o.Dump();
    EXPECT_EQ(o.Socks(), kOk5Auth) << o.Dump();
    Outcome bad = Tunnel(m.port, "5", "127.0.0.1", dest.PortStr(), "mu", "nope", true);
    EXPECT_TRUE(bad.Has("SocksError 20015 socks authentication failed")) << bad.Dump();
    Outcome none = Tunnel(m.port, "5", "127.0.0.1", dest.PortStr());
    EXPECT_TRUE(none.Has("SocksError 20003 authentification method not acceptable")) << none.Dump();
  }
}
