// What an answer means for a download that continues the bytes already on
// disk ("Range: bytes=N-" sent): a 206 whose "Content-Range" starts at N
// continues, a 200 starts the file again from zero, a 416 whose
// "Content-Range" gives N as the whole length means the file is complete.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// "bytes FIRST-LAST/TOTAL", "bytes FIRST-LAST/*" or "bytes */TOTAL".
struct TContentRange {
  bool Unsatisfied = false;  // "bytes */TOTAL"
  std::int64_t First = -1, Last = -1;
  std::int64_t Total = -1;   // -1: unknown ("*")
};
std::optional<TContentRange> ParseContentRange(const std::string& value);

enum TResumeAction {
  raNotFinal,  // a relocation or an authentication pass: the client goes on
  raContinue,  // the body continues the bytes on disk
  raRestart,   // the body is the whole file: empty the file first
  raComplete,  // nothing more to fetch: the file on disk is whole
  raRefused,   // an error answer: its body is no part of the file
  raMismatch,  // a range that does not continue the file, or a 416 that
               // says the file on disk is not the whole
};

struct TResumeDecision {
  TResumeAction Action = raContinue;
  std::string Why;  // for the user: a restart, a mismatch
};

// `have`: bytes already on disk (0: no range was asked for). `relocating`:
// the client is about to follow a "Location".
TResumeDecision DecideResume(std::int64_t have, int status, const std::vector<std::string>& header,
                             bool relocating = false);
