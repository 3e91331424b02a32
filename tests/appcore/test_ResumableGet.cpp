// A GET into a file against scripted servers that fail the way real ones
// do: a reset half-way (continued with a range), 503 with Retry-After, a
// server that ignores the range, 416 for a file already whole, an error
// page while continuing, a range that does not fit, an unreadable length,
// a stall, Stop, and proxies that refuse or cannot be reached (named as the
// hop that failed, in the SOCKS layer's words).
#include <gtest/gtest.h>

#include "app/core/ProxySettings.h"
#include "app/core/ResumableGet.h"
#include "http/HttpPeer.h"
#include "socket/SocketTestUtil.h"
#include "platform/Stream.h"

using namespace httptest;

namespace {

// 20000 bytes that differ from position to position.
std::string Document() {
  std::string d;
  for (int i = 0; i < 20000; ++i) d += static_cast<char>('A' + (i * 7 + i / 26) % 26);
  return d;
}

std::string Header(const std::string& status, const std::string& extra, std::size_t length) {
  return "HTTP/1.1 " + status + "\r\nConnection: close\r\n" + extra + "Content-Length: " + std::to_string(length) +
         "\r\n\r\n";
}

// The first byte a request asks for (0 without a Range line).
std::size_t RangeStart(const std::string& head) {
  const std::string::size_type p = head.find("\r\nRange: bytes=");
  return p == std::string::npos ? 0 : std::stoul(head.substr(p + 15));
}

// Serves the document from where the range asks, as a 206 or, unasked, a 200.
void ServeFrom(PeerConn& c, const std::string& head, const std::string& doc) {
  const std::size_t from = RangeStart(head);
  if (from == 0) {
    c.Send(Header("200 OK", "", doc.size()) + doc);
  } else {
    c.Send(Header("206 Partial Content",
                  "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(doc.size() - 1) + "/" +
                      std::to_string(doc.size()) + "\r\n",
                  doc.size() - from) +
           doc.substr(from));
  }
  c.WaitForClientClose();
}

// Announces the whole document, sends half of it and resets the connection.
void ResetHalfWay(PeerConn& c, const std::string& doc) {
  c.Send(Header("200 OK", "", doc.size()) + doc.substr(0, doc.size() / 2));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  c.Reset();
}

struct TGetRun {
  THttpCli cli;
  plat::TMemoryStream file;
  std::vector<std::string> said;
  bool stop = false;
  TResumableGet get{cli, file, {[this](const std::string& l) { said.push_back(l); }, [this] { return stop; }, {}, {}, {}, {}, {}}};
  TGetRun() {
    get.MsPerSecond = 20;
    get.IdleTimeoutMs = 3000;
  }
  std::string Saved() const { return file.DataString(); }
};

}  // namespace

TEST(ResumableGet, ResetHalfWayIsContinuedWithARangeAlsoAfterARelocation) {
  const std::string doc = Document();
  ScriptedServer server([&](PeerConn& c, int index) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    server.Record(head);
    if (index == 0) {
      ResetHalfWay(c, doc);
    } else if (index == 1) {
      c.Send("HTTP/1.0 302 Found\r\nLocation: /moved.flv\r\nContent-Length: 0\r\n\r\n");
      c.WaitForClientClose();
    } else {
      ServeFrom(c, head, doc);
    }
  });
  TGetRun r;
  const TGetOutcome out = r.get.Run(server.Url("/clip.flv"));
  EXPECT_TRUE(out.Complete) << FailureText(out.Failure);
  EXPECT_EQ(out.Attempts, 2);
  EXPECT_EQ(r.Saved(), doc);
  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].find("Range:"), std::string::npos);
  EXPECT_NE(requests[1].find("\r\nRange: bytes=10000-\r\n"), std::string::npos) << requests[1];
  EXPECT_NE(requests[2].find("GET /moved.flv"), std::string::npos) << requests[2];
  EXPECT_NE(requests[2].find("\r\nRange: bytes=10000-\r\n"), std::string::npos) << requests[2];
  ASSERT_EQ(r.said.size(), 1u);
  EXPECT_EQ(r.said[0], "Connection reset by peer (Error #10054); retry 1 of 3 in 1 second");
}

TEST(ResumableGet, BusyServerIsAskedAgainAfterRetryAfter) {
  const std::string doc = Document();
  ScriptedServer server([&](PeerConn& c, int index) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    server.Record(head);
    if (index == 0) {
      const std::string page = "<html>busy</html>";
      c.Send(Header("503 Service Unavailable", "Retry-After: 7\r\n", page.size()) + page);
      c.WaitForClientClose();
    } else {
      ServeFrom(c, head, doc);
    }
  });
  TGetRun r;
  const auto start = std::chrono::steady_clock::now();
  const TGetOutcome out = r.get.Run(server.Url("/clip.flv"));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(out.Complete);
  EXPECT_EQ(r.Saved(), doc);  // the error page never reached the file
  ASSERT_EQ(r.said.size(), 1u);
  EXPECT_EQ(r.said[0], "503 Service Unavailable; retry 1 of 3 in 7 seconds");
  EXPECT_GE(ms, 7 * 20);
}

TEST(ResumableGet, ServerIgnoringTheRangeStartsTheFileAgain) {
  const std::string doc = Document();
  ScriptedServer server([&](PeerConn& c, int index) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    server.Record(head);
    if (index == 0) {
      ResetHalfWay(c, doc);
    } else {
      c.Send(Header("200 OK", "", doc.size()) + doc);  // the whole file, whatever was asked
      c.WaitForClientClose();
    }
  });
  TGetRun r;
  const TGetOutcome out = r.get.Run(server.Url("/clip.flv"));
  EXPECT_TRUE(out.Complete);
  EXPECT_EQ(r.Saved(), doc);
  EXPECT_NE(server.Requests().at(1).find("Range: bytes=10000-"), std::string::npos);
  ASSERT_EQ(r.said.size(), 2u);
  EXPECT_EQ(r.said[1], "the server sent the whole file; starting again from zero");
}

TEST(ResumableGet, ContinuingAWholeFileEndsOn416) {
  const std::string doc = Document();
  ScriptedServer server([&](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    server.Record(head);
    const std::string page = "<html>Range Not Satisfiable</html>";
    c.Send(Header("416 Range Not Satisfiable", "Content-Range: bytes */" + std::to_string(doc.size()) + "\r\n",
                  page.size()) +
           page);
    c.WaitForClientClose();
  });
  TGetRun r;
  r.file.WriteBuffer(doc.data(), static_cast<std::int64_t>(doc.size()));
  r.get.ContinueFirst = true;
  const TGetOutcome out = r.get.Run(server.Url("/clip.flv"));
  EXPECT_TRUE(out.Complete);
  EXPECT_EQ(out.Attempts, 1);
  EXPECT_EQ(r.Saved(), doc);
  EXPECT_NE(server.Requests().at(0).find("Range: bytes=20000-"), std::string::npos);
}

TEST(ResumableGet, AnswersThatCannotServeTheFileLeaveItAlone) {
  const std::string doc = Document();
  const std::string half = doc.substr(0, 5000);
  struct Case {
    std::string answer;
    TFailureKind kind;
    std::string reason;
  };
  const std::string page = "<html>gone</html>";
  const Case cases[] = {
      {Header("404 Not Found", "", page.size()) + page, fkStatus, "404 Not Found"},
      {Header("206 Partial Content", "Content-Range: bytes 0-19999/20000\r\n", doc.size()) + doc, fkOther,
       "cannot continue the partial file: the server sent another part of the file (Content-Range: bytes "
       "0-19999/20000)"},
      {Header("416 Range Not Satisfiable", "Content-Range: bytes */4000\r\n", page.size()) + page, fkOther,
       "cannot continue the partial file: the file on the server has 4000 bytes, the partial file 5000"},
      {Header("416 Range Not Satisfiable", "", page.size()) + page, fkStatus, "416 Range Not Satisfiable"},
      // Where the body ends cannot be known.
      {"HTTP/1.0 200 OK\r\nContent-Length: abc\r\n\r\n" + doc, fkOther, "the answer's Content-Length cannot be read"},
      {"HTTP/1.0 200 OK\r\nContent-Length: 20000\r\ncontent-length: 100\r\n\r\n" + doc, fkOther,
       "the answer's Content-Length cannot be read"},
  };
  for (const Case& k : cases) {
    ScriptedServer server([&](PeerConn& c, int) {
      std::string head;
      if (!c.ReadRequest(head)) return;
      c.Send(k.answer);
      c.WaitForClientClose();
    });
    TGetRun r;
    r.file.WriteBuffer(half.data(), static_cast<std::int64_t>(half.size()));
    r.get.ContinueFirst = true;
    const TGetOutcome out = r.get.Run(server.Url("/clip.flv"));
    EXPECT_FALSE(out.Complete) << k.reason;
    EXPECT_EQ(out.Attempts, 1) << k.reason;  // none of these is worth a retry
    EXPECT_EQ(out.Failure.Kind, k.kind) << k.reason;
    EXPECT_EQ(FailureText(out.Failure), k.reason);
    EXPECT_EQ(r.Saved(), half) << k.reason;
  }
}

TEST(ResumableGet, RetriesRunOutOnAServerThatAlwaysResets) {
  const std::string doc = Document();
  ScriptedServer server([&](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    server.Record(head);
    const std::size_t from = RangeStart(head);
    c.Send(from == 0 ? Header("200 OK", "", doc.size()) : Header("206 Partial Content",
           "Content-Range: bytes " + std::to_string(from) + "-19999/20000\r\n", doc.size() - from));
    c.Send(doc.substr(from, 1000));  // a little further each time
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    c.Reset();
  });
  TGetRun r;
  r.get.Policy = TRetryPolicy(2);
  const TGetOutcome out = r.get.Run(server.Url("/clip.flv"));
  EXPECT_FALSE(out.Complete);
  EXPECT_EQ(out.Attempts, 3);
  EXPECT_EQ(out.Failure.Kind, fkReset);
  EXPECT_EQ(r.Saved(), doc.substr(0, 3000));  // every piece kept, in order
  ASSERT_EQ(r.said.size(), 2u);
  EXPECT_NE(r.said[1].find("retry 2 of 2 in 2 seconds"), std::string::npos);
}

TEST(ResumableGet, StallIsRetriedAndStopEndsTheWait) {
  const std::string doc = Document();
  ScriptedServer server([&](PeerConn& c, int index) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    server.Record(head);
    if (index == 0) {
      c.Send(Header("200 OK", "", doc.size()) + doc.substr(0, 4000));
      c.WaitForClientClose();  // stalls
    } else {
      ServeFrom(c, head, doc);
    }
  });
  TGetRun r;
  r.get.IdleTimeoutMs = 300;
  const TGetOutcome out = r.get.Run(server.Url("/clip.flv"));
  EXPECT_TRUE(out.Complete);
  EXPECT_EQ(r.Saved(), doc);
  ASSERT_FALSE(r.said.empty());
  EXPECT_EQ(r.said[0], "Timed out: nothing received for 0.3 seconds; retry 1 of 3 in 1 second");

  // Stop pressed while waiting for the next attempt.
  ScriptedServer busy([&](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    c.Send(Header("503 Service Unavailable", "Retry-After: 60\r\n", 0));
    c.WaitForClientClose();
  });
  TGetRun s;
  s.get.MsPerSecond = 1000;
  plat::HWND w = plat::AllocateHWnd([&](plat::UINT m, plat::WPARAM, plat::LPARAM) {
    if (m == plat::WM_TIMER) s.stop = true;
    return plat::LRESULT{0};
  });
  plat::SetTimer(w, 1, 300);
  const auto start = std::chrono::steady_clock::now();
  const TGetOutcome stopped = s.get.Run(busy.Url("/clip.flv"));
  plat::KillTimer(w, 1);
  plat::DeallocateHWnd(w);
  EXPECT_FALSE(stopped.Complete);
  EXPECT_EQ(stopped.Failure.Kind, fkStopped);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(busy.Connections(), 1);
}

TEST(ResumableGet, FailuresAtAProxyNameTheProxyInItsOwnWords) {
  auto bytes = [](std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s.push_back(static_cast<char>(b));
    return s;
  };
  // SOCKS 4 answers the 9-byte request for 127.0.0.1:80 with `code`.
  auto socks4 = [&](int code) {
    return [&bytes, code](int fd) {
      socktest::RecvN(fd, 9);
      socktest::SendAll(fd, bytes({0, code, 0, 0, 0, 0, 0, 0}));
      socktest::RecvAll(fd, 2000);
    };
  };
  const auto socks5Refused = [&](int fd) {
    socktest::RecvN(fd, 3);
    socktest::SendAll(fd, bytes({5, 0}));
    socktest::RecvN(fd, 7 + 9);  // the name "127.0.0.1" and the port
    socktest::SendAll(fd, bytes({5, 5, 0, 1, 0, 0, 0, 0, 0, 0}));
    socktest::RecvAll(fd, 2000);
  };
  const auto socks5Closes = [&](int fd) {
    socktest::RecvN(fd, 3);
    socktest::SendAll(fd, bytes({5}));  // half an answer, then the close
  };
  struct TCase {
    TProxyKind kind;
    std::function<void(int)> script;  // none: nothing listens
    std::string said;                 // after "<kind> proxy 127.0.0.1:<port>: "
  } cases[] = {
      {pkSocks4, socks4(91), "request rejected or failed"},
      {pkSocks4, socks4(92), "connection refused"},
      {pkSocks4, socks4(93), "authentification failed"},
      {pkSocks5, socks5Refused, "connection refused"},
      {pkSocks5, socks5Closes, "data receive error"},
      {pkSocks5, nullptr, "Connection refused (Error #10061)"},
      {pkHttp, nullptr, "Connection refused (Error #10061)"},
  };
  for (const TCase& c : cases) {
    std::unique_ptr<socktest::RawServer> proxy;
    int port = socktest::ClosedPort();
    if (c.script) {
      proxy = std::make_unique<socktest::RawServer>(c.script);
      port = proxy->Port();
    }
    TProxy route;
    route.Kind = c.kind;
    route.Host = "127.0.0.1";
    route.Port = std::to_string(port);
    TGetRun r;
    r.get.Policy = TRetryPolicy(0);  // one look at each
    ApplyProxy(r.cli, route);
    const TGetOutcome out = r.get.Run("http://127.0.0.1:80/clip.flv");
    const std::string name = c.kind == pkHttp ? "HTTP" : c.kind == pkSocks4 ? "SOCKS4" : "SOCKS5";
    EXPECT_FALSE(out.Complete) << c.said;
    EXPECT_EQ(FailureText(out.Failure), name + " proxy 127.0.0.1:" + std::to_string(port) + ": " + c.said);
  }

  // Without a proxy the same refusal is the server's, said as before.
  TGetRun direct;
  const TGetOutcome out = direct.get.Run("http://127.0.0.1:" + std::to_string(socktest::ClosedPort()) + "/clip.flv");
  EXPECT_EQ(FailureText(out.Failure), "Connection refused (Error #10061)");
}

namespace {

// Resets the first answer half-way, answers the first retry with `retry`
// and any later request from the range it asks for.
std::vector<std::string> ResetThen(const std::string& retry, const std::string& doc, TGetRun& r,
                                   TGetOutcome& out, const std::string& extra = "") {
  ScriptedServer server([&](PeerConn& c, int index) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    server.Record(head);
    if (index == 0) {
      c.Send(Header("200 OK", extra, doc.size()) + doc.substr(0, doc.size() / 2));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      c.Reset();
    } else if (index == 1) {
      c.Send(retry);
      if (retry.find("Content-Length:") == std::string::npos)
        c.Close();  // the close ends a body without a length
      else
        c.WaitForClientClose();
    } else {
      ServeFrom(c, head, doc);
    }
  });
  out = r.get.Run(server.Url("/clip.flv"));
  return server.Requests();
}

}  // namespace

// A 206 that covers less than was asked for is kept, and the rest asked for
// again: the file is whole only at the total the server announced.
TEST(ResumableGet, ShortPartialAnswersAreContinuedUpToTheAnnouncedTotal) {
  const std::string doc = Document();
  const std::string rest = doc.substr(10000, 1000);
  const std::string shortAnswers[] = {
      // A smaller range than asked for.
      Header("206 Partial Content", "Content-Range: bytes 10000-10999/20000\r\n", rest.size()) + rest,
      // The whole range announced, a shorter length sent.
      Header("206 Partial Content", "Content-Range: bytes 10000-19999/20000\r\n", rest.size()) + rest,
      // No length at all, and a close after a few bytes.
      "HTTP/1.1 206 Partial Content\r\nConnection: close\r\nContent-Range: bytes 10000-19999/20000\r\n\r\n" + rest,
  };
  for (const std::string& answer : shortAnswers) {
    TGetRun r;
    TGetOutcome out;
    const std::vector<std::string> requests = ResetThen(answer, doc, r, out);
    EXPECT_TRUE(out.Complete) << FailureText(out.Failure);
    EXPECT_EQ(r.Saved(), doc);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(requests[2].find("\r\nRange: bytes=11000-\r\n"), std::string::npos) << requests[2];
    ASSERT_EQ(r.said.size(), 2u);
    EXPECT_EQ(r.said[1], "the file holds 11000 of the 20000 bytes the server announced; retry 2 of 3 in 2 seconds");
  }

  // A server that never sends more than that fails; it is never "whole".
  ScriptedServer stingy([&](PeerConn& c, int index) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    const std::size_t from = RangeStart(head);
    const std::string piece = doc.substr(from, 100);
    if (index == 0)
      c.Send(Header("200 OK", "", doc.size()) + piece);
    else
      c.Send(Header("206 Partial Content",
                    "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(from + 99) + "/20000\r\n",
                    piece.size()) +
             piece);
    c.WaitForClientClose();
  });
  TGetRun r;
  r.get.Policy = TRetryPolicy(1);
  const TGetOutcome out = r.get.Run(stingy.Url("/clip.flv"));
  EXPECT_FALSE(out.Complete);
  EXPECT_EQ(FailureText(out.Failure), "the file holds 200 of the 20000 bytes the server announced");
}

// The retry's answer comes from another version of the file: its bytes are
// never appended to the old ones.
TEST(ResumableGet, ChangedFileStartsAgainFromZeroAndIsNeverSpliced) {
  const std::string doc = Document();
  std::string newer = doc;
  for (char& ch : newer) ch = static_cast<char>(ch + 1);
  const std::string v1 = "ETag: \"v1\"\r\nLast-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n";
  struct Case {
    std::string first, changed, ifRange, said;
  };
  const Case cases[] = {
      {v1, "ETag: \"v2\"\r\n", "If-Range: \"v1\"",
       "the file changed on the server (its ETag changed from \"v1\" to \"v2\"); starting again from zero"},
      {v1, "Last-Modified: Wed, 02 Dec 2026 10:00:00 GMT\r\n", "If-Range: \"v1\"",
       "the file changed on the server (its date changed from Tue, 01 Dec 2026 10:00:00 GMT to Wed, 02 Dec 2026 "
       "10:00:00 GMT); starting again from zero"},
      // A weak ETag cannot serve If-Range; the date does.
      {"ETag: W/\"w1\"\r\nLast-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n", "ETag: W/\"w2\"\r\n",
       "If-Range: Tue, 01 Dec 2026 10:00:00 GMT",
       "the file changed on the server (its ETag changed from W/\"w1\" to W/\"w2\"); starting again from zero"},
  };
  for (const Case& k : cases) {
    ScriptedServer server([&](PeerConn& c, int index) {
      std::string head;
      if (!c.ReadRequest(head)) return;
      server.Record(head);
      const std::size_t from = RangeStart(head);
      if (index == 0) {
        c.Send(Header("200 OK", k.first, doc.size()) + doc.substr(0, 10000));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        c.Reset();
        return;
      }
      // The newer version, from the range asked for.
      if (from == 0)
        c.Send(Header("200 OK", k.changed, newer.size()) + newer);
      else
        c.Send(Header("206 Partial Content",
                      k.changed + "Content-Range: bytes " + std::to_string(from) + "-19999/20000\r\n",
                      newer.size() - from) +
               newer.substr(from));
      c.WaitForClientClose();
    });
    TGetRun r;
    const TGetOutcome out = r.get.Run(server.Url("/clip.flv"));
    EXPECT_TRUE(out.Complete) << FailureText(out.Failure);
    EXPECT_EQ(r.Saved(), newer) << k.said;
    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(requests[1].find("\r\n" + k.ifRange + "\r\n"), std::string::npos) << requests[1];
    EXPECT_EQ(requests[2].find("Range:"), std::string::npos) << requests[2];
    ASSERT_EQ(r.said.size(), 2u);
    EXPECT_EQ(r.said[1], k.said);
  }

  // Another total is another file too; one that changes at every request
  // ends the download instead of looping.
  ScriptedServer restless([&](PeerConn& c, int index) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    const std::string total = std::to_string(20000 + index);
    if (RangeStart(head) == 0) {
      c.Send(Header("200 OK", "", doc.size() + index) + doc.substr(0, 10000));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      c.Reset();
    } else {
      c.Send(Header("206 Partial Content", "Content-Range: bytes 10000-19999/" + total + "\r\n", 10000) +
             doc.substr(10000));
      c.WaitForClientClose();
    }
  });
  TGetRun r;
  const TGetOutcome out = r.get.Run(restless.Url("/clip.flv"));
  EXPECT_FALSE(out.Complete);
  EXPECT_EQ(out.Failure.Kind, fkOther);
  EXPECT_EQ(FailureText(out.Failure),
            "the file changed on the server again while downloading (its size changed from 20002 to 20003 bytes)");
  EXPECT_EQ(r.Saved().size(), 10000u);  // only the newest version's first bytes
  EXPECT_EQ(r.Saved(), doc.substr(0, 10000));
}

// What an earlier run kept beside the part decides whether it is continued.
TEST(ResumableGet, KeptIdentityOfAnEarlierRunIsHonoured) {
  const std::string doc = Document();
  const std::string half = doc.substr(0, 10000);
  ScriptedServer server([&](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    server.Record(head);
    const std::size_t from = RangeStart(head);
    if (from == 0)
      c.Send(Header("200 OK", "ETag: \"now\"\r\n", doc.size()) + doc);
    else
      c.Send(Header("206 Partial Content",
                    "ETag: \"now\"\r\nContent-Range: bytes " + std::to_string(from) + "-19999/20000\r\n",
                    doc.size() - from) +
             doc.substr(from));
    c.WaitForClientClose();
  });
  const std::string url = server.Url("/clip.flv");
  struct Case {
    TPartIdentity kept;
    std::string said;  // "" when continued
  };
  const Case cases[] = {
      {{url, 20000, "\"now\"", ""}, ""},
      {{url, -1, "", ""}, ""},
      {{url + "?other", 20000, "\"now\"", ""}, "the partial file came from another address; starting again from zero"},
      {{url, 20000, "\"then\"", ""},
       "the file changed on the server (its ETag changed from \"then\" to \"now\"); starting again from zero"},
  };
  for (const Case& k : cases) {
    TGetRun r;
    std::vector<TPartIdentity> saved;
    r.get.Hooks().Identified = [&](const TPartIdentity& id) {
      saved.push_back(id);
      return std::string();
    };
    r.file.WriteBuffer(half.data(), static_cast<std::int64_t>(half.size()));
    r.get.ContinueFirst = true;
    r.get.Identity = k.kept;
    const TGetOutcome out = r.get.Run(url);
    EXPECT_TRUE(out.Complete) << k.said;
    EXPECT_EQ(r.Saved(), doc) << k.said;
    if (k.said.empty()) {
      EXPECT_TRUE(r.said.empty());
    } else {
      ASSERT_EQ(r.said.size(), 1u);
      EXPECT_EQ(r.said[0], k.said);
    }
    // Kept again only when it changed.
    const TPartIdentity now{url, 20000, "\"now\"", ""};
    EXPECT_EQ(r.get.Identity, now) << k.said;
    EXPECT_EQ(saved.empty(), k.kept == now) << k.said;
    if (!saved.empty()) {
      EXPECT_EQ(saved.back(), now) << k.said;
    }
  }

  // A control file that cannot be written is this side's failure, before
  // any byte reaches the file.
  TGetRun r;
  r.get.Hooks().Identified = [](const TPartIdentity&) { return std::string("No space left on device"); };
  const TGetOutcome out = r.get.Run(url);
  EXPECT_FALSE(out.Complete);
  EXPECT_EQ(out.Failure.Kind, fkLocal);
  EXPECT_EQ(FailureText(out.Failure), "No space left on device");
  EXPECT_TRUE(r.Saved().empty());
}
