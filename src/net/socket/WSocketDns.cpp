// TCustomWSocket's name lookup: forward and reverse, asynchronous through the hidden window or synchronous.
#include "net/socket/CustomWSocket.h"
#include "net/socket/WSocketInternal.h"
#include "platform/AsciiText.h"

using namespace wsocket_internal;

bool TCustomWSocket::BeginLookup(bool Valid, const char* Refusal) {
  if (!Valid) {
    RaiseSocketException(Refusal);
    TriggerDnsLookupDone(plat::WSAEINVAL);
    return false;
  }
  if (FDnsLookupHandle != 0) {
    plat::WSACancelAsyncRequest(FDnsLookupHandle);
    FDnsLookupHandle = 0;
  }
  FDnsResult.clear();
  FDnsResultList.clear();
  WSocketLoad();
  return true;
}

void TCustomWSocket::TrackLookup(const std::string& Name, plat::TAsyncHandle Handle) {
  if (Handle == 0) {
    RaiseSocketExceptionFmt("%s: can't start DNS lookup, error #%d", Name.c_str(), plat::WSAGetLastError());
    return;
  }
  FDnsLookupHandle = Handle;
  if (FDnsLookupCheckMsg) {  // the completion came before the handle was known
    FDnsLookupCheckMsg = false;
    WndProc(FDnsLookupTempMsg, FDnsLookupTempWParam, FDnsLookupTempLParam);
  }
}

bool TCustomWSocket::TakeLookupAnswer(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam,
                                      TLookupAnswer& Answer) {
  if (FDnsLookupHandle == 0) {  // kept until the handle is known
    FDnsLookupTempMsg = Msg;
    FDnsLookupTempWParam = WParam;
    FDnsLookupTempLParam = LParam;
    FDnsLookupCheckMsg = true;
    return false;
  }
  if (WParam != FDnsLookupHandle) return false;
  FDnsLookupHandle = 0;
  Answer.Error = static_cast<std::uint16_t>(plat::WSAGetSelectError(LParam));
  Answer.Have = plat::WSAAsyncTakeResult(WParam, Answer.Entry);
  return true;
}

void TCustomWSocket::DnsLookup(const std::string& HostName) {
  if (!BeginLookup(!HostName.empty(), "DNS lookup: invalid host name.")) return;
  // A numeric address needs no lookup: done inside the call.
  plat::TSockAddr literal;
  bool numeric = false;
  if (IsDottedQuad(HostName)) {
    const std::uint32_t a = plat::WsInetAddr(ascii::Trim(HostName));
    literal = plat::TSockAddr::FromV4(a);
    numeric = a != plat::WS_INADDR_NONE;  // all ones goes to the lookup
  } else if (HostName.find(':') != std::string::npos) {
    numeric = plat::WsParseAddr(ascii::Trim(HostName), literal);
  }
  if (numeric) {
    if (FAddrFamily != plat::WS_AF_UNSPEC && FAddrFamily != literal.Family) {
      TriggerDnsLookupDone(plat::WSANO_DATA);
      return;
    }
    FDnsResult = plat::WsAddrText(literal);
    FDnsResultList.push_back(FDnsResult);
    TriggerDnsLookupDone(0);
    return;
  }
  if (FWindowHandle == 0) {
    RaiseSocketException("DnsLookup: Window not assigned");
    return;
  }
  FDnsLookupCheckMsg = false;
  TrackLookup(HostName, plat::WSAAsyncGetHostByName(FWindowHandle, WM_ASYNCGETHOSTBYNAME, HostName, FAddrFamily));
}

void TCustomWSocket::WMAsyncGetHostByName(plat::WPARAM WParam, plat::LPARAM LParam) {
  TLookupAnswer a;
  if (!TakeLookupAnswer(WM_ASYNCGETHOSTBYNAME, WParam, LParam, a)) return;
  if (a.Error == 0 && a.Have) {
    LiveCountGuard live;
    for (const plat::TSockAddr& addr : plat::InterleaveFamilies(a.Entry.Addrs))
      FDnsResultList.push_back(plat::WsAddrText(addr));
    if (!FDnsResultList.empty()) FDnsResult = FDnsResultList.front();
  }
  TriggerDnsLookupDone(a.Error);
}

void TCustomWSocket::FillDnsResultsByAddr(const plat::THostEntry& Entry) {
  FDnsResult = Entry.Name;
  FDnsResultList.push_back(Entry.Name);
  for (const std::string& a : Entry.Aliases)
    if (!a.empty()) FDnsResultList.push_back(a);
}

void TCustomWSocket::WMAsyncGetHostByAddr(plat::WPARAM WParam, plat::LPARAM LParam) {
  TLookupAnswer a;
  if (!TakeLookupAnswer(WM_ASYNCGETHOSTBYADDR, WParam, LParam, a)) return;
  if (a.Error == 0 && a.Have) FillDnsResultsByAddr(a.Entry);
  TriggerDnsLookupDone(a.Error);
}

namespace {
// An IPv6 text as such; anything else as inet_addr reads it.
plat::TSockAddr ReverseLookupAddr(const std::string& HostAddr) {
  plat::TSockAddr a;
  if (HostAddr.find(':') != std::string::npos && plat::WsParseAddr(ascii::Trim(HostAddr), a)) return a;
  return plat::TSockAddr::FromV4(plat::WsInetAddr(HostAddr));
}
}  // namespace

void TCustomWSocket::ReverseDnsLookup(const std::string& HostAddr) {
  if (!BeginLookup(!HostAddr.empty() && HostAddr.size() <= 256, "ReverseDnsLookup: Invalid host name.")) return;
  const plat::TSockAddr a = ReverseLookupAddr(HostAddr);
  if (FWindowHandle == 0) {
    RaiseSocketException("ReverseDnsLookup: Window not assigned");
    return;
  }
  FDnsLookupCheckMsg = false;
  TrackLookup(HostAddr, plat::WSAAsyncGetHostByAddr(FWindowHandle, WM_ASYNCGETHOSTBYADDR, a));
}

void TCustomWSocket::ReverseDnsLookupSync(const std::string& HostAddr) {
  if (!BeginLookup(!HostAddr.empty() && HostAddr.size() <= 256, "ReverseDnsLookup: Invalid host name.")) return;
  const plat::TSockAddr a = ReverseLookupAddr(HostAddr);
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
