// Hostile answers through Get, each scripted to the byte: a request either
// delivers the complete document or fails with a clear reason, never a
// truncated or corrupted file reported as success.
#include <gtest/gtest.h>

#include <algorithm>

#include "http/HttpPeer.h"

using namespace httptest;

namespace {

enum TEnd { endClose, endReset, endKeep };

// One connection: read the request, send `parts` as separate reads, then end
// the connection as `end` says.
ScriptedServer::Script Answer(std::vector<std::string> parts, TEnd end = endClose) {
  return [parts, end](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    for (const auto& p : parts) c.SendSlowly(p);
    if (end == endReset)
      c.Reset();
    else if (end == endClose)
      c.Close();
    else
      c.WaitForClientClose();
  };
}

// Request heads as a server read them, one per connection.
struct THeads {
  std::mutex Lock;
  std::vector<std::string> List;
  std::vector<std::string> Get() {
    std::lock_guard<std::mutex> l(Lock);
    return List;
  }
};

// Records each request's head, then answers `answer` and closes.
ScriptedServer::Script Recorded(std::shared_ptr<THeads> heads, std::string answer) {
  return [heads, answer](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    {
      std::lock_guard<std::mutex> l(heads->Lock);
      heads->List.push_back(head);
    }
    c.Send(answer);
    c.Close();
  };
}

// What a Get came to.
struct TOutcome {
  bool Raised = false;
  std::uint16_t Code = 0;
  std::string Text;
  std::string Stream;  // what reached the receive stream
  std::int64_t Counted = 0;
  int DocEnds = 0;
};

TOutcome Fetch(ScriptedServer::Script script, const std::string& ver = "1.0") {
  ScriptedServer server(std::move(script));
  RecordingClient rc;
  plat::TMemoryStream ms;
  rc.cli.ReceiveStream = &ms;
  rc.cli.SetRequestVer(ver);
  rc.cli.URL = server.Url("/video.flv");
  TOutcome o;
  try {
    rc.cli.Get();
  } catch (const EHttpException& e) {
    o.Raised = true;
    o.Code = e.ErrorCode;
    o.Text = e.what();
  }
  o.Stream = ms.DataString();
  o.Counted = rc.cli.ReceivedCount();
  o.DocEnds = rc.Count("DocEnd");
  return o;
}

}  // namespace

TEST(HttpHostile, ResetEndingABodyFailsWithOrWithoutLength) {
  for (const char* length : {"Content-Length: 100\r\n", ""}) {
    TOutcome o = Fetch(Answer({std::string("HTTP/1.0 200 OK\r\n") + length + "\r\n", "abc"}, endReset));
    EXPECT_TRUE(o.Raised) << length;
    EXPECT_EQ(o.Code, 10054) << length;
    EXPECT_EQ(o.Text, "Connection reset by peer (Error #10054)") << length;
  }
  // An orderly close still ends a body without length as a success.
  TOutcome ok = Fetch(Answer({"HTTP/1.0 200 OK\r\n\r\n", "abc"}));
  EXPECT_FALSE(ok.Raised);
  EXPECT_EQ(ok.Stream, "abc");
}

TEST(HttpHostile, RefusedWriteFailsWithTheSystemsText) {
  // /dev/full refuses every byte with ENOSPC, like a full disk.
  for (const char* framing : {"Content-Length: 10\r\n", "", "Transfer-Encoding: chunked\r\n"}) {
    const bool chunked = std::string(framing).find("chunked") != std::string::npos;
    ScriptedServer server(Answer({std::string("HTTP/1.0 200 OK\r\n") + framing + "\r\n",
                                  chunked ? "A\r\n0123456789\r\n0\r\n\r\n" : "0123456789"}));
    RecordingClient rc;
    plat::TFileStream full("/dev/full", plat::fmOpenWrite);
    rc.cli.ReceiveStream = &full;
    rc.cli.URL = server.Url("/video.flv");
    try {
      rc.cli.Get();
      ADD_FAILURE() << "no failure with " << framing;
    } catch (const EHttpException& e) {
      EXPECT_STREQ(e.what(), "No space left on device") << framing;
      EXPECT_EQ(e.ErrorCode, 7) << framing;
    }
    EXPECT_EQ(rc.doneError, 7) << framing;
    EXPECT_EQ(rc.Count("DocData"), 0) << framing;  // nothing handed on that the stream refused
  }
}

TEST(HttpHostile, ChunkSizeWithoutADigitIsInvalid) {
  for (const char* body : {"zz\r\nabc\r\n0\r\n\r\n", "\r\nabc\r\n0\r\n\r\n", "3\r\nabc\r\n\r\n0\r\n\r\n"}) {
    TOutcome o = Fetch(Answer({"HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", body}));
    EXPECT_TRUE(o.Raised) << body;
    EXPECT_EQ(o.Code, 5) << body;
    EXPECT_EQ(o.Text, "Invalid chunk size") << body;
  }
}

TEST(HttpHostile, TransferEncodingEndingInChunkedIsRecognised) {
  for (const char* coding : {"chunked ", " Chunked", "gzip, chunked", "gzip,CHUNKED  "}) {
    TOutcome o = Fetch(Answer({std::string("HTTP/1.0 200 OK\r\nTransfer-Encoding: ") + coding + "\r\n\r\n",
                               "5\r\nHello\r\n6\r\n, you!\r\n0\r\n\r\n"}));
    EXPECT_FALSE(o.Raised) << coding << ": " << o.Text;
    EXPECT_EQ(o.Stream, "Hello, you!") << coding;
    EXPECT_EQ(o.Counted, 11) << coding;
  }
  // Chunked not last: the body is not framed by chunks and runs to the close.
  TOutcome o = Fetch(Answer({"HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked, gzip\r\n\r\n", "5\r\nHello\r\n"}));
  EXPECT_FALSE(o.Raised);
  EXPECT_EQ(o.Stream, "5\r\nHello\r\n");
}

TEST(HttpHostile, ChunkedBodyIgnoresAnyContentLength) {
  for (const char* length : {"0", "3", "99999", "abc"}) {
    TOutcome o = Fetch(Answer({std::string("HTTP/1.0 200 OK\r\nContent-Length: ") + length +
                                   "\r\nTransfer-Encoding: chunked\r\n\r\n",
                               "5\r\nHello\r\n6\r\n, you!\r\n0\r\n\r\n"}));
    EXPECT_FALSE(o.Raised) << length << ": " << o.Text;
    EXPECT_EQ(o.Stream, "Hello, you!") << length;
    EXPECT_EQ(o.DocEnds, 1) << length;
  }
  // After the chunks the length is no longer announced, so a caller that
  // compares the count with it finds nothing amiss.
  ScriptedServer server(Answer({"HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 0\r\n\r\n",
                                "3\r\nabc\r\n0\r\n\r\n"}));
  THttpCli cli;
  cli.URL = server.Url("/video.flv");
  cli.Get();
  EXPECT_EQ(cli.ContentLength(), -1);
  EXPECT_EQ(cli.ReceivedCount(), 3);
}

TEST(HttpHostile, DifferingContentLengthsFailEqualRepeatsDoNot) {
  for (const char* second : {"3", "50", "x"}) {
    TOutcome o = Fetch(Answer(
        {std::string("HTTP/1.0 200 OK\r\nContent-Length: 5\r\nContent-Length: ") + second + "\r\n\r\n", "Hello"}));
    EXPECT_TRUE(o.Raised) << second;
    EXPECT_EQ(o.Code, 8) << second;
    EXPECT_EQ(o.Text, "Content-Length values differ") << second;
    EXPECT_EQ(o.Stream, "") << second;
  }
  TOutcome same = Fetch(Answer({"HTTP/1.0 200 OK\r\nContent-Length: 5\r\ncontent-length:  5 \r\n\r\n", "Hello"}));
  EXPECT_FALSE(same.Raised) << same.Text;
  EXPECT_EQ(same.Stream, "Hello");
  // An interim answer's length is not the real answer's.
  TOutcome interim = Fetch(Answer({"HTTP/1.1 100 Continue\r\nContent-Length: 9\r\n\r\n",
                                   "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nHello"}));
  EXPECT_FALSE(interim.Raised) << interim.Text;
  EXPECT_EQ(interim.Stream, "Hello");
}

TEST(HttpHostile, InterimAnswerLeavesNothingToTheRealOne) {
  // Its length would cut the document short, its chunking would misread it.
  TOutcome length = Fetch(Answer({"HTTP/1.1 100 Continue\r\nContent-Length: 3\r\n\r\n",
                                  "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nabcdef"}));
  EXPECT_FALSE(length.Raised) << length.Text;
  EXPECT_EQ(length.Stream, "abcdef");
  EXPECT_EQ(length.Counted, 6);
  TOutcome chunked = Fetch(Answer({"HTTP/1.1 100 Continue\r\nTransfer-Encoding: chunked\r\n\r\n",
                                   "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nHello"}));
  EXPECT_FALSE(chunked.Raised) << chunked.Text;
  EXPECT_EQ(chunked.Stream, "Hello");
}

TEST(HttpHostile, RequestTargetIsEncodedAndNeverInjects) {
  const std::string ok = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok";
  {  // Blanks and other control bytes are encoded; the fragment stays home.
    auto heads = std::make_shared<THeads>();
    ScriptedServer server(Recorded(heads, ok));
    THttpCli cli;
    cli.URL = server.Url("/a b/c\td.flv?x=1 2#frag ment");
    cli.Get();
    ASSERT_EQ(heads->Get().size(), 1u);
    EXPECT_EQ(HeadLines(heads->Get()[0]).at(0), "GET /a%20b/c%09d.flv?x=1%202 HTTP/1.0");
  }
  for (const char* bad : {"/x\rInjected: 1", "/x\nInjected: 1"}) {  // refused before any connection
    auto heads = std::make_shared<THeads>();
    ScriptedServer server(Recorded(heads, ok));
    RecordingClient rc;
    rc.cli.URL = server.Url(bad);
    try {
      rc.cli.Get();
      ADD_FAILURE() << "sent";
    } catch (const EHttpException& e) {
      EXPECT_EQ(e.ErrorCode, 9);
      EXPECT_STREQ(e.what(), "Refused address: it holds CR or LF");
    }
    EXPECT_EQ(rc.doneError, 9);
    EXPECT_EQ(rc.cli.State(), httpReady);
    EXPECT_EQ(server.Connections(), 0);
  }
}

TEST(HttpHostile, LocationIsEncodedFollowedToItsHostAndNeverInjects) {
  const std::string ok = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok";
  auto second = std::make_shared<THeads>();
  ScriptedServer other(Recorded(second, ok));
  for (const std::string& location :
       {std::string("/new place.flv#part2"), "//127.0.0.1:" + other.PortText() + "/y z.flv#f"}) {
    auto heads = std::make_shared<THeads>();
    ScriptedServer server([&](PeerConn& c, int index) {
      if (index == 0) {
        std::string head;
        if (!c.ReadRequest(head)) return;
        c.Send("HTTP/1.0 302 Found\r\nLocation: " + location + "\r\n\r\n");
        c.Close();
      } else {
        Recorded(heads, ok)(c, index);
      }
    });
    THttpCli cli;
    cli.URL = server.Url("/start.flv");
    cli.Get();
    EXPECT_EQ(cli.StatusCode(), 200) << location;
    const bool elsewhere = location[1] == '/';
    const std::vector<std::string> seen = elsewhere ? second->Get() : heads->Get();
    ASSERT_EQ(seen.size(), 1u) << location;
    const std::vector<std::string> lines = HeadLines(seen[0]);
    EXPECT_EQ(lines.at(0), elsewhere ? "GET /y%20z.flv HTTP/1.0" : "GET /new%20place.flv HTTP/1.0");
    if (elsewhere) {
      EXPECT_NE(std::find(lines.begin(), lines.end(), "Host: 127.0.0.1:" + other.PortText()), lines.end());
      EXPECT_EQ(server.Connections(), 1);
    }
  }
  {  // A bare CR in a Location would inject a header line: refused.
    auto heads = std::make_shared<THeads>();
    ScriptedServer server([&](PeerConn& c, int index) {
      if (index > 0) return Recorded(heads, ok)(c, index);
      std::string head;
      if (!c.ReadRequest(head)) return;
      c.Send("HTTP/1.0 302 Found\r\nLocation: /x\rInjected: 1\r\nContent-Length: 0\r\n\r\n");
      c.WaitForClientClose();
    });
    RecordingClient rc;
    rc.cli.URL = server.Url("/start.flv");
    try {
      rc.cli.Get();
      ADD_FAILURE() << "followed";
    } catch (const EHttpException& e) {
      EXPECT_EQ(e.ErrorCode, 9);
      EXPECT_STREQ(e.what(), "Refused Location: it holds CR or LF");
    }
    EXPECT_EQ(rc.CountPrefix("LocationChange"), 0);
    EXPECT_TRUE(heads->Get().empty());
  }
}

TEST(HttpHostile, BytesAfterABodilessAnswerAreNotItsHeader) {
  // Before, the lines after the empty line were read as more header of the
  // same answer: a length appeared that no body had matched.
  ScriptedServer server(Answer({"HTTP/1.1 204 No Content\r\n\r\nContent-Length: 6\r\n\r\n"}, endKeep));
  RecordingClient rc;
  int pushes = 0;
  rc.cli.OnDataPush = [&](THttpCli*, std::uint16_t) { ++pushes; };
  rc.cli.SetRequestVer("1.1");
  rc.cli.URL = server.Url("/none");
  rc.cli.Get();
  EXPECT_EQ(rc.cli.StatusCode(), 204);
  EXPECT_EQ(rc.cli.ContentLength(), -1);
  EXPECT_EQ(rc.cli.ReceivedHeader(), (std::vector<std::string>{"HTTP/1.1 204 No Content"}));
  EXPECT_TRUE(PumpUntil([&] { return pushes == 2; }, 3000));  // the two lines, as lines of no answer
}

// A relocation answer whose own body is malformed still sends the client on;
// what counts is the answer at the end of the chain.
TEST(HttpHostile, FaultyBodyOfARelocationDoesNotFailTheAnswerItLeadsTo) {
  TOutcome o = Fetch([](PeerConn& c, int index) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    if (index == 0) {
      c.Send("HTTP/1.0 302 Found\r\nLocation: /ok.flv\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nmoved\r\n");
    } else {
      c.Send("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nwhole");
    }
    c.Close();
  });
  EXPECT_FALSE(o.Raised) << o.Text;
  EXPECT_EQ(o.Stream, "whole");
}

// Header bytes that keep coming defeat any time-out: the header has caps of
// its own (100 KiB a line, 300 KiB in all), and a header within them is read.
TEST(HttpHostile, EndlessHeaderFailsAtItsCapsAndALargeOneWithinThemIsRead) {
  // Sends `head`, then `filler` again and again (up to 4 MB) until the client goes.
  auto endless = [](std::string head, std::string filler) {
    return [head, filler](PeerConn& c, int) {
      std::string request;
      if (!c.ReadRequest(request) || !c.Send(head)) return;
      for (std::size_t sent = 0; sent < (4u << 20) && c.Send(filler); sent += filler.size()) {
      }
      c.WaitForClientClose();
    };
  };
  for (const bool oneLine : {false, true}) {
    ScriptedServer server(oneLine ? endless("HTTP/1.1 200 OK\r\nX-Long: ", std::string(16384, 'a'))
                                  : endless("HTTP/1.1 200 OK\r\n", "X-Pad: " + std::string(1017, 'p') + "\r\n"));
    RecordingClient rc;
    rc.cli.URL = server.Url("/endless");
    ASSERT_TRUE(rc.RunAsync()) << oneLine;
    EXPECT_EQ(rc.doneError, 11) << oneLine;
    EXPECT_EQ(rc.cli.ReasonPhrase(), "the answer's header is too large");
    EXPECT_LE(rc.cli.ReceivedHeader().size(), 300u);  // what was kept stays within the cap
    EXPECT_EQ(rc.Count("DocBegin"), 0);
  }
  std::string large = "HTTP/1.1 200 OK\r\nX-Long: " + std::string(90 * 1024, 'l') + "\r\n";
  for (int i = 0; i < 190; ++i) large += "X-Pad-" + std::to_string(i) + ": " + std::string(1000, 'p') + "\r\n";
  ScriptedServer server(Answer({large + "Content-Length: 2\r\n\r\nok"}, endKeep));
  RecordingClient rc;
  rc.cli.URL = server.Url("/large");
  ASSERT_TRUE(rc.RunAsync());
  EXPECT_EQ(rc.doneError, 0) << rc.cli.ReasonPhrase();
  EXPECT_EQ(rc.body, "ok");
  EXPECT_EQ(rc.cli.ReceivedHeader().size(), 193u);
}
