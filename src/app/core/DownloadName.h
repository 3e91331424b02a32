// The name a download is saved under, made from the page's title: without the
// characters file names cannot hold, never hidden, never empty, and short
// enough for the file system together with ".part" and the part's ".ctl".
#pragma once

#include <cstddef>
#include <string>

// Longest file name (in bytes) the usual Linux file systems take.
constexpr std::size_t kMaxFileNameBytes = 255;
// Appended to a download while it is incomplete.
inline constexpr const char* kPartSuffix = ".part";
// Appended to the part for the file that identifies its bytes.
inline constexpr const char* kControlSuffix = ".ctl";

// `fileName` (the title followed by ".flv", or the design text) as a name in
// the output folder: StripFileNameChars, then leading dots and blanks
// dropped from the part before the extension; an empty part becomes
// `videoId` (cleaned the same way), and a long one is cut at a character
// boundary so that the whole name plus ".part.ctl" fits in kMaxFileNameBytes.
std::string DownloadFileName(const std::string& fileName, const std::string& videoId);

// `text` cut to at most `maxBytes` bytes, never inside a UTF-8 sequence.
std::string CutUtf8(const std::string& text, std::size_t maxBytes);
