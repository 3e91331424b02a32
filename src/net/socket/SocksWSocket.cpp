// TCustomSocksWSocket: the SOCKS 4, 4A and 5 negotiation in front of a connection.
#include <cstring>

#include "net/socket/SocksWSocket.h"
#include "net/socket/WSocketInternal.h"
#include "platform/AsciiText.h"

using namespace wsocket_internal;

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
  FSocksLevel = ascii::Upper(Value);
}

void TCustomSocksWSocket::SetSocksServer(const std::string& Value) {
  if (FState != wsClosed) {
    RaiseSocketException("Can't change socks server if not closed");
    return;
  }
  FSocksServer = ascii::Trim(Value);
  FSocksServerAssigned = !FSocksServer.empty();
}

void TCustomSocksWSocket::SetSocksPort(const std::string& Value) {
  if (FState != wsClosed) {
    RaiseSocketException("Can't change socks port if not closed");
    return;
  }
  FSocksPort = ascii::Trim(Value);
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
  // Refused before the negotiation state is touched: a second Connect must
  // not turn the live tunnel's data into "replies".
  if (FHSocket != INVALID_SOCKET && FState != wsClosed) {
    RaiseSocketException("Connect: Socket already in use");
    return;
  }
  // A proxy that could not be reached leaves its negotiation waiting when a
  // close handler connects again at once.
  FSocksState = SocksIdle;
  if (!FSocksServerAssigned) {
    TCustomWSocket::Connect();
    return;
  }
  std::string p = ascii::Trim(FProtoStr);
  if (ascii::Lower(p) != "tcp" && p != "6") {
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
  // The address record takes the proxy's address, which Addr and Port do
  // not name: they count as unresolved whenever this call returns, so that
  // a later direct connect with the same texts resolves them again.
  FAddrResolved = false;
  FPortResolved = false;
  try {
    Fsin.sin_port = plat::WsHtons(WSocketResolvePort(FSocksPort, FProtoStr));
    Fsin.sin_addr = WSocketResolveHost(FSocksServer);
    FSocksDestPort = WSocketResolvePort(FPortStr, FProtoStr);
  } catch (const ESocketException& e) {
    RaiseSocketException("connect: " + e.Message());
    return;
  }
  FSocksState = SocksAwaitMethod;
  FRcvCnt = 0;
  FAddrResolved = true;  // keeps the core on the proxy's address
  FPortResolved = true;
  TCustomWSocket::Connect();
  FAddrResolved = false;
  FPortResolved = false;
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
            return SocksTunnelUp();
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
      return SocksTunnelUp();
    }
    default:
      SocksFail(socksInternalError, "internal error");
      return false;
  }
}

bool TCustomSocksWSocket::SocksTunnelUp() {
  FSocksState = SocksIdle;
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
