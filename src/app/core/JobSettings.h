// The window's own settings for its jobs: proxy, bandwidth, connections,
// retries and time-outs, the clipboard watch and whether a converted
// download is kept. They live in "settings.ini" in a section of their own
// beside "Options"; a proxy password is never written there.
#pragma once

#include <cstdint>
#include <string>

#include "app/core/NetOptions.h"

// Section of "settings.ini" that holds them.
constexpr const char* kJobSettingsSection = "Jobs";

struct TJobSettings {
  std::string Proxy;    // the forms --proxy takes, without a password; "" the environment's
  std::string NoProxy;  // hosts reached directly; "" the environment's
  std::int32_t LimitRate = 0;          // bytes per second; 0: no limit
  int Connections = kDefaultConnections;  // per download
  int Retries = 3;                     // as clipharbor-cli's defaults
  std::uint32_t ConnectTimeoutS = 30;  // 0: none
  std::uint32_t TimeoutS = 60;         // receiving nothing for so long fails; 0: none
  bool WatchClipboard = true;
  bool KeepDownload = true;  // the downloaded FLV after its conversion

  bool operator==(const TJobSettings&) const = default;
};

// Accepted ranges; a stored value outside them reads as the default.
constexpr int kMaxConnections = 16;
constexpr int kMaxRetries = 999;
constexpr std::uint32_t kMaxTimeoutS = 3600;

// Missing file, section or key, or a value out of range: the default.
TJobSettings LoadJobSettings(const std::string& iniFile);
// Writes every key; the proxy without any password it holds. Throws
// plat::EIniFileException when the file cannot be written.
void SaveJobSettings(const std::string& iniFile, const TJobSettings& settings);

// `text` with the password of its user part removed; the password (percent
// decoded) goes to `password` ("" when there was none).
std::string ProxyWithoutPassword(const std::string& text, std::string* password);
// `text` with `password` (percent-encoded) given to its user; unchanged when
// it names no user or already carries a password, or `password` is empty.
std::string ProxyWithPassword(const std::string& text, const std::string& password);

// What the window's jobs give every request: https on with the system's
// certificates, retries, time-outs, the continuation of a ".part", the
// bandwidth and the proxy (the environment's where a field is empty).
TNetOptions WindowNetOptions(const TJobSettings& settings, const std::string& proxyPassword);
