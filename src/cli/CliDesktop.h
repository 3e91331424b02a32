// The desktop of the command line: message boxes become lines on standard
// error, questions are answered by --yes/--no or read from standard input,
// and the account is asked for on the terminal. Dialogs that need a screen
// are refused.
#pragma once

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/Desktop.h"

class TCliDesktop final : public plat::IDesktop {
 public:
  // `fixedAnswer`: IDYES / IDNO for every question, or nothing to ask.
  // `quiet`: questions with a fixed answer are not shown.
  TCliDesktop(std::optional<int> fixedAnswer, std::FILE* in, std::FILE* err, bool quiet = false)
      : FFixedAnswer(fixedAnswer), FIn(in), FErr(err), FQuiet(quiet) {}

  int MessageBox(const std::string& text, const std::string& caption, plat::UINT flags) override;
  bool BrowseForFolder(const std::string&, const std::wstring&, std::string&) override { return false; }
  bool OpenFileDialog(const plat::TOpenDialogOptions&, std::vector<std::string>&) override { return false; }
  void ShellOpen(const std::string&) override {}
  std::optional<std::string> ClipboardText() override { return std::nullopt; }
  void SetClipboardText(const std::string&) override {}
  plat::TPoint CursorPos() override { return {}; }
  plat::TSize ScreenSize() override { return {}; }

  // The login dialog's questions: a user name and a password, both
  // required as in the dialog; false when the input ends (cancel).
  bool AskLogin(std::string& user, std::string& password);
  // The password of an account named on the command line, asked on the
  // terminal without echo; nothing when the input ends.
  std::optional<std::string> AskPassword(const std::string& user);

  // A line beside the display (a retry and why) on standard error, made
  // printable: it carries the server's words.
  void Notice(const std::string& line);

  // Ctrl-C (from the signal handler): while a question waits for input
  // there is nothing to stop yet, so the program ends there and then; a
  // question that comes up after the signal ends it too.
  static void RequestStop();

  // Called before a message is written, so that a progress line on the
  // terminal can be ended first.
  void SetBeforeOutput(void (*fn)(void*), void* context) {
    FBeforeOutput = fn;
    FBeforeContext = context;
  }

 private:
  // Writes `prompt` (once echo is off for a hidden answer, so that nothing
  // typed after it is shown or lost) and reads one line.
  std::optional<std::string> ReadLine(const std::string& prompt, bool hidden);
  void BeforeOutput() {
    if (FBeforeOutput) FBeforeOutput(FBeforeContext);
  }

  static void EndIfStopRequested();  // async-signal-safe
  static void RestoreTerminal();
  static volatile std::sig_atomic_t FInPrompt;
  static volatile std::sig_atomic_t FStopRequested;
  static volatile std::sig_atomic_t FEchoOff;
  std::optional<int> FFixedAnswer;
  std::FILE* FIn;
  std::FILE* FErr;
  bool FQuiet;
  void (*FBeforeOutput)(void*) = nullptr;
  void* FBeforeContext = nullptr;
};

// Every control character (C0, DEL, and C1 in UTF-8) replaced by "?": text
// that came from elsewhere (titles, server reasons, error texts) must not
// drive the terminal.
std::string PrintableText(const std::string& text);
// A message text for the terminal: its CR LF line breaks as plain line ends,
// everything else as PrintableText.
std::string TerminalText(const std::string& text);
