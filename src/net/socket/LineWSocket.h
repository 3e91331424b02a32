// TCustomLineWSocket: delivers received data line by line, with optional echo and line editing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "net/socket/SslWSocket.h"

using TLineLimitEvent = std::function<void(TObject* Sender, std::int32_t RcvdLength, bool& ClearData)>;

// ---------------------------------------------------------------------------
class TCustomLineWSocket : public TCustomSslWSocket {
 public:
  TCustomLineWSocket();
  ~TCustomLineWSocket() override;

  int GetRcvdCount() override;
  virtual int SendLine(const std::string& Str);

  bool GetLineMode() const { return FLineMode; }
  virtual void SetLineMode(bool Value);
  std::string GetLineEnd() const { return FLineEnd; }
  void SetLineEnd(const std::string& Value) { FLineEnd = Value; }
  int GetLineLimit() const { return FLineLimit; }
  void SetLineLimit(int Value) { FLineLimit = Value; }
  bool GetLineEcho() const { return FLineEcho; }
  void SetLineEcho(bool Value) { FLineEcho = Value; }
  bool GetLineEdit() const { return FLineEdit; }
  void SetLineEdit(bool Value) { FLineEdit = Value; }
  // Bytes held in the line buffer and the pending line's length.
  int LineBufferCount() const { return FRcvdCnt; }
  int LineBufferCapacity() const { return FRcvBufSize; }
  int LineLength() const { return FLineLength; }

  TLineLimitEvent OnLineLimitExceeded;

 protected:
  plat::LRESULT WndProc(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam) override;
  bool TriggerDataAvailable(std::uint16_t Error) override;
  void TriggerSessionClosed(std::uint16_t Error) override;
  int DoRecv(void* Buffer, int BufferSize, int Flags) override;
  virtual void TriggerLineLimitExceeded(int Cnt, bool& ClearData);
  virtual void ApplyLineEditing(int& NewCount);

  void WMTriggerDataAvailable();
  void GrowRcvBuf(int Needed);
  void FreeRcvBuf();

  char* FRcvdPtr = nullptr;  // receive buffer
  int FRcvBufSize = 0;
  int FRcvdCnt = 0;
  int FLineLength = 0;
  int FLineSearched = 0;  // leading held bytes known to hold no line end
  bool FLineFound = false;
  bool FLineClearData = false;
  bool FLineMode = false;
  std::string FLineEnd = "\r\n";
  int FLineLimit = 65536;
  bool FLineEcho = false;
  bool FLineEdit = false;
};
