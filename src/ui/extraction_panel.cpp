#include "ui/extraction_panel.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "disk/hooks.h"
#include "extract/extraction_engine.h"
#include "fs/disk_detection.h"
#include "fs/text_folding.h"
#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/background_work.h"
#include "ui/control_helpers.h"
#include "ui/cut_list_dialog.h"
#include "ui/extras_menu.h"
#include "ui/message_boxes.h"
#include "ui/panel_rules.h"
#include "ui/settings.h"

namespace quarrow::ui {
namespace {

// The button's own caption, which it takes back after reading "Cancel" during the walk.
constexpr const char* BEGIN_EXTRACTION_TEXT = "Begin Extraction";

HWND panel() {
    return app.panel_window;
}

void store_default_path(HWND window) {
    char path[PATH_SIZE] = {};
    GetDlgItemTextA(window, IDC_PATH, path, PATH_SIZE);
    write_default_path(path, PATH_SIZE);
}

void show_length_text(int sectors) {
    char text[40];
    snprintf(text, sizeof text, "%0.1f KB", sectors * 0.5);
    set_item_text(panel(), IDC_LENGTH_TEXT, text);
}

void show_start_text(int sector) {
    char text[40];
    snprintf(text, sizeof text, "%i Sectors", sector);
    set_item_text(panel(), IDC_START_TEXT, text);
}

// The engine reports sectors walked; the bar's range is the recording's length.
void progress_to_panel(void*, int64_t done, int64_t) {
    if (done < 0) done = 0;
    if (done > 0x7FFFFFFF) done = 0x7FFFFFFF;
    set_panel_progress(static_cast<int>(done));
}

// Skipped sectors and the like: the user sees them before the result box.
void notice_to_user(void*, const char* text) {
    show_error(nullptr, text);
}

// What the walk needs and what it gives back, kept apart from the window thread's state.
struct ExtractionWork {
    ExtractionRequest request;
    std::string path;
    std::string prefix;
    const RecordingEntry* entry = nullptr;
    int number = 0;
    ExtraChoices choices;
    ExtrasOutcome outcome;
};

void run_extraction(void* context, const OperationHooks* hooks) {
    auto* work = static_cast<ExtractionWork*>(context);
    work->request.hooks = hooks;
    work->outcome =
        extract_with_extras(app.disk, *work->entry, work->number, work->request, work->choices);
}

// The walk has ended: the button is "Begin Extraction" again, locked until the result is shown.
void extraction_ended(void*) {
    set_item_text(panel(), IDC_BEGIN_EXTRACTION, BEGIN_EXTRACTION_TEXT);
    disable_item(panel(), IDC_BEGIN_EXTRACTION);
}

void begin_extraction(HWND window) {
    // Pressed while the walk runs, the button reads "Cancel".
    if (background_work_running()) {
        cancel_background_work();
        return;
    }
    // Without a selected recording (an empty list) there is nothing to extract: the button is
    // disabled then, and a stray click must not reach into the recording array.
    const RecordingEntry* entry = recording_at(list_get_selection(window, IDC_RECORDING_LIST));
    if (!entry || !app.disk) return;

    lock_panel();
    char path[PATH_SIZE] = {};
    char prefix[PATH_SIZE] = {};
    GetDlgItemTextA(window, IDC_PATH, path, PATH_SIZE);
    GetDlgItemTextA(window, IDC_PREFIX, prefix, PATH_SIZE);

    ExtractionWork work;
    work.path = path;
    work.prefix = prefix;
    ExtractionRequest& request = work.request;
    request.first_cluster = entry->first_cluster;
    request.start = scroll_get_pos(window, IDC_START_SCROLL);
    request.length = scroll_get_pos(window, IDC_LENGTH_SCROLL);
    request.sync_tuning = trackbar_get_pos(window, IDC_SYNC_TUNING);
    request.auto_video_sync = IsDlgButtonChecked(window, IDC_AUTO_VIDEO_SYNC) == BST_CHECKED;
    request.audio_type =
        audio_type_for_button(IsDlgButtonChecked(window, IDC_AUDIO_MPG) == BST_CHECKED);
    request.no_video = IsDlgButtonChecked(window, IDC_NO_VIDEO) == BST_CHECKED;
    request.path = work.path.c_str();
    request.prefix = work.prefix.c_str();
    work.entry = entry;
    work.number = list_get_selection(window, IDC_RECORDING_LIST) + 1;
    work.choices = extra_choices();

    // While the walk runs the button is its Cancel.
    set_item_text(window, IDC_BEGIN_EXTRACTION, "Cancel");
    enable_item(window, IDC_BEGIN_EXTRACTION);
    WorkView view{nullptr, progress_to_panel, notice_to_user};
    WorkOptions options;
    options.cancel_control = GetDlgItem(window, IDC_BEGIN_EXTRACTION);
    options.bytes_per_unit = SECTOR_SIZE;
    options.unit = "sectors";
    options.ended = extraction_ended;
    run_background_work(app.main_window, run_extraction, &work, view, options);

    const ExtrasOutcome& outcome = work.outcome;
    if (outcome.ok) {
        show_info(window, outcome.text.c_str());
    } else if (outcome.result.interrupted) {
        // As the command line says it after Ctrl-C.
        std::string text = outcome.text;
        if (outcome.result.kept.empty()) text += " (no files were written for this recording)";
        show_error(window, text.c_str());
    } else {
        show_error(window, outcome.text.c_str());
    }
    unlock_panel();
    set_panel_progress(0);
}

void choose_folder_command() {
    char path[PATH_SIZE] = {};
    if (!choose_destination_folder(path)) return;
    set_path_text(path);
    write_default_path(path, PATH_SIZE);
}

// Both range bars share this; the trackbar also reports through WM_HSCROLL and is left to itself.
BOOL handle_scroll(HWND window, WPARAM wparam, LPARAM lparam) {
    HWND bar = reinterpret_cast<HWND>(lparam);
    if (!bar || (bar != GetDlgItem(window, IDC_START_SCROLL) &&
                 bar != GetDlgItem(window, IDC_LENGTH_SCROLL)))
        return FALSE;
    // The range follows the selected recording; with none selected there is nothing to follow.
    const RecordingEntry* entry = recording_at(list_get_selection(window, IDC_RECORDING_LIST));
    if (!entry) return FALSE;

    int code = LOWORD(wparam);
    if (code > SCROLL_PAGE_RIGHT && code != SCROLL_THUMB_TRACK) return FALSE;
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = code == SCROLL_THUMB_TRACK ? SIF_TRACKPOS : (SIF_RANGE | SIF_POS);
    scroll_get_info(bar, &info);
    int target = 0;
    if (!scroll_target(code, info.nPos, info.nMin, info.nMax, info.nTrackPos, &target))
        return FALSE;
    SCROLLINFO set = {};
    set.cbSize = sizeof set;
    set.fMask = SIF_POS;
    set.nPos = target;
    scroll_set_info(bar, &set);
    update_range_controls(entry->start_offset, entry->length);
    return TRUE;
}

BOOL handle_command(HWND window, WPARAM wparam) {
    // While a walk runs only its Cancel (the extraction's button) is heard.
    if (background_work_running() && LOWORD(wparam) != IDC_BEGIN_EXTRACTION) return TRUE;
    switch (LOWORD(wparam)) {
        case IDC_RECORDING_LIST: {
            const RecordingEntry* entry =
                recording_at(list_get_selection(window, IDC_RECORDING_LIST));
            if (entry) show_recording(*entry);
            return TRUE;
        }
        case IDC_BEGIN_EXTRACTION:
            begin_extraction(window);
            return TRUE;
        case IDC_CHOOSE_PATH:
            choose_folder_command();
            return TRUE;
        case IDC_AUDIO_MPG:
            write_setting(audio_type_for_button(true), SETTING_AUDIO_TYPE);
            return TRUE;
        case IDC_AUDIO_MP2:
            write_setting(audio_type_for_button(false), SETTING_AUDIO_TYPE);
            return TRUE;
        case IDC_NO_VIDEO:
            // Hidden, not disabled: their values still go to the extraction, where the video
            // sync has no effect without video.
            if (IsDlgButtonChecked(window, IDC_NO_VIDEO) == BST_CHECKED) {
                hide_item(window, IDC_AUTO_VIDEO_SYNC);
                hide_item(window, IDC_SYNC_TUNING);
                hide_item(window, IDC_SYNC_TUNING_LABEL);
            } else {
                show_item(window, IDC_AUTO_VIDEO_SYNC);
                show_item(window, IDC_SYNC_TUNING);
                show_item(window, IDC_SYNC_TUNING_LABEL);
            }
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK panel_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG: {
            // Known before the resize below, whose WM_SIZE moves the panel over the client area.
            app.panel_window = window;
            // The main window takes the panel's size plus its menu bar and caption.
            RECT r;
            GetWindowRect(window, &r);
            int height =
                (r.bottom - r.top) + GetSystemMetrics(SM_CYMENU) + GetSystemMetrics(SM_CYCAPTION);
            SetWindowPos(GetParent(window), nullptr, 0, 0, r.right - r.left, height,
                         SWP_NOMOVE | SWP_NOZORDER);
            return TRUE;
        }
        case WM_CLOSE:
            if (background_work_running()) return TRUE;
            store_default_path(window);
            DestroyWindow(window);
            app.panel_window = nullptr;
            return TRUE;
        case WM_DESTROY:
            store_default_path(window);
            // Also destroyed with the main window: no handle to a panel that is gone.
            if (app.panel_window == window) app.panel_window = nullptr;
            return TRUE;
        case WM_COMMAND:
            return handle_command(window, wparam);
        case WM_HSCROLL:
            if (background_work_running()) return TRUE;
            return handle_scroll(window, wparam, lparam);
        default:
            return FALSE;
    }
}

void set_status(const char* text) {
    set_item_text(panel(), IDC_STATUS, text);
}

void set_panel_progress(int value) {
    progress_set_pos(panel(), IDC_PROGRESS, value);
}

void set_path_text(const char* text) {
    SetDlgItemTextA(panel(), IDC_PATH, text);
}

void set_range_controls(uint32_t start_offset, uint32_t length) {
    scroll_setup(panel(), IDC_START_SCROLL, 0, start_scroll_max(length), 1,
                 static_cast<int>(start_offset));
    scroll_setup(panel(), IDC_LENGTH_SCROLL, 1, static_cast<int>(length), 1,
                 static_cast<int>(length));
    show_start_text(static_cast<int>(start_offset));
    show_length_text(static_cast<int>(length));
}

void update_range_controls(uint32_t start_offset, uint32_t length) {
    int start = scroll_get_pos(panel(), IDC_START_SCROLL);
    show_start_text(start);
    int max = length_scroll_max(length, start_offset, start);
    int pos = scroll_get_pos(panel(), IDC_LENGTH_SCROLL);
    scroll_setup(panel(), IDC_LENGTH_SCROLL, 1, max, 1, pos > max ? max : pos);
    show_length_text(scroll_get_pos(panel(), IDC_LENGTH_SCROLL));
}

void show_recording(RecordingEntry entry) {
    HWND window = panel();
    // With neither title the display title is the channel name, which the title field does not
    // repeat.
    bool titled = entry.default_title[0] || entry.user_title[0];
    set_item_text(window, IDC_TITLE, titled ? entry.display_title : "[no title]");
    set_item_text(window, IDC_CHANNEL, entry.channel);
    set_item_text(window, IDC_TYPE, entry.attribute_text);
    set_item_text(window, IDC_DATE, entry.date_text);
    char text[64];
    snprintf(text, sizeof text, "%i MB", static_cast<int>(recording_size_mb(entry.length)));
    set_item_text(window, IDC_RECORDING_SIZE, text);
    snprintf(text, sizeof text, "%02i:%02i:%02i", entry.hours, entry.minutes, entry.seconds);
    set_item_text(window, IDC_DURATION, text);
    char prefix[TITLE_BYTES];
    memcpy(prefix, entry.display_title, sizeof prefix);
    prefix[sizeof prefix - 1] = 0;
    fold_to_ascii(prefix);
    set_item_text(window, IDC_PREFIX, prefix);
    set_range_controls(entry.start_offset, entry.length);
    progress_set_range(window, IDC_PROGRESS, 0, static_cast<int>(entry.length));
    cut_list_follow_selection(entry);
}

void fill_recording_list() {
    HWND window = panel();
    list_reset(window, IDC_RECORDING_LIST);
    int count = app.recording_count < MAX_RECORDINGS ? app.recording_count : MAX_RECORDINGS;
    for (int i = 0; i < count; ++i) {
        char line[TITLE_BYTES + 16];
        snprintf(line, sizeof line, "%d. %s", i + 1, app.recordings[i].display_title);
        list_add(window, IDC_RECORDING_LIST, line);
    }
    list_select(window, IDC_RECORDING_LIST, 0);
}

void refresh_panel() {
    HWND window = panel();
    for (int command : DISK_COMMANDS) {
        if (app.disk)
            menu_enable(app.main_window, command);
        else
            menu_disable(app.main_window, command);
    }
    if (!window) return;
    if (app.recording_count > 0) {
        fill_recording_list();
        const RecordingEntry* entry = recording_at(list_get_selection(window, IDC_RECORDING_LIST));
        if (!entry) return;
        show_recording(*entry);
        enable_item(window, IDC_BEGIN_EXTRACTION);
        enable_item(window, IDC_START_SCROLL);
        enable_item(window, IDC_LENGTH_SCROLL);
        return;
    }
    set_item_text(window, IDC_TITLE, "[no recording available]");
    set_item_text(window, IDC_CHANNEL, "");
    set_item_text(window, IDC_TYPE, "");
    set_item_text(window, IDC_DATE, "");
    set_item_text(window, IDC_PREFIX, "");
    set_item_text(window, IDC_RECORDING_SIZE, "0 MB");
    set_item_text(window, IDC_DURATION, "00:00:00");
    set_range_controls(0, 0);
    list_reset(window, IDC_RECORDING_LIST);
    disable_item(window, IDC_BEGIN_EXTRACTION);
    disable_item(window, IDC_START_SCROLL);
    disable_item(window, IDC_LENGTH_SCROLL);
}

void rescan_disk() {
    close_open_disk();
    char message[MESSAGE_SIZE] = {};
    bool want_write = menu_is_checked(app.main_window, IDM_ALLOW_DISK_WRITE) == 1;
    app.disk = detect_disk(&app.recording_count, app.recordings, want_write, message);
    app.disk_size_mb = app.disk ? static_cast<uint32_t>(drive_size_mb(app.disk)) : 0;
    set_status(message);
    refresh_panel();
}

void lock_panel() {
    disable_item(panel(), IDC_BEGIN_EXTRACTION);
    for (int command : EXTRACTION_LOCKED_COMMANDS)
        menu_disable(app.main_window, command);
}

void unlock_panel() {
    enable_item(panel(), IDC_BEGIN_EXTRACTION);
    for (int command : EXTRACTION_LOCKED_COMMANDS)
        menu_enable(app.main_window, command);
}

int choose_destination_folder(char* path) {
    return system_dialogs.browse_for_folder(
        nullptr, "Select a Destination Directory for the Extraction:", path);
}

void set_panel_defaults() {
    HWND window = panel();
    disable_item(window, IDC_BEGIN_EXTRACTION);
    disable_item(window, IDC_START_SCROLL);
    disable_item(window, IDC_LENGTH_SCROLL);
    scroll_enable_arrows(window, IDC_START_SCROLL);
    scroll_enable_arrows(window, IDC_LENGTH_SCROLL);
    CheckDlgButton(window, IDC_AUTO_VIDEO_SYNC, BST_CHECKED);
    trackbar_set_range(window, IDC_SYNC_TUNING, SYNC_TUNING_MIN, SYNC_TUNING_MAX);
}

void check_audio_button(DWORD audio_type) {
    CheckRadioButton(panel(), IDC_AUDIO_MPG, IDC_AUDIO_MP2, audio_button_for_setting(audio_type));
}

}  // namespace quarrow::ui
