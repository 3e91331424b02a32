// Real SOCKS servers as test peers: danted and microsocks, started on
// 127.0.0.1 with a generated configuration in a temporary folder, waited for
// until the port answers, and stopped when the object goes away.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SocketTestUtil.h"

extern char** environ;

namespace socktest {

inline int FreePort() { return ClosedPort(); }

inline bool PortAnswers(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

inline std::string ReadTextFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/clipharbor-socks-XXXXXX";
    char* p = ::mkdtemp(tmpl);
    FPath = p ? p : "";
    ::chmod(FPath.c_str(), 0777);
  }
  ~TempDir() {
    std::error_code ec;
    if (!FPath.empty()) std::filesystem::remove_all(FPath, ec);
  }
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { Stop(); }
  bool Start(const std::vector<std::string>& argv, const std::string& logFile) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int rc = posix_spawn(&FPid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) FPid = -1;
    return rc == 0;
  }
  bool Running() {
    if (FPid <= 0) return false;
    int st;
    if (::waitpid(FPid, &st, WNOHANG) == FPid) {
      FPid = -1;
      return false;
    }
    return true;
  }
  void Stop() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      int st;
      if (::waitpid(FPid, &st, WNOHANG) == FPid) {
        FPid = -1;
        return;
      }
      SleepMs(20);
    }
    ::kill(FPid, SIGKILL);
    int st;
    ::waitpid(FPid, &st, 0);
    FPid = -1;
  }

 private:
  pid_t FPid = -1;
};

inline bool WaitForPort(ChildProcess& p, int port, int ms = 5000) {
  for (int waited = 0; waited < ms; waited += 20) {
    if (!p.Running()) return false;
    if (PortAnswers(port)) return true;
    SleepMs(20);
  }
  return false;
}

inline bool Executable(const char* path) { return ::access(path, X_OK) == 0; }

// The system account danted's username method checks against.
constexpr const char* kSocksUser = "clipsocks";
constexpr const char* kSocksPassword = "s3cret-pw";

// Creates the account (with its password) when missing; returns an empty
// text on success, else why it could not.
inline std::string EnsureSocksUser() {
  std::string cmd = std::string("id -u ") + kSocksUser + " >/dev/null 2>&1 || useradd -M -s /usr/sbin/nologin " +
                    kSocksUser + " >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) return "cannot create the system user (useradd needs root)";
  std::string pw = std::string("echo '") + kSocksUser + ":" + kSocksPassword + "' | chpasswd >/dev/null 2>&1";
  if (std::system(pw.c_str()) != 0) return "cannot set the user's password (chpasswd needs root)";
  return "";
}

class Dante {
 public:
  TempDir dir;
  int port = 0;
  ChildProcess proc;
  std::string error;
  std::string Log() const { return dir / "danted.log"; }

  // method: "none" or "username".
  bool Start(const std::string& method) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      port = FreePort();
      std::ofstream(dir / "danted.conf")
          << "logoutput: " << Log() << "\n"
          << "internal: 127.0.0.1 port = " << port << "\n"
          << "external: 127.0.0.1\n"
          << "clientmethod: none\n"
          << "socksmethod: " << method << "\n"
          << "user.privileged: root\n"
          << "user.unprivileged: nobody\n"
          << "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
          << "socks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n  command: connect\n  log: connect error\n}\n";
      proc.Start({"/usr/sbin/danted", "-f", dir / "danted.conf", "-p", dir / "danted.pid", "-N", "1"},
                 dir / "stdout.log");
      if (WaitForPort(proc, port)) return true;
      proc.Stop();
    }
    error = ReadTextFile(dir / "stdout.log") + ReadTextFile(Log());
    return false;
  }
};

class MicroSocks {
 public:
  TempDir dir;
  int port = 0;
  ChildProcess proc;
  std::string error;
  bool Start(const std::string& user = "", const std::string& pass = "") {
    for (int attempt = 0; attempt < 3; ++attempt) {
      port = FreePort();
      std::vector<std::string> argv = {"/usr/bin/microsocks", "-i", "127.0.0.1", "-p", std::to_string(port)};
      if (!user.empty()) {
        argv.insert(argv.end(), {"-u", user, "-P", pass});
      }
      proc.Start(argv, dir / "stdout.log");
      if (WaitForPort(proc, port)) return true;
      proc.Stop();
    }
    error = ReadTextFile(dir / "stdout.log");
    return false;
  }
};

}  // namespace socktest
