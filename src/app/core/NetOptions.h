// The network settings a job gives every request it makes (page reads,
// get_video, a direct address): the proxy route, the bandwidth, the time
// limits, the retries, whether an earlier partial file is continued and
// whether https is spoken, with which trust. The window uses the defaults:
// its design settings (https off), with the proxy environment variables
// honoured.
#pragma once

#include <cstdint>
#include <string>

#include "app/core/ProxySettings.h"
#include "net/socket/SslContext.h"

class THttpCli;

// The number of connections a download uses when nobody chose another: its
// first stream is split only when a probe shows it paced. Any other number
// was chosen, and the file is split at the first answer's header.
constexpr int kDefaultConnections = 4;

struct TNetOptions {
  TProxySettings Proxy;
  TEnvLookup Env = SystemEnv;
  std::int32_t RateLimit = 0;          // bytes per second; 0: the design's (no control)
  std::uint32_t ConnectTimeoutMs = 0;  // 0: no limit
  std::uint32_t IdleTimeoutMs = 0;     // 0: no limit
  int Retries = 0;                     // further attempts of a failed transfer
  bool Continue = false;               // continue an existing ".part"
  bool Https = false;                  // off: an https address ends with 501
  TSslTrust Trust;                     // the certificates trusted over https
  int AddrFamily = 0;                  // plat::WS_AF_INET or WS_AF_INET6 only; 0: both
  int Connections = kDefaultConnections;  // the most a file is fetched over at once
  std::int64_t SegmentSize = 0;        // the most one range request asks for; 0: no cap
  std::int64_t MinSpeed = 0;           // bytes per second below which a connection is reopened
  std::uint32_t MinSpeedTimeMs = 10000;
};

// Sets the route (proxy or none, chosen for the address's host, and chosen
// again for the host of every later request and relocation), the
// bandwidth and https with its trust on the client for a request to `url`. Returns an error text
// when the proxy in force cannot be read ("http_proxy: ..."), else "".
std::string PrepareRequest(THttpCli& cli, const TNetOptions& options, const std::string& url);
