// The application's own window messages. The numbers are fixed: a second
// instance of an older build must still be able to wake a running one.
#pragma once

#include "platform/MessageLoop.h"

constexpr plat::UINT WM_FETCHVIDEO = 0x1601;   // download window to itself
constexpr plat::UINT WM_SHOWRUNNING = 0x1604;  // second instance to the running main window
constexpr plat::UINT WM_FETCHPAGE = 0x1605;    // download window to itself
constexpr plat::UINT WM_CONVERTINFO = 0x1606;  // converter to download window, lParam = TProcessInfo*
