// The file name an answer's "Content-Disposition" suggests (RFC 6266):
// "filename*" (RFC 8187, UTF-8 or ISO-8859-1, percent-encoded) before
// "filename" (a token or a quoted string), reduced to its last path part.
#pragma once

#include <optional>
#include <string>
#include <vector>

// From one header value; nothing when it names no usable file name.
std::optional<std::string> ContentDispositionFileName(const std::string& value);
// From the first "Content-Disposition" line of an answer's header.
std::optional<std::string> ContentDispositionFileName(const std::vector<std::string>& header);
