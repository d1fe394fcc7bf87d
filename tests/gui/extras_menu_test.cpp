// The Extras menu: the toggles kept across a start, the one-file outputs, the cut list and
// Extract All against the command line, and the rescue dialog against 'quarrow-cli rescue'.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "disk/sector_access.h"
#include "extract/cut_list.h"
#include "gui/dialog_fixture.h"
#include "resources/resource.h"
#include "support/program_stream_probe.h"
#include "ui/app_state.h"
#include "ui/application_shell.h"
#include "ui/settings.h"

namespace quarrow::ui::test {
namespace {

struct ToggleCase {
    int command;
    const char* setting;
};
const ToggleCase TOGGLES[] = {{IDM_ONE_PLAYABLE_FILE, SETTING_ONE_PLAYABLE_FILE},
                              {IDM_MATROSKA, SETTING_MATROSKA},
                              {IDM_SPLIT_4GB, SETTING_SPLIT_4GB},
                              {IDM_WRITE_METADATA, SETTING_WRITE_METADATA},
                              {IDM_SKIP_BAD, SETTING_SKIP_BAD}};

// A map's lines without its comments (the command each program names there).
std::string map_without_comments(const std::vector<uint8_t>& bytes) {
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line, out;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '#') out += line + "\n";
    return out;
}

// The cut list as typed into its dialog: text, keep or remove, chapters and their interval.
struct CutEntry {
    const char* text;
    bool drop;
    int chapters;  // IDC_CHAPTERS_NONE, _JOINS or _EVERY
    const char* interval;
};

class Extras : public DialogTest {
  protected:
    void fill_cut_dialog(HWND w, const CutEntry& c) {
        type_into(w, IDC_CUT_TEXT, c.text);
        CheckRadioButton(w, IDC_CUT_KEEP, IDC_CUT_DROP, c.drop ? IDC_CUT_DROP : IDC_CUT_KEEP);
        CheckRadioButton(w, IDC_CHAPTERS_NONE, IDC_CHAPTERS_EVERY, c.chapters);
        type_into(w, IDC_CHAPTER_INTERVAL, c.interval);
    }

    // The program ended as the user ends it and started again, the settings key kept.
    void restart() {
        DestroyWindow(app.main_window);
        close_open_disk();
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        UnregisterClassA(app.class_name, GetModuleHandleA(nullptr));
        app = AppState{};
        start();
    }

    void open_sample() {
        open_file_answer_ = sample_image_path();
        menu_command(IDM_OPEN_IMAGE);
        ASSERT_EQ(app.recording_count, 5);
    }

    // The selected recording extracted with the panel (prefix "same", sync tuning 1) into a new
    // folder, and recording 3 of the sample by the command line with `options` into another;
    // gives the two folders, or empty ones when either failed.
    std::pair<std::string, std::string> extract_both(const std::string& name,
                                                     const std::string& options) {
        std::string gui = new_folder((name + "-gui").c_str());
        std::string cli = new_folder((name + "-cli").c_str());
        SetDlgItemTextA(app.panel_window, IDC_PATH, gui.c_str());
        SetDlgItemTextA(app.panel_window, IDC_PREFIX, "same");
        SendMessageA(GetDlgItem(app.panel_window, IDC_SYNC_TUNING), TBM_SETPOS, TRUE, 1);
        boxes_.clear();
        click(IDC_BEGIN_EXTRACTION);
        // The walk's notices (where each cut landed) come first, then the result.
        bool done = !boxes_.empty() && boxes_.back().caption == "Quarrow Information";
        EXPECT_TRUE(done) << (boxes_.empty() ? "no message" : boxes_.back().text);
        boxes_.clear();
        std::string arguments = "extract \"" + sample_image_path() + "\" 3 -o \"" + cli +
                                "\" --prefix same --sync 1 --quiet " + options;
        int status = run_cli(arguments, folder_ + "\\cli.txt");
        EXPECT_EQ(status, 0) << arguments;
        if (!done || status != 0) return {};
        return {gui, cli};
    }

    // Every file of a folder by name, with its bytes.
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files_in(const std::string& dir) {
        std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
        if (h == INVALID_HANDLE_VALUE) return files;
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            files.emplace_back(found.cFileName, file_bytes(dir + "\\" + found.cFileName));
        } while (FindNextFileA(h, &found));
        FindClose(h);
        std::sort(files.begin(), files.end());
        return files;
    }
};

TEST_F(Extras, TogglesAreKeptAcrossAStartAndTheOneFileOutputsExcludeEachOther) {
    start();
    for (const ToggleCase& t : TOGGLES) {
        EXPECT_FALSE(menu_checked(t.command)) << t.setting;
        if (t.command != IDM_MATROSKA) menu_command(t.command);
    }
    EXPECT_FALSE(enabled(IDC_AUDIO_MPG));  // the one-file output carries MP2
    restart();
    for (const ToggleCase& t : TOGGLES) {
        DWORD stored = 0;  // Matroska was never turned on: nothing stored
        stored_dword(t.setting, &stored);
        EXPECT_EQ(stored, t.command == IDM_MATROSKA ? 0u : 1u) << t.setting;
        EXPECT_EQ(menu_checked(t.command), t.command != IDM_MATROSKA) << t.setting;
    }
    EXPECT_FALSE(enabled(IDC_AUDIO_MPG));
    EXPECT_FALSE(menu_grayed(IDM_SPLIT_4GB));
    // Matroska turns the one program stream off, and the split with it.
    menu_command(IDM_MATROSKA);
    EXPECT_TRUE(menu_checked(IDM_MATROSKA));
    EXPECT_FALSE(menu_checked(IDM_ONE_PLAYABLE_FILE));
    EXPECT_TRUE(menu_grayed(IDM_SPLIT_4GB));
    DWORD stored = 7;
    ASSERT_TRUE(stored_dword(SETTING_ONE_PLAYABLE_FILE, &stored));
    EXPECT_EQ(stored, 0u);
    menu_command(IDM_MATROSKA);
    EXPECT_TRUE(enabled(IDC_AUDIO_MPG));
}

std::string parser_message(const char* text) {
    std::vector<TimeStretch> list;
    char message[MESSAGE_SIZE] = {};
    EXPECT_FALSE(parse_cut_list(text, &list, message)) << text;
    return message;
}

TEST_F(Extras, CutListDialogRefusesBadInputInTheCoresWordsAndStaysOpen) {
    start();
    open_sample();
    select_recording(2);  // 00:03:18
    // Without a one-file output there is nothing to cut: explained, no dialog.
    EXPECT_FALSE(with_modal_dialog([&] { menu_command(IDM_CUT_LIST); }, "Cut List", [](HWND) {}));
    ASSERT_EQ(box_texts().size(), 1u);
    menu_command(IDM_ONE_PLAYABLE_FILE);
    struct Case {
        CutEntry entry;
        std::string shown;
    };
    const Case cases[] = {
        {{"00:00:10", false, IDC_CHAPTERS_NONE, ""}, parser_message("00:00:10")},
        {{"00:00:40-00:00:10", true, IDC_CHAPTERS_NONE, ""}, parser_message("00:00:40-00:00:10")},
        {{"00:00:10-00:00:40,00:00:30-00:00:50", false, IDC_CHAPTERS_NONE, ""},
         parser_message("00:00:10-00:00:40,00:00:30-00:00:50")},
        {{"00:03:30-00:04:00", false, IDC_CHAPTERS_NONE, ""},
         "A stretch of the cut list runs past the recording's end (00:03:18.000): "
         "00:03:30.000-00:04:00.000"},
        {{"00:00:00-00:03:18", true, IDC_CHAPTERS_NONE, ""},
         "The cut list leaves nothing of the recording to keep."},
        {{"00:00:10-00:00:40", false, IDC_CHAPTERS_EVERY, "5s"},
         std::string("A chapter every \"5s\": give ") + CHAPTER_INTERVAL_FORM + "."},
        // The one .mpg without the metadata file has no place for chapters.
        {{"00:00:10-00:00:40", false, IDC_CHAPTERS_JOINS, ""},
         "A program stream holds no chapters: choose \"Matroska (.mkv)\" for them, or \"Write "
         "Metadata File\" to have them in the .json beside the .mpg."},
    };
    ASSERT_TRUE(with_modal_dialog([&] { menu_command(IDM_CUT_LIST); }, "Cut List",
                                  [&](HWND w) {
                                      for (const Case& c : cases) {
                                          fill_cut_dialog(w, c.entry);
                                          press(w, IDOK);
                                          EXPECT_EQ(box_texts(), std::vector<std::string>{c.shown})
                                              << c.entry.text;
                                          // Refused: nothing set, the dialog still asks.
                                          EXPECT_FALSE(menu_checked(IDM_CUT_LIST));
                                      }
                                  }));
    EXPECT_FALSE(menu_checked(IDM_CUT_LIST));
}

#if defined(QUARROW_CLI_PATH)
TEST_F(Extras, OneFileOutputsMatchTheCommandLinesByteForByte) {
    struct Case {
        std::vector<int> toggles;
        const char* options;
        std::vector<const char*> files;
    };
    const Case cases[] = {
        {{IDM_ONE_PLAYABLE_FILE}, "--mux", {".mpg"}},
        {{IDM_ONE_PLAYABLE_FILE, IDM_SPLIT_4GB}, "--mux --split 4000M", {"-001.mpg"}},
        {{IDM_MATROSKA}, "--mkv", {".mkv"}},
        {{IDM_ONE_PLAYABLE_FILE, IDM_SKIP_BAD}, "--mux --skip-bad", {".mpg"}},
    };
    start();
    open_sample();
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        for (int command : c.toggles)
            menu_command(command);
        select_recording(2);
        auto [gui, cli] = extract_both("one" + std::to_string(n++), c.options);
        ASSERT_FALSE(gui.empty());
        for (const char* extension : c.files) {
            std::vector<uint8_t> mine = file_bytes(gui + "\\same" + extension);
            EXPECT_GT(mine.size(), 100000u) << extension;
            EXPECT_EQ(mine, file_bytes(cli + "\\same" + extension)) << extension;
        }
        EXPECT_EQ(files_in(gui).size(), c.files.size());
        for (int command : c.toggles)
            menu_command(command);  // off again for the next case
    }
}

// A list set in the dialog cuts the next one-file extraction of its recording byte for byte as
// the command line's --cut or --drop, the .mpg lasting what the stretches kept add up to (each
// cut on a group of pictures: 12 pictures, 480 ms); Extract All refuses it; selecting another
// recording clears it.
TEST_F(Extras, CutListCutsTheOneFileAsTheCommandLineDoes) {
    struct Case {
        int output;
        CutEntry entry;
        const char* options;
        const char* extension;
        int64_t kept_ms;  // what the stretches kept add up to, checked in the .mpg
        int cuts;
    };
    const Case cases[] = {
        {IDM_ONE_PLAYABLE_FILE,
         {"00:00:10-00:00:40,00:01:00-00:01:30.5", false, IDC_CHAPTERS_NONE, ""},
         "--mux --cut 00:00:10-00:00:40,00:01:00-00:01:30.5",
         ".mpg",
         60500,
         4},
        {IDM_MATROSKA,
         {"00:00:30-00:02:30", true, IDC_CHAPTERS_EVERY, "1m"},
         "--mkv --drop 00:00:30-00:02:30 --chapters 1m",
         ".mkv",
         0,
         0},
    };
    start();
    open_sample();
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        menu_command(c.output);
        select_recording(2);
        ASSERT_TRUE(with_modal_dialog([&] { menu_command(IDM_CUT_LIST); }, "Cut List",
                                      [&](HWND w) {
                                          fill_cut_dialog(w, c.entry);
                                          press(w, IDOK);
                                      }));
        EXPECT_EQ(box_texts(), std::vector<std::string>{});
        EXPECT_TRUE(menu_checked(IDM_CUT_LIST));
        folder_answer_ = new_folder("all-refused");
        menu_command(IDM_EXTRACT_ALL);
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].text.rfind("The cut list gives times of the selected recording", 0),
                  0u);
        EXPECT_EQ(last_folder_title_, "");
        auto [gui, cli] = extract_both("cut" + std::to_string(n++), c.options);
        ASSERT_FALSE(gui.empty());
        std::vector<uint8_t> mine = file_bytes(gui + "\\same" + c.extension);
        EXPECT_GT(mine.size(), 100000u);
        EXPECT_EQ(mine, file_bytes(cli + "\\same" + c.extension));
        if (c.kept_ms > 0) {
            quarrow::test::ProbedProgramStream ps =
                quarrow::test::probe_program_stream(mine, 1 << 30, 1 << 30);
            ASSERT_FALSE(ps.video.units.empty());
            int64_t first = INT64_MAX, last = 0;
            for (const quarrow::test::ProbedUnit& u : ps.video.units) {
                first = std::min(first, u.pts);
                last = std::max(last, u.pts);
            }
            const int64_t shown_ms = (last - first) / 27000 + 40;  // 25 pictures a second
            EXPECT_LE(std::abs(shown_ms - c.kept_ms), c.cuts * 480) << shown_ms;
        }
        // Another recording selected: the list, in the first one's time, is gone.
        select_recording(1);
        EXPECT_FALSE(menu_checked(IDM_CUT_LIST));
        menu_command(c.output);  // off again for the next case
    }
}

TEST_F(Extras, ExtractAllWritesWhatTheCommandLineWritesWithMetadata) {
    start();
    open_sample();
    menu_command(IDM_ONE_PLAYABLE_FILE);
    menu_command(IDM_WRITE_METADATA);
    std::string gui = new_folder("all-gui");
    std::string cli = new_folder("all-cli");
    folder_answer_ = gui;
    menu_command(IDM_EXTRACT_ALL);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "All 5 recordings were extracted to " + gui + ".");
    ASSERT_EQ(run_cli("extract \"" + sample_image_path() + "\" all -o \"" + cli +
                          "\" --mux --metadata --quiet",
                      folder_ + "\\cli.txt"),
              0);
    auto mine = files_in(gui);
    auto theirs = files_in(cli);
    ASSERT_EQ(mine.size(), 10u);  // a .mpg and a .json each
    ASSERT_EQ(mine.size(), theirs.size());
    for (size_t i = 0; i < mine.size(); ++i) {
        EXPECT_EQ(mine[i].first, theirs[i].first);
        // The metadata names the source as each program was given it.
        if (mine[i].first.find(".json") == std::string::npos) {
            EXPECT_EQ(mine[i].second, theirs[i].second) << mine[i].first;
        }
    }
}

TEST_F(Extras, ExtractAllGivesRecordingsOfOneTitleUniqueNames) {
    start();
    open_sample();
    // Two recordings of one title, as the receiver records a series.
    memcpy(app.recordings[1].display_title, app.recordings[0].display_title, TITLE_BYTES);
    app.recordings[3].display_title[0] = 0;  // and one without any title
    std::string gui = new_folder("unique");
    folder_answer_ = gui;
    menu_command(IDM_EXTRACT_ALL);
    ASSERT_EQ(boxes_.size(), 1u) << boxes_[0].text;
    std::vector<std::string> names;
    for (const auto& f : files_in(gui))
        if (f.first.find(".m2v") != std::string::npos) names.push_back(f.first);
    EXPECT_EQ(names, (std::vector<std::string>{"Nachrichten - Sud.m2v", "Recording 4.m2v",
                                               "Ski-WM Are (2).m2v", "Ski-WM Are.m2v",
                                               "Urlaubsfilm fur Oma.m2v"}));
}

TEST_F(Extras, RescueFromTheWindowGivesTheCommandLinesImageAndMapAndResumes) {
    start();
    open_sample();
    std::string image = folder_ + "\\window.hex";
    std::vector<std::string> texts;
    for (int run = 0; run < 2; ++run) {
        bool opened =
            with_modal_dialog([&] { menu_command(IDM_RESCUE_DISK); }, "Rescue Failing Disk",
                              [&](HWND w) {
                                  type_into(w, IDC_RESCUE_IMAGE, image);
                                  press(w, IDC_RESCUE_START);
                                  texts.push_back(text_of(w, IDC_RESCUE_STATUS));
                                  press(w, IDCANCEL);
                              });
        ASSERT_TRUE(opened);
    }
    // The second run finds image and map and goes on without asking to start over (an unanswered
    // question would have kept it from rescuing, and from its box).
    std::vector<std::string> shown = box_texts();
    ASSERT_EQ(shown.size(), 2u);
    for (const std::string& text : shown)
        EXPECT_EQ(text.rfind("Rescued 392.0 MB of 392.0 MB to " + image, 0), 0u) << text;
    EXPECT_EQ(texts, (std::vector<std::string>{"Done.", "Done."}));

    std::string cli = folder_ + "\\cli.hex";
    ASSERT_EQ(
        run_cli("rescue \"" + sample_image_path() + "\" \"" + cli + "\"", folder_ + "\\cli.txt"),
        0);
    EXPECT_EQ(first_difference(file_bytes(image), file_bytes(cli)), -1);
    EXPECT_EQ(map_without_comments(file_bytes(image + ".map")),
              map_without_comments(file_bytes(cli + ".map")));
}
#endif

}  // namespace
}  // namespace quarrow::ui::test
