#include "ui/disk_erase_dialog.h"

#include <cstdio>

#include "disk/drive_list.h"
#include "disk/quick_erase.h"
#include "fs/disk_detection.h"
#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/background_work.h"
#include "ui/control_helpers.h"
#include "ui/extraction_panel.h"
#include "ui/message_boxes.h"
#include "ui/please_wait.h"
#include "ui/tool_windows.h"

namespace quarrow::ui {
namespace {

void add_drive_line(void* context, const DriveEntry* entry) {
    HWND window = static_cast<HWND>(context);
    list_add(window, IDC_ERASE_DRIVE_LIST, entry->line);
    // Selected by the program, which sends no notification: Quick Erase stays disabled until the
    // user picks a line.
    if (entry->mediamaster) list_select(window, IDC_ERASE_DRIVE_LIST, entry->number);
}

BOOL init_dialog(HWND window) {
    SendMessageA(GetDlgItem(window, IDC_ERASE_NOTES), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(ERASE_NOTES));
    disable_item(window, IDC_QUICK_ERASE);
    DriveSink sink{window, add_drive_line};
    list_physical_drives(&sink);
    return TRUE;
}

void selection_changed(HWND window) {
    int sel = list_get_selection(window, IDC_ERASE_DRIVE_LIST);
    if (sel < 0) return;
    if (sel == 0)
        disable_item(window, IDC_QUICK_ERASE);
    else
        enable_item(window, IDC_QUICK_ERASE);
}

struct EraseWork {
    int drive;
    int ok;
};

void run_erase(void* context, const OperationHooks*) {
    auto* work = static_cast<EraseWork*>(context);
    work->ok = quick_erase(work->drive, 1, ERASE_BLOCK_SECTORS);
}

void quick_erase_clicked(HWND window) {
    int drive = list_get_selection(window, IDC_ERASE_DRIVE_LIST);
    if (drive < 0) {
        show_info(window, "You must select a disk drive first");
        return;
    }
    if (drive == 0) {
        show_info(window, DRIVE0_DENIED_TEXT);
        return;
    }
    // The Protection menu's erase switch guards the erase itself, not only the note shown when
    // the dialog opens: with it off, no drive is written.
    if (menu_is_checked(app.main_window, IDM_ALLOW_DISK_ERASE) != 1) {
        show_info(window, "Note: Your disks are write-protected (Protection Menu).");
        return;
    }
    char question[160];
    snprintf(question, sizeof question,
             "You are about to permanently erase all data on the selected disk (Drive %d). Are you "
             "sure you want to do that?",
             drive);
    int answer = system_dialogs.message_box(window, question, "Confirmation",
                                            MB_YESNOCANCEL | MB_ICONWARNING | MB_DEFBUTTON2);
    if (answer != IDYES) return;
    HWND wait = show_please_wait(window);
    // Once begun the erase runs to its end: stopping it half way would leave neither the old
    // disk nor an erased one.
    please_wait_without_cancel(wait);
    EraseWork work{drive, 0};
    run_background_work(window, run_erase, &work, WorkView{wait, nullptr, nullptr});
    const int ok = work.ok;
    close_please_wait(wait);
    if (ok) {
        show_info(window, "Operation successfully completed.");
        show_info(window,
                  "Now, do not forget to use the 'Erase Disk' option in the 'System "
                  "Configuration' of your MediaMaster !");
    } else {
        show_error(window, "The operation failed.");
    }
    EndDialog(window, ERASE_ATTEMPTED);
}

}  // namespace

INT_PTR CALLBACK disk_erase_proc(HWND window, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return init_dialog(window);
        case WM_COMMAND:
            switch (LOWORD(wparam)) {
                case IDCANCEL:
                    EndDialog(window, IDCANCEL);
                    return TRUE;
                case IDC_ERASE_DRIVE_LIST:
                    if (HIWORD(wparam) == LBN_SELCHANGE) selection_changed(window);
                    return TRUE;
                case IDC_QUICK_ERASE:
                    quick_erase_clicked(window);
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

void open_disk_erase(HWND owner) {
    INT_PTR result =
        DialogBoxParamA(app.instance, MAKEINTRESOURCEA(IDD_DISK_ERASE), owner, disk_erase_proc, 0);
    // The erased drive may have been the open disk: whatever happened, the drives are scanned
    // afresh, as "Scan for MediaMaster Disk" does.
    if (result == ERASE_ATTEMPTED) rescan_disk();
}

}  // namespace quarrow::ui
