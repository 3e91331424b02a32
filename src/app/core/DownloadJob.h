// The download window's job, independent of widgets: page retrieval through
// the embedded browser, the transfer with THttpCli, the start of the
// conversion and its display, Stop and closing. The GUI window and the
// command-line front end both run this code; each supplies an IDownloadHost
// for what only it can do (show, ask, read the main window).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/core/JobMode.h"
#include "app/core/NetOptions.h"
#include "app/core/TransferDisplay.h"
#include "platform/MessageLoop.h"

class TDownloadFile;
struct TByteRange;
struct TPartIdentity;
struct TSegmentedOutcome;
class THttpCli;
class TWebBrowser;
struct TProcessInfo;

enum TDownloadPanel { dpNone, dpRetrieval, dpTransfer, dpConvert };

// Modal results the job sets (the framework's values).
constexpr int mrNone = 0;
constexpr int mrCancel = 2;  // the close message
constexpr int mrStop = 3;    // Stop

// Everything the window shows, in its controls' terms.
struct TDownloadDisplay {
  TDownloadPanel Panel = dpNone;
  std::string Caption = "Download";
  std::string Label1 = "Get html from the URL, please wait...";
  std::string Url;                      // lUrl
  std::string FileName = "get_video";   // eFileName (hidden hand-over)
  std::string DownloadUrl;              // eDownloadUrl (hidden hand-over)
  std::string FileLabel;                // lFileName and its hint
  std::int64_t Bar1Max = 100, Bar1Pos = 0;  // suiProgressBar1 (range in bytes once known)
  std::string TotalText;                // FTotalText: "<KB> KB", empty until a length is known
  std::string ReceiveData;              // lReceiveData
  std::string EstimateTime;             // lEstimateTime
  std::string ReceiveSpeed;             // lReceiveSpeed
  std::string ConvertName;              // lConvertName and its hint
  int Bar2Pos = 0;                      // suiProgressBar2
  std::string TimeElapsed = "00:00";    // lTimeElapsed
  std::string TimeEstimated = "00:00";  // lTimeEstimated
  // A failed attempt and the retry it waits for (or a new start from zero),
  // shown until the file receives bytes again.
  std::string Notice;

  bool operator==(const TDownloadDisplay&) const = default;
};

// True when `a` and `b` differ at most in the transfer's progress (bar
// position, size, speed and time remaining): a change a display may pace.
bool OnlyTransferProgressDiffers(TDownloadDisplay a, const TDownloadDisplay& b);

class IDownloadHost {
 public:
  virtual ~IDownloadHost() = default;
  // After every change of the display.
  virtual void DisplayChanged(const TDownloadDisplay& display) = 0;
  // Centre the window on the main window (start of the transfer).
  virtual void CenterOnOwner() {}
  // The main window's output-folder text.
  virtual std::string OutputFolder() = 0;
  // The in-memory account credentials of the main window.
  virtual std::string AccountUser() = 0;
  virtual std::string AccountPassword() = 0;
  virtual void SetAccount(const std::string& user, const std::string& password) = 0;
  // The login dialog: true (OK) with both texts filled, false on cancel.
  virtual bool AskLogin(std::string& user, std::string& password) = 0;
  // The default display of an error that escaped a stage (a message box
  // with the error's text); the window stays until Stop.
  virtual void ShowError(const std::string& text) = 0;
  // A stage ended silently without moving on: the window waits for Stop.
  virtual void StageStalled(const std::string& why) { (void)why; }
  // A line for the user beside the display: a retry and why.
  virtual void Notice(const std::string& line) { (void)line; }
};

class TDownloadJob {
 public:
  // `inputList`: copied (the caller keeps its own list).
  TDownloadJob(IDownloadHost& host, const std::vector<std::string>& inputList);
  ~TDownloadJob();
  TDownloadJob(const TDownloadJob&) = delete;
  TDownloadJob& operator=(const TDownloadJob&) = delete;

  // Set by the caller before the show.
  TJobMode FJobMode = TJobMode::jmDownload;
  std::string FTargetExt;
  std::string FConvertArgs;
  // The input is an http address downloaded as it is (no watch page).
  bool FDirect = false;
  // Route, bandwidth, time limits and retries of every request.
  TNetOptions FNet;
  // Boxes that only report a failure are not shown; the failure is kept
  // (for a queue, which goes on and lists every failure at its end).
  bool FQuietReports = false;
  // Length of one retrieval attempt's polling; shortened by tests.
  std::uint32_t FPollLimitMs = 60000;
  // Longest block of one wait turn: waits block for input instead of spinning.
  static constexpr std::uint32_t kWaitTurnMs = 20;

  // The window's own message window: WM_FETCHPAGE, WM_FETCHVIDEO,
  // WM_CONVERTINFO and the close message arrive here.
  plat::HWND Handle() const { return FHandle; }
  // The show handling: panels, captions, and the first stage.
  void FormShow();
  // The Stop button of every panel.
  void bStopClick();
  // The close box / the close message: ends the modal run once the running
  // stage has returned.
  void Close();
  // When the modal run ends (once).
  void FormClose();

  int ModalResult() const { return FModalResult; }
  const TDownloadDisplay& Display() const { return FDisplay; }
  const std::vector<std::string>& InputList() const { return FInputList; }
  THttpCli& HttpCli1() { return *FHttpCli; }
  TWebBrowser& WebBrowser1() { return *FWebBrowser; }

  // Outcome, for front ends that report one.
  bool TransferSucceeded() const { return FTransferOk; }
  bool ConversionSucceeded() const { return FConvertOk; }
  // The download failed on this side: its file could not be made, written
  // or given its final name.
  bool LocalFailure() const { return FLocalFailure; }
  // True when everything the job mode asks for was done and not stopped.
  bool Succeeded() const;
  // The text of the last failure reported ("" when none was).
  const std::string& Failure() const { return FFailure; }
  // Paths of the last transfer target and conversion output ("" until known).
  const std::string& TargetPath() const { return FTargetPath; }
  const std::string& ConvertOutputPath() const { return FConvertOutput; }
  // True while a stage handler (with its nested waits) runs.
  bool StageRunning() const { return FStageDepth > 0; }

 private:
  plat::LRESULT WndProc(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  void Changed();
  // A failure for the user: kept, and shown in a box unless FQuietReports.
  void Report(const std::string& text, plat::UINT icon);

  // Stages.
  void FetchPage();
  void FetchVideo();
  void NameDirectDownload(bool& mayReplace);
  // The rest of the file over several connections, from the ranges `done`;
  // `running`: the first stream's request, going on from the end of `done`.
  TSegmentedOutcome FetchSegments(const std::string& url, const TPartIdentity& identity, const std::vector<TByteRange>& done,
                                  const std::string& controlPath, bool& controlFailed, THttpCli* running = nullptr);
  void ConvertInfo(TProcessInfo* info);
  void StartConversion(const std::string& inputFile);

  // Retrieval helpers; each returns false when Stop ended the wait.
  enum TWaitResult { wrReady, wrStopped };
  bool Stopped() const { return FModalResult == mrStop; }
  void PumpTurn();
  TWaitResult WaitReadyState();
  void Navigate(const std::string& address);
  void BlankPage();
  void ReadDocument(std::string& text);
  enum TPollResult { prDone, prNextTurn, prEndPolling, prFailed, prLeave };
  // True when the browser's last load failed; keeps why in FPageError.
  bool PageFailed();
  TPollResult PollTurn(const std::string& line, std::string& pageText);

  // A retry line of the transfer: said to the host and kept on the display.
  void TransferNotice(const std::string& line);

  // Transfer events.
  void HttpCli1HeaderData();
  void HttpCli1HeaderEnd();
  // Bytes in the file before the body of the answer at hand.
  std::int64_t FileHolds();
  void HttpCli1DocData();

  IDownloadHost& FHost;
  std::vector<std::string> FInputList;
  plat::HWND FHandle = 0;
  int FModalResult = mrNone;
  bool FStopped = false;
  bool FClosed = false;
  bool FDraining = false;
  bool FLoginSubmitted = false;  // since the last page without the age gate
  int FStageDepth = 0;
  TDownloadDisplay FDisplay;
  TTransferDisplay FTransfer;
  std::unique_ptr<THttpCli> FHttpCli;
  std::unique_ptr<TWebBrowser> FWebBrowser;
  std::unique_ptr<TDownloadFile> FFileStream;
  bool FTransferOk = false;
  bool FLocalFailure = false;
  bool FConvertOk = false;
  bool FConvertLaunched = false;
  std::string FVideoId;      // of the address the retrieval built
  std::string FPageError;    // why the last page load failed ("" when it did not)
  std::string FPageTitle;    // as the watch page gives it; tags the converted file
  std::string FHeaderError;  // why the header handling refused the answer
  std::string FTargetPath;
  std::string FConvertOutput;
  std::string FFailure;
};

// "Text." as the default error display words it: a final period unless the
// text already ends in one (or in a character below it).
std::string DefaultErrorText(const std::string& message);
// Output path of a conversion: the folder (delimiter added) + the input's
// name with its extension replaced by `ext` ("" removes it).
std::string ConvertOutputName(const std::string& outputFolder, const std::string& inputFile,
                              const std::string& ext);
// `folder` with a trailing '/' added when missing ("" stays "").
std::string IncludeTrailingPathDelimiter(const std::string& folder);
// Name part of a path (after the last '/').
std::string ExtractFileName(const std::string& path);
