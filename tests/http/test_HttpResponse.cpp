// Response side of THttpCli against a scripted server: status line and
// header fields, bodies by length, by chunks and up to the close, the order
// of events, HEAD, interim answers, over-long lines and cut-short answers.
#include <gtest/gtest.h>

#include <algorithm>

#include "http/HttpPeer.h"

using namespace httptest;

namespace {

// One connection: read the request, send `parts` one after the other (with a
// pause between them, so they arrive as separate reads), then close.
ScriptedServer::Script Parts(std::vector<std::string> parts, bool close = true) {
  return [parts, close](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    for (const auto& p : parts) c.SendSlowly(p);
    if (close) c.Close();
    else c.WaitForClientClose();
  };
}

}  // namespace

TEST(HttpResponse, EventOrderOfAClosingAnswerWithLength) {
  ScriptedServer server(Parts({"HTTP/1.0 200 OK\r\nContent-Length: 5\r\nServer: t\r\n\r\n", "Hello"}));
  RecordingClient rc;
  rc.cli.URL = server.Url("/doc.flv");
  rc.cli.Get();
  std::vector<std::string> want = {"State:httpNotConnected", "State:httpDnsLookup", "State:httpDnsLookupDone",
                                   "State:httpConnected", "SessionConnected", "State:httpWaitingHeader",
                                   "RequestHeaderBegin", "BeforeHeaderSend:GET", "Command:*",
                                   "RequestHeaderEnd", "Command:", "HeaderBegin", "HeaderData:*", "HeaderEnd",
                                   "State:httpWaitingBody", "DocBegin", "DocData", "State:httpBodyReceived",
                                   "DocEnd", "SessionClosed", "State:httpReady", "RequestDone:0"};
  EXPECT_EQ(rc.Compact(), want);
  EXPECT_EQ(rc.body, "Hello");
  EXPECT_EQ(rc.cli.ContentLength(), 5);
  EXPECT_EQ(rc.cli.ReceivedCount(), 5);
  EXPECT_EQ(rc.cli.ReceivedHeader(),
            (std::vector<std::string>{"HTTP/1.0 200 OK", "Content-Length: 5", "Server: t"}));
}

TEST(HttpResponse, HeaderAndBodyInOneReadAndBytesBeyondTheLength) {
  ScriptedServer server(Parts({"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbodyEXTRA"}));
  RecordingClient rc;
  plat::TMemoryStream ms;
  rc.cli.ReceiveStream = &ms;
  rc.cli.URL = server.Url("/x");
  rc.cli.Get();
  EXPECT_EQ(rc.body, "body");
  EXPECT_EQ(ms.DataString(), "body");
  EXPECT_EQ(rc.Count("DocData"), 1);
  EXPECT_EQ(rc.cli.ReceivedCount(), 4);
}

TEST(HttpResponse, StatusLineAndRecognisedFields) {
  ScriptedServer server(Parts({"HTTP/1.0 206 Partial Content\r\n"
                               "content-type: Text/Plain\r\n"
                               "Content-Range: bytes 100-199/1000\r\n"
                               "Accept-Ranges: bytes\r\n"
                               "Content-Encoding: x-custom\r\n"
                               "Set-Cookie: a=1; path=/\r\n"
                               "Set-Cookie: b=2\r\n"
                               "No colon here\r\n"
                               "Content-Length: 3\r\n\r\nabc"}));
  RecordingClient rc;
  std::vector<std::string> cookies;
  rc.cli.OnCookie = [&](THttpCli*, const std::string& d, bool& acc) {
    cookies.push_back(d);
    EXPECT_TRUE(acc);
  };
  rc.cli.URL = server.Url("/r");
  rc.cli.Get();
  EXPECT_EQ(rc.cli.StatusCode(), 206);
  EXPECT_EQ(rc.cli.ReasonPhrase(), "Partial Content");
  EXPECT_EQ(rc.cli.ContentType(), "text/plain");
  EXPECT_EQ(rc.cli.ContentRangeBegin, "100");
  EXPECT_EQ(rc.cli.ContentRangeEnd, "199");
  EXPECT_EQ(rc.cli.AcceptRanges(), "bytes");
  EXPECT_EQ(rc.cli.ContentEncoding(), "x-custom");
  EXPECT_EQ(cookies, (std::vector<std::string>{"a=1; path=/", "b=2"}));
  EXPECT_EQ(rc.cli.ReceivedHeader().size(), 9u);
  EXPECT_EQ(rc.CountPrefix("HeaderData:"), 9);
  EXPECT_EQ(rc.body, "abc");
}

TEST(HttpResponse, ChunkedWithExtensionsAndTrailerOnAKeptConnection) {
  // Two requests on one connection: the trailer of the first must not leak
  // into the second answer.
  ScriptedServer server([](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    c.SendSlowly("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    c.SendSlowly("1A;ext=1\r\nabcdefghijklmnopqrstuvwxyz\r\n5\r\nHel");
    c.SendSlowly("lo\r\n0;last\r\nX-Trailer: t\r\nX-Other: u\r\n\r\n");
    if (!c.ReadRequest(head)) return;
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nxyz");
    c.WaitForClientClose();
  });
  RecordingClient rc;
  rc.cli.SetRequestVer("1.1");
  rc.cli.URL = server.Url("/c");
  rc.cli.Get();
  EXPECT_EQ(rc.body, "abcdefghijklmnopqrstuvwxyzHello");
  EXPECT_EQ(rc.cli.ReceivedCount(), 31);
  EXPECT_EQ(rc.Count("DocEnd"), 1);
  rc.body.clear();
  rc.cli.Get();
  EXPECT_EQ(server.Connections(), 1);
  EXPECT_EQ(rc.cli.StatusCode(), 200);
  EXPECT_EQ(rc.body, "xyz");
  EXPECT_EQ(rc.cli.ReceivedHeader().at(0), "HTTP/1.1 200 OK");
}

TEST(HttpResponse, ChunkedSplitAtEveryByte) {
  const std::string raw = "HTTP/1.0 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n5\r\nHello\r\n3\r\n, w\r\n0\r\n\r\n";
  ScriptedServer server([&](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    for (char ch : raw) c.SendSlowly(std::string(1, ch), 2);
    c.Close();
  });
  RecordingClient rc;
  rc.cli.URL = server.Url("/c");
  rc.cli.Get();
  EXPECT_EQ(rc.cli.TransferEncoding(), "chunked");
  EXPECT_EQ(rc.body, "Hello, w");
  EXPECT_EQ(rc.Count("DocEnd"), 1);
}

TEST(HttpResponse, ChunkSizeBeyond64BitsFailsTheRequest) {
  ScriptedServer server(Parts({"HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1FFFFFFFFFFFFFFFF\r\nabc"},
                              false));
  RecordingClient rc;
  rc.cli.URL = server.Url("/bad");
  EXPECT_THROW(rc.cli.Get(), EHttpException);
  EXPECT_EQ(rc.doneError, 5);
  EXPECT_TRUE(rc.body.empty());
  EXPECT_EQ(rc.cli.State(), httpReady);
}

TEST(HttpResponse, LengthMissingInvalidOrZero) {
  {  // No length on a closing connection: the body runs until the close.
    ScriptedServer server(Parts({"HTTP/1.0 200 OK\r\n\r\npart1", "part2"}));
    RecordingClient rc;
    rc.cli.URL = server.Url("/a");
    rc.cli.Get();
    EXPECT_EQ(rc.cli.ContentLength(), -1);
    EXPECT_EQ(rc.body, "part1part2");
    EXPECT_EQ(rc.Count("DocEnd"), 1);
    EXPECT_EQ(rc.Count("State:httpBodyReceived"), 0);  // the end comes from the close
    EXPECT_EQ(rc.doneError, 0);
  }
  for (const char* bad : {"abc", "-5", "99999999999999999999", "12x"}) {
    ScriptedServer server(Parts({std::string("HTTP/1.0 200 OK\r\nContent-Length: ") + bad + "\r\n\r\nxyz"}));
    RecordingClient rc;
    rc.cli.URL = server.Url("/b");
    rc.cli.Get();
    EXPECT_EQ(rc.cli.ContentLength(), -1) << bad;
    EXPECT_EQ(rc.body, "xyz") << bad;
  }
  {  // Length 0 on a kept connection: ends at once, no document.
    ScriptedServer server(Parts({"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}, false));
    RecordingClient rc;
    rc.cli.SetRequestVer("1.1");
    rc.cli.URL = server.Url("/z");
    rc.cli.Get();
    EXPECT_EQ(rc.Count("DocBegin"), 0);
    EXPECT_EQ(rc.Count("SessionClosed"), 0);
    EXPECT_EQ(rc.cli.StatusCode(), 200);
  }
  {  // 304 without a length expects no body.
    ScriptedServer server(Parts({"HTTP/1.1 304 Not Modified\r\n\r\n"}, false));
    RecordingClient rc;
    rc.cli.SetRequestVer("1.1");
    rc.cli.URL = server.Url("/n");
    rc.cli.Get();
    EXPECT_EQ(rc.cli.StatusCode(), 304);
    EXPECT_EQ(rc.Count("DocBegin"), 0);
  }
}

TEST(HttpResponse, ConnectionFieldDecidesTheClose) {
  // A 1.1 request answered 1.1 keeps the connection unless the answer says close.
  ScriptedServer server([](PeerConn& c, int idx) {
    std::string head;
    if (idx == 0) {
      if (!c.ReadRequest(head)) return;
      c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\nConnection:   Close  \r\n\r\n1");
      c.WaitForClientClose();
    } else {
      if (!c.ReadRequest(head)) return;
      c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n2");
      if (!c.ReadRequest(head)) return;
      c.Send("HTTP/1.0 200 OK\r\nContent-Length: 1\r\nConnection: Keep-Alive\r\n\r\n3");
      if (!c.ReadRequest(head)) return;
      c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n4");
      c.WaitForClientClose();
    }
  });
  RecordingClient rc;
  rc.cli.SetRequestVer("1.1");
  rc.cli.URL = server.Url("/k");
  rc.cli.Get();  // "close": the client closes
  EXPECT_EQ(rc.Count("SessionClosed"), 1);
  rc.cli.Get();  // new connection, kept
  rc.cli.Get();  // 1.0 answer with Keep-Alive: still kept
  rc.cli.Get();
  EXPECT_EQ(rc.body, "1234");
  EXPECT_EQ(server.Connections(), 2);
}

TEST(HttpResponse, InterimContinueAnswerIsDropped) {
  ScriptedServer server(Parts({"HTTP/1.1 100 Continue\r\nX-A: 1\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi"}));
  RecordingClient rc;
  rc.cli.URL = server.Url("/c");
  rc.cli.Get();
  EXPECT_EQ(rc.Count("HeaderBegin"), 1);
  EXPECT_EQ(rc.cli.ReceivedHeader(), (std::vector<std::string>{"HTTP/1.1 200 OK", "Content-Length: 2"}));
  EXPECT_EQ(rc.cli.StatusCode(), 200);
  EXPECT_EQ(rc.body, "hi");
}

TEST(HttpResponse, HtmlWithoutHeader) {
  ScriptedServer server(Parts({"<hTmL><body>one\r\n", "two</body></html>\r\n"}));
  RecordingClient rc;
  rc.cli.URL = server.Url("/page");
  rc.cli.Get();
  EXPECT_EQ(rc.cli.ContentType(), "text/html");
  EXPECT_TRUE(rc.cli.ReceivedHeader().empty());
  EXPECT_EQ(rc.CountPrefix("HeaderData:"), 0);
  EXPECT_EQ(rc.body, "<hTmL><body>onetwo</body></html>\r\n");
}

TEST(HttpResponse, HtmlAnswerRenamesAnExeDocument) {
  {
    ScriptedServer server(Parts({"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 1\r\n\r\nx"}));
    THttpCli c;
    c.URL = server.Url("/setup.exe");
    c.Get();
    EXPECT_EQ(c.DocName(), "setup.htm");
  }
  {
    ScriptedServer server(
        Parts({"HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 1\r\n\r\nx"}));
    THttpCli c;
    c.URL = server.Url("/setup.exe");
    c.Get();
    EXPECT_EQ(c.DocName(), "setup.exe");
  }
}

TEST(HttpResponse, HeadReportsHeaderOnlyAndDropsBodyBytes) {
  ScriptedServer server(Parts({"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n", "0123456789"}));
  RecordingClient rc;
  rc.cli.URL = server.Url("/h");
  rc.cli.Head();
  EXPECT_EQ(rc.cli.StatusCode(), 200);
  EXPECT_EQ(rc.cli.ContentLength(), 10);
  EXPECT_EQ(rc.Count("DocBegin"), 0);
  EXPECT_TRUE(rc.body.empty());
  EXPECT_EQ(rc.doneError, 0);
}

TEST(HttpResponse, OverlongHeaderLineIsCut) {
  std::string big = "X-Big: " + std::string(9000 - 7, 'q');
  ScriptedServer server(Parts({"HTTP/1.0 200 OK\r\n" + big + "\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok"}));
  RecordingClient rc;
  rc.cli.URL = server.Url("/long");
  rc.cli.Get();
  ASSERT_EQ(rc.cli.ReceivedHeader().size(), 4u);
  EXPECT_LT(rc.cli.ReceivedHeader()[1].size(), 8190u);
  EXPECT_EQ(rc.cli.ReceivedHeader()[1].compare(0, 7, "X-Big: "), 0);
  EXPECT_EQ(rc.cli.ContentType(), "text/plain");
  EXPECT_EQ(rc.body, "ok");
}

TEST(HttpResponse, ZeroByteInTheHeaderDoesNotStallTheAnswer) {
  std::string answer = "HTTP/1.1 200 OK\r\nX-N: a";
  answer.push_back('\0');
  answer += "b\r\nContent-Length: 2\r\n\r\nok";
  ScriptedServer server(Parts({answer}, false));
  RecordingClient rc;
  rc.cli.SetRequestVer("1.1");
  rc.cli.URL = server.Url("/nul");
  rc.cli.Get();
  EXPECT_EQ(rc.body, "ok");
  EXPECT_EQ(rc.cli.ReceivedHeader().at(1).size(), 8u);
}

TEST(HttpResponse, CutShortAnswersAreFailures) {
  {  // Body shorter than announced.
    ScriptedServer server(Parts({"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n", std::string(40, 'c')}));
    RecordingClient rc;
    rc.cli.URL = server.Url("/short");
    try {
      rc.cli.Get();
      FAIL();
    } catch (const EHttpException& e) {
      EXPECT_EQ(e.ErrorCode, 4);
    }
    EXPECT_EQ(rc.cli.StatusCode(), 200);
    EXPECT_EQ(rc.cli.ReceivedCount(), 40);
    EXPECT_EQ(rc.Count("DocEnd"), 1);
    EXPECT_EQ(rc.doneError, 4);
  }
  {  // Closed inside the header.
    ScriptedServer server(Parts({"HTTP/1.0 200 OK\r\nContent-"}));
    RecordingClient rc;
    rc.cli.URL = server.Url("/h");
    EXPECT_THROW(rc.cli.Get(), EHttpException);
    EXPECT_EQ(rc.Count("HeaderEnd"), 1);
    EXPECT_EQ(rc.Count("SessionClosed"), 1);
    EXPECT_EQ(rc.doneError, 4);
  }
  {  // Chunked body without its last chunk.
    ScriptedServer server(Parts({"HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n"}));
    RecordingClient rc;
    rc.cli.URL = server.Url("/c");
    EXPECT_THROW(rc.cli.Get(), EHttpException);
    EXPECT_EQ(rc.body, "abc");
  }
  {  // A reset: the socket error is the request's error.
    ScriptedServer server([](PeerConn& c, int) {
      std::string head;
      c.ReadRequest(head);
      c.SendSlowly("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nabc");
      c.Reset();
    });
    RecordingClient rc;
    rc.cli.URL = server.Url("/r");
    ASSERT_TRUE(rc.RunAsync());
    EXPECT_EQ(rc.doneError, 10054);
  }
}

TEST(HttpResponse, NotAnHttpStatusLine) {
  ScriptedServer server(Parts({"ICY 200 OK\r\nContent-Length: 2\r\n\r\nab"}));
  RecordingClient rc;
  int push2 = 0;
  rc.cli.OnDataPush2 = [&](THttpCli*) { ++push2; };
  rc.cli.URL = server.Url("/icy");
  rc.cli.Get();
  EXPECT_EQ(push2, 1);
  EXPECT_EQ(rc.cli.StatusCode(), 0);
  EXPECT_EQ(rc.body, "ab");
}

TEST(HttpResponse, ErrorStatusRaisesAfterTheWait) {
  ScriptedServer server(Parts({"HTTP/1.0 404 Not Found\r\nContent-Length: 3\r\n\r\nnf!"}));
  RecordingClient rc;
  rc.cli.URL = server.Url("/missing");
  try {
    rc.cli.Get();
    FAIL();
  } catch (const EHttpException& e) {
    EXPECT_EQ(e.ErrorCode, 404);
    EXPECT_STREQ(e.what(), "Not Found");
  }
  EXPECT_EQ(rc.body, "nf!");
  EXPECT_EQ(rc.cli.State(), httpReady);
}

TEST(HttpResponse, ContentCodingOffPassesEverythingUnchanged) {
  ScriptedServer server([](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    EXPECT_EQ(head.find("Accept-Encoding"), std::string::npos);
    c.Send("HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 4\r\n\r\n" + std::string("\x1f\x8b\x08\x00", 4));
    c.Close();
  });
  THttpCli c;
  plat::TMemoryStream ms;
  c.ReceiveStream = &ms;
  c.URL = server.Url("/gz");
  c.Get();
  EXPECT_EQ(ms.DataString(), std::string("\x1f\x8b\x08\x00", 4));
}

TEST(HttpResponse, ContentCodingOnWithRegisteredAndUnknownCodings) {
  THttpCli c;
  c.SetOptions(THttpCliOptions{httpoEnableContentCoding, httpoBandwidthControl});
  THttpCliOptions o = c.GetOptions();
  EXPECT_TRUE(o.Contains(httpoEnableContentCoding));
  EXPECT_TRUE(o.Contains(httpoBandwidthControl));
  EXPECT_FALSE(o.Contains(httpoUseQuality));
  c.SetOptions(THttpCliOptions{httpoEnableContentCoding});
  for (const char* coding : {"identity", "gzip", "identity, *"}) {
    ScriptedServer server([&](PeerConn& p, int) {
      std::string head;
      if (!p.ReadRequest(head)) return;
      // Both qualities are 0: no Accept-Encoding line without httpoUseQuality.
      EXPECT_EQ(head.find("Accept-Encoding"), std::string::npos);
      p.Send(std::string("HTTP/1.0 200 OK\r\nContent-Encoding: ") + coding + "\r\nContent-Length: 6\r\n\r\nabcdef");
      p.Close();
    });
    plat::TMemoryStream ms;
    std::string seen;
    c.OnDocData = [&](THttpCli*, const void* b, int n) {
      // The stream already holds the bytes when the event sees them.
      EXPECT_EQ(ms.GetSize(), static_cast<std::int64_t>(seen.size()) + n);
      seen.append(static_cast<const char*>(b), static_cast<std::size_t>(n));
    };
    c.ReceiveStream = &ms;
    c.URL = server.Url("/cc");
    c.Get();
    EXPECT_EQ(ms.DataString(), "abcdef") << coding;
    EXPECT_EQ(seen, "abcdef") << coding;
    c.ReceiveStream = nullptr;
  }
}

TEST(HttpResponse, LinesAfterTheAnswerAreDataPush) {
  ScriptedServer server([](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    c.SendSlowly("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", 50);
    c.SendSlowly("unsolicited line\r\n", 50);
    c.WaitForClientClose();
  });
  RecordingClient rc;
  int pushes = 0;
  rc.cli.OnDataPush = [&](THttpCli*, std::uint16_t) { ++pushes; };
  rc.cli.SetRequestVer("1.1");
  rc.cli.URL = server.Url("/p");
  rc.cli.Get();
  EXPECT_TRUE(PumpUntil([&] { return pushes == 1; }, 3000));
  EXPECT_EQ(rc.body, "ok");
}

TEST(HttpResponse, TraceLinesGoToTheSocketsLogger) {
  ScriptedServer server(Parts({"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"}));
  TQelLogger logger;
  std::vector<std::string> lines;
  logger.SetLogOptions(TLogOptions{loDestEvent, loProtSpecInfo});
  logger.SetOnQelLogEvent([&](TObject*, TLogOption, const std::string& m) { lines.push_back(m); });
  THttpCli c;
  c.SetQelLogger(&logger);
  EXPECT_EQ(c.GetQelLogger(), &logger);
  c.URL = server.Url("/t");
  c.Get();
  auto has = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l) != lines.end(); };
  EXPECT_TRUE(has("Login 127.0.0.1"));
  EXPECT_TRUE(has("State = httpWaitingHeader"));
  EXPECT_TRUE(has("SendRequest Done"));
  EXPECT_TRUE(has("End of header"));
  EXPECT_TRUE(has("End of document"));
  EXPECT_TRUE(has("DocEnd"));
  EXPECT_TRUE(has("RequestDone"));
  // Dump-level lines stay out at this level.
  EXPECT_FALSE(has(">|HTTP/1.0 200 OK|"));
  c.SetQelLogger(nullptr);
}

TEST(HttpResponse, ChunkedBodyWinsOverAnAnnouncedLength) {
  // The announced length is far below the chunked body: the chunks decide,
  // and a body longer than the receive buffer still flows.
  std::string chunk(20000, 'k');
  char size[16];
  std::snprintf(size, sizeof size, "%zX", chunk.size());
  ScriptedServer server(Parts({"HTTP/1.1 200 OK\r\nContent-Length: 10\r\nTransfer-Encoding: chunked\r\n\r\n",
                               std::string(size) + "\r\n" + chunk + "\r\n0\r\n\r\n"},
                              false));
  RecordingClient rc;
  rc.cli.SetRequestVer("1.1");
  rc.cli.URL = server.Url("/both");
  rc.cli.Get();
  EXPECT_EQ(rc.body, chunk);
  EXPECT_EQ(rc.Count("DocEnd"), 1);
}

// A header handler that throws aborts the answer with bytes still unread;
// the next request of the same client must not take them for its answer.
TEST(HttpResponse, BytesOfAnAbortedAnswerDoNotLeakIntoTheNext) {
  ScriptedServer server([](PeerConn& c, int index) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    if (index == 0) {
      c.Send("HTTP/1.0 200 OK\r\nX-Bad: 1\r\nServer: t\r\nContent-Length: 9\r\n\r\nleftover!");
      c.Close();
    } else {
      c.Send("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nfresh");
      c.Close();
    }
  });
  RecordingClient rc;
  plat::TMemoryStream ms;
  rc.cli.ReceiveStream = &ms;
  rc.cli.OnHeaderData = [](THttpCli* s) {
    if (s->ReceivedHeader().back() == "X-Bad: 1") throw std::runtime_error("bad header");
  };
  rc.cli.URL = server.Url("/first");
  try {
    rc.cli.Get();
  } catch (const EHttpException&) {
  }
  EXPECT_EQ(ms.GetSize(), 0);
  rc.cli.URL = server.Url("/second");
  rc.cli.Get();
  EXPECT_EQ(rc.cli.StatusCode(), 200);
  EXPECT_EQ(ms.DataString(), "fresh");
  EXPECT_EQ(rc.cli.ReceivedHeader(), (std::vector<std::string>{"HTTP/1.0 200 OK", "Content-Length: 5"}));
}

TEST(HttpResponse, LargeBodyArrivesInLargePiecesAndStopsAtTheLength) {
  std::string body(600 * 1024, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 131) >> 3);
  ScriptedServer server(Parts({"HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                               body + "EXTRA"}));
  RecordingClient rc;
  std::int64_t delivered = 0;
  int largest = 0;
  bool countExact = true;
  rc.cli.OnDocData = [&](THttpCli* h, const void* b, int n) {
    rc.body.append(static_cast<const char*>(b), static_cast<std::size_t>(n));
    delivered += n;
    largest = std::max(largest, n);
    countExact = countExact && h->ReceivedCount() == delivered;
  };
  plat::TMemoryStream ms;
  rc.cli.ReceiveStream = &ms;
  rc.cli.URL = server.Url("/big.flv");
  rc.cli.Get();
  EXPECT_TRUE(rc.body == body);
  EXPECT_TRUE(ms.DataString() == body);
  EXPECT_EQ(rc.cli.ReceivedCount(), static_cast<std::int64_t>(body.size()));
  EXPECT_TRUE(countExact);
  EXPECT_GT(largest, THttpCli::kMaxRecvData);  // more than the line buffer per receive
  EXPECT_EQ(rc.doneError, 0);
}
