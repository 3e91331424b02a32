// MD4 message digest (RFC 1320); NTLM hashes passwords with it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

using TMd4Digest = std::array<std::uint8_t, 16>;

class TMd4Context {
 public:
  TMd4Context();
  void Update(const void* Data, std::size_t Len);
  // Pads, returns the digest and resets the context for a new message.
  TMd4Digest Final();

 private:
  void Transform(const std::uint8_t* Block);
  std::uint32_t FState[4];
  std::uint64_t FBitCount;
  std::uint8_t FBuffer[64];
  std::size_t FBufferLen;
};

TMd4Digest Md4Digest(const void* Data, std::size_t Len);
TMd4Digest Md4Digest(const std::string& Data);
// Lower-case hexadecimal text of a digest.
std::string Md4HexDigest(const TMd4Digest& Digest);
