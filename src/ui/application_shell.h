// The application shell: registers and creates the main window with its menu bar, hosts the
// extraction panel as the child that fills it, reads the settings, makes the first attempt to
// find a MediaMaster disk and runs the one message loop. Its window procedure carries the File,
// Tools, Protection and Help commands.
#pragma once

#include <windows.h>

namespace quarrow::ui {

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Start-up up to the message loop: strings, window class, main window, panel, settings, panel
// defaults, disk detection. The main window, or null when it could not be created.
HWND start_application(HINSTANCE instance, int show);

// Asked when the main window is closed while a long operation runs.
constexpr const char* CLOSE_DURING_WORK_QUESTION =
    "An operation is still running. Do you want to cancel it and close Quarrow? The operation "
    "stops where the disk and the files stay consistent.";

// After a close that was asked during a long operation: closes the main window once the
// operation has ended (the message loop calls this after each message).
void close_if_pending();

// GetMessage until the quit message; the two accelerators are translated for the main window
// wherever the keyboard focus is. Gives the quit message's code.
int run_message_loop(HACCEL accelerators);

// The whole program: 0 when the main window cannot be created, else the quit message's code.
int run_application(HINSTANCE instance, int show);

}  // namespace quarrow::ui
