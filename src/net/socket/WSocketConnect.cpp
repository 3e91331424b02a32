// TCustomWSocket's connect: the refusals, the options of a datagram or a
// stream socket and the start of the connection.
#include "net/socket/CustomWSocket.h"
#include "net/socket/WSocketInternal.h"

using namespace wsocket_internal;

bool TCustomWSocket::RefuseConnect() {
  if (FHSocket != INVALID_SOCKET && FState != wsClosed) {
    RaiseSocketException("Connect: Socket already in use");
    return true;
  }
  if (!FPortAssigned) {
    RaiseSocketException("Connect: No Port Specified");
    return true;
  }
  if (!FAddrAssigned) {
    RaiseSocketException("Connect: No IP Address Specified");
    return true;
  }
  if (!FProtoAssigned) {
    RaiseSocketException("Connect: No Protocol Specified");
    return true;
  }
  return false;
}

bool TCustomWSocket::SetDatagramOptions() {
  BindLocal();
  if (FMultiCast) {
    if (FMultiCastIpTTL != 1) {
      int ttl = FMultiCastIpTTL;
      if (plat::WsSetSockOpt(FHSocket, plat::WS_IPPROTO_IP, plat::WS_IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
        ReportSocketError("setsockopt(IP_MULTICAST_TTL)");
        return false;
      }
    }
    if (FLocalAddr != "0.0.0.0") {
      std::uint32_t ifAddr = WSocketResolveHost(FLocalAddr);
      if (plat::WsSetSockOpt(FHSocket, plat::WS_IPPROTO_IP, plat::WS_IP_MULTICAST_IF, &ifAddr, sizeof ifAddr) !=
          0) {
        ReportSocketError("setsockopt(IP_MULTICAST_IF)");
        return false;
      }
    }
  }
  if (!Fsin.IsV6() && Fsin.V4() == plat::WS_INADDR_NONE) {
    int on = 1;
    if (plat::WsSetSockOpt(FHSocket, plat::WS_SOL_SOCKET, plat::WS_SO_BROADCAST, &on, sizeof on) != 0) {
      ReportSocketError("setsockopt(SO_BROADCAST)");
      return false;
    }
  }
  return true;
}

bool TCustomWSocket::SetStreamOptions() {
  int on = 1;
  if (plat::WsSetSockOpt(FHSocket, plat::WS_SOL_SOCKET, plat::WS_SO_REUSEADDR, &on, sizeof on) != 0) {
    ReportSocketError("setsockopt(SO_REUSEADDR)");
    return false;
  }
  if (FComponentOptions.Contains(wsoTcpNoDelay)) {
    if (plat::WsSetSockOpt(FHSocket, plat::WS_IPPROTO_TCP, plat::WS_TCP_NODELAY, &on, sizeof on) != 0) {
      ReportSocketError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
      return false;
    }
  }
  SetLingerOption();
  SetKeepAliveOption();
  if (FLocalPortNum != 0 || FLocalAddr != "0.0.0.0") BindLocal();
  return true;
}

void TCustomWSocket::StartConnect() {
  if (CheckLogOption(loWsockInfo)) DebugLog(loWsockInfo, "TWSocket will connect to " + EndpointText(Fsin));
  int rc = plat::WsConnect(FHSocket, Fsin);
  if (rc == 0 || plat::WSAGetLastError() == plat::WSAEWOULDBLOCK) {
    SetState(wsConnecting);
    StartRace();
    return;
  }
  // Refused at once (no route, network down, not permitted): end it the way
  // a refused connect ends, through the connect notification, so that its
  // handlers see the error and the socket closes.
  FLastError = plat::WSAGetLastError();
  SetState(wsConnecting);
  StartRace();
  if (FHSocket != INVALID_SOCKET && FState == wsConnecting)
    plat::PostMessage(FWindowHandle, WM_ASYNCSELECT, static_cast<plat::WPARAM>(FHSocket),
                      plat::WSAMakeSelectReplyFor(FHSocket, plat::FD_CONNECT, static_cast<unsigned>(FLastError)));
}

void TCustomWSocket::Connect() {
  if (RefuseConnect()) return;
  WSocketLoad();
  if (!ResolveEndpoint(TOpenPurpose::Connect)) return;
  DiscardSendQueue();
  if (!OpenSocket(FAddrFormat, "Connect (socket)")) return;
  if (!ReadBufferSizes()) return;
  SetState(wsOpened);
  if (FState != wsOpened) {
    plat::WSASetLastError(plat::WSAEINVAL);
    ReportSocketError("Connect (Invalid operation in OnChangeState)");
    return;
  }
  const bool datagram = FType == plat::WS_SOCK_DGRAM;
  if (!(datagram ? SetDatagramOptions() : SetStreamOptions())) return;
  if (FHSocket == INVALID_SOCKET) return;  // an option failure closed it
  if (!SelectEvents(kConnectMask, "WSAAsyncSelect")) return;
  if (datagram) {
    SetState(wsConnected);
    SessionConnectedHook(0);
    return;
  }
  StartConnect();
}
