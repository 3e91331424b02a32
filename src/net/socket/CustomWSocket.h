// TCustomWSocket, the event-driven socket at the root of the class chain:
// state machine, hidden window, lookup, connect, listen, close, send queue
// and receive loop. Every event runs on the thread that created the socket,
// from its message loop.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "net/socket/Component.h"
#include "net/socket/QelLogger.h"
#include "net/socket/WSockBuf.h"
#include "net/socket/WSocketLibrary.h"
#include "platform/AsyncDns.h"
#include "platform/MessageLoop.h"
#include "platform/SocketNotify.h"

using plat::TSocket;
using plat::TSockAddrIn;
using plat::INVALID_SOCKET;

// Private messages of the socket's hidden window.
constexpr plat::UINT WM_ASYNCSELECT = plat::WM_USER + 1;          // 1025
constexpr plat::UINT WM_ASYNCGETHOSTBYNAME = plat::WM_USER + 2;   // 1026
constexpr plat::UINT WM_ASYNCGETHOSTBYADDR = plat::WM_USER + 3;   // 1027
constexpr plat::UINT WM_CLOSE_DELAYED = plat::WM_USER + 4;        // 1028
constexpr plat::UINT WM_WSOCKET_RELEASE = plat::WM_USER + 5;      // 1029
constexpr plat::UINT WM_TRIGGER_EXCEPTION = plat::WM_USER + 6;    // 1030
constexpr plat::UINT WM_TRIGGER_DATA_AVAILABLE = plat::WM_USER + 20;  // 1044

enum TSocketState {
  wsInvalidState,
  wsOpened,
  wsBound,
  wsConnecting,
  wsSocksConnected,
  wsConnected,
  wsAccepting,
  wsListening,
  wsClosed
};
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TSocketKeepAliveOnOff { wsKeepAliveOff, wsKeepAliveOnCustom, wsKeepAliveOnSystem };
enum TWSocketOption { wsoNoReceiveLoop, wsoTcpNoDelay, wsoSIO_RCVALL };
using TWSocketOptions = TSet<TWSocketOption>;

class TCustomWSocket;

using TDataAvailable = std::function<void(TObject* Sender, std::uint16_t ErrCode)>;
using TDataSent = std::function<void(TObject* Sender, std::uint16_t ErrCode)>;
using TSendData = std::function<void(TObject* Sender, std::int32_t BytesSent)>;
using TSessionClosed = std::function<void(TObject* Sender, std::uint16_t ErrCode)>;
using TSessionAvailable = std::function<void(TObject* Sender, std::uint16_t ErrCode)>;
using TSessionConnected = std::function<void(TObject* Sender, std::uint16_t ErrCode)>;
using TDnsLookupDone = std::function<void(TObject* Sender, std::uint16_t ErrCode)>;
using TChangeState = std::function<void(TObject* Sender, TSocketState OldState, TSocketState NewState)>;
using TNotifyEvent = std::function<void(TObject* Sender)>;
using TBgExceptionEvent = std::function<void(TObject* Sender, const std::exception& E, bool& CanClose)>;

// ---------------------------------------------------------------------------
class TCustomWSocket : public TComponent {
 public:
  TCustomWSocket();
  ~TCustomWSocket() override;

  // --- operations (H: used by the HTTP client)
  virtual void Connect();                 // (H)
  virtual void Close();                   // (H)
  virtual void PostClose();               // (H) Close from the socket's own window
  virtual void PostRelease();             // destroys the socket from its window
  virtual void Abort();                   // (H)
  virtual void Flush();
  virtual void WaitForClose();
  virtual void Listen();
  virtual TSocket Accept();
  virtual void Dup(TSocket NewHSocket);
  virtual void Shutdown(int How);
  virtual void Pause();                   // (H)
  virtual void Resume();                  // (H)

  virtual int Receive(void* Buffer, int BufferSize);  // (H)
  virtual std::string ReceiveText();
  std::string ReceiveStr() { return ReceiveText(); }
  virtual int ReceiveFrom(void* Buffer, int BufferSize, TSockAddrIn& From, int& FromLen);
  virtual int Send(const void* Data, int Len);          // (H) -1 when refused
  virtual int SendText(const std::string& Str);
  int SendStr(const std::string& Str) { return SendText(Str); }
  virtual int SendTo(const TSockAddrIn& Dest, int DestLen, const void* Data, int Len);
  virtual void QueueData(const void* Buffer, int Len);

  virtual void DnsLookup(const std::string& HostName);  // (H)
  virtual void ReverseDnsLookup(const std::string& HostAddr);
  virtual void ReverseDnsLookupSync(const std::string& HostAddr);
  virtual void CancelDnsLookup();                       // (H)

  virtual std::string GetPeerAddr();
  virtual std::string GetPeerPort();
  virtual int GetPeerName(TSockAddrIn& Name, int NameLen);
  virtual std::string GetLocalAddrText();
  virtual std::string GetLocalPortText();
  virtual int GetSockName(TSockAddrIn& SockAddr, int& SockAddrLen);

  virtual void PumpMessages();
  // Drains this thread's own queue; a quit met there sets Terminated().
  bool ProcessOwnQueue();                 // (H)
  virtual void AttachToThread();
  virtual void DetachFromThread();

  // --- properties
  TQelLogger* GetQelLogger() const { return FQelLogger; }
  virtual void SetQelLogger(TQelLogger* Value);
  std::string GetAddr() const { return FAddrStr; }
  void SetAddr(const std::string& Value);
  std::string GetPort() const { return FPortStr; }
  virtual void SetPort(const std::string& Value);
  std::string GetProto() const { return FProtoStr; }
  virtual void SetProto(const std::string& Value);
  std::string GetLocalAddr() const { return FLocalAddr; }
  void SetLocalAddr(const std::string& Value);
  std::string GetLocalPort() const { return FLocalPortStr; }
  void SetLocalPort(const std::string& Value);
  std::string GetDnsResult() const { return FDnsResult; }
  const std::vector<std::string>& GetDnsResultList() const { return FDnsResultList; }
  TSocketState GetState() const { return FState; }
  std::int32_t GetReadCount() const { return FReadCount; }
  virtual int GetRcvdCount();
  int GetLastError() const { return FLastError; }
  void SetLastError(int Value) { FLastError = Value; }
  bool GetMultiThreaded() const { return FMultiThreaded; }
  void SetMultiThreaded(bool Value) { FMultiThreaded = Value; }
  bool GetMultiCast() const { return FMultiCast; }
  void SetMultiCast(bool Value) { FMultiCast = Value; }
  std::string GetMultiCastAddrStr() const { return FMultiCastAddrStr; }
  void SetMultiCastAddrStr(const std::string& Value) { FMultiCastAddrStr = Value; }
  int GetMultiCastIpTTL() const { return FMultiCastIpTTL; }
  void SetMultiCastIpTTL(int Value) { FMultiCastIpTTL = Value; }
  bool GetReuseAddr() const { return FReuseAddr; }
  void SetReuseAddr(bool Value) { FReuseAddr = Value; }
  TWSocketOptions GetComponentOptions() const { return FComponentOptions; }
  void SetComponentOptions(TWSocketOptions Value) { FComponentOptions = Value; }
  int GetListenBacklog() const { return FListenBacklog; }
  void SetListenBacklog(int Value) { FListenBacklog = Value; }
  std::uint8_t GetReqVerLow() const;
  void SetReqVerLow(std::uint8_t Value);
  std::uint8_t GetReqVerHigh() const;
  void SetReqVerHigh(std::uint8_t Value);
  int GetFlushTimeout() const { return FFlushTimeout; }
  void SetFlushTimeout(int Value) { FFlushTimeout = Value; }
  TSocketSendFlags GetSendFlags();
  void SetSendFlags(TSocketSendFlags Value);
  TSocketLingerOnOff GetLingerOnOff() const { return FLingerOnOff; }
  void SetLingerOnOff(TSocketLingerOnOff Value) { FLingerOnOff = Value; }
  int GetLingerTimeout() const { return FLingerTimeout; }
  void SetLingerTimeout(int Value) { FLingerTimeout = Value; }
  TSocketKeepAliveOnOff GetKeepAliveOnOff() const { return FKeepAliveOnOff; }
  void SetKeepAliveOnOff(TSocketKeepAliveOnOff Value) { FKeepAliveOnOff = Value; }
  int GetKeepAliveTime() const { return FKeepAliveTime; }
  void SetKeepAliveTime(int Value) { FKeepAliveTime = Value; }
  int GetKeepAliveInterval() const { return FKeepAliveInterval; }
  void SetKeepAliveInterval(int Value) { FKeepAliveInterval = Value; }
  int GetBufSize() const { return FBufSize; }

  // Handles and inspection.
  TSocket GetHSocket() const { return FHSocket; }
  plat::HWND GetWindowHandle() const { return FWindowHandle; }
  bool AllSent() const { return FAllSent; }
  bool Paused() const { return FPaused; }
  bool Terminated() const { return FTerminated; }
  std::int64_t BufferedByteCount() const { return FBufferedByteCount; }
  int SendQueueBlockCount() const;
  std::vector<int> SendQueueBlockSizes() const;  // unread bytes per block
  int SocketSndBufSize() const { return FSocketSndBufSize; }
  int SocketRcvBufSize() const { return FSocketRcvBufSize; }

  // Raises the test exception message (1030) through the window.
  void PostTestException();

  // --- events (an empty one is skipped)
  TDataAvailable OnDataAvailable;
  TDataSent OnDataSent;
  TSendData OnSendData;
  TSessionClosed OnSessionClosed;
  TSessionAvailable OnSessionAvailable;
  TSessionConnected OnSessionConnected;
  TChangeState OnChangeState;
  TDnsLookupDone OnDnsLookupDone;
  TNotifyEvent OnError;
  TBgExceptionEvent OnBgException;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  bool AssignRemoteText(const char* Name, const std::string& Value, std::string& Text, bool& Assigned,
                        bool& Resolved);

  virtual void DebugLog(TLogOption LogOption, const std::string& Msg);
  virtual bool CheckLogOption(TLogOption LogOption);
  virtual plat::LRESULT WndProc(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam);
  virtual void CreateHiddenWindow();
  virtual void DestroyHiddenWindow();
  virtual void TryToSend();
  virtual void ResetDefaults();
  virtual void DoClose(bool HalfClose, std::uint16_t Error);
  virtual void DoAbort(std::uint16_t Error);
  virtual void BindLocal();
  virtual int RealSend(const void* Data, int Len);
  // A raise that may return: with OnError assigned, the refusal becomes an
  // OnError event and the call comes back instead of throwing
  // ESocketException. Every call site therefore writes "raise; return;" so
  // that the refused operation goes no further.
  virtual void RaiseSocketException(const std::string& Msg);
  virtual void RaiseSocketExceptionFmt(const char* Fmt, ...);
  virtual void HandleBgException(const std::exception& E);
  virtual bool TriggerDataAvailable(std::uint16_t Error);
  virtual void TriggerSessionAvailable(std::uint16_t Error);
  virtual void SessionConnectedHook(std::uint16_t Error);
  virtual void TriggerSessionConnected(std::uint16_t Error);
  virtual void TriggerSessionClosed(std::uint16_t Error);
  virtual void TriggerDataSent(std::uint16_t Error);
  virtual void TriggerChangeState(TSocketState OldState, TSocketState NewState);
  virtual void TriggerDnsLookupDone(std::uint16_t Error);
  virtual void TriggerError();
  virtual int DoRecv(void* Buffer, int BufferSize, int Flags);
  virtual int DoRecvFrom(void* Buffer, int BufferSize, TSockAddrIn& From, int& FromLen);
  // Bytes that a receive would find now, for the receive loop and
  // WaitForClose; a layer that holds received bytes itself counts them too.
  virtual int PendingCount(unsigned long& Count);
  virtual void HandleConnectEvent(std::uint16_t Error);
  virtual void HandleReadEvent(std::uint16_t Error);
  virtual void HandleWriteEvent(std::uint16_t Error);
  virtual void HandleAcceptEvent(std::uint16_t Error);
  virtual void HandleCloseEvent(std::uint16_t Error);

  // Which connection the handle stands for: descriptor numbers are reused
  // at once, so a handler may close the connection and open another under
  // the same number while an event of the old one is still being handled.
  struct TConnectionId {
    TSocket Handle;
    std::uint32_t Serial;
  };
  TConnectionId CurrentConnection() const;
  bool IsCurrent(const TConnectionId& Id) const;

  void SetState(TSocketState NewState);
  // Raises the last error as RaiseSocketException does: it may return.
  void ReportSocketError(const std::string& Operation);
  void DiscardSendQueue();
  // The steps a connect and a listen share. They map a protocol to a socket
  // type differently and name their failures differently.
  enum class TOpenPurpose { Connect, Listen };
  // Resolves what is not resolved yet of Proto, Port, (for a connect)
  // LocalPort and Addr into FProto, FType, FLocalPortNum and Fsin; raises
  // and returns false when a text does not resolve.
  bool ResolveEndpoint(TOpenPurpose Purpose);
  // Opens the system socket of FType and FProto in Family; reports the
  // failure under Operation and returns false.
  bool OpenSocket(int Family, const std::string& Operation);
  // Asks the window for the notifications in Mask; false when refused.
  bool SelectEvents(long Mask, const std::string& Operation);
  // Connect's own steps: its refusals (true when refused), the options of
  // either socket type (false when one failed) and the connect call.
  bool RefuseConnect();
  bool SetDatagramOptions();
  bool SetStreamOptions();
  void StartConnect();
  // Listen's own steps: its refusals (true when refused) and the start of
  // a datagram or raw socket (false when it failed).
  bool RefuseListen();
  bool ListenForDatagrams();
  // Reads the system's send and receive buffer sizes; false when refused.
  bool ReadBufferSizes();
  void SetLingerOption();
  void SetKeepAliveOption();
  void ReceiveLoop(TWSocketOptions Options, std::uint16_t Error);
  void WMAsyncSelect(plat::WPARAM WParam, plat::LPARAM LParam);
  void WMAsyncGetHostByName(plat::WPARAM WParam, plat::LPARAM LParam);
  void WMAsyncGetHostByAddr(plat::WPARAM WParam, plat::LPARAM LParam);
  void FillDnsResultsByAddr(const plat::THostEntry& Entry);
  // Steps shared by the lookups: refuse or cancel and clear, keep the
  // handle of a started one, take its answer when it is ours.
  struct TLookupAnswer {
    std::uint16_t Error = 0;
    bool Have = false;
    plat::THostEntry Entry;
  };
  bool BeginLookup(bool Valid, const char* Refusal);
  void TrackLookup(const std::string& Name, plat::TAsyncHandle Handle);
  bool TakeLookupAnswer(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam, TLookupAnswer& Answer);

  // --- per-socket state
  TSocket FHSocket = INVALID_SOCKET;
  plat::HWND FWindowHandle = 0;
  bool FWindowThreadSet = false;
  TSockAddrIn Fsin{};
  int FAddrFormat = plat::WS_AF_INET;
  int FType = plat::WS_SOCK_STREAM;
  int FProto = 6;
  std::string FAddrStr;
  bool FAddrAssigned = false;
  bool FAddrResolved = false;
  std::string FPortStr;
  bool FPortAssigned = false;
  bool FPortResolved = false;
  std::string FProtoStr = "tcp";
  bool FProtoAssigned = true;
  bool FProtoResolved = false;
  std::string FLocalPortStr = "0";
  bool FLocalPortResolved = false;
  std::uint16_t FLocalPortNum = 0;
  std::uint16_t FPortNum = 0;
  std::string FLocalAddr = "0.0.0.0";
  int FSocketSndBufSize = 0;
  int FSocketRcvBufSize = 0;
  long FSelectEvent = 0;
  long FSelectMessage = WM_ASYNCSELECT;
  unsigned FHandlingEvent = 0;
  bool FPaused = false;
  bool FCloseInvoked = false;
  bool FAllSent = true;
  bool FDestroying = false;
  plat::TAsyncHandle FDnsLookupHandle = 0;
  bool FDnsLookupCheckMsg = false;
  plat::WPARAM FDnsLookupTempWParam = 0;
  plat::LPARAM FDnsLookupTempLParam = 0;
  plat::UINT FDnsLookupTempMsg = 0;
  std::list<TBuffer*> FBufList;
  int FBufSize = 1460;
  std::int64_t FBufferedByteCount = 0;
  bool FTerminated = false;

  TQelLogger* FQelLogger = nullptr;
  std::string FDnsResult;
  std::vector<std::string> FDnsResultList;
  TSocketState FState = wsClosed;
  std::int32_t FReadCount = 0;
  // The last receive from the system in this pass of the receive loop came
  // back short: nothing was left pending, so there is no need to ask.
  bool FRecvDrained = false;
  int FLastError = 0;
  bool FMultiThreaded = false;
  bool FMultiCast = false;
  std::string FMultiCastAddrStr;
  int FMultiCastIpTTL = 1;
  bool FReuseAddr = false;
  TWSocketOptions FComponentOptions;
  int FListenBacklog = 5;
  int FFlushTimeout = 60;
  int FSendFlags = 0;
  TSocketLingerOnOff FLingerOnOff = wsLingerOn;
  int FLingerTimeout = 0;
  TSocketKeepAliveOnOff FKeepAliveOnOff = wsKeepAliveOnSystem;
  int FKeepAliveTime = 30000;
  int FKeepAliveInterval = 1000;
};
