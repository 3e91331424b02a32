// The pacing of progress redraws: a flood of changes is drawn at most ten
// times a second, urgent ones at once, and a held change is due later; and
// which display changes count as mere progress.
#include "app/core/RedrawPacer.h"

#include <gtest/gtest.h>

#include "app/core/DownloadJob.h"

TEST(RedrawPacer, AFloodOfChangesIsDrawnTenTimesASecondAndUrgentOnesAtOnce) {
  std::uint32_t now = 0xFFFFFF00u;  // the tick count wraps during the run
  TRedrawPacer pacer([&] { return now; });
  EXPECT_TRUE(pacer.Change(false));  // the first change is drawn
  int drawn = 1;
  const std::uint32_t start = now;
  for (int i = 0; i < 10000; ++i) {  // one change every 0.1 ms for a second
    now = start + static_cast<std::uint32_t>(i) / 10;
    if (pacer.Change(false)) ++drawn;
  }
  EXPECT_LE(drawn, 11);
  EXPECT_GE(drawn, 9);
  EXPECT_TRUE(pacer.Pending());
  EXPECT_GT(pacer.DueIn(), 0u);
  EXPECT_LE(pacer.DueIn(), TRedrawPacer::kIntervalMs);
  EXPECT_TRUE(pacer.Change(true));  // urgent: drawn although within the interval
  EXPECT_FALSE(pacer.Pending());
  EXPECT_FALSE(pacer.Change(false));
  now += 40;
  EXPECT_EQ(pacer.DueIn(), 60u);
  now += 60;
  EXPECT_EQ(pacer.DueIn(), 0u);
  pacer.Drawn();  // the owner's timer drew the held change
  EXPECT_FALSE(pacer.Pending());
}

TEST(RedrawPacer, OnlyTheTransfersProgressMayBePaced) {
  TDownloadDisplay a;
  a.Panel = dpTransfer;
  TDownloadDisplay b = a;
  b.Bar1Pos = 500;
  b.ReceiveData = "1 KB of 2 KB received";
  b.ReceiveSpeed = "1.0 KB/S";
  b.EstimateTime = "00:00:01";
  EXPECT_TRUE(OnlyTransferProgressDiffers(a, b));
  TDownloadDisplay c = b;
  c.Panel = dpConvert;
  EXPECT_FALSE(OnlyTransferProgressDiffers(a, c));
  c = b;
  c.FileLabel = "Downloading: x.flv ...";
  EXPECT_FALSE(OnlyTransferProgressDiffers(a, c));
  c = b;
  c.TotalText = "2 KB";
  EXPECT_FALSE(OnlyTransferProgressDiffers(a, c));
}
