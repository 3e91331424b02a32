// Relocation: absolute, root-relative and relative locations, other hosts
// and ports, counting and the limit, POST turned into GET.
#include <gtest/gtest.h>

#include "http/HttpPeer.h"

using namespace httptest;

namespace {

// Each connection reads one request, records it and answers `answer(i)`.
struct Redirector {
  std::function<std::string(int, const std::string&)> answer;
  bool keep = false;
  ScriptedServer server;
  explicit Redirector(std::function<std::string(int, const std::string&)> a, bool keepAlive = false)
      : answer(std::move(a)), keep(keepAlive), server([this](PeerConn& c, int idx) {
          std::string head;
          int n = idx;
          while (c.ReadRequest(head)) {
            server.Record(head);
            c.Send(answer(n++, head));
            if (!keep) break;
          }
          if (!keep) c.Close();
        }) {}
};

std::string HostLine(const std::string& head) {
  std::size_t p = head.find("\r\nHost: ");
  return head.substr(p + 2, head.find("\r\n", p + 2) - p - 2);
}

}  // namespace

TEST(HttpRelocation, AbsoluteLocationToAnotherHostAndPort) {
  ScriptedServer* bp = nullptr;
  ScriptedServer b([&](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    bp->Record(head);
    c.Send("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nfinal");
    c.Close();
  });
  bp = &b;
  Redirector a([&](int, const std::string&) {
    return "HTTP/1.0 302 Found\r\nLocation: http://localhost:" + b.PortText() + "/x.flv\r\n\r\n";
  });
  RecordingClient rc;
  plat::TMemoryStream ms;
  rc.cli.ReceiveStream = &ms;
  rc.cli.URL = a.server.Url("/a/b.flv");
  rc.cli.Get();
  EXPECT_EQ(rc.CountPrefix("LocationChange:"), 1);
  EXPECT_EQ(rc.cli.LocationChangeCurCount(), 1);  // the close before the new host counts no second hop
  ASSERT_EQ(b.Requests().size(), 1u);
  EXPECT_EQ(FirstLine(b.Requests()[0]), "GET /x.flv HTTP/1.0");
  EXPECT_EQ(HostLine(b.Requests()[0]), "Host: localhost:" + b.PortText());
  EXPECT_EQ(rc.cli.Location(), "http://localhost:" + b.PortText() + "/x.flv");
  EXPECT_EQ(rc.cli.DocName(), "x.flv");
  EXPECT_EQ(ms.DataString(), "final");
  EXPECT_EQ(rc.cli.StatusCode(), 200);
  EXPECT_EQ(rc.doneCount, 1);
}

TEST(HttpRelocation, RootRelativeAndRelativeKeepHostAndPort) {
  Redirector a([](int i, const std::string&) -> std::string {
    if (i == 0) return "HTTP/1.0 301 Moved\r\nLocation: /other/path/b.flv\r\n\r\n";
    if (i == 1) return "HTTP/1.0 302 Found\r\nLocation: next.flv\r\n\r\n";
    return "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok";
  });
  RecordingClient rc;
  rc.cli.URL = a.server.Url("/a/b.flv");
  rc.cli.Get();
  auto r = a.server.Requests();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(FirstLine(r[1]), "GET /other/path/b.flv HTTP/1.0");
  EXPECT_EQ(FirstLine(r[2]), "GET /other/path/next.flv HTTP/1.0");
  EXPECT_EQ(HostLine(r[2]), "Host: 127.0.0.1:" + a.server.PortText());
  EXPECT_EQ(rc.body, "ok");
  EXPECT_EQ(rc.cli.DocName(), "next.flv");
}

TEST(HttpRelocation, ChainUpToTheLimitOnClosingConnectionsAndNoFurther) {
  // `hops` relocations by absolute address, each on a new connection.
  ScriptedServer* other = nullptr;
  auto chain = [&](int hops) {
    return [&, hops](int i, const std::string&) -> std::string {
      if (i >= hops) return "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\ndone";
      return "HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:" + other->PortText() + "/hop" + std::to_string(i + 1) +
             "\r\n\r\n";
    };
  };
  {  // five hops: all followed
    Redirector a(chain(5));
    other = &a.server;
    RecordingClient rc;
    rc.cli.URL = a.server.Url("/start");
    rc.cli.Get();
    EXPECT_EQ(rc.cli.StatusCode(), 200);
    EXPECT_EQ(rc.body, "done");
    EXPECT_EQ(a.server.Requests().size(), 6u);
    EXPECT_EQ(rc.cli.LocationChangeCurCount(), 5);
  }
  {  // six: the sixth is refused and says why
    Redirector a(chain(6));
    other = &a.server;
    RecordingClient rc;
    std::vector<int> counts;
    rc.cli.OnLocationChangeExceeded = [&](THttpCli*, int n, bool&) { counts.push_back(n); };
    rc.cli.URL = a.server.Url("/start");
    try {
      rc.cli.Get();
      ADD_FAILURE() << "followed past the limit";
    } catch (const EHttpException& e) {
      EXPECT_EQ(e.ErrorCode, 12);
      EXPECT_STREQ(e.what(), "too many relocations (5)");
    }
    EXPECT_EQ(counts, std::vector<int>{6});
    EXPECT_EQ(a.server.Requests().size(), 6u);
    EXPECT_EQ(rc.doneCount, 1);
  }
  {  // allowed past the limit by the event
    Redirector a(chain(7));
    other = &a.server;
    RecordingClient rc;
    rc.cli.OnLocationChangeExceeded = [&](THttpCli*, int, bool& allow) { allow = true; };
    rc.cli.URL = a.server.Url("/start");
    rc.cli.Get();
    EXPECT_EQ(rc.cli.StatusCode(), 200);
    EXPECT_EQ(rc.body, "done");
    EXPECT_EQ(a.server.Requests().size(), 8u);
  }
}

TEST(HttpRelocation, LoopOnAKeptConnectionStopsAtTheLimit) {
  Redirector a([](int, const std::string&) { return "HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 3\r\n\r\nxyz"; },
               true);
  RecordingClient rc;
  rc.cli.SetRequestVer("1.1");
  plat::TMemoryStream ms;
  rc.cli.ReceiveStream = &ms;
  rc.cli.URL = a.server.Url("/loop");
  EXPECT_THROW(rc.cli.Get(), EHttpException);
  EXPECT_EQ(rc.doneError, 12);
  EXPECT_EQ(rc.cli.StatusCode(), 302);
  EXPECT_EQ(a.server.Connections(), 1);
  EXPECT_EQ(a.server.Requests().size(), 6u);  // the first and five relocations
  EXPECT_EQ(rc.cli.LocationChangeCurCount(), 6);
  EXPECT_EQ(rc.CountPrefix("LocationChange:"), 5);
  // Each refused body is cut away again, the last one stays.
  EXPECT_EQ(ms.DataString(), "xyz");
}

TEST(HttpRelocation, BodilessRedirectOnAKeptConnectionIsFollowed) {
  Redirector a([](int i, const std::string&) -> std::string {
    if (i == 0) return "HTTP/1.1 301 Moved\r\nLocation: /new\r\nContent-Length: 0\r\n\r\n";
    return "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nnew";
  }, true);
  RecordingClient rc;
  rc.cli.SetRequestVer("1.1");
  rc.cli.URL = a.server.Url("/old");
  rc.cli.Get();
  EXPECT_EQ(rc.body, "new");
  EXPECT_EQ(FirstLine(a.server.Requests().at(1)), "GET /new HTTP/1.1");
}

TEST(HttpRelocation, PostBecomesGetAndNotFollowingDeliversTheAnswer) {
  Redirector a([](int i, const std::string&) -> std::string {
    if (i == 0) return "HTTP/1.0 302 Found\r\nLocation: /after\r\nContent-Length: 4\r\n\r\nmove";
    return "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok";
  });
  RecordingClient rc;
  plat::TMemoryStream post;
  post.Write("k=v", 3);
  post.SetPosition(0);
  rc.cli.SendStream = &post;
  rc.cli.URL = a.server.Url("/form");
  rc.cli.Post();
  auto r = a.server.Requests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(FirstLine(r[0]), "POST /form HTTP/1.0");
  EXPECT_EQ(FirstLine(r[1]), "GET /after HTTP/1.0");
  EXPECT_EQ(rc.cli.RequestType(), httpGET);

  Redirector b([](int, const std::string&) { return "HTTP/1.0 302 Found\r\nLocation: /else\r\nContent-Length: 4\r\n\r\nmove"; });
  RecordingClient rc2;
  rc2.cli.FollowRelocation = false;
  rc2.cli.URL = b.server.Url("/x");
  rc2.cli.Get();
  EXPECT_EQ(rc2.cli.StatusCode(), 302);
  EXPECT_EQ(rc2.body, "move");
  EXPECT_EQ(b.server.Requests().size(), 1u);
}

TEST(HttpRelocation, RedirectWithBodyUntilCloseCountsOnce) {
  Redirector a([](int i, const std::string&) -> std::string {
    if (i == 0) return "HTTP/1.0 303 See Other\r\nLocation: /body\r\nContent-Type: text/html\r\n\r\n<a href=/body>here</a>";
    return "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody";
  });
  RecordingClient rc;
  plat::TMemoryStream ms;
  rc.cli.ReceiveStream = &ms;
  rc.cli.URL = a.server.Url("/r");
  rc.cli.Get();
  EXPECT_EQ(rc.cli.LocationChangeCurCount(), 1);
  EXPECT_EQ(ms.DataString(), "body");  // the redirect's own body is cut away
  EXPECT_EQ(rc.cli.ReceivedCount(), 4);
  EXPECT_EQ(rc.cli.StatusCode(), 200);
}

TEST(HttpRelocation, LocationToAnotherSchemeFailsAtOnce) {
  for (const std::string location : {"file:///etc/passwd", "FTP://127.0.0.1/x", "javascript:alert(1)"}) {
    Redirector a([&](int, const std::string&) { return "HTTP/1.0 302 Found\r\nLocation: " + location + "\r\n\r\n"; });
    RecordingClient rc;
    rc.cli.URL = a.server.Url("/a/b.flv");
    ASSERT_TRUE(rc.RunAsync());
    const std::string scheme = location.substr(0, location.find(':'));
    EXPECT_EQ(rc.doneError, 13) << location;
    EXPECT_EQ(rc.cli.ReasonPhrase(), "unsupported relocation to " + (scheme == "FTP" ? std::string("ftp") : scheme) + ":");
    EXPECT_EQ(a.server.Requests().size(), 1u) << location;  // never asked of the same server as a path
    EXPECT_EQ(rc.CountPrefix("LocationChange"), 0);
  }
}
