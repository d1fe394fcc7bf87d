// The "Please Wait" window (dialog 131): modeless, without a system menu, standing in front of
// the user while a quick erase or a dump runs on the window thread. Its user creates it (hidden),
// shows it, runs the operation and destroys it; the bar starts at 0.
#pragma once

#include <windows.h>

#include "disk/hooks.h"

namespace quarrow::ui {

INT_PTR CALLBACK please_wait_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Creates the window, owned by owner, and shows it; null when it cannot be created.
HWND show_please_wait(HWND owner);
void close_please_wait(HWND window);

// Hooks whose progress moves the window's bar (repainted at once, since the operation does not
// return to the message loop meanwhile).
OperationHooks please_wait_hooks(HWND window);

}  // namespace quarrow::ui
