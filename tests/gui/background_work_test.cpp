// Long operations away from the window thread: the main window answers another process while
// they run, and Cancel (the button, Esc, closing the main window) stops them at a safe point with
// the files and the disk left as the output rule and the maintenance steps leave them.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "fs/backup_restore.h"
#include "fs/diagnostics.h"
#include "gui/dialog_fixture.h"
#include "resources/resource.h"
#include "support/disk_probe.h"
#include "ui/app_state.h"
#include "ui/application_shell.h"
#include "ui/background_work.h"
#include "ui/dump_dialog.h"
#include "ui/recording_management.h"

namespace quarrow::ui::test {
namespace {

using quarrow::test::TestDisk;
using quarrow::test::TestRecording;

// Holds the work on its thread as slow reads would, so that it lasts about `seconds` whatever the
// machine's speed; at the first report it sets `started`, at the last (a unit or a hundredth
// before the end) `finishing`, and once half the work is done it runs `at_half` (on the worker:
// it may only post).
struct Pace {
    double seconds = 0;
    HANDLE started = nullptr;
    HANDLE finishing = nullptr;
    std::function<void()> at_half;
    DWORD begun = 0;
    bool half_seen = false;

    static void hold(void* context, int64_t done, int64_t total) {
        auto* pace = static_cast<Pace*>(context);
        if (!pace->begun) {
            pace->begun = GetTickCount();
            if (pace->started) SetEvent(pace->started);
        }
        if (total <= 0) return;
        if (!pace->half_seen && done * 2 >= total && pace->at_half) {
            pace->half_seen = true;
            pace->at_half();
        }
        const double due = pace->seconds * 1000.0 * static_cast<double>(done) / total;
        const DWORD elapsed = GetTickCount() - pace->begun;
        if (due > elapsed) Sleep(static_cast<DWORD>(due - elapsed));
        const int64_t margin = total / 100 > 1 ? total / 100 : 1;
        if (pace->finishing && done >= total - margin) SetEvent(pace->finishing);
    }
};

class Background : public DialogTest {
  protected:
    void TearDown() override {
        set_background_work_pacer(nullptr, nullptr);
        DialogTest::TearDown();
    }
    void pace(Pace* p) { set_background_work_pacer(Pace::hold, p); }

    // The output goes to a folder of the run named name, fresh for each use.
    void open_sample_with_longest(const char* name) {
        start_with_image(sample_image_path());
        int best = 0;
        for (int i = 1; i < app.recording_count; ++i)
            if (app.recordings[i].length > app.recordings[best].length) best = i;
        select_recording(best);
        output_ = new_folder(name);
        for (const auto& f : output_files())
            DeleteFileA((output_ + "\\" + f.first).c_str());
        SetDlgItemTextA(app.panel_window, IDC_PATH, output_.c_str());
        SetDlgItemTextA(app.panel_window, IDC_PREFIX, "walk");
    }
    // Names and contents of the files in the output folder.
    std::vector<std::pair<std::string, std::vector<uint8_t>>> output_files() {
        std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((output_ + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return files;
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            files.emplace_back(found.cFileName, file_bytes(output_ + "\\" + found.cFileName));
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return files;
    }
    void put_file(const std::string& name, const std::string& text) {
        HANDLE f = CreateFileA((output_ + "\\" + name).c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(f);
    }
    std::string output_;
};

#if defined(QUARROW_GUI_DRIVER_PATH)
// The probe of another process: WM_NULL to the main window every 100 ms from the work's first
// progress report to its last.
struct ProbeResult {
    int sent = 0;
    int answered = 0;
    unsigned long longest_ms = 0;
};

// Waits for handle while the test's thread goes on answering its windows' messages.
bool wait_pumping(HANDLE handle, DWORD most_ms) {
    const DWORD from = GetTickCount();
    while (GetTickCount() - from < most_ms) {
        if (MsgWaitForMultipleObjects(1, &handle, FALSE, 100, QS_ALLINPUT) == WAIT_OBJECT_0)
            return true;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
    return false;
}

ProbeResult probe_while(HWND window, const std::string& folder, Pace* pace,
                        const std::function<void()>& work, DWORD* work_ms) {
    char base[64];
    snprintf(base, sizeof base, "QuarrowProbe-%lu-%lu", GetCurrentProcessId(), GetTickCount());
    const std::string names[3] = {std::string(base) + "-ready", std::string(base) + "-go",
                                  std::string(base) + "-stop"};
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, names[0].c_str());
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, names[1].c_str());
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, names[2].c_str());
    // Measured from the work's first report to its last: the windows shown and removed around
    // it are not, since under Wine on a bare X server each takes about two seconds.
    pace->started = go;
    pace->finishing = stop;
    char handle[32];
    snprintf(handle, sizeof handle, "%llu",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
    std::string arguments = std::string("probe ") + handle;
    for (const std::string& name : names)
        arguments += " " + name;
    std::string output = folder + "\\probe.txt";
    ProbeResult result;
    PROCESS_INFORMATION process;
    if (start_program(QUARROW_GUI_DRIVER_PATH, arguments, output, &process)) {
        EXPECT_TRUE(wait_pumping(ready, 60000));
        const DWORD before = GetTickCount();
        work();
        *work_ms = GetTickCount() - before;
        SetEvent(go);
        SetEvent(stop);
        // Its last probe is answered here.
        EXPECT_TRUE(wait_pumping(process.hProcess, 30000));
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    for (HANDLE h : {ready, go, stop})
        CloseHandle(h);
    pace->started = pace->finishing = nullptr;
    std::vector<uint8_t> text = file_bytes(output);
    std::string s(text.begin(), text.end());
    sscanf(s.c_str(), "%d %d %lu", &result.sent, &result.answered, &result.longest_ms);
    return result;
}

TEST_F(Background, TheMainWindowAnswersAnotherProcessThroughoutLongWork) {
    const std::function<void()> extraction = [this] {
        click(IDC_BEGIN_EXTRACTION);
        EXPECT_EQ(boxes_.back().text, "The extraction has completed successfully.");
    };
    const std::function<void()> dump = [this] {
        HWND w = open_dialog(IDD_DUMP, dump_dialog_proc);
        type_into(w, IDC_DUMP_COUNT, "3");
        SetDlgItemTextA(w, IDC_DUMP_PATH, (output_ + "\\dump.hex").c_str());
        press(w, IDOK);
        EXPECT_EQ(boxes_.back().text, "Operation successfully completed.");
    };
    const struct {
        const char* name;
        const std::function<void()>& run;
    } cases[] = {{"extraction", extraction}, {"dump", dump}};
    open_sample_with_longest("background-probe");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Pace p;
        p.seconds = 4.5;
        pace(&p);
        DWORD work_ms = 0;
        ProbeResult r = probe_while(app.main_window, folder_, &p, c.run, &work_ms);
        EXPECT_GE(work_ms, 3000u);
        EXPECT_GE(r.sent, 25);
        EXPECT_EQ(r.answered, r.sent);
        EXPECT_LE(r.longest_ms, 250u);
        printf("%s: %lu ms of work, %d probes, %d answered, longest wait %lu ms\n", c.name,
               static_cast<unsigned long>(work_ms), r.sent, r.answered, r.longest_ms);
    }
}
#endif

TEST_F(Background, CancelStopsTheExtractionAndLeavesFilesByTheOutputRule) {
    struct Case {
        const char* name;
        const char* folder;
        bool earlier_files;
        // How the user cancels, posted from the middle of the walk.
        void (*cancel)();
        std::vector<int> answers;
    };
    const Case cases[] = {
        {"the button reading Cancel",
         "cancel-button",
         true,
         [] {
             HWND button = GetDlgItem(app.panel_window, IDC_BEGIN_EXTRACTION);
             PostMessageA(app.panel_window, WM_COMMAND,
                          MAKEWPARAM(IDC_BEGIN_EXTRACTION, BN_CLICKED),
                          reinterpret_cast<LPARAM>(button));
         },
         {}},
        {"Esc",
         "cancel-esc",
         false,
         [] { PostMessageA(app.panel_window, WM_KEYDOWN, VK_ESCAPE, 0); },
         {}},
        {"closing the main window",
         "cancel-close",
         true,
         [] { PostMessageA(app.main_window, WM_CLOSE, 0, 0); },
         {IDYES}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        open_sample_with_longest(c.folder);
        if (c.earlier_files) {
            put_file("walk.m2v", "earlier video");
            put_file("walk.mp2", "earlier audio");
        }
        auto earlier = output_files();
        Pace p;
        p.seconds = 2;
        // What the button and the status line say half way (read from the worker: the window
        // thread answers), then the Cancel.
        std::string button_during, status_during;
        p.at_half = [&] {
            char text[256] = {};
            GetWindowTextA(GetDlgItem(app.panel_window, IDC_BEGIN_EXTRACTION), text, sizeof text);
            button_during = text;
            GetWindowTextA(GetDlgItem(app.panel_window, IDC_STATUS), text, sizeof text);
            status_during = text;
            c.cancel();
        };
        pace(&p);
        answers_.assign(c.answers.begin(), c.answers.end());
        const std::string status_before = item_text(IDC_STATUS);
        click(IDC_BEGIN_EXTRACTION);
        std::vector<std::string> texts;
        for (const ShownBox& b : boxes_)
            texts.push_back(b.text);
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(button_during, "Cancel");
        // "9.2 of 18.4 MB  9.1 MB/s  1 s left", the detection's text again afterwards.
        EXPECT_NE(status_during.find(" of "), std::string::npos) << status_during;
        EXPECT_NE(status_during.find(" MB/s  "), std::string::npos) << status_during;
        EXPECT_NE(status_during.find(" left"), std::string::npos) << status_during;
        EXPECT_EQ(item_text(IDC_STATUS), status_before);
        EXPECT_EQ(texts.back().rfind("The extraction was interrupted.", 0), 0u) << texts.back();
        EXPECT_EQ(item_text(IDC_BEGIN_EXTRACTION), "Begin Extraction");
        EXPECT_TRUE(enabled(IDC_BEGIN_EXTRACTION));
        auto after = output_files();
        for (const auto& f : after)
            EXPECT_EQ(f.first.find(".part"), std::string::npos) << f.first;
        if (c.earlier_files) {
            EXPECT_EQ(after, earlier);
            EXPECT_NE(std::find(texts.begin(), texts.end(),
                                "Files of the same names existed before; they were left as they "
                                "were."),
                      texts.end());
        } else {
            // What the walk wrote before the Cancel stays where no file was: never the whole.
            EXPECT_EQ(texts.front().rfind("The extraction stopped after ", 0), 0u) << texts.front();
            for (const auto& f : after)
                EXPECT_LT(f.second.size(), 3u * 8u * 1024u * 1024u) << f.first;
        }
        if (c.answers.empty()) {
            EXPECT_TRUE(IsWindow(app.main_window));
        } else {
            EXPECT_EQ(texts.front(), CLOSE_DURING_WORK_QUESTION);
            // The window closes once the work has stopped, from the program's loop.
            EXPECT_TRUE(IsWindow(app.main_window));
            close_if_pending();
            EXPECT_FALSE(IsWindow(app.main_window));
        }
        TearDown();
        SetUp();
    }
}

TEST_F(Background, CancelDuringARestoreLeavesAConsistentDiskWithTheFilesNotBegunLeft) {
    TestRecording beta;
    beta.default_title = "Beta";
    beta.data.assign(40000, 0x5A);
    TestDisk source;
    source.cluster_count = 8;
    source.recordings = {beta};
    std::string source_image = make_image(source, "source.hex");
    {
        quarrow::test::LoadedImage core(source_image, false);
        char message[MESSAGE_SIZE] = {};
        ASSERT_TRUE(
            backup_recording(core.disk, 0, (folder_ + "\\a.mmr").c_str(), nullptr, message));
        ASSERT_TRUE(
            backup_recording(core.disk, 0, (folder_ + "\\b.mmr").c_str(), nullptr, message));
    }
    TestDisk target;
    target.cluster_count = 12;
    std::string image = make_image(target, "target.hex");
    start_with_image(image);
    HWND w = open_dialog(IDD_RECORDING_MANAGEMENT, recording_management_proc);
    Pace p;
    p.seconds = 1;
    // The Please Wait window's Cancel, pressed during the first file.
    p.at_half = [] {
        HWND wait = FindWindowA(MAKEINTATOM(32770), "Please Wait");
        PostMessageA(wait, WM_COMMAND, MAKEWPARAM(IDC_WAIT_CANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(wait, IDC_WAIT_CANCEL)));
    };
    pace(&p);
    open_file_answer_ = folder_ + std::string(1, '\0') + "a.mmr" + std::string(1, '\0') + "b.mmr";
    press(w, IDM_RESTORE_FROM_FILE, 0);
    EXPECT_EQ(box_texts(),
              (std::vector<std::string>{"Restore Operation Successful.",
                                        "Interrupted; the files not yet restored were left."}));
    EXPECT_EQ(app.recording_count, 1);
    close_open_disk();
    quarrow::test::LoadedImage after(image, false);
    FatStatistics stats;
    ChainReport report;
    ASSERT_TRUE(gather_fat_statistics(after.disk, &stats, &report));
    DiagnosticsTexts texts;
    format_diagnostics(stats, 1, &texts);
    EXPECT_STREQ(texts.termination, "Correct");
    EXPECT_STREQ(texts.integrity, "Correct");
    EXPECT_STREQ(texts.crc, "Correct");
    EXPECT_STREQ(texts.strings, "1 [Ok]");
}

}  // namespace
}  // namespace quarrow::ui::test
