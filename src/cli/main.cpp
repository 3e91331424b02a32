// clipharbor-cli: the download window's job without a window.
//
//   clipharbor-cli [--format N] [--output DIR] [--yes|--no] ADDRESS-OR-FLV-FILE
//
// A watch-page address is downloaded (and converted when a format is
// given); a local FLV file is converted. The checks and texts are the main
// window's. Exit status 0 only when the whole job succeeded.
#include <QCoreApplication>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/core/ConvertThread.h"
#include "app/core/DownloadJob.h"
#include "app/core/Formats.h"
#include "app/core/Global.h"
#include "app/core/Service.h"
#include "cli/CliDesktop.h"
#include "cli/CliHost.h"
#include "net/http/HttpProt.h"
#include "platform/Desktop.h"
#include "platform/FileUtil.h"
#include "platform/MessageLoop.h"
#include "platform/StopSignals.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Ctrl-C, a closed terminal or output pipe, kill and Ctrl-\ are Stop.
void OnStopSignal(int) { TCliDesktop::RequestStop(); }

bool Interrupted() { return plat::TStopSignals::Received() != 0; }

void PrintUsage(std::FILE* f) {
  std::fprintf(f,
               "Usage: clipharbor-cli [--format N] [--output DIR] [--yes|--no] ADDRESS-OR-FLV-FILE\n"
               "\n"
               "Downloads the video of a watch page (http://%s/watch?v=...) into the\n"
               "output folder as \"<title>.flv\"; with --format it then converts it. Given a\n"
               "local FLV file instead, converts that file (--format is needed).\n"
               "\n"
               "  --format N       convert to format N (below)\n"
               "  --output DIR     output folder (default: the current folder)\n"
               "  --yes            answer Yes to every question (create the folder, overwrite)\n"
               "  --no             answer No to every question\n"
               "  --user NAME      account for age-restricted videos; the password comes from\n"
               "  --password PW    --password or CLIPHARBOR_PASSWORD, else it is asked for\n"
               "  --cacert FILE    trust the certificates in FILE (PEM) instead of the system's\n"
               "                   for https servers\n"
               "  -k, --insecure   do not check the certificates and names of https servers\n"
               "  --help           show this text\n"
               "\n"
               "Without --yes or --no, questions are read from standard input; when it\n"
               "ends, every question is answered No.\n"
               "\n"
               "Formats:\n",
               ServiceHost().c_str());
  for (int i = 0; i < FormatCount; ++i) std::fprintf(f, "  %d  %s\n", i, FormatAt(i)->Label);
  std::fprintf(f, "\nExit status: 0 when the job succeeded, 1 when it failed or was stopped, 2 for\n"
                  "a wrong command line.\n");
}

struct TOptions {
  std::optional<int> Format;
  std::string Output;
  std::optional<int> Answer;
  std::optional<std::string> User, Password;
  std::optional<std::string> Input;
  std::string CaCert;
  bool Insecure = false;
  bool Help = false;
};

// Returns an error text, or nothing when the command line is good.
std::optional<std::string> ParseOptions(int argc, char** argv, TOptions& o) {
  bool onlyInput = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    std::optional<std::string> inlineValue;
    if (!onlyInput && a.rfind("--", 0) == 0 && a.size() > 2) {
      const std::string::size_type eq = a.find('=');
      if (eq != std::string::npos) {
        inlineValue = a.substr(eq + 1);
        a.erase(eq);
      }
    }
    auto value = [&](std::string& out) -> bool {
      if (inlineValue) {
        out = *inlineValue;
        return true;
      }
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    if (onlyInput || a.empty() || a[0] != '-' || a == "-") {
      if (o.Input) return "only one address or file can be given";
      o.Input = argv[i];
    } else if (a == "--") {
      onlyInput = true;
    } else if (a == "--help" || a == "-h") {
      o.Help = true;
    } else if (a == "--format") {
      std::string v;
      if (!value(v)) return "--format needs a number";
      char* end = nullptr;
      const long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || n < 0 || n >= FormatCount)
        return "--format needs a number from 0 to " + std::to_string(FormatCount - 1);
      o.Format = static_cast<int>(n);
    } else if (a == "--output") {
      if (!value(o.Output)) return "--output needs a folder";
    } else if (a == "--yes" || a == "--no") {
      const int answer = a == "--yes" ? plat::IDYES : plat::IDNO;
      if (o.Answer && *o.Answer != answer) return "--yes and --no exclude each other";
      o.Answer = answer;
    } else if (a == "--user") {
      std::string v;
      if (!value(v)) return "--user needs a name";
      o.User = v;
    } else if (a == "--cacert") {
      if (!value(o.CaCert) || o.CaCert.empty()) return "--cacert needs a file";
      if (!plat::FileExists(o.CaCert)) return "--cacert: cannot read " + o.CaCert;
    } else if (a == "--insecure" || a == "-k") {
      o.Insecure = true;
    } else if (a == "--password") {
      std::string v;
      if (!value(v)) return "--password needs a value";
      o.Password = v;
    } else {
      return "unknown option " + a;
    }
  }
  if (!o.Help && !o.Input) return "an address or a file is needed";
  return std::nullopt;
}

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

int main(int argc, char** argv) {
  TOptions options;
  if (std::optional<std::string> error = ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "clipharbor-cli: %s\n", error->c_str());
    std::fprintf(stderr, "Try 'clipharbor-cli --help'.\n");
    return kExitUsage;
  }
  if (options.Help) {
    PrintUsage(stdout);
    return kExitOk;
  }

  QCoreApplication app(argc, argv);
  TCliDesktop desktop(options.Answer, stdin, stderr);
  plat::ScopedDesktop scopedDesktop(desktop);
  auto say = [&](const std::string& text, plat::UINT flags) {
    return plat::Desktop().MessageBox(text, "Clipharbor", flags);
  };

  // The main window's Start checks, in their order and with their texts.
  const std::string input = *options.Input;
  const bool convertLocal = !LooksLikeAddress(input);
  int jobMode = convertLocal ? 2 : (options.Format ? 1 : 0);
  if (!convertLocal && input.empty()) {
    say("Please enter video URL!", plat::MB_OK | plat::MB_ICONINFORMATION);
    return kExitFailed;
  }
  if (convertLocal && !options.Format) {
    std::fprintf(stderr, "clipharbor-cli: --format is needed to convert a local file\n");
    return kExitUsage;
  }
  const std::string folder = options.Output.empty() ? CurrentFolder() : options.Output;
  if (!plat::DirectoryExists(folder)) {
    if (say(folder + "," + " the output directory does not exist." + "\r\n" +
                "creates a new directory?",
            plat::MB_YESNO | plat::MB_ICONINFORMATION) != plat::IDYES)
      return kExitFailed;
    if (!plat::ForceDirectories(folder)) {
      say("Cannot create " + folder, plat::MB_OK | plat::MB_ICONERROR);
      return kExitFailed;
    }
  }
  if (!convertLocal) {
    if (!IsVideoPageUrl(input)) {
      say("Please enter the url like " + ExampleWatchUrl(), plat::MB_OK | plat::MB_ICONINFORMATION);
      return kExitFailed;
    }
  } else if (!plat::FileExists(input)) {
    say("Please check whether the video file exist.", plat::MB_OK | plat::MB_ICONINFORMATION);
    return kExitFailed;
  }

  const int format = options.Format.value_or(0);
  const bool terminal = ::isatty(::fileno(stdout)) != 0;
  TCliHost host(desktop, stdout, terminal, folder);
  desktop.SetBeforeOutput(&EndProgressLine, &host);
  // Caught before the password question, so that Ctrl-C there gives the
  // terminal its echo back.
  plat::TStopSignals stopSignals(&OnStopSignal);
  if (options.User) {
    std::string password;
    if (options.Password) {
      password = *options.Password;
    } else if (const char* env = std::getenv("CLIPHARBOR_PASSWORD")) {
      password = env;
    } else if (::isatty(::fileno(stdin)) == 0) {
      std::fprintf(stderr,
                   "clipharbor-cli: --user %s needs a password: give --password or CLIPHARBOR_PASSWORD, or run "
                   "on a terminal to be asked for it\n",
                   options.User->c_str());
      return kExitUsage;
    } else if (std::optional<std::string> typed = desktop.AskPassword(*options.User)) {
      password = *typed;
    } else {
      std::fprintf(stderr, "clipharbor-cli: no password was given for %s\n", options.User->c_str());
      return kExitFailed;
    }
    host.SetAccount(*options.User, password);
  }

  if (options.Insecure)
    std::fprintf(stderr, "clipharbor-cli: warning: --insecure: the certificates and names of https servers "
                         "are not checked\n");

  CreateConvertProcess();
  bool succeeded = false;
  std::string target, converted;
  {
    TDownloadJob job(host, {input});
    job.FJobMode = jobMode;
    job.FTargetExt = ExtensionForLabel(FormatAt(format)->Label);
    job.FConvertArgs = PresetForIndex(format);
    // https for the get_video address and where it leads (the window keeps it off).
    THttpCli& cli = job.HttpCli1();
    cli.HttpsEnabled = true;
    cli.SslTrust.CaFile = options.CaCert;
    cli.SslTrust.VerifyPeer = !options.Insecure;
    if (const char* limit = std::getenv("CLIPHARBOR_TEST_POLL_LIMIT_MS")) {
      const long ms = std::strtol(limit, nullptr, 10);
      if (ms > 0) job.FPollLimitMs = static_cast<std::uint32_t>(ms);
    }

    // Ctrl-C is the Stop button.
    plat::HWND stopWatch = plat::AllocateHWnd([&](plat::UINT msg, plat::WPARAM, plat::LPARAM) {
      if (msg == plat::WM_TIMER && Interrupted() && job.ModalResult() != mrStop) job.bStopClick();
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
    target = job.TargetPath();
    converted = job.ConvertOutputPath();
  }
  DestroyConvertProcess();
  host.Finish();

  if (Interrupted()) std::fprintf(stderr, "Stopped.\n");
  if (succeeded) {
    long long size = 0;
    if (jobMode != 2 && FileSize(target, size))
      std::printf("Saved %s (%lld bytes)\n", PrintableText(target).c_str(), size);
    if (jobMode != 0 && FileSize(converted, size))
      std::printf("Saved %s (%lld bytes)\n", PrintableText(converted).c_str(), size);
  }
  std::fflush(stdout);
  return succeeded ? kExitOk : kExitFailed;
}
