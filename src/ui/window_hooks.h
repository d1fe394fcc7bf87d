// How the core's long operations talk to the user from inside a window of the program: the
// hourglass while they work (busy), the confirmation box owned by the window for their
// questions (confirm). Progress and notices are not shown here; the windows that show progress
// (the Please Wait window, the panel's bar) pass hooks of their own.
#pragma once

#include <windows.h>

#include "disk/hooks.h"

namespace quarrow::ui {

struct WindowHooks {
    HWND owner;
    HCURSOR previous_cursor;
    OperationHooks hooks;
};

// Fills the record; its hooks point back at it, so it must stay where it is while they are used.
void init_window_hooks(WindowHooks* record, HWND owner);

}  // namespace quarrow::ui
