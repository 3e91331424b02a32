// Builds the converter's command line text and its argument list.
#include "app/core/ConvertCommand.h"

namespace {

// ffmpeg reads "-name" as an option and "word:" as a protocol; "./" keeps a
// relative path a plain file without changing which file it names.
std::string PathArgument(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  return "./" + path;
}

}  // namespace

std::string ConverterCommandLine(bool overwrite, const std::string& inputFile, const std::string& preset,
                                 const std::string& outputFile) {
  std::string text = "ffmpeg ";
  if (overwrite) text += "-y ";
  return text + "-i \"" + inputFile + "\" " + preset + "\"" + outputFile + "\"";
}

std::vector<std::string> ConverterArguments(bool overwrite, const std::string& inputFile,
                                            const std::string& preset, const std::string& outputFile,
                                            const TConvertTags& tags) {
  std::vector<std::string> args{"ffmpeg"};
  if (overwrite) args.push_back("-y");
  args.push_back("-i");
  args.push_back(PathArgument(inputFile));
  // Presets are plain words separated by blanks.
  std::size_t start = 0;
  while (start < preset.size()) {
    const std::size_t stop = preset.find(' ', start);
    const std::size_t end = stop == std::string::npos ? preset.size() : stop;
    if (end > start) args.push_back(preset.substr(start, end - start));
    start = end + 1;
  }
  for (std::string& tag : TagArguments(tags)) args.push_back(std::move(tag));
  args.push_back(PathArgument(outputFile));
  return args;
}
