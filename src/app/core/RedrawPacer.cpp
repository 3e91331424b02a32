#include "app/core/RedrawPacer.h"

#include "platform/MessageLoop.h"

TRedrawPacer::TRedrawPacer(TickFn tick) : FTick(tick ? std::move(tick) : TickFn(&plat::GetTickCount)) {}

bool TRedrawPacer::Change(bool urgent) {
  if (urgent || !FEverDrawn || DueIn() == 0) {
    Drawn();
    return true;
  }
  FPending = true;
  return false;
}

std::uint32_t TRedrawPacer::DueIn() const {
  const std::uint32_t since = FTick() - FLastDraw;  // wraps like the tick count
  return since >= kIntervalMs ? 0 : kIntervalMs - since;
}

void TRedrawPacer::Drawn() {
  FEverDrawn = true;
  FPending = false;
  FLastDraw = FTick();
}
