#include "ui/please_wait.h"

#include "resources/resource.h"
#include "ui/app_state.h"
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
            if (LOWORD(wparam) != IDCANCEL) return FALSE;
            EndDialog(window, IDCANCEL);
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
    return window;
}

void close_please_wait(HWND window) {
    if (window) DestroyWindow(window);
}

OperationHooks please_wait_hooks(HWND window) {
    return OperationHooks{window, window ? move_bar : nullptr, nullptr, nullptr, nullptr};
}

}  // namespace quarrow::ui
