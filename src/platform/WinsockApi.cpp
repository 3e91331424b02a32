// Winsock-style socket calls on non-blocking BSD sockets: error and option
// translation, the calls themselves and the blocking name lookups.
#include "platform/WinsockApi.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/SocketNotifyNotes.h"

namespace plat {
namespace {

thread_local int t_lastError = 0;

int Fail(int wsaCode) {
  t_lastError = wsaCode;
  return SOCKET_ERROR;
}
int FailErrno() { return Fail(WsMapErrno(errno)); }

int HostLevel(int level) {
  switch (level) {
    case WS_SOL_SOCKET: return SOL_SOCKET;
    case WS_IPPROTO_IP: return IPPROTO_IP;
    case WS_IPPROTO_TCP: return IPPROTO_TCP;
    case WS_IPPROTO_UDP: return IPPROTO_UDP;
    default: return -1;
  }
}

int HostOption(int level, int opt) {
  if (level == WS_SOL_SOCKET) {
    switch (opt) {
      case WS_SO_REUSEADDR: return SO_REUSEADDR;
      case WS_SO_KEEPALIVE: return SO_KEEPALIVE;
      case WS_SO_BROADCAST: return SO_BROADCAST;
      case WS_SO_LINGER: return SO_LINGER;
      case WS_SO_SNDBUF: return SO_SNDBUF;
      case WS_SO_RCVBUF: return SO_RCVBUF;
      case WS_SO_ERROR: return SO_ERROR;
      default: return -1;
    }
  }
  if (level == WS_IPPROTO_IP) {
    switch (opt) {
      case WS_IP_MULTICAST_IF: return IP_MULTICAST_IF;
      case WS_IP_MULTICAST_TTL: return IP_MULTICAST_TTL;
      case WS_IP_ADD_MEMBERSHIP: return IP_ADD_MEMBERSHIP;
      default: return -1;
    }
  }
  if (level == WS_IPPROTO_TCP && opt == WS_TCP_NODELAY) return TCP_NODELAY;
  return -1;
}

int HostFlags(int flags) {
  int f = 0;
  if (flags & WS_MSG_OOB) f |= MSG_OOB;
  if (flags & WS_MSG_PEEK) f |= MSG_PEEK;
  return f;
}

// A host address record of either family and its length.
struct HostAddr {
  sockaddr_storage ss{};
  socklen_t len = 0;
  sockaddr* sa() { return reinterpret_cast<sockaddr*>(&ss); }
};

HostAddr ToHost(const TSockAddr& a) {
  HostAddr h;
  if (a.IsV6()) {
    auto* p = reinterpret_cast<sockaddr_in6*>(&h.ss);
    p->sin6_family = AF_INET6;
    p->sin6_port = a.Port;
    std::memcpy(&p->sin6_addr, a.Bytes, 16);
    p->sin6_scope_id = a.ScopeId;
    h.len = sizeof *p;
  } else {
    auto* p = reinterpret_cast<sockaddr_in*>(&h.ss);
    p->sin_family = AF_INET;
    p->sin_port = a.Port;
    std::memcpy(&p->sin_addr.s_addr, a.Bytes, 4);
    h.len = sizeof *p;
  }
  return h;
}

// False for a family other than IPv4 and IPv6.
bool FromHost(const sockaddr_storage& ss, socklen_t len, TSockAddr* a) {
  if (!a) return true;
  *a = TSockAddr{};
  if (ss.ss_family == AF_INET6 && len >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
    const auto* p = reinterpret_cast<const sockaddr_in6*>(&ss);
    a->Family = WS_AF_INET6;
    a->Port = p->sin6_port;
    std::memcpy(a->Bytes, &p->sin6_addr, 16);
    a->ScopeId = p->sin6_scope_id;
    return true;
  }
  if (ss.ss_family == AF_INET && len >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
    const auto* p = reinterpret_cast<const sockaddr_in*>(&ss);
    a->Family = WS_AF_INET;
    a->Port = p->sin_port;
    std::memcpy(a->Bytes, &p->sin_addr.s_addr, 4);
    return true;
  }
  return false;
}

// The IPv4 record of a host address; false when it is of another family.
bool ToV4Record(const sockaddr_storage& ss, socklen_t len, TSockAddrIn* a) {
  TSockAddr n;
  if (!FromHost(ss, len, &n) || n.IsV6()) return false;
  if (a) *a = n.ToV4Record();
  return true;
}

}  // namespace

std::uint32_t TSockAddr::V4() const {
  if (IsV6()) return 0;
  std::uint32_t v;
  std::memcpy(&v, Bytes, 4);
  return v;
}

TSockAddr TSockAddr::FromV4(std::uint32_t addrNet, std::uint16_t portNet) {
  TSockAddr a;
  a.Family = WS_AF_INET;
  a.Port = portNet;
  std::memcpy(a.Bytes, &addrNet, 4);
  return a;
}

TSockAddr TSockAddr::FromV4Record(const TSockAddrIn& in) { return FromV4(in.sin_addr, in.sin_port); }

TSockAddrIn TSockAddr::ToV4Record() const {
  TSockAddrIn r;
  r.sin_family = WS_AF_INET;
  r.sin_port = Port;
  r.sin_addr = V4();
  return r;
}

bool TSockAddr::SameAddress(const TSockAddr& o) const {
  if (Family != o.Family) return false;
  return std::memcmp(Bytes, o.Bytes, IsV6() ? 16 : 4) == 0 && (!IsV6() || ScopeId == o.ScopeId);
}

int WSAGetLastError() { return t_lastError; }
void WSASetLastError(int code) { t_lastError = code; }

int WsMapErrno(int e) {
  switch (e) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAENOTSOCK;
    case EACCES: case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: case ENFILE: return WSAEMFILE;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEWOULDBLOCK;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case EPIPE: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case ENOBUFS: case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ENOTEMPTY: return WSAENOTEMPTY;
    case EUSERS: return WSAEUSERS;
    case EDQUOT: return WSAEDQUOT;
    case ESTALE: return WSAESTALE;
    case EREMOTE: return WSAEREMOTE;
    default: return WSAEINVAL;
  }
}

int WsMapGaiError(int g) {
  switch (g) {
    case 0: return 0;
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
#ifdef EAI_NODATA
    case EAI_NODATA: return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return WSANO_DATA;
#endif
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_FAIL: return WSANO_RECOVERY;
    case EAI_MEMORY: return WSAENOBUFS;
    case EAI_SYSTEM: return WsMapErrno(errno);
    default: return WSANO_RECOVERY;
  }
}

std::uint16_t WsHtons(std::uint16_t v) { return htons(v); }
std::uint16_t WsNtohs(std::uint16_t v) { return ntohs(v); }
std::uint32_t WsHtonl(std::uint32_t v) { return htonl(v); }
std::uint32_t WsNtohl(std::uint32_t v) { return ntohl(v); }

TSocket WsSocket(int af, int type, int protocol) {
  if (af != WS_AF_INET && af != WS_AF_INET6) return Fail(WSAEAFNOSUPPORT);
  int htype;
  switch (type) {
    case WS_SOCK_STREAM: htype = SOCK_STREAM; break;
    case WS_SOCK_DGRAM: htype = SOCK_DGRAM; break;
    case WS_SOCK_RAW: htype = SOCK_RAW; break;
    default: return Fail(WSAESOCKTNOSUPPORT);
  }
  int fd = ::socket(af == WS_AF_INET6 ? AF_INET6 : AF_INET, htype | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  if (fd < 0) return FailErrno();
  NoteOpened(fd, htype != SOCK_STREAM);
  return fd;
}

int WsCloseSocket(TSocket s) {
  NoteClosing(s);
  if (s < 0) return Fail(WSAENOTSOCK);
  if (::close(static_cast<int>(s)) != 0) return FailErrno();
  return 0;
}

int WsShutdown(TSocket s, int how) {
  int h = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
  if (::shutdown(static_cast<int>(s), h) != 0) return FailErrno();
  return 0;
}

int WsConnect(TSocket s, const TSockAddr& addr) {
  HostAddr h = ToHost(addr);
  int rc = ::connect(static_cast<int>(s), h.sa(), h.len);
  int e = rc == 0 ? 0 : errno;
  if (rc == 0 || e == EINPROGRESS) {
    NoteConnecting(s);
    if (rc == 0) return 0;
    return Fail(WSAEWOULDBLOCK);
  }
  return Fail(WsMapErrno(e));
}

int WsBind(TSocket s, const TSockAddr& addr) {
  HostAddr h = ToHost(addr);
  if (::bind(static_cast<int>(s), h.sa(), h.len) != 0) return FailErrno();
  return 0;
}

int WsListen(TSocket s, int backlog) {
  if (::listen(static_cast<int>(s), backlog) != 0) return FailErrno();
  NoteListening(s);
  return 0;
}

TSocket WsAccept(TSocket s, TSockAddr* addr) {
  sockaddr_storage h{};
  socklen_t len = sizeof h;
  int fd = ::accept4(static_cast<int>(s), reinterpret_cast<sockaddr*>(&h), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  int e = errno;
  NoteAccept(s, fd < 0 ? INVALID_SOCKET : fd);
  if (fd < 0) return Fail(WsMapErrno(e));
  FromHost(h, len, addr);
  return fd;
}

int WsSend(TSocket s, const void* buf, int len, int flags) {
  if (len < 0) return Fail(WSAEINVAL);
  ssize_t n = ::send(static_cast<int>(s), buf, static_cast<size_t>(len), HostFlags(flags) | MSG_NOSIGNAL);
  if (n >= 0) {
    if (n < len) {
      // A short write means the buffer is full: owe a write notification,
      // as after a refused send.
      NoteWriteBlocked(s);
    }
    return static_cast<int>(n);
  }
  int e = errno;
  if (e == EAGAIN || e == EWOULDBLOCK) NoteWriteBlocked(s);
  return Fail(WsMapErrno(e));
}

int WsSendTo(TSocket s, const void* buf, int len, int flags, const TSockAddrIn& to) {
  return WsSendTo(s, buf, len, flags, TSockAddr::FromV4Record(to));
}

int WsSendTo(TSocket s, const void* buf, int len, int flags, const TSockAddr& to) {
  if (len < 0) return Fail(WSAEINVAL);
  HostAddr h = ToHost(to);
  ssize_t n = ::sendto(static_cast<int>(s), buf, static_cast<size_t>(len), HostFlags(flags) | MSG_NOSIGNAL,
                       h.sa(), h.len);
  if (n >= 0) return static_cast<int>(n);
  int e = errno;
  if (e == EAGAIN || e == EWOULDBLOCK) NoteWriteBlocked(s);
  return Fail(WsMapErrno(e));
}

int WsRecv(TSocket s, void* buf, int len, int flags) {
  if (len < 0) return Fail(WSAEINVAL);
  if (len == 0) {
    // A zero-length receive probes the connection: 0 only once the peer
    // has closed, would-block while it is open.
    char c;
    ssize_t p = ::recv(static_cast<int>(s), &c, 1, MSG_PEEK | MSG_DONTWAIT);
    int e = errno;
    if (p == 0) return 0;
    if (p > 0) return Fail(WSAEWOULDBLOCK);
    return Fail(WsMapErrno(e));
  }
  ssize_t n = ::recv(static_cast<int>(s), buf, static_cast<size_t>(len), HostFlags(flags));
  int e = errno;
  NoteReceived(s);
  if (n >= 0) return static_cast<int>(n);
  return Fail(WsMapErrno(e));
}

int WsRecvFrom(TSocket s, void* buf, int len, int flags, TSockAddrIn* from, int* fromLen) {
  if (len < 0) return Fail(WSAEINVAL);
  sockaddr_storage h{};
  socklen_t hl = sizeof h;
  ssize_t n = ::recvfrom(static_cast<int>(s), buf, static_cast<size_t>(len), HostFlags(flags),
                         reinterpret_cast<sockaddr*>(&h), &hl);
  int e = errno;
  NoteReceived(s);
  if (n < 0) return Fail(WsMapErrno(e));
  if (from) *from = TSockAddrIn{};
  ToV4Record(h, hl, from);
  if (fromLen) *fromLen = static_cast<int>(sizeof(TSockAddrIn));
  return static_cast<int>(n);
}

int WsGetSockOpt(TSocket s, int level, int opt, void* val, int* len) {
  int hl = HostLevel(level), ho = HostOption(level, opt);
  if (hl < 0 || ho < 0 || !val || !len) return Fail(WSAENOPROTOOPT);
  if (level == WS_SOL_SOCKET && opt == WS_SO_LINGER) {
    if (*len < static_cast<int>(sizeof(TLinger))) return Fail(WSAEFAULT);
    linger l{};
    socklen_t sl = sizeof l;
    if (::getsockopt(static_cast<int>(s), hl, ho, &l, &sl) != 0) return FailErrno();
    TLinger w;
    w.l_onoff = static_cast<std::uint16_t>(l.l_onoff ? 1 : 0);
    w.l_linger = static_cast<std::uint16_t>(l.l_linger);
    std::memcpy(val, &w, sizeof w);
    *len = sizeof w;
    return 0;
  }
  if (*len < static_cast<int>(sizeof(int))) return Fail(WSAEFAULT);
  int v = 0;
  socklen_t sl = sizeof v;
  if (::getsockopt(static_cast<int>(s), hl, ho, &v, &sl) != 0) return FailErrno();
  if (level == WS_SOL_SOCKET && opt == WS_SO_ERROR) v = WsMapErrno(v);
  std::memcpy(val, &v, sizeof v);
  *len = sizeof v;
  return 0;
}

int WsSetSockOpt(TSocket s, int level, int opt, const void* val, int len) {
  int hl = HostLevel(level), ho = HostOption(level, opt);
  if (hl < 0 || ho < 0 || !val) return Fail(WSAENOPROTOOPT);
  int rc;
  if (level == WS_SOL_SOCKET && opt == WS_SO_LINGER) {
    if (len < static_cast<int>(sizeof(TLinger))) return Fail(WSAEFAULT);
    TLinger w;
    std::memcpy(&w, val, sizeof w);
    linger l{};
    l.l_onoff = w.l_onoff ? 1 : 0;
    l.l_linger = w.l_linger;
    rc = ::setsockopt(static_cast<int>(s), hl, ho, &l, sizeof l);
  } else if (level == WS_IPPROTO_IP && opt == WS_IP_ADD_MEMBERSHIP) {
    if (len < 8) return Fail(WSAEFAULT);
    ip_mreq m{};
    std::memcpy(&m.imr_multiaddr.s_addr, val, 4);
    std::memcpy(&m.imr_interface.s_addr, static_cast<const char*>(val) + 4, 4);
    rc = ::setsockopt(static_cast<int>(s), hl, ho, &m, sizeof m);
  } else if (level == WS_IPPROTO_IP && opt == WS_IP_MULTICAST_IF) {
    if (len < 4) return Fail(WSAEFAULT);
    in_addr a{};
    std::memcpy(&a.s_addr, val, 4);
    rc = ::setsockopt(static_cast<int>(s), hl, ho, &a, sizeof a);
  } else {
    if (len < static_cast<int>(sizeof(int))) return Fail(WSAEFAULT);
    int v;
    std::memcpy(&v, val, sizeof v);
    rc = ::setsockopt(static_cast<int>(s), hl, ho, &v, sizeof v);
  }
  if (rc != 0) return FailErrno();
  return 0;
}

int WsIoctlFionread(TSocket s, unsigned long* count) {
  int v = 0;
  if (::ioctl(static_cast<int>(s), FIONREAD, &v) != 0) return FailErrno();
  if (count) *count = static_cast<unsigned long>(v < 0 ? 0 : v);
  return 0;
}

int WsIoctlKeepAliveVals(TSocket s, bool onoff, std::uint32_t timeMs, std::uint32_t intervalMs) {
  int fd = static_cast<int>(s);
  int on = onoff ? 1 : 0;
  if (::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) return FailErrno();
  if (!onoff) return 0;
  int idle = static_cast<int>((timeMs + 999) / 1000);
  int intv = static_cast<int>((intervalMs + 999) / 1000);
  if (idle < 1) idle = 1;
  if (intv < 1) intv = 1;
  if (::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0) return FailErrno();
  if (::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intv, sizeof intv) != 0) return FailErrno();
  return 0;
}

namespace {

using NameCall = int (*)(int, sockaddr*, socklen_t*);

int ReadName(NameCall call, TSocket s, sockaddr_storage& h, socklen_t& hl) {
  hl = sizeof h;
  if (call(static_cast<int>(s), reinterpret_cast<sockaddr*>(&h), &hl) != 0) return FailErrno();
  return 0;
}

int ReadV4Name(NameCall call, TSocket s, TSockAddrIn* addr, int* len) {
  sockaddr_storage h{};
  socklen_t hl;
  if (ReadName(call, s, h, hl) != 0) return SOCKET_ERROR;
  if (!ToV4Record(h, hl, addr)) return Fail(WSAEAFNOSUPPORT);
  if (len) *len = static_cast<int>(sizeof(TSockAddrIn));
  return 0;
}

int ReadAnyName(NameCall call, TSocket s, TSockAddr* addr) {
  sockaddr_storage h{};
  socklen_t hl;
  if (ReadName(call, s, h, hl) != 0) return SOCKET_ERROR;
  if (!FromHost(h, hl, addr)) return Fail(WSAEAFNOSUPPORT);
  return 0;
}

}  // namespace

int WsGetPeerName(TSocket s, TSockAddrIn* addr, int* len) { return ReadV4Name(::getpeername, s, addr, len); }
int WsGetSockName(TSocket s, TSockAddrIn* addr, int* len) { return ReadV4Name(::getsockname, s, addr, len); }
int WsGetPeerName(TSocket s, TSockAddr* addr) { return ReadAnyName(::getpeername, s, addr); }
int WsGetSockName(TSocket s, TSockAddr* addr) { return ReadAnyName(::getsockname, s, addr); }

std::uint32_t WsInetAddr(const std::string& text) {
  // inet_addr semantics: the classic forms a, a.b, a.b.c, a.b.c.d.
  in_addr a{};
  if (::inet_aton(text.c_str(), &a) == 0) return WS_INADDR_NONE;
  return a.s_addr;
}

std::string WsInetNtoa(std::uint32_t addrNet) {
  in_addr a{};
  a.s_addr = addrNet;
  char buf[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

bool WsParseAddr(const std::string& text, TSockAddr& out) {
  std::string t = text;
  if (t.size() >= 2 && t.front() == '[' && t.back() == ']') t = t.substr(1, t.size() - 2);
  if (t.empty() || t.size() > 100) return false;
  out = TSockAddr{};
  if (t.find(':') == std::string::npos) {
    in_addr a{};
    if (::inet_pton(AF_INET, t.c_str(), &a) != 1) return false;
    out = TSockAddr::FromV4(a.s_addr);
    return true;
  }
  std::string zone;
  const std::size_t pct = t.find('%');
  if (pct != std::string::npos) {
    zone = t.substr(pct + 1);
    t.erase(pct);
    if (zone.empty()) return false;
  }
  in6_addr a{};
  if (::inet_pton(AF_INET6, t.c_str(), &a) != 1) return false;
  out.Family = WS_AF_INET6;
  std::memcpy(out.Bytes, &a, 16);
  if (!zone.empty()) {
    unsigned idx = ::if_nametoindex(zone.c_str());
    if (idx == 0) {
      bool digits = zone.find_first_not_of("0123456789") == std::string::npos && zone.size() < 10;
      if (!digits) return false;
      idx = static_cast<unsigned>(std::stoul(zone));
    }
    out.ScopeId = idx;
  }
  return true;
}

std::string WsAddrText(const TSockAddr& addr) {
  if (!addr.IsV6()) return WsInetNtoa(addr.V4());
  char buf[INET6_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET6, addr.Bytes, buf, sizeof buf);
  std::string text = buf;
  if (addr.ScopeId != 0) {
    char name[IF_NAMESIZE] = {};
    text += "%";
    text += ::if_indextoname(addr.ScopeId, name) ? std::string(name) : std::to_string(addr.ScopeId);
  }
  return text;
}

int WsGetAddrInfo(const std::string& name, int family, std::vector<TSockAddr>& addrs) {
  addrs.clear();
  addrinfo hints{};
  hints.ai_family = family == WS_AF_INET ? AF_INET : family == WS_AF_INET6 ? AF_INET6 : AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  int g = ::getaddrinfo(name.c_str(), nullptr, &hints, &res);
  if (g != 0) {
    int code = WsMapGaiError(g);
    t_lastError = code;
    return code;
  }
  for (addrinfo* p = res; p; p = p->ai_next) {
    if (!p->ai_addr) continue;
    sockaddr_storage ss{};
    const socklen_t len = std::min<socklen_t>(p->ai_addrlen, sizeof ss);
    std::memcpy(&ss, p->ai_addr, len);
    TSockAddr a;
    if (!FromHost(ss, len, &a)) continue;
    a.Port = 0;
    bool dup = false;
    for (const TSockAddr& x : addrs) dup = dup || x.SameAddress(a);
    if (!dup) addrs.push_back(a);
  }
  ::freeaddrinfo(res);
  if (addrs.empty()) {
    t_lastError = WSANO_DATA;
    return WSANO_DATA;
  }
  return 0;
}

std::vector<TSockAddr> InterleaveFamilies(const std::vector<TSockAddr>& addrs) {
  std::vector<TSockAddr> v6, v4, out;
  for (const TSockAddr& a : addrs) (a.IsV6() ? v6 : v4).push_back(a);
  for (std::size_t i = 0; i < v6.size() || i < v4.size(); ++i) {
    if (i < v6.size()) out.push_back(v6[i]);
    if (i < v4.size()) out.push_back(v4[i]);
  }
  return out;
}

int WsGetHostByName(const std::string& name, std::vector<std::uint32_t>& addrsNet) {
  addrsNet.clear();
  std::vector<TSockAddr> addrs;
  const int code = WsGetAddrInfo(name, WS_AF_INET, addrs);
  for (const TSockAddr& a : addrs) addrsNet.push_back(a.V4());
  return code;
}

int WsGetHostByAddr(const TSockAddr& addr, std::string& name, std::vector<std::string>& aliases) {
  name.clear();
  aliases.clear();
  hostent he{};
  hostent* res = nullptr;
  int herr = 0;
  std::vector<char> buf(8192);
  const int family = addr.IsV6() ? AF_INET6 : AF_INET;
  const socklen_t alen = addr.IsV6() ? 16 : 4;
  int rc = ::gethostbyaddr_r(addr.Bytes, alen, family, &he, buf.data(), buf.size(), &res, &herr);
  if (rc != 0 || !res) {
    int code = WSAHOST_NOT_FOUND;
    if (herr == TRY_AGAIN) code = WSATRY_AGAIN;
    else if (herr == NO_RECOVERY) code = WSANO_RECOVERY;
    else if (herr == NO_DATA) code = WSANO_DATA;
    t_lastError = code;
    return code;
  }
  if (res->h_name) name = res->h_name;
  for (char** p = res->h_aliases; p && *p; ++p) aliases.emplace_back(*p);
  return 0;
}

int WsGetServByName(const std::string& name, const std::string& proto, std::uint16_t& portNet) {
  servent se{};
  servent* res = nullptr;
  std::vector<char> buf(4096);
  int rc = ::getservbyname_r(name.c_str(), proto.empty() ? nullptr : proto.c_str(), &se, buf.data(), buf.size(),
                             &res);
  if (rc != 0 || !res) {
    t_lastError = WSANO_DATA;
    return WSANO_DATA;
  }
  portNet = static_cast<std::uint16_t>(res->s_port);
  return 0;
}

int WsGetProtoByName(const std::string& name, int& proto) {
  protoent pe{};
  protoent* res = nullptr;
  std::vector<char> buf(4096);
  int rc = ::getprotobyname_r(name.c_str(), &pe, buf.data(), buf.size(), &res);
  if (rc != 0 || !res) {
    t_lastError = WSANO_DATA;
    return WSANO_DATA;
  }
  proto = res->p_proto;
  return 0;
}

int WsGetHostName(char* buf, int len) {
  if (!buf || len <= 0) return Fail(WSAEFAULT);
  if (::gethostname(buf, static_cast<size_t>(len)) != 0) return FailErrno();
  buf[len - 1] = 0;
  return 0;
}

}  // namespace plat
