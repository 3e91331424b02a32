// Header lines on their own, without a client or a socket: the status line,
// each field the client reads, odd and hostile lines, and the answer's reset.
#include <gtest/gtest.h>

#include <limits>

#include "net/http/HttpHeaderLines.h"

namespace {

THttpAnswer Fields(const std::vector<std::string>& lines) {
  THttpAnswer a;
  for (const std::string& l : lines) TakeHeaderField(a, l);
  return a;
}

}  // namespace

TEST(HttpHeaderLines, StatusLines) {
  struct TCase {
    std::string Line;
    bool Parsed;
    std::string Version;
    bool HasCode;
    int Code;
    std::string Reason;
  };
  const TCase cases[] = {
      {"HTTP/1.1 200 OK", true, "1.1", true, 200, "OK"},
      {"HTTP/1.0 404 Not Found", true, "1.0", true, 404, "Not Found"},
      {"HTTP/1.1 206 Partial Content", true, "1.1", true, 206, "Partial Content"},
      {"HTTP/1.1 204", true, "1.1", true, 204, ""},
      {"HTTP/1.1 204 ", true, "1.1", true, 204, ""},
      {"HTTP/1.1", true, "1.1", false, 0, ""},
      {"HTTP/1.1 no code", true, "1.1", false, 0, ""},
      // The code is looked for past any junk, and is three digits at most.
      {"HTTP/1.1   x301 Moved", true, "1.1", true, 301, "Moved"},
      {"HTTP/1.0 12345678 Big", true, "1.0", true, 123, "5678 Big"},
      {"HTTP/1.0 99999999999999999999999", true, "1.0", true, 999, "9999999999999999999"},
      {"HTTP/1.1 5", true, "1.1", true, 5, ""},
      // Anything else is no status line: the document came without one.
      {"HTTP/2 200 OK", false, "", false, 0, ""},
      {"HTTP/1.2 200 OK", false, "", false, 0, ""},
      {"http/1.1 200 OK", false, "", false, 0, ""},
      {"ICY 200 OK", false, "", false, 0, ""},
      {" HTTP/1.1 200 OK", false, "", false, 0, ""},
      {"HTTP/1.", false, "", false, 0, ""},
      {"", false, "", false, 0, ""},
  };
  for (const TCase& c : cases) {
    const std::optional<THttpStatusLine> s = ParseStatusLine(c.Line);
    ASSERT_EQ(s.has_value(), c.Parsed) << c.Line;
    if (!s) continue;
    EXPECT_EQ(s->Version, c.Version) << c.Line;
    EXPECT_EQ(s->HasCode, c.HasCode) << c.Line;
    EXPECT_EQ(s->Code, c.Code) << c.Line;
    EXPECT_EQ(s->Reason, c.Reason) << c.Line;
  }
}

TEST(HttpHeaderLines, StatusLineDecidesTheCloseByVersions) {
  struct TCase {
    const char* Request;
    const char* Line;
    bool Close;
  };
  for (const TCase& c : {TCase{"1.0", "HTTP/1.0 200 OK", true}, TCase{"1.0", "HTTP/1.1 200 OK", true},
                         TCase{"1.1", "HTTP/1.0 200 OK", true}, TCase{"1.1", "HTTP/1.1 200 OK", false}}) {
    THttpAnswer a;
    a.Reset(!c.Close);  // the versions decide, not the default
    TakeStatusLine(a, *ParseStatusLine(c.Line), c.Request);
    EXPECT_EQ(a.CloseAfter, c.Close) << c.Request << " " << c.Line;
    EXPECT_EQ(a.Version, std::string(c.Line).substr(5, 3));
    EXPECT_EQ(a.StatusCode, 200);
    EXPECT_EQ(a.ReasonPhrase, "OK");
  }
  // Without a code the answer keeps the status it had.
  THttpAnswer a;
  a.StatusCode = 404;
  a.ReasonPhrase = "can't resolve hostname to IP address";
  TakeStatusLine(a, *ParseStatusLine("HTTP/1.1 ???"), "1.1");
  EXPECT_EQ(a.StatusCode, 404);
  EXPECT_EQ(a.ReasonPhrase, "can't resolve hostname to IP address");
  EXPECT_EQ(a.Version, "1.1");
}

TEST(HttpHeaderLines, ContentLength) {
  EXPECT_EQ(Fields({"Content-Length: 1234"}).ContentLength, 1234);
  EXPECT_EQ(Fields({"content-length:5"}).ContentLength, 5);
  EXPECT_EQ(Fields({"CONTENT-LENGTH:   \t 7 \t"}).ContentLength, 7);
  EXPECT_EQ(Fields({"Content-Length: 9223372036854775807"}).ContentLength, std::numeric_limits<std::int64_t>::max());
  // Unreadable lengths announce none, and are still seen.
  for (const char* bad : {"Content-Length: -5", "Content-Length: +5", "Content-Length: 5x", "Content-Length: 1 2",
                          "Content-Length:", "Content-Length: 0x10", "Content-Length: 9223372036854775808"}) {
    const THttpAnswer a = Fields({bad});
    EXPECT_EQ(a.ContentLength, -1) << bad;
    EXPECT_TRUE(a.LengthSeen) << bad;
    EXPECT_FALSE(a.LengthConflict) << bad;
  }
  // Repeats: equal ones are harmless, any difference stays a conflict.
  EXPECT_FALSE(Fields({"Content-Length: 5", "Content-Length:  5 "}).LengthConflict);
  EXPECT_TRUE(Fields({"Content-Length: 5", "Content-Length: 6"}).LengthConflict);
  EXPECT_TRUE(Fields({"Content-Length: 5", "Content-Length: x"}).LengthConflict);
  EXPECT_TRUE(Fields({"Content-Length: 5", "Content-Length: 6", "Content-Length: 6"}).LengthConflict);
  const THttpAnswer none = Fields({"X-Content-Length: 5", "Content-Length : 5"});
  EXPECT_EQ(none.ContentLength, -1);
  EXPECT_FALSE(none.LengthSeen);
}

TEST(HttpHeaderLines, TransferEncoding) {
  struct TCase {
    const char* Line;
    const char* Stored;
    bool Chunked;
  };
  for (const TCase& c : {TCase{"Transfer-Encoding: chunked", "chunked", true},
                         TCase{"Transfer-Encoding: CHUNKED", "chunked", true},
                         TCase{"Transfer-Encoding: gzip, Chunked ", "gzip, chunked ", true},
                         TCase{"Transfer-Encoding: chunked, gzip", "chunked, gzip", false},
                         TCase{"Transfer-Encoding: chunkedx", "chunkedx", false},
                         TCase{"Transfer-Encoding: identity", "identity", false},
                         TCase{"Transfer-Encoding:", "", false}}) {
    const THttpAnswer a = Fields({c.Line});
    EXPECT_EQ(a.TransferEncoding, c.Stored) << c.Line;
    EXPECT_EQ(a.Chunked, c.Chunked) << c.Line;
  }
  // The last line decides.
  EXPECT_FALSE(Fields({"Transfer-Encoding: chunked", "Transfer-Encoding: gzip"}).Chunked);
}

TEST(HttpHeaderLines, ContentRange) {
  struct TCase {
    const char* Line;
    bool Has;
    const char* Begin;
    const char* End;
  };
  for (const TCase& c : {TCase{"Content-Range: bytes 100-199/1000", true, "100", "199"},
                         TCase{"Content-Range: bytes 0-0/*", true, "0", "0"},
                         TCase{"Content-Range: bytes 7-9", true, "7", "9"},
                         TCase{"Content-Range: bytes 5-/", true, "5", ""},
                         TCase{"Content-Range: bytes -5/10", true, "", "5"},
                         TCase{"Content-Range: bytes */1000", false, "", ""},
                         TCase{"Content-Range: b 1-2/3", false, "", ""},
                         TCase{"Content-Range: -", false, "", ""},
                         TCase{"Content-Range:", false, "", ""}}) {
    const THttpAnswer a = Fields({c.Line});
    EXPECT_EQ(a.HasRange, c.Has) << c.Line;
    EXPECT_EQ(a.RangeBegin, c.Begin) << c.Line;
    EXPECT_EQ(a.RangeEnd, c.End) << c.Line;
  }
  // A later unreadable range leaves the one read before.
  const THttpAnswer a = Fields({"Content-Range: bytes 1-2/3", "Content-Range: junk"});
  EXPECT_TRUE(a.HasRange);
  EXPECT_EQ(a.RangeBegin, "1");
  EXPECT_EQ(a.RangeEnd, "2");
}

TEST(HttpHeaderLines, RecordedFields) {
  const THttpAnswer a = Fields({"Accept-Ranges: Bytes", "Content-Type: Text/HTML; Charset=UTF-8",
                                "Content-Encoding: GZip", "WWW-Authenticate: NTLM",
                                "proxy-authenticate: Basic realm=\"p\"", "www-authenticate:Basic realm=\"s\""});
  EXPECT_EQ(a.AcceptRanges, "Bytes");
  EXPECT_EQ(a.ContentType, "text/html; charset=utf-8");
  EXPECT_EQ(a.ContentEncoding, "GZip");
  EXPECT_EQ(a.Challenges, (std::vector<std::string>{"NTLM", "Basic realm=\"p\"", "Basic realm=\"s\""}));

  struct TCase {
    std::vector<std::string> Lines;
    bool Default;
    bool Close;
  };
  for (const TCase& c : {TCase{{"Connection: close"}, false, true}, TCase{{"Connection:  Close "}, false, true},
                         TCase{{"Proxy-Connection: close"}, false, true},
                         TCase{{"Connection: Keep-Alive"}, true, false},
                         TCase{{"Proxy-Connection: keep-alive"}, true, false},
                         TCase{{"Connection: upgrade"}, true, true}, TCase{{"Connection: upgrade"}, false, false},
                         TCase{{"Connection: close, keep-alive"}, false, false},
                         TCase{{"Connection: close", "Connection: keep-alive"}, true, false}}) {
    THttpAnswer b;
    b.Reset(c.Default);
    for (const std::string& l : c.Lines) EXPECT_EQ(TakeHeaderField(b, l).Kind, hfConnection) << l;
    EXPECT_EQ(b.CloseAfter, c.Close) << c.Lines.at(0);
  }
}

TEST(HttpHeaderLines, KindsAndValues) {
  struct TCase {
    const char* Line;
    THttpFieldKind Kind;
    const char* Value;
  };
  for (const TCase& c : {TCase{"Location: http://h/x#f", hfLocation, "http://h/x#f"},
                         TCase{"LOCATION:/y", hfLocation, "/y"},
                         TCase{"Set-Cookie: a=1; path=/", hfSetCookie, "a=1; path=/"},
                         TCase{"Server: x: y", hfOther, "x: y"},
                         TCase{"Content-Length :5", hfOther, "5"},
                         TCase{":", hfOther, ""},
                         TCase{"X:   ", hfOther, ""},
                         TCase{"X:\tv", hfOther, "\tv"},
                         TCase{"No colon here", hfNotAField, ""},
                         TCase{"", hfNotAField, ""}}) {
    THttpAnswer a;
    const THttpField f = TakeHeaderField(a, c.Line);
    EXPECT_EQ(f.Kind, c.Kind) << c.Line;
    EXPECT_EQ(f.Value, c.Value) << c.Line;
    // Fields the client handles itself, and unknown ones, leave the answer as it was.
    EXPECT_EQ(a.ContentLength, -1) << c.Line;
    EXPECT_FALSE(a.LengthSeen) << c.Line;
    EXPECT_TRUE(a.Challenges.empty()) << c.Line;
  }
  // Bytes the text helpers never meant to see pass through unharmed.
  const std::string nul("Content-Type: a\0b", 17);
  EXPECT_EQ(Fields({nul}).ContentType, std::string("a\0b", 3));
  const std::string high = "Content-Type: \xC3\x84\xFF";
  EXPECT_EQ(Fields({high}).ContentType, "\xC3\x84\xFF");
  const std::string longValue(100000, '7');
  EXPECT_EQ(Fields({"Content-Length: " + longValue}).ContentLength, -1);
}

TEST(HttpAnswer, ResetForgetsTheWholeAnswer) {
  THttpAnswer a;
  TakeStatusLine(a, *ParseStatusLine("HTTP/1.1 206 Partial"), "1.1");
  for (const char* l : {"Content-Length: 5", "Content-Length: 6", "Transfer-Encoding: chunked",
                        "Content-Type: x/y", "Content-Encoding: gzip", "Accept-Ranges: bytes",
                        "Content-Range: bytes 1-2/3", "WWW-Authenticate: Basic", "Connection: close"}) {
    a.Header.push_back(l);
    TakeHeaderField(a, l);
  }
  a.LocationRefused = "Refused Location: it holds CR or LF";
  a.HeaderBegun = a.Done = true;
  a.HeaderLines = 10;
  a.BodyPieces = 2;
  a.ReceivedCount = 77;
  for (bool closeByDefault : {false, true}) {
    THttpAnswer b = a;
    b.Reset(closeByDefault);
    EXPECT_TRUE(b.Header.empty());
    EXPECT_EQ(b.Version, "");
    EXPECT_EQ(b.StatusCode, 0);
    EXPECT_EQ(b.ReasonPhrase, "");
    EXPECT_EQ(b.ContentLength, -1);
    EXPECT_FALSE(b.LengthSeen || b.LengthConflict || b.Chunked || b.HasRange);
    EXPECT_EQ(b.LocationRefused, "");
    EXPECT_EQ(b.ContentType + b.TransferEncoding + b.ContentEncoding + b.AcceptRanges + b.RangeBegin + b.RangeEnd,
              "");
    EXPECT_TRUE(b.Challenges.empty());
    EXPECT_EQ(b.CloseAfter, closeByDefault);
    EXPECT_FALSE(b.HeaderBegun || b.Done);
    EXPECT_EQ(b.HeaderLines + b.BodyPieces, 0);
    EXPECT_EQ(b.ReceivedCount, 0);
  }
}
