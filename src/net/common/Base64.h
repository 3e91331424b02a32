// Base64 with the standard alphabet and "=" padding, no line breaks
// (RFC 4648 section 4), for Basic credentials and NTLM messages.
#pragma once

#include <string>

std::string Base64Encode(const std::string& Data);
std::string Base64Encode(const void* Data, std::size_t Len);

// Lenient decoding of what a server sends: characters outside the alphabet
// (blanks, line ends) are skipped, decoding stops at the first "=", and a
// trailing group too short to carry a whole byte is dropped.
std::string Base64Decode(const std::string& Text);
