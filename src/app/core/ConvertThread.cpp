#include "app/core/ConvertThread.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <limits>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "app/core/AppMessages.h"
#include "app/core/ConvertCommand.h"
#include "app/core/ConvertOutput.h"
#include "app/core/Global.h"
#include "platform/AsciiText.h"
#include "platform/Desktop.h"

TConvertProcess* ConvertProcess = nullptr;

void CreateConvertProcess() {
  if (!ConvertProcess) ConvertProcess = new TConvertProcess;
}

void DestroyConvertProcess() {
  delete ConvertProcess;
  ConvertProcess = nullptr;
}

namespace {

// Longest incomplete line kept between two reads; a converter that never
// ends its lines gets them parsed in pieces of this size.
constexpr std::size_t kMaxPendingLine = 64 * 1024;
// How long Stop waits for a killed converter before removing its output.
constexpr std::uint32_t kStopWaitMs = 2000;

// Local date-time in days since 1899-12-30, the way the window's clock reads.
double LocalNowDays() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  double secs = duration<double>(now.time_since_epoch()).count() + static_cast<double>(local.tm_gmtoff);
  return secs / 86400.0 + 25569.0;
}

// A whole text as a 32-bit decimal integer (leading blanks and a sign
// allowed); `fallback` for anything else, overflow included.
int IntOr(const std::string& text, int fallback) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size()) return fallback;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return fallback;
    value = value * 10 + (c - '0');
    if (value > static_cast<std::int64_t>(std::numeric_limits<int>::max()) + 1) return fallback;
  }
  if (negative) value = -value;
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return fallback;
  return static_cast<int>(value);
}

// The (up to) two characters before position `pos`.
std::string TwoBefore(const std::string& s, std::size_t pos) {
  std::size_t from = pos >= 2 ? pos - 2 : 0;
  return s.substr(from, pos - from);
}

// The whole seconds of a "time=" value up to its ".": plain seconds, or
// hours, minutes and seconds separated by colons as current converters
// write them. 0 when a piece is not a number.
std::int64_t TimeValue(const std::string& text) {
  if (text.find(':') == std::string::npos) return IntOr(text, 0);
  std::int64_t value = 0;
  std::size_t start = 0;
  for (;;) {
    std::size_t colon = text.find(':', start);
    std::string piece = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (piece.empty()) return 0;
    bool ok = true;
    for (char c : piece)
      if (c < '0' || c > '9') ok = false;
    if (!ok || piece.size() > 9) return 0;
    value = value * 60 + IntOr(piece, 0);
    if (value > std::numeric_limits<std::int32_t>::max()) return 0;
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return value;
}

// "mm:ss" of a count of seconds; minutes go above 59 as needed.
std::string MinutesSeconds(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  std::int64_t minutes = seconds / 60;
  if (minutes > std::numeric_limits<int>::max()) minutes = std::numeric_limits<int>::max();
  return TwoDigits(static_cast<int>(minutes)) + ":" + TwoDigits(static_cast<int>(seconds % 60));
}

// ffmpeg's closing summary ("video:0kB audio:184kB ... muxing overhead: ...").
bool IsStatisticsLine(const std::string& line) {
  return line.rfind("video:", 0) == 0 && line.find("muxing overhead") != std::string::npos;
}

bool OutputFileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void PostInfo(plat::HWND wnd, TProcessInfo* info) {
  if (!plat::PostMessage(wnd, WM_CONVERTINFO, 0, reinterpret_cast<plat::LPARAM>(info))) delete info;
}

}  // namespace

// ---------------------------------------------------------------- reader

std::shared_ptr<TConvertThread> TConvertThread::Create(TConvertProcess* process) {
  std::shared_ptr<TConvertThread> reader(new TConvertThread(process));
  std::shared_ptr<plat::TChildProcess> child = process->FProcess;
  process->FLiveReaders.fetch_add(1);
  try {
    std::thread([reader, child] { reader->Execute(child); }).detach();
  } catch (...) {
    process->FLiveReaders.fetch_sub(1);
    throw;
  }
  return reader;
}

void TConvertThread::Execute(std::shared_ptr<plat::TChildProcess> child) {
  TConvertProcess* p = FReaderProcess;
  // Runs `fn` on the user-interface thread and brings its error back here.
  auto handOff = [](const std::function<void()>& fn) {
    std::exception_ptr error;
    plat::RunOnMainThread([&] {
      try {
        fn();
      } catch (...) {
        error = std::current_exception();
      }
    });
    if (error) std::rethrow_exception(error);
  };
  // One peek at each pipe; true when nothing was read.
  auto pass = [&]() -> bool {
    if (Terminated()) return true;
    bool nothingRead = true;
    std::int32_t available = 0;
    if (plat::PeekNamedPipe(p->FStdOutRead.load(), available) == 0 && available > 0) {
      p->FAvailable = available;
      handOff([&] { p->ReadStdOut(this); });
      nothingRead = false;
    }
    available = 0;
    if (!Terminated() && plat::PeekNamedPipe(p->FStdErrRead.load(), available) == 0 && available > 0) {
      p->FAvailable = available;
      handOff([&] { p->ReadStdErr(this); });
      nothingRead = false;
    }
    return nothingRead;
  };
  try {
    for (;;) {
      bool nothingRead = pass();
      if (nothingRead && child && child->Wait(100)) {
        while (!pass()) {
        }
        if (!Terminated()) handOff([&] { p->ProcessEnded(this); });
      }
      if (Terminated() && nothingRead) break;
    }
  } catch (...) {
    // A read failure ends the reader; the display simply stops moving.
  }
  child.reset();
  // Last touch of the converter: after this it may be destroyed.
  p->FLiveReaders.fetch_sub(1);
}

// ---------------------------------------------------------------- converter

TConvertProcess::TConvertProcess() : Now(LocalNowDays) {}

TConvertProcess::~TConvertProcess() {
  if (FActive) {
    ForgetReader();
    StopProcess(0);
  }
  ForgetReader();
  ClosePipes();
  // Readers still running hold a pointer to us; they end within one wait
  // step once told to, as long as their hand-offs are served.
  while (FLiveReaders.load() > 0) plat::WaitForInput(10);
}

void TConvertProcess::ForgetReader() {
  if (FReader) FReader->Terminate();
  FReader.reset();
}

bool TConvertProcess::AskOverwrite(const std::string& text) {
  if (OnAskOverwrite) return OnAskOverwrite(text);
  return plat::Desktop().MessageBox(text, "Clipharbor", plat::MB_YESNO | plat::MB_ICONINFORMATION) ==
         plat::IDYES;
}

void TConvertProcess::Start() {
  // Forget any reader; one still running belongs to an earlier conversion.
  ForgetReader();
  // A run that ends before a child starts must not show the last run's result.
  FExitCode = -1;
  FLastErrorLine.clear();
  // Converting a file onto itself would destroy it: refused before the
  // question whether to overwrite.
  if (SameFile(FInputFile, FOutputFile)) {
    FLastErrorLine = OntoItselfText(FOutputFile);
    throw EConvertError(FLastErrorLine);
  }
  bool overwrite = false;
  if (OutputFileExists(FOutputFile)) {
    if (!AskOverwrite(FOutputFile + " has existed,overite it?")) {
      PostEnd(csProgress);
      return;
    }
    if (IsFileLocked(FOutputFile)) {
      PostEnd(csInUse);
      return;
    }
    overwrite = true;
  }
  // The converter writes beside the final name; a leftover of an earlier run
  // that never ended is ours and worth nothing.
  FTempOutput = TemporaryOutputName(FOutputFile);
  std::remove(FTempOutput.c_str());
  CreatePipes();
  FCommandLine = ConverterCommandLine(overwrite, FInputFile, FArguments, FOutputFile);
  FDuration = 0;
  FPendingOut.clear();
  FPendingErr.clear();
  FLastErrorLine.clear();
  FWriteErrorLine.clear();
  FExitCode = -1;
  try {
    plat::TStartupInfo startup;
    startup.hStdInput = FStdInRead.load();
    startup.hStdOutput = FStdOutWrite.load();
    startup.hStdError = FStdErrWrite.load();
    int err = plat::CreateProcess(ConverterArguments(overwrite, FInputFile, FArguments, FTempOutput, FTags),
                                  startup, FProcess);
    if (err != 0) {
      FLastErrorLine = "Error while creating convert process!" + std::to_string(err);
      throw EConvertError(FLastErrorLine);
    }
    // The reader's first hand-off can only run once we are back in a loop,
    // so FReader is set before it is compared with.
    FReader = TConvertThread::Create(this);
  } catch (...) {
    ClosePipes();
    if (FProcess) FProcess->Terminate(0);
    FProcess.reset();
    throw;
  }
}

void TConvertProcess::CreatePipes() {
  struct Step {
    std::atomic<plat::HANDLE>* Read;
    std::atomic<plat::HANDLE>* Write;
    bool ChildReads;  // which end the child gets
    const char* CreateText;
    const char* DupText;
  };
  const Step steps[3] = {
      {&FStdInRead, &FStdInWrite, true, "Error on STDIN pipe creation : ", "Error on STDIN pipe duplication : "},
      {&FStdOutRead, &FStdOutWrite, false, "Error on STDOUT pipe creation : ",
       "Error on STDOUT pipe duplication : "},
      {&FStdErrRead, &FStdErrWrite, false, "Error on STDERR pipe creation : ",
       "Error on STDERR pipe duplication : "},
  };
  ClosePipes();  // none are open unless an earlier conversion was never stopped
  for (const Step& s : steps) {
    plat::HANDLE r = plat::NO_HANDLE, w = plat::NO_HANDLE;
    int err = plat::CreatePipe(r, w);
    if (err != 0) {
      ClosePipes();
      throw EConvertError(s.CreateText + std::to_string(err));
    }
    s.Read->store(r);
    s.Write->store(w);
    plat::HANDLE& childEnd = s.ChildReads ? r : w;
    err = plat::DuplicateHandle(childEnd);
    if (err != 0) {
      ClosePipes();
      throw EConvertError(s.DupText + std::to_string(err));
    }
    (s.ChildReads ? s.Read : s.Write)->store(childEnd);
  }
}

void TConvertProcess::ClosePipes() {
  for (std::atomic<plat::HANDLE>* h :
       {&FStdInRead, &FStdInWrite, &FStdOutRead, &FStdOutWrite, &FStdErrRead, &FStdErrWrite}) {
    plat::HANDLE fd = h->exchange(plat::NO_HANDLE);
    plat::CloseHandle(fd);
  }
}

void TConvertProcess::ReadStdOut(TConvertThread* caller) {
  if (caller != FReader.get()) {
    caller->Terminate();  // a reader we have let go: it must not read a later conversion's pipes
    return;
  }
  ReadPipe(FStdOutRead, FPendingOut, "Error reading STDOUT pipe : ");
}

void TConvertProcess::ReadStdErr(TConvertThread* caller) {
  if (caller != FReader.get()) {
    caller->Terminate();
    return;
  }
  ReadPipe(FStdErrRead, FPendingErr, "Error reading STDERR pipe : ");
}

void TConvertProcess::ReadPipe(std::atomic<plat::HANDLE>& pipe, std::string& pending, const char* errorText) {
  std::int32_t want = FAvailable.load();
  if (want <= 0) return;
  std::vector<char> buffer(static_cast<std::size_t>(want));
  std::size_t got = 0;
  int err = plat::ReadFile(pipe.load(), buffer.data(), buffer.size(), got);
  if (err != 0) {
    ForgetReader();
    throw EConvertError(errorText + std::to_string(err));
  }
  ParseLines(pending, std::string(buffer.data(), got), false);
}

void TConvertProcess::ParseLines(std::string& pending, const std::string& chunk, bool flush) {
  pending += chunk;
  std::size_t end = pending.find_last_of("\r\n");
  std::string complete;
  if (flush || pending.size() > kMaxPendingLine) {
    complete.swap(pending);
  } else if (end != std::string::npos) {
    complete = pending.substr(0, end + 1);
    pending.erase(0, end + 1);
  }
  if (complete.empty()) return;
  // Remember the last line that is not a progress line: when the converter
  // fails, that is its error message.
  std::size_t start = 0;
  while (start < complete.size()) {
    std::size_t stop = complete.find_first_of("\r\n", start);
    if (stop == std::string::npos) stop = complete.size();
    std::string line = ascii::Trim(complete.substr(start, stop - start));
    // ffmpeg closes a failure with a generic summary; the line before it
    // says what went wrong. Its closing statistics say nothing either.
    if (!line.empty() && ascii::Lower(line).find("time=") == std::string::npos && !IsStatisticsLine(line) &&
        (line != "Conversion failed!" || FLastErrorLine.empty()))
      FLastErrorLine = line;
    if (IsWriteErrorLine(WithoutName(WithoutName(line, FInputFile), FTempOutput))) FWriteErrorLine = line;
    start = stop + 1;
  }
  ParseOutput(complete);
}

void TConvertProcess::ParseOutput(const std::string& text) {
  // Every line break (CR LF, CR or LF) ends a line.
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t stop = text.find_first_of("\r\n", start);
    if (stop == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, stop - start));
    start = stop + 1;
    if (text[stop] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }

  int hours = 0, minutes = 0, seconds = 0;
  std::int64_t timeValue = 0;
  for (const std::string& line : lines) {
    if (ascii::Trim(line).empty()) continue;
    std::string lower = ascii::Lower(line);

    std::size_t at = lower.find("duration:");
    if (at != std::string::npos) {
      std::string rest = ascii::Trim(line.substr(at + 9));
      std::size_t colon = rest.find(':');
      if (colon != std::string::npos) {
        hours = IntOr(TwoBefore(rest, colon), 0);
        rest = rest.substr(colon + 1);
      }
      colon = rest.find(':');
      if (colon != std::string::npos) {
        minutes = IntOr(TwoBefore(rest, colon), 0);
        rest = rest.substr(colon + 1);
      }
      std::size_t dot = rest.find('.');
      if (dot != std::string::npos) seconds = IntOr(TwoBefore(rest, dot), 0);
      // Each piece has at most two digits, so 32 bits cannot overflow.
      std::int32_t total = hours * 3600 + minutes * 60 + seconds;
      FDuration = total;
      FStartTime = Now();
    }

    at = lower.find("time=");
    if (at != std::string::npos) {
      std::string rest = line.substr(at + 5);
      std::size_t dot = rest.find('.');
      if (dot != std::string::npos) timeValue = TimeValue(rest.substr(0, dot));
      if (timeValue > 0 && FDuration > 0) {
        std::int64_t percent = timeValue * 100 / FDuration;
        if (percent > 0 && percent <= 100) {
          auto* info = new TProcessInfo;
          // 100 comes only with the end record: the converter may still be
          // finishing the file, and the window closes (and stops it) at 100.
          info->Percent = static_cast<int>(percent < 100 ? percent : 99);
          info->Status = csProgress;
          double elapsed = std::nearbyint((Now() - FStartTime) * 86400.0);
          double estimate = std::nearbyint(elapsed * 100.0 / static_cast<double>(percent));
          info->Elapsed = MinutesSeconds(static_cast<std::int64_t>(elapsed));
          info->Estimated = MinutesSeconds(static_cast<std::int64_t>(estimate));
          PostInfo(FNotifyWnd, info);
        }
      }
    }
  }
}

void TConvertProcess::ProcessEnded(TConvertThread* caller) {
  if (caller != FReader.get()) return;  // stopped meanwhile: no end report
  ForgetReader();
  ParseLines(FPendingOut, std::string(), true);
  ParseLines(FPendingErr, std::string(), true);
  FExitCode = FProcess ? FProcess->ExitCode() : -1;
  ClosePipes();
  FProcess.reset();
  // Debian's ffmpeg exits 0 after a failed write of its output, and a
  // converter may end well having written nothing: neither is a success.
  if (FExitCode != 0) {
    if (FLastErrorLine.empty()) FLastErrorLine = "ffmpeg ended with exit status " + std::to_string(FExitCode);
  } else if (!FWriteErrorLine.empty()) {
    FLastErrorLine = FWriteErrorLine;
  } else if (!IsNonEmptyFile(FTempOutput)) {
    // Its last line is no error here (often the input's duration).
    FLastErrorLine = "ffmpeg wrote nothing into " + FOutputFile;
  } else if (std::rename(FTempOutput.c_str(), FOutputFile.c_str()) != 0) {
    FLastErrorLine = "Cannot rename " + FTempOutput + " to " + FOutputFile + ": " + std::strerror(errno);
  } else {
    PostEnd(csProgress);
    return;
  }
  // A half-converted file is worth nothing.
  std::remove(FTempOutput.c_str());
  PostEnd(csFailed);
}

void TConvertProcess::PostEnd(int status) {
  auto* info = new TProcessInfo;
  info->Percent = 100;
  info->Status = status;
  PostInfo(FNotifyWnd, info);
}

void TConvertProcess::StopProcess(int exitCode) {
  if (!FActive) return;
  FActive = false;
  if (FReader) ForgetReader();
  ClosePipes();
  if (FProcess) {
    FProcess->Terminate(exitCode);
    FExitCode = exitCode;
    // Only once the child is gone can nothing write the file again.
    FProcess->Wait(kStopWaitMs);
    FProcess.reset();
    std::remove(FTempOutput.c_str());
  }
}
