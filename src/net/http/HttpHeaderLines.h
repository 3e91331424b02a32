// An answer's header lines taken one at a time into a THttpAnswer, without a
// client or a socket: the status line, and the fields the client reads.
// THttpCli feeds them as lines arrive; the unit tests and a fuzz target feed
// them directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "net/http/HttpAnswer.h"

struct THttpStatusLine {
  std::string Version;  // "1.0" or "1.1"
  bool HasCode = false;  // a digit follows the version somewhere
  std::int32_t Code = 0;  // its first three digits at most
  std::string Reason;  // what follows the code and one blank
};

// A line starting "HTTP/1.0" or "HTTP/1.1" in its parts; nullopt for any
// other line (a server without a status line).
std::optional<THttpStatusLine> ParseStatusLine(const std::string& Line);

// Whether the connection ends with the answer, by the versions alone.
bool CloseByVersion(const std::string& RequestVer, const std::string& ResponseVer);

// Version, the close by version and, when it has one, code and reason.
void TakeStatusLine(THttpAnswer& Answer, const THttpStatusLine& Status, const std::string& RequestVer);

enum THttpFieldKind : std::uint8_t {
  hfNotAField,  // no colon
  hfOther,      // a field the client does not read
  hfLocation,   // left to the client, which may follow it
  hfSetCookie,  // left to the client, which offers it
  hfContentLength,
  hfTransferEncoding,
  hfContentRange,
  hfAcceptRanges,
  hfContentType,
  hfChallenge,  // WWW-Authenticate or Proxy-Authenticate
  hfConnection,  // Connection or Proxy-Connection
  hfContentEncoding
};

struct THttpField {
  THttpFieldKind Kind = hfNotAField;
  std::string Value;  // after the colon and the blanks that follow it
};

// A field line (any line after the status line) into Answer. The name is
// matched without regard to case.
THttpField TakeHeaderField(THttpAnswer& Answer, const std::string& Line);
