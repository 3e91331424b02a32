// Naming and judging the converter's output file.
#include "app/core/ConvertOutput.h"

std::string TemporaryOutputName(const std::string& outputFile) {
  const std::size_t slash = outputFile.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = outputFile.rfind('.');
  // The extension is what follows the name's last dot, as the converter reads it.
  if (dot == std::string::npos || dot < nameStart) return outputFile + ".part";
  return outputFile.substr(0, dot) + ".part" + outputFile.substr(dot);
}
