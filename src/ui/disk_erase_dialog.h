// The "Disk Erase" dialog (dialog 126): lists the physical drives, lets the user pick one other
// than drive 0 and zeroes its system area (the quick erase), so that the receiver can format it.
#pragma once

#include <windows.h>

namespace quarrow::ui {

INT_PTR CALLBACK disk_erase_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The dialog's result after a quick erase was run (whether it succeeded or not): the main window
// then scans the drives again.
constexpr INT_PTR ERASE_ATTEMPTED = 1047;

constexpr const char* ERASE_NOTES =
    "Warning: Erasing a disk is a non-recoverable operation. All data on the disk will be "
    "lost!\r\n\r\n"
    "This operation should only be required if you:\r\n"
    " - want to initialize a new disk for use in the Nokia MediaMaster 9902s,\r\n"
    " - want to reset all data on a MediaMaster disk.\r\n\r\n"
    "If you are not sure of what you are doing, DO NOT USE THIS FEATURE!";

}  // namespace quarrow::ui
