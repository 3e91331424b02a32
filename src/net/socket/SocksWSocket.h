// TCustomSocksWSocket: a TCustomWSocket that negotiates SOCKS 4, 4A or 5 with a proxy before its session starts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "net/socket/CustomWSocket.h"

enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState { socksAuthStart, socksAuthSuccess, socksAuthFailure, socksAuthNotRequired };

// SOCKS error codes (OnSocksError, OnSessionConnected, OnSessionClosed).
constexpr int socksProtocolError = 20001;
constexpr int socksVersionError = 20002;
constexpr int socksAuthMethodError = 20003;
constexpr int socksGeneralFailure = 20004;
constexpr int socksConnectionNotAllowed = 20005;
constexpr int socksNetworkUnreachable = 20006;
constexpr int socksHostUnreachable = 20007;
constexpr int socksConnectionRefused = 20008;
constexpr int socksTtlExpired = 20009;
constexpr int socksUnknownCommand = 20010;
constexpr int socksUnknownAddressType = 20011;
constexpr int socksUnassignedError = 20012;
constexpr int socksInternalError = 20013;
constexpr int socksDataReceiveError = 20014;
constexpr int socksAuthenticationFailed = 20015;
constexpr int socksRejectedOrFailed = 20016;
constexpr int socksHostResolutionFailed = 20017;
// Refusal of a request that would not fit the 128-byte request area.
constexpr int socksRequestTooLong = 20018;

using TSocksErrorEvent = std::function<void(TObject* Sender, std::int32_t Error, const std::string& Msg)>;
using TSocksAuthStateEvent = std::function<void(TObject* Sender, TSocksAuthState AuthState)>;

// ---------------------------------------------------------------------------
class TCustomSocksWSocket : public TCustomWSocket {
 public:
  TCustomSocksWSocket();

  void Connect() override;
  void Listen() override;
  int GetRcvdCount() override;

  std::string GetSocksLevel() const { return FSocksLevel; }
  void SetSocksLevel(const std::string& Value);
  std::string GetSocksServer() const { return FSocksServer; }
  virtual void SetSocksServer(const std::string& Value);
  std::string GetSocksPort() const { return FSocksPort; }
  virtual void SetSocksPort(const std::string& Value);
  std::string GetSocksUsercode() const { return FSocksUsercode; }
  void SetSocksUsercode(const std::string& Value) { FSocksUsercode = Value; }
  std::string GetSocksPassword() const { return FSocksPassword; }
  void SetSocksPassword(const std::string& Value) { FSocksPassword = Value; }
  TSocksAuthentication GetSocksAuthentication() const { return FSocksAuthentication; }
  void SetSocksAuthentication(TSocksAuthentication Value) { FSocksAuthentication = Value; }
  std::string GetBoundAddr() const { return FBoundAddr; }
  std::string GetBoundPort() const { return FBoundPort; }
  // True while a SOCKS negotiation is running.
  bool SocksNegotiating() const { return FSocksState != SocksIdle; }

  TSessionConnected OnSocksConnected;
  TSocksErrorEvent OnSocksError;
  TSocksAuthStateEvent OnSocksAuthState;

 protected:
  // The reply the proxy owes next; a SOCKS 4 and a SOCKS 5 connect reply
  // differ in shape, so each has its state.
  enum TSocksState { SocksIdle, SocksAwaitMethod, SocksAwaitAuth, SocksAwaitConnect4, SocksAwaitConnect5 };

  void ResetDefaults() override;
  bool TriggerDataAvailable(std::uint16_t Error) override;
  void SessionConnectedHook(std::uint16_t Error) override;
  void TriggerSessionClosed(std::uint16_t Error) override;
  int DoRecv(void* Buffer, int BufferSize, int Flags) override;
  virtual void TriggerSocksConnected(std::uint16_t Error);
  virtual void TriggerSocksError(int Error, const std::string& Msg);
  virtual void TriggerSocksAuthState(TSocksAuthState AuthState);

  // The only writer of FSocksState.
  void SetSocksState(TSocksState State);
  void SocksDoConnect();
  void SocksDoAuthenticate();
  void SocksFail(int Code, const std::string& Msg);
  // Receives up to `Max` more reply bytes into FRcvBuf; false ends the call.
  bool SocksReceive(int Max);
  // One handler per state for the bytes of the reply it awaits; each returns
  // what TriggerDataAvailable returns.
  bool SocksMethodReply();
  bool SocksAuthReply();
  bool SocksConnectReply4();
  bool SocksConnectReply5();
  // Takes BoundAddr and BoundPort from a whole SOCKS 5 reply of Length
  // bytes in FRcvBuf; false for an address type it does not know.
  bool TakeBoundAddress(int Length);
  // The proxy connected us: the session starts and bytes that came with the
  // reply are offered.
  bool SocksTunnelUp();

  TSocksState FSocksState = SocksIdle;
  std::string FSocksServer;
  std::string FSocksLevel = "5";
  std::string FSocksPort;
  bool FSocksPortAssigned = false;
  bool FSocksServerAssigned = false;
  std::string FSocksUsercode;
  std::string FSocksPassword;
  TSocksAuthentication FSocksAuthentication = socksNoAuthentication;
  std::uint8_t FSocksAuthNumber = 0;
  std::uint16_t FSocksDestPort = 0;
  std::uint8_t FRcvBuf[128] = {};
  int FRcvCnt = 0;
  int FSocksRcvdCnt = 0;
  int FSocksRcvdPtr = 0;
  std::string FBoundAddr;
  std::string FBoundPort;
};
