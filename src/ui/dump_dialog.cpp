#include "ui/dump_dialog.h"

#include <cctype>
#include <cstdio>

#include "disk/disk_dump.h"
#include "fs/disk_session.h"
#include "fs/layout.h"
#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/background_work.h"
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

// The copy, away from the window thread.
struct DumpWork {
    int units = 0;
    const char* path = "";
    int ok = 0;
    DumpOutcome outcome;
    char message[MESSAGE_SIZE] = {};
};

void run_dump(void* context, const OperationHooks* hooks) {
    auto* work = static_cast<DumpWork*>(context);
    work->ok = dump_disk(app.disk, work->units, CLUSTER_SECTORS, SECTOR_SIZE, work->path, hooks,
                         work->message, &work->outcome);
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
    DumpWork work;
    work.units = static_cast<int>(n);
    work.path = path;
    WorkView view{wait, wait ? move_please_wait_bar : nullptr, nullptr};
    WorkOptions options;
    options.bytes_per_unit = int64_t(CLUSTER_SECTORS) * SECTOR_SIZE;
    options.unit = "clusters";
    const bool cancelled = run_background_work(window, run_dump, &work, view, options);
    close_please_wait(wait);
    if (work.ok) {
        show_info(window, "Operation successfully completed.");
    } else {
        char text[MESSAGE_SIZE + BOX_TEXT_SIZE + 128];
        int used = snprintf(text, sizeof text, "The operation failed: %s", work.message);
        // After Cancel, what the file holds now, as the command line tells it.
        if (cancelled && used > 0 && used < static_cast<int>(sizeof text)) {
            if (work.outcome.left == OUTPUT_PARTIAL_KEPT)
                snprintf(text + used, sizeof text - used,
                         "\n%s holds the first %d of %d clusters; the file holds what came "
                         "before the failure.",
                         path, work.outcome.units_written, work.units);
            else if (work.outcome.left == OUTPUT_EARLIER_KEPT)
                snprintf(text + used, sizeof text - used, "\nThe earlier %s was left as it was.",
                         path);
        }
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
