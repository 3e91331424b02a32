// State machine, events and their order, lookup, refusals, close paths,
// listening and accepting, background exceptions.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <memory>

#include "SocketTestUtil.h"
#include "platform/AsyncDns.h"
#include "support/NetNamespace.h"

using namespace socktest;

namespace {

std::string RefusalText(const std::function<void()>& f) {
  try {
    f();
  } catch (const ESocketException& e) {
    return e.what();
  }
  return "(no exception)";
}

}  // namespace

TEST(SocketCore, FreshSocketDefaults) {
  TWSocket s;
  EXPECT_EQ(s.GetState(), wsClosed);
  EXPECT_EQ(s.GetProto(), "tcp");
  EXPECT_EQ(s.GetLocalAddr(), "0.0.0.0");
  EXPECT_EQ(s.GetLocalPort(), "0");
  EXPECT_EQ(s.GetLingerOnOff(), wsLingerOn);
  EXPECT_EQ(s.GetKeepAliveOnOff(), wsKeepAliveOnSystem);
  EXPECT_EQ(s.GetKeepAliveTime(), 30000);
  EXPECT_EQ(s.GetListenBacklog(), 5);
  EXPECT_EQ(s.GetBufSize(), 1460);
  EXPECT_EQ(s.GetSocksLevel(), "5");
  EXPECT_EQ(s.GetLineEnd(), "\r\n");
  EXPECT_EQ(s.GetLineLimit(), 65536);
  EXPECT_FALSE(s.GetLineMode());
  EXPECT_TRUE(s.AllSent());
  EXPECT_NE(s.GetWindowHandle(), 0u);
}

TEST(SocketCore, ConnectRefusalsInOrderAndThroughOnError) {
  TWSocket s;
  EXPECT_EQ(RefusalText([&] { s.Connect(); }), "Connect: No Port Specified");
  s.SetPort("80");
  EXPECT_EQ(RefusalText([&] { s.Connect(); }), "Connect: No IP Address Specified");
  s.SetAddr("127.0.0.1");
  s.SetProto("");
  EXPECT_EQ(RefusalText([&] { s.Connect(); }), "Connect: No Protocol Specified");
  s.SetProto("tcp");
  s.SetAddr("300.300.300.300");
  std::string t = RefusalText([&] { s.Connect(); });
  EXPECT_EQ(t.rfind("connect: WSocketResolveHost: Cannot convert host address", 0), 0u) << t;
  EXPECT_EQ(s.GetState(), wsClosed);

  // With OnError assigned the call returns and the event fires instead.
  int errors = 0;
  s.OnError = [&](TObject*) { ++errors; };
  s.SetAddr("");
  EXPECT_NO_THROW(s.Connect());
  EXPECT_EQ(errors, 1);
}

TEST(SocketCore, SuccessfulConnectionEventsThenPeerClose) {
  RawServer srv([](int fd) {
    SleepMs(100);
    SendAll(fd, "hello");
    SleepMs(100);
  });
  Recorder r;
  TWSocket s;
  r.Attach(s);
  std::string got;
  s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    char buf[64];
    int n = s.Receive(buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    r.ev.push_back("DataAvailable " + std::to_string(n));
  };
  s.SetAddr("127.0.0.1");
  s.SetPort(srv.PortStr());
  s.Connect();
  EXPECT_EQ(s.GetState(), wsConnecting);
  ASSERT_TRUE(PumpUntil([&] { return r.Has("SessionClosed 0"); })) << r.Dump();
  EXPECT_EQ(got, "hello");
  std::vector<std::string> expect = {"ChangeState wsClosed->wsOpened", "ChangeState wsOpened->wsConnecting",
                                     "ChangeState wsConnecting->wsConnected", "SessionConnected 0",
                                     "DataAvailable 5"};
  ASSERT_GE(r.ev.size(), expect.size() + 2);
  for (std::size_t i = 0; i < expect.size(); ++i) EXPECT_EQ(r.ev[i], expect[i]) << r.Dump();
  // The close notification offers the rest (nothing: Receive gives 0), then closes.
  EXPECT_EQ(r.ev[r.ev.size() - 3], "DataAvailable 0") << r.Dump();
  EXPECT_EQ(r.ev[r.ev.size() - 2], "SessionClosed 0") << r.Dump();
  EXPECT_EQ(r.ev.back(), "ChangeState wsConnected->wsClosed") << r.Dump();
  EXPECT_EQ(r.Count("SessionClosed 0"), 1);
  EXPECT_EQ(s.GetReadCount(), 0);  // reset by the close
  // Addr and Port count as unassigned after a close.
  EXPECT_EQ(RefusalText([&] { s.Connect(); }), "Connect: No Port Specified");
  s.SetPort(srv.PortStr());  // the same text again is accepted
  EXPECT_EQ(RefusalText([&] { s.Connect(); }), "Connect: No IP Address Specified");
}

TEST(SocketCore, RefusedConnectionOrder) {
  Recorder r;
  TWSocket s;
  r.Attach(s);
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(ClosedPort()));
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return r.Has("SessionClosed 0"); })) << r.Dump();
  PumpFor(50);
  std::vector<std::string> expect = {"ChangeState wsClosed->wsOpened",        "ChangeState wsOpened->wsConnecting",
                                     "ChangeState wsConnecting->wsConnected", "SessionConnected 10061",
                                     "ChangeState wsConnected->wsClosed",     "SessionClosed 0"};
  EXPECT_EQ(r.ev, expect) << r.Dump();
  EXPECT_EQ(s.GetState(), wsClosed);
}

TEST(SocketCore, ConnectWithoutRouteEndsLikeARefusedOne) {
  if (!netns::InEmptyNetNamespace()) return;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(80);
  int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int err = errno;
  ::close(fd);
  ASSERT_TRUE(rc == -1 && err == ENETUNREACH) << "the system should refuse at once here";

  const int openBefore = plat::WsOpenSocketCount();
  Recorder r;
  TWSocket s;
  r.Attach(s);
  int errors = 0;
  s.OnError = [&](TObject*) { ++errors; };  // as the HTTP client has it
  s.SetAddr("127.0.0.1");
  s.SetPort("80");
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return r.Has("SessionClosed 0"); })) << r.Dump();
  PumpFor(50);
  std::vector<std::string> expect = {"ChangeState wsClosed->wsOpened",        "ChangeState wsOpened->wsConnecting",
                                     "ChangeState wsConnecting->wsConnected", "SessionConnected 10051",
                                     "ChangeState wsConnected->wsClosed",     "SessionClosed 0"};
  EXPECT_EQ(r.ev, expect) << r.Dump();
  EXPECT_EQ(errors, 0);
  EXPECT_EQ(s.GetHSocket(), INVALID_SOCKET);
  EXPECT_EQ(plat::WsOpenSocketCount(), openBefore);
}

TEST(SocketCore, ReconnectFromACloseNotificationKeepsAndReportsTheNewConnection) {
  // The handler connects again while the old connection's close is being
  // reported: after the peer closed, and after its own Close. The new
  // connection (likely the same descriptor number) must live on, get its
  // data only once connected, and have its own close reported.
  for (bool localClose : {false, true}) {
    std::atomic<int> conn{0};
    RawServer srv([&](int fd) {
      if (++conn == 1) {
        SendAll(fd, "bye");
        if (localClose) RecvAll(fd, 2000);
        return;
      }
      SendAll(fd, "second");
      SleepMs(300);
    }, 2);
    Recorder r;
    TWSocket s;
    r.Attach(s);
    int closes = 0;
    s.OnDataAvailable = [&](TObject*, std::uint16_t) {
      char b[64];
      int n = s.Receive(b, sizeof b);
      if (n <= 0) return;
      std::string got(b, static_cast<std::size_t>(n));
      r.ev.push_back("Data " + got);
      if (got == "bye" && localClose) s.Close();
    };
    s.OnSessionClosed = [&](TObject*, std::uint16_t e) {
      r.ev.push_back("SessionClosed " + std::to_string(e));
      if (++closes > 1) return;
      if (!localClose) s.Close();
      s.SetAddr("127.0.0.1");
      s.SetPort(srv.PortStr());
      s.Connect();
      SleepMs(100);  // the new peer's data is there before the old event ends
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(srv.PortStr());
    s.Connect();
    ASSERT_TRUE(PumpUntil([&] { return closes == 2; })) << localClose << "\n" << r.Dump();
    auto at = [&](const std::string& e, int nth) {
      for (std::size_t i = 0; i < r.ev.size(); ++i)
        if (r.ev[i] == e && --nth == 0) return static_cast<int>(i);
      return -1;
    };
    const int connected = at("SessionConnected 0", 2);
    const int data = at("Data second", 1);
    EXPECT_GE(connected, 0) << localClose << "\n" << r.Dump();
    EXPECT_GT(data, connected) << localClose << "\n" << r.Dump();
    EXPECT_EQ(s.GetState(), wsClosed);
  }
}

TEST(SocketCore, SecondConnectAndPropertyChangesRefusedWhileOpen) {
  RawServer srv([](int fd) { RecvAll(fd, 3000); });
  Recorder r;
  TWSocket s;
  r.Attach(s);
  s.SetAddr("127.0.0.1");
  s.SetPort(srv.PortStr());
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return r.Has("SessionConnected 0"); }));
  EXPECT_EQ(RefusalText([&] { s.Connect(); }), "Connect: Socket already in use");
  EXPECT_EQ(RefusalText([&] { s.SetAddr("127.0.0.2"); }), "Cannot change Addr if not closed");
  EXPECT_EQ(RefusalText([&] { s.SetPort("1"); }), "Cannot change Port if not closed");
  EXPECT_EQ(RefusalText([&] { s.SetProto("udp"); }), "Cannot change Proto if not closed");
  EXPECT_EQ(RefusalText([&] { s.SetLocalAddr("127.0.0.1"); }), "Cannot change LocalAddr if not closed");
  EXPECT_EQ(RefusalText([&] { s.SetLocalPort("0"); }), "Cannot change LocalPort if not closed");
  EXPECT_EQ(RefusalText([&] { s.SetSocksLevel("4"); }), "Can't change socks level if not closed");
  // Same text on an assigned property: accepted in any state.
  EXPECT_NO_THROW(s.SetAddr("127.0.0.1"));
  EXPECT_NO_THROW(s.SetPort(" " + srv.PortStr() + " "));
  EXPECT_EQ(s.GetPeerAddr(), "127.0.0.1");
  EXPECT_EQ(s.GetPeerPort(), srv.PortStr());
  EXPECT_EQ(s.GetLocalAddrText(), "127.0.0.1");
  EXPECT_NE(s.GetLocalPortText(), "error");
  int errors = 0;
  s.OnError = [&](TObject*) { ++errors; };
  s.Connect();
  EXPECT_EQ(errors, 1);
  s.Close();
  EXPECT_EQ(s.GetPeerAddr(), "error");
  EXPECT_EQ(s.GetLocalPortText(), "error");
  // OnSessionClosed once, although close happened locally and the peer closes too.
  PumpFor(100);
  EXPECT_EQ(r.Count("SessionClosed 0"), 1) << r.Dump();
}

TEST(SocketCore, DnsLookupDottedInsideCallAsyncAndFailure) {
  Recorder r;
  TWSocket s;
  r.Attach(s);
  s.DnsLookup("127.0.0.1");
  ASSERT_EQ(r.ev.size(), 1u);  // inside the call
  EXPECT_EQ(r.ev[0], "DnsLookupDone 0");
  EXPECT_EQ(s.GetDnsResult(), "127.0.0.1");
  ASSERT_EQ(s.GetDnsResultList().size(), 1u);

  r.ev.clear();
  s.DnsLookup("localhost");
  EXPECT_TRUE(r.ev.empty());  // asynchronous
  EXPECT_EQ(s.GetDnsResult(), "");
  ASSERT_TRUE(PumpUntil([&] { return !r.ev.empty(); }));
  EXPECT_EQ(r.ev[0], "DnsLookupDone 0");
  EXPECT_EQ(s.GetDnsResult(), "127.0.0.1");

  // All ones is not taken inside the call.
  r.ev.clear();
  s.DnsLookup("255.255.255.255");
  EXPECT_TRUE(r.ev.empty());
  ASSERT_TRUE(PumpUntil([&] { return !r.ev.empty(); }));

  r.ev.clear();
  s.DnsLookup("no-such-host.invalid");
  ASSERT_TRUE(PumpUntil([&] { return !r.ev.empty(); }, 15000));
  EXPECT_TRUE(r.ev[0] == "DnsLookupDone 11001" || r.ev[0] == "DnsLookupDone 11002") << r.Dump();
  EXPECT_EQ(s.GetDnsResult(), "");

  r.ev.clear();
  s.OnError = [&](TObject*) { r.ev.push_back("Error"); };
  s.DnsLookup("");
  EXPECT_EQ(r.ev, (std::vector<std::string>{"Error", "DnsLookupDone 10022"}));
}

TEST(SocketCore, DnsLookupCancelAndEarlyCompletion) {
  Recorder r;
  TWSocket s;
  r.Attach(s);
  s.DnsLookup("localhost");
  s.CancelDnsLookup();
  ASSERT_EQ(r.ev.size(), 1u);
  EXPECT_EQ(r.ev[0], "DnsLookupDone 10004");
  PumpFor(200);  // the worker's late completion is ignored
  EXPECT_EQ(r.ev.size(), 1u) << r.Dump();
  s.CancelDnsLookup();  // nothing pending: nothing happens
  EXPECT_EQ(r.ev.size(), 1u);

  // A completion delivered before the request handle is stored is handled
  // right after the request call returns.
  r.ev.clear();
  plat::WSAAsyncSetImmediateDelivery(true);
  s.DnsLookup("localhost");
  plat::WSAAsyncSetImmediateDelivery(false);
  ASSERT_EQ(r.ev.size(), 1u) << r.Dump();
  EXPECT_EQ(r.ev[0], "DnsLookupDone 0");
  EXPECT_EQ(s.GetDnsResult(), "127.0.0.1");
}

TEST(SocketCore, ReverseLookup) {
  Recorder r;
  TWSocket s;
  r.Attach(s);
  s.ReverseDnsLookupSync("127.0.0.1");
  ASSERT_EQ(r.ev.size(), 1u);
  EXPECT_EQ(r.ev[0], "DnsLookupDone 0");
  EXPECT_FALSE(s.GetDnsResult().empty());
  std::string syncName = s.GetDnsResult();
  r.ev.clear();
  s.ReverseDnsLookup("127.0.0.1");
  ASSERT_TRUE(PumpUntil([&] { return !r.ev.empty(); }));
  EXPECT_EQ(r.ev[0], "DnsLookupDone 0");
  EXPECT_EQ(s.GetDnsResult(), syncName);
  EXPECT_EQ(RefusalText([&] { s.ReverseDnsLookup(std::string(257, '1')); }), "ReverseDnsLookup: Invalid host name.");
}

TEST(SocketCore, ListenAcceptDupAndServerSideEvents) {
  Recorder sr;
  TWSocket server;
  server.SetAddr("127.0.0.1");
  server.SetPort("0");
  sr.Attach(server);
  std::unique_ptr<TWSocket> accepted;
  std::string serverGot;
  server.OnSessionAvailable = [&](TObject*, std::uint16_t err) {
    sr.ev.push_back("SessionAvailable " + std::to_string(err));
    TSocket h = server.Accept();
    accepted = std::make_unique<TWSocket>();
    accepted->SetLingerOnOff(wsLingerNoSet);
    accepted->OnDataAvailable = [&](TObject*, std::uint16_t) {
      std::string t = accepted->ReceiveText();
      serverGot += t;
      if (serverGot == "ping") accepted->SendText("pong");
    };
    accepted->Dup(h);
  };
  server.Listen();
  EXPECT_EQ(sr.ev, (std::vector<std::string>{"ChangeState wsClosed->wsBound", "ChangeState wsBound->wsListening"}));
  std::string port = server.GetLocalPortText();
  ASSERT_NE(port, "error");
  ASSERT_NE(port, "0");

  TWSocket client;
  std::string clientGot;
  client.OnSessionConnected = [&](TObject*, std::uint16_t e) {
    if (e == 0) client.SendText("ping");
  };
  client.OnDataAvailable = [&](TObject*, std::uint16_t) { clientGot += client.ReceiveText(); };
  client.SetAddr("127.0.0.1");
  client.SetPort(port);
  client.Connect();
  ASSERT_TRUE(PumpUntil([&] { return clientGot == "pong"; })) << clientGot;
  EXPECT_EQ(serverGot, "ping");
  EXPECT_TRUE(sr.Has("SessionAvailable 0"));
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->GetState(), wsConnected);
  EXPECT_EQ(accepted->GetPeerPort(), client.GetLocalPortText());

  // Accept outside listening is refused; Dup of a bad handle is refused.
  EXPECT_EQ(RefusalText([&] { client.Accept(); }), "Error 10022 in function not a listening socket\r\nInvalid argument");
  TWSocket other;
  EXPECT_EQ(RefusalText([&] { other.Dup(INVALID_SOCKET); }), "Error 10022 in function Dup\r\nInvalid argument");
}

TEST(SocketCore, ListenRefusals) {
  TWSocket s;
  EXPECT_EQ(RefusalText([&] { s.Listen(); }),
            "Error 10022 in function listen: port not assigned\r\nInvalid argument");
  s.SetPort("0");
  EXPECT_EQ(RefusalText([&] { s.Listen(); }),
            "Error 10022 in function listen: address not assigned\r\nInvalid argument");
  s.SetSocksServer("127.0.0.1");
  s.SetAddr("127.0.0.1");
  EXPECT_EQ(RefusalText([&] { s.Listen(); }), "Listening is not supported thru socks server");
}

// Connect and listen resolve through one step but keep their own rules: a
// failure names its caller, and only a connect resolves LocalPort.
TEST(SocketCore, ConnectAndListenResolveByTheirOwnRules) {
  TWSocket s;
  s.SetPort("0");
  s.SetAddr("300.300.300.300");
  std::string t = RefusalText([&] { s.Listen(); });
  EXPECT_EQ(t.rfind("listen: WSocketResolveHost: Cannot convert host address", 0), 0u) << t;
  s.SetAddr("127.0.0.1");
  s.SetProto("no-such-protocol");
  t = RefusalText([&] { s.Listen(); });
  EXPECT_EQ(t.rfind("listen: WSocketResolveProto: Cannot convert protocol", 0), 0u) << t;
  t = RefusalText([&] { s.Connect(); });
  EXPECT_EQ(t.rfind("connect: WSocketResolveProto: Cannot convert protocol", 0), 0u) << t;

  s.SetProto("tcp");
  s.SetLocalPort("no-such-service");
  t = RefusalText([&] { s.Connect(); });
  EXPECT_EQ(t.rfind("connect: WSocketResolvePort: Cannot convert port 'no-such-service'", 0), 0u) << t;
  EXPECT_EQ(s.GetState(), wsClosed);
  s.Listen();
  EXPECT_EQ(s.GetState(), wsListening);
  EXPECT_NE(s.GetLocalPortText(), "0");
}

TEST(SocketCore, UdpListenAndSendTo) {
  Recorder r;
  TWSocket rx;
  r.Attach(rx);
  std::string got;
  rx.OnDataAvailable = [&](TObject*, std::uint16_t) {
    char buf[128];
    TSockAddrIn from{};
    int flen = sizeof from;
    int n = rx.ReceiveFrom(buf, sizeof buf, from, flen);
    if (n > 0) got.assign(buf, static_cast<std::size_t>(n));
  };
  rx.SetProto("udp");
  rx.SetAddr("127.0.0.1");
  rx.SetPort("0");
  rx.Listen();
  EXPECT_EQ(rx.GetState(), wsConnected);
  EXPECT_TRUE(r.Has("SessionConnected 0"));
  std::string port = rx.GetLocalPortText();

  TWSocket tx;
  tx.SetProto("udp");
  tx.SetAddr("127.0.0.1");
  tx.SetPort(port);
  tx.Connect();
  EXPECT_EQ(tx.GetState(), wsConnected);
  EXPECT_EQ(tx.SendText("datagram"), 8);
  ASSERT_TRUE(PumpUntil([&] { return got == "datagram"; })) << got;
}

TEST(SocketCore, BackgroundExceptionAbortsUnlessKept) {
  RawServer srv([](int fd) { RecvAll(fd, 2000); });
  Recorder r;
  TWSocket s;
  r.Attach(s);
  std::string seen;
  bool keep = true;
  s.OnBgException = [&](TObject*, const std::exception& e, bool& CanClose) {
    seen = e.what();
    CanClose = !keep;
  };
  s.SetAddr("127.0.0.1");
  s.SetPort(srv.PortStr());
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return r.Has("SessionConnected 0"); }));
  s.PostTestException();
  ASSERT_TRUE(PumpUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen, "Test exception in WSocket");
  EXPECT_EQ(s.GetState(), wsConnected);  // CanClose false keeps it
  seen.clear();
  keep = false;
  // An exception escaping an event handler ends up there too.
  s.OnDataSent = [&](TObject*, std::uint16_t) { throw std::runtime_error("handler failed"); };
  s.SendText("x");
  ASSERT_TRUE(PumpUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen, "handler failed");
  EXPECT_EQ(s.GetState(), wsClosed);
  EXPECT_TRUE(r.Has("SessionClosed 0"));
}

TEST(SocketCore, PostCloseAndPostRelease) {
  RawServer srv([](int fd) { RecvAll(fd, 2000); });
  Recorder r;
  TWSocket s;
  r.Attach(s);
  s.SetAddr("127.0.0.1");
  s.SetPort(srv.PortStr());
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return r.Has("SessionConnected 0"); }));
  s.PostClose();
  EXPECT_EQ(s.GetState(), wsConnected);  // only when the message is handled
  ASSERT_TRUE(PumpUntil([&] { return s.GetState() == wsClosed; }));
  EXPECT_TRUE(r.Has("SessionClosed 0"));

  int before = WSocketLiveCount();
  auto* p = new TWSocket;
  EXPECT_EQ(WSocketLiveCount(), before + 1);
  p->PostRelease();
  ASSERT_TRUE(PumpUntil([&] { return WSocketLiveCount() == before; }));
}

TEST(SocketCore, AbortDiscardsQueueAndReportsClose) {
  RawServer srv([](int fd) {
    SleepMs(300);  // does not read for a while: the queue fills
    // Then reads until the client's Abort: closing with unread bytes first
    // would reset the connection before the Abort on a slow machine.
    RecvAll(fd, 30000);
  });
  Recorder r;
  TWSocket s;
  r.Attach(s);
  s.SetAddr("127.0.0.1");
  s.SetPort(srv.PortStr());
  s.OnSessionConnected = [&](TObject*, std::uint16_t) {
    std::string big(32 * 1024 * 1024, 'z');
    s.Send(big.data(), static_cast<int>(big.size()));
  };
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return s.BufferedByteCount() > 0; }));
  s.Abort();
  EXPECT_EQ(s.GetState(), wsClosed);
  EXPECT_EQ(s.BufferedByteCount(), 0);
  EXPECT_EQ(s.SendQueueBlockCount(), 0);
  EXPECT_TRUE(r.Has("SessionClosed 0"));
}

TEST(SocketCore, LoggerLinesAndDetachOnDestroy) {
  RawServer srv([](int fd) { RecvAll(fd, 2000); });
  TWSocket s;
  auto logger = std::make_unique<TQelLogger>();
  std::vector<std::string> lines;
  logger->SetLogOptions({loDestEvent, loWsockInfo, loWsockDump});
  logger->SetOnQelLogEvent([&](TObject* sender, TLogOption, const std::string& m) {
    EXPECT_EQ(sender, &s);
    lines.push_back(m);
  });
  s.SetQelLogger(logger.get());
  s.SetAddr("127.0.0.1");
  s.SetPort(srv.PortStr());
  bool connected = false;
  s.OnSessionConnected = [&](TObject*, std::uint16_t) { connected = true; };
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return connected; }));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "TWSocket will connect to 127.0.0.1:" + srv.PortStr());
  std::string h = std::to_string(s.GetHSocket());
  bool sawConnect = false;
  for (auto& l : lines) sawConnect = sawConnect || l == "AsyncSelect CtrlSocket" + h + ", 16 FD_CONNECT";
  EXPECT_TRUE(sawConnect);
  logger.reset();  // the socket forgets a destroyed logger
  EXPECT_EQ(s.GetQelLogger(), nullptr);
  s.Close();
}

TEST(SocketCore, DetachAttachRunsTheSocketOnAWorkerThread) {
  RawServer srv([](int fd) {
    SendAll(fd, "from peer");
    RecvN(fd, 4, 3000);
    SleepMs(50);
  });
  TWSocket s;
  s.SetMultiThreaded(true);
  EXPECT_THROW(s.AttachToThread(), ESocketException);  // still attached here
  s.DetachFromThread();
  EXPECT_EQ(s.GetWindowHandle(), 0u);

  std::string got;
  bool closed = false;
  bool sameThread = true;
  std::thread worker([&] {
    const auto me = std::this_thread::get_id();
    s.AttachToThread();
    s.OnSessionConnected = [&](TObject*, std::uint16_t) { sameThread = sameThread && std::this_thread::get_id() == me; };
    s.OnDataAvailable = [&](TObject*, std::uint16_t) {
      sameThread = sameThread && std::this_thread::get_id() == me;
      got += s.ReceiveText();
      if (got == "from peer") s.SendText("done");
    };
    s.OnSessionClosed = [&](TObject*, std::uint16_t) { closed = true; };
    s.SetAddr("127.0.0.1");
    s.SetPort(srv.PortStr());
    s.Connect();
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!closed && std::chrono::steady_clock::now() < end) {
      plat::WaitForInput(10);
      s.ProcessOwnQueue();
    }
    s.DetachFromThread();
  });
  worker.join();
  EXPECT_TRUE(closed);
  EXPECT_TRUE(sameThread);
  EXPECT_EQ(got, "from peer");
  s.AttachToThread();  // back on this thread for its destruction
  EXPECT_NE(s.GetWindowHandle(), 0u);
}

TEST(SocketCore, SocketOptionsReachTheSystem) {
  RawServer srv([](int fd) { RecvAll(fd, 1000); }, 2);
  auto intOpt = [](TSocket h, int level, int opt) {
    int v = -1;
    socklen_t len = sizeof v;
    ::getsockopt(static_cast<int>(h), level, opt, &v, &len);
    return v;
  };
  {
    TWSocket s;
    s.SetComponentOptions({wsoTcpNoDelay});
    s.SetKeepAliveOnOff(wsKeepAliveOnCustom);
    s.SetKeepAliveTime(45000);
    s.SetKeepAliveInterval(3000);
    s.SetAddr("127.0.0.1");
    s.SetPort(srv.PortStr());
    s.Connect();
    TSocket h = s.GetHSocket();
    EXPECT_EQ(intOpt(h, IPPROTO_TCP, TCP_NODELAY), 1);
    EXPECT_EQ(intOpt(h, SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(intOpt(h, IPPROTO_TCP, TCP_KEEPIDLE), 45);
    EXPECT_EQ(intOpt(h, IPPROTO_TCP, TCP_KEEPINTVL), 3);
    EXPECT_EQ(intOpt(h, SOL_SOCKET, SO_REUSEADDR), 1);
    linger l{};
    socklen_t len = sizeof l;
    ::getsockopt(static_cast<int>(h), SOL_SOCKET, SO_LINGER, &l, &len);
    EXPECT_EQ(l.l_onoff, 1);  // the default: on, 0 seconds
    EXPECT_EQ(l.l_linger, 0);
    EXPECT_GT(s.SocketSndBufSize(), 0);
    EXPECT_GT(s.SocketRcvBufSize(), 0);
    s.Abort();
  }
  {
    TWSocket s;
    s.SetKeepAliveOnOff(wsKeepAliveOff);
    s.SetLingerOnOff(wsLingerNoSet);
    s.SetLocalAddr("127.0.0.1");
    s.SetAddr("127.0.0.1");
    s.SetPort(srv.PortStr());
    s.Connect();
    TSocket h = s.GetHSocket();
    EXPECT_EQ(intOpt(h, IPPROTO_TCP, TCP_NODELAY), 0);
    EXPECT_EQ(intOpt(h, SOL_SOCKET, SO_KEEPALIVE), 0);
    linger l{};
    socklen_t len = sizeof l;
    ::getsockopt(static_cast<int>(h), SOL_SOCKET, SO_LINGER, &l, &len);
    EXPECT_EQ(l.l_onoff, 0);
    // Binding to the local address filled in the port actually bound.
    EXPECT_NE(s.GetLocalPort(), "0");
    s.Close();
  }
}

TEST(SocketCore, CloseNotificationWhileConnectingIsIgnored) {
  RawServer srv([](int fd) { RecvAll(fd, 1000); });
  Recorder r;
  TWSocket s;
  r.Attach(s);
  s.SetAddr("127.0.0.1");
  s.SetPort(srv.PortStr());
  s.Connect();
  ASSERT_EQ(s.GetState(), wsConnecting);
  // Queued ahead of the connect notification.
  plat::PostMessage(s.GetWindowHandle(), WM_ASYNCSELECT, static_cast<plat::WPARAM>(s.GetHSocket()),
                    plat::WSAMakeSelectReply(plat::FD_CLOSE, 0));
  ASSERT_TRUE(PumpUntil([&] { return r.Has("SessionConnected 0"); }));
  PumpFor(50);
  EXPECT_EQ(s.GetState(), wsConnected);
  EXPECT_FALSE(r.Has("SessionClosed 0"));
  // A message for another handle is ignored as well.
  plat::PostMessage(s.GetWindowHandle(), WM_ASYNCSELECT, static_cast<plat::WPARAM>(s.GetHSocket() + 1000),
                    plat::WSAMakeSelectReply(plat::FD_CLOSE, 0));
  PumpFor(50);
  EXPECT_EQ(s.GetState(), wsConnected);
  s.Close();
}

TEST(SocketCore, SendFlagsAndTheirRefusals) {
  TWSocket s;
  EXPECT_EQ(s.GetSendFlags(), wsSendNormal);
  s.SetSendFlags(wsSendUrgent);
  EXPECT_EQ(s.GetSendFlags(), wsSendUrgent);
  std::string text;
  try {
    s.SetSendFlags(static_cast<TSocketSendFlags>(7));
  } catch (const ESocketException& e) {
    text = e.what();
  }
  EXPECT_EQ(text, "Invalid SendFlags");
  EXPECT_EQ(s.GetSendFlags(), wsSendUrgent);
}
