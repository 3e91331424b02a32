// Runs the current test again inside new network and mount namespaces
// (unshare -n -m): loopback up with 127.0.0.1, ::1 and fd00:beef::1, a veth pair whose
// far end answers nothing (the black hole: fd00:bad::2 is on its link but
// no one has it), and an /etc/hosts of the test's own. Nothing leaves the
// machine.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "support/NetNamespace.h"

namespace netns {

constexpr const char* kIpv6ChildMark = "CLIPHARBOR_IN_IPV6_NETNS";
constexpr const char* kBlackHole = "fd00:bad::2";
// An IPv6 address of the namespace's own (on loopback) that, unlike ::1,
// the system's resolver never turns into 127.0.0.1 for an IPv4 lookup.
constexpr const char* kOwnIpv6 = "fd00:beef::1";

// In the child: true, and the test goes on. In the parent: runs this test
// in the namespaces, takes over its result and returns false.
inline bool InIpv6Namespace(const std::string& hosts) {
  if (std::getenv(kIpv6ChildMark)) return true;
  int status;
  const std::string probe = RunShell("unshare -n -m true && command -v ip", status);
  if (status != 0) {
    [&] { GTEST_SKIP() << "unshare -n -m or ip is not available here (it needs root): " << probe; }();
    return false;
  }
  char exe[PATH_MAX] = {};
  const ssize_t len = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (len <= 0) {
    ADD_FAILURE() << "cannot find the test program";
    return false;
  }
  char dir[] = "/tmp/clipharbor-hosts-XXXXXX";
  if (!::mkdtemp(dir)) {
    ADD_FAILURE() << "cannot make a folder for the hosts file";
    return false;
  }
  const std::string hostsFile = std::string(dir) + "/hosts";
  std::ofstream(hostsFile) << hosts;
  const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string filter = std::string(t->test_suite_name()) + "." + t->name();
  const std::string setup =
      "set -e; ip link set lo up; ip -6 addr add fd00:beef::1/128 dev lo nodad; "
      "ip link add bh0 type veth peer name bh1; ip link set bh0 up; ip link set bh1 up; "
      "ip -6 addr add fd00:bad::1/64 dev bh0 nodad; "
      "mount --bind '" +
      hostsFile +
      "' /etc/hosts; "
      "exec env " +
      kIpv6ChildMark + "=1 '" + exe + "' --gtest_filter=" + filter;
  const std::string out = RunShell("timeout 240 unshare -n -m sh -c \"" + setup + "\"", status);
  std::remove(hostsFile.c_str());
  ::rmdir(dir);
  const bool passed =
      WIFEXITED(status) && WEXITSTATUS(status) == 0 && out.find("[       OK ] " + filter) != std::string::npos;
  EXPECT_TRUE(passed) << "inside the namespaces:\n" << out;
  // Measurements the child printed ("timing: ...") are shown here too.
  for (std::size_t at = out.find("timing: "); at != std::string::npos; at = out.find("timing: ", at + 1))
    std::printf("%s\n", out.substr(at, out.find('\n', at) - at).c_str());
  return false;
}

}  // namespace netns
