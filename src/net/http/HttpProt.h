// THttpCli: event-driven HTTP/1.0 and 1.1 client on one TWSocket. It runs on
// the thread that made it, driven by its socket's events and by three
// private messages to a hidden window of its own. Only the synchronous
// ExecuteRequest (Get) waits, pumping the message queue meanwhile.
//
// Settings are plain public members (URL, Proxy, Agent, ...), except those
// whose writer does more than store (RequestVer, MultiThreaded, Options,
// QelLogger), which have Get/Set operations. Results are read-only
// operations (StatusCode(), ReceivedCount(), ...). Events are optional
// std::function members; an empty one is skipped.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/common/Ntlm.h"
#include "net/http/HttpAnswer.h"
#include "net/http/HttpChunks.h"
#include "net/http/HttpErrors.h"
#include "net/socket/Component.h"
#include "net/socket/QelLogger.h"
#include "net/socket/WSocket.h"
#include "platform/MessageLoop.h"
#include "platform/Stream.h"

class THttpContCodHandler;
class THttpRateBudget;

using plat::TStream;

enum THttpRequest : std::uint8_t { httpABORT, httpGET, httpPOST, httpPUT, httpHEAD, httpCLOSE };

enum THttpState : std::uint8_t {
  httpReady,
  httpNotConnected,
  httpConnected,
  httpDnsLookup,
  httpDnsLookupDone,
  httpWaitingHeader,
  httpWaitingBody,
  httpBodyReceived,
  httpWaitingProxyConnect,
  httpClosing,
  httpAborting
};

enum THttpCliOption {
  httpoNoBasicAuth,
  httpoNoNTLMAuth,
  httpoBandwidthControl,
  httpoEnableContentCoding,
  httpoUseQuality
};
using THttpCliOptions = TSet<THttpCliOption>;

// Preset authentication method (FServerAuthMethod, FProxyAuthMethod).
enum THttpAuthMethod : std::uint8_t { httpAuthNone, httpAuthBasic, httpAuthNtlm };

// ErrorCode: a status, a request-done code or a refusal (HttpErrors.h).
class EHttpException : public Exception {
 public:
  EHttpException(const std::string& Msg, std::uint16_t Code) : Exception(Msg), ErrorCode(Code) {}
  std::string ClassName() const override { return "EHttpException"; }
  std::uint16_t ErrorCode;
};

class THttpCli;

using THttpNotifyEvent = std::function<void(THttpCli* Sender)>;
using TLocationChangeExceeded =
    std::function<void(THttpCli* Sender, int RelocationCount, bool& AllowMoreRelocations)>;
using TOnCommand = std::function<void(THttpCli* Sender, std::string& S)>;
using TDocDataEvent = std::function<void(THttpCli* Sender, const void* Buffer, int Len)>;
using THttpRequestDone = std::function<void(THttpCli* Sender, THttpRequest RqType, std::uint16_t ErrCode)>;
using TCookieRcvdEvent = std::function<void(THttpCli* Sender, const std::string& Data, bool& Accept)>;
using THttpDataPushEvent = std::function<void(THttpCli* Sender, std::uint16_t ErrCode)>;
// SOCKS events carry the socket as Sender, as the socket raised them.
using THttpSocksConnected = std::function<void(TObject* Sender, std::uint16_t ErrCode)>;
using THttpSocksAuthState = std::function<void(TObject* Sender, int AuthState)>;
using THttpSocksErrorEvent = std::function<void(TObject* Sender, int Error, const std::string& Msg)>;
using TBeforeHeaderSendEvent =
    std::function<void(THttpCli* Sender, const std::string& Method, std::vector<std::string>& Headers)>;

class THttpCli : public TComponent {
 public:
  // Private messages of the hidden window, handled in the order posted.
  static constexpr plat::UINT WM_HTTP_REQUEST_DONE = plat::WM_USER + 1;
  static constexpr plat::UINT WM_HTTP_SET_READY = plat::WM_USER + 2;
  static constexpr plat::UINT WM_HTTP_LOGIN = plat::WM_USER + 3;

  static constexpr int kBufSize = 8193;  // send and receive buffers
  static constexpr int kMaxRecvData = kBufSize - 3;  // 8190 data bytes, then a zero
  static constexpr int kBodyReadSize = 256 * 1024;  // one receive of a plain body

  explicit THttpCli(TComponent* AOwner = nullptr);
  ~THttpCli() override;

  // --- operations the program calls
  void Get();
  // Get that returns as soon as `leave` is true after a message, the request
  // left running for the caller; true when the request ended, raising as Get.
  bool GetUntil(const std::function<bool()>& leave);
  void Abort();
  // Other request kinds, synchronous and asynchronous.
  void Post() { ExecuteRequest(httpPOST); }
  void Put() { ExecuteRequest(httpPUT); }
  void Head() { ExecuteRequest(httpHEAD); }
  void Close() { ExecuteRequest(httpCLOSE); }
  void GetASync() { StartRequest(httpGET); }
  void PostASync() { StartRequest(httpPOST); }
  void PutASync() { StartRequest(httpPUT); }
  void HeadASync() { StartRequest(httpHEAD); }
  void CloseAsync() { StartRequest(httpCLOSE); }

  // --- published settings (defaults set by the constructor)
  std::string URL;
  std::string LocalAddr = "0.0.0.0";
  std::string Proxy;
  std::string ProxyPort = "80";
  std::string Sender;
  std::string Agent = "Mozilla/4.0 (compatible; Clipharbor)";
  std::string Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
  std::string AcceptLanguage;
  std::string Reference;
  std::string Connection;
  std::string ProxyConnection;
  std::string Username, Password;
  std::string ProxyUsername, ProxyPassword;
  bool NoCache = false;
  double ModifiedSince = 0;  // day count with fraction, day 0 = 1899-12-30, universal time
  std::string Cookie;
  std::string ContentTypePost = "application/x-www-form-urlencoded";
  // A "Range:" line for the next request only (cleared when it is sent).
  // An answer's Content-Range is written here too, where callers have
  // always read it; its own copy stays in the answer. A caller that reuses
  // the client clears them, or the next request asks for that range again.
  std::string ContentRangeBegin, ContentRangeEnd;
  bool FollowRelocation = true;
  std::int32_t LocationChangeMaxCount = 5;
  std::int32_t BandwidthLimit = 10000;
  std::int32_t BandwidthSampling = 1000;
  // A limit shared with other clients (the connections of one download):
  // when set it replaces the per-client control above for every read.
  std::shared_ptr<THttpRateBudget> RateBudget;
  std::string SocksServer, SocksLevel = "5", SocksPort, SocksUsercode, SocksPassword;
  TSocksAuthentication SocksAuthentication = socksNoAuthentication;
  // The server's name goes to the SOCKS proxy to resolve instead of being
  // looked up here (SOCKS 5; SOCKS 4A always does so).
  bool SocksRemoteNames = false;
  // The address family of every connection: plat::WS_AF_INET,
  // plat::WS_AF_INET6, or plat::WS_AF_UNSPEC for both (raced, IPv6 first).
  int AddrFamily = plat::WS_AF_UNSPEC;
  THttpAuthMethod FServerAuthMethod = httpAuthNone;
  THttpAuthMethod FProxyAuthMethod = httpAuthNone;
  // TLS. Off, an "https" address ends with 501 before any connection is
  // made. On, "https" is known with port 443: directly or through SOCKS the
  // connection starts with TLS; through an HTTP proxy a CONNECT tunnel
  // comes first. SslTrust says which certificates are trusted and whether
  // they are checked at all; the host name is always checked when they are.
  bool HttpsEnabled = false;
  TSslTrust SslTrust;

  const std::string& GetRequestVer() const { return FRequestVer; }
  void SetRequestVer(const std::string& Value);  // "1.0" or "1.1", else EHttpException kBadVersion
  bool GetMultiThreaded() const { return FMultiThreaded; }
  virtual void SetMultiThreaded(bool Value);
  THttpCliOptions GetOptions() const;
  void SetOptions(THttpCliOptions Value);
  TQelLogger* GetQelLogger() const;
  void SetQelLogger(TQelLogger* Value);

  // --- run-time members; the caller owns both streams
  TStream* ReceiveStream = nullptr;
  TStream* SendStream = nullptr;

  // --- results
  std::int32_t StatusCode() const { return FAnswer.StatusCode; }
  const std::string& ReasonPhrase() const { return FAnswer.ReasonPhrase; }
  std::int64_t ReceivedCount() const { return FAnswer.ReceivedCount; }
  std::int64_t SentCount() const { return FSentCount; }
  std::int64_t ContentLength() const { return FAnswer.ContentLength; }
  const std::string& ContentType() const { return FAnswer.ContentType; }
  const std::string& TransferEncoding() const { return FAnswer.TransferEncoding; }
  const std::string& ContentEncoding() const { return FAnswer.ContentEncoding; }
  const std::string& AcceptRanges() const { return FAnswer.AcceptRanges; }
  const std::string& DocName() const { return FDocName; }
  const std::string& Location() const { return FLocation; }
  const std::vector<std::string>& ReceivedHeader() const { return FAnswer.Header; }
  THttpState State() const { return FState; }
  THttpRequest RequestType() const { return FRequestType; }
  std::int32_t LocationChangeCurCount() const { return FLocationChangeCurCount; }
  std::uint16_t RequestDoneError() const { return FRequestDoneError; }  // httperr::k*, 0 for success
  TWSocket* CtrlSocket() const { return FCtrlSocket.get(); }
  plat::HWND Handle() const { return FWindowHandle; }

  // --- events, in declaration order
  TLocationChangeExceeded OnLocationChangeExceeded;
  THttpNotifyEvent OnTrace;  // stored, never raised
  THttpNotifyEvent OnSessionConnected;
  THttpNotifyEvent OnSessionClosed;
  THttpNotifyEvent OnHeaderData;
  TOnCommand OnCommand;
  THttpNotifyEvent OnHeaderBegin;
  THttpNotifyEvent OnHeaderEnd;
  THttpNotifyEvent OnRequestHeaderBegin;
  THttpNotifyEvent OnRequestHeaderEnd;
  THttpNotifyEvent OnDocBegin;
  TDocDataEvent OnDocData;
  THttpNotifyEvent OnDocEnd;
  THttpNotifyEvent OnSendBegin;
  TDocDataEvent OnSendData;
  THttpNotifyEvent OnSendEnd;
  THttpNotifyEvent OnStateChange;
  THttpRequestDone OnRequestDone;
  THttpNotifyEvent OnLocationChange;
  // Chooses the route (Proxy or the SOCKS fields) for the address about to
  // be requested: the request's URL, and every absolute Location followed,
  // so that each host gets its own route.
  std::function<void(THttpCli* Sender, const std::string& Url)> OnChooseRoute;
  TCookieRcvdEvent OnCookie;
  THttpDataPushEvent OnDataPush;
  THttpNotifyEvent OnDataPush2;
  THttpSocksConnected OnSocksConnected;
  THttpSocksAuthState OnSocksAuthState;  // stored, never raised
  THttpSocksErrorEvent OnSocksError;
  THttpNotifyEvent OnSocketError;
  TBeforeHeaderSendEvent OnBeforeHeaderSend;

  // Asynchronous start; the end is signalled by OnRequestDone.
  virtual void StartRequest(THttpRequest Rq);
  // StartRequest, wait until ready, then EHttpException(ReasonPhrase,
  // StatusCode) for a status above 399 other than 401 and 407, else
  // EHttpException(ReasonPhrase, RequestDoneError()) for a request that
  // failed whatever its status said: an answer cut short or reset, an
  // invalid chunk size, lengths that differ, a write the receive stream
  // refused, an address with a line break.
  virtual void ExecuteRequest(THttpRequest Rq);
  // ExecuteRequest that returns false, the request running, once `leave` is true.
  bool ExecuteRequestUntil(THttpRequest Rq, const std::function<bool()>& leave);

  // "If-Modified-Since:" date text (without " GMT") of a day count.
  static std::string RFC1123Date(double DateTime);
  static const char* StateName(THttpState S);

 protected:
  virtual void TraceLog(TLogOption Option, const std::string& Text);
  virtual bool TraceEnabled(TLogOption Option);
  virtual void MakeSocket();
  virtual void PrepareSocket();
  virtual void SendRequest(const std::string& Method, const std::string& Version);
  virtual void ReadHeaderLine();
  virtual void GetBodyLineNext();
  virtual void QueueRequestLine(const std::string& Line);
  virtual void Login();
  virtual void DropConnection();
  // Forgets the outcome and the answer before a request or a pass of it.
  virtual void ResetResponse();
  virtual void StartRelocation();
  virtual void StartAuthNTLM();
  virtual void StartProxyAuthNTLM();
  virtual void StartAuthBasic();
  virtual void StartProxyAuthBasic();
  virtual void SocketDnsLookupDone(TObject* Sender, std::uint16_t ErrCode);
  // Connects to FDnsResult (and the rest of FDnsResultList) once known.
  void ConnectResolved(TObject* Sender);
  // The proxy is to resolve the server's name: nothing is looked up here.
  bool NamesGoToSocks() const;
  // The family of the name looked up before connecting.
  int LookupFamily() const;
  virtual void SocketSessionClosed(TObject* Sender, std::uint16_t ErrCode);
  virtual void SocketSessionConnected(TObject* Sender, std::uint16_t ErrCode);
  virtual void SocketDataSent(TObject* Sender, std::uint16_t ErrCode);
  virtual void SocketDataAvailable(TObject* Sender, std::uint16_t ErrCode);
  virtual void LocationSessionClosed(TObject* Sender, std::uint16_t ErrCode);
  virtual void ChangeState(THttpState NewState);
  virtual void FireStateChange();
  virtual void FireCookie(const std::string& Data, bool& Accept);
  virtual void FireSessionConnected();
  virtual void FireSessionClosed();
  virtual void FireBeforeHeaderSend(const std::string& Method, std::vector<std::string>& Headers);
  virtual void FireRequestHeaderBegin();
  virtual void FireRequestHeaderEnd();
  virtual void FireHeaderBegin();
  virtual void FireHeaderEnd();
  virtual void FireDocBegin();
  virtual void FireDocData(const void* Buffer, int Len);
  virtual void FireDocEnd();
  virtual void FireSendBegin();
  virtual void FireSendData(const void* Buffer, int Len);
  virtual void FireSendEnd();
  virtual void PostRequestDone();
  virtual plat::LRESULT HandleMessage(plat::UINT Msg, plat::WPARAM wParam, plat::LPARAM lParam);
  virtual void PostReady();
  virtual void DeriveDocName();
  virtual void MakeWindow();
  virtual void FreeWindow();

  // Authentication decisions of the ready step.
  bool PrepareNTLMAuth(bool& FlgClean);
  bool PrepareBasicAuth(bool& FlgClean);

  // The socket operations the client uses. Everything the client does to its
  // socket goes through these, so a subclass can stand in for the network
  // (the receive-path fuzz target does).
  virtual int SockReceive(void* Buffer, int Len);
  virtual void SockSend(const void* Data, int Len);
  virtual void SockPostClose();
  virtual void SockClose();
  virtual void SockAbort();
  virtual void SockPause();
  virtual void SockResume();
  virtual bool SockIsConnected();
  virtual bool SockIsClosed();
  virtual void SockDnsLookup(const std::string& HostName);
  virtual void SockCancelDnsLookup();
  virtual std::string SockDnsResult();
  virtual std::vector<std::string> SockDnsResultList();
  virtual void SockConnect();
  virtual int SockLastError();
  virtual void SockAddReceiveLoopOption();
  virtual void SockStartTls();
  virtual std::string SockTlsErrorText();
  virtual bool SockTlsTruncated();
  void InstallSocketCloseHandler(bool Location);

  // Working fields.
  std::unique_ptr<TWSocket> FCtrlSocket;
  plat::HWND FWindowHandle = 0;
  std::string FRequestBuffer;
  char FSendBuffer[kBufSize] = {};
  char FReceiveBuffer[kBufSize] = {};
  std::int32_t FReceiveBufferLen = 0;
  std::unique_ptr<THttpContCodHandler> FContentCodingHnd;
  bool FBandwidthTimerMade = false;
  bool FBandwidthTimerOn = false;

  std::string FRequestVer = "1.0";
  bool FMultiThreaded = false;
  THttpCliOptions FOptions;

  THttpState FState = httpReady;
  THttpRequest FRequestType = httpABORT;
  std::uint16_t FRequestDoneError = 0;
  bool FRequestFailed = false;  // the request failed though its status may say otherwise
  std::string FHostName, FPort;
  std::string FTargetHost, FTargetPort;
  std::string FProtocol = "http";
  std::string FPath;
  std::string FDocName;
  std::string FLocation;
  std::string FCurrUsername, FCurrPassword;
  std::string FCurrConnection, FCurrProxyConnection;
  std::string FDnsResult;
  std::vector<std::string> FDnsResultList;
  std::string FCurrentHost, FCurrentPort, FCurrentProtocol;
  // The proxy fields of the open connection, to tell when a new route needs
  // a new connection.
  std::string RouteText() const;
  std::string FCurrentRoute;
  // The proxy's host and port become the connection's, after a route
  // change to an HTTP proxy.
  void ConnectToProxyHost();
  std::string FCurrentTunnel;  // where the open connection's proxy tunnel leads; "" without one
  bool FConnected = false;
  bool FProxyConnected = false;
  bool FLocationFlag = false;
  bool FAllowedToSend = false;
  std::int64_t FSentCount = 0;
  std::int64_t FBandwidthCount = 0;
  std::int64_t FBandwidthMaxCount = 0;
  bool FBandwidthPaused = false;
  bool FBudgetPaused = false;
  bool FBudgetTimerOn = false;
  enum TNext { nxNone, nxReadHeaderLine, nxGetBodyLineNext };
  TNext FNext = nxNone;
  std::int32_t FLocationChangeCurCount = 0;

  THttpAnswer FAnswer;  // the answer being read, or the last one
  // The version of the last status line. Unlike the answer it outlives the
  // next request's start: that request's keep-alive decision reads it.
  std::string FResponseVer;
  bool FInsideHeader = false;  // between OnHeaderBegin and OnHeaderEnd
  bool FRelocationCounted = false;  // StartRelocation counted the hop whose close is awaited
  const char* FBodyData = nullptr;
  std::int32_t FBodyDataLen = 0;
  THttpChunkDecoder FChunkDecoder;
  std::int64_t FDocBeginSize = 0;
  std::string FLastLine;  // the line handed to ReadHeaderLine
  std::int32_t FBodyDataTaken = 0;  // bytes of the slice GetBodyLineNext consumed
  std::vector<char> FBodyBuffer;    // kBodyReadSize once a plain body is read
  std::string FProxyPortInUse;  // port of the proxy connection
  // Every request gets a serial; posted messages carry it, so a message left
  // over from an aborted or finished request cannot touch the next one.
  std::uintptr_t FRequestSerial = 0;
  bool FRequestDoneFlag = true;

  std::uint8_t FAuthNTLMState = 0, FProxyAuthNTLMState = 0;
  std::uint8_t FAuthBasicState = 0, FProxyAuthBasicState = 0;
  TNTLM_Msg2_Info FNTLMMsg2Info, FProxyNTLMMsg2Info;

 private:
  void RunNext();
  // The empty line: interim answer, or the decision whether a body follows.
  void EndOfHeader();
  // Hands the buffered bytes to the body reader (never beyond an announced
  // length) and keeps what it left; false when the request was aborted.
  bool TakeBufferedBody();
  // A body that is neither chunked nor paced, with nothing buffered before
  // it, is received in large pieces straight into FBodyBuffer.
  bool BodyReadsDirect() const;
  void ReceiveBodyDirect();
  // Relocation or ready step once the document has ended.
  void FinishIfDocumentEnded();
  void ReadStatusLine(const std::string& Line);
  void ReadField(const std::string& Line);
  // A first line of "<html>": the document came without a header.
  void StartHeaderlessDocument(const std::string& Line);
  void TakeLocation(const std::string& Value);
  void DocEndCommon();
  void RelocationsExceeded();
  // The answer's header so far, and whether it passed its caps (then the request fails).
  bool InHeader() const;
  bool HeaderOverCap();
  // The request fails with Error and Reason (Get raises them).
  void MarkFailed(std::uint16_t Error, const std::string& Reason);
  // The same, and the rest of the answer is dropped with the connection.
  void AnswerFailed(std::uint16_t Error, const std::string& Reason);
  // Body bytes into the decoding chain and the receive stream; false when
  // the stream refused them (the request has then failed).
  bool WriteBody(const char* Data, std::int32_t Len);
  void BandwidthTick();
  void SetBandwidthTimer(bool On);
  // Reads under RateBudget: the most the next read may take, what it took,
  // and the timer that resumes a socket paused for a spent budget.
  int BudgetRoom(int want);
  void DrawBudget(int len);
  void BudgetTick();
  void ArmBudgetTimer(std::uint32_t now);
  void ApplyAuthPresets(bool NewConnection);
  bool VersionNeedsKeepAlive() const;
  std::string ServerAuthLine();
  std::string ProxyAuthLine();
  bool StartAuthPass();
  void NtlmStep(std::uint8_t& State, std::uint8_t& BasicState, std::string& ConnectionValue,
                TNTLM_Msg2_Info& Info, const char* StartText, const char* UnexpectedText);
  void EndAuthStep(std::uint8_t& State);
  void BasicStep(std::uint8_t& State, std::uint8_t& NtlmState, const char* StartText, const char* UnexpectedText);
  void CleanUpForAuth();
  bool RelocationAllowed();
  // "http", or "https" when HttpsEnabled.
  bool ProtocolKnown() const;
  // "443" for https when HttpsEnabled, else "80".
  std::string DefaultPortOf(const std::string& Protocol) const;
  // https through an HTTP proxy: a CONNECT tunnel to the document's server.
  bool TunnelWanted() const;
  std::string TunnelTarget() const;
  void SendProxyConnect();
  void TunnelEstablished();
  // Forgets the answer read so far, before another one on the connection.
  void ClearAnswer();
  std::string TlsFailureText(std::uint16_t ErrCode);
};
