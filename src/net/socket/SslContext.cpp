// OpenSSL client contexts and the texts of OpenSSL's failures.
#include "net/socket/SslContext.h"

#include "net/socket/SslLibrary.h"
#include "net/socket/WSocketLibrary.h"

namespace {

constexpr std::size_t kSslReadBufferLen = 256 * 1024;

}  // namespace

SSL_CTX* MakeSslClientContext(const TSslTrust& Trust) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (!ctx) throw ESocketException("TLS: cannot create a context: " + TakeSslErrorReason());
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  // A server asking to renegotiate would need reads in the middle of a
  // write; nothing here needs it.
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
  // Read-ahead into a buffer of several records: one receive on the socket
  // brings many of them, and the buffer stays (no allocation per record).
  SSL_CTX_set_default_read_buffer_len(ctx, kSslReadBufferLen);
  if (Trust.VerifyPeer) {
    const bool loaded = Trust.CaFile.empty() ? SSL_CTX_set_default_verify_paths(ctx) == 1
                                             : SSL_CTX_load_verify_locations(ctx, Trust.CaFile.c_str(), nullptr) == 1;
    if (!loaded) {
      const std::string why = TakeSslErrorReason();
      SSL_CTX_free(ctx);
      if (Trust.CaFile.empty()) throw ESocketException("TLS: cannot load the system's certificates: " + why);
      throw ESocketException("TLS: cannot load the certificates of " + Trust.CaFile + ": " + why);
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  } else {
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
  }
  return ctx;
}

std::string TakeSslErrorReason() {
  const unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e == 0) return std::string();
  const char* reason = ERR_reason_error_string(e);
  if (reason) return reason;
  char buf[256];
  ERR_error_string_n(e, buf, sizeof buf);
  return buf;
}

std::string SslVerifyResultText(long Code) {
  const char* t = X509_verify_cert_error_string(Code);
  return t ? t : "error " + std::to_string(Code);
}

bool IsIpLiteral(const std::string& Host) {
  if (Host.find(':') != std::string::npos) return true;  // no host name holds a colon
  int parts = 0, digits = 0, value = 0;
  for (char c : Host) {
    if (c == '.') {
      if (digits == 0) return false;
      ++parts;
      digits = value = 0;
    } else if (c >= '0' && c <= '9') {
      value = value * 10 + (c - '0');
      if (++digits > 3 || value > 255) return false;
    } else {
      return false;
    }
  }
  return parts == 3 && digits > 0;
}
