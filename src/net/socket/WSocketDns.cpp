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
  if (IsDottedQuad(HostName)) {
    std::uint32_t a = plat::WsInetAddr(ascii::Trim(HostName));
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
  TrackLookup(HostName, plat::WSAAsyncGetHostByName(FWindowHandle, WM_ASYNCGETHOSTBYNAME, HostName));
}

void TCustomWSocket::WMAsyncGetHostByName(plat::WPARAM WParam, plat::LPARAM LParam) {
  TLookupAnswer a;
  if (!TakeLookupAnswer(WM_ASYNCGETHOSTBYNAME, WParam, LParam, a)) return;
  if (a.Error == 0 && a.Have) {
    LiveCountGuard live;
    for (std::uint32_t addr : a.Entry.Addrs) FDnsResultList.push_back(plat::WsInetNtoa(addr));
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

void TCustomWSocket::ReverseDnsLookup(const std::string& HostAddr) {
  if (!BeginLookup(!HostAddr.empty() && HostAddr.size() <= 256, "ReverseDnsLookup: Invalid host name.")) return;
  std::uint32_t a = plat::WsInetAddr(HostAddr);
  if (FWindowHandle == 0) {
    RaiseSocketException("ReverseDnsLookup: Window not assigned");
    return;
  }
  FDnsLookupCheckMsg = false;
  TrackLookup(HostAddr, plat::WSAAsyncGetHostByAddr(FWindowHandle, WM_ASYNCGETHOSTBYADDR, a));
}

void TCustomWSocket::ReverseDnsLookupSync(const std::string& HostAddr) {
  if (!BeginLookup(!HostAddr.empty() && HostAddr.size() <= 256, "ReverseDnsLookup: Invalid host name.")) return;
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
