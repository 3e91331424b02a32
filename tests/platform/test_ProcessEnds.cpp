// A child never outlives its starter, and the signals that end the program
// are caught for an orderly end.
#include <signal.h>

#include <gtest/gtest.h>

#include <thread>

#include "platform/Process.h"
#include "platform/StopSignals.h"

namespace {

TEST(ProcessEnds, ChildIsKilledWhenItsStarterEnds) {
  std::shared_ptr<plat::TChildProcess> child;
  int err = -1;
  // A thread stands in for the program: the child is tied to the one that started it.
  std::thread([&] { err = plat::CreateProcess(std::vector<std::string>{"sleep", "30"}, {}, child); }).join();
  ASSERT_EQ(err, 0);
  ASSERT_TRUE(child);
  EXPECT_TRUE(child->Wait(5000));
  EXPECT_EQ(child->ExitCode(), 128 + SIGKILL);
}

TEST(ProcessEnds, ArgumentsArriveAsGiven) {
  int fds[2];
  ASSERT_EQ(plat::CreatePipe(fds[0], fds[1]), 0);
  plat::TStartupInfo si;
  si.hStdOutput = fds[1];
  std::shared_ptr<plat::TChildProcess> child;
  ASSERT_EQ(plat::CreateProcess(std::vector<std::string>{"printf", "[%s]", "a \"b\" c", "-d\\e", ""}, si, child), 0);
  ASSERT_TRUE(child->Wait(5000));
  plat::CloseHandle(fds[1]);
  char buf[256];
  std::size_t got = 0;
  ASSERT_EQ(plat::ReadFile(fds[0], buf, sizeof buf, got), 0);
  EXPECT_EQ(std::string(buf, got), "[a \"b\" c][-d\\e][]");
  plat::CloseHandle(fds[0]);
  // A program that is there but cannot run reports why.
  EXPECT_EQ(plat::CreateProcess(std::vector<std::string>{"/dev/null"}, si, child), EACCES);
}

int g_hooked = 0;

TEST(StopSignals, RecordTheFirstSignalAndPutBackTheOldHandlers) {
  struct sigaction before {};
  ::sigaction(SIGHUP, nullptr, &before);
  {
    plat::TStopSignals signals([](int s) { g_hooked = s; });
    EXPECT_EQ(plat::TStopSignals::Received(), 0);
    for (int s : {SIGPIPE, SIGHUP, SIGQUIT, SIGTERM, SIGINT}) ::raise(s);  // none of them ends the test
    EXPECT_EQ(plat::TStopSignals::Received(), SIGPIPE);
    EXPECT_EQ(g_hooked, SIGINT);
  }
  EXPECT_EQ(plat::TStopSignals::Received(), 0);
  struct sigaction after {};
  ::sigaction(SIGHUP, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

}  // namespace
