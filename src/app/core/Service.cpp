#include "app/core/Service.h"

#include <cstdlib>

#include "app/core/ProxySettings.h"
#include "platform/AsciiText.h"
#include "platform/WinsockApi.h"

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

}  // namespace

std::string ServiceHost() {
  std::string v = Env("CLIPHARBOR_SERVICE");
  return v.empty() ? std::string("www.youtube.com") : v;
}

std::string ServiceDomain() {
  std::string v = Env("CLIPHARBOR_SERVICE");
  if (v.empty()) return "youtube.com";
  // "[::1]:8080" keeps its brackets; a plain "host:port" loses the port.
  if (v.front() == '[') {
    std::string::size_type close = v.find(']');
    return close == std::string::npos ? v : v.substr(0, close + 1);
  }
  std::string::size_type colon = v.find(':');
  return colon == std::string::npos ? v : v.substr(0, colon);
}

std::string CacheHost() {
  std::string v = Env("CLIPHARBOR_CACHE_HOST");
  return v.empty() ? std::string("cache.googlevideo.com") : v;
}

bool IsCacheAddress(const std::string& text) {
  const std::string cache = CacheHost();
  if (ascii::StartsNoCase(text, "http://" + cache)) return true;
  // "[::1]:8080", "[::1]" or "::1": the address itself, without the port.
  std::string literal = cache;
  if (!literal.empty() && literal.front() == '[') {
    const std::string::size_type close = literal.find(']');
    if (close == std::string::npos) return false;
    literal = literal.substr(1, close - 1);
  }
  plat::TSockAddr cacheAddr, hostAddr;
  if (!plat::WsParseAddr(literal, cacheAddr) || !cacheAddr.IsV6()) return false;
  if (!ascii::StartsNoCase(text, "http://")) return false;
  const std::string host = HostOfUrl(text);
  return plat::WsParseAddr(host, hostAddr) && hostAddr.SameAddress(cacheAddr);
}

std::string ExampleWatchUrl() { return "http://" + ServiceHost() + "/watch?v=piEWjpA_51Q"; }
