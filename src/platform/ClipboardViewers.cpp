// The clipboard-viewer chain: one head per process, the rest is passed on by
// the viewers themselves.
#include "platform/ClipboardViewers.h"

#include "platform/Desktop.h"

namespace plat {

namespace {
HWND g_viewerHead = 0;
}

HWND SetClipboardViewer(HWND wnd) {
  HWND previous = g_viewerHead;
  g_viewerHead = wnd;
  Desktop();  // a real desktop is made on first use and only then watches the clipboard
  return previous;
}

bool ChangeClipboardChain(HWND remove, HWND next) {
  if (remove == 0) return false;
  if (g_viewerHead == remove) {
    g_viewerHead = next;
    return true;
  }
  if (g_viewerHead != 0) SendMessage(g_viewerHead, WM_CHANGECBCHAIN, remove, static_cast<LPARAM>(next));
  return true;
}

HWND GetClipboardViewer() { return g_viewerHead; }

void NotifyClipboardChanged() {
  // A head that has gone away without leaving the chain cannot pass it on.
  if (g_viewerHead != 0 && !IsWindow(g_viewerHead)) g_viewerHead = 0;
  if (g_viewerHead != 0) SendMessage(g_viewerHead, WM_DRAWCLIPBOARD, 0, 0);
}

}  // namespace plat
