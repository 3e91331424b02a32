// When a failed transfer is tried again and after how long: resets, closes
// before the end, time-outs and the answers 408, 429, 500, 502, 503 and 504
// are retried after 1, 2, 4, ... seconds (at most 30), or after the seconds
// of a "Retry-After" answer (at most 60).
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

// "Retry-After" in seconds (delta-seconds only; a date is not used).
std::optional<int> RetryAfterSeconds(const std::vector<std::string>& header);

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
