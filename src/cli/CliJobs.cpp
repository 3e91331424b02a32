#include "cli/CliJobs.h"

#include <unistd.h>

#include <cstdlib>

#include "app/core/ConvertThread.h"
#include "app/core/DirectTarget.h"
#include "app/core/DownloadJob.h"
#include "app/core/Formats.h"
#include "app/core/Global.h"
#include "app/core/JobMode.h"
#include "app/core/Service.h"
#include "cli/CliDesktop.h"
#include "cli/CliHost.h"
#include "platform/Desktop.h"
#include "platform/FileUtil.h"
#include "platform/MessageLoop.h"

namespace {

int Say(const std::string& text, plat::UINT flags) { return plat::Desktop().MessageBox(text, "Clipharbor", flags); }

// A local file unless the text is an address: an address has a scheme.
bool LooksLikeAddress(const std::string& input) {
  return input.empty() || input.find("://") != std::string::npos;
}

std::string CurrentFolder() {
  std::vector<char> buf(4096);
  if (::getcwd(buf.data(), buf.size()) == nullptr) return ".";
  return buf.data();
}

bool FileSize(const std::string& path, long long& size) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  bool ok = std::fseek(f, 0, SEEK_END) == 0;
  size = ok ? std::ftell(f) : -1;
  std::fclose(f);
  return ok && size >= 0;
}

void EndProgressLine(void* host) { static_cast<TCliHost*>(host)->EndLine(); }

}  // namespace

int WorseExitStatus(int a, int b) {
  if (a == kExitInterrupted || b == kExitInterrupted) return kExitInterrupted;
  return a > b ? a : b;
}

TCliJobs::TCliJobs(const TCliOptions& options, TCliDesktop& desktop, std::FILE* out, bool terminal,
                   std::function<bool()> interrupted)
    : FOptions(options), FDesktop(desktop), FOut(out), FTerminal(terminal), FInterrupted(std::move(interrupted)) {
  FNet.Proxy = options.Proxy;
  FNet.RateLimit = options.LimitRate;
  FNet.ConnectTimeoutMs = options.ConnectTimeoutMs;
  FNet.IdleTimeoutMs = options.TimeoutMs;
  FNet.Retries = options.Retries;
  FNet.Continue = options.Continue;
  FNet.AddrFamily = options.AddrFamily;
  FNet.Connections = options.Connections;
  FNet.SegmentSize = options.SegmentSize;
  FNet.MinSpeed = options.MinSpeed;
  FNet.MinSpeedTimeMs = options.MinSpeedTimeMs;
  // https for every request of the job (the window keeps it off).
  FNet.Https = true;
  FNet.Trust.CaFile = options.CaCert;
  FNet.Trust.VerifyPeer = !options.Insecure;
  FFolder = options.Output.empty() ? CurrentFolder() : options.Output;
}

void TCliJobs::SetAccount(const std::string& user, const std::string& password) {
  FUser = user;
  FPassword = password;
  FHaveAccount = true;
}

int TCliJobs::Run(const std::vector<std::string>& inputs) {
  int worst = kExitOk;
  for (const std::string& input : inputs) {
    if (FInterrupted()) return kExitInterrupted;
    const int status = RunOne(input);
    ++(status == kExitOk ? FSucceeded : FFailed);
    worst = WorseExitStatus(worst, status);
    if (status == kExitInterrupted) break;
  }
  return worst;
}

std::optional<int> TCliJobs::CheckFolder() {
  if (!FFolderStatus) {
    FFolderStatus = kExitOk;
    if (!plat::DirectoryExists(FFolder)) {
      if (Say(FFolder + "," + " the output directory does not exist." + "\r\n" + "creates a new directory?",
              plat::MB_YESNO | plat::MB_ICONINFORMATION) != plat::IDYES) {
        FFolderStatus = kExitDownloadFailed;
      } else if (!plat::ForceDirectories(FFolder)) {
        Say("Cannot create " + FFolder, plat::MB_OK | plat::MB_ICONERROR);
        FFolderStatus = kExitLocalFile;
      }
    }
  }
  if (*FFolderStatus == kExitOk) return std::nullopt;
  return FFolderStatus;
}

int TCliJobs::RunOne(const std::string& input) {
  // The main window's Start checks, in their order and with their texts.
  const bool local = !LooksLikeAddress(input);
  if (!local && input.empty()) {
    Say("Please enter video URL!", plat::MB_OK | plat::MB_ICONINFORMATION);
    return kExitDownloadFailed;
  }
  if (std::optional<int> status = CheckFolder()) return *status;
  const bool direct = !local && IsDirectAddress(input);
  if (!local) {
    if (!direct && !IsWatchPageAddress(input)) {
      Say("Please enter the url like " + ExampleWatchUrl(), plat::MB_OK | plat::MB_ICONINFORMATION);
      return kExitDownloadFailed;
    }
  } else if (!plat::FileExists(input)) {
    Say("Please check whether the video file exist.", plat::MB_OK | plat::MB_ICONINFORMATION);
    return kExitDownloadFailed;
  }

  const TJobMode jobMode =
      local ? TJobMode::jmConvertFile : (FOptions.Format ? TJobMode::jmDownloadConvert : TJobMode::jmDownload);
  const int format = FOptions.Format.value_or(0);
  TCliHost host(FDesktop, FOut, FTerminal, FFolder, FOptions.Quiet);
  FDesktop.SetBeforeOutput(&EndProgressLine, &host);
  if (FHaveAccount) host.SetAccount(FUser, FPassword);

  CreateConvertProcess();
  bool succeeded = false;
  bool transferred = false;
  bool localFailure = false;
  std::string target, converted;
  {
    TDownloadJob job(host, {input});
    job.FJobMode = jobMode;
    job.FDirect = direct;
    job.FNet = FNet;
    job.FTargetExt = ExtensionForLabel(FormatAt(format)->Label);
    job.FConvertArgs = PresetForIndex(format);
    if (const char* limit = std::getenv("CLIPHARBOR_TEST_POLL_LIMIT_MS")) {
      const long ms = std::strtol(limit, nullptr, 10);
      if (ms > 0) job.FPollLimitMs = static_cast<std::uint32_t>(ms);
    }

    // Ctrl-C is the Stop button.
    plat::HWND stopWatch = plat::AllocateHWnd([&](plat::UINT msg, plat::WPARAM, plat::LPARAM) {
      if (msg == plat::WM_TIMER && FInterrupted() && job.ModalResult() != mrStop) job.bStopClick();
      return plat::LRESULT{0};
    });
    plat::SetTimer(stopWatch, 1, 100);

    job.FormShow();
    while (job.ModalResult() == mrNone && !host.Stalled() && !plat::ApplicationTerminated())
      plat::WaitForInput(50);
    job.FormClose();
    plat::KillTimer(stopWatch, 1);
    plat::DeallocateHWnd(stopWatch);

    succeeded = job.Succeeded() && !host.Stalled();
    transferred = job.TransferSucceeded();
    localFailure = job.LocalFailure();
    target = job.TargetPath();
    converted = job.ConvertOutputPath();
  }
  DestroyConvertProcess();
  host.Finish();
  FDesktop.SetBeforeOutput(nullptr, nullptr);
  if (!host.AccountUser().empty()) {
    FUser = host.AccountUser();
    FPassword = host.AccountPassword();
    FHaveAccount = true;
  }

  if (FInterrupted()) return kExitInterrupted;
  if (succeeded) {
    long long size = 0;
    if (!FOptions.Quiet && Downloads(jobMode) && FileSize(target, size))
      std::fprintf(FOut, "Saved %s (%lld bytes)\n", PrintableText(target).c_str(), size);
    if (!FOptions.Quiet && Converts(jobMode) && FileSize(converted, size))
      std::fprintf(FOut, "Saved %s (%lld bytes)\n", PrintableText(converted).c_str(), size);
    std::fflush(FOut);
    return kExitOk;
  }
  if (localFailure) return kExitLocalFile;
  if (jobMode == TJobMode::jmConvertFile || (jobMode == TJobMode::jmDownloadConvert && transferred))
    return kExitConvertFailed;
  return kExitDownloadFailed;
}
