// THttpCli's request side: connecting (name lookup, socket set-up, connect,
// TLS and the proxy tunnel), composing and sending the request header,
// sending a request body, the "If-Modified-Since:" date and bandwidth control.
#include <algorithm>
#include <cmath>

#include "net/common/UrlParse.h"
#include "net/http/HttpCliPrivate.h"
#include "net/http/HttpContCod.h"
#include "net/http/HttpProt.h"
#include "net/http/HttpText.h"

using namespace httpcli;
using httptext::EncodeTargetBytes;

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
  FDnsResultList.clear();
  ChangeState(httpDnsLookup);
  if (NamesGoToSocks()) {
    FDnsResult = FHostName;
    ChangeState(httpDnsLookupDone);
    ConnectResolved(nullptr);
    return;
  }
  try {
    SockDnsLookup(FHostName);
  } catch (const std::exception& E) {
    FAnswer.StatusCode = 404;
    FAnswer.ReasonPhrase = E.what();
    FConnected = false;
    ChangeState(httpReady);
  }
}

std::string THttpCli::RouteText() const {
  if (!Proxy.empty()) return "http " + Proxy + " " + ProxyPort;
  if (!SocksServer.empty()) return "socks" + SocksLevel + " " + SocksServer + " " + SocksPort;
  return std::string();
}

void THttpCli::ConnectToProxyHost() {
  std::string pproto, puser, ppass, phost, pport, ppath;
  ParseURL(Proxy, pproto, puser, ppass, phost, pport, ppath);
  FHostName = phost;
  FPort = pport.empty() ? ProxyPort : pport;
  FProxyPortInUse = FPort;
}

bool THttpCli::NamesGoToSocks() const {
  return !SocksServer.empty() && (SocksLevel == "4A" || SocksLevel == "4a" || (SocksLevel == "5" && SocksRemoteNames));
}

int THttpCli::LookupFamily() const {
  // SOCKS 4 carries IPv4 destinations only; the proxy itself is reached
  // with AddrFamily.
  if (!SocksServer.empty() && SocksLevel == "4") return plat::WS_AF_INET;
  return AddrFamily;
}

void THttpCli::PrepareSocket() {
  FCtrlSocket->SetAddr(FDnsResult);
  FCtrlSocket->SetAddrList(FDnsResultList);
  FCtrlSocket->SetAddrFamily(AddrFamily);
  FCtrlSocket->SetLocalAddr(LocalAddr);
  FCtrlSocket->SetPort(FPort);
  FCtrlSocket->SetProto("tcp");
  FCtrlSocket->SetSocksServer(SocksServer);
  FCtrlSocket->SetSocksLevel(SocksLevel);
  FCtrlSocket->SetSocksPort(SocksPort);
  FCtrlSocket->SetSocksUsercode(SocksUsercode);
  FCtrlSocket->SetSocksPassword(SocksPassword);
  FCtrlSocket->SetSocksAuthentication(SocksAuthentication);
  // Through an HTTP proxy TLS starts once the tunnel stands.
  FCtrlSocket->SetSslEnable(HttpsEnabled && FProtocol == "https" && !TunnelWanted());
  FCtrlSocket->SetSslServerName(FTargetHost);
  FCtrlSocket->SetSslTrust(SslTrust);
}

// ---------------------------------------------------------------------------
// TLS and the proxy tunnel

bool THttpCli::ProtocolKnown() const { return FProtocol == "http" || (HttpsEnabled && FProtocol == "https"); }

std::string THttpCli::DefaultPortOf(const std::string& Protocol) const {
  return HttpsEnabled && Protocol == "https" ? "443" : "80";
}

bool THttpCli::TunnelWanted() const { return HttpsEnabled && FProtocol == "https" && !Proxy.empty(); }

std::string THttpCli::TunnelTarget() const {
  return TunnelWanted() ? UrlHost(FTargetHost) + ":" + FTargetPort : std::string();
}

void THttpCli::SendProxyConnect() {
  const std::string target = TunnelTarget();
  HTTP_TRACE(loProtSpecInfo, "CONNECT " + target);
  FRequestBuffer.clear();
  QueueRequestLine("CONNECT " + target + " HTTP/" + FRequestVer);
  QueueRequestLine("Host: " + target);
  if (!Agent.empty()) QueueRequestLine("User-Agent: " + Agent);
  if (!FCurrProxyConnection.empty()) QueueRequestLine("Proxy-Connection: " + FCurrProxyConnection);
  const std::string auth = ProxyAuthLine();
  if (!auth.empty()) QueueRequestLine(auth);
  QueueRequestLine("");
  std::string out;
  out.swap(FRequestBuffer);
  SockSend(out.data(), static_cast<int>(out.size()));
}

// The proxy answered the CONNECT with 2xx: what follows is the server's TLS.
void THttpCli::TunnelEstablished() {
  HTTP_TRACE(loProtSpecInfo, "Tunnel to " + TunnelTarget() + " established");
  FProxyConnected = true;
  ClearAnswer();
  FNext = nxNone;
  // OnSessionConnected follows when the handshake has ended.
  SockStartTls();
}

std::string THttpCli::TlsFailureText(std::uint16_t ErrCode) {
  std::string why = SockTlsErrorText();
  if (why.empty()) why = "TLS failure";
  return "TLS with " + FTargetHost + " failed: " + why + " (Error #" + std::to_string(ErrCode) + ")";
}

void THttpCli::SocketDnsLookupDone(TObject* Sender, std::uint16_t ErrCode) {
  if (ErrCode != 0) {
    if (FState == httpAborting) return;
    FRequestDoneError = ErrCode;
    FAnswer.StatusCode = 404;
    const int family = LookupFamily();
    FAnswer.ReasonPhrase = family == plat::WS_AF_INET    ? "can't resolve hostname to IPv4 address"
                           : family == plat::WS_AF_INET6 ? "can't resolve hostname to IPv6 address"
                                                         : "can't resolve hostname to IP address";
    SocketSessionClosed(Sender, ErrCode);
    return;
  }
  FDnsResult = SockDnsResult();
  FDnsResultList = SockDnsResultList();
  ChangeState(httpDnsLookupDone);
  ConnectResolved(Sender);
}

void THttpCli::ConnectResolved(TObject* Sender) {
  int err = 0;
  try {
    PrepareSocket();
  } catch (const std::exception& E) {
    FAnswer.StatusCode = 404;
    FAnswer.ReasonPhrase = E.what();
    SocketSessionClosed(Sender, 0);
    return;
  }
  FCurrentHost = FHostName;
  FCurrentPort = FPort;
  FCurrentProtocol = FProtocol;
  FCurrentTunnel = TunnelTarget();
  FCurrentRoute = RouteText();
  if (!ProtocolKnown()) {
    err = SockLastError();
    FRequestDoneError = static_cast<std::uint16_t>(err);
    FAnswer.StatusCode = 501;
    FAnswer.ReasonPhrase = "Protocol \"" + FProtocol + "\" not implemented";
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
    if (err == 0) err = httperr::kBadAddress;
    FRequestDoneError = static_cast<std::uint16_t>(err);
    FAnswer.StatusCode = 404;
    FAnswer.ReasonPhrase = "can't connect: " + WinsockErrorText(err) + " (Error #" + std::to_string(err) + ")";
    if (!SockIsClosed()) SockClose();
    SocketSessionClosed(Sender, static_cast<std::uint16_t>(err));
  }
}

void THttpCli::SocketSessionConnected(TObject* Sender, std::uint16_t ErrCode) {
  (void)Sender;
  HTTP_TRACE(loProtSpecInfo, "SessionConnected");
  if (ErrCode != 0) {
    FRequestDoneError = ErrCode;
    FAnswer.StatusCode = 404;
    if (ErrCode == sslHandshakeFailed || ErrCode == sslCertificateRejected)
      FAnswer.ReasonPhrase = TlsFailureText(ErrCode);
    else
      FAnswer.ReasonPhrase = WinsockErrorText(ErrCode) + " (Error #" + std::to_string(ErrCode) + ")";
    FireSessionConnected();
    return;
  }
  FLocationFlag = false;
  FConnected = true;
  ChangeState(httpConnected);
  FireSessionConnected();
  FNext = nxReadHeaderLine;
  if (TunnelWanted() && !FProxyConnected) {
    ChangeState(httpWaitingProxyConnect);
    try {
      SendProxyConnect();
    } catch (const std::exception&) {
      DropConnection();
    }
    return;
  }
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

void THttpCli::SendRequest(const std::string& Method, const std::string& Version) {
  FBandwidthCount = 0;
  if (RateBudget) {
    SockAddReceiveLoopOption();  // one read per notification, each within the budget
  } else if (FOptions.Contains(httpoBandwidthControl)) {
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
  // Inside a tunnel the server itself is addressed: the path alone.
  const bool tunnel = TunnelWanted();
  std::string target = FPath;
  if (tunnel) {
    std::string proto, user, pass, host, port, path;
    ParseURL(FPath, proto, user, pass, host, port, path);
    target = path.empty() ? "/" : path;
  }
  h.push_back(Method + " " + EncodeTargetBytes(target) + " HTTP/" + Version);
  if (!Sender.empty()) h.push_back("From: " + Sender);
  if (!Accept.empty()) h.push_back("Accept: " + Accept);
  if (!Reference.empty()) h.push_back("Referer: " + Reference);
  if (!FCurrConnection.empty()) h.push_back("Connection: " + FCurrConnection);
  if (!AcceptLanguage.empty()) h.push_back("Accept-Language: " + AcceptLanguage);
  std::string ae = FContentCodingHnd->HeaderValue();
  if (!ae.empty() && FRequestType != httpHEAD) h.push_back("Accept-Encoding: " + ae);
  if (postOrPut && !ContentTypePost.empty()) h.push_back("Content-Type: " + ContentTypePost);
  if (!Agent.empty()) h.push_back("User-Agent: " + Agent);
  if (FTargetPort == DefaultPortOf(FProtocol) || FTargetPort.empty())
    h.push_back("Host: " + UrlHost(FTargetHost));
  else
    h.push_back("Host: " + UrlHost(FTargetHost) + ":" + FTargetPort);
  if (NoCache) h.push_back("Pragma: no-cache");
  if (!FCurrProxyConnection.empty() && !tunnel) h.push_back("Proxy-Connection: " + FCurrProxyConnection);
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
  if (!tunnel) {  // the proxy's credentials went with the CONNECT
    std::string a = ProxyAuthLine();
    if (!a.empty()) h.push_back(a);
  }
  if (!Cookie.empty()) h.push_back("Cookie: " + Cookie);
  if (!ContentRangeBegin.empty() || !ContentRangeEnd.empty()) {
    h.push_back("Range: bytes=" + ContentRangeBegin + "-" + ContentRangeEnd);
    ContentRangeBegin.clear();
    ContentRangeEnd.clear();
  }
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
