// Naming and judging the converter's output file.
#include "app/core/ConvertOutput.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

std::string TemporaryOutputName(const std::string& outputFile) {
  const std::size_t slash = outputFile.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = outputFile.rfind('.');
  // The extension is what follows the name's last dot, as the converter reads it.
  if (dot == std::string::npos || dot < nameStart) return outputFile + ".part";
  return outputFile.substr(0, dot) + ".part" + outputFile.substr(dot);
}

bool IsWriteErrorLine(const std::string& line) {
  static const char* const kMarkers[] = {
      "Error writing trailer of", "Error closing file",   "av_interleaved_write_frame():",
      "No space left on device",  "File too large",       "Disk quota exceeded",
      "Read-only file system",    "Input/output error",
  };
  for (const char* marker : kMarkers)
    if (line.find(marker) != std::string::npos) return true;
  return false;
}

std::string WithoutName(std::string line, const std::string& name) {
  if (name.empty()) return line;
  for (std::size_t at = line.find(name); at != std::string::npos; at = line.find(name, at)) line.erase(at, name.size());
  return line;
}

bool IsNonEmptyFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return !a.empty() && !b.empty() && std::filesystem::equivalent(a, b, ec) && !ec;
}

std::string OntoItselfText(const std::string& path) {
  return "The converted file would replace the video file itself:\r\n" + path + "\r\n" +
         "Please choose another output folder or format.";
}
