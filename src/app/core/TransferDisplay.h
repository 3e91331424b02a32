// What the transfer panel shows while a video file arrives: the size label,
// the bar, the speed and the time remaining, derived from the response
// header lines and the received byte count. No widgets, no network.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Rounds n / 1024 to the nearest whole number, halves to even.
std::int64_t KiloBytesHalfEven(std::int64_t n);

// The value of the first header line that begins exactly with
// "Content-Length:", or -1 when there is none. A value that is not a
// decimal integer throws std::invalid_argument.
std::int64_t ContentLengthFromHeader(const std::vector<std::string>& header);

class TTransferDisplay {
 public:
  static constexpr std::int64_t kDesignMax = 100;      // the bar's range before a length is known
  static constexpr std::uint32_t kSampleMs = 2000;     // shortest speed-sample interval

  using TickFn = std::function<std::uint32_t()>;
  explicit TTransferDisplay(TickFn tick = nullptr);

  // A new transfer: no samples yet; labels and bar as designed.
  void Reset();
  // A new response header begins (a relocation's answer is not the file's):
  // no length known yet.
  void HeaderBegin();
  // On every header line: picks up the announced length (throws on a bad one).
  void HeaderData(const std::vector<std::string>& header);
  // The answer's body is written after `offset` bytes the file already
  // holds (a continued download; 0 otherwise): the total and the count
  // include them, and the speed is sampled afresh. Given after HeaderBegin
  // and again at the header's end, when the answer may have emptied the file.
  void BodyFrom(std::int64_t offset);
  // On every piece of body data; `bodyCount` (the answer's received count)
  // includes the piece.
  void DocData(std::int64_t bodyCount);

  bool HasTotal() const { return !FTotalText.empty(); }
  std::int64_t BarMax() const { return FBarMax; }
  std::int64_t BarPos() const { return FBarPos; }
  const std::string& TotalText() const { return FTotalText; }
  const std::string& ReceiveData() const { return FReceiveData; }
  const std::string& ReceiveSpeed() const { return FReceiveSpeed; }
  const std::string& EstimateTime() const { return FEstimateTime; }
  std::uint32_t LastTick() const { return FLastTick; }
  std::int64_t LastCount() const { return FLastCount; }

 private:
  TickFn FTick;
  void SetTotal(std::int64_t total);
  // The file's whole length as the current answer tells it.
  std::int64_t WholeLength() const;

  std::string FTotalText;     // "<total KB> KB"; empty until a length is known
  std::int64_t FLength = -1;  // the answer's announced length
  bool FPartial = false;      // the answer is a 206: its length is the rest
  std::int64_t FRangeTotal = -1;  // the whole file's length a 206's Content-Range names
  std::int64_t FOffset = 0;   // bytes in the file before the answer's body
  std::uint32_t FLastTick = 0;  // 0: no sample yet
  std::int64_t FLastCount = 0;
  std::int64_t FBarMax = kDesignMax;
  std::int64_t FBarPos = 0;
  std::string FReceiveData, FReceiveSpeed, FEstimateTime;
};

// "hh:mm:ss" through TwoDigits; hours may exceed 99.
std::string FormatRemaining(std::int64_t seconds);
