// The NTLM authentication messages with version 1 responses: negotiate
// (type 1), challenge (type 2) decoding and authenticate (type 3). All
// integers in the messages are little-endian; a "buffer" is a 16-bit length,
// a 16-bit maximum length equal to it and a 32-bit offset from the start.
#pragma once

#include <array>
#include <cstdint>
#include <string>

using TNtlmChallenge = std::array<std::uint8_t, 8>;
using TNtlmHash = std::array<std::uint8_t, 16>;
using TNtlmResponse = std::array<std::uint8_t, 24>;

// What a challenge message carried. Only Challenge is used by the client.
struct TNTLM_Msg2_Info {
  bool Valid = false;        // a challenge was decoded
  std::u16string Target;     // target name
  std::u16string Server;     // server name (target information type 1)
  std::u16string Domain;     // domain name (target information type 2)
  std::uint32_t Flags = 0;
  TNtlmChallenge Challenge{};
};

// Negotiate message as Base64 text. With neither name given it is the 32-byte
// header with flags 0x00008207 and two empty buffers.
std::string NtlmMessage1(const std::string& Host = std::string(),
                         const std::string& Domain = std::string());

// Decodes a Base64 challenge text. An empty text, a message that is not a
// challenge, or one whose buffers point outside it gives Valid == false.
TNTLM_Msg2_Info NtlmMessage2(const std::string& Text);

// Authenticate message as Base64 text, with the LM and NT version 1 responses
// to Challenge. Names are sent as 16-bit characters made by widening each
// byte, without case change.
std::string NtlmMessage3(const std::string& Domain, const std::string& Host,
                         const std::string& User, const std::string& Password,
                         const TNtlmChallenge& Challenge);

// The same messages as raw bytes (no Base64).
std::string NtlmBuildMessage1(const std::string& Host, const std::string& Domain);
TNTLM_Msg2_Info NtlmDecodeMessage2(const std::string& Msg);
std::string NtlmBuildMessage3(const std::string& Domain, const std::string& Host,
                              const std::string& User, const std::string& Password,
                              const TNtlmChallenge& Challenge);

// The pieces of the responses.
TNtlmHash NtlmLmHash(const std::string& Password);  // DES of "KGS!@#$%"
TNtlmHash NtlmNtHash(const std::string& Password);  // MD4 of the widened password
// Hash plus 5 zero bytes as three DES keys, each encrypting the challenge.
TNtlmResponse NtlmResponse(const TNtlmHash& Hash, const TNtlmChallenge& Challenge);
