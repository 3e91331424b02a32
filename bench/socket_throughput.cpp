// Receives 1 GiB over loopback twice in one run: through TWSocket (its
// notifications, receive loop and OnDataAvailable) and through a plain
// blocking recv loop, and prints both throughputs and their ratio.
//
//   socket_throughput [MiB] [rounds]      (defaults: 1024 MiB, 4 rounds)
#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "net/socket/WSocket.h"
#include "platform/MessageLoop.h"

namespace {

constexpr std::size_t kChunk = 64 * 1024;

// Serves one connection: sends `total` bytes, then closes.
class Sender {
 public:
  explicit Sender(std::uint64_t total) : FTotal(total) {
    FListen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(FListen, 1);
    socklen_t len = sizeof a;
    ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
    FThread = std::thread([this] { Run(); });
  }
  ~Sender() {
    FThread.join();
    ::close(FListen);
  }
  int Port() const { return FPort; }

 private:
  void Run() {
    int fd = ::accept(FListen, nullptr, nullptr);
    if (fd < 0) return;
    std::vector<char> buf(kChunk, 'x');
    std::uint64_t left = FTotal;
    while (left > 0) {
      std::size_t n = left < kChunk ? static_cast<std::size_t>(left) : kChunk;
      ssize_t w = ::send(fd, buf.data(), n, MSG_NOSIGNAL);
      if (w <= 0) break;
      left -= static_cast<std::uint64_t>(w);
    }
    ::shutdown(fd, SHUT_WR);
    char c;
    while (::recv(fd, &c, 1, 0) > 0) {
    }
    ::close(fd);
  }
  std::uint64_t FTotal;
  int FListen = -1;
  int FPort = 0;
  std::thread FThread;
};

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// CPU seconds (user + system) used so far by the calling thread: the
// receiving side's own cost, without the sender thread.
double ThreadCpu() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double g_cpu = 0;  // receiver CPU seconds of the last run

double RunTWSocket(std::uint64_t total, std::uint64_t& got, std::uint64_t& reads) {
  Sender snd(total);
  TWSocket s;
  s.SetLingerOnOff(wsLingerNoSet);
  std::vector<char> buf(kChunk);
  got = 0;
  reads = 0;
  bool closed = false;
  s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    int n = s.Receive(buf.data(), static_cast<int>(buf.size()));
    if (n > 0) {
      got += static_cast<std::uint64_t>(n);
      ++reads;
    }
  };
  s.OnSessionClosed = [&](TObject*, std::uint16_t) { closed = true; };
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(snd.Port()));
  double c0 = ThreadCpu();
  auto t0 = std::chrono::steady_clock::now();
  s.Connect();
  while (!closed) plat::WaitForInput(50);
  auto t1 = std::chrono::steady_clock::now();
  g_cpu = ThreadCpu() - c0;
  return Seconds(t0, t1);
}

double RunBlocking(std::uint64_t total, std::uint64_t& got, std::uint64_t& reads) {
  Sender snd(total);
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(snd.Port()));
  std::vector<char> buf(kChunk);
  got = 0;
  reads = 0;
  double c0 = ThreadCpu();
  auto t0 = std::chrono::steady_clock::now();
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    for (;;) {
      ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
      if (n <= 0) break;
      got += static_cast<std::uint64_t>(n);
      ++reads;
    }
  }
  auto t1 = std::chrono::steady_clock::now();
  g_cpu = ThreadCpu() - c0;
  ::close(fd);
  return Seconds(t0, t1);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 4;
  if (mib == 0) mib = 1024;
  if (rounds < 1) rounds = 1;
  const std::uint64_t total = mib * 1024 * 1024;
  std::printf("socket_throughput: %llu MiB over 127.0.0.1, %zu-byte reads, %d round(s)\n",
              static_cast<unsigned long long>(mib), kChunk, rounds);
  double bestW = 1e30, bestB = 1e30;
  for (int r = 0; r < rounds; ++r) {
    std::uint64_t gotW = 0, gotB = 0, readsW = 0, readsB = 0;
    // Alternate the order so that neither side always runs on a warm machine.
    double tw, tb, cw, cb;
    if (r % 2 == 0) {
      tw = RunTWSocket(total, gotW, readsW);
      cw = g_cpu;
      tb = RunBlocking(total, gotB, readsB);
      cb = g_cpu;
    } else {
      tb = RunBlocking(total, gotB, readsB);
      cb = g_cpu;
      tw = RunTWSocket(total, gotW, readsW);
      cw = g_cpu;
    }
    if (gotW != total || gotB != total) {
      std::printf("round %d: short transfer (TWSocket %llu, blocking %llu bytes)\n", r + 1,
                  static_cast<unsigned long long>(gotW), static_cast<unsigned long long>(gotB));
      return 1;
    }
    std::printf(
        "round %d: TWSocket %.1f MiB/s (%.3f s, receiver CPU %.3f s, %.0f bytes per read), blocking recv %.1f MiB/s "
        "(%.3f s, receiver CPU %.3f s, %.0f bytes per read)\n",
        r + 1, static_cast<double>(mib) / tw, tw, cw, static_cast<double>(gotW) / static_cast<double>(readsW),
        static_cast<double>(mib) / tb, tb, cb, static_cast<double>(gotB) / static_cast<double>(readsB));
    bestW = std::min(bestW, tw);
    bestB = std::min(bestB, tb);
  }
  double w = static_cast<double>(mib) / bestW, b = static_cast<double>(mib) / bestB;
  std::printf("best: TWSocket %.1f MiB/s, blocking recv %.1f MiB/s, ratio TWSocket/blocking %.2f\n", w, b, w / b);
  return 0;
}
