// The clipboard-viewer chain over message windows: the head moves, removals
// are passed along, a dead head is dropped.
#include "platform/ClipboardViewers.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace plat;

TEST(ViewerChain, HeadMovesAndDeadHeadIsDropped) {
  const HWND start = GetClipboardViewer();
  std::vector<std::pair<UINT, WPARAM>> got;
  HWND a = AllocateHWnd([&](UINT m, WPARAM wp, LPARAM) -> LRESULT {
    got.push_back({m, wp});
    return 0;
  });
  HWND b = AllocateHWnd([](UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  EXPECT_EQ(SetClipboardViewer(a), start);
  EXPECT_EQ(SetClipboardViewer(b), a);
  // b is the head: removing it moves the head on without a message.
  EXPECT_TRUE(ChangeClipboardChain(b, a));
  EXPECT_EQ(GetClipboardViewer(), a);
  EXPECT_TRUE(got.empty());
  // Removing another window tells the head.
  ChangeClipboardChain(12345, 0);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].first, WM_CHANGECBCHAIN);
  EXPECT_EQ(got[0].second, 12345u);
  EXPECT_FALSE(ChangeClipboardChain(0, 0));
  NotifyClipboardChanged();
  EXPECT_EQ(got.back().first, WM_DRAWCLIPBOARD);
  // A head destroyed without leaving is dropped instead of being called.
  DeallocateHWnd(a);
  NotifyClipboardChanged();
  EXPECT_EQ(GetClipboardViewer(), 0u);
  DeallocateHWnd(b);
  SetClipboardViewer(start);
}
