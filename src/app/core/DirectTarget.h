// Direct addresses: an http or https address that is not a watch page is
// downloaded as it is, named after the answer's Content-Disposition or else
// after the address's document name (the HTTP client's DocName rule).
#pragma once

#include <string>
#include <vector>

// A watch page over http (IsVideoPageUrl) or over https, the same address
// with the secure scheme.
bool IsWatchPageAddress(const std::string& input);
// "http://" or "https://" (any letter case) and not a watch page.
bool IsDirectAddress(const std::string& input);
// The client's DocName of an address: the last part of its path without the
// query, "document.htm" for an empty path or one ending in "/".
std::string DocNameOf(const std::string& url);
// The name the answer asks for, else the address's document name; not yet
// cleaned for the file system.
std::string DirectFileName(const std::string& url, const std::vector<std::string>& header);
