// The converter runner: runs "ffmpeg" as a hidden child with pipes for its
// standard handles, reads its output through one reader thread per
// conversion, and reports progress to the download window as TProcessInfo
// records posted with WM_CONVERTINFO (the receiver frees each record).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/core/ConvertTags.h"
#include "platform/MessageLoop.h"
#include "platform/Process.h"

// TProcessInfo::Status values of the records the converter posts.
enum TConvertStatus : int {
  csProgress = 0,  // a progress report, or the end of a successful conversion (Percent 100)
  csInUse = 2,     // the output file exists and is in use; nothing ran (Percent 100)
  csFailed = 3,    // the conversion failed: a non-zero exit status, a write error in the
                   // converter's output or no output written (Percent 100);
                   // TConvertProcess::LastErrorLine() says why, and nothing stands
                   // under the output name
};

class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TConvertProcess;

// The reader thread of one conversion. Created running; frees itself when it
// ends (the converter only tells it to terminate and forgets it).
class TConvertThread : public std::enable_shared_from_this<TConvertThread> {
 public:
  static std::shared_ptr<TConvertThread> Create(TConvertProcess* process);
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }

 private:
  explicit TConvertThread(TConvertProcess* process) : FReaderProcess(process) {}
  void Execute(std::shared_ptr<plat::TChildProcess> child);

  TConvertProcess* FReaderProcess;
  std::atomic<bool> FTerminated{false};
};

class TConvertProcess {
 public:
  TConvertProcess();
  ~TConvertProcess();
  TConvertProcess(const TConvertProcess&) = delete;
  TConvertProcess& operator=(const TConvertProcess&) = delete;

  // Set by the download window before Start.
  bool FActive = false;
  std::string FInputFile;
  std::string FOutputFile;
  std::string FArguments;     // format preset, ends with a blank
  TConvertTags FTags;         // what the output file is tagged with
  plat::HWND FNotifyWnd = 0;  // receives WM_CONVERTINFO

  // Asked when the output file exists: the text of the Yes/No question
  // (information icon, caption "Clipharbor"); true for Yes. When unset the
  // desktop's message box asks.
  std::function<bool(const std::string& text)> OnAskOverwrite;
  // The local date-time in days; replaceable so that tests control elapsed
  // and estimated times.
  std::function<double()> Now;

  // Starts the conversion into TemporaryOutputName(FOutputFile), which is
  // renamed to FOutputFile when the converter succeeded and removed when it
  // failed or was stopped. Throws EConvertError with the fixed texts
  // ("Error while creating convert process!" + error number, the pipe texts).
  void Start();
  // Ends a running conversion, terminating the child with `exitCode` and
  // removing what it wrote. No-op when not active.
  void StopProcess(int exitCode);
  // Posts an end record (Percent 100, empty texts) with the given status.
  void PostEnd(int status);
  // Reads "duration:" and "time=" lines and posts progress reports.
  void ParseOutput(const std::string& text);

  // The command line of the last Start.
  const std::string& CommandLine() const { return FCommandLine; }
  // After a csFailed end: the converter's last error line (its last output
  // line that is not a progress line; its last write error when it reported
  // one), a text naming the exit status when it said nothing, or one naming
  // the output when it ended well without writing any.
  const std::string& LastErrorLine() const { return FLastErrorLine; }
  // Exit status of the last conversion's child, -1 while running or when
  // none ran.
  int ExitCode() const { return FExitCode; }
  // True while a child of ours is running (started, neither ended nor stopped).
  bool Running() const { return FProcess != nullptr; }
  std::int64_t Duration() const { return FDuration; }
  // Reader threads of this object that have not ended yet.
  int LiveReaders() const { return FLiveReaders.load(); }

 private:
  friend class TConvertThread;

  // Run on the user-interface thread at the request of `caller`; a reader
  // that has been let go meanwhile is ignored.
  void ReadStdOut(TConvertThread* caller);
  void ReadStdErr(TConvertThread* caller);
  void ProcessEnded(TConvertThread* caller);

  void CreatePipes();
  void ClosePipes();
  void ReadPipe(std::atomic<plat::HANDLE>& pipe, std::string& pending,
                const char* errorText);
  void ParseLines(std::string& pending, const std::string& chunk, bool flush);
  bool AskOverwrite(const std::string& text);
  void ForgetReader();

  std::atomic<plat::HANDLE> FStdInRead{plat::NO_HANDLE};
  std::atomic<plat::HANDLE> FStdInWrite{plat::NO_HANDLE};
  std::atomic<plat::HANDLE> FStdOutRead{plat::NO_HANDLE};
  std::atomic<plat::HANDLE> FStdOutWrite{plat::NO_HANDLE};
  std::atomic<plat::HANDLE> FStdErrRead{plat::NO_HANDLE};
  std::atomic<plat::HANDLE> FStdErrWrite{plat::NO_HANDLE};
  std::atomic<std::int32_t> FAvailable{0};
  std::shared_ptr<plat::TChildProcess> FProcess;
  std::shared_ptr<TConvertThread> FReader;
  double FStartTime = 0;
  std::int64_t FDuration = 0;

  std::string FCommandLine;
  std::string FTempOutput;  // what the converter writes; renamed to FOutputFile on success
  std::string FPendingOut;  // incomplete last line of each pipe
  std::string FPendingErr;
  std::string FLastErrorLine;
  std::string FWriteErrorLine;  // the last line reporting a failed write of the output
  int FExitCode = -1;
  std::atomic<int> FLiveReaders{0};
};

// The one converter object of the program; the main window creates and
// destroys it.
extern TConvertProcess* ConvertProcess;
void CreateConvertProcess();
void DestroyConvertProcess();
