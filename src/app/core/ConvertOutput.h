// The converted file: written under a temporary name beside its final one,
// and only given its final name when the conversion succeeded.
#pragma once

#include <string>

// "dir/name.part.ext" for "dir/name.ext": the converter picks the format from
// the extension, so the temporary name keeps it ("dir/name.part" without one).
std::string TemporaryOutputName(const std::string& outputFile);
