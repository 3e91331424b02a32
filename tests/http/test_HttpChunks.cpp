// The chunked decoder on its own: the same document whatever the slicing,
// the last chunk and its trailer end the body exactly, and a size line it
// cannot take stops it for good.
#include <gtest/gtest.h>

#include "net/http/HttpChunks.h"

namespace {

struct TDecoded {
  std::string Data;
  std::int32_t Used = 0;
  TChunkState State = chkSize;
};

// Feeds `input` in slices of `step` bytes until the decoder stops taking them.
TDecoded Decode(const std::string& input, std::size_t step) {
  THttpChunkDecoder d;
  d.Reset();
  TDecoded out;
  auto onData = [&](const char* p, std::int32_t n) {
    out.Data.append(p, static_cast<std::size_t>(n));
    return true;
  };
  for (std::size_t at = 0; at < input.size(); at += step) {
    const auto n = static_cast<std::int32_t>(std::min(step, input.size() - at));
    const std::int32_t used = d.Decode(input.data() + at, n, onData, nullptr);
    out.Used += used;
    if (used < n) break;
  }
  out.State = d.State();
  return out;
}

}  // namespace

TEST(HttpChunks, SameDocumentWhateverTheSlicing) {
  const std::string body = "1A;ext=1\r\nabcdefghijklmnopqrstuvwxyz\r\n3\r\n, w\r\n0\r\nX-T: 1\r\n\r\nNEXT";
  for (std::size_t step : {1u, 2u, 7u, 1000u}) {
    TDecoded d = Decode(body, step);
    EXPECT_EQ(d.Data, "abcdefghijklmnopqrstuvwxyz, w") << step;
    EXPECT_EQ(d.State, chkDone) << step;
    EXPECT_EQ(d.Used, static_cast<std::int32_t>(body.size() - 4)) << step;  // "NEXT" is not the body's
  }
}

TEST(HttpChunks, SizeLinesItCannotTake) {
  for (const char* body : {"zz\r\nab\r\n0\r\n\r\n", "\r\n0\r\n\r\n", ";x\r\n", "2\r\nab\r\n\r\n0\r\n\r\n",
                           "1FFFFFFFFFFFFFFFF\r\n"}) {
    for (std::size_t step : {1u, 1000u}) {
      TDecoded d = Decode(body, step);
      EXPECT_EQ(d.State, chkBadSize) << body << " / " << step;
      EXPECT_LT(d.Used, static_cast<std::int32_t>(std::string(body).size())) << body;
    }
  }
}
