// TCustomSyncWSocket's wait for a flag while the messages keep flowing, and TWSocket.
#include "net/socket/SyncWSocket.h"

TCustomSyncWSocket::TCustomSyncWSocket() = default;

int TCustomSyncWSocket::WaitForFlag(const bool& Flag) {
  FTimeStop = plat::GetTickCount() + static_cast<std::uint32_t>(FTimeout);
  while (!Flag) {
    if (FTimeout > 0) {
      std::int32_t left = static_cast<std::int32_t>(FTimeStop - plat::GetTickCount());
      if (left <= 0) return WSA_WSOCKET_TIMEOUT;
    }
    if (plat::ApplicationTerminated() || FTerminated) return WSA_WSOCKET_TIMEOUT;
    PumpMessages();
    if (Flag) break;
    // Block for input instead of spinning; bounded so the checks above run.
    std::uint32_t slice = 20;
    if (FTimeout > 0) {
      std::int32_t left = static_cast<std::int32_t>(FTimeStop - plat::GetTickCount());
      if (left <= 0) continue;
      if (static_cast<std::uint32_t>(left) < slice) slice = static_cast<std::uint32_t>(left);
    }
    plat::WaitForInput(slice);
  }
  return 0;
}

int TCustomSyncWSocket::RunAndWait(const std::function<void()>& Proc, bool& Flag) {
  Flag = false;
  if (Proc) Proc();
  return WaitForFlag(Flag);
}

TWSocket::TWSocket() = default;
