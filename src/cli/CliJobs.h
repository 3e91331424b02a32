// The jobs of one command line, one after the other with the same options:
// each address or file gets the main window's checks and texts and runs the
// download window's job; a failed job does not stop the others. The exit
// status is that of the worst job.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/core/NetOptions.h"
#include "cli/CliOptions.h"

class TCliDesktop;

class TCliJobs {
 public:
  // `interrupted`: true once Ctrl-C came. `out`: progress and results.
  TCliJobs(const TCliOptions& options, TCliDesktop& desktop, std::FILE* out, bool terminal,
           std::function<bool()> interrupted);

  // The account for age-restricted videos, from the command line.
  void SetAccount(const std::string& user, const std::string& password);

  // Runs every input; returns the worst exit status (kExitInterrupted as
  // soon as Ctrl-C stops a job: the rest do not run).
  int Run(const std::vector<std::string>& inputs);

  int Succeeded() const { return FSucceeded; }
  int Failed() const { return FFailed; }

 private:
  // One input; its exit status.
  int RunOne(const std::string& input);
  // The output folder, checked (and made, when the user agrees) once.
  std::optional<int> CheckFolder();

  const TCliOptions& FOptions;
  TCliDesktop& FDesktop;
  std::FILE* FOut;
  bool FTerminal;
  std::function<bool()> FInterrupted;
  TNetOptions FNet;
  std::string FFolder;
  std::optional<int> FFolderStatus;  // set once the folder was checked
  std::string FUser, FPassword;      // the account, kept from job to job
  bool FHaveAccount = false;
  int FSucceeded = 0, FFailed = 0;
};

// The worse of two exit statuses: Ctrl-C above all, then the higher number.
int WorseExitStatus(int a, int b);
