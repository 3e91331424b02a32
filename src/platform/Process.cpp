#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

int CreateProcess(const std::vector<std::string>& arguments, const TStartupInfo& startup,
                  std::shared_ptr<TChildProcess>& process) {
  process.reset();
  std::vector<std::string> args = arguments;
  if (args.empty() || args[0].empty()) return ENOENT;
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (int e = posix_spawn_file_actions_init(&actions)) return e;
  if (int e = posix_spawnattr_init(&attr)) {
    posix_spawn_file_actions_destroy(&actions);
    return e;
  }
  int err = 0;
  const HANDLE handles[3] = {startup.hStdInput, startup.hStdOutput, startup.hStdError};
  for (int target = 0; target < 3 && err == 0; ++target) {
    if (handles[target] >= 0) {
      err = posix_spawn_file_actions_adddup2(&actions, handles[target], target);
    } else {
      err = posix_spawn_file_actions_addopen(&actions, target, "/dev/null",
                                             target == 0 ? O_RDONLY : O_WRONLY, 0);
    }
  }
  // Only the three standard handles are handed down.
  if (err == 0) err = posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  sigset_t empty, defaults;
  sigemptyset(&empty);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGCHLD);
  if (err == 0) err = posix_spawnattr_setsigmask(&attr, &empty);
  if (err == 0) err = posix_spawnattr_setsigdefault(&attr, &defaults);
  // Its own session: no controlling terminal, and a process group of its own
  // that Terminate can end as a whole.
  if (err == 0)
    err = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  if (err == 0) err = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return err;

  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  process.reset(new TChildProcess(pid, pidfd));
  return 0;
}

}  // namespace plat
