// clipharbor-cli against a hostile cache host: the stand-in service sends
// get_video's redirect to a scripted server that answers with exact bytes.
// Every broken answer ends the job as a failure (exit status 1, no "Saved");
// every sound one, however unusual its framing, saves the exact document.
#include <gtest/gtest.h>

#include <map>

#include "cli/E2eSupport.h"
#include "http/HttpPeer.h"

using namespace e2e;
using httptest::PeerConn;
using httptest::ScriptedServer;

namespace {


// The document of the sound cases: bytes of every value, longer than the
// client's receive buffer.
std::string Document() {
  std::string d;
  for (int i = 0; i < 20000; ++i) d.push_back(static_cast<char>((i * 7 + i / 256) & 0xFF));
  return d;
}

std::string Hex(std::size_t n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%zX", n);
  return buf;
}

// Answers one connection of the cache host; `head` is the request read.
using TCase = std::function<void(PeerConn& c, const std::string& head)>;

// The cache host: the video id in the request line chooses the case.
class THostileCache {
 public:
  explicit THostileCache(std::map<std::string, TCase> cases)
      : FCases(std::move(cases)), FServer([this](PeerConn& c, int) { Serve(c); }) {}
  int Port() const { return FServer.Port(); }
  std::vector<std::string> Requests() { return FServer.Requests(); }

 private:
  void Serve(PeerConn& c) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    FServer.Record(head);
    const std::size_t at = head.find("?id=");
    const std::size_t end = head.find_first_of("& ", at == std::string::npos ? 0 : at);
    if (at == std::string::npos || end == std::string::npos) return;
    auto it = FCases.find(head.substr(at + 4, end - at - 4));
    if (it != FCases.end()) it->second(c, head);
  }
  std::map<std::string, TCase> FCases;
  ScriptedServer FServer;
};

// Sends `parts` as separate reads, then closes or resets.
TCase Send(std::vector<std::string> parts, bool reset = false) {
  return [parts, reset](PeerConn& c, const std::string&) {
    for (const auto& p : parts) c.SendSlowly(p);
    if (reset) c.Reset();
  };
}

// Serves the document only to a request whose line is exactly `line`.
TCase Expect(std::string line, std::string document) {
  return [line, document](PeerConn& c, const std::string& head) {
    if (head.compare(0, line.size() + 2, line + "\r\n") != 0) {
      c.Send("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
      return;
    }
    c.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(document.size()) + "\r\n\r\n");
    c.Send(document);
  };
}

TCase Relocate(std::string location) {
  return Send({"HTTP/1.0 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n"});
}

class CliHostile : public ::testing::Test {
 protected:
  // Runs the program on the watch page of `id`, through `wrapper` when given.
  TRunResult Run(const TService& s, const std::string& id, std::vector<std::string> wrapper = {},
                 std::map<std::string, std::optional<std::string>> extraEnv = {}) {
    std::filesystem::remove(Out / kClipFile);  // no overwrite question between the cases
    std::vector<std::string> argv = std::move(wrapper);
    for (const std::string& a : {BinaryDir() + "/clipharbor-cli", std::string("--output"), Out.Path, s.WatchUrl(id)})
      argv.push_back(a);
    auto env = s.Env();
    env.insert(extraEnv.begin(), extraEnv.end());
    return RunProcess(argv, Environment(env));
  }
  // A refused write is a local problem (4), anything else a failed download (1).
  void ExpectFailed(const TRunResult& r, const std::string& what, int status = 1) {
    EXPECT_EQ(r.ExitCode, status) << what << "\n" << r.Out << r.Err;
    EXPECT_EQ(r.Out.find("Saved"), std::string::npos) << what << "\n" << r.Out;
  }
  void ExpectSaved(const TRunResult& r, const std::string& what, const std::string& document) {
    EXPECT_EQ(r.ExitCode, 0) << what << "\n" << r.Out << r.Err;
    EXPECT_NE(r.Out.find("Saved " + Out / kClipFile), std::string::npos) << what << "\n" << r.Out;
    EXPECT_EQ(ReadFile(Out / kClipFile), document) << what;
  }
  TTempDir Out;
};

}  // namespace

TEST_F(CliHostile, ResetEndsTheJobAsAFailure) {
  const std::string part = Document().substr(0, 5000);
  THostileCache cache({
      {"resetWithLength", Send({"HTTP/1.0 200 OK\r\nContent-Length: 20000\r\n\r\n", part}, true)},
      {"resetWithoutLength", Send({"HTTP/1.0 200 OK\r\n\r\n", part}, true)},
  });
  TService s({"--cache-redirect-port", std::to_string(cache.Port())});
  ASSERT_TRUE(s.Running());
  for (const char* id : {"resetWithLength", "resetWithoutLength"}) ExpectFailed(Run(s, id), id);
}

TEST_F(CliHostile, RefusedWriteEndsTheJobAsAFailure) {
  // A file-size limit makes the download's writes fail with EFBIG (the
  // signal that would kill the program is ignored, as a shell can set up).
  const std::string doc = Document();
  THostileCache cache({
      {"limitWithLength", Send({"HTTP/1.0 200 OK\r\nContent-Length: 20000\r\n\r\n", doc})},
      {"limitWithoutLength", Send({"HTTP/1.0 200 OK\r\n\r\n", doc})},
  });
  TService s({"--cache-redirect-port", std::to_string(cache.Port())});
  ASSERT_TRUE(s.Running());
  const std::vector<std::string> limited = {
      "python3", "-c",
      "import os, resource, signal, sys\n"
      "signal.signal(signal.SIGXFSZ, signal.SIG_IGN)\n"
      "resource.setrlimit(resource.RLIMIT_FSIZE, (8192, 8192))\n"
      "os.execv(sys.argv[1], sys.argv[1:])\n"};
  for (const char* id : {"limitWithLength", "limitWithoutLength"}) {
    TRunResult r = Run(s, id, limited);
    ExpectFailed(r, id, 4);
    EXPECT_EQ(r.Err.find("Connection closed before the end of the answer"), std::string::npos) << id;
  }
}

TEST_F(CliHostile, ChunkSizeWithoutADigitEndsTheJobAsAFailure) {
  const std::string head = "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  THostileCache cache({
      {"sizeZz", Send({head, "zz\r\n" + Document() + "\r\n0\r\n\r\n"})},
      {"sizeEmpty", Send({head, "\r\n" + Document() + "\r\n0\r\n\r\n"})},
  });
  TService s({"--cache-redirect-port", std::to_string(cache.Port())});
  ASSERT_TRUE(s.Running());
  for (const char* id : {"sizeZz", "sizeEmpty"}) ExpectFailed(Run(s, id), id);
}

TEST_F(CliHostile, ChunkedAsTheLastCodingSavesTheDocument) {
  const std::string doc = Document();
  const std::string chunks = Hex(12345) + "\r\n" + doc.substr(0, 12345) + "\r\n" + Hex(doc.size() - 12345) +
                             "\r\n" + doc.substr(12345) + "\r\n0\r\n\r\n";
  THostileCache cache({
      {"trailingBlank", Send({"HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked \r\n\r\n", chunks})},
      {"codingList", Send({"HTTP/1.0 200 OK\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n", chunks})},
  });
  TService s({"--cache-redirect-port", std::to_string(cache.Port())});
  ASSERT_TRUE(s.Running());
  for (const char* id : {"trailingBlank", "codingList"}) ExpectSaved(Run(s, id), id, doc);
}

TEST_F(CliHostile, ChunkedWithAContentLengthSavesTheDocument) {
  const std::string doc = Document();
  const std::string chunks = Hex(doc.size()) + "\r\n" + doc + "\r\n0\r\n\r\n";
  THostileCache cache({
      {"lengthZero", Send({"HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 0\r\n\r\n", chunks})},
      {"lengthWrong", Send({"HTTP/1.0 200 OK\r\nContent-Length: 500\r\nTransfer-Encoding: chunked\r\n\r\n", chunks})},
  });
  TService s({"--cache-redirect-port", std::to_string(cache.Port())});
  ASSERT_TRUE(s.Running());
  for (const char* id : {"lengthZero", "lengthWrong"}) ExpectSaved(Run(s, id), id, doc);
}

TEST_F(CliHostile, DifferingContentLengthsEndTheJobAsAFailure) {
  const std::string doc = Document();
  THostileCache cache({
      {"lengthsDiffer",
       Send({"HTTP/1.0 200 OK\r\nContent-Length: 20000\r\nContent-Length: 5000\r\n\r\n", doc})},
      {"lengthsEqual", Send({"HTTP/1.0 200 OK\r\nContent-Length: 20000\r\nContent-Length: 20000\r\n\r\n", doc})},
  });
  TService s({"--cache-redirect-port", std::to_string(cache.Port())});
  ASSERT_TRUE(s.Running());
  ExpectFailed(Run(s, "lengthsDiffer"), "lengthsDiffer");
  ExpectSaved(Run(s, "lengthsEqual"), "lengthsEqual", doc);
}

TEST_F(CliHostile, AddressesAreEncodedFollowedAndNeverInject) {
  const std::string doc = Document();
  std::map<std::string, TCase> cases = {
      // A video id with a blank reaches the service encoded, and comes back.
      {"a%20b", Expect("GET /get_video.flv?id=a%20b HTTP/1.0", doc)},
      {"locBlank", Relocate("/get_video.flv?id=blankTarget&x=a b")},
      {"blankTarget", Expect("GET /get_video.flv?id=blankTarget&x=a%20b HTTP/1.0", doc)},
      {"locFragment", Relocate("/get_video.flv?id=fragmentTarget#frag")},
      {"fragmentTarget", Expect("GET /get_video.flv?id=fragmentTarget HTTP/1.0", doc)},
      {"locCr", Relocate("/get_video.flv?id=crTarget\rX-Injected: 1")},
      {"crTarget", Expect("GET never", doc)},
  };
  // The network-path reference names the cache host itself, so that only
  // the request line tells whether it was taken as a path.
  std::unique_ptr<THostileCache> cache;
  int port = 0;
  cases["locNetPath"] = [&port](PeerConn& c, const std::string& head) {
    Relocate("//127.0.0.1:" + std::to_string(port) + "/get_video.flv?id=netPathTarget")(c, head);
  };
  cases["netPathTarget"] = Expect("GET /get_video.flv?id=netPathTarget HTTP/1.0", doc);
  cache = std::make_unique<THostileCache>(cases);
  port = cache->Port();
  TService s({"--cache-redirect-port", std::to_string(port)});
  ASSERT_TRUE(s.Running());

  for (const char* id : {"a b", "locBlank", "locFragment", "locNetPath"}) ExpectSaved(Run(s, id), id, doc);
  ExpectFailed(Run(s, "locCr"), "locCr");
  // A line break in the video id: the get_video address is refused.
  ExpectFailed(Run(s, "a\rb", {}, {{"CLIPHARBOR_TEST_POLL_LIMIT_MS", std::string("1500")}}), "CR in the id");
  for (const std::string& head : cache->Requests()) {
    EXPECT_EQ(head.find("crTarget"), std::string::npos);
    EXPECT_EQ(head.find('#'), std::string::npos);
  }
}
