// Several jobs from one text or one drop: the text split into addresses and
// files, what kind of job each is, and what each came to. The window runs
// them one after another; a single one keeps the main window's own flow.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/core/JobMode.h"

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

// The pieces of what was typed or pasted into one box when they are several
// jobs: more than one piece holds a '/' (an address or a path) or names an
// existing file. Else none: the text is one input as it stands.
std::vector<std::string> SeveralJobInputs(const std::string& text,
                                          const std::function<bool(const std::string&)>& fileExists);

TInputKind KindOfInput(const std::string& input);

// The job mode for one input: a local file is converted; an address is
// downloaded, or downloaded and converted (also when the window is in the
// convert-a-file mode), as the window's mode says.
TJobMode JobModeFor(TInputKind kind, TJobMode windowMode);

// What one input came to.
struct TJobOutcome {
  std::string Input;
  TJobMode Mode = TJobMode::jmDownload;
  std::vector<std::string> Saved;  // full paths, in the order they were made
  std::string Failure;             // "" when everything asked for was done
  bool Succeeded() const { return Failure.empty(); }
};

// "3 files saved", "1 of 2 jobs failed", ... : one line over all outcomes.
std::string OutcomeSummary(const std::vector<TJobOutcome>& outcomes);
// "2 of 5": the place of a job in a queue.
std::string QueuePlace(std::size_t index, std::size_t count);
