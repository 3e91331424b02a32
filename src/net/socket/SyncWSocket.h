// TCustomSyncWSocket, which waits for a flag while the messages keep flowing, and TWSocket, the end of the chain.
#pragma once

#include <functional>

#include "net/socket/LineWSocket.h"

// WaitForFlag's time-out / termination result.
constexpr int WSA_WSOCKET_TIMEOUT = 12001;

// ---------------------------------------------------------------------------
class TCustomSyncWSocket : public TCustomLineWSocket {
 public:
  TCustomSyncWSocket();

  // 0 when the flag became true; 12001 on time-out or termination.
  virtual int WaitForFlag(const bool& Flag);
  virtual int RunAndWait(const std::function<void()>& Proc, bool& Flag);

  int GetTimeout() const { return FTimeout; }
  void SetTimeout(int Value) { FTimeout = Value; }

 protected:
  int FTimeout = 0;
  std::uint32_t FTimeStop = 0;
};

// ---------------------------------------------------------------------------
class TWSocket : public TCustomSyncWSocket {
 public:
  TWSocket();
};
