// THttpCli over TLS with its https option on: nginx with a throw-away
// certificate authority, relocations between http and https, keep-alive,
// certificate and name checks, a handshake that is aborted, cut or answered
// with garbage, and the tunnels through squid (CONNECT) and dante (SOCKS 5).
#include <gtest/gtest.h>

#include <chrono>

#include "http/HttpPeer.h"
#include "http/TlsPeers.h"

using namespace httptest;

namespace {

// "<connection> <port> <request>" split in its three parts.
struct LogLine {
  std::string conn, port, request;
};
LogLine Split(const std::string& l) {
  LogLine r;
  std::size_t a = l.find(' '), b = l.find(' ', a + 1);
  r.conn = l.substr(0, a);
  r.port = l.substr(a + 1, b - a - 1);
  r.request = l.substr(b + 1);
  return r;
}

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

class HttpsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    certs = new TestCertificates;
    made = certs->Make();
  }
  static void TearDownTestSuite() {
    delete certs;
    certs = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(made) << certs->error;
    ASSERT_TRUE(nginx.Start(*certs)) << nginx.error;
    data = Pattern(300000, 54321);
    WriteFile(nginx.Www() + "/file.bin", data);
    WriteFile(nginx.Www() + "/small.txt", "small file\n");
  }
  // A client with https on that trusts the test authority.
  void Trusting(RecordingClient& rc) {
    rc.cli.HttpsEnabled = true;
    rc.cli.SslTrust.CaFile = certs->CaFile();
  }

  static TestCertificates* certs;
  static bool made;
  TlsNginx nginx;
  std::string data;
};

TestCertificates* HttpsTest::certs = nullptr;
bool HttpsTest::made = false;

}  // namespace

TEST_F(HttpsTest, DownloadIsByteIdentical) {
  RecordingClient rc;
  Trusting(rc);
  plat::TMemoryStream ms;
  rc.cli.ReceiveStream = &ms;
  rc.cli.URL = nginx.Https("/file.bin");
  rc.cli.Get();
  EXPECT_EQ(rc.cli.StatusCode(), 200);
  EXPECT_EQ(rc.cli.ReceivedCount(), 300000);
  EXPECT_TRUE(ms.DataString() == data);
  EXPECT_EQ(rc.doneError, 0);
  // Seen by the client as a plain answer: one connect, one document.
  EXPECT_EQ(rc.Count("SessionConnected"), 1);
  EXPECT_EQ(rc.Count("DocBegin"), 1);
  EXPECT_EQ(rc.Count("DocEnd"), 1);
  ASSERT_TRUE(PumpUntil([&] { return LogLines(nginx.AccessLog()).size() == 1; }, 5000));
  EXPECT_EQ(Split(LogLines(nginx.AccessLog())[0]).port, std::to_string(nginx.tlsPort));
}

TEST_F(HttpsTest, KeepAliveReusesTheTlsConnection) {
  RecordingClient rc;
  Trusting(rc);
  rc.cli.SetRequestVer("1.1");
  plat::TMemoryStream ms;
  rc.cli.ReceiveStream = &ms;
  for (const char* path : {"/small.txt", "/file.bin", "/small.txt"}) {
    rc.cli.URL = nginx.Https(path);
    rc.cli.Get();
    EXPECT_EQ(rc.cli.StatusCode(), 200) << path;
  }
  EXPECT_TRUE(ms.DataString() == "small file\n" + data + "small file\n");
  EXPECT_EQ(rc.Count("State:httpDnsLookup"), 1);
  ASSERT_TRUE(PumpUntil([&] { return LogLines(nginx.AccessLog()).size() == 3; }, 5000));
  auto lines = LogLines(nginx.AccessLog());
  for (const auto& l : lines) EXPECT_EQ(Split(l).conn, Split(lines[0]).conn) << l;
  EXPECT_EQ(Split(lines[1]).request, "GET /file.bin HTTP/1.1");
}

TEST_F(HttpsTest, RelocationsFromHttpToHttpsAndBack) {
  RecordingClient rc;
  Trusting(rc);
  plat::TMemoryStream ms;
  rc.cli.ReceiveStream = &ms;
  rc.cli.URL = nginx.Http("/to-tls/to-plain/file.bin");
  rc.cli.Get();
  EXPECT_EQ(rc.cli.StatusCode(), 200);
  EXPECT_TRUE(ms.DataString() == data);
  std::vector<std::string> locations;
  for (const auto& l : rc.log)
    if (l.compare(0, 15, "LocationChange:") == 0) locations.push_back(l.substr(15));
  EXPECT_EQ(locations, (std::vector<std::string>{nginx.Https("/to-plain/file.bin"), nginx.Http("/file.bin")}));
  ASSERT_TRUE(PumpUntil([&] { return LogLines(nginx.AccessLog()).size() == 3; }, 5000));
  auto lines = LogLines(nginx.AccessLog());
  EXPECT_EQ(Split(lines[0]).port, std::to_string(nginx.plainPort));
  EXPECT_EQ(Split(lines[1]).port, std::to_string(nginx.tlsPort));
  EXPECT_EQ(Split(lines[1]).request, "GET /to-plain/file.bin HTTP/1.0");
  EXPECT_EQ(Split(lines[2]).port, std::to_string(nginx.plainPort));
}

TEST_F(HttpsTest, UntrustedCertificateIsRefusedUnlessTrustedOrUnchecked) {
  {  // The system's store does not know the test authority.
    RecordingClient rc;
    rc.cli.HttpsEnabled = true;
    rc.cli.URL = nginx.Https("/small.txt");
    try {
      rc.cli.Get();
      FAIL() << "no exception";
    } catch (const EHttpException& e) {
      EXPECT_EQ(e.ErrorCode, 404);
    }
    EXPECT_EQ(rc.doneError, sslCertificateRejected);
    EXPECT_TRUE(Contains(rc.cli.ReasonPhrase(), "localhost")) << rc.cli.ReasonPhrase();
    EXPECT_TRUE(Contains(rc.cli.ReasonPhrase(),
                         "certificate verify failed: self-signed certificate in certificate chain"))
        << rc.cli.ReasonPhrase();
    EXPECT_TRUE(rc.body.empty());
    EXPECT_EQ(rc.cli.CtrlSocket()->GetState(), wsClosed);
  }
  {
    RecordingClient rc;
    Trusting(rc);
    rc.cli.URL = nginx.Https("/small.txt");
    rc.cli.Get();
    EXPECT_EQ(rc.body, "small file\n");
  }
  {
    RecordingClient rc;
    rc.cli.HttpsEnabled = true;
    rc.cli.SslTrust.VerifyPeer = false;
    rc.cli.URL = nginx.Https("/small.txt", "127.0.0.1");  // not even the right name
    rc.cli.Get();
    EXPECT_EQ(rc.body, "small file\n");
  }
  ASSERT_TRUE(PumpUntil([&] { return LogLines(nginx.AccessLog()).size() == 2; }, 5000));
}

TEST_F(HttpsTest, WrongHostNameIsRefused) {
  RecordingClient rc;
  Trusting(rc);
  rc.cli.URL = nginx.Https("/small.txt", "127.0.0.1");
  ASSERT_TRUE(rc.RunAsync());
  EXPECT_EQ(rc.cli.StatusCode(), 404);
  EXPECT_EQ(rc.doneError, sslCertificateRejected);
  EXPECT_TRUE(Contains(rc.cli.ReasonPhrase(), "certificate verify failed: IP address mismatch"))
      << rc.cli.ReasonPhrase();
  EXPECT_TRUE(rc.body.empty());
  plat::WaitForInput(100);
  EXPECT_TRUE(LogLines(nginx.AccessLog()).empty());
}

// The proxy sees the CONNECT and its credentials (answered as for any
// request), the server the path alone.
TEST_F(HttpsTest, ThroughSquidByConnectOpenBasicAndNtlm) {
  struct Case {
    std::string auth, user, pass;
    int connects;             // CONNECT requests sent
    std::string authLine;     // the credentials' line, sent once a pass
    int authLines;
  };
  const Case cases[] = {{"", "puser", "ppass", 1, "Proxy-Authorization: ", 0},
                        {"basic", "puser", "ppass", 2, "Proxy-Authorization: Basic ", 1},
                        {"ntlm", "ntlmuser", "secret", 3, "Proxy-Authorization: NTLM ", 2}};
  const std::string target = "localhost:" + std::to_string(nginx.tlsPort);
  std::size_t served = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.auth);
    Squid squid;
    ASSERT_TRUE(squid.Start(c.auth, c.user, c.pass)) << squid.error;
    RecordingClient rc;
    Trusting(rc);
    rc.cli.Proxy = "127.0.0.1:" + std::to_string(squid.port);
    rc.cli.ProxyUsername = c.user;
    rc.cli.ProxyPassword = c.pass;
    plat::TMemoryStream ms;
    rc.cli.ReceiveStream = &ms;
    rc.cli.URL = nginx.Https("/file.bin");
    rc.cli.Get();
    EXPECT_EQ(rc.cli.StatusCode(), 200);
    // The refused answers' pages went through OnDocData but not into the stream.
    EXPECT_TRUE(ms.DataString() == data);
    EXPECT_EQ(rc.Count("Command:CONNECT " + target + " HTTP/1.0"), c.connects);
    EXPECT_EQ(rc.Count("Command:GET /file.bin HTTP/1.0"), 1);
    EXPECT_EQ(rc.CountPrefix("Command:" + c.authLine), c.authLines);
    EXPECT_EQ(rc.CountPrefix("Command:Proxy-"), c.authLines + (c.auth == "ntlm" ? 2 : 0));  // + Proxy-Connection
    const std::string want = "CONNECT " + target + " " + (c.auth.empty() ? "-" : c.user);
    ASSERT_TRUE(PumpUntil([&] { return Contains(ReadFile(squid.AccessLog()), want); }, 5000))
        << ReadFile(squid.AccessLog());
    ++served;
    ASSERT_TRUE(PumpUntil([&] { return LogLines(nginx.AccessLog()).size() == served; }, 5000));
    EXPECT_EQ(Split(LogLines(nginx.AccessLog()).back()).request, "GET /file.bin HTTP/1.0");
  }
}

TEST_F(HttpsTest, ThroughDanteAsSocks5) {
  Dante dante;
  ASSERT_TRUE(dante.Start()) << dante.error;
  RecordingClient rc;
  Trusting(rc);
  std::vector<int> socksConnected;
  rc.cli.OnSocksConnected = [&](TObject*, std::uint16_t e) { socksConnected.push_back(e); };
  rc.cli.SocksServer = "127.0.0.1";
  rc.cli.SocksPort = std::to_string(dante.port);
  plat::TMemoryStream ms;
  rc.cli.ReceiveStream = &ms;
  rc.cli.URL = nginx.Https("/file.bin");
  rc.cli.Get();
  EXPECT_EQ(rc.cli.StatusCode(), 200);
  EXPECT_TRUE(ms.DataString() == data);
  EXPECT_EQ(socksConnected, std::vector<int>{0});
  const std::string want = "127.0.0.1." + std::to_string(nginx.tlsPort);
  ASSERT_TRUE(PumpUntil([&] { return Contains(ReadFile(dante.Log()), want); }, 5000)) << ReadFile(dante.Log());
}

// Handshakes that go wrong: a server that never answers (aborted), one
// that closes after the client's hello and one that answers with garbage.
TEST(HttpsHandshake, AbortCutAndGarbage) {
  std::atomic<bool> helloSeen{false};
  ScriptedServer server([&](PeerConn& c, int index) {
    char buf[512];
    ssize_t n = ::recv(c.fd(), buf, sizeof buf, 0);
    helloSeen = n > 0;
    if (index == 0) c.WaitForClientClose();
    if (index == 2) c.Send("HTTP/1.1 400 Bad Request\r\nContent-Length: 4\r\n\r\nnope" + std::string(600, '\x17'));
    // index 1: closes at once
  });
  {
    RecordingClient rc;
    rc.cli.HttpsEnabled = true;
    rc.cli.URL = "https://127.0.0.1:" + server.PortText() + "/x";
    rc.cli.GetASync();
    ASSERT_TRUE(PumpUntil([&] { return helloSeen.load(); }));
    EXPECT_EQ(rc.cli.State(), httpDnsLookupDone);
    const auto t0 = std::chrono::steady_clock::now();
    rc.cli.Abort();
    ASSERT_TRUE(PumpUntil([&] { return rc.done; }, 2000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    EXPECT_EQ(rc.cli.StatusCode(), 404);
    EXPECT_EQ(rc.cli.ReasonPhrase(), "Connection aborted on request");
    EXPECT_EQ(rc.doneError, 3);
    EXPECT_EQ(rc.cli.CtrlSocket()->GetState(), wsClosed);
  }
  for (const char* why : {"connection closed during the TLS handshake", "TLS handshake failed: "}) {
    helloSeen = false;
    RecordingClient rc;
    rc.cli.HttpsEnabled = true;
    rc.cli.URL = "https://127.0.0.1:" + server.PortText() + "/x";
    ASSERT_TRUE(rc.RunAsync());
    EXPECT_TRUE(helloSeen);
    EXPECT_EQ(rc.cli.StatusCode(), 404) << why;
    EXPECT_EQ(rc.doneError, sslHandshakeFailed) << why;
    EXPECT_TRUE(Contains(rc.cli.ReasonPhrase(), why)) << rc.cli.ReasonPhrase();
    EXPECT_EQ(rc.doneCount, 1);
    EXPECT_EQ(rc.Count("DocBegin"), 0);
    EXPECT_EQ(rc.cli.State(), httpReady);
    EXPECT_EQ(rc.cli.CtrlSocket()->GetState(), wsClosed);
  }
  EXPECT_EQ(server.Connections(), 3);
}

namespace {

// `openssl s_server -WWW` serving a folder: it sends close_notify after the
// file and keeps its TCP connection open. `tls12` keeps the records' types
// readable on the wire (TLS 1.3 hides an alert inside application data).
class WwwServer {
 public:
  TempDir dir{"clipharbor-s-server"};
  int port = 0;
  ChildProcess proc;

  bool Start(const TestCertificates& certs, bool tls12) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      port = FreePort();
      const std::string cmd = "cd '" + dir.Path() + "' && exec openssl s_server -quiet -WWW -accept 127.0.0.1:" +
                              std::to_string(port) + " -cert '" + certs.ChainFile() + "' -key '" + certs.KeyFile() +
                              "'" + (tls12 ? " -tls1_2" : "");
      proc.Start({"/bin/sh", "-c", cmd}, dir / "s_server.log");
      if (WaitForPort(proc, port)) return true;
      proc.Stop();
    }
    return false;
  }
};

// Relays one connection to `port` and, as an attacker on the path could,
// drops the server's first alert record after the data (its close_notify)
// and closes the TCP connection instead.
void RelayWithoutCloseNotify(PeerConn& c, int port) {
  int up = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::connect(up, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(up);
    return;
  }
  std::string fromServer;
  bool dataSeen = false;
  char buf[16384];
  for (int idle = 0; idle < 200;) {  // 10 s without traffic ends it
    pollfd p[2] = {{c.fd(), POLLIN, 0}, {up, POLLIN, 0}};
    if (::poll(p, 2, 50) <= 0) {
      ++idle;
      continue;
    }
    idle = 0;
    if (p[0].revents) {
      const ssize_t n = ::recv(c.fd(), buf, sizeof buf, 0);
      if (n <= 0 || ::send(up, buf, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) break;
    }
    if (p[1].revents) {
      const ssize_t n = ::recv(up, buf, sizeof buf, 0);
      if (n <= 0) break;
      fromServer.append(buf, static_cast<std::size_t>(n));
      // Whole records only: type, version, 16-bit length, then the record.
      bool cut = false;
      while (fromServer.size() >= 5) {
        const std::size_t len = 5 + (static_cast<unsigned char>(fromServer[3]) << 8 | static_cast<unsigned char>(fromServer[4]));
        if (fromServer.size() < len) break;
        if (fromServer[0] == 0x17) dataSeen = true;
        if (fromServer[0] == 0x15 && dataSeen) {
          cut = true;
          break;
        }
        c.Send(fromServer.substr(0, len));
        fromServer.erase(0, len);
      }
      if (cut) break;
    }
  }
  ::close(up);
  c.Close();
}

}  // namespace

// A body that runs to the close is only whole when the TLS session says so.
TEST(HttpsCloseNotify, BodyToTheCloseEndsWithCloseNotifyOnlyAndAtOnce) {
  TestCertificates certs;
  ASSERT_TRUE(certs.Make()) << certs.error;
  const std::string data = Pattern(200000, 777);
  {  // close_notify with the TCP connection left open: complete, no waiting for the peer's close
    WwwServer www;
    WriteFile(www.dir / "f.bin", data);
    ASSERT_TRUE(www.Start(certs, false));
    RecordingClient rc;
    rc.cli.HttpsEnabled = true;
    rc.cli.SslTrust.CaFile = certs.CaFile();
    rc.cli.URL = "https://localhost:" + std::to_string(www.port) + "/f.bin";
    ASSERT_TRUE(rc.RunAsync(8000)) << "still waiting after close_notify";
    EXPECT_EQ(rc.doneError, 0) << rc.cli.ReasonPhrase();
    EXPECT_EQ(rc.cli.StatusCode(), 200);
    EXPECT_TRUE(rc.body == data) << rc.body.size();
  }
  {  // the same answer with its close_notify dropped on the path: a failure
    WwwServer www;
    WriteFile(www.dir / "f.bin", data);
    ASSERT_TRUE(www.Start(certs, true));
    ScriptedServer relay([&](PeerConn& c, int) { RelayWithoutCloseNotify(c, www.port); });
    RecordingClient rc;
    rc.cli.HttpsEnabled = true;
    rc.cli.SslTrust.CaFile = certs.CaFile();
    rc.cli.URL = "https://localhost:" + relay.PortText() + "/f.bin";
    ASSERT_TRUE(rc.RunAsync());
    EXPECT_EQ(rc.doneError, 14);
    EXPECT_EQ(rc.cli.ReasonPhrase(),
              "the server ended the TLS connection without close_notify: the answer may be incomplete");
    EXPECT_TRUE(rc.body == data) << rc.body.size();  // every byte came, yet nothing proves it
    EXPECT_EQ(rc.doneCount, 1);
  }
}
