// The download window's run over its inputs: one job after another in the
// same window, "2 of 5" in the caption, and what each came to. A queue
// does not halt for a box that only reports a failure, nor for a stage
// that ended without moving on: the failure is kept and the next job runs.
// Stop and the close box end the queue.
#include "app/ui/Download.h"

#include "platform/FileUtil.h"

#include <cstdio>

namespace {

// The job mode and whether the input is downloaded as it is.
TJobMode ModeOf(const TDownloadWindowIntf& w, std::size_t index, bool& direct) {
  direct = false;
  if (index >= w.FInputKinds.size()) return w.FJobMode;
  const TInputKind kind = w.FInputKinds[index];
  direct = kind == ikDirect;
  return JobModeFor(kind, w.FJobMode);
}

}  // namespace

void TfrmDownload::RunJob(std::size_t index) {
  if (index > 0) {
    const std::uint32_t pollLimit = FJob->FPollLimitMs;
    FJob->FormClose();
    FJob.reset();
    FJob = std::make_unique<TDownloadJob>(static_cast<IDownloadHost&>(*this), TStringList{FInputs[index]});
    FJob->FPollLimitMs = pollLimit;
    FShownPanel = dpNone;
    FDrawn.reset();
  }
  bool direct = false;
  const TJobMode mode = ModeOf(*this, index, direct);
  FJob->FJobMode = mode;
  FJob->FDirect = direct;
  FJob->FTargetExt = FTargetExt;
  FJob->FConvertArgs = FConvertArgs;
  FJob->FNet = FNet;
  FJob->FQuietReports = RunsQueue();
  FPlace = RunsQueue() ? QueuePlace(index, FInputs.size()) : std::string();
  FStalled = false;
  FStalledWhy.clear();

  show();
  FJob->FormShow();
  // Centred on the owner for the panel the job shows first, not the design one.
  CenterOn(FOwner);
  while (FJob->ModalResult() == mrNone && !plat::ApplicationTerminated() && !(RunsQueue() && FStalled))
    plat::WaitForInput(50);
  FJob->FormClose();
  if (FPacer.Pending()) {
    FPacer.Drawn();
    Draw(FLatest);
  }
  // A converted download is not kept when the settings say so; never the
  // converted file itself.
  if (!FKeepDownload && mode == TJobMode::jmDownloadConvert && FJob->Succeeded() && FJob->ConvertOutputPath() != FJob->TargetPath())
    std::remove(FJob->TargetPath().c_str());
  if (index < FInputs.size()) FOutcomes.push_back(OutcomeOf(index, mode));
}

TJobOutcome TfrmDownload::OutcomeOf(std::size_t index, TJobMode mode) const {
  TJobOutcome o;
  o.Input = FInputs[index];
  o.Mode = mode;
  const TDownloadJob& job = *FJob;
  if (Downloads(mode) && job.TransferSucceeded() && plat::FileExists(job.TargetPath())) o.Saved.push_back(job.TargetPath());
  if (Converts(mode) && job.ConversionSucceeded() && plat::FileExists(job.ConvertOutputPath()))
    o.Saved.push_back(job.ConvertOutputPath());
  if (job.Succeeded()) return o;
  if (!job.Failure().empty())
    o.Failure = job.Failure();
  else if (!FStalledWhy.empty())
    o.Failure = FStalledWhy;
  else if (job.ModalResult() == mrStop)
    o.Failure = "Stopped";
  else
    o.Failure = "Not finished";
  return o;
}

void TfrmDownload::StageStalled(const std::string& why) {
  FStalled = true;
  FStalledWhy = why;
}
