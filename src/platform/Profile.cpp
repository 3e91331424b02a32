#include "platform/Profile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/AsciiText.h"

namespace plat {
namespace {

// The file as lines without their line ends; nullopt when it cannot be read.
std::optional<std::vector<std::string>> ReadLines(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool WriteLines(const std::string& file, const std::vector<std::string>& lines) {
  std::string data;
  for (const std::string& l : lines) data += l + "\r\n";
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  return !out.fail();
}

// "[name]" -> name; nullopt for other lines.
std::optional<std::string> SectionName(const std::string& line) {
  std::string t = ascii::TrimSpaces(line);
  if (t.size() < 2 || t.front() != '[') return std::nullopt;
  std::size_t close = t.find(']');
  if (close == std::string::npos) return std::nullopt;
  return ascii::TrimSpaces(t.substr(1, close - 1));
}

// "key=value" -> key; nullopt for comments and lines without '='.
std::optional<std::string> KeyName(const std::string& line) {
  std::string t = ascii::TrimSpaces(line);
  if (t.empty() || t.front() == ';') return std::nullopt;
  std::size_t eq = t.find('=');
  if (eq == std::string::npos) return std::nullopt;
  return ascii::TrimSpaces(t.substr(0, eq));
}

struct Location {
  std::size_t sectionLine = 0;  // index of the "[section]" line
  std::size_t end = 0;          // one past the section's last line
  std::optional<std::size_t> keyLine;
};

std::optional<Location> Find(const std::vector<std::string>& lines, const std::string& section,
                             const std::string& key) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::optional<std::string> s = SectionName(lines[i]);
    if (!s || !ascii::EqualNoCase(*s, section)) continue;
    Location loc;
    loc.sectionLine = i;
    std::size_t j = i + 1;
    for (; j < lines.size(); ++j) {
      if (SectionName(lines[j])) break;
      if (!loc.keyLine && !key.empty()) {
        std::optional<std::string> k = KeyName(lines[j]);
        if (k && ascii::EqualNoCase(*k, key)) loc.keyLine = j;
      }
    }
    loc.end = j;
    return loc;  // the first section of that name wins
  }
  return std::nullopt;
}

bool StorableName(const std::string& s) {
  return s.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& def,
                                    const std::string& file) {
  std::optional<std::vector<std::string>> lines = ReadLines(file);
  if (!lines) return def;
  std::optional<Location> loc = Find(*lines, ascii::TrimSpaces(section), ascii::TrimSpaces(key));
  if (!loc || !loc->keyLine) return def;
  const std::string& line = (*lines)[*loc->keyLine];
  std::string value = ascii::TrimSpaces(line.substr(line.find('=') + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return value;
}

int GetPrivateProfileInt(const std::string& section, const std::string& key, int def, const std::string& file) {
  const std::string text = ascii::TrimSpaces(GetPrivateProfileString(section, key, std::string(), file));
  if (text.empty()) return def;
  std::size_t i = 0;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return def;
  long long v = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    const int d = ascii::HexValue(c);
    if (d < 0 || d >= base) return def;
    v = v * base + d;
    if (v > static_cast<long long>(INT_MAX) + 1) return def;
  }
  if (negative) v = -v;
  if (v < INT_MIN || v > INT_MAX) return def;
  return static_cast<int>(v);
}

bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& file) {
  const std::string sec = ascii::TrimSpaces(section), k = ascii::TrimSpaces(key);
  if (sec.empty() || k.empty() || k.find('=') != std::string::npos || k.front() == ';' || k.front() == '[' ||
      sec.find_first_of("[]") != std::string::npos || !StorableName(sec) || !StorableName(k) ||
      !StorableName(value))
    return false;
  std::vector<std::string> lines = ReadLines(file).value_or(std::vector<std::string>());
  const std::string entry = k + "=" + value;
  std::optional<Location> loc = Find(lines, sec, k);
  if (loc && loc->keyLine) {
    // Keep the stored spelling of the key.
    const std::string& old = lines[*loc->keyLine];
    lines[*loc->keyLine] = ascii::TrimSpaces(old.substr(0, old.find('='))) + "=" + value;
  } else if (loc) {
    std::size_t at = loc->end;
    // Before the section's trailing blank lines.
    while (at > loc->sectionLine + 1 && ascii::TrimSpaces(lines[at - 1]).empty()) --at;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
  } else {
    if (!lines.empty() && !ascii::TrimSpaces(lines.back()).empty()) lines.push_back("");
    lines.push_back("[" + sec + "]");
    lines.push_back(entry);
  }
  return WriteLines(file, lines);
}

bool DeletePrivateProfileKey(const std::string& section, const std::string& key, const std::string& file) {
  std::optional<std::vector<std::string>> lines = ReadLines(file);
  if (!lines) return true;
  std::optional<Location> loc = Find(*lines, ascii::TrimSpaces(section), ascii::TrimSpaces(key));
  if (!loc) return true;
  if (ascii::TrimSpaces(key).empty()) {
    lines->erase(lines->begin() + static_cast<std::ptrdiff_t>(loc->sectionLine),
                 lines->begin() + static_cast<std::ptrdiff_t>(loc->end));
  } else if (loc->keyLine) {
    lines->erase(lines->begin() + static_cast<std::ptrdiff_t>(*loc->keyLine));
  } else {
    return true;
  }
  return WriteLines(file, *lines);
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
  return GetPrivateProfileString(section, key, def, FFileName);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  return GetPrivateProfileInt(section, key, def, FFileName);
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  if (!WritePrivateProfileString(section, key, value, FFileName))
    throw EIniFileException("Unable to write to " + FFileName);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

}  // namespace plat
