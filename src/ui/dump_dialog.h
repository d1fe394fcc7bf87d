// The dump dialog (dialog 129, titled "Recording Backup"; "Dump Disk to File" in the Tools
// menu): copies the first clusters' worth of the open disk into a raw image file.
#pragma once

#include <windows.h>

#include <cstdint>

namespace quarrow::ui {

INT_PTR CALLBACK dump_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The count box's text read as a signed decimal number from its start (no digits: 0).
int64_t read_count_text(const char* text);

// The most units a disk of size_mb MiB holds: whole 8 MiB units.
inline int64_t max_dump_units(uint32_t size_mb) {
    return size_mb / 8;
}

}  // namespace quarrow::ui
