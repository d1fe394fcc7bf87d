// What the Windows program promises as the command line does: its dump and backup never write
// over the open disk, and a change to the disk waits for no other program's writer.
#include <windows.h>

#include "fs/disk_session.h"
#include "gui/dialog_fixture.h"
#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/dump_dialog.h"
#include "ui/recording_management.h"

namespace quarrow::ui::test {
namespace {

using quarrow::test::TestDisk;
using quarrow::test::TestRecording;

class DiskSafety : public DialogTest {
  protected:
    std::string image() {
        TestDisk disk;
        disk.cluster_count = 3;
        TestRecording r;
        r.default_title = "Kept";
        r.channel = "ARD";
        r.data.assign(4096, 0x5A);
        disk.recordings = {r};
        return make_image(disk, "open.hex");
    }
    // The image as the window left it, with the open disk closed so that every write is in it.
    std::vector<uint8_t> image_after(const std::string& path) {
        close_open_disk();
        return file_bytes(path);
    }
};

TEST_F(DiskSafety, DumpAndBackupAimedAtTheOpenImageAreRefusedAndLeaveItAsItWas) {
    std::string source = image();
    std::vector<uint8_t> before = file_bytes(source);
    start_with_image(source);
    // The same file under another spelling counts as well.
    const std::string spellings[] = {source, folder_ + "\\.\\open.hex"};
    for (const std::string& target : spellings) {
        HWND dump = open_dialog(IDD_DUMP, dump_dialog_proc);
        type_into(dump, IDC_DUMP_COUNT, "1");
        SetDlgItemTextA(dump, IDC_DUMP_PATH, target.c_str());
        press(dump, IDOK);
        EXPECT_EQ(box_texts(), std::vector<std::string>{OUTPUT_IS_OPEN_DISK_MESSAGE}) << target;

        HWND manage = open_dialog(IDD_RECORDING_MANAGEMENT, recording_management_proc);
        pick_line(manage, IDC_MANAGEMENT_LIST, 0);
        save_file_answer_ = target;
        press(manage, IDM_BACKUP_RECORDING, 0);
        EXPECT_EQ(box_texts(), std::vector<std::string>{OUTPUT_IS_OPEN_DISK_MESSAGE}) << target;
    }
    EXPECT_EQ(first_difference(image_after(source), before), -1);
}

// Another writer holds the disk through its own session (a second handle here: Wine keeps
// LockFileEx between the handles of one process, not between processes).
TEST_F(DiskSafety, ARenameWhileAnotherWriterHoldsTheDiskIsRefused) {
    std::string source = image();
    std::vector<uint8_t> before = file_bytes(source);
    start_with_image(source);
    HWND manage = open_dialog(IDD_RECORDING_MANAGEMENT, recording_management_proc);
    pick_line(manage, IDC_MANAGEMENT_LIST, 0);
    SetDlgItemTextA(manage, IDC_USER_TITLE, "Renamed");
    {
        DiskSession other;
        ASSERT_TRUE(open_session(&other, source.c_str(), true)) << other.message;
        press(manage, IDC_APPLY);
        EXPECT_EQ(box_texts(), std::vector<std::string>{DISK_IN_USE_MESSAGE});
    }
    EXPECT_EQ(first_difference(image_after(source), before), -1);

    // Once the other writer is gone the same rename goes through.
    open_image(source);
    manage = open_dialog(IDD_RECORDING_MANAGEMENT, recording_management_proc);
    pick_line(manage, IDC_MANAGEMENT_LIST, 0);
    SetDlgItemTextA(manage, IDC_USER_TITLE, "Renamed");
    press(manage, IDC_APPLY);
    EXPECT_TRUE(box_texts().empty());
    EXPECT_NE(first_difference(image_after(source), before), -1);
}

}  // namespace
}  // namespace quarrow::ui::test
