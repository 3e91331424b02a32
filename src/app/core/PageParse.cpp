#include "app/core/PageParse.h"

#include <cstring>

#include "platform/AsciiText.h"

namespace page {

std::string FoldAmpersands(std::string text) {
  static const std::string entity = "&amp;";
  for (;;) {
    std::string::size_type pos = text.find(entity);
    if (pos == std::string::npos) return text;
    // One replace-all pass, then look again: "&amp;amp;" needs two passes.
    std::string out;
    out.reserve(text.size());
    std::string::size_type from = 0;
    while (pos != std::string::npos) {
      out.append(text, from, pos - from);
      out += '&';
      from = pos + entity.size();
      pos = text.find(entity, from);
    }
    out.append(text, from, std::string::npos);
    text.swap(out);
  }
}

std::optional<std::string> ExtractTitle(const std::string& pageText) {
  const std::string::size_type at = pageText.find(kTitleMarker);
  if (at == std::string::npos) return std::nullopt;
  const std::string::size_type start = at + std::strlen(kTitleMarker);
  const std::string::size_type quote = pageText.find('"', start);
  if (quote == std::string::npos) return std::nullopt;
  return FoldAmpersands(pageText.substr(start, quote - start));
}

std::optional<std::string> ExtractToken(const std::string& pageText) {
  const std::string::size_type at = pageText.find(kTokenMarker);
  if (at == std::string::npos) return std::nullopt;
  // The token starts with the marker's 7th character: the "OEgs".
  const std::string::size_type start = at + 6;
  const std::string::size_type quote = pageText.find('"', start);
  if (quote == std::string::npos) return std::nullopt;
  return pageText.substr(start, quote - start);
}

std::optional<std::string> VideoIdOf(const std::string& watchUrl) {
  const std::string::size_type eq = watchUrl.find('=');
  if (eq == std::string::npos) return std::nullopt;
  return watchUrl.substr(eq + 1);
}

bool HasAgeGate(const std::string& pageText) { return ascii::Lower(pageText).find(kAgeGateText) != std::string::npos; }

bool HasBirthDateConfirmation(const std::string& pageText) {
  return ascii::Lower(pageText).find(kBirthDateText) != std::string::npos;
}

bool IsNotAvailable(const std::string& pageText) {
  return pageText.find(kNotAvailableText) != std::string::npos;
}

std::string PercentEncode(const std::string& value) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size() * 3);
  for (unsigned char c : value) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                            c == '~';
    if (unreserved) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0x0F];
    }
  }
  return out;
}

namespace {

std::optional<std::string> InsertAtWatchKey(const std::string& watchUrl, const char* what) {
  const std::string::size_type at = ascii::Lower(watchUrl).find(kWatchKey);
  if (at == std::string::npos) return std::nullopt;
  std::string out = watchUrl;
  out.insert(at, what);
  return out;
}

}  // namespace

std::optional<std::string> BuildLoginAddress(const std::string& watchUrl, const std::string& user,
                                             const std::string& password) {
  std::optional<std::string> out = InsertAtWatchKey(watchUrl, "login?next=/");
  if (!out) return std::nullopt;
  *out += "&username=" + PercentEncode(user) + "&password=" + PercentEncode(password) +
          "&action_login=Log+In";
  return out;
}

std::optional<std::string> BuildVerifyAgeAddress(const std::string& watchUrl) {
  std::optional<std::string> out = InsertAtWatchKey(watchUrl, "verify_age?next_url=/");
  if (!out) return std::nullopt;
  *out += "&action_confirm=Confirm+Birth+Date";
  return out;
}

std::string BuildGetVideoAddress(const std::string& serviceHost, const std::string& videoId,
                                 const std::string& token) {
  return "http://" + serviceHost + "/get_video?video_id=" + videoId + "&t=" + token;
}

}  // namespace page
