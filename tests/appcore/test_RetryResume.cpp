// Which failures are retried and after how long (Retry-After as seconds or
// as an HTTP date), and what an answer to a range request means for the
// bytes already on disk.
#include <gtest/gtest.h>

#include "app/core/HttpDate.h"
#include "app/core/ResumeDecision.h"
#include "app/core/RetryPolicy.h"

TEST(RetryPolicy, WhichFailuresAreRetried) {
  const std::vector<std::string> none;
  struct Case {
    int status;
    std::uint16_t error;
    std::string timeout;
    TFailureKind kind;
    bool retried;
  };
  const Case cases[] = {
      {200, 0, "", fkNone, false},
      {206, 0, "", fkNone, false},
      {200, 10054, "", fkReset, true},   // reset in the body
      {200, 10053, "", fkReset, true},
      {200, 4, "", fkClosedEarly, true},  // closed before the announced end
      {404, 10060, "", fkTimeout, true},  // the system's own connect time-out
      {404, 3, "Timed out: nothing received for 60 seconds", fkTimeout, true},
      {404, 10061, "", fkOther, false},  // refused: nobody listens
      {404, 11001, "", fkOther, false},  // unknown host
      {200, 5, "", fkOther, false},      // invalid chunk size
      {0, 0, "", fkOther, false},        // no status line
      {404, 0, "", fkStatus, false},
      {403, 0, "", fkStatus, false},
      {416, 0, "", fkStatus, false},
      {408, 0, "", fkStatus, true},
      {429, 0, "", fkStatus, true},
      {500, 0, "", fkStatus, true},
      {501, 0, "", fkStatus, false},
      {502, 0, "", fkStatus, true},
      {503, 0, "", fkStatus, true},
      {504, 0, "", fkStatus, true},
      {505, 0, "", fkStatus, false},
  };
  for (const Case& c : cases) {
    const TTransferFailure f = ClassifyRequest(c.status, "Reason", c.error, none, false, c.timeout);
    EXPECT_EQ(f.Kind, c.kind) << c.status << "/" << c.error;
    EXPECT_EQ(TRetryPolicy::Retryable(f), c.retried) << c.status << "/" << c.error;
  }
  // Stop wins over whatever the client saw.
  const TTransferFailure stopped = ClassifyRequest(503, "x", 10054, none, true, "Timed out");
  EXPECT_EQ(stopped.Kind, fkStopped);
  EXPECT_FALSE(TRetryPolicy::Retryable(stopped));
  // The connect limit keeps its own kind; the reset says what happened.
  EXPECT_EQ(ClassifyRequest(404, "x", 3, none, false, "Timed out: not connected", true).Kind, fkConnectTimeout);
  EXPECT_EQ(ClassifyRequest(200, "OK", 10054, none, false).Reason, "Connection reset by peer (Error #10054)");

  TRetryPolicy three(3), zero(0);
  const TTransferFailure reset = ClassifyRequest(200, "OK", 10054, none, false);
  EXPECT_TRUE(three.MayRetry(reset, 1));
  EXPECT_TRUE(three.MayRetry(reset, 3));
  EXPECT_FALSE(three.MayRetry(reset, 4));
  EXPECT_FALSE(zero.MayRetry(reset, 1));
  EXPECT_EQ(TRetryPolicy(-2).Retries(), 0);
}

TEST(RetryPolicy, BackoffAndRetryAfter) {
  const TTransferFailure reset = ClassifyRequest(200, "OK", 10054, {}, false);
  const int expected[] = {1, 2, 4, 8, 16, 30, 30, 30};
  for (int attempt = 1; attempt <= 8; ++attempt)
    EXPECT_EQ(TRetryPolicy::DelaySeconds(reset, attempt), expected[attempt - 1]) << attempt;
  EXPECT_EQ(TRetryPolicy::DelaySeconds(reset, 1000), 30);

  auto busy = [](const std::string& retryAfter) {
    return ClassifyRequest(503, "Service Unavailable", 0, {"HTTP/1.1 503 Service Unavailable", "Retry-After: " + retryAfter},
                           false);
  };
  EXPECT_EQ(TRetryPolicy::DelaySeconds(busy("5"), 3), 5);
  EXPECT_EQ(TRetryPolicy::DelaySeconds(busy(" 0 "), 2), 0);
  EXPECT_EQ(TRetryPolicy::DelaySeconds(busy("120"), 1), 60);
  EXPECT_EQ(TRetryPolicy::DelaySeconds(busy("99999999999999"), 1), 60);
  // A date is read against this machine's clock when the answer has no
  // Date: one that has passed means at once, an unreadable one the backoff.
  EXPECT_EQ(TRetryPolicy::DelaySeconds(busy("Wed, 21 Oct 2015 07:28:00 GMT"), 3), 0);
  EXPECT_EQ(TRetryPolicy::DelaySeconds(busy("Wed, 21 Oct 2999 07:28:00 GMT"), 3), 60);
  EXPECT_EQ(TRetryPolicy::DelaySeconds(busy("Wed, 32 Oct 2999 07:28:00 GMT"), 3), 4);
  EXPECT_EQ(TRetryPolicy::DelaySeconds(busy("-5"), 1), 1);

  EXPECT_EQ(TRetryPolicy::RetryLine(busy("5"), 1, 3, 5), "503 Service Unavailable; retry 1 of 3 in 5 seconds");
  EXPECT_EQ(TRetryPolicy::RetryLine(reset, 2, 4, 1), "Connection reset by peer (Error #10054); retry 2 of 4 in 1 second");
}

TEST(RetryPolicy, RetryAfterAsAnHttpDate) {
  // 2015-10-21 07:28:00 UTC.
  const std::int64_t at = 1445412480;
  for (const char* form : {"Wed, 21 Oct 2015 07:28:00 GMT", "Wednesday, 21-Oct-15 07:28:00 GMT",
                           "Wed Oct 21 07:28:00 2015", "wed, 21 oct 2015 07:28:00 utc"})
    EXPECT_EQ(ParseHttpDate(form), at) << form;
  EXPECT_EQ(ParseHttpDate("Thu, 01 Jan 1970 00:00:00 GMT"), 0);
  EXPECT_EQ(ParseHttpDate("Tue, 29 Feb 2000 23:59:59 GMT"), 951868799);
  for (const char* bad : {"", "soon", "Wed, 21 Oct 2015", "Wed, 21 Foo 2015 07:28:00 GMT", "Fri, 29 Feb 2019 00:00:00 GMT",
                          "Wed, 21 Oct 2015 24:00:00 GMT", "Wed, 21 Oct 2015 07:28:00 GMT extra", "Wed, 21 Oct 15015 07:28:00 GMT",
                          "Wed, 21 Oct 2015 7:28:00 GMT", "Wed, 00 Oct 2015 07:28:00 GMT"})
    EXPECT_FALSE(ParseHttpDate(bad)) << bad;

  // Counted from the answer's Date, whatever this machine's clock says.
  const std::vector<std::string> header = {"HTTP/1.1 503 Service Unavailable", "Date: Wed, 21 Oct 2015 07:27:50 GMT",
                                           "Retry-After: Wed, 21 Oct 2015 07:28:00 GMT"};
  EXPECT_EQ(RetryAfterSeconds(header, 0), 10);
  EXPECT_EQ(RetryAfterSeconds(header, at + 100000), 10);
  // Without one, from now; a date before now is at once.
  EXPECT_EQ(RetryAfterSeconds({"Retry-After: Wed, 21 Oct 2015 07:28:00 GMT"}, at - 25), 25);
  EXPECT_EQ(RetryAfterSeconds({"Retry-After: Wed, 21 Oct 2015 07:28:00 GMT"}, at + 25), 0);
  EXPECT_EQ(RetryAfterSeconds({"Retry-After: 12"}, at), 12);
  EXPECT_FALSE(RetryAfterSeconds({"Retry-After: later"}, at));
  EXPECT_FALSE(RetryAfterSeconds({"Date: Wed, 21 Oct 2015 07:28:00 GMT"}, at));
  // The wait is capped as for seconds.
  TTransferFailure busy = ClassifyRequest(503, "Service Unavailable", 0, {}, false);
  busy.RetryAfter = RetryAfterSeconds({"Date: Wed, 21 Oct 2015 07:00:00 GMT", "Retry-After: Wed, 21 Oct 2015 07:28:00 GMT"}, 0);
  EXPECT_EQ(TRetryPolicy::DelaySeconds(busy, 1), 60);
}

TEST(ResumeDecision, ContentRangeValues) {
  std::optional<TContentRange> r = ParseContentRange("bytes 100-199/200");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->First, 100);
  EXPECT_EQ(r->Last, 199);
  EXPECT_EQ(r->Total, 200);
  EXPECT_FALSE(r->Unsatisfied);
  r = ParseContentRange("Bytes 0-0/*");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Total, -1);
  r = ParseContentRange("bytes */5000");
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->Unsatisfied);
  EXPECT_EQ(r->Total, 5000);
  for (const char* bad : {"bytes 100-99/200", "bytes 100-200/200", "bytes */*", "items 0-1/2", "bytes 1-2", "bytes a-2/3",
                          "bytes -2/3", ""})
    EXPECT_FALSE(ParseContentRange(bad)) << bad;
}

TEST(ResumeDecision, AnswersToARangeRequest) {
  auto with = [](const std::string& range) {
    return std::vector<std::string>{"HTTP/1.1 x", "Content-Range: " + range};
  };
  EXPECT_EQ(DecideResume(500, 206, with("bytes 500-999/1000")).Action, raContinue);
  EXPECT_EQ(DecideResume(500, 206, with("bytes 500-999/*")).Action, raContinue);
  EXPECT_EQ(DecideResume(500, 206, with("bytes 400-999/1000")).Action, raMismatch);
  EXPECT_EQ(DecideResume(500, 206, {"HTTP/1.1 206"}).Action, raMismatch);
  const TResumeDecision restart = DecideResume(500, 200, {});
  EXPECT_EQ(restart.Action, raRestart);
  EXPECT_NE(restart.Why.find("from zero"), std::string::npos);
  EXPECT_EQ(DecideResume(0, 200, {}).Action, raContinue);  // nothing was asked for
  EXPECT_EQ(DecideResume(1000, 416, with("bytes */1000")).Action, raComplete);
  const TResumeDecision longer = DecideResume(1200, 416, with("bytes */1000"));
  EXPECT_EQ(longer.Action, raMismatch);
  EXPECT_NE(longer.Why.find("1000 bytes"), std::string::npos);
  EXPECT_EQ(DecideResume(1000, 416, {}).Action, raRefused);
  // Error answers, and answers the client goes on from, write nothing.
  EXPECT_EQ(DecideResume(500, 503, {}).Action, raRefused);
  EXPECT_EQ(DecideResume(500, 404, {}).Action, raRefused);
  EXPECT_EQ(DecideResume(500, 0, {}).Action, raRefused);
  EXPECT_EQ(DecideResume(500, 302, {}, true).Action, raNotFinal);
  EXPECT_EQ(DecideResume(500, 407, {}).Action, raNotFinal);
  EXPECT_EQ(DecideResume(500, 302, {}).Action, raRefused);
}
