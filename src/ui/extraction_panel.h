// The extraction panel: dialog 101, a modeless child that fills the main window's client area.
// It lists the open disk's recordings, shows the selected one, offers the range and the audio and
// video options, and runs "Begin Extraction". It keeps no data of its own: everything lives in
// its controls and in AppState. The other windows update it through the operations below.
#pragma once

#include <windows.h>

#include "fs/recording_table.h"

namespace quarrow::ui {

INT_PTR CALLBACK panel_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Re-reads AppState into the panel: disk menu commands, list, selection, information, controls.
void refresh_panel();
// Closes the open disk, runs disk detection with the write switch, shows its status, refreshes.
void rescan_disk();
// Rebuilds the list lines ("%d. %s", newest first) and selects line 0.
void fill_recording_list();
// Fills the information fields, the prefix, the range controls and the progress range.
void show_recording(RecordingEntry entry);
void set_range_controls(uint32_t start_offset, uint32_t length);
// After a scroll: shows the start, limits the length to the sectors left, shows the length.
void update_range_controls(uint32_t start_offset, uint32_t length);
void set_status(const char* text);
void set_panel_progress(int value);
// Disable / enable "Begin Extraction" and the six disk and tool menu commands.
void lock_panel();
void unlock_panel();
void set_path_text(const char* text);
// The folder browser; 1 and the path (PATH_SIZE bytes) when a folder was chosen, else 0.
int choose_destination_folder(char* path);

// The defaults the shell gives the panel at start-up, before the first detection: "Begin
// Extraction" and both range bars disabled, both arrows of the bars enabled, "Auto Video Sync"
// checked, "Sync Tuning" ranging over 1 ... 5.
void set_panel_defaults();
// Checks the audio radio button that a stored "AudioType" stands for.
void check_audio_button(DWORD audio_type);

}  // namespace quarrow::ui
