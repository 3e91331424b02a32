// Which proxy a request goes through: proxy addresses ("http://", "socks4://",
// "socks4a://", "socks5://" with an optional user and password), the proxy
// environment variables with curl's meaning, the no-proxy list, and handing
// the choice to an HTTP client. Both front ends use it.
#pragma once

#include <functional>
#include <optional>
#include <string>

class THttpCli;

enum TProxyKind { pkHttp, pkSocks4, pkSocks4A, pkSocks5 };

struct TProxy {
  TProxyKind Kind = pkHttp;
  std::string Host;
  std::string Port;      // always set; 1080 when the address names none, as curl does
  std::string User;      // percent-decoded
  std::string Password;  // percent-decoded
};

// "[scheme://][user[:password]@]host[:port][/]"; without a scheme the proxy
// is an HTTP proxy. Nothing (and a reason in `error`) for an unknown scheme,
// an empty host or a bad port.
std::optional<TProxy> ParseProxyUrl(const std::string& text, std::string* error = nullptr);

// True when `host` is in `list`: names or domain suffixes separated by commas
// or blanks, a leading dot ignored, "*" for every host, IPv4 addresses with
// an optional "/bits" prefix length. Letter case does not matter.
bool NoProxyMatches(const std::string& list, const std::string& host);

// What the user chose on the command line; unset fields fall back to the
// environment. An empty Proxy switches every proxy off.
struct TProxySettings {
  std::optional<std::string> Proxy;    // --proxy
  std::optional<std::string> NoProxy;  // --noproxy
  // --proxy-user and its password: they replace those of the proxy address.
  std::optional<std::string> User;
  std::optional<std::string> Password;
};

using TEnvLookup = std::function<std::optional<std::string>(const std::string& name)>;
// The process environment; a variable set to "" counts as unset.
std::optional<std::string> SystemEnv(const std::string& name);

struct TProxyChoice {
  std::optional<TProxy> Proxy;  // nothing: connect directly
  std::string Source;           // "--proxy", "http_proxy", ...: where the text came from
  std::string Error;            // the text of Source could not be read
};

// The proxy text in force before the no-proxy list is applied, and where it
// came from: --proxy, then http_proxy, HTTP_PROXY, all_proxy, ALL_PROXY.
std::optional<std::string> ProxyText(const TProxySettings& settings, const TEnvLookup& env, std::string& source);

// The route of a request to `host`.
TProxyChoice ChooseProxy(const std::string& host, const TProxySettings& settings,
                         const TEnvLookup& env = SystemEnv);

// Sets the client's HTTP proxy or SOCKS fields for `proxy`, or clears them
// all for a direct connection.
void ApplyProxy(THttpCli& cli, const std::optional<TProxy>& proxy);

// Host part of an http address, as the client will connect to it.
std::string HostOfUrl(const std::string& url);
