#include "ui/control_helpers.h"

#include <commctrl.h>

namespace quarrow::ui {
namespace {

LRESULT send_to_item(HWND window, int id, UINT message, WPARAM wparam, LPARAM lparam) {
    return SendMessageA(GetDlgItem(window, id), message, wparam, lparam);
}

}  // namespace

void enable_item(HWND window, int id) {
    EnableWindow(GetDlgItem(window, id), TRUE);
}

void disable_item(HWND window, int id) {
    EnableWindow(GetDlgItem(window, id), FALSE);
}

void show_item(HWND window, int id) {
    ShowWindow(GetDlgItem(window, id), SW_SHOW);
}

void hide_item(HWND window, int id) {
    ShowWindow(GetDlgItem(window, id), SW_HIDE);
}

void list_reset(HWND window, int id) {
    send_to_item(window, id, LB_RESETCONTENT, 0, 0);
}

void list_add(HWND window, int id, const char* text) {
    send_to_item(window, id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void list_select(HWND window, int id, int index) {
    send_to_item(window, id, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int list_get_selection(HWND window, int id) {
    return static_cast<int>(send_to_item(window, id, LB_GETCURSEL, 0, 0));
}

int scroll_get_pos(HWND window, int id) {
    return static_cast<int>(send_to_item(window, id, SBM_GETPOS, 0, 0));
}

LRESULT scroll_get_info(HWND scroll_bar, SCROLLINFO* info) {
    return SendMessageA(scroll_bar, SBM_GETSCROLLINFO, 0, reinterpret_cast<LPARAM>(info));
}

LRESULT scroll_set_info(HWND scroll_bar, SCROLLINFO* info) {
    return SendMessageA(scroll_bar, SBM_SETSCROLLINFO, TRUE, reinterpret_cast<LPARAM>(info));
}

void scroll_setup(HWND window, int id, int min, int max, int page, int pos) {
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = min;
    info.nMax = max;
    info.nPage = static_cast<UINT>(page);
    info.nPos = pos;
    send_to_item(window, id, SBM_SETSCROLLINFO, TRUE, reinterpret_cast<LPARAM>(&info));
}

void scroll_enable_arrows(HWND window, int id) {
    send_to_item(window, id, SBM_ENABLE_ARROWS, ESB_ENABLE_BOTH, 0);
}

int trackbar_get_pos(HWND window, int id) {
    return static_cast<int>(send_to_item(window, id, TBM_GETPOS, 0, 0));
}

void trackbar_set_range(HWND window, int id, int min, int max) {
    send_to_item(window, id, TBM_SETRANGE, TRUE, MAKELPARAM(min, max));
}

void menu_enable(HWND window, int command) {
    EnableMenuItem(GetMenu(window), static_cast<UINT>(command), MF_BYCOMMAND | MF_ENABLED);
}

void menu_disable(HWND window, int command) {
    EnableMenuItem(GetMenu(window), static_cast<UINT>(command), MF_BYCOMMAND | MF_GRAYED);
}

void menu_check(HWND window, int command) {
    CheckMenuItem(GetMenu(window), static_cast<UINT>(command), MF_BYCOMMAND | MF_CHECKED);
}

void menu_uncheck(HWND window, int command) {
    CheckMenuItem(GetMenu(window), static_cast<UINT>(command), MF_BYCOMMAND | MF_UNCHECKED);
}

int menu_is_checked(HWND window, int command) {
    UINT state = GetMenuState(GetMenu(window), static_cast<UINT>(command), MF_BYCOMMAND);
    // GetMenuState gives 0xFFFFFFFF for a command the menu does not hold: not checked.
    if (state == static_cast<UINT>(-1)) return 0;
    return (state & MF_CHECKED) ? 1 : 0;
}

void progress_set_range(HWND window, int id, int low, int high) {
    send_to_item(window, id, PBM_SETRANGE32, static_cast<WPARAM>(low), high);
}

void progress_set_pos(HWND window, int id, int position) {
    send_to_item(window, id, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    UpdateWindow(GetDlgItem(window, id));
}

void set_item_text(HWND window, int id, const char* text) {
    SetDlgItemTextA(window, id, text);
    UpdateWindow(GetDlgItem(window, id));
}

void edit_set_limit(HWND window, int id, int limit) {
    send_to_item(window, id, EM_LIMITTEXT, static_cast<WPARAM>(limit), 0);
}

}  // namespace quarrow::ui
