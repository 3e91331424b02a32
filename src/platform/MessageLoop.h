// The window-message model on top of QtCore's event loop: hidden message
// windows addressed by handle, posted and sent messages, timers, pumping and
// waiting. Everything above this layer talks in these terms only.
#pragma once

#include <cstdint>
#include <functional>

namespace plat {

using HWND = std::uintptr_t;   // 0 is "no window"
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

using WndProc = std::function<LRESULT(UINT msg, WPARAM wParam, LPARAM lParam)>;

// Creates a hidden window owned by the calling thread. Its procedure runs on
// that thread only, from whatever loop the thread is pumping.
HWND AllocateHWnd(WndProc proc);
// Destroys the window; messages still queued for it are dropped. Safe to call
// from inside the window's own procedure.
void DeallocateHWnd(HWND wnd);
bool IsWindow(HWND wnd);
// True when the calling thread owns the window.
bool IsOwnWindow(HWND wnd);

// Thread-safe; keeps posting order per posting thread. Returns false when the
// window does not exist (the message is dropped).
bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Runs the window procedure and returns its result. From another thread the
// caller blocks until the owner thread dispatches the call in any of its
// loops, nested ones included. Returns 0 for a window that does not exist.
LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Window timers: WM_TIMER with wParam = id every `elapseMs`. Setting an id
// again restarts it with the new period. Owner thread only.
bool SetTimer(HWND wnd, std::uintptr_t id, UINT elapseMs);
bool KillTimer(HWND wnd, std::uintptr_t id);

// Runs everything that is waiting on the calling thread and returns without
// blocking ("process messages").
void ProcessMessages();
// Blocks until input arrives for the calling thread or `timeoutMs` passes,
// then dispatches what arrived. Returns false on time-out with nothing done.
bool WaitForInput(UINT timeoutMs);
// Posts a quit to the calling thread's own queue: the next
// ProcessOwnQueue on this thread reports it.
void PostQuitMessage();
// Drains the calling thread's queue; returns true when a quit was met.
bool ProcessOwnQueue();

// Milliseconds since an arbitrary start, wrapping at 2^32.
std::uint32_t GetTickCount();

// Set once the application has begun to shut down; waits give up on it.
bool ApplicationTerminated();
void SetApplicationTerminated(bool value);

// Runs `fn` on the thread that owns the application's main loop and blocks
// until it has run. Called from the main thread it runs at once. The main
// thread serves these calls in every loop and wait, nested ones included;
// a main thread that waits for a worker must wait by pumping (WaitForInput)
// so that a worker blocked here never deadlocks against it.
void RunOnMainThread(const std::function<void()>& fn);
bool IsMainThread();

}  // namespace plat
