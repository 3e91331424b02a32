#include "cli/CliOptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include <limits>

#include "app/core/Formats.h"
#include "platform/AsciiText.h"
#include "platform/FileUtil.h"
#include "platform/WinsockApi.h"

#ifndef CLIPHARBOR_VERSION
#define CLIPHARBOR_VERSION "1.0"
#endif

namespace {

struct TOptionRow {
  const char* Short;  // "" when none
  const char* Long;
  const char* Value;  // "" for a switch
  const char* Help;   // lines after the first are indented below it
};

// Every option, once: the parser is built from this table and so is the help.
const TOptionRow kOptions[] = {
    {"", "format", "N", "convert to format N (list below); a local FLV file needs it"},
    {"", "output", "DIR", "output folder (default: the current folder)"},
    {"", "yes", "", "answer Yes to every question (create the folder, overwrite)"},
    {"", "no", "", "answer No to every question"},
    {"", "user", "NAME", "account for age-restricted videos; the password comes from"},
    {"", "password", "PW",
     "--password or CLIPHARBOR_PASSWORD, else it is asked for. The\n"
     "variable or the question is safer: a password on the command line\n"
     "is blanked once read, but other users may see it in the process\n"
     "list until then"},
    {"a", "batch-file", "FILE",
     "read addresses and files from FILE, one per line (\"-\": standard input);\n"
     "blank lines and lines beginning with # are skipped"},
    {"", "proxy", "URL",
     "send every request through this proxy:\n"
     "  http://[user:password@]host:port     HTTP proxy (Basic or NTLM)\n"
     "  socks4://host:port, socks4a://host:port\n"
     "  socks5://[user:password@]host:port, socks5h://...\n"
     "socks4a and socks5h let the proxy resolve the server's name;\n"
     "user and password percent-encoded; the port defaults to 1080; \"\" for no\n"
     "proxy. Without --proxy: http_proxy, HTTP_PROXY, all_proxy, ALL_PROXY.\n"
     "--proxy-user is the safer way to give a password"},
    {"", "proxy-user", "USER",
     "the proxy's user, instead of the one in its address; the password\n"
     "comes from CLIPHARBOR_PROXY_PASSWORD, else it is asked for"},
    {"", "noproxy", "LIST",
     "hosts reached without the proxy: names or domain suffixes separated by\n"
     "commas, * for all (default: no_proxy or NO_PROXY)"},
    {"", "limit-rate", "RATE", "at most RATE bytes per second; K, M, G: times 1024, 1024^2, 1024^3"},
    {"", "timeout", "SECONDS", "fail a transfer that receives nothing for so long (default 60; 0: never)"},
    {"", "connect-timeout", "SECONDS", "fail a connection not made within so long (default 30; 0: never)"},
    {"", "retries", "N",
     "try a failed transfer again up to N times (default 3): after a reset, a\n"
     "close before the end, a time-out, or an answer 408, 429, 500, 502, 503,\n"
     "504; waits 1, 2, 4 ... seconds (at most 30), or as Retry-After says (at\n"
     "most 60), and continues from the bytes already in NAME.part"},
    {"4", "ipv4", "", "connect over IPv4 only (addresses and names of the other family fail)"},
    {"6", "ipv6", "", "connect over IPv6 only"},
    {"N", "connections", "N",
     "fetch a file over up to N connections at once (1 to 32; the default, 4,\n"
     "splits a stream only when the server paces it)"},
    {"", "segment-size", "SIZE", "ask for at most SIZE bytes per request (K, M, G as in --limit-rate)"},
    {"", "min-speed", "RATE", "reopen a connection that stays below RATE bytes per second for"},
    {"", "min-speed-time", "SECONDS", "so many seconds (default 10), keeping its bytes"},
    {"", "cacert", "FILE", "trust the certificates in FILE (PEM) instead of the system's for https servers"},
    {"k", "insecure", "", "do not check the certificates and names of https servers"},
    {"c", "continue", "", "continue an existing NAME.part instead of starting it again"},
    {"q", "quiet", "", "print errors only"},
    {"", "version", "", "print the version and end"},
    {"h", "help", "", "show this text"},
};

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

std::string OptionLabel(const TOptionRow& row) {
  std::string label = *row.Short ? std::string("-") + row.Short + ", " : std::string("    ");
  label += std::string("--") + row.Long;
  if (*row.Value) label += std::string(" ") + row.Value;
  return label;
}

}  // namespace

std::optional<std::int32_t> ParseRate(const std::string& text) {
  std::string digits = ascii::Trim(text);
  std::int64_t factor = 1;
  if (!digits.empty()) {
    switch (digits.back()) {
      case 'k': case 'K': factor = 1024; break;
      case 'm': case 'M': factor = 1024 * 1024; break;
      case 'g': case 'G': factor = 1024 * 1024 * 1024; break;
      default: break;
    }
    if (factor != 1) digits.pop_back();
  }
  if (!ascii::AllDigits(digits) || digits.size() > 10) return std::nullopt;
  const std::int64_t rate = std::stoll(digits) * factor;
  if (rate > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(rate);
}

std::optional<std::uint32_t> ParseSeconds(const std::string& text) {
  const std::string t = ascii::Trim(text);
  const std::size_t dot = t.find('.');
  const std::string whole = t.substr(0, dot);
  std::string frac = dot == std::string::npos ? std::string() : t.substr(dot + 1);
  if ((whole.empty() && frac.empty()) || (!whole.empty() && !ascii::AllDigits(whole)) ||
      (!frac.empty() && !ascii::AllDigits(frac)) || whole.size() > 6)
    return std::nullopt;
  if (dot != std::string::npos && frac.empty()) return std::nullopt;
  frac = (frac + "000").substr(0, 3);  // milliseconds; finer parts are dropped
  return static_cast<std::uint32_t>((whole.empty() ? 0 : std::stoul(whole)) * 1000 + std::stoul(frac));
}

std::optional<std::string> ParseCliOptions(const std::vector<std::string>& args, TCliOptions& o) {
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
  for (const TOptionRow& row : kOptions) {
    QStringList names;
    if (*row.Short) names << row.Short;
    names << row.Long;
    parser.addOption(QCommandLineOption(names, row.Help, row.Value));
  }
  QStringList list{"clipharbor-cli"};
  for (const std::string& a : args) list << Q(a);
  if (!parser.parse(list)) return S(parser.errorText());

  auto has = [&](const char* name) { return parser.isSet(name); };
  auto value = [&](const char* name) { return S(parser.value(name)); };
  o.Help = has("help");
  o.Version = has("version");
  if (has("format")) {
    const std::string v = value("format");
    if (!ascii::AllDigits(v) || v.size() > 3 || std::stoi(v) >= FormatCount)
      return "--format needs a number from 0 to " + std::to_string(FormatCount - 1);
    o.Format = std::stoi(v);
  }
  if (has("output")) o.Output = value("output");
  if (has("yes") && has("no")) return std::string("--yes and --no exclude each other");
  if (has("yes") || has("no")) o.AnswerYes = has("yes");
  if (has("user")) o.User = value("user");
  if (has("password")) o.Password = value("password");
  if (has("batch-file")) o.BatchFile = value("batch-file");
  if (has("proxy")) {
    o.Proxy.Proxy = value("proxy");
    std::string error;
    if (!o.Proxy.Proxy->empty() && !ParseProxyUrl(*o.Proxy.Proxy, &error)) return "--proxy: " + error;
  }
  if (has("noproxy")) o.Proxy.NoProxy = value("noproxy");
  if (has("proxy-user")) {
    o.Proxy.User = value("proxy-user");
    if (o.Proxy.User->empty()) return std::string("--proxy-user needs a user name");
  }
  if (has("limit-rate")) {
    const std::optional<std::int32_t> rate = ParseRate(value("limit-rate"));
    if (!rate) return std::string("--limit-rate needs bytes per second, such as 500K or 2M (at most 1G)");
    o.LimitRate = *rate;
  }
  for (auto [name, target] : {std::pair{"timeout", &o.TimeoutMs}, std::pair{"connect-timeout", &o.ConnectTimeoutMs}}) {
    if (!has(name)) continue;
    const std::optional<std::uint32_t> ms = ParseSeconds(value(name));
    if (!ms) return std::string("--") + name + " needs a number of seconds";
    *target = *ms;
  }
  if (has("retries")) {
    const std::string v = value("retries");
    if (!ascii::AllDigits(v) || v.size() > 3) return std::string("--retries needs a number from 0 to 999");
    o.Retries = std::stoi(v);
  }
  o.Continue = has("continue");
  if (has("connections")) {
    const std::string v = value("connections");
    if (!ascii::AllDigits(v) || v.size() > 2 || std::stoi(v) < 1 || std::stoi(v) > 32)
      return std::string("--connections needs a number from 1 to 32");
    o.Connections = std::stoi(v);
  }
  for (auto [name, target] : {std::pair{"segment-size", &o.SegmentSize}, std::pair{"min-speed", &o.MinSpeed}}) {
    if (!has(name)) continue;
    const std::optional<std::int32_t> size = ParseRate(value(name));
    if (!size || *size <= 0) return std::string("--") + name + " needs a size such as 500K or 2M (at most 1G)";
    *target = *size;
  }
  if (has("min-speed-time")) {
    const std::optional<std::uint32_t> ms = ParseSeconds(value("min-speed-time"));
    if (!ms || *ms == 0) return std::string("--min-speed-time needs a number of seconds");
    o.MinSpeedTimeMs = *ms;
  }
  if (has("cacert")) {
    o.CaCert = value("cacert");
    if (o.CaCert.empty()) return std::string("--cacert needs a file");
    if (!plat::FileExists(o.CaCert)) return "--cacert: cannot read " + o.CaCert;
  }
  o.Insecure = has("insecure");
  if (has("ipv4") && has("ipv6")) return std::string("--ipv4 and --ipv6 exclude each other");
  if (has("ipv4")) o.AddrFamily = plat::WS_AF_INET;
  if (has("ipv6")) o.AddrFamily = plat::WS_AF_INET6;
  o.Quiet = has("quiet");
  for (const QString& p : parser.positionalArguments()) o.Inputs.push_back(S(p));
  if (!o.Help && !o.Version && o.Inputs.empty() && !o.BatchFile) return std::string("an address or a file is needed");
  return std::nullopt;
}

std::string CliVersionText() { return std::string("clipharbor-cli ") + CLIPHARBOR_VERSION; }

std::string CliHelpText(const std::string& serviceHost) {
  std::string t =
      "Usage: clipharbor-cli [--format N] [--output DIR] [--yes|--no] [OPTION]... ADDRESS-OR-FLV-FILE...\n"
      "\n"
      "Downloads the video of a watch page (http://" + serviceHost + "/watch?v=...) into the\n"
      "output folder as \"<title>.flv\"; with --format it then converts it. Another\n"
      "http:// or https:// address is downloaded as it is, named after the server's\n"
      "Content-Disposition or the address, and converted with --format. Given a\n"
      "local FLV file instead, converts that file (--format is needed). Several\n"
      "addresses and files run one after the other; a download goes to\n"
      "NAME.part first and gets its name when it is complete.\n"
      "\n";
  for (const TOptionRow& row : kOptions) {
    std::string label = "  " + OptionLabel(row);
    const std::string help = row.Help;
    std::size_t start = 0;
    bool first = true;
    while (start <= help.size()) {
      std::size_t end = help.find('\n', start);
      if (end == std::string::npos) end = help.size();
      const std::string line = help.substr(start, end - start);
      if (first && label.size() < 26) {
        t += label + std::string(26 - label.size(), ' ') + line + "\n";
      } else {
        if (first) t += label + "\n";
        t += std::string(26, ' ') + line + "\n";
      }
      first = false;
      start = end + 1;
    }
  }
  t += "\nWithout --yes or --no, questions are read from standard input; when it\n"
       "ends, every question is answered No.\n\nFormats:\n";
  for (int i = 0; i < FormatCount; ++i)
    t += std::string(i < 10 ? "   " : "  ") + std::to_string(i) + "  " + FormatAt(i)->Label + "\n";
  t += "\n"
       "Exit status (of the worst job when there are several):\n"
       "  0    success\n"
       "  1    a download failed\n"
       "  2    wrong command line\n"
       "  3    a conversion failed\n"
       "  4    a local file or folder problem (cannot create, disk full)\n"
       "  130  stopped by Ctrl-C (or a closed terminal or output, SIGTERM)\n";
  return t;
}
