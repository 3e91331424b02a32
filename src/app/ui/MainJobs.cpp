// The main window's jobs beyond the single address of Start: several
// addresses or files (pasted into a box or dropped on the window) run one
// after another; how every job ended stays on the window, with a desktop
// notification when the program is not in front; a failed job is retried
// from there. Also the settings dialog of the menu.
#include "app/core/Formats.h"
#include "app/core/Service.h"
#include "app/ui/DownloadHandOver.h"
#include "app/ui/JobResults.h"
#include "app/ui/Main.h"
#include "app/ui/SettingsDialog.h"
#include "platform/FileUtil.h"
#include "platform/Profile.h"
#include "platform/QtText.h"

#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QRadioButton>
#include <QUrl>

using plat::FromQ;
using plat::ToQ;

namespace {

int NoticeBox(const std::string& text, plat::UINT flags) { return plat::Desktop().MessageBox(text, "Clipharbor", flags); }

// The addresses and files of a drop: links as they are, local files by path,
// plain text split as a paste is.
std::vector<std::string> DroppedInputs(const QMimeData& data) {
  std::vector<std::string> inputs;
  if (data.hasUrls()) {
    for (const QUrl& url : data.urls()) {
      if (url.isLocalFile())
        inputs.push_back(FromQ(url.toLocalFile()));
      else if (url.scheme() == "http" || url.scheme() == "https")
        inputs.push_back(FromQ(url.toString(QUrl::FullyEncoded)));
    }
    return inputs;
  }
  if (data.hasText()) return SplitJobInputs(FromQ(data.text()), plat::FileExists);
  return inputs;
}

// One line per saved file and per failure, for the notification.
std::string OutcomeLines(const std::vector<TJobOutcome>& outcomes) {
  std::string body;
  for (const TJobOutcome& o : outcomes) {
    for (const std::string& path : o.Saved) body += (body.empty() ? "" : "\n") + path;
    if (!o.Succeeded()) body += (body.empty() ? "" : "\n") + o.Input + ": " + o.Failure;
  }
  return body;
}

}  // namespace

void TfrmMain::RunJobs(const std::vector<std::string>& inputs, const std::vector<TInputKind>& kinds, TJobMode mode) {
  std::unique_ptr<TDownloadWindowIntf> frmDownload = CreateDownloadWindow(this, inputs);
  if (!frmDownload) return;
  frmDownload->FJobMode = mode;
  frmDownload->FTargetExt = ExtensionForLabel(FromQ(cbFormat->currentText()));
  frmDownload->FConvertArgs = PresetForIndex(cbFormat->currentIndex());
  frmDownload->FInputKinds = kinds;
  frmDownload->FNet = WindowNetOptions(FJobSettings, FProxyPassword);
  frmDownload->FKeepDownload = FJobSettings.KeepDownload;
  frmDownload->ShowModal();
  const std::vector<TJobOutcome> outcomes = frmDownload->FOutcomes;
  frmDownload.reset();
  ShowOutcomes(outcomes);
}

void TfrmMain::StartSeveral(const std::vector<std::string>& inputs) {
  if (!CheckOutputFolder()) return;
  std::vector<TInputKind> kinds;
  for (const std::string& input : inputs) {
    const TInputKind kind = KindOfInput(input);
    if (kind == ikWrongAddress) {
      NoticeBox("Please enter the url like " + ExampleWatchUrl() + "\r\n" + input, plat::MB_ICONINFORMATION | plat::MB_OK);
      return;
    }
    if (kind == ikLocalFile && !plat::FileExists(input)) {
      NoticeBox("Please check whether the video file exist.\r\n" + input, plat::MB_ICONINFORMATION | plat::MB_OK);
      return;
    }
    kinds.push_back(kind);
  }
  RunJobs(inputs, kinds, CheckedMode().value_or(TJobMode::jmDownload));
}

void TfrmMain::TakeInputs(const std::vector<std::string>& inputs) {
  if (inputs.empty()) return;
  if (inputs.size() > 1) {
    StartSeveral(inputs);
    return;
  }
  // One input waits in its box for Start, in the mode it needs; a folder
  // becomes the output folder.
  if (plat::DirectoryExists(inputs.front())) {
    eOutputFolder->setText(ToQ(inputs.front()));
  } else if (KindOfInput(inputs.front()) == ikLocalFile) {
    eFileName->setText(ToQ(inputs.front()));
    rbConvert->setChecked(true);
    ApplyMode(TJobMode::jmConvertFile);
  } else {
    eUrl->setText(ToQ(inputs.front()));
    if (rbConvert->isChecked()) {
      rbDownload->setChecked(true);
      ApplyMode(TJobMode::jmDownload);
    }
  }
}

void TfrmMain::ShowOutcomes(const std::vector<TJobOutcome>& outcomes) {
  if (outcomes.empty()) return;
  JobResults->SetOutcomes(outcomes);
  JobResults->show();
  LayoutControls();
  bool failed = false;
  for (const TJobOutcome& o : outcomes) failed = failed || !o.Succeeded();
  if (!ProgramActive()) plat::Desktop().Notify(OutcomeSummary(outcomes), OutcomeLines(outcomes), failed);
}

bool TfrmMain::ProgramActive() const {
  for (const QWidget* w = QApplication::activeWindow(); w; w = w->parentWidget())
    if (w == this) return true;
  return false;
}

void TfrmMain::Retry(const TJobOutcome& outcome) {
  if (!CheckOutputFolder()) return;
  const TInputKind kind = outcome.Mode == TJobMode::jmConvertFile ? ikLocalFile : KindOfInput(outcome.Input);
  RunJobs({outcome.Input}, {kind}, outcome.Mode);
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* e) {
  if (!DroppedInputs(*e->mimeData()).empty()) e->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* e) {
  const std::vector<std::string> inputs = DroppedInputs(*e->mimeData());
  if (inputs.empty()) return;
  e->acceptProposedAction();
  try {
    TakeInputs(inputs);
  } catch (...) {
    // As Start: ends quietly, the window stays usable.
  }
}

void TfrmMain::miSettingsClick() {
  TfrmSettings dialog(this);
  dialog.SetValues(FJobSettings, OutputFolderText(), FProxyPassword);
  if (dialog.ShowModal() != QDialog::Accepted) return;
  FJobSettings = dialog.Settings();
  FProxyPassword = dialog.ProxyPassword();
  eOutputFolder->setText(ToQ(dialog.OutputFolder()));
  FOutputDir = dialog.OutputFolder();
  try {
    SaveJobSettings(FSettingsFile, FJobSettings);
  } catch (const plat::EIniFileException& e) {
    NoticeBox(std::string("Cannot save the settings: ") + e.what(), plat::MB_ICONERROR | plat::MB_OK);
  }
}
