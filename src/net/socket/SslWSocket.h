// TCustomSslWSocket: TLS (OpenSSL) over the connection or SOCKS tunnel below
// it, driven by the same notifications as a plain socket. Above it the send
// queue, the receive loop and the events behave as for plain bytes.
#pragma once

#include <cstdint>
#include <string>

#include "net/socket/SocksWSocket.h"
#include "net/socket/SslContext.h"

typedef struct ssl_st SSL;
typedef struct bio_st BIO;

// TLS error codes (OnSessionConnected, OnSessionClosed, LastError).
constexpr int sslHandshakeFailed = 20101;      // protocol error, garbage, closed mid-handshake
constexpr int sslCertificateRejected = 20102;  // the server's certificate failed verification
constexpr int sslSessionFailed = 20103;        // a fatal error after the handshake

// ---------------------------------------------------------------------------
class TCustomSslWSocket : public TCustomSocksWSocket {
 public:
  TCustomSslWSocket();
  ~TCustomSslWSocket() override;

  // With SslEnable, every connection (after its SOCKS tunnel, if any) starts
  // with a TLS handshake; OnSessionConnected comes when it has ended, with 0
  // or with sslHandshakeFailed / sslCertificateRejected (then the socket
  // closes, as after a failed connect).
  bool GetSslEnable() const { return FSslEnable; }
  void SetSslEnable(bool Value) { FSslEnable = Value; }
  // Name sent as server name and checked against the certificate; Addr
  // when empty.
  std::string GetSslServerName() const { return FSslServerName; }
  void SetSslServerName(const std::string& Value) { FSslServerName = Value; }
  const TSslTrust& GetSslTrust() const { return FSslTrust; }
  void SetSslTrust(const TSslTrust& Value) { FSslTrust = Value; }

  // Starts TLS on the open plain connection (after a proxy's CONNECT).
  void StartSslHandshake();
  bool SslHandshaking() const { return FSslState == sslHandshaking; }
  bool SslEstablished() const { return FSslState == sslEstablished; }
  // Why the last handshake or session failed; "" otherwise.
  const std::string& SslErrorText() const { return FSslErrorText; }
  // "TLSv1.3" and the cipher's name while established.
  std::string SslProtocol() const;
  std::string SslCipher() const;
  // The TCP connection ended without the peer's close_notify: data that
  // runs to the close may have been cut by anyone on the path.
  bool SslClosedWithoutNotify() const { return FSsl && FBioEof && !FCloseNotify; }

  int Send(const void* Data, int Len) override;
  void QueueData(const void* Buffer, int Len) override;
  void Resume() override;
  int GetRcvdCount() override;

 protected:
  enum TSslState { sslIdle, sslHandshaking, sslEstablished, sslFailed };

  void SessionConnectedHook(std::uint16_t Error) override;
  bool TriggerDataAvailable(std::uint16_t Error) override;
  void TriggerDataSent(std::uint16_t Error) override;
  void HandleReadEvent(std::uint16_t Error) override;
  void DoClose(bool HalfClose, std::uint16_t Error) override;
  int DoRecv(void* Buffer, int BufferSize, int Flags) override;
  int PendingCount(unsigned long& Count) override;

  void ContinueHandshake();
  void FailHandshake(int Code, const std::string& Text);
  // Encrypts into the send queue; false after a fatal error.
  bool SslWrite(const void* Data, int Len);
  void PostReadIfHeld(std::uint64_t ReadsBefore);
  void FreeSsl();
  bool HoldsPlaintext() const;

  // The BIO between OpenSSL and the layer below: reads come from its
  // receive, writes go to the send queue.
  static BIO* MakeBio(TCustomSslWSocket* Owner);
  static int BioRead(BIO* Bio, char* Buffer, int Len);
  static int BioWrite(BIO* Bio, const char* Data, int Len);
  static long BioCtrl(BIO* Bio, int Cmd, long Num, void* Ptr);

  bool FSslEnable = false;
  std::string FSslServerName;
  TSslTrust FSslTrust;
  SSL_CTX* FSslCtx = nullptr;
  TSslTrust FSslCtxTrust;  // what FSslCtx was made for
  SSL* FSsl = nullptr;
  TSslState FSslState = sslIdle;
  std::string FSslErrorText;
  std::string FSslHeld;  // plaintext sent during the handshake
  bool FBioEof = false;  // the layer below reported the peer's close
  int FBioError = 0;     // its last receive error other than would-block
  bool FCloseNotify = false;  // the peer sent its close_notify
  std::uint64_t FSslReads = 0;  // plaintext receives that gave bytes
};
