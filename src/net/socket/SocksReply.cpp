// TCustomSocksWSocket's reading of the proxy's replies: one handler per
// negotiation state, the failures they end in, and the bytes that came
// with the last reply.
#include <cstring>

#include "net/socket/SocksWSocket.h"

namespace {

struct TSocksRefusal {
  int Code;
  std::string Text;
};

TSocksRefusal Socks4Refusal(std::uint8_t Reply) {
  switch (Reply) {
    case 91: return {socksRejectedOrFailed, "request rejected or failed"};
    case 92: return {socksConnectionRefused, "connection refused"};
    case 93: return {socksAuthenticationFailed, "authentification failed"};
    default: return {socksUnassignedError, "unassigned error #" + std::to_string(Reply)};
  }
}

TSocksRefusal Socks5Refusal(std::uint8_t Reply) {
  switch (Reply) {
    case 1: return {socksGeneralFailure, "general SOCKS server failure"};
    case 2: return {socksConnectionNotAllowed, "connection not allowed by ruleset"};
    case 3: return {socksNetworkUnreachable, "network unreachable"};
    case 4: return {socksHostUnreachable, "host unreachable"};
    case 5: return {socksConnectionRefused, "connection refused"};
    case 6: return {socksTtlExpired, "time to live expired"};
    case 7: return {socksUnknownCommand, "command not supported"};
    case 8: return {socksUnknownAddressType, "address type not supported"};
    default: return {socksUnassignedError, "unassigned error #" + std::to_string(Reply)};
  }
}

// A SOCKS 5 reply's whole length by its address type (and, for a name, the
// name's length byte); an unknown type counts only the 5 bytes read to see it.
int Socks5ReplyLength(std::uint8_t AddressType, std::uint8_t NameLength) {
  switch (AddressType) {
    case 1: return 10;
    case 3: return NameLength + 7;
    default: return 5;
  }
}

}  // namespace

void TCustomSocksWSocket::SocksFail(int Code, const std::string& Msg) {
  TriggerSocksError(Code, Msg);
  SetSocksState(SocksIdle);
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
    case SocksAwaitMethod:
      return SocksMethodReply();
    case SocksAwaitAuth:
      return SocksAuthReply();
    case SocksAwaitConnect4:
      return SocksConnectReply4();
    case SocksAwaitConnect5:
      return SocksConnectReply5();
    default:
      SocksFail(socksInternalError, "internal error");
      return false;
  }
}

bool TCustomSocksWSocket::SocksMethodReply() {
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

bool TCustomSocksWSocket::SocksAuthReply() {
  if (!SocksReceive(127 - FRcvCnt)) return true;
  if (FRcvCnt >= 1 && FRcvBuf[0] != 1) {
    SocksFail(socksVersionError, "socks version error");
    return true;
  }
  if (FRcvCnt < 2) return true;
  if (FRcvCnt > 2) {
    SocksFail(socksProtocolError, "too much data availaible");
    return true;
  }
  if (FRcvBuf[1] != 0) {
    SocksFail(socksAuthenticationFailed, "socks authentication failed");
    return true;
  }
  FRcvCnt = 0;
  TriggerSocksAuthState(socksAuthSuccess);
  SocksDoConnect();
  return true;
}

bool TCustomSocksWSocket::SocksConnectReply4() {
  if (!SocksReceive(8 - FRcvCnt)) return true;
  if (FRcvCnt < 8) return true;
  FRcvCnt = 0;
  if (FRcvBuf[0] != 0) {
    SocksFail(socksVersionError, "socks version error");
    return true;
  }
  if (FRcvBuf[1] == 90) return SocksTunnelUp();
  const TSocksRefusal r = Socks4Refusal(FRcvBuf[1]);
  SocksFail(r.Code, r.Text);
  return true;
}

bool TCustomSocksWSocket::SocksConnectReply5() {
  if (!SocksReceive(127 - FRcvCnt)) return true;
  if (FRcvCnt >= 1 && FRcvBuf[0] != 5) {
    SocksFail(socksVersionError, "socks version error");
    return true;
  }
  if (FRcvCnt >= 2 && FRcvBuf[1] != 0) {
    const TSocksRefusal r = Socks5Refusal(FRcvBuf[1]);
    SocksFail(r.Code, r.Text);
    return true;
  }
  if (FRcvCnt < 5) return true;
  const int need = Socks5ReplyLength(FRcvBuf[3], FRcvBuf[4]);
  if (need > 127) {
    SocksFail(socksProtocolError, "too much data availaible");
    return true;
  }
  if (FRcvCnt < need) return true;
  if (!TakeBoundAddress(need)) {
    SocksFail(socksUnknownAddressType, "address type not supported");
    return true;
  }
  FSocksRcvdCnt = FRcvCnt - need;
  FSocksRcvdPtr = need;
  FRcvCnt = 0;
  return SocksTunnelUp();
}

bool TCustomSocksWSocket::TakeBoundAddress(int Length) {
  if (FRcvBuf[3] == 1) {
    FBoundAddr = std::to_string(FRcvBuf[4]) + "." + std::to_string(FRcvBuf[5]) + "." + std::to_string(FRcvBuf[6]) +
                 "." + std::to_string(FRcvBuf[7]);
  } else if (FRcvBuf[3] == 3) {
    FBoundAddr.assign(reinterpret_cast<const char*>(FRcvBuf + 5), static_cast<std::size_t>(FRcvBuf[4]));
  } else {
    return false;
  }
  FBoundPort = std::to_string((FRcvBuf[Length - 2] << 8) | FRcvBuf[Length - 1]);
  return true;
}

bool TCustomSocksWSocket::SocksTunnelUp() {
  SetSocksState(SocksIdle);
  const TConnectionId conn = CurrentConnection();
  SessionConnectedHook(0);  // a layer above may start its own session (TLS)
  if (!IsCurrent(conn)) return true;  // the handler closed or replaced the connection
  return TriggerDataAvailable(0);
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
