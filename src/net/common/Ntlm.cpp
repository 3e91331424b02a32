#include "net/common/Ntlm.h"

#include "net/common/Base64.h"
#include "net/common/Des.h"
#include "net/common/Md4.h"

#include <cstring>

#include "platform/AsciiText.h"

namespace {

const char kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', '\0'};

constexpr std::uint32_t kMsg1Flags = 0x00008207u;
constexpr std::uint32_t kMsg1DomainSupplied = 0x00001000u;
constexpr std::uint32_t kMsg1HostSupplied = 0x00002000u;
constexpr std::uint32_t kMsg3Flags = 0x00008205u;
// A buffer length is 16 bits; a name sent as 16-bit characters is cut to fit.
constexpr std::size_t kMaxWideChars = 0xFFFF / 2;

void Put16(std::string& m, std::size_t at, std::uint32_t v) {
  m[at] = static_cast<char>(v & 0xFF);
  m[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& m, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) m[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Writes a buffer descriptor at `at` and appends its data to the message.
void AppendBuffer(std::string& m, std::size_t at, const std::string& data) {
  Put16(m, at, static_cast<std::uint32_t>(data.size()));
  Put16(m, at + 2, static_cast<std::uint32_t>(data.size()));
  Put32(m, at + 4, static_cast<std::uint32_t>(m.size()));
  m += data;
}

std::uint32_t Get16(const std::string& m, std::size_t at) {
  return std::uint32_t(static_cast<unsigned char>(m[at])) |
         (std::uint32_t(static_cast<unsigned char>(m[at + 1])) << 8);
}

std::uint32_t Get32(const std::string& m, std::size_t at) {
  return Get16(m, at) | (Get16(m, at + 2) << 16);
}

std::string Widen(const std::string& s) {
  std::string w;
  std::size_t n = s.size() < kMaxWideChars ? s.size() : kMaxWideChars;
  w.reserve(2 * n);
  for (std::size_t i = 0; i < n; ++i) {
    w += s[i];
    w += '\0';
  }
  return w;
}

std::u16string BytesToWide(const std::string& m, std::size_t at, std::size_t len) {
  std::u16string w;
  w.reserve(len);
  for (std::size_t i = 0; i < len; ++i) w += static_cast<char16_t>(static_cast<unsigned char>(m[at + i]));
  return w;
}

// Reads a buffer descriptor; false when its data lies outside the message.
bool ReadBuffer(const std::string& m, std::size_t at, std::size_t& offset, std::size_t& len) {
  len = Get16(m, at);
  offset = Get32(m, at + 4);
  if (len == 0) return true;
  return offset <= m.size() && len <= m.size() - offset;
}

}  // namespace

std::string NtlmBuildMessage1(const std::string& Host, const std::string& Domain) {
  std::string m(32, '\0');
  std::memcpy(m.data(), kSignature, 8);
  Put32(m, 8, 1);
  std::uint32_t flags = kMsg1Flags;
  if (!Domain.empty()) flags |= kMsg1DomainSupplied;
  if (!Host.empty()) flags |= kMsg1HostSupplied;
  Put32(m, 12, flags);
  // Names are OEM text; both buffers stay zero when no name is given.
  if (!Domain.empty()) AppendBuffer(m, 16, ascii::Upper(Domain.substr(0, 0xFFFF)));
  if (!Host.empty()) AppendBuffer(m, 24, ascii::Upper(Host.substr(0, 0xFFFF)));
  return m;
}

std::string NtlmMessage1(const std::string& Host, const std::string& Domain) {
  return Base64Encode(NtlmBuildMessage1(Host, Domain));
}

TNTLM_Msg2_Info NtlmDecodeMessage2(const std::string& Msg) {
  TNTLM_Msg2_Info info;
  // Signature, type, target name buffer, flags and the challenge.
  if (Msg.size() < 32 || std::memcmp(Msg.data(), kSignature, 8) != 0 || Get32(Msg, 8) != 2)
    return info;
  std::size_t targetOfs, targetLen;
  if (!ReadBuffer(Msg, 12, targetOfs, targetLen)) return info;
  TNTLM_Msg2_Info out;
  out.Target = BytesToWide(Msg, targetOfs, targetLen);
  out.Flags = Get32(Msg, 20);
  std::memcpy(out.Challenge.data(), Msg.data() + 24, 8);

  // Older servers end the message before the target information buffer.
  if (Msg.size() >= 48) {
    std::size_t infoOfs, infoLen;
    if (!ReadBuffer(Msg, 40, infoOfs, infoLen)) return info;
    std::size_t p = infoOfs;
    const std::size_t end = infoOfs + infoLen;
    while (infoLen > 0 && end - p >= 4) {
      std::uint32_t type = Get16(Msg, p);
      std::size_t len = Get16(Msg, p + 2);
      if (type == 0 && len == 0) break;
      p += 4;
      if (len > end - p) return info;  // entry runs past its buffer
      if (type == 1) out.Server = BytesToWide(Msg, p, len);
      else if (type == 2) out.Domain = BytesToWide(Msg, p, len);
      p += len;
    }
  }
  out.Valid = true;
  return out;
}

TNTLM_Msg2_Info NtlmMessage2(const std::string& Text) {
  if (Text.empty()) return TNTLM_Msg2_Info();
  return NtlmDecodeMessage2(Base64Decode(Text));
}

TNtlmHash NtlmLmHash(const std::string& Password) {
  std::uint8_t pw[14] = {};
  std::string up = ascii::Upper(Password.substr(0, 14));
  std::memcpy(pw, up.data(), up.size());
  static const TDesBlock kMagic = {'K', 'G', 'S', '!', '@', '#', '$', '%'};
  TNtlmHash h;
  for (int half = 0; half < 2; ++half) {
    TDesBlock c = DesEncryptBlock(DesKeyFrom7Bytes(pw + 7 * half), kMagic);
    std::memcpy(h.data() + 8 * half, c.data(), 8);
  }
  return h;
}

TNtlmHash NtlmNtHash(const std::string& Password) {
  std::string w;
  w.reserve(2 * Password.size());
  for (char c : Password) {
    w += c;
    w += '\0';
  }
  return Md4Digest(w);
}

TNtlmResponse NtlmResponse(const TNtlmHash& Hash, const TNtlmChallenge& Challenge) {
  std::uint8_t keys[21] = {};
  std::memcpy(keys, Hash.data(), 16);
  TDesBlock plain;
  std::memcpy(plain.data(), Challenge.data(), 8);
  TNtlmResponse r;
  for (int i = 0; i < 3; ++i) {
    TDesBlock c = DesEncryptBlock(DesKeyFrom7Bytes(keys + 7 * i), plain);
    std::memcpy(r.data() + 8 * i, c.data(), 8);
  }
  return r;
}

std::string NtlmBuildMessage3(const std::string& Domain, const std::string& Host,
                              const std::string& User, const std::string& Password,
                              const TNtlmChallenge& Challenge) {
  TNtlmResponse lm = NtlmResponse(NtlmLmHash(Password), Challenge);
  TNtlmResponse nt = NtlmResponse(NtlmNtHash(Password), Challenge);
  std::string m(64, '\0');
  std::memcpy(m.data(), kSignature, 8);
  Put32(m, 8, 3);
  AppendBuffer(m, 28, Widen(Domain));
  AppendBuffer(m, 36, Widen(User));
  AppendBuffer(m, 44, Widen(Host));
  AppendBuffer(m, 12, std::string(reinterpret_cast<const char*>(lm.data()), lm.size()));
  AppendBuffer(m, 20, std::string(reinterpret_cast<const char*>(nt.data()), nt.size()));
  // Empty session key, placed at the end of the data.
  Put32(m, 56, static_cast<std::uint32_t>(m.size()));
  Put32(m, 60, kMsg3Flags);
  return m;
}

std::string NtlmMessage3(const std::string& Domain, const std::string& Host,
                         const std::string& User, const std::string& Password,
                         const TNtlmChallenge& Challenge) {
  return Base64Encode(NtlmBuildMessage3(Domain, Host, User, Password, Challenge));
}
