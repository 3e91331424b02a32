// THttpCli against real servers on loopback: nginx for static files, squid
// as an HTTP proxy (open, Basic and NTLM proxy authentication), dante as a
// SOCKS 5 server.
#include <gtest/gtest.h>

#include "http/ExternalPeers.h"
#include "http/HttpPeer.h"

using namespace httptest;

namespace {

class NginxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(nginx.Start()) << nginx.error;
    data = Pattern(300000);
    WriteFile(nginx.Www() + "/file.bin", data);
    WriteFile(nginx.Www() + "/small.txt", "small file\n");
  }
  Nginx nginx;
  std::string data;
};

}  // namespace

TEST_F(NginxTest, FileWithLengthArrivesWhole) {
  RecordingClient rc;
  plat::TMemoryStream ms;
  rc.cli.ReceiveStream = &ms;
  rc.cli.URL = nginx.Url("/file.bin");
  rc.cli.Get();
  EXPECT_EQ(rc.cli.StatusCode(), 200);
  EXPECT_EQ(rc.cli.ContentLength(), 300000);
  EXPECT_EQ(rc.cli.ReceivedCount(), 300000);
  EXPECT_TRUE(ms.DataString() == data);
  EXPECT_EQ(rc.cli.AcceptRanges(), "bytes");
  EXPECT_EQ(rc.doneError, 0);
}

TEST_F(NginxTest, KeepAliveWithVersion11ReusesTheConnection) {
  RecordingClient rc;
  rc.cli.SetRequestVer("1.1");
  plat::TMemoryStream ms;
  rc.cli.ReceiveStream = &ms;
  rc.cli.URL = nginx.Url("/small.txt");
  rc.cli.Get();
  rc.cli.URL = nginx.Url("/file.bin");
  rc.cli.Get();
  rc.cli.URL = nginx.Url("/small.txt");
  rc.cli.Get();
  EXPECT_EQ(ms.DataString(), "small file\n" + data + "small file\n");
  EXPECT_EQ(rc.Count("State:httpDnsLookup"), 1);
  ASSERT_TRUE(PumpUntil([&] { return LogLines(nginx.AccessLog()).size() == 3; }, 5000));
  auto lines = LogLines(nginx.AccessLog());
  std::string conn = lines[0].substr(0, lines[0].find(' '));
  for (const auto& l : lines) EXPECT_EQ(l.substr(0, l.find(' ')), conn) << l;
  EXPECT_EQ(lines[1].substr(lines[1].find(' ') + 1), "GET /file.bin HTTP/1.1");
}

TEST_F(NginxTest, HeadGivesTheLengthAndNoBody) {
  for (const char* ver : {"1.0", "1.1"}) {
    RecordingClient rc;
    rc.cli.SetRequestVer(ver);
    rc.cli.URL = nginx.Url("/file.bin");
    rc.cli.Head();
    EXPECT_EQ(rc.cli.StatusCode(), 200) << ver;
    EXPECT_EQ(rc.cli.ContentLength(), 300000) << ver;
    EXPECT_EQ(rc.Count("DocBegin"), 0) << ver;
    EXPECT_TRUE(rc.body.empty()) << ver;
  }
}

TEST_F(NginxTest, RangeRequestAndContentRange) {
  RecordingClient rc;
  rc.cli.URL = nginx.Url("/file.bin");
  rc.cli.ContentRangeBegin = "100";
  rc.cli.ContentRangeEnd = "199";
  rc.cli.Get();
  EXPECT_EQ(rc.cli.StatusCode(), 206);
  EXPECT_EQ(rc.body, data.substr(100, 100));
  EXPECT_EQ(rc.cli.ContentRangeBegin, "100");
  EXPECT_EQ(rc.cli.ContentRangeEnd, "199");
  // An open range to the end.
  RecordingClient rc2;
  rc2.cli.URL = nginx.Url("/file.bin");
  rc2.cli.ContentRangeBegin = "299990";
  rc2.cli.Get();
  EXPECT_EQ(rc2.body, data.substr(299990));
}

TEST_F(NginxTest, MissingFileRaisesWithTheStatus) {
  THttpCli c;
  c.URL = nginx.Url("/none.flv");
  try {
    c.Get();
    FAIL();
  } catch (const EHttpException& e) {
    EXPECT_EQ(e.ErrorCode, 404);
    EXPECT_STREQ(e.what(), "Not Found");
  }
}

TEST_F(NginxTest, ThroughSquidOpen) {
  Squid squid;
  ASSERT_TRUE(squid.Start("")) << squid.error;
  RecordingClient rc;
  rc.cli.Proxy = "127.0.0.1";
  rc.cli.ProxyPort = std::to_string(squid.port);
  plat::TMemoryStream ms;
  rc.cli.ReceiveStream = &ms;
  rc.cli.URL = nginx.Url("/file.bin");
  rc.cli.Get();
  EXPECT_EQ(rc.cli.StatusCode(), 200);
  EXPECT_TRUE(ms.DataString() == data);
  bool via = false;
  for (const auto& h : rc.cli.ReceivedHeader())
    if (h.compare(0, 4, "Via:") == 0 && h.find("squid") != std::string::npos) via = true;
  EXPECT_TRUE(via);
}

TEST_F(NginxTest, ThroughSquidWithBasicProxyAuthentication) {
  Squid squid;
  ASSERT_TRUE(squid.Start("basic", "puser", "ppass")) << squid.error;
  {
    RecordingClient rc;
    rc.cli.Proxy = "127.0.0.1:" + std::to_string(squid.port);
    rc.cli.ProxyUsername = "puser";
    rc.cli.ProxyPassword = "ppass";
    plat::TMemoryStream ms;
    rc.cli.ReceiveStream = &ms;
    rc.cli.URL = nginx.Url("/small.txt");
    rc.cli.Get();
    EXPECT_EQ(rc.cli.StatusCode(), 200);
    // The refused answer's body went through OnDocData but not into the stream.
    EXPECT_EQ(ms.DataString(), "small file\n");
  }
  {  // Wrong password: the request ends with the 407 answer, without raising.
    RecordingClient rc;
    rc.cli.Proxy = "127.0.0.1:" + std::to_string(squid.port);
    rc.cli.ProxyUsername = "puser";
    rc.cli.ProxyPassword = "wrong";
    rc.cli.URL = nginx.Url("/small.txt");
    rc.cli.Get();
    EXPECT_EQ(rc.cli.StatusCode(), 407);
    EXPECT_EQ(rc.doneCount, 1);
  }
  ASSERT_TRUE(PumpUntil([&] { return ReadFile(squid.AccessLog()).find(" puser ") != std::string::npos; }, 5000))
      << ReadFile(squid.AccessLog());
}

TEST_F(NginxTest, ThroughSquidWithNtlmProxyAuthentication) {
  Squid squid;
  ASSERT_TRUE(squid.Start("ntlm")) << squid.error;
  RecordingClient rc;
  std::vector<std::string> sent;
  rc.cli.OnCommand = [&](THttpCli*, std::string& s) { sent.push_back(s); };
  rc.cli.Proxy = "127.0.0.1";
  rc.cli.ProxyPort = std::to_string(squid.port);
  rc.cli.ProxyUsername = "ntlmuser";
  rc.cli.ProxyPassword = "secret";
  plat::TMemoryStream ms;
  rc.cli.ReceiveStream = &ms;
  rc.cli.URL = nginx.Url("/file.bin");
  rc.cli.Get();
  EXPECT_EQ(rc.cli.StatusCode(), 200);
  EXPECT_TRUE(ms.DataString() == data);
  int negotiate = 0, authenticate = 0;
  for (const auto& s : sent) {
    if (s.compare(0, 26, "Proxy-Authorization: NTLM ") != 0) continue;
    if (s.size() < 26 + 50) ++negotiate;
    else ++authenticate;
  }
  EXPECT_EQ(negotiate, 1);
  EXPECT_EQ(authenticate, 1);
  ASSERT_TRUE(PumpUntil([&] { return ReadFile(squid.AccessLog()).find("ntlmuser") != std::string::npos; }, 5000))
      << ReadFile(squid.AccessLog());
}

TEST_F(NginxTest, ThroughDanteAsSocks5) {
  Dante dante;
  ASSERT_TRUE(dante.Start()) << dante.error;
  RecordingClient rc;
  std::vector<int> socksConnected;
  rc.cli.OnSocksConnected = [&](TObject*, std::uint16_t e) { socksConnected.push_back(e); };
  rc.cli.SocksServer = "127.0.0.1";
  rc.cli.SocksPort = std::to_string(dante.port);
  rc.cli.SocksLevel = "5";
  plat::TMemoryStream ms;
  rc.cli.ReceiveStream = &ms;
  rc.cli.URL = nginx.Url("/file.bin");
  rc.cli.Get();
  EXPECT_EQ(rc.cli.StatusCode(), 200);
  EXPECT_TRUE(ms.DataString() == data);
  EXPECT_EQ(socksConnected, std::vector<int>{0});
  ASSERT_TRUE(PumpUntil([&] { return ReadFile(dante.Log()).find("pass") != std::string::npos; }, 5000))
      << ReadFile(dante.Log());
}

TEST_F(NginxTest, SocksServerThatIsNotThere) {
  RecordingClient rc;
  rc.cli.SocksServer = "127.0.0.1";
  rc.cli.SocksPort = std::to_string(FreePort());
  rc.cli.URL = nginx.Url("/small.txt");
  ASSERT_TRUE(rc.RunAsync(10000));
  EXPECT_EQ(rc.cli.StatusCode(), 404);
  EXPECT_NE(rc.doneError, 0);
  EXPECT_TRUE(rc.body.empty());
  EXPECT_EQ(rc.cli.State(), httpReady);
}
