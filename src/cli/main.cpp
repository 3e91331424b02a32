// clipharbor-cli: the download window's job without a window.
//
//   clipharbor-cli [--format N] [--output DIR] [--yes|--no] [OPTION]... ADDRESS-OR-FLV-FILE...
//
// A watch-page address is downloaded (and converted when a format is
// given), another http or https address is downloaded as it is, a local FLV
// file is converted. The checks and texts are the main window's; --help lists
// the options and the exit statuses.
#include <QCoreApplication>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/core/Service.h"
#include "cli/BatchFile.h"
#include "cli/CliDesktop.h"
#include "cli/CliJobs.h"
#include "cli/CliOptions.h"
#include "platform/Desktop.h"
#include "platform/StopSignals.h"

namespace {

// Ctrl-C, a closed terminal or output pipe, kill and Ctrl-\ are Stop.
void OnStopSignal(int) { TCliDesktop::RequestStop(); }

bool Interrupted() { return plat::TStopSignals::Received() != 0; }

int Usage(const std::string& error) {
  std::fprintf(stderr, "clipharbor-cli: %s\n", error.c_str());
  std::fprintf(stderr, "Try 'clipharbor-cli --help'.\n");
  return kExitUsage;
}

// A local file unless the text is an address: an address has a scheme.
bool IsLocalFile(const std::string& input) { return !input.empty() && input.find("://") == std::string::npos; }

}  // namespace

int main(int argc, char** argv) {
  TCliOptions options;
  if (std::optional<std::string> error = ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc), options))
    return Usage(*error);
  if (options.Help) {
    std::fputs(CliHelpText(ServiceHost()).c_str(), stdout);
    return kExitOk;
  }
  if (options.Version) {
    std::printf("%s\n", CliVersionText().c_str());
    return kExitOk;
  }

  std::vector<std::string> inputs = options.Inputs;
  if (options.BatchFile) {
    std::string error;
    std::optional<std::vector<std::string>> entries = ReadBatchFile(*options.BatchFile, stdin, error);
    if (!entries) return Usage("cannot read the batch file " + error);
    inputs.insert(inputs.end(), entries->begin(), entries->end());
    if (inputs.empty()) return Usage("the batch file holds no address or file");
  }
  for (const std::string& input : inputs)
    if (IsLocalFile(input) && !options.Format) return Usage("--format is needed to convert a local file");
  {
    std::string source, error;
    if (std::optional<std::string> text = ProxyText(options.Proxy, SystemEnv, source))
      if (!ParseProxyUrl(*text, &error)) return Usage(source + ": " + error);
  }

  QCoreApplication app(argc, argv);
  std::optional<int> answer;
  if (options.AnswerYes) answer = *options.AnswerYes ? plat::IDYES : plat::IDNO;
  TCliDesktop desktop(answer, stdin, stderr, options.Quiet);
  plat::ScopedDesktop scopedDesktop(desktop);
  // Caught before the password question, so that Ctrl-C there gives the
  // terminal its echo back.
  plat::TStopSignals stopSignals(&OnStopSignal);

  const bool terminal = ::isatty(::fileno(stdout)) != 0;
  TCliJobs jobs(options, desktop, stdout, terminal, &Interrupted);
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
      return kExitDownloadFailed;
    }
    jobs.SetAccount(*options.User, password);
  }

  if (options.Insecure)
    std::fprintf(stderr, "clipharbor-cli: warning: --insecure: the certificates and names of https servers "
                         "are not checked\n");

  const int status = jobs.Run(inputs);
  if (Interrupted()) std::fprintf(stderr, "Stopped.\n");
  if (inputs.size() > 1 && !options.Quiet)
    std::printf("%d succeeded, %d failed\n", jobs.Succeeded(), jobs.Failed());
  std::fflush(stdout);
  return status;
}
