// The single-instance handshake: a second start finds the running instance
// by its main window's class name and delivers a message to that window,
// over a local socket in the user's runtime folder, one per user and display.
#pragma once

#include "platform/MessageLoop.h"

#include <string>

namespace plat {

// Delivers msg(wParam, lParam) to a running instance registered under
// `className` (its window then brings itself to the front). True when a
// running instance's window has handled it.
bool PostToRunningInstance(const std::string& className, UINT msg, WPARAM wParam, LPARAM lParam,
                           int timeoutMs = 3000);
// Registers this process under `className`; what a later instance delivers
// is sent to `wnd` from the main loop. False when the name cannot be taken;
// a socket that a killed instance left behind is taken over.
bool RegisterInstance(const std::string& className, HWND wnd);
void UnregisterInstance();

}  // namespace plat
