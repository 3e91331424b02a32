// Test helpers for the HTTP client: a scripted server on 127.0.0.1 that runs
// in its own thread and answers each connection with exactly the bytes a
// case needs, a pump that runs the message loop until a condition holds,
// and a client with every event recorded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/http/HttpProt.h"
#include "platform/MessageLoop.h"

namespace httptest {

// One accepted connection, seen from the server thread.
class PeerConn {
 public:
  explicit PeerConn(int fd) : fd_(fd) {}
  ~PeerConn() { Close(); }

  // Reads one request head (up to the empty line) and, when it announces
  // one, its body. Returns false when the client closed or 5 s passed.
  bool ReadRequest(std::string& head, std::string* body = nullptr) {
    head.clear();
    while (true) {
      std::size_t e = pending_.find("\r\n\r\n");
      if (e != std::string::npos) {
        head = pending_.substr(0, e + 4);
        pending_.erase(0, e + 4);
        break;
      }
      if (!Fill()) return false;
    }
    std::size_t n = 0;
    std::string lower = head;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t p = lower.find("\r\ncontent-length:");
    if (p != std::string::npos) n = std::strtoull(head.c_str() + p + 17, nullptr, 10);
    while (pending_.size() < n)
      if (!Fill()) return false;
    if (body) *body = pending_.substr(0, n);
    pending_.erase(0, n);
    return true;
  }

  bool Send(const std::string& s) { return Send(s.data(), s.size()); }
  bool Send(const void* data, std::size_t len) {
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
      ssize_t n = ::send(fd_, p, len, MSG_NOSIGNAL);
      if (n <= 0) return false;
      p += n;
      len -= static_cast<std::size_t>(n);
    }
    return true;
  }
  // Sends and waits a little, so that the client sees separate reads.
  void SendSlowly(const std::string& s, int ms = 30) {
    Send(s);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
  // Waits until the client closes its side (or 5 s pass).
  void WaitForClientClose() {
    char buf[4096];
    for (int i = 0; i < 100; ++i) {
      pollfd pfd{fd_, POLLIN, 0};
      if (::poll(&pfd, 1, 50) > 0) {
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return;
      }
    }
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Abortive close: the client sees a reset.
  void Reset() {
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    Close();
  }
  int fd() const { return fd_; }

 private:
  bool Fill() {
    pollfd pfd{fd_, POLLIN, 0};
    if (::poll(&pfd, 1, 5000) <= 0) return false;
    char buf[65536];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return false;
    pending_.append(buf, static_cast<std::size_t>(n));
    return true;
  }
  int fd_;
  std::string pending_;
};

// Accepts connections on 127.0.0.1 (or ::1) and hands each to the script, in order,
// on the server thread. The script's connection index starts at 0.
class ScriptedServer {
 public:
  using Script = std::function<void(PeerConn& c, int index)>;

  // On ::1 instead when `ipv6`.
  explicit ScriptedServer(Script script, bool ipv6 = false) : script_(std::move(script)) {
    fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    sockaddr_in6 a6{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a6.sin6_family = AF_INET6;
    a6.sin6_addr = in6addr_loopback;
    sockaddr* sa = ipv6 ? reinterpret_cast<sockaddr*>(&a6) : reinterpret_cast<sockaddr*>(&a);
    socklen_t len = ipv6 ? sizeof a6 : sizeof a;
    ::bind(fd_, sa, len);
    ::listen(fd_, 16);
    ::getsockname(fd_, sa, &len);
    port_ = ntohs(ipv6 ? a6.sin6_port : a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
  }
  int Port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + PortText() + path; }
  int Connections() const { return count_; }

  // Requests as the server read them (heads only), in arrival order.
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> l(m_);
    return requests_;
  }
  void Record(const std::string& head) {
    std::lock_guard<std::mutex> l(m_);
    requests_.push_back(head);
  }

 private:
  void Run() {
    while (!stop_) {
      pollfd pfd{fd_, POLLIN, 0};
      if (::poll(&pfd, 1, 20) <= 0) continue;
      int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      int idx = count_++;
      PeerConn conn(c);
      script_(conn, idx);
    }
  }
  Script script_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> count_{0};
  std::thread thread_;
  std::mutex m_;
  std::vector<std::string> requests_;
};

// Runs the message loop until `done` holds or `ms` pass; true when it held.
inline bool PumpUntil(const std::function<bool()>& done, int ms = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    plat::WaitForInput(20);
    plat::ProcessMessages();
  }
  return true;
}

// A client whose every event is written to `log`, one entry each.
struct RecordingClient {
  THttpCli cli;
  std::vector<std::string> log;
  std::string body;
  bool done = false;
  std::uint16_t doneError = 0xFFFF;
  int doneCount = 0;

  RecordingClient() {
    cli.Name = "HttpCli1";
    cli.OnStateChange = [this](THttpCli* s) { log.push_back(std::string("State:") + THttpCli::StateName(s->State())); };
    cli.OnSessionConnected = [this](THttpCli*) { log.push_back("SessionConnected"); };
    cli.OnSessionClosed = [this](THttpCli*) { log.push_back("SessionClosed"); };
    cli.OnRequestHeaderBegin = [this](THttpCli*) { log.push_back("RequestHeaderBegin"); };
    cli.OnRequestHeaderEnd = [this](THttpCli*) { log.push_back("RequestHeaderEnd"); };
    cli.OnBeforeHeaderSend = [this](THttpCli*, const std::string& m, std::vector<std::string>&) {
      log.push_back("BeforeHeaderSend:" + m);
    };
    cli.OnCommand = [this](THttpCli*, std::string& s) { log.push_back("Command:" + s); };
    cli.OnHeaderBegin = [this](THttpCli*) { log.push_back("HeaderBegin"); };
    cli.OnHeaderData = [this](THttpCli* s) { log.push_back("HeaderData:" + s->ReceivedHeader().back()); };
    cli.OnHeaderEnd = [this](THttpCli*) { log.push_back("HeaderEnd"); };
    cli.OnDocBegin = [this](THttpCli*) { log.push_back("DocBegin"); };
    cli.OnDocData = [this](THttpCli*, const void* b, int n) {
      body.append(static_cast<const char*>(b), static_cast<std::size_t>(n));
      log.push_back("DocData");
    };
    cli.OnDocEnd = [this](THttpCli*) { log.push_back("DocEnd"); };
    cli.OnLocationChange = [this](THttpCli* s) { log.push_back("LocationChange:" + s->Location()); };
    cli.OnRequestDone = [this](THttpCli*, THttpRequest, std::uint16_t e) {
      log.push_back("RequestDone:" + std::to_string(e));
      done = true;
      doneError = e;
      ++doneCount;
    };
  }
  int Count(const std::string& entry) const {
    int n = 0;
    for (const auto& l : log)
      if (l == entry) ++n;
    return n;
  }
  int CountPrefix(const std::string& prefix) const {
    int n = 0;
    for (const auto& l : log)
      if (l.compare(0, prefix.size(), prefix) == 0) ++n;
    return n;
  }
  // Log without the repetitive entries, for order checks.
  std::vector<std::string> Compact() const {
    std::vector<std::string> out;
    for (const auto& l : log) {
      if (l != "Command:" && (l.compare(0, 8, "Command:") == 0 || l.compare(0, 11, "HeaderData:") == 0)) {
        std::string k = l.substr(0, l.find(':') + 1);
        if (!out.empty() && out.back() == k + "*") continue;
        out.push_back(k + "*");
        continue;
      }
      if (l == "DocData" && !out.empty() && out.back() == "DocData") continue;
      out.push_back(l);
    }
    return out;
  }
  bool RunAsync(int ms = 10000) {
    done = false;
    cli.GetASync();
    return PumpUntil([this] { return done; }, ms);
  }
};

// The shortest whole answer: "ok" with its length.
inline const std::string kOk = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok";

// Answers one request per connection with `answer` and records the head.
inline ScriptedServer::Script Answer(ScriptedServer*& self, std::string answer) {
  return [&self, answer](PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    self->Record(head);
    c.Send(answer);
    c.Close();
  };
}

inline std::string FirstLine(const std::string& head) { return head.substr(0, head.find("\r\n")); }

// Lines of a request head, without line ends.
inline std::vector<std::string> HeadLines(const std::string& head) {
  std::vector<std::string> out;
  std::size_t p = 0;
  while (p < head.size()) {
    std::size_t e = head.find("\r\n", p);
    if (e == std::string::npos) break;
    out.push_back(head.substr(p, e - p));
    p = e + 2;
  }
  return out;
}

}  // namespace httptest
