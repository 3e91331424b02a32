#include "net/socket/WSocket.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace {

struct ErrText {
  int code;
  const char* text;
};

const ErrText kErrTexts[] = {
    {0, "No Error"},
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Protocol not available"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Address not available"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Connection aborted"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references: can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network sub-system is unusable"},
    {10092, "WinSock DLL cannot support this application"},
    {10093, "WinSock not initialized"},
    {11001, "Host not found"},
    {11002, "Non-authoritative host not found"},
    {11003, "Non-recoverable error"},
    {11004, "No Data"},
};

}  // namespace

std::string WinsockErrorText(int ErrCode) {
  for (const ErrText& e : kErrTexts)
    if (e.code == ErrCode) return e.text;
  return "Not a WinSock error";
}

int AtoiSkipSpaces(const std::string& Str) {
  std::size_t i = 0;
  while (i < Str.size() && Str[i] == ' ') ++i;
  unsigned v = 0;  // wraps instead of overflowing
  while (i < Str.size() && Str[i] >= '0' && Str[i] <= '9') v = v * 10u + static_cast<unsigned>(Str[i++] - '0');
  return static_cast<int>(v);
}

bool IsDottedQuad(const std::string& Str) {
  std::size_t i = 0;
  const std::size_t n = Str.size();
  while (i < n && Str[i] == ' ') ++i;
  if (i < n && Str[i] == '.') return false;
  int dots = 0;
  unsigned part = 0;
  while (i < n) {
    char c = Str[i];
    if (c >= '0' && c <= '9') {
      part = part * 10u + static_cast<unsigned>(c - '0');
      if (part > 100000u) part = 100000u;  // stays "above 255" without overflow
      ++i;
    } else if (c == '.') {
      if (dots == 3 || part > 255u || i + 1 >= n || !(Str[i + 1] >= '0' && Str[i + 1] <= '9')) return false;
      ++dots;
      part = 0;
      ++i;
    } else {
      while (i < n && Str[i] == ' ') ++i;
      if (i < n) return false;
      break;
    }
  }
  return dots == 3 && part <= 255u;
}

// ---------------------------------------------------------------------------
// Process-wide state: the socket library needs no loading here, so "loaded"
// only marks the first socket call since the last socket went away.

namespace {

std::recursive_mutex& WSocketLock() {
  static std::recursive_mutex m;
  return m;
}
std::recursive_mutex& WndClassLock() {
  static std::recursive_mutex m;
  return m;
}
std::recursive_mutex& SendQueueLock() {
  static std::recursive_mutex m;
  return m;
}

int g_WSocketGCount = 0;
bool g_WSocketLoaded = false;
std::uint8_t g_ReqVerLow = 1;
std::uint8_t g_ReqVerHigh = 1;
bool g_WndClassRegistered = false;
std::map<plat::HWND, TCustomWSocket*>& SocketWindows() {
  static std::map<plat::HWND, TCustomWSocket*> m;
  return m;
}

void WSocketLoad() {
  std::lock_guard<std::recursive_mutex> g(WSocketLock());
  g_WSocketLoaded = true;
}

void WSocketUnload() {
  std::lock_guard<std::recursive_mutex> g(WSocketLock());
  g_WSocketLoaded = false;
}

// Raises the live socket count for the duration of one library call.
struct LiveCountGuard {
  LiveCountGuard() {
    std::lock_guard<std::recursive_mutex> g(WSocketLock());
    ++g_WSocketGCount;
    g_WSocketLoaded = true;
  }
  ~LiveCountGuard() {
    std::lock_guard<std::recursive_mutex> g(WSocketLock());
    if (--g_WSocketGCount < 1) g_WSocketLoaded = false;
  }
};

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string VFormat(const char* fmt, va_list ap) {
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap2);
  va_end(ap2);
  if (n < 0) return fmt;
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), fmt, ap);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = VFormat(fmt, ap);
  va_end(ap);
  return s;
}

std::string Hex8(const void* p) {
  return Format("%08X", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p) & 0xFFFFFFFFu));
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::int32_t WrapAdd(std::int32_t a, int b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

unsigned ParseLeadingDecimal(const std::string& s) {
  unsigned v = 0;
  for (std::size_t i = 0; i < s.size() && IsDigit(s[i]); ++i) v = v * 10u + static_cast<unsigned>(s[i] - '0');
  return v;
}

}  // namespace

bool WSocketIsLoaded() {
  std::lock_guard<std::recursive_mutex> g(WSocketLock());
  return g_WSocketLoaded;
}

int WSocketLiveCount() {
  std::lock_guard<std::recursive_mutex> g(WSocketLock());
  return g_WSocketGCount;
}

std::uint32_t WSocketResolveHost(const std::string& InAddr) {
  if (InAddr.empty() || InAddr.size() > 256)
    throw ESocketException("WSocketResolveHost: '" + InAddr + "' Invalid Hostname.");
  WSocketLoad();
  std::string s = Trim(InAddr);
  if (IsDottedQuad(s)) {
    std::uint32_t a = plat::WsInetAddr(s);
    if (a == plat::WS_INADDR_NONE && s != "255.255.255.255")
      throw ESocketException("WSocketResolveHost: '" + InAddr + "' Invalid IP address.");
    return a;
  }
  std::vector<std::uint32_t> addrs;
  int err = plat::WsGetHostByName(s, addrs);
  if (err != 0 || addrs.empty())
    throw ESocketException(
        Format("WSocketResolveHost: Cannot convert host address '%s', Error #%d", InAddr.c_str(), err));
  return addrs.front();
}

std::uint16_t WSocketResolvePort(const std::string& Port, const std::string& Proto) {
  if (Port.empty() || Port.size() >= 32) throw ESocketException("WSocketResolvePort: Invalid Port.");
  if (Proto.empty() || Proto.size() >= 32) throw ESocketException("WSocketResolvePort: Invalid Proto.");
  if (IsDigit(Port[0])) return static_cast<std::uint16_t>(ParseLeadingDecimal(Port));
  WSocketLoad();
  std::uint16_t portNet = 0;
  if (plat::WsGetServByName(Trim(Port), Trim(Proto), portNet) != 0)
    throw ESocketException(Format("WSocketResolvePort: Cannot convert port '%s', Error #%d", Port.c_str(),
                                  plat::WSAGetLastError()));
  return plat::WsNtohs(portNet);
}

int WSocketResolveProto(const std::string& Proto) {
  if (Proto.empty() || Proto.size() >= 32) throw ESocketException("WSocketResolveProto: Invalid Protocol.");
  if (IsDigit(Proto[0])) return static_cast<int>(ParseLeadingDecimal(Proto));
  std::string p = LowerAscii(Trim(Proto));
  if (p == "tcp") return 6;
  if (p == "udp") return 17;
  if (p == "raw") return 255;
  WSocketLoad();
  int n = 0;
  if (plat::WsGetProtoByName(p, n) != 0)
    throw ESocketException(Format("WSocketResolveProto: Cannot convert protocol '%s', Error #%d", Proto.c_str(),
                                  plat::WSAGetLastError()));
  return n;
}

std::string GetLocalHostName() {
  char buf[64] = {};
  int rc;
  {
    LiveCountGuard live;
    rc = plat::WsGetHostName(buf, sizeof buf);
  }
  if (rc != 0) throw ESocketException("Winsock.GetHostName failed");
  buf[sizeof buf - 1] = 0;
  return buf;
}

// ---------------------------------------------------------------------------
// TCustomWSocket

namespace {
constexpr long kConnectMask = plat::FD_READ | plat::FD_WRITE | plat::FD_ACCEPT | plat::FD_CONNECT | plat::FD_CLOSE;  // 59
constexpr long kListenMask = plat::FD_READ | plat::FD_WRITE | plat::FD_ACCEPT | plat::FD_CLOSE;                    // 43
constexpr long kDupMask = plat::FD_READ | plat::FD_WRITE | plat::FD_CONNECT | plat::FD_CLOSE;                      // 51

bool IsConnectionLevelError(int code) {
  return code == plat::WSAEINVAL || code == plat::WSAENOTSOCK || code == plat::WSAECONNABORTED ||
         code == plat::WSAECONNRESET || code == plat::WSAENOTCONN;
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
    if (sock != FHSocket) break;  // an earlier handler closed the connection
    FHandlingEvent = st.bit;
    (this->*st.fn)(err);
    FHandlingEvent = 0;
  }
}

void TCustomWSocket::HandleConnectEvent(std::uint16_t Error) {
  if (FState == wsConnected) return;
  SetState(wsConnected);
  SessionConnectedHook(Error);
  if (Error != 0 && FState != wsClosed) Close();
}

void TCustomWSocket::HandleReadEvent(std::uint16_t Error) {
  if (FState != wsConnected) {
    SetState(wsConnected);
    SessionConnectedHook(Error);
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
  const TSocket h = FHSocket;
  ReceiveLoop(FComponentOptions - wsoNoReceiveLoop, 0);
  // A handler that closed the connection has reported it already, and the
  // reset that followed cleared the close-reported flag.
  if (FHSocket != h) return;
  if (!FCloseInvoked) {
    FCloseInvoked = true;
    TriggerSessionClosed(Error);
  }
  if (FState != wsClosed) Close();
}

void TCustomWSocket::ReceiveLoop(TWSocketOptions Options, std::uint16_t Error) {
  try {
    for (;;) {
      FLastError = 0;
      if (!TriggerDataAvailable(Error)) {
        char scratch[1024];
        int n = DoRecv(scratch, sizeof scratch, 0);
        if (n < 0 && FLastError == plat::WSAEWOULDBLOCK) {
          FLastError = 0;
          break;
        }
      }
      if (Options.Contains(wsoNoReceiveLoop)) break;
      if (FLastError != 0) {
        if (FLastError == -1) FLastError = 0;
        break;
      }
      if (FHSocket == INVALID_SOCKET) break;  // closed by the handler
      unsigned long pending = 0;
      if (plat::WsIoctlFionread(FHSocket, &pending) == plat::SOCKET_ERROR) {
        FLastError = plat::WSAGetLastError();
        break;
      }
      if (pending == 0) break;
    }
  } catch (...) {
  }
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
  Fsin = TSockAddrIn{};
  Fsin.sin_family = plat::WS_AF_INET;
  FAddrFormat = plat::WS_AF_INET;
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

// --- properties

// Addr, Port and Proto: trimmed, refused while open, resolved again on use.
bool TCustomWSocket::AssignRemoteText(const char* Name, const std::string& Value, std::string& Text,
                                      bool& Assigned, bool& Resolved) {
  std::string s = Trim(Value);
  if (Assigned && s == Text) return true;
  if (FState != wsClosed) {
    RaiseSocketException(std::string("Cannot change ") + Name + " if not closed");
    return false;
  }
  Text = s;
  Assigned = !s.empty();
  Resolved = false;
  return true;
}

void TCustomWSocket::SetAddr(const std::string& Value) {
  AssignRemoteText("Addr", Value, FAddrStr, FAddrAssigned, FAddrResolved);
}

void TCustomWSocket::SetPort(const std::string& Value) {
  AssignRemoteText("Port", Value, FPortStr, FPortAssigned, FPortResolved);
}

void TCustomWSocket::SetProto(const std::string& Value) {
  AssignRemoteText("Proto", Value, FProtoStr, FProtoAssigned, FProtoResolved);
}

void TCustomWSocket::SetLocalAddr(const std::string& Value) {
  if (FState != wsClosed) {
    RaiseSocketException("Cannot change LocalAddr if not closed");
    return;
  }
  std::string s = Trim(Value);
  FLocalAddr = s.empty() ? "0.0.0.0" : s;
}

void TCustomWSocket::SetLocalPort(const std::string& Value) {
  if (FState != wsClosed) {
    RaiseSocketException("Cannot change LocalPort if not closed");
    return;
  }
  FLocalPortStr = Value;
  FLocalPortResolved = false;
}

std::uint8_t TCustomWSocket::GetReqVerLow() const {
  std::lock_guard<std::recursive_mutex> g(WSocketLock());
  return g_ReqVerLow;
}

void TCustomWSocket::SetReqVerLow(std::uint8_t Value) {
  {
    std::lock_guard<std::recursive_mutex> g(WSocketLock());
    if (Value == g_ReqVerLow) return;
    if (!g_WSocketLoaded) {
      g_ReqVerLow = Value;
      return;
    }
  }
  plat::WSASetLastError(plat::WSAEINVAL);
  ReportSocketError("SetReqVerLow: WinSock version can't be changed now");
}

std::uint8_t TCustomWSocket::GetReqVerHigh() const {
  std::lock_guard<std::recursive_mutex> g(WSocketLock());
  return g_ReqVerHigh;
}

void TCustomWSocket::SetReqVerHigh(std::uint8_t Value) {
  {
    std::lock_guard<std::recursive_mutex> g(WSocketLock());
    if (Value == g_ReqVerHigh) return;
    if (!g_WSocketLoaded) {
      g_ReqVerHigh = Value;
      return;
    }
  }
  plat::WSASetLastError(plat::WSAEINVAL);
  ReportSocketError("SetReqVerHigh: WinSock version can't be changed now");
}

TSocketSendFlags TCustomWSocket::GetSendFlags() {
  switch (FSendFlags) {
    case 0: return wsSendNormal;
    case 1: return wsSendUrgent;
    default:
      RaiseSocketException("Invalid internal SendFlags");
      return wsSendNormal;
  }
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags Value) {
  switch (Value) {
    case wsSendNormal: FSendFlags = 0; break;
    case wsSendUrgent: FSendFlags = plat::WS_MSG_OOB; break;
    default: RaiseSocketException("Invalid SendFlags");
  }
}

int TCustomWSocket::SendQueueBlockCount() const {
  std::lock_guard<std::recursive_mutex> g(SendQueueLock());
  return static_cast<int>(FBufList.size());
}

std::vector<int> TCustomWSocket::SendQueueBlockSizes() const {
  std::lock_guard<std::recursive_mutex> g(SendQueueLock());
  std::vector<int> out;
  for (const TBuffer* b : FBufList) {
    int len = 0;
    b->Peek(len);
    out.push_back(len);
  }
  return out;
}

void TCustomWSocket::PostTestException() { plat::PostMessage(FWindowHandle, WM_TRIGGER_EXCEPTION, 0, 0); }

// --- name lookup

void TCustomWSocket::DnsLookup(const std::string& HostName) {
  if (HostName.empty()) {
    RaiseSocketException("DNS lookup: invalid host name.");
    TriggerDnsLookupDone(plat::WSAEINVAL);
    return;
  }
  if (FDnsLookupHandle != 0) {
    plat::WSACancelAsyncRequest(FDnsLookupHandle);
    FDnsLookupHandle = 0;
  }
  FDnsResult.clear();
  FDnsResultList.clear();
  WSocketLoad();
  if (IsDottedQuad(HostName)) {
    std::uint32_t a = plat::WsInetAddr(Trim(HostName));
    if (a != plat::WS_INADDR_NONE) {
      FDnsResult = plat::WsInetNtoa(a);
      FDnsResultList.push_back(FDnsResult);
      TriggerDnsLookupDone(0);
      return;
    }
  }
  if (FWindowHandle == 0) {
    RaiseSocketException("DnsLookup: Window not assigned");
    return;
  }
  FDnsLookupCheckMsg = false;
  plat::TAsyncHandle h = plat::WSAAsyncGetHostByName(FWindowHandle, WM_ASYNCGETHOSTBYNAME, HostName);
  if (h == 0) {
    RaiseSocketExceptionFmt("%s: can't start DNS lookup, error #%d", HostName.c_str(), plat::WSAGetLastError());
    return;
  }
  FDnsLookupHandle = h;
  if (FDnsLookupCheckMsg) {  // the completion came before the handle was known
    FDnsLookupCheckMsg = false;
    WndProc(FDnsLookupTempMsg, FDnsLookupTempWParam, FDnsLookupTempLParam);
  }
}

void TCustomWSocket::WMAsyncGetHostByName(plat::WPARAM WParam, plat::LPARAM LParam) {
  if (FDnsLookupHandle == 0) {
    FDnsLookupTempMsg = WM_ASYNCGETHOSTBYNAME;
    FDnsLookupTempWParam = WParam;
    FDnsLookupTempLParam = LParam;
    FDnsLookupCheckMsg = true;
    return;
  }
  if (WParam != FDnsLookupHandle) return;
  FDnsLookupHandle = 0;
  const auto err = static_cast<std::uint16_t>(plat::WSAGetSelectError(LParam));
  plat::THostEntry e;
  bool have = plat::WSAAsyncTakeResult(WParam, e);
  if (err == 0 && have) {
    LiveCountGuard live;
    for (std::uint32_t a : e.Addrs) FDnsResultList.push_back(plat::WsInetNtoa(a));
    if (!FDnsResultList.empty()) FDnsResult = FDnsResultList.front();
  }
  TriggerDnsLookupDone(err);
}

void TCustomWSocket::FillDnsResultsByAddr(const plat::THostEntry& Entry) {
  FDnsResult = Entry.Name;
  FDnsResultList.push_back(Entry.Name);
  for (const std::string& a : Entry.Aliases)
    if (!a.empty()) FDnsResultList.push_back(a);
}

void TCustomWSocket::WMAsyncGetHostByAddr(plat::WPARAM WParam, plat::LPARAM LParam) {
  if (FDnsLookupHandle == 0) {
    FDnsLookupTempMsg = WM_ASYNCGETHOSTBYADDR;
    FDnsLookupTempWParam = WParam;
    FDnsLookupTempLParam = LParam;
    FDnsLookupCheckMsg = true;
    return;
  }
  if (WParam != FDnsLookupHandle) return;
  FDnsLookupHandle = 0;
  const auto err = static_cast<std::uint16_t>(plat::WSAGetSelectError(LParam));
  plat::THostEntry e;
  bool have = plat::WSAAsyncTakeResult(WParam, e);
  if (err == 0 && have) FillDnsResultsByAddr(e);
  TriggerDnsLookupDone(err);
}

void TCustomWSocket::ReverseDnsLookup(const std::string& HostAddr) {
  if (HostAddr.empty() || HostAddr.size() > 256) {
    RaiseSocketException("ReverseDnsLookup: Invalid host name.");
    TriggerDnsLookupDone(plat::WSAEINVAL);
    return;
  }
  if (FDnsLookupHandle != 0) {
    plat::WSACancelAsyncRequest(FDnsLookupHandle);
    FDnsLookupHandle = 0;
  }
  FDnsResult.clear();
  FDnsResultList.clear();
  WSocketLoad();
  std::uint32_t a = plat::WsInetAddr(HostAddr);
  if (FWindowHandle == 0) {
    RaiseSocketException("ReverseDnsLookup: Window not assigned");
    return;
  }
  FDnsLookupCheckMsg = false;
  plat::TAsyncHandle h = plat::WSAAsyncGetHostByAddr(FWindowHandle, WM_ASYNCGETHOSTBYADDR, a);
  if (h == 0) {
    RaiseSocketExceptionFmt("%s: can't start DNS lookup, error #%d", HostAddr.c_str(), plat::WSAGetLastError());
    return;
  }
  FDnsLookupHandle = h;
  if (FDnsLookupCheckMsg) {
    FDnsLookupCheckMsg = false;
    WndProc(FDnsLookupTempMsg, FDnsLookupTempWParam, FDnsLookupTempLParam);
  }
}

void TCustomWSocket::ReverseDnsLookupSync(const std::string& HostAddr) {
  if (HostAddr.empty() || HostAddr.size() > 256) {
    RaiseSocketException("ReverseDnsLookup: Invalid host name.");
    TriggerDnsLookupDone(plat::WSAEINVAL);
    return;
  }
  if (FDnsLookupHandle != 0) {
    plat::WSACancelAsyncRequest(FDnsLookupHandle);
    FDnsLookupHandle = 0;
  }
  FDnsResult.clear();
  FDnsResultList.clear();
  WSocketLoad();
  std::uint32_t a = plat::WsInetAddr(HostAddr);
  plat::THostEntry e;
  int err = plat::WsGetHostByAddr(a, e.Name, e.Aliases);
  if (err != 0) {
    TriggerDnsLookupDone(static_cast<std::uint16_t>(plat::WSAGetLastError()));
    return;
  }
  FillDnsResultsByAddr(e);
  TriggerDnsLookupDone(0);
}

void TCustomWSocket::CancelDnsLookup() {
  if (FDnsLookupHandle == 0) return;
  if (plat::WSACancelAsyncRequest(FDnsLookupHandle) != 0) {
    FDnsLookupHandle = 0;
    ReportSocketError("WSACancelAsyncRequest");
    return;
  }
  FDnsLookupHandle = 0;
  if (!FDestroying) TriggerDnsLookupDone(plat::WSAEINTR);
}

// --- connect, listen, accept, dup

void TCustomWSocket::BindLocal() {
  TSockAddrIn a{};
  a.sin_family = plat::WS_AF_INET;
  a.sin_port = plat::WsHtons(FLocalPortNum);
  a.sin_addr = WSocketResolveHost(FLocalAddr);
  if (plat::WsBind(FHSocket, a) != 0) {
    RaiseSocketExceptionFmt("winsock.bind failed, error #%d", plat::WSAGetLastError());
    return;
  }
  TSockAddrIn b{};
  int len = sizeof b;
  if (plat::WsGetSockName(FHSocket, &b, &len) != 0) {
    RaiseSocketExceptionFmt("winsock.getsockname failed, error #%d", plat::WSAGetLastError());
    return;
  }
  FLocalPortNum = plat::WsNtohs(b.sin_port);
  FLocalPortStr = std::to_string(FLocalPortNum);
}

void TCustomWSocket::SetLingerOption() {
  if (FLingerOnOff == wsLingerNoSet) return;
  if (FHSocket == INVALID_SOCKET) {
    RaiseSocketException("Cannot set linger option at this time");
    return;
  }
  plat::TLinger l;
  l.l_onoff = static_cast<std::uint16_t>(FLingerOnOff == wsLingerOn ? 1 : 0);
  l.l_linger = static_cast<std::uint16_t>(FLingerTimeout);
  if (plat::WsSetSockOpt(FHSocket, plat::WS_SOL_SOCKET, plat::WS_SO_LINGER, &l, sizeof l) != 0)
    ReportSocketError("setsockopt(SO_LINGER)");
}

void TCustomWSocket::SetKeepAliveOption() {
  if (FKeepAliveOnOff == wsKeepAliveOff) return;
  int on = 1;
  if (plat::WsSetSockOpt(FHSocket, plat::WS_SOL_SOCKET, plat::WS_SO_KEEPALIVE, &on, sizeof on) != 0) {
    ReportSocketError("setsockopt(SO_KEEPALIVE)");
    return;
  }
  if (FKeepAliveOnOff == wsKeepAliveOnCustom) {
    int rc;
    {
      LiveCountGuard live;
      rc = plat::WsIoctlKeepAliveVals(FHSocket, true, static_cast<std::uint32_t>(FKeepAliveTime),
                                      static_cast<std::uint32_t>(FKeepAliveInterval));
    }
    if (rc != 0) ReportSocketError("WSocket_WSAIoctl(SIO_KEEPALIVE_VALS)");
  }
}

void TCustomWSocket::Connect() {
  if (FHSocket != INVALID_SOCKET && FState != wsClosed) {
    RaiseSocketException("Connect: Socket already in use");
    return;
  }
  if (!FPortAssigned) {
    RaiseSocketException("Connect: No Port Specified");
    return;
  }
  if (!FAddrAssigned) {
    RaiseSocketException("Connect: No IP Address Specified");
    return;
  }
  if (!FProtoAssigned) {
    RaiseSocketException("Connect: No Protocol Specified");
    return;
  }
  WSocketLoad();
  try {
    if (!FProtoResolved) {
      FProto = WSocketResolveProto(FProtoStr);
      FType = FProto == 6 ? plat::WS_SOCK_STREAM : FProto == 17 ? plat::WS_SOCK_DGRAM : plat::WS_SOCK_RAW;
      FProtoResolved = true;
    }
    if (!FPortResolved) {
      FPortNum = WSocketResolvePort(FPortStr, FProtoStr);
      Fsin.sin_port = plat::WsHtons(FPortNum);
      FPortResolved = true;
    }
    if (!FLocalPortResolved) {
      FLocalPortNum = WSocketResolvePort(FLocalPortStr, FProtoStr);
      FLocalPortResolved = true;
    }
    if (!FAddrResolved) {
      Fsin.sin_addr = WSocketResolveHost(FAddrStr);
      FAddrResolved = true;
    }
  } catch (const ESocketException& e) {
    RaiseSocketException("connect: " + e.Message());
    return;
  }
  DiscardSendQueue();

  FHSocket = plat::WsSocket(FAddrFormat, FType, FProto);
  if (FHSocket == INVALID_SOCKET) {
    ReportSocketError("Connect (socket)");
    return;
  }
  {
    LiveCountGuard live;
    int len = sizeof(int);
    if (plat::WsGetSockOpt(FHSocket, plat::WS_SOL_SOCKET, plat::WS_SO_SNDBUF, &FSocketSndBufSize, &len) != 0) {
      ReportSocketError("getsockopt(SO_SNDBUF)");
      return;
    }
    len = sizeof(int);
    if (plat::WsGetSockOpt(FHSocket, plat::WS_SOL_SOCKET, plat::WS_SO_RCVBUF, &FSocketRcvBufSize, &len) != 0) {
      ReportSocketError("getsockopt(SO_RCVBUF)");
      return;
    }
  }
  SetState(wsOpened);
  if (FState != wsOpened) {
    plat::WSASetLastError(plat::WSAEINVAL);
    ReportSocketError("Connect (Invalid operation in OnChangeState)");
    return;
  }

  if (FType == plat::WS_SOCK_DGRAM) {
    BindLocal();
    if (FMultiCast) {
      if (FMultiCastIpTTL != 1) {
        int ttl = FMultiCastIpTTL;
        if (plat::WsSetSockOpt(FHSocket, plat::WS_IPPROTO_IP, plat::WS_IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
          ReportSocketError("setsockopt(IP_MULTICAST_TTL)");
          return;
        }
      }
      if (FLocalAddr != "0.0.0.0") {
        std::uint32_t ifAddr = WSocketResolveHost(FLocalAddr);
        if (plat::WsSetSockOpt(FHSocket, plat::WS_IPPROTO_IP, plat::WS_IP_MULTICAST_IF, &ifAddr, sizeof ifAddr) !=
            0) {
          ReportSocketError("setsockopt(IP_MULTICAST_IF)");
          return;
        }
      }
    }
    if (Fsin.sin_addr == plat::WS_INADDR_NONE) {
      int on = 1;
      if (plat::WsSetSockOpt(FHSocket, plat::WS_SOL_SOCKET, plat::WS_SO_BROADCAST, &on, sizeof on) != 0) {
        ReportSocketError("setsockopt(SO_BROADCAST)");
        return;
      }
    }
  } else {
    int on = 1;
    if (plat::WsSetSockOpt(FHSocket, plat::WS_SOL_SOCKET, plat::WS_SO_REUSEADDR, &on, sizeof on) != 0) {
      ReportSocketError("setsockopt(SO_REUSEADDR)");
      return;
    }
    if (FComponentOptions.Contains(wsoTcpNoDelay)) {
      if (plat::WsSetSockOpt(FHSocket, plat::WS_IPPROTO_TCP, plat::WS_TCP_NODELAY, &on, sizeof on) != 0) {
        ReportSocketError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
        return;
      }
    }
    SetLingerOption();
    SetKeepAliveOption();
    if (FLocalPortNum != 0 || FLocalAddr != "0.0.0.0") BindLocal();
  }
  if (FHSocket == INVALID_SOCKET) return;  // an option failure closed it

  if (plat::WSAAsyncSelect(FHSocket, FWindowHandle, WM_ASYNCSELECT, kConnectMask) != 0) {
    ReportSocketError("WSAAsyncSelect");
    return;
  }
  FSelectEvent = kConnectMask;
  FSelectMessage = WM_ASYNCSELECT;

  if (FType == plat::WS_SOCK_DGRAM) {
    SetState(wsConnected);
    SessionConnectedHook(0);
    return;
  }
  if (CheckLogOption(loWsockInfo))
    DebugLog(loWsockInfo, "TWSocket will connect to " + plat::WsInetNtoa(Fsin.sin_addr) + ":" +
                              std::to_string(plat::WsNtohs(Fsin.sin_port)));
  int rc = plat::WsConnect(FHSocket, Fsin);
  if (rc == 0 || plat::WSAGetLastError() == plat::WSAEWOULDBLOCK) {
    SetState(wsConnecting);
  } else {
    FLastError = plat::WSAGetLastError();
    ReportSocketError("Connect");
  }
}

void TCustomWSocket::Listen() {
  if (!FPortAssigned) {
    plat::WSASetLastError(plat::WSAEINVAL);
    ReportSocketError("listen: port not assigned");
    return;
  }
  if (!FProtoAssigned) {
    plat::WSASetLastError(plat::WSAEINVAL);
    ReportSocketError("listen: protocol not assigned");
    return;
  }
  if (!FAddrAssigned) {
    plat::WSASetLastError(plat::WSAEINVAL);
    ReportSocketError("listen: address not assigned");
    return;
  }
  WSocketLoad();
  try {
    if (!FProtoResolved) {
      if (FProtoStr.size() >= 4 && LowerAscii(FProtoStr.substr(0, 4)) == "raw_") {
        FType = plat::WS_SOCK_RAW;
        FProto = WSocketResolveProto(FProtoStr.substr(4, 10));
      } else {
        FProto = WSocketResolveProto(FProtoStr);
        FType = FProto == 17 ? plat::WS_SOCK_DGRAM : plat::WS_SOCK_STREAM;
      }
      FProtoResolved = true;
    }
    if (!FPortResolved) {
      FPortNum = WSocketResolvePort(FPortStr, FProtoStr);
      Fsin.sin_port = plat::WsHtons(FPortNum);
      FPortResolved = true;
    }
    if (!FAddrResolved) {
      Fsin.sin_addr = WSocketResolveHost(FAddrStr);
      FAddrResolved = true;
    }
  } catch (const ESocketException& e) {
    RaiseSocketException("listen: " + e.Message());
    return;
  }
  FHSocket = plat::WsSocket(FAddrFormat, FType, FProto);
  if (FHSocket == INVALID_SOCKET) {
    ReportSocketError("socket");
    return;
  }
  if (FType == plat::WS_SOCK_DGRAM && FReuseAddr) {
    int on = 1;
    if (plat::WsSetSockOpt(FHSocket, plat::WS_SOL_SOCKET, plat::WS_SO_REUSEADDR, &on, sizeof on) != 0) {
      ReportSocketError("setsockopt(SO_REUSEADDR)");
      return;
    }
  }
  if (plat::WsBind(FHSocket, Fsin) != 0) {
    ReportSocketError("Bind");
    return;
  }
  SetState(wsBound);
  switch (FType) {
    case plat::WS_SOCK_STREAM:
      if (plat::WsListen(FHSocket, FListenBacklog) != 0) {
        ReportSocketError("Listen");
        return;
      }
      SetState(wsListening);
      break;
    case plat::WS_SOCK_RAW:
      if (FComponentOptions.Contains(wsoSIO_RCVALL)) {
        // Receive-all has no counterpart here.
        plat::WSASetLastError(plat::WSAEOPNOTSUPP);
        ReportSocketError("WSAIoctl(SIO_RCVALL)");
        return;
      }
      [[fallthrough]];
    case plat::WS_SOCK_DGRAM:
      if (FMultiCast) {
        std::uint32_t mreq[2];
        try {
          mreq[0] = WSocketResolveHost(FMultiCastAddrStr);
          mreq[1] = WSocketResolveHost(FAddrStr);
        } catch (const ESocketException& e) {
          RaiseSocketException("listen: " + e.Message());
          return;
        }
        if (plat::WsSetSockOpt(FHSocket, plat::WS_IPPROTO_IP, plat::WS_IP_ADD_MEMBERSHIP, mreq, sizeof mreq) != 0) {
          ReportSocketError("setsockopt(IP_ADD_MEMBERSHIP)");
          return;
        }
      }
      SetState(wsListening);
      SetState(wsConnected);
      SessionConnectedHook(0);
      break;
    default:
      RaiseSocketException("Listen: unexpected protocol.");
      return;
  }
  if (FHSocket == INVALID_SOCKET) return;
  if (plat::WSAAsyncSelect(FHSocket, FWindowHandle, WM_ASYNCSELECT, kListenMask) != 0) {
    ReportSocketError("WSAASyncSelect");
    return;
  }
  FSelectEvent = kListenMask;
  FSelectMessage = WM_ASYNCSELECT;
}

TSocket TCustomWSocket::Accept() {
  if (FState != wsListening) {
    plat::WSASetLastError(plat::WSAEINVAL);
    ReportSocketError("not a listening socket");
    return INVALID_SOCKET;
  }
  int len = sizeof Fsin;
  TSocket h = plat::WsAccept(FHSocket, &Fsin, &len);
  if (h == INVALID_SOCKET) ReportSocketError("Accept");
  return h;
}

void TCustomWSocket::Dup(TSocket NewHSocket) {
  if (NewHSocket == 0 || NewHSocket == INVALID_SOCKET) {
    plat::WSASetLastError(plat::WSAEINVAL);
    ReportSocketError("Dup");
    return;
  }
  if (FState != wsClosed) {
    int rc = FHSocket != INVALID_SOCKET ? plat::WsCloseSocket(FHSocket) : 0;
    FHSocket = INVALID_SOCKET;
    if (rc != 0) {
      ReportSocketError("Dup (closesocket)");
      return;
    }
    SetState(wsClosed);
  }
  WSocketLoad();
  FHSocket = NewHSocket;
  {
    LiveCountGuard live;
    int len = sizeof(int);
    if (plat::WsGetSockOpt(FHSocket, plat::WS_SOL_SOCKET, plat::WS_SO_SNDBUF, &FSocketSndBufSize, &len) != 0) {
      ReportSocketError("getsockopt(SO_SNDBUF)");
      return;
    }
    len = sizeof(int);
    if (plat::WsGetSockOpt(FHSocket, plat::WS_SOL_SOCKET, plat::WS_SO_RCVBUF, &FSocketRcvBufSize, &len) != 0) {
      ReportSocketError("getsockopt(SO_RCVBUF)");
      return;
    }
  }
  SetLingerOption();
  if (plat::WSAAsyncSelect(FHSocket, FWindowHandle, WM_ASYNCSELECT, kDupMask) != 0) {
    ReportSocketError("WSAAsyncSelect");
    return;
  }
  FSelectEvent = kDupMask;
  FSelectMessage = WM_ASYNCSELECT;
  SetState(wsConnected);
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

// --- sending

namespace {
// Bumped whenever a queue is discarded, so TryToSend can tell that a handler
// freed the block it was working on.
unsigned g_QueueGeneration = 0;
}  // namespace

void TCustomWSocket::QueueData(const void* Buffer, int Len) {
  if (Len <= 0 || !Buffer) return;
  std::lock_guard<std::recursive_mutex> g(SendQueueLock());
  if (FBufList.empty()) FBufList.push_back(new TBuffer(FBufSize));
  FBufferedByteCount += Len;
  const char* p = static_cast<const char*>(Buffer);
  int n = FBufList.back()->Write(p, Len);
  while (n < Len) {
    TBuffer* b = new TBuffer(FBufSize);
    FBufList.push_back(b);
    n += b->Write(p + n, Len - n);
  }
  FAllSent = false;
}

void TCustomWSocket::DiscardSendQueue() {
  std::lock_guard<std::recursive_mutex> g(SendQueueLock());
  for (TBuffer* b : FBufList) delete b;
  FBufList.clear();
  FBufferedByteCount = 0;
  ++g_QueueGeneration;
}

int TCustomWSocket::RealSend(const void* Data, int Len) {
  int n;
  if (FType == plat::WS_SOCK_DGRAM)
    n = plat::WsSendTo(FHSocket, Data, Len, FSendFlags, Fsin);
  else
    n = plat::WsSend(FHSocket, Data, Len, FSendFlags);
  if (n > 0 && OnSendData) OnSendData(this, n);
  return n;
}

void TCustomWSocket::TryToSend() {
  std::unique_lock<std::recursive_mutex> lock(SendQueueLock());
  if (FHSocket == INVALID_SOCKET || FBufList.empty()) {
    FAllSent = true;
    return;
  }
  for (;;) {
    if (FBufList.empty() || FHSocket == INVALID_SOCKET) {
      FAllSent = true;
      break;
    }
    TBuffer* b = FBufList.front();
    int len = 0;
    const char* p = b->Peek(len);
    if (len > 0) {
      int n;
      if (FType == plat::WS_SOCK_DGRAM)
        n = plat::WsSendTo(FHSocket, p, len, FSendFlags, Fsin);
      else
        n = plat::WsSend(FHSocket, p, len, FSendFlags);
      if (n == 0) break;
      if (n < 0) {
        int code = plat::WSAGetLastError();
        if (IsConnectionLevelError(code)) {
          if (CheckLogOption(loWsockErr)) DebugLog(loWsockErr, Name + " Winsock.Send failed " + std::to_string(code));
          FCloseInvoked = true;
          Close();
          TriggerSessionClosed(static_cast<std::uint16_t>(code));
          break;
        }
        if (code == plat::WSAEWOULDBLOCK) break;
        lock.unlock();
        ReportSocketError("TryToSend failed");
        return;
      }
      FBufferedByteCount -= n;
      if (FBufferedByteCount < 0) FBufferedByteCount = 0;
      // Take the bytes out before OnSendData: its handler may send more or
      // drop the queue.
      b->Remove(n);
      unsigned gen = g_QueueGeneration;
      if (OnSendData) OnSendData(this, n);
      if (gen != g_QueueGeneration) break;
      if (n < len) break;
    } else if (FBufList.size() > 1) {
      delete b;
      FBufList.pop_front();
    } else {
      FAllSent = true;
      break;
    }
  }
}

int TCustomWSocket::Send(const void* Data, int Len) {
  if (FState != wsConnected && FState != wsSocksConnected) {
    plat::WSASetLastError(plat::WSAENOTCONN);
    ReportSocketError("Send");
    return -1;
  }
  FAllSent = false;
  if (Len <= 0 || !Data)
    Len = 0;
  else
    QueueData(Data, Len);
  TryToSend();
  if (FAllSent)
    plat::PostMessage(FWindowHandle, WM_ASYNCSELECT, static_cast<plat::WPARAM>(FHSocket),
                      plat::WSAMakeSelectReplyFor(FHSocket, plat::FD_WRITE, 0));
  return Len;
}

int TCustomWSocket::SendText(const std::string& Str) {
  if (Str.empty()) return 0;
  return Send(Str.data(), static_cast<int>(Str.size()));
}

int TCustomWSocket::SendTo(const TSockAddrIn& Dest, int DestLen, const void* Data, int Len) {
  (void)DestLen;  // the record is always the 16-byte IPv4 one
  TSockAddrIn to = Dest;
  int n = plat::WsSendTo(FHSocket, Data, Len, FSendFlags, to);
  if (n > 0 && OnSendData) OnSendData(this, n);
  if (FAllSent && FType == plat::WS_SOCK_DGRAM)
    plat::PostMessage(FWindowHandle, WM_ASYNCSELECT, static_cast<plat::WPARAM>(FHSocket),
                      plat::WSAMakeSelectReplyFor(FHSocket, plat::FD_WRITE, 0));
  return n;
}

void TCustomWSocket::Flush() {
  while (FHSocket != INVALID_SOCKET && !FAllSent) {
    TryToSend();
    if (FHSocket == INVALID_SOCKET || FAllSent) break;
    plat::WaitForInput(20);
    if (FMultiThreaded && plat::ProcessOwnQueue()) FTerminated = true;
  }
}

// --- receiving

int TCustomWSocket::DoRecv(void* Buffer, int BufferSize, int Flags) {
  if (!Buffer && BufferSize > 0) {
    FLastError = plat::WSAEFAULT;
    return -1;
  }
  int n = plat::WsRecv(FHSocket, Buffer, BufferSize < 0 ? 0 : BufferSize, Flags);
  if (n < 0)
    FLastError = plat::WSAGetLastError();
  else
    FReadCount = WrapAdd(FReadCount, n);  // 32 bits, wraps on long transfers
  return n;
}

int TCustomWSocket::Receive(void* Buffer, int BufferSize) { return DoRecv(Buffer, BufferSize, 0); }

int TCustomWSocket::DoRecvFrom(void* Buffer, int BufferSize, TSockAddrIn& From, int& FromLen) {
  if (!Buffer && BufferSize > 0) {
    FLastError = plat::WSAEFAULT;
    return -1;
  }
  int n = plat::WsRecvFrom(FHSocket, Buffer, BufferSize < 0 ? 0 : BufferSize, 0, &From, &FromLen);
  if (n < 0)
    FLastError = plat::WSAGetLastError();
  else
    FReadCount = WrapAdd(FReadCount, n);  // 32 bits, wraps on long transfers
  return n;
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int BufferSize, TSockAddrIn& From, int& FromLen) {
  return DoRecvFrom(Buffer, BufferSize, From, FromLen);
}

int TCustomWSocket::GetRcvdCount() {
  unsigned long n = 0;
  if (plat::WsIoctlFionread(FHSocket, &n) == plat::SOCKET_ERROR) {
    ReportSocketError("ioctlSocket");
    return -1;
  }
  return static_cast<int>(n);
}

std::string TCustomWSocket::ReceiveText() {
  int n = GetRcvdCount();
  if (n < 0) return std::string();
  if (n == 0) n = 255;
  std::string s(static_cast<std::size_t>(n), '\0');
  int r = Receive(s.data(), n);
  if (r <= 0) return std::string();
  s.resize(static_cast<std::size_t>(r));
  return s;
}

void TCustomWSocket::Pause() {
  FPaused = true;
  if (FHSocket != INVALID_SOCKET) plat::WSAAsyncSelect(FHSocket, FWindowHandle, 0, 0);
}

void TCustomWSocket::Resume() {
  FPaused = false;
  if (FHSocket == INVALID_SOCKET) return;
  plat::WSAAsyncSelect(FHSocket, FWindowHandle, static_cast<plat::UINT>(FSelectMessage), FSelectEvent);
  // A write notification that arrived while paused was dropped: restart
  // the queue so it does not stall.
  if (!FAllSent)
    plat::PostMessage(FWindowHandle, WM_ASYNCSELECT, static_cast<plat::WPARAM>(FHSocket),
                      plat::WSAMakeSelectReplyFor(FHSocket, plat::FD_WRITE, 0));
}

void TCustomWSocket::WaitForClose() {
  while (FHSocket != INVALID_SOCKET && FState != wsClosed) {
    PumpMessages();
    if (FHSocket == INVALID_SOCKET) break;
    unsigned long pending = 0;
    if (plat::WsIoctlFionread(FHSocket, &pending) == plat::SOCKET_ERROR) break;
    if (pending > 0) TriggerDataAvailable(0);
    if (FHSocket == INVALID_SOCKET) break;
    FLastError = 0;
    char probe;
    int r = DoRecv(&probe, 0, 0);
    if (r < 1 && FLastError != plat::WSAEWOULDBLOCK) break;
    plat::WaitForInput(20);
    if (FMultiThreaded && plat::ProcessOwnQueue()) FTerminated = true;
  }
}

// --- peer and local names

std::string TCustomWSocket::GetPeerAddr() {
  if (FState != wsConnected) return "error";
  TSockAddrIn a{};
  int len = sizeof a;
  if (plat::WsGetPeerName(FHSocket, &a, &len) != 0) {
    ReportSocketError("GetPeerAddr");
    return "error";
  }
  return plat::WsInetNtoa(a.sin_addr);
}

std::string TCustomWSocket::GetPeerPort() {
  if (FState != wsConnected) return "error";
  TSockAddrIn a{};
  int len = sizeof a;
  if (plat::WsGetPeerName(FHSocket, &a, &len) != 0) {
    ReportSocketError("GetPeerPort");
    return "error";
  }
  return std::to_string(plat::WsNtohs(a.sin_port));
}

int TCustomWSocket::GetPeerName(TSockAddrIn& Name, int NameLen) {
  if (FState != wsConnected) return -1;
  return plat::WsGetPeerName(FHSocket, &Name, &NameLen);
}

int TCustomWSocket::GetSockName(TSockAddrIn& SockAddr, int& SockAddrLen) {
  return plat::WsGetSockName(FHSocket, &SockAddr, &SockAddrLen);
}

std::string TCustomWSocket::GetLocalAddrText() {
  if (FState != wsBound && FState != wsConnected && FState != wsListening) return "error";
  TSockAddrIn a{};
  int len = sizeof a;
  if (plat::WsGetSockName(FHSocket, &a, &len) != 0) return "error";
  return plat::WsInetNtoa(a.sin_addr);
}

std::string TCustomWSocket::GetLocalPortText() {
  if (FState != wsBound && FState != wsConnected && FState != wsListening) return "error";
  TSockAddrIn a{};
  int len = sizeof a;
  if (plat::WsGetSockName(FHSocket, &a, &len) != 0) return "error";
  return std::to_string(plat::WsNtohs(a.sin_port));
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

// ---------------------------------------------------------------------------
// TCustomSocksWSocket

namespace {
// Request sizes in the 128-byte area.
constexpr int kSocksArea = 128;
}  // namespace

TCustomSocksWSocket::TCustomSocksWSocket() = default;

void TCustomSocksWSocket::ResetDefaults() {
  TCustomWSocket::ResetDefaults();
  FSocksState = SocksIdle;
  FSocksServer.clear();
  FSocksPort.clear();
  FSocksLevel = "5";
  FSocksRcvdCnt = 0;
  FSocksRcvdPtr = 0;
  FSocksServerAssigned = false;
  FSocksPortAssigned = false;
}

void TCustomSocksWSocket::SetSocksLevel(const std::string& Value) {
  if (FState != wsClosed) {
    RaiseSocketException("Can't change socks level if not closed");
    return;
  }
  if (Value != "4" && Value != "5" && Value != "4A" && Value != "4a") {
    RaiseSocketException("Invalid socks level. Must be 4, 4A or 5.");
    return;
  }
  FSocksLevel = UpperAscii(Value);
}

void TCustomSocksWSocket::SetSocksServer(const std::string& Value) {
  if (FState != wsClosed) {
    RaiseSocketException("Can't change socks server if not closed");
    return;
  }
  FSocksServer = Trim(Value);
  FSocksServerAssigned = !FSocksServer.empty();
}

void TCustomSocksWSocket::SetSocksPort(const std::string& Value) {
  if (FState != wsClosed) {
    RaiseSocketException("Can't change socks port if not closed");
    return;
  }
  FSocksPort = Trim(Value);
  FSocksPortAssigned = !FSocksPort.empty();
}

void TCustomSocksWSocket::Listen() {
  if (FSocksServerAssigned) {
    RaiseSocketException("Listening is not supported thru socks server");
    return;
  }
  TCustomWSocket::Listen();
}

void TCustomSocksWSocket::Connect() {
  if (!FSocksServerAssigned) {
    TCustomWSocket::Connect();
    return;
  }
  // Refused before the negotiation state is touched: a second Connect must
  // not turn the live tunnel's data into "replies".
  if (FHSocket != INVALID_SOCKET && FState != wsClosed) {
    RaiseSocketException("Connect: Socket already in use");
    return;
  }
  std::string p = Trim(FProtoStr);
  if (LowerAscii(p) != "tcp" && p != "6") {
    RaiseSocketException("tcp is the only protocol supported thru socks server");
    return;
  }
  // Requests are built in a 128-byte area: refuse what would not fit
  // before anything goes to the proxy.
  std::string tooLong;
  if (FSocksLevel == "5") {
    if (FSocksAuthentication == socksAuthenticateUsercode &&
        3 + FSocksUsercode.size() + FSocksPassword.size() > static_cast<std::size_t>(kSocksArea))
      tooLong = "socks user code and password too long (at most 125 bytes together)";
    else if (7 + FAddrStr.size() > static_cast<std::size_t>(kSocksArea))
      tooLong = "socks destination host name too long (at most 121 bytes)";
  } else if (FSocksLevel == "4A") {
    if (10 + FSocksUsercode.size() + FAddrStr.size() > static_cast<std::size_t>(kSocksArea))
      tooLong = "socks user code and host name too long (at most 118 bytes together)";
  } else if (9 + FSocksUsercode.size() > static_cast<std::size_t>(kSocksArea)) {
    tooLong = "socks user code too long (at most 119 bytes)";
  }
  if (!tooLong.empty()) {
    TriggerSocksError(socksRequestTooLong, tooLong);
    RaiseSocketException("connect: " + tooLong);
    return;
  }
  try {
    if (!FPortResolved) {
      Fsin.sin_port = plat::WsHtons(WSocketResolvePort(FSocksPort, FProtoStr));
      FPortResolved = true;
    }
    if (!FAddrResolved) {
      Fsin.sin_addr = WSocketResolveHost(FSocksServer);
      FAddrResolved = true;
    }
    FSocksDestPort = WSocketResolvePort(FPortStr, FProtoStr);
  } catch (const ESocketException& e) {
    RaiseSocketException("connect: " + e.Message());
    return;
  }
  FSocksState = SocksAwaitMethod;
  FRcvCnt = 0;
  TCustomWSocket::Connect();
}

void TCustomSocksWSocket::SessionConnectedHook(std::uint16_t Error) {
  if (FSocksState == SocksAwaitMethod) {
    TriggerSocksConnected(Error);
    if (Error == 0) {
      if (FSocksLevel[0] == '4') {
        SocksDoConnect();
      } else {
        FSocksAuthNumber = FSocksAuthentication == socksAuthenticateUsercode ? 2 : 0;
        std::uint8_t req[3] = {5, 1, FSocksAuthNumber};
        try {
          Send(req, 3);
        } catch (...) {
        }
      }
      return;
    }
  }
  TCustomWSocket::SessionConnectedHook(Error);
}

void TCustomSocksWSocket::SocksDoConnect() {
  std::uint8_t buf[kSocksArea];
  int n = 0;
  FSocksState = SocksAwaitConnect;
  if (FSocksLevel[0] == '4') {
    std::uint32_t dest;
    if (FSocksLevel == "4A") {
      dest = plat::WsHtonl(1);  // 0.0.0.1: the proxy resolves the name
    } else {
      try {
        dest = WSocketResolveHost(FAddrStr);
      } catch (const Exception& e) {
        TriggerSocksError(socksHostResolutionFailed, e.ClassName() + " " + e.Message());
        DoClose(true, socksHostResolutionFailed);
        return;
      }
    }
    // Connect() checked that the user code (and name) fit.
    buf[n++] = 4;
    buf[n++] = 1;
    buf[n++] = static_cast<std::uint8_t>(FSocksDestPort >> 8);
    buf[n++] = static_cast<std::uint8_t>(FSocksDestPort & 0xFF);
    std::memcpy(buf + n, &dest, 4);
    n += 4;
    std::size_t room = sizeof buf - static_cast<std::size_t>(n) - 1;
    std::size_t ulen = FSocksUsercode.size() < room ? FSocksUsercode.size() : room;
    std::memcpy(buf + n, FSocksUsercode.data(), ulen);
    n += static_cast<int>(ulen);
    buf[n++] = 0;
    if (FSocksLevel == "4A") {
      room = sizeof buf - static_cast<std::size_t>(n) - 1;
      std::size_t alen = FAddrStr.size() < room ? FAddrStr.size() : room;
      std::memcpy(buf + n, FAddrStr.data(), alen);
      n += static_cast<int>(alen);
      buf[n++] = 0;
    }
  } else {
    std::size_t alen = FAddrStr.size();
    if (alen > sizeof buf - 7) alen = sizeof buf - 7;
    buf[n++] = 5;
    buf[n++] = 1;
    buf[n++] = 0;
    buf[n++] = 3;
    buf[n++] = static_cast<std::uint8_t>(alen);
    std::memcpy(buf + n, FAddrStr.data(), alen);
    n += static_cast<int>(alen);
    buf[n++] = static_cast<std::uint8_t>(FSocksDestPort >> 8);
    buf[n++] = static_cast<std::uint8_t>(FSocksDestPort & 0xFF);
  }
  try {
    Send(buf, n);
  } catch (...) {
  }
}

void TCustomSocksWSocket::SocksDoAuthenticate() {
  std::uint8_t buf[kSocksArea];
  std::size_t ulen = FSocksUsercode.size(), plen = FSocksPassword.size();
  if (3 + ulen + plen > sizeof buf) {  // checked in Connect(); never build past the area
    SocksFail(socksRequestTooLong, "socks user code and password too long (at most 125 bytes together)");
    return;
  }
  int n = 0;
  buf[n++] = 1;
  buf[n++] = static_cast<std::uint8_t>(ulen);
  std::memcpy(buf + n, FSocksUsercode.data(), ulen);
  n += static_cast<int>(ulen);
  buf[n++] = static_cast<std::uint8_t>(plen);
  std::memcpy(buf + n, FSocksPassword.data(), plen);
  n += static_cast<int>(plen);
  FSocksState = SocksAwaitAuth;
  TriggerSocksAuthState(socksAuthStart);
  try {
    Send(buf, n);
  } catch (...) {
  }
}

void TCustomSocksWSocket::SocksFail(int Code, const std::string& Msg) {
  TriggerSocksError(Code, Msg);
  FSocksState = SocksIdle;
  TCustomWSocket::SessionConnectedHook(static_cast<std::uint16_t>(Code));
  DoClose(true, static_cast<std::uint16_t>(Code));
}

bool TCustomSocksWSocket::SocksReceive(int Max) {
  if (Max <= 0) {
    // The reply does not fit the area.
    SocksFail(socksProtocolError, "too much data availaible");
    return false;
  }
  int n = Receive(FRcvBuf + FRcvCnt, Max);
  if (n < 0) {
    if (FLastError == plat::WSAEWOULDBLOCK) return false;
    int code = FLastError;
    if (FSocksState == SocksAwaitAuth) TriggerSocksAuthState(socksAuthFailure);
    SocksFail(code, "data receive error");
    return false;
  }
  if (n == 0) {
    // The proxy closed in the middle of the negotiation.
    if (FSocksState == SocksAwaitAuth) TriggerSocksAuthState(socksAuthFailure);
    SocksFail(plat::WSAECONNABORTED, "data receive error");
    return false;
  }
  FRcvCnt += n;
  return true;
}

bool TCustomSocksWSocket::TriggerDataAvailable(std::uint16_t Error) {
  if (FSocksState == SocksIdle) return TCustomWSocket::TriggerDataAvailable(Error);
  if (Error != 0) {
    SocksFail(Error, "data receive error");
    return false;
  }
  switch (FSocksState) {
    case SocksAwaitMethod: {
      if (!SocksReceive(127 - FRcvCnt)) return true;
      if (FSocksLevel[0] == '4') {
        SocksFail(socksProtocolError, "TWSocket logic error");
        return true;
      }
      if (FRcvCnt < 2) return true;
      FRcvCnt = 0;
      if (FRcvBuf[0] != 5) {
        SocksFail(socksVersionError, "socks version error");
        return true;
      }
      if (FRcvBuf[1] == 0) {
        if (FSocksAuthNumber == 2) TriggerSocksAuthState(socksAuthNotRequired);
        SocksDoConnect();
      } else if (FRcvBuf[1] == 2) {
        SocksDoAuthenticate();
      } else {
        SocksFail(socksAuthMethodError, "authentification method not acceptable");
      }
      return true;
    }
    case SocksAwaitAuth: {
      if (!SocksReceive(127 - FRcvCnt)) return true;
      if (FRcvCnt >= 1 && FRcvBuf[0] != 1) {
        SocksFail(socksVersionError, "socks version error");
        return true;
      }
      if (FRcvCnt < 2) return true;
      if (FRcvCnt == 2) {
        if (FRcvBuf[1] != 0) {
          SocksFail(socksAuthenticationFailed, "socks authentication failed");
          return true;
        }
        FRcvCnt = 0;
        TriggerSocksAuthState(socksAuthSuccess);
        SocksDoConnect();
        return true;
      }
      SocksFail(socksProtocolError, "too much data availaible");
      return true;
    }
    case SocksAwaitConnect: {
      if (FSocksLevel[0] == '4') {
        if (!SocksReceive(8 - FRcvCnt)) return true;
        if (FRcvCnt < 8) return true;
        FRcvCnt = 0;
        if (FRcvBuf[0] != 0) {
          SocksFail(socksVersionError, "socks version error");
          return true;
        }
        switch (FRcvBuf[1]) {
          case 90:
            FSocksState = SocksIdle;
            TCustomWSocket::SessionConnectedHook(0);
            if (FHSocket == INVALID_SOCKET) return true;
            return TriggerDataAvailable(0);
          case 91: SocksFail(socksRejectedOrFailed, "request rejected or failed"); break;
          case 92: SocksFail(socksConnectionRefused, "connection refused"); break;
          case 93: SocksFail(socksAuthenticationFailed, "authentification failed"); break;
          default: SocksFail(socksUnassignedError, "unassigned error #" + std::to_string(FRcvBuf[1])); break;
        }
        return true;
      }
      if (!SocksReceive(127 - FRcvCnt)) return true;
      if (FRcvCnt >= 1 && FRcvBuf[0] != 5) {
        SocksFail(socksVersionError, "socks version error");
        return true;
      }
      if (FRcvCnt >= 2 && FRcvBuf[1] != 0) {
        int code;
        std::string text;
        switch (FRcvBuf[1]) {
          case 1: code = socksGeneralFailure; text = "general SOCKS server failure"; break;
          case 2: code = socksConnectionNotAllowed; text = "connection not allowed by ruleset"; break;
          case 3: code = socksNetworkUnreachable; text = "network unreachable"; break;
          case 4: code = socksHostUnreachable; text = "host unreachable"; break;
          case 5: code = socksConnectionRefused; text = "connection refused"; break;
          case 6: code = socksTtlExpired; text = "time to live expired"; break;
          case 7: code = socksUnknownCommand; text = "command not supported"; break;
          case 8: code = socksUnknownAddressType; text = "address type not supported"; break;
          default: code = socksUnassignedError; text = "unassigned error #" + std::to_string(FRcvBuf[1]); break;
        }
        SocksFail(code, text);
        return true;
      }
      if (FRcvCnt < 5) return true;
      int need = FRcvBuf[3] == 1 ? 10 : FRcvBuf[3] == 3 ? FRcvBuf[4] + 7 : 5;
      if (need > 127) {
        SocksFail(socksProtocolError, "too much data availaible");
        return true;
      }
      if (FRcvCnt < need) return true;
      int port;
      if (FRcvBuf[3] == 1) {
        FBoundAddr = std::to_string(FRcvBuf[4]) + "." + std::to_string(FRcvBuf[5]) + "." +
                     std::to_string(FRcvBuf[6]) + "." + std::to_string(FRcvBuf[7]);
        port = (FRcvBuf[8] << 8) | FRcvBuf[9];
      } else if (FRcvBuf[3] == 3) {
        int len = FRcvBuf[4];
        FBoundAddr.assign(reinterpret_cast<const char*>(FRcvBuf + 5), static_cast<std::size_t>(len));
        port = (FRcvBuf[5 + len] << 8) | FRcvBuf[6 + len];
      } else {
        SocksFail(socksUnknownAddressType, "address type not supported");
        return true;
      }
      FBoundPort = std::to_string(port);
      FSocksState = SocksIdle;
      FSocksRcvdCnt = FRcvCnt - need;
      FSocksRcvdPtr = need;
      FRcvCnt = 0;
      TCustomWSocket::SessionConnectedHook(0);
      if (FHSocket == INVALID_SOCKET) return true;
      return TriggerDataAvailable(0);
    }
    default:
      SocksFail(socksInternalError, "internal error");
      return false;
  }
}

int TCustomSocksWSocket::GetRcvdCount() {
  if (FSocksRcvdCnt > 0) return FSocksRcvdCnt;
  return TCustomWSocket::GetRcvdCount();
}

int TCustomSocksWSocket::DoRecv(void* Buffer, int BufferSize, int Flags) {
  if (FSocksRcvdCnt > 0) {
    if (BufferSize <= 0) return 0;
    if (!Buffer) {
      FLastError = plat::WSAEFAULT;
      return -1;
    }
    int n = BufferSize < FSocksRcvdCnt ? BufferSize : FSocksRcvdCnt;
    if (FSocksRcvdPtr < 0 || FSocksRcvdPtr + n > static_cast<int>(sizeof FRcvBuf)) {  // cannot happen; never overrun
      FSocksRcvdCnt = 0;
      return TCustomWSocket::DoRecv(Buffer, BufferSize, Flags);
    }
    std::memcpy(Buffer, FRcvBuf + FSocksRcvdPtr, static_cast<std::size_t>(n));
    FSocksRcvdPtr += n;
    FSocksRcvdCnt -= n;
    return n;
  }
  return TCustomWSocket::DoRecv(Buffer, BufferSize, Flags);
}

void TCustomSocksWSocket::TriggerSessionClosed(std::uint16_t Error) {
  if (FSocksState == SocksAwaitAuth) TriggerSocksAuthState(socksAuthFailure);
  TCustomWSocket::TriggerSessionClosed(Error);
}

void TCustomSocksWSocket::TriggerSocksConnected(std::uint16_t Error) {
  if (OnSocksConnected) OnSocksConnected(this, Error);
}

void TCustomSocksWSocket::TriggerSocksError(int Error, const std::string& Msg) {
  if (OnSocksError) OnSocksError(this, Error, Msg);
}

void TCustomSocksWSocket::TriggerSocksAuthState(TSocksAuthState AuthState) {
  if (OnSocksAuthState) OnSocksAuthState(this, AuthState);
}

// ---------------------------------------------------------------------------
// TCustomLineWSocket

TCustomLineWSocket::TCustomLineWSocket() {
  FLineEnd = "\r\n";
  FLineMode = false;
  FLineLimit = 65536;
}

TCustomLineWSocket::~TCustomLineWSocket() { FreeRcvBuf(); }

void TCustomLineWSocket::GrowRcvBuf(int Needed) {
  if (Needed <= FRcvBufSize && FRcvdPtr) return;
  char* n = new char[static_cast<std::size_t>(Needed)];
  if (FRcvdPtr && FRcvdCnt > 0) std::memcpy(n, FRcvdPtr, static_cast<std::size_t>(FRcvdCnt));
  delete[] FRcvdPtr;
  FRcvdPtr = n;
  FRcvBufSize = Needed;
}

void TCustomLineWSocket::FreeRcvBuf() {
  delete[] FRcvdPtr;
  FRcvdPtr = nullptr;
  FRcvBufSize = 0;
  FRcvdCnt = 0;
  FLineLength = 0;
  FLineSearched = 0;
}

void TCustomLineWSocket::SetLineMode(bool Value) {
  if (Value == FLineMode) return;
  FLineMode = Value;
  FLineSearched = 0;  // bytes held in plain mode were never searched
  if (FRcvdCnt > 0 || FLineLength > 0) plat::PostMessage(FWindowHandle, WM_TRIGGER_DATA_AVAILABLE, 0, 0);
}

int TCustomLineWSocket::GetRcvdCount() {
  if (FLineMode) return FLineLength;
  return TCustomSocksWSocket::GetRcvdCount();
}

int TCustomLineWSocket::SendLine(const std::string& Str) {
  if (Str.empty()) return 0;
  QueueData(Str.data(), static_cast<int>(Str.size()));
  SendText(FLineEnd);
  return static_cast<int>(Str.size()) + 2;
}

plat::LRESULT TCustomLineWSocket::WndProc(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam) {
  if (Msg == WM_TRIGGER_DATA_AVAILABLE) {
    WMTriggerDataAvailable();
    return 0;
  }
  return TCustomSocksWSocket::WndProc(Msg, WParam, LParam);
}

void TCustomLineWSocket::WMTriggerDataAvailable() {
  int count = 0;
  while (FRcvdCnt > 0) {
    ++count;
    FLineFound = false;
    const int before = FRcvdCnt;
    TriggerDataAvailable(0);
    if (FRcvdCnt == 0) break;
    if (FLineMode && count > 3 && !FLineFound) break;
    // In plain mode with nobody reading, offering again would never end.
    if (!FLineMode && FRcvdCnt == before) break;
  }
}

int TCustomLineWSocket::DoRecv(void* Buffer, int BufferSize, int Flags) {
  if ((FLineMode && FLineLength > 0) || (!FLineMode && FRcvdCnt > 0)) {
    if (BufferSize <= 0) return 0;
    if (!Buffer) {
      FLastError = plat::WSAEFAULT;
      return -1;
    }
    int avail = FLineMode ? FLineLength : FRcvdCnt;
    if (avail > FRcvdCnt) avail = FRcvdCnt;  // the line lies within the held bytes
    int n = BufferSize < avail ? BufferSize : avail;
    std::memcpy(Buffer, FRcvdPtr, static_cast<std::size_t>(n));
    // Keep what is left contiguous at the front, so plain reads after a
    // switch out of line mode see the bytes in order.
    std::memmove(FRcvdPtr, FRcvdPtr + n, static_cast<std::size_t>(FRcvdCnt - n));
    FRcvdCnt -= n;
    FRcvdPtr[FRcvdCnt] = 0;
    if (FLineMode) FLineLength -= n;
    FLineSearched = 0;
    return n;
  }
  return TCustomSocksWSocket::DoRecv(Buffer, BufferSize, Flags);
}

void TCustomLineWSocket::ApplyLineEditing(int& NewCount) {
  const int held = FRcvdCnt;
  // An echo that fails closes the connection and frees the receive
  // buffer, so the new bytes are read from a copy.
  const std::string input(FRcvdPtr + held, static_cast<std::size_t>(NewCount));
  int out = held;
  int low = held;
  char* edit = nullptr;
  int editCap = 0;
  auto ensure = [&](int need) {
    if (need <= editCap) return;
    int cap = editCap;
    while (cap < need) cap += 256;
    char* n = new char[static_cast<std::size_t>(cap)];
    std::memcpy(n, edit, static_cast<std::size_t>(out));
    delete[] edit;
    edit = n;
    editCap = cap;
  };
  for (int i = 0; i < NewCount; ++i) {
    if (!FRcvdPtr) break;
    const char c = input[static_cast<std::size_t>(i)];
    if ((c == 8 || c == 9) && !edit) {
      editCap = ((held + NewCount + 256) / 256) * 256;
      edit = new char[static_cast<std::size_t>(editCap)];
      std::memcpy(edit, FRcvdPtr, static_cast<std::size_t>(out));
    }
    if (c == 8) {
      if (FLineEcho && out > 0) SendText("\b \b");
      if (out > 0) {
        --out;
        if (out < low) low = out;
      }
    } else if (c == 9) {
      do {
        ensure(out + 1);
        edit[out++] = ' ';
        if (FLineEcho) SendText(" ");
      } while (out % 8 != 0);
    } else {
      if (FLineEcho) Send(&c, 1);
      if (edit) {
        ensure(out + 1);
        edit[out] = c;
      }
      ++out;
    }
  }
  if (!FRcvdPtr) {
    delete[] edit;
    NewCount = 0;
    return;
  }
  if (edit) {
    GrowRcvBuf(out + 1);
    std::memcpy(FRcvdPtr, edit, static_cast<std::size_t>(out));
    FRcvdPtr[out] = 0;
    FRcvdCnt = low;
    NewCount = out - low;
    delete[] edit;
  }
}

bool TCustomLineWSocket::TriggerDataAvailable(std::uint16_t Error) {
  if (!FLineMode || FLineEnd.empty() || SocksNegotiating()) return TCustomSocksWSocket::TriggerDataAvailable(Error);

  int count = TCustomSocksWSocket::GetRcvdCount();
  if (count < 0) return true;
  if (count == 0) count = 255;
  GrowRcvBuf(FRcvdCnt + count + 1);
  int n = Receive(FRcvdPtr + FRcvdCnt, count);
  if (!FRcvdPtr) return true;  // closed meanwhile
  if (n <= 0) {
    if (FRcvdCnt == 0) return true;
    n = 0;
  }
  if (n > 0) {
    if (FLineEdit)
      ApplyLineEditing(n);
    else if (FLineEcho)
      Send(FRcvdPtr + FRcvdCnt, n);
    if (!FRcvdPtr) return true;  // the echo failed and closed the connection
  }
  const int endLen = static_cast<int>(FLineEnd.size());
  // Only the part already searched may be skipped, less a possible split
  // terminator; bytes held from plain mode are searched from the start.
  if (FLineSearched > FRcvdCnt) FLineSearched = FRcvdCnt;
  int searchFrom = FLineSearched - endLen;
  if (searchFrom < 0) searchFrom = 0;
  FRcvdCnt += n;
  FRcvdPtr[FRcvdCnt] = 0;

  while (FLineMode) {
    int found = -1;
    for (int i = searchFrom; i + endLen <= FRcvdCnt; ++i) {
      if (FRcvdPtr[i] == FLineEnd[0] && std::memcmp(FRcvdPtr + i, FLineEnd.data(), static_cast<std::size_t>(endLen)) == 0) {
        found = i;
        break;
      }
    }
    if (found < 0) {
      FLineSearched = FRcvdCnt;
      break;
    }
    FLineLength = found + endLen;
    FLineFound = true;
    while (FLineMode && FLineLength > 0) {
      if (!TCustomSocksWSocket::TriggerDataAvailable(0)) {
        // Nobody reads: the line is dropped.
        int drop = FLineLength;
        std::memmove(FRcvdPtr, FRcvdPtr + drop, static_cast<std::size_t>(FRcvdCnt - drop));
        FRcvdCnt -= drop;
        FLineLength = 0;
        FLineSearched = 0;
      }
      if (!FRcvdPtr) return true;  // the handler closed the connection
    }
    // Reads took the line's bytes out as they went (see DoRecv); a rest
    // left by a switch out of line mode stays in front as plain data.
    FLineLength = 0;
    FRcvdPtr[FRcvdCnt] = 0;
    while (!FLineMode && FRcvdCnt > 0) {
      if (!TCustomSocksWSocket::TriggerDataAvailable(0)) break;
      if (!FRcvdPtr) return true;
    }
    searchFrom = 0;
  }
  if (!FLineMode) return true;
  if (FLineLimit > 0 && FLineLimit < FRcvdCnt) {
    FLineClearData = true;
    TriggerLineLimitExceeded(FRcvdCnt, FLineClearData);
    if (FLineClearData) {
      FRcvdCnt = 0;
      FLineLength = 0;
      FLineSearched = 0;
      FLineClearData = false;
      if (FRcvdPtr) FRcvdPtr[0] = 0;
    }
  }
  return true;
}

void TCustomLineWSocket::TriggerLineLimitExceeded(int Cnt, bool& ClearData) {
  if (OnLineLimitExceeded) OnLineLimitExceeded(this, Cnt, ClearData);
}

void TCustomLineWSocket::TriggerSessionClosed(std::uint16_t Error) {
  if (FRcvdPtr) {
    if (FLineMode && FRcvdCnt > 0 && !FLineClearData) {
      FLineLength = FRcvdCnt;
      while (FRcvdPtr && FLineMode && FLineLength > 0) {
        if (!TCustomSocksWSocket::TriggerDataAvailable(0)) break;
      }
    }
    FreeRcvBuf();
  }
  FRcvdCnt = 0;
  FLineLength = 0;
  TCustomSocksWSocket::TriggerSessionClosed(Error);
}

// ---------------------------------------------------------------------------
// TCustomSyncWSocket

TCustomSyncWSocket::TCustomSyncWSocket() = default;

int TCustomSyncWSocket::WaitForFlag(const bool& Flag) {
  FTimeStop = plat::GetTickCount() + static_cast<std::uint32_t>(FTimeout);
  while (!Flag) {
    if (FTimeout > 0) {
      std::int32_t left = static_cast<std::int32_t>(FTimeStop - plat::GetTickCount());
      if (left <= 0) return WSA_WSOCKET_TIMEOUT;
    }
    if (plat::ApplicationTerminated() || FTerminated) return WSA_WSOCKET_TIMEOUT;
    PumpMessages();
    if (Flag) break;
    // Block for input instead of spinning; bounded so the checks above run.
    std::uint32_t slice = 20;
    if (FTimeout > 0) {
      std::int32_t left = static_cast<std::int32_t>(FTimeStop - plat::GetTickCount());
      if (left <= 0) continue;
      if (static_cast<std::uint32_t>(left) < slice) slice = static_cast<std::uint32_t>(left);
    }
    plat::WaitForInput(slice);
  }
  return 0;
}

int TCustomSyncWSocket::RunAndWait(const std::function<void()>& Proc, bool& Flag) {
  Flag = false;
  if (Proc) Proc();
  return WaitForFlag(Flag);
}

// ---------------------------------------------------------------------------

TWSocket::TWSocket() = default;
