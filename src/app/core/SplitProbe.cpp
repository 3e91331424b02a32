#include "app/core/SplitProbe.h"

#include <algorithm>

TProbeVerdict TSplitProbe::Sample(std::int64_t received, std::uint32_t now) {
  if (FSplit) return pvSplit;
  if (received >= FRest) return pvStay;  // nothing left to share
  const std::uint32_t elapsed = static_cast<std::uint32_t>(now - FStart);
  if (elapsed < (FFirst ? ProbeMs : WindowMs)) return pvWait;
  const std::uint32_t all = static_cast<std::uint32_t>(now - FBegin);
  TProbeVerdict v = Judge(received - FWindowBytes, elapsed, FRest - received, all == 0 ? 0 : received * 1000 / all);
  // After the first window a pace must show twice in a row: one slow window
  // among fast ones is this side stalling (a disk that holds up writes).
  const bool slow = v == pvSplit;
  if (slow && !FFirst && !FSlowBefore) v = pvStay;
  FSlowBefore = slow;
  FSplit = v == pvSplit;
  // The next window starts here.
  FFirst = false;
  FStart = now;
  FWindowBytes = received;
  return v;
}

TProbeVerdict TSplitProbe::Judge(std::int64_t bytes, std::uint32_t elapsed, std::int64_t left,
                                 std::int64_t average) const {
  if (bytes < 0 || elapsed == 0) return pvStay;
  const std::int64_t speed = bytes * 1000 / elapsed;  // bytes per second
  if (speed >= PacedBelow) return pvStay;
  // Held back by this side: more connections share the same limit. Its
  // limiter lets bytes through in bursts, so a window may hold none.
  if (RateLimit > 0 && std::max(speed, average) * 4 >= RateLimit * 3) return pvStay;
  if (speed == 0) return pvSplit;  // nothing came: the rest cannot be slower
  return left * 1000 / speed > static_cast<std::int64_t>(WorthMs) ? pvSplit : pvStay;
}
