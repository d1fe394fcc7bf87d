// The extraction panel: what selecting a recording shows, the range bars, the options, and
// "Begin Extraction" end to end against the engine and the command line.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstring>

#include "extract/extraction_engine.h"
#include "gui/gui_fixture.h"
#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/settings.h"

namespace quarrow::ui::test {
namespace {

using quarrow::test::TestDisk;
using quarrow::test::TestRecording;

class Panel : public GuiTest {
  protected:
    // Two recordings: line 0 has no title at all, line 1 runs 10000 sectors and has a colon in
    // its title.
    void open_small_disk() {
        TestDisk disk;
        disk.cluster_count = 4;
        TestRecording news;
        news.default_title = "News: Extra";
        news.channel = "ARD";
        news.flags = 0x01;
        news.duration = 360000 + 2 * 6000 + 300;  // 1 h 2 min 3 s in hundredths
        news.length = 10000;
        news.start_offset = 16;
        news.data.assign(512, 0);
        TestRecording untitled;
        untitled.channel = "ZDF";
        untitled.data.assign(512, 0);
        disk.recordings = {news, untitled};
        std::string image = folder_ + "\\small.hex";
        ASSERT_TRUE(write_image(disk, image));
        open_file_answer_ = image;
        menu_command(IDM_OPEN_IMAGE);
        ASSERT_EQ(app.recording_count, 2);
    }

    void open_sample() {
        open_file_answer_ = sample_image_path();
        menu_command(IDM_OPEN_IMAGE);
        ASSERT_EQ(app.recording_count, 5);
    }

    // The line of the longest recording: it spans three clusters.
    int longest_line() {
        int best = 0;
        for (int i = 1; i < app.recording_count; ++i)
            if (app.recordings[i].length > app.recordings[best].length) best = i;
        return best;
    }

    SCROLLINFO bar(int id) {
        SCROLLINFO info = {};
        info.cbSize = sizeof info;
        info.fMask = SIF_ALL;
        SendMessageA(GetDlgItem(app.panel_window, id), SBM_GETSCROLLINFO, 0,
                     reinterpret_cast<LPARAM>(&info));
        return info;
    }

    void scroll(int id, int code) {
        SendMessageA(app.panel_window, WM_HSCROLL, MAKEWPARAM(code, 0),
                     reinterpret_cast<LPARAM>(GetDlgItem(app.panel_window, id)));
    }

    int progress_pos() {
        return static_cast<int>(
            SendMessageA(GetDlgItem(app.panel_window, IDC_PROGRESS), PBM_GETPOS, 0, 0));
    }
};

TEST_F(Panel, SelectingARecordingFillsItsInformationPrefixAndRange) {
    start();
    open_small_disk();
    EXPECT_EQ(list_lines(), (std::vector<std::string>{"1. ZDF", "2. News: Extra"}));
    // A recording with neither title: "[no title]", while list and prefix use the channel.
    EXPECT_EQ(item_text(IDC_TITLE), "[no title]");
    EXPECT_EQ(item_text(IDC_PREFIX), "ZDF");

    SetDlgItemTextA(app.panel_window, IDC_PREFIX, "typed by the user");
    select_recording(1);
    EXPECT_EQ(item_text(IDC_TITLE), "News: Extra");
    EXPECT_EQ(item_text(IDC_CHANNEL), "ARD");
    EXPECT_EQ(item_text(IDC_TYPE), app.recordings[1].attribute_text);
    EXPECT_EQ(item_text(IDC_TYPE), "Permanent");
    EXPECT_EQ(item_text(IDC_DATE), app.recordings[1].date_text);
    EXPECT_EQ(item_text(IDC_DURATION), "01:02:03");
    EXPECT_EQ(item_text(IDC_RECORDING_SIZE), "4 MB");  // 10000 / 1024 = 9, x 512 / 1024 = 4
    EXPECT_EQ(item_text(IDC_PREFIX), "News: Extra");   // replaces what the user typed
    EXPECT_EQ(item_text(IDC_START_TEXT), "16 Sectors");
    EXPECT_EQ(item_text(IDC_LENGTH_TEXT), "5000.0 KB");
    SCROLLINFO start = bar(IDC_START_SCROLL);
    EXPECT_EQ(start.nMin, 0);
    EXPECT_EQ(start.nMax, 9999);
    EXPECT_EQ(start.nPos, 16);
    EXPECT_EQ(start.nPage, 1u);
    SCROLLINFO length = bar(IDC_LENGTH_SCROLL);
    EXPECT_EQ(length.nMin, 1);
    EXPECT_EQ(length.nMax, 10000);
    EXPECT_EQ(length.nPos, 10000);
    PBRANGE range = {};
    SendMessageA(GetDlgItem(app.panel_window, IDC_PROGRESS), PBM_GETRANGE, FALSE,
                 reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 10000);

    // Any notification of the list shows the selected recording again, resetting the prefix.
    SetDlgItemTextA(app.panel_window, IDC_PREFIX, "mine");
    click(IDC_RECORDING_LIST, LBN_KILLFOCUS);
    EXPECT_EQ(item_text(IDC_PREFIX), "News: Extra");
}

TEST_F(Panel, AColonInThePrefixIsRefusedAndNothingIsWritten) {
    start();
    open_small_disk();
    select_recording(1);
    SetDlgItemTextA(app.panel_window, IDC_PATH, folder_.c_str());
    click(IDC_BEGIN_EXTRACTION);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "File Prefix contains invalid characters.");
    EXPECT_EQ(boxes_[0].caption, "Quarrow Error");
    EXPECT_EQ(boxes_[0].owner, app.panel_window);
    EXPECT_FALSE(file_exists(folder_ + "\\News: Extra.m2v"));
    EXPECT_FALSE(file_exists(folder_ + "\\News.m2v"));
    // The panel is usable again.
    EXPECT_TRUE(enabled(IDC_BEGIN_EXTRACTION));
    EXPECT_FALSE(menu_grayed(IDM_OPEN_IMAGE));
}

TEST_F(Panel, NothingReachesTheRecordingsWithoutASelectedLine) {
    start();
    open_sample();
    select_recording(1);
    std::string prefix = item_text(IDC_PREFIX);
    SCROLLINFO start = bar(IDC_START_SCROLL);
    // The list loses its selection (LB_SETCURSEL -1): the enabled button, the range bars and the
    // list's own notifications must not pick an entry.
    SendMessageA(GetDlgItem(app.panel_window, IDC_RECORDING_LIST), LB_SETCURSEL, -1, 0);
    click(IDC_BEGIN_EXTRACTION);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(enabled(IDC_BEGIN_EXTRACTION));
    EXPECT_FALSE(menu_grayed(IDM_OPEN_IMAGE));
    scroll(IDC_START_SCROLL, SB_PAGERIGHT);
    EXPECT_EQ(bar(IDC_START_SCROLL).nPos, start.nPos);
    SetDlgItemTextA(app.panel_window, IDC_PREFIX, "kept");
    click(IDC_RECORDING_LIST, LBN_SELCANCEL);
    EXPECT_EQ(item_text(IDC_PREFIX), "kept");
    EXPECT_NE(prefix, "kept");
}

TEST_F(Panel, LineAndPageStepsAndTheLengthFollowingTheStart) {
    start();
    open_sample();
    int line = longest_line();
    uint32_t total = app.recordings[line].length;
    ASSERT_GT(total, 16384u);
    select_recording(line);
    EXPECT_EQ(bar(IDC_START_SCROLL).nMax, 16383);  // longer than 16384 sectors
    ASSERT_EQ(bar(IDC_START_SCROLL).nPos, 0);

    // One sector right: the length's maximum drops by one and the length, at its maximum,
    // follows.
    scroll(IDC_START_SCROLL, SB_LINERIGHT);
    EXPECT_EQ(bar(IDC_START_SCROLL).nPos, 1);
    EXPECT_EQ(item_text(IDC_START_TEXT), "1 Sectors");
    EXPECT_EQ(bar(IDC_LENGTH_SCROLL).nMax, int(total) - 1);
    EXPECT_EQ(bar(IDC_LENGTH_SCROLL).nPos, int(total) - 1);
    // Back: the maximum rises again, the length stays.
    scroll(IDC_START_SCROLL, SB_LINELEFT);
    EXPECT_EQ(bar(IDC_LENGTH_SCROLL).nMax, int(total));
    EXPECT_EQ(bar(IDC_LENGTH_SCROLL).nPos, int(total) - 1);
    char text[40];
    snprintf(text, sizeof text, "%0.1f KB", (total - 1) * 0.5);
    EXPECT_EQ(item_text(IDC_LENGTH_TEXT), text);
    // Not below the minimum.
    scroll(IDC_START_SCROLL, SB_LINELEFT);
    EXPECT_EQ(bar(IDC_START_SCROLL).nPos, 0);

    // Page steps move 1024 sectors and stop at the range's end.
    scroll(IDC_LENGTH_SCROLL, SB_PAGELEFT);
    EXPECT_EQ(bar(IDC_LENGTH_SCROLL).nPos, int(total) - 1 - 1024);
    scroll(IDC_LENGTH_SCROLL, SB_PAGERIGHT);
    scroll(IDC_LENGTH_SCROLL, SB_PAGERIGHT);
    EXPECT_EQ(bar(IDC_LENGTH_SCROLL).nPos, int(total));
    for (int i = 0; i < 17; ++i)
        scroll(IDC_START_SCROLL, SB_PAGERIGHT);
    EXPECT_EQ(bar(IDC_START_SCROLL).nPos, 16383);
    EXPECT_EQ(bar(IDC_LENGTH_SCROLL).nMax, int(total) - 16383);
    EXPECT_EQ(bar(IDC_LENGTH_SCROLL).nPos, int(total) - 16383);

    // Codes that are not handled leave everything as it is.
    SCROLLINFO before = bar(IDC_START_SCROLL);
    for (int code : {SB_THUMBPOSITION, SB_TOP, SB_BOTTOM, SB_ENDSCROLL})
        scroll(IDC_START_SCROLL, code);
    EXPECT_EQ(bar(IDC_START_SCROLL).nPos, before.nPos);
    // The sync trackbar reports through WM_HSCROLL too; the range bars take no notice.
    scroll(IDC_SYNC_TUNING, SB_LINERIGHT);
    EXPECT_EQ(bar(IDC_LENGTH_SCROLL).nPos, int(total) - 16383);
}

TEST_F(Panel, NoVideoHidesTheSyncControlsWithoutDisablingThem) {
    start();
    CheckDlgButton(app.panel_window, IDC_NO_VIDEO, BST_CHECKED);
    click(IDC_NO_VIDEO);
    for (int id : {IDC_AUTO_VIDEO_SYNC, IDC_SYNC_TUNING, IDC_SYNC_TUNING_LABEL}) {
        EXPECT_FALSE(visible(id)) << id;
        EXPECT_TRUE(enabled(id)) << id;
    }
    CheckDlgButton(app.panel_window, IDC_NO_VIDEO, BST_UNCHECKED);
    click(IDC_NO_VIDEO);
    for (int id : {IDC_AUTO_VIDEO_SYNC, IDC_SYNC_TUNING, IDC_SYNC_TUNING_LABEL})
        EXPECT_TRUE(visible(id)) << id;
}

TEST_F(Panel, AudioChoiceFolderBrowserAndClosingStoreTheSettings) {
    start();
    click(IDC_AUDIO_MPG);
    DWORD stored = 0;
    EXPECT_TRUE(stored_dword(SETTING_AUDIO_TYPE, &stored));
    EXPECT_EQ(stored, 1u);
    click(IDC_AUDIO_MP2);
    EXPECT_TRUE(stored_dword(SETTING_AUDIO_TYPE, &stored));
    EXPECT_EQ(stored, 2u);

    folder_answer_ = "";
    click(IDC_CHOOSE_PATH);
    EXPECT_EQ(last_folder_title_, "Select a Destination Directory for the Extraction:");
    EXPECT_EQ(item_text(IDC_PATH), "C:\\");
    folder_answer_ = "D:\\Films";
    click(IDC_CHOOSE_PATH);
    EXPECT_EQ(item_text(IDC_PATH), "D:\\Films");
    char path[PATH_SIZE];
    EXPECT_EQ(read_default_path(path, PATH_SIZE), 1);
    EXPECT_STREQ(path, "D:\\Films");

    SetDlgItemTextA(app.panel_window, IDC_PATH, "E:\\Later");
    SendMessageA(app.panel_window, WM_CLOSE, 0, 0);
    EXPECT_EQ(app.panel_window, nullptr);
    EXPECT_EQ(read_default_path(path, PATH_SIZE), 1);
    EXPECT_STREQ(path, "E:\\Later");
}

TEST_F(Panel, BeginExtractionWritesTheEnginesFilesLocksThePanelAndResetsTheProgress) {
    start();
    open_sample();
    int line = longest_line();
    select_recording(line);
    const RecordingEntry entry = app.recordings[line];
    std::string gui = new_folder("gui");
    SetDlgItemTextA(app.panel_window, IDC_PATH, gui.c_str());
    // Options away from the defaults: raw audio, a later start, sync tuning 3 without auto sync.
    CheckRadioButton(app.panel_window, IDC_AUDIO_MPG, IDC_AUDIO_MP2, IDC_AUDIO_MPG);
    click(IDC_AUDIO_MPG);
    scroll(IDC_START_SCROLL, SB_PAGERIGHT);
    SendMessageA(GetDlgItem(app.panel_window, IDC_SYNC_TUNING), TBM_SETPOS, TRUE, 3);
    CheckDlgButton(app.panel_window, IDC_AUTO_VIDEO_SYNC, BST_UNCHECKED);
    int start_sector = bar(IDC_START_SCROLL).nPos;
    int length = bar(IDC_LENGTH_SCROLL).nPos;
    std::string prefix = item_text(IDC_PREFIX);

    bool locked = false, menus_grayed = false;
    int progress_at_end = -1;
    on_box_ = [&](const ShownBox&) {
        locked = !enabled(IDC_BEGIN_EXTRACTION);
        menus_grayed = true;
        for (int command : {IDM_OPEN_IMAGE, IDM_SCAN_DISK, IDM_MANAGE_RECORDINGS, IDM_DIAGNOSTICS,
                            IDM_DUMP_DISK, IDM_ERASE_DISK})
            menus_grayed = menus_grayed && menu_grayed(command);
        progress_at_end = progress_pos();
    };
    click(IDC_BEGIN_EXTRACTION);
    // The start, a page into the recording, falls inside a block: the sectors up to the next
    // block header are skipped, and the notice comes in its own error box before the result.
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[0].text.rfind("Skipped ", 0), 0u) << boxes_[0].text;
    EXPECT_EQ(boxes_[0].caption, "Quarrow Error");
    EXPECT_EQ(boxes_[0].owner, nullptr);
    EXPECT_EQ(boxes_[1].text, "The extraction has completed successfully.");
    EXPECT_EQ(boxes_[1].caption, "Quarrow Information");
    EXPECT_EQ(boxes_[1].owner, app.panel_window);
    EXPECT_TRUE(locked);
    EXPECT_TRUE(menus_grayed);
    EXPECT_GT(progress_at_end, 0);
    EXPECT_EQ(progress_pos(), 0);
    EXPECT_TRUE(enabled(IDC_BEGIN_EXTRACTION));
    EXPECT_FALSE(menu_grayed(IDM_OPEN_IMAGE));
    EXPECT_FALSE(menu_grayed(IDM_MANAGE_RECORDINGS));

    std::string reference = new_folder("reference");
    DiskHandle disk = open_image_file(sample_image_path().c_str(), false);
    char message[MESSAGE_SIZE] = {};
    ExtractionRequest request;
    request.first_cluster = entry.first_cluster;
    request.start = start_sector;
    request.length = length;
    request.audio_type = AUDIO_TYPE_MPG;
    request.auto_video_sync = false;
    request.sync_tuning = 3;
    request.path = reference.c_str();
    request.prefix = prefix.c_str();
    ASSERT_EQ(extract_recording(disk, request, message), 1) << message;
    close_disk(disk);
    for (const char* extension : {".m2v", ".mpg"}) {
        std::vector<uint8_t> mine = file_bytes(gui + "\\" + prefix + extension);
        EXPECT_FALSE(mine.empty()) << extension;
        EXPECT_EQ(mine, file_bytes(reference + "\\" + prefix + extension)) << extension;
    }
    EXPECT_FALSE(file_exists(gui + "\\" + prefix + ".mp2"));
}

TEST_F(Panel, NoVideoExtractionWritesOnlyTheAudio) {
    start();
    open_sample();
    select_recording(0);
    SetDlgItemTextA(app.panel_window, IDC_PATH, folder_.c_str());
    CheckDlgButton(app.panel_window, IDC_NO_VIDEO, BST_CHECKED);
    click(IDC_NO_VIDEO);
    std::string prefix = item_text(IDC_PREFIX);
    click(IDC_BEGIN_EXTRACTION);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "The extraction has completed successfully.");
    EXPECT_FALSE(file_exists(folder_ + "\\" + prefix + ".m2v"));
    EXPECT_FALSE(file_bytes(folder_ + "\\" + prefix + ".mp2").empty());
}

#if defined(QUARROW_CLI_PATH)
TEST_F(Panel, FilesMatchTheCommandLinesForTheSameRecordingAndOptions) {
    std::string help_file = folder_ + "\\help.txt";
    run_cli("--help", help_file);
    std::vector<uint8_t> help = file_bytes(help_file);
    if (std::string(help.begin(), help.end()).find("extract") == std::string::npos)
        GTEST_SKIP() << "this build's quarrow-cli has no extract command";
    start();
    open_sample();
    int line = longest_line();
    select_recording(line);
    std::string gui = new_folder("gui");
    SetDlgItemTextA(app.panel_window, IDC_PATH, gui.c_str());
    SetDlgItemTextA(app.panel_window, IDC_PREFIX, "same");
    scroll(IDC_LENGTH_SCROLL, SB_PAGELEFT);
    SendMessageA(GetDlgItem(app.panel_window, IDC_SYNC_TUNING), TBM_SETPOS, TRUE, 2);
    CheckDlgButton(app.panel_window, IDC_AUTO_VIDEO_SYNC, BST_UNCHECKED);
    int length = bar(IDC_LENGTH_SCROLL).nPos;
    int start_sector = bar(IDC_START_SCROLL).nPos;
    click(IDC_BEGIN_EXTRACTION);
    ASSERT_EQ(boxes_.size(), 1u) << boxes_[0].text;
    ASSERT_EQ(boxes_[0].text, "The extraction has completed successfully.");

    std::string cli = new_folder("cli");
    std::string arguments = "extract \"" + sample_image_path() + "\" " + std::to_string(line + 1) +
                            " -o \"" + cli + "\" --prefix same --start " +
                            std::to_string(start_sector) + " --length " + std::to_string(length) +
                            " --audio mp2 --sync 2 --no-auto-sync --quiet";
    ASSERT_EQ(run_cli(arguments, folder_ + "\\cli.txt"), 0) << arguments;
    for (const char* extension : {".m2v", ".mp2"}) {
        std::vector<uint8_t> mine = file_bytes(gui + "\\same" + extension);
        EXPECT_FALSE(mine.empty()) << extension;
        EXPECT_EQ(mine, file_bytes(cli + "\\same" + extension)) << extension;
    }
}
#endif

}  // namespace
}  // namespace quarrow::ui::test
