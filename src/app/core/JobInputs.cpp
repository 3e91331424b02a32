#include "app/core/JobInputs.h"

#include "app/core/DirectTarget.h"
#include "platform/AsciiText.h"

namespace {

void SplitOnBlanks(const std::string& line, std::vector<std::string>& out) {
  std::string piece;
  for (char c : line) {
    if (!ascii::IsBlank(c)) {
      piece += c;
    } else if (!piece.empty()) {
      out.push_back(piece);
      piece.clear();
    }
  }
  if (!piece.empty()) out.push_back(piece);
}

}  // namespace

std::vector<std::string> SplitJobInputs(const std::string& text,
                                        const std::function<bool(const std::string&)>& fileExists) {
  std::vector<std::string> out;
  std::string::size_type start = 0;
  while (start <= text.size()) {
    std::string::size_type end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = ascii::Trim(std::string_view(text).substr(start, end - start));
    if (!line.empty()) {
      if (fileExists && fileExists(line))
        out.push_back(line);
      else
        SplitOnBlanks(line, out);
    }
    start = end + 1;
  }
  return out;
}

std::vector<std::string> SeveralJobInputs(const std::string& text,
                                          const std::function<bool(const std::string&)>& fileExists) {
  std::vector<std::string> pieces = SplitJobInputs(text, fileExists);
  std::size_t inputs = 0;
  for (const std::string& piece : pieces)
    if (piece.find('/') != std::string::npos || (fileExists && fileExists(piece))) ++inputs;
  if (inputs < 2) pieces.clear();
  return pieces;
}

TInputKind KindOfInput(const std::string& input) {
  if (input.find("://") == std::string::npos) return ikLocalFile;
  if (IsWatchPageAddress(input)) return ikWatchPage;
  if (!ascii::StartsNoCase(input, "http://") && !ascii::StartsNoCase(input, "https://")) return ikWrongAddress;
  // Another site's watch page, or the service's under another name, is not a file.
  if (ascii::Upper(input).find("WATCH?V=") != std::string::npos) return ikWrongAddress;
  return ikDirect;
}

TJobMode JobModeFor(TInputKind kind, TJobMode windowMode) {
  if (kind == ikLocalFile) return TJobMode::jmConvertFile;
  return windowMode == TJobMode::jmDownload ? TJobMode::jmDownload : TJobMode::jmDownloadConvert;
}

std::string OutcomeSummary(const std::vector<TJobOutcome>& outcomes) {
  std::size_t failed = 0, saved = 0;
  for (const TJobOutcome& o : outcomes) {
    if (!o.Succeeded()) ++failed;
    saved += o.Saved.size();
  }
  const auto files = [](std::size_t n) { return std::to_string(n) + (n == 1 ? " file" : " files"); };
  if (failed == 0) return files(saved) + " saved";
  std::string line = outcomes.size() == 1 ? std::string("Failed")
                                          : std::to_string(failed) + " of " + std::to_string(outcomes.size()) +
                                                " jobs failed";
  if (saved > 0) line += ", " + files(saved) + " saved";
  return line;
}

std::string QueuePlace(std::size_t index, std::size_t count) {
  return std::to_string(index + 1) + " of " + std::to_string(count);
}
