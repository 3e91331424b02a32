#include "net/common/Base64.h"
#include "net/common/Ntlm.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (unsigned char b : bytes) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
  }
  return s;
}

template <std::size_t N>
std::string Hex(const std::array<std::uint8_t, N>& a) {
  return Hex(std::string(reinterpret_cast<const char*>(a.data()), N));
}

unsigned Le16(const std::string& m, std::size_t at) {
  return static_cast<unsigned char>(m.at(at)) | (static_cast<unsigned char>(m.at(at + 1)) << 8);
}

unsigned Le32(const std::string& m, std::size_t at) { return Le16(m, at) | (Le16(m, at + 2) << 16); }

// The data a buffer descriptor at `at` names.
std::string BufferData(const std::string& m, std::size_t at) {
  unsigned len = Le16(m, at);
  EXPECT_EQ(Le16(m, at + 2), len) << "maximum length differs at " << at;
  return m.substr(Le32(m, at + 4), len);
}

void Put16(std::string& m, std::size_t at, unsigned v) {
  m[at] = static_cast<char>(v & 0xFF);
  m[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& m, std::size_t at, unsigned v) {
  Put16(m, at, v & 0xFFFF);
  Put16(m, at + 2, v >> 16);
}

const TNtlmChallenge kChallenge = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};

// A challenge message: target name "DOM" at 48, target information with a
// server name, a domain name, an unknown entry and the terminator.
std::string SampleChallenge() {
  std::string info;
  auto entry = [&](unsigned type, const std::string& value) {
    std::string e(4, '\0');
    Put16(e, 0, type);
    Put16(e, 2, static_cast<unsigned>(value.size()));
    info += e + value;
  };
  entry(1, "SRV");
  entry(2, "DOMAIN");
  entry(7, "12345678");
  entry(0, "");
  std::string m(48, '\0');
  m.replace(0, 8, std::string("NTLMSSP\0", 8));
  Put32(m, 8, 2);
  Put16(m, 12, 3);
  Put16(m, 14, 3);
  Put32(m, 16, 48);
  Put32(m, 20, 0x00810201);
  for (int i = 0; i < 8; ++i) m[24 + i] = static_cast<char>(kChallenge[i]);
  Put16(m, 40, static_cast<unsigned>(info.size()));
  Put16(m, 42, static_cast<unsigned>(info.size()));
  Put32(m, 44, 51);
  return m + "DOM" + info;
}

}  // namespace

TEST(NtlmResponses, NtlmV1ExampleOfTheProtocolDocumentation) {
  // User "User", domain "Domain", password "Password", challenge
  // 0123456789abcdef: the NT hash is the well-known MD4 of the UTF-16LE
  // password, the LM hash that of "PASSWORD".
  EXPECT_EQ(Hex(NtlmNtHash("Password")), "a4f49c406510bdcab6824ee7c30fd852");
  EXPECT_EQ(Hex(NtlmLmHash("Password")), "e52cac67419a9a224a3b108f3fa6cb6d");
  EXPECT_EQ(Hex(NtlmResponse(NtlmNtHash("Password"), kChallenge)),
            "67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
  EXPECT_EQ(Hex(NtlmResponse(NtlmLmHash("Password"), kChallenge)),
            "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13");
}

TEST(NtlmResponses, LmHashIgnoresCaseAndTheCharactersAfterFourteen) {
  EXPECT_EQ(NtlmLmHash("password"), NtlmLmHash("PASSWORD"));
  EXPECT_EQ(NtlmLmHash("abcdefghijklmnXYZ"), NtlmLmHash("ABCDEFGHIJKLMN"));
  EXPECT_NE(NtlmLmHash("abcdefghijklm"), NtlmLmHash("abcdefghijklmn"));
  // An empty password gives the well-known empty LM hash.
  EXPECT_EQ(Hex(NtlmLmHash("")), "aad3b435b51404eeaad3b435b51404ee");
  // The NT hash keeps case, and of the empty password is MD4 of nothing.
  EXPECT_NE(NtlmNtHash("password"), NtlmNtHash("PASSWORD"));
  EXPECT_EQ(Hex(NtlmNtHash("")), "31d6cfe0d16ae931b73c59d7e0c089c0");
}

TEST(NtlmMessage1, NegotiateMessageIsTheBare32ByteHeader) {
  std::string m = Base64Decode(NtlmMessage1());
  ASSERT_EQ(m.size(), 32u);
  EXPECT_EQ(m.substr(0, 8), std::string("NTLMSSP\0", 8));
  EXPECT_EQ(Le32(m, 8), 1u);
  EXPECT_EQ(Le32(m, 12), 0x00008207u);
  EXPECT_EQ(m.substr(16), std::string(16, '\0'));
  EXPECT_EQ(NtlmMessage1(), "TlRMTVNTUAABAAAAB4IAAAAAAAAAAAAAAAAAAAAAAAA=");
}

TEST(NtlmMessage1, GivenNamesFollowTheHeaderInUpperCase) {
  std::string m = NtlmBuildMessage1("myhost", "Dom");
  EXPECT_EQ(Le32(m, 12), 0x00008207u | 0x1000u | 0x2000u);
  EXPECT_EQ(BufferData(m, 16), "DOM");
  EXPECT_EQ(BufferData(m, 24), "MYHOST");
  EXPECT_EQ(m.size(), 32u + 3 + 6);
  EXPECT_EQ(Le32(NtlmBuildMessage1("h", ""), 12), 0x00008207u | 0x2000u);
}

TEST(NtlmMessage2, DecodesChallengeAndNamesByteByByte) {
  TNTLM_Msg2_Info info = NtlmMessage2(Base64Encode(SampleChallenge()));
  ASSERT_TRUE(info.Valid);
  EXPECT_EQ(info.Challenge, kChallenge);
  EXPECT_EQ(info.Flags, 0x00810201u);
  EXPECT_EQ(info.Target, u"DOM");
  EXPECT_EQ(info.Server, u"SRV");
  EXPECT_EQ(info.Domain, u"DOMAIN");
  // UTF-16 names arrive as one wide character per byte.
  std::string m = SampleChallenge();
  m[48] = 'D';
  m[49] = '\0';
  m[50] = 'O';
  EXPECT_EQ(NtlmDecodeMessage2(m).Target, std::u16string(u"D\0O", 3));
}

TEST(NtlmMessage2, OldStyleMessageWithoutTargetInformation) {
  std::string m = SampleChallenge().substr(0, 40);
  Put16(m, 12, 0);
  Put16(m, 14, 0);
  TNTLM_Msg2_Info info = NtlmDecodeMessage2(m);
  ASSERT_TRUE(info.Valid);
  EXPECT_EQ(info.Challenge, kChallenge);
  EXPECT_TRUE(info.Target.empty());
  EXPECT_TRUE(info.Server.empty());
}

TEST(NtlmMessage2, EmptyTruncatedOrForeignMessagesAreNotDecoded) {
  EXPECT_FALSE(NtlmMessage2("").Valid);
  EXPECT_FALSE(NtlmMessage2("!!!!").Valid);
  std::string good = SampleChallenge();
  for (std::size_t len : {0u, 8u, 24u, 31u}) EXPECT_FALSE(NtlmDecodeMessage2(good.substr(0, len)).Valid) << len;
  std::string typeOne = good;
  Put32(typeOne, 8, 1);
  EXPECT_FALSE(NtlmDecodeMessage2(typeOne).Valid);
  std::string badSig = good;
  badSig[0] = 'X';
  EXPECT_FALSE(NtlmDecodeMessage2(badSig).Valid);
}

TEST(NtlmMessage2, HostileOffsetsAndLengthsAreRefusedWithoutReadingOutside) {
  const std::string good = SampleChallenge();
  ASSERT_TRUE(NtlmDecodeMessage2(good).Valid);
  const unsigned size = static_cast<unsigned>(good.size());
  struct Case {
    std::size_t at;  // buffer descriptor
    unsigned len, offset;
  } cases[] = {
      {12, 3, size - 2},        // target name runs past the end
      {12, 3, size},            // starts at the end
      {12, 1, 0xFFFFFFFFu},     // offset that would wrap
      {12, 0xFFFF, 48},         // length beyond the message
      {40, 200, 51},            // target information too long
      {40, 4, 0xFFFFFFF0u},     // target information far outside
  };
  for (const Case& c : cases) {
    std::string m = good;
    Put16(m, c.at, c.len);
    Put16(m, c.at + 2, c.len);
    Put32(m, c.at + 4, c.offset);
    // Copied to a buffer of exactly the message size so that the address
    // sanitizer sees any read beyond it.
    std::string exact(m.data(), m.size());
    EXPECT_FALSE(NtlmDecodeMessage2(exact).Valid) << c.at << " " << c.len << " " << c.offset;
  }
  // An entry of the target information whose length runs past its buffer.
  std::string m = good;
  Put16(m, 51 + 2, 0x7FFF);
  EXPECT_FALSE(NtlmDecodeMessage2(m).Valid);
  // An empty buffer may point anywhere: nothing is read.
  std::string empty = good;
  Put16(empty, 12, 0);
  Put16(empty, 14, 0);
  Put32(empty, 16, 0xFFFFFFFFu);
  TNTLM_Msg2_Info info = NtlmDecodeMessage2(empty);
  EXPECT_TRUE(info.Valid);
  EXPECT_TRUE(info.Target.empty());
}

TEST(NtlmMessage2, TargetInformationEndsAtItsBufferWithoutTerminator) {
  std::string m = SampleChallenge();
  // Cut the information buffer after the server entry (4 + 3 bytes).
  Put16(m, 40, 7);
  Put16(m, 42, 7);
  TNTLM_Msg2_Info info = NtlmDecodeMessage2(m);
  ASSERT_TRUE(info.Valid);
  EXPECT_EQ(info.Server, u"SRV");
  EXPECT_TRUE(info.Domain.empty());
}

TEST(NtlmMessage3, LayoutResponsesAndWidenedNames) {
  std::string m = Base64Decode(NtlmMessage3("", "Host1", "User", "Password", kChallenge));
  ASSERT_GE(m.size(), 64u);
  EXPECT_EQ(m.substr(0, 8), std::string("NTLMSSP\0", 8));
  EXPECT_EQ(Le32(m, 8), 3u);
  EXPECT_EQ(Le32(m, 60), 0x00008205u);
  // Domain, user and host follow the header in this order, then LM and NT.
  EXPECT_EQ(Le32(m, 28 + 4), 64u);
  EXPECT_EQ(Le16(m, 28), 0u);
  EXPECT_EQ(Le32(m, 36 + 4), 64u);
  EXPECT_EQ(BufferData(m, 36), std::string("U\0s\0e\0r\0", 8));
  EXPECT_EQ(Le32(m, 44 + 4), 72u);
  EXPECT_EQ(BufferData(m, 44), std::string("H\0o\0s\0t\0" "1\0", 10));
  EXPECT_EQ(Le32(m, 12 + 4), 82u);
  EXPECT_EQ(Hex(BufferData(m, 12)), "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13");
  EXPECT_EQ(Le32(m, 20 + 4), 106u);
  EXPECT_EQ(Hex(BufferData(m, 20)), "67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
  EXPECT_EQ(Le16(m, 52), 0u);  // no session key
  EXPECT_EQ(m.size(), 130u);
}

TEST(NtlmMessage3, DomainAndUserAreSentAsGivenWithoutSplittingOrCaseChange) {
  std::string m = NtlmBuildMessage3("Domain", "", "dom\\Us", "x", kChallenge);
  EXPECT_EQ(BufferData(m, 28), std::string("D\0o\0m\0a\0i\0n\0", 12));
  EXPECT_EQ(BufferData(m, 36), std::string("d\0o\0m\0\\\0U\0s\0", 12));
  EXPECT_EQ(Le16(m, 44), 0u);
  // The responses come right after the names.
  EXPECT_EQ(Le32(m, 12 + 4), 64u + 12 + 12);
}

TEST(NtlmMessage3, OverlongNamesAreCutToWhatALengthFieldHolds) {
  std::string user(40000, 'u');
  std::string m = NtlmBuildMessage3("", "", user, "pw", kChallenge);
  EXPECT_EQ(Le16(m, 36), 0xFFFEu);
  EXPECT_EQ(Hex(BufferData(m, 20)), Hex(NtlmResponse(NtlmNtHash("pw"), kChallenge)));
}
