// A GET into a file that survives what a network does: time limits on
// connecting and on silence, retries of the failures worth retrying, and
// each retry continuing from the bytes already in the file ("Range:
// bytes=N-") as far as the server's answer allows. Error answers never
// write into the file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/core/RetryPolicy.h"

class THttpCli;
namespace plat {
class TStream;
}

struct TResumableGetHooks {
  // One line for the user: a retry and why, a restart from zero.
  std::function<void(const std::string& line)> Say;
  // True once the user has stopped the job (the client is aborted then).
  std::function<bool()> Stopped;
  // Why this side failed during the last attempt (a refused write), "" when
  // it did not: such a failure is not retried.
  std::function<std::string()> LocalError;
  // Writes what the file still gathers at the end of an attempt, so that
  // its size is what a retry continues from and a late write error counts.
  std::function<void()> Flush;
};

struct TGetOutcome {
  bool Complete = false;     // the file holds the whole document
  TTransferFailure Failure;  // why not, when not complete
  int Attempts = 0;
};

class TResumableGet {
 public:
  // The client keeps its own settings and events; Run only borrows its
  // header events and its ReceiveStream. `file` is written at its end.
  TResumableGet(THttpCli& cli, plat::TStream& file, TResumableGetHooks hooks);

  TRetryPolicy Policy;
  std::uint32_t ConnectTimeoutMs = 0;  // 0: no limit
  std::uint32_t IdleTimeoutMs = 0;     // 0: no limit
  // Length of one second of the waits between attempts; shortened by tests.
  std::uint32_t MsPerSecond = 1000;
  // The file holds bytes of an earlier run: the first attempt asks for the
  // rest instead of emptying the file.
  bool ContinueFirst = false;

  TGetOutcome Run(const std::string& url);

 private:
  // Of the final answer's header: nothing to say, the file is whole, or the
  // answer cannot serve the file (why says so).
  enum TVerdict { vdNone, vdComplete, vdRefused };
  // One request; the verdict of its final answer's header.
  TVerdict Attempt(const std::string& url, bool resume, std::string& why);
  // Waits between attempts, pumping messages; false when Stop came.
  bool Wait(std::uint32_t ms);
  bool Stopped() const { return FHooks.Stopped && FHooks.Stopped(); }
  void Say(const std::string& line) const {
    if (FHooks.Say) FHooks.Say(line);
  }

  THttpCli& FCli;
  plat::TStream& FFile;
  TResumableGetHooks FHooks;
};
