// The "MediaMaster File System Diagnostics" dialog (dialog 143): the allocation table's and the
// Table of Contents' figures with their verdicts, read afresh from the disk each time it opens.
#pragma once

#include <windows.h>

#include "disk/sector_access.h"

namespace quarrow::ui {

INT_PTR CALLBACK diagnostics_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Reads the notification and the figures and writes them into the dialog's controls; a failed
// read shows its error box (owned by the dialog) and leaves the texts already shown.
void show_diagnostics(HWND dialog, DiskHandle disk, int recording_count);

}  // namespace quarrow::ui
