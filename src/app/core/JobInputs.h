// Several jobs from one text or one drop: the text split into addresses and
// files, what kind of job each is, and what each came to. The window runs
// them one after another; a single one keeps the main window's own flow.
#pragma once

#include <functional>
#include <string>
#include <vector>

enum TInputKind {
  ikWatchPage,     // a watch page of the service, http or https
  ikDirect,        // another http or https address: the file itself
  ikLocalFile,     // no scheme: a file to convert
  ikWrongAddress,  // meant as a watch page ("watch?v=") but not the service's, or another scheme
};

// Lines first (a line naming an existing file stays whole, blanks and all),
// then blanks; empty pieces are dropped.
std::vector<std::string> SplitJobInputs(const std::string& text,
                                        const std::function<bool(const std::string&)>& fileExists);

TInputKind KindOfInput(const std::string& input);

// The job mode for one input: a local file is converted (2); an address is
// downloaded (0) or downloaded and converted (1, also when the window is in
// mode 2) as the window's mode says.
int JobModeFor(TInputKind kind, int windowMode);

// What one input came to.
struct TJobOutcome {
  std::string Input;
  int Mode = 0;
  std::vector<std::string> Saved;  // full paths, in the order they were made
  std::string Failure;             // "" when everything asked for was done
  bool Succeeded() const { return Failure.empty(); }
};

// "3 files saved", "1 of 2 jobs failed", ... : one line over all outcomes.
std::string OutcomeSummary(const std::vector<TJobOutcome>& outcomes);
// "2 of 5": the place of a job in a queue.
std::string QueuePlace(std::size_t index, std::size_t count);
