// Helpers for the socket tests: a pump-until wait, a scripted raw TCP peer
// on its own thread, and an event recorder for TWSocket.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/socket/WSocket.h"
#include "platform/MessageLoop.h"

namespace socktest {

// Runs the message loop until `cond` holds or `timeoutMs` passes.
inline bool PumpUntil(const std::function<bool()>& cond, int timeoutMs = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    plat::WaitForInput(10);
  }
  return true;
}

// Runs the loop for a while, for "nothing more happens" checks.
inline void PumpFor(int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) plat::WaitForInput(10);
}

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Blocking helpers for the peer side.
inline bool SendAll(int fd, const std::string& data) {
  std::size_t off = 0;
  while (off < data.size()) {
    ssize_t n = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<std::size_t>(n);
  }
  return true;
}

// Sends each byte as its own TCP segment.
inline bool SendBytewise(int fd, const std::string& data, int gapMs = 15) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  for (char c : data) {
    if (!SendAll(fd, std::string(1, c))) return false;
    SleepMs(gapMs);
  }
  return true;
}

// Reads exactly n bytes (or less on close / time-out).
inline std::string RecvN(int fd, std::size_t n, int timeoutMs = 5000) {
  std::string out;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < n) {
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, left) <= 0) break;
    char buf[4096];
    std::size_t want = n - out.size() < sizeof buf ? n - out.size() : sizeof buf;
    ssize_t r = ::recv(fd, buf, want, 0);
    if (r <= 0) break;
    out.append(buf, static_cast<std::size_t>(r));
  }
  return out;
}

// Reads until the peer closes (or time-out).
inline std::string RecvAll(int fd, int timeoutMs = 5000) { return RecvN(fd, static_cast<std::size_t>(-1) / 2, timeoutMs); }

// A TCP server on 127.0.0.1 (free port) that runs `script` on its own
// thread for each of the first `conns` accepted connections, then closes them.
class RawServer {
 public:
  using Script = std::function<void(int fd)>;
  // Listens on 127.0.0.1, or on ::1 when `ipv6`.
  explicit RawServer(Script script, int conns = 1, bool ipv6 = false)
      : FScript(std::move(script)), FConns(conns) {
    FListen = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage ss{};
    socklen_t len;
    if (ipv6) {
      auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
      a->sin6_family = AF_INET6;
      a->sin6_addr = in6addr_loopback;
      len = sizeof *a;
    } else {
      auto* a = reinterpret_cast<sockaddr_in*>(&ss);
      a->sin_family = AF_INET;
      a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      len = sizeof *a;
    }
    ::bind(FListen, reinterpret_cast<sockaddr*>(&ss), len);
    ::listen(FListen, 8);
    len = sizeof ss;
    ::getsockname(FListen, reinterpret_cast<sockaddr*>(&ss), &len);
    FPort = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    FThread = std::thread([this] { Run(); });
  }
  ~RawServer() {
    FStop = true;
    if (FThread.joinable()) FThread.join();
    ::close(FListen);
  }
  int Port() const { return FPort; }
  std::string PortStr() const { return std::to_string(FPort); }
  int Accepted() const { return FAccepted.load(); }
  bool Done() const { return FDone.load(); }

 private:
  void Run() {
    for (int i = 0; i < FConns && !FStop; ++i) {
      int fd = -1;
      while (!FStop) {
        pollfd p{FListen, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
          fd = ::accept(FListen, nullptr, nullptr);
          break;
        }
      }
      if (fd < 0) break;
      ++FAccepted;
      FScript(fd);
      ::close(fd);
    }
    FDone = true;
  }
  Script FScript;
  int FConns;
  int FListen = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FDone{false};
  std::atomic<int> FAccepted{0};
  std::thread FThread;
};

// A port on 127.0.0.1 with nothing listening.
// Letters in a pattern that repeats only after many kilobytes.
inline std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return s;
}

inline int ClosedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

inline const char* StateName(TSocketState s) {
  static const char* names[] = {"wsInvalidState", "wsOpened",    "wsBound",     "wsConnecting", "wsSocksConnected",
                                "wsConnected",    "wsAccepting", "wsListening", "wsClosed"};
  return names[static_cast<int>(s)];
}

// Records the socket's events as short texts, in order.
struct Recorder {
  std::vector<std::string> ev;
  void Attach(TWSocket& s, bool withData = false) {
    s.OnChangeState = [this](TObject*, TSocketState o, TSocketState n) {
      ev.push_back(std::string("ChangeState ") + StateName(o) + "->" + StateName(n));
    };
    s.OnSessionConnected = [this](TObject*, std::uint16_t e) { ev.push_back("SessionConnected " + std::to_string(e)); };
    s.OnSessionClosed = [this](TObject*, std::uint16_t e) { ev.push_back("SessionClosed " + std::to_string(e)); };
    s.OnDnsLookupDone = [this](TObject*, std::uint16_t e) { ev.push_back("DnsLookupDone " + std::to_string(e)); };
    s.OnSocksConnected = [this](TObject*, std::uint16_t e) { ev.push_back("SocksConnected " + std::to_string(e)); };
    s.OnSocksError = [this](TObject*, std::int32_t e, const std::string& m) {
      ev.push_back("SocksError " + std::to_string(e) + " " + m);
    };
    s.OnSocksAuthState = [this](TObject*, TSocksAuthState a) { ev.push_back("SocksAuthState " + std::to_string(a)); };
    if (withData) {
      s.OnDataSent = [this](TObject*, std::uint16_t e) { ev.push_back("DataSent " + std::to_string(e)); };
    }
  }
  bool Has(const std::string& e) const {
    for (const auto& x : ev)
      if (x == e) return true;
    return false;
  }
  int Count(const std::string& e) const {
    int n = 0;
    for (const auto& x : ev)
      if (x == e) ++n;
    return n;
  }
  std::string Dump() const {
    std::string s;
    for (const auto& x : ev) s += x + "\n";
    return s;
  }
};

}  // namespace socktest
