// The control helpers, the settings store and the message boxes, on the real panel and registry.
#include <windows.h>

#include <commctrl.h>

#include "gui/gui_fixture.h"
#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/control_helpers.h"
#include "ui/message_boxes.h"
#include "ui/settings.h"

namespace quarrow::ui::test {
namespace {

using ControlHelpers = GuiTest;
using Settings = GuiTest;
using MessageBoxes = GuiTest;

TEST_F(ControlHelpers, ListSelectionIsMinusOneWithoutASelectedLine) {
    start();
    HWND panel = app.panel_window;
    list_reset(panel, IDC_RECORDING_LIST);
    EXPECT_EQ(list_get_selection(panel, IDC_RECORDING_LIST), -1);
    list_add(panel, IDC_RECORDING_LIST, "b");
    list_add(panel, IDC_RECORDING_LIST, "a");
    EXPECT_EQ(list_get_selection(panel, IDC_RECORDING_LIST), -1);
    list_select(panel, IDC_RECORDING_LIST, 1);
    EXPECT_EQ(list_get_selection(panel, IDC_RECORDING_LIST), 1);
    // Lines stay in the order they were added.
    EXPECT_EQ(list_lines(), (std::vector<std::string>{"b", "a"}));
    // An identifier that names no control does nothing and gives 0.
    EXPECT_EQ(scroll_get_pos(panel, 4242), 0);
}

TEST_F(ControlHelpers, MenuIsCheckedGivesExactlyOneOrZeroWhetherEnabledOrGreyed) {
    start();
    HWND main = app.main_window;
    EXPECT_EQ(menu_is_checked(main, IDM_ALLOW_DISK_ERASE), 0);
    menu_check(main, IDM_ALLOW_DISK_ERASE);
    EXPECT_EQ(menu_is_checked(main, IDM_ALLOW_DISK_ERASE), 1);
    menu_disable(main, IDM_ALLOW_DISK_ERASE);
    EXPECT_TRUE(menu_grayed(IDM_ALLOW_DISK_ERASE));
    EXPECT_EQ(menu_is_checked(main, IDM_ALLOW_DISK_ERASE), 1);
    menu_uncheck(main, IDM_ALLOW_DISK_ERASE);
    EXPECT_EQ(menu_is_checked(main, IDM_ALLOW_DISK_ERASE), 0);
    menu_enable(main, IDM_ALLOW_DISK_ERASE);
    EXPECT_FALSE(menu_grayed(IDM_ALLOW_DISK_ERASE));
    EXPECT_EQ(menu_is_checked(main, 4242), 0);
}

TEST_F(ControlHelpers, ScrollSetupSetsRangePageAndPositionTogether) {
    start();
    HWND panel = app.panel_window;
    scroll_setup(panel, IDC_START_SCROLL, 0, 9999, 1, 1234);
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    scroll_get_info(GetDlgItem(panel, IDC_START_SCROLL), &info);
    EXPECT_EQ(info.nMin, 0);
    EXPECT_EQ(info.nMax, 9999);
    EXPECT_EQ(info.nPage, 1u);
    EXPECT_EQ(info.nPos, 1234);
    EXPECT_EQ(scroll_get_pos(panel, IDC_START_SCROLL), 1234);
}

TEST_F(ControlHelpers, TrackbarRangeOneToFiveAndProgressAndTextHelpers) {
    start();
    HWND panel = app.panel_window;
    trackbar_set_range(panel, IDC_SYNC_TUNING, 1, 5);
    HWND bar = GetDlgItem(panel, IDC_SYNC_TUNING);
    EXPECT_EQ(SendMessageA(bar, TBM_GETRANGEMIN, 0, 0), 1);
    EXPECT_EQ(SendMessageA(bar, TBM_GETRANGEMAX, 0, 0), 5);
    EXPECT_EQ(trackbar_get_pos(panel, IDC_SYNC_TUNING), 1);

    progress_set_range(panel, IDC_PROGRESS, 0, 70000);
    progress_set_pos(panel, IDC_PROGRESS, 65000);
    EXPECT_EQ(SendMessageA(GetDlgItem(panel, IDC_PROGRESS), PBM_GETPOS, 0, 0), 65000);

    set_item_text(panel, IDC_STATUS, "Working");
    EXPECT_EQ(item_text(IDC_STATUS), "Working");
    edit_set_limit(panel, IDC_PREFIX, 3);
    SendMessageA(GetDlgItem(panel, IDC_PREFIX), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    SendMessageA(GetDlgItem(panel, IDC_PREFIX), EM_REPLACESEL, 0,
                 reinterpret_cast<LPARAM>("abcdef"));
    EXPECT_EQ(item_text(IDC_PREFIX), "abc");

    hide_item(panel, IDC_TITLE);
    EXPECT_FALSE(visible(IDC_TITLE));
    show_item(panel, IDC_TITLE);
    EXPECT_TRUE(visible(IDC_TITLE));
    disable_item(panel, IDC_PREFIX);
    EXPECT_FALSE(enabled(IDC_PREFIX));
    enable_item(panel, IDC_PREFIX);
    EXPECT_TRUE(enabled(IDC_PREFIX));
}

TEST_F(Settings, MissingValuesGiveTheDefaults) {
    char path[PATH_SIZE];
    memset(path, 'x', sizeof path);
    EXPECT_EQ(read_default_path(path, PATH_SIZE), 0);
    EXPECT_STREQ(path, "C:\\");
    DWORD value = 77;
    EXPECT_EQ(read_setting(&value, SETTING_AUDIO_TYPE), 0);
    EXPECT_EQ(value, 0u);
}

TEST_F(Settings, ValuesAreReadAsStoredWhateverTheirMeaning) {
    store_dword(SETTING_ALLOW_DISK_WRITE, 2);
    DWORD value = 0;
    EXPECT_EQ(read_setting(&value, SETTING_ALLOW_DISK_WRITE), 1);
    EXPECT_EQ(value, 2u);
    EXPECT_EQ(write_setting(1, SETTING_AUDIO_TYPE), 1);
    EXPECT_TRUE(stored_dword(SETTING_AUDIO_TYPE, &value));
    EXPECT_EQ(value, 1u);
}

TEST_F(Settings, DefaultPathIsStoredAsA260ByteBlockAndAlwaysReadBackTerminated) {
    ASSERT_EQ(write_default_path("D:\\Films", PATH_SIZE), 1);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, settings_key(), 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    RegQueryValueExA(key, SETTING_DEFAULT_PATH, nullptr, &type, nullptr, &size);
    RegCloseKey(key);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 260u);
    char path[PATH_SIZE];
    EXPECT_EQ(read_default_path(path, PATH_SIZE), 1);
    EXPECT_STREQ(path, "D:\\Films");

    // A block filled to the last byte by something else is never read past: Windows hands it
    // over unterminated and it is cut; Wine refuses it and the default is taken.
    store_string(SETTING_DEFAULT_PATH, std::string(260, 'p'), 260);
    memset(path, 'x', sizeof path);
    if (read_default_path(path, PATH_SIZE))
        EXPECT_EQ(std::string(path), std::string(259, 'p'));
    else
        EXPECT_STREQ(path, "C:\\");
}

TEST_F(MessageBoxes, CaptionsIconsAndButtons) {
    show_error(nullptr, "bad");
    show_info(nullptr, "note");
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[0].caption, "Quarrow Error");
    EXPECT_EQ(boxes_[0].style, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(boxes_[1].caption, "Quarrow Information");
    // The exclamation icon, not the information icon.
    EXPECT_EQ(boxes_[1].style, 0x30u);
}

TEST_F(MessageBoxes, OnlyYesConsents) {
    answers_ = {IDYES, IDNO, IDCANCEL};
    EXPECT_TRUE(ask_confirmation(nullptr, "Sure?"));
    EXPECT_FALSE(ask_confirmation(nullptr, "Sure?"));
    EXPECT_FALSE(ask_confirmation(nullptr, "Sure?"));
    ASSERT_EQ(boxes_.size(), 3u);
    EXPECT_EQ(boxes_[0].caption, "Confirmation");
    // Yes, No, Cancel with Cancel pre-selected, question icon.
    EXPECT_EQ(boxes_[0].style, 0x223u);
}

}  // namespace
}  // namespace quarrow::ui::test
