// dialog_gallery: the Windows program started with one of its windows open, for screenshots
// (tools/screenshots.sh). Message boxes are answered silently, so that the protection notes do
// not stand in front of the window; everything else is the program itself.
// usage: dialog_gallery.exe
//        main|manage|about|wait|diagnostics|erase|dump|extras|rescue|cut-list|extract-all
#include <windows.h>

#include <cstring>

#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/application_shell.h"
#include "ui/control_helpers.h"
#include "ui/message_boxes.h"
#include "ui/please_wait.h"

namespace {

using namespace quarrow::ui;

int answer_silently(HWND, const char*, const char*, UINT style) {
    return (style & MB_TYPEMASK) == MB_YESNOCANCEL ? IDNO : IDOK;
}

// Once the dump dialog is up, a count and a path typed in, as a user would.
void CALLBACK fill_dump_dialog(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dump = FindWindowA("#32770", "Recording Backup");
    if (!dump) return;
    KillTimer(nullptr, id);
    SetDlgItemTextA(dump, IDC_DUMP_PATH, "C:\\images\\mediamaster.hex");
    SetDlgItemTextA(dump, IDC_DUMP_COUNT, "10");
}

// Once the erase dialog is up, the user picks the MediaMaster disk.
void CALLBACK pick_erase_line(HWND, UINT, UINT_PTR id, DWORD) {
    HWND erase = FindWindowA("#32770", "Disk Erase");
    if (!erase) return;
    KillTimer(nullptr, id);
    int line = list_get_selection(erase, IDC_ERASE_DRIVE_LIST);
    if (line < 0) return;
    SendMessageA(erase, WM_COMMAND, MAKEWPARAM(IDC_ERASE_DRIVE_LIST, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(erase, IDC_ERASE_DRIVE_LIST)));
}

// Once the rescue dialog is up, an image file chosen; its map takes the image's name.
void CALLBACK fill_rescue_dialog(HWND, UINT, UINT_PTR id, DWORD) {
    HWND rescue = FindWindowA("#32770", "Rescue Failing Disk");
    if (!rescue) return;
    KillTimer(nullptr, id);
    SetDlgItemTextA(rescue, IDC_RESCUE_IMAGE, "C:\\images\\failing.hex");
    SetDlgItemTextA(rescue, IDC_RESCUE_MAP, "C:\\images\\failing.hex.map");
}

// Once the cut list dialog is up, two stretches to keep and a chapter every minute, typed in.
void CALLBACK fill_cut_list_dialog(HWND, UINT, UINT_PTR id, DWORD) {
    HWND cut = FindWindowA("#32770", "Cut List");
    if (!cut) return;
    KillTimer(nullptr, id);
    SetDlgItemTextA(cut, IDC_CUT_TEXT, "00:00:10-00:01:05,00:01:40-00:03:00");
    CheckRadioButton(cut, IDC_CHAPTERS_NONE, IDC_CHAPTERS_EVERY, IDC_CHAPTERS_EVERY);
    SetDlgItemTextA(cut, IDC_CHAPTER_INTERVAL, "1m");
}

// The Extras menu pulled down under its name in the menu bar, with two of its toggles on. The
// popup runs its own loop until the program is ended.
void CALLBACK open_extras_menu(HWND main, UINT, UINT_PTR id, DWORD) {
    KillTimer(main, id);
    constexpr int EXTRAS_POSITION = 3;
    HMENU bar = GetMenu(main);
    RECT r;
    if (!GetMenuItemRect(main, bar, EXTRAS_POSITION, &r)) return;
    HiliteMenuItem(main, bar, EXTRAS_POSITION, MF_BYPOSITION | MF_HILITE);
    TrackPopupMenu(GetSubMenu(bar, EXTRAS_POSITION), TPM_LEFTALIGN | TPM_TOPALIGN, r.left, r.bottom,
                   0, main, nullptr);
}

// Extract All's folder, as the folder browser would give it.
int extracted_folder(HWND, const char*, char* path) {
    strcpy(path, "C:\\Extracted");
    return 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int show) {
    system_dialogs.message_box = answer_silently;
    HWND main = start_application(instance, show);
    if (!main) return 1;
    const char* which = arguments ? arguments : "";
    struct {
        const char* name;
        int command;
    } const commands[] = {{"manage", IDM_MANAGE_RECORDINGS}, {"about", IDM_ABOUT},
                          {"diagnostics", IDM_DIAGNOSTICS},  {"erase", IDM_ERASE_DISK},
                          {"dump", IDM_DUMP_DISK},           {"rescue", IDM_RESCUE_DISK}};
    for (const auto& c : commands)
        if (strcmp(which, c.name) == 0) PostMessageA(main, WM_COMMAND, MAKEWPARAM(c.command, 0), 0);
    if (strcmp(which, "dump") == 0) SetTimer(nullptr, 0, 200, fill_dump_dialog);
    if (strcmp(which, "erase") == 0) SetTimer(nullptr, 0, 200, pick_erase_line);
    if (strcmp(which, "rescue") == 0) SetTimer(nullptr, 0, 200, fill_rescue_dialog);
    if (strcmp(which, "cut-list") == 0) {
        // The Matroska output, the longest recording selected, then its cut list.
        SendMessageA(main, WM_COMMAND, MAKEWPARAM(IDM_MATROSKA, 0), 0);
        HWND panel = app.panel_window;
        SendMessageA(GetDlgItem(panel, IDC_RECORDING_LIST), LB_SETCURSEL, 2, 0);
        SendMessageA(panel, WM_COMMAND, MAKEWPARAM(IDC_RECORDING_LIST, LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(GetDlgItem(panel, IDC_RECORDING_LIST)));
        PostMessageA(main, WM_COMMAND, MAKEWPARAM(IDM_CUT_LIST, 0), 0);
        SetTimer(nullptr, 0, 200, fill_cut_list_dialog);
    }
    if (strcmp(which, "extras") == 0) {
        SendMessageA(main, WM_COMMAND, MAKEWPARAM(IDM_ONE_PLAYABLE_FILE, 0), 0);
        SendMessageA(main, WM_COMMAND, MAKEWPARAM(IDM_WRITE_METADATA, 0), 0);
        SetTimer(main, 1, 1500, open_extras_menu);
    }
    // The batch itself is started from outside (quarrow_gui_driver menu-pause), so that the
    // window thread can be held still in its middle.
    if (strcmp(which, "extract-all") == 0) system_dialogs.browse_for_folder = extracted_folder;
    if (strcmp(which, "wait") == 0) {
        HWND wait = show_please_wait(main);
        progress_set_range(wait, IDC_WAIT_PROGRESS, 0, 10);
        progress_set_pos(wait, IDC_WAIT_PROGRESS, 4);
    }
    return run_message_loop(LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS)));
}
