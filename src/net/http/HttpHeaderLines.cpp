// The status line and the header fields, each into the answer it belongs to.
#include "net/http/HttpHeaderLines.h"

#include "net/http/HttpText.h"
#include "platform/AsciiText.h"

using namespace httptext;

namespace {

struct TFieldName {
  const char* Name;  // lower case
  THttpFieldKind Kind;
};

constexpr TFieldName kFieldNames[] = {
    {"location", hfLocation},
    {"set-cookie", hfSetCookie},
    {"content-length", hfContentLength},
    {"transfer-encoding", hfTransferEncoding},
    {"content-range", hfContentRange},
    {"accept-ranges", hfAcceptRanges},
    {"content-type", hfContentType},
    {"www-authenticate", hfChallenge},
    {"proxy-authenticate", hfChallenge},
    {"connection", hfConnection},
    {"proxy-connection", hfConnection},
    {"content-encoding", hfContentEncoding},
};

THttpFieldKind KindOf(const std::string& LowerName) {
  for (const TFieldName& f : kFieldNames)
    if (LowerName == f.Name) return f.Kind;
  return hfOther;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void TakeLength(THttpAnswer& A, const std::string& Value) {
  const std::int64_t length = ParseLength(Value);
  // Lines that disagree leave the body's end unknown.
  if (A.LengthSeen && length != A.ContentLength) A.LengthConflict = true;
  A.LengthSeen = true;
  A.ContentLength = length;
}

// "bytes 100-199/1000": the text between the unit and the dash, and between
// the dash and the slash (or the end).
void TakeRange(THttpAnswer& A, const std::string& Value) {
  const std::size_t dash = Value.find('-');
  if (dash == std::string::npos || dash < 6) return;
  A.RangeBegin = Value.substr(6, dash - 6);
  const std::size_t slash = Value.find('/', dash + 1);
  A.RangeEnd = Value.substr(dash + 1, slash == std::string::npos ? std::string::npos : slash - dash - 1);
  A.HasRange = true;
}

void TakeConnection(THttpAnswer& A, const std::string& Value) {
  const std::string t = ascii::Lower(ascii::Trim(Value));
  if (t == "close")
    A.CloseAfter = true;
  else if (t == "keep-alive")
    A.CloseAfter = false;
}

}  // namespace

std::optional<THttpStatusLine> ParseStatusLine(const std::string& Line) {
  if (Line.compare(0, 8, "HTTP/1.0") != 0 && Line.compare(0, 8, "HTTP/1.1") != 0) return std::nullopt;
  THttpStatusLine s;
  s.Version = Line.substr(5, 3);
  std::size_t i = 9;
  while (i < Line.size() && !IsDigit(Line[i])) ++i;
  if (i >= Line.size()) return s;
  s.HasCode = true;
  for (std::size_t j = i; j < i + 3 && j < Line.size() && IsDigit(Line[j]); ++j) s.Code = s.Code * 10 + (Line[j] - '0');
  if (i + 4 <= Line.size()) s.Reason = Line.substr(i + 4);
  return s;
}

bool CloseByVersion(const std::string& RequestVer, const std::string& ResponseVer) {
  return (RequestVer == "1.1" && ResponseVer == "1.0") || RequestVer == "1.0";
}

void TakeStatusLine(THttpAnswer& Answer, const THttpStatusLine& Status, const std::string& RequestVer) {
  Answer.Version = Status.Version;
  Answer.CloseAfter = CloseByVersion(RequestVer, Status.Version);
  if (!Status.HasCode) return;
  Answer.StatusCode = Status.Code;
  Answer.ReasonPhrase = Status.Reason;
}

THttpField TakeHeaderField(THttpAnswer& Answer, const std::string& Line) {
  THttpField f;
  const std::size_t colon = Line.find(':');
  if (colon == std::string::npos) return f;
  f.Kind = KindOf(ascii::Lower(Line.substr(0, colon)));
  std::size_t v = colon + 1;
  while (v < Line.size() && Line[v] == ' ') ++v;
  f.Value = Line.substr(v);
  switch (f.Kind) {
    case hfContentLength: TakeLength(Answer, f.Value); break;
    case hfTransferEncoding:
      Answer.TransferEncoding = ascii::Lower(f.Value);
      // Only a list that ends in chunked is framed by chunks.
      Answer.Chunked = ascii::Lower(LastListItem(f.Value)) == "chunked";
      break;
    case hfContentRange: TakeRange(Answer, f.Value); break;
    case hfAcceptRanges: Answer.AcceptRanges = f.Value; break;
    case hfContentType: Answer.ContentType = ascii::Lower(f.Value); break;
    case hfChallenge: Answer.Challenges.push_back(f.Value); break;
    case hfConnection: TakeConnection(Answer, f.Value); break;
    case hfContentEncoding: Answer.ContentEncoding = f.Value; break;
    case hfNotAField:
    case hfOther:
    case hfLocation:
    case hfSetCookie: break;
  }
  return f;
}
