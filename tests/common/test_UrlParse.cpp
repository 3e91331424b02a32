#include "net/common/UrlParse.h"

#include <gtest/gtest.h>

namespace {

struct Parts {
  std::string Proto, User, Pass, Host, Port, Path;
};

Parts Parse(const std::string& url, const std::string& base = std::string()) {
  Parts p;
  p.Path = base;
  ParseURL(url, p.Proto, p.User, p.Pass, p.Host, p.Port, p.Path);
  return p;
}

void ExpectParts(const Parts& p, const char* proto, const char* user, const char* pass,
                 const char* host, const char* port, const char* path) {
  EXPECT_EQ(p.Proto, proto);
  EXPECT_EQ(p.User, user);
  EXPECT_EQ(p.Pass, pass);
  EXPECT_EQ(p.Host, host);
  EXPECT_EQ(p.Port, port);
  EXPECT_EQ(p.Path, path);
}

}  // namespace

TEST(ParseURL, AbsoluteAddressesSplitIntoTheirParts) {
  ExpectParts(Parse("http://host/a/b.flv?t=1"), "http", "", "", "host", "", "/a/b.flv?t=1");
  ExpectParts(Parse("HTTP://Host:8080"), "http", "", "", "Host", "8080", "");
  ExpectParts(Parse("http://host?x=1"), "http", "", "", "host", "", "?x=1");
  // The query may come before any "/" and may itself hold "/".
  ExpectParts(Parse("http://host?x=/y"), "http", "", "", "host", "", "?x=/y");
  ExpectParts(Parse("ftp://files.example:2121/pub/f#frag"), "ftp", "", "", "files.example", "2121",
              "/pub/f#frag");
}

TEST(ParseURL, UserInformationIsSeparatedAtTheLastAt) {
  ExpectParts(Parse("http://u:p@host:81/x"), "http", "u", "p", "host", "81", "/x");
  ExpectParts(Parse("http://us:er@pa@host/x"), "http", "us", "er@pa", "host", "", "/x");
  ExpectParts(Parse("http://user@host/x"), "http", "user", "", "host", "", "/x");
  ExpectParts(Parse("http://u:p@host"), "http", "u", "p", "host", "", "");
  ExpectParts(Parse("http://u@host:99"), "http", "u", "", "host", "99", "");
}

TEST(ParseURL, AddressesWithoutSchemeKeepAnEmptyOrDefaultProtocol) {
  ExpectParts(Parse("host/x"), "", "", "", "host", "", "/x");
  ExpectParts(Parse("proxy.local:3128"), "", "", "", "proxy.local", "3128", "");
  ExpectParts(Parse("/x/y", "/old/path"), "http", "", "", "", "", "/x/y");
  ExpectParts(Parse("mailto:someone@example.org"), "mailto", "someone", "", "example.org", "", "");
}

TEST(ParseURL, SchemeTextDecidesWhetherTheSchemeIsTaken) {
  // Digits count as scheme characters; the client refuses the result later.
  ExpectParts(Parse("1http://h/"), "1http", "", "", "h", "", "/");
  // A blank is not: the whole text is read as an address without scheme.
  Parts p = Parse("a b://h/");
  EXPECT_EQ(p.Proto, "http");
  EXPECT_EQ(p.Host, "a b");
  EXPECT_EQ(p.Port, "");
  EXPECT_EQ(p.Path, "//h/");
}

TEST(ParseURL, RelativeReferencesResolveAgainstTheBasePath) {
  EXPECT_EQ(Parse("./z", "/a/b.flv").Path, "/a/z");
  EXPECT_EQ(Parse("../z", "/a/b.flv").Path, "/z");
  EXPECT_EQ(Parse("../x", "/a/b/c.flv").Path, "/a/x");
  EXPECT_EQ(Parse("../../x", "/a/b/c.flv").Path, "/x");
  // Climbing above the root stays at the root; a base without "/" is the root.
  EXPECT_EQ(Parse("../../../../x", "/a/b/c.flv").Path, "/x");
  EXPECT_EQ(Parse("./z", "nofolder").Path, "/z");
  EXPECT_EQ(Parse("../z", "").Path, "/z");
  // Relative forms set nothing but the path.
  ExpectParts(Parse("./z?q=1", "/a/b"), "", "", "", "", "", "/a/z?q=1");
}

TEST(ParseURL, EmptyAndDegenerateInputClearEveryOutput) {
  Parts p;
  p.Proto = p.User = p.Pass = p.Host = p.Port = "stale";
  p.Path = "/base";
  ParseURL("", p.Proto, p.User, p.Pass, p.Host, p.Port, p.Path);
  ExpectParts(p, "", "", "", "", "", "");
  // A host without scheme: no host, the path is the address less one "/".
  ExpectParts(Parse("//host/x"), "http", "", "", "", "", "/host/x");
  ExpectParts(Parse("http:"), "http", "", "", "", "", "");
  ExpectParts(Parse("http:/x"), "http", "", "", "", "", "/x");
  ExpectParts(Parse("http://"), "http", "", "", "", "", "");
  ExpectParts(Parse("http:///x"), "http", "", "", "", "", "/x");
  ExpectParts(Parse("http://@:/"), "http", "", "", "", "", "/");
  ExpectParts(Parse("/"), "http", "", "", "", "", "");
}

TEST(UrlBase, CutsAfterTheLastSlashOrColonBeforeTheQuery) {
  EXPECT_EQ(UrlBase("/a/b.flv?x=/y"), "/a/");
  EXPECT_EQ(UrlBase("http://host"), "http://");
  EXPECT_EQ(UrlBase("http://host/dir/file"), "http://host/dir/");
  EXPECT_EQ(UrlBase("file"), "");
  EXPECT_EQ(UrlBase("?a/b"), "");
  EXPECT_EQ(UrlBase(""), "");
}

TEST(LastPos, FindsTheLastOccurrenceCountingFromOne) {
  EXPECT_EQ(LastPos("/", "/a/b/c"), 5);
  EXPECT_EQ(LastPos("ab", "abxab"), 4);
  EXPECT_EQ(LastPos("aa", "aaa"), 2);
  EXPECT_EQ(LastPos("x", "abc"), 0);
  EXPECT_EQ(LastPos("abcd", "abc"), 0);
  EXPECT_EQ(LastPos("", "abc"), 0);
}
