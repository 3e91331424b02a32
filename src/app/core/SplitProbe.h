// Whether a single stream should give way to several connections: only a
// stream slower than any open pipe (a server or CDN that paces each
// connection), with enough left at that speed for more connections to pay,
// is split. It is judged over a short first window of its body and again
// over each later window, so that a server that sends a burst and then
// paces is split once the pace has shown in two windows. A fast stream, or
// one held back by this side's own rate limit, stays one stream while it
// stays so.
#pragma once

#include <cstdint>

enum TProbeVerdict { pvWait, pvSplit, pvStay };

class TSplitProbe {
 public:
  // The first window: long enough to see a pace, short enough that the
  // other connections lose little of it.
  static constexpr std::uint32_t kProbeMs = 150;
  // Each later window.
  static constexpr std::uint32_t kWindowMs = 250;
  // Servers that pace each connection do so far below this (100 KB/s to a
  // few MiB/s); a stream this fast is the pipe's own speed.
  static constexpr std::int64_t kPacedBelow = 32 * 1024 * 1024;
  // Less than this left at the stream's speed is not worth new connections.
  static constexpr std::uint32_t kWorthMs = 1000;

  // `rest`: the bytes the stream still has to bring at `start`.
  TSplitProbe(std::int64_t rest, std::uint32_t start) : FRest(rest), FBegin(start), FStart(start) {}

  std::uint32_t ProbeMs = kProbeMs;
  std::uint32_t WindowMs = kWindowMs;
  std::int64_t PacedBelow = kPacedBelow;
  std::uint32_t WorthMs = kWorthMs;
  std::int64_t RateLimit = 0;  // this side's own limit in bytes per second; 0: none

  // With the bytes the stream brought since `start`, at tick `now`: pvSplit
  // once the first window or two later ones in a row show a pace (it stays
  // so), pvStay when the window just judged did not or when nothing is
  // left, pvWait within a window.
  TProbeVerdict Sample(std::int64_t received, std::uint32_t now);

 private:
  // `average`: bytes per second since the stream began.
  TProbeVerdict Judge(std::int64_t bytes, std::uint32_t elapsed, std::int64_t left, std::int64_t average) const;

  std::int64_t FRest;
  std::uint32_t FBegin;           // of the stream
  std::uint32_t FStart;           // of the current window
  std::int64_t FWindowBytes = 0;  // received when the current window began
  bool FFirst = true;             // the current window is the first
  bool FSlowBefore = false;       // the window before showed a pace
  bool FSplit = false;
};
