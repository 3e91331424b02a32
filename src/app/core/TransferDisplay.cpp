#include "app/core/TransferDisplay.h"

#include "app/core/Global.h"
#include "app/core/HeaderField.h"
#include "app/core/ResumeDecision.h"
#include "platform/MessageLoop.h"

#include <climits>
#include <cstdio>
#include <stdexcept>

std::int64_t KiloBytesHalfEven(std::int64_t n) {
  const bool negative = n < 0;
  // Work on the magnitude; INT64_MIN cannot be a byte count, clamp it.
  std::uint64_t m = negative ? (n == INT64_MIN ? static_cast<std::uint64_t>(INT64_MAX)
                                               : static_cast<std::uint64_t>(-n))
                             : static_cast<std::uint64_t>(n);
  std::uint64_t q = m / 1024, r = m % 1024;
  if (r > 512 || (r == 512 && (q & 1) != 0)) ++q;
  return negative ? -static_cast<std::int64_t>(q) : static_cast<std::int64_t>(q);
}

namespace {

std::int64_t ParseLength(const std::string& text) {
  std::string::size_type i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i < text.size() && text[i] == '+') ++i;
  const std::string::size_type digits = i;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') break;
    if (value > (INT64_MAX - (c - '0')) / 10) {
      value = -1;
      break;
    }
    value = value * 10 + (c - '0');
  }
  if (value < 0 || i == digits || i != text.size())
    throw std::invalid_argument("'" + text + "' is not a valid integer value");
  return value;
}

}  // namespace

std::int64_t ContentLengthFromHeader(const std::vector<std::string>& header) {
  static const std::string name = "Content-Length:";
  for (const std::string& line : header) {
    if (line.compare(0, name.size(), name) != 0 || line.size() < name.size()) continue;
    const std::string::size_type space = line.find(' ');
    return ParseLength(space == std::string::npos ? line : line.substr(space + 1));
  }
  return -1;
}

std::string FormatRemaining(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const std::int64_t hours = seconds / 3600;
  return TwoDigits(hours > INT_MAX ? INT_MAX : static_cast<int>(hours)) + ":" +
         TwoDigits(static_cast<int>((seconds % 3600) / 60)) + ":" +
         TwoDigits(static_cast<int>(seconds % 60));
}

TTransferDisplay::TTransferDisplay(TickFn tick) : FTick(std::move(tick)) {
  if (!FTick) FTick = [] { return plat::GetTickCount(); };
}

void TTransferDisplay::Reset() {
  FTotalText.clear();
  FLength = -1;
  FPartial = false;
  FRangeTotal = -1;
  FOffset = 0;
  FLastTick = 0;
  FLastCount = 0;
  FBarMax = kDesignMax;
  FBarPos = 0;
  FReceiveData.clear();
  FReceiveSpeed.clear();
  FEstimateTime.clear();
}

void TTransferDisplay::HeaderBegin() {
  FTotalText.clear();
  FBarMax = kDesignMax;
  FLength = -1;
  FPartial = false;
  FRangeTotal = -1;
  FOffset = 0;
}

void TTransferDisplay::HeaderData(const std::vector<std::string>& header) {
  const std::int64_t length = ContentLengthFromHeader(header);
  if (length < 0) return;
  FLength = length;
  // Only a partial answer's length is the rest after what the file holds;
  // any other (a relocation, the whole file) stands for itself.
  FPartial = !header.empty() && header[0].find(" 206") != std::string::npos;
  // A 206 may cover less than the rest: the file is whole only at the total
  // its range names, so that is what the bar goes to.
  std::string range;
  if (FPartial && HeaderValue(header, "Content-Range", range)) {
    const std::optional<TContentRange> r = ParseContentRange(range);
    if (r && r->Total >= 0) FRangeTotal = r->Total;
  }
  SetTotal(WholeLength());
}

std::int64_t TTransferDisplay::WholeLength() const {
  if (FRangeTotal >= 0) return FRangeTotal;
  return FLength + (FPartial ? FOffset : 0);
}

void TTransferDisplay::SetTotal(std::int64_t total) {
  FBarMax = total;
  FTotalText = std::to_string(KiloBytesHalfEven(total)) + " KB";
}

void TTransferDisplay::BodyFrom(std::int64_t offset) {
  FOffset = offset;
  if (FLength >= 0) SetTotal(WholeLength());
  // A first answer has no samples to drop; a later attempt's samples start
  // here, not from what an earlier one had counted.
  if (offset == 0 && FLastCount == 0) return;
  FBarPos = offset;
  FLastTick = 0;
  FLastCount = offset;
}

void TTransferDisplay::DocData(std::int64_t bodyCount) {
  const std::int64_t receivedCount = FOffset + bodyCount;
  // Without an announced length the total would be empty: show the count alone.
  FReceiveData = std::to_string(KiloBytesHalfEven(receivedCount)) + " KB" +
                 (HasTotal() ? " of " + FTotalText : std::string()) + " received";
  FBarPos = receivedCount;
  if (FLastTick == 0) FLastTick = FTick();
  const std::uint32_t now = FTick();
  const std::uint32_t elapsed = now - FLastTick;
  if (elapsed < kSampleMs) return;

  const std::int64_t delta = receivedCount - FLastCount;
  if (delta <= 0) {
    // Nothing new in this interval: no speed, and the old estimate stands.
    FReceiveSpeed = "0.0 KB/S";
  } else {
    const double speed = static_cast<double>(delta) / (elapsed / 1000.0) / 1024.0;
    char text[64];
    std::snprintf(text, sizeof text, "%.1f KB/S", speed);
    FReceiveSpeed = text;
    if (HasTotal()) {
      const std::int64_t remaining = FBarMax > receivedCount ? FBarMax - receivedCount : 0;
      const std::int64_t interval = static_cast<std::uint32_t>(FTick() - FLastTick);
      std::int64_t seconds;
      if (interval == 0 || remaining <= INT64_MAX / interval) {
        seconds = remaining * interval / (delta * 1000);
      } else {
        seconds = static_cast<std::int64_t>(static_cast<long double>(remaining) * interval /
                                            (static_cast<long double>(delta) * 1000));
      }
      FEstimateTime = FormatRemaining(seconds);
    }
  }
  FLastCount = receivedCount;
  FLastTick = FTick();
}
