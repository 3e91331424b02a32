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

#include "support/PeerProcess.h"

namespace socktest {

inline int FreePort() { return ClosedPort(); }

using peer::ChildProcess;
using peer::PortAnswers;
using peer::TempDir;
using peer::WaitForPort;
inline std::string ReadTextFile(const std::string& path) { return peer::ReadFile(path); }

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
