#include "net/http/HttpRateBudget.h"

#include <algorithm>

namespace {

// A twentieth of a second: a second-long window gets at most 105% of the limit.
constexpr std::int64_t kBurstDivisor = 20;
// Beyond this a pause fills the bucket anyway; keeps the products in range.
constexpr std::int64_t kMostElapsedMs = 10000;

}  // namespace

THttpRateBudget::THttpRateBudget(std::int64_t bytesPerSecond, std::uint32_t now)
    : FRate(std::max<std::int64_t>(1, bytesPerSecond)),
      FBurst(std::max<std::int64_t>(1, FRate / kBurstDivisor)),
      FMilli(FBurst * 1000),
      FLast(now) {}

void THttpRateBudget::Fill(std::uint32_t now) {
  // A caller whose clock reading is older than the last one adds nothing.
  const std::int32_t elapsed = static_cast<std::int32_t>(now - FLast);
  if (elapsed <= 0) return;
  FLast = now;
  FMilli = std::min(FBurst * 1000, FMilli + FRate * std::min<std::int64_t>(elapsed, kMostElapsedMs));
}

std::int64_t THttpRateBudget::Available(std::uint32_t now) {
  Fill(now);
  return std::max<std::int64_t>(0, FMilli / 1000);
}

void THttpRateBudget::Take(std::int64_t bytes, std::uint32_t now) {
  Fill(now);
  if (bytes > 0) FMilli -= bytes * 1000;
}

std::uint32_t THttpRateBudget::WaitMs(std::int64_t bytes, std::uint32_t now) {
  Fill(now);
  const std::int64_t missing = std::clamp<std::int64_t>(bytes, 1, FBurst) * 1000 - FMilli;
  if (missing <= 0) return 0;
  return static_cast<std::uint32_t>((missing + FRate - 1) / FRate);
}
