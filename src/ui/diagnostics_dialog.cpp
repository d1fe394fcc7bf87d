#include "ui/diagnostics_dialog.h"

#include "fs/diagnostics.h"
#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/control_helpers.h"
#include "ui/message_boxes.h"
#include "ui/tool_windows.h"

namespace quarrow::ui {

void show_diagnostics(HWND dialog, DiskHandle disk, int recording_count) {
    char notification[MESSAGE_SIZE] = {};
    if (!read_fs_notification(disk, notification)) {
        show_error(dialog, DIAG_TOC_FAILED);
        return;
    }
    char shown[DIAG_TEXT_BYTES];
    diagnostics_notification_text(notification, shown);
    SetDlgItemTextA(dialog, IDC_DIAG_NOTIFICATION, shown);
    FatStatistics stats = {};
    if (!gather_fat_statistics(disk, &stats)) {
        show_error(dialog, DIAG_FAT_FAILED);
        return;
    }
    DiagnosticsTexts texts;
    format_diagnostics(stats, recording_count, &texts);
    set_item_text(dialog, IDC_DIAG_FAT_SIZE, texts.fat_size);
    set_item_text(dialog, IDC_DIAG_ALLOCATED_SPACE, texts.allocated);
    set_item_text(dialog, IDC_DIAG_LINKED_CLUSTERS, texts.linked);
    set_item_text(dialog, IDC_DIAG_STRINGS, texts.strings);
    set_item_text(dialog, IDC_DIAG_FAT_TERMINATION, texts.termination);
    set_item_text(dialog, IDC_DIAG_FAT_CRC, texts.crc);
    set_item_text(dialog, IDC_DIAG_FAT_INTEGRITY, texts.integrity);
}

INT_PTR CALLBACK diagnostics_proc(HWND window, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            show_diagnostics(window, app.disk, app.recording_count);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wparam) != IDCANCEL) return FALSE;
            EndDialog(window, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

void open_diagnostics(HWND owner) {
    DialogBoxParamA(app.instance, MAKEINTRESOURCEA(IDD_DIAGNOSTICS), owner, diagnostics_proc, 0);
}

}  // namespace quarrow::ui
