// Runs the current test again inside a new network namespace (unshare -n), where the
// loopback interface is down and no route exists, so a connect fails at once.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace netns {

constexpr const char* kChildMark = "CLIPHARBOR_IN_EMPTY_NETNS";

inline std::string RunShell(const std::string& cmd, int& status) {
  std::string out;
  status = -1;
  FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  status = ::pclose(p);
  return out;
}

// In the child, inside the namespace: returns true and the test goes on.
// In the parent: runs this very test in the child, takes over its result
// (or skips when namespaces cannot be made here) and returns false.
inline bool InEmptyNetNamespace() {
  if (std::getenv(kChildMark)) return true;
  int status;
  std::string probe = RunShell("unshare -n true", status);
  if (status != 0) {
    [&] { GTEST_SKIP() << "unshare -n is not available here (it needs root): " << probe; }();
    return false;
  }
  char exe[PATH_MAX] = {};
  ssize_t len = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (len <= 0) {
    ADD_FAILURE() << "cannot find the test program";
    return false;
  }
  const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string filter = std::string(t->test_suite_name()) + "." + t->name();
  std::string out = RunShell(std::string("env ") + kChildMark + "=1 timeout 60 unshare -n '" + exe +
                                 "' --gtest_filter=" + filter,
                             status);
  bool passed = WIFEXITED(status) && WEXITSTATUS(status) == 0 && out.find("[       OK ] " + filter) != std::string::npos;
  EXPECT_TRUE(passed) << "inside the namespace:\n" << out;
  return false;
}

}  // namespace netns
