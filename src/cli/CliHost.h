// The command line's side of the download job: the job's display as a
// progress bar on a terminal or as plain lines otherwise (nothing when
// quiet), the job's notices on standard error, the output folder and
// account given on the command line, the login asked on the terminal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/core/DownloadJob.h"

class TCliDesktop;

class TCliHost final : public IDownloadHost {
 public:
  TCliHost(TCliDesktop& desktop, std::FILE* out, bool terminal, std::string outputFolder, bool quiet = false);

  void DisplayChanged(const TDownloadDisplay& d) override;
  std::string OutputFolder() override { return FOutputFolder; }
  std::string AccountUser() override { return FUser; }
  std::string AccountPassword() override { return FPassword; }
  void SetAccount(const std::string& user, const std::string& password) override {
    FUser = user;
    FPassword = password;
  }
  bool AskLogin(std::string& user, std::string& password) override;
  void ShowError(const std::string& text) override;
  void StageStalled(const std::string& why) override;
  void Notice(const std::string& line) override;

  // The job cannot go on by itself (the window would wait for Stop).
  bool Stalled() const { return FStalled; }
  // Ends a progress line on the terminal before other output.
  void EndLine();
  // Shows the final state of the current panel and ends its line.
  void Finish();

 private:
  void ShowTransfer(const TDownloadDisplay& d);
  void ShowConversion(const TDownloadDisplay& d);
  void Draw(const std::string& line, bool force);
  void Plain(const std::string& line);

  TCliDesktop& FDesktop;
  std::FILE* FOut;
  bool FTerminal;
  std::string FOutputFolder;
  bool FQuiet;
  std::string FUser, FPassword;
  bool FStalled = false;

  TDownloadPanel FPanel = dpNone;
  std::string FLastUrl, FLastFileLabel, FLastConvertName, FLastSpeed;
  std::string FLastTransferLine;
  std::string FLastPrinted;
  int FLastStep = -1;     // plain mode: last 10 % step printed
  bool FLineOpen = false; // terminal: a progress line is being redrawn
  std::uint32_t FLastDraw = 0;
  std::string FLastDrawn;
};

// "[#####-----]" of `width` cells for 0..100 percent.
std::string ProgressBar(int percent, int width);
