// Small text helpers for protocol texts (header values, option values,
// environment variables): blanks trimmed, ASCII letters folded.
#pragma once

#include <string>
#include <string_view>

namespace ascii {

inline std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

inline std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

inline bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

inline bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// True when the header line is named `name` (any letter case); `value`
// receives its trimmed value.
inline bool HeaderLine(const std::string& line, std::string_view name, std::string& value) {
  const std::string::size_type colon = line.find(':');
  if (colon == std::string::npos) return false;
  if (!EqualNoCase(Trim(std::string_view(line).substr(0, colon)), name)) return false;
  value = Trim(std::string_view(line).substr(colon + 1));
  return true;
}

// The value of the first header line named `name`; false when none is.
template <typename Lines>
bool HeaderValue(const Lines& header, std::string_view name, std::string& value) {
  for (const std::string& line : header)
    if (HeaderLine(line, name, value)) return true;
  return false;
}

}  // namespace ascii
