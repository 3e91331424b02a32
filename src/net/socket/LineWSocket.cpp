// TCustomLineWSocket: line mode, line editing and echo over the received bytes.
#include <cstring>

#include "net/socket/LineWSocket.h"

TCustomLineWSocket::TCustomLineWSocket() {
  FLineEnd = "\r\n";
  FLineMode = false;
  FLineLimit = 65536;
}

TCustomLineWSocket::~TCustomLineWSocket() { FreeRcvBuf(); }

void TCustomLineWSocket::GrowRcvBuf(int Needed) {
  if (Needed <= FRcvBufSize && FRcvdPtr) return;
  char* n = new char[static_cast<std::size_t>(Needed)];
  if (FRcvdPtr && FRcvdCnt > 0) std::memcpy(n, FRcvdPtr, static_cast<std::size_t>(FRcvdCnt));
  delete[] FRcvdPtr;
  FRcvdPtr = n;
  FRcvBufSize = Needed;
}

void TCustomLineWSocket::FreeRcvBuf() {
  delete[] FRcvdPtr;
  FRcvdPtr = nullptr;
  FRcvBufSize = 0;
  FRcvdCnt = 0;
  FLineLength = 0;
  FLineSearched = 0;
}

void TCustomLineWSocket::SetLineMode(bool Value) {
  if (Value == FLineMode) return;
  FLineMode = Value;
  FLineSearched = 0;  // bytes held in plain mode were never searched
  if (FRcvdCnt > 0 || FLineLength > 0) plat::PostMessage(FWindowHandle, WM_TRIGGER_DATA_AVAILABLE, 0, 0);
}

int TCustomLineWSocket::GetRcvdCount() {
  if (FLineMode) return FLineLength;
  return TCustomSslWSocket::GetRcvdCount();
}

int TCustomLineWSocket::SendLine(const std::string& Str) {
  if (Str.empty()) return 0;
  QueueData(Str.data(), static_cast<int>(Str.size()));
  SendText(FLineEnd);
  return static_cast<int>(Str.size()) + 2;
}

plat::LRESULT TCustomLineWSocket::WndProc(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam) {
  if (Msg == WM_TRIGGER_DATA_AVAILABLE) {
    WMTriggerDataAvailable();
    return 0;
  }
  return TCustomSslWSocket::WndProc(Msg, WParam, LParam);
}

void TCustomLineWSocket::WMTriggerDataAvailable() {
  int count = 0;
  while (FRcvdCnt > 0) {
    ++count;
    FLineFound = false;
    const int before = FRcvdCnt;
    TriggerDataAvailable(0);
    if (FRcvdCnt == 0) break;
    if (FLineMode && count > 3 && !FLineFound) break;
    // In plain mode with nobody reading, offering again would never end.
    if (!FLineMode && FRcvdCnt == before) break;
  }
}

int TCustomLineWSocket::DoRecv(void* Buffer, int BufferSize, int Flags) {
  if ((FLineMode && FLineLength > 0) || (!FLineMode && FRcvdCnt > 0)) {
    if (BufferSize <= 0) return 0;
    if (!Buffer) {
      FLastError = plat::WSAEFAULT;
      return -1;
    }
    int avail = FLineMode ? FLineLength : FRcvdCnt;
    if (avail > FRcvdCnt) avail = FRcvdCnt;  // the line lies within the held bytes
    int n = BufferSize < avail ? BufferSize : avail;
    std::memcpy(Buffer, FRcvdPtr, static_cast<std::size_t>(n));
    // Keep what is left contiguous at the front, so plain reads after a
    // switch out of line mode see the bytes in order.
    std::memmove(FRcvdPtr, FRcvdPtr + n, static_cast<std::size_t>(FRcvdCnt - n));
    FRcvdCnt -= n;
    FRcvdPtr[FRcvdCnt] = 0;
    if (FLineMode) FLineLength -= n;
    FLineSearched = 0;
    return n;
  }
  return TCustomSslWSocket::DoRecv(Buffer, BufferSize, Flags);
}

void TCustomLineWSocket::ApplyLineEditing(int& NewCount) {
  const int held = FRcvdCnt;
  // An echo that fails closes the connection and frees the receive
  // buffer, so the new bytes are read from a copy.
  const std::string input(FRcvdPtr + held, static_cast<std::size_t>(NewCount));
  int out = held;
  int low = held;
  char* edit = nullptr;
  int editCap = 0;
  auto ensure = [&](int need) {
    if (need <= editCap) return;
    int cap = editCap;
    while (cap < need) cap += 256;
    char* n = new char[static_cast<std::size_t>(cap)];
    std::memcpy(n, edit, static_cast<std::size_t>(out));
    delete[] edit;
    edit = n;
    editCap = cap;
  };
  for (int i = 0; i < NewCount; ++i) {
    if (!FRcvdPtr) break;
    const char c = input[static_cast<std::size_t>(i)];
    if ((c == 8 || c == 9) && !edit) {
      editCap = ((held + NewCount + 256) / 256) * 256;
      edit = new char[static_cast<std::size_t>(editCap)];
      std::memcpy(edit, FRcvdPtr, static_cast<std::size_t>(out));
    }
    if (c == 8) {
      if (FLineEcho && out > 0) SendText("\b \b");
      if (out > 0) {
        --out;
        if (out < low) low = out;
      }
    } else if (c == 9) {
      do {
        ensure(out + 1);
        edit[out++] = ' ';
        if (FLineEcho) SendText(" ");
      } while (out % 8 != 0);
    } else {
      if (FLineEcho) Send(&c, 1);
      if (edit) {
        ensure(out + 1);
        edit[out] = c;
      }
      ++out;
    }
  }
  if (!FRcvdPtr) {
    delete[] edit;
    NewCount = 0;
    return;
  }
  if (edit) {
    GrowRcvBuf(out + 1);
    std::memcpy(FRcvdPtr, edit, static_cast<std::size_t>(out));
    FRcvdPtr[out] = 0;
    FRcvdCnt = low;
    NewCount = out - low;
    delete[] edit;
  }
}

bool TCustomLineWSocket::TriggerDataAvailable(std::uint16_t Error) {
  if (!FLineMode || FLineEnd.empty() || SocksNegotiating() || SslHandshaking())
    return TCustomSslWSocket::TriggerDataAvailable(Error);

  int count = TCustomSslWSocket::GetRcvdCount();
  if (count < 0) return true;
  if (count == 0) count = 255;
  GrowRcvBuf(FRcvdCnt + count + 1);
  int n = Receive(FRcvdPtr + FRcvdCnt, count);
  if (!FRcvdPtr) return true;  // closed meanwhile
  if (n <= 0) {
    if (FRcvdCnt == 0) return true;
    n = 0;
  }
  if (n > 0) {
    if (FLineEdit)
      ApplyLineEditing(n);
    else if (FLineEcho)
      Send(FRcvdPtr + FRcvdCnt, n);
    if (!FRcvdPtr) return true;  // the echo failed and closed the connection
  }
  const int endLen = static_cast<int>(FLineEnd.size());
  // Only the part already searched may be skipped, less a possible split
  // terminator; bytes held from plain mode are searched from the start.
  if (FLineSearched > FRcvdCnt) FLineSearched = FRcvdCnt;
  int searchFrom = FLineSearched - endLen;
  if (searchFrom < 0) searchFrom = 0;
  FRcvdCnt += n;
  FRcvdPtr[FRcvdCnt] = 0;

  while (FLineMode) {
    int found = -1;
    for (int i = searchFrom; i + endLen <= FRcvdCnt; ++i) {
      if (FRcvdPtr[i] == FLineEnd[0] && std::memcmp(FRcvdPtr + i, FLineEnd.data(), static_cast<std::size_t>(endLen)) == 0) {
        found = i;
        break;
      }
    }
    if (found < 0) {
      FLineSearched = FRcvdCnt;
      break;
    }
    FLineLength = found + endLen;
    FLineFound = true;
    while (FLineMode && FLineLength > 0) {
      if (!TCustomSslWSocket::TriggerDataAvailable(0)) {
        // Nobody reads: the line is dropped.
        int drop = FLineLength;
        std::memmove(FRcvdPtr, FRcvdPtr + drop, static_cast<std::size_t>(FRcvdCnt - drop));
        FRcvdCnt -= drop;
        FLineLength = 0;
        FLineSearched = 0;
      }
      if (!FRcvdPtr) return true;  // the handler closed the connection
    }
    // Reads took the line's bytes out as they went (see DoRecv); a rest
    // left by a switch out of line mode stays in front as plain data.
    FLineLength = 0;
    FRcvdPtr[FRcvdCnt] = 0;
    while (!FLineMode && FRcvdCnt > 0) {
      if (!TCustomSslWSocket::TriggerDataAvailable(0)) break;
      if (!FRcvdPtr) return true;
    }
    searchFrom = 0;
  }
  if (!FLineMode) return true;
  if (FLineLimit > 0 && FLineLimit < FRcvdCnt) {
    FLineClearData = true;
    TriggerLineLimitExceeded(FRcvdCnt, FLineClearData);
    if (FLineClearData) {
      FRcvdCnt = 0;
      FLineLength = 0;
      FLineSearched = 0;
      FLineClearData = false;
      if (FRcvdPtr) FRcvdPtr[0] = 0;
    }
  }
  return true;
}

void TCustomLineWSocket::TriggerLineLimitExceeded(int Cnt, bool& ClearData) {
  if (OnLineLimitExceeded) OnLineLimitExceeded(this, Cnt, ClearData);
}

void TCustomLineWSocket::TriggerSessionClosed(std::uint16_t Error) {
  if (FRcvdPtr) {
    if (FLineMode && FRcvdCnt > 0 && !FLineClearData) {
      FLineLength = FRcvdCnt;
      while (FRcvdPtr && FLineMode && FLineLength > 0) {
        if (!TCustomSslWSocket::TriggerDataAvailable(0)) break;
      }
    }
    FreeRcvBuf();
  }
  FRcvdCnt = 0;
  FLineLength = 0;
  TCustomSslWSocket::TriggerSessionClosed(Error);
}
