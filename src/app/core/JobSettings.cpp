#include "app/core/JobSettings.h"

#include "platform/Profile.h"

namespace {

const char* const kProxy = "Proxy";
const char* const kNoProxy = "NoProxy";
const char* const kLimitRate = "LimitRate";
const char* const kConnections = "Connections";
const char* const kRetries = "Retries";
const char* const kConnectTimeout = "ConnectTimeout";
const char* const kTimeout = "Timeout";
const char* const kWatchClipboard = "WatchClipboard";
const char* const kKeepDownload = "KeepDownload";

// An integer in [low, high], else `def`.
int ReadBounded(const plat::TIniFile& ini, const char* key, int def, int low, int high) {
  const int v = ini.ReadInteger(kJobSettingsSection, key, def);
  return v < low || v > high ? def : v;
}

bool ReadFlag(const plat::TIniFile& ini, const char* key, bool def) {
  return ReadBounded(ini, key, def ? 1 : 0, 0, 1) == 1;
}

// Where the user part of a proxy address lies: [begin, at) before the last
// '@' of the authority. False when there is none.
bool UserPart(const std::string& text, std::string::size_type& begin, std::string::size_type& at) {
  const std::string::size_type scheme = text.find("://");
  begin = scheme == std::string::npos ? 0 : scheme + 3;
  std::string::size_type end = text.find('/', begin);
  if (end == std::string::npos) end = text.size();
  at = text.rfind('@', end == 0 ? 0 : end - 1);
  return at != std::string::npos && at >= begin && at < end;
}

// Everything but unreserved characters, so that ':' '@' '/' '%' cannot end
// the user part early.
std::string PercentEncode(const std::string& s) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-' || u == '.' ||
        u == '_' || u == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

}  // namespace

TJobSettings LoadJobSettings(const std::string& iniFile) {
  const plat::TIniFile ini(iniFile);
  TJobSettings s;
  const TJobSettings d;
  s.Proxy = ProxyWithoutPassword(ini.ReadString(kJobSettingsSection, kProxy, d.Proxy), nullptr);
  s.NoProxy = ini.ReadString(kJobSettingsSection, kNoProxy, d.NoProxy);
  s.LimitRate = ReadBounded(ini, kLimitRate, d.LimitRate, 0, 1 << 30);
  s.Connections = ReadBounded(ini, kConnections, d.Connections, 1, kMaxConnections);
  s.Retries = ReadBounded(ini, kRetries, d.Retries, 0, kMaxRetries);
  const int maxTimeout = static_cast<int>(kMaxTimeoutS);
  s.ConnectTimeoutS = static_cast<std::uint32_t>(
      ReadBounded(ini, kConnectTimeout, static_cast<int>(d.ConnectTimeoutS), 0, maxTimeout));
  s.TimeoutS = static_cast<std::uint32_t>(ReadBounded(ini, kTimeout, static_cast<int>(d.TimeoutS), 0, maxTimeout));
  s.WatchClipboard = ReadFlag(ini, kWatchClipboard, d.WatchClipboard);
  s.KeepDownload = ReadFlag(ini, kKeepDownload, d.KeepDownload);
  return s;
}

void SaveJobSettings(const std::string& iniFile, const TJobSettings& s) {
  plat::TIniFile ini(iniFile);
  ini.WriteString(kJobSettingsSection, kProxy, ProxyWithoutPassword(s.Proxy, nullptr));
  ini.WriteString(kJobSettingsSection, kNoProxy, s.NoProxy);
  ini.WriteInteger(kJobSettingsSection, kLimitRate, s.LimitRate);
  ini.WriteInteger(kJobSettingsSection, kConnections, s.Connections);
  ini.WriteInteger(kJobSettingsSection, kRetries, s.Retries);
  ini.WriteInteger(kJobSettingsSection, kConnectTimeout, static_cast<int>(s.ConnectTimeoutS));
  ini.WriteInteger(kJobSettingsSection, kTimeout, static_cast<int>(s.TimeoutS));
  ini.WriteInteger(kJobSettingsSection, kWatchClipboard, s.WatchClipboard ? 1 : 0);
  ini.WriteInteger(kJobSettingsSection, kKeepDownload, s.KeepDownload ? 1 : 0);
}

std::string ProxyWithoutPassword(const std::string& text, std::string* password) {
  if (password) password->clear();
  std::string::size_type begin = 0, at = 0;
  if (!UserPart(text, begin, at)) return text;
  const std::string::size_type colon = text.find(':', begin);
  if (colon == std::string::npos || colon > at) return text;
  if (password) {
    const std::optional<TProxy> parsed = ParseProxyUrl(text);
    *password = parsed ? parsed->Password : text.substr(colon + 1, at - colon - 1);
  }
  return text.substr(0, colon) + text.substr(at);
}

std::string ProxyWithPassword(const std::string& text, const std::string& password) {
  std::string::size_type begin = 0, at = 0;
  if (password.empty() || !UserPart(text, begin, at) || at == begin) return text;
  const std::string::size_type colon = text.find(':', begin);
  if (colon != std::string::npos && colon < at) return text;
  return text.substr(0, at) + ":" + PercentEncode(password) + text.substr(at);
}

TNetOptions WindowNetOptions(const TJobSettings& s, const std::string& proxyPassword) {
  TNetOptions o;
  if (!s.Proxy.empty()) o.Proxy.Proxy = ProxyWithPassword(s.Proxy, proxyPassword);
  if (!s.NoProxy.empty()) o.Proxy.NoProxy = s.NoProxy;
  o.RateLimit = s.LimitRate;
  o.ConnectTimeoutMs = s.ConnectTimeoutS * 1000;
  o.IdleTimeoutMs = s.TimeoutS * 1000;
  o.Retries = s.Retries;
  o.Connections = s.Connections;  // the most; a host that refuses more gets fewer
  // A ".part" left by Stop or a failure is continued; its validators keep
  // bytes of another version out.
  o.Continue = true;
  o.Https = true;
  o.Trust = TSslTrust{};  // the system's store, names and chains checked
  return o;
}
