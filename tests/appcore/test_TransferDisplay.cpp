// The transfer panel's size, bar, speed and time-remaining rules, with a
// controlled tick count.
#include "app/core/TransferDisplay.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

struct Clock {
  std::uint32_t now = 1000;
  TTransferDisplay::TickFn Fn() {
    return [this] { return now; };
  }
};

}  // namespace

TEST(TransferDisplay, KiloBytesRoundHalvesToEven) {
  EXPECT_EQ(KiloBytesHalfEven(1536), 2);  // 1.5 -> 2
  EXPECT_EQ(KiloBytesHalfEven(2560), 2);  // 2.5 -> 2
  EXPECT_EQ(KiloBytesHalfEven(3584), 4);  // 3.5 -> 4
  EXPECT_EQ(KiloBytesHalfEven(1535), 1);
  EXPECT_EQ(KiloBytesHalfEven(2561), 3);
  EXPECT_EQ(KiloBytesHalfEven(0), 0);
  EXPECT_EQ(KiloBytesHalfEven(3LL << 40), 3LL << 30);
}

TEST(TransferDisplay, ContentLengthOnlyWithExactName) {
  EXPECT_EQ(ContentLengthFromHeader({"HTTP/1.0 200 OK", "Content-Length: 1536"}), 1536);
  EXPECT_EQ(ContentLengthFromHeader({"content-length: 1536"}), -1);
  EXPECT_EQ(ContentLengthFromHeader({"CONTENT-LENGTH: 1536"}), -1);
  EXPECT_EQ(ContentLengthFromHeader({}), -1);
  // The first matching line counts.
  EXPECT_EQ(ContentLengthFromHeader({"Content-Length: 5", "Content-Length: 7"}), 5);
  EXPECT_EQ(ContentLengthFromHeader({"Content-Length: 3221225472"}), 3221225472LL);
}

TEST(TransferDisplay, BadContentLengthThrows) {
  EXPECT_THROW(ContentLengthFromHeader({"Content-Length: abc"}), std::invalid_argument);
  EXPECT_THROW(ContentLengthFromHeader({"Content-Length:1536"}), std::invalid_argument);
  EXPECT_THROW(ContentLengthFromHeader({"Content-Length: "}), std::invalid_argument);
  EXPECT_THROW(ContentLengthFromHeader({"Content-Length: -5"}), std::invalid_argument);
  EXPECT_THROW(ContentLengthFromHeader({"Content-Length: 99999999999999999999"}),
               std::invalid_argument);
  TTransferDisplay d;
  EXPECT_THROW(d.HeaderData({"Content-Length: 12x"}), std::invalid_argument);
  EXPECT_FALSE(d.HasTotal());
}

TEST(TransferDisplay, SizeLabelWithAndWithoutTotal) {
  Clock c;
  TTransferDisplay d(c.Fn());
  d.HeaderData({"HTTP/1.0 200 OK"});
  EXPECT_EQ(d.BarMax(), 100);  // design range until a length arrives
  d.HeaderData({"HTTP/1.0 200 OK", "Content-Length: 2097152"});
  EXPECT_EQ(d.TotalText(), "2048 KB");
  EXPECT_EQ(d.BarMax(), 2097152);
  d.DocData(350 * 1024);
  EXPECT_EQ(d.ReceiveData(), "350 KB of 2048 KB received");
  EXPECT_EQ(d.BarPos(), 350 * 1024);

  TTransferDisplay n(c.Fn());
  n.HeaderData({"HTTP/1.0 200 OK", "content-length: 2097152"});
  n.DocData(2560);
  EXPECT_EQ(n.ReceiveData(), "2 KB received");
  EXPECT_EQ(n.BarMax(), 100);
}

TEST(TransferDisplay, RelocationAnswerLengthDoesNotStand) {
  TTransferDisplay d;
  d.HeaderBegin();
  d.HeaderData({"HTTP/1.0 303 See Other", "Content-Length: 0"});
  EXPECT_EQ(d.TotalText(), "0 KB");
  d.HeaderBegin();  // the file's own answer, without a length
  d.HeaderData({"HTTP/1.0 200 OK"});
  d.DocData(4096);
  EXPECT_EQ(d.ReceiveData(), "4 KB received");
  EXPECT_EQ(d.BarMax(), 100);
}

// A retry continues the file: the answer (206) carries the rest only, and
// the display goes on from the bytes the file holds, never showing a whole
// bar or an earlier attempt's speed; a restart from zero counts from zero.
TEST(TransferDisplay, ContinuedAttemptCountsOnFromTheFile) {
  Clock c;
  TTransferDisplay d(c.Fn());
  d.HeaderBegin();
  d.HeaderData({"HTTP/1.0 200 OK", "Content-Length: 5000000"});
  d.BodyFrom(0);
  d.DocData(1000);
  c.now += 2000;
  d.DocData(2500000);  // then the connection is reset
  EXPECT_EQ(d.ReceiveSpeed(), "1220.7 KB/S");

  c.now += 1000;  // the retry's wait; its first answer is a relocation
  d.HeaderBegin();
  d.BodyFrom(2500000);
  d.HeaderData({"HTTP/1.0 303 See Other", "Content-Length: 0"});
  EXPECT_EQ(d.TotalText(), "0 KB");  // its own length, not a whole bar
  d.HeaderBegin();
  d.BodyFrom(2500000);
  d.HeaderData({"HTTP/1.0 206 Partial Content", "Content-Length: 2500000"});
  d.BodyFrom(2500000);
  EXPECT_EQ(d.BarMax(), 5000000);
  EXPECT_EQ(d.BarPos(), 2500000);
  EXPECT_EQ(d.TotalText(), "4883 KB");
  d.DocData(8192);
  EXPECT_EQ(d.ReceiveData(), "2449 KB of 4883 KB received");
  EXPECT_EQ(d.BarPos(), 2508192);
  c.now += 2000;
  d.DocData(8192 + 204800);  // this attempt's 208 KB over 2 s, not 2.6 MB
  EXPECT_EQ(d.ReceiveSpeed(), "104.0 KB/S");
  d.DocData(2500000);
  EXPECT_EQ(d.ReceiveData(), "4883 KB of 4883 KB received");
  EXPECT_EQ(d.BarPos(), d.BarMax());

  // A server that ignores the range: the whole file, so the file starts
  // again from zero.
  d.HeaderBegin();
  d.BodyFrom(2500000);
  d.HeaderData({"HTTP/1.0 200 OK", "Content-Length: 5000000"});
  EXPECT_EQ(d.BarMax(), 5000000);
  d.BodyFrom(0);
  EXPECT_EQ(d.BarPos(), 0);
  d.DocData(4096);
  EXPECT_EQ(d.ReceiveData(), "4 KB of 4883 KB received");
}

TEST(TransferDisplay, NoSampleWithinTwoSeconds) {
  Clock c;
  TTransferDisplay d(c.Fn());
  d.HeaderData({"Content-Length: 100000"});
  d.DocData(1000);
  c.now += 1999;
  d.DocData(90000);
  EXPECT_EQ(d.ReceiveSpeed(), "");
  EXPECT_EQ(d.EstimateTime(), "");
}

TEST(TransferDisplay, SamplesMeasureTheLastInterval) {
  Clock c;
  TTransferDisplay d(c.Fn());
  d.HeaderData({"Content-Length: 1048576"});
  d.DocData(10240);  // first piece: the sampling starts here
  EXPECT_EQ(d.LastTick(), 1000u);
  c.now += 2000;
  d.DocData(10240 + 20480);  // 30720 bytes over 2 s: 15.0 KB/S
  EXPECT_EQ(d.ReceiveSpeed(), "15.0 KB/S");
  // (1048576 - 30720) * 2000 / (30720 * 1000) = 66.26 -> 66 s
  EXPECT_EQ(d.EstimateTime(), "00:01:06");
  EXPECT_EQ(d.LastCount(), 30720);
  c.now += 4000;
  d.DocData(30720 + 4096);  // 4 KB over 4 s: 1.0 KB/S
  EXPECT_EQ(d.ReceiveSpeed(), "1.0 KB/S");
  // 1013760 * 4000 / (4096 * 1000) = 990 s
  EXPECT_EQ(d.EstimateTime(), "00:16:30");
}

TEST(TransferDisplay, SampleWithoutNewBytesKeepsEstimate) {
  Clock c;
  TTransferDisplay d(c.Fn());
  d.HeaderData({"Content-Length: 40960"});
  d.DocData(1024);
  c.now += 2000;
  d.DocData(2048);
  const std::string estimate = d.EstimateTime();
  ASSERT_FALSE(estimate.empty());
  c.now += 2500;
  d.DocData(2048);  // nothing new in this interval
  EXPECT_EQ(d.ReceiveSpeed(), "0.0 KB/S");
  EXPECT_EQ(d.EstimateTime(), estimate);
}

TEST(TransferDisplay, NoEstimateWithoutLength) {
  Clock c;
  TTransferDisplay d(c.Fn());
  d.DocData(1024);
  c.now += 3000;
  d.DocData(3 * 2048);  // all bytes so far over 3 s
  EXPECT_EQ(d.ReceiveSpeed(), "2.0 KB/S");
  EXPECT_EQ(d.EstimateTime(), "");
}

TEST(TransferDisplay, TickWrapAndLongEstimates) {
  Clock c;
  c.now = 0xFFFFFF00u;
  TTransferDisplay d(c.Fn());
  d.HeaderData({"Content-Length: 3221225472"});
  d.DocData(1);
  c.now += 3000;  // wraps past zero
  d.DocData(1024);
  EXPECT_EQ(d.ReceiveSpeed(), "0.3 KB/S");
  // (3221225472 - 1024) * 3000 / (1024 * 1000) = 9437181 s
  EXPECT_EQ(d.EstimateTime(), "2621:26:21");
  EXPECT_EQ(FormatRemaining(3599), "00:59:59");
  EXPECT_EQ(FormatRemaining(36000), "10:00:00");
}

// A 206 that covers less than the rest: the bar goes to the total its range
// names, so a short answer never looks like a whole file.
TEST(TransferDisplay, ShortPartialAnswerKeepsTheWholeFilesTotal) {
  Clock c;
  TTransferDisplay d(c.Fn());
  d.HeaderBegin();
  d.BodyFrom(150000);
  d.HeaderData({"HTTP/1.1 206 Partial Content", "Content-Range: bytes 150000-150999/300000",
                "Content-Length: 1000"});
  d.BodyFrom(150000);
  EXPECT_EQ(d.BarMax(), 300000);
  d.DocData(1000);
  EXPECT_EQ(d.ReceiveData(), "147 KB of 293 KB received");
  EXPECT_LT(d.BarPos(), d.BarMax());

  // Without a total in its range, the length after the offset is all there is.
  d.HeaderBegin();
  d.BodyFrom(151000);
  d.HeaderData({"HTTP/1.1 206 Partial Content", "Content-Range: bytes 151000-151999/*", "Content-Length: 1000"});
  EXPECT_EQ(d.BarMax(), 152000);
}
