// TCustomWSocket's steps shared by connect, listen and dup: resolving the
// remote texts, opening the system socket, the socket options, the local bind
// and the choice of notifications.
#include "net/socket/CustomWSocket.h"
#include "net/socket/WSocketInternal.h"
#include "platform/AsciiText.h"

using namespace wsocket_internal;

namespace {

struct TProtoAndType {
  int Proto;
  int Type;
};

// A connect takes any protocol but TCP and UDP as raw; a listen takes raw
// only when asked for as "raw_NAME", and any protocol but UDP as a stream.
TProtoAndType ResolveProtoAndType(const std::string& ProtoStr, bool ForListen) {
  if (!ForListen) {
    int proto = WSocketResolveProto(ProtoStr);
    return {proto, proto == 6 ? plat::WS_SOCK_STREAM : proto == 17 ? plat::WS_SOCK_DGRAM : plat::WS_SOCK_RAW};
  }
  if (ProtoStr.size() >= 4 && ascii::Lower(ProtoStr.substr(0, 4)) == "raw_")
    return {WSocketResolveProto(ProtoStr.substr(4, 10)), plat::WS_SOCK_RAW};
  int proto = WSocketResolveProto(ProtoStr);
  return {proto, proto == 17 ? plat::WS_SOCK_DGRAM : plat::WS_SOCK_STREAM};
}

}  // namespace

bool TCustomWSocket::ResolveEndpoint(TOpenPurpose Purpose) {
  const bool connecting = Purpose == TOpenPurpose::Connect;
  try {
    if (!FProtoResolved) {
      const TProtoAndType pt = ResolveProtoAndType(FProtoStr, !connecting);
      FProto = pt.Proto;
      FType = pt.Type;
      FProtoResolved = true;
    }
    if (!FPortResolved) {
      FPortNum = WSocketResolvePort(FPortStr, FProtoStr);
      Fsin.sin_port = plat::WsHtons(FPortNum);
      FPortResolved = true;
    }
    if (connecting && !FLocalPortResolved) {  // a listen binds Port itself
      FLocalPortNum = WSocketResolvePort(FLocalPortStr, FProtoStr);
      FLocalPortResolved = true;
    }
    if (!FAddrResolved) {
      Fsin.sin_addr = WSocketResolveHost(FAddrStr);
      FAddrResolved = true;
    }
  } catch (const ESocketException& e) {
    RaiseSocketException((connecting ? "connect: " : "listen: ") + e.Message());
    return false;
  }
  return true;
}

bool TCustomWSocket::OpenSocket(int Family, const std::string& Operation) {
  FHSocket = plat::WsSocket(Family, FType, FProto);
  if (FHSocket == INVALID_SOCKET) {
    ReportSocketError(Operation);
    return false;
  }
  // A handler that connects again from a close notification comes here
  // before the old connection's reset: this one's close is still to report.
  FCloseInvoked = false;
  return true;
}

bool TCustomWSocket::SelectEvents(long Mask, const std::string& Operation) {
  if (plat::WSAAsyncSelect(FHSocket, FWindowHandle, WM_ASYNCSELECT, Mask) != 0) {
    ReportSocketError(Operation);
    return false;
  }
  FSelectEvent = Mask;
  FSelectMessage = WM_ASYNCSELECT;
  return true;
}

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
