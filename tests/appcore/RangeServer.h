// A server on 127.0.0.1 that serves one document in ranges to many
// connections at once, each in its own thread, and misbehaves on request:
// a cap of connections answered with 503 beyond it, ranges ignored, a reset
// in the middle of one range, a new version after some requests, a pace.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http/HttpPeer.h"

class TRangeServer {
 public:
  struct TRequest {
    std::string Head;
    long long First = -1, Last = -1;  // the asked range; -1 when none
  };

  std::string Doc;
  std::string ETag = "\"v1\"";
  int Cap = 0;                   // most connections served at once; 0: no cap
  bool IgnoreRanges = false;
  long long ResetAt = -1;        // the first range over this byte is reset there
  int ChangeAfter = -1;          // requests answered before the document changes
  std::string ChangedDoc;
  int PaceMs = 0;                // pause after each 4 KiB
  int SlowFirstMs = 0;           // pause after each 4 KiB of the first ranged request only
  int LingerMs = 0;              // a connection closed by the client before its answer's
                                 // end counts against Cap this much longer
  long long MostPerAnswer = 0;   // a range answer serves at most this many bytes; 0: all asked

  explicit TRangeServer(std::string doc) : Doc(std::move(doc)) {
    FFd = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(FFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(FFd, 64);
    socklen_t len = sizeof a;
    ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
  }
  ~TRangeServer() { Stop(); }

  void Start() {
    FAccept = std::thread([this] { Accept(); });
  }
  void Stop() {
    FStop = true;
    if (FAccept.joinable()) FAccept.join();
    for (std::thread& t : FWorkers) t.join();
    FWorkers.clear();
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
  }
  std::string Url(const std::string& path = "/clip.flv") const {
    return "http://127.0.0.1:" + std::to_string(FPort) + path;
  }
  std::vector<TRequest> Requests() {
    std::lock_guard<std::mutex> l(FMutex);
    return FRequests;
  }
  long long BodyBytesSent() const { return FSent; }
  int MostAtOnce() const { return FMost; }

 private:
  static TRequest Parse(const std::string& head) {
    TRequest r;
    r.Head = head;
    const std::string::size_type p = head.find("\r\nRange: bytes=");
    if (p != std::string::npos) {
      r.First = std::stoll(head.substr(p + 15));
      const std::string::size_type dash = head.find('-', p + 15);
      const std::string after = head.substr(dash + 1, 1);
      if (!after.empty() && std::isdigit(static_cast<unsigned char>(after[0])))
        r.Last = std::stoll(head.substr(dash + 1));
    }
    return r;
  }

  void Accept() {
    while (!FStop) {
      pollfd pfd{FFd, POLLIN, 0};
      if (::poll(&pfd, 1, 20) <= 0) continue;
      const int c = ::accept(FFd, nullptr, nullptr);
      if (c < 0) continue;
      FWorkers.emplace_back([this, c] { Serve(c); });
    }
  }

  void Serve(int fd) {
    httptest::PeerConn conn(fd);
    std::string head;
    if (!conn.ReadRequest(head)) return;
    const int open = ++FOpen;
    FMost = std::max(FMost.load(), open);
    struct TLeave {
      std::atomic<int>& n;
      int lingerMs = 0;
      ~TLeave() {
        // Like a server that notices a close only at its next write.
        if (lingerMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(lingerMs));
        --n;
      }
    } leave{FOpen};
    TRequest r = Parse(head);
    int index;
    {
      std::lock_guard<std::mutex> l(FMutex);
      index = static_cast<int>(FRequests.size());
      FRequests.push_back(r);
    }
    if (Cap > 0 && open > Cap) {
      const std::string page = "busy";
      conn.Send("HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\nRetry-After: 1\r\nContent-Length: 4\r\n\r\n" +
                page);
      conn.WaitForClientClose();
      return;
    }
    const bool changed = ChangeAfter >= 0 && index >= ChangeAfter;
    const std::string& doc = changed ? ChangedDoc : Doc;
    const std::string etag = changed ? "\"v2\"" : ETag;
    std::string ifRange;
    const std::string::size_type ir = head.find("\r\nIf-Range: ");
    if (ir != std::string::npos) ifRange = head.substr(ir + 12, head.find("\r\n", ir + 12) - ir - 12);
    const long long size = static_cast<long long>(doc.size());
    long long first = 0, last = size - 1;
    bool partial = r.First >= 0 && !IgnoreRanges && (ifRange.empty() || ifRange == etag);
    if (partial) {
      first = r.First;
      if (r.Last >= 0) last = std::min(r.Last, size - 1);
      if (MostPerAnswer > 0) last = std::min(last, first + MostPerAnswer - 1);
      if (first > last) partial = false, first = 0, last = size - 1;
    }
    std::string h = partial ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n";
    h += "Connection: close\r\nAccept-Ranges: bytes\r\nETag: " + etag + "\r\n";
    if (partial)
      h += "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size) +
           "\r\n";
    h += "Content-Length: " + std::to_string(last - first + 1) + "\r\n\r\n";
    if (!conn.Send(h)) {
      leave.lingerMs = LingerMs;
      return;
    }
    bool reset = false;
    if (ResetAt >= first && ResetAt <= last) {
      std::lock_guard<std::mutex> l(FMutex);
      reset = !FResetDone;
      FResetDone = true;
    }
    const bool slow = SlowFirstMs > 0 && r.First >= 0 && !FSlowDone.exchange(true);
    for (long long at = first; at <= last && !FStop;) {
      const long long end = std::min(last + 1, at + 4096);
      if (reset && at <= ResetAt && ResetAt < end) {
        conn.Send(doc.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(ResetAt - at)));
        FSent += ResetAt - at;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // read before the reset
        conn.Reset();
        return;
      }
      if (!conn.Send(doc.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(end - at)))) {
        leave.lingerMs = LingerMs;
        return;
      }
      FSent += end - at;
      at = end;
      if (PaceMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(PaceMs));
      if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(SlowFirstMs));
    }
    conn.WaitForClientClose();
  }

  int FFd = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::thread FAccept;
  std::vector<std::thread> FWorkers;
  std::mutex FMutex;
  std::vector<TRequest> FRequests;
  bool FResetDone = false;
  std::atomic<bool> FSlowDone{false};
  std::atomic<long long> FSent{0};
  std::atomic<int> FOpen{0};
  std::atomic<int> FMost{0};
};
