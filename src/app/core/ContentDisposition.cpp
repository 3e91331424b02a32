#include "app/core/ContentDisposition.h"

#include "app/core/HeaderField.h"
#include "platform/AsciiText.h"

namespace {

// One parameter value at `pos` (after the "="): a quoted string with its
// backslash escapes, or a token up to the next ";".
std::string ReadValue(const std::string& s, std::size_t& pos) {
  while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
  std::string value;
  if (pos < s.size() && s[pos] == '"') {
    for (++pos; pos < s.size() && s[pos] != '"'; ++pos) {
      if (s[pos] == '\\' && pos + 1 < s.size()) ++pos;
      value += s[pos];
    }
    if (pos < s.size()) ++pos;  // the closing quote
    while (pos < s.size() && s[pos] != ';') ++pos;
    return value;
  }
  while (pos < s.size() && s[pos] != ';') value += s[pos++];
  return ascii::Trim(value);
}

// charset'language'percent-encoded text to UTF-8; nothing for another charset
// or a broken escape.
std::optional<std::string> DecodeExtValue(const std::string& v) {
  const std::size_t q1 = v.find('\'');
  const std::size_t q2 = q1 == std::string::npos ? q1 : v.find('\'', q1 + 1);
  if (q2 == std::string::npos) return std::nullopt;
  const std::string charset = ascii::Lower(v.substr(0, q1));
  if (charset != "utf-8" && charset != "iso-8859-1") return std::nullopt;
  std::string bytes;
  for (std::size_t i = q2 + 1; i < v.size(); ++i) {
    if (v[i] != '%') {
      bytes += v[i];
      continue;
    }
    if (i + 2 >= v.size() || ascii::HexValue(v[i + 1]) < 0 || ascii::HexValue(v[i + 2]) < 0) return std::nullopt;
    bytes += static_cast<char>(ascii::HexValue(v[i + 1]) * 16 + ascii::HexValue(v[i + 2]));
    i += 2;
  }
  if (charset == "utf-8") return bytes;
  std::string utf8;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

// The last part of a path, so that a name never leads out of the folder.
std::string LastPathPart(const std::string& name) {
  const std::size_t sep = name.find_last_of("/\\");
  return sep == std::string::npos ? name : name.substr(sep + 1);
}

}  // namespace

std::optional<std::string> ContentDispositionFileName(const std::string& value) {
  std::optional<std::string> plain, extended;
  std::size_t pos = value.find(';');
  while (pos != std::string::npos && pos < value.size()) {
    ++pos;  // past the ";"
    const std::size_t eq = value.find('=', pos);
    if (eq == std::string::npos) break;
    const std::size_t next = value.find(';', pos);
    if (next < eq) {  // a parameter without a value
      pos = next;
      continue;
    }
    const std::string name = ascii::Lower(ascii::Trim(value.substr(pos, eq - pos)));
    pos = eq + 1;
    const std::string v = ReadValue(value, pos);
    if (name == "filename*" && !extended) extended = DecodeExtValue(v);
    else if (name == "filename" && !plain) plain = v;
    pos = value.find(';', pos);
  }
  for (const std::optional<std::string>& candidate : {extended, plain}) {
    if (!candidate) continue;
    std::string name = ascii::Trim(LastPathPart(*candidate));
    if (!name.empty() && name != "." && name != "..") return name;
  }
  return std::nullopt;
}

std::optional<std::string> ContentDispositionFileName(const std::vector<std::string>& header) {
  std::string value;
  if (!HeaderValue(header, "Content-Disposition", value)) return std::nullopt;
  return ContentDispositionFileName(value);
}
