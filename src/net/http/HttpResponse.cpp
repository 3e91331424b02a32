// THttpCli's response side up to the body: the receive buffer and its line
// splitting, the status line, the header fields and the decision at the end
// of the header.
#include <algorithm>
#include <cstring>

#include "net/http/HttpCliPrivate.h"
#include "net/http/HttpHeaderLines.h"
#include "net/http/HttpProt.h"
#include "net/http/HttpText.h"
#include "platform/AsciiText.h"

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
    Len = SockReceive(FReceiveBuffer + FReceiveBufferLen, BudgetRoom(room));
  } else {
    // A header line longer than the buffer: keep only what follows its end.
    char scratch[25];
    Len = SockReceive(scratch, static_cast<int>(sizeof scratch));
    // The buffer never grows beyond one byte past its data area.
    if (Len > 0 && FReceiveBufferLen > kMaxRecvData) {
      FAnswer.LineDropped += Len;
      HeaderOverCap();
      return;
    }
    if (Len > 0) {
      const char* lf = static_cast<const char*>(std::memchr(scratch, '\n', static_cast<std::size_t>(Len)));
      // What is dropped still counts against the header's caps.
      FAnswer.LineDropped += lf ? Len - 1 : Len;
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
  if (RateBudget) {
    DrawBudget(Len);
  } else if (FOptions.Contains(httpoBandwidthControl) && FBandwidthCount > FBandwidthMaxCount && !FBandwidthPaused) {
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
        const std::int64_t lineBytes = lineLen + 1 + FAnswer.LineDropped;
        FAnswer.LineDropped = 0;
        FAnswer.HeaderBytes += lineBytes;
        if (lineBytes > kMaxHeaderLine || FAnswer.HeaderBytes > kMaxHeaderBlock) {
          AnswerFailed(httperr::kHeaderTooLarge, "the answer's header is too large");
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
      if (inAnswer && !FAnswer.Done) {
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
  return FNext == nxReadHeaderLine && !FAnswer.Done &&
         (FState == httpWaitingHeader || FState == httpWaitingProxyConnect);
}

bool THttpCli::HeaderOverCap() {
  if (!InHeader()) return false;
  const std::int64_t pending = FReceiveBufferLen + FAnswer.LineDropped;
  if (pending <= kMaxHeaderLine && FAnswer.HeaderBytes + pending <= kMaxHeaderBlock) return false;
  AnswerFailed(httperr::kHeaderTooLarge, "the answer's header is too large");
  return true;
}

bool THttpCli::TakeBufferedBody() {
  FBodyData = FReceiveBuffer;
  FBodyDataLen = FReceiveBufferLen;
  // A chunked body is delimited by its chunks, whatever length was announced.
  if (FAnswer.ContentLength >= 0 && !FAnswer.Chunked && FBodyDataLen > FAnswer.ContentLength - FAnswer.ReceivedCount)
    FBodyDataLen = static_cast<std::int32_t>(std::max<std::int64_t>(FAnswer.ContentLength - FAnswer.ReceivedCount, 0));
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
  if (!FAnswer.HeaderBegun) {
    FAnswer.HeaderBegun = true;
    FireHeaderBegin();
  }
  const bool first = ++FAnswer.HeaderLines == 1;
  const std::string line = FLastLine;
  if (first && line.size() >= 6 && ascii::Upper(line.substr(0, 6)) == "<HTML>") {
    StartHeaderlessDocument(line);
    return;
  }
  if (line.empty()) {
    EndOfHeader();
    return;
  }
  FAnswer.Header.push_back(line);
  if (first)
    ReadStatusLine(line);
  else
    ReadField(line);
  if (OnHeaderData) OnHeaderData(this);
}

void THttpCli::StartHeaderlessDocument(const std::string& Line) {
  if (FAnswer.ContentType.empty()) FAnswer.ContentType = "text/html";
  ChangeState(httpWaitingBody);
  FNext = nxGetBodyLineNext;
  FireHeaderEnd();
  if (FState == httpReady) return;
  FBodyData = Line.data();
  FBodyDataLen = static_cast<std::int32_t>(Line.size());
  FBodyDataTaken = FBodyDataLen;
  GetBodyLineNext();
  FBodyDataLen = 0;
}

void THttpCli::ReadStatusLine(const std::string& Line) {
  const std::optional<THttpStatusLine> status = ParseStatusLine(Line);
  if (!status) {
    if (OnDataPush2) OnDataPush2(this);
    return;
  }
  TakeStatusLine(FAnswer, *status, FRequestVer);
  FResponseVer = FAnswer.Version;
  HTTP_TRACE(loProtSpecDump, std::string("FCloseReq=") + (FAnswer.CloseAfter ? "1" : "0"));
}

void THttpCli::ReadField(const std::string& Line) {
  const THttpField field = TakeHeaderField(FAnswer, Line);
  switch (field.Kind) {
    case hfLocation: TakeLocation(field.Value); break;
    case hfSetCookie: {
      bool acceptIt = true;
      FireCookie(field.Value, acceptIt);
      break;
    }
    case hfContentRange:
      if (FAnswer.HasRange) {
        ContentRangeBegin = FAnswer.RangeBegin;
        ContentRangeEnd = FAnswer.RangeEnd;
      }
      break;
    default: break;
  }
}

void THttpCli::EndOfHeader() {
  HTTP_TRACE(loProtSpecInfo, "End of header");
  if (FAnswer.Version == "1.1" && FAnswer.StatusCode == 100) {
    // Interim answer: the real one follows without a second OnHeaderBegin,
    // and nothing the interim one said is part of it.
    FAnswer.Reset(FRequestVer == "1.0");
    FAnswer.HeaderBegun = true;
    return;
  }
  // Chunks frame the body: an announced length plays no part at all, neither
  // for the body's end nor for the request's success.
  if (FAnswer.Chunked) FAnswer.ContentLength = -1;
  FireHeaderEnd();
  if (FState == httpWaitingProxyConnect && FAnswer.StatusCode >= 200 && FAnswer.StatusCode < 300) {
    TunnelEstablished();
    return;
  }
  if (FState == httpReady) {
    FReceiveBufferLen = 0;
    return;
  }
  if (FAnswer.LengthConflict && !FAnswer.Chunked && FRequestType != httpHEAD) {
    AnswerFailed(httperr::kBadLength, "Content-Length values differ");
    return;
  }
  if (!FAnswer.LocationRefused.empty()) {
    AnswerFailed(httperr::kBadTarget, FAnswer.LocationRefused);
    return;
  }
  if (!FAnswer.LocationScheme.empty()) {
    AnswerFailed(httperr::kBadRelocation, "unsupported relocation to " + FAnswer.LocationScheme + ":");
    return;
  }
  const int S = FAnswer.StatusCode;
  const bool noBody = FAnswer.ContentLength == 0 || FRequestType == httpHEAD ||
                      (FAnswer.ContentLength == -1 && (S < 200 || S == 204 || S == 301 || S == 302 || S == 304 ||
                                                       S == 401 || S == 407));
  if (noBody) {
    FAnswer.Done = true;
    if (FAnswer.CloseAfter) {
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
  if (FAnswer.ContentType == "text/html") {
    std::size_t dot = FDocName.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : ascii::Lower(FDocName.substr(dot));
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
