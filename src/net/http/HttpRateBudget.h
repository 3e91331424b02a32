// One download's rate limit, shared by every connection that serves it: a
// token bucket filled at the limit that holds at most a twentieth of a
// second of it. A client reads no more than the bucket holds and pauses
// its socket until it holds some again, so that however many connections
// draw on it, and however many of them stand idle, no window of a second
// gets more than the limit and a twentieth, and those that read get what
// the idle ones leave.
#pragma once

#include <cstdint>

class THttpRateBudget {
 public:
  // `bytesPerSecond` at least 1; `now` in milliseconds, wrapping like the tick count.
  THttpRateBudget(std::int64_t bytesPerSecond, std::uint32_t now);

  std::int64_t Rate() const { return FRate; }
  // The most that may be read at once after a pause.
  std::int64_t Burst() const { return FBurst; }
  // Bytes that may be read at `now`; 0 when spent (or owed).
  std::int64_t Available(std::uint32_t now);
  // `bytes` were read: a read larger than what was available is owed.
  void Take(std::int64_t bytes, std::uint32_t now);
  // Milliseconds from `now` until `bytes` (at most the burst) may be read.
  std::uint32_t WaitMs(std::int64_t bytes, std::uint32_t now);

 private:
  void Fill(std::uint32_t now);

  std::int64_t FRate;
  std::int64_t FBurst;
  std::int64_t FMilli;  // what may be read, in thousandths of a byte; negative when owed
  std::uint32_t FLast;
};
