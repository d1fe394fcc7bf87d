// The "About" box (dialog 115): the program's name and version, its purpose, credit and thanks.
#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/tool_windows.h"

namespace quarrow::ui {
namespace {

INT_PTR CALLBACK about_box_proc(HWND window, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wparam) != IDOK && LOWORD(wparam) != IDCANCEL) return FALSE;
            EndDialog(window, LOWORD(wparam));
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void open_about_box(HWND owner) {
    DialogBoxParamA(app.instance, MAKEINTRESOURCEA(IDD_ABOUT), owner, about_box_proc, 0);
}

}  // namespace quarrow::ui
