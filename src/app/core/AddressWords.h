// The web addresses a text holds: what a user pasted or typed into the
// address box may be more than one, separated by blanks or line breaks.
#pragma once

#include <string>
#include <vector>

// Each word of `text` (split at characters of code 32 or less) that begins
// with "http://" or "https://" in any letter case, in order.
std::vector<std::string> AddressesIn(const std::string& text);
