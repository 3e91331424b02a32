// The command line of clipharbor-cli: its options (read with Qt's parser, so
// "--opt=value", "--opt value", bundled short options and "--" behave as
// usual), their values checked, the help text and the exit statuses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/core/NetOptions.h"
#include "app/core/ProxySettings.h"

// Exit statuses, documented in the help text and README.md.
constexpr int kExitOk = 0;
constexpr int kExitDownloadFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitConvertFailed = 3;
constexpr int kExitLocalFile = 4;
constexpr int kExitInterrupted = 130;

struct TCliOptions {
  std::optional<int> Format;
  std::string Output;
  std::optional<bool> AnswerYes;  // --yes / --no
  std::optional<std::string> User, Password;
  std::vector<std::string> Inputs;     // addresses and files, in order
  std::optional<std::string> BatchFile;
  TProxySettings Proxy;
  std::int32_t LimitRate = 0;          // bytes per second; 0: no limit
  std::uint32_t TimeoutMs = 60000;     // 0: none
  std::uint32_t ConnectTimeoutMs = 30000;
  int Retries = 3;
  bool Continue = false;
  int Connections = kDefaultConnections;
  std::int64_t SegmentSize = 0;
  std::int64_t MinSpeed = 0;
  std::uint32_t MinSpeedTimeMs = 10000;
  std::string CaCert;                  // trust these certificates instead of the system's
  bool Insecure = false;               // do not check https certificates
  bool Quiet = false;
  int AddrFamily = 0;                  // -4: plat::WS_AF_INET, -6: WS_AF_INET6, 0: both
  bool Help = false;
  bool Version = false;
};

// Reads `args` (without the program name). Returns an error text for a wrong
// command line, nothing when it is good. An address or a batch file is
// needed unless --help or --version is given.
std::optional<std::string> ParseCliOptions(const std::vector<std::string>& args, TCliOptions& options);

// "--help": usage, every option, the formats and the exit statuses.
// `serviceHost` goes into the example address.
std::string CliHelpText(const std::string& serviceHost);
// "clipharbor-cli 1.0".
std::string CliVersionText();

// Option values. Nothing when the text is not one.
// "100", "100K", "2M", "1G": bytes per second, K/M/G powers of 1024.
std::optional<std::int32_t> ParseRate(const std::string& text);
// "60", "0.5": seconds as milliseconds.
std::optional<std::uint32_t> ParseSeconds(const std::string& text);
