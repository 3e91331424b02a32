#include "app/core/RetryPolicy.h"

#include <algorithm>
#include <cstdlib>

#include "app/core/AsciiText.h"
#include "net/socket/WSocket.h"

namespace {

// The client's request-done codes for an answer cut short, and for a body
// to the close that a TCP close without TLS close_notify ended.
constexpr std::uint16_t kErrIncomplete = 4;
constexpr std::uint16_t kErrTlsTruncated = 14;

bool IsResetError(std::uint16_t e) {
  switch (e) {
    case 10050:  // network down
    case 10052:  // network dropped the connection
    case 10053:  // connection aborted
    case 10054:  // connection reset by peer
    case 10058:  // shut down
      return true;
    default:
      return false;
  }
}

bool RetryableStatus(int s) { return s == 408 || s == 429 || s == 500 || s == 502 || s == 503 || s == 504; }

}  // namespace

std::optional<int> RetryAfterSeconds(const std::vector<std::string>& header) {
  std::string value;
  if (!ascii::HeaderValue(header, "Retry-After", value) || !ascii::AllDigits(value)) return std::nullopt;
  if (value.size() > 9) return 1000000000;
  return std::atoi(value.c_str());
}

TTransferFailure ClassifyRequest(int status, const std::string& reasonPhrase, std::uint16_t requestDoneError,
                                 const std::vector<std::string>& header, bool stopped, const std::string& timeout,
                                 bool connectTimeout) {
  TTransferFailure f;
  f.Status = status;
  f.Reason = reasonPhrase;
  if (stopped) {
    f.Kind = fkStopped;
    f.Reason = "stopped";
  } else if (!timeout.empty()) {
    f.Kind = connectTimeout ? fkConnectTimeout : fkTimeout;
    f.Reason = timeout;
  } else if (IsResetError(requestDoneError)) {
    f.Kind = fkReset;
    f.Reason = WinsockErrorText(requestDoneError) + " (Error #" + std::to_string(requestDoneError) + ")";
  } else if (requestDoneError == kErrTlsTruncated) {
    f.Kind = fkReset;  // a retry may find a length
  } else if (requestDoneError == 10060) {
    f.Kind = fkTimeout;
    f.Reason = WinsockErrorText(requestDoneError);
  } else if (requestDoneError == kErrIncomplete) {
    f.Kind = fkClosedEarly;
  } else if (requestDoneError != 0 || status == 0) {
    f.Kind = fkOther;  // no answer worth the name
  } else if (status < 200 || status > 299) {
    f.Kind = fkStatus;
    f.RetryAfter = RetryAfterSeconds(header);
  }
  return f;
}

bool TRetryPolicy::Retryable(const TTransferFailure& f) {
  switch (f.Kind) {
    case fkReset:
    case fkClosedEarly:
    case fkTimeout:
    case fkConnectTimeout:
      return true;
    case fkStatus:
      return RetryableStatus(f.Status);
    case fkNone:
    case fkStopped:
    case fkLocal:
    case fkOther:
      return false;
  }
  return false;
}

int TRetryPolicy::DelaySeconds(const TTransferFailure& f, int attempt) {
  if (f.Kind == fkStatus && f.RetryAfter) return std::clamp(*f.RetryAfter, 0, kMaxRetryAfterSeconds);
  int delay = 1;
  for (int i = 1; i < attempt && delay < kMaxBackoffSeconds; ++i) delay *= 2;
  return std::min(delay, kMaxBackoffSeconds);
}

std::string FailureText(const TTransferFailure& f) {
  if (f.Kind == fkStatus) {
    std::string text = std::to_string(f.Status);
    if (!f.Reason.empty()) text += " " + f.Reason;
    return text;
  }
  return f.Reason.empty() ? std::string("transfer failed") : f.Reason;
}

std::string TRetryPolicy::RetryLine(const TTransferFailure& f, int attempt, int retries, int delaySeconds) {
  return FailureText(f) + "; retry " + std::to_string(attempt) + " of " + std::to_string(retries) + " in " +
         std::to_string(delaySeconds) + (delaySeconds == 1 ? " second" : " seconds");
}
