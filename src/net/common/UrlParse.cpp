#include "net/common/UrlParse.h"

#include <cstddef>

#include "platform/AsciiText.h"

namespace {

bool IsSchemeChar(char c) {
  return c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
}

// Base up to and including its last "/", or "/" when it has none.
std::string DirOf(const std::string& base) {
  std::size_t p = base.rfind('/');
  return p == std::string::npos ? std::string("/") : base.substr(0, p + 1);
}

void SplitAuthority(const std::string& auth, std::string& User, std::string& Pass,
                    std::string& Host, std::string& Port) {
  std::size_t k = auth.rfind(':');
  std::size_t m = auth.rfind('@');
  bool hasK = k != std::string::npos;
  bool hasM = m != std::string::npos;
  if (!hasK && !hasM) {
    Host = auth;
    return;
  }
  if (hasK && (!hasM || k > m)) {
    Port = auth.substr(k + 1);
    std::size_t hostBegin = hasM ? m + 1 : 0;
    Host = auth.substr(hostBegin, k - hostBegin);
    if (!hasM) return;
  } else {
    Host = auth.substr(m + 1);
  }
  std::string info = auth.substr(0, m);
  std::size_t c = info.find(':');
  if (c == std::string::npos) {
    User = info;
  } else {
    User = info.substr(0, c);
    Pass = info.substr(c + 1);
  }
}

// A decimal number from 1 to 65535.
bool IsPortNumber(const std::string& Port) {
  if (Port.empty()) return false;
  unsigned long value = 0;
  for (char c : Port) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
    if (value > 65535) return false;
  }
  return value >= 1;
}

}  // namespace

void ParseURL(const std::string& Url, std::string& Proto, std::string& User,
              std::string& Pass, std::string& Host, std::string& Port,
              std::string& Path) {
  const std::string base = Path;
  Proto.clear();
  User.clear();
  Pass.clear();
  Host.clear();
  Port.clear();
  Path.clear();
  if (Url.empty()) return;

  if (Url.compare(0, 2, "./") == 0) {
    Path = DirOf(base) + Url.substr(2);
    return;
  }
  if (Url.compare(0, 3, "../") == 0) {
    std::string dir = DirOf(base);
    std::string rest = Url.substr(3);
    for (;;) {
      // Up one level: drop the final "/" and cut after the new last one.
      if (!dir.empty() && dir.back() == '/') dir.pop_back();
      std::size_t p = dir.rfind('/');
      dir = p == std::string::npos ? std::string("/") : dir.substr(0, p + 1);
      if (rest.compare(0, 3, "../") != 0) break;
      rest.erase(0, 3);
    }
    Path = dir + rest;
    return;
  }

  std::string rest;
  bool haveScheme = false;
  std::size_t sep = Url.find("://");
  if (sep != std::string::npos) {
    std::string scheme = Url.substr(0, sep);
    bool ok = true;
    for (char& c : scheme) {
      c = ascii::LowerChar(c);
      if (!IsSchemeChar(c)) ok = false;
    }
    if (ok) {
      Proto = scheme;
      rest = Url.substr(sep + 3);
      haveScheme = true;
    } else {
      Proto = "http";
    }
  }
  if (!haveScheme) {
    if (Url[0] == '/') {
      Proto = "http";
      if (Url.size() > 1 && Url[1] != '/') {
        Path = Url;
        return;
      }
      rest = Url.substr(1);
    } else if (ascii::StartsNoCase(Url, "http:")) {
      Proto = "http";
      if (Url.size() > 6 && Url[6] != '/') {
        Path = Url.substr(5);
        return;
      }
      rest = Url.size() > 6 ? Url.substr(6) : std::string();
    } else if (ascii::StartsNoCase(Url, "mailto:")) {
      Proto = "mailto";
      rest = Url.substr(Url.find(':') + 1);
    } else {
      rest = Url;
    }
  }

  std::size_t slash = rest.find('/');
  std::size_t query = rest.find('?');
  std::size_t pathBegin = slash < query ? slash : query;  // npos when neither
  std::string authority;
  if (pathBegin == std::string::npos) {
    authority = rest;
  } else {
    Path = rest.substr(pathBegin);
    authority = rest.substr(0, pathBegin);
  }
  SplitAuthority(authority, User, Pass, Host, Port);
}

bool IsBadPortNumber(const std::string& Port) {
  return !Port.empty() && Port[0] >= '0' && Port[0] <= '9' && !IsPortNumber(Port);
}

std::string PortProblem(const std::string& Port) {
  constexpr std::size_t kShown = 16;
  const std::string shown = Port.size() > kShown ? Port.substr(0, kShown) + "..." : Port;
  return "port " + shown + " is not a number from 1 to 65535";
}

std::string UrlBase(const std::string& Url) {
  std::size_t end = Url.find('?');
  if (end == std::string::npos) end = Url.size();
  for (std::size_t i = end; i > 0; --i) {
    char c = Url[i - 1];
    if (c == '/' || c == ':') return Url.substr(0, i);
  }
  return std::string();
}

int LastPos(const std::string& Sub, const std::string& S) {
  if (Sub.empty() || Sub.size() > S.size()) return 0;
  std::size_t p = S.rfind(Sub);
  return p == std::string::npos ? 0 : static_cast<int>(p + 1);
}
