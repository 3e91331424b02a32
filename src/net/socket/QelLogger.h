// Diagnostic logger shared by sockets and the HTTP client: an event, the
// debugger output (standard error here) and a log file.
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "net/socket/Component.h"

enum TLogOption {
  loDestEvent,
  loDestFile,
  loDestOutDebug,
  loAddStamp,
  loWsockErr,
  loWsockInfo,
  loWsockDump,
  loSslErr,
  loSslInfo,
  loSslDump,
  loProtSpecErr,
  loProtSpecInfo,
  loProtSpecDump
};
using TLogOptions = TSet<TLogOption>;

enum TLogFileOption { lfoAppend, lfoOverwrite };

class ELoggerException : public Exception {
 public:
  using Exception::Exception;
  std::string ClassName() const override { return "ELoggerException"; }
};

using TQelLogEvent = std::function<void(TObject* Sender, TLogOption LogOption, const std::string& Msg)>;

class TQelLogger : public TComponent {
 public:
  TQelLogger();
  ~TQelLogger() override;

  void DoLog(TObject* Sender, TLogOption LogOption, const std::string& Msg);
  void OpenLogFile();
  void WriteToLogFile(const std::string& S);
  void CloseLogFile();

  std::string GetLogFileName() const;
  void SetLogFileName(const std::string& Value);
  TLogFileOption GetLogFileOption() const;
  void SetLogFileOption(TLogFileOption Value);
  TLogOptions GetLogOptions() const;
  void SetLogOptions(TLogOptions Value);
  void SetOnQelLogEvent(TQelLogEvent Value);

  // "hh:nn:ss:zzz" of the current local time.
  static std::string TimeStamp();

 private:
  mutable std::recursive_mutex FLock;
  bool FDestroying = false;
  std::FILE* FLogFile = nullptr;
  std::string FLogFileName;
  TLogFileOption FLogFileOption = lfoAppend;
  TLogOptions FLogOptions;
  TQelLogEvent FOnQelLogEvent;
};
