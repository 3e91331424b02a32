// THttpAnswer: one answer of a server as THttpCli reads it, what its header
// said and how far its reading got. It is forgotten as a whole by Reset()
// before every new answer: a new request, a relocation, an authentication
// pass, the answer inside a proxy tunnel and the final answer after an
// interim (1xx) one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct THttpAnswer {
  // --- the header
  std::vector<std::string> Header;  // every line as received, the status line first
  std::string Version;              // of the status line, "1.0" or "1.1"; empty without one
  std::int32_t StatusCode = 0;      // also set for a request that failed before any answer
  std::string ReasonPhrase;         // also the text of a failure
  std::int64_t ContentLength = -1;  // -1: none announced, unreadable, or chunks frame the body
  bool LengthSeen = false;
  bool LengthConflict = false;      // two Content-Length lines disagree
  std::string ContentType;          // lower case
  std::string TransferEncoding;     // lower case
  bool Chunked = false;             // the coding list ends in "chunked"
  std::string ContentEncoding;      // as received
  std::string AcceptRanges;
  bool HasRange = false;            // a Content-Range whose bounds were read
  std::string RangeBegin, RangeEnd;
  std::vector<std::string> Challenges;  // WWW-Authenticate and Proxy-Authenticate values
  bool CloseAfter = false;          // the connection ends with this answer
  std::string LocationRefused;      // why a Location to follow was refused (a line break, a bad port)
  std::string LocationScheme;       // a Location's scheme that cannot be followed

  // --- its reading
  bool HeaderBegun = false;         // OnHeaderBegin was raised for it
  std::int32_t HeaderLines = 0;     // lines read, the status line being the first
  std::int32_t BodyPieces = 0;      // pieces handed to the body reader; 0 before the document
  std::int64_t ReceivedCount = 0;   // document bytes received
  bool Done = false;                // read to its end
  std::int64_t HeaderBytes = 0;     // of the header block so far, lines ended
  std::int64_t LineDropped = 0;     // bytes of the current header line beyond the buffer

  // Nothing of the answer before; without a status line saying otherwise
  // the connection ends with it when CloseByDefault (an HTTP/1.0 request).
  void Reset(bool CloseByDefault) {
    *this = THttpAnswer();
    CloseAfter = CloseByDefault;
  }
};
