// Reading a watch page: the title that names the downloaded file, the video
// token, the video id, and the addresses built from a watch address (login,
// birth-date confirmation, get_video). Pure text work, no I/O.
#pragma once

#include <optional>
#include <string>

namespace page {

// What the service writes on the page; compared as noted.
inline constexpr const char* kTitleMarker = "meta name=\"title\" content=\"";  // exact case
inline constexpr const char* kTokenMarker = "\"t\": \"OEgs";                    // exact case
inline constexpr const char* kAgeGateText = "please verify you are 18 or older";  // any case
inline constexpr const char* kBirthDateText = "confirm birth date";                // any case
inline constexpr const char* kNotAvailableText =
    "This functionality is not available right now.";  // exact case
inline constexpr const char* kWatchKey = "watch?v=";   // any case

// The title after the title marker, up to the next double quote, with every
// "&amp;" folded to "&" until none is left. Nothing when the marker or the
// closing quote is missing.
std::optional<std::string> ExtractTitle(const std::string& pageText);

// The token: from the "OEgs" of the token marker up to the next double quote.
// Nothing when the marker (exact case) or the closing quote is missing.
std::optional<std::string> ExtractToken(const std::string& pageText);

// Everything after the first "=" of the watch address (later "&" and "="
// included); nothing when the address has no "=".
std::optional<std::string> VideoIdOf(const std::string& watchUrl);

bool HasAgeGate(const std::string& pageText);
bool HasBirthDateConfirmation(const std::string& pageText);
bool IsNotAvailable(const std::string& pageText);

// Percent-encodes every byte outside the unreserved set (letters, digits,
// "-", ".", "_", "~"), so that a value cannot end or split a query field.
std::string PercentEncode(const std::string& value);

// The watch address with "login?next=/" put where "watch?v=" begins (found
// without regard to case; the address keeps its own case), followed by the
// encoded credentials and the login action. Nothing without "watch?v=".
std::optional<std::string> BuildLoginAddress(const std::string& watchUrl, const std::string& user,
                                             const std::string& password);

// The watch address with "verify_age?next_url=/" put where "watch?v=" begins
// and the confirm action appended. Nothing without "watch?v=".
std::optional<std::string> BuildVerifyAgeAddress(const std::string& watchUrl);

// "http://" + host + "/get_video?video_id=" + id + "&t=" + token.
std::string BuildGetVideoAddress(const std::string& serviceHost, const std::string& videoId,
                                 const std::string& token);

// Folds "&amp;" to "&" until none is left.
std::string FoldAmpersands(std::string text);

}  // namespace page
