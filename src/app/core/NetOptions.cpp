#include "app/core/NetOptions.h"

#include "net/http/HttpProt.h"
#include "net/http/HttpRateBudget.h"
#include "platform/MessageLoop.h"

namespace {

// Short enough periods that a limited transfer flows evenly.
constexpr std::int32_t kBandwidthSamplingMs = 250;

}  // namespace

std::string PrepareRequest(THttpCli& cli, const TNetOptions& options, const std::string& url) {
  const TProxyChoice choice = ChooseProxy(HostOfUrl(url), options.Proxy, options.Env);
  ApplyProxy(cli, choice.Proxy);
  // Every later request and relocation of this client chooses again for its
  // own host; a proxy text that cannot be read was reported here already.
  cli.OnChooseRoute = [proxy = options.Proxy, env = options.Env](THttpCli* c, const std::string& next) {
    ApplyProxy(*c, ChooseProxy(HostOfUrl(next), proxy, env).Proxy);
  };
  cli.HttpsEnabled = options.Https;
  cli.AddrFamily = options.AddrFamily;
  cli.SslTrust = options.Trust;
  if (options.RateLimit > 0) {
    cli.BandwidthLimit = options.RateLimit;
    cli.BandwidthSampling = kBandwidthSamplingMs;
    THttpCliOptions o = cli.GetOptions();
    o.Include(httpoBandwidthControl);
    cli.SetOptions(o);
    // Smooth over any second; a download's other connections share it.
    cli.RateBudget = std::make_shared<THttpRateBudget>(options.RateLimit, plat::GetTickCount());
  }
  if (!choice.Error.empty()) return choice.Source + ": " + choice.Error;
  return std::string();
}
