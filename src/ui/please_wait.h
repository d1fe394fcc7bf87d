// The "Please Wait" window (dialog 131): modeless, without a system menu, standing in front of
// the user while a long operation runs in the background (background_work.h). Its user creates
// it, shows it, runs the operation and destroys it; the bar starts at 0. Its Cancel button (and
// Esc) asks the running work to stop at its next safe point.
#pragma once

#include <windows.h>

#include "disk/hooks.h"

namespace quarrow::ui {

INT_PTR CALLBACK please_wait_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Creates the window, owned by owner, and shows it; null when it cannot be created.
HWND show_please_wait(HWND owner);
void close_please_wait(HWND window);

// What the window says once Cancel was pressed.
constexpr const char* PLEASE_WAIT_STOPPING = "Stopping at the next safe point...";

// For work that cannot stop part way (a quick erase): the Cancel button stays disabled.
void please_wait_without_cancel(HWND window);

// A WorkView progress function that moves the bar of the window given as context.
void move_please_wait_bar(void* window, int64_t done, int64_t total);

// Hooks whose progress moves the window's bar (repainted at once), for an operation run on the
// window thread itself.
OperationHooks please_wait_hooks(HWND window);

}  // namespace quarrow::ui
