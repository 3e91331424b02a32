// THttpCli's state machine: construction, properties, trace, the socket
// seam, the private messages, the events, the start and wait of a request,
// the state transitions with the request's completion, and Abort.
#include "net/http/HttpProt.h"

#include "net/common/UrlParse.h"
#include "net/http/HttpCliPrivate.h"
#include "net/http/HttpContCod.h"
#include "net/http/HttpText.h"

using namespace httpcli;
using namespace httptext;

// ---------------------------------------------------------------------------
// Construction

THttpCli::THttpCli(TComponent* AOwner) {
  (void)AOwner;
  MakeWindow();
  FContentCodingHnd = std::make_unique<THttpContCodHandler>(
      &ReceiveStream, [this](const void* Data, int Len) { FireDocData(Data, Len); });
  // The two content-coding options live in the handler; read them back once.
  FOptions = GetOptions() - httpoEnableContentCoding - httpoUseQuality;
  FLocationChangeCurCount = 0;
  FState = httpReady;
  MakeSocket();
  FCtrlSocket->OnDataAvailable = [this](TObject* S, std::uint16_t E) { SocketDataAvailable(S, E); };
  FCtrlSocket->OnSessionConnected = [this](TObject* S, std::uint16_t E) { SocketSessionConnected(S, E); };
  FCtrlSocket->OnDataSent = [this](TObject* S, std::uint16_t E) { SocketDataSent(S, E); };
  FCtrlSocket->OnDnsLookupDone = [this](TObject* S, std::uint16_t E) { SocketDnsLookupDone(S, E); };
  InstallSocketCloseHandler(false);
  FCtrlSocket->OnSocksError = [this](TObject*, std::int32_t Error, const std::string& Msg) {
    if (OnSocksError) OnSocksError(FCtrlSocket.get(), Error, Msg);
  };
  FCtrlSocket->OnSocksConnected = [this](TObject*, std::uint16_t E) {
    if (OnSocksConnected) OnSocksConnected(FCtrlSocket.get(), E);
  };
  FCtrlSocket->OnError = [this](TObject*) {
    if (OnSocketError) OnSocketError(this);
  };
}

THttpCli::~THttpCli() {
  if (FWindowHandle && FBandwidthTimerOn) plat::KillTimer(FWindowHandle, kBandwidthTimerId);
  if (FWindowHandle && FBudgetTimerOn) plat::KillTimer(FWindowHandle, kRateBudgetTimerId);
  if (FCtrlSocket) {
    // No event may reach a half-destroyed client.
    FCtrlSocket->OnSessionClosed = nullptr;
    FCtrlSocket->OnDataAvailable = nullptr;
    FCtrlSocket->OnSessionConnected = nullptr;
    FCtrlSocket->OnDataSent = nullptr;
    FCtrlSocket->OnDnsLookupDone = nullptr;
    FCtrlSocket->OnSocksError = nullptr;
    FCtrlSocket->OnSocksConnected = nullptr;
    FCtrlSocket->OnError = nullptr;
  }
  FCtrlSocket.reset();
  FContentCodingHnd.reset();
  FreeWindow();
}

void THttpCli::MakeSocket() { FCtrlSocket = std::make_unique<TWSocket>(); }

void THttpCli::MakeWindow() {
  FWindowHandle = plat::AllocateHWnd(
      [this](plat::UINT Msg, plat::WPARAM W, plat::LPARAM L) { return HandleMessage(Msg, W, L); });
}

void THttpCli::FreeWindow() {
  if (FWindowHandle) plat::DeallocateHWnd(FWindowHandle);
  FWindowHandle = 0;
}

void THttpCli::InstallSocketCloseHandler(bool Location) {
  if (Location)
    FCtrlSocket->OnSessionClosed = [this](TObject* S, std::uint16_t E) { LocationSessionClosed(S, E); };
  else
    FCtrlSocket->OnSessionClosed = [this](TObject* S, std::uint16_t E) { SocketSessionClosed(S, E); };
}

// ---------------------------------------------------------------------------
// Properties

void THttpCli::SetRequestVer(const std::string& Value) {
  if (Value == FRequestVer) return;
  if (Value != "1.0" && Value != "1.1") throw EHttpException("Insupported HTTP version", httperr::kBadVersion);
  FRequestVer = Value;
}

void THttpCli::SetMultiThreaded(bool Value) {
  FMultiThreaded = Value;
  FCtrlSocket->SetMultiThreaded(Value);
}

THttpCliOptions THttpCli::GetOptions() const {
  THttpCliOptions o = FOptions;
  if (FContentCodingHnd->Enabled()) o.Include(httpoEnableContentCoding);
  if (FContentCodingHnd->UseQuality()) o.Include(httpoUseQuality);
  return o;
}

void THttpCli::SetOptions(THttpCliOptions Value) {
  FOptions = Value - httpoEnableContentCoding - httpoUseQuality;
  FContentCodingHnd->SetEnabled(Value.Contains(httpoEnableContentCoding));
  FContentCodingHnd->SetUseQuality(Value.Contains(httpoUseQuality));
}

TQelLogger* THttpCli::GetQelLogger() const { return FCtrlSocket->GetQelLogger(); }
void THttpCli::SetQelLogger(TQelLogger* Value) { FCtrlSocket->SetQelLogger(Value); }

// ---------------------------------------------------------------------------
// Trace

bool THttpCli::TraceEnabled(TLogOption Option) {
  TQelLogger* log = FCtrlSocket ? FCtrlSocket->GetQelLogger() : nullptr;
  return log && log->GetLogOptions().Contains(Option);
}

void THttpCli::TraceLog(TLogOption Option, const std::string& Text) {
  TQelLogger* log = FCtrlSocket ? FCtrlSocket->GetQelLogger() : nullptr;
  if (log) log->DoLog(this, Option, Text);
}

const char* THttpCli::StateName(THttpState S) {
  switch (S) {
    case httpReady: return "httpReady";
    case httpNotConnected: return "httpNotConnected";
    case httpConnected: return "httpConnected";
    case httpDnsLookup: return "httpDnsLookup";
    case httpDnsLookupDone: return "httpDnsLookupDone";
    case httpWaitingHeader: return "httpWaitingHeader";
    case httpWaitingBody: return "httpWaitingBody";
    case httpBodyReceived: return "httpBodyReceived";
    case httpWaitingProxyConnect: return "httpWaitingProxyConnect";
    case httpClosing: return "httpClosing";
    case httpAborting: return "httpAborting";
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Socket access (the seam)

int THttpCli::SockReceive(void* Buffer, int Len) { return FCtrlSocket->Receive(Buffer, Len); }
void THttpCli::SockSend(const void* Data, int Len) { FCtrlSocket->Send(Data, Len); }
void THttpCli::SockPostClose() { FCtrlSocket->PostClose(); }
void THttpCli::SockClose() { FCtrlSocket->Close(); }
void THttpCli::SockAbort() { FCtrlSocket->Abort(); }
void THttpCli::SockPause() { FCtrlSocket->Pause(); }
void THttpCli::SockResume() { FCtrlSocket->Resume(); }
bool THttpCli::SockIsConnected() { return FCtrlSocket->GetState() == wsConnected; }
bool THttpCli::SockIsClosed() { return FCtrlSocket->GetState() == wsClosed; }
void THttpCli::SockDnsLookup(const std::string& HostName) {
  FCtrlSocket->SetAddrFamily(LookupFamily());
  FCtrlSocket->SetLocalAddr(LocalAddr);
  FCtrlSocket->DnsLookup(HostName);
}
void THttpCli::SockCancelDnsLookup() { FCtrlSocket->CancelDnsLookup(); }
std::string THttpCli::SockDnsResult() { return FCtrlSocket->GetDnsResult(); }
std::vector<std::string> THttpCli::SockDnsResultList() { return FCtrlSocket->GetDnsResultList(); }
void THttpCli::SockConnect() { FCtrlSocket->Connect(); }
int THttpCli::SockLastError() { return FCtrlSocket->GetLastError(); }
void THttpCli::SockAddReceiveLoopOption() {
  FCtrlSocket->SetComponentOptions(FCtrlSocket->GetComponentOptions() + wsoNoReceiveLoop);
}
void THttpCli::SockStartTls() { FCtrlSocket->StartSslHandshake(); }
std::string THttpCli::SockTlsErrorText() { return FCtrlSocket->SslErrorText(); }
bool THttpCli::SockTlsTruncated() { return FCtrlSocket->SslClosedWithoutNotify(); }

// ---------------------------------------------------------------------------
// Messages

void THttpCli::PostRequestDone() {
  plat::PostMessage(FWindowHandle, WM_HTTP_REQUEST_DONE, FRequestSerial, 0);
}

void THttpCli::PostReady() { plat::PostMessage(FWindowHandle, WM_HTTP_SET_READY, FRequestSerial, 0); }

plat::LRESULT THttpCli::HandleMessage(plat::UINT Msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  (void)lParam;
  switch (Msg) {
    case WM_HTTP_REQUEST_DONE:
      if (wParam == FRequestSerial) FRequestDoneFlag = true;
      HTTP_TRACE(loProtSpecInfo, "RequestDone");
      if (OnRequestDone) OnRequestDone(this, FRequestType, FRequestDoneError);
      return 0;
    case WM_HTTP_SET_READY:
      if (wParam == FRequestSerial) ChangeState(httpReady);
      return 0;
    case WM_HTTP_LOGIN:
      if (wParam == FRequestSerial) Login();
      return 0;
    case plat::WM_TIMER:
      if (wParam == kBandwidthTimerId) BandwidthTick();
      if (wParam == kRateBudgetTimerId) BudgetTick();
      return 0;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// Events

void THttpCli::FireStateChange() {
  if (TraceEnabled(loProtSpecInfo)) {
    const char* n = StateName(FState);
    TraceLog(loProtSpecInfo, std::string("State = ") + (n ? n : "INVALID STATE"));
  }
  if (OnStateChange) OnStateChange(this);
}

void THttpCli::FireCookie(const std::string& Data, bool& AcceptIt) {
  if (OnCookie) OnCookie(this, Data, AcceptIt);
}
void THttpCli::FireSessionConnected() {
  if (OnSessionConnected) OnSessionConnected(this);
}
void THttpCli::FireSessionClosed() {
  if (OnSessionClosed) OnSessionClosed(this);
}
void THttpCli::FireBeforeHeaderSend(const std::string& Method, std::vector<std::string>& Headers) {
  if (OnBeforeHeaderSend) OnBeforeHeaderSend(this, Method, Headers);
}
void THttpCli::FireRequestHeaderBegin() {
  if (OnRequestHeaderBegin) OnRequestHeaderBegin(this);
}
void THttpCli::FireRequestHeaderEnd() {
  if (OnRequestHeaderEnd) OnRequestHeaderEnd(this);
}
void THttpCli::FireHeaderBegin() {
  FInsideHeader = true;
  if (OnHeaderBegin) OnHeaderBegin(this);
}
void THttpCli::FireHeaderEnd() {
  FInsideHeader = false;
  if (OnHeaderEnd) OnHeaderEnd(this);
}
void THttpCli::FireDocBegin() {
  HTTP_TRACE(loProtSpecInfo, "DocBegin");
  if (OnDocBegin) OnDocBegin(this);
}
void THttpCli::FireDocData(const void* Buffer, int Len) {
  if (OnDocData) OnDocData(this, Buffer, Len);
}
void THttpCli::FireDocEnd() {
  HTTP_TRACE(loProtSpecInfo, "DocEnd");
  if (OnDocEnd) OnDocEnd(this);
}
void THttpCli::FireSendBegin() {
  if (OnSendBegin) OnSendBegin(this);
}
void THttpCli::FireSendData(const void* Buffer, int Len) {
  if (OnSendData) OnSendData(this, Buffer, Len);
}
void THttpCli::FireSendEnd() {
  if (OnSendEnd) OnSendEnd(this);
}

// ---------------------------------------------------------------------------
// Starting a request

void THttpCli::Get() {
  FLocationChangeCurCount = 0;
  ExecuteRequest(httpGET);
}

bool THttpCli::GetUntil(const std::function<bool()>& leave) {
  FLocationChangeCurCount = 0;
  return ExecuteRequestUntil(httpGET, leave);
}

void THttpCli::ExecuteRequest(THttpRequest Rq) { ExecuteRequestUntil(Rq, {}); }

bool THttpCli::ExecuteRequestUntil(THttpRequest Rq, const std::function<bool()>& leave) {
  StartRequest(Rq);
  // Wait until the request has really ended: a pass of authentication or
  // relocation goes through the ready state before the next request is sent.
  while (FState != httpReady || !FRequestDoneFlag) {
    if (plat::ApplicationTerminated()) {
      Abort();
      break;
    }
    if (FMultiThreaded) FCtrlSocket->PumpMessages();
    plat::WaitForInput(50);
    plat::ProcessMessages();
    if (plat::ApplicationTerminated()) {
      Abort();
      break;
    }
    if (leave && leave() && (FState != httpReady || !FRequestDoneFlag)) return false;
  }
  if (FAnswer.StatusCode > 399 && FAnswer.StatusCode != 401 && FAnswer.StatusCode != 407)
    throw EHttpException(FAnswer.ReasonPhrase, static_cast<std::uint16_t>(FAnswer.StatusCode));
  if (FRequestFailed) throw EHttpException(FAnswer.ReasonPhrase, FRequestDoneError);
  return true;
}

void THttpCli::StartRequest(THttpRequest Rq) {
  if (Rq != httpCLOSE && FState != httpReady)
    throw EHttpException("HTTP component " + Name + " is busy", httperr::kBusy);
  if ((Rq == httpPOST || Rq == httpPUT) && !SendStream)
    throw EHttpException("HTTP component has nothing to post or put", httperr::kNothingToSend);

  ++FRequestSerial;
  FRequestDoneFlag = false;
  if (Rq == httpCLOSE) {
    FAnswer.StatusCode = 200;
    FAnswer.ReasonPhrase = "OK";
    ChangeState(httpClosing);
    if (SockIsClosed())
      PostReady();
    else
      SockPostClose();
    return;
  }

  FRequestType = Rq;
  ResetResponse();
  // Bytes left unread by an answer that ended early (an aborted one) are no
  // part of this request's answer.
  FReceiveBufferLen = 0;
  FCurrUsername = Username;
  FCurrPassword = Password;
  FCurrConnection = Connection;
  FCurrProxyConnection = ProxyConnection;
  if (HasLineBreak(URL)) {
    MarkFailed(httperr::kBadTarget, "Refused address: it holds CR or LF");
    PostRequestDone();
    return;
  }
  const std::string url = WithoutFragment(URL);
  if (OnChooseRoute) OnChooseRoute(this, url);

  std::string proto, user, pass, host, port, path;
  std::string connHost, connPort;
  if (!Proxy.empty()) {
    ParseURL(url, proto, user, pass, host, port, path);
    FTargetHost = host;
    FTargetPort = port.empty() ? DefaultPortOf(proto) : port;
    FDocName = path;
    if (!user.empty()) FCurrUsername = user;
    if (!pass.empty()) FCurrPassword = pass;
    FPath = (proto.empty() ? std::string("http") : proto) + "://" + UrlHost(host) + (port.empty() ? "" : ":" + port) + path;
    FProtocol = proto;
    std::string pproto, puser, ppass, phost, pport, ppath;
    ParseURL(Proxy, pproto, puser, ppass, phost, pport, ppath);
    connHost = phost;
    connPort = pport.empty() ? ProxyPort : pport;
    FProxyPortInUse = connPort;
  } else {
    ParseURL(url, proto, user, pass, host, port, FPath);
    FTargetHost = host;
    FDocName = FPath;
    FProtocol = proto;
    if (!user.empty()) FCurrUsername = user;
    if (!pass.empty()) FCurrPassword = pass;
    if (port.empty()) port = DefaultPortOf(proto);
    FTargetPort = port;
    connHost = host;
    connPort = port;
  }
  if (FProtocol.empty()) FProtocol = "http";
  if (FPath.empty()) FPath = "/";
  DeriveDocName();
  FHostName = connHost;
  FPort = connPort;
  // A port beyond 65535 would wrap into another one: refused before any
  // connection is made.
  std::string badPort;
  if (IsBadPortNumber(port)) badPort = "Refused address: " + PortProblem(port);
  else if (FTargetHost.find(':') != std::string::npos && FTargetHost.find('%') != std::string::npos)
    badPort = "Refused address: link-local IPv6 addresses with a zone (" + FTargetHost + ") are not supported";
  else if (!Proxy.empty() && IsBadPortNumber(connPort)) badPort = "Refused proxy address: " + PortProblem(connPort);
  else if (!SocksServer.empty() && IsBadPortNumber(SocksPort))
    badPort = "Refused SOCKS proxy address: " + PortProblem(SocksPort);
  if (!badPort.empty()) {
    MarkFailed(httperr::kBadTarget, badPort);
    PostRequestDone();
    return;
  }

  bool samePlace = SockIsConnected() && FHostName == FCurrentHost && FPort == FCurrentPort &&
                   FProtocol == FCurrentProtocol && TunnelTarget() == FCurrentTunnel &&
                   RouteText() == FCurrentRoute;
  FAuthNTLMState = FProxyAuthNTLMState = FAuthBasicState = FProxyAuthBasicState = 0;
  ApplyAuthPresets(!samePlace);

  if (SockIsConnected()) {
    if (samePlace) {
      SocketSessionConnected(this, 0);
      return;
    }
    SockAbort();
  }
  FProxyConnected = false;
  ChangeState(httpNotConnected);
  Login();
}

void THttpCli::ResetResponse() {
  FRequestDoneError = 0;
  FRequestFailed = false;
  FDocName.clear();
  FSentCount = 0;
  FAllowedToSend = false;
  FLocation = URL;
  FAnswer.Reset(FRequestVer == "1.0");
}

void THttpCli::DeriveDocName() {
  std::size_t q = FDocName.find('?');
  if (q != std::string::npos) FDocName.erase(q);
  if (FDocName.empty() || FDocName.back() == '/') {
    FDocName = "document.htm";
    return;
  }
  std::size_t s = FDocName.rfind('/');
  if (s != std::string::npos) FDocName = FDocName.substr(s + 1);
  if (FDocName.size() > 255) FDocName.resize(255);
  q = FDocName.find('?');
  if (q != std::string::npos) FDocName.erase(q);
}

// ---------------------------------------------------------------------------
// State and completion

void THttpCli::ChangeState(THttpState NewState) {
  if (NewState == FState) return;
  FState = NewState;
  FireStateChange();
  if (NewState != httpReady) return;

  // An authentication pass goes on through the re-login message.
  if (!StartAuthPass()) PostRequestDone();
}

// ---------------------------------------------------------------------------
// Abort

void THttpCli::Abort() {
  if (FState == httpAborting) return;  // called again from an event of this abort
  if (FState != httpReady) {
    const bool wasLookup = FState == httpDnsLookup;
    ChangeState(httpAborting);
    if (wasLookup) {
      try {
        SockCancelDnsLookup();
      } catch (...) {
      }
    }
    FAnswer.StatusCode = 404;
    FAnswer.ReasonPhrase = "Connection aborted on request";
    FRequestDoneError = httperr::kAborted;
    FLocationFlag = false;
    if (wasLookup)
      SocketSessionClosed(this, 0);
    else if (!SockIsClosed())
      SockClose();
    // Messages of the aborted request still in the queue are dropped.
    ++FRequestSerial;
    FRequestDoneFlag = false;
    ChangeState(httpReady);
  } else {
    ++FRequestSerial;
    FState = httpAborting;
    if (!SockIsClosed()) SockAbort();
    FAnswer.StatusCode = 200;
    FAnswer.ReasonPhrase = "OK";
    FRequestDoneError = 0;
    FState = httpReady;
    FireStateChange();
    FRequestDoneFlag = true;
    if (OnRequestDone) OnRequestDone(this, FRequestType, FRequestDoneError);
  }
}
