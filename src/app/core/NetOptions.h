// The network settings a job gives every request it makes (page reads,
// get_video, a direct address): the proxy route, the bandwidth, the time
// limits, the retries and whether an earlier partial file is continued.
// The window uses the defaults: its design settings, with the proxy
// environment variables honoured.
#pragma once

#include <cstdint>
#include <string>

#include "app/core/ProxySettings.h"

class THttpCli;

struct TNetOptions {
  TProxySettings Proxy;
  TEnvLookup Env = SystemEnv;
  std::int32_t RateLimit = 0;          // bytes per second; 0: the design's (no control)
  std::uint32_t ConnectTimeoutMs = 0;  // 0: no limit
  std::uint32_t IdleTimeoutMs = 0;     // 0: no limit
  int Retries = 0;                     // further attempts of a failed transfer
  bool Continue = false;               // continue an existing ".part"
};

// Sets the route (proxy or none, chosen for the address's host) and the
// bandwidth of the client for a request to `url`. Returns an error text
// when the proxy in force cannot be read ("http_proxy: ..."), else "".
std::string PrepareRequest(THttpCli& cli, const TNetOptions& options, const std::string& url);
