// TCustomSocksWSocket: the SOCKS 4, 4A and 5 negotiation in front of a connection: the settings, the checks
// before connecting and the requests sent (SocksReply.cpp reads the replies).
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
  SetSocksState(SocksIdle);
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
  SetSocksState(SocksIdle);
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
  SetSocksState(SocksAwaitMethod);
  FRcvCnt = 0;
  FAddrResolved = true;  // keeps the core on the proxy's address
  FPortResolved = true;
  TCustomWSocket::Connect();
  FAddrResolved = false;
  FPortResolved = false;
}

void TCustomSocksWSocket::SetSocksState(TSocksState State) { FSocksState = State; }

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
  SetSocksState(FSocksLevel[0] == '4' ? SocksAwaitConnect4 : SocksAwaitConnect5);
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
  SetSocksState(SocksAwaitAuth);
  TriggerSocksAuthState(socksAuthStart);
  try {
    Send(buf, n);
  } catch (...) {
  }
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
