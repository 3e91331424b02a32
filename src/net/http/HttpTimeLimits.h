// Time limits of THttpCli requests: one for getting connected (name lookup,
// TCP connect, SOCKS negotiation and TLS handshake) and one for silence once
// the TCP connection stands (no header line and no body data, or a SOCKS
// negotiation or TLS handshake that does not end), so that a peer stalling a
// handshake is cut off even without the first. A limit that runs out aborts
// the request and keeps a text that says which limit it was.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/MessageLoop.h"

class THttpCli;

class THttpTimeLimits {
 public:
  // Milliseconds, wrapping like the tick count; the seam for tests.
  using TClock = std::function<std::uint32_t()>;

  // 0 switches a limit off. The client must outlive this object.
  THttpTimeLimits(THttpCli& cli, std::uint32_t connectMs, std::uint32_t idleMs, TClock clock = {});
  ~THttpTimeLimits();
  THttpTimeLimits(const THttpTimeLimits&) = delete;
  THttpTimeLimits& operator=(const THttpTimeLimits&) = delete;

  // One look at the client, as the timer takes it every few hundred ms.
  void Check();
  // Forgets an expiry before the next request.
  void Rearm();

  bool Expired() const { return !FReason.empty(); }
  bool ConnectExpired() const { return FConnectExpired; }
  // "Timed out: nothing received for 60 seconds" (with " during the TLS
  // handshake" or " during the SOCKS negotiation" when one stalled), or for
  // the connection "Timed out: not connected within 30 seconds"; empty while
  // none ran out.
  const std::string& Reason() const { return FReason; }

 private:
  enum TPhase { tpIdle, tpConnecting, tpConnected };
  void Expire(bool connect, std::uint32_t ms, const std::string& stage = std::string());
  // The stage of a request whose TCP connection stands but whose session has
  // not begun: " during the TLS handshake", " during the SOCKS negotiation";
  // "" when the TCP connection is not made yet.
  std::string Handshake() const;

  THttpCli& FCli;
  std::uint32_t FConnectMs, FIdleMs;
  TClock FClock;
  plat::HWND FWnd = 0;
  TPhase FPhase = tpIdle;
  std::uint32_t FPhaseStart = 0;   // when the current phase began
  std::uint32_t FLastActivity = 0;
  std::string FHandshake;          // the handshake a connecting request runs, "" for none
  std::uint32_t FHandshakeStart = 0;
  std::int64_t FSeenCount = 0;
  std::size_t FSeenHeaderLines = 0;
  int FSeenState = -1;
  std::int32_t FSeenRelocations = 0;
  bool FConnectExpired = false;
  std::string FReason;
};

// "60 seconds", "1 second", "0.5 seconds".
std::string SecondsText(std::uint32_t ms);
