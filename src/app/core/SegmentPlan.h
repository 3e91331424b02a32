// Which bytes of a file are done and which connection fetches which part of
// the rest, for a download over several connections. Each connection owns
// one claim [Pos, End): it writes at Pos and moves it on. A connection that
// needs work takes a gap nobody owns or, when there is none, the upper half
// of the largest claim still running, so that no slow tail is left to one.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

struct TByteRange {
  std::int64_t Begin = 0;  // first byte
  std::int64_t End = 0;    // one past the last
  std::int64_t Size() const { return End - Begin; }
  bool operator==(const TByteRange&) const = default;
};

class TSegmentPlan {
 public:
  // `pieceCap`: most bytes one claim starts with (0: no cap). `minSplit`: a
  // claim is halved only when both halves hold at least this many bytes.
  TSegmentPlan(std::int64_t total, std::int64_t pieceCap, std::int64_t minSplit);

  std::int64_t Total() const { return FTotal; }
  // Ranges outside the file or empty are ignored; overlapping ones merge.
  void AddDone(TByteRange r);
  const std::vector<TByteRange>& Done() const { return FDone; }
  std::int64_t DoneBytes() const;
  bool Complete() const;

  // Work for connection `id` (which must hold no claim): nothing when every
  // missing byte is owned by a claim too small to halve. `most` caps a
  // claim taken from a gap (0: only the piece cap), so that connections
  // starting together take equal shares. `leastHalf` (0: the least split)
  // lowers the least half taken over, for a claim slow to finish.
  std::optional<TByteRange> Claim(int id, std::int64_t most = 0, std::int64_t leastHalf = 0);
  // Work for `id` that starts at `begin`, a byte nobody has or owns: up to
  // the next byte that is done or owned, `most` and the piece cap (0: no
  // cap). Nothing when `id` holds a claim or `begin` is taken.
  std::optional<TByteRange> ClaimAt(int id, std::int64_t begin, std::int64_t most = 0);
  // The claim of `id`; nothing when it holds none.
  std::optional<TByteRange> ClaimOf(int id) const;
  // `id` wrote `count` bytes at its Pos: they are done and Pos moves on.
  // Returns how many of them belong to the claim (the rest is dropped).
  std::int64_t Received(int id, std::int64_t count);
  // `id` gives its claim up; what it did not write is missing again.
  void Release(int id);
  // Bytes nobody has and nobody owns.
  std::int64_t Unowned() const;

 private:
  std::vector<TByteRange> Missing() const;
  std::int64_t FTotal, FPieceCap, FMinSplit;
  std::vector<TByteRange> FDone;  // sorted, disjoint, not touching
  std::map<int, TByteRange> FClaims;
};
