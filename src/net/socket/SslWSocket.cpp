// TCustomSslWSocket: the TLS handshake, encryption into the send queue and
// decryption in the receive path, over a BIO that talks to the layer below.
#include "net/socket/SslWSocket.h"

#include "net/socket/SslLibrary.h"
#include "net/socket/WSocketInternal.h"

using namespace wsocket_internal;

TCustomSslWSocket::TCustomSslWSocket() = default;

TCustomSslWSocket::~TCustomSslWSocket() {
  FreeSsl();
  if (FSslCtx) SSL_CTX_free(FSslCtx);
}

// --- the BIO

BIO* TCustomSslWSocket::MakeBio(TCustomSslWSocket* Owner) {
  // One method for the process, made on first use.
  static BIO_METHOD* const method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "clipharbor socket");
    if (!m) return m;
    BIO_meth_set_create(m, [](BIO* b) {
      BIO_set_init(b, 1);
      return 1;
    });
    BIO_meth_set_read(m, &TCustomSslWSocket::BioRead);
    BIO_meth_set_write(m, &TCustomSslWSocket::BioWrite);
    BIO_meth_set_ctrl(m, &TCustomSslWSocket::BioCtrl);
    return m;
  }();
  BIO* b = method ? BIO_new(method) : nullptr;
  if (b) BIO_set_data(b, Owner);
  return b;
}

int TCustomSslWSocket::BioRead(BIO* Bio, char* Buffer, int Len) {
  BIO_clear_retry_flags(Bio);
  auto* s = static_cast<TCustomSslWSocket*>(BIO_get_data(Bio));
  if (!s || Len <= 0) return 0;
  const int n = s->TCustomSocksWSocket::DoRecv(Buffer, Len, 0);
  if (n > 0) return n;
  if (n == 0) {
    s->FBioEof = true;
    return 0;
  }
  if (s->FLastError == plat::WSAEWOULDBLOCK) {
    BIO_set_retry_read(Bio);
    return -1;
  }
  s->FBioError = s->FLastError;
  return -1;
}

int TCustomSslWSocket::BioWrite(BIO* Bio, const char* Data, int Len) {
  BIO_clear_retry_flags(Bio);
  auto* s = static_cast<TCustomSslWSocket*>(BIO_get_data(Bio));
  if (!s || Len <= 0) return 0;
  // The queue takes everything; TryToSend hands it on when it can.
  s->TCustomSocksWSocket::QueueData(Data, Len);
  return Len;
}

long TCustomSslWSocket::BioCtrl(BIO* Bio, int Cmd, long Num, void* Ptr) {
  (void)Bio;
  (void)Num;
  (void)Ptr;
  return Cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

// --- the handshake

void TCustomSslWSocket::SessionConnectedHook(std::uint16_t Error) {
  if (Error == 0 && FSslEnable && FSslState == sslIdle && !SocksNegotiating()) {
    StartSslHandshake();
    return;
  }
  TCustomSocksWSocket::SessionConnectedHook(Error);
}

void TCustomSslWSocket::StartSslHandshake() {
  if (FHSocket == INVALID_SOCKET || FState != wsConnected || FSslState != sslIdle || SocksNegotiating()) {
    RaiseSocketException("StartSslHandshake: no plain connection to secure");
    return;
  }
  FreeSsl();
  FSslErrorText.clear();
  FBioEof = false;
  FBioError = 0;
  FCloseNotify = false;
  FSslState = sslHandshaking;
  const std::string name = FSslServerName.empty() ? FAddrStr : FSslServerName;
  if (FSslTrust.VerifyPeer && name.empty()) {
    FailHandshake(sslHandshakeFailed, "no server name to verify the certificate against");
    return;
  }
  try {
    if (!FSslCtx || !(FSslCtxTrust == FSslTrust)) {
      if (FSslCtx) SSL_CTX_free(FSslCtx);
      FSslCtx = nullptr;
      FSslCtx = MakeSslClientContext(FSslTrust);
      FSslCtxTrust = FSslTrust;
    }
  } catch (const ESocketException& e) {
    FailHandshake(sslHandshakeFailed, e.Message());
    return;
  }
  FSsl = SSL_new(FSslCtx);
  BIO* bio = FSsl ? MakeBio(this) : nullptr;
  if (!bio) {
    FailHandshake(sslHandshakeFailed, "TLS: out of memory");
    return;
  }
  SSL_set_bio(FSsl, bio, bio);
  // As much as the socket holds is read at once: fewer calls on it.
  SSL_set_read_ahead(FSsl, 1);
  const bool ip = IsIpLiteral(name);
  if (!ip) SSL_set_tlsext_host_name(FSsl, name.c_str());
  if (FSslTrust.VerifyPeer) {
    X509_VERIFY_PARAM* param = SSL_get0_param(FSsl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const int set = ip ? X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str())
                       : X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size());
    if (set != 1) {
      FailHandshake(sslHandshakeFailed, "cannot check the certificate against \"" + name + "\"");
      return;
    }
  }
  SSL_set_connect_state(FSsl);
  ContinueHandshake();
}

void TCustomSslWSocket::ContinueHandshake() {
  const std::int32_t readCount = FReadCount;  // handshake bytes are no data
  ERR_clear_error();
  const int r = SSL_do_handshake(FSsl);
  const int err = r == 1 ? SSL_ERROR_NONE : SSL_get_error(FSsl, r);
  FReadCount = readCount;
  TryToSend();  // the handshake's own records
  if (!FSsl) return;  // the send failed and the socket closed
  switch (err) {
    case SSL_ERROR_NONE: {
      FSslState = sslEstablished;
      if (CheckLogOption(loWsockInfo)) DebugLog(loWsockInfo, Name + " TLS " + SslProtocol() + " " + SslCipher());
      if (!FSslHeld.empty()) {
        std::string held;
        held.swap(FSslHeld);
        Send(held.data(), static_cast<int>(held.size()));
      }
      TCustomSocksWSocket::SessionConnectedHook(0);
      return;
    }
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      return;
    default: {
      const long verify = SSL_get_verify_result(FSsl);
      const std::string reason = TakeSslErrorReason();
      if (FSslTrust.VerifyPeer && verify != X509_V_OK)
        FailHandshake(sslCertificateRejected, "certificate verify failed: " + SslVerifyResultText(verify));
      else if (FBioError != 0)
        FailHandshake(sslHandshakeFailed, WinsockErrorText(FBioError) + " during the TLS handshake (Error #" +
                                              std::to_string(FBioError) + ")");
      else if (FBioEof)
        FailHandshake(sslHandshakeFailed, "connection closed during the TLS handshake");
      else
        FailHandshake(sslHandshakeFailed, "TLS handshake failed: " + (reason.empty() ? "protocol error" : reason));
      return;
    }
  }
}

void TCustomSslWSocket::FailHandshake(int Code, const std::string& Text) {
  FSslErrorText = Text;
  FSslState = sslFailed;
  FSslHeld.clear();
  if (CheckLogOption(loWsockErr)) DebugLog(loWsockErr, Name + " " + Text);
  // As after a failed connect: the error, then the close.
  TCustomSocksWSocket::SessionConnectedHook(static_cast<std::uint16_t>(Code));
  FLastError = Code;
  if (FState != wsClosed) Close();
}

bool TCustomSslWSocket::TriggerDataAvailable(std::uint16_t Error) {
  if (FSslState != sslHandshaking) return TCustomSocksWSocket::TriggerDataAvailable(Error);
  if (Error != 0) {
    FailHandshake(Error, WinsockErrorText(Error) + " during the TLS handshake (Error #" + std::to_string(Error) + ")");
    return true;
  }
  ContinueHandshake();
  // Still waiting for the server: end the receive loop quietly.
  if (FSslState == sslHandshaking) FLastError = -1;
  return true;
}

void TCustomSslWSocket::TriggerDataSent(std::uint16_t Error) {
  // The handshake's records are the layer's own business.
  if (FSslState == sslHandshaking) return;
  TCustomSocksWSocket::TriggerDataSent(Error);
}

// --- sending

bool TCustomSslWSocket::SslWrite(const void* Data, int Len) {
  ERR_clear_error();
  const int w = SSL_write(FSsl, Data, Len);
  if (w == Len) return true;
  FSslErrorText = "TLS: " + TakeSslErrorReason();
  FSslState = sslFailed;
  // Ends through the close notification, carrying the error.
  plat::PostMessage(FWindowHandle, WM_ASYNCSELECT, static_cast<plat::WPARAM>(FHSocket),
                    plat::WSAMakeSelectReplyFor(FHSocket, plat::FD_CLOSE, sslSessionFailed));
  return false;
}

void TCustomSslWSocket::QueueData(const void* Buffer, int Len) {
  if (Len <= 0 || !Buffer) return;
  switch (FSslState) {
    case sslIdle:
      TCustomSocksWSocket::QueueData(Buffer, Len);
      return;
    case sslHandshaking:
      FSslHeld.append(static_cast<const char*>(Buffer), static_cast<std::size_t>(Len));
      FAllSent = false;
      return;
    case sslEstablished:
      SslWrite(Buffer, Len);
      return;
    case sslFailed:
      return;  // the connection is ending
  }
}

int TCustomSslWSocket::Send(const void* Data, int Len) {
  if (FSslState == sslIdle || (FState != wsConnected && FState != wsSocksConnected))
    return TCustomSocksWSocket::Send(Data, Len);
  if (Len <= 0 || !Data)
    Len = 0;
  else
    QueueData(Data, Len);
  // Sends what is queued and, once all is out, posts the write notification.
  if (TCustomSocksWSocket::Send(nullptr, 0) < 0) return -1;
  return Len;
}

// --- receiving

int TCustomSslWSocket::DoRecv(void* Buffer, int BufferSize, int Flags) {
  if (FSslState == sslIdle) return TCustomSocksWSocket::DoRecv(Buffer, BufferSize, Flags);
  if (FSslState != sslEstablished || !FSsl) {
    FLastError = FSslState == sslFailed ? sslSessionFailed : plat::WSAEWOULDBLOCK;
    return -1;
  }
  if (BufferSize <= 0) return TCustomSocksWSocket::DoRecv(Buffer, 0, Flags);
  if (!Buffer) {
    FLastError = plat::WSAEFAULT;
    return -1;
  }
  const std::int32_t readCount = FReadCount;
  const bool allSent = FAllSent;
  ERR_clear_error();
  const int n = SSL_read(FSsl, Buffer, BufferSize);
  const int err = n > 0 ? SSL_ERROR_NONE : SSL_get_error(FSsl, n);
  // A read may answer the peer (alerts, key updates): let that go out.
  if (allSent && !FAllSent) TryToSend();
  if (n > 0) {
    FReadCount = WrapAdd(readCount, n);
    ++FSslReads;
    return n;
  }
  FReadCount = readCount;
  switch (err) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      FLastError = plat::WSAEWOULDBLOCK;
      return -1;
    case SSL_ERROR_ZERO_RETURN:
      // The peer's close_notify ends the data even while its TCP stays
      // open: report the close now, not after the receive time-out.
      if (!FCloseNotify) {
        FCloseNotify = true;
        plat::PostMessage(FWindowHandle, WM_ASYNCSELECT, static_cast<plat::WPARAM>(FHSocket),
                          plat::WSAMakeSelectReplyFor(FHSocket, plat::FD_CLOSE, 0));
      }
      return 0;
    default:
      break;
  }
  const std::string reason = TakeSslErrorReason();
  if (FBioError != 0) {
    FLastError = FBioError;
    return -1;
  }
  // Closed without the closing alert: the answer's own framing tells a cut.
  if (FBioEof) return 0;
  FSslErrorText = "TLS: " + (reason.empty() ? std::string("protocol error") : reason);
  FSslState = sslFailed;
  FLastError = sslSessionFailed;
  plat::PostMessage(FWindowHandle, WM_ASYNCSELECT, static_cast<plat::WPARAM>(FHSocket),
                    plat::WSAMakeSelectReplyFor(FHSocket, plat::FD_CLOSE, sslSessionFailed));
  return -1;
}

bool TCustomSslWSocket::HoldsPlaintext() const {
  return FSsl && FSslState == sslEstablished && SSL_has_pending(FSsl) == 1;
}

int TCustomSslWSocket::PendingCount(unsigned long& Count) {
  if (HoldsPlaintext()) {
    const int p = SSL_pending(FSsl);
    Count = p > 0 ? static_cast<unsigned long>(p) : 1;
    return 0;
  }
  return TCustomSocksWSocket::PendingCount(Count);
}

int TCustomSslWSocket::GetRcvdCount() {
  if (FSsl && FSslState == sslEstablished) {
    const int p = SSL_pending(FSsl);
    if (p > 0) return p;
  }
  return TCustomSocksWSocket::GetRcvdCount();
}

// Bytes decrypted and held inside OpenSSL raise no notification of the
// socket: a pass that read and left some asks for another, as a plain
// socket with unread bytes would.
void TCustomSslWSocket::PostReadIfHeld(std::uint64_t ReadsBefore) {
  if (FSslReads == ReadsBefore || FPaused || FHSocket == INVALID_SOCKET || !HoldsPlaintext()) return;
  plat::PostMessage(FWindowHandle, WM_ASYNCSELECT, static_cast<plat::WPARAM>(FHSocket),
                    plat::WSAMakeSelectReplyFor(FHSocket, plat::FD_READ, 0));
}

void TCustomSslWSocket::HandleReadEvent(std::uint16_t Error) {
  const std::uint64_t reads = FSslReads;
  TCustomSocksWSocket::HandleReadEvent(Error);
  PostReadIfHeld(reads);
}

void TCustomSslWSocket::Resume() {
  TCustomSocksWSocket::Resume();
  if (!FPaused && FHSocket != INVALID_SOCKET && HoldsPlaintext())
    plat::PostMessage(FWindowHandle, WM_ASYNCSELECT, static_cast<plat::WPARAM>(FHSocket),
                      plat::WSAMakeSelectReplyFor(FHSocket, plat::FD_READ, 0));
}

// --- closing

void TCustomSslWSocket::DoClose(bool HalfClose, std::uint16_t Error) {
  FreeSsl();
  TCustomSocksWSocket::DoClose(HalfClose, Error);
}

void TCustomSslWSocket::FreeSsl() {
  if (FSsl) SSL_free(FSsl);  // frees the BIO too
  FSsl = nullptr;
  FSslState = sslIdle;
  FSslHeld.clear();
}

std::string TCustomSslWSocket::SslProtocol() const {
  return FSsl && FSslState == sslEstablished ? SSL_get_version(FSsl) : std::string();
}

std::string TCustomSslWSocket::SslCipher() const {
  const char* c = FSsl && FSslState == sslEstablished ? SSL_get_cipher_name(FSsl) : nullptr;
  return c ? c : std::string();
}
