// THttpCli's response side up to the body: the receive buffer and its line
// splitting, the status line, the header fields and the decision at the end
// of the header.
#include <algorithm>
#include <cstring>

#include "net/http/HttpCliPrivate.h"
#include "net/http/HttpProt.h"
#include "net/http/HttpText.h"

using namespace httpcli;
using namespace httptext;

void THttpCli::RunNext() {
  switch (FNext) {
    case nxReadHeaderLine: ReadHeaderLine(); break;
    case nxGetBodyLineNext: GetBodyLineNext(); break;
    case nxNone: break;
  }
}

void THttpCli::SocketDataAvailable(TObject* Sender, std::uint16_t ErrCode) {
  (void)Sender;
  if (BodyReadsDirect()) {
    ReceiveBodyDirect();
    return;
  }
  int Len;
  const int room = kMaxRecvData - FReceiveBufferLen;
  if (room > 0) {
    Len = SockReceive(FReceiveBuffer + FReceiveBufferLen, room);
  } else {
    // A header line longer than the buffer: keep only what follows its end.
    char scratch[25];
    Len = SockReceive(scratch, static_cast<int>(sizeof scratch));
    // The buffer never grows beyond one byte past its data area.
    if (Len > 0 && FReceiveBufferLen > kMaxRecvData) {
      FLineDropped += Len;
      HeaderOverCap();
      return;
    }
    if (Len > 0) {
      const char* lf = static_cast<const char*>(std::memchr(scratch, '\n', static_cast<std::size_t>(Len)));
      // What is dropped still counts against the header's caps.
      FLineDropped += lf ? Len - 1 : Len;
      if (!lf) {
        HeaderOverCap();
        return;
      }
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
    const bool inAnswer =
        FState == httpWaitingHeader || FState == httpWaitingBody || FState == httpWaitingProxyConnect;
    while (FReceiveBufferLen > 0) {
      // The whole data is searched: a zero byte must not hide the line end.
      const char* lf =
          static_cast<const char*>(std::memchr(FReceiveBuffer, '\n', static_cast<std::size_t>(FReceiveBufferLen)));
      if (!lf) break;
      const int lineLen = static_cast<int>(lf - FReceiveBuffer);
      if (InHeader()) {
        const std::int64_t lineBytes = lineLen + 1 + FLineDropped;
        FLineDropped = 0;
        FHeaderBytes += lineBytes;
        if (lineBytes > kMaxHeaderLine || FHeaderBytes > kMaxHeaderBlock) {
          AnswerFailed(kErrHeaderTooLarge, "the answer's header is too large");
          return;
        }
      }
      int cut = lineLen;
      if (cut > 0 && FReceiveBuffer[cut - 1] == '\r') --cut;
      FLastLine.assign(FReceiveBuffer, static_cast<std::size_t>(cut));
      if (TraceEnabled(loProtSpecDump)) TraceLog(loProtSpecDump, ">|" + FLastLine + "|");
      const int rest = FReceiveBufferLen - (lineLen + 1);
      if (rest > 0) std::memmove(FReceiveBuffer, FReceiveBuffer + lineLen + 1, static_cast<std::size_t>(rest));
      FReceiveBufferLen = rest;
      FReceiveBuffer[FReceiveBufferLen] = 0;
      // Lines after a complete answer without body are not its header.
      if (inAnswer && !FAnswerDone) {
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
    if (HeaderOverCap()) return;  // the unended line alone is too long
  }

  if (FState == httpWaitingBody && FReceiveBufferLen > 0) {
    if (FRequestType == httpHEAD) {
      FReceiveBufferLen = 0;
      SockAbort();
      return;
    }
    if (TakeBufferedBody()) FinishIfDocumentEnded();
  }
}

bool THttpCli::InHeader() const {
  return FNext == nxReadHeaderLine && !FAnswerDone &&
         (FState == httpWaitingHeader || FState == httpWaitingProxyConnect);
}

bool THttpCli::HeaderOverCap() {
  if (!InHeader()) return false;
  const std::int64_t pending = FReceiveBufferLen + FLineDropped;
  if (pending <= kMaxHeaderLine && FHeaderBytes + pending <= kMaxHeaderBlock) return false;
  AnswerFailed(kErrHeaderTooLarge, "the answer's header is too large");
  return true;
}

bool THttpCli::TakeBufferedBody() {
  FBodyData = FReceiveBuffer;
  FBodyDataLen = FReceiveBufferLen;
  // A chunked body is delimited by its chunks, whatever length was announced.
  if (FContentLength >= 0 && !FChunked && FBodyDataLen > FContentLength - FReceivedCount)
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
    return false;
  }
  return true;
}

void THttpCli::FinishIfDocumentEnded() {
  if (FNext != nxNone) return;
  if (FLocationFlag)
    StartRelocation();
  else
    PostReady();
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
    EndOfHeader();
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
        const std::int64_t length = ParseLength(value);
        // Lines that disagree leave the body's end unknown.
        if (FContentLengthSeen && length != FContentLength) FLengthConflict = true;
        FContentLengthSeen = true;
        FContentLength = length;
      } else if (name == "transfer-encoding") {
        FTransferEncoding = LowerCase(value);
        // Only a list that ends in chunked is framed by chunks.
        FChunked = LowerCase(LastListItem(value)) == "chunked";
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

void THttpCli::EndOfHeader() {
  HTTP_TRACE(loProtSpecInfo, "End of header");
  if (FResponseVer == "1.1" && FStatusCode == 100) {
    // Interim answer: the real one follows without a second OnHeaderBegin.
    FReceivedHeader.clear();
    FHeaderLineCount = -1;
    FContentLengthSeen = FLengthConflict = false;
    return;
  }
  // Chunks frame the body: an announced length plays no part at all, neither
  // for the body's end nor for the request's success.
  if (FChunked) FContentLength = -1;
  FireHeaderEnd();
  if (FState == httpWaitingProxyConnect && FStatusCode >= 200 && FStatusCode < 300) {
    TunnelEstablished();
    return;
  }
  if (FState == httpReady) {
    FReceiveBufferLen = 0;
    return;
  }
  if (FLengthConflict && !FChunked && FRequestType != httpHEAD) {
    AnswerFailed(kErrBadLength, "Content-Length values differ");
    return;
  }
  if (FLocationRefused) {
    AnswerFailed(kErrBadTarget, "Refused Location: it holds CR or LF");
    return;
  }
  if (!FLocationScheme.empty()) {
    AnswerFailed(kErrBadRelocation, "unsupported relocation to " + FLocationScheme + ":");
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
  // Body bytes that came with the header.
  if (FReceiveBufferLen > 0 && !TakeBufferedBody()) return;
  FinishIfDocumentEnded();
}
