// Windows-socket style access to non-blocking BSD sockets: Winsock error
// codes, option numbers and address records, and the calls that translate
// them to the host's own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

using TSocket = std::intptr_t;
constexpr TSocket INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

// Winsock error codes.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAENOTEMPTY = 10066;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSAEUSERS = 10068;
constexpr int WSAEDQUOT = 10069;
constexpr int WSAESTALE = 10070;
constexpr int WSAEREMOTE = 10071;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// Winsock numbers for families, types, levels and options; translated to
// the host's own by the calls below.
constexpr int WS_AF_UNSPEC = 0;
constexpr int WS_AF_INET = 2;
constexpr int WS_AF_INET6 = 23;
constexpr int WS_SOCK_STREAM = 1;
constexpr int WS_SOCK_DGRAM = 2;
constexpr int WS_SOCK_RAW = 3;
constexpr int WS_IPPROTO_IP = 0;
constexpr int WS_IPPROTO_TCP = 6;
constexpr int WS_IPPROTO_UDP = 17;
constexpr int WS_SOL_SOCKET = 0xFFFF;
constexpr int WS_SO_REUSEADDR = 4;
constexpr int WS_SO_KEEPALIVE = 8;
constexpr int WS_SO_BROADCAST = 0x20;
constexpr int WS_SO_LINGER = 0x80;
constexpr int WS_SO_SNDBUF = 0x1001;
constexpr int WS_SO_RCVBUF = 0x1002;
constexpr int WS_SO_ERROR = 0x1007;
constexpr int WS_IP_MULTICAST_IF = 2;
constexpr int WS_IP_MULTICAST_TTL = 3;
constexpr int WS_IP_ADD_MEMBERSHIP = 5;
constexpr int WS_TCP_NODELAY = 1;
constexpr int WS_MSG_OOB = 1;
constexpr int WS_MSG_PEEK = 2;
constexpr std::uint32_t WS_INADDR_ANY = 0;
constexpr std::uint32_t WS_INADDR_NONE = 0xFFFFFFFFu;

// The 16-byte Winsock IPv4 address record; port and address in network order.
struct TSockAddrIn {
  std::uint16_t sin_family = WS_AF_INET;
  std::uint16_t sin_port = 0;
  std::uint32_t sin_addr = 0;
  char sin_zero[8] = {};
};
static_assert(sizeof(TSockAddrIn) == 16, "Winsock address record is 16 bytes");

// A socket address of either family. The port is in network order; the
// address bytes are as on the wire, an IPv4 address in the first four.
struct TSockAddr {
  std::uint16_t Family = WS_AF_INET;
  std::uint16_t Port = 0;
  std::uint8_t Bytes[16] = {};
  std::uint32_t ScopeId = 0;  // IPv6 link-local zone (interface index)

  bool IsV6() const { return Family == WS_AF_INET6; }
  // The IPv4 address in network order (0 for an IPv6 one).
  std::uint32_t V4() const;
  static TSockAddr FromV4(std::uint32_t addrNet, std::uint16_t portNet = 0);
  static TSockAddr FromV4Record(const TSockAddrIn& in);
  TSockAddrIn ToV4Record() const;
  bool SameAddress(const TSockAddr& o) const;
};

// Winsock linger record (both 16-bit).
struct TLinger {
  std::uint16_t l_onoff = 0;
  std::uint16_t l_linger = 0;
};

// Per-thread last error, as WSAGetLastError.
int WSAGetLastError();
void WSASetLastError(int code);
// Host errno / getaddrinfo codes to Winsock codes.
int WsMapErrno(int err);
int WsMapGaiError(int gaiErr);

std::uint16_t WsHtons(std::uint16_t v);
std::uint16_t WsNtohs(std::uint16_t v);
std::uint32_t WsHtonl(std::uint32_t v);
std::uint32_t WsNtohl(std::uint32_t v);

// Every call below returns SOCKET_ERROR (or INVALID_SOCKET) on failure and
// leaves the Winsock code in WSAGetLastError. Sockets are non-blocking.
TSocket WsSocket(int af, int type, int protocol);
int WsCloseSocket(TSocket s);
int WsShutdown(TSocket s, int how);
int WsConnect(TSocket s, const TSockAddr& addr);  // WSAEWOULDBLOCK while in progress
int WsBind(TSocket s, const TSockAddr& addr);
int WsListen(TSocket s, int backlog);
TSocket WsAccept(TSocket s, TSockAddr* addr);
int WsSend(TSocket s, const void* buf, int len, int flags);
int WsSendTo(TSocket s, const void* buf, int len, int flags, const TSockAddrIn& to);
int WsSendTo(TSocket s, const void* buf, int len, int flags, const TSockAddr& to);
int WsRecv(TSocket s, void* buf, int len, int flags);
int WsRecvFrom(TSocket s, void* buf, int len, int flags, TSockAddrIn* from, int* fromLen);
int WsGetSockOpt(TSocket s, int level, int opt, void* val, int* len);
int WsSetSockOpt(TSocket s, int level, int opt, const void* val, int len);
int WsIoctlFionread(TSocket s, unsigned long* count);
// SIO_KEEPALIVE_VALS: times in milliseconds.
int WsIoctlKeepAliveVals(TSocket s, bool onoff, std::uint32_t timeMs, std::uint32_t intervalMs);
// The IPv4 record forms fail with WSAEAFNOSUPPORT on an IPv6 socket.
int WsGetPeerName(TSocket s, TSockAddrIn* addr, int* len);
int WsGetSockName(TSocket s, TSockAddrIn* addr, int* len);
int WsGetPeerName(TSocket s, TSockAddr* addr);
int WsGetSockName(TSocket s, TSockAddr* addr);

// inet_addr: WS_INADDR_NONE when the text is not a dotted address.
std::uint32_t WsInetAddr(const std::string& text);
std::string WsInetNtoa(std::uint32_t addrNet);
// A numeric address of either family: a dotted IPv4 address (the strict
// four-part form) or an IPv6 one, with or without brackets, with an
// optional "%zone". The port is left 0.
bool WsParseAddr(const std::string& text, TSockAddr& out);
// The usual text form: "127.0.0.1", "::1", "fe80::1%eth0".
std::string WsAddrText(const TSockAddr& addr);
// Blocking lookups; 0 on success, else the Winsock code (also set as last error).
int WsGetHostByName(const std::string& name, std::vector<std::uint32_t>& addrsNet);
// Addresses of `family` (WS_AF_INET, WS_AF_INET6, or WS_AF_UNSPEC for
// both), in the system's order, without repeats.
int WsGetAddrInfo(const std::string& name, int family, std::vector<TSockAddr>& addrs);
int WsGetHostByAddr(const TSockAddr& addr, std::string& name, std::vector<std::string>& aliases);
// The order to try addresses in when connecting: IPv6 first, then the
// families alternate, each family keeping its own order.
std::vector<TSockAddr> InterleaveFamilies(const std::vector<TSockAddr>& addrs);
int WsGetServByName(const std::string& name, const std::string& proto, std::uint16_t& portNet);
int WsGetProtoByName(const std::string& name, int& proto);
int WsGetHostName(char* buf, int len);

}  // namespace plat
