// The single-instance protocol in one process: delivery to the registered
// window and its answer, and no answer for a window that has gone.
#include "platform/SingleInstance.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>
#include <vector>
#include <unistd.h>

using namespace plat;

TEST(SingleInstanceProtocol, DeliversToTheRegisteredWindowAndAnswers) {
  const std::string name = "Clipharbor protocol test " + std::to_string(::getpid());
  std::atomic<bool> delivered{false}, noServer{true};
  std::thread([&] { noServer = PostToRunningInstance(name, 0x1604, 0, 0, 500); }).join();
  EXPECT_FALSE(noServer);

  std::vector<std::tuple<UINT, WPARAM, LPARAM>> got;
  HWND w = AllocateHWnd([&](UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
    got.emplace_back(m, wp, lp);
    return 1;
  });
  ASSERT_TRUE(RegisterInstance(name, w));
  std::atomic<bool> done{false};
  std::thread client([&] {
    delivered = PostToRunningInstance(name, 0x1604, 7, -3, 5000);
    done = true;
  });
  for (int i = 0; i < 400 && !done; ++i) WaitForInput(25);
  client.join();
  EXPECT_TRUE(delivered);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(std::get<0>(got[0]), 0x1604u);
  EXPECT_EQ(std::get<1>(got[0]), 7u);
  EXPECT_EQ(std::get<2>(got[0]), -3);

  // A window that has gone: the running instance says no.
  DeallocateHWnd(w);
  done = false;
  std::thread again([&] {
    delivered = PostToRunningInstance(name, 0x1604, 0, 0, 5000);
    done = true;
  });
  for (int i = 0; i < 400 && !done; ++i) WaitForInput(25);
  again.join();
  EXPECT_FALSE(delivered);
  UnregisterInstance();
}
