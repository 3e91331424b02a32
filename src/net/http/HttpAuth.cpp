// THttpCli's authentication with servers and proxies, Basic and NTLM: the
// presets, the authorization lines, the decisions of the ready step and the
// pass steps.
#include <cstring>

#include "net/common/Base64.h"
#include "net/http/HttpCliPrivate.h"
#include "net/http/HttpProt.h"
#include "platform/AsciiText.h"

using namespace httpcli;

namespace {

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

int FindChallenge(const std::vector<std::string>& list, const char* scheme) {
  for (int i = static_cast<int>(list.size()) - 1; i >= 0; --i)
    if (ascii::StartsNoCase(list[static_cast<std::size_t>(i)], scheme)) return i;
  return -1;
}

}  // namespace

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

// The ready step's part: the states advance by the final status, then a
// pass starts when the answer asks for one. True when one was started.
bool THttpCli::StartAuthPass() {
  const int S = FAnswer.StatusCode;
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
    FAnswer.ReasonPhrase = E.what();
    started = false;
  }
  if (!started) return false;
  if (S == 401) {
    if (FAnswer.CloseAfter) {
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
  return true;
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

bool THttpCli::PrepareNTLMAuth(bool& FlgClean) {
  const int S = FAnswer.StatusCode;
  bool result = false;
  const bool preset = (S == 401 && FServerAuthMethod == httpAuthNtlm) || (S == 407 && FProxyAuthMethod == httpAuthNtlm);
  if (!FOptions.Contains(httpoNoNTLMAuth) || preset) {
    if (S == 401 && !FAnswer.Challenges.empty() && FAuthBasicState == 0 && !FCurrUsername.empty() &&
        !FCurrPassword.empty()) {
      if (FindChallenge(FAnswer.Challenges, "NTLM") >= 0) {
        StartAuthNTLM();
        result = true;
        FlgClean = FAuthNTLMState == 1 || FAuthNTLMState == 3;
      }
    } else if (S == 407 && !FAnswer.Challenges.empty() && FProxyAuthBasicState == 0 && !ProxyUsername.empty() &&
               !ProxyPassword.empty()) {
      if (FindChallenge(FAnswer.Challenges, "NTLM") >= 0) {
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
  const int S = FAnswer.StatusCode;
  const bool preset = (S == 401 && FServerAuthMethod == httpAuthBasic) || (S == 407 && FProxyAuthMethod == httpAuthBasic);
  if (FOptions.Contains(httpoNoBasicAuth) && !preset) return false;
  if (S == 401 && !FAnswer.Challenges.empty() && FAuthNTLMState == 0 && !FCurrUsername.empty() &&
      !FCurrPassword.empty()) {
    if (FindChallenge(FAnswer.Challenges, "Basic") >= 0) {
      StartAuthBasic();
      FlgClean = FAuthBasicState == 1;
      return true;
    }
  } else if (S == 407 && !FAnswer.Challenges.empty() && FProxyAuthNTLMState == 0 && !ProxyUsername.empty() &&
             !ProxyPassword.empty()) {
    if (FindChallenge(FAnswer.Challenges, "Basic") >= 0) {
      StartProxyAuthBasic();
      FlgClean = FProxyAuthBasicState == 1;
      return true;
    }
  }
  return false;
}

// The server's and the proxy's steps differ only in their fields and texts.
void THttpCli::NtlmStep(std::uint8_t& State, std::uint8_t& BasicState, std::string& ConnectionValue,
                        TNTLM_Msg2_Info& Info, const char* StartText, const char* UnexpectedText) {
  switch (State) {
    case 0:
      HTTP_TRACE(loProtSpecInfo, StartText);
      State = 1;
      BasicState = 0;
      if (VersionNeedsKeepAlive()) ConnectionValue = "Keep-alive";
      plat::PostMessage(FWindowHandle, WM_HTTP_LOGIN, FRequestSerial, 0);
      break;
    case 1: {
      int i = FindChallenge(FAnswer.Challenges, "NTLM");
      std::string text = i >= 0 && FAnswer.Challenges[static_cast<std::size_t>(i)].size() > 5
                             ? FAnswer.Challenges[static_cast<std::size_t>(i)].substr(5, 1000)
                             : std::string();
      if (!NtlmChallengeOf(text, Info)) {
        // No usable challenge: the answer is delivered as it came.
        EndAuthStep(State);
        break;
      }
      State = 3;
      plat::PostMessage(FWindowHandle, WM_HTTP_LOGIN, FRequestSerial, 0);
      break;
    }
    case 3:
      EndAuthStep(State);
      break;
    default:
      throw EHttpException(UnexpectedText, httperr::kBadAuthState);
  }
}

// The exchange is over (answered, or nothing left to answer): the answer
// in hand is the request's.
void THttpCli::EndAuthStep(std::uint8_t& State) {
  FAnswer.Challenges.clear();
  State = 0;
  PostRequestDone();
}

void THttpCli::BasicStep(std::uint8_t& State, std::uint8_t& NtlmState, const char* StartText,
                         const char* UnexpectedText) {
  switch (State) {
    case 0:
      HTTP_TRACE(loProtSpecInfo, StartText);
      State = 1;
      NtlmState = 0;
      plat::PostMessage(FWindowHandle, WM_HTTP_LOGIN, FRequestSerial, 0);
      break;
    case 1:
      EndAuthStep(State);
      break;
    default:
      throw EHttpException(UnexpectedText, httperr::kBadAuthState);
  }
}

void THttpCli::StartAuthNTLM() {
  NtlmStep(FAuthNTLMState, FAuthBasicState, FCurrConnection, FNTLMMsg2Info, "Starting NTLM authentication",
           "Unexpected AuthNTLMState");
}

void THttpCli::StartProxyAuthNTLM() {
  NtlmStep(FProxyAuthNTLMState, FProxyAuthBasicState, FCurrProxyConnection, FProxyNTLMMsg2Info,
           "Starting Proxy NTLM authentication", "Unexpected ProxyAuthNTLMState");
}

void THttpCli::StartAuthBasic() {
  BasicStep(FAuthBasicState, FAuthNTLMState, "Starting Basic authentication", "Unexpected AuthBasicState");
}

void THttpCli::StartProxyAuthBasic() {
  BasicStep(FProxyAuthBasicState, FProxyAuthNTLMState, "Starting Proxy Basic authentication",
            "Unexpected ProxyAuthBasicState");
}
