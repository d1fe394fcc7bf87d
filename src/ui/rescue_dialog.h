// Rescue Failing Disk (dialog 150, Extras menu): the open disk copied into an image file around
// its unreadable sectors, with a map in ddrescue's format. The same rescue as 'quarrow rescue'
// (fs/disk_rescue.h): a map that exists is continued, so that nothing rescued is read twice; an
// image without its map is written into only after the user agreed to start over. Progress in
// MB with the rate and the time left; Cancel stops at the next read and leaves image and map
// consistent.
#pragma once

#include <windows.h>

namespace quarrow::ui {

INT_PTR CALLBACK rescue_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void open_rescue_dialog(HWND owner);

}  // namespace quarrow::ui
