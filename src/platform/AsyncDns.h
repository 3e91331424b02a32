// Asynchronous name lookup (WSAAsyncGetHostByName and friends): a worker
// resolves names to addresses of either family (or addresses to names) and
// posts the completion message to a window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/MessageLoop.h"
#include "platform/WinsockApi.h"

namespace plat {

using TAsyncHandle = std::uintptr_t;  // 0 is "no request"

struct THostEntry {
  std::string Name;                  // official name
  std::vector<std::string> Aliases;
  std::vector<TSockAddr> Addrs;      // in the system's order, port 0
};

// Start a lookup; on completion `msg` is posted to `wnd` with wParam = the
// request handle and lParam = WSAMakeSelectReply(0, error). Returns 0 with
// WSAGetLastError set when it cannot start.
// `family` limits the answer to WS_AF_INET or WS_AF_INET6 addresses;
// WS_AF_UNSPEC asks for both.
TAsyncHandle WSAAsyncGetHostByName(HWND wnd, UINT msg, const std::string& name, int family = WS_AF_UNSPEC);
TAsyncHandle WSAAsyncGetHostByAddr(HWND wnd, UINT msg, const TSockAddr& addr);
// 0 on success; SOCKET_ERROR with WSAEINVAL when the handle is unknown or
// its result was already taken. A cancelled request posts nothing.
int WSACancelAsyncRequest(TAsyncHandle handle);
// The result of a completed request; false when there is none. The result
// is removed.
bool WSAAsyncTakeResult(TAsyncHandle handle, THostEntry& out);

// Test hook: resolve inside the start call and deliver the completion with
// SendMessage before the handle is returned, so the caller meets a
// completion for a request it does not know yet.
void WSAAsyncSetImmediateDelivery(bool on);

}  // namespace plat
