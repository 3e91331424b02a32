// What the HTTP client's own units share and its users do not: the client's
// request-done error numbers, its timer number and the trace macro.
#pragma once

#include <cstdint>

namespace httpcli {

constexpr std::uintptr_t kBandwidthTimerId = 1;
// Client's own request-done errors beside the socket error numbers.
constexpr std::uint16_t kErrAborted = 3;
constexpr std::uint16_t kErrIncomplete = 4;  // connection closed before the answer's end
constexpr std::uint16_t kErrBadChunk = 5;    // chunk size without a digit or beyond 64 bits
constexpr std::uint16_t kErrWriteFailed = 7;  // the receive stream refused the body
constexpr std::uint16_t kErrBadLength = 8;    // Content-Length lines that disagree
constexpr std::uint16_t kErrBadTarget = 9;    // an address with a line break
constexpr std::uint16_t kErrHeaderTooLarge = 11;  // a header line or block beyond its cap
constexpr std::uint16_t kErrTooManyRelocations = 12;  // beyond LocationChangeMaxCount
constexpr std::uint16_t kErrBadRelocation = 13;  // a Location to a scheme other than http(s)
constexpr std::uint16_t kErrTlsTruncated = 14;   // a body to the close ended without close_notify
// Caps on an answer's header: bytes keep arriving, so no time-out ends it.
constexpr std::int64_t kMaxHeaderLine = 100 * 1024;
constexpr std::int64_t kMaxHeaderBlock = 300 * 1024;

}  // namespace httpcli

// Builds the trace text only when the option is on; inside THttpCli members.
#define HTTP_TRACE(opt, text)                     \
  do {                                            \
    if (TraceEnabled(opt)) TraceLog(opt, (text)); \
  } while (0)
