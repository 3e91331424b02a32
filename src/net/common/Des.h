// Single-block DES (FIPS 46-3, one 64-bit block, no chaining), which the NTLM
// version 1 responses need, and the spreading of a 56-bit key over 8 bytes.
#pragma once

#include <array>
#include <cstdint>

using TDesBlock = std::array<std::uint8_t, 8>;

// Key: 8 bytes, the low bit of each (parity) is ignored.
TDesBlock DesEncryptBlock(const TDesBlock& Key, const TDesBlock& Plain);
TDesBlock DesDecryptBlock(const TDesBlock& Key, const TDesBlock& Cipher);

// Spreads 7 bytes (56 key bits, most significant first) over 8 bytes, 7 bits
// in the high bits of each, the low bit set for odd parity.
TDesBlock DesKeyFrom7Bytes(const std::uint8_t* Key7);
