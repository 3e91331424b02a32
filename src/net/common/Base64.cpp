#include "net/common/Base64.h"

#include <cstdint>

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int DecodeChar(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
}  // namespace

std::string Base64Encode(const void* Data, std::size_t Len) {
  const auto* p = static_cast<const std::uint8_t*>(Data);
  std::string out;
  out.reserve((Len + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= Len; i += 3) {
    std::uint32_t v = (std::uint32_t(p[i]) << 16) | (std::uint32_t(p[i + 1]) << 8) | p[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  std::size_t left = Len - i;
  if (left == 1) {
    std::uint32_t v = std::uint32_t(p[i]) << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (left == 2) {
    std::uint32_t v = (std::uint32_t(p[i]) << 16) | (std::uint32_t(p[i + 1]) << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string Base64Encode(const std::string& Data) { return Base64Encode(Data.data(), Data.size()); }

std::string Base64Decode(const std::string& Text) {
  std::string out;
  out.reserve(Text.size() / 4 * 3 + 2);
  std::uint32_t acc = 0;
  int bits = 0;
  for (unsigned char c : Text) {
    if (c == '=') break;
    int v = DecodeChar(c);
    if (v < 0) continue;
    acc = (acc << 6) | std::uint32_t(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
      acc &= (1u << bits) - 1;
    }
  }
  return out;
}
