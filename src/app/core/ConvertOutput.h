// The converted file: written under a temporary name beside its final one,
// judged when the converter has ended, and only then given its final name.
#pragma once

#include <string>

// "dir/name.part.ext" for "dir/name.ext": the converter picks the format from
// the extension, so the temporary name keeps it ("dir/name.part" without one).
std::string TemporaryOutputName(const std::string& outputFile);

// True for a converter output line that reports a failed write of the output
// file: ffmpeg's own words for it ("Error writing trailer of", "Error closing
// file", "av_interleaved_write_frame():") or a system text that only a failed
// write gives ("No space left on device", "File too large", ...). File names
// in the line must have been taken out by the caller, so that a name holding
// such a text proves nothing.
bool IsWriteErrorLine(const std::string& line);

// `line` with every occurrence of `name` taken out (nothing for an empty name).
std::string WithoutName(std::string line, const std::string& name);

// True for an existing regular file with at least one byte.
bool IsNonEmptyFile(const std::string& path);

// True when both paths name one existing file, through any spelling or link.
bool SameFile(const std::string& a, const std::string& b);
// What a conversion whose output would be its own input is refused with.
std::string OntoItselfText(const std::string& path);
