// What the converter is given: the command line text that is shown and
// logged, and the argument list it is really started with.
#pragma once

#include "app/core/ConvertTags.h"

#include <string>
#include <vector>

// "ffmpeg [-y ]-i "<input>" <preset>"<output>"", the pieces joined as they
// stand (the preset ends with its own blank).
std::string ConverterCommandLine(bool overwrite, const std::string& inputFile, const std::string& preset,
                                 const std::string& outputFile);

// The same as a list, with no quoting involved: every name a file system
// allows reaches the converter unchanged. Relative paths get "./" in front so
// that a leading dash is no option and a colon no protocol prefix. The tags
// (TagArguments) stand between the preset and the output path.
std::vector<std::string> ConverterArguments(bool overwrite, const std::string& inputFile,
                                            const std::string& preset, const std::string& outputFile,
                                            const TConvertTags& tags = {});
