// Decoder of the "chunked" transfer coding.
#include "net/http/HttpChunks.h"

#include <algorithm>
#include <limits>

#include "platform/AsciiText.h"

void THttpChunkDecoder::Reset() {
  FState = chkSize;
  FChunkLength = 0;
  FChunkReceived = 0;
  FSizeDigits = 0;
  FTrailerLineLen = 0;
}

std::int32_t THttpChunkDecoder::Decode(const char* Data, std::int32_t Len, const TDataProc& OnData,
                                       const TSizeProc& OnSize) {
  std::int32_t i = 0;
  while (i < Len) {
    const char c = Data[i];
    switch (FState) {
      case chkSize: {
        const int d = ascii::HexValue(c);
        if (d < 0) {
          // No digit at all ("zz", an empty line) is no size, least of all
          // the last chunk's.
          if (FSizeDigits == 0) {
            FState = chkBadSize;
            return i;
          }
          // The byte is not consumed: the size line's rest decides.
          FState = chkSizeLine;
          if (OnSize) OnSize(FChunkLength);
          break;
        }
        if (FChunkLength > (std::numeric_limits<std::int64_t>::max() - d) / 16) {
          FState = chkBadSize;
          return i;
        }
        FChunkLength = FChunkLength * 16 + d;
        ++FSizeDigits;
        ++i;
        break;
      }
      case chkSizeLine:
        if (c == '\n') FState = chkData;
        ++i;
        break;
      case chkData: {
        const std::int64_t k = std::min<std::int64_t>(Len - i, FChunkLength - FChunkReceived);
        if (k > 0) {
          FChunkReceived += k;
          const bool go = OnData(Data + i, static_cast<std::int32_t>(k));
          i += static_cast<std::int32_t>(k);
          if (!go) return i;
        }
        if (FChunkReceived >= FChunkLength) FState = chkDataEnd;
        break;
      }
      case chkDataEnd:
        if (c == '\n') {
          if (FChunkLength != 0) {
            FState = chkSize;
            FChunkLength = 0;
            FChunkReceived = 0;
            FSizeDigits = 0;
          } else if (FTrailerLineLen == 0) {
            FState = chkDone;  // the empty line after the last chunk and its trailer
          } else {
            FTrailerLineLen = 0;  // a trailer line: the next one may end the body
          }
        } else if (FChunkLength == 0 && c != '\r') {
          ++FTrailerLineLen;
        }
        ++i;
        break;
      case chkDone:
      case chkBadSize:
        return i;
    }
  }
  return i;
}
