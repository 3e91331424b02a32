// TCustomWSocket's properties: remote and local address texts, library version, send flags, queue inspection, peer and local names.
#include "net/socket/CustomWSocket.h"
#include "net/socket/WSocketInternal.h"
#include "platform/AsciiText.h"

using namespace wsocket_internal;

// Addr, Port and Proto: trimmed, refused while open, resolved again on use.
bool TCustomWSocket::AssignRemoteText(const char* Name, const std::string& Value, std::string& Text,
                                      bool& Assigned, bool& Resolved) {
  std::string s = ascii::Trim(Value);
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
  std::string s = ascii::Trim(Value);
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
