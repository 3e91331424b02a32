// Text helpers of the HTTP client's units, built on the ASCII helpers: list
// items, decimal lengths, request targets and the host-and-port form.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "platform/AsciiText.h"

namespace httptext {

// The last item of a comma-separated list, trimmed.
inline std::string LastListItem(const std::string& list) {
  const std::size_t comma = list.rfind(',');
  return ascii::Trim(comma == std::string::npos ? list : list.substr(comma + 1));
}

// A decimal length: digits only, no sign, no overflow; -1 otherwise.
inline std::int64_t ParseLength(const std::string& text) {
  std::string t = ascii::Trim(text);
  if (t.empty()) return -1;
  std::int64_t v = 0;
  for (char c : t) {
    if (!ascii::IsDigit(c)) return -1;
    int d = c - '0';
    if (v > (std::numeric_limits<std::int64_t>::max() - d) / 10) return -1;
    v = v * 10 + d;
  }
  return v;
}

// The address without its "#fragment", which is never sent.
inline std::string WithoutFragment(const std::string& address) { return address.substr(0, address.find('#')); }

// The scheme of an address ("file" in "file:/etc"), lower case; "" for a
// reference without one.
inline std::string LocationScheme(const std::string& address) {
  const std::size_t colon = address.find(':');
  if (colon == std::string::npos || colon == 0) return std::string();
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = address[i];
    const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alpha && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))) return std::string();
  }
  return ascii::Lower(address.substr(0, colon));
}

// A line break in an address would end the request line and start a header
// line of the sender's choosing.
inline bool HasLineBreak(const std::string& address) { return address.find_first_of("\r\n") != std::string::npos; }

// A request target as it may stand in the request line: blanks and the other
// control bytes percent-encoded (line breaks are refused before).
inline std::string EncodeTargetBytes(const std::string& target) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  out.reserve(target.size());
  for (char c : target) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= ' ' || b == 0x7F) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

// Host part of an address with the port when it is not the default one.
inline std::string HostAndPort(const std::string& host, const std::string& port,
                               const std::string& defaultPort = "80") {
  if (port.empty() || port == defaultPort) return host;
  return host + ":" + port;
}

}  // namespace httptext
