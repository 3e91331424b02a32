#include "platform/MessageLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace plat;

namespace {
// Pumps until `done` or the limit, so a broken loop fails instead of hanging.
template <class F>
bool PumpUntil(F done, std::uint32_t limitMs = 3000) {
  std::uint32_t start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > limitMs) return false;
    WaitForInput(20);
  }
  return true;
}
}  // namespace

TEST(MessageLoop, PostedMessagesArriveInOrderAndOnlyToLiveWindows) {
  std::vector<int> got;
  HWND w = AllocateHWnd([&](UINT msg, WPARAM wp, LPARAM) -> LRESULT {
    if (msg == WM_USER) got.push_back(static_cast<int>(wp));
    return 0;
  });
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(PostMessage(w, WM_USER, i, 0));
  ASSERT_TRUE(PumpUntil([&] { return got.size() == 50; }));
  for (int i = 0; i < 50; ++i) EXPECT_EQ(got[i], i);

  PostMessage(w, WM_USER, 99, 0);
  DeallocateHWnd(w);
  EXPECT_FALSE(IsWindow(w));
  EXPECT_FALSE(PostMessage(w, WM_USER, 100, 0));
  ProcessMessages();
  EXPECT_EQ(got.size(), 50u);  // the queued 99 was dropped with the window
}

TEST(MessageLoop, WindowMayDestroyItselfInsideItsProcedure) {
  HWND w = 0;
  int calls = 0;
  w = AllocateHWnd([&](UINT msg, WPARAM, LPARAM) -> LRESULT {
    if (msg != WM_USER) return 0;
    ++calls;
    DeallocateHWnd(w);
    return 0;
  });
  PostMessage(w, WM_USER, 0, 0);
  PostMessage(w, WM_USER, 0, 0);
  PumpUntil([&] { return calls > 0; });
  for (int i = 0; i < 5; ++i) ProcessMessages();
  EXPECT_EQ(calls, 1);
}

TEST(MessageLoop, NestedWaitStillDispatches) {
  int outer = 0, inner = 0;
  HWND w = AllocateHWnd([&](UINT msg, WPARAM wp, LPARAM) -> LRESULT {
    if (msg != WM_USER) return 0;
    if (wp == 1) {
      ++outer;
      PostMessage(w, WM_USER, 2, 0);
      EXPECT_TRUE(PumpUntil([&] { return inner == 1; }));  // nested loop
    } else {
      ++inner;
    }
    return 0;
  });
  PostMessage(w, WM_USER, 1, 0);
  ASSERT_TRUE(PumpUntil([&] { return outer == 1 && inner == 1; }));
  DeallocateHWnd(w);
}

TEST(MessageLoop, CrossThreadPostAndSend) {
  std::atomic<int> posted{0};
  HWND w = AllocateHWnd([&](UINT msg, WPARAM wp, LPARAM) -> LRESULT {
    if (msg == WM_USER) ++posted;
    if (msg == WM_USER + 1) return static_cast<LRESULT>(wp * 2);
    return 0;
  });
  LRESULT sent = 0;
  std::thread t([&] {
    for (int i = 0; i < 100; ++i) PostMessage(w, WM_USER, 0, 0);
    sent = SendMessage(w, WM_USER + 1, 21, 0);
  });
  ASSERT_TRUE(PumpUntil([&] { return posted == 100 && sent == 42; }));
  t.join();
  EXPECT_EQ(sent, 42);
  DeallocateHWnd(w);
}

TEST(MessageLoop, RunOnMainThreadFromWorkerWhileMainPumps) {
  bool ranOnMain = false;
  std::atomic<bool> finished{false};
  std::thread t([&] {
    RunOnMainThread([&] { ranOnMain = IsMainThread(); });
    finished = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return finished.load(); }));
  t.join();
  EXPECT_TRUE(ranOnMain);
}

TEST(MessageLoop, TimersRepeatRestartAndStop) {
  int ticks = 0;
  HWND w = AllocateHWnd([&](UINT msg, WPARAM wp, LPARAM) -> LRESULT {
    if (msg == WM_TIMER && wp == 7) ++ticks;
    return 0;
  });
  ASSERT_TRUE(SetTimer(w, 7, 10));
  ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }));
  ASSERT_TRUE(KillTimer(w, 7));
  int seen = ticks;
  std::uint32_t start = GetTickCount();
  while (GetTickCount() - start < 60) WaitForInput(20);
  EXPECT_EQ(ticks, seen);
  EXPECT_FALSE(KillTimer(w, 7));
  DeallocateHWnd(w);
}

TEST(MessageLoop, WaitForInputTimesOutWithoutSpinning) {
  for (int i = 0; i < 3; ++i) ProcessMessages();
  std::uint32_t start = GetTickCount();
  std::clock_t cpu0 = std::clock();
  EXPECT_FALSE(WaitForInput(100));
  std::uint32_t took = GetTickCount() - start;
  EXPECT_GE(took, 90u);
  EXPECT_LT(static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC, 0.05);
}

TEST(MessageLoop, QuitIsReportedOnceByOwnQueue) {
  EXPECT_FALSE(ProcessOwnQueue());
  PostQuitMessage();
  EXPECT_TRUE(ProcessOwnQueue());
  EXPECT_FALSE(ProcessOwnQueue());
}
