// The "Recording Management" window (dialog 135 with menu bar 144): titles, channel names and
// attributes of the open disk's recordings, their order, deletion, backup of one recording to a
// ".mmr" file, restore of backup files and reclaiming lost recordings. Every change goes to the
// disk at once through the core and is then brought into AppState's list; the window keeps no
// state of its own (the selection lives in its list box).
#pragma once

#include <windows.h>

#include <cstring>

#include "fs/recording_table.h"

namespace quarrow::ui {

INT_PTR CALLBACK recording_management_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Lists count recordings ("%d. %s") and enables the detail controls, Delete Record and the backup
// command; with none, clears and disables them instead (the list box is left as it is).
void fill_management_list(HWND window, int count, const RecordingEntry* list);

// Puts one recording into the detail controls. Pause is enabled only for a paused recording:
// the user may take the attribute off, never put it on.
void show_management_details(HWND window, const RecordingEntry& entry);

// The longest restore path, its NUL included: a directory and a name that do not fit together
// are refused rather than cut.
constexpr int RESTORE_PATH_SIZE = 264;
// The file-name buffer of the open and save dialogs.
constexpr int FILE_LIST_SIZE = 40000;

// Walks the buffer that a multi-selecting open dialog filled (one full path, or a directory and
// the names, NUL-separated, ending with an empty name; size bytes at most) and calls visit with
// each file's path, or with null when directory and name do not fit RESTORE_PATH_SIZE.
template <typename Visit>
void for_each_selected_file(const char* buffer, int size, Visit visit) {
    auto length_within = [&](int from) {
        int n = 0;
        while (from + n < size && buffer[from + n])
            ++n;
        return n;
    };
    int first = length_within(0);
    if (first == 0 || first >= size) return;
    if (first + 1 >= size || buffer[first + 1] == 0) {
        if (first < RESTORE_PATH_SIZE)
            visit(buffer);
        else
            visit(nullptr);
        return;
    }
    for (int at = first + 1; at < size && buffer[at];) {
        int name = length_within(at);
        if (at + name >= size) return;  // a name that runs past the buffer: not a name
        char path[RESTORE_PATH_SIZE];
        if (first + 1 + name < RESTORE_PATH_SIZE) {
            memcpy(path, buffer, first);
            path[first] = '\\';
            memcpy(path + first + 1, buffer + at, name);
            path[first + 1 + name] = 0;
            visit(path);
        } else {
            visit(nullptr);
        }
        at += name + 1;
    }
}

constexpr const char* RESTORE_PATH_TOO_LONG =
    "The path of the backup file is too long (263 characters at most).";

}  // namespace quarrow::ui
