// Child processes and pipes of the platform layer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Process.h"

namespace {

using Args = std::vector<std::string>;

TEST(ProcessCommandLine, SplitsTheWindowsWay) {
  EXPECT_EQ(plat::SplitCommandLine("ffmpeg -i \"a b.flv\" -ab 64k \"c d.mp3\""),
            (Args{"ffmpeg", "-i", "a b.flv", "-ab", "64k", "c d.mp3"}));
  EXPECT_EQ(plat::SplitCommandLine("  x\t\ty  "), (Args{"x", "y"}));
  EXPECT_EQ(plat::SplitCommandLine("a\"b c\"d"), (Args{"ab cd"}));
  EXPECT_EQ(plat::SplitCommandLine("\"\""), (Args{""}));
  // Backslashes are literal unless a quote follows them.
  EXPECT_EQ(plat::SplitCommandLine("C:\\dir\\f.flv"), (Args{"C:\\dir\\f.flv"}));
  EXPECT_EQ(plat::SplitCommandLine("\"a\\\\\" b"), (Args{"a\\", "b"}));
  EXPECT_EQ(plat::SplitCommandLine("a\\\"b"), (Args{"a\"b"}));
  EXPECT_EQ(plat::SplitCommandLine("\"unclosed quote"), (Args{"unclosed quote"}));
  EXPECT_TRUE(plat::SplitCommandLine("   ").empty());
}

struct TPipes {
  plat::HANDLE OutRead = plat::NO_HANDLE, OutWrite = plat::NO_HANDLE;
  plat::HANDLE InRead = plat::NO_HANDLE, InWrite = plat::NO_HANDLE;
  TPipes() {
    EXPECT_EQ(plat::CreatePipe(OutRead, OutWrite), 0);
    EXPECT_EQ(plat::CreatePipe(InRead, InWrite), 0);
  }
  ~TPipes() {
    plat::CloseHandle(OutRead);
    plat::CloseHandle(OutWrite);
    plat::CloseHandle(InRead);
    plat::CloseHandle(InWrite);
  }
};

TEST(Process, ChildWritesThroughPipeAndEndsWithItsStatus) {
  TPipes p;
  ASSERT_EQ(plat::DuplicateHandle(p.OutWrite), 0);
  plat::TStartupInfo si;
  si.hStdInput = p.InRead;
  si.hStdOutput = p.OutWrite;
  si.hStdError = p.OutWrite;
  std::shared_ptr<plat::TChildProcess> child;
  ASSERT_EQ(plat::CreateProcess("sh -c \"printf 'hello'; printf ' err' >&2; "
                                "test -t 0 || printf ' notty'; exit 7\"",
                                si, child),
            0);
  ASSERT_TRUE(child);
  ASSERT_TRUE(child->Wait(10000));
  EXPECT_EQ(child->ExitCode(), 7);
  std::int32_t avail = 0;
  ASSERT_EQ(plat::PeekNamedPipe(p.OutRead, avail), 0);
  EXPECT_EQ(avail, 15);
  char buf[64];
  std::size_t got = 0;
  ASSERT_EQ(plat::ReadFile(p.OutRead, buf, static_cast<std::size_t>(avail), got), 0);
  EXPECT_EQ(std::string(buf, got), "hello err notty");
  ASSERT_EQ(plat::PeekNamedPipe(p.OutRead, avail), 0);
  EXPECT_EQ(avail, 0);
}

TEST(Process, WaitTimesOutAndTerminateSetsTheExitCode) {
  TPipes p;
  plat::TStartupInfo si;
  si.hStdInput = p.InRead;
  si.hStdOutput = p.OutWrite;
  si.hStdError = p.OutWrite;
  std::shared_ptr<plat::TChildProcess> child;
  ASSERT_EQ(plat::CreateProcess("sleep 30", si, child), 0);
  EXPECT_FALSE(child->Wait(50));
  EXPECT_EQ(child->ExitCode(), -1);
  EXPECT_EQ(child->Terminate(0), 0);
  EXPECT_TRUE(child->Wait(5000));
  EXPECT_EQ(child->ExitCode(), 0);
  EXPECT_EQ(child->Terminate(5), 0);  // already ended: no error, nothing changes
  EXPECT_EQ(child->ExitCode(), 0);
}

TEST(Process, MissingProgramAndClosedHandlesReportErrorNumbers) {
  plat::TStartupInfo si;
  std::shared_ptr<plat::TChildProcess> child;
  EXPECT_EQ(plat::CreateProcess("clipharbor-no-such-program-x -v", si, child), 2);
  EXPECT_FALSE(child);
  EXPECT_EQ(plat::CreateProcess("", si, child), 2);
  std::int32_t avail = 0;
  EXPECT_EQ(plat::PeekNamedPipe(plat::NO_HANDLE, avail), 9);
  char c;
  std::size_t got = 0;
  EXPECT_EQ(plat::ReadFile(plat::NO_HANDLE, &c, 1, got), 9);
  plat::HANDLE none = plat::NO_HANDLE;
  EXPECT_EQ(plat::DuplicateHandle(none), 9);
  plat::CloseHandle(none);  // harmless
  EXPECT_EQ(none, plat::NO_HANDLE);
}

}  // namespace
