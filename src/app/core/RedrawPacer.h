// Paces the redraws of a progress display: at most one per interval,
// whatever the rate of changes; a change held back is drawn once its time
// has come, so the last values always reach the screen.
#pragma once

#include <cstdint>
#include <functional>

class TRedrawPacer {
 public:
  static constexpr std::uint32_t kIntervalMs = 100;
  using TickFn = std::function<std::uint32_t()>;

  explicit TRedrawPacer(TickFn tick = nullptr);

  // A change of the display: true when it is to be drawn now (the pacer
  // then counts it as drawn). An urgent change (another panel, the end) is
  // always drawn; otherwise a change within the interval is held.
  bool Change(bool urgent);
  // A change is held back.
  bool Pending() const { return FPending; }
  // Milliseconds until the held change is due (0: now).
  std::uint32_t DueIn() const;
  // The held change is drawn now (its time came).
  void Drawn();

 private:
  TickFn FTick;
  bool FEverDrawn = false;
  bool FPending = false;
  std::uint32_t FLastDraw = 0;
};
