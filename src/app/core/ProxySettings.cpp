#include "app/core/ProxySettings.h"

#include <cstdint>
#include <cstdlib>

#include "net/common/UrlParse.h"
#include "net/http/HttpProt.h"
#include "platform/AsciiText.h"

namespace {

// "%XX" sequences to bytes; a "%" not followed by two hex digits stays.
std::string PercentDecode(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      const int hi = ascii::HexValue(s[i + 1]), lo = ascii::HexValue(s[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

// "a.b.c.d" to a number; false for anything else.
bool ParseIPv4(const std::string& s, std::uint32_t& addr) {
  addr = 0;
  int parts = 0;
  std::size_t i = 0;
  while (parts < 4) {
    std::size_t start = i;
    unsigned value = 0;
    while (i < s.size() && ascii::IsDigit(s[i]) && i - start < 3) value = value * 10 + unsigned(s[i++] - '0');
    if (i == start || value > 255) return false;
    addr = (addr << 8) | value;
    ++parts;
    if (parts < 4) {
      if (i >= s.size() || s[i] != '.') return false;
      ++i;
    }
  }
  return i == s.size();
}

// An entry of the no-proxy list against the host (both already lower case,
// without brackets or trailing dots).
bool EntryMatches(std::string entry, const std::string& host) {
  if (!entry.empty() && entry[0] == '.') entry.erase(0, 1);
  while (!entry.empty() && entry.back() == '.') entry.pop_back();
  if (entry.empty()) return false;
  std::uint32_t hostAddr = 0;
  if (ParseIPv4(host, hostAddr)) {
    const std::string::size_type slash = entry.find('/');
    std::uint32_t net = 0;
    if (!ParseIPv4(entry.substr(0, slash), net)) return false;
    int bits = 32;
    if (slash != std::string::npos) {
      const std::string b = entry.substr(slash + 1);
      if (!ascii::AllDigits(b) || b.size() > 2) return false;
      bits = std::atoi(b.c_str());
      if (bits > 32) return false;
    }
    const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
    return (hostAddr & mask) == (net & mask);
  }
  if (entry == host) return true;
  return host.size() > entry.size() && host.compare(host.size() - entry.size(), entry.size(), entry) == 0 &&
         host[host.size() - entry.size() - 1] == '.';
}

}  // namespace

std::optional<TProxy> ParseProxyUrl(const std::string& text, std::string* error) {
  auto bad = [error](const std::string& why) {
    if (error) *error = why;
    return std::nullopt;
  };
  TProxy p;
  std::string rest = ascii::Trim(text);
  const std::string::size_type scheme = rest.find("://");
  if (scheme != std::string::npos) {
    const std::string name = ascii::Lower(rest.substr(0, scheme));
    if (name == "http") p.Kind = pkHttp;
    else if (name == "socks4") p.Kind = pkSocks4;
    else if (name == "socks4a") p.Kind = pkSocks4A;
    else if (name == "socks5") p.Kind = pkSocks5;
    else return bad("unsupported proxy scheme \"" + name + "\" (http, socks4, socks4a or socks5)");
    rest.erase(0, scheme + 3);
  }
  const std::string::size_type slash = rest.find('/');
  if (slash != std::string::npos) rest.erase(slash);
  const std::string::size_type at = rest.rfind('@');
  if (at != std::string::npos) {
    const std::string userInfo = rest.substr(0, at);
    const std::string::size_type colon = userInfo.find(':');
    p.User = PercentDecode(userInfo.substr(0, colon));
    if (colon != std::string::npos) p.Password = PercentDecode(userInfo.substr(colon + 1));
    rest.erase(0, at + 1);
  }
  std::string port;
  if (!rest.empty() && rest[0] == '[') {
    const std::string::size_type close = rest.find(']');
    if (close == std::string::npos) return bad("the proxy address has a bad host");
    p.Host = rest.substr(1, close - 1);
    rest.erase(0, close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return bad("the proxy address has a bad host");
      port = rest.substr(1);
    }
  } else {
    const std::string::size_type colon = rest.rfind(':');
    p.Host = rest.substr(0, colon);
    if (colon != std::string::npos) port = rest.substr(colon + 1);
  }
  if (p.Host.empty()) return bad("the proxy address has no host");
  if (port.empty()) port = "1080";
  const long n = ascii::AllDigits(port) && port.size() <= 5 ? std::atol(port.c_str()) : 0;
  if (n < 1 || n > 65535) return bad("the proxy address has a bad port");
  p.Port = std::to_string(n);
  return p;
}

bool NoProxyMatches(const std::string& list, const std::string& hostText) {
  std::string host = ascii::Lower(ascii::Trim(hostText));
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  while (!host.empty() && host.back() == '.') host.pop_back();
  std::string entry;
  auto matchEntry = [&]() {
    const std::string e = ascii::Lower(entry);
    entry.clear();
    return e == "*" || (!host.empty() && EntryMatches(e, host));
  };
  for (char c : list) {
    if (c == ',' || c == ' ' || c == '\t') {
      if (matchEntry()) return true;
    } else {
      entry += c;
    }
  }
  return matchEntry();
}

std::optional<std::string> SystemEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

std::optional<std::string> ProxyText(const TProxySettings& settings, const TEnvLookup& env, std::string& source) {
  if (settings.Proxy) {
    source = "--proxy";
    if (settings.Proxy->empty()) return std::nullopt;
    return settings.Proxy;
  }
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
    std::optional<std::string> value = env(name);
    if (value && !value->empty()) {
      source = name;
      return value;
    }
  }
  source.clear();
  return std::nullopt;
}

TProxyChoice ChooseProxy(const std::string& host, const TProxySettings& settings, const TEnvLookup& env) {
  TProxyChoice choice;
  const std::optional<std::string> text = ProxyText(settings, env, choice.Source);
  if (!text) return choice;
  std::optional<std::string> noProxy = settings.NoProxy;
  if (!noProxy) noProxy = env("no_proxy");
  if (!noProxy) noProxy = env("NO_PROXY");
  if (noProxy && NoProxyMatches(*noProxy, host)) return choice;
  choice.Proxy = ParseProxyUrl(*text, &choice.Error);
  if (choice.Proxy && settings.User) {
    choice.Proxy->User = *settings.User;
    choice.Proxy->Password = settings.Password.value_or(std::string());
  }
  return choice;
}

void ApplyProxy(THttpCli& cli, const std::optional<TProxy>& proxy) {
  cli.Proxy.clear();
  cli.ProxyUsername.clear();
  cli.ProxyPassword.clear();
  cli.SocksServer.clear();
  cli.SocksPort.clear();
  cli.SocksUsercode.clear();
  cli.SocksPassword.clear();
  cli.SocksLevel = "5";
  cli.SocksAuthentication = socksNoAuthentication;
  if (!proxy) return;
  if (proxy->Kind == pkHttp) {
    cli.Proxy = proxy->Host;
    cli.ProxyPort = proxy->Port;
    cli.ProxyUsername = proxy->User;
    cli.ProxyPassword = proxy->Password;
    return;
  }
  cli.SocksServer = proxy->Host;
  cli.SocksPort = proxy->Port;
  cli.SocksLevel = proxy->Kind == pkSocks4 ? "4" : proxy->Kind == pkSocks4A ? "4A" : "5";
  cli.SocksUsercode = proxy->User;
  if (proxy->Kind == pkSocks5) {
    cli.SocksPassword = proxy->Password;
    if (!proxy->User.empty()) cli.SocksAuthentication = socksAuthenticateUsercode;
  }
}

std::string HostOfUrl(const std::string& url) {
  std::string proto, user, pass, host, port, path;
  ParseURL(url, proto, user, pass, host, port, path);
  return host;
}
