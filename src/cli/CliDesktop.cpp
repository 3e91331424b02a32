#include "cli/CliDesktop.h"

#include <termios.h>
#include <unistd.h>

#include "cli/CliOptions.h"
#include "platform/AsciiText.h"

std::string PrintableText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 32 || c == 127) {
      out += '?';
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      out += '?';  // U+0080..U+009F
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string TerminalText(const std::string& text) {
  std::string out;
  std::string::size_type from = 0;
  for (std::string::size_type at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
    out += PrintableText(text.substr(from, at - from)) + '\n';
  return out + PrintableText(text.substr(from));
}

volatile std::sig_atomic_t TCliDesktop::FInPrompt = 0;
volatile std::sig_atomic_t TCliDesktop::FEchoOff = 0;
volatile std::sig_atomic_t TCliDesktop::FStopRequested = 0;

namespace {
termios g_savedTerminal{};
int g_terminalFd = -1;
}  // namespace

void TCliDesktop::RestoreTerminal() {
  if (FEchoOff) ::tcsetattr(g_terminalFd, TCSANOW, &g_savedTerminal);
}

void TCliDesktop::EndIfStopRequested() {
  if (!FStopRequested || !FInPrompt) return;
  RestoreTerminal();
  static const char text[] = "\nStopped.\n";
  (void)!::write(STDERR_FILENO, text, sizeof text - 1);
  ::_exit(kExitInterrupted);
}

void TCliDesktop::RequestStop() {
  FStopRequested = 1;
  EndIfStopRequested();
}

std::optional<std::string> TCliDesktop::ReadLine(const std::string& prompt, bool hidden) {
  struct PromptScope {
    PromptScope() {
      FInPrompt = 1;
      EndIfStopRequested();  // the signal came while the question was written
    }
    ~PromptScope() { FInPrompt = 0; }
  } scope;
  const int fd = ::fileno(FIn);
  termios saved{};
  const bool echoOff = hidden && ::isatty(fd) && ::tcgetattr(fd, &saved) == 0;
  if (echoOff) {
    g_savedTerminal = saved;
    g_terminalFd = fd;
    FEchoOff = 1;
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(fd, TCSADRAIN, &quiet);
  }
  if (!prompt.empty()) {
    std::fputs(prompt.c_str(), FErr);
    std::fflush(FErr);
  }
  std::string line;
  bool any = false;
  for (int c; (c = std::fgetc(FIn)) != EOF;) {
    any = true;
    if (c == '\n') break;
    line += static_cast<char>(c);
  }
  if (echoOff) {
    ::tcsetattr(fd, TCSADRAIN, &saved);
    FEchoOff = 0;
    std::fputc('\n', FErr);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (!any) return std::nullopt;
  return line;
}

int TCliDesktop::MessageBox(const std::string& text, const std::string& caption, plat::UINT flags) {
  (void)caption;  // always the program's name
  BeforeOutput();
  const plat::UINT buttons = flags & plat::MB_TYPEMASK;
  if (buttons != plat::MB_YESNO) {
    std::fprintf(FErr, "%s\n", TerminalText(text).c_str());
    std::fflush(FErr);
    return buttons == plat::MB_OK ? plat::IDOK : plat::IDCANCEL;
  }
  // Quiet, a question answered by --yes or --no is no news: errors only.
  if (FFixedAnswer && FQuiet) return *FFixedAnswer;
  const int byDefault = (flags & plat::MB_DEFMASK) == plat::MB_DEFBUTTON2 ? plat::IDNO : plat::IDYES;
  std::fprintf(FErr, "%s [%s] ", TerminalText(text).c_str(), byDefault == plat::IDYES ? "Y/n" : "y/N");
  if (FFixedAnswer) {
    std::fprintf(FErr, "%s\n", *FFixedAnswer == plat::IDYES ? "yes" : "no");
    std::fflush(FErr);
    return *FFixedAnswer;
  }
  std::fflush(FErr);
  for (int tries = 0; tries < 3; ++tries) {
    std::optional<std::string> line = ReadLine(std::string(), false);
    if (!line) break;
    std::string a;
    for (char c : *line)
      if (!ascii::IsSpace(c)) a += ascii::LowerChar(c);
    if (a.empty()) return byDefault;  // Enter: the box's default button
    if (a == "y" || a == "yes") return plat::IDYES;
    if (a == "n" || a == "no") return plat::IDNO;
    std::fprintf(FErr, "Please answer yes or no: ");
    std::fflush(FErr);
  }
  // No answer could be read (the input ended, or it never said yes or no):
  // the answer that loses nothing, whatever the default button.
  std::fprintf(FErr, "no\n");
  std::fflush(FErr);
  return plat::IDNO;
}

void TCliDesktop::Notice(const std::string& line) {
  BeforeOutput();
  std::fprintf(FErr, "%s\n", PrintableText(line).c_str());
  std::fflush(FErr);
}

bool TCliDesktop::AskLogin(std::string& user, std::string& password) {
  BeforeOutput();
  std::fprintf(FErr, "Member Login\n");
  for (;;) {
    std::optional<std::string> u = ReadLine("Username: ", false);
    if (!u) return false;
    std::optional<std::string> p = ReadLine("Password: ", true);
    if (!p) return false;
    // The dialog's own checks, in its order; texts are taken as typed.
    if (u->empty()) {
      std::fprintf(FErr, "Please enter Username.\n");
      continue;
    }
    if (p->empty()) {
      std::fprintf(FErr, "Please enter Password.\n");
      continue;
    }
    user = *u;
    password = *p;
    return true;
  }
}

std::optional<std::string> TCliDesktop::AskPassword(const std::string& user) {
  BeforeOutput();
  for (;;) {
    std::optional<std::string> p = ReadLine("Password for " + user + ": ", true);
    if (!p || !p->empty()) return p;
    std::fprintf(FErr, "Please enter Password.\n");  // the login dialog's check
  }
}
