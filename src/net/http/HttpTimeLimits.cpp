#include "net/http/HttpTimeLimits.h"

#include <algorithm>

#include "net/http/HttpProt.h"
#include "net/socket/WSocket.h"

namespace {

constexpr std::uintptr_t kCheckTimer = 1;

bool IsConnecting(THttpState s) {
  return s == httpNotConnected || s == httpDnsLookup || s == httpDnsLookupDone;
}

}  // namespace

std::string SecondsText(std::uint32_t ms) {
  std::string text = std::to_string(ms / 1000);
  if (ms % 1000 != 0) {
    std::string frac = std::to_string(1000 + ms % 1000).substr(1);
    while (frac.back() == '0') frac.pop_back();
    text += "." + frac;
  }
  return text + (ms == 1000 ? " second" : " seconds");
}

THttpTimeLimits::THttpTimeLimits(THttpCli& cli, std::uint32_t connectMs, std::uint32_t idleMs, TClock clock)
    : FCli(cli), FConnectMs(connectMs), FIdleMs(idleMs), FClock(clock ? std::move(clock) : TClock(plat::GetTickCount)) {
  if (FConnectMs == 0 && FIdleMs == 0) return;
  // Look often enough that a limit runs out at most a quarter late.
  std::uint32_t shortest = std::min(FConnectMs ? FConnectMs : FIdleMs, FIdleMs ? FIdleMs : FConnectMs);
  const std::uint32_t period = std::clamp<std::uint32_t>(shortest / 4, 10, 250);
  FWnd = plat::AllocateHWnd([this](plat::UINT msg, plat::WPARAM w, plat::LPARAM) {
    if (msg == plat::WM_TIMER && w == kCheckTimer) Check();
    return plat::LRESULT{0};
  });
  plat::SetTimer(FWnd, kCheckTimer, period);
}

THttpTimeLimits::~THttpTimeLimits() {
  if (FWnd) {
    plat::KillTimer(FWnd, kCheckTimer);
    plat::DeallocateHWnd(FWnd);
  }
}

void THttpTimeLimits::Rearm() {
  FReason.clear();
  FConnectExpired = false;
  FPhase = tpIdle;
  FSeenState = -1;
  FHandshake.clear();
}

void THttpTimeLimits::Expire(bool connect, std::uint32_t ms, const std::string& stage) {
  FConnectExpired = connect;
  FReason = connect ? "Timed out: not connected within " + SecondsText(ms)
                    : "Timed out: nothing received for " + SecondsText(ms) + stage;
  FCli.Abort();
}

std::string THttpTimeLimits::Handshake() const {
  const TWSocket* s = FCli.CtrlSocket();
  if (!s || s->GetState() != wsConnected) return std::string();
  if (s->SocksNegotiating()) return " during the SOCKS negotiation";
  if (s->SslHandshaking()) return " during the TLS handshake";
  return std::string();
}

void THttpTimeLimits::Check() {
  if (Expired()) return;
  const std::uint32_t now = FClock();
  const THttpState state = FCli.State();
  if (state == httpReady || state == httpAborting) {
    FPhase = tpIdle;
    FSeenState = -1;
    FHandshake.clear();
    return;
  }
  const TPhase phase = IsConnecting(state) ? tpConnecting : tpConnected;
  if (phase != FPhase) {
    FPhase = phase;
    FPhaseStart = now;
    FLastActivity = now;
    FHandshake.clear();
  }
  // Anything that moved is a sign of life: state, header lines, body bytes,
  // a relocation.
  const std::int64_t count = FCli.ReceivedCount();
  const std::size_t lines = FCli.ReceivedHeader().size();
  const std::int32_t relocations = FCli.LocationChangeCurCount();
  if (static_cast<int>(state) != FSeenState || count != FSeenCount || lines != FSeenHeaderLines ||
      relocations != FSeenRelocations) {
    FSeenState = static_cast<int>(state);
    FSeenCount = count;
    FSeenHeaderLines = lines;
    FSeenRelocations = relocations;
    if (phase == tpConnected) FLastActivity = now;
  }
  if (phase == tpConnecting) {
    // A handshake moves nothing the client counts, so once the TCP
    // connection stands the silence limit bounds each handshake as a whole.
    const std::string handshake = Handshake();
    if (handshake != FHandshake) {
      FHandshake = handshake;
      FHandshakeStart = now;
    }
    if (FConnectMs > 0 && static_cast<std::uint32_t>(now - FPhaseStart) >= FConnectMs)
      Expire(true, FConnectMs);
    else if (FIdleMs > 0 && !FHandshake.empty() && static_cast<std::uint32_t>(now - FHandshakeStart) >= FIdleMs)
      Expire(false, FIdleMs, FHandshake);
  } else if (FIdleMs > 0 && static_cast<std::uint32_t>(now - FLastActivity) >= FIdleMs) {
    Expire(false, FIdleMs);
  }
}
