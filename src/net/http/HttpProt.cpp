#include "net/http/HttpProt.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "net/common/Base64.h"
#include "net/common/UrlParse.h"
#include "net/http/HttpContCod.h"

namespace {

std::string LowerCase(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string UpperCase(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

bool StartsNoCase(const std::string& s, const char* prefix) {
  std::size_t n = std::strlen(prefix);
  if (s.size() < n) return false;
  return LowerCase(s.substr(0, n)) == LowerCase(prefix);
}

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

// A decimal length: digits only, no sign, no overflow; -1 otherwise.
std::int64_t ParseLength(const std::string& text) {
  std::string t = Trim(text);
  if (t.empty()) return -1;
  std::int64_t v = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return -1;
    int d = c - '0';
    if (v > (std::numeric_limits<std::int64_t>::max() - d) / 10) return -1;
    v = v * 10 + d;
  }
  return v;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Host part of an address with the port when it is not the default one.
std::string HostAndPort(const std::string& host, const std::string& port) {
  if (port.empty() || port == "80") return host;
  return host + ":" + port;
}

// The challenge of an NTLM challenge message. Only its 8 bytes are used, so
// a message whose name buffers are broken (squid's fake helper sends one)
// still serves when its fixed header is sound.
bool NtlmChallengeOf(const std::string& text, TNTLM_Msg2_Info& info) {
  info = NtlmMessage2(text);
  if (info.Valid) return true;
  std::string raw = Base64Decode(text);
  if (raw.size() < 32 || std::memcmp(raw.data(), "NTLMSSP\0", 8) != 0 || raw[8] != 2 || raw[9] != 0 ||
      raw[10] != 0 || raw[11] != 0)
    return false;
  std::memcpy(info.Challenge.data(), raw.data() + 24, 8);
  return true;
}

constexpr std::uintptr_t kBandwidthTimerId = 1;
// Client's own request-done errors beside the socket error numbers.
constexpr std::uint16_t kErrAborted = 3;
constexpr std::uint16_t kErrIncomplete = 4;    // connection closed before the answer's end
constexpr std::uint16_t kErrBadChunk = 5;      // chunk size beyond 64 bits

}  // namespace

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
  if (Value != "1.0" && Value != "1.1") throw EHttpException("Insupported HTTP version", 5);
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

#define HTTP_TRACE(opt, text)                        \
  do {                                               \
    if (TraceEnabled(opt)) TraceLog(opt, (text));    \
  } while (0)

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
  FCtrlSocket->SetLocalAddr(LocalAddr);
  FCtrlSocket->DnsLookup(HostName);
}
void THttpCli::SockCancelDnsLookup() { FCtrlSocket->CancelDnsLookup(); }
std::string THttpCli::SockDnsResult() { return FCtrlSocket->GetDnsResult(); }
void THttpCli::SockConnect() { FCtrlSocket->Connect(); }
int THttpCli::SockLastError() { return FCtrlSocket->GetLastError(); }
void THttpCli::SockAddReceiveLoopOption() {
  FCtrlSocket->SetComponentOptions(FCtrlSocket->GetComponentOptions() + wsoNoReceiveLoop);
}

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

void THttpCli::ExecuteRequest(THttpRequest Rq) {
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
  }
  if (FStatusCode > 399 && FStatusCode != 401 && FStatusCode != 407)
    throw EHttpException(FReasonPhrase, static_cast<std::uint16_t>(FStatusCode));
  if (FRequestDoneError == kErrIncomplete || FRequestDoneError == kErrBadChunk)
    throw EHttpException(FReasonPhrase, FRequestDoneError);
}

void THttpCli::StartRequest(THttpRequest Rq) {
  if (Rq != httpCLOSE && FState != httpReady)
    throw EHttpException("HTTP component " + Name + " is busy", 1);
  if ((Rq == httpPOST || Rq == httpPUT) && !SendStream)
    throw EHttpException("HTTP component has nothing to post or put", 2);

  ++FRequestSerial;
  FRequestDoneFlag = false;
  if (Rq == httpCLOSE) {
    FStatusCode = 200;
    FReasonPhrase = "OK";
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

  std::string proto, user, pass, host, port, path;
  std::string connHost, connPort;
  if (!Proxy.empty()) {
    ParseURL(URL, proto, user, pass, host, port, path);
    FTargetHost = host;
    FTargetPort = port.empty() ? "80" : port;
    FDocName = path;
    if (!user.empty()) FCurrUsername = user;
    if (!pass.empty()) FCurrPassword = pass;
    FPath = (proto.empty() ? std::string("http") : proto) + "://" + host + (port.empty() ? "" : ":" + port) + path;
    FProtocol = proto;
    std::string pproto, puser, ppass, phost, pport, ppath;
    ParseURL(Proxy, pproto, puser, ppass, phost, pport, ppath);
    connHost = phost;
    connPort = pport.empty() ? ProxyPort : pport;
    FProxyPortInUse = connPort;
  } else {
    ParseURL(URL, proto, user, pass, host, port, FPath);
    FTargetHost = host;
    FDocName = FPath;
    FProtocol = proto;
    if (!user.empty()) FCurrUsername = user;
    if (!pass.empty()) FCurrPassword = pass;
    if (port.empty()) port = "80";
    FTargetPort = port;
    connHost = host;
    connPort = port;
  }
  if (FProtocol.empty()) FProtocol = "http";
  if (FPath.empty()) FPath = "/";
  DeriveDocName();
  FHostName = connHost;
  FPort = connPort;

  bool samePlace = SockIsConnected() && FHostName == FCurrentHost && FPort == FCurrentPort &&
                   FProtocol == FCurrentProtocol;
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

bool THttpCli::VersionNeedsKeepAlive() const {
  return FRequestVer == "1.0" || FResponseVer == "1.0" || FResponseVer.empty();
}

void THttpCli::ApplyAuthPresets(bool NewConnection) {
  if (!Proxy.empty() && FProxyAuthMethod != httpAuthNone && !ProxyUsername.empty() &&
      !ProxyPassword.empty()) {
    if (FProxyAuthMethod == httpAuthNtlm) {
      FProxyAuthNTLMState = NewConnection ? 1 : 4;
      if (VersionNeedsKeepAlive()) FCurrProxyConnection = "Keep-alive";
    } else {
      FProxyAuthBasicState = NewConnection ? 1 : 2;
    }
  }
  if (FServerAuthMethod != httpAuthNone && !FCurrUsername.empty() && !FCurrPassword.empty()) {
    if (FServerAuthMethod == httpAuthNtlm) {
      FAuthNTLMState = 1;
      if (VersionNeedsKeepAlive()) FCurrConnection = "Keep-alive";
    } else {
      FAuthBasicState = 1;
    }
  }
}

void THttpCli::ResetResponse() {
  FReceivedHeader.clear();
  FRequestDoneError = 0;
  FDocName.clear();
  FStatusCode = 0;
  FReceivedCount = 0;
  FSentCount = 0;
  FHeaderLineCount = 0;
  FBodyLineCount = 0;
  FContentType.clear();
  FTransferEncoding.clear();
  FContentEncoding.clear();
  FAllowedToSend = false;
  FContentLength = -1;
  FLocation = URL;
  FAuthChallenges.clear();
  FCloseReq = FRequestVer == "1.0";
  FAnswerDone = false;
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
// Connecting

void THttpCli::Login() {
  HTTP_TRACE(loProtSpecInfo, "Login " + FHostName);
  InstallSocketCloseHandler(false);
  if (SockIsConnected()) {
    SocketSessionConnected(nullptr, 0);
    return;
  }
  FDnsResult.clear();
  ChangeState(httpDnsLookup);
  try {
    SockDnsLookup(FHostName);
  } catch (const std::exception& E) {
    FStatusCode = 404;
    FReasonPhrase = E.what();
    FConnected = false;
    ChangeState(httpReady);
  }
}

void THttpCli::PrepareSocket() {
  FCtrlSocket->SetAddr(FDnsResult);
  FCtrlSocket->SetLocalAddr(LocalAddr);
  FCtrlSocket->SetPort(FPort);
  FCtrlSocket->SetProto("tcp");
  FCtrlSocket->SetSocksServer(SocksServer);
  FCtrlSocket->SetSocksLevel(SocksLevel);
  FCtrlSocket->SetSocksPort(SocksPort);
  FCtrlSocket->SetSocksUsercode(SocksUsercode);
  FCtrlSocket->SetSocksPassword(SocksPassword);
  FCtrlSocket->SetSocksAuthentication(SocksAuthentication);
}

void THttpCli::SocketDnsLookupDone(TObject* Sender, std::uint16_t ErrCode) {
  if (ErrCode != 0) {
    if (FState == httpAborting) return;
    FRequestDoneError = ErrCode;
    FStatusCode = 404;
    FReasonPhrase = "can't resolve hostname to IP address";
    SocketSessionClosed(Sender, ErrCode);
    return;
  }
  FDnsResult = SockDnsResult();
  ChangeState(httpDnsLookupDone);
  int err = 0;
  try {
    PrepareSocket();
  } catch (const std::exception& E) {
    FStatusCode = 404;
    FReasonPhrase = E.what();
    SocketSessionClosed(Sender, 0);
    return;
  }
  FCurrentHost = FHostName;
  FCurrentPort = FPort;
  FCurrentProtocol = FProtocol;
  if (FProtocol != "http") {
    err = SockLastError();
    FRequestDoneError = static_cast<std::uint16_t>(err);
    FStatusCode = 501;
    FReasonPhrase = "Protocol \"" + FProtocol + "\" not implemented";
    if (!SockIsClosed()) SockClose();
    SocketSessionClosed(Sender, static_cast<std::uint16_t>(err));
    return;
  }
  HTTP_TRACE(loProtSpecInfo, "connect to " + FDnsResult + "/" + FPort);
  bool refused = false;
  try {
    SockConnect();
    // With an error handler set, the socket reports a refused connect
    // through it instead of raising: it then simply stays closed.
    refused = SockIsClosed() && FState == httpDnsLookupDone && FRequestDoneError == 0;
  } catch (const std::exception&) {
    refused = true;
  }
  if (refused) {
    err = SockLastError();
    if (err == 0) err = 10022;  // WSAEINVAL: the address or port was not usable
    FRequestDoneError = static_cast<std::uint16_t>(err);
    FStatusCode = 404;
    FReasonPhrase = "can't connect: " + WinsockErrorText(err) + " (Error #" + std::to_string(err) + ")";
    if (!SockIsClosed()) SockClose();
    SocketSessionClosed(Sender, static_cast<std::uint16_t>(err));
  }
}

void THttpCli::SocketSessionConnected(TObject* Sender, std::uint16_t ErrCode) {
  (void)Sender;
  HTTP_TRACE(loProtSpecInfo, "SessionConnected");
  if (ErrCode != 0) {
    FRequestDoneError = ErrCode;
    FStatusCode = 404;
    FReasonPhrase = WinsockErrorText(ErrCode) + " (Error #" + std::to_string(ErrCode) + ")";
    FireSessionConnected();
    return;
  }
  FLocationFlag = false;
  FConnected = true;
  ChangeState(httpConnected);
  FireSessionConnected();
  FNext = nxReadHeaderLine;
  ChangeState(httpWaitingHeader);
  try {
    switch (FRequestType) {
      case httpGET: SendRequest("GET", FRequestVer); break;
      case httpPOST:
      case httpPUT:
        SendRequest(FRequestType == httpPOST ? "POST" : "PUT", FRequestVer);
        if (FAuthNTLMState != 1 && FProxyAuthNTLMState != 1) {
          FireSendBegin();
          FAllowedToSend = true;
          SocketDataSent(FCtrlSocket.get(), 0);
        }
        break;
      case httpHEAD: SendRequest("HEAD", FRequestVer); break;
      default: break;
    }
  } catch (const std::exception&) {
    DropConnection();
  }
}

void THttpCli::DropConnection() {
  FConnected = false;
  if (!SockIsClosed()) SockClose();
}

// ---------------------------------------------------------------------------
// The request

std::string THttpCli::RFC1123Date(double DateTime) {
  static const char* kDays = "MonTueWedThuFriSatSun";
  static const char* kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  if (!std::isfinite(DateTime) || DateTime < -657434.0 || DateTime > 2958466.0) DateTime = 0;
  double whole = std::floor(DateTime);
  auto days = static_cast<std::int64_t>(whole);
  auto ms = static_cast<std::int64_t>(std::llround((DateTime - whole) * 86400000.0));
  if (ms >= 86400000) ms = 86399999;
  // Civil date from the day count (day 0 = 1899-12-30 = 25569 days before 1970-01-01).
  std::int64_t z = days - 25569 + 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  std::int64_t doe = z - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t y = yoe + era * 400;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  int dayIdx = static_cast<int>((((days - 2) % 7) + 7) % 7);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3s, %2.2d %.3s %4.4d %2.2d:%2.2d:%2.2d", kDays + dayIdx * 3,
                static_cast<int>(d), kMonths + (m - 1) * 3, static_cast<int>(y),
                static_cast<int>(ms / 3600000), static_cast<int>((ms / 60000) % 60),
                static_cast<int>((ms / 1000) % 60));
  return buf;
}

void THttpCli::SetBandwidthTimer(bool On) {
  if (On) {
    FBandwidthTimerMade = true;
    FBandwidthTimerOn = true;
    plat::SetTimer(FWindowHandle, kBandwidthTimerId,
                   static_cast<plat::UINT>(std::max<std::int32_t>(BandwidthSampling, 1)));
  } else if (FBandwidthTimerOn) {
    FBandwidthTimerOn = false;
    plat::KillTimer(FWindowHandle, kBandwidthTimerId);
  }
}

void THttpCli::BandwidthTick() {
  if (FBandwidthPaused) {
    FBandwidthPaused = false;
    FBandwidthCount -= FBandwidthMaxCount;
    SockResume();
  }
}

std::string THttpCli::ServerAuthLine() {
  if (FAuthNTLMState == 1) return "Authorization: NTLM " + NtlmMessage1();
  if (FAuthNTLMState == 3)
    return "Authorization: NTLM " +
           NtlmMessage3("", GetLocalHostName(), FCurrUsername, FCurrPassword, FNTLMMsg2Info.Challenge);
  if (FAuthBasicState == 1) return "Authorization: Basic " + Base64Encode(FCurrUsername + ":" + FCurrPassword);
  return std::string();
}

std::string THttpCli::ProxyAuthLine() {
  if (FProxyAuthNTLMState == 1) return "Proxy-Authorization: NTLM " + NtlmMessage1();
  if (FProxyAuthNTLMState == 3)
    return "Proxy-Authorization: NTLM " +
           NtlmMessage3("", GetLocalHostName(), ProxyUsername, ProxyPassword, FProxyNTLMMsg2Info.Challenge);
  if (FProxyAuthBasicState == 1)
    return "Proxy-Authorization: Basic " + Base64Encode(ProxyUsername + ":" + ProxyPassword);
  return std::string();
}

void THttpCli::SendRequest(const std::string& Method, const std::string& Version) {
  FBandwidthCount = 0;
  if (FOptions.Contains(httpoBandwidthControl)) {
    SetBandwidthTimer(false);
    SetBandwidthTimer(true);
    FBandwidthMaxCount = static_cast<std::int64_t>(BandwidthLimit) * BandwidthSampling / 1000;
    FBandwidthPaused = false;
    SockAddReceiveLoopOption();
  }
  FRequestBuffer.clear();
  FireRequestHeaderBegin();

  const bool postOrPut = FRequestType == httpPOST || FRequestType == httpPUT;
  std::vector<std::string> h;
  h.push_back(Method + " " + FPath + " HTTP/" + Version);
  if (!Sender.empty()) h.push_back("From: " + Sender);
  if (!Accept.empty()) h.push_back("Accept: " + Accept);
  if (!Reference.empty()) h.push_back("Referer: " + Reference);
  if (!FCurrConnection.empty()) h.push_back("Connection: " + FCurrConnection);
  if (!AcceptLanguage.empty()) h.push_back("Accept-Language: " + AcceptLanguage);
  std::string ae = FContentCodingHnd->HeaderValue();
  if (!ae.empty() && FRequestType != httpHEAD) h.push_back("Accept-Encoding: " + ae);
  if (postOrPut && !ContentTypePost.empty()) h.push_back("Content-Type: " + ContentTypePost);
  if (!Agent.empty()) h.push_back("User-Agent: " + Agent);
  if (FTargetPort == "80" || FTargetPort.empty())
    h.push_back("Host: " + FTargetHost);
  else
    h.push_back("Host: " + FTargetHost + ":" + FTargetPort);
  if (NoCache) h.push_back("Pragma: no-cache");
  if (!FCurrProxyConnection.empty()) h.push_back("Proxy-Connection: " + FCurrProxyConnection);
  if (postOrPut) {
    if (FAuthNTLMState == 1 || FProxyAuthNTLMState == 1) {
      h.push_back("Content-Length: 0");
    } else {
      std::int64_t n = SendStream ? SendStream->GetSize() - SendStream->GetPosition() : 0;
      h.push_back("Content-Length: " + std::to_string(std::max<std::int64_t>(n, 0)));
    }
  }
  if (ModifiedSince != 0) h.push_back("If-Modified-Since: " + RFC1123Date(ModifiedSince) + " GMT");
  if (FProxyAuthNTLMState != 1) {
    std::string a = ServerAuthLine();
    if (!a.empty()) h.push_back(a);
  }
  {
    std::string a = ProxyAuthLine();
    if (!a.empty()) h.push_back(a);
  }
  if (!Cookie.empty()) h.push_back("Cookie: " + Cookie);
  if (!ContentRangeBegin.empty() || !ContentRangeEnd.empty()) {
    h.push_back("Range: bytes=" + ContentRangeBegin + "-" + ContentRangeEnd);
    ContentRangeBegin.clear();
    ContentRangeEnd.clear();
  }
  FAcceptRanges.clear();
  if (TraceEnabled(loProtSpecInfo)) {
    std::string t = std::to_string(h.size()) + " header lines to send\r\n";
    for (const std::string& l : h) t += l + "\r\n";
    TraceLog(loProtSpecInfo, t);
  }
  FireBeforeHeaderSend(Method, h);
  for (const std::string& l : h) QueueRequestLine(l);
  FireRequestHeaderEnd();
  QueueRequestLine("");

  std::string out;
  out.swap(FRequestBuffer);
  SockSend(out.data(), static_cast<int>(out.size()));
  HTTP_TRACE(loProtSpecInfo, "SendRequest Done");
}

void THttpCli::QueueRequestLine(const std::string& Line) {
  std::string s = Line;
  if (OnCommand) OnCommand(this, s);
  if (!s.empty()) FRequestBuffer += s;
  FRequestBuffer += "\r\n";
}

void THttpCli::SocketDataSent(TObject* Sender, std::uint16_t ErrCode) {
  (void)Sender;
  (void)ErrCode;
  if (!FAllowedToSend) return;
  std::int64_t n = SendStream ? SendStream->Read(FSendBuffer, kBufSize) : 0;
  if (n <= 0) {
    FAllowedToSend = false;
    FireSendEnd();
    return;
  }
  FSentCount += n;
  FireSendData(FSendBuffer, static_cast<int>(n));
  SockSend(FSendBuffer, static_cast<int>(n));
}

// ---------------------------------------------------------------------------
// Receiving

void THttpCli::RunNext() {
  switch (FNext) {
    case nxReadHeaderLine: ReadHeaderLine(); break;
    case nxGetBodyLineNext: GetBodyLineNext(); break;
    case nxNone: break;
  }
}

void THttpCli::SocketDataAvailable(TObject* Sender, std::uint16_t ErrCode) {
  (void)Sender;
  int Len;
  const int room = kMaxRecvData - FReceiveBufferLen;
  if (room > 0) {
    Len = SockReceive(FReceiveBuffer + FReceiveBufferLen, room);
  } else {
    // A header line longer than the buffer: keep only what follows its end.
    char scratch[25];
    Len = SockReceive(scratch, static_cast<int>(sizeof scratch));
    // The buffer never grows beyond one byte past its data area.
    if (Len > 0 && FReceiveBufferLen > kMaxRecvData) return;
    if (Len > 0) {
      const char* lf = static_cast<const char*>(std::memchr(scratch, '\n', static_cast<std::size_t>(Len)));
      if (!lf) return;
      const int k = static_cast<int>(scratch + Len - lf);
      // The k bytes end one byte after the current data.
      std::memcpy(FReceiveBuffer + FReceiveBufferLen + 1 - k, lf, static_cast<std::size_t>(k));
      Len = 1;
    }
  }
  if (TraceEnabled(loProtSpecDump)) TraceLog(loProtSpecDump, "Data available. Len=" + std::to_string(Len));
  if (FRequestType == httpABORT) return;
  if (Len <= 0) {
    if (TraceEnabled(loProtSpecDump)) TraceLog(loProtSpecDump, "**data available. Len=" + std::to_string(Len));
    return;
  }
  FBandwidthCount += Len;
  if (FOptions.Contains(httpoBandwidthControl) && FBandwidthCount > FBandwidthMaxCount && !FBandwidthPaused) {
    FBandwidthPaused = true;
    SockPause();
  }
  FReceiveBufferLen += Len;
  FReceiveBuffer[FReceiveBufferLen] = 0;

  if (FState != httpWaitingBody) {
    const bool inAnswer = FState == httpWaitingHeader || FState == httpWaitingBody;
    while (FReceiveBufferLen > 0) {
      // The whole data is searched: a zero byte must not hide the line end.
      const char* lf =
          static_cast<const char*>(std::memchr(FReceiveBuffer, '\n', static_cast<std::size_t>(FReceiveBufferLen)));
      if (!lf) break;
      const int lineLen = static_cast<int>(lf - FReceiveBuffer);
      int cut = lineLen;
      if (cut > 0 && FReceiveBuffer[cut - 1] == '\r') --cut;
      FLastLine.assign(FReceiveBuffer, static_cast<std::size_t>(cut));
      if (TraceEnabled(loProtSpecDump)) TraceLog(loProtSpecDump, ">|" + FLastLine + "|");
      const int rest = FReceiveBufferLen - (lineLen + 1);
      if (rest > 0) std::memmove(FReceiveBuffer, FReceiveBuffer + lineLen + 1, static_cast<std::size_t>(rest));
      FReceiveBufferLen = rest;
      FReceiveBuffer[FReceiveBufferLen] = 0;
      if (inAnswer) {
        if (FNext != nxNone)
          RunNext();
        else
          PostReady();
        if (FState == httpReady) {
          // Aborted from an event: the rest of this answer is not wanted.
          FReceiveBufferLen = 0;
          return;
        }
        // A document without header began: the remaining bytes are body.
        if (FState == httpWaitingBody) break;
      } else if (OnDataPush) {
        OnDataPush(this, ErrCode);
      }
    }
  }

  if (FState == httpWaitingBody && FReceiveBufferLen > 0) {
    if (FRequestType == httpHEAD) {
      FReceiveBufferLen = 0;
      SockAbort();
      return;
    }
    FBodyData = FReceiveBuffer;
    FBodyDataLen = FReceiveBufferLen;
    // A chunked body is delimited by its chunks, whatever length was announced.
    if (FContentLength >= 0 && FTransferEncoding != "chunked" && FBodyDataLen > FContentLength - FReceivedCount)
      FBodyDataLen = static_cast<std::int32_t>(std::max<std::int64_t>(FContentLength - FReceivedCount, 0));
    FBodyDataTaken = FBodyDataLen;
    GetBodyLineNext();
    const int taken = std::min(FBodyDataTaken, FReceiveBufferLen);
    const int rest = FReceiveBufferLen - taken;
    if (rest > 0 && taken > 0) std::memmove(FReceiveBuffer, FReceiveBuffer + taken, static_cast<std::size_t>(rest));
    FReceiveBufferLen = rest;
    FReceiveBuffer[FReceiveBufferLen] = 0;
    FBodyDataLen = 0;
    if (FState == httpReady) {
      FReceiveBufferLen = 0;
      return;
    }
    if (FNext == nxNone) {
      if (FLocationFlag)
        StartRelocation();
      else
        PostReady();
    }
  }
}

void THttpCli::ReadHeaderLine() {
  if (FHeaderLineCount == 0)
    FireHeaderBegin();
  else if (FHeaderLineCount == -1)
    FHeaderLineCount = 0;
  ++FHeaderLineCount;

  const std::string line = FLastLine;
  if (FHeaderLineCount == 1 && line.size() >= 6 && UpperCase(line.substr(0, 6)) == "<HTML>") {
    // A document without header.
    if (FContentType.empty()) FContentType = "text/html";
    ChangeState(httpWaitingBody);
    FNext = nxGetBodyLineNext;
    FireHeaderEnd();
    if (FState == httpReady) return;
    FBodyData = line.data();
    FBodyDataLen = static_cast<std::int32_t>(line.size());
    FBodyDataTaken = FBodyDataLen;
    GetBodyLineNext();
    FBodyDataLen = 0;
    return;
  }

  if (line.empty()) {
    HTTP_TRACE(loProtSpecInfo, "End of header");
    if (FResponseVer == "1.1" && FStatusCode == 100) {
      // Interim answer: the real one follows without a second OnHeaderBegin.
      FReceivedHeader.clear();
      FHeaderLineCount = -1;
      return;
    }
    FireHeaderEnd();
    if (FState == httpReady) {
      FReceiveBufferLen = 0;
      return;
    }
    const bool noBody =
        FContentLength == 0 || FRequestType == httpHEAD ||
        (FContentLength == -1 && (FStatusCode < 200 || FStatusCode == 204 || FStatusCode == 301 ||
                                  FStatusCode == 302 || FStatusCode == 304 || FStatusCode == 401 ||
                                  FStatusCode == 407));
    if (noBody) {
      FAnswerDone = true;
      if (FCloseReq) {
        if (FLocationFlag) {
          StartRelocation();
        } else {
          if (FRequestType == httpHEAD) {
            FReceiveBufferLen = 0;
            ChangeState(httpWaitingBody);
            FNext = nxNone;
          }
          SockPostClose();
        }
      } else if (FLocationFlag) {
        // Kept connection: a bodiless redirect is followed like one with a body.
        StartRelocation();
      } else {
        PostReady();
      }
      return;
    }
    // A body follows.
    if (FContentType == "text/html") {
      std::size_t dot = FDocName.rfind('.');
      std::string ext = dot == std::string::npos ? std::string() : LowerCase(FDocName.substr(dot));
      if (ext == ".exe" || ext.empty()) {
        if (dot == std::string::npos)
          FDocName += ".htm";
        else
          FDocName = FDocName.substr(0, dot + 1) + "htm";
      }
    }
    ChangeState(httpWaitingBody);
    FNext = nxGetBodyLineNext;
    if (FReceiveBufferLen > 0) {
      FBodyData = FReceiveBuffer;
      FBodyDataLen = FReceiveBufferLen;
      if (FContentLength >= 0 && FTransferEncoding != "chunked" && FBodyDataLen > FContentLength - FReceivedCount)
        FBodyDataLen = static_cast<std::int32_t>(std::max<std::int64_t>(FContentLength - FReceivedCount, 0));
      FBodyDataTaken = FBodyDataLen;
      GetBodyLineNext();
      const int taken = std::min(FBodyDataTaken, FReceiveBufferLen);
      const int rest = FReceiveBufferLen - taken;
      if (rest > 0 && taken > 0) std::memmove(FReceiveBuffer, FReceiveBuffer + taken, static_cast<std::size_t>(rest));
      FReceiveBufferLen = rest;
      FReceiveBuffer[FReceiveBufferLen] = 0;
      FBodyDataLen = 0;
      if (FState == httpReady) {
        FReceiveBufferLen = 0;
        return;
      }
    }
    if (FNext == nxNone) {
      if (FLocationFlag)
        StartRelocation();
      else
        PostReady();
    }
    return;
  }

  FReceivedHeader.push_back(line);
  if (FHeaderLineCount == 1) {
    if (line.compare(0, 8, "HTTP/1.0") != 0 && line.compare(0, 8, "HTTP/1.1") != 0) {
      if (OnDataPush2) OnDataPush2(this);
    } else {
      FResponseVer = line.substr(5, 3);
      FCloseReq = (FRequestVer == "1.1" && FResponseVer == "1.0") || FRequestVer == "1.0";
      HTTP_TRACE(loProtSpecDump, std::string("FCloseReq=") + (FCloseReq ? "1" : "0"));
      std::size_t i = 9;
      while (i < line.size() && (line[i] < '0' || line[i] > '9')) ++i;
      if (i < line.size()) {
        int code = 0;
        for (std::size_t j = i; j < i + 3 && j < line.size() && line[j] >= '0' && line[j] <= '9'; ++j)
          code = code * 10 + (line[j] - '0');
        FStatusCode = code;
        FReasonPhrase = i + 4 <= line.size() ? line.substr(i + 4) : std::string();
      }
    }
  } else {
    std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
      const std::string name = LowerCase(line.substr(0, colon));
      std::size_t v = colon + 1;
      while (v < line.size() && line[v] == ' ') ++v;
      const std::string value = line.substr(v);
      if (name == "location") {
        TakeLocation(value);
      } else if (name == "content-length") {
        FContentLength = ParseLength(value);
      } else if (name == "transfer-encoding") {
        FTransferEncoding = LowerCase(value);
      } else if (name == "content-range") {
        std::size_t dash = value.find('-');
        if (dash != std::string::npos && dash >= 6) {
          ContentRangeBegin = value.substr(6, dash - 6);
          std::size_t slash = value.find('/', dash + 1);
          ContentRangeEnd = value.substr(dash + 1, slash == std::string::npos ? std::string::npos : slash - dash - 1);
        }
      } else if (name == "accept-ranges") {
        FAcceptRanges = value;
      } else if (name == "content-type") {
        FContentType = LowerCase(value);
      } else if (name == "www-authenticate" || name == "proxy-authenticate") {
        FAuthChallenges.push_back(value);
      } else if (name == "set-cookie") {
        bool acceptIt = true;
        FireCookie(value, acceptIt);
      } else if (name == "connection" || name == "proxy-connection") {
        const std::string t = LowerCase(Trim(value));
        if (t == "close")
          FCloseReq = true;
        else if (t == "keep-alive")
          FCloseReq = false;
      } else if (name == "content-encoding") {
        FContentEncoding = value;
      }
    }
  }
  if (OnHeaderData) OnHeaderData(this);
}

void THttpCli::TakeLocation(const std::string& V) {
  if (FRequestType == httpPUT) {
    FLocation = V;
    return;
  }
  if (!FollowRelocation) return;
  FLocationFlag = true;
  const bool absolute = StartsNoCase(V, "http://") || StartsNoCase(V, "https://");
  if (Proxy.empty()) {
    if (!V.empty() && V[0] == '/') {
      FPath = V;
      FLocation = "http://" + HostAndPort(FHostName, FPort) + FPath;
    } else if (!absolute) {
      FPath = UrlBase(FPath) + V;
      FLocation = "http://" + HostAndPort(FHostName, FPort) + FPath;
    } else {
      std::string proto, user, pass, host, port, path = FPath;
      ParseURL(V, proto, user, pass, host, port, path);
      if (!user.empty() && !pass.empty()) {
        FCurrUsername = user;
        FCurrPassword = pass;
      }
      if (host.empty()) host = FHostName;  // "http:///x": stay on the current server
      FHostName = host;
      FPath = path.empty() ? "/" : path;
      FPort = port.empty() ? "80" : port;
      if (!proto.empty()) FProtocol = proto;
      FTargetHost = FHostName;
      FTargetPort = FPort;
      if (path.empty())
        FLocation = FProtocol + "://" + HostAndPort(FHostName, FPort);
      else
        FLocation = FProtocol + "://" + HostAndPort(FHostName, FPort) + FPath;
    }
  } else {
    if (!V.empty() && V[0] == '/') {
      std::string proto, user, pass, host, port, path;
      ParseURL(FPath, proto, user, pass, host, port, path);
      FLocation = (proto.empty() ? std::string("http") : proto) + "://" + host + (port.empty() ? "" : ":" + port) + V;
      FPath = FLocation;
    } else if (!absolute) {
      FPath = UrlBase(FPath) + V;
      FLocation = FPath;
    } else {
      std::string proto, user, pass, host, port, path;
      ParseURL(V, proto, user, pass, host, port, path);
      if (!user.empty() && !pass.empty()) {
        FCurrUsername = user;
        FCurrPassword = pass;
      }
      if (host.empty()) host = FTargetHost;
      if (proto.empty()) proto = "http";
      FTargetHost = host;
      FTargetPort = port.empty() ? "80" : port;
      FProtocol = proto;
      FLocation = proto + "://" + host + (port.empty() ? "" : ":" + port) + (path.empty() ? "/" : path);
      FPath = FLocation;
    }
  }
}

void THttpCli::BodyFailed(const std::string& Reason) {
  FRequestDoneError = kErrBadChunk;
  FReasonPhrase = Reason;
  FLocationFlag = false;
  FNext = nxNone;
  FReceiveBufferLen = 0;
  FBodyDataTaken = 0;
  SockAbort();
}

void THttpCli::DocEndCommon() {
  FBodyLineCount = 0;
  FNext = nxNone;
  FAnswerDone = true;
  ChangeState(httpBodyReceived);
  if (FOptions.Contains(httpoBandwidthControl) && FBandwidthTimerMade) SetBandwidthTimer(false);
}

void THttpCli::GetBodyLineNext() {
  HTTP_TRACE(loProtSpecDump, "GetBodyLineNext begin");
  if (FBodyLineCount == 0) {
    FChunkLength = 0;
    FChunkReceived = 0;
    FChunkState = 0;
    FTrailerLineLen = 0;
    FireDocBegin();
    if (FState == httpReady) {
      FBodyDataTaken = 0;
      return;
    }
    FContentCodingHnd->Prepare(FContentEncoding);
    FDocBeginSize = ReceiveStream ? ReceiveStream->GetSize() : 0;
  }
  ++FBodyLineCount;
  if (TraceEnabled(loProtSpecDump)) TraceLog(loProtSpecDump, "GetBodyLineNext FBodyDataLen=" + std::to_string(FBodyDataLen));

  if (FTransferEncoding != "chunked") {
    if (FBodyDataLen > 0) {
      FReceivedCount += FBodyDataLen;
      FContentCodingHnd->InputWriteBuffer(FBodyData, FBodyDataLen);
      if (FState == httpReady) return;  // aborted from OnDocData
    }
    if (FReceivedCount == FContentLength) {
      HTTP_TRACE(loProtSpecInfo, "End of document");
      DocEndCommon();
      FContentCodingHnd->Complete();
      if (TraceEnabled(loProtSpecInfo) && ReceiveStream && !FContentEncoding.empty())
        TraceLog(loProtSpecInfo, FContentEncoding + " content uncompressed from " + std::to_string(FContentLength) +
                                     " bytes to " + std::to_string(ReceiveStream->GetSize()) + " bytes");
      FireDocEnd();
      if (FState == httpReady) return;
      // With a relocation pending the caller starts it, closing if need be.
      if (FLocationFlag) {
      } else if (FCloseReq) {
        SockPostClose();
      } else {
        PostReady();
      }
    }
  } else {
    const char* p = FBodyData;
    const std::int32_t len = FBodyDataLen;
    std::int32_t i = 0;
    while (i < len && FChunkState != 4) {
      const char c = p[i];
      switch (FChunkState) {
        case 0: {
          int d = HexValue(c);
          if (d >= 0) {
            if (FChunkLength > (std::numeric_limits<std::int64_t>::max() - d) / 16) {
              BodyFailed("Invalid chunk size");
              return;
            }
            FChunkLength = FChunkLength * 16 + d;
            ++i;
          } else {
            FChunkState = 1;
            if (TraceEnabled(loProtSpecDump)) TraceLog(loProtSpecDump, "ChunkLength = " + std::to_string(FChunkLength));
          }
          break;
        }
        case 1:
          if (c == '\n') FChunkState = 2;
          ++i;
          break;
        case 2: {
          std::int64_t k = std::min<std::int64_t>(len - i, FChunkLength - FChunkReceived);
          if (k > 0) {
            FReceivedCount += k;
            FChunkReceived += k;
            FContentCodingHnd->InputWriteBuffer(p + i, static_cast<int>(k));
            i += static_cast<std::int32_t>(k);
            if (FState == httpReady) {
              FBodyDataTaken = i;
              return;
            }
          }
          if (FChunkReceived >= FChunkLength) FChunkState = 3;
          break;
        }
        case 3:
          if (c == '\n') {
            if (FChunkLength != 0) {
              FChunkState = 0;
              FChunkLength = 0;
              FChunkReceived = 0;
            } else if (FTrailerLineLen == 0) {
              FChunkState = 4;  // the empty line after the last chunk and its trailer
            } else {
              FTrailerLineLen = 0;  // a trailer line: the next one may end the body
            }
          } else if (FChunkLength == 0 && c != '\r') {
            ++FTrailerLineLen;
          }
          ++i;
          break;
        default:
          break;
      }
    }
    FBodyDataTaken = i;
    if (FChunkState == 4) {
      HTTP_TRACE(loProtSpecInfo, "httpChunkDone, end of document");
      DocEndCommon();
      FireDocEnd();
      if (FState == httpReady) return;
      if (FCloseReq && !FLocationFlag) SockPostClose();
    }
  }
  HTTP_TRACE(loProtSpecDump, "GetBodyLineNext end");
}

void THttpCli::SocketSessionClosed(TObject* Sender, std::uint16_t ErrCode) {
  (void)Sender;
  HTTP_TRACE(loProtSpecInfo, "SessionClosed Error: " + std::to_string(ErrCode));
  if (ErrCode != 0) FRequestDoneError = ErrCode;
  FConnected = false;
  FProxyConnected = false;
  // An answer the connection cut short is a failed request, not a success.
  const bool answerRunning = FState == httpWaitingHeader || FState == httpWaitingBody;
  const bool bodyByClose = FState == httpWaitingBody && FContentLength < 0 && FTransferEncoding != "chunked";
  if (answerRunning && !FAnswerDone && !bodyByClose && !FLocationFlag && FRequestDoneError == 0 &&
      FRequestType != httpHEAD) {
    FRequestDoneError = kErrIncomplete;
    FReasonPhrase = "Connection closed before the end of the answer";
  }
  if (FInsideHeader) {
    FireHeaderEnd();
  } else if (FBodyLineCount > 0) {
    if (FOptions.Contains(httpoBandwidthControl) && FBandwidthTimerMade) SetBandwidthTimer(false);
    FireDocEnd();
  }
  if (FLocationFlag && FState != httpAborting && FState != httpReady) {
    LocationSessionClosed(Sender, ErrCode);
    return;
  }
  FLocationFlag = false;
  FireSessionClosed();
  if (FState != httpReady) PostReady();
}

// ---------------------------------------------------------------------------
// Relocation

bool THttpCli::RelocationAllowed() {
  if (FLocationChangeCurCount > LocationChangeMaxCount) {
    bool allow = false;
    if (OnLocationChangeExceeded) OnLocationChangeExceeded(this, FLocationChangeCurCount, allow);
    if (!allow) return false;
  }
  return true;
}

void THttpCli::StartRelocation() {
  HTTP_TRACE(loProtSpecInfo, "Starting relocation process");
  FReceivedCount = 0;
  FReceiveBufferLen = 0;
  FHeaderLineCount = 0;
  FBodyLineCount = 0;
  ++FLocationChangeCurCount;
  if (!RelocationAllowed()) {
    FLocationFlag = false;  // the close that follows must not relocate after all
    PostReady();
    return;
  }
  if (FHostName != FCurrentHost || FPort != FCurrentPort || FProtocol != FCurrentProtocol || FCloseReq) {
    InstallSocketCloseHandler(true);
    SockPostClose();
    return;
  }
  if (OnLocationChange) OnLocationChange(this);
  std::string loc = FLocation;
  ResetResponse();
  FLocation = loc;
  FDocName = FPath;
  DeriveDocName();
  if (FRequestType == httpPOST) FRequestType = httpGET;
  if (ReceiveStream && ReceiveStream->GetSize() != FDocBeginSize) {
    ReceiveStream->SetSize(FDocBeginSize);
    ReceiveStream->Seek(0, plat::soEnd);
  }
  plat::PostMessage(FWindowHandle, WM_HTTP_LOGIN, FRequestSerial, 0);
}

void THttpCli::LocationSessionClosed(TObject* Sender, std::uint16_t ErrCode) {
  (void)Sender;
  (void)ErrCode;
  InstallSocketCloseHandler(false);
  FConnected = false;
  FProxyConnected = false;
  if (FState == httpAborting || FState == httpReady) {
    // Aborted while the old connection was closing: nothing more to follow.
    FLocationFlag = false;
    FireSessionClosed();
    return;
  }
  std::string loc = FLocation;
  std::size_t hash = loc.find('#');
  if (hash != std::string::npos) loc.erase(hash);
  FLocation = loc;
  {
    std::string proto, user, pass, host, port, path = FPath;
    ParseURL(FLocation, proto, user, pass, host, port, path);
    FDocName = path;
    DeriveDocName();
  }
  FLocationFlag = false;
  if (FRequestType == httpPOST) FRequestType = httpGET;
  ++FLocationChangeCurCount;
  if (!RelocationAllowed()) {
    PostReady();
    return;
  }
  if (OnLocationChange) OnLocationChange(this);
  FReceivedHeader.clear();
  FHeaderLineCount = 0;
  FBodyLineCount = 0;
  FStatusCode = 0;
  FContentLength = -1;
  FContentType.clear();
  FTransferEncoding.clear();
  FContentEncoding.clear();
  FAnswerDone = false;
  // Nothing read from the old connection belongs to the new answer.
  FReceiveBufferLen = 0;
  FReceivedCount = 0;
  if (!Proxy.empty()) FPort = FProxyPortInUse;
  if (ReceiveStream && ReceiveStream->GetSize() != FDocBeginSize) {
    ReceiveStream->SetSize(FDocBeginSize);
    ReceiveStream->Seek(0, plat::soEnd);
  }
  if (SendStream && FSentCount > 0) SendStream->Seek(-FSentCount, plat::soCurrent);
  FSentCount = 0;
  plat::PostMessage(FWindowHandle, WM_HTTP_LOGIN, FRequestSerial, 0);
}

// ---------------------------------------------------------------------------
// State and completion

void THttpCli::ChangeState(THttpState NewState) {
  if (NewState == FState) return;
  FState = NewState;
  FireStateChange();
  if (NewState != httpReady) return;

  const int S = FStatusCode;
  if (FAuthNTLMState == 3 && S != 401 && S != 407) FAuthNTLMState = 4;
  else if (FAuthNTLMState == 4 && S == 401) FAuthNTLMState = 0;
  if (FProxyAuthNTLMState == 3 && S != 407) FProxyAuthNTLMState = 4;
  else if (FProxyAuthNTLMState == 4 && S == 407) FProxyAuthNTLMState = 0;
  if (FAuthBasicState == 1 && S != 401 && S != 407) FAuthBasicState = 2;
  else if (FAuthBasicState == 2 && S == 401) FAuthBasicState = 0;
  if (FProxyAuthBasicState == 1 && S != 407) FProxyAuthBasicState = 2;
  else if (FProxyAuthBasicState == 2 && S == 407) FProxyAuthBasicState = 0;

  bool clean = false;
  bool started = false;
  try {
    started = PrepareNTLMAuth(clean);
    if (!started) started = PrepareBasicAuth(clean);
  } catch (const EHttpException& E) {
    FReasonPhrase = E.what();
    started = false;
  }
  if (!started) {
    PostRequestDone();
    return;
  }
  if (S == 401) {
    if (FCloseReq) {
      if (FProxyAuthNTLMState == 4)
        FProxyAuthNTLMState = 1;
      else if (FProxyAuthBasicState == 2)
        FProxyAuthBasicState = 1;
    } else {
      if (FProxyAuthNTLMState < 4)
        FProxyAuthNTLMState = 0;
      else if (FProxyAuthBasicState < 2)
        FProxyAuthBasicState = 0;
    }
  }
  if (clean) CleanUpForAuth();
}

void THttpCli::CleanUpForAuth() {
  if (ReceiveStream && ReceiveStream->GetSize() != FDocBeginSize) {
    ReceiveStream->SetSize(FDocBeginSize);
    ReceiveStream->Seek(0, plat::soEnd);
  }
  if (SendStream && FSentCount > 0) SendStream->Seek(-FSentCount, plat::soCurrent);
  FReceiveBufferLen = 0;
  std::string doc = FDocName;
  ResetResponse();
  FDocName = doc;
}

static int FindChallenge(const std::vector<std::string>& list, const char* scheme) {
  for (int i = static_cast<int>(list.size()) - 1; i >= 0; --i)
    if (StartsNoCase(list[static_cast<std::size_t>(i)], scheme)) return i;
  return -1;
}

bool THttpCli::PrepareNTLMAuth(bool& FlgClean) {
  const int S = FStatusCode;
  bool result = false;
  const bool preset = (S == 401 && FServerAuthMethod == httpAuthNtlm) || (S == 407 && FProxyAuthMethod == httpAuthNtlm);
  if (!FOptions.Contains(httpoNoNTLMAuth) || preset) {
    if (S == 401 && !FAuthChallenges.empty() && FAuthBasicState == 0 && !FCurrUsername.empty() &&
        !FCurrPassword.empty()) {
      if (FindChallenge(FAuthChallenges, "NTLM") >= 0) {
        StartAuthNTLM();
        result = true;
        FlgClean = FAuthNTLMState == 1 || FAuthNTLMState == 3;
      }
    } else if (S == 407 && !FAuthChallenges.empty() && FProxyAuthBasicState == 0 && !ProxyUsername.empty() &&
               !ProxyPassword.empty()) {
      if (FindChallenge(FAuthChallenges, "NTLM") >= 0) {
        StartProxyAuthNTLM();
        result = true;
        FlgClean = FProxyAuthNTLMState == 1 || FProxyAuthNTLMState == 3;
      }
    }
  }
  if (TraceEnabled(loProtSpecDump)) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "PrepareNTLMAuth end, FStatusCode = %d FProxyAuthNTLMState=%d FAuthNTLMState=%d",
                  S, FProxyAuthNTLMState, FAuthNTLMState);
    TraceLog(loProtSpecDump, buf);
  }
  return result;
}

bool THttpCli::PrepareBasicAuth(bool& FlgClean) {
  const int S = FStatusCode;
  const bool preset = (S == 401 && FServerAuthMethod == httpAuthBasic) || (S == 407 && FProxyAuthMethod == httpAuthBasic);
  if (FOptions.Contains(httpoNoBasicAuth) && !preset) return false;
  if (S == 401 && !FAuthChallenges.empty() && FAuthNTLMState == 0 && !FCurrUsername.empty() &&
      !FCurrPassword.empty()) {
    if (FindChallenge(FAuthChallenges, "Basic") >= 0) {
      StartAuthBasic();
      FlgClean = FAuthBasicState == 1;
      return true;
    }
  } else if (S == 407 && !FAuthChallenges.empty() && FProxyAuthNTLMState == 0 && !ProxyUsername.empty() &&
             !ProxyPassword.empty()) {
    if (FindChallenge(FAuthChallenges, "Basic") >= 0) {
      StartProxyAuthBasic();
      FlgClean = FProxyAuthBasicState == 1;
      return true;
    }
  }
  return false;
}

void THttpCli::StartAuthNTLM() {
  switch (FAuthNTLMState) {
    case 0:
      HTTP_TRACE(loProtSpecInfo, "Starting NTLM authentication");
      FAuthNTLMState = 1;
      FAuthBasicState = 0;
      if (VersionNeedsKeepAlive()) FCurrConnection = "Keep-alive";
      plat::PostMessage(FWindowHandle, WM_HTTP_LOGIN, FRequestSerial, 0);
      break;
    case 1: {
      int i = FindChallenge(FAuthChallenges, "NTLM");
      std::string text = i >= 0 && FAuthChallenges[static_cast<std::size_t>(i)].size() > 5
                             ? FAuthChallenges[static_cast<std::size_t>(i)].substr(5, 1000)
                             : std::string();
      if (!NtlmChallengeOf(text, FNTLMMsg2Info)) {
        // No usable challenge: the answer is delivered as it came.
        FAuthChallenges.clear();
        FAuthNTLMState = 0;
        PostRequestDone();
        break;
      }
      FAuthNTLMState = 3;
      plat::PostMessage(FWindowHandle, WM_HTTP_LOGIN, FRequestSerial, 0);
      break;
    }
    case 3:
      FAuthChallenges.clear();
      FAuthNTLMState = 0;
      PostRequestDone();
      break;
    default:
      throw EHttpException("Unexpected AuthNTLMState", 6);
  }
}

void THttpCli::StartProxyAuthNTLM() {
  switch (FProxyAuthNTLMState) {
    case 0:
      HTTP_TRACE(loProtSpecInfo, "Starting Proxy NTLM authentication");
      FProxyAuthNTLMState = 1;
      FProxyAuthBasicState = 0;
      if (VersionNeedsKeepAlive()) FCurrProxyConnection = "Keep-alive";
      plat::PostMessage(FWindowHandle, WM_HTTP_LOGIN, FRequestSerial, 0);
      break;
    case 1: {
      int i = FindChallenge(FAuthChallenges, "NTLM");
      std::string text = i >= 0 && FAuthChallenges[static_cast<std::size_t>(i)].size() > 5
                             ? FAuthChallenges[static_cast<std::size_t>(i)].substr(5, 1000)
                             : std::string();
      if (!NtlmChallengeOf(text, FProxyNTLMMsg2Info)) {
        FAuthChallenges.clear();
        FProxyAuthNTLMState = 0;
        PostRequestDone();
        break;
      }
      FProxyAuthNTLMState = 3;
      plat::PostMessage(FWindowHandle, WM_HTTP_LOGIN, FRequestSerial, 0);
      break;
    }
    case 3:
      FAuthChallenges.clear();
      FProxyAuthNTLMState = 0;
      PostRequestDone();
      break;
    default:
      throw EHttpException("Unexpected ProxyAuthNTLMState", 6);
  }
}

void THttpCli::StartAuthBasic() {
  switch (FAuthBasicState) {
    case 0:
      HTTP_TRACE(loProtSpecInfo, "Starting Basic authentication");
      FAuthBasicState = 1;
      FAuthNTLMState = 0;
      plat::PostMessage(FWindowHandle, WM_HTTP_LOGIN, FRequestSerial, 0);
      break;
    case 1:
      FAuthChallenges.clear();
      FAuthBasicState = 0;
      PostRequestDone();
      break;
    default:
      throw EHttpException("Unexpected AuthBasicState", 6);
  }
}

void THttpCli::StartProxyAuthBasic() {
  switch (FProxyAuthBasicState) {
    case 0:
      HTTP_TRACE(loProtSpecInfo, "Starting Proxy Basic authentication");
      FProxyAuthBasicState = 1;
      FProxyAuthNTLMState = 0;
      plat::PostMessage(FWindowHandle, WM_HTTP_LOGIN, FRequestSerial, 0);
      break;
    case 1:
      FAuthChallenges.clear();
      FProxyAuthBasicState = 0;
      PostRequestDone();
      break;
    default:
      throw EHttpException("Unexpected ProxyAuthBasicState", 6);
  }
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
    FStatusCode = 404;
    FReasonPhrase = "Connection aborted on request";
    FRequestDoneError = kErrAborted;
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
    FStatusCode = 200;
    FReasonPhrase = "OK";
    FRequestDoneError = 0;
    FState = httpReady;
    FireStateChange();
    FRequestDoneFlag = true;
    if (OnRequestDone) OnRequestDone(this, FRequestType, FRequestDoneError);
  }
}
