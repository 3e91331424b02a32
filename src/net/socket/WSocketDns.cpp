// TCustomWSocket's name lookup: forward and reverse, asynchronous through the hidden window or synchronous.
#include "net/socket/CustomWSocket.h"
#include "net/socket/WSocketInternal.h"

using namespace wsocket_internal;

void TCustomWSocket::DnsLookup(const std::string& HostName) {
  if (HostName.empty()) {
    RaiseSocketException("DNS lookup: invalid host name.");
    TriggerDnsLookupDone(plat::WSAEINVAL);
    return;
  }
  if (FDnsLookupHandle != 0) {
    plat::WSACancelAsyncRequest(FDnsLookupHandle);
    FDnsLookupHandle = 0;
  }
  FDnsResult.clear();
  FDnsResultList.clear();
  WSocketLoad();
  if (IsDottedQuad(HostName)) {
    std::uint32_t a = plat::WsInetAddr(Trim(HostName));
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
  plat::TAsyncHandle h = plat::WSAAsyncGetHostByName(FWindowHandle, WM_ASYNCGETHOSTBYNAME, HostName);
  if (h == 0) {
    RaiseSocketExceptionFmt("%s: can't start DNS lookup, error #%d", HostName.c_str(), plat::WSAGetLastError());
    return;
  }
  FDnsLookupHandle = h;
  if (FDnsLookupCheckMsg) {  // the completion came before the handle was known
    FDnsLookupCheckMsg = false;
    WndProc(FDnsLookupTempMsg, FDnsLookupTempWParam, FDnsLookupTempLParam);
  }
}

void TCustomWSocket::WMAsyncGetHostByName(plat::WPARAM WParam, plat::LPARAM LParam) {
  if (FDnsLookupHandle == 0) {
    FDnsLookupTempMsg = WM_ASYNCGETHOSTBYNAME;
    FDnsLookupTempWParam = WParam;
    FDnsLookupTempLParam = LParam;
    FDnsLookupCheckMsg = true;
    return;
  }
  if (WParam != FDnsLookupHandle) return;
  FDnsLookupHandle = 0;
  const auto err = static_cast<std::uint16_t>(plat::WSAGetSelectError(LParam));
  plat::THostEntry e;
  bool have = plat::WSAAsyncTakeResult(WParam, e);
  if (err == 0 && have) {
    LiveCountGuard live;
    for (std::uint32_t a : e.Addrs) FDnsResultList.push_back(plat::WsInetNtoa(a));
    if (!FDnsResultList.empty()) FDnsResult = FDnsResultList.front();
  }
  TriggerDnsLookupDone(err);
}

void TCustomWSocket::FillDnsResultsByAddr(const plat::THostEntry& Entry) {
  FDnsResult = Entry.Name;
  FDnsResultList.push_back(Entry.Name);
  for (const std::string& a : Entry.Aliases)
    if (!a.empty()) FDnsResultList.push_back(a);
}

void TCustomWSocket::WMAsyncGetHostByAddr(plat::WPARAM WParam, plat::LPARAM LParam) {
  if (FDnsLookupHandle == 0) {
    FDnsLookupTempMsg = WM_ASYNCGETHOSTBYADDR;
    FDnsLookupTempWParam = WParam;
    FDnsLookupTempLParam = LParam;
    FDnsLookupCheckMsg = true;
    return;
  }
  if (WParam != FDnsLookupHandle) return;
  FDnsLookupHandle = 0;
  const auto err = static_cast<std::uint16_t>(plat::WSAGetSelectError(LParam));
  plat::THostEntry e;
  bool have = plat::WSAAsyncTakeResult(WParam, e);
  if (err == 0 && have) FillDnsResultsByAddr(e);
  TriggerDnsLookupDone(err);
}

void TCustomWSocket::ReverseDnsLookup(const std::string& HostAddr) {
  if (HostAddr.empty() || HostAddr.size() > 256) {
    RaiseSocketException("ReverseDnsLookup: Invalid host name.");
    TriggerDnsLookupDone(plat::WSAEINVAL);
    return;
  }
  if (FDnsLookupHandle != 0) {
    plat::WSACancelAsyncRequest(FDnsLookupHandle);
    FDnsLookupHandle = 0;
  }
  FDnsResult.clear();
  FDnsResultList.clear();
  WSocketLoad();
  std::uint32_t a = plat::WsInetAddr(HostAddr);
  if (FWindowHandle == 0) {
    RaiseSocketException("ReverseDnsLookup: Window not assigned");
    return;
  }
  FDnsLookupCheckMsg = false;
  plat::TAsyncHandle h = plat::WSAAsyncGetHostByAddr(FWindowHandle, WM_ASYNCGETHOSTBYADDR, a);
  if (h == 0) {
    RaiseSocketExceptionFmt("%s: can't start DNS lookup, error #%d", HostAddr.c_str(), plat::WSAGetLastError());
    return;
  }
  FDnsLookupHandle = h;
  if (FDnsLookupCheckMsg) {
    FDnsLookupCheckMsg = false;
    WndProc(FDnsLookupTempMsg, FDnsLookupTempWParam, FDnsLookupTempLParam);
  }
}

void TCustomWSocket::ReverseDnsLookupSync(const std::string& HostAddr) {
  if (HostAddr.empty() || HostAddr.size() > 256) {
    RaiseSocketException("ReverseDnsLookup: Invalid host name.");
    TriggerDnsLookupDone(plat::WSAEINVAL);
    return;
  }
  if (FDnsLookupHandle != 0) {
    plat::WSACancelAsyncRequest(FDnsLookupHandle);
    FDnsLookupHandle = 0;
  }
  FDnsResult.clear();
  FDnsResultList.clear();
  WSocketLoad();
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
