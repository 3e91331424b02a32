// Window-message notification of socket events (WSAAsyncSelect) on top of
// Qt socket notifiers, for the sockets opened through WinsockApi.h.
#pragma once

#include <cstdint>

#include "platform/MessageLoop.h"
#include "platform/WinsockApi.h"

namespace plat {

// Notification event bits, low word of the notification's long parameter.
constexpr long FD_READ = 1;
constexpr long FD_WRITE = 2;
constexpr long FD_OOB = 4;
constexpr long FD_ACCEPT = 8;
constexpr long FD_CONNECT = 16;
constexpr long FD_CLOSE = 32;

inline LPARAM WSAMakeSelectReply(unsigned event, unsigned error) {
  return static_cast<LPARAM>((static_cast<std::uint32_t>(error & 0xFFFF) << 16) | (event & 0xFFFF));
}
inline unsigned WSAGetSelectEvent(LPARAM l) { return static_cast<unsigned>(l) & 0xFFFF; }
inline unsigned WSAGetSelectError(LPARAM l) { return (static_cast<std::uint32_t>(l) >> 16) & 0xFFFF; }
// Descriptor numbers are reused at once on this platform, so notifications
// also carry, above the low 32 bits, the serial of the socket they are for;
// 0 means "not tagged".
static_assert(sizeof(LPARAM) >= 8, "notification serials need a 64-bit long parameter");
inline std::uint32_t WSAGetSelectSerial(LPARAM l) {
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(l) >> 32);
}

// Registers window-message notification for `s`: `msg` is posted to `wnd`
// with wParam = the socket and lParam = WSAMakeSelectReply(bit, error).
// Windows re-arming: one FD_READ until the next receive call, FD_ACCEPT until
// the next accept, FD_WRITE after connect and after a send that would block,
// FD_CONNECT and FD_CLOSE once. A mask of 0 (or msg 0) cancels notification;
// messages already posted stay in the queue. Must be called on the thread
// that owns `wnd`.
int WSAAsyncSelect(TSocket s, HWND wnd, UINT msg, long mask);

// The serial of the open socket `s` (unique for the process), 0 if none.
std::uint32_t WsSocketSerial(TSocket s);
// A notification long parameter tagged with the serial of `s`.
LPARAM WSAMakeSelectReplyFor(TSocket s, unsigned event, unsigned error);

// Number of sockets currently open through WsSocket/WsAccept (for tests).
int WsOpenSocketCount();

}  // namespace plat
