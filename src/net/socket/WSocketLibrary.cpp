// Process-wide socket library state, the unit-level resolvers and the Winsock error texts.
#include <cstdio>
#include <map>

#include "net/socket/CustomWSocket.h"
#include "net/socket/WSocketInternal.h"
#include "platform/AsciiText.h"

namespace {

struct ErrText {
  int code;
  const char* text;
};

const ErrText kErrTexts[] = {
    {0, "No Error"},
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Protocol not available"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Address not available"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Connection aborted"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references: can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network sub-system is unusable"},
    {10092, "WinSock DLL cannot support this application"},
    {10093, "WinSock not initialized"},
    {11001, "Host not found"},
    {11002, "Non-authoritative host not found"},
    {11003, "Non-recoverable error"},
    {11004, "No Data"},
};

}  // namespace

std::string WinsockErrorText(int ErrCode) {
  for (const ErrText& e : kErrTexts)
    if (e.code == ErrCode) return e.text;
  return "Not a WinSock error";
}

int AtoiSkipSpaces(const std::string& Str) {
  std::size_t i = 0;
  while (i < Str.size() && Str[i] == ' ') ++i;
  unsigned v = 0;  // wraps instead of overflowing
  while (i < Str.size() && ascii::IsDigit(Str[i])) v = v * 10u + static_cast<unsigned>(Str[i++] - '0');
  return static_cast<int>(v);
}

bool IsDottedQuad(const std::string& Str) {
  std::size_t i = 0;
  const std::size_t n = Str.size();
  while (i < n && Str[i] == ' ') ++i;
  if (i < n && Str[i] == '.') return false;
  int dots = 0;
  unsigned part = 0;
  while (i < n) {
    char c = Str[i];
    if (ascii::IsDigit(c)) {
      part = part * 10u + static_cast<unsigned>(c - '0');
      if (part > 100000u) part = 100000u;  // stays "above 255" without overflow
      ++i;
    } else if (c == '.') {
      if (dots == 3 || part > 255u || i + 1 >= n || !ascii::IsDigit(Str[i + 1])) return false;
      ++dots;
      part = 0;
      ++i;
    } else {
      while (i < n && Str[i] == ' ') ++i;
      if (i < n) return false;
      break;
    }
  }
  return dots == 3 && part <= 255u;
}

// ---------------------------------------------------------------------------
// Process-wide state: the socket library needs no loading here, so "loaded"
// only marks the first socket call since the last socket went away.

namespace wsocket_internal {

std::recursive_mutex& WSocketLock() {
  static std::recursive_mutex m;
  return m;
}
std::recursive_mutex& WndClassLock() {
  static std::recursive_mutex m;
  return m;
}
std::recursive_mutex& SendQueueLock() {
  static std::recursive_mutex m;
  return m;
}

int g_WSocketGCount = 0;
bool g_WSocketLoaded = false;
std::uint8_t g_ReqVerLow = 1;
std::uint8_t g_ReqVerHigh = 1;

void WSocketLoad() {
  std::lock_guard<std::recursive_mutex> g(WSocketLock());
  g_WSocketLoaded = true;
}

void WSocketUnload() {
  std::lock_guard<std::recursive_mutex> g(WSocketLock());
  g_WSocketLoaded = false;
}


LiveCountGuard::LiveCountGuard() {
  std::lock_guard<std::recursive_mutex> g(WSocketLock());
  ++g_WSocketGCount;
  g_WSocketLoaded = true;
}

LiveCountGuard::~LiveCountGuard() {
  std::lock_guard<std::recursive_mutex> g(WSocketLock());
  if (--g_WSocketGCount < 1) g_WSocketLoaded = false;
}

std::string VFormat(const char* fmt, va_list ap) {
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap2);
  va_end(ap2);
  if (n < 0) return fmt;
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), fmt, ap);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = VFormat(fmt, ap);
  va_end(ap);
  return s;
}

std::string Hex8(const void* p) {
  return Format("%08X", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p) & 0xFFFFFFFFu));
}

std::int32_t WrapAdd(std::int32_t a, int b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

unsigned ParseLeadingDecimal(const std::string& s) {
  unsigned v = 0;
  for (std::size_t i = 0; i < s.size() && ascii::IsDigit(s[i]); ++i) v = v * 10u + static_cast<unsigned>(s[i] - '0');
  return v;
}

}  // namespace wsocket_internal

using namespace wsocket_internal;

bool WSocketIsLoaded() {
  std::lock_guard<std::recursive_mutex> g(WSocketLock());
  return g_WSocketLoaded;
}

int WSocketLiveCount() {
  std::lock_guard<std::recursive_mutex> g(WSocketLock());
  return g_WSocketGCount;
}

std::uint32_t WSocketResolveHost(const std::string& InAddr) {
  if (InAddr.empty() || InAddr.size() > 256)
    throw ESocketException("WSocketResolveHost: '" + InAddr + "' Invalid Hostname.");
  WSocketLoad();
  std::string s = ascii::Trim(InAddr);
  if (IsDottedQuad(s)) {
    std::uint32_t a = plat::WsInetAddr(s);
    if (a == plat::WS_INADDR_NONE && s != "255.255.255.255")
      throw ESocketException("WSocketResolveHost: '" + InAddr + "' Invalid IP address.");
    return a;
  }
  std::vector<std::uint32_t> addrs;
  int err = plat::WsGetHostByName(s, addrs);
  if (err != 0 || addrs.empty())
    throw ESocketException(
        Format("WSocketResolveHost: Cannot convert host address '%s', Error #%d", InAddr.c_str(), err));
  return addrs.front();
}

std::uint16_t WSocketResolvePort(const std::string& Port, const std::string& Proto) {
  if (Port.empty() || Port.size() >= 32) throw ESocketException("WSocketResolvePort: Invalid Port.");
  if (Proto.empty() || Proto.size() >= 32) throw ESocketException("WSocketResolvePort: Invalid Proto.");
  if (ascii::IsDigit(Port[0])) {
    // A number beyond 65535 names no port; it must not wrap into another one.
    unsigned value = 0;
    for (std::size_t i = 0; i < Port.size() && ascii::IsDigit(Port[i]); ++i) {
      value = value * 10u + static_cast<unsigned>(Port[i] - '0');
      if (value > 65535u) throw ESocketException("WSocketResolvePort: Invalid Port.");
    }
    return static_cast<std::uint16_t>(value);
  }
  WSocketLoad();
  std::uint16_t portNet = 0;
  if (plat::WsGetServByName(ascii::Trim(Port), ascii::Trim(Proto), portNet) != 0)
    throw ESocketException(Format("WSocketResolvePort: Cannot convert port '%s', Error #%d", Port.c_str(),
                                  plat::WSAGetLastError()));
  return plat::WsNtohs(portNet);
}

int WSocketResolveProto(const std::string& Proto) {
  if (Proto.empty() || Proto.size() >= 32) throw ESocketException("WSocketResolveProto: Invalid Protocol.");
  if (ascii::IsDigit(Proto[0])) return static_cast<int>(ParseLeadingDecimal(Proto));
  std::string p = ascii::Lower(ascii::Trim(Proto));
  if (p == "tcp") return 6;
  if (p == "udp") return 17;
  if (p == "raw") return 255;
  WSocketLoad();
  int n = 0;
  if (plat::WsGetProtoByName(p, n) != 0)
    throw ESocketException(Format("WSocketResolveProto: Cannot convert protocol '%s', Error #%d", Proto.c_str(),
                                  plat::WSAGetLastError()));
  return n;
}

std::string GetLocalHostName() {
  char buf[64] = {};
  int rc;
  {
    LiveCountGuard live;
    rc = plat::WsGetHostName(buf, sizeof buf);
  }
  if (rc != 0) throw ESocketException("Winsock.GetHostName failed");
  buf[sizeof buf - 1] = 0;
  return buf;
}
