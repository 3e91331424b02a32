// When a transfer's bytes came, to judge its rate over every window of a
// given length: the reads themselves (Read, before and after each) or a
// count looked at now and then (Seen). Either way a window is measured only
// between two records, so it never shows more than really came.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

class TRateWindow {
 public:
  TRateWindow() : FStart(std::chrono::steady_clock::now()) {}

  void Read(std::int64_t bytes) {
    const std::int64_t t = Now();
    FRecords.push_back({t, FCount});
    FCount += bytes;
    FRecords.push_back({t, FCount});
  }
  void Seen(std::int64_t count) {
    FCount = count;
    FRecords.push_back({Now(), count});
  }
  std::int64_t Count() const { return FCount; }

  // The most bytes that came within `ms` milliseconds.
  std::int64_t Most(std::int64_t ms) const {
    std::int64_t most = 0;
    std::size_t first = 0;
    for (std::size_t last = 0; last < FRecords.size(); ++last) {
      while (FRecords[last].Us - FRecords[first].Us > ms * 1000) ++first;
      most = std::max(most, FRecords[last].Count - FRecords[first].Count);
    }
    return most;
  }
  // The median of what came in each `ms` window ending at a record, from the
  // first full window on; 0 when the transfer was shorter.
  std::int64_t Median(std::int64_t ms) const {
    std::vector<std::int64_t> windows;
    std::size_t first = 0;
    for (std::size_t last = 0; last < FRecords.size(); ++last) {
      if (FRecords[last].Us - FRecords.front().Us < ms * 1000) continue;
      while (FRecords[last].Us - FRecords[first].Us > ms * 1000) ++first;
      windows.push_back(FRecords[last].Count - FRecords[first].Count);
    }
    if (windows.empty()) return 0;
    std::nth_element(windows.begin(), windows.begin() + windows.size() / 2, windows.end());
    return windows[windows.size() / 2];
  }

 private:
  struct TRecord {
    std::int64_t Us;
    std::int64_t Count;
  };
  std::int64_t Now() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - FStart).count();
  }
  std::chrono::steady_clock::time_point FStart;
  std::int64_t FCount = 0;
  std::vector<TRecord> FRecords;
};
