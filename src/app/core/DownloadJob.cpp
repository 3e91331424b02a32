#include "app/core/DownloadJob.h"

#include <QString>

#include <exception>
#include <new>
#include <optional>
#include <stdexcept>

#include "app/core/AppMessages.h"
#include "app/core/ConvertThread.h"
#include "app/core/DirectTarget.h"
#include "app/core/DownloadFile.h"
#include "app/core/DownloadName.h"
#include "app/core/Global.h"
#include "app/core/PageParse.h"
#include "app/core/PartControl.h"
#include "app/core/ResumableGet.h"
#include "app/core/SegmentedGet.h"
#include "app/core/Service.h"
#include "app/core/SplitProbe.h"
#include "app/core/WebBrowser.h"
#include "net/http/HttpProt.h"
#include "net/socket/WSocket.h"
#include "platform/AsciiText.h"
#include "platform/Desktop.h"
#include "platform/FileUtil.h"
#include "platform/Stream.h"

namespace {

const char* const kCaption = "Clipharbor";

int Box(const std::string& text, plat::UINT flags) {
  return plat::Desktop().MessageBox(text, kCaption, flags);
}

std::string AgeGateQuestion() {
  return std::string("This video may contain content that is inappropriate for some users, as "
                     "flagged by YouTube") +
         '"' + "s user commnunity." + "\r\n" +
         "To view this video, please verify you are 18 or older by logging in or signing up." +
         "\r\n\r\n" + "Do you want Login to access your account?";
}

// The system code page (UTF-8 here) to the browser's wide text.
std::wstring Wide(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).toStdWString();
}

}  // namespace

std::string DefaultErrorText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

std::string IncludeTrailingPathDelimiter(const std::string& folder) {
  if (folder.empty() || folder.back() == '/') return folder;
  return folder + "/";
}

std::string ExtractFileName(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ConvertOutputName(const std::string& outputFolder, const std::string& inputFile,
                              const std::string& ext) {
  std::string name = ExtractFileName(inputFile);
  const std::string::size_type dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return IncludeTrailingPathDelimiter(outputFolder) + name + ext;
}

TDownloadJob::TDownloadJob(IDownloadHost& host, const std::vector<std::string>& inputList)
    : FHost(host), FInputList(inputList) {
  FHandle = plat::AllocateHWnd(
      [this](plat::UINT msg, plat::WPARAM w, plat::LPARAM l) { return WndProc(msg, w, l); });
  FWebBrowser = std::make_unique<TWebBrowser>();
  // Page reads take the job's route and bandwidth; a proxy that cannot be
  // read is reported by the transfer.
  FWebBrowser->PrepareClient = [this](THttpCli& cli, const std::string& url) { PrepareRequest(cli, FNet, url); };

  // The client's settings are fixed by the window's design.
  FHttpCli = std::make_unique<THttpCli>();
  THttpCli& c = *FHttpCli;
  c.Name = "HttpCli1";
  c.LocalAddr = "0.0.0.0";
  c.ProxyPort = "80";
  c.Agent = "Mozilla/3.0 (compatible)";
  c.Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
  c.NoCache = false;
  c.ContentTypePost = "application/x-www-form-urlencoded";
  c.SetMultiThreaded(false);
  c.SetRequestVer("1.0");
  c.FollowRelocation = true;
  c.LocationChangeMaxCount = 5;
  c.BandwidthLimit = 10000;
  c.BandwidthSampling = 1000;
  c.SetOptions(THttpCliOptions{});
  c.SocksLevel = "5";
  c.SocksAuthentication = socksNoAuthentication;
  c.OnHeaderBegin = [this](THttpCli*) {
    FTransfer.HeaderBegin();
    FTransfer.BodyFrom(FileHolds());
    FDisplay.Bar1Max = FTransfer.BarMax();
    FDisplay.Bar1Pos = FTransfer.BarPos();
    FDisplay.TotalText.clear();
  };
  c.OnHeaderData = [this](THttpCli*) { HttpCli1HeaderData(); };
  c.OnHeaderEnd = [this](THttpCli*) { HttpCli1HeaderEnd(); };
  c.OnDocData = [this](THttpCli*, const void*, int) { HttpCli1DocData(); };
}

TDownloadJob::~TDownloadJob() {
  // Progress records still queued for the window belong to it: free them
  // instead of letting the window's end drop them.
  FDraining = true;
  plat::ProcessMessages();
  plat::DeallocateHWnd(FHandle);
  if (FHttpCli) FHttpCli->ReceiveStream = nullptr;
  FFileStream.reset();
}

bool TDownloadJob::Succeeded() const {
  if (FStopped) return false;
  switch (FJobMode) {
    case TJobMode::jmDownload: return FTransferOk;
    case TJobMode::jmDownloadConvert: return FTransferOk && FConvertOk;
    case TJobMode::jmConvertFile: return FConvertOk;
    default: return false;
  }
}

void TDownloadJob::Changed() { FHost.DisplayChanged(FDisplay); }

void TDownloadJob::Report(const std::string& text, plat::UINT icon) {
  FFailure = text;
  if (!FQuietReports) Box(text, plat::MB_OK | icon);
}

plat::LRESULT TDownloadJob::WndProc(plat::UINT msg, plat::WPARAM, plat::LPARAM lParam) {
  if (FDraining) {
    if (msg == WM_CONVERTINFO) delete reinterpret_cast<TProcessInfo*>(lParam);
    return 0;
  }
  switch (msg) {
    case WM_FETCHPAGE: {
      ++FStageDepth;
      try {
        FetchPage();
      } catch (const std::exception& e) {
        // Retrieval errors end the stage silently; the window waits for Stop.
        FHost.StageStalled(e.what());
      } catch (...) {
        FHost.StageStalled("retrieval failed");
      }
      --FStageDepth;
      return 0;
    }
    case WM_FETCHVIDEO: {
      ++FStageDepth;
      try {
        FetchVideo();
      } catch (const std::exception& e) {
        FFailure = DefaultErrorText(e.what());
        if (!FQuietReports) FHost.ShowError(FFailure);
        FHost.StageStalled(e.what());
      } catch (...) {
        FFailure = "Unknown error.";
        if (!FQuietReports) FHost.ShowError(FFailure);
        FHost.StageStalled("transfer failed");
      }
      --FStageDepth;
      return 0;
    }
    case WM_CONVERTINFO:
      ConvertInfo(reinterpret_cast<TProcessInfo*>(lParam));
      return 0;
    case plat::WM_CLOSE:
      Close();
      return 0;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------- frame

void TDownloadJob::FormShow() {
  FDisplay.DownloadUrl.clear();
  FDisplay.Bar1Pos = 0;
  FDisplay.Bar2Pos = 0;
  FDisplay.Panel = dpNone;
  FDisplay.Caption = kCaption;
  FDisplay.FileLabel.clear();
  FDisplay.ReceiveData.clear();
  FDisplay.EstimateTime.clear();
  FDisplay.ReceiveSpeed.clear();
  if (FJobMode == TJobMode::jmConvertFile) {
    FDisplay.Panel = dpConvert;
    Changed();
    ++FStageDepth;
    try {
      if (FInputList.empty()) throw std::runtime_error("no input file");
      StartConversion(FInputList.front());
    } catch (const std::exception& e) {
      // A converter that cannot start is a failure the user must see.
      Report(DefaultErrorText(e.what()), plat::MB_ICONERROR);
      FHost.StageStalled(e.what());
    }
    --FStageDepth;
  } else if (FDirect && !FInputList.empty()) {
    // No page to read: the address is the file.
    FDisplay.Url = FInputList.front();
    FDisplay.DownloadUrl = FInputList.front();
    FDisplay.FileName = DocNameOf(FInputList.front());
    plat::PostMessage(FHandle, WM_FETCHVIDEO, 0, 0);
  } else {
    FWebBrowser->ConnectTimeoutMs = FNet.ConnectTimeoutMs;
    FWebBrowser->IdleTimeoutMs = FNet.IdleTimeoutMs;
    FDisplay.Panel = dpRetrieval;
    Changed();
    plat::PostMessage(FHandle, WM_FETCHPAGE, 0, 0);
  }
}

void TDownloadJob::bStopClick() {
  if (!FHttpCli->URL.empty()) FHttpCli->Abort();
  if (ConvertProcess && ConvertProcess->FActive) ConvertProcess->StopProcess(0);
  FStopped = true;
  FModalResult = mrStop;
}

void TDownloadJob::Close() {
  if (FModalResult == mrNone) FModalResult = mrCancel;
}

void TDownloadJob::FormClose() {
  if (FClosed) return;
  FClosed = true;
  FInputList.clear();
  if (ConvertProcess && ConvertProcess->FActive) ConvertProcess->StopProcess(0);
}

// ---------------------------------------------------------------- retrieval

void TDownloadJob::PumpTurn() { plat::WaitForInput(kWaitTurnMs); }

TDownloadJob::TWaitResult TDownloadJob::WaitReadyState() {
  while (FWebBrowser->ReadyState() < 3) {
    PumpTurn();
    if (Stopped()) return wrStopped;
  }
  return wrReady;
}

void TDownloadJob::Navigate(const std::string& address) { FWebBrowser->Navigate(Wide(address)); }

void TDownloadJob::BlankPage() { FWebBrowser->Navigate2(L"about:blank"); }

void TDownloadJob::ReadDocument(std::string& text) {
  TWebDocument* document = FWebBrowser->Document();
  if (!document) return;  // nothing to read: the last text stands
  IPersistStreamInit* persist = document->QueryPersistStreamInit();
  if (!persist) throw std::runtime_error("Interface not supported");
  plat::TMemoryStream stream;
  try {
    stream.SetSize(65536);  // zero-filled
  } catch (const std::bad_alloc&) {
    FDisplay.Label1 = "Unable get html from the url. Please try again later!";
    Changed();
    throw std::runtime_error("Not enough storage is available to process this command");
  }
  stream.SetPosition(0);
  persist->Save(stream, false);
  const char* data = stream.Memory();
  const std::size_t size = static_cast<std::size_t>(stream.GetSize());
  std::size_t n = 0;
  while (n < size && data[n] != '\0') ++n;
  text.assign(data, n);
}

TDownloadJob::TPollResult TDownloadJob::PollTurn(const std::string& line, std::string& pageText) {
  PumpTurn();
  if (Stopped()) return prLeave;
  ReadDocument(pageText);
  if (PageFailed()) return prFailed;

  if (!page::HasAgeGate(pageText)) {
    FLoginSubmitted = false;
  } else {
    // The gate still shown after a login means the account was refused:
    // ask as if none were stored instead of sending it again every turn.
    if (FHost.AccountUser().empty() || FLoginSubmitted) {
      // Say so in the service's own words before asking again.
      if (FLoginSubmitted) Box("Your login was incorrect.", plat::MB_OK | plat::MB_ICONERROR);
      if (Box(AgeGateQuestion(), plat::MB_YESNO | plat::MB_ICONINFORMATION) != plat::IDYES) {
        bStopClick();
        return prLeave;
      }
      std::string user, password;
      const bool entered = FHost.AskLogin(user, password);
      if (entered) FHost.SetAccount(user, password);
      if (!entered || FHost.AccountUser().empty()) {
        bStopClick();
        return prLeave;
      }
    }
    if (std::optional<std::string> login =
            page::BuildLoginAddress(line, FHost.AccountUser(), FHost.AccountPassword())) {
      FLoginSubmitted = true;
      BlankPage();
      Navigate(*login);
      if (WaitReadyState() == wrStopped) return prLeave;
      ReadDocument(pageText);
      if (PageFailed()) return prFailed;
    }
  }

  if (page::HasBirthDateConfirmation(pageText)) {
    if (std::optional<std::string> verify = page::BuildVerifyAgeAddress(line)) {
      BlankPage();
      Navigate(*verify);
      if (WaitReadyState() == wrStopped) return prLeave;
      ReadDocument(pageText);
      if (PageFailed()) return prFailed;
    }
  }

  if (page::IsNotAvailable(pageText)) return prEndPolling;

  if (std::optional<std::string> title = page::ExtractTitle(pageText)) {
    FPageTitle = *title;
    FDisplay.FileName = *title + ".flv";
    Changed();
  }
  const std::optional<std::string> token = page::ExtractToken(pageText);
  if (!token) return prNextTurn;
  const std::optional<std::string> videoId = page::VideoIdOf(line);
  if (!videoId) return prNextTurn;
  FVideoId = *videoId;
  FDisplay.DownloadUrl = page::BuildGetVideoAddress(ServiceHost(), *videoId, *token);
  Changed();
  return prDone;
}

bool TDownloadJob::PageFailed() {
  if (!FWebBrowser->LoadFailed()) return false;
  FPageError = FWebBrowser->FailureText();
  return true;
}

void TDownloadJob::FetchPage() {
  bool posted = false;
  for (std::size_t i = 0; i < FInputList.size(); ++i) {
    if (Stopped()) return;
    const std::string line = FInputList[i];
    FDisplay.Url = line;
    Changed();
    if (!IsWatchPageAddress(line)) continue;

    std::string pageText;
    FPageError.clear();
    for (int attempt = 0; attempt < 3; ++attempt) {
      Navigate(line);
      if (WaitReadyState() == wrStopped) return;
      const std::uint32_t start = plat::GetTickCount();
      for (;;) {
        if (Stopped()) return;
        if (static_cast<std::uint32_t>(plat::GetTickCount() - start) > FPollLimitMs) break;
        const TPollResult r = PollTurn(line, pageText);
        if (r == prLeave) return;
        if (r != prNextTurn) break;
      }
      BlankPage();
      // A failed load shows the same however long it is polled or retried.
      if (!pageText.empty() || !FPageError.empty()) break;
    }
    plat::PostMessage(FHandle, WM_FETCHVIDEO, 0, 0);
    posted = true;
  }
  if (!posted) FHost.StageStalled("no video page address");
}

// ---------------------------------------------------------------- transfer

bool OnlyTransferProgressDiffers(TDownloadDisplay a, const TDownloadDisplay& b) {
  a.Bar1Pos = b.Bar1Pos;
  a.ReceiveData = b.ReceiveData;
  a.ReceiveSpeed = b.ReceiveSpeed;
  a.EstimateTime = b.EstimateTime;
  return a == b;
}

void TDownloadJob::FetchVideo() {
  if (FDisplay.DownloadUrl.empty()) {
    const std::string text = "Unable get html from " + (FInputList.empty() ? std::string() : FInputList.front());
    // A page that failed to load says why; one that loaded without an
    // address has nothing more to say.
    if (FPageError.empty()) {
      Report(text, plat::MB_ICONINFORMATION);
    } else {
      Report(text + "\r\n" + FPageError, plat::MB_ICONERROR);
      // Kept on one line: the window's list of results shows it so.
      FFailure = text + ": " + FPageError;
    }
    bStopClick();
    return;
  }
  FDisplay.Panel = dpTransfer;
  Changed();
  FHost.CenterOnOwner();
  FTransfer.Reset();
  FHeaderError.clear();
  FDisplay.Bar1Max = FTransfer.BarMax();
  FDisplay.TotalText.clear();

  FTargetPath = IncludeTrailingPathDelimiter(FHost.OutputFolder()) +
                DownloadFileName(FDisplay.FileName, FVideoId);
  // Only a final file that was there at the question may be replaced.
  bool replaceAgreed = plat::FileExists(FTargetPath);
  if (replaceAgreed) {
    if (Box(FTargetPath + " has existed,overite it?",
            plat::MB_YESNO | plat::MB_ICONINFORMATION | plat::MB_DEFBUTTON2) != plat::IDYES) {
      FFailure = "Not replaced: " + FTargetPath;
      plat::PostMessage(FHandle, plat::WM_CLOSE, 0, 0);
      return;
    }
  }
  const std::string routeError = PrepareRequest(*FHttpCli, FNet, FDisplay.DownloadUrl);
  if (!routeError.empty()) {
    Report("Download failed: " + routeError, plat::MB_ICONERROR);
    plat::PostMessage(FHandle, plat::WM_CLOSE, 0, 0);
    return;
  }
  // The body goes to "<name>.part" until it is complete. The final file, if
  // any, must not be held by another program and is held by this one until
  // it is replaced. With --continue the part's bytes are kept and the rest
  // is asked for.
  std::unique_ptr<plat::TFileStream> finalLock;
  const std::string partPath = PartPath(FTargetPath);
  const bool resume = FNet.Continue && plat::FileExists(partPath);
  try {
    if (replaceAgreed)
      finalLock = std::make_unique<plat::TFileStream>(FTargetPath, plat::fmOpenReadWrite | plat::fmShareExclusive);
    FFileStream = std::make_unique<TDownloadFile>(partPath, resume);
  } catch (const plat::EStreamError&) {
    FLocalFailure = true;
    throw;
  }
  FDisplay.FileLabel = "Downloading: " + ExtractFileName(FTargetPath) + " ...";
  Changed();
  if (resume)
    FHost.Notice("Continuing " + ExtractFileName(partPath) + " after its " + std::to_string(FFileStream->GetSize()) +
                 " bytes");

  // What is still gathered reaches the file before a result is judged; a
  // failure leaves its reason in WriteError.
  const auto flushGathered = [this] {
    try {
      FFileStream->FlushBuffer();
    } catch (const plat::EStreamError&) {
    }
  };
  TResumableGet get(*FHttpCli, *FFileStream,
                    {[this](const std::string& line) { TransferNotice(line); }, [this] { return Stopped(); },
                     [this] { return FHeaderError.empty() ? FFileStream->WriteError() : FHeaderError; },
                     flushGathered, {}, {}, {}});
  get.Policy = TRetryPolicy(FNet.Retries);
  get.ConnectTimeoutMs = FNet.ConnectTimeoutMs;
  get.IdleTimeoutMs = FNet.IdleTimeoutMs;
  get.ContinueFirst = resume;
  // The identity of the bytes the part holds goes beside it before the
  // first of them is written, so that a later run continues only that file.
  const std::string controlPath = ControlPath(partPath);
  if (resume) {
    if (std::optional<TPartIdentity> kept = LoadPartControl(controlPath)) get.Identity = *kept;
  }
  bool controlFailed = false;  // a local problem, like a refused write
  // A file the first answer shows to be large and served in ranges goes on
  // over several connections; the done ranges go beside the part.
  const std::int64_t segment = FNet.SegmentSize > 0 ? FNet.SegmentSize : TSegmentedGet::kMinSplit;
  bool segmentsAllowed = FNet.Connections > 1;
  // Every answer writes into the part first (the probe below), so its
  // identity is kept before its first byte.
  get.Hooks().Identified = [&](const TPartIdentity& id) {
    std::string error;
    controlFailed = !SavePartControl(controlPath, id, error);
    return error;
  };
  std::string segmentUrl = FDisplay.DownloadUrl;
  // With the default number, split only a first stream that its probe shows
  // to be paced: on an open pipe one stream is the fastest. A number the
  // user chose splits at once, as other download accelerators do.
  const bool atOnce = FNet.Connections != kDefaultConnections;
  std::optional<TSplitProbe> probe;
  get.Hooks().TakeOver = [&](const THttpCli& cli, std::int64_t have) {
    if (!segmentsAllowed || !Segmentable(cli.StatusCode(), cli.ReceivedHeader(), get.Identity.Total, segment))
      return false;
    // The connections go straight to where the relocations led.
    const std::string& moved = cli.Location();
    const bool absolute = ascii::StartsNoCase(moved, "http://") || ascii::StartsNoCase(moved, "https://");
    segmentUrl = cli.LocationChangeCurCount() > 0 && absolute ? moved : FDisplay.DownloadUrl;
    probe.emplace(get.Identity.Total - have, plat::GetTickCount());
    probe->RateLimit = FNet.RateLimit;
    return true;
  };
  get.Hooks().Probe = [&](std::int64_t received) {
    return atOnce || (probe && probe->Sample(received, plat::GetTickCount()) == pvSplit);
  };
  std::vector<TByteRange> done;
  bool segmented = false;
  if (resume && get.Identity.Total > 0 && get.Identity.Url == FDisplay.DownloadUrl) {
    if (const auto ranges = LoadDoneRanges(controlPath)) {
      segmented = true;
      for (const auto& [first, last] : *ranges) done.push_back({first, last + 1});
    }
  }
  std::exception_ptr error;
  TGetOutcome outcome;
  bool segmentsLocal = false;
  try {
    for (;;) {
      THttpCli* running = nullptr;  // the first stream, going on as a segment
      if (!segmented) {
        outcome = get.Run(FDisplay.DownloadUrl);
        if (!outcome.HandedOver) break;
        flushGathered();
        const std::int64_t have = FFileStream->GetSize();
        if (outcome.HandedAt == have) {
          running = FHttpCli.get();
        } else if (outcome.HandedAt >= 0) {
          FHttpCli->Abort();  // its next byte is not where the part ends
        }
        done = {{0, have}};
        segmented = true;
      }
      const TSegmentedOutcome seg =
          FetchSegments(segmentUrl, get.Identity, done, controlPath, controlFailed, running);
      if (seg.End == seComplete) {
        outcome.Complete = true;
        break;
      }
      if (seg.End == seFailed) {
        outcome.Complete = false;
        outcome.Failure = seg.Failure;
        // A write the segments could not make (a full disk) is this side's, as the stream's is.
        segmentsLocal = seg.Failure.Kind == fkLocal;
        break;
      }
      // The server cannot serve this file in ranges: it starts again as
      // one stream, and no old range may pass for done meanwhile.
      FHost.Notice(seg.Why + "; fetching it again as one stream");
      RemovePartControl(controlPath);
      segmentsAllowed = false;
      segmented = false;
      get.ContinueFirst = false;
      get.Identity = {};
    }
  } catch (...) {
    error = std::current_exception();
  }
  // Each attempt ended with a flush; this one serves a Run that raised, so
  // that the ".part" keeps every byte received.
  flushGathered();
  const std::string writeError = FFileStream->WriteError();
  FHttpCli->ReceiveStream = nullptr;
  FFileStream.reset();
  if (error) std::rethrow_exception(error);
  // Stop ends the modal run; nothing is converted.
  if (Stopped()) return;

  std::optional<std::string> failure;
  if (!outcome.Complete) failure = FailureText(outcome.Failure);
  FLocalFailure = !writeError.empty() || controlFailed || segmentsLocal;
  if (!failure && FLocalFailure) failure = writeError;
  finalLock.reset();
  if (!failure && FDirect) NameDirectDownload(replaceAgreed);
  std::string moveError;
  if (!failure && !MoveToFinalName(partPath, FTargetPath, replaceAgreed, moveError)) {
    failure = moveError;
    FLocalFailure = true;
  }
  if (!failure) RemovePartControl(controlPath);
  FTransferOk = !failure;
  if (failure) {
    // A ".part" this run made (or emptied) and never wrote to holds nothing
    // to continue: it is not left behind, nor is its control file.
    if (!resume && RemoveIfEmpty(partPath)) RemovePartControl(controlPath);
    Report("Download failed: " + *failure, plat::MB_ICONERROR);
    plat::PostMessage(FHandle, plat::WM_CLOSE, 0, 0);
  } else if (FJobMode == TJobMode::jmDownload) {
    plat::PostMessage(FHandle, plat::WM_CLOSE, 0, 0);
  } else {
    StartConversion(FTargetPath);
  }
}

TSegmentedOutcome TDownloadJob::FetchSegments(const std::string& url, const TPartIdentity& identity,
                                                const std::vector<TByteRange>& done, const std::string& controlPath,
                                                bool& controlFailed, THttpCli* running) {
  // The display counts every connection's bytes against the whole file;
  // what an earlier run or the first answer left is no part of the speed.
  std::int64_t had = 0;
  for (const TByteRange& r : done) had += r.Size();
  FTransfer.HeaderBegin();
  FTransfer.HeaderData({"HTTP/1.1 200 OK", "Content-Length: " + std::to_string(identity.Total)});
  FTransfer.BodyFrom(had);
  FDisplay.Bar1Max = FTransfer.BarMax();
  FDisplay.TotalText = FTransfer.TotalText();
  TSegmentedHooks hooks;
  hooks.Say = [this](const std::string& line) { FHost.Notice(line); };
  hooks.Stopped = [this] { return Stopped(); };
  hooks.Prepare = [this, &url](THttpCli& cli) {
    cli.Agent = FHttpCli->Agent;
    cli.SetRequestVer(FHttpCli->GetRequestVer());
    PrepareRequest(cli, FNet, url);
  };
  hooks.SaveDone = [&identity, &controlPath, &controlFailed](const std::vector<TByteRange>& ranges) {
    std::vector<std::pair<std::int64_t, std::int64_t>> pairs;
    for (const TByteRange& r : ranges) pairs.emplace_back(r.Begin, r.End - 1);
    std::string error;
    if (!SavePartControl(controlPath, identity, pairs, error)) controlFailed = true;
    return error;
  };
  hooks.Progress = [this, had](std::int64_t count, int open) {
    FTransfer.DocData(count - had);
    FDisplay.ReceiveData = FTransfer.ReceiveData();
    FDisplay.Bar1Pos = FTransfer.BarPos();
    FDisplay.ReceiveSpeed = FTransfer.ReceiveSpeed();
    if (open > 1)
      FDisplay.ReceiveSpeed += (FDisplay.ReceiveSpeed.empty() ? "" : ", ") + std::to_string(open) + " connections";
    FDisplay.EstimateTime = FTransfer.EstimateTime();
    Changed();
  };
  TSegmentedGet seg(FFileStream->Handle(), identity, hooks);
  seg.Connections = FNet.Connections;
  seg.SegmentSize = FNet.SegmentSize;
  seg.Policy = TRetryPolicy(FNet.Retries);
  seg.ConnectTimeoutMs = FNet.ConnectTimeoutMs;
  seg.IdleTimeoutMs = FNet.IdleTimeoutMs;
  seg.RateLimit = FNet.RateLimit;
  seg.Budget = FHttpCli->RateBudget;  // the first stream's: one limit before and after the split
  seg.MinSpeed = FNet.MinSpeed;
  seg.MinSpeedTimeMs = FNet.MinSpeedTimeMs;
  seg.Done = done;
  if (running && !done.empty()) seg.Adopt(*running, done.back().End);
  return seg.Run(url);
}

// A direct download takes the name the answer's Content-Disposition gives,
// when it gives one. A file already under that name is replaced only when
// the user agrees; otherwise the address's name stays.
void TDownloadJob::NameDirectDownload(bool& mayReplace) {
  const std::string named = IncludeTrailingPathDelimiter(FHost.OutputFolder()) +
                            DownloadFileName(DirectFileName(FDisplay.DownloadUrl, FHttpCli->ReceivedHeader()),
                                             DocNameOf(FDisplay.DownloadUrl));
  if (named == FTargetPath) return;
  const bool exists = plat::FileExists(named);
  if (exists && Box(named + " has existed,overite it?",
                    plat::MB_YESNO | plat::MB_ICONINFORMATION | plat::MB_DEFBUTTON2) != plat::IDYES)
    return;
  FTargetPath = named;
  mayReplace = exists;
}

void TDownloadJob::HttpCli1HeaderData() {
  try {
    FTransfer.HeaderData(FHttpCli->ReceivedHeader());
  } catch (const std::exception& e) {
    // Escaping, it aborts the connection; the client may still end as if
    // the body were complete, so the transfer keeps the reason.
    FHeaderError = e.what();
    throw;
  }
  FDisplay.Bar1Max = FTransfer.BarMax();
  FDisplay.TotalText = FTransfer.TotalText();
  Changed();
}

std::int64_t TDownloadJob::FileHolds() { return FFileStream ? FFileStream->Seek(0, plat::soCurrent) : 0; }

// A continued download's answer carries only the rest, so the display counts
// on from what the file holds: at the header's begin (a retry continues the
// file) and again at its end (an answer that is the whole file empties it).
void TDownloadJob::HttpCli1HeaderEnd() {
  // An answer that is not the file's (an error page, a relocation) leaves
  // no length and no count: the bar shows only what the file received.
  if (!FHttpCli->ReceiveStream) FTransfer.HeaderBegin();
  FTransfer.BodyFrom(FileHolds());
  FDisplay.Bar1Max = FTransfer.BarMax();
  FDisplay.Bar1Pos = FTransfer.BarPos();
  FDisplay.TotalText = FTransfer.TotalText();
  Changed();
}

void TDownloadJob::TransferNotice(const std::string& line) {
  FHost.Notice(line);
  FDisplay.Notice = line;
  Changed();
}

void TDownloadJob::HttpCli1DocData() {
  if (!FHttpCli->ReceiveStream) return;
  // Bytes for the file again: the wait for a retry is over.
  FDisplay.Notice.clear();
  FTransfer.DocData(FHttpCli->ReceivedCount());
  FDisplay.ReceiveData = FTransfer.ReceiveData();
  FDisplay.Bar1Pos = FTransfer.BarPos();
  FDisplay.ReceiveSpeed = FTransfer.ReceiveSpeed();
  FDisplay.EstimateTime = FTransfer.EstimateTime();
  Changed();
}

// ---------------------------------------------------------------- conversion

void TDownloadJob::StartConversion(const std::string& inputFile) {
  FDisplay.Panel = dpConvert;
  Changed();
  if (!ConvertProcess) throw std::runtime_error("no converter");
  TConvertProcess& cp = *ConvertProcess;
  cp.FActive = true;
  cp.FInputFile = inputFile;
  FConvertOutput = ConvertOutputName(FHost.OutputFolder(), inputFile, FTargetExt);
  cp.FOutputFile = FConvertOutput;
  cp.FNotifyWnd = FHandle;
  cp.FArguments = FConvertArgs;
  // A download is tagged with where it came from; a local file keeps its own tags.
  cp.FTags = FJobMode == TJobMode::jmConvertFile ? TConvertTags{} : TagsForSource(FPageTitle, FDisplay.Url);
  FConvertLaunched = false;
  cp.Start();
  FConvertLaunched = cp.Running();
  FDisplay.ConvertName = ExtractFileName(FConvertOutput);
  Changed();
}

void TDownloadJob::ConvertInfo(TProcessInfo* info) {
  std::unique_ptr<TProcessInfo> record(info);
  if (!record) return;
  switch (record->Status) {
    case csProgress:
      FDisplay.Bar2Pos = record->Percent;
      FDisplay.TimeElapsed = record->Elapsed;
      FDisplay.TimeEstimated = record->Estimated;
      break;
    case csInUse:
      Report("Video file will be created may be used, convert process failed!", plat::MB_ICONERROR);
      break;
    case csFailed:
      Report(ConvertProcess ? ConvertProcess->LastErrorLine() : std::string("convert process failed"),
             plat::MB_ICONERROR);
      break;
    default:
      break;
  }
  FDisplay.TimeElapsed = record->Elapsed;
  FDisplay.TimeEstimated = record->Estimated;
  Changed();
  // A progress report of 100 percent may come while the converter still
  // writes its output: close on its end record only, which carries no times.
  const bool endRecord = record->Elapsed.empty() && record->Estimated.empty();
  if (record->Status == csProgress && endRecord) {
    FConvertOk = FConvertLaunched && ConvertProcess && ConvertProcess->ExitCode() == 0;
    Close();
  } else if (record->Status != csProgress) {
    FHost.StageStalled(record->Status == csInUse ? "output file in use" : "converter failed");
  }
}
