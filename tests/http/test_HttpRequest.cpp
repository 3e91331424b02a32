// Request side of THttpCli: header lines and their order, addressing,
// document names, the request body, busy and version checks, Abort.
#include <gtest/gtest.h>

#include "http/HttpPeer.h"

using namespace httptest;

namespace {

void ProgramSettings(THttpCli& c) {
  c.LocalAddr = "0.0.0.0";
  c.ProxyPort = "80";
  c.Agent = "Mozilla/3.0 (compatible)";
  c.Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
  c.NoCache = false;
  c.SetRequestVer("1.0");
  c.FollowRelocation = true;
  c.LocationChangeMaxCount = 5;
}

}  // namespace

TEST(HttpRequest, ProgramSettingsGiveExactHeaderAndDocName) {
  ScriptedServer* srv = nullptr;
  ScriptedServer server(Answer(srv, kOk));
  srv = &server;
  RecordingClient rc;
  ProgramSettings(rc.cli);
  rc.cli.URL = server.Url("/a/b.flv?x=1");
  rc.cli.Get();
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0],
            "GET /a/b.flv?x=1 HTTP/1.0\r\n"
            "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
            "User-Agent: Mozilla/3.0 (compatible)\r\n"
            "Host: 127.0.0.1:" + server.PortText() + "\r\n\r\n");
  EXPECT_EQ(rc.cli.DocName(), "b.flv");
  EXPECT_EQ(rc.cli.StatusCode(), 200);
  EXPECT_EQ(rc.body, "ok");
}

TEST(HttpRequest, EveryOptionalLineInItsOrder) {
  ScriptedServer* srv = nullptr;
  ScriptedServer server(Answer(srv, kOk));
  srv = &server;
  THttpCli c;
  c.URL = server.Url("/p");
  c.Sender = "me@example.org";
  c.Reference = "http://ref/";
  c.Connection = "Keep-Alive";
  c.AcceptLanguage = "en";
  c.Agent = "Agent/1";
  c.NoCache = true;
  c.ProxyConnection = "pc";
  c.ModifiedSince = 39448.5;  // 2008-01-01 12:00:00, a Tuesday
  c.Cookie = "a=b";
  c.ContentRangeBegin = "100";
  c.SetOptions(THttpCliOptions{httpoEnableContentCoding, httpoUseQuality});
  c.Get();
  std::vector<std::string> lines = HeadLines(server.Requests().at(0));
  std::vector<std::string> want = {
      "GET /p HTTP/1.0",
      "From: me@example.org",
      "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*",
      "Referer: http://ref/",
      "Connection: Keep-Alive",
      "Accept-Language: en",
      "Accept-Encoding: identity;q=0, *;q=0",
      "User-Agent: Agent/1",
      "Host: 127.0.0.1:" + server.PortText(),
      "Pragma: no-cache",
      "Proxy-Connection: pc",
      "If-Modified-Since: Tue, 01 Jan 2008 12:00:00 GMT",
      "Cookie: a=b",
      "Range: bytes=100-",
      ""};
  EXPECT_EQ(lines, want);
  // The range applies to one request only.
  EXPECT_TRUE(c.ContentRangeBegin.empty());
  c.Get();
  EXPECT_EQ(server.Requests().at(1).find("Range:"), std::string::npos);
}

TEST(HttpRequest, DateOfIfModifiedSince) {
  EXPECT_EQ(THttpCli::RFC1123Date(2.0), "Mon, 01 Jan 1900 00:00:00");
  EXPECT_EQ(THttpCli::RFC1123Date(36526.75), "Sat, 01 Jan 2000 18:00:00");
  EXPECT_EQ(THttpCli::RFC1123Date(39507.0 + (23 * 3600 + 59 * 60 + 59) / 86400.0), "Fri, 29 Feb 2008 23:59:59");
}

TEST(HttpRequest, HostLineWithoutDefaultPortAndCredentialsFromUrl) {
  THttpCli c;
  std::vector<std::string> sent;
  ScriptedServer* srv = nullptr;
  ScriptedServer server(Answer(srv, kOk));
  srv = &server;
  c.URL = "http://user:pw@127.0.0.1:" + server.PortText() + "/x";
  c.OnBeforeHeaderSend = [&](THttpCli*, const std::string&, std::vector<std::string>& h) { sent = h; };
  c.FServerAuthMethod = httpAuthBasic;  // preset Basic: the URL's credentials are used at once
  c.Get();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent[0], "GET /x HTTP/1.0");
  EXPECT_NE(std::find(sent.begin(), sent.end(), "Authorization: Basic dXNlcjpwdw=="), sent.end());
  EXPECT_EQ(server.Requests().at(0).find("user:pw"), std::string::npos);
}

TEST(HttpRequest, DocNameRules) {
  ScriptedServer* srv = nullptr;
  ScriptedServer server(Answer(srv, "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"));
  srv = &server;
  THttpCli c;
  c.URL = server.Url("/dir/");
  c.Get();
  EXPECT_EQ(c.DocName(), "document.htm");
  c.URL = server.Url("/dir/name.txt?q=/a/b");
  c.Get();
  EXPECT_EQ(c.DocName(), "name.txt");
  c.URL = server.Url("/" + std::string(300, 'n'));
  c.Get();
  EXPECT_EQ(c.DocName().size(), 255u);
}

TEST(HttpRequest, PostSendsBodyWithLengthAndBlocks) {
  std::string gotBody;
  ScriptedServer* srv = nullptr;
  ScriptedServer server([&](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head, &gotBody)) return;
    srv->Record(head);
    c.Send("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n");
    c.Close();
  });
  srv = &server;
  RecordingClient rc;
  std::string payload(20000, 'p');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('a' + i % 26);
  plat::TMemoryStream ms;
  ms.Write(payload.data(), static_cast<std::int64_t>(payload.size()));
  ms.SetPosition(0);
  std::vector<int> blocks;
  rc.cli.OnSendData = [&](THttpCli*, const void*, int n) { blocks.push_back(n); };
  int sendEnd = 0;
  rc.cli.OnSendEnd = [&](THttpCli*) { ++sendEnd; };
  rc.cli.SendStream = &ms;
  rc.cli.URL = server.Url("/post");
  rc.cli.Post();
  std::vector<std::string> lines = HeadLines(server.Requests().at(0));
  EXPECT_EQ(lines[0], "POST /post HTTP/1.0");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Content-Type: application/x-www-form-urlencoded"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Content-Length: 20000"), lines.end());
  EXPECT_EQ(gotBody, payload);
  EXPECT_EQ(rc.cli.SentCount(), 20000);
  EXPECT_EQ(blocks, (std::vector<int>{8193, 8193, 3614}));
  EXPECT_EQ(sendEnd, 1);
}

TEST(HttpRequest, RefusalsBusyVersionNothingToPost) {
  THttpCli c;
  c.Name = "HttpCli1";
  try {
    c.SetRequestVer("2.0");
    FAIL();
  } catch (const EHttpException& e) {
    EXPECT_STREQ(e.what(), "Insupported HTTP version");
    EXPECT_EQ(e.ErrorCode, 5);
  }
  EXPECT_EQ(c.GetRequestVer(), "1.0");
  c.SetRequestVer("1.1");
  EXPECT_EQ(c.GetRequestVer(), "1.1");

  try {
    c.Post();
    FAIL();
  } catch (const EHttpException& e) {
    EXPECT_STREQ(e.what(), "HTTP component has nothing to post or put");
    EXPECT_EQ(e.ErrorCode, 2);
  }

  // A server that keeps the client waiting: the second request is refused.
  std::atomic<bool> release{false};
  ScriptedServer server([&](PeerConn& p, int) {
    std::string head;
    p.ReadRequest(head);
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    p.Send(kOk);
  });
  c.URL = server.Url("/slow");
  bool finished = false;
  c.OnRequestDone = [&](THttpCli*, THttpRequest, std::uint16_t) { finished = true; };
  c.GetASync();
  ASSERT_TRUE(PumpUntil([&] { return c.State() == httpWaitingHeader; }));
  try {
    c.Get();
    FAIL();
  } catch (const EHttpException& e) {
    EXPECT_STREQ(e.what(), "HTTP component HttpCli1 is busy");
    EXPECT_EQ(e.ErrorCode, 1);
  }
  release = true;
  ASSERT_TRUE(PumpUntil([&] { return finished; }));
  EXPECT_EQ(c.StatusCode(), 200);
}

TEST(HttpRequest, HttpsIsRefusedBeforeConnecting) {
  RecordingClient rc;
  rc.cli.URL = "https://127.0.0.1:1/x";
  ASSERT_TRUE(rc.RunAsync());
  EXPECT_EQ(rc.cli.StatusCode(), 501);
  EXPECT_EQ(rc.cli.ReasonPhrase(), "Protocol \"https\" not implemented");
  EXPECT_EQ(rc.Count("SessionConnected"), 0);
  EXPECT_THROW(rc.cli.Get(), EHttpException);
}

TEST(HttpRequest, FailuresOfLookupAndConnect) {
  RecordingClient rc;
  rc.cli.URL = "http://no-such-host.invalid/x";
  ASSERT_TRUE(rc.RunAsync(30000));
  EXPECT_EQ(rc.cli.StatusCode(), 404);
  EXPECT_EQ(rc.cli.ReasonPhrase(), "can't resolve hostname to IP address");
  EXPECT_NE(rc.doneError, 0);

  // A port nobody listens on.
  int port;
  {
    ScriptedServer tmp([](PeerConn&, int) {});
    port = tmp.Port();
  }
  RecordingClient rc2;
  rc2.cli.URL = "http://127.0.0.1:" + std::to_string(port) + "/";
  ASSERT_TRUE(rc2.RunAsync());
  EXPECT_EQ(rc2.cli.StatusCode(), 404);
  EXPECT_EQ(rc2.doneError, 10061);
  EXPECT_NE(rc2.cli.ReasonPhrase().find("(Error #10061)"), std::string::npos);
  EXPECT_EQ(rc2.cli.State(), httpReady);
  try {
    rc2.cli.Get();
    FAIL();
  } catch (const EHttpException& e) {
    EXPECT_EQ(e.ErrorCode, 404);
  }
}

TEST(HttpRequest, AbortWhenIdleAndDuringLookup) {
  RecordingClient rc;
  rc.cli.Abort();
  EXPECT_TRUE(rc.done);  // raised at once, not posted
  EXPECT_EQ(rc.doneError, 0);
  EXPECT_EQ(rc.cli.StatusCode(), 200);
  EXPECT_EQ(rc.cli.ReasonPhrase(), "OK");

  RecordingClient rc2;
  rc2.cli.URL = "http://localhost:1/x";
  rc2.cli.GetASync();
  ASSERT_EQ(rc2.cli.State(), httpDnsLookup);
  rc2.cli.Abort();
  EXPECT_EQ(rc2.cli.State(), httpReady);
  ASSERT_TRUE(PumpUntil([&] { return rc2.done; }));
  EXPECT_EQ(rc2.cli.StatusCode(), 404);
  EXPECT_EQ(rc2.cli.ReasonPhrase(), "Connection aborted on request");
  EXPECT_EQ(rc2.doneError, 3);
  // Nothing of the cancelled lookup follows.
  PumpUntil([] { return false; }, 200);
  EXPECT_EQ(rc2.doneCount, 1);
  EXPECT_EQ(rc2.Count("SessionConnected"), 0);
}

TEST(HttpRequest, AbortFromAnEventInsideGet) {
  ScriptedServer server([](PeerConn& p, int) {
    std::string head;
    p.ReadRequest(head);
    p.Send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n");
    std::string chunk(1000, 'x');
    for (int i = 0; i < 100 && p.Send(chunk); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  });
  RecordingClient rc;
  rc.cli.OnDocData = [&](THttpCli* s, const void*, int) {
    if (s->ReceivedCount() > 0) s->Abort();
  };
  rc.cli.URL = server.Url("/big");
  try {
    rc.cli.Get();
    FAIL();
  } catch (const EHttpException& e) {
    EXPECT_EQ(e.ErrorCode, 404);
    EXPECT_STREQ(e.what(), "Connection aborted on request");
  }
  EXPECT_EQ(rc.cli.State(), httpReady);
  EXPECT_LT(rc.cli.ReceivedCount(), 100000);
  PumpUntil([] { return false; }, 200);
  EXPECT_EQ(rc.doneCount, 1);
  // The client is usable again.
  ScriptedServer* srv = nullptr;
  ScriptedServer server2(Answer(srv, kOk));
  srv = &server2;
  rc.cli.OnDocData = nullptr;
  rc.cli.URL = server2.Url("/again");
  rc.cli.Get();
  EXPECT_EQ(rc.cli.StatusCode(), 200);
}

namespace {
// Records the bandwidth counters at every pause and resume.
class BandwidthCli : public THttpCli {
 public:
  std::vector<std::int64_t> atPause, atResume;
  std::int64_t max = 0;

 protected:
  void SockPause() override {
    atPause.push_back(FBandwidthCount);
    max = FBandwidthMaxCount;
    THttpCli::SockPause();
  }
  void SockResume() override {
    atResume.push_back(FBandwidthCount);
    THttpCli::SockResume();
  }
};
}  // namespace

TEST(HttpRequest, BandwidthControlPausesAndResumes) {
  const int total = 60000;
  ScriptedServer server([&](PeerConn& p, int) {
    std::string head;
    p.ReadRequest(head);
    p.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(total) + "\r\n\r\n" + std::string(total, 'b'));
  });
  BandwidthCli c;
  c.SetOptions(THttpCliOptions{httpoBandwidthControl});
  c.BandwidthLimit = 100000;  // 10000 bytes per 100 ms period
  c.BandwidthSampling = 100;
  c.URL = server.Url("/limited");
  c.Get();
  EXPECT_EQ(c.ReceivedCount(), total);
  EXPECT_EQ(c.max, 10000);
  ASSERT_GE(c.atPause.size(), 4u);
  ASSERT_GE(c.atResume.size(), c.atPause.size() - 1);
  for (std::int64_t n : c.atPause) EXPECT_GT(n, 10000);
  // Each resume lowers the count by one period's allowance.
  for (std::size_t i = 0; i < c.atResume.size(); ++i) EXPECT_EQ(c.atResume[i], c.atPause[i] - 10000);
  EXPECT_TRUE(c.CtrlSocket()->GetComponentOptions().Contains(wsoNoReceiveLoop));
}

TEST(HttpRequest, NoBandwidthControlByDefault) {
  ScriptedServer server([&](PeerConn& p, int) {
    std::string head;
    p.ReadRequest(head);
    p.Send("HTTP/1.0 200 OK\r\nContent-Length: 50000\r\n\r\n" + std::string(50000, 'b'));
  });
  BandwidthCli c;  // limit 10000, sampling 1000, option off: no pause
  c.URL = server.Url("/free");
  c.Get();
  EXPECT_EQ(c.ReceivedCount(), 50000);
  EXPECT_TRUE(c.atPause.empty());
}

TEST(HttpRequest, RefusedConnectAttemptEndsTheRequest) {
  // The port cannot be resolved: the socket refuses the connect through its
  // error event instead of an exception; the request must still end.
  RecordingClient rc;
  int socketErrors = 0;
  rc.cli.OnSocketError = [&](THttpCli*) { ++socketErrors; };
  rc.cli.URL = "http://127.0.0.1:notaport/x";
  ASSERT_TRUE(rc.RunAsync(5000));
  EXPECT_EQ(rc.cli.StatusCode(), 404);
  EXPECT_EQ(rc.cli.ReasonPhrase().compare(0, 14, "can't connect:"), 0) << rc.cli.ReasonPhrase();
  EXPECT_GE(socketErrors, 1);
  EXPECT_EQ(rc.cli.State(), httpReady);

  RecordingClient rc2;
  rc2.cli.URL = "http:///nohost";
  ASSERT_TRUE(rc2.RunAsync(5000));
  EXPECT_EQ(rc2.cli.StatusCode(), 404);
}

TEST(HttpRequest, CloseRequestAndAbortWhileWaitingForTheHeader) {
  ScriptedServer server([](PeerConn& c, int idx) {
    std::string head;
    if (idx == 0) {
      if (!c.ReadRequest(head)) return;
      c.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
      c.WaitForClientClose();
    } else {
      c.ReadRequest(head);  // and never answer
      c.WaitForClientClose();
    }
  });
  RecordingClient rc;
  rc.cli.SetRequestVer("1.1");
  rc.cli.URL = server.Url("/k");
  rc.cli.Get();
  ASSERT_EQ(rc.cli.CtrlSocket()->GetState(), wsConnected);
  rc.cli.Close();  // closes the kept connection
  EXPECT_EQ(rc.cli.StatusCode(), 200);
  EXPECT_EQ(rc.cli.CtrlSocket()->GetState(), wsClosed);
  EXPECT_EQ(rc.Count("State:httpClosing"), 1);

  rc.cli.GetASync();
  ASSERT_TRUE(PumpUntil([&] { return rc.cli.State() == httpWaitingHeader; }));
  rc.done = false;
  rc.cli.Abort();
  ASSERT_TRUE(PumpUntil([&] { return rc.done; }));
  EXPECT_EQ(rc.doneError, 3);
  EXPECT_EQ(rc.cli.StatusCode(), 404);
  EXPECT_EQ(rc.cli.CtrlSocket()->GetState(), wsClosed);
}

TEST(HttpRequest, AbortFromEventsOfTheEndAndOfTheAbortItself) {
  auto serve = [](PeerConn& p, int) {
    std::string head;
    if (!p.ReadRequest(head)) return;
    p.Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc");
    p.WaitForClientClose();
  };
  {  // From OnDocEnd: the document is complete, the request ends aborted.
    ScriptedServer server(serve);
    RecordingClient rc;
    rc.cli.SetRequestVer("1.1");
    rc.cli.OnDocEnd = [](THttpCli* s) { s->Abort(); };
    rc.cli.URL = server.Url("/e");
    EXPECT_THROW(rc.cli.Get(), EHttpException);
    EXPECT_EQ(rc.cli.ReceivedCount(), 3);
    EXPECT_EQ(rc.doneError, 3);
  }
  {  // From OnSessionClosed while the abort closes the socket: Get still returns.
    ScriptedServer server(serve);
    RecordingClient rc;
    int closed = 0;
    rc.cli.OnSessionClosed = [&](THttpCli* s) {
      ++closed;
      s->Abort();
    };
    rc.cli.OnHeaderData = [](THttpCli* s) { s->Abort(); };
    rc.cli.URL = server.Url("/e");
    EXPECT_THROW(rc.cli.Get(), EHttpException);
    EXPECT_EQ(closed, 1);
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(rc.doneCount, 1);
  }
}

TEST(HttpRequest, PortsOutsideTheRangeAreRefusedBeforeAnyConnection) {
  // Whatever reaches this server got there through a wrapped port.
  ScriptedServer server([](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    c.Send("HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:" + std::to_string(65536 + 80) + "/x\r\n\r\n");
  });
  const std::string wrapped = std::to_string(65536 + server.Port());
  struct TCase {
    std::function<void(THttpCli&)> set;
    std::string reason;
  } cases[] = {
      {[&](THttpCli& c) { c.URL = "http://127.0.0.1:" + wrapped + "/x"; },
       "Refused address: port " + wrapped + " is not a number from 1 to 65535"},
      {[&](THttpCli& c) { c.URL = "http://127.0.0.1:0/x"; }, "Refused address: port 0 is not a number from 1 to 65535"},
      {[&](THttpCli& c) { c.URL = "http://127.0.0.1:8O/x"; }, "Refused address: port 8O is not a number from 1 to 65535"},
      {[&](THttpCli& c) { c.URL = "http://127.0.0.1:" + std::string(40, '9') + "/x"; },
       "Refused address: port 9999999999999999... is not a number from 1 to 65535"},
      {[&](THttpCli& c) {
         c.URL = "http://example.test/x";
         c.Proxy = "127.0.0.1";
         c.ProxyPort = wrapped;
       },
       "Refused proxy address: port " + wrapped + " is not a number from 1 to 65535"},
      {[&](THttpCli& c) {
         c.URL = "http://127.0.0.1:80/x";
         c.SocksServer = "127.0.0.1";
         c.SocksPort = wrapped;
       },
       "Refused SOCKS proxy address: port " + wrapped + " is not a number from 1 to 65535"},
  };
  for (const TCase& c : cases) {
    RecordingClient rc;
    c.set(rc.cli);
    ASSERT_TRUE(rc.RunAsync());
    EXPECT_EQ(rc.cli.ReasonPhrase(), c.reason);
    EXPECT_EQ(rc.doneError, 9) << c.reason;
    EXPECT_EQ(rc.Count("SessionConnected"), 0) << c.reason;
    EXPECT_EQ(rc.cli.State(), httpReady);
    EXPECT_THROW(rc.cli.Get(), EHttpException);
  }
  EXPECT_EQ(server.Connections(), 0);

  // A Location with such a port is not followed anywhere.
  RecordingClient rc;
  rc.cli.URL = server.Url("/start");
  ASSERT_TRUE(rc.RunAsync());
  EXPECT_EQ(rc.cli.ReasonPhrase(), "Refused Location: port 65616 is not a number from 1 to 65535");
  EXPECT_EQ(rc.doneError, 9);
  EXPECT_EQ(rc.CountPrefix("LocationChange:"), 0);
  EXPECT_EQ(server.Connections(), 1);
}
