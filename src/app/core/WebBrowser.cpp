#include "app/core/WebBrowser.h"

#include <ctime>

#include "app/core/HeaderField.h"
#include "app/core/ProxyHop.h"
#include "net/common/UrlParse.h"
#include "net/http/HttpProt.h"
#include "net/http/HttpText.h"
#include "net/http/HttpTimeLimits.h"
#include "platform/AsciiText.h"

namespace {

constexpr plat::UINT WM_BROWSER_LOADDONE = plat::WM_USER + 40;
constexpr plat::UINT WM_BROWSER_RETIRE = plat::WM_USER + 41;
constexpr std::uintptr_t kTimeoutTimer = 1;

struct TUrlParts {
  std::string Proto, Host, Port, Path;  // Path without the query
  std::string PathAndQuery;
};

TUrlParts SplitUrl(const std::string& url) {
  TUrlParts p;
  std::string user, pass;
  std::string path = "/";
  ParseURL(url, p.Proto, user, pass, p.Host, p.Port, path);
  if (p.Proto.empty()) p.Proto = "http";
  if (path.empty() || path[0] != '/') path = "/" + path;
  p.PathAndQuery = path;
  std::size_t q = path.find('?');
  p.Path = q == std::string::npos ? path : path.substr(0, q);
  p.Host = ascii::Lower(p.Host);
  return p;
}

// Directory of a request path, the default cookie path.
std::string DefaultCookiePath(const std::string& path) {
  if (path.empty() || path[0] != '/') return "/";
  std::size_t slash = path.rfind('/');
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool PathMatches(const std::string& requestPath, const std::string& cookiePath) {
  if (requestPath.compare(0, cookiePath.size(), cookiePath) != 0) return false;
  return requestPath.size() == cookiePath.size() || cookiePath.back() == '/' ||
         requestPath[cookiePath.size()] == '/';
}

bool DomainMatches(const std::string& host, const TCookie& c) {
  if (c.HostOnly) return host == c.Domain;
  if (host == c.Domain) return true;
  return host.size() > c.Domain.size() &&
         host.compare(host.size() - c.Domain.size(), c.Domain.size(), c.Domain) == 0 &&
         host[host.size() - c.Domain.size() - 1] == '.';
}

// True when an Expires attribute names a moment already past. Dates that
// cannot be read keep the cookie for the session.
bool ExpiresInPast(const std::string& value) {
  static const char* const formats[] = {"%a, %d %b %Y %H:%M:%S", "%a, %d-%b-%Y %H:%M:%S",
                                        "%a, %d-%b-%y %H:%M:%S", "%A, %d-%b-%y %H:%M:%S"};
  for (const char* f : formats) {
    std::tm tm{};
    const char* end = strptime(value.c_str(), f, &tm);
    if (!end) continue;
    std::time_t when = timegm(&tm);
    return when < std::time(nullptr);
  }
  return false;
}

const char kHex[] = "0123456789ABCDEF";

}  // namespace

// ---------------------------------------------------------------- cookies

TCookieJar& TCookieJar::Instance() {
  static TCookieJar jar;
  return jar;
}

void TCookieJar::SetCookie(const std::string& host, const std::string& requestPath, const std::string& header) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t semi = header.find(';', start);
    parts.push_back(header.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
    if (semi == std::string::npos) break;
    start = semi + 1;
  }
  std::string pair = parts.empty() ? std::string() : parts[0];
  std::size_t eq = pair.find('=');
  if (eq == std::string::npos) return;
  TCookie c;
  c.Name = ascii::Trim(pair.substr(0, eq));
  c.Value = ascii::Trim(pair.substr(eq + 1));
  if (c.Name.empty()) return;
  c.Domain = ascii::Lower(host);
  c.Path = DefaultCookiePath(requestPath);
  bool expired = false;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    std::string attr = ascii::Trim(parts[i]);
    std::size_t aeq = attr.find('=');
    std::string name = ascii::Lower(ascii::Trim(attr.substr(0, aeq)));
    std::string value = aeq == std::string::npos ? std::string() : ascii::Trim(attr.substr(aeq + 1));
    if (name == "path") {
      if (!value.empty() && value[0] == '/') c.Path = value;
    } else if (name == "domain") {
      std::string d = ascii::Lower(value);
      while (!d.empty() && d[0] == '.') d.erase(0, 1);
      if (d.empty()) continue;
      TCookie probe;
      probe.Domain = d;
      probe.HostOnly = false;
      // A site may only set cookies for itself or a domain above it.
      if (!DomainMatches(c.Domain, probe)) return;
      c.Domain = d;
      c.HostOnly = false;
    } else if (name == "max-age") {
      bool digits = !value.empty();
      for (std::size_t k = (value.size() > 0 && value[0] == '-') ? 1 : 0; k < value.size(); ++k)
        if (value[k] < '0' || value[k] > '9') digits = false;
      if (digits && (value[0] == '-' || value.find_first_not_of('0') == std::string::npos)) expired = true;
    } else if (name == "expires") {
      if (ExpiresInPast(value)) expired = true;
    } else if (name == "secure") {
      c.Secure = true;
    }
  }
  for (auto it = FCookies.begin(); it != FCookies.end(); ++it) {
    if (it->Name == c.Name && it->Domain == c.Domain && it->Path == c.Path) {
      // A replaced cookie keeps its place (its creation order).
      if (expired)
        FCookies.erase(it);
      else
        *it = c;
      return;
    }
  }
  if (!expired) FCookies.push_back(c);
}

std::string TCookieJar::CookieHeader(const std::string& host, const std::string& path) const {
  const std::string h = ascii::Lower(host);
  std::string out;
  // Longer paths first, as browsers send them.
  std::vector<const TCookie*> hits;
  for (const TCookie& c : FCookies)
    if (!c.Secure && DomainMatches(h, c) && PathMatches(path, c.Path)) hits.push_back(&c);
  for (std::size_t i = 1; i < hits.size(); ++i)
    for (std::size_t j = i; j > 0 && hits[j]->Path.size() > hits[j - 1]->Path.size(); --j)
      std::swap(hits[j], hits[j - 1]);
  for (const TCookie* c : hits) {
    if (!out.empty()) out += "; ";
    out += c->Name + "=" + c->Value;
  }
  return out;
}

// ---------------------------------------------------------------- document

void TWebDocument::Save(plat::TStream& stream, bool /*clearDirty*/) {
  if (!FSource.empty()) stream.WriteBuffer(FSource.data(), static_cast<std::int64_t>(FSource.size()));
}

// ---------------------------------------------------------------- browser

struct TWebBrowser::TLoad {
  std::unique_ptr<THttpCli> Cli;
  std::unique_ptr<THttpTimeLimits> Limits;  // goes before the client it watches
  std::unique_ptr<TProxyHopWatch> Hop;       // so does this
  std::unique_ptr<plat::TMemoryStream> Body;
  std::string Url;
  std::uintptr_t Serial = 0;
  std::string Refused;  // why the load could not even start
};

TWebBrowser::TWebBrowser() {
  FWnd = plat::AllocateHWnd([this](plat::UINT m, plat::WPARAM w, plat::LPARAM l) { return WndProc(m, w, l); });
}

TWebBrowser::~TWebBrowser() {
  plat::KillTimer(FWnd, kTimeoutTimer);
  plat::DeallocateHWnd(FWnd);
  ++FSerial;
  if (FLoad && FLoad->Cli) {
    FLoad->Cli->OnRequestDone = nullptr;
    FLoad->Cli->OnCookie = nullptr;
    FLoad->Cli->Abort();
  }
  FLoad.reset();
  FRetired.clear();
}

std::string TWebBrowser::WireUrl(const std::string& url) {
  std::string out;
  for (unsigned char c : ascii::Trim(url)) {
    if (c <= ' ' || c >= 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string TWebBrowser::WireUrl(const std::wstring& url) {
  std::string utf8;
  for (wchar_t wc : url) {
    auto cp = static_cast<std::uint32_t>(wc);
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
      utf8 += static_cast<char>(cp);
    } else if (cp < 0x800) {
      utf8 += static_cast<char>(0xC0 | (cp >> 6));
      utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      utf8 += static_cast<char>(0xE0 | (cp >> 12));
      utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | (cp >> 18));
      utf8 += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return WireUrl(utf8);
}

std::string TWebBrowser::ResolveUrl(const std::string& base, const std::string& location) {
  std::string loc = ascii::Trim(location);
  std::string lower = ascii::Lower(loc.substr(0, 8));
  if (lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0) return loc;
  TUrlParts b = SplitUrl(base);
  std::string origin = b.Proto + "://" + b.Host + (b.Port.empty() ? "" : ":" + b.Port);
  if (loc.rfind("//", 0) == 0) return b.Proto + ":" + loc;
  if (!loc.empty() && loc[0] == '/') return origin + loc;
  if (!loc.empty() && loc[0] == '?') return origin + b.Path + loc;
  std::string dir = b.Path.substr(0, b.Path.rfind('/') + 1);
  return origin + dir + loc;
}

void TWebBrowser::Navigate(const std::wstring& url) { Navigate(WireUrl(url)); }

void TWebBrowser::Navigate(const std::string& url) {
  Retire();
  FDocument.reset();
  FRedirects = 0;
  FStatusCode = 0;
  FLastError.clear();
  FReasonPhrase.clear();
  std::string wire = WireUrl(url);
  FLocationURL = wire;
  if (ascii::Lower(wire) == "about:blank") {
    Complete(wire, std::string(), 200);
    return;
  }
  FReadyState = READYSTATE_LOADING;
  if (TimeoutMs > 0) plat::SetTimer(FWnd, kTimeoutTimer, TimeoutMs);
  StartLoad(wire);
}

void TWebBrowser::StartLoad(const std::string& url) {
  auto load = std::make_unique<TLoad>();
  load->Url = url;
  load->Serial = ++FSerial;
  load->Body = std::make_unique<plat::TMemoryStream>();
  load->Cli = std::make_unique<THttpCli>();
  THttpCli* cli = load->Cli.get();
  TUrlParts parts = SplitUrl(url);
  cli->URL = url;
  cli->Agent = Agent;
  cli->FollowRelocation = false;  // redirects are followed here, cookies applied per hop
  cli->Cookie = TCookieJar::Instance().CookieHeader(parts.Host, parts.Path);
  cli->ReceiveStream = load->Body.get();
  const std::uintptr_t serial = load->Serial;
  cli->OnCookie = [this, serial, parts](THttpCli*, const std::string& data, bool& accept) {
    if (serial != FSerial) return;
    TCookieJar::Instance().SetCookie(parts.Host, parts.Path, data);
    accept = true;
  };
  // Finish outside the client's own event: the client is destroyed then.
  const plat::HWND wnd = FWnd;
  cli->OnRequestDone = [wnd, serial](THttpCli*, THttpRequest, std::uint16_t error) {
    plat::PostMessage(wnd, WM_BROWSER_LOADDONE, serial, static_cast<plat::LPARAM>(error));
  };
  if (PrepareClient) PrepareClient(*cli, url);
  if (ConnectTimeoutMs > 0 || IdleTimeoutMs > 0)
    load->Limits = std::make_unique<THttpTimeLimits>(*cli, ConnectTimeoutMs, IdleTimeoutMs);
  load->Hop = std::make_unique<TProxyHopWatch>(*cli);
  FLoad = std::move(load);
  // https is the client's to refuse when the job does not speak it.
  if ((parts.Proto != "http" && parts.Proto != "https") || parts.Host.empty()) {
    FLoad->Refused = "Not an http address: " + url;
    plat::PostMessage(FWnd, WM_BROWSER_LOADDONE, serial, 1);
    return;
  }
  try {
    cli->GetASync();
  } catch (const std::exception& e) {
    FLoad->Refused = e.what();
    plat::PostMessage(FWnd, WM_BROWSER_LOADDONE, serial, 1);
  }
}

void TWebBrowser::LoadDone(std::uintptr_t serial, std::uint16_t error) {
  if (!FLoad || serial != FLoad->Serial || serial != FSerial) return;
  THttpCli* cli = FLoad->Cli.get();
  const int status = error == 0 ? cli->StatusCode() : 0;
  const std::string url = FLoad->Url;
  if (FLoad->Limits && FLoad->Limits->Expired())
    FLastError = FLoad->Hop->Explain(FLoad->Limits->Reason());
  else if (!FLoad->Refused.empty())
    FLastError = FLoad->Refused;
  else if (error != 0)
    FLastError = FLoad->Hop->Explain(cli->ReasonPhrase().empty() ? "Error #" + std::to_string(error)
                                                                 : cli->ReasonPhrase());
  FReasonPhrase = error == 0 ? cli->ReasonPhrase() : std::string();
  std::string location;
  for (const std::string& line : cli->ReceivedHeader()) {
    std::string value;
    if (HeaderLine(line, "Location", value)) location = value;  // the last one counts
  }
  const bool redirect = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
  const std::string scheme = httptext::LocationScheme(location);
  if (redirect && !scheme.empty() && scheme != "http" && scheme != "https") {
    FLastError = "unsupported relocation to " + scheme + ":";
  } else if (redirect && !location.empty() && FRedirects >= MaxRedirects) {
    FLastError = "too many relocations (" + std::to_string(MaxRedirects) + ")";
  } else if (redirect && !location.empty()) {
    ++FRedirects;
    std::string next = WireUrl(ResolveUrl(url, location));
    Retire();
    FLocationURL = next;
    StartLoad(next);
    return;
  }
  std::string source = error == 0 ? FLoad->Body->DataString() : std::string();
  Retire();
  Complete(url, std::move(source), status);
}

bool TWebBrowser::LoadFailed() const {
  if (FReadyState != READYSTATE_COMPLETE) return false;
  return !FLastError.empty() || FStatusCode < 200 || FStatusCode > 299;
}

std::string TWebBrowser::FailureText() const {
  if (!LoadFailed()) return std::string();
  if (!FLastError.empty()) return FLastError;
  std::string text = std::to_string(FStatusCode);
  if (!FReasonPhrase.empty()) text += " " + FReasonPhrase;
  return text;
}

void TWebBrowser::Complete(const std::string& url, std::string source, int status) {
  plat::KillTimer(FWnd, kTimeoutTimer);
  FDocument = std::make_unique<TWebDocument>(url, std::move(source));
  FLocationURL = url;
  FStatusCode = status;
  FReadyState = READYSTATE_COMPLETE;
  if (OnDocumentComplete) OnDocumentComplete(this);
}

// Lets go of the current load; its client is destroyed from a posted message,
// never inside one of its own events.
void TWebBrowser::Retire() {
  if (!FLoad) return;
  ++FSerial;
  if (FLoad->Cli) {
    FLoad->Cli->OnRequestDone = nullptr;
    FLoad->Cli->OnCookie = nullptr;
    if (FLoad->Cli->State() != httpReady) FLoad->Cli->Abort();
  }
  FRetired.push_back(std::move(FLoad));
  plat::PostMessage(FWnd, WM_BROWSER_RETIRE, 0, 0);
}

plat::LRESULT TWebBrowser::WndProc(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  switch (msg) {
    case WM_BROWSER_LOADDONE:
      LoadDone(wParam, static_cast<std::uint16_t>(lParam));
      return 0;
    case WM_BROWSER_RETIRE:
      FRetired.clear();
      return 0;
    case plat::WM_TIMER:
      if (wParam == kTimeoutTimer && FReadyState == READYSTATE_LOADING) {
        std::string url = FLoad ? FLoad->Url : FLocationURL;
        Retire();
        FLastError = "Timed out: the page did not load within " + SecondsText(TimeoutMs);
        Complete(url, std::string(), 0);
      }
      return 0;
    default:
      return 0;
  }
}
