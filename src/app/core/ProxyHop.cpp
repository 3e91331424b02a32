#include "app/core/ProxyHop.h"

#include "net/common/UrlParse.h"

TProxyHopWatch::TProxyHopWatch(THttpCli& cli)
    : FCli(cli),
      FStateChange(cli.OnStateChange),
      FSessionConnected(cli.OnSessionConnected),
      FSocksConnected(cli.OnSocksConnected),
      FSocksError(cli.OnSocksError) {
  cli.OnStateChange = [this](THttpCli* s) {
    switch (FCli.State()) {
      case httpDnsLookup:  // a new connection
        FConnecting = true;
        FLookedUp = FProxyLinked = FSessionUp = false;
        FSocksText.clear();
        break;
      case httpDnsLookupDone:
        FLookedUp = true;
        break;
      default:
        break;
    }
    if (FStateChange) FStateChange(s);
  };
  cli.OnSessionConnected = [this](THttpCli* s) {
    if (FCli.RequestDoneError() == 0) FSessionUp = true;
    if (FSessionConnected) FSessionConnected(s);
  };
  cli.OnSocksConnected = [this](TObject* s, std::uint16_t error) {
    if (error == 0) FProxyLinked = true;
    if (FSocksConnected) FSocksConnected(s, error);
  };
  cli.OnSocksError = [this](TObject* s, int error, const std::string& text) {
    FSocksText = text;
    if (FSocksError) FSocksError(s, error, text);
  };
}

TProxyHopWatch::~TProxyHopWatch() {
  FCli.OnStateChange = FStateChange;
  FCli.OnSessionConnected = FSessionConnected;
  FCli.OnSocksConnected = FSocksConnected;
  FCli.OnSocksError = FSocksError;
}

std::string TProxyHopWatch::ProxyName() const {
  std::string kind, host, port;
  if (!FCli.Proxy.empty()) {
    std::string proto, user, pass, path;
    ParseURL(FCli.Proxy, proto, user, pass, host, port, path);
    if (port.empty()) port = FCli.ProxyPort;
    kind = "HTTP";
  } else if (!FCli.SocksServer.empty()) {
    host = FCli.SocksServer;
    port = FCli.SocksPort;
    kind = "SOCKS" + FCli.SocksLevel;
  } else {
    return std::string();
  }
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  return kind + " proxy " + host + ":" + port;
}

std::string TProxyHopWatch::Explain(const std::string& reason) const {
  const std::string proxy = ProxyName();
  if (proxy.empty() || !FConnecting || FSessionUp) return reason;
  if (!FSocksText.empty()) return proxy + ": " + FSocksText;
  // Through a SOCKS proxy the name looked up first is the server's; once it
  // is found, only the proxy is connected to. Through an HTTP proxy every
  // step before the session is the proxy's.
  const bool socks = FCli.Proxy.empty();
  if (socks && (!FLookedUp || FProxyLinked)) return reason;
  return proxy + ": " + reason;
}
