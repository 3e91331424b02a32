// The output formats: label in the format list, extension of the converted
// file, and the converter options put before the output path. The first ten
// rows keep their places, so a stored list index keeps its meaning; newer
// formats follow them.
#pragma once

#include <string>

struct TFormat {
  const char* Label;
  const char* Extension;
  const char* Preset;  // ends with exactly one blank
};

constexpr int FormatCount = 14;

// Row `index` of the table; nullptr outside 0..FormatCount-1.
const TFormat* FormatAt(int index);

// Extension for a format label, found from the text of the label alone
// (not its position in the list); "" when the label names none.
std::string ExtensionForLabel(const std::string& label);
// Converter preset for a list index; "" outside the table (-1: nothing selected).
std::string PresetForIndex(int index);
