// TCustomWSocket's listen, accept and dup: a stream socket waits for
// connections, a datagram or raw one is ready at once, an accepted handle
// becomes a connected socket.
#include "net/socket/CustomWSocket.h"
#include "net/socket/WSocketInternal.h"

using namespace wsocket_internal;

namespace {
constexpr long kListenMask = plat::FD_READ | plat::FD_WRITE | plat::FD_ACCEPT | plat::FD_CLOSE;  // 43
constexpr long kDupMask = plat::FD_READ | plat::FD_WRITE | plat::FD_CONNECT | plat::FD_CLOSE;    // 51
}  // namespace

bool TCustomWSocket::RefuseListen() {
  const char* missing = !FPortAssigned    ? "listen: port not assigned"
                        : !FProtoAssigned ? "listen: protocol not assigned"
                        : !FAddrAssigned  ? "listen: address not assigned"
                                          : nullptr;
  if (!missing) return false;
  plat::WSASetLastError(plat::WSAEINVAL);
  ReportSocketError(missing);
  return true;
}

bool TCustomWSocket::ListenForDatagrams() {
  if (FType == plat::WS_SOCK_RAW && FComponentOptions.Contains(wsoSIO_RCVALL)) {
    // Receive-all has no counterpart here.
    plat::WSASetLastError(plat::WSAEOPNOTSUPP);
    ReportSocketError("WSAIoctl(SIO_RCVALL)");
    return false;
  }
  if (FMultiCast) {
    std::uint32_t mreq[2];
    try {
      mreq[0] = WSocketResolveHost(FMultiCastAddrStr);
      mreq[1] = WSocketResolveHost(FAddrStr);
    } catch (const ESocketException& e) {
      RaiseSocketException("listen: " + e.Message());
      return false;
    }
    if (plat::WsSetSockOpt(FHSocket, plat::WS_IPPROTO_IP, plat::WS_IP_ADD_MEMBERSHIP, mreq, sizeof mreq) != 0) {
      ReportSocketError("setsockopt(IP_ADD_MEMBERSHIP)");
      return false;
    }
  }
  SetState(wsListening);
  SetState(wsConnected);
  SessionConnectedHook(0);
  return true;
}

void TCustomWSocket::Listen() {
  if (RefuseListen()) return;
  WSocketLoad();
  if (!ResolveEndpoint(TOpenPurpose::Listen)) return;
  if (!OpenSocket(FAddrFormat, "socket")) return;
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
    case plat::WS_SOCK_DGRAM:
      if (!ListenForDatagrams()) return;
      break;
    default:
      RaiseSocketException("Listen: unexpected protocol.");
      return;
  }
  if (FHSocket == INVALID_SOCKET) return;
  SelectEvents(kListenMask, "WSAASyncSelect");
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
  FCloseInvoked = false;
  if (!ReadBufferSizes()) return;
  SetLingerOption();
  if (!SelectEvents(kDupMask, "WSAAsyncSelect")) return;
  SetState(wsConnected);
}
