// When a failed transfer is tried again and after how long: resets, closes
// before the end, time-outs and the answers 408, 429, 500, 502, 503 and 504
// are retried after 1, 2, 4, ... seconds (at most 30), or when a
// "Retry-After" answer says (its seconds or its date; at most 60 seconds).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum TFailureKind {
  fkNone,            // the transfer succeeded
  fkReset,           // the connection was reset or broken
  fkClosedEarly,     // the connection closed before the end of the answer
  fkTimeout,         // nothing received for the time limit
  fkConnectTimeout,  // no connection within the time limit
  fkStatus,          // an error status
  fkStopped,         // the user stopped the job
  fkLocal,           // this side failed: the file could not be written
  fkOther,           // anything else: refused, unknown host, a bad answer
};

struct TTransferFailure {
  TFailureKind Kind = fkNone;
  int Status = 0;         // the answer's status, for fkStatus
  std::string Reason;     // what the client or the time limit said
  std::optional<int> RetryAfter;  // seconds of a "Retry-After" answer
};

// What a finished request of THttpCli amounts to, from its status, the error
// it ended with and its answer's header; `timeout` is the text of a time
// limit that ended it, `connectTimeout` tells which one.
TTransferFailure ClassifyRequest(int status, const std::string& reasonPhrase, std::uint16_t requestDoneError,
                                 const std::vector<std::string>& header, bool stopped,
                                 const std::string& timeout = std::string(), bool connectTimeout = false);

// "Retry-After" in seconds: its delta-seconds, or its HTTP date counted
// from the answer's own "Date" (from `now`, seconds since 1970, when it has
// none), so that a clock that differs from the server's does not matter; a
// date that has passed is 0.
std::optional<int> RetryAfterSeconds(const std::vector<std::string>& header, std::int64_t now);

class TRetryPolicy {
 public:
  static constexpr int kMaxBackoffSeconds = 30;
  static constexpr int kMaxRetryAfterSeconds = 60;

  explicit TRetryPolicy(int retries = 3) : FRetries(retries < 0 ? 0 : retries) {}

  int Retries() const { return FRetries; }
  // True when a failure of this kind is worth another attempt.
  static bool Retryable(const TTransferFailure& f);
  // Whether attempt number `attempt` (1 for the first retry) may run.
  bool MayRetry(const TTransferFailure& f, int attempt) const { return attempt <= FRetries && Retryable(f); }
  // Seconds to wait before retry `attempt` (1, 2, 4, ... capped at 30;
  // Retry-After capped at 60 wins when the answer carried one).
  static int DelaySeconds(const TTransferFailure& f, int attempt);
  // One line for the user: why and when the next attempt comes.
  static std::string RetryLine(const TTransferFailure& f, int attempt, int retries, int delaySeconds);

 private:
  int FRetries;
};

// Short text of a failure, for the retry line and the final message.
std::string FailureText(const TTransferFailure& f);
