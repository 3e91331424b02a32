// The TLS layer of the socket against nginx: the events an application sees
// are those of a plain connection, and plaintext that OpenSSL holds after a
// receive is still offered when no more bytes arrive on the socket (one
// read per notification, pause and resume).
#include <gtest/gtest.h>

#include "http/TlsPeers.h"
#include "socket/SocketTestUtil.h"

using namespace socktest;

namespace {

class TlsSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(certs.Make()) << certs.error;
    ASSERT_TRUE(nginx.Start(certs)) << nginx.error;
    data = Pattern(200000);
    httptest::WriteFile(nginx.Www() + "/file.bin", data);
  }
  // Connects with TLS to the test server and asks for /file.bin once the
  // session stands; `events` records what the application saw.
  void Open(TWSocket& s) {
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(nginx.tlsPort));
    s.SetSslEnable(true);
    s.SetSslServerName("localhost");
    s.SetSslTrust(TSslTrust{certs.CaFile(), true});
    s.SetLingerOnOff(wsLingerNoSet);
    s.OnSessionConnected = [&](TObject*, std::uint16_t e) {
      events.push_back("connected:" + std::to_string(e));
      if (e == 0) s.SendStr("GET /file.bin HTTP/1.0\r\nHost: localhost\r\n\r\n");
    };
    s.OnDataSent = [&](TObject*, std::uint16_t e) { events.push_back("sent:" + std::to_string(e)); };
    s.OnSessionClosed = [&](TObject*, std::uint16_t e) { events.push_back("closed:" + std::to_string(e)); };
    s.Connect();
  }
  bool Closed() const { return !events.empty() && events.back().compare(0, 7, "closed:") == 0; }
  std::string Body() const {
    std::size_t e = received.find("\r\n\r\n");
    return e == std::string::npos ? std::string() : received.substr(e + 4);
  }

  httptest::TestCertificates certs;
  httptest::TlsNginx nginx;
  std::string data, received;
  std::vector<std::string> events;
};

}  // namespace

TEST_F(TlsSocketTest, EventsAreThoseOfAPlainConnection) {
  TWSocket s;
  s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    char buf[8192];
    int n = s.Receive(buf, sizeof buf);
    if (n > 0) received.append(buf, static_cast<std::size_t>(n));
  };
  Open(s);
  ASSERT_TRUE(PumpUntil([&] { return Closed(); }, 10000));
  EXPECT_TRUE(Body() == data);
  // The handshake's own traffic raises nothing: one connect, one "sent"
  // for the request, one close.
  EXPECT_EQ(events, (std::vector<std::string>{"connected:0", "sent:0", "closed:0"}));
  EXPECT_EQ(s.GetState(), wsClosed);
  EXPECT_FALSE(s.SslEstablished());
}

TEST_F(TlsSocketTest, HeldPlaintextIsOfferedWithoutTheReceiveLoop) {
  TWSocket s;
  s.SetComponentOptions(TWSocketOptions{wsoNoReceiveLoop});
  int calls = 0;
  bool paused = false;
  std::string protocol;
  s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    ++calls;
    if (protocol.empty()) protocol = s.SslProtocol();
    // Far less than a record: the rest stays inside OpenSSL.
    char buf[700];
    int n = s.Receive(buf, sizeof buf);
    if (n > 0) received.append(buf, static_cast<std::size_t>(n));
    if (!paused && received.size() > 100000) {
      paused = true;
      s.Pause();
    }
  };
  Open(s);
  ASSERT_TRUE(PumpUntil([&] { return paused; }, 10000));
  const std::size_t atPause = received.size();
  PumpFor(200);
  EXPECT_EQ(received.size(), atPause);
  s.Resume();
  ASSERT_TRUE(PumpUntil([&] { return Closed(); }, 20000)) << received.size();
  EXPECT_TRUE(Body() == data);
  EXPECT_GT(calls, 200000 / 700);
  EXPECT_TRUE(protocol == "TLSv1.2" || protocol == "TLSv1.3") << protocol;
}
