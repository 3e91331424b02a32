#include "app/core/SegmentPlan.h"

#include <algorithm>

TSegmentPlan::TSegmentPlan(std::int64_t total, std::int64_t pieceCap, std::int64_t minSplit)
    : FTotal(std::max<std::int64_t>(total, 0)),
      FPieceCap(std::max<std::int64_t>(pieceCap, 0)),
      FMinSplit(std::max<std::int64_t>(minSplit, 1)) {}

void TSegmentPlan::AddDone(TByteRange r) {
  r.Begin = std::max<std::int64_t>(r.Begin, 0);
  r.End = std::min(r.End, FTotal);
  if (r.End <= r.Begin) return;
  std::vector<TByteRange> merged;
  merged.reserve(FDone.size() + 1);
  bool placed = false;
  for (const TByteRange& d : FDone) {
    if (d.End < r.Begin) {
      merged.push_back(d);
    } else if (r.End < d.Begin) {
      if (!placed) merged.push_back(r);
      placed = true;
      merged.push_back(d);
    } else {
      r.Begin = std::min(r.Begin, d.Begin);  // touching or overlapping
      r.End = std::max(r.End, d.End);
    }
  }
  if (!placed) merged.push_back(r);
  FDone = std::move(merged);
}

std::int64_t TSegmentPlan::DoneBytes() const {
  std::int64_t n = 0;
  for (const TByteRange& d : FDone) n += d.Size();
  return n;
}

bool TSegmentPlan::Complete() const { return DoneBytes() == FTotal; }

std::vector<TByteRange> TSegmentPlan::Missing() const {
  // What is neither done nor owned, in order.
  std::vector<TByteRange> taken = FDone;
  for (const auto& [id, c] : FClaims)
    if (c.End > c.Begin) taken.push_back(c);
  std::sort(taken.begin(), taken.end(), [](const TByteRange& a, const TByteRange& b) { return a.Begin < b.Begin; });
  std::vector<TByteRange> missing;
  std::int64_t at = 0;
  for (const TByteRange& t : taken) {
    if (t.Begin > at) missing.push_back({at, t.Begin});
    at = std::max(at, t.End);
  }
  if (at < FTotal) missing.push_back({at, FTotal});
  return missing;
}

std::int64_t TSegmentPlan::Unowned() const {
  std::int64_t n = 0;
  for (const TByteRange& m : Missing()) n += m.Size();
  return n;
}

std::optional<TByteRange> TSegmentPlan::Claim(int id, std::int64_t most, std::int64_t leastHalf) {
  if (FClaims.count(id)) return std::nullopt;
  const std::vector<TByteRange> missing = Missing();
  if (!missing.empty()) {
    TByteRange r = missing.front();
    if (FPieceCap > 0 && r.Size() > FPieceCap) r.End = r.Begin + FPieceCap;
    if (most > 0 && r.Size() > most) r.End = r.Begin + most;
    FClaims[id] = r;
    return r;
  }
  // No gap: the upper half of the largest claim.
  auto largest = FClaims.end();
  for (auto it = FClaims.begin(); it != FClaims.end(); ++it)
    if (largest == FClaims.end() || it->second.Size() > largest->second.Size()) largest = it;
  const std::int64_t half = leastHalf > 0 ? std::min(leastHalf, FMinSplit) : FMinSplit;
  if (largest == FClaims.end() || largest->second.Size() < 2 * half) return std::nullopt;
  TByteRange& owner = largest->second;
  const std::int64_t mid = owner.Begin + owner.Size() / 2;
  const TByteRange r{mid, owner.End};
  owner.End = mid;
  FClaims[id] = r;
  return r;
}

std::optional<TByteRange> TSegmentPlan::ClaimAt(int id, std::int64_t begin, std::int64_t most) {
  if (FClaims.count(id)) return std::nullopt;
  for (const TByteRange& m : Missing()) {
    if (begin < m.Begin || begin >= m.End) continue;
    TByteRange r{begin, m.End};
    if (FPieceCap > 0 && r.Size() > FPieceCap) r.End = r.Begin + FPieceCap;
    if (most > 0 && r.Size() > most) r.End = r.Begin + most;
    FClaims[id] = r;
    return r;
  }
  return std::nullopt;
}

std::optional<TByteRange> TSegmentPlan::ClaimOf(int id) const {
  const auto it = FClaims.find(id);
  if (it == FClaims.end()) return std::nullopt;
  return it->second;
}

std::int64_t TSegmentPlan::Received(int id, std::int64_t count) {
  const auto it = FClaims.find(id);
  if (it == FClaims.end() || count <= 0) return 0;
  TByteRange& c = it->second;
  const std::int64_t n = std::min(count, c.Size());
  AddDone({c.Begin, c.Begin + n});
  c.Begin += n;
  return n;
}

void TSegmentPlan::Release(int id) { FClaims.erase(id); }
