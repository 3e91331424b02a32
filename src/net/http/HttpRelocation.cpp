// THttpCli's relocation: taking a "Location" field, and following it on the
// open connection or, after its close, on a new one.
#include "net/common/UrlParse.h"
#include "net/http/HttpCliPrivate.h"
#include "net/http/HttpProt.h"
#include "net/http/HttpText.h"
#include "platform/AsciiText.h"

using namespace httpcli;
using namespace httptext;

void THttpCli::TakeLocation(const std::string& Value) {
  if (FRequestType == httpPUT) {
    FLocation = Value;
    return;
  }
  if (!FollowRelocation) return;
  // A refused Location fails the request at the end of the header.
  if (HasLineBreak(Value)) {
    FAnswer.LocationRefused = "Refused Location: it holds CR or LF";
    return;
  }
  std::string V = WithoutFragment(Value);
  // A network-path reference names another server with the current scheme.
  if (V.compare(0, 2, "//") == 0) V = (FProtocol.empty() ? std::string("http") : FProtocol) + ":" + V;
  const std::string scheme = LocationScheme(V);
  if (!scheme.empty() && scheme != "http" && scheme != "https") {
    FAnswer.LocationScheme = scheme;  // the end of the header fails the request
    return;
  }
  const bool absolute = ascii::StartsNoCase(V, "http://") || ascii::StartsNoCase(V, "https://");
  if (absolute) {
    std::string proto, user, pass, host, port, path;
    ParseURL(V, proto, user, pass, host, port, path);
    if (IsBadPortNumber(port)) {
      FAnswer.LocationRefused = "Refused Location: " + PortProblem(port);
      return;
    }
  }
  FLocationFlag = true;
  // Off, only "http" gets this far.
  const std::string current = HttpsEnabled ? FProtocol : std::string("http");
  if (Proxy.empty()) {
    if (!V.empty() && V[0] == '/') {
      FPath = V;
      FLocation = current + "://" + HostAndPort(FHostName, FPort, DefaultPortOf(current)) + FPath;
    } else if (!absolute) {
      FPath = UrlBase(FPath) + V;
      FLocation = current + "://" + HostAndPort(FHostName, FPort, DefaultPortOf(current)) + FPath;
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
      if (!proto.empty()) FProtocol = proto;
      FPort = port.empty() ? DefaultPortOf(FProtocol) : port;
      FTargetHost = FHostName;
      FTargetPort = FPort;
      const std::string where = FProtocol + "://" + HostAndPort(FHostName, FPort, DefaultPortOf(FProtocol));
      FLocation = path.empty() ? where : where + FPath;
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
      FTargetPort = port.empty() ? DefaultPortOf(proto) : port;
      FProtocol = proto;
      FLocation = proto + "://" + host + (port.empty() ? "" : ":" + port) + (path.empty() ? "/" : path);
      FPath = FLocation;
    }
  }
}

void THttpCli::ClearAnswer() {
  FAnswer.Reset(FRequestVer == "1.0");
  FRequestFailed = false;
  // Nothing read before belongs to the next answer.
  FReceiveBufferLen = 0;
}

bool THttpCli::RelocationAllowed() {
  if (FLocationChangeCurCount > LocationChangeMaxCount) {
    bool allow = false;
    if (OnLocationChangeExceeded) OnLocationChangeExceeded(this, FLocationChangeCurCount, allow);
    if (!allow) return false;
  }
  return true;
}

void THttpCli::RelocationsExceeded() {
  MarkFailed(httperr::kTooManyRelocations, "too many relocations (" + std::to_string(LocationChangeMaxCount) + ")");
  PostReady();
}

void THttpCli::StartRelocation() {
  HTTP_TRACE(loProtSpecInfo, "Starting relocation process");
  // The redirection's own body is not counted, whether or not it is followed.
  FAnswer.ReceivedCount = 0;
  FReceiveBufferLen = 0;
  ++FLocationChangeCurCount;
  if (!RelocationAllowed()) {
    FLocationFlag = false;  // the close that follows must not relocate after all
    RelocationsExceeded();
    return;
  }
  if (FHostName != FCurrentHost || FPort != FCurrentPort || FProtocol != FCurrentProtocol ||
      TunnelTarget() != FCurrentTunnel || FAnswer.CloseAfter) {
    FRelocationCounted = true;  // the close must not count this hop again
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
  const bool counted = FRelocationCounted;
  FRelocationCounted = false;
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
  // A body that ran to the close reaches here without StartRelocation.
  if (!counted) {
    ++FLocationChangeCurCount;
    if (!RelocationAllowed()) {
      RelocationsExceeded();
      return;
    }
  }
  if (OnLocationChange) OnLocationChange(this);
  ClearAnswer();
  if (!Proxy.empty()) FPort = FProxyPortInUse;
  if (ReceiveStream && ReceiveStream->GetSize() != FDocBeginSize) {
    ReceiveStream->SetSize(FDocBeginSize);
    ReceiveStream->Seek(0, plat::soEnd);
  }
  if (SendStream && FSentCount > 0) SendStream->Seek(-FSentCount, plat::soCurrent);
  FSentCount = 0;
  plat::PostMessage(FWindowHandle, WM_HTTP_LOGIN, FRequestSerial, 0);
}

