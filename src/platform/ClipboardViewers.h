// The clipboard-viewer chain of this process, over message windows: its
// head is told of every clipboard change and passes it along.
#pragma once

#include "platform/MessageLoop.h"

namespace plat {

constexpr UINT WM_DRAWCLIPBOARD = 0x0308;
constexpr UINT WM_CHANGECBCHAIN = 0x030D;

// Puts `wnd` at the head of the chain; returns the previous head (0: none).
// The desktop in use starts reporting clipboard changes from here on.
HWND SetClipboardViewer(HWND wnd);
// Takes `remove` out of the chain, `next` being its successor: the head
// moves on when `remove` is the head, otherwise the head is sent
// WM_CHANGECBCHAIN(remove, next) to pass along the chain.
bool ChangeClipboardChain(HWND remove, HWND next);
// The head of the chain, 0 when empty.
HWND GetClipboardViewer();
// Sends WM_DRAWCLIPBOARD to the head; desktops call it on every change.
void NotifyClipboardChanged();

}  // namespace plat
