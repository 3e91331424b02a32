// The seam between the main window and the download window. The main
// window's Start creates the download window through the registered
// factory, with its owner and a one-line input list, sets FJobMode,
// FTargetExt and FConvertArgs, runs ShowModal, and destroys it. Several
// inputs run one after another, each of its kind (FInputKinds); what each
// came to is left in FOutcomes.
//
// TfrmDownload derives from TDownloadWindowIntf and registers itself, e.g.
//   static const bool registered = RegisterDownloadWindow(
//       [](QWidget* owner, const TStringList& input) -> std::unique_ptr<TDownloadWindowIntf> {
//         return std::make_unique<TfrmDownload>(owner, input);
//       });
// (the program links the whole ui library, so such a registration runs).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/JobInputs.h"
#include "app/core/JobMode.h"
#include "app/core/NetOptions.h"

class QWidget;

using TStringList = std::vector<std::string>;

class TDownloadWindowIntf {
 public:
  virtual ~TDownloadWindowIntf() = default;

  TJobMode FJobMode = TJobMode::jmDownload;
  std::string FTargetExt;    // extension of the converted file, e.g. ".mp3" ("" when none)
  std::string FConvertArgs;  // converter preset, ends with a blank ("" when none)
  // One per input line: a watch page, a direct address or a local file,
  // each run in the mode JobModeFor gives it. Empty: the lines are one
  // job's input list, in FJobMode.
  std::vector<TInputKind> FInputKinds;
  TNetOptions FNet;            // of every request (the design's when the main window sets none)
  bool FKeepDownload = true;   // false: a converted download is removed
  std::vector<TJobOutcome> FOutcomes;  // one per input that ran, filled by ShowModal

  // Runs the window modally; the main window does not look at the result.
  virtual int ShowModal() = 0;
};

// owner: the main window; inputList: one line per job, copied by the window.
using TDownloadWindowFactory =
    std::function<std::unique_ptr<TDownloadWindowIntf>(QWidget* owner, const TStringList& inputList)>;

// Sets the factory and returns the previous one (empty if none). Always
// returns true through the bool overload, for static registration.
TDownloadWindowFactory SetDownloadWindowFactory(TDownloadWindowFactory factory);
bool RegisterDownloadWindow(TDownloadWindowFactory factory);
// nullptr when no download window is registered.
std::unique_ptr<TDownloadWindowIntf> CreateDownloadWindow(QWidget* owner, const TStringList& inputList);
