// Downloads one file with THttpCli into a file, and the same file with
// `curl -o`, each in a child process of its own so that CPU time and peak
// memory are the download's alone; checks both copies against the original
// and prints throughput, CPU time and peak memory with the ratios.
//
//   http_download URL ORIGINAL WORKDIR [ROUNDS] [plain|buffered] [CAFILE]
// THttpCli writes through a TBufferedFileStream (1 MiB blocks); with
// "plain" through an unbuffered TFileStream (one write per received slice).
// An https URL is fetched with TLS on, both sides trusting CAFILE.
#include <QCoreApplication>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/http/HttpProt.h"
#include "platform/Stream.h"

extern char** environ;

namespace {

struct Figures {
  bool ok = false;
  double wall = 0, cpu = 0;  // seconds
  long peakKiB = 0;
  std::int64_t bytes = 0;
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

Figures Measure(pid_t pid, std::chrono::steady_clock::time_point t0) {
  Figures f;
  int status = 0;
  rusage ru{};
  if (wait4(pid, &status, 0, &ru) != pid) return f;
  f.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  f.cpu = Seconds(ru.ru_utime) + Seconds(ru.ru_stime);
  f.peakKiB = ru.ru_maxrss;
  f.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return f;
}

// The THttpCli side, in the child: as the download window does it.
bool gPlainStream = false;
std::string gCaFile;

int ClientDownload(const std::string& url, const std::string& out) {
  int argc = 1;
  char name[] = "http_download";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  try {
    std::unique_ptr<plat::TFileStream> file;
    if (gPlainStream)
      file = std::make_unique<plat::TFileStream>(out, plat::fmCreate);
    else
      file = std::make_unique<plat::TBufferedFileStream>(out, plat::fmCreate);
    THttpCli cli;
    cli.LocalAddr = "0.0.0.0";
    cli.Agent = "Mozilla/3.0 (compatible)";
    cli.SetRequestVer("1.0");
    cli.URL = url;
    cli.HttpsEnabled = true;
    cli.SslTrust.CaFile = gCaFile;
    cli.ReceiveStream = file.get();
    cli.Get();
    cli.ReceiveStream = nullptr;
    if (auto* b = dynamic_cast<plat::TBufferedFileStream*>(file.get())) b->FlushBuffer();
    if (cli.ReceivedCount() != cli.ContentLength()) return 3;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "THttpCli: %s\n", e.what());
    return 2;
  }
  return 0;
}

Figures RunClient(const std::string& url, const std::string& out) {
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) _exit(ClientDownload(url, out));
  return Measure(pid, t0);
}

Figures RunCurl(const std::string& url, const std::string& out) {
  std::vector<std::string> args = {"/usr/bin/curl", "-s", "-S", "-f", "-o", out, url};
  if (!gCaFile.empty()) args.insert(args.begin() + 1, {"--cacert", gCaFile});
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return Figures();
  return Measure(pid, t0);
}

// Byte-for-byte comparison; returns the size, or -1 on a difference.
std::int64_t SameAs(const std::string& a, const std::string& b) {
  FILE* fa = std::fopen(a.c_str(), "rb");
  FILE* fb = std::fopen(b.c_str(), "rb");
  std::int64_t n = -1;
  if (fa && fb) {
    std::vector<char> x(1 << 20), y(1 << 20);
    n = 0;
    while (true) {
      std::size_t ra = std::fread(x.data(), 1, x.size(), fa);
      std::size_t rb = std::fread(y.data(), 1, y.size(), fb);
      if (ra != rb || std::memcmp(x.data(), y.data(), ra) != 0) {
        n = -1;
        break;
      }
      if (ra == 0) break;
      n += static_cast<std::int64_t>(ra);
    }
  }
  if (fa) std::fclose(fa);
  if (fb) std::fclose(fb);
  return n;
}

void Print(const char* who, int round, const Figures& f) {
  double mib = static_cast<double>(f.bytes) / (1 << 20);
  std::printf("%-8s round %d: %s  %8.1f MiB/s  wall %6.2f s  cpu %6.2f s  peak %7.1f MiB\n", who, round,
              f.ok ? "ok  " : "FAIL", f.wall > 0 ? mib / f.wall : 0.0, f.wall, f.cpu, f.peakKiB / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s URL ORIGINAL WORKDIR [ROUNDS] [plain|buffered] [CAFILE]\n", argv[0]);
    return 2;
  }
  const std::string url = argv[1], original = argv[2], work = argv[3];
  const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
  gPlainStream = argc > 5 && std::string(argv[5]) == "plain";
  if (argc > 6) gCaFile = argv[6];
  std::printf("THttpCli writes through %s\n", gPlainStream ? "TFileStream" : "TBufferedFileStream (1 MiB)");
  const std::string outCli = work + "/thttpcli.out", outCurl = work + "/curl.out";
  Figures bestCli, bestCurl;
  std::vector<double> wallCli, wallCurl;
  bool allOk = true;
  for (int r = 1; r <= rounds; ++r) {
    // Alternate the order so that neither side always meets a warm cache first.
    Figures cli, curl;
    if (r % 2) {
      cli = RunClient(url, outCli);
      curl = RunCurl(url, outCurl);
    } else {
      curl = RunCurl(url, outCurl);
      cli = RunClient(url, outCli);
    }
    cli.bytes = SameAs(outCli, original);
    curl.bytes = SameAs(outCurl, original);
    cli.ok = cli.ok && cli.bytes > 0;
    curl.ok = curl.ok && curl.bytes > 0;
    Print("THttpCli", r, cli);
    Print("curl", r, curl);
    allOk = allOk && cli.ok && curl.ok;
    if (cli.ok) wallCli.push_back(cli.wall);
    if (curl.ok) wallCurl.push_back(curl.wall);
    if (cli.ok && (!bestCli.ok || cli.wall < bestCli.wall)) bestCli = cli;
    if (curl.ok && (!bestCurl.ok || curl.wall < bestCurl.wall)) bestCurl = curl;
    std::remove(outCli.c_str());
    std::remove(outCurl.c_str());
  }
  if (!bestCli.ok || !bestCurl.ok) {
    std::printf("a download failed or differs from the original\n");
    return 1;
  }
  double mib = static_cast<double>(bestCli.bytes) / (1 << 20);
  std::printf("\nbest of %d, %.0f MiB, both copies identical to the original\n", rounds, mib);
  std::printf("%-10s %12s %10s %12s\n", "", "MiB/s", "CPU s", "peak MiB");
  std::printf("%-10s %12.1f %10.2f %12.1f\n", "THttpCli", mib / bestCli.wall, bestCli.cpu, bestCli.peakKiB / 1024.0);
  std::printf("%-10s %12.1f %10.2f %12.1f\n", "curl", mib / bestCurl.wall, bestCurl.cpu, bestCurl.peakKiB / 1024.0);
  std::printf("%-10s %12.2f %10.2f %12.2f   (THttpCli / curl)\n", "ratio", bestCurl.wall / bestCli.wall,
              bestCli.cpu / bestCurl.cpu, static_cast<double>(bestCli.peakKiB) / bestCurl.peakKiB);
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  };
  std::printf("median     %12.1f %10s %12s   THttpCli\n", mib / median(wallCli), "", "");
  std::printf("median     %12.1f %10s %12s   curl (ratio %.2f)\n", mib / median(wallCurl), "", "",
              median(wallCurl) / median(wallCli));
  return allOk ? 0 : 1;
}
