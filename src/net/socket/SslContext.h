// OpenSSL client contexts for the TLS socket layer: the trust settings that
// shape one, and the texts of OpenSSL's failures.
#pragma once

#include <string>

typedef struct ssl_ctx_st SSL_CTX;

// What a context trusts. Minimum protocol is always TLS 1.2.
struct TSslTrust {
  std::string CaFile;       // trust these certificates instead of the system store
  bool VerifyPeer = true;   // false: any certificate and any name are accepted
  bool operator==(const TSslTrust& o) const { return CaFile == o.CaFile && VerifyPeer == o.VerifyPeer; }
};

// A client context for `Trust`, with a reference owned by the caller
// (SSL_CTX_free). Throws ESocketException with a readable text when the
// certificates cannot be loaded.
SSL_CTX* MakeSslClientContext(const TSslTrust& Trust);

// The reason text of OpenSSL's earliest queued error ("wrong version
// number"), or "" when none is queued. Clears the queue.
std::string TakeSslErrorReason();

// The reason OpenSSL gives for a verification result code
// ("self-signed certificate in certificate chain").
std::string SslVerifyResultText(long Code);

// True for a dotted IPv4 address or an IPv6 literal: such a name is checked
// against the certificate's addresses and never sent as a server name.
bool IsIpLiteral(const std::string& Host);
