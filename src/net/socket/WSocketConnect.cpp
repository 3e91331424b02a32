// TCustomWSocket's opening of a socket: connect, listen, accept, dup and the socket options they set.
#include "net/socket/CustomWSocket.h"
#include "net/socket/WSocketInternal.h"
#include "platform/AsciiText.h"

using namespace wsocket_internal;

namespace {
constexpr long kConnectMask = plat::FD_READ | plat::FD_WRITE | plat::FD_ACCEPT | plat::FD_CONNECT | plat::FD_CLOSE;  // 59
constexpr long kListenMask = plat::FD_READ | plat::FD_WRITE | plat::FD_ACCEPT | plat::FD_CLOSE;                    // 43
constexpr long kDupMask = plat::FD_READ | plat::FD_WRITE | plat::FD_CONNECT | plat::FD_CLOSE;                      // 51
}  // namespace

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

bool TCustomWSocket::ReadBufferSizes() {
  LiveCountGuard live;
  int len = sizeof(int);
  if (plat::WsGetSockOpt(FHSocket, plat::WS_SOL_SOCKET, plat::WS_SO_SNDBUF, &FSocketSndBufSize, &len) != 0) {
    ReportSocketError("getsockopt(SO_SNDBUF)");
    return false;
  }
  len = sizeof(int);
  if (plat::WsGetSockOpt(FHSocket, plat::WS_SOL_SOCKET, plat::WS_SO_RCVBUF, &FSocketRcvBufSize, &len) != 0) {
    ReportSocketError("getsockopt(SO_RCVBUF)");
    return false;
  }
  return true;
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
  // A handler that connects again from a close notification comes here
  // before the old connection's reset: this one's close is still to report.
  FCloseInvoked = false;
  if (!ReadBufferSizes()) return;
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
    return;
  }
  // Refused at once (no route, network down, not permitted): end it the way
  // a refused connect ends, through the connect notification, so that its
  // handlers see the error and the socket closes.
  FLastError = plat::WSAGetLastError();
  SetState(wsConnecting);
  if (FHSocket != INVALID_SOCKET && FState == wsConnecting)
    plat::PostMessage(FWindowHandle, WM_ASYNCSELECT, static_cast<plat::WPARAM>(FHSocket),
                      plat::WSAMakeSelectReplyFor(FHSocket, plat::FD_CONNECT, static_cast<unsigned>(FLastError)));
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
      if (FProtoStr.size() >= 4 && ascii::Lower(FProtoStr.substr(0, 4)) == "raw_") {
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
  FCloseInvoked = false;
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
  FCloseInvoked = false;
  if (!ReadBufferSizes()) return;
  SetLingerOption();
  if (plat::WSAAsyncSelect(FHSocket, FWindowHandle, WM_ASYNCSELECT, kDupMask) != 0) {
    ReportSocketError("WSAAsyncSelect");
    return;
  }
  FSelectEvent = kDupMask;
  FSelectMessage = WM_ASYNCSELECT;
  SetState(wsConnected);
}
