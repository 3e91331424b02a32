#include "app/core/ResumeDecision.h"

#include <cstdlib>

#include "app/core/HeaderField.h"
#include "platform/AsciiText.h"

namespace {

bool ParseNumber(const std::string& s, std::int64_t& n) {
  if (!ascii::AllDigits(s) || s.size() > 18) return false;
  n = std::strtoll(s.c_str(), nullptr, 10);
  return true;
}

}  // namespace

std::optional<TContentRange> ParseContentRange(const std::string& text) {
  const std::string value = ascii::Trim(text);
  if (value.size() < 6 || !ascii::EqualNoCase(value.substr(0, 6), "bytes ")) return std::nullopt;
  const std::string rangeAndTotal = ascii::Trim(value.substr(6));
  const std::size_t slash = rangeAndTotal.find('/');
  if (slash == std::string::npos) return std::nullopt;
  TContentRange r;
  const std::string range = ascii::Trim(rangeAndTotal.substr(0, slash));
  const std::string total = ascii::Trim(rangeAndTotal.substr(slash + 1));
  if (total != "*" && !ParseNumber(total, r.Total)) return std::nullopt;
  if (range == "*") {
    if (r.Total < 0) return std::nullopt;
    r.Unsatisfied = true;
    return r;
  }
  const std::size_t dash = range.find('-');
  if (dash == std::string::npos || !ParseNumber(range.substr(0, dash), r.First) ||
      !ParseNumber(range.substr(dash + 1), r.Last) || r.Last < r.First || (r.Total >= 0 && r.Last >= r.Total))
    return std::nullopt;
  return r;
}

TResumeDecision DecideResume(std::int64_t have, int status, const std::vector<std::string>& header,
                             bool relocating) {
  if (relocating || status == 401 || status == 407 || (status >= 100 && status < 200)) return {raNotFinal, ""};
  std::string value;
  const std::optional<TContentRange> range =
      ParseContentRange(HeaderValue(header, "Content-Range", value) ? value : std::string());
  if (status == 200) {
    if (have == 0) return {raContinue, ""};
    return {raRestart, "the server sent the whole file; starting again from zero"};
  }
  if (status == 206) {
    if (range && !range->Unsatisfied && range->First == have) return {raContinue, ""};
    return {raMismatch, "the server sent another part of the file (Content-Range: " + value + ")"};
  }
  if (status == 416 && have > 0) {
    if (range && range->Unsatisfied && range->Total == have) return {raComplete, ""};
    if (range && range->Unsatisfied)
      return {raMismatch, "the file on the server has " + std::to_string(range->Total) + " bytes, the partial file " +
                              std::to_string(have)};
  }
  if (status >= 200 && status < 300) return {raContinue, ""};
  return {raRefused, ""};
}
