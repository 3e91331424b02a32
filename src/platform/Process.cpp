// Child processes and anonymous pipes on POSIX.
#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <thread>

extern char** environ;

namespace plat {

int CreatePipe(HANDLE& readEnd, HANDLE& writeEnd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return errno;
  readEnd = fds[0];
  writeEnd = fds[1];
  return 0;
}

int DuplicateHandle(HANDLE& handle) {
  if (handle < 0) return EBADF;
  int dup = fcntl(handle, F_DUPFD_CLOEXEC, 3);
  if (dup < 0) return errno;
  ::close(handle);
  handle = dup;
  return 0;
}

void CloseHandle(HANDLE& handle) {
  if (handle == NO_HANDLE) return;
  ::close(handle);
  handle = NO_HANDLE;
}

int PeekNamedPipe(HANDLE handle, std::int32_t& available) {
  if (handle < 0) return EBADF;
  int count = 0;
  if (ioctl(handle, FIONREAD, &count) != 0) return errno;
  available = count;
  return 0;
}

int ReadFile(HANDLE handle, void* buffer, std::size_t size, std::size_t& read) {
  read = 0;
  if (handle < 0) return EBADF;
  for (;;) {
    ssize_t n = ::read(handle, buffer, size);
    if (n >= 0) {
      read = static_cast<std::size_t>(n);
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> args;
  std::string current;
  bool inArg = false;
  bool quoted = false;
  std::size_t i = 0;
  const std::size_t n = commandLine.size();
  while (i < n) {
    char c = commandLine[i];
    if (!quoted && (c == ' ' || c == '\t')) {
      if (inArg) {
        args.push_back(current);
        current.clear();
        inArg = false;
      }
      ++i;
      continue;
    }
    inArg = true;
    if (c == '\\') {
      std::size_t slashes = 0;
      while (i < n && commandLine[i] == '\\') {
        ++slashes;
        ++i;
      }
      if (i < n && commandLine[i] == '"') {
        current.append(slashes / 2, '\\');
        if (slashes % 2 == 1) {
          current += '"';
          ++i;
        }
        // an even count leaves the quote to group, handled below
      } else {
        current.append(slashes, '\\');
      }
      continue;
    }
    if (c == '"') {
      quoted = !quoted;
      ++i;
      continue;
    }
    current += c;
    ++i;
  }
  if (inArg) args.push_back(current);
  return args;
}

TChildProcess::~TChildProcess() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    // A terminated child ends at once; reap it so no zombie stays behind.
    ReapLocked(FTerminated);
  }
  if (FPidFd >= 0) ::close(FPidFd);
}

bool TChildProcess::ReapLocked(bool block) {
  if (FReaped) return true;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(FPid, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == FPid) {
    FReaped = true;
    if (WIFEXITED(status))
      FExitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
      FExitCode = 128 + WTERMSIG(status);
    else
      FExitCode = 255;
    return true;
  }
  if (r < 0 && errno == ECHILD) {
    // Someone else reaped it; it has ended all the same.
    FReaped = true;
    FExitCode = 255;
    return true;
  }
  return false;
}

bool TChildProcess::Ended() {
  std::lock_guard<std::mutex> guard(FLock);
  return ReapLocked(false);
}

bool TChildProcess::Wait(std::uint32_t timeoutMs) {
  if (Ended()) return true;
  if (FPidFd >= 0) {
    pollfd p{FPidFd, POLLIN, 0};
    int r;
    do {
      r = poll(&p, 1, static_cast<int>(timeoutMs));
    } while (r < 0 && errno == EINTR);
    return Ended();
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (Ended()) return true;
  }
  return Ended();
}

int TChildProcess::Terminate(int exitCode) {
  std::lock_guard<std::mutex> guard(FLock);
  if (ReapLocked(false)) return 0;
  // The child leads its own process group: end helpers it started too, so
  // none keeps the pipes open.
  int err = 0;
  if (::kill(-FPid, SIGKILL) != 0) {
    err = errno;
    if (::kill(FPid, SIGKILL) == 0) err = 0;
  }
  if (err == 0 || err == ESRCH) {
    FTerminated = true;
    FTerminateCode = exitCode;
    return 0;
  }
  return err;
}

int TChildProcess::ExitCode() {
  std::lock_guard<std::mutex> guard(FLock);
  if (!ReapLocked(false)) return -1;
  return FTerminated ? FTerminateCode : FExitCode;
}

int CreateProcess(const std::string& commandLine, const TStartupInfo& startup,
                  std::shared_ptr<TChildProcess>& process) {
  return CreateProcess(SplitCommandLine(commandLine), startup, process);
}

namespace {

// Where a bare program name is looked for, in order, as the shell does.
std::vector<std::string> ProgramCandidates(const std::string& program) {
  if (program.find('/') != std::string::npos) return {program};
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::vector<std::string> candidates;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = dirs.find(':', start);
    std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    candidates.push_back((dir.empty() ? std::string(".") : dir) + "/" + program);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return candidates;
}

// The child between fork and exec: async-signal-safe calls only. Reports
// the error number through `report` when no program could be started.
[[noreturn]] void ExecChild(const std::vector<char*>& candidates, char* const* argv, const int (&handles)[3],
                            int report, pid_t parent) {
  // Its own session: no controlling terminal, and a process group of its own
  // that Terminate can end as a whole.
  ::setsid();
  // However this process ends (a crash, SIGKILL), the converter does not
  // outlive it.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  int err = 0;
  if (::getppid() != parent) ::_exit(127);
  int moved[3];
  for (int i = 0; i < 3; ++i) moved[i] = ::fcntl(handles[i], F_DUPFD, 3);
  for (int i = 0; i < 3; ++i)
    if (moved[i] < 0 || ::dup2(moved[i], i) < 0) err = errno;
  // Only the three standard handles are handed down (the report pipe closes on exec).
  if (report > 3) ::close_range(3, static_cast<unsigned>(report) - 1, 0);
  ::close_range(static_cast<unsigned>(report) + 1, ~0U, 0);
  for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGCHLD, SIGHUP, SIGQUIT}) ::signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (err == 0) {
    err = ENOENT;
    for (char* candidate : candidates) {
      ::execve(candidate, argv, environ);
      // As the shell does: a program found but not startable is the error to report.
      if (errno != ENOENT && errno != ENOTDIR) err = errno;
    }
  }
  (void)!::write(report, &err, sizeof err);
  ::_exit(127);
}

}  // namespace

int CreateProcess(const std::vector<std::string>& arguments, const TStartupInfo& startup,
                  std::shared_ptr<TChildProcess>& process) {
  process.reset();
  if (arguments.empty() || arguments[0].empty()) return ENOENT;
  // Everything the child needs is made here: after fork it may not allocate.
  std::vector<std::string> args = arguments;
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> names = ProgramCandidates(args[0]);
  std::vector<char*> candidates;
  for (std::string& n : names) candidates.push_back(n.data());

  int nullFd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (nullFd < 0) return errno;
  const int handles[3] = {startup.hStdInput >= 0 ? startup.hStdInput : nullFd,
                          startup.hStdOutput >= 0 ? startup.hStdOutput : nullFd,
                          startup.hStdError >= 0 ? startup.hStdError : nullFd};
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    const int err = errno;
    ::close(nullFd);
    return err;
  }
  // No handler of ours may run in the child before it has reset them.
  sigset_t all, old;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &old);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) ExecChild(candidates, argv.data(), handles, report[1], parent);
  int err = pid < 0 ? errno : 0;
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  ::close(report[1]);
  ::close(nullFd);
  if (pid > 0) {
    int childErr = 0;
    ssize_t n;
    do {
      n = ::read(report[0], &childErr, sizeof childErr);
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof childErr)) {
      err = childErr;
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
  }
  ::close(report[0]);
  if (err != 0) return err;

  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  process.reset(new TChildProcess(pid, pidfd));
  return 0;
}

}  // namespace plat
