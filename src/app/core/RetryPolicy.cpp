#include "app/core/RetryPolicy.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "app/core/HeaderField.h"
#include "app/core/HttpDate.h"
#include "net/http/HttpErrors.h"
#include "net/socket/WSocket.h"
#include "platform/AsciiText.h"

namespace {

bool IsResetError(std::uint16_t e) {
  switch (e) {
    case httperr::kNetDown:
    case httperr::kNetReset:
    case httperr::kConnAborted:
    case httperr::kConnReset:
    case httperr::kShutdown:
      return true;
    default:
      return false;
  }
}

bool RetryableStatus(int s) { return s == 408 || s == 429 || s == 500 || s == 502 || s == 503 || s == 504; }

}  // namespace

std::optional<int> RetryAfterSeconds(const std::vector<std::string>& header, std::int64_t now) {
  std::string value;
  if (!HeaderValue(header, "Retry-After", value)) return std::nullopt;
  if (ascii::AllDigits(value)) {
    if (value.size() > 9) return 1000000000;
    return std::atoi(value.c_str());
  }
  const std::optional<std::int64_t> when = ParseHttpDate(value);
  if (!when) return std::nullopt;
  std::string date;
  if (HeaderValue(header, "Date", date))
    if (const std::optional<std::int64_t> sent = ParseHttpDate(date)) now = *sent;
  return static_cast<int>(std::clamp<std::int64_t>(*when - now, 0, 1000000000));
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
  } else if (requestDoneError == httperr::kTlsTruncated) {
    f.Kind = fkReset;  // a retry may find a length
  } else if (requestDoneError == httperr::kTimedOut) {
    f.Kind = fkTimeout;
    f.Reason = WinsockErrorText(requestDoneError);
  } else if (requestDoneError == httperr::kIncomplete) {
    f.Kind = fkClosedEarly;
  } else if (requestDoneError != 0 || status == 0) {
    f.Kind = fkOther;  // no answer worth the name
  } else if (status < 200 || status > 299) {
    f.Kind = fkStatus;
    f.RetryAfter = RetryAfterSeconds(header, static_cast<std::int64_t>(std::time(nullptr)));
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
