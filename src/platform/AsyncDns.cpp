#include "platform/AsyncDns.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/SocketNotify.h"

namespace plat {
namespace {

struct Request {
  TAsyncHandle handle = 0;
  HWND wnd = 0;
  UINT msg = 0;
  bool byName = true;
  std::string name;
  int family = WS_AF_UNSPEC;
  TSockAddr addr;
  bool done = false;
  int error = 0;
  THostEntry result;
};

// Never destroyed: a lookup thread may still finish while the process exits.
std::mutex& g_lookupMutex = *new std::mutex;
std::map<TAsyncHandle, std::shared_ptr<Request>>& g_requests = *new std::map<TAsyncHandle, std::shared_ptr<Request>>;
std::atomic<TAsyncHandle> g_next{1};
std::atomic<bool> g_immediate{false};

void Resolve(Request& r) {
  if (r.byName) {
    r.error = WsGetAddrInfo(r.name, r.family, r.result.Addrs);
    if (r.error == 0) r.result.Name = r.name;
  } else {
    r.error = WsGetHostByAddr(r.addr, r.result.Name, r.result.Aliases);
    if (r.error == 0) r.result.Addrs.push_back(r.addr);
  }
}

// Marks the request done and tells its window, unless it was cancelled.
void Complete(const std::shared_ptr<Request>& r, bool viaSend) {
  {
    std::lock_guard<std::mutex> lock(g_lookupMutex);
    auto it = g_requests.find(r->handle);
    if (it == g_requests.end() || it->second != r) return;  // cancelled
    r->done = true;
  }
  LPARAM l = WSAMakeSelectReply(0, static_cast<unsigned>(r->error));
  if (viaSend)
    SendMessage(r->wnd, r->msg, r->handle, l);
  else
    PostMessage(r->wnd, r->msg, r->handle, l);
}

TAsyncHandle Start(std::shared_ptr<Request> r) {
  if (!IsWindow(r->wnd)) {
    WSASetLastError(WSAEINVAL);
    return 0;
  }
  r->handle = g_next.fetch_add(1);
  {
    std::lock_guard<std::mutex> lock(g_lookupMutex);
    g_requests[r->handle] = r;
  }
  if (g_immediate.load()) {
    Resolve(*r);
    Complete(r, true);
    return r->handle;
  }
  try {
    std::thread([r] {
      Resolve(*r);
      Complete(r, false);
    }).detach();
  } catch (...) {
    std::lock_guard<std::mutex> lock(g_lookupMutex);
    g_requests.erase(r->handle);
    WSASetLastError(WSAENOBUFS);
    return 0;
  }
  return r->handle;
}

}  // namespace

TAsyncHandle WSAAsyncGetHostByName(HWND wnd, UINT msg, const std::string& name, int family) {
  auto r = std::make_shared<Request>();
  r->wnd = wnd;
  r->msg = msg;
  r->byName = true;
  r->name = name;
  r->family = family;
  return Start(std::move(r));
}

TAsyncHandle WSAAsyncGetHostByAddr(HWND wnd, UINT msg, const TSockAddr& addr) {
  auto r = std::make_shared<Request>();
  r->wnd = wnd;
  r->msg = msg;
  r->byName = false;
  r->addr = addr;
  return Start(std::move(r));
}

int WSACancelAsyncRequest(TAsyncHandle handle) {
  std::lock_guard<std::mutex> lock(g_lookupMutex);
  auto it = g_requests.find(handle);
  if (it == g_requests.end()) {
    WSASetLastError(WSAEINVAL);
    return SOCKET_ERROR;
  }
  // A completion already posted then finds no result and is ignored.
  g_requests.erase(it);
  return 0;
}

bool WSAAsyncTakeResult(TAsyncHandle handle, THostEntry& out) {
  std::lock_guard<std::mutex> lock(g_lookupMutex);
  auto it = g_requests.find(handle);
  if (it == g_requests.end() || !it->second->done) return false;
  out = std::move(it->second->result);
  g_requests.erase(it);
  return true;
}

void WSAAsyncSetImmediateDelivery(bool on) { g_immediate.store(on); }

}  // namespace plat
