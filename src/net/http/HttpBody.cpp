// THttpCli's document body: by announced length, by chunks (through the
// chunk decoder) or up to the close of the connection, and the end of the
// connection with the failures it reveals.
#include <algorithm>

#include "net/http/HttpCliPrivate.h"
#include "net/http/HttpContCod.h"
#include "net/http/HttpProt.h"

using namespace httpcli;

void THttpCli::MarkFailed(std::uint16_t Error, const std::string& Reason) {
  FRequestFailed = true;
  FRequestDoneError = Error;
  FAnswer.ReasonPhrase = Reason;
}

void THttpCli::AnswerFailed(std::uint16_t Error, const std::string& Reason) {
  MarkFailed(Error, Reason);
  FLocationFlag = false;
  FNext = nxNone;
  FReceiveBufferLen = 0;
  FBodyDataTaken = 0;
  SockAbort();
}

bool THttpCli::WriteBody(const char* Data, std::int32_t Len) {
  try {
    FContentCodingHnd->InputWriteBuffer(Data, Len);
  } catch (const plat::EStreamError& E) {
    // A full disk or a file-size limit: the system's reason, not a network one.
    AnswerFailed(httperr::kWriteFailed, E.what());
    return false;
  }
  return true;
}

void THttpCli::DocEndCommon() {
  FAnswer.BodyPieces = 0;
  FNext = nxNone;
  FAnswer.Done = true;
  ChangeState(httpBodyReceived);
  if (FOptions.Contains(httpoBandwidthControl) && FBandwidthTimerMade) SetBandwidthTimer(false);
}

void THttpCli::GetBodyLineNext() {
  HTTP_TRACE(loProtSpecDump, "GetBodyLineNext begin");
  if (FAnswer.BodyPieces == 0) {
    FChunkDecoder.Reset();
    FireDocBegin();
    if (FState == httpReady) {
      FBodyDataTaken = 0;
      return;
    }
    FContentCodingHnd->Prepare(FAnswer.ContentEncoding);
    FDocBeginSize = ReceiveStream ? ReceiveStream->GetSize() : 0;
  }
  ++FAnswer.BodyPieces;
  if (TraceEnabled(loProtSpecDump)) TraceLog(loProtSpecDump, "GetBodyLineNext FBodyDataLen=" + std::to_string(FBodyDataLen));

  if (!FAnswer.Chunked) {
    if (FBodyDataLen > 0) {
      FAnswer.ReceivedCount += FBodyDataLen;
      if (!WriteBody(FBodyData, FBodyDataLen)) return;
      if (FState == httpReady) return;  // aborted from OnDocData
    }
    if (FAnswer.ReceivedCount == FAnswer.ContentLength) {
      HTTP_TRACE(loProtSpecInfo, "End of document");
      DocEndCommon();
      FContentCodingHnd->Complete();
      if (TraceEnabled(loProtSpecInfo) && ReceiveStream && !FAnswer.ContentEncoding.empty())
        TraceLog(loProtSpecInfo, FAnswer.ContentEncoding + " content uncompressed from " +
                                     std::to_string(FAnswer.ContentLength) + " bytes to " +
                                     std::to_string(ReceiveStream->GetSize()) + " bytes");
      FireDocEnd();
      if (FState == httpReady) return;
      // With a relocation pending the caller starts it, closing if need be.
      if (FLocationFlag) {
      } else if (FAnswer.CloseAfter) {
        SockPostClose();
      } else {
        PostReady();
      }
    }
  } else {
    const std::int32_t used = FChunkDecoder.Decode(
        FBodyData, FBodyDataLen,
        [this](const char* Data, std::int32_t Len) {
          FAnswer.ReceivedCount += Len;
          return WriteBody(Data, Len) && FState != httpReady;  // failed, or aborted from OnDocData
        },
        [this](std::int64_t Length) {
          if (TraceEnabled(loProtSpecDump)) TraceLog(loProtSpecDump, "ChunkLength = " + std::to_string(Length));
        });
    if (FRequestFailed) return;
    if (FChunkDecoder.Failed()) {
      AnswerFailed(httperr::kBadChunk, "Invalid chunk size");
      return;
    }
    FBodyDataTaken = used;
    if (FState == httpReady) return;
    if (FChunkDecoder.Done()) {
      HTTP_TRACE(loProtSpecInfo, "httpChunkDone, end of document");
      DocEndCommon();
      FireDocEnd();
      if (FState == httpReady) return;
      if (FAnswer.CloseAfter && !FLocationFlag) SockPostClose();
    }
  }
  HTTP_TRACE(loProtSpecDump, "GetBodyLineNext end");
}

bool THttpCli::BodyReadsDirect() const {
  return FState == httpWaitingBody && FReceiveBufferLen == 0 && FRequestType != httpHEAD &&
         FRequestType != httpABORT && !FAnswer.Chunked &&
         (RateBudget || !FOptions.Contains(httpoBandwidthControl)) &&
         (FAnswer.ContentLength < 0 || FAnswer.ReceivedCount < FAnswer.ContentLength);
}

void THttpCli::ReceiveBodyDirect() {
  if (FBodyBuffer.empty()) FBodyBuffer.resize(kBodyReadSize);
  int want = kBodyReadSize;
  // Never beyond the document: what follows belongs to the next answer.
  if (FAnswer.ContentLength >= 0)
    want = static_cast<int>(std::min<std::int64_t>(want, FAnswer.ContentLength - FAnswer.ReceivedCount));
  const int Len = SockReceive(FBodyBuffer.data(), BudgetRoom(want));
  if (TraceEnabled(loProtSpecDump)) TraceLog(loProtSpecDump, "Data available. Len=" + std::to_string(Len));
  if (Len <= 0) {
    if (TraceEnabled(loProtSpecDump)) TraceLog(loProtSpecDump, "**data available. Len=" + std::to_string(Len));
    return;
  }
  FBandwidthCount += Len;
  if (RateBudget) DrawBudget(Len);
  FBodyData = FBodyBuffer.data();
  FBodyDataLen = Len;
  FBodyDataTaken = Len;
  GetBodyLineNext();
  FBodyDataLen = 0;
  if (FState != httpReady) FinishIfDocumentEnded();
}

void THttpCli::SocketSessionClosed(TObject* Sender, std::uint16_t ErrCode) {
  (void)Sender;
  HTTP_TRACE(loProtSpecInfo, "SessionClosed Error: " + std::to_string(ErrCode));
  // The first failure of an answer keeps its number and text.
  if (ErrCode != 0 && !FRequestFailed) FRequestDoneError = ErrCode;
  FConnected = false;
  FProxyConnected = false;
  // An answer the connection cut short is a failed request, not a success.
  const bool answerRunning =
      FState == httpWaitingHeader || FState == httpWaitingBody || FState == httpWaitingProxyConnect;
  const bool cutShort = answerRunning && !FAnswer.Done && !FLocationFlag && !FRequestFailed && FRequestType != httpHEAD;
  const bool bodyByClose = FState == httpWaitingBody && FAnswer.ContentLength < 0 && !FAnswer.Chunked;
  if (cutShort && ErrCode != 0) {
    // A reset is no orderly end, not even of a body that runs to the close.
    MarkFailed(ErrCode, ErrCode == sslSessionFailed
                            ? TlsFailureText(ErrCode)
                            : WinsockErrorText(ErrCode) + " (Error #" + std::to_string(ErrCode) + ")");
  } else if (cutShort && !bodyByClose && FRequestDoneError == 0) {
    MarkFailed(httperr::kIncomplete, "Connection closed before the end of the answer");
  } else if (cutShort && bodyByClose && SockTlsTruncated()) {
    // Over TLS only close_notify ends such a body: a bare TCP close can be forged.
    MarkFailed(httperr::kTlsTruncated, "the server ended the TLS connection without close_notify: the answer may be incomplete");
  }
  if (FInsideHeader) {
    FireHeaderEnd();
  } else if (FAnswer.BodyPieces > 0) {
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
