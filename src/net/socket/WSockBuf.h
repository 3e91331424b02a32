// One block of a socket's send queue: written at its end, read at its front.
#pragma once

#include <cstdint>

class TBuffer {
 public:
  explicit TBuffer(int Size);
  ~TBuffer();
  TBuffer(const TBuffer&) = delete;
  TBuffer& operator=(const TBuffer&) = delete;

  // 0 or less means 1514. Keeps the unread bytes when the block is not empty.
  void SetBufSize(int Size);
  // Returns the number of bytes taken (bounded by the free space).
  int Write(const void* Data, int Len);
  // First unread byte and the unread count; nullptr and 0 when empty.
  const char* Peek(int& Len) const;
  // Takes out at most the unread count; an emptied block restarts at 0.
  int Remove(int Len);

  int BufSize() const { return FBufSize; }
  int WrCount() const { return FWrCount; }
  int RdCount() const { return FRdCount; }

 private:
  char* FBuf = nullptr;
  int FBufSize = 0;
  int FWrCount = 0;
  int FRdCount = 0;
};
