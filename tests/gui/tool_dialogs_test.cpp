// The About box, the diagnostics dialog, the Disk Erase dialog over drives named by
// QUARROW_DRIVES (image files only), and the dump dialog with its count rule and the file it
// writes.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstring>

#include "disk/disk_dump.h"
#include "gui/dialog_fixture.h"
#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/control_helpers.h"
#include "ui/diagnostics_dialog.h"
#include "ui/disk_erase_dialog.h"
#include "ui/dump_dialog.h"
#include "ui/please_wait.h"
#include "ui/settings.h"

namespace quarrow::ui::test {
namespace {

using quarrow::test::TestDisk;
using quarrow::test::TestRecording;

TestRecording small_recording(const char* title) {
    TestRecording r;
    r.default_title = title;
    r.data.assign(2048, 0x11);
    return r;
}

// Texts of the static controls of a dialog, in creation order.
std::vector<std::string> static_texts(HWND dialog) {
    std::vector<std::string> texts;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char cls[32] = {}, text[256] = {};
        GetClassNameA(child, cls, sizeof cls);
        GetWindowTextA(child, text, sizeof text);
        bool icon = (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
        if (_stricmp(cls, "Static") == 0 && !icon && text[0]) texts.push_back(text);
    }
    return texts;
}

using About = DialogTest;

TEST_F(About, TheHelpMenuOpensTheBoxAndOkClosesIt) {
    start();
    bool opened = with_modal_dialog(
        [&] { menu_command(IDM_ABOUT); }, "About",
        [&](HWND w) {
            std::vector<std::string> texts = static_texts(w);
            ASSERT_GE(texts.size(), 5u);
            EXPECT_EQ(texts[0], "Quarrow v. 0.25");
            EXPECT_NE(
                std::find(texts.begin(), texts.end(),
                          "Audio and Video extraction utility for the Nokia MediaMaster 9902s."),
                texts.end());
            press(w, IDOK);
            EXPECT_FALSE(IsWindowVisible(w));
        });
    EXPECT_TRUE(opened);
    EXPECT_TRUE(boxes_.empty());
}

using PleaseWait = DialogTest;

TEST_F(PleaseWait, ShowsItselfAndItsBarFollowsTheOperationsProgress) {
    start();
    HWND wait = show_please_wait(app.main_window);
    ASSERT_NE(wait, nullptr);
    EXPECT_TRUE(IsWindowVisible(wait));
    EXPECT_EQ(GetWindowLongA(wait, GWL_STYLE) & WS_SYSMENU, 0);
    EXPECT_EQ(text_of(wait, IDC_WAIT_TEXT), "Operation in progress...");
    HWND bar = GetDlgItem(wait, IDC_WAIT_PROGRESS);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
    progress_set_range(wait, IDC_WAIT_PROGRESS, 0, 10);
    OperationHooks hooks = please_wait_hooks(wait);
    hook_progress(&hooks, 9, 10);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 9);
    close_please_wait(wait);
    EXPECT_FALSE(IsWindow(wait));
}

class Diagnostics : public DialogTest {
  protected:
    HWND open_window() { return open_dialog(IDD_DIAGNOSTICS, diagnostics_proc); }
    TestDisk two_recordings() {
        TestDisk disk;
        disk.cluster_count = 20;
        disk.recordings = {small_recording("One"), small_recording("Two")};
        return disk;
    }
};

TEST_F(Diagnostics, AConsistentDiskIsCorrectThroughout) {
    TestDisk disk = two_recordings();
    start_with_image(make_image(disk, "good.hex"));
    HWND w = open_window();
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(text_of(w, IDC_DIAG_NOTIFICATION), "No Message [Ok]");
    EXPECT_EQ(text_of(w, IDC_DIAG_FAT_SIZE), "20 clusters (0.16 GB)");
    EXPECT_EQ(text_of(w, IDC_DIAG_ALLOCATED_SPACE), "2 clusters (0.02 GB)");
    EXPECT_EQ(text_of(w, IDC_DIAG_LINKED_CLUSTERS), "2 [Ok]");
    EXPECT_EQ(text_of(w, IDC_DIAG_STRINGS), "2 [Ok]");
    EXPECT_EQ(text_of(w, IDC_DIAG_FAT_TERMINATION), "Correct");
    EXPECT_EQ(text_of(w, IDC_DIAG_FAT_INTEGRITY), "Correct");
    EXPECT_EQ(text_of(w, IDC_DIAG_FAT_CRC), "Correct");
}

TEST_F(Diagnostics, ADamagedDiskShowsItsNotificationAndTheWrongChecksum) {
    TestDisk disk = two_recordings();
    disk.notification = "Disk error 7";
    disk.checksum_error = 0x00010000;
    start_with_image(make_image(disk, "bad.hex"));
    HWND w = open_window();
    EXPECT_EQ(text_of(w, IDC_DIAG_NOTIFICATION), "Disk error 7");
    EXPECT_EQ(text_of(w, IDC_DIAG_FAT_CRC), "Error: Incorrect CRC!");
    EXPECT_EQ(text_of(w, IDC_DIAG_FAT_TERMINATION), "Correct");
    EXPECT_EQ(text_of(w, IDC_DIAG_LINKED_CLUSTERS), "2 [Ok]");
}

TEST_F(Diagnostics, AnUnreadableDiskLeavesUnknownAndSaysWhy) {
    TestDisk disk = two_recordings();
    start_with_image(make_image(disk, "gone.hex"));
    close_open_disk();  // every read now fails
    HWND w = open_window();
    EXPECT_EQ(box_texts(), std::vector<std::string>{"Failed to read Table Of Contents from Disk."});
    EXPECT_EQ(text_of(w, IDC_DIAG_NOTIFICATION), "");
    EXPECT_EQ(text_of(w, IDC_DIAG_FAT_CRC), "Unknown");
    EXPECT_EQ(text_of(w, IDC_DIAG_FAT_SIZE), "Unknown");
}

TEST_F(Diagnostics, TheToolsMenuOpensTheDialogWithItsFiguresInPlace) {
    TestDisk disk = two_recordings();
    start_with_image(make_image(disk, "menu.hex"));
    bool opened = with_modal_dialog([&] { menu_command(IDM_DIAGNOSTICS); },
                                    "MediaMaster File System Diagnostics",
                                    [&](HWND w) {
                                        EXPECT_EQ(text_of(w, IDC_DIAG_FAT_CRC), "Correct");
                                        press(w, IDCANCEL);
                                    });
    EXPECT_TRUE(opened);
}

class DiskErase : public DialogTest {
  protected:
    // Drive 0 a plain file, drive 1 a MediaMaster disk, drive 2 a blank file.
    void make_drives() {
        system_ = folder_ + "\\system.img";
        blank_ = folder_ + "\\blank.img";
        for (const std::string& path : {system_, blank_}) {
            HANDLE f =
                CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            std::vector<char> bytes(1 << 20, 0x77);
            DWORD written = 0;
            WriteFile(f, bytes.data(), DWORD(bytes.size()), &written, nullptr);
            CloseHandle(f);
        }
        TestDisk disk;
        disk.cluster_count = 4;
        disk.recordings = {small_recording("Kept")};
        mediamaster_ = make_image(disk, "mediamaster.img");
        set_drives(system_ + ";" + mediamaster_ + ";" + blank_);
    }
    HWND open_window() { return open_dialog(IDD_DISK_ERASE, disk_erase_proc); }
    bool zeroed_start(const std::string& path) {
        std::vector<uint8_t> bytes = file_bytes(path);
        if (bytes.size() < 8388608u) return false;
        for (size_t i = 0; i < 8388608u; ++i)
            if (bytes[i]) return false;
        return true;
    }
    std::string system_, mediamaster_, blank_;
};

TEST_F(DiskErase, TheListComesFromTheDrivesAndDriveZeroIsNeverUsable) {
    make_drives();
    store_dword(SETTING_ALLOW_DISK_ERASE, 1);
    start();
    HWND w = open_window();
    std::vector<std::string> lines = lines_of(w, IDC_ERASE_DRIVE_LIST);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("Drive 0:\t\t", 0), 0u);
    EXPECT_NE(lines[0].find("\t---- Protected (System)"), std::string::npos);
    EXPECT_NE(lines[1].find("\t---- MediaMaster Disk"), std::string::npos);
    EXPECT_EQ(lines[2].find("----"), std::string::npos);
    EXPECT_EQ(text_of(w, IDC_ERASE_NOTES), ERASE_NOTES);
    // The MediaMaster disk is preselected, yet Quick Erase waits for the user's own choice.
    EXPECT_EQ(selected_line(w, IDC_ERASE_DRIVE_LIST), 1);
    EXPECT_FALSE(is_enabled(w, IDC_QUICK_ERASE));
    pick_line(w, IDC_ERASE_DRIVE_LIST, 2);
    EXPECT_TRUE(is_enabled(w, IDC_QUICK_ERASE));
    pick_line(w, IDC_ERASE_DRIVE_LIST, 0);
    EXPECT_FALSE(is_enabled(w, IDC_QUICK_ERASE));

    // Drive 0 refused even when the command arrives; no line at all refused too.
    press(w, IDC_QUICK_ERASE);
    SendMessageA(GetDlgItem(w, IDC_ERASE_DRIVE_LIST), LB_SETCURSEL, WPARAM(-1), 0);
    press(w, IDC_QUICK_ERASE);
    EXPECT_EQ(box_texts(), (std::vector<std::string>{
                               "The Drive 0 being typically your System drive, this operation is "
                               "denied.",
                               "You must select a disk drive first"}));
    EXPECT_EQ(file_bytes(system_), std::vector<uint8_t>(1 << 20, 0x77));
}

TEST_F(DiskErase, NothingIsErasedWhileTheSwitchIsOffOrTheAnswerIsNotYes) {
    make_drives();
    start();  // "Allow Disk Erase Feature" unchecked
    std::vector<uint8_t> before = file_bytes(mediamaster_);
    HWND w = open_window();
    pick_line(w, IDC_ERASE_DRIVE_LIST, 1);
    press(w, IDC_QUICK_ERASE);
    EXPECT_EQ(box_texts(),
              std::vector<std::string>{"Note: Your disks are write-protected (Protection Menu)."});

    answers_ = {IDYES};  // the switch's own question
    menu_command(IDM_ALLOW_DISK_ERASE);
    ASSERT_TRUE(menu_checked(IDM_ALLOW_DISK_ERASE));
    boxes_.clear();
    for (int answer : {IDNO, IDCANCEL}) {
        answers_ = {answer};
        press(w, IDC_QUICK_ERASE);
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].text,
                  "You are about to permanently erase all data on the selected disk (Drive 1). "
                  "Are you sure you want to do that?");
        EXPECT_EQ(boxes_[0].caption, "Confirmation");
        EXPECT_EQ(boxes_[0].style, 0x133u);
        boxes_.clear();
        EXPECT_TRUE(IsWindow(w));
        EXPECT_EQ(selected_line(w, IDC_ERASE_DRIVE_LIST), 1);
    }
    close_open_disk();
    EXPECT_TRUE(file_bytes(mediamaster_) == before);
}

TEST_F(DiskErase, AConfirmedEraseZeroesTheSystemAreaTellsTwiceAndRescans) {
    make_drives();
    store_dword(SETTING_ALLOW_DISK_ERASE, 1);
    start();
    ASSERT_EQ(app.recording_count, 1);  // the scan found the MediaMaster disk on drive 1
    bool opened = with_modal_dialog([&] { menu_command(IDM_ERASE_DISK); }, "Disk Erase",
                                    [&](HWND w) {
                                        pick_line(w, IDC_ERASE_DRIVE_LIST, 1);
                                        answers_ = {IDYES};
                                        press(w, IDC_QUICK_ERASE);
                                    });
    EXPECT_TRUE(opened);
    std::vector<std::string> texts = box_texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0].rfind("You are about to permanently erase", 0), 0u);
    EXPECT_EQ(texts[1], "Operation successfully completed.");
    EXPECT_EQ(texts[2],
              "Now, do not forget to use the 'Erase Disk' option in the 'System Configuration' "
              "of your MediaMaster !");
    // The scan afterwards finds no MediaMaster disk any more.
    EXPECT_EQ(app.disk, nullptr);
    EXPECT_EQ(app.recording_count, 0);
    EXPECT_TRUE(zeroed_start(mediamaster_));
    EXPECT_EQ(file_bytes(system_), std::vector<uint8_t>(1 << 20, 0x77));
}

class Dump : public DialogTest {
  protected:
    HWND open_window() { return open_dialog(IDD_DUMP, dump_dialog_proc); }
    std::string image() {
        TestDisk disk;
        disk.cluster_count = 3;
        disk.recordings = {small_recording("Dumped")};
        return make_image(disk, "source.hex");
    }
};

TEST_F(Dump, TheCountIsCutToTheDiskAndTheSizeLineFollows) {
    start_with_image(image());
    app.disk_size_mb = 38166;
    HWND w = open_window();
    EXPECT_EQ(text_of(w, IDC_DUMP_COUNT), "0");
    EXPECT_EQ(text_of(w, IDC_DUMP_SIZE), " (0 MB) / 4770 (38166 MB)");
    type_into(w, IDC_DUMP_COUNT, "10");
    EXPECT_EQ(text_of(w, IDC_DUMP_SIZE), " (80 MB) / 4770 (38166 MB)");
    type_into(w, IDC_DUMP_COUNT, "4771");
    EXPECT_EQ(text_of(w, IDC_DUMP_COUNT), "4770");
    EXPECT_EQ(text_of(w, IDC_DUMP_SIZE), " (38160 MB) / 4770 (38166 MB)");
    type_into(w, IDC_DUMP_COUNT, "99999999999999999999");
    EXPECT_EQ(text_of(w, IDC_DUMP_COUNT), "4770");
    type_into(w, IDC_DUMP_COUNT, "");
    EXPECT_EQ(text_of(w, IDC_DUMP_SIZE), " (0 MB) / 4770 (38166 MB)");

    // Nothing to dump, then nowhere to dump it to.
    press(w, IDOK);
    type_into(w, IDC_DUMP_COUNT, "2");
    press(w, IDOK);
    EXPECT_EQ(box_texts(),
              (std::vector<std::string>{"You must enter a positive number of clusters!",
                                        "You must set a destination path!"}));
}

TEST_F(Dump, ADiskOfUnknownSizeAllowsNoCount) {
    start_with_image(image());
    app.disk_size_mb = 0;
    HWND w = open_window();
    type_into(w, IDC_DUMP_COUNT, "3");
    EXPECT_EQ(text_of(w, IDC_DUMP_COUNT), "0");
    EXPECT_EQ(text_of(w, IDC_DUMP_SIZE), " (0 MB) / 0 (0 MB)");
    SetDlgItemTextA(w, IDC_DUMP_PATH, (folder_ + "\\never.hex").c_str());
    press(w, IDOK);
    EXPECT_EQ(box_texts(),
              std::vector<std::string>{"You must enter a positive number of clusters!"});
    EXPECT_FALSE(file_exists(folder_ + "\\never.hex"));
}

TEST_F(Dump, ReadCountTakesTheLeadingNumber) {
    EXPECT_EQ(read_count_text(""), 0);
    EXPECT_EQ(read_count_text("12abc"), 12);
    EXPECT_EQ(read_count_text("-3"), -3);
    EXPECT_EQ(read_count_text("x5"), 0);
    EXPECT_GT(read_count_text("123456789012345678901234567890"), 4000000000LL);
}

TEST_F(Dump, BrowseFillsThePathAndDumpWritesTheStartOfTheDisk) {
    std::string source = image();
    start_with_image(source);
    SetDlgItemTextA(app.panel_window, IDC_PATH, folder_.c_str());
    std::string target = folder_ + "\\dump.hex";
    bool opened = with_modal_dialog(
        [&] { menu_command(IDM_DUMP_DISK); }, "Recording Backup",
        [&](HWND w) {
            press(w, IDC_DUMP_BROWSE);  // cancelled: nothing changes
            EXPECT_EQ(text_of(w, IDC_DUMP_PATH), "");
            EXPECT_EQ(last_save_title_, "Specify a Directory and Name for the Image file");
            EXPECT_EQ(last_save_filter_, "Disk Image (*.hex)|*.hex|");
            EXPECT_STREQ(last_save_request_.lpstrDefExt, ".hex");
            EXPECT_EQ(last_save_request_.Flags, DWORD(OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST));
            EXPECT_EQ(last_save_request_.nMaxFile, 260u);
            EXPECT_EQ(last_save_initial_dir_, folder_);
            save_file_answer_ = target;
            press(w, IDC_DUMP_BROWSE);
            EXPECT_EQ(text_of(w, IDC_DUMP_PATH), target);
            type_into(w, IDC_DUMP_COUNT, "1");
            press(w, IDOK);
        });
    EXPECT_TRUE(opened);
    EXPECT_EQ(box_texts(), std::vector<std::string>{"Operation successfully completed."});
    std::vector<uint8_t> dumped = file_bytes(target);
    ASSERT_EQ(dumped.size(), 8388608u);
    close_open_disk();
    std::vector<uint8_t> disk = file_bytes(source);
    EXPECT_TRUE(std::equal(dumped.begin(), dumped.end(), disk.begin()));
}

TEST_F(Dump, AReadPastTheDiskEndsTheDumpWithTheUnitsBeforeIt) {
    std::string source = image();  // 4 units of 8 MiB
    start_with_image(source);
    app.disk_size_mb = 100;  // the size query overstated the disk
    HWND w = open_window();
    type_into(w, IDC_DUMP_COUNT, "6");
    std::string target = folder_ + "\\short.hex";
    SetDlgItemTextA(w, IDC_DUMP_PATH, target.c_str());
    press(w, IDOK);
    EXPECT_EQ(box_texts(), std::vector<std::string>{"The operation failed: Failed to read from "
                                                    "disk, cluster 4 (got 0 sectors from 16384)"});
    EXPECT_EQ(file_bytes(target).size(), 4u * 8388608u);
}

TEST_F(Dump, AFailedDumpSaysWhy) {
    start_with_image(image());
    HWND w = open_window();
    type_into(w, IDC_DUMP_COUNT, "1");
    SetDlgItemTextA(w, IDC_DUMP_PATH, (folder_ + "\\no such folder\\dump.hex").c_str());
    press(w, IDOK);
    EXPECT_EQ(box_texts(),
              std::vector<std::string>{"The operation failed: Failed to create output file."});
}

}  // namespace
}  // namespace quarrow::ui::test
