// Real servers as test peers: nginx, squid and danted, each started on
// 127.0.0.1 with a generated configuration in a temporary folder of its
// own, waited for until its port answers, and stopped (and reaped) when the
// object goes away, also when the test fails.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/PeerProcess.h"

namespace httptest {

inline int FreePort() {
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

using peer::ChildProcess;
using peer::PortAnswers;
using peer::ReadFile;
using peer::TempDir;
using peer::WaitForPort;

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
}

// Bytes that are not text, the same for the same seed.
inline std::string Pattern(std::size_t n, std::uint32_t seed = 12345) {
  std::string s(n, '\0');
  std::uint32_t x = seed;
  for (auto& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

// The non-empty lines of a log file.
inline std::vector<std::string> LogLines(const std::string& path) {
  std::vector<std::string> out;
  std::istringstream s(ReadFile(path));
  std::string l;
  while (std::getline(s, l))
    if (!l.empty()) out.push_back(l);
  return out;
}

// nginx.conf for a server living in `dir`, logging access lines in
// `logFormat` and ranges as "<status> <Range>", with the given server blocks.
inline std::string NginxConf(const std::string& d, const std::string& logFormat, const std::string& servers) {
  return "worker_processes 1;\n"
         "pid " + d + "/nginx.pid;\n"
         "error_log " + d + "/error.log;\n"
         "events { worker_connections 64; }\n"
         "http {\n"
         "  log_format conn '" + logFormat + "';\n"
         "  access_log " + d + "/access.log conn;\n"
         "  log_format ranges '$status $http_range';\n"
         "  access_log " + d + "/ranges.log ranges;\n"
         "  client_body_temp_path " + d + "/body;\n"
         "  proxy_temp_path " + d + "/proxy;\n"
         "  fastcgi_temp_path " + d + "/fastcgi;\n"
         "  uwsgi_temp_path " + d + "/uwsgi;\n"
         "  scgi_temp_path " + d + "/scgi;\n"
         "  keepalive_timeout 30;\n"
         "  sendfile on;\n" +
         servers + "}\n";
}

// Runs nginx on DIR/nginx.conf until all `ports` answer; stopped otherwise.
inline bool RunNginx(ChildProcess& proc, const TempDir& dir, std::initializer_list<int> ports) {
  proc.Start({"/usr/sbin/nginx", "-c", dir / "nginx.conf", "-p", dir.Path(), "-g", "daemon off; user root;"},
             dir / "stdout.log");
  for (int port : ports)
    if (!WaitForPort(proc, port)) {
      proc.Stop();
      return false;
    }
  return true;
}

// nginx serving DIR/www on a free port; access log lines "<connection> <request>",
// range log lines "<status> <Range>".
class Nginx {
 public:
  TempDir dir;
  int port = 0;
  ChildProcess proc;
  std::string error;

  std::string Www() const { return dir / "www"; }
  std::string AccessLog() const { return dir / "access.log"; }
  // "<status> <Range header or ->" per request.
  std::string RangeLog() const { return dir / "ranges.log"; }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }

  bool Start() {
    std::filesystem::create_directories(Www());
    for (int attempt = 0; attempt < 3; ++attempt) {
      port = FreePort();
      WriteFile(dir / "nginx.conf", NginxConf(dir.Path(), "$connection $request",
                                              "  server {\n"
                                              "    listen 127.0.0.1:" + std::to_string(port) + ";\n"
                                              "    root " + Www() + ";\n"
                                              "  }\n"));
      if (RunNginx(proc, dir, {port})) return true;
    }
    error = ReadFile(dir / "stdout.log") + ReadFile(dir / "error.log");
    return false;
  }
};

// squid as a forward proxy without disk cache; `auth` is "", "basic" or "ntlm".
class Squid {
 public:
  TempDir dir;
  int port = 0;
  ChildProcess proc;
  std::string error;

  std::string AccessLog() const { return dir / "access.log"; }

  bool Start(const std::string& auth, const std::string& user = "", const std::string& pass = "") {
    std::string d = dir.Path();
    std::string authConf;
    if (auth == "basic") {
      std::string hash;
      if (FILE* p = ::popen(("/usr/bin/openssl passwd -apr1 '" + pass + "'").c_str(), "r")) {
        char buf[256];
        if (std::fgets(buf, sizeof buf, p)) hash = buf;
        ::pclose(p);
      }
      while (!hash.empty() && (hash.back() == '\n' || hash.back() == '\r')) hash.pop_back();
      WriteFile(dir / "passwd", user + ":" + hash + "\n");
      ::chmod((dir / "passwd").c_str(), 0644);
      authConf = "auth_param basic program /usr/lib/squid/basic_ncsa_auth " + d + "/passwd\n"
                 "auth_param basic children 2\n"
                 "auth_param basic realm clipharbor\n"
                 "acl authed proxy_auth REQUIRED\n"
                 "http_access allow authed\n";
    } else if (auth == "ntlm") {
      authConf = "auth_param ntlm program /usr/lib/squid/ntlm_fake_auth\n"
                 "auth_param ntlm children 2\n"
                 "acl authed proxy_auth REQUIRED\n"
                 "http_access allow authed\n";
    } else {
      authConf = "http_access allow all\n";
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
      port = FreePort();
      WriteFile(dir / "squid.conf",
                "http_port 127.0.0.1:" + std::to_string(port) + "\n"
                "pid_filename " + d + "/squid.pid\n"
                "cache_log " + d + "/cache.log\n"
                "access_log stdio:" + d + "/access.log\n"
                "cache_store_log none\n"
                "cache deny all\n"
                "cache_mem 4 MB\n"
                "cache_effective_user proxy\n"
                "coredump_dir " + d + "\n"
                "netdb_filename none\n"
                "dns_nameservers 127.0.0.1\n"
                "shutdown_lifetime 0 seconds\n"
                "pinger_enable off\n"
                "logfile_rotate 0\n" +
                    authConf + "http_access deny all\n");
      proc.Start({"/usr/sbin/squid", "-N", "-f", dir / "squid.conf"}, dir / "stdout.log");
      if (WaitForPort(proc, port, 20000)) return true;
      proc.Stop();
    }
    error = ReadFile(dir / "stdout.log") + ReadFile(dir / "cache.log");
    return false;
  }
};

// danted as a SOCKS 5 server without authentication.
class Dante {
 public:
  TempDir dir;
  int port = 0;
  ChildProcess proc;
  std::string error;

  std::string Log() const { return dir / "danted.log"; }

  bool Start() {
    for (int attempt = 0; attempt < 3; ++attempt) {
      port = FreePort();
      WriteFile(dir / "danted.conf",
                "logoutput: " + Log() + "\n"
                "internal: 127.0.0.1 port = " + std::to_string(port) + "\n"
                "external: 127.0.0.1\n"
                "clientmethod: none\n"
                "socksmethod: none\n"
                "user.privileged: root\n"
                "user.unprivileged: nobody\n"
                "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n  log: connect error\n}\n"
                "socks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n  command: connect\n  log: connect error\n}\n");
      proc.Start({"/usr/sbin/danted", "-f", dir / "danted.conf", "-p", dir / "danted.pid", "-N", "1"},
                 dir / "stdout.log");
      if (WaitForPort(proc, port)) return true;
      proc.Stop();
    }
    error = ReadFile(dir / "stdout.log") + ReadFile(Log());
    return false;
  }
};

}  // namespace httptest
