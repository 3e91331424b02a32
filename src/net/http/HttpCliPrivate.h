// What the HTTP client's own units share and its users do not: its timer
// numbers and the trace macro. Its request-done codes are in HttpErrors.h.
#pragma once

#include <cstdint>

namespace httpcli {

constexpr std::uintptr_t kBandwidthTimerId = 1;
constexpr std::uintptr_t kRateBudgetTimerId = 2;
// Caps on an answer's header: bytes keep arriving, so no time-out ends it.
constexpr std::int64_t kMaxHeaderLine = 100 * 1024;
constexpr std::int64_t kMaxHeaderBlock = 300 * 1024;

}  // namespace httpcli

// Builds the trace text only when the option is on; inside THttpCli members.
#define HTTP_TRACE(opt, text)                     \
  do {                                            \
    if (TraceEnabled(opt)) TraceLog(opt, (text)); \
  } while (0)
