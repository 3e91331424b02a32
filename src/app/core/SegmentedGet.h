// The rest of a file fetched over several connections at once, all on the
// one message loop through the client's asynchronous requests: each asks for
// a closed range ("Range: bytes=A-B", with "If-Range") and writes what it
// gets at its offset into the one file. A connection the server refuses
// before its first byte (refused, reset, 503, 429) twice while others run
// lowers the number of connections for the rest of the job to the others
// the server may have counted then (served or asking), instead of failing it;
// any other failure is retried for that connection's own range with the
// usual back-off. A server that answers a range with the whole file, or
// with another version of it, ends the run with seOneStream: the caller
// fetches the file again as one stream.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/PartControl.h"
#include "app/core/RetryPolicy.h"
#include "app/core/SegmentPlan.h"

class THttpCli;
class THttpRateBudget;

struct TSegmentedHooks {
  std::function<void(const std::string& line)> Say;
  std::function<bool()> Stopped;
  // Route, https and options of a new connection's client.
  std::function<void(THttpCli& cli)> Prepare;
  // The done ranges, to be kept beside the file; returns why they could not be.
  std::function<std::string(const std::vector<TByteRange>& done)> SaveDone;
  // Bytes of the file done and connections open, when either changed.
  std::function<void(std::int64_t done, int open)> Progress;
};

enum TSegmentedEnd { seComplete, seFailed, seOneStream };

struct TSegmentedOutcome {
  TSegmentedEnd End = seFailed;
  TTransferFailure Failure;  // for seFailed
  std::string Why;           // for seOneStream
  int MostOpen = 0;          // most connections open at once
};

// The first answer allows segments: ranges are taken ("Accept-Ranges:
// bytes" or a 206), the length is known and not chunked, no content coding,
// and the file holds at least two segments of `segment` bytes.
bool Segmentable(int status, const std::vector<std::string>& header, std::int64_t total, std::int64_t segment);

class TSegmentedGet {
 public:
  static constexpr std::int64_t kMinSplit = 1024 * 1024;

  // `fd`: the file, written with pwrite; `identity` of its first answer.
  TSegmentedGet(int fd, const TPartIdentity& identity, TSegmentedHooks hooks);
  ~TSegmentedGet();
  TSegmentedGet(const TSegmentedGet&) = delete;
  TSegmentedGet& operator=(const TSegmentedGet&) = delete;

  int Connections = 4;               // the most open at once (1 to 32)
  std::int64_t SegmentSize = 0;      // the most one request asks for; 0: no cap
  std::int64_t MinSplit = kMinSplit; // a range is halved for a free connection only above twice this
  TRetryPolicy Policy;
  std::uint32_t ConnectTimeoutMs = 0;
  std::uint32_t IdleTimeoutMs = 0;
  std::uint32_t MsPerSecond = 1000;  // shortened by tests
  std::int32_t RateLimit = 0;        // bytes per second for all connections; 0: none
  // The budget of RateLimit, shared with the first stream; made when empty.
  std::shared_ptr<THttpRateBudget> Budget;
  std::int64_t MinSpeed = 0;         // bytes per second below which a connection is reopened
  std::uint32_t MinSpeedTimeMs = 10000;
  std::vector<TByteRange> Done;      // already in the file

  // The first stream's request, still running, whose next body byte is
  // byte `at` of the file (all before it done): Run keeps it as the first
  // connection, with its share of the rest from `at` on, so that no byte is
  // asked for twice. Its events are its own again when it is let go.
  void Adopt(THttpCli& cli, std::int64_t at);
  TSegmentedOutcome Run(const std::string& url);
  // The number of connections the server has shown it takes.
  int HostLimit() const { return FHostLimit; }

 private:
  struct TSlot;
  void Start(TSlot& s);
  // Slot 0 goes on with the adopted request; false when it cannot.
  bool Continue(TSlot& s);
  // Gives the adopted client its events back, once its request is over.
  void LetGo(TSlot& s);
  // Restarts the connections whose wait is over and gives free ones work.
  void StartDue(std::uint32_t now);
  // The least half a free connection takes over now: 0 for the least split,
  // less for a largest claim whose owner is slow to finish it.
  std::int64_t LeastHalf(std::uint32_t now) const;
  void HeaderEnd(TSlot& s);
  void Write(TSlot& s, const void* data, int len);
  // After the request's done event; false when the whole run ends.
  bool Finish(TSlot& s, TSegmentedOutcome& out);
  void Watch(TSlot& s, std::uint32_t now);
  void ShareRate(THttpCli& cli);
  void TurnedAway(TSlot& s, const TTransferFailure& f);
  int MayCount(const TSlot& refused) const;
  int Open() const;
  int Running() const;
  void AbortAll();
  std::string SaveDone();
  bool Stopped() const { return FHooks.Stopped && FHooks.Stopped(); }
  void Say(const std::string& line) const {
    if (FHooks.Say) FHooks.Say(line);
  }

  int FFd;
  TPartIdentity FIdentity;
  TSegmentedHooks FHooks;
  std::string FUrl;
  std::unique_ptr<TSegmentPlan> FPlan;
  THttpCli* FAdopted = nullptr;
  std::int64_t FAdoptedAt = -1;
  std::vector<std::unique_ptr<TSlot>> FSlots;
  int FHostLimit = 1;
  int FEnds = 0;                    // requests ended
  int FEndsAtPass = 0;              // FEnds as the loop's pass began
  std::int64_t FSplit = kMinSplit;  // the least share and the least half taken over
  std::string FLocalError;   // a write or the control file failed
  std::string FOneStream;    // why the server cannot serve ranges
  bool FDoneChanged = false;
};
