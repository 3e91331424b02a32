// Lenient address splitting for the HTTP client: every address it handles
// (the request URL, the proxy, "Location" values) goes through ParseURL.
#pragma once

#include <string>

// Splits Url into its parts. On entry Path holds the base path used for
// "./" and "../" references (the caller's current request path); on return
// all six outputs hold what was found, each empty when absent. Proto is lower
// case; the other parts keep their case. Never fails: the caller supplies the
// defaults (scheme "http", port "80", path "/").
void ParseURL(const std::string& Url, std::string& Proto, std::string& User,
              std::string& Pass, std::string& Host, std::string& Port,
              std::string& Path);

// True when Port starts with a digit but is no such number ("0", "83616",
// "80x"): it names no port, and a larger number must not wrap into another
// one. A name (a letter first) is the socket's to look up.
bool IsBadPortNumber(const std::string& Port);
// "port 83616 is not a number from 1 to 65535", for a Port that is not one
// (a long text is cut short).
std::string PortProblem(const std::string& Port);

// Url up to and including the last "/" or ":" before the first "?" (the whole
// text when there is no "?"); empty when there is none.
std::string UrlBase(const std::string& Url);

// Position (from 1) of the last occurrence of Sub in S; 0 when absent or
// when Sub is empty.
int LastPos(const std::string& Sub, const std::string& S);
