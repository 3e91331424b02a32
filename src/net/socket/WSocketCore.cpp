// TCustomWSocket's core: construction, the hidden window and notification dispatch, events, close and threads.
#include <map>
#include <memory>

#include "net/socket/CustomWSocket.h"
#include "net/socket/WSocketInternal.h"

using namespace wsocket_internal;

namespace {

bool g_WndClassRegistered = false;
std::map<plat::HWND, TCustomWSocket*>& SocketWindows() {
  static std::map<plat::HWND, TCustomWSocket*> m;
  return m;
}

}  // namespace

TCustomWSocket::TCustomWSocket() {
  CreateHiddenWindow();
  FDnsResultList.clear();
  FBufSize = 1460;
  FMultiCastIpTTL = 1;
  FListenBacklog = 5;
  FBufferedByteCount = 0;
  ResetDefaults();
  FKeepAliveOnOff = wsKeepAliveOnSystem;
  FKeepAliveTime = 30000;
  FKeepAliveInterval = 1000;
  std::lock_guard<std::recursive_mutex> g(WSocketLock());
  ++g_WSocketGCount;
}

TCustomWSocket::~TCustomWSocket() {
  FDestroying = true;
  EndRace();
  try {
    CancelDnsLookup();
  } catch (...) {
  }
  try {
    if (FState != wsClosed) TCustomWSocket::Close();
  } catch (...) {
  }
  if (FHSocket != INVALID_SOCKET) {  // a close that failed must not leak the handle
    plat::WsCloseSocket(FHSocket);
    FHSocket = INVALID_SOCKET;
  }
  {
    std::lock_guard<std::recursive_mutex> g(WSocketLock());
    if (--g_WSocketGCount < 1) WSocketUnload();
  }
  DiscardSendQueue();
  FDnsResultList.clear();
  DestroyHiddenWindow();
  std::lock_guard<std::recursive_mutex> g(WndClassLock());
  if (SocketWindows().empty()) g_WndClassRegistered = false;
  if (FQelLogger) FQelLogger->RemoveFreeNotification(this);
}

void TCustomWSocket::CreateHiddenWindow() {
  std::lock_guard<std::recursive_mutex> g(WndClassLock());
  g_WndClassRegistered = true;
  auto box = std::make_shared<plat::HWND>(0);
  plat::HWND h = plat::AllocateHWnd([box](plat::UINT m, plat::WPARAM w, plat::LPARAM l) -> plat::LRESULT {
    TCustomWSocket* s = nullptr;
    {
      std::lock_guard<std::recursive_mutex> lk(WndClassLock());
      auto it = SocketWindows().find(*box);
      if (it != SocketWindows().end()) s = it->second;
    }
    if (!s) return 0;
    try {
      return s->WndProc(m, w, l);
    } catch (const std::exception& e) {
      s->HandleBgException(e);
    } catch (...) {
      ESocketException e("Unknown exception in socket message handler");
      s->HandleBgException(e);
    }
    return 0;
  });
  if (h == 0) {
    RaiseSocketException("Cannot create a hidden window for TWSocket");
    return;
  }
  *box = h;
  SocketWindows()[h] = this;
  FWindowHandle = h;
  FWindowThreadSet = true;
}

void TCustomWSocket::DestroyHiddenWindow() {
  if (FWindowHandle == 0) return;
  {
    std::lock_guard<std::recursive_mutex> g(WndClassLock());
    SocketWindows().erase(FWindowHandle);
  }
  plat::DeallocateHWnd(FWindowHandle);
  FWindowHandle = 0;
  FWindowThreadSet = false;
}

plat::LRESULT TCustomWSocket::WndProc(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam) {
  switch (Msg) {
    case WM_ASYNCSELECT:
      WMAsyncSelect(WParam, LParam);
      return 0;
    case WM_ASYNCGETHOSTBYNAME:
      WMAsyncGetHostByName(WParam, LParam);
      return 0;
    case WM_ASYNCGETHOSTBYADDR:
      WMAsyncGetHostByAddr(WParam, LParam);
      return 0;
    case WM_CLOSE_DELAYED:
      Close();
      return 0;
    case WM_WSOCKET_RELEASE:
      delete this;
      return 0;
    case WM_TRIGGER_EXCEPTION:
      throw ESocketException("Test exception in WSocket");
    case WM_RACE_CONNECT:
      WMRaceConnect(WParam, LParam);
      return 0;
    case plat::WM_TIMER:
      WMRaceTimer();
      return 0;
    default:
      return 0;
  }
}

void TCustomWSocket::WMAsyncSelect(plat::WPARAM WParam, plat::LPARAM LParam) {
  const unsigned ev = plat::WSAGetSelectEvent(LParam);
  const auto err = static_cast<std::uint16_t>(plat::WSAGetSelectError(LParam));
  const auto sock = static_cast<TSocket>(WParam);
  if (CheckLogOption(loWsockDump)) {
    std::string s = "AsyncSelect CtrlSocket" + std::to_string(sock) + ", " + std::to_string(ev);
    if (ev & plat::FD_CONNECT) s += " FD_CONNECT";
    if (ev & plat::FD_READ) s += " FD_READ";
    if (ev & plat::FD_WRITE) s += " FD_WRITE";
    if (ev & plat::FD_CLOSE) s += " FD_CLOSE";
    if (ev & plat::FD_ACCEPT) s += " FD_ACCEPT";
    DebugLog(loWsockDump, s);
  }
  if (sock != FHSocket || FPaused) return;
  // Same number, other socket: a late message for a closed one.
  const std::uint32_t serial = plat::WSAGetSelectSerial(LParam);
  if (serial != 0 && serial != plat::WsSocketSerial(FHSocket)) return;
  const TConnectionId conn = CurrentConnection();
  struct Step {
    unsigned bit;
    void (TCustomWSocket::*fn)(std::uint16_t);
  };
  static const Step steps[] = {{plat::FD_CONNECT, &TCustomWSocket::HandleConnectEvent},
                               {plat::FD_READ, &TCustomWSocket::HandleReadEvent},
                               {plat::FD_WRITE, &TCustomWSocket::HandleWriteEvent},
                               {plat::FD_ACCEPT, &TCustomWSocket::HandleAcceptEvent},
                               {plat::FD_CLOSE, &TCustomWSocket::HandleCloseEvent}};
  for (const Step& st : steps) {
    if (!(ev & st.bit)) continue;
    if (!IsCurrent(conn)) break;  // an earlier handler closed the connection
    FHandlingEvent = st.bit;
    (this->*st.fn)(err);
    FHandlingEvent = 0;
  }
}

void TCustomWSocket::HandleConnectEvent(std::uint16_t Error) {
  if (FState == wsConnected) return;
  if (FRacing && !RaceConnectDone(Error)) return;
  const TConnectionId conn = CurrentConnection();
  SetState(wsConnected);
  SessionConnectedHook(Error);
  if (Error != 0 && FState != wsClosed && IsCurrent(conn)) Close();
}

void TCustomWSocket::HandleReadEvent(std::uint16_t Error) {
  if (FState != wsConnected) {
    const TConnectionId conn = CurrentConnection();
    SetState(wsConnected);
    SessionConnectedHook(Error);
    if (!IsCurrent(conn)) return;
  }
  ReceiveLoop(FComponentOptions, Error);
}

void TCustomWSocket::HandleWriteEvent(std::uint16_t Error) {
  TryToSend();
  if (FAllSent) TriggerDataSent(Error);
}

void TCustomWSocket::HandleAcceptEvent(std::uint16_t Error) { TriggerSessionAvailable(Error); }

void TCustomWSocket::HandleCloseEvent(std::uint16_t Error) {
  if (FState == wsConnecting || FHSocket == INVALID_SOCKET) return;
  const TConnectionId conn = CurrentConnection();
  ReceiveLoop(FComponentOptions - wsoNoReceiveLoop, 0);
  // A handler that closed the connection has reported it already, and the
  // reset that followed cleared the close-reported flag.
  if (!IsCurrent(conn)) return;
  if (!FCloseInvoked) {
    FCloseInvoked = true;
    TriggerSessionClosed(Error);
  }
  // A handler that closed and connected again owns the new connection.
  if (FState != wsClosed && IsCurrent(conn)) Close();
}

TCustomWSocket::TConnectionId TCustomWSocket::CurrentConnection() const {
  return {FHSocket, FHSocket == INVALID_SOCKET ? 0u : plat::WsSocketSerial(FHSocket)};
}

bool TCustomWSocket::IsCurrent(const TConnectionId& Id) const {
  return FHSocket != INVALID_SOCKET && FHSocket == Id.Handle && plat::WsSocketSerial(FHSocket) == Id.Serial;
}

void TCustomWSocket::SetState(TSocketState NewState) {
  TSocketState old = FState;
  FState = NewState;
  if (old != NewState) TriggerChangeState(old, NewState);
}

bool TCustomWSocket::TriggerDataAvailable(std::uint16_t Error) {
  if (!OnDataAvailable) return false;
  OnDataAvailable(this, Error);
  return true;
}

void TCustomWSocket::TriggerSessionAvailable(std::uint16_t Error) {
  if (OnSessionAvailable) OnSessionAvailable(this, Error);
}

void TCustomWSocket::SessionConnectedHook(std::uint16_t Error) { TriggerSessionConnected(Error); }

void TCustomWSocket::TriggerSessionConnected(std::uint16_t Error) {
  if (OnSessionConnected) OnSessionConnected(this, Error);
}

void TCustomWSocket::TriggerSessionClosed(std::uint16_t Error) {
  if (OnSessionClosed) OnSessionClosed(this, Error);
}

void TCustomWSocket::TriggerDataSent(std::uint16_t Error) {
  if (CheckLogOption(loWsockDump)) DebugLog(loWsockDump, Hex8(this) + " TriggerDataSent " + std::to_string(FHSocket));
  if (OnDataSent) OnDataSent(this, Error);
}

void TCustomWSocket::TriggerChangeState(TSocketState OldState, TSocketState NewState) {
  if (OnChangeState) OnChangeState(this, OldState, NewState);
}

void TCustomWSocket::TriggerDnsLookupDone(std::uint16_t Error) {
  if (OnDnsLookupDone) OnDnsLookupDone(this, Error);
}

void TCustomWSocket::TriggerError() {
  if (OnError) OnError(this);
}

void TCustomWSocket::RaiseSocketException(const std::string& Msg) {
  if (OnError)
    TriggerError();
  else
    throw ESocketException(Msg);
}

void TCustomWSocket::RaiseSocketExceptionFmt(const char* Fmt, ...) {
  va_list ap;
  va_start(ap, Fmt);
  std::string s = VFormat(Fmt, ap);
  va_end(ap);
  RaiseSocketException(s);
}

void TCustomWSocket::ReportSocketError(const std::string& Operation) {
  int code = plat::WSAGetLastError();
  std::string line = "Error " + std::to_string(code) + " in function " + Operation + "\r\n" + WinsockErrorText(code);
  if (code == plat::WSAECONNRESET || code == plat::WSAENOTCONN) {
    if (FHSocket != INVALID_SOCKET) plat::WsCloseSocket(FHSocket);
    FHSocket = INVALID_SOCKET;
    if (FState != wsClosed) TriggerSessionClosed(static_cast<std::uint16_t>(code));
    SetState(wsClosed);
  }
  FLastError = code;
  RaiseSocketException(line);
}

void TCustomWSocket::HandleBgException(const std::exception& E) {
  bool CanClose = true;
  if (OnBgException) {
    try {
      OnBgException(this, E, CanClose);
    } catch (...) {
    }
  }
  if (CanClose) {
    try {
      Abort();
    } catch (...) {
    }
  }
}

bool TCustomWSocket::CheckLogOption(TLogOption LogOption) {
  return FQelLogger && FQelLogger->GetLogOptions().Contains(LogOption);
}

void TCustomWSocket::DebugLog(TLogOption LogOption, const std::string& Msg) {
  if (FQelLogger) FQelLogger->DoLog(this, LogOption, Msg);
}

void TCustomWSocket::SetQelLogger(TQelLogger* Value) {
  if (Value == FQelLogger) return;
  if (FQelLogger) FQelLogger->RemoveFreeNotification(this);
  FQelLogger = Value;
  if (FQelLogger) FQelLogger->FreeNotification(this);
}

void TCustomWSocket::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent == FQelLogger) FQelLogger = nullptr;
}

void TCustomWSocket::ResetDefaults() {
  EndRace();
  Fsin = plat::TSockAddr{};
  FAddrFormat = plat::WS_AF_INET;
  FAddrList.clear();
  FCandidates.clear();
  FNextCandidate = 0;
  FPortAssigned = false;
  FAddrAssigned = false;
  FAddrResolved = false;
  FPortResolved = false;
  FProtoResolved = false;
  FLocalPortResolved = false;
  FProtoAssigned = true;
  FProto = 6;
  FProtoStr = "tcp";
  FType = plat::WS_SOCK_STREAM;
  FLocalPortStr = "0";
  FLocalAddr = "0.0.0.0";
  FLingerOnOff = wsLingerOn;
  FLingerTimeout = 0;
  FHSocket = INVALID_SOCKET;
  FSelectEvent = 0;
  FState = wsClosed;
  FAllSent = true;
  FPaused = false;
  FReadCount = 0;
  FCloseInvoked = false;
  FFlushTimeout = 60;
}

// --- close

void TCustomWSocket::Close() { DoClose(true, 0); }

void TCustomWSocket::Abort() { DoAbort(0); }

void TCustomWSocket::PostClose() { plat::PostMessage(FWindowHandle, WM_CLOSE_DELAYED, 0, 0); }

void TCustomWSocket::PostRelease() { plat::PostMessage(FWindowHandle, WM_WSOCKET_RELEASE, 0, 0); }

void TCustomWSocket::DoAbort(std::uint16_t Error) {
  CancelDnsLookup();
  DiscardSendQueue();
  if (FState == wsConnected && FProto == 6) {
    FLingerOnOff = wsLingerOff;
    SetLingerOption();
  }
  DoClose(false, Error);
}

void TCustomWSocket::DoClose(bool HalfClose, std::uint16_t Error) {
  EndRace();
  if (FHSocket == INVALID_SOCKET) {
    if (FState != wsClosed) {
      SetState(wsClosed);
      ResetDefaults();
    }
    return;
  }
  if (FState == wsClosed) return;
  if (HalfClose) Shutdown(1);
  for (;;) {
    if (plat::WsCloseSocket(FHSocket) == 0) break;
    int code = plat::WSAGetLastError();
    if (code == plat::WSAEWOULDBLOCK) {
      PumpMessages();
      continue;
    }
    FHSocket = INVALID_SOCKET;
    FLastError = code;
    if (code == plat::WSANOTINITIALISED) break;
    ReportSocketError("Disconnect (closesocket)");
    return;
  }
  FHSocket = INVALID_SOCKET;
  SetState(wsClosed);
  if (!FDestroying && !FCloseInvoked) {
    FCloseInvoked = true;
    TriggerSessionClosed(Error);
  }
  // A handler that reconnected at once owns the fresh state now.
  if (FHSocket != INVALID_SOCKET) return;
  try {
    ResetDefaults();
  } catch (...) {
  }
}

void TCustomWSocket::Shutdown(int How) {
  if (FHSocket == INVALID_SOCKET) return;
  plat::WsShutdown(FHSocket, How);
  if (CheckLogOption(loWsockInfo))
    DebugLog(loWsockInfo,
             Hex8(this) + " TCustomWSocket.Shutdown " + std::to_string(How) + " " + std::to_string(FHSocket));
}

// --- threads and pumping

void TCustomWSocket::PumpMessages() {
  if (FMultiThreaded)
    ProcessOwnQueue();
  else
    plat::ProcessMessages();
}

bool TCustomWSocket::ProcessOwnQueue() {
  bool quit = plat::ProcessOwnQueue();
  if (quit) FTerminated = true;
  return quit;
}

void TCustomWSocket::AttachToThread() {
  if (FWindowHandle != 0) {
    RaiseSocketException("Cannot attach when not detached");
    return;
  }
  CreateHiddenWindow();
  if (FHSocket != INVALID_SOCKET)
    plat::WSAAsyncSelect(FHSocket, FWindowHandle, static_cast<plat::UINT>(FSelectMessage), FSelectEvent);
}

void TCustomWSocket::DetachFromThread() {
  if (FWindowHandle == 0 || !plat::IsOwnWindow(FWindowHandle)) {
    RaiseSocketException("Cannot detach from other thread");
    return;
  }
  if (FHSocket != INVALID_SOCKET) plat::WSAAsyncSelect(FHSocket, FWindowHandle, 0, 0);
  DestroyHiddenWindow();
}
