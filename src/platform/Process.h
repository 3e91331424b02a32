// Child processes and anonymous pipes: what the converter runner needs of the
// Windows process services, on POSIX. Handles are file descriptors; every
// failure is reported as the errno value so callers can append the decimal
// number to their own fixed texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace plat {

using HANDLE = int;
constexpr HANDLE NO_HANDLE = -1;

// Both ends close-on-exec; a child gets only what its start-up record names.
// Returns 0 or the error number.
int CreatePipe(HANDLE& readEnd, HANDLE& writeEnd);
// A new handle for the same pipe end; the original is closed on success.
int DuplicateHandle(HANDLE& handle);
// Closes a handle that is not NO_HANDLE and sets it to NO_HANDLE.
void CloseHandle(HANDLE& handle);
// Bytes waiting in a pipe, without removing them. Returns 0 or the error number.
int PeekNamedPipe(HANDLE handle, std::int32_t& available);
// Reads up to `size` bytes (blocks only if nothing is waiting). Returns 0 or
// the error number; `read` holds the count (0 at end of file).
int ReadFile(HANDLE handle, void* buffer, std::size_t size, std::size_t& read);

// Splits a command line the way Windows programs split theirs: blanks and
// tabs separate arguments, double quotes group, a backslash escapes a quote
// only when it stands directly before one (2n backslashes + quote give n
// backslashes and a grouping quote, 2n+1 give n and a literal quote).
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// What the child's standard handles are; the child runs detached from any
// terminal (its own session), which is what "hidden" means here.
struct TStartupInfo {
  HANDLE hStdInput = NO_HANDLE;
  HANDLE hStdOutput = NO_HANDLE;
  HANDLE hStdError = NO_HANDLE;
};

// A started child. Wait, Terminate and ExitCode may be called from different
// threads; reaping and signalling are serialised so that a signal never goes
// to a process id the system has handed out again.
class TChildProcess {
 public:
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  int ProcessId() const { return FPid; }
  // True once the child has ended (and has been reaped), waiting up to
  // `timeoutMs` for it.
  bool Wait(std::uint32_t timeoutMs);
  bool Ended();
  // Ends the child and everything it started. The exit code is what
  // ExitCode reports afterwards. Returns 0 or the error number; a child
  // that has already ended is not an error.
  int Terminate(int exitCode);
  // The exit status once ended (128 + signal number for a child killed by a
  // signal that we did not send); -1 while running.
  int ExitCode();

 private:
  friend int CreateProcess(const std::vector<std::string>&, const TStartupInfo&,
                           std::shared_ptr<TChildProcess>&);
  TChildProcess(int pid, int pidfd) : FPid(pid), FPidFd(pidfd) {}
  bool ReapLocked(bool block);

  std::mutex FLock;
  int FPid;
  int FPidFd;             // -1 when the kernel offers none; then Wait polls
  bool FReaped = false;
  bool FTerminated = false;
  int FTerminateCode = 0;
  int FExitCode = -1;
};

// Starts the program named by args[0], looked up through PATH when it is a
// bare name, with the other entries as its arguments exactly as given and the
// given standard handles. The child is killed when the calling thread ends,
// however it ends, so it never outlives its starter. Returns 0 or the error
// number (2 when the program cannot be found).
int CreateProcess(const std::vector<std::string>& args, const TStartupInfo& startup,
                  std::shared_ptr<TChildProcess>& process);
// The same with the arguments split from a command line by SplitCommandLine.
int CreateProcess(const std::string& commandLine, const TStartupInfo& startup,
                  std::shared_ptr<TChildProcess>& process);

}  // namespace plat
