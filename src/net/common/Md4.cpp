#include "net/common/Md4.h"

#include <cstring>

namespace {
inline std::uint32_t Rotl(std::uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }
inline std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return (x & y) | (~x & z); }
inline std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return (x & y) | (x & z) | (y & z);
}
inline std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return x ^ y ^ z; }
}  // namespace

TMd4Context::TMd4Context() {
  FState[0] = 0x67452301u;
  FState[1] = 0xefcdab89u;
  FState[2] = 0x98badcfeu;
  FState[3] = 0x10325476u;
  FBitCount = 0;
  FBufferLen = 0;
}

void TMd4Context::Transform(const std::uint8_t* Block) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = std::uint32_t(Block[4 * i]) | (std::uint32_t(Block[4 * i + 1]) << 8) |
           (std::uint32_t(Block[4 * i + 2]) << 16) | (std::uint32_t(Block[4 * i + 3]) << 24);
  }
  std::uint32_t a = FState[0], b = FState[1], c = FState[2], d = FState[3];

  // Each round works on the four words in turn; the word that was just
  // computed moves to the back of the queue (a, b, c, d -> d, a, b, c).
  static const int kS1[4] = {3, 7, 11, 19};
  for (int i = 0; i < 16; ++i) {
    std::uint32_t t = Rotl(a + F(b, c, d) + x[i], kS1[i % 4]);
    a = d; d = c; c = b; b = t;
  }
  static const int kS2[4] = {3, 5, 9, 13};
  for (int i = 0; i < 16; ++i) {
    int k = (i % 4) * 4 + i / 4;  // 0, 4, 8, 12, 1, 5, ...
    std::uint32_t t = Rotl(a + G(b, c, d) + x[k] + 0x5a827999u, kS2[i % 4]);
    a = d; d = c; c = b; b = t;
  }
  static const int kS3[4] = {3, 9, 11, 15};
  static const int kK3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  for (int i = 0; i < 16; ++i) {
    std::uint32_t t = Rotl(a + H(b, c, d) + x[kK3[i]] + 0x6ed9eba1u, kS3[i % 4]);
    a = d; d = c; c = b; b = t;
  }
  FState[0] += a;
  FState[1] += b;
  FState[2] += c;
  FState[3] += d;
}

void TMd4Context::Update(const void* Data, std::size_t Len) {
  const auto* p = static_cast<const std::uint8_t*>(Data);
  FBitCount += std::uint64_t(Len) * 8;
  while (Len > 0) {
    std::size_t take = 64 - FBufferLen;
    if (take > Len) take = Len;
    std::memcpy(FBuffer + FBufferLen, p, take);
    FBufferLen += take;
    p += take;
    Len -= take;
    if (FBufferLen == 64) {
      Transform(FBuffer);
      FBufferLen = 0;
    }
  }
}

TMd4Digest TMd4Context::Final() {
  std::uint64_t bits = FBitCount;
  std::uint8_t pad[72] = {0x80};
  std::size_t padLen = (FBufferLen < 56) ? 56 - FBufferLen : 120 - FBufferLen;
  for (int i = 0; i < 8; ++i) pad[padLen + i] = static_cast<std::uint8_t>(bits >> (8 * i));
  Update(pad, padLen + 8);
  TMd4Digest out;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<std::uint8_t>(FState[i] >> (8 * j));
  *this = TMd4Context();
  return out;
}

TMd4Digest Md4Digest(const void* Data, std::size_t Len) {
  TMd4Context ctx;
  ctx.Update(Data, Len);
  return ctx.Final();
}

TMd4Digest Md4Digest(const std::string& Data) { return Md4Digest(Data.data(), Data.size()); }

std::string Md4HexDigest(const TMd4Digest& Digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (std::uint8_t b : Digest) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
  }
  return s;
}
