// One-line helpers through which every window of the program touches its controls and menu bar:
// each finds the control by window and identifier (GetDlgItem) or the window's menu (GetMenu)
// and makes one USER32 call. No helper checks its arguments: an identifier that names no control
// sends to a null window, which does nothing (those with a result then give 0).
#pragma once

#include <windows.h>

namespace quarrow::ui {

void enable_item(HWND window, int id);
void disable_item(HWND window, int id);
void show_item(HWND window, int id);
void hide_item(HWND window, int id);

void list_reset(HWND window, int id);
// Appends a line at the end; no list box of the program sorts its lines.
void list_add(HWND window, int id, const char* text);
void list_select(HWND window, int id, int index);
// The selected line, -1 (LB_ERR) when none is selected.
int list_get_selection(HWND window, int id);

int scroll_get_pos(HWND window, int id);
// The caller fills cbSize and fMask first. These two take the scroll bar's own handle, the one
// that arrives with a scroll notification.
LRESULT scroll_get_info(HWND scroll_bar, SCROLLINFO* info);
LRESULT scroll_set_info(HWND scroll_bar, SCROLLINFO* info);
// Range, page and position in one message, redrawn.
void scroll_setup(HWND window, int id, int min, int max, int page, int pos);
void scroll_enable_arrows(HWND window, int id);

int trackbar_get_pos(HWND window, int id);
void trackbar_set_range(HWND window, int id, int min, int max);

void menu_enable(HWND window, int command);
void menu_disable(HWND window, int command);
void menu_check(HWND window, int command);
void menu_uncheck(HWND window, int command);
// Exactly 1 for a checked command, 0 otherwise, whether enabled or greyed.
int menu_is_checked(HWND window, int command);

void progress_set_range(HWND window, int id, int low, int high);
// Repaints the bar before returning: long operations call it without pumping messages.
void progress_set_pos(HWND window, int id, int position);
// Repaints the control before returning, for the same reason.
void set_item_text(HWND window, int id, const char* text);
void edit_set_limit(HWND window, int id, int limit);

}  // namespace quarrow::ui
