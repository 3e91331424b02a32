#include "app/core/DirectTarget.h"

#include "app/core/ContentDisposition.h"
#include "app/core/Global.h"
#include "net/common/UrlParse.h"
#include "platform/AsciiText.h"

bool IsWatchPageAddress(const std::string& input) {
  if (ascii::StartsNoCase(input, "https://")) return IsVideoPageUrl("http://" + input.substr(8));
  return IsVideoPageUrl(input);
}

bool IsDirectAddress(const std::string& input) {
  return (ascii::StartsNoCase(input, "http://") || ascii::StartsNoCase(input, "https://")) && !IsWatchPageAddress(input);
}

std::string DocNameOf(const std::string& url) {
  std::string proto, user, pass, host, port, path;
  ParseURL(url, proto, user, pass, host, port, path);
  const std::string::size_type query = path.find('?');
  if (query != std::string::npos) path.erase(query);
  if (path.empty() || path.back() == '/') return "document.htm";
  const std::string::size_type slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > 255) name.resize(255);
  return name;
}

std::string DirectFileName(const std::string& url, const std::vector<std::string>& header) {
  if (std::optional<std::string> name = ContentDispositionFileName(header)) return *name;
  return DocNameOf(url);
}
