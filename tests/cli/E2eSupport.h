// Helpers of the end-to-end tests (command line and window): temporary
// folders, child processes with captured output and a time limit, the
// stand-in video service on loopback, PATH with a chosen `ffmpeg`.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace e2e {

inline std::string SourceDir() { return CLIPHARBOR_SOURCE_DIR; }
inline std::string BinaryDir() { return CLIPHARBOR_BINARY_DIR; }
inline std::string Cli() { return BinaryDir() + "/clipharbor-cli"; }

// The stand-in service's default title, and the file it is saved as.
inline const std::string kClip = "Sample Clip";
inline const std::string kClipFile = kClip + ".flv";

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// Waits until the file holds `needle` (peers write their logs a little
// after the answer); returns the file's text.
inline std::string WaitForLog(const std::string& path, const std::string& needle, int ms = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  std::string text = ReadFile(path);
  while (text.find(needle) == std::string::npos && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    text = ReadFile(path);
  }
  return text;
}

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << data;
}

inline bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

class TTempDir {
 public:
  TTempDir() {
    char tmpl[] = "/tmp/clipharbor-e2e-XXXXXX";
    char* p = ::mkdtemp(tmpl);
    Path = p ? p : "";
  }
  ~TTempDir() {
    std::error_code ec;
    if (!Path.empty()) std::filesystem::remove_all(Path, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  std::string operator/(const std::string& name) const { return Path + "/" + name; }
  std::string Path;
};

// The environment of this process with some entries replaced or removed
// (an empty optional removes the entry).
inline std::vector<std::string> Environment(const std::map<std::string, std::optional<std::string>>& changes) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (changes.count(name)) continue;
    env.push_back(entry);
  }
  for (const auto& [name, value] : changes)
    if (value) env.push_back(name + "=" + *value);
  return env;
}

struct TRunResult {
  int ExitCode = -1;  // -1: killed at the time limit
  std::string Out, Err;
  bool TimedOut = false;
};

// A started child with pipes for its three standard handles.
class TChild {
 public:
  TChild(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    std::vector<char*> a, e;
    for (const std::string& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    for (const std::string& s : env) e.push_back(const_cast<char*>(s.c_str()));
    e.push_back(nullptr);
    if (::posix_spawnp(&Pid, a[0], &fa, &attr, a.data(), e.data()) != 0) Pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    In = in[1];
    Out = out[0];
    Err = err[0];
  }
  ~TChild() {
    Kill();
    CloseFd(In);
    CloseFd(Out);
    CloseFd(Err);
  }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;

  bool Started() const { return Pid > 0; }
  pid_t ProcessId() const { return Pid; }
  void Write(const std::string& s) {
    if (In >= 0 && !s.empty()) (void)!::write(In, s.data(), s.size());
  }
  void CloseInput() { CloseFd(In); }
  void Signal(int sig) {
    if (Pid > 0 && !Reaped) ::kill(Pid, sig);
  }
  // Collects output until `until` returns true for what came so far, the
  // child ends, or `ms` pass. True when `until` held.
  template <typename Pred>
  bool ReadUntil(Pred until, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!until(OutText, ErrText)) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return false;
      if (!Pump(static_cast<int>(std::min<long long>(left, 100)))) return until(OutText, ErrText);
    }
    return true;
  }
  // Waits for the end (killing the process group at the limit).
  TRunResult Finish(int ms) {
    TRunResult r;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    ReadUntil([](const std::string&, const std::string&) { return false; }, ms);
    while (!Reaped) {
      int status = 0;
      if (::waitpid(Pid, &status, WNOHANG) == Pid) {
        Reaped = true;
        Status = status;
      } else if (std::chrono::steady_clock::now() >= deadline) {
        r.TimedOut = true;
        Kill();
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    r.Out = OutText;
    r.Err = ErrText;
    if (!r.TimedOut && WIFEXITED(Status)) r.ExitCode = WEXITSTATUS(Status);
    return r;
  }
  std::string OutText, ErrText;

 private:
  static void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  // Reads what is there; false once both pipes are at their end.
  bool Pump(int ms) {
    pollfd p[2] = {{Out, POLLIN, 0}, {Err, POLLIN, 0}};
    if (Out < 0 && Err < 0) return false;
    if (::poll(p, 2, ms) < 0) return true;
    char buf[65536];
    for (int i = 0; i < 2; ++i) {
      int& fd = i == 0 ? Out : Err;
      if (fd < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n > 0) (i == 0 ? OutText : ErrText).append(buf, static_cast<std::size_t>(n));
      else CloseFd(fd);
    }
    return Out >= 0 || Err >= 0;
  }
  void Kill() {
    if (Pid > 0 && !Reaped) {
      ::kill(-Pid, SIGKILL);
      ::waitpid(Pid, &Status, 0);
      Reaped = true;
    }
  }
  pid_t Pid = -1;
  int In = -1, Out = -1, Err = -1;
  int Status = 0;
  bool Reaped = false;
};

inline TRunResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const std::string& input = std::string(), int ms = 50000) {
  TChild c(argv, env);
  if (!c.Started()) return {};
  c.Write(input);
  c.CloseInput();
  return c.Finish(ms);
}

// A folder with python3 whose `ffmpeg` is the scripted stand-in of the
// converter tests, or that has no `ffmpeg` at all.
inline std::string StandInConverterDir(const TTempDir& dir, bool withConverter = true) {
  const std::string bin = dir / "bin";
  std::filesystem::create_directories(bin);
  std::error_code ec;
  std::filesystem::create_symlink("/usr/bin/python3", bin + "/python3", ec);
  if (withConverter)
    std::filesystem::create_symlink(SourceDir() + "/tests/appcore/convert_standin.py", bin + "/ffmpeg", ec);
  return bin;
}

// `first`, then the folders of PATH that hold no `ffmpeg`.
inline std::string PathWithout(const std::string& first) {
  std::string path = first;
  const char* old = std::getenv("PATH");
  std::stringstream s(old ? old : "");
  for (std::string part; std::getline(s, part, ':');) {
    if (part.empty() || Exists(part + "/ffmpeg")) continue;
    path += ":" + part;
  }
  return path;
}

// tools/video_service.py on loopback for the life of the object.
class TService {
 public:
  explicit TService(const std::vector<std::string>& switches) {
    std::vector<std::string> argv = {"python3", SourceDir() + "/tools/video_service.py", "--cache-dir",
                                     BinaryDir() + "/video-service-cache"};
    argv.insert(argv.end(), switches.begin(), switches.end());
    FChild = std::make_unique<TChild>(argv, Environment({}));
    // The first start may make the sample FLV with ffmpeg.
    FChild->ReadUntil(
        [](const std::string& out, const std::string&) { return out.find("cache ") != std::string::npos &&
                                                                 out.find('\n', out.find("cache ")) != std::string::npos; },
        40000);
    std::istringstream lines(FChild->OutText);
    std::string cache;
    lines >> Port >> cache >> CachePort;
  }
  ~TService() {
    if (FChild) FChild->Signal(SIGTERM);
  }
  bool Running() const { return Port > 0 && CachePort > 0; }
  std::string Host() const { return "127.0.0.1:" + std::to_string(Port); }
  std::string WatchUrl(const std::string& id = "Xk3mP9qA_7w") const { return "http://" + Host() + "/watch?v=" + id; }
  // Environment pointing the program at this service.
  std::map<std::string, std::optional<std::string>> Env() const {
    return {{"CLIPHARBOR_SERVICE", Host()}, {"CLIPHARBOR_CACHE_HOST", std::string("127.0.0.1")}};
  }
  // A document of the service, fetched outside the program under test.
  std::string Fetch(const std::string& path) const {
    TRunResult r = RunProcess({"python3", "-c",
                        "import sys,urllib.request;sys.stdout.buffer.write(urllib.request.urlopen("
                        "'http://" + Host() + path + "').read())"},
                       Environment({}), std::string(), 20000);
    return r.Out;
  }
  std::string Flv() const { return Fetch("/__flv"); }
  std::string Requests() const { return Fetch("/__requests"); }

  int Port = 0;
  int CachePort = 0;

 private:
  std::unique_ptr<TChild> FChild;
};

}  // namespace e2e
