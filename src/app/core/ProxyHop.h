// Which hop of a request failed. Through a proxy, a failure before the
// session starts is the proxy's, not the server's, and the user is told so:
// "SOCKS5 proxy 127.0.0.1:1080: connection refused" (the SOCKS layer's own
// words for a refusal, not its error number), "HTTP proxy 127.0.0.1:3128:
// can't connect: Connection refused (Error #10061)".
#pragma once

#include <string>

#include "net/http/HttpProt.h"

class TProxyHopWatch {
 public:
  // Watches the client's connections through its events (those already set
  // still run) until this object goes, which puts them back.
  explicit TProxyHopWatch(THttpCli& cli);
  ~TProxyHopWatch();
  TProxyHopWatch(const TProxyHopWatch&) = delete;
  TProxyHopWatch& operator=(const TProxyHopWatch&) = delete;

  // `reason` of the client's failed request, with the proxy named in front
  // when the failure was the proxy's; as it is otherwise.
  std::string Explain(const std::string& reason) const;

 private:
  // "SOCKS5 proxy 127.0.0.1:1080", "HTTP proxy [::1]:3128"; "" without one.
  std::string ProxyName() const;

  THttpCli& FCli;
  THttpNotifyEvent FStateChange, FSessionConnected;
  THttpSocksConnected FSocksConnected;
  THttpSocksErrorEvent FSocksError;
  // Of the connection being made, from its name lookup on.
  bool FConnecting = false;  // the name lookup began (nothing was refused before)
  bool FLookedUp = false;    // the name was found: the TCP connect is next
  bool FProxyLinked = false; // a SOCKS proxy took the TCP connection
  bool FSessionUp = false;   // the session began: the path to the server stands
  std::string FSocksText;    // the SOCKS layer's words for a failed negotiation
};
