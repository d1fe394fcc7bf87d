// Start-up, the menu commands and the message loop of the main window.
#include <windows.h>

#include <commctrl.h>

#include <cstring>

#include "fs/disk_detection.h"
#include "gui/gui_fixture.h"
#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/application_shell.h"
#include "ui/settings.h"

namespace quarrow::ui::test {
namespace {

using Startup = GuiTest;
using MenuCommands = GuiTest;

std::string sample_detection_message() {
    DiskHandle disk = open_image_file(sample_image_path().c_str(), false);
    uint32_t gb = drive_size_gb(drive_size_mb(disk));
    close_disk(disk);
    return "Detected MediaMaster Disk (" + std::to_string(gb) + " GB) with 5 Recordings.";
}

TEST_F(Startup, WithNoSettingsTheSwitchesAreOffMp2IsChosenAndTheDiskOpensReadOnly) {
    ASSERT_FALSE(sample_image_path().empty());
    set_drives(sample_image_path());
    HWND main = start(SW_SHOWNORMAL);
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_TRUE(IsWindowVisible(app.panel_window));
    char title[100];
    GetWindowTextA(main, title, sizeof title);
    EXPECT_STREQ(title, "Quarrow v 0.25a");
    EXPECT_STREQ(app.class_name, "Quarrow");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(main, GWL_STYLE)) & 0x00CF0000u, 0x00CE0000u);

    EXPECT_FALSE(menu_checked(IDM_ALLOW_DISK_WRITE));
    EXPECT_FALSE(menu_checked(IDM_ALLOW_DISK_ERASE));
    EXPECT_TRUE(checked(IDC_AUDIO_MP2));
    EXPECT_FALSE(checked(IDC_AUDIO_MPG));
    EXPECT_EQ(item_text(IDC_PATH), "C:\\");
    ASSERT_NE(app.disk, nullptr);
    EXPECT_FALSE(app.disk->writable);
    EXPECT_EQ(app.recording_count, 5);
    EXPECT_EQ(item_text(IDC_STATUS), sample_detection_message());

    // Panel defaults.
    EXPECT_TRUE(checked(IDC_AUTO_VIDEO_SYNC));
    EXPECT_FALSE(checked(IDC_NO_VIDEO));
    HWND tuning = GetDlgItem(app.panel_window, IDC_SYNC_TUNING);
    EXPECT_EQ(SendMessageA(tuning, TBM_GETRANGEMIN, 0, 0), 1);
    EXPECT_EQ(SendMessageA(tuning, TBM_GETRANGEMAX, 0, 0), 5);
    EXPECT_EQ(SendMessageA(tuning, TBM_GETPOS, 0, 0), 1);
    // With recordings, the button and both range bars are enabled and the disk tools too.
    EXPECT_TRUE(enabled(IDC_BEGIN_EXTRACTION));
    EXPECT_TRUE(enabled(IDC_START_SCROLL));
    EXPECT_TRUE(enabled(IDC_LENGTH_SCROLL));
    EXPECT_FALSE(menu_grayed(IDM_MANAGE_RECORDINGS));

    // The panel covers the main window's client area.
    RECT client, panel;
    GetClientRect(main, &client);
    GetWindowRect(app.panel_window, &panel);
    EXPECT_EQ(panel.right - panel.left, client.right);
    EXPECT_EQ(panel.bottom - panel.top, client.bottom);
}

TEST_F(Startup, StoredSettingsComeBackAndOnlyOneTurnsASwitchOn) {
    set_drives(sample_image_path());
    store_dword(SETTING_ALLOW_DISK_WRITE, 1);
    store_dword(SETTING_ALLOW_DISK_ERASE, 1);
    store_dword(SETTING_AUDIO_TYPE, 1);
    store_string(SETTING_DEFAULT_PATH, "D:\\Recordings", 260);
    start();
    EXPECT_TRUE(menu_checked(IDM_ALLOW_DISK_WRITE));
    EXPECT_TRUE(menu_checked(IDM_ALLOW_DISK_ERASE));
    EXPECT_TRUE(checked(IDC_AUDIO_MPG));
    EXPECT_FALSE(checked(IDC_AUDIO_MP2));
    EXPECT_EQ(item_text(IDC_PATH), "D:\\Recordings");
    ASSERT_NE(app.disk, nullptr);
    EXPECT_TRUE(app.disk->writable);
}

TEST_F(Startup, AllowDiskWriteStoredAsTwoLeavesTheSwitchOff) {
    set_drives(sample_image_path());
    store_dword(SETTING_ALLOW_DISK_WRITE, 2);
    store_dword(SETTING_AUDIO_TYPE, 7);  // any other non-zero value chooses the raw audio
    start();
    EXPECT_FALSE(menu_checked(IDM_ALLOW_DISK_WRITE));
    ASSERT_NE(app.disk, nullptr);
    EXPECT_FALSE(app.disk->writable);
    EXPECT_TRUE(checked(IDC_AUDIO_MPG));
}

TEST_F(Startup, WithoutADiskTheListIsEmptyAndExtractionAndTheDiskToolsAreOff) {
    start();
    EXPECT_EQ(app.disk, nullptr);
    EXPECT_EQ(item_text(IDC_STATUS), "Could not find MediaMaster Disk.");
    EXPECT_EQ(item_text(IDC_TITLE), "[no recording available]");
    EXPECT_TRUE(list_lines().empty());
    EXPECT_FALSE(enabled(IDC_BEGIN_EXTRACTION));
    EXPECT_FALSE(enabled(IDC_START_SCROLL));
    EXPECT_FALSE(enabled(IDC_LENGTH_SCROLL));
    for (int command : {IDM_DUMP_DISK, IDM_MANAGE_RECORDINGS, IDM_DIAGNOSTICS})
        EXPECT_TRUE(menu_grayed(command)) << command;
    EXPECT_FALSE(menu_grayed(IDM_ERASE_DISK));
    // A stray click on the disabled button finds no selection and touches nothing.
    click(IDC_BEGIN_EXTRACTION);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(MenuCommands, OpeningAnImageFillsTheListNewestFirstAndShowsTheImageMessage) {
    start();
    open_file_answer_ = sample_image_path();
    menu_command(IDM_OPEN_IMAGE);
    EXPECT_EQ(last_open_title_, "Select a MediaMaster Image file:");
    EXPECT_EQ(last_open_request_.hwndOwner, app.main_window);
    EXPECT_EQ(last_open_request_.Flags, static_cast<DWORD>(OFN_FILEMUSTEXIST | OFN_HIDEREADONLY));
    EXPECT_EQ(last_open_request_.nFilterIndex, 1u);
    EXPECT_EQ(last_open_request_.nMaxFile, 260u);
    EXPECT_EQ(std::string(last_open_request_.lpstrFilter, 40),
              std::string("Disk Image (*.hex)\0*.hex\0All Files\0*.*\0", 40));

    ASSERT_NE(app.disk, nullptr);
    EXPECT_FALSE(app.disk->writable);
    EXPECT_EQ(app.disk_size_mb, image_size_mb(app.disk));
    EXPECT_EQ(item_text(IDC_STATUS), "MediaMaster Disk Image with 5 Recordings (" +
                                         std::to_string(app.disk_size_mb) + " MB).");
    // Newest first: line i is the recording of Table of Contents slot n - 1 - i.
    RecordingEntry entries[MAX_RECORDINGS];
    DiskHandle disk = open_image_file(sample_image_path().c_str(), false);
    int n = load_recording_table(disk, entries);
    close_disk(disk);
    ASSERT_EQ(n, 5);
    std::vector<std::string> expected;
    for (int i = 0; i < n; ++i)
        expected.push_back(std::to_string(i + 1) + ". " + entries[i].display_title);
    EXPECT_EQ(list_lines(), expected);
    EXPECT_EQ(SendMessageA(GetDlgItem(app.panel_window, IDC_RECORDING_LIST), LB_GETCURSEL, 0, 0),
              0);
    EXPECT_EQ(item_text(IDC_TITLE), entries[0].display_title);
    EXPECT_FALSE(menu_grayed(IDM_DUMP_DISK));
}

TEST_F(MenuCommands, CancellingTheOpenDialogKeepsTheDiskAndARefusedImageLeavesNone) {
    set_drives(sample_image_path());
    start();
    DiskHandle before = app.disk;
    open_file_answer_ = "";
    menu_command(IDM_OPEN_IMAGE);
    EXPECT_EQ(app.disk, before);

    std::string junk = folder_ + "\\junk.hex";
    HANDLE f = CreateFileA(junk.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(f, std::string(4096, 'j').data(), 4096, &written, nullptr);
    CloseHandle(f);
    open_file_answer_ = junk;
    menu_command(IDM_OPEN_IMAGE);
    EXPECT_EQ(app.disk, nullptr);
    EXPECT_EQ(app.disk_size_mb, 0u);
    EXPECT_EQ(item_text(IDC_STATUS), "Invalid image file.");
    EXPECT_EQ(item_text(IDC_TITLE), "[no recording available]");
    EXPECT_TRUE(menu_grayed(IDM_MANAGE_RECORDINGS));
}

TEST_F(MenuCommands, WriteSwitchAnsweredNoStoresZeroAndKeepsTheOpenDisk) {
    start();
    open_file_answer_ = sample_image_path();
    menu_command(IDM_OPEN_IMAGE);
    DiskHandle image = app.disk;
    ASSERT_NE(image, nullptr);
    for (int answer : {IDNO, IDCANCEL}) {
        answers_ = {answer};
        boxes_.clear();
        menu_command(IDM_ALLOW_DISK_WRITE);
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].text,
                  "Are you sure you want to allow WRITE ACCESS to your "
                  "MediaMaster disk?");
        EXPECT_EQ(boxes_[0].caption, "Confirmation");
        EXPECT_FALSE(menu_checked(IDM_ALLOW_DISK_WRITE));
        DWORD stored = 9;
        EXPECT_TRUE(stored_dword(SETTING_ALLOW_DISK_WRITE, &stored));
        EXPECT_EQ(stored, 0u);
        EXPECT_EQ(app.disk, image);
    }
}

TEST_F(MenuCommands, WriteSwitchAnsweredYesRescansWithWriteAccessAndUncheckingRescansReadOnly) {
    start();
    open_file_answer_ = sample_image_path();
    menu_command(IDM_OPEN_IMAGE);
    ASSERT_NE(app.disk, nullptr);
    // The open image is replaced by the physical scan, which here finds nothing.
    answers_ = {IDYES};
    menu_command(IDM_ALLOW_DISK_WRITE);
    EXPECT_TRUE(menu_checked(IDM_ALLOW_DISK_WRITE));
    EXPECT_EQ(app.disk, nullptr);
    EXPECT_EQ(item_text(IDC_STATUS), "Could not find MediaMaster Disk.");
    DWORD stored = 0;
    EXPECT_TRUE(stored_dword(SETTING_ALLOW_DISK_WRITE, &stored));
    EXPECT_EQ(stored, 1u);

    // With the disk among the drives the rescan opens it for writing; unchecking reopens it
    // read-only without asking.
    set_drives(sample_image_path());
    menu_command(IDM_SCAN_DISK);
    ASSERT_NE(app.disk, nullptr);
    EXPECT_TRUE(app.disk->writable);
    boxes_.clear();
    menu_command(IDM_ALLOW_DISK_WRITE);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_FALSE(menu_checked(IDM_ALLOW_DISK_WRITE));
    ASSERT_NE(app.disk, nullptr);
    EXPECT_FALSE(app.disk->writable);
    EXPECT_TRUE(stored_dword(SETTING_ALLOW_DISK_WRITE, &stored));
    EXPECT_EQ(stored, 0u);
}

TEST_F(MenuCommands, EraseSwitchIsConfirmedButNeverStored) {
    start();
    answers_ = {IDNO};
    menu_command(IDM_ALLOW_DISK_ERASE);
    EXPECT_FALSE(menu_checked(IDM_ALLOW_DISK_ERASE));
    answers_ = {IDYES};
    menu_command(IDM_ALLOW_DISK_ERASE);
    EXPECT_TRUE(menu_checked(IDM_ALLOW_DISK_ERASE));
    EXPECT_EQ(boxes_.back().text,
              "Are you sure you want to allow WRITE ACCESS to ALL your local disk?");
    DWORD stored;
    EXPECT_FALSE(stored_dword(SETTING_ALLOW_DISK_ERASE, &stored));
    boxes_.clear();
    menu_command(IDM_ALLOW_DISK_ERASE);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_FALSE(menu_checked(IDM_ALLOW_DISK_ERASE));
}

BOOL CALLBACK cancel_dialog(HWND window, LPARAM) {
    char cls[32] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (strcmp(cls, "#32770") == 0) PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    return TRUE;
}

// The tool windows are modal: this ends the one a command opened once its loop runs.
void CALLBACK cancel_open_dialogs(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    EnumThreadWindows(GetCurrentThreadId(), cancel_dialog, 0);
}

void run_and_cancel_window(int command) {
    UINT_PTR timer = SetTimer(nullptr, 0, 1, cancel_open_dialogs);
    SendMessageA(app.main_window, WM_COMMAND, MAKEWPARAM(command, 0), 0);
    KillTimer(nullptr, timer);
}

TEST_F(MenuCommands, DiskToolsNeedADiskAndTheProtectionNotesComeFirst) {
    start();
    menu_command(IDM_MANAGE_RECORDINGS);
    menu_command(IDM_DIAGNOSTICS);
    menu_command(IDM_DUMP_DISK);
    ASSERT_EQ(boxes_.size(), 3u);
    for (const ShownBox& box : boxes_) {
        EXPECT_EQ(box.text, "A MediaMaster Disk must be detected before you can use this option.");
        EXPECT_EQ(box.caption, "Quarrow Information");
        EXPECT_EQ(box.owner, app.main_window);
    }
    // Erase needs no disk; with the switch off its note comes first, then the window.
    boxes_.clear();
    run_and_cancel_window(IDM_ERASE_DISK);
    ASSERT_GE(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Note: Your disks are write-protected (Protection Menu).");

    open_file_answer_ = sample_image_path();
    menu_command(IDM_OPEN_IMAGE);
    boxes_.clear();
    run_and_cancel_window(IDM_MANAGE_RECORDINGS);
    ASSERT_GE(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Note: Your MediaMaster disk is write-protected (Protection Menu).");
    // The list is shown again afterwards, the first recording selected.
    EXPECT_EQ(list_lines().size(), 5u);
    EXPECT_TRUE(enabled(IDC_BEGIN_EXTRACTION));
}

// The thread's keyboard state, which the accelerator translation consults for Alt.
void hold_alt(bool down) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_MENU] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

// Ends a message loop that the test expected to end by itself.
void CALLBACK give_up(HWND, UINT, UINT_PTR, DWORD) {
    PostQuitMessage(99);
}

TEST_F(MenuCommands, AltXExitsThroughTheMessageLoopAndClosesTheDisk) {
    set_drives(sample_image_path());
    HWND main = start();
    ASSERT_NE(app.disk, nullptr);
    HACCEL accelerators =
        LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_ACCELERATORS));
    ASSERT_NE(accelerators, nullptr);
    // Alt held, as the keyboard state tells it, and the character it gives (bit 29 of a
    // WM_SYSCHAR is the context code). Sent to a control of the panel, the accelerator still
    // reaches the main window.
    hold_alt(true);
    PostMessageA(GetDlgItem(app.panel_window, IDC_PREFIX), WM_SYSCHAR, 'x', 1 << 29);
    UINT_PTR timer = SetTimer(nullptr, 0, 10000, give_up);
    int code = run_message_loop(accelerators);
    KillTimer(nullptr, timer);
    hold_alt(false);
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(IsWindow(main));
    EXPECT_EQ(app.disk, nullptr);
    EXPECT_EQ(app.panel_window, nullptr);
    DestroyAcceleratorTable(accelerators);
}

bool about_seen = false;

// Ends the About box once it is up, and with it the message loop.
void CALLBACK end_about(HWND, UINT, UINT_PTR id, DWORD) {
    HWND about = FindWindowA("#32770", "About");
    if (!about) return;
    KillTimer(nullptr, id);
    about_seen = true;
    PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
    PostQuitMessage(5);
}

TEST_F(MenuCommands, AltQuestionMarkOpensAbout) {
    start();
    HACCEL accelerators =
        LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_ACCELERATORS));
    hold_alt(true);
    PostMessageA(app.main_window, WM_SYSCHAR, '?', 1 << 29);
    about_seen = false;
    UINT_PTR watch = SetTimer(nullptr, 0, 10, end_about);
    UINT_PTR timer = SetTimer(nullptr, 0, 10000, give_up);
    int code = run_message_loop(accelerators);
    KillTimer(nullptr, timer);
    KillTimer(nullptr, watch);
    hold_alt(false);
    EXPECT_EQ(code, 5);
    EXPECT_TRUE(about_seen);
    EXPECT_TRUE(boxes_.empty());
    DestroyAcceleratorTable(accelerators);
}

}  // namespace
}  // namespace quarrow::ui::test
