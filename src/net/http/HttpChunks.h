// Decoder of the "chunked" transfer coding: a byte-driven state machine that
// hands out the chunk data and stops at the end of the body or at a size it
// cannot take.
#pragma once

#include <cstdint>
#include <functional>

enum TChunkState : std::uint8_t {
  chkSize,      // reading the hexadecimal size
  chkSizeLine,  // skipping the rest of the size line (extensions, CR)
  chkData,      // handing out the chunk's data
  chkDataEnd,   // skipping to the line feed after the data, or the trailer
  chkDone,      // the last chunk and its trailer ended the body
  chkBadSize    // a size line without a digit, or a size beyond 64 bits
};

class THttpChunkDecoder {
 public:
  // Gets each piece of chunk data; false stops decoding right after it.
  using TDataProc = std::function<bool(const char* Data, std::int32_t Len)>;
  // Told the size of each chunk once its digits have ended.
  using TSizeProc = std::function<void(std::int64_t Length)>;

  void Reset();
  // Decodes Data[0, Len) until it is used up, the body ended, a size failed
  // or OnData asked to stop. Returns the bytes consumed.
  std::int32_t Decode(const char* Data, std::int32_t Len, const TDataProc& OnData, const TSizeProc& OnSize);

  TChunkState State() const { return FState; }
  bool Done() const { return FState == chkDone; }
  bool Failed() const { return FState == chkBadSize; }

 private:
  TChunkState FState = chkSize;
  std::int64_t FChunkLength = 0;
  std::int64_t FChunkReceived = 0;
  std::int32_t FSizeDigits = 0;  // digits of the current size
  std::int32_t FTrailerLineLen = 0;  // bytes of the current trailer line
};
