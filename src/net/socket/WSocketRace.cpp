// TCustomWSocket's race of a host's addresses (Happy Eyeballs): the connect
// opens the first address as the socket's handle; while it is pending, a
// further address is tried every attempt delay, and at once when an attempt
// fails. The first attempt to connect becomes the handle, the others are
// closed; when all have failed, the last failure is the one reported.
#include <algorithm>

#include "net/socket/CustomWSocket.h"
#include "net/socket/WSocketInternal.h"

using namespace wsocket_internal;

namespace {
constexpr std::uintptr_t kRaceTimerId = 0x52414345;  // "RACE"
}  // namespace

void TCustomWSocket::StartRace() {
  if (FType != plat::WS_SOCK_STREAM || FNextCandidate >= FCandidates.size()) return;
  FRacing = true;
  FRaceLastError = 0;
  plat::SetTimer(FWindowHandle, kRaceTimerId, static_cast<plat::UINT>(FAttemptDelayMs));
}

void TCustomWSocket::EndRace() {
  if (FRacing && FWindowHandle != 0) plat::KillTimer(FWindowHandle, kRaceTimerId);
  FRacing = false;
  for (TSocket h : FRaceHandles) plat::WsCloseSocket(h);
  FRaceHandles.clear();
}

bool TCustomWSocket::StartSideAttempt() {
  if (FNextCandidate >= FCandidates.size()) return false;
  plat::TSockAddr a = FCandidates[FNextCandidate++];
  a.Port = Fsin.Port;
  TSocket h = plat::WsSocket(a.Family, FType, FProto);
  if (h == INVALID_SOCKET) {
    FRaceLastError = plat::WSAGetLastError();
    return false;
  }
  // The options of the first attempt; one that does not take is no reason
  // to give up this address.
  int on = 1;
  plat::WsSetSockOpt(h, plat::WS_SOL_SOCKET, plat::WS_SO_REUSEADDR, &on, sizeof on);
  if (FComponentOptions.Contains(wsoTcpNoDelay))
    plat::WsSetSockOpt(h, plat::WS_IPPROTO_TCP, plat::WS_TCP_NODELAY, &on, sizeof on);
  if (FLingerOnOff != wsLingerNoSet) {
    plat::TLinger l;
    l.l_onoff = static_cast<std::uint16_t>(FLingerOnOff == wsLingerOn ? 1 : 0);
    l.l_linger = static_cast<std::uint16_t>(FLingerTimeout);
    plat::WsSetSockOpt(h, plat::WS_SOL_SOCKET, plat::WS_SO_LINGER, &l, sizeof l);
  }
  if (FKeepAliveOnOff != wsKeepAliveOff)
    plat::WsSetSockOpt(h, plat::WS_SOL_SOCKET, plat::WS_SO_KEEPALIVE, &on, sizeof on);
  bool started = true;
  if (FLocalPortNum != 0 || FLocalAddr != "0.0.0.0") {
    try {
      started = plat::WsBind(h, LocalBindAddr(a.Family)) == 0;
    } catch (const ESocketException&) {
      plat::WSASetLastError(plat::WSAEADDRNOTAVAIL);
      started = false;
    }
  }
  started = started && plat::WSAAsyncSelect(h, FWindowHandle, WM_RACE_CONNECT, plat::FD_CONNECT) == 0;
  if (started && CheckLogOption(loWsockInfo)) DebugLog(loWsockInfo, "TWSocket will connect to " + EndpointText(a));
  started = started && (plat::WsConnect(h, a) == 0 || plat::WSAGetLastError() == plat::WSAEWOULDBLOCK);
  if (!started) {
    FRaceLastError = plat::WSAGetLastError();
    plat::WsCloseSocket(h);
    return false;
  }
  FRaceHandles.push_back(h);
  return true;
}

// Starts the next address that can be started, and restarts the delay.
void TCustomWSocket::WMRaceTimer() {
  if (!FRacing) {
    plat::KillTimer(FWindowHandle, kRaceTimerId);
    return;
  }
  while (!StartSideAttempt() && FNextCandidate < FCandidates.size()) {
  }
  if (FNextCandidate >= FCandidates.size()) plat::KillTimer(FWindowHandle, kRaceTimerId);
}

void TCustomWSocket::AdoptAttempt(TSocket Handle) {
  FRaceHandles.erase(std::remove(FRaceHandles.begin(), FRaceHandles.end(), Handle), FRaceHandles.end());
  const TSocket old = FHSocket;
  FHSocket = Handle;
  if (old != INVALID_SOCKET) plat::WsCloseSocket(old);
  // A completion already posted for it arrives as WM_RACE_CONNECT and is
  // passed on as the handle's own; a later one comes as the handle's.
  plat::WSAAsyncSelect(FHSocket, FWindowHandle, WM_ASYNCSELECT, kConnectMask);
  FSelectEvent = kConnectMask;
  FSelectMessage = WM_ASYNCSELECT;
  FCloseInvoked = false;
}

bool TCustomWSocket::RaceConnectDone(std::uint16_t& Error) {
  if (Error == 0) {
    EndRace();
    return true;
  }
  FRaceLastError = Error;
  if (FRaceHandles.empty()) {
    while (!StartSideAttempt() && FNextCandidate < FCandidates.size()) {
    }
  } else if (FNextCandidate < FCandidates.size()) {
    StartSideAttempt();  // a failure starts the next address at once
  }
  if (FRaceHandles.empty()) {
    Error = static_cast<std::uint16_t>(FRaceLastError);
    EndRace();
    return true;
  }
  AdoptAttempt(FRaceHandles.front());
  if (FNextCandidate < FCandidates.size())
    plat::SetTimer(FWindowHandle, kRaceTimerId, static_cast<plat::UINT>(FAttemptDelayMs));
  return false;
}

void TCustomWSocket::WMRaceConnect(plat::WPARAM WParam, plat::LPARAM LParam) {
  const auto h = static_cast<TSocket>(WParam);
  const std::uint32_t serial = plat::WSAGetSelectSerial(LParam);
  if (serial != 0 && serial != plat::WsSocketSerial(h)) return;  // a closed attempt's late message
  if (h == FHSocket) {
    // Adopted after its result was posted: the result is the handle's own.
    WMAsyncSelect(WParam, LParam);
    return;
  }
  if (!FRacing || std::find(FRaceHandles.begin(), FRaceHandles.end(), h) == FRaceHandles.end()) return;
  const auto err = static_cast<std::uint16_t>(plat::WSAGetSelectError(LParam));
  if (err != 0) {
    FRaceHandles.erase(std::remove(FRaceHandles.begin(), FRaceHandles.end(), h), FRaceHandles.end());
    plat::WsCloseSocket(h);
    FRaceLastError = err;
    if (FNextCandidate < FCandidates.size()) {
      StartSideAttempt();
      plat::SetTimer(FWindowHandle, kRaceTimerId, static_cast<plat::UINT>(FAttemptDelayMs));
    }
    return;
  }
  AdoptAttempt(h);
  EndRace();
  if (FPaused) return;
  FHandlingEvent = plat::FD_CONNECT;
  HandleConnectEvent(0);
  FHandlingEvent = 0;
}
