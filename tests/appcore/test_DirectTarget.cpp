// Names of direct downloads: "Content-Disposition" as servers really send
// it, and the address's document name exactly as the client derives it.
#include <gtest/gtest.h>

#include "app/core/ContentDisposition.h"
#include "app/core/DirectTarget.h"
#include "http/HttpPeer.h"

TEST(ContentDisposition, FileNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"attachment; filename=clip.flv", "clip.flv"},
      {"attachment; filename=\"my clip.flv\"", "my clip.flv"},
      {"attachment;filename=\"a \\\"quoted\\\" one.flv\"", "a \"quoted\" one.flv"},
      {"attachment; filename=\"semi;colon.flv\"; size=10", "semi;colon.flv"},
      {"inline; FILENAME = upper.flv ", "upper.flv"},
      // The extended form wins wherever it stands.
      {"attachment; filename=\"fallback.flv\"; filename*=UTF-8''%E2%82%AC%20rates.flv", "\xE2\x82\xAC rates.flv"},
      {"attachment; filename*=iso-8859-1'en'caf%E9.flv; filename=cafe.flv", "caf\xC3\xA9.flv"},
      // A broken or foreign extended value falls back to the plain one.
      {"attachment; filename*=UTF-8''bad%zz.flv; filename=plain.flv", "plain.flv"},
      {"attachment; filename*=koi8-r''x.flv; filename=plain.flv", "plain.flv"},
      // A parameter without a value does not hide the next one.
      {"attachment; hidden; filename=next.flv", "next.flv"},
      // Only the last path part: a name never leads out of the folder.
      {"attachment; filename=\"../../etc/passwd\"", "passwd"},
      {"attachment; filename=\"C:\\\\Users\\\\x\\\\clip.flv\"", "clip.flv"},
  };
  for (const auto& [value, name] : cases) {
    const std::optional<std::string> got = ContentDispositionFileName(std::string(value));
    ASSERT_TRUE(got) << value;
    EXPECT_EQ(*got, name) << value;
  }
  for (const char* none : {"attachment", "inline; filename=", "attachment; filename=\"\"", "attachment; filename=\"..\"",
                           "attachment; filename=dir/", ""})
    EXPECT_FALSE(ContentDispositionFileName(std::string(none))) << none;

  EXPECT_EQ(ContentDispositionFileName(std::vector<std::string>{"HTTP/1.1 200 OK", "content-disposition: attachment; "
                                                                                   "filename=h.flv"}),
            "h.flv");
  EXPECT_FALSE(ContentDispositionFileName(std::vector<std::string>{"HTTP/1.1 200 OK", "Content-Type: video/x-flv"}));
}

TEST(DirectTarget, DocumentNameAsTheClientDerivesIt) {
  httptest::ScriptedServer server([](httptest::PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    c.Send("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
  });
  const std::string base = server.Url("");
  const std::vector<std::string> paths = {"/clip.flv", "/a/b/c%20d.flv?x=1/2&y=.flv", "/", "/dir/", "",
                                          "/noext?", "/" + std::string(300, 'n')};
  for (const std::string& path : paths) {
    THttpCli cli;
    plat::TMemoryStream body;
    cli.ReceiveStream = &body;
    cli.URL = base + path;
    cli.Get();
    EXPECT_EQ(DocNameOf(base + path), cli.DocName()) << path;
  }
  EXPECT_EQ(DocNameOf("http://h/a/clip.flv?x=1"), "clip.flv");
  EXPECT_EQ(DocNameOf("http://h"), "document.htm");

  EXPECT_EQ(DirectFileName("http://h/get?id=1", {"HTTP/1.1 200 OK", "Content-Disposition: attachment; filename=x.flv"}),
            "x.flv");
  EXPECT_EQ(DirectFileName("http://h/get.flv?id=1", {"HTTP/1.1 200 OK"}), "get.flv");
  EXPECT_TRUE(IsDirectAddress("HTTP://h/clip.flv"));
  EXPECT_TRUE(IsDirectAddress("Https://h/clip.flv"));
  EXPECT_FALSE(IsDirectAddress("ftp://h/clip.flv"));
  EXPECT_FALSE(IsDirectAddress("clip.flv"));
  EXPECT_FALSE(IsDirectAddress("http://www.youtube.com/watch?v=abc"));
}
