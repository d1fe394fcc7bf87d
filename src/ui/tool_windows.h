// The windows behind the Tools and Help menus, each opened modally and owned by the main window
// once the shell's gates (raw-drive platform, open disk, protection notes) have passed:
//   open_recording_management  dialog 135 "Recording Management" (Manage Recordings, 134)
//   open_diagnostics           dialog 143 "MediaMaster File System Diagnostics" (136)
//   open_dump_dialog           dialog 129 "Recording Backup" (Dump Disk to File, 130)
//   open_disk_erase            dialog 126 "Disk Erase" (Erase Hard Disk, 125)
//   open_about_box             dialog 115 "About" (40004)
// Each window lives in its own source file that defines its open_ function; the ones not built
// yet are defined in tool_windows_pending.cpp and show a short note instead.
#pragma once

#include <windows.h>

namespace quarrow::ui {

void open_recording_management(HWND owner);
void open_diagnostics(HWND owner);
void open_dump_dialog(HWND owner);
void open_disk_erase(HWND owner);
void open_about_box(HWND owner);

}  // namespace quarrow::ui
