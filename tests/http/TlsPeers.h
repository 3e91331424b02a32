// TLS test peers: a throw-away certificate authority and a server
// certificate for "localhost" made with the openssl command line, and nginx
// serving the same folder over TLS and in plain on two ports, with
// redirections between the two and the connection number in its log.
#pragma once

#include <cstdlib>
#include <string>

#include "http/ExternalPeers.h"

namespace httptest {

// CA.pem signs server.pem (subject alternative name DNS:localhost only, so
// "127.0.0.1" is a wrong name); chain.pem is the server certificate followed
// by the CA, as a server that sends its whole chain.
class TestCertificates {
 public:
  TempDir dir{"clipharbor-tls"};
  std::string error;

  std::string CaFile() const { return dir / "ca.pem"; }
  std::string ChainFile() const { return dir / "chain.pem"; }
  std::string KeyFile() const { return dir / "server.key"; }

  bool Make() {
    const std::string d = dir.Path();
    WriteFile(dir / "server.ext",
              "subjectAltName=DNS:localhost\n"
              "basicConstraints=CA:FALSE\n"
              "keyUsage=digitalSignature,keyEncipherment\n"
              "extendedKeyUsage=serverAuth\n");
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string script =
        "set -e; cd '" + d + "'\n"
        "openssl req -x509" + ec + " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Clipharbor Test CA'"
        " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign\n"
        "openssl req" + ec + " -keyout server.key -out server.csr -subj '/CN=localhost'\n"
        "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem"
        " -days 2 -extfile server.ext\n"
        "cat server.pem ca.pem > chain.pem\n";
    WriteFile(dir / "make.sh", script);
    const int rc = std::system(("/bin/sh '" + d + "/make.sh' > '" + d + "/make.log' 2>&1").c_str());
    if (rc != 0) error = ReadFile(dir / "make.log");
    return rc == 0;
  }
};

// nginx with a TLS server and a plain one on the same folder. Log lines:
// "<connection> <server port> <request>". /to-tls/NAME on the plain port
// redirects to https://localhost:<tls>/NAME, /to-plain/NAME on the TLS port
// to http://127.0.0.1:<plain>/NAME. `tlsExtra` goes into the TLS server
// block (more locations).
class TlsNginx {
 public:
  TempDir dir{"clipharbor-nginx-tls"};
  int tlsPort = 0, plainPort = 0;
  ChildProcess proc;
  std::string error;

  std::string Www() const { return dir / "www"; }
  std::string AccessLog() const { return dir / "access.log"; }
  std::string Https(const std::string& path, const std::string& host = "localhost") const {
    return "https://" + host + ":" + std::to_string(tlsPort) + path;
  }
  std::string Http(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(plainPort) + path; }

  bool Start(const TestCertificates& certs, const std::string& tlsExtra = "") {
    std::filesystem::create_directories(Www());
    for (int attempt = 0; attempt < 3; ++attempt) {
      tlsPort = FreePort();
      plainPort = FreePort();
      const std::string tls = std::to_string(tlsPort), plain = std::to_string(plainPort);
      WriteFile(dir / "nginx.conf",
                NginxConf(dir.Path(), "$connection $server_port $request",
                          "  server {\n"
                          "    listen 127.0.0.1:" + tls + " ssl;\n"
                          "    ssl_certificate " + certs.ChainFile() + ";\n"
                          "    ssl_certificate_key " + certs.KeyFile() + ";\n"
                          "    root " + Www() + ";\n"
                          "    location /to-plain/ { rewrite ^/to-plain/(.*)$ http://127.0.0.1:" + plain + "/$1 redirect; }\n" +
                          tlsExtra +
                          "  }\n"
                          "  server {\n"
                          "    listen 127.0.0.1:" + plain + ";\n"
                          "    root " + Www() + ";\n"
                          "    location /to-tls/ { rewrite ^/to-tls/(.*)$ https://localhost:" + tls + "/$1 redirect; }\n"
                          "  }\n"));
      if (RunNginx(proc, dir, {tlsPort, plainPort})) return true;
    }
    error = ReadFile(dir / "stdout.log") + ReadFile(dir / "error.log");
    return false;
  }
};

}  // namespace httptest
