// THttpCli's reads under a rate budget shared with other clients: each read
// takes no more than the budget holds, and a read that spends it pauses the
// socket until a one-shot timer finds the budget filled again.
#include <algorithm>

#include "net/http/HttpCliPrivate.h"
#include "net/http/HttpProt.h"
#include "net/http/HttpRateBudget.h"
#include "platform/MessageLoop.h"

using namespace httpcli;

namespace {

// A paused socket waits for half a burst: few wake-ups, and what one
// connection leaves in the bucket is soon read by another.
std::int64_t ResumeAmount(const THttpRateBudget& budget) { return std::max<std::int64_t>(1, budget.Burst() / 2); }

}  // namespace

int THttpCli::BudgetRoom(int want) {
  if (!RateBudget || want <= 0) return want;
  // At least one byte: a close is only seen once the data before it is read,
  // and a notification queued before a pause reads that little.
  const std::int64_t room = std::max<std::int64_t>(1, RateBudget->Available(plat::GetTickCount()));
  return static_cast<int>(std::min<std::int64_t>(want, room));
}

void THttpCli::DrawBudget(int len) {
  if (!RateBudget || len <= 0) return;
  const std::uint32_t now = plat::GetTickCount();
  RateBudget->Take(len, now);
  if (FBudgetPaused || RateBudget->Available(now) > 0) return;
  FBudgetPaused = true;
  SockPause();
  ArmBudgetTimer(now);
}

void THttpCli::BudgetTick() {
  plat::KillTimer(FWindowHandle, kRateBudgetTimerId);
  FBudgetTimerOn = false;
  if (!FBudgetPaused) return;
  const std::uint32_t now = plat::GetTickCount();
  if (!RateBudget || RateBudget->Available(now) > 0) {
    FBudgetPaused = false;
    SockResume();
    return;
  }
  // Others took what came meanwhile: wait for the next share.
  ArmBudgetTimer(now);
}

void THttpCli::ArmBudgetTimer(std::uint32_t now) {
  FBudgetTimerOn = true;
  plat::SetTimer(FWindowHandle, kRateBudgetTimerId,
                 std::max<std::uint32_t>(1, RateBudget->WaitMs(ResumeAmount(*RateBudget), now)));
}
