// Published test vectors for the building blocks of the authentication
// schemes: Base64 (RFC 4648 section 10), MD4 (RFC 1320 appendix A.5) and
// DES (FIPS 81 and NIST SP 800-17 known answers).
#include "net/common/Base64.h"
#include "net/common/Des.h"
#include "net/common/Md4.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TDesBlock Block(unsigned long long v) {
  TDesBlock b;
  for (int i = 7; i >= 0; --i) {
    b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v & 0xFF);
    v >>= 8;
  }
  return b;
}

}  // namespace

TEST(Base64, Rfc4648Vectors) {
  const char* vectors[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                              {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                              {"foobar", "Zm9vYmFy"}};
  for (const auto& v : vectors) {
    EXPECT_EQ(Base64Encode(std::string(v[0])), v[1]) << v[0];
    EXPECT_EQ(Base64Decode(v[1]), v[0]) << v[1];
  }
}

TEST(Base64, EveryByteValueRoundTripsAndUsesTheStandardAlphabet) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  std::string text = Base64Encode(all);
  EXPECT_EQ(text.size(), 344u);
  EXPECT_EQ(text.find_first_not_of(
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
            std::string::npos);
  EXPECT_EQ(Base64Decode(text), all);
  EXPECT_EQ(Base64Encode(std::string("\xfb\xff", 2)), "+/8=");
}

TEST(Base64, DecodingSkipsForeignCharactersAndStopsAtPadding) {
  EXPECT_EQ(Base64Decode(" Zm9v\r\nYmFy "), "foobar");
  EXPECT_EQ(Base64Decode("Zg==Zm9v"), "f");
  // A lone trailing character carries no whole byte.
  EXPECT_EQ(Base64Decode("Zm9vY"), "foo");
  EXPECT_EQ(Base64Decode("!!!"), "");
}

TEST(Md4, Rfc1320TestSuite) {
  const char* vectors[][2] = {
      {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
      {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
      {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
      {"message digest", "d9130a8164549fe818874806e1c7014b"},
      {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "043f8582f241db351ce627e153e7f0e4"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "e33b4ddc9c38f2199c3e7b164fcc0536"}};
  for (const auto& v : vectors) EXPECT_EQ(Md4HexDigest(Md4Digest(std::string(v[0]))), v[1]) << v[0];
}

TEST(Md4, PiecewiseUpdatesGiveTheSameDigestAcrossBlockBoundaries) {
  std::string msg;
  for (int i = 0; i < 300; ++i) msg += static_cast<char>('a' + i % 26);
  // Lengths around the padding limits (55, 56, 63, 64) and several blocks.
  for (std::size_t len : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 300u}) {
    std::string part = msg.substr(0, len);
    TMd4Digest whole = Md4Digest(part);
    TMd4Context ctx;
    for (std::size_t i = 0; i < len; i += 7) ctx.Update(part.data() + i, std::min<std::size_t>(7, len - i));
    EXPECT_EQ(ctx.Final(), whole) << len;
    // Final resets the context for the next message.
    ctx.Update("abc", 3);
    EXPECT_EQ(Md4HexDigest(ctx.Final()), "a448017aaf21d8525fc10ae87aa6729d");
  }
}

TEST(Des, KnownAnswers) {
  // FIPS 81, ECB example: "Now is t" under key 0123456789abcdef.
  EXPECT_EQ(DesEncryptBlock(Block(0x0123456789abcdefULL), Block(0x4e6f772069732074ULL)),
            Block(0x3fa40e8a984d4815ULL));
  // NIST SP 800-17 variable plaintext test, first round: key of parity bits only.
  EXPECT_EQ(DesEncryptBlock(Block(0x0101010101010101ULL), Block(0x8000000000000000ULL)),
            Block(0x95f8a5e5dd31d900ULL));
  // Parity bits do not take part: the same key with them cleared.
  EXPECT_EQ(DesEncryptBlock(Block(0x0000000000000000ULL), Block(0x8000000000000000ULL)),
            Block(0x95f8a5e5dd31d900ULL));
}

TEST(Des, DecryptionUndoesEncryption) {
  TDesBlock key = Block(0x133457799bbcdff1ULL);
  for (unsigned long long p : {0x0ULL, 0x0123456789abcdefULL, 0xffffffffffffffffULL, 0x8000000000000001ULL}) {
    TDesBlock c = DesEncryptBlock(key, Block(p));
    EXPECT_NE(c, Block(p));
    EXPECT_EQ(DesDecryptBlock(key, c), Block(p));
  }
  EXPECT_EQ(DesDecryptBlock(Block(0x0123456789abcdefULL), Block(0x3fa40e8a984d4815ULL)),
            Block(0x4e6f772069732074ULL));
}

TEST(Des, SevenByteKeysSpreadOverEightBytesWithOddParity) {
  const std::uint8_t ones[7] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
  EXPECT_EQ(DesKeyFrom7Bytes(ones), Block(0xfefefefefefefefeULL));
  const std::uint8_t zeros[7] = {};
  EXPECT_EQ(DesKeyFrom7Bytes(zeros), Block(0x0101010101010101ULL));
  // 0x01 23 45 67 89 ab cd: bits 0000000 1001000 1101000 1010110 0111100 0100110 1010111 1001101
  const std::uint8_t k[7] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd};
  EXPECT_EQ(DesKeyFrom7Bytes(k), Block(0x0191d0ad794cae9bULL));
  // The empty password's LM hash half: DES of "KGS!@#$%" under the zero key.
  const TDesBlock magic = {'K', 'G', 'S', '!', '@', '#', '$', '%'};
  EXPECT_EQ(DesEncryptBlock(DesKeyFrom7Bytes(zeros), magic), Block(0xaad3b435b51404eeULL));
}
