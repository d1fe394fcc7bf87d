#include "ui/dump_dialog.h"

#include <cctype>
#include <cstdio>

#include "disk/disk_dump.h"
#include "fs/disk_session.h"
#include "fs/layout.h"
#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/control_helpers.h"
#include "ui/message_boxes.h"
#include "ui/please_wait.h"
#include "ui/settings.h"
#include "ui/tool_windows.h"

namespace quarrow::ui {
namespace {

constexpr int BOX_TEXT_SIZE = 1024;

int64_t count_in_box(HWND window) {
    char text[BOX_TEXT_SIZE] = {};
    GetDlgItemTextA(window, IDC_DUMP_COUNT, text, sizeof text);
    return read_count_text(text);
}

// Keeps the count within the disk (replacing the box's text when it was cut) and shows the size
// it stands for beside the limits.
void apply_count_rule(HWND window) {
    int64_t n = count_in_box(window);
    int64_t most = max_dump_units(app.disk_size_mb);
    if (n * 8 > int64_t(app.disk_size_mb)) {
        n = most;
        char cut[32];
        snprintf(cut, sizeof cut, "%lld", static_cast<long long>(n));
        SetDlgItemTextA(window, IDC_DUMP_COUNT, cut);
    }
    char line[128];
    snprintf(line, sizeof line, " (%lld MB) / %lld (%lu MB)", static_cast<long long>(n * 8),
             static_cast<long long>(most), static_cast<unsigned long>(app.disk_size_mb));
    set_item_text(window, IDC_DUMP_SIZE, line);
}

void browse(HWND window) {
    char file[MAX_PATH] = {};
    if (!ask_save_path(window, "Disk Image (*.hex)\0*.hex\0",
                       "Specify a Directory and Name for the Image file", ".hex", file,
                       sizeof file))
        return;
    set_item_text(window, IDC_DUMP_PATH, file);
}

void dump(HWND window) {
    int64_t n = count_in_box(window);
    if (n * 8 > int64_t(app.disk_size_mb)) n = max_dump_units(app.disk_size_mb);
    if (n <= 0) {
        show_info(window, "You must enter a positive number of clusters!");
        return;
    }
    char path[BOX_TEXT_SIZE] = {};
    GetDlgItemTextA(window, IDC_DUMP_PATH, path, sizeof path);
    if (!path[0]) {
        show_info(window, "You must set a destination path!");
        return;
    }
    // Emptying the file being read would destroy the very disk being dumped.
    OutputCheck target = check_output(app.disk, path);
    if (target != OUTPUT_USABLE) {
        show_error(window, target == OUTPUT_IS_SOURCE ? OUTPUT_IS_OPEN_DISK_MESSAGE
                                                      : OUTPUT_NOT_A_FILE_MESSAGE);
        return;
    }
    HWND wait = show_please_wait(app.main_window);
    if (wait) progress_set_range(wait, IDC_WAIT_PROGRESS, 0, static_cast<int>(n));
    OperationHooks hooks = please_wait_hooks(wait);
    char message[MESSAGE_SIZE] = {};
    int ok = dump_disk(app.disk, static_cast<int>(n), CLUSTER_SECTORS, SECTOR_SIZE, path, &hooks,
                       message);
    close_please_wait(wait);
    if (ok) {
        show_info(window, "Operation successfully completed.");
    } else {
        char text[MESSAGE_SIZE + 32];
        snprintf(text, sizeof text, "The operation failed: %s", message);
        show_error(window, text);
    }
    EndDialog(window, IDOK);
}

}  // namespace

int64_t read_count_text(const char* text) {
    const char* p = text;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    int64_t n = 0;
    // Past twelve digits the count is beyond any disk already; stop before it could overflow.
    for (int digits = 0; isdigit(static_cast<unsigned char>(*p)) && digits < 12; ++p, ++digits)
        n = n * 10 + (*p - '0');
    if (isdigit(static_cast<unsigned char>(*p))) n = int64_t(999999999999);
    return negative ? -n : n;
}

INT_PTR CALLBACK dump_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            SetDlgItemTextA(window, IDC_DUMP_COUNT, "0");
            apply_count_rule(window);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wparam)) {
                case IDC_DUMP_COUNT:
                    apply_count_rule(window);
                    return TRUE;
                case IDC_DUMP_BROWSE:
                    browse(window);
                    return TRUE;
                case IDOK:
                    dump(window);
                    return TRUE;
                case IDCANCEL:
                    EndDialog(window, IDCANCEL);
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

void open_dump_dialog(HWND owner) {
    DialogBoxParamA(app.instance, MAKEINTRESOURCEA(IDD_DUMP), owner, dump_dialog_proc, 0);
}

}  // namespace quarrow::ui
