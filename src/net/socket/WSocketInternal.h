// Helpers shared by the socket files only: the process-wide locks and counts, and small text helpers.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/WinsockApi.h"

namespace wsocket_internal {

// Guards the live socket count, the "loaded" mark and the requested version.
std::recursive_mutex& WSocketLock();
// Guards the map from hidden windows to their sockets.
std::recursive_mutex& WndClassLock();
// Guards every socket's send queue.
std::recursive_mutex& SendQueueLock();

extern int g_WSocketGCount;
extern bool g_WSocketLoaded;
extern std::uint8_t g_ReqVerLow;
extern std::uint8_t g_ReqVerHigh;

void WSocketLoad();
void WSocketUnload();

// Raises the live socket count for the duration of one library call.
struct LiveCountGuard {
  LiveCountGuard();
  ~LiveCountGuard();
  LiveCountGuard(const LiveCountGuard&) = delete;
  LiveCountGuard& operator=(const LiveCountGuard&) = delete;
};

// The events a connecting socket asks for (59).
constexpr long kConnectMask = plat::FD_READ | plat::FD_WRITE | plat::FD_ACCEPT | plat::FD_CONNECT | plat::FD_CLOSE;

std::string VFormat(const char* fmt, va_list ap);
std::string Format(const char* fmt, ...);
std::string Hex8(const void* p);
std::int32_t WrapAdd(std::int32_t a, int b);
unsigned ParseLeadingDecimal(const std::string& s);
// "127.0.0.1:80", "[::1]:80".
std::string EndpointText(const plat::TSockAddr& A);

}  // namespace wsocket_internal
