#include "app/core/SplitProbe.h"

TProbeVerdict TSplitProbe::Sample(std::int64_t received, std::uint32_t now) {
  if (FVerdict != pvWait) return FVerdict;
  const std::uint32_t elapsed = static_cast<std::uint32_t>(now - FStart);
  if (received >= FRest) {
    FVerdict = pvStay;  // nothing left to share
  } else if (elapsed >= ProbeMs) {
    FVerdict = Judge(received, elapsed);
  }
  return FVerdict;
}

TProbeVerdict TSplitProbe::Judge(std::int64_t received, std::uint32_t elapsed) const {
  if (received < 0 || elapsed == 0) return pvStay;
  const std::int64_t speed = received * 1000 / elapsed;  // bytes per second
  if (speed >= PacedBelow) return pvStay;
  // Held back by this side: more connections share the same limit.
  if (RateLimit > 0 && speed * 4 >= RateLimit * 3) return pvStay;
  if (speed == 0) return pvSplit;  // nothing came: the rest cannot be slower
  const std::int64_t left = FRest - received;
  return left * 1000 / speed > static_cast<std::int64_t>(WorthMs) ? pvSplit : pvStay;
}
