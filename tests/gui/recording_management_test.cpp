// The Recording Management window: which controls are usable in each state, the details, Apply
// and its refusal, the Pause and Permanent boxes, delete, move, backup, restore and reclaim. Each
// change the window makes is compared, byte for byte, with the same core operation run on a copy
// of the image (what `quarrow edit`, `delete`, `restore` and `recover` do).
#include <windows.h>

#include <cstring>

#include "fs/backup_restore.h"
#include "fs/disk_detection.h"
#include "fs/recording_editing.h"
#include "fs/recovery.h"
#include "gui/dialog_fixture.h"
#include "resources/resource.h"
#include "support/disk_probe.h"
#include "ui/app_state.h"
#include "ui/recording_management.h"

namespace quarrow::ui::test {
namespace {

using quarrow::test::TestDisk;
using quarrow::test::TestRecording;

// The core side of a comparison: the image opened for writing with its list loaded.
struct CoreDisk : quarrow::test::LoadedImage {
    explicit CoreDisk(const std::string& path) : LoadedImage(path, true) {}
};

TestRecording recording(const char* title, const char* channel, uint8_t flags = 0) {
    TestRecording r;
    r.default_title = title;
    r.channel = channel;
    r.flags = flags;
    r.duration = 3 * 360000 + 4 * 6000 + 5 * 100;
    r.data.assign(4096, 0x5A);
    return r;
}

class Management : public DialogTest {
  protected:
    // Slot order, oldest first: the window lists "Gamma", "Beta", "Alpha".
    std::string three_recordings(uint8_t newest_flags = 0, const char* name = "three.hex") {
        TestDisk disk;
        disk.cluster_count = 8;
        disk.recordings = {recording("Alpha", "ARD"), recording("Beta", "ZDF"),
                           recording("Gamma", "Arte", newest_flags)};
        return make_image(disk, name);
    }

    std::string empty_disk() {
        TestDisk disk;
        disk.cluster_count = 6;
        return make_image(disk, "empty.hex");
    }

    HWND open_window() { return open_dialog(IDD_RECORDING_MANAGEMENT, recording_management_proc); }

    void expect_details_disabled(HWND w) {
        for (int id : {IDC_USER_TITLE, IDC_CHANNEL_NAME, IDC_PERMANENT, IDC_PAUSE, IDC_LOCKED,
                       IDC_RESET, IDC_APPLY, IDC_DELETE_RECORD})
            EXPECT_FALSE(is_enabled(w, id)) << "control " << id;
    }

    // The image as the window left it: the open disk is closed first so that every write is in
    // the file.
    std::vector<uint8_t> image_after(const std::string& path) {
        close_open_disk();
        return file_bytes(path);
    }
};

TEST_F(Management, OnADiskWithoutRecordingsOnlyRestoreAndReclaimAreUsable) {
    std::string image = empty_disk();
    start_with_image(image);
    HWND w = open_window();
    expect_details_disabled(w);
    EXPECT_FALSE(is_enabled(w, IDC_MOVE_UP));
    EXPECT_FALSE(is_enabled(w, IDC_MOVE_DOWN));
    EXPECT_TRUE(menu_is_grayed(w, IDM_BACKUP_RECORDING));
    EXPECT_FALSE(menu_is_grayed(w, IDM_RESTORE_FROM_FILE));
    EXPECT_FALSE(menu_is_grayed(w, IDM_RECLAIM_ALL));
    EXPECT_TRUE(lines_of(w, IDC_MANAGEMENT_LIST).empty());

    // No recordings to lose, so reclaim asks no first question: the first box is the recovery's
    // own question about what it found (never-written clusters form one group).
    press(w, IDM_RECLAIM_ALL, 0);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[0].text, "1 Recordings discovered. Do you want to proceed with recovery?");
    EXPECT_EQ(boxes_[0].caption, "Confirmation");
    EXPECT_EQ(boxes_[1].text, "Recovery cancelled.");
    EXPECT_EQ(boxes_[1].caption, "Quarrow Error");
    EXPECT_EQ(app.recording_count, 0);
}

TEST_F(Management, WithOneRecordingNeitherMoveButtonIsUsableAndTheDetailsAreShown) {
    TestDisk disk;
    disk.cluster_count = 6;
    TestRecording only = recording("Tagesschau", "ARD", FLAG_PERMANENT | FLAG_LOCKED);
    only.user_title = "Evening news";
    disk.recordings = {only};
    start_with_image(make_image(disk, "one.hex"));
    HWND w = open_window();
    EXPECT_FALSE(is_enabled(w, IDC_MOVE_UP));
    EXPECT_FALSE(is_enabled(w, IDC_MOVE_DOWN));
    EXPECT_TRUE(is_enabled(w, IDC_DELETE_RECORD));
    EXPECT_FALSE(menu_is_grayed(w, IDM_BACKUP_RECORDING));
    EXPECT_EQ(lines_of(w, IDC_MANAGEMENT_LIST), std::vector<std::string>{"1. Evening news"});
    EXPECT_EQ(selected_line(w, IDC_MANAGEMENT_LIST), 0);
    EXPECT_EQ(text_of(w, IDC_DEFAULT_TITLE), "Tagesschau");
    EXPECT_EQ(text_of(w, IDC_USER_TITLE), "Evening news");
    EXPECT_EQ(text_of(w, IDC_CHANNEL_NAME), "ARD");
    EXPECT_EQ(text_of(w, IDC_MANAGEMENT_DURATION), "03:04:05");
    EXPECT_EQ(text_of(w, IDC_MANAGEMENT_DATE), "06-12-2002 20:15:00 GMT");
    EXPECT_TRUE(is_checked(w, IDC_PERMANENT));
    EXPECT_TRUE(is_checked(w, IDC_LOCKED));
    EXPECT_FALSE(is_checked(w, IDC_PAUSE));
    // Pause can only be taken off a recording, never put on.
    EXPECT_FALSE(is_enabled(w, IDC_PAUSE));
}

TEST_F(Management, SelectingALineSetsTheMoveButtonsAndMovingMatchesTheCore) {
    std::string image = three_recordings();
    std::string copy = copy_of(image, "copy.hex");
    start_with_image(image);
    HWND w = open_window();
    EXPECT_FALSE(is_enabled(w, IDC_MOVE_UP));
    EXPECT_TRUE(is_enabled(w, IDC_MOVE_DOWN));
    pick_line(w, IDC_MANAGEMENT_LIST, 2);
    EXPECT_EQ(text_of(w, IDC_DEFAULT_TITLE), "Alpha");
    EXPECT_TRUE(is_enabled(w, IDC_MOVE_UP));
    EXPECT_FALSE(is_enabled(w, IDC_MOVE_DOWN));
    pick_line(w, IDC_MANAGEMENT_LIST, 1);
    EXPECT_TRUE(is_enabled(w, IDC_MOVE_UP));
    EXPECT_TRUE(is_enabled(w, IDC_MOVE_DOWN));

    press(w, IDC_MOVE_UP);  // Beta to the top
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(lines_of(w, IDC_MANAGEMENT_LIST),
              (std::vector<std::string>{"1. Beta", "2. Gamma", "3. Alpha"}));
    EXPECT_EQ(selected_line(w, IDC_MANAGEMENT_LIST), 0);
    EXPECT_FALSE(is_enabled(w, IDC_MOVE_UP));
    EXPECT_TRUE(is_enabled(w, IDC_MOVE_DOWN));
    EXPECT_EQ(text_of(w, IDC_DEFAULT_TITLE), "Beta");
    press(w, IDC_MOVE_DOWN);
    press(w, IDC_MOVE_DOWN);  // Beta to the bottom
    EXPECT_EQ(lines_of(w, IDC_MANAGEMENT_LIST),
              (std::vector<std::string>{"1. Gamma", "2. Alpha", "3. Beta"}));
    EXPECT_EQ(selected_line(w, IDC_MANAGEMENT_LIST), 2);
    EXPECT_FALSE(is_enabled(w, IDC_MOVE_DOWN));
    EXPECT_TRUE(is_enabled(w, IDC_MOVE_UP));

    {
        CoreDisk core(copy);
        char message[MESSAGE_SIZE] = {};
        ASSERT_TRUE(move_recording_up(quarrow::test::writable_disk(core.disk), 1, core.list.data(),
                                      message));
        ASSERT_TRUE(move_recording_down(quarrow::test::writable_disk(core.disk), 0,
                                        core.list.data(), message));
        ASSERT_TRUE(move_recording_down(quarrow::test::writable_disk(core.disk), 1,
                                        core.list.data(), message));
    }
    EXPECT_EQ(first_difference(image_after(image), file_bytes(copy)), -1);
}

TEST_F(Management, DeletingTheLastTheFirstAndTheOnlyLineFollowsTheSelectionRules) {
    std::string image = three_recordings();
    std::string copy = copy_of(image, "copy.hex");
    start_with_image(image);
    HWND w = open_window();

    // Declined: nothing happens.
    pick_line(w, IDC_MANAGEMENT_LIST, 2);
    answers_ = {IDNO};
    press(w, IDC_DELETE_RECORD);
    ASSERT_EQ(box_texts(), std::vector<std::string>{"Do you really want to delete 'Alpha' ?"});
    EXPECT_EQ(app.recording_count, 3);

    // The last line: the new last line is selected and cannot move down.
    answers_ = {IDYES};
    press(w, IDC_DELETE_RECORD);
    EXPECT_EQ(box_texts(), std::vector<std::string>{"Do you really want to delete 'Alpha' ?"});
    EXPECT_EQ(app.recording_count, 2);
    EXPECT_EQ(lines_of(w, IDC_MANAGEMENT_LIST), (std::vector<std::string>{"1. Gamma", "2. Beta"}));
    EXPECT_EQ(selected_line(w, IDC_MANAGEMENT_LIST), 1);
    EXPECT_EQ(text_of(w, IDC_DEFAULT_TITLE), "Beta");
    EXPECT_FALSE(is_enabled(w, IDC_MOVE_DOWN));
    EXPECT_TRUE(is_enabled(w, IDC_MOVE_UP));

    // The first line: the new first line is selected and cannot move up.
    pick_line(w, IDC_MANAGEMENT_LIST, 0);
    answers_ = {IDYES};
    press(w, IDC_DELETE_RECORD);
    EXPECT_EQ(box_texts(), std::vector<std::string>{"Do you really want to delete 'Gamma' ?"});
    EXPECT_EQ(lines_of(w, IDC_MANAGEMENT_LIST), std::vector<std::string>{"1. Beta"});
    EXPECT_EQ(selected_line(w, IDC_MANAGEMENT_LIST), 0);
    EXPECT_EQ(text_of(w, IDC_DEFAULT_TITLE), "Beta");
    EXPECT_FALSE(is_enabled(w, IDC_MOVE_UP));
    EXPECT_FALSE(is_enabled(w, IDC_MOVE_DOWN));
    EXPECT_TRUE(is_enabled(w, IDC_DELETE_RECORD));

    // The only line: nothing left to show or act on.
    answers_ = {IDYES};
    press(w, IDC_DELETE_RECORD);
    EXPECT_EQ(box_texts(), std::vector<std::string>{"Do you really want to delete 'Beta' ?"});
    EXPECT_EQ(app.recording_count, 0);
    EXPECT_TRUE(lines_of(w, IDC_MANAGEMENT_LIST).empty());
    expect_details_disabled(w);
    EXPECT_FALSE(is_enabled(w, IDC_MOVE_UP));
    EXPECT_FALSE(is_enabled(w, IDC_MOVE_DOWN));
    EXPECT_TRUE(menu_is_grayed(w, IDM_BACKUP_RECORDING));
    EXPECT_EQ(text_of(w, IDC_DEFAULT_TITLE), "");
    // A delete command that still arrives has no line to act on.
    press(w, IDC_DELETE_RECORD);
    EXPECT_TRUE(boxes_.empty());

    {
        CoreDisk core(copy);
        char message[MESSAGE_SIZE] = {};
        ASSERT_TRUE(delete_recording(quarrow::test::writable_disk(core.disk), 2, core.list.data(),
                                     message));
        ASSERT_TRUE(delete_recording(quarrow::test::writable_disk(core.disk), 0, core.list.data(),
                                     message));
        ASSERT_TRUE(delete_recording(quarrow::test::writable_disk(core.disk), 0, core.list.data(),
                                     message));
    }
    EXPECT_EQ(first_difference(image_after(image), file_bytes(copy)), -1);
}

TEST_F(Management, ApplyRefusesAnEmptyChannelNameAndOtherwiseWritesWhatTheCoreWrites) {
    std::string image = three_recordings();
    std::string copy = copy_of(image, "copy.hex");
    std::vector<uint8_t> before = file_bytes(image);
    start_with_image(image);
    HWND w = open_window();
    pick_line(w, IDC_MANAGEMENT_LIST, 1);
    SetDlgItemTextA(w, IDC_CHANNEL_NAME, "");
    press(w, IDC_APPLY);
    EXPECT_EQ(box_texts(), std::vector<std::string>{"The channel name cannot be empty!"});
    EXPECT_EQ(boxes_.size(), 0u);

    // Reset brings the stored details back.
    press(w, IDC_RESET);
    EXPECT_EQ(text_of(w, IDC_CHANNEL_NAME), "ZDF");
    EXPECT_TRUE(image_after(image) == before);
    open_image(image);
    w = open_window();
    pick_line(w, IDC_MANAGEMENT_LIST, 1);

    // Typed into the edit, a 48th character is refused: the field holds 47 and a NUL.
    HWND title = GetDlgItem(w, IDC_USER_TITLE);
    SetWindowTextA(title, "");
    std::string typed;
    for (int i = 0; i < 48; ++i) {
        char c = static_cast<char>('a' + i % 26);
        typed += c;
        SendMessageA(title, WM_CHAR, c, 0);
    }
    std::string title47 = typed.substr(0, 47);
    EXPECT_EQ(text_of(w, IDC_USER_TITLE), title47);
    SetDlgItemTextA(w, IDC_CHANNEL_NAME, "Sport Eins");
    CheckDlgButton(w, IDC_LOCKED, BST_CHECKED);
    press(w, IDC_LOCKED);
    press(w, IDC_APPLY);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(lines_of(w, IDC_MANAGEMENT_LIST)[1], "2. " + title47);
    EXPECT_EQ(selected_line(w, IDC_MANAGEMENT_LIST), 1);
    EXPECT_EQ(text_of(w, IDC_USER_TITLE), title47);
    EXPECT_STREQ(app.recordings[1].channel, "Sport Eins");
    EXPECT_EQ(app.recordings[1].flags & APPLY_MASK, FLAG_LOCKED);

    {
        CoreDisk core(copy);
        char user[REC_USER_TITLE_BYTES] = {};
        char channel[REC_CHANNEL_BYTES] = {};
        memcpy(user, title47.data(), 47);
        strcpy(channel, "Sport Eins");
        char message[MESSAGE_SIZE] = {};
        ASSERT_TRUE(apply_recording_changes(quarrow::test::writable_disk(core.disk), 1,
                                            &core.list[1], user, channel, FLAG_LOCKED, APPLY_MASK,
                                            message));
    }
    EXPECT_EQ(first_difference(image_after(image), file_bytes(copy)), -1);
}

TEST_F(Management, PauseCanOnlyBeTakenOffAndPermanentTakesItOffToo) {
    std::string image = three_recordings(FLAG_PAUSE | FLAG_LOCKED);
    start_with_image(image);
    HWND w = open_window();
    EXPECT_TRUE(is_checked(w, IDC_PAUSE));
    EXPECT_TRUE(is_enabled(w, IDC_PAUSE));
    // The box clears itself on the click; the window then keeps it from being set again.
    CheckDlgButton(w, IDC_PAUSE, BST_UNCHECKED);
    press(w, IDC_PAUSE);
    EXPECT_FALSE(is_checked(w, IDC_PAUSE));
    EXPECT_FALSE(is_enabled(w, IDC_PAUSE));
    press(w, IDC_APPLY);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(app.recordings[0].flags & APPLY_MASK, FLAG_LOCKED);
    EXPECT_FALSE(is_enabled(w, IDC_PAUSE));

    // Another paused recording: Permanent clears Pause whichever way it went.
    std::string image2 = three_recordings(FLAG_PAUSE, "paused.hex");
    open_image(image2);
    w = open_window();
    ASSERT_TRUE(is_checked(w, IDC_PAUSE));
    CheckDlgButton(w, IDC_PERMANENT, BST_CHECKED);
    press(w, IDC_PERMANENT);
    EXPECT_FALSE(is_checked(w, IDC_PAUSE));
    EXPECT_FALSE(is_enabled(w, IDC_PAUSE));
    press(w, IDC_APPLY);
    EXPECT_EQ(app.recordings[0].flags & APPLY_MASK, FLAG_PERMANENT);
    // Reset shows what is stored now.
    press(w, IDC_RESET);
    EXPECT_TRUE(is_checked(w, IDC_PERMANENT));
    EXPECT_FALSE(is_checked(w, IDC_PAUSE));
}

TEST_F(Management, BackupWritesTheSelectedRecordingAndCancellingWritesNothing) {
    std::string image = three_recordings();
    start_with_image(image);
    SetDlgItemTextA(app.panel_window, IDC_PATH, folder_.c_str());
    HWND w = open_window();
    pick_line(w, IDC_MANAGEMENT_LIST, 1);

    std::string target = folder_ + "\\beta.mmr";
    press(w, IDM_BACKUP_RECORDING, 0);  // cancelled
    EXPECT_FALSE(file_exists(target));
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(last_save_title_, "Specify a Directory and Name for the Backup file");
    EXPECT_EQ(last_save_filter_, "MediaMaster Recording (*.mmr)|*.mmr|");
    EXPECT_EQ(last_save_request_.Flags, 0x802u);
    EXPECT_EQ(last_save_request_.nFilterIndex, 1u);
    EXPECT_EQ(last_save_request_.nMaxFile, 40000u);
    EXPECT_STREQ(last_save_request_.lpstrDefExt, ".mmr");
    EXPECT_EQ(last_save_initial_dir_, folder_);

    // With no line selected there is nothing to back up, whatever the dialog gave.
    save_file_answer_ = target;
    SendMessageA(GetDlgItem(w, IDC_MANAGEMENT_LIST), LB_SETCURSEL, WPARAM(-1), 0);
    press(w, IDM_BACKUP_RECORDING, 0);
    EXPECT_FALSE(file_exists(target));
    EXPECT_TRUE(boxes_.empty());

    pick_line(w, IDC_MANAGEMENT_LIST, 1);
    press(w, IDM_BACKUP_RECORDING, 0);
    EXPECT_EQ(box_texts(), std::vector<std::string>{"Backup Operation Successful."});
    std::string expected = folder_ + "\\core.mmr";
    char message[MESSAGE_SIZE] = {};
    ASSERT_TRUE(backup_recording(app.disk, 1, expected.c_str(), nullptr, message));
    EXPECT_EQ(file_bytes(target).size(), 2048u + 8388608u);
    EXPECT_TRUE(file_bytes(target) == file_bytes(expected));
}

class Restore : public Management {
  protected:
    // A backup of "Beta" made by the core, and a file too short to be a backup.
    void make_backups() {
        std::string source = three_recordings(0, "source.hex");
        CoreDisk core(source);
        char message[MESSAGE_SIZE] = {};
        good_ = folder_ + "\\good.mmr";
        ASSERT_TRUE(backup_recording(core.disk, 1, good_.c_str(), nullptr, message));
        damaged_ = folder_ + "\\damaged.mmr";
        HANDLE f =
            CreateFileA(damaged_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(f, "not a backup", 12, &written, nullptr);
        CloseHandle(f);
    }
    // What the open dialog gives for several files: the folder, then the names.
    std::string selection(std::initializer_list<const char*> names) {
        std::string answer = folder_;
        for (const char* name : names)
            answer += std::string(1, '\0') + name;
        return answer;
    }
    std::string core_message_for_damaged() {
        std::string scratch = copy_of(empty_disk(), "scratch.hex");
        CoreDisk core(scratch);
        char message[MESSAGE_SIZE] = {};
        EXPECT_FALSE(restore_recording(quarrow::test::writable_disk(core.disk), damaged_.c_str(),
                                       nullptr, message));
        return message;
    }
    std::string good_, damaged_;
};

TEST_F(Restore, TwoFilesOfWhichOneIsDamagedRestoreTheOtherLikeTheCore) {
    make_backups();
    TestDisk disk;
    disk.cluster_count = 8;
    disk.recordings = {recording("Alpha", "ARD")};
    std::string image = make_image(disk, "target.hex");
    std::string copy = copy_of(image, "copy.hex");
    start_with_image(image);
    HWND w = open_window();

    open_file_answer_ = selection({"damaged.mmr", "good.mmr"});
    press(w, IDM_RESTORE_FROM_FILE, 0);
    EXPECT_EQ(box_texts(), std::vector<std::string>{"Restore Operation Successful."});
    EXPECT_EQ(last_open_title_, "Select a MediaMaster Backup file:");
    EXPECT_EQ(last_open_request_.Flags, 0x81204u);
    EXPECT_EQ(app.recording_count, 2);
    EXPECT_EQ(lines_of(w, IDC_MANAGEMENT_LIST), (std::vector<std::string>{"1. Beta", "2. Alpha"}));
    EXPECT_EQ(selected_line(w, IDC_MANAGEMENT_LIST), 0);
    EXPECT_EQ(text_of(w, IDC_DEFAULT_TITLE), "Beta");
    EXPECT_FALSE(is_enabled(w, IDC_MOVE_UP));
    EXPECT_TRUE(is_enabled(w, IDC_MOVE_DOWN));
    EXPECT_FALSE(menu_is_grayed(w, IDM_BACKUP_RECORDING));

    {
        CoreDisk core(copy);
        char message[MESSAGE_SIZE] = {};
        ASSERT_TRUE(restore_recording(quarrow::test::writable_disk(core.disk), good_.c_str(),
                                      nullptr, message));
    }
    EXPECT_EQ(first_difference(image_after(image), file_bytes(copy)), -1);
}

TEST_F(Restore, OnlyDamagedFilesShowTheLastErrorAndAnEmptyDiskStaysEmpty) {
    make_backups();
    std::string expected_error = core_message_for_damaged();
    std::string image = empty_disk();
    std::vector<uint8_t> before = file_bytes(image);
    start_with_image(image);
    HWND w = open_window();

    open_file_answer_ = damaged_;  // one file: the full path alone
    press(w, IDM_RESTORE_FROM_FILE, 0);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "Quarrow Error");
    EXPECT_EQ(boxes_[0].text, expected_error);
    boxes_.clear();
    // Nothing restored on a disk without recordings: the window shows that, not a stale line.
    EXPECT_EQ(app.recording_count, 0);
    EXPECT_TRUE(lines_of(w, IDC_MANAGEMENT_LIST).empty());
    expect_details_disabled(w);
    EXPECT_FALSE(is_enabled(w, IDC_MOVE_UP));
    EXPECT_FALSE(is_enabled(w, IDC_MOVE_DOWN));
    EXPECT_TRUE(menu_is_grayed(w, IDM_BACKUP_RECORDING));

    // A cancelled open dialog does nothing at all.
    open_file_answer_.clear();
    press(w, IDM_RESTORE_FROM_FILE, 0);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(image_after(image) == before);
}

TEST_F(Restore, APathLongerThanItsBufferIsRefusedNotCut) {
    make_backups();
    std::string image = empty_disk();
    start_with_image(image);
    HWND w = open_window();
    // A folder name that with the file's name makes 264 characters or more.
    std::string name(RESTORE_PATH_SIZE - folder_.size(), 'n');
    open_file_answer_ = folder_ + std::string(1, '\0') + name;
    press(w, IDM_RESTORE_FROM_FILE, 0);
    EXPECT_EQ(box_texts(), std::vector<std::string>{RESTORE_PATH_TOO_LONG});
    EXPECT_EQ(app.recording_count, 0);

    // The same buffer with a good file after it: that one is restored.
    open_file_answer_ = folder_ + std::string(1, '\0') + name + std::string(1, '\0') + "good.mmr";
    press(w, IDM_RESTORE_FROM_FILE, 0);
    EXPECT_EQ(box_texts(), std::vector<std::string>{"Restore Operation Successful."});
    EXPECT_EQ(app.recording_count, 1);
}

TEST(SelectedFiles, AreWalkedWithinTheBufferAndTooLongPathsAreFlagged) {
    std::vector<std::string> seen;
    auto visit = [&](const char* path) { seen.push_back(path ? path : "<too long>"); };
    const char single[] = "C:\\b\\one.mmr\0";
    for_each_selected_file(single, sizeof single, visit);
    EXPECT_EQ(seen, std::vector<std::string>{"C:\\b\\one.mmr"});
    seen.clear();
    const char several[] = "C:\\b\0one.mmr\0two.mmr\0";
    for_each_selected_file(several, sizeof several, visit);
    EXPECT_EQ(seen, (std::vector<std::string>{"C:\\b\\one.mmr", "C:\\b\\two.mmr"}));
    seen.clear();
    // A name that runs to the end of the buffer without its NUL is not taken.
    const char cut[] = {'C', ':', '\0', 'a', 'b'};
    for_each_selected_file(cut, sizeof cut, visit);
    EXPECT_TRUE(seen.empty());
    seen.clear();
    std::string exact(RESTORE_PATH_SIZE - 1, 'p');  // 263 characters: fits with its NUL
    std::string over(RESTORE_PATH_SIZE, 'p');
    std::string both = exact + '\0' + '\0';
    for_each_selected_file(both.c_str(), int(both.size()), visit);
    std::string one_more = over + '\0' + '\0';
    for_each_selected_file(one_more.c_str(), int(one_more.size()), visit);
    EXPECT_EQ(seen, (std::vector<std::string>{exact, "<too long>"}));
}

TEST_F(Management, ReclaimAsksTwiceAndThenMatchesTheCore) {
    std::string image = three_recordings();
    {
        // "Beta" deleted: its clusters are free but still carry its headers.
        CoreDisk core(image);
        char message[MESSAGE_SIZE] = {};
        ASSERT_TRUE(delete_recording(quarrow::test::writable_disk(core.disk), 1, core.list.data(),
                                     message));
    }
    std::string copy = copy_of(image, "copy.hex");
    std::vector<uint8_t> before = file_bytes(image);
    start_with_image(image);
    HWND w = open_window();
    ASSERT_EQ(app.recording_count, 2);

    // Declining the warning ends it: no scan, no second question.
    answers_ = {IDNO};
    press(w, IDM_RECLAIM_ALL, 0);
    EXPECT_EQ(box_texts(),
              std::vector<std::string>{"Warning: if this operation fails, you can loose the "
                                       "current recordings! Do you want to continue?"});
    // Yes to the warning, Cancel to the question: nothing written.
    answers_ = {IDYES, IDCANCEL};
    press(w, IDM_RECLAIM_ALL, 0);
    ASSERT_EQ(boxes_.size(), 3u);
    EXPECT_EQ(boxes_[2].text, "Recovery cancelled.");
    boxes_.clear();
    EXPECT_EQ(app.recording_count, 2);

    answers_ = {IDYES, IDYES};
    press(w, IDM_RECLAIM_ALL, 0);
    std::vector<std::string> texts = box_texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_NE(texts[1].find("Recordings discovered. Do you want to proceed with recovery?"),
              std::string::npos);
    EXPECT_EQ(texts[2], "All Recordings were successfully restored.");
    int found = atoi(texts[1].c_str());
    EXPECT_EQ(app.recording_count, 2 + found);
    EXPECT_EQ(lines_of(w, IDC_MANAGEMENT_LIST).size(), size_t(2 + found));
    EXPECT_EQ(selected_line(w, IDC_MANAGEMENT_LIST), 0);
    EXPECT_FALSE(is_enabled(w, IDC_MOVE_UP));
    EXPECT_TRUE(is_enabled(w, IDC_MOVE_DOWN));

    {
        CoreDisk core(copy);
        char message[MESSAGE_SIZE] = {};
        ASSERT_TRUE(recover_recordings(quarrow::test::writable_disk(core.disk), core.count, nullptr,
                                       message));
    }
    std::vector<uint8_t> after = image_after(image);
    EXPECT_FALSE(after == before);
    EXPECT_TRUE(after == file_bytes(copy));
}

TEST_F(Management, AFailedOperationShowsItsMessageAndLeavesTheList) {
    std::string image = three_recordings();
    start_with_image(image);
    HWND w = open_window();
    // The disk is gone (every read fails): the move fails and the window stays as it was.
    close_open_disk();
    press(w, IDC_MOVE_DOWN);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "Quarrow Error");
    EXPECT_FALSE(boxes_[0].text.empty());
    EXPECT_EQ(lines_of(w, IDC_MANAGEMENT_LIST),
              (std::vector<std::string>{"1. Gamma", "2. Beta", "3. Alpha"}));
    EXPECT_EQ(app.recording_count, 3);
}

TEST_F(Restore, AReloadThatFindsTooManyRecordingsLeavesNoClosedDiskBehind) {
    make_backups();
    std::string image = three_recordings(0, "crowded.hex");
    start_with_image(image);
    HWND w = open_window();
    // Meanwhile the Table of Contents came to list more recordings than the program takes.
    HANDLE f = CreateFileA(image.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    SetFilePointer(f, TOC_SECTOR * 512 + TOC_COUNT_OFFSET, nullptr, FILE_BEGIN);
    const uint8_t count[2] = {0x01, 0xF4};  // 500
    DWORD written = 0;
    WriteFile(f, count, 2, &written, nullptr);
    CloseHandle(f);

    open_file_answer_ = damaged_;
    press(w, IDM_RESTORE_FROM_FILE, 0);
    EXPECT_EQ(boxes_.size(), 1u);
    // The reload closed the disk: the state holds none, and the window shows nothing to act on.
    EXPECT_EQ(app.disk, nullptr);
    EXPECT_EQ(app.recording_count, 0);
    EXPECT_TRUE(lines_of(w, IDC_MANAGEMENT_LIST).empty());
    EXPECT_TRUE(menu_is_grayed(w, IDM_BACKUP_RECORDING));
}

TEST_F(Management, TheToolsMenuOpensTheWindowAndClosingRefillsThePanel) {
    std::string image = three_recordings();
    start_with_image(image);
    bool opened =
        with_modal_dialog([&] { menu_command(IDM_MANAGE_RECORDINGS); }, "Recording Management",
                          [&](HWND w) {
                              EXPECT_EQ(lines_of(w, IDC_MANAGEMENT_LIST).size(), 3u);
                              answers_ = {IDYES};
                              press(w, IDC_DELETE_RECORD);
                              press(w, IDCANCEL);
                              EXPECT_FALSE(IsWindow(w) && IsWindowVisible(w));
                          });
    EXPECT_TRUE(opened);
    EXPECT_EQ(list_lines(), (std::vector<std::string>{"1. Beta", "2. Alpha"}));
}

}  // namespace
}  // namespace quarrow::ui::test
