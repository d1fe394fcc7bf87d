// The three message boxes through which every window talks to the user, and the system dialogs
// the program opens (message box, file dialogs, folder browser). Every one of them is called
// through the SystemDialogs record, so that the tests can answer them instead of a person.
#pragma once

// windows.h first: the common dialog header builds on its types.
#include <windows.h>

#include <commdlg.h>

namespace quarrow::ui {

struct SystemDialogs {
    int (*message_box)(HWND owner, const char* text, const char* caption, UINT style);
    BOOL(WINAPI* open_file)(OPENFILENAMEA* request);
    BOOL(WINAPI* save_file)(OPENFILENAMEA* request);
    // The shell's folder browser: 1 and the chosen folder's path (PATH_SIZE bytes) when the user
    // picked a folder that has a file-system path, else 0.
    int (*browse_for_folder)(HWND owner, const char* title, char* path);
};

// Starts as the real Win32 calls; tests replace members and put them back.
extern SystemDialogs system_dialogs;
SystemDialogs real_system_dialogs();

// "Quarrow Error", error icon, OK.
void show_error(HWND owner, const char* text);
// "Quarrow Information", exclamation icon, OK.
void show_info(HWND owner, const char* text);
// "Confirmation", Yes / No / Cancel with Cancel pre-selected. Only Yes (true) consents.
bool ask_confirmation(HWND owner, const char* text);

// The save-file dialog as the dump and backup windows ask it: owned by owner, starting in the
// extraction panel's folder, with one filter, a default extension, and overwrite and path checks.
// True with the chosen path in file (file_size bytes, empty at the start) when the user confirms.
bool ask_save_path(HWND owner, const char* filter, const char* title, const char* extension,
                   char* file, DWORD file_size);

}  // namespace quarrow::ui
