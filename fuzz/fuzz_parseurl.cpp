// Feeds arbitrary text to the URL parser and its helpers. Input: the base
// path, a line feed, then the address (no line feed: the whole input is the
// address with an empty base).
#include "net/common/UrlParse.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {
void Check(bool ok) {
  if (!ok) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  std::string base, url = in;
  std::size_t nl = in.find('\n');
  if (nl != std::string::npos) {
    base = in.substr(0, nl);
    url = in.substr(nl + 1);
  }
  std::string proto, user, pass, host, port, path = base;
  ParseURL(url, proto, user, pass, host, port, path);
  for (char c : proto) Check(!(c >= 'A' && c <= 'Z'));
  // Every part but a resolved relative path is a piece of the address.
  Check(host.size() <= url.size() && user.size() <= url.size() && pass.size() <= url.size() &&
        port.size() <= url.size());
  if (url.compare(0, 2, "./") != 0 && url.compare(0, 3, "../") != 0) {
    Check(path.size() <= url.size());
    Check(url.find(host) != std::string::npos);
    Check(url.find(path) != std::string::npos);
  } else {
    Check(path.size() <= base.size() + url.size() + 1);
    Check(proto.empty() && host.empty());
  }

  std::string ub = UrlBase(url);
  Check(url.compare(0, ub.size(), ub) == 0);
  Check(ub.empty() || ub.back() == '/' || ub.back() == ':');

  int p = LastPos(base, url);
  Check(p >= 0 && static_cast<std::size_t>(p) <= url.size());
  if (p > 0) Check(url.compare(static_cast<std::size_t>(p - 1), base.size(), base) == 0);
  return 0;
}
