#include "cli/BatchFile.h"

#include <cerrno>
#include <cstring>

#include "platform/AsciiText.h"

std::vector<std::string> BatchEntries(const std::string& text) {
  std::vector<std::string> entries;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = ascii::Trim(std::string_view(text).substr(start, end - start));
    if (!line.empty() && line[0] != '#') entries.push_back(line);
    start = end + 1;
  }
  return entries;
}

std::optional<std::vector<std::string>> ReadBatchFile(const std::string& path, std::FILE* standardInput,
                                                      std::string& error) {
  std::FILE* f = path == "-" ? standardInput : std::fopen(path.c_str(), "rb");
  if (!f) {
    error = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::string text;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  const bool failed = std::ferror(f) != 0;
  const int err = errno;
  if (f != standardInput) std::fclose(f);
  if (failed) {
    error = path + ": " + std::strerror(err);
    return std::nullopt;
  }
  return BatchEntries(text);
}
