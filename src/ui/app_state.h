// The one application-wide state that every window of the program shares: the windows, the open
// MediaMaster disk and its recording list. Plain process-wide data on the window thread, filled
// at start-up by the application shell; whoever replaces the open disk closes the old one first.
//
// The two protection switches have no variable here: their state is the check mark of menu items
// 140 and 141 of the main window (menu_is_checked). The destination folder, the audio choice and
// the selected recording live in the extraction panel's controls.
#pragma once

#include <windows.h>

#include <cstdint>

#include "disk/sector_access.h"
#include "fs/recording_table.h"

namespace quarrow::ui {

constexpr int RESOURCE_TEXT_SIZE = 100;

struct AppState {
    HINSTANCE instance;
    HWND main_window;
    HWND panel_window;  // null after the panel was closed
    char window_title[RESOURCE_TEXT_SIZE];
    char class_name[RESOURCE_TEXT_SIZE];
    DiskHandle disk;  // null when no disk or image is open
    uint32_t disk_size_mb;
    int recording_count;  // 0 ... MAX_RECORDINGS
    RecordingEntry recordings[MAX_RECORDINGS];
};

extern AppState app;

// The list entry at index, or null when index does not name one of the loaded recordings (no
// selection, or a list that is out of step with the array). Every path from a list selection to
// the recording array goes through here.
const RecordingEntry* recording_at(int index);

// Closes the open disk, if any; the state then holds none.
void close_open_disk();

}  // namespace quarrow::ui
