#include "cli/CliHost.h"

#include <algorithm>

#include "cli/CliDesktop.h"
#include "platform/MessageLoop.h"

std::string ProgressBar(int percent, int width) {
  percent = std::clamp(percent, 0, 100);
  const int full = percent * width / 100;
  return "[" + std::string(static_cast<std::size_t>(full), '#') +
         std::string(static_cast<std::size_t>(width - full), '-') + "]";
}

namespace {

std::string Percent(int p) {
  std::string s = std::to_string(p) + "%";
  return std::string(s.size() < 4 ? 4 - s.size() : 0, ' ') + s;
}

}  // namespace

TCliHost::TCliHost(TCliDesktop& desktop, std::FILE* out, bool terminal, std::string outputFolder, bool quiet)
    : FDesktop(desktop), FOut(out), FTerminal(terminal), FOutputFolder(std::move(outputFolder)), FQuiet(quiet) {}

void TCliHost::EndLine() {
  if (FLineOpen) {
    std::fputc('\n', FOut);
    std::fflush(FOut);
    FLineOpen = false;
    FLastDrawn.clear();
  }
}

void TCliHost::Finish() {
  // The last state of a panel stays on screen.
  if (FPanel == dpTransfer && !FLastTransferLine.empty() && FLastTransferLine != FLastPrinted) {
    if (FTerminal) Draw(FLastTransferLine, true);
    else Plain(FLastTransferLine);
  }
  EndLine();
}

void TCliHost::Plain(const std::string& line) {
  EndLine();
  FLastPrinted = line;
  std::fprintf(FOut, "%s\n", PrintableText(line).c_str());
  std::fflush(FOut);
}

void TCliHost::Draw(const std::string& line, bool force) {
  if (!FTerminal) return;
  const std::uint32_t now = plat::GetTickCount();
  if (!force && FLineOpen && static_cast<std::uint32_t>(now - FLastDraw) < 100) return;
  if (FLineOpen && line == FLastDrawn) return;
  std::fprintf(FOut, "\r%s\x1b[K", PrintableText(line).c_str());
  FLastPrinted = line;
  std::fflush(FOut);
  FLineOpen = true;
  FLastDraw = now;
  FLastDrawn = line;
}

void TCliHost::DisplayChanged(const TDownloadDisplay& d) {
  if (FQuiet) return;
  if (d.Panel != FPanel) {
    Finish();
    FPanel = d.Panel;
    FLastStep = -1;
    FLastSpeed.clear();
    FLastTransferLine.clear();
    if (FPanel == dpRetrieval) Plain(d.Label1);
  }
  switch (d.Panel) {
    case dpRetrieval:
      if (d.Url != FLastUrl) {
        FLastUrl = d.Url;
        if (!d.Url.empty()) Plain(d.Url);
      }
      break;
    case dpTransfer:
      ShowTransfer(d);
      break;
    case dpConvert:
      ShowConversion(d);
      break;
    case dpNone:
      break;
  }
}

void TCliHost::ShowTransfer(const TDownloadDisplay& d) {
  if (d.FileLabel != FLastFileLabel) {
    FLastFileLabel = d.FileLabel;
    if (!d.FileLabel.empty()) Plain(d.FileLabel);
  }
  if (d.ReceiveData.empty()) return;
  int percent = -1;
  if (!d.TotalText.empty() && d.Bar1Max > 0)
    percent = static_cast<int>(std::min<std::int64_t>(100, d.Bar1Pos * 100 / d.Bar1Max));
  std::string line;
  if (percent >= 0) line = ProgressBar(percent, 30) + " " + Percent(percent) + "  ";
  line += d.ReceiveData;
  if (!d.ReceiveSpeed.empty()) line += "  " + d.ReceiveSpeed;
  if (!d.EstimateTime.empty()) line += "  " + d.EstimateTime + " remaining";
  FLastTransferLine = line;
  if (FTerminal) {
    Draw(line, percent == 100);
    return;
  }
  // Plain lines: every tenth of the way (each MiB without a length), and
  // at each speed sample.
  const int step = percent >= 0 ? percent / 10 * 10 : static_cast<int>(d.Bar1Pos >> 20);
  if (step > FLastStep || d.ReceiveSpeed != FLastSpeed) {
    FLastStep = std::max(step, FLastStep);
    FLastSpeed = d.ReceiveSpeed;
    Plain(line);
  }
}

void TCliHost::ShowConversion(const TDownloadDisplay& d) {
  if (d.ConvertName != FLastConvertName) {
    FLastConvertName = d.ConvertName;
    if (!d.ConvertName.empty()) Plain("Converting: " + d.ConvertName);
  }
  if (d.Bar2Pos <= 0) return;
  std::string line = ProgressBar(d.Bar2Pos, 30) + " " + Percent(d.Bar2Pos);
  if (!d.TimeElapsed.empty()) line += "  Time elapsed: " + d.TimeElapsed;
  if (!d.TimeEstimated.empty()) line += "  Time estimated: " + d.TimeEstimated;
  if (FTerminal) {
    Draw(line, d.Bar2Pos == 100);
    return;
  }
  const int step = d.Bar2Pos / 10 * 10;
  if (step > FLastStep) {
    FLastStep = step;
    Plain(line);
  }
}

bool TCliHost::AskLogin(std::string& user, std::string& password) {
  EndLine();
  return FDesktop.AskLogin(user, password);
}

void TCliHost::ShowError(const std::string& text) {
  EndLine();
  FDesktop.MessageBox(text, "Clipharbor", plat::MB_OK | plat::MB_ICONERROR);
}

void TCliHost::Notice(const std::string& line) {
  if (FQuiet) return;
  EndLine();
  FDesktop.Notice(line);
}

void TCliHost::StageStalled(const std::string& why) {
  (void)why;
  FStalled = true;
}
