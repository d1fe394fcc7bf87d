#include "ui/please_wait.h"

#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/background_work.h"
#include "ui/control_helpers.h"

namespace quarrow::ui {
namespace {

void move_bar(void* context, int64_t done, int64_t) {
    progress_set_pos(static_cast<HWND>(context), IDC_WAIT_PROGRESS, static_cast<int>(done));
}

}  // namespace

INT_PTR CALLBACK please_wait_proc(HWND window, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            // The Cancel button and Esc: the work stops at its next safe point, and the window
            // stays until it has.
            if (LOWORD(wparam) != IDCANCEL && LOWORD(wparam) != IDC_WAIT_CANCEL) return FALSE;
            if (background_work_running()) {
                cancel_background_work();
                SetDlgItemTextA(window, IDC_WAIT_TEXT, PLEASE_WAIT_STOPPING);
                EnableWindow(GetDlgItem(window, IDC_WAIT_CANCEL), FALSE);
            }
            return TRUE;
        case WM_DESTROY:
            return TRUE;
        default:
            return FALSE;
    }
}

HWND show_please_wait(HWND owner) {
    HWND window = CreateDialogParamA(app.instance, MAKEINTRESOURCEA(IDD_PLEASE_WAIT), owner,
                                     please_wait_proc, 0);
    if (!window) return nullptr;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetFocus(GetDlgItem(window, IDC_WAIT_CANCEL));
    return window;
}

void please_wait_without_cancel(HWND window) {
    if (window) EnableWindow(GetDlgItem(window, IDC_WAIT_CANCEL), FALSE);
}

void move_please_wait_bar(void* window, int64_t done, int64_t total) {
    // The bar's range follows the work's total (the dump sets it beforehand to the same).
    if (total > 0 && total <= 0x7FFFFFFF)
        progress_set_range(static_cast<HWND>(window), IDC_WAIT_PROGRESS, 0,
                           static_cast<int>(total));
    move_bar(window, done, total);
}

void close_please_wait(HWND window) {
    if (window) DestroyWindow(window);
}

OperationHooks please_wait_hooks(HWND window) {
    return OperationHooks{window, window ? move_bar : nullptr, nullptr, nullptr, nullptr};
}

}  // namespace quarrow::ui
