// The bookkeeping of a download over several connections: done ranges
// merge, work is handed out as gaps first (capped), then as the upper half
// of the largest claim (or at a given byte, for a stream that goes on),
// and bytes past a shortened claim are not counted.
#include <gtest/gtest.h>

#include "app/core/SegmentPlan.h"

TEST(SegmentPlan, DoneRangesMergeAndStayInsideTheFile) {
  TSegmentPlan plan(100, 0, 10);
  plan.AddDone({10, 20});
  plan.AddDone({30, 40});
  plan.AddDone({20, 30});   // touches both: one range
  plan.AddDone({90, 150});  // cut at the end
  plan.AddDone({-5, 0});    // empty once cut
  ASSERT_EQ(plan.Done().size(), 2u);
  EXPECT_EQ(plan.Done()[0], (TByteRange{10, 40}));
  EXPECT_EQ(plan.Done()[1], (TByteRange{90, 100}));
  EXPECT_EQ(plan.DoneBytes(), 40);
  EXPECT_FALSE(plan.Complete());
  plan.AddDone({0, 95});
  EXPECT_TRUE(plan.Complete());
  EXPECT_FALSE(plan.Claim(1));  // nothing left
}

TEST(SegmentPlan, GapsFirstThenHalfOfTheLargestClaim) {
  TSegmentPlan plan(1000, 0, 100);
  plan.AddDone({0, 200});
  EXPECT_EQ(plan.Claim(0), (TByteRange{200, 1000}));
  EXPECT_EQ(plan.Claim(1), (TByteRange{600, 1000}));  // stolen half
  EXPECT_EQ(plan.ClaimOf(0), (TByteRange{200, 600}));
  EXPECT_EQ(plan.Claim(2), (TByteRange{400, 600}));
  EXPECT_EQ(plan.Claim(3), (TByteRange{800, 1000}));
  EXPECT_EQ(plan.Claim(4), (TByteRange{300, 400}));
  EXPECT_EQ(plan.Claim(5), (TByteRange{700, 800}));
  EXPECT_EQ(plan.Claim(6), (TByteRange{500, 600}));
  EXPECT_EQ(plan.Claim(7), (TByteRange{900, 1000}));
  // Halves of 100 would be below the least split: no more work, unless a
  // slow owner lets smaller halves pay (never larger ones than the split).
  EXPECT_FALSE(plan.Claim(8));
  EXPECT_FALSE(plan.Claim(8, 0, 500));
  EXPECT_EQ(plan.Claim(8, 0, 50), (TByteRange{250, 300}));
  EXPECT_EQ(plan.ClaimOf(0), (TByteRange{200, 250}));
  // Connection 0 may now write only up to 250; the rest is dropped.
  EXPECT_EQ(plan.Received(0, 150), 50);
  EXPECT_EQ(plan.ClaimOf(0)->Size(), 0);
  EXPECT_EQ(plan.DoneBytes(), 250);
}

TEST(SegmentPlan, ACappedPieceAndAReleasedClaimAreHandedOutAgain) {
  TSegmentPlan plan(250, 100, 100);
  EXPECT_EQ(plan.Claim(0), (TByteRange{0, 100}));
  EXPECT_EQ(plan.Claim(1), (TByteRange{100, 200}));
  EXPECT_EQ(plan.Received(1, 30), 30);
  plan.Release(1);  // failed: its unwritten bytes are missing again
  EXPECT_EQ(plan.Unowned(), 120);
  EXPECT_EQ(plan.Claim(2), (TByteRange{130, 230}));
  EXPECT_EQ(plan.Claim(1), (TByteRange{230, 250}));
  EXPECT_EQ(plan.Received(7, 10), 0);  // no claim, nothing counted
  EXPECT_EQ(plan.DoneBytes(), 30);
}

TEST(SegmentPlan, ClaimsTakenTogetherGetEqualSharesOfTheGap) {
  TSegmentPlan plan(1000, 300, 100);
  plan.AddDone({0, 100});
  EXPECT_EQ(plan.Claim(0, 450), (TByteRange{100, 400}));  // the piece cap is smaller
  EXPECT_EQ(plan.Claim(1, 250), (TByteRange{400, 650}));
  EXPECT_EQ(plan.Claim(2, 0), (TByteRange{650, 950}));
  EXPECT_EQ(plan.Claim(3, 500), (TByteRange{950, 1000}));
  EXPECT_EQ(plan.Claim(4, 10), (TByteRange{100 + 150, 400}));  // no gap: a half, whatever the share
}

TEST(SegmentPlan, AClaimAtAByteStartsThereAndEndsAtTheNextTakenOne) {
  TSegmentPlan plan(1000, 0, 100);
  plan.AddDone({0, 300});
  EXPECT_EQ(plan.Claim(1, 200), (TByteRange{300, 500}));
  EXPECT_FALSE(plan.ClaimAt(0, 200));  // done
  EXPECT_FALSE(plan.ClaimAt(0, 400));  // owned
  EXPECT_EQ(plan.ClaimAt(0, 600, 300), (TByteRange{600, 900}));
  EXPECT_FALSE(plan.ClaimAt(0, 950));  // holds a claim already
  EXPECT_EQ(plan.ClaimAt(2, 500), (TByteRange{500, 600}));  // up to the next claim
}
