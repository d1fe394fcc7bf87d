// Cut List (dialog 151, Extras menu): the stretches of the selected recording that its next
// extractions to the one .mpg or the .mkv keep or remove, typed as the command line's --cut and
// --drop take them, and the chapters (none, at each join and gap, also one every interval). OK
// reads the text with the core's parser and fits it to the recording (extraction_setup.h); a
// refusal is shown in the parser's words and the dialog stays open. The list belongs to the
// recording it was set for: selecting another recording clears it, and so does a new start (it
// is recording time, never kept in the registry). "Cut List..." is checked while one is set.
#pragma once

#include <windows.h>

#include "extract/extraction_setup.h"
#include "fs/recording_table.h"

namespace quarrow::ui {

INT_PTR CALLBACK cut_list_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// The dialog for the panel's selected recording. Without a one-file output chosen, and no cut
// list set that the user might want to clear, it explains instead of opening.
void open_cut_list_dialog(HWND owner);

// The cut list set for the selected recording; an empty request when none is.
CutRequest current_cut_list();
bool cut_list_is_set();
void clear_cut_list();
// The panel shows entry: a cut list set for another recording is cleared.
void cut_list_follow_selection(const RecordingEntry& entry);

}  // namespace quarrow::ui
