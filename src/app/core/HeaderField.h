// Header lines of a received answer as the job reads them ("Name: value"):
// names compared in any letter case, values trimmed of blanks.
#pragma once

#include <string>
#include <string_view>

#include "platform/AsciiText.h"

// True when the header line is named `name` (any letter case); `value`
// receives its trimmed value.
inline bool HeaderLine(const std::string& line, std::string_view name, std::string& value) {
  const std::string::size_type colon = line.find(':');
  if (colon == std::string::npos) return false;
  if (!ascii::EqualNoCase(ascii::Trim(std::string_view(line).substr(0, colon)), name)) return false;
  value = ascii::Trim(std::string_view(line).substr(colon + 1));
  return true;
}

// The value of the first header line named `name`; false when none is.
template <typename Lines>
bool HeaderValue(const Lines& header, std::string_view name, std::string& value) {
  for (const std::string& line : header)
    if (HeaderLine(line, name, value)) return true;
  return false;
}
