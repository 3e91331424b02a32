// What the HTTP client's own units share and its users do not: its timer
// number and the trace macro. Its request-done codes are in HttpErrors.h.
#pragma once

#include <cstdint>

namespace httpcli {

constexpr std::uintptr_t kBandwidthTimerId = 1;

}  // namespace httpcli

// Builds the trace text only when the option is on; inside THttpCli members.
#define HTTP_TRACE(opt, text)                     \
  do {                                            \
    if (TraceEnabled(opt)) TraceLog(opt, (text)); \
  } while (0)
