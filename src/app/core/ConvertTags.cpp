#include "app/core/ConvertTags.h"

#include <cstddef>

namespace {

// Length of the UTF-8 sequence at `at`, or 0 when it is not a valid one
// (overlong forms, surrogates and values past U+10FFFF included).
std::size_t Utf8Length(const std::string& s, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t n;
  unsigned long value;
  if (lead >= 0xc2 && lead <= 0xdf) n = 2, value = lead & 0x1f;
  else if (lead >= 0xe0 && lead <= 0xef) n = 3, value = lead & 0x0f;
  else if (lead >= 0xf0 && lead <= 0xf4) n = 4, value = lead & 0x07;
  else return 0;
  if (s.size() - at < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    if ((byte(at + i) & 0xc0) != 0x80) return 0;
    value = (value << 6) | (byte(at + i) & 0x3f);
  }
  if ((n == 3 && value < 0x800) || (n == 4 && value < 0x10000) || value > 0x10ffff ||
      (value >= 0xd800 && value <= 0xdfff))
    return 0;
  return n;
}

bool IsUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = Utf8Length(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string Latin1ToUtf8(const std::string& s) {
  std::string out;
  out.reserve(s.size() * 2);
  for (const char c : s) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xc0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3f));
    }
  }
  return out;
}

}  // namespace

std::string TagText(const std::string& text) {
  std::string s = IsUtf8(text) ? text : Latin1ToUtf8(text);
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  const std::size_t begin = s.find_first_not_of(' ');
  if (begin == std::string::npos) return std::string();
  return s.substr(begin, s.find_last_not_of(' ') - begin + 1);
}

std::string AddressWithoutCredentials(const std::string& address) {
  const std::size_t scheme = address.find("://");
  const std::size_t authority = scheme == std::string::npos ? 0 : scheme + 3;
  std::size_t end = address.find_first_of("/?#", authority);
  if (end == std::string::npos) end = address.size();
  const std::size_t at = address.rfind('@', end - (end > authority ? 1 : 0));
  if (at == std::string::npos || at < authority || at >= end) return address;
  return address.substr(0, authority) + address.substr(at + 1);
}

TConvertTags TagsForSource(const std::string& title, const std::string& address) {
  return TConvertTags{TagText(title), TagText(AddressWithoutCredentials(address))};
}

std::vector<std::string> TagArguments(const TConvertTags& tags) {
  std::vector<std::string> args;
  if (!tags.Title.empty()) args.insert(args.end(), {"-metadata", "title=" + tags.Title});
  if (!tags.Address.empty()) args.insert(args.end(), {"-metadata", "comment=" + tags.Address});
  return args;
}
