// The fixture of the command line's end-to-end tests: clipharbor-cli run as a
// process in a temporary folder, pointed at the stand-in video service, with
// the scripted converter stand-in first on PATH.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/E2eSupport.h"

// Runs the program in `dir` with the service's environment and `extra`.
class CliTest : public ::testing::Test {
 protected:
  std::vector<std::string> Env(const e2e::TService& s,
                               std::map<std::string, std::optional<std::string>> extra = {}) {
    auto env = s.Env();
    env["PATH"] = e2e::PathWithout(Bin);
    env["CONVERT_STANDIN"] = Dir / "steps.json";
    for (auto& [k, v] : extra) env[k] = v;
    return e2e::Environment(env);
  }
  e2e::TRunResult RunCli(const e2e::TService& s, std::vector<std::string> args, const std::string& input = "",
                         std::map<std::string, std::optional<std::string>> extra = {}) {
    args.insert(args.begin(), e2e::Cli());
    return e2e::RunProcess(args, Env(s, std::move(extra)), input);
  }
  void Steps(const std::string& json) { e2e::WriteFile(Dir / "steps.json", json); }
  std::string Out(const std::string& name) const { return Out_ / name; }

  e2e::TTempDir Dir;
  e2e::TTempDir Out_;
  std::string Bin = e2e::StandInConverterDir(Dir);
};
