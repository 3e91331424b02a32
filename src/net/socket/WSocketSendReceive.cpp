// TCustomWSocket's data path: the send queue and TryToSend, Receive, the receive loop, pause and resume.
#include <mutex>

#include "net/socket/CustomWSocket.h"
#include "net/socket/WSocketInternal.h"

using namespace wsocket_internal;

namespace {

bool IsConnectionLevelError(int code) {
  return code == plat::WSAEINVAL || code == plat::WSAENOTSOCK || code == plat::WSAECONNABORTED ||
         code == plat::WSAECONNRESET || code == plat::WSAENOTCONN;
}

// Bumped whenever a queue is discarded, so TryToSend can tell that a handler
// freed the block it was working on.
unsigned g_QueueGeneration = 0;

}  // namespace

// --- sending

void TCustomWSocket::QueueData(const void* Buffer, int Len) {
  if (Len <= 0 || !Buffer) return;
  std::lock_guard<std::recursive_mutex> g(SendQueueLock());
  if (FBufList.empty()) FBufList.push_back(new TBuffer(FBufSize));
  FBufferedByteCount += Len;
  const char* p = static_cast<const char*>(Buffer);
  int n = FBufList.back()->Write(p, Len);
  while (n < Len) {
    TBuffer* b = new TBuffer(FBufSize);
    FBufList.push_back(b);
    n += b->Write(p + n, Len - n);
  }
  FAllSent = false;
}

void TCustomWSocket::DiscardSendQueue() {
  std::lock_guard<std::recursive_mutex> g(SendQueueLock());
  for (TBuffer* b : FBufList) delete b;
  FBufList.clear();
  FBufferedByteCount = 0;
  ++g_QueueGeneration;
}

int TCustomWSocket::RealSend(const void* Data, int Len) {
  int n;
  if (FType == plat::WS_SOCK_DGRAM)
    n = plat::WsSendTo(FHSocket, Data, Len, FSendFlags, Fsin);
  else
    n = plat::WsSend(FHSocket, Data, Len, FSendFlags);
  if (n > 0 && OnSendData) OnSendData(this, n);
  return n;
}

void TCustomWSocket::TryToSend() {
  std::unique_lock<std::recursive_mutex> lock(SendQueueLock());
  if (FHSocket == INVALID_SOCKET || FBufList.empty()) {
    FAllSent = true;
    return;
  }
  for (;;) {
    if (FBufList.empty() || FHSocket == INVALID_SOCKET) {
      FAllSent = true;
      break;
    }
    TBuffer* b = FBufList.front();
    int len = 0;
    const char* p = b->Peek(len);
    if (len > 0) {
      int n;
      if (FType == plat::WS_SOCK_DGRAM)
        n = plat::WsSendTo(FHSocket, p, len, FSendFlags, Fsin);
      else
        n = plat::WsSend(FHSocket, p, len, FSendFlags);
      if (n == 0) break;
      if (n < 0) {
        int code = plat::WSAGetLastError();
        if (IsConnectionLevelError(code)) {
          if (CheckLogOption(loWsockErr)) DebugLog(loWsockErr, Name + " Winsock.Send failed " + std::to_string(code));
          FCloseInvoked = true;
          Close();
          TriggerSessionClosed(static_cast<std::uint16_t>(code));
          break;
        }
        if (code == plat::WSAEWOULDBLOCK) break;
        lock.unlock();
        ReportSocketError("TryToSend failed");
        return;
      }
      FBufferedByteCount -= n;
      if (FBufferedByteCount < 0) FBufferedByteCount = 0;
      // Take the bytes out before OnSendData: its handler may send more or
      // drop the queue.
      b->Remove(n);
      unsigned gen = g_QueueGeneration;
      if (OnSendData) OnSendData(this, n);
      if (gen != g_QueueGeneration) break;
      if (n < len) break;
    } else if (FBufList.size() > 1) {
      delete b;
      FBufList.pop_front();
    } else {
      FAllSent = true;
      break;
    }
  }
}

int TCustomWSocket::Send(const void* Data, int Len) {
  if (FState != wsConnected && FState != wsSocksConnected) {
    plat::WSASetLastError(plat::WSAENOTCONN);
    ReportSocketError("Send");
    return -1;
  }
  FAllSent = false;
  if (Len <= 0 || !Data)
    Len = 0;
  else
    QueueData(Data, Len);
  TryToSend();
  if (FAllSent)
    plat::PostMessage(FWindowHandle, WM_ASYNCSELECT, static_cast<plat::WPARAM>(FHSocket),
                      plat::WSAMakeSelectReplyFor(FHSocket, plat::FD_WRITE, 0));
  return Len;
}

int TCustomWSocket::SendText(const std::string& Str) {
  if (Str.empty()) return 0;
  return Send(Str.data(), static_cast<int>(Str.size()));
}

int TCustomWSocket::SendTo(const TSockAddrIn& Dest, int DestLen, const void* Data, int Len) {
  (void)DestLen;  // the record is always the 16-byte IPv4 one
  TSockAddrIn to = Dest;
  int n = plat::WsSendTo(FHSocket, Data, Len, FSendFlags, to);
  if (n > 0 && OnSendData) OnSendData(this, n);
  if (FAllSent && FType == plat::WS_SOCK_DGRAM)
    plat::PostMessage(FWindowHandle, WM_ASYNCSELECT, static_cast<plat::WPARAM>(FHSocket),
                      plat::WSAMakeSelectReplyFor(FHSocket, plat::FD_WRITE, 0));
  return n;
}

void TCustomWSocket::Flush() {
  while (FHSocket != INVALID_SOCKET && !FAllSent) {
    TryToSend();
    if (FHSocket == INVALID_SOCKET || FAllSent) break;
    plat::WaitForInput(20);
    if (FMultiThreaded && plat::ProcessOwnQueue()) FTerminated = true;
  }
}

// --- receiving

int TCustomWSocket::DoRecv(void* Buffer, int BufferSize, int Flags) {
  if (!Buffer && BufferSize > 0) {
    FLastError = plat::WSAEFAULT;
    return -1;
  }
  int n = plat::WsRecv(FHSocket, Buffer, BufferSize < 0 ? 0 : BufferSize, Flags);
  if (n < 0)
    FLastError = plat::WSAGetLastError();
  else
    FReadCount = WrapAdd(FReadCount, n);  // 32 bits, wraps on long transfers
  if (BufferSize > 0) FRecvDrained = n >= 0 && n < BufferSize;
  return n;
}

int TCustomWSocket::Receive(void* Buffer, int BufferSize) { return DoRecv(Buffer, BufferSize, 0); }

int TCustomWSocket::DoRecvFrom(void* Buffer, int BufferSize, TSockAddrIn& From, int& FromLen) {
  if (!Buffer && BufferSize > 0) {
    FLastError = plat::WSAEFAULT;
    return -1;
  }
  int n = plat::WsRecvFrom(FHSocket, Buffer, BufferSize < 0 ? 0 : BufferSize, 0, &From, &FromLen);
  if (n < 0)
    FLastError = plat::WSAGetLastError();
  else
    FReadCount = WrapAdd(FReadCount, n);  // 32 bits, wraps on long transfers
  return n;
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int BufferSize, TSockAddrIn& From, int& FromLen) {
  return DoRecvFrom(Buffer, BufferSize, From, FromLen);
}

int TCustomWSocket::GetRcvdCount() {
  unsigned long n = 0;
  if (plat::WsIoctlFionread(FHSocket, &n) == plat::SOCKET_ERROR) {
    ReportSocketError("ioctlSocket");
    return -1;
  }
  return static_cast<int>(n);
}

int TCustomWSocket::PendingCount(unsigned long& Count) { return plat::WsIoctlFionread(FHSocket, &Count); }

std::string TCustomWSocket::ReceiveText() {
  int n = GetRcvdCount();
  if (n < 0) return std::string();
  if (n == 0) n = 255;
  std::string s(static_cast<std::size_t>(n), '\0');
  int r = Receive(s.data(), n);
  if (r <= 0) return std::string();
  s.resize(static_cast<std::size_t>(r));
  return s;
}

void TCustomWSocket::Pause() {
  FPaused = true;
  if (FHSocket != INVALID_SOCKET) plat::WSAAsyncSelect(FHSocket, FWindowHandle, 0, 0);
}

void TCustomWSocket::Resume() {
  FPaused = false;
  if (FHSocket == INVALID_SOCKET) return;
  plat::WSAAsyncSelect(FHSocket, FWindowHandle, static_cast<plat::UINT>(FSelectMessage), FSelectEvent);
  // A write notification that arrived while paused was dropped: restart
  // the queue so it does not stall.
  if (!FAllSent)
    plat::PostMessage(FWindowHandle, WM_ASYNCSELECT, static_cast<plat::WPARAM>(FHSocket),
                      plat::WSAMakeSelectReplyFor(FHSocket, plat::FD_WRITE, 0));
}

void TCustomWSocket::WaitForClose() {
  while (FHSocket != INVALID_SOCKET && FState != wsClosed) {
    PumpMessages();
    if (FHSocket == INVALID_SOCKET) break;
    unsigned long pending = 0;
    if (PendingCount(pending) == plat::SOCKET_ERROR) break;
    if (pending > 0) TriggerDataAvailable(0);
    if (FHSocket == INVALID_SOCKET) break;
    FLastError = 0;
    char probe;
    int r = DoRecv(&probe, 0, 0);
    if (r < 1 && FLastError != plat::WSAEWOULDBLOCK) break;
    plat::WaitForInput(20);
    if (FMultiThreaded && plat::ProcessOwnQueue()) FTerminated = true;
  }
}

void TCustomWSocket::ReceiveLoop(TWSocketOptions Options, std::uint16_t Error) {
  const TConnectionId conn = CurrentConnection();
  try {
    for (;;) {
      FLastError = 0;
      FRecvDrained = false;
      if (!TriggerDataAvailable(Error)) {
        char scratch[1024];
        int n = DoRecv(scratch, sizeof scratch, 0);
        if (n < 0 && FLastError == plat::WSAEWOULDBLOCK) {
          FLastError = 0;
          break;
        }
      }
      if (Options.Contains(wsoNoReceiveLoop)) break;
      if (FLastError != 0) {
        if (FLastError == -1) FLastError = 0;
        break;
      }
      if (!IsCurrent(conn)) break;  // closed (and perhaps replaced) by the handler
      // Bytes that arrive after a short receive re-arm the read notification.
      if (FRecvDrained) break;
      unsigned long pending = 0;
      if (PendingCount(pending) == plat::SOCKET_ERROR) {
        FLastError = plat::WSAGetLastError();
        break;
      }
      if (pending == 0) break;
    }
  } catch (...) {
  }
}
