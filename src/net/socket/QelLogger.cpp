#include "net/socket/QelLogger.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

TQelLogger::TQelLogger() = default;

TQelLogger::~TQelLogger() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  FDestroying = true;
  CloseLogFile();
}

std::string TQelLogger::TimeStamp() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::tm tmv{};
  time_t secs = tv.tv_sec;
  localtime_r(&secs, &tmv);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d:%03d", tmv.tm_hour, tmv.tm_min, tmv.tm_sec,
                static_cast<int>(tv.tv_usec / 1000));
  return buf;
}

void TQelLogger::DoLog(TObject* Sender, TLogOption LogOption, const std::string& Msg) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  if (FDestroying) return;
  const bool stamp = FLogOptions.Contains(loAddStamp);
  auto text = [&] { return stamp ? TimeStamp() + " " + Msg : Msg; };
  if (FLogOptions.Contains(loDestEvent) && FOnQelLogEvent) FOnQelLogEvent(Sender, LogOption, text());
  if (FLogOptions.Contains(loDestOutDebug)) {
    std::string s = text() + "\n";
    std::fwrite(s.data(), 1, s.size(), stderr);
    std::fflush(stderr);
  }
  if (FLogOptions.Contains(loDestFile)) WriteToLogFile(text() + "\r\n");
}

void TQelLogger::OpenLogFile() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  CloseLogFile();
  if (FLogFileName.empty()) throw ELoggerException("File name empty");
  int fd = ::open(FLogFileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0)
    throw ELoggerException("Cannot open log file \"" + FLogFileName + "\": " + std::strerror(errno));
  // Other writers are kept out, as with a share-deny-write open.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int e = errno;
    ::close(fd);
    throw ELoggerException("Cannot open log file \"" + FLogFileName + "\": " + std::strerror(e));
  }
  if (FLogFileOption == lfoOverwrite) {
    if (::ftruncate(fd, 0) != 0) {
      int e = errno;
      ::close(fd);
      throw ELoggerException("Cannot truncate log file: " + std::string(std::strerror(e)));
    }
  }
  ::lseek(fd, 0, SEEK_END);
  FLogFile = ::fdopen(fd, "r+");
  if (!FLogFile) {
    ::close(fd);
    throw ELoggerException("Cannot open log file \"" + FLogFileName + "\"");
  }
  std::fseek(FLogFile, 0, SEEK_END);
}

void TQelLogger::WriteToLogFile(const std::string& S) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  if (!FLogFile) OpenLogFile();
  std::fwrite(S.data(), 1, S.size(), FLogFile);
  std::fflush(FLogFile);
}

void TQelLogger::CloseLogFile() {
  std::lock_guard<std::recursive_mutex> g(FLock);
  if (FLogFile) {
    std::fclose(FLogFile);  // also drops the lock
    FLogFile = nullptr;
  }
}

std::string TQelLogger::GetLogFileName() const {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return FLogFileName;
}

void TQelLogger::SetLogFileName(const std::string& Value) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  if (Value == FLogFileName) return;
  FLogFileName = Value;
  CloseLogFile();
}

TLogFileOption TQelLogger::GetLogFileOption() const {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return FLogFileOption;
}

void TQelLogger::SetLogFileOption(TLogFileOption Value) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  FLogFileOption = Value;
}

TLogOptions TQelLogger::GetLogOptions() const {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return FLogOptions;
}

void TQelLogger::SetLogOptions(TLogOptions Value) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  FLogOptions = Value;
}

void TQelLogger::SetOnQelLogEvent(TQelLogEvent Value) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  FOnQelLogEvent = std::move(Value);
}
