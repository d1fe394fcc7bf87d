#include "ui/message_boxes.h"

#include <shlobj.h>

#include <cstring>

#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/settings.h"

namespace quarrow::ui {
namespace {

int system_message_box(HWND owner, const char* text, const char* caption, UINT style) {
    return MessageBoxA(owner, text, caption, style);
}

int system_browse_for_folder(HWND owner, const char* title, char* path) {
    BROWSEINFOA info = {};
    info.hwndOwner = owner;
    info.pidlRoot = nullptr;  // the whole namespace
    info.lpszTitle = title;
    info.ulFlags = 0;
    char display_name[MAX_PATH] = {};
    info.pszDisplayName = display_name;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    if (!chosen) return 0;
    char folder[MAX_PATH] = {};
    BOOL has_path = SHGetPathFromIDListA(chosen, folder);
    CoTaskMemFree(chosen);
    if (!has_path) return 0;
    strncpy(path, folder, PATH_SIZE - 1);
    path[PATH_SIZE - 1] = 0;
    return 1;
}

}  // namespace

SystemDialogs real_system_dialogs() {
    return SystemDialogs{system_message_box, GetOpenFileNameA, GetSaveFileNameA,
                         system_browse_for_folder};
}

SystemDialogs system_dialogs = {system_message_box, GetOpenFileNameA, GetSaveFileNameA,
                                system_browse_for_folder};

void show_error(HWND owner, const char* text) {
    system_dialogs.message_box(owner, text, "Quarrow Error", MB_OK | MB_ICONERROR);
}

void show_info(HWND owner, const char* text) {
    system_dialogs.message_box(owner, text, "Quarrow Information", MB_OK | MB_ICONWARNING);
}

bool ask_confirmation(HWND owner, const char* text) {
    int answer = system_dialogs.message_box(owner, text, "Confirmation",
                                            MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON3);
    return answer == IDYES;
}

bool ask_save_path(HWND owner, const char* filter, const char* title, const char* extension,
                   char* file, DWORD file_size) {
    char folder[PATH_SIZE + 1] = {};
    GetDlgItemTextA(app.panel_window, IDC_PATH, folder, sizeof folder);
    OPENFILENAMEA request = {};
    request.lStructSize = sizeof request;
    request.hwndOwner = owner;
    request.lpstrFilter = filter;
    request.nFilterIndex = 1;
    request.lpstrFile = file;
    request.nMaxFile = file_size;
    request.lpstrInitialDir = folder;
    request.lpstrTitle = title;
    request.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    request.lpstrDefExt = extension;
    return system_dialogs.save_file(&request) != FALSE;
}

}  // namespace quarrow::ui
