// clipharbor-cli over several connections against the stand-in service:
// killed with SIGKILL half-way, "--continue" fetches only the ranges its
// control file does not list as done, and the file is byte-identical; a
// service that allows two connections per client still gives the file; a
// stream that stays one after its probe is continued from its bytes; a
// number of connections the user chose splits a fast stream at once.
#include <signal.h>

#include <gtest/gtest.h>

#include <regex>

#include "cli/CliFixture.h"

using namespace e2e;

namespace {

std::string Data(std::size_t size) {
  std::string d(size, '\0');
  for (std::size_t i = 0; i < size; ++i) d[i] = static_cast<char>((i * 197 + i / 8191) & 0xFF);
  return d;
}

long long Sent(const TService& s) {
  const std::string json = s.Fetch("/__sent");
  std::smatch m;
  return std::regex_search(json, m, std::regex("\"sent\": ([0-9]+)")) ? std::stoll(m[1]) : -1;
}

// Bytes the control file lists as done.
long long DoneIn(const std::string& control) {
  long long n = 0;
  const std::regex line("done ([0-9]+)-([0-9]+)");
  for (std::sregex_iterator it(control.begin(), control.end(), line), end; it != end; ++it)
    n += std::stoll((*it)[2]) - std::stoll((*it)[1]) + 1;
  return n;
}

}  // namespace

class CliSegments : public CliTest {};

TEST_F(CliSegments, KilledHalfWayThenContinuedFetchesOnlyWhatIsMissing) {
  const std::string data = Data(6 * 1024 * 1024 + 777);
  WriteFile(Dir / "large.flv", data);
  TService s({"--flv", Dir / "large.flv", "--pace", "524288"});
  ASSERT_TRUE(s.Running());
  const std::string url = "http://127.0.0.1:" + std::to_string(s.CachePort) + "/get_video.flv";
  const std::string control = Out("get_video.flv.part.ctl");
  {
    TChild cli({Cli(), "--output", Out_.Path, "--connections", "4", url}, Env(s));
    // Until the control file lists a few hundred KiB as done.
    ASSERT_TRUE(cli.ReadUntil([&](const std::string&, const std::string&) {
      return Exists(control) && DoneIn(ReadFile(control)) > 300 * 1024;
    }, 20000));
    cli.Signal(SIGKILL);
    cli.Finish(10000);
  }
  ASSERT_FALSE(Exists(Out("get_video.flv")));
  const std::string kept = ReadFile(control);
  const long long done = DoneIn(kept);
  ASSERT_NE(kept.find("segmented"), std::string::npos) << kept;
  ASSERT_LT(done, static_cast<long long>(data.size())) << "killed too late";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the killed connections end
  const long long before = Sent(s);
  TRunResult r = RunCli(s, {"--output", Out_.Path, "--connections", "4", "--continue", url});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_TRUE(ReadFile(Out("get_video.flv")) == data);
  EXPECT_FALSE(Exists(control));
  const long long second = Sent(s) - before;
  const long long missing = static_cast<long long>(data.size()) - done;
  EXPECT_GE(second, missing);
  // What a connection cut short for another still had on its way, at most.
  EXPECT_LE(second, missing + 1024 * 1024) << "second run: " << second << ", missing: " << missing;
}

TEST_F(CliSegments, TwoConnectionsPerClientAreEnoughAndNoFailure) {
  // What is left after the first stream's probe is still shared by three.
  const std::string data = Data(4 * 1024 * 1024 + 5);
  WriteFile(Dir / "large.flv", data);
  // Slow enough that the two served still run when the third asks again.
  TService s({"--flv", Dir / "large.flv", "--pace", "524288", "--max-connections", "2"});
  ASSERT_TRUE(s.Running());
  const std::string url = "http://127.0.0.1:" + std::to_string(s.CachePort) + "/get_video.flv";
  TRunResult r = RunCli(s, {"--output", Out_.Path, "-N", "6", url});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_TRUE(ReadFile(Out("get_video.flv")) == data);
  EXPECT_NE(r.Err.find("the server takes no more than 2 connections"), std::string::npos) << r.Err;
}

TEST_F(CliSegments, AStreamThatStaysOneAfterItsProbeIsKilledAndContinued) {
  const std::string data = Data(3 * 1024 * 1024 + 11);
  WriteFile(Dir / "large.flv", data);
  TService s({"--flv", Dir / "large.flv"});
  ASSERT_TRUE(s.Running());
  const std::string url = "http://127.0.0.1:" + std::to_string(s.CachePort) + "/get_video.flv";
  const std::string part = Out("get_video.flv.part");
  const std::string control = Out("get_video.flv.part.ctl");
  {
    // Held back by its own limit: more connections would not be faster.
    TChild cli({Cli(), "--output", Out_.Path, "--limit-rate", "200K", url}, Env(s));
    ASSERT_TRUE(cli.ReadUntil([&](const std::string&, const std::string&) {
      return Exists(part) && ReadFile(part).size() > 400 * 1024;
    }, 20000));
    cli.Signal(SIGKILL);
    cli.Finish(10000);
  }
  const std::string kept = ReadFile(control);
  ASSERT_FALSE(kept.empty()) << "the stream's identity is kept beside its bytes";
  EXPECT_EQ(kept.find("segmented"), std::string::npos) << kept;
  const long long had = static_cast<long long>(ReadFile(part).size());
  ASSERT_LT(had, static_cast<long long>(data.size())) << "killed too late";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const long long before = Sent(s);
  TRunResult r = RunCli(s, {"--output", Out_.Path, "--continue", url});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_TRUE(ReadFile(Out("get_video.flv")) == data);
  EXPECT_FALSE(Exists(control));
  EXPECT_LE(Sent(s) - before, static_cast<long long>(data.size()) - had + 64 * 1024);
}

TEST_F(CliSegments, AChosenNumberSplitsAStreamFasterThanAnyPacedOneAndItGoesOn) {
  // 40 MiB/s: a stream the default keeps as one.
  const std::string data = Data(16 * 1024 * 1024 + 3);
  WriteFile(Dir / "large.flv", data);
  TService s({"--flv", Dir / "large.flv", "--pace", "41943040"});
  ASSERT_TRUE(s.Running());
  const std::string url = "http://127.0.0.1:" + std::to_string(s.CachePort) + "/get_video.flv";
  TRunResult r = RunCli(s, {"-N", "3", "--output", Out_.Path, url});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_TRUE(ReadFile(Out("get_video.flv")) == data);
  const std::string seen = s.Requests();
  const auto count = [&seen](const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = seen.find(what); at != std::string::npos; at = seen.find(what, at + 1)) ++n;
    return n;
  };
  // The first stream asked for the whole and went on from where it was
  // split; the others asked for closed ranges after it.
  const std::size_t ranged = count("\"range\": \"bytes=");
  EXPECT_GE(ranged, 1u) << seen;
  EXPECT_EQ(count("\"path\": \"/get_video.flv\""), ranged + 1) << seen;
  EXPECT_EQ(count("\"range\": \"bytes=0-"), 0u) << seen;
}
