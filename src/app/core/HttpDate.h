// Dates of HTTP answers ("Date", "Retry-After", "Last-Modified") as seconds
// since 1970-01-01 UTC, in the three forms a server may send:
//   Sun, 06 Nov 1994 08:49:37 GMT    (the usual one)
//   Sunday, 06-Nov-94 08:49:37 GMT   (obsolete)
//   Sun Nov  6 08:49:37 1994         (C's asctime)
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Nothing when the text is none of them or names no real moment.
std::optional<std::int64_t> ParseHttpDate(const std::string& text);
