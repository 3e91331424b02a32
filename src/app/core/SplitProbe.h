// Whether a single stream should give way to several connections: it runs
// alone for a short probe first, and only a stream slower than any open
// pipe (a server or CDN that paces each connection), with enough left at
// that speed for more connections to pay, is split. A fast stream, or one
// held back by this side's own rate limit, stays one stream to its end.
#pragma once

#include <cstdint>

enum TProbeVerdict { pvWait, pvSplit, pvStay };

class TSplitProbe {
 public:
  // How long the stream runs alone before it is judged.
  static constexpr std::uint32_t kProbeMs = 500;
  // Servers that pace each connection do so far below this (100 KB/s to a
  // few MiB/s); a stream this fast is the pipe's own speed.
  static constexpr std::int64_t kPacedBelow = 32 * 1024 * 1024;
  // Less than this left at the stream's speed is not worth new connections.
  static constexpr std::uint32_t kWorthMs = 1000;

  // `rest`: the bytes the stream still has to bring at `start`.
  TSplitProbe(std::int64_t rest, std::uint32_t start) : FRest(rest), FStart(start) {}

  std::uint32_t ProbeMs = kProbeMs;
  std::int64_t PacedBelow = kPacedBelow;
  std::uint32_t WorthMs = kWorthMs;
  std::int64_t RateLimit = 0;  // this side's own limit in bytes per second; 0: none

  // With the bytes the stream brought since `start`, at tick `now`; once
  // the verdict is pvSplit or pvStay it no longer changes.
  TProbeVerdict Sample(std::int64_t received, std::uint32_t now);

 private:
  TProbeVerdict Judge(std::int64_t received, std::uint32_t elapsed) const;

  std::int64_t FRest;
  std::uint32_t FStart;
  TProbeVerdict FVerdict = pvWait;
};
