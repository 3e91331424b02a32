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
#include "cli/CliSecrets.h"
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

// The password of `user` (named by `option`): `given` on the command line,
// else the environment variable `envName`, else asked on the terminal as
// the password of `askedFor`. Nothing, with the exit status in `status`,
// when none can be had.
std::optional<std::string> PasswordFor(TCliDesktop& desktop, const std::string& option, const std::string& user,
                                       const std::optional<std::string>& given, const char* envName,
                                       const std::string& ways, const std::string& askedFor, int& status) {
  if (given) return given;
  if (const char* env = std::getenv(envName)) return std::string(env);
  if (::isatty(::fileno(stdin)) == 0) {
    std::fprintf(stderr, "clipharbor-cli: %s %s needs a password: give %s, or run on a terminal to be asked for it\n",
                 option.c_str(), user.c_str(), ways.c_str());
    status = kExitUsage;
    return std::nullopt;
  }
  if (std::optional<std::string> typed = desktop.AskPassword(askedFor)) return typed;
  std::fprintf(stderr, "clipharbor-cli: no password was given for %s\n", user.c_str());
  status = kExitDownloadFailed;
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  TCliOptions options;
  const std::vector<std::string> args(argv + 1, argv + argc);
  // Read once: from here on the process list shows no password.
  BlankSecretArguments(argc, argv);
  if (std::optional<std::string> error = ParseCliOptions(args, options)) return Usage(*error);
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
  std::optional<TProxy> proxy;
  {
    std::string source, error;
    if (std::optional<std::string> text = ProxyText(options.Proxy, SystemEnv, source)) {
      proxy = ParseProxyUrl(*text, &error);
      if (!proxy) return Usage(source + ": " + error);
    }
  }
  if (options.Proxy.User && !proxy)
    return Usage("--proxy-user needs a proxy: give --proxy, or set http_proxy or all_proxy");

  QCoreApplication app(argc, argv);
  std::optional<int> answer;
  if (options.AnswerYes) answer = *options.AnswerYes ? plat::IDYES : plat::IDNO;
  TCliDesktop desktop(answer, stdin, stderr, options.Quiet);
  plat::ScopedDesktop scopedDesktop(desktop);
  // Caught before the password question, so that Ctrl-C there gives the
  // terminal its echo back.
  plat::TStopSignals stopSignals(&OnStopSignal);

  int refusal = kExitOk;
  // A SOCKS 4 proxy takes a user code without a password.
  if (options.Proxy.User && proxy->Kind != pkSocks4 && proxy->Kind != pkSocks4A) {
    options.Proxy.Password = PasswordFor(desktop, "--proxy-user", *options.Proxy.User, std::nullopt,
                                         "CLIPHARBOR_PROXY_PASSWORD", "CLIPHARBOR_PROXY_PASSWORD",
                                         "proxy user " + *options.Proxy.User, refusal);
    if (!options.Proxy.Password) return refusal;
  }
  const bool terminal = ::isatty(::fileno(stdout)) != 0;
  TCliJobs jobs(options, desktop, stdout, terminal, &Interrupted);
  if (options.User) {
    const std::optional<std::string> password =
        PasswordFor(desktop, "--user", *options.User, options.Password, "CLIPHARBOR_PASSWORD",
                    "--password or CLIPHARBOR_PASSWORD", *options.User, refusal);
    if (!password) return refusal;
    jobs.SetAccount(*options.User, *password);
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
