// A GET into a file that survives what a network does: time limits on
// connecting and on silence, retries of the failures worth retrying, and
// each retry continuing from the bytes already in the file ("Range:
// bytes=N-") as far as the server's answer allows. Error answers never
// write into the file. A continuing answer must name the same file as the
// first one (its total, ETag and Last-Modified; "If-Range" asks the server
// for that) or the file starts again from zero, and the file is whole only
// when it holds exactly the total the server announced.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/core/PartControl.h"
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
  // The file's identity is new or has changed, before its first byte is
  // written (kept beside the file); returns why it could not be kept.
  std::function<std::string(const TPartIdentity&)> Identified;
  // At an accepted answer's header, with the bytes the file holds before
  // its body: true offers the rest to the caller, who takes it at once or,
  // with Probe set, when Probe says so.
  std::function<bool(const THttpCli& cli, std::int64_t have)> TakeOver;
  // While an offered answer's body arrives, with the body bytes it brought:
  // true hands the request over still running (Run returns at once; the
  // caller takes its events before it lets a message through).
  std::function<bool(std::int64_t received)> Probe;
};

struct TGetOutcome {
  bool Complete = false;     // the file holds the whole document
  TTransferFailure Failure;  // why not, when not complete
  int Attempts = 0;
  bool HandedOver = false;   // TakeOver took the rest; Identity names the file
  // With HandedOver: the client's request still runs and its next body byte
  // is this byte of the file (the file holds the ones before it); -1 when
  // TakeOver took the answer at its header and the request was ended.
  std::int64_t HandedAt = -1;
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
  // What identified the file whose bytes it holds: set by the caller from
  // an earlier run, else taken from the first answer that writes to it.
  TPartIdentity Identity;

  TGetOutcome Run(const std::string& url);
  TResumableGetHooks& Hooks() { return FHooks; }

 private:
  // Of the final answer's header: nothing to say, the file is whole, or the
  // answer cannot serve the file (why says so).
  enum TVerdict { vdNone, vdComplete, vdRefused, vdChanged, vdHandedOver };
  // One request; the verdict of its final answer's header.
  TVerdict Attempt(const std::string& url, bool resume, std::string& why);
  // An accepted answer's header: keeps its identity, or tells why it is
  // another file (vdChanged) or why it could not be kept (vdRefused).
  TVerdict Identify(const std::string& url, std::int64_t have, std::string& why);
  // The file holds fewer or more bytes than the server announced.
  std::optional<TTransferFailure> SizeFailure() const;
  // Waits between attempts, pumping messages; false when Stop came.
  bool Wait(std::uint32_t ms);
  bool Stopped() const { return FHooks.Stopped && FHooks.Stopped(); }
  void Say(const std::string& line) const {
    if (FHooks.Say) FHooks.Say(line);
  }

  THttpCli& FCli;
  plat::TStream& FFile;
  TResumableGetHooks FHooks;
  bool FLocalFailure = false;  // the identity could not be kept
  std::int64_t FHandedAt = -1;
};
