// Arbitrary bytes as header lines, straight into the status-line parser and
// the field handler: no client, no socket, no message loop. Lines are split
// at LF with one CR before it dropped, as the client splits them; an empty
// line ends an answer and the next line is the next answer's status line.
//
// Beside the sanitizers, an oracle on what the answer may hold after each
// line: a readable length only from digits, a conflict only after a length,
// chunks only when named, a range and every value taken from the line.
#include <cstdint>
#include <string>

#include "net/http/HttpHeaderLines.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool OnlyDigitsAndBlanks(const std::string& s) {
  bool digit = false;
  for (char c : s) {
    if (c >= '0' && c <= '9')
      digit = true;
    else if (static_cast<unsigned char>(c) > ' ')
      return false;
  }
  return digit;
}

void StatusLine(THttpAnswer& a, const std::string& line, const std::string& requestVer) {
  const std::optional<THttpStatusLine> s = ParseStatusLine(line);
  if (!s) return;
  Check(s->Version == "1.0" || s->Version == "1.1");
  Check(s->Code >= 0 && s->Code <= 999);
  Check(s->HasCode || (s->Code == 0 && s->Reason.empty()));
  Check(s->Reason.size() < line.size() && EndsWith(line, s->Reason));
  const std::int32_t before = a.StatusCode;
  TakeStatusLine(a, *s, requestVer);
  Check(a.CloseAfter == CloseByVersion(requestVer, s->Version));
  Check(a.StatusCode == (s->HasCode ? s->Code : before));
}

void Field(THttpAnswer& a, const std::string& line) {
  const bool seenBefore = a.LengthSeen;
  const std::int64_t lengthBefore = a.ContentLength;
  const std::string rangeBefore = a.RangeBegin + "-" + a.RangeEnd;
  const THttpField f = TakeHeaderField(a, line);
  Check((f.Kind == hfNotAField) == (line.find(':') == std::string::npos));
  Check(f.Value.size() < line.size() || line.empty());
  Check(EndsWith(line, f.Value));
  Check(a.ContentLength >= -1);
  Check(!a.LengthConflict || a.LengthSeen);
  if (f.Kind == hfContentLength) {
    Check(a.ContentLength == -1 || OnlyDigitsAndBlanks(f.Value));
    Check(a.LengthConflict || !seenBefore || a.ContentLength == lengthBefore);
  } else {
    Check(a.ContentLength == lengthBefore && a.LengthSeen == seenBefore);
  }
  Check(!a.Chunked || a.TransferEncoding.find("chunked") != std::string::npos);
  for (char c : a.ContentType + a.TransferEncoding) Check(c < 'A' || c > 'Z');
  if (a.RangeBegin + "-" + a.RangeEnd != rangeBefore) {
    Check(f.Kind == hfContentRange && a.HasRange);
    Check(a.RangeBegin.size() + a.RangeEnd.size() < f.Value.size());
    Check(f.Value.find(a.RangeBegin) != std::string::npos && f.Value.find(a.RangeEnd) != std::string::npos);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 1) return 0;
  const std::string requestVer = Data[0] & 1 ? "1.1" : "1.0";
  const std::string text(reinterpret_cast<const char*>(Data + 1), Size - 1);
  THttpAnswer a;
  a.Reset(requestVer == "1.0");
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t lf = text.find('\n', at);
    if (lf == std::string::npos) lf = text.size();
    std::string line = text.substr(at, lf - at);
    at = lf + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      a.Reset(requestVer == "1.0");
      Check(a.Header.empty() && a.StatusCode == 0 && a.ContentLength == -1 && !a.Chunked);
      continue;
    }
    a.Header.push_back(line);
    if (a.Header.size() == 1)
      StatusLine(a, line, requestVer);
    else
      Field(a, line);
  }
  return 0;
}
