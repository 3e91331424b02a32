#include "net/socket/WSockBuf.h"

#include <cstring>

TBuffer::TBuffer(int Size) { SetBufSize(Size); }

TBuffer::~TBuffer() { delete[] FBuf; }

void TBuffer::SetBufSize(int Size) {
  if (Size <= 0) Size = 1514;
  if (Size == FBufSize && FBuf) return;
  if (FWrCount == FRdCount) {
    delete[] FBuf;
    FBuf = new char[static_cast<unsigned>(Size)];
    FBufSize = Size;
    FWrCount = FRdCount = 0;
    return;
  }
  // Shrinking below the written bytes would lose data: keep what fits.
  int keep = FWrCount < Size ? FWrCount : Size;
  char* n = new char[static_cast<unsigned>(Size)];
  std::memcpy(n, FBuf, static_cast<unsigned>(keep));
  delete[] FBuf;
  FBuf = n;
  FBufSize = Size;
  FWrCount = keep;
  if (FRdCount > FWrCount) FRdCount = FWrCount;
}

int TBuffer::Write(const void* Data, int Len) {
  if (!Data || Len <= 0) return 0;
  int free = FBufSize - FWrCount;
  if (free <= 0) return 0;
  int n = Len < free ? Len : free;
  std::memcpy(FBuf + FWrCount, Data, static_cast<unsigned>(n));
  FWrCount += n;
  return n;
}

const char* TBuffer::Peek(int& Len) const {
  Len = FWrCount - FRdCount;
  if (Len <= 0) {
    Len = 0;
    return nullptr;
  }
  return FBuf + FRdCount;
}

int TBuffer::Remove(int Len) {
  if (Len <= 0) return 0;
  int avail = FWrCount - FRdCount;
  int n = Len < avail ? Len : avail;
  FRdCount += n;
  if (FRdCount >= FWrCount) FRdCount = FWrCount = 0;
  return n;
}
