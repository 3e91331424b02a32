// THttpCli's document body: by announced length, by chunks (through the
// chunk decoder) or up to the close of the connection, and the end of the
// connection with the failures it reveals.
#include "net/http/HttpCliPrivate.h"
#include "net/http/HttpContCod.h"
#include "net/http/HttpProt.h"

using namespace httpcli;

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
    FChunkDecoder.Reset();
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
    const std::int32_t used = FChunkDecoder.Decode(
        FBodyData, FBodyDataLen,
        [this](const char* Data, std::int32_t Len) {
          FReceivedCount += Len;
          FContentCodingHnd->InputWriteBuffer(Data, Len);
          return FState != httpReady;  // aborted from OnDocData
        },
        [this](std::int64_t Length) {
          if (TraceEnabled(loProtSpecDump)) TraceLog(loProtSpecDump, "ChunkLength = " + std::to_string(Length));
        });
    if (FChunkDecoder.Failed()) {
      BodyFailed("Invalid chunk size");
      return;
    }
    FBodyDataTaken = used;
    if (FState == httpReady) return;
    if (FChunkDecoder.Done()) {
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
  if (ErrCode == sslSessionFailed) FReasonPhrase = TlsFailureText(ErrCode);
  FConnected = false;
  FProxyConnected = false;
  // An answer the connection cut short is a failed request, not a success.
  const bool answerRunning =
      FState == httpWaitingHeader || FState == httpWaitingBody || FState == httpWaitingProxyConnect;
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
