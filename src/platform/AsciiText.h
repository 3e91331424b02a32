// ASCII text helpers for protocol and settings texts (header values, host
// names, option values, settings lines), shared by every layer: only the
// ASCII letters are folded and only ASCII blanks are trimmed, whatever the
// locale, so the bytes of UTF-8 or Latin-1 names pass through unchanged.
#pragma once

#include <string>
#include <string_view>

namespace ascii {

// A blank of protocol texts: the space and every control byte below it.
constexpr bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// The white space of isspace in the "C" locale: space, \t \n \v \f \r.
constexpr bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// 0 to 15 for a hexadecimal digit in either case; -1 for any other byte.
constexpr int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr char LowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char UpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string Lower(std::string s) {
  for (char& c : s) c = LowerChar(c);
  return s;
}

inline std::string Upper(std::string s) {
  for (char& c : s) c = UpperChar(c);
  return s;
}

// Without the blanks and control bytes at either end (IsBlank).
inline std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

// Without the white space at either end (IsSpace); other control bytes stay.
inline std::string TrimSpaces(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsSpace(s[b])) ++b;
  while (e > b && IsSpace(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

inline bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerChar(a[i]) != LowerChar(b[i])) return false;
  return true;
}

// True when `s` begins with `prefix` in any letter case (an empty prefix too).
inline bool StartsNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

// True for one or more decimal digits and nothing else (no sign, no blank).
inline bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!IsDigit(c)) return false;
  return true;
}

}  // namespace ascii
