#include "app/core/DownloadName.h"

#include <cstring>

#include "app/core/Global.h"

namespace {

// A leading dot hides the file, "../" would climb out of the folder.
std::string WithoutLeadingDotsAndBlanks(const std::string& text) {
  const std::string::size_type first = text.find_first_not_of(". ");
  return first == std::string::npos ? std::string() : text.substr(first);
}

}  // namespace

std::string CutUtf8(const std::string& text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t cut = maxBytes;
  // Back over continuation bytes (10xxxxxx) to the start of their sequence;
  // a sequence is at most four bytes long.
  for (int back = 0; back < 3 && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80; ++back)
    --cut;
  return text.substr(0, cut);
}

std::string DownloadFileName(const std::string& fileName, const std::string& videoId) {
  const std::string cleaned = StripFileNameChars(fileName);
  const std::size_t partBytes = std::strlen(kPartSuffix) + std::strlen(kControlSuffix);
  std::string stem = cleaned, ext;
  const std::string::size_type dot = cleaned.rfind('.');
  if (dot != std::string::npos && cleaned.size() - dot + partBytes < kMaxFileNameBytes) {
    stem = cleaned.substr(0, dot);
    ext = cleaned.substr(dot);
  }
  stem = WithoutLeadingDotsAndBlanks(stem);
  if (stem.empty()) stem = WithoutLeadingDotsAndBlanks(StripFileNameChars(videoId));
  if (stem.empty()) stem = "get_video";
  return CutUtf8(stem, kMaxFileNameBytes - partBytes - ext.size()) + ext;
}
