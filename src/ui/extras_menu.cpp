#include "ui/extras_menu.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <set>

#include "disk/progress_text.h"
#include "extract/extraction_setup.h"
#include "extract/matroska_writer.h"
#include "fs/damaged_disk.h"
#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/background_work.h"
#include "ui/control_helpers.h"
#include "ui/cut_list_dialog.h"
#include "ui/extraction_panel.h"
#include "ui/message_boxes.h"
#include "ui/rescue_dialog.h"
#include "ui/settings.h"

namespace quarrow::ui {
namespace {

struct Toggle {
    int command;
    const char* setting;
};
const Toggle TOGGLES[] = {{IDM_ONE_PLAYABLE_FILE, SETTING_ONE_PLAYABLE_FILE},
                          {IDM_MATROSKA, SETTING_MATROSKA},
                          {IDM_SPLIT_4GB, SETTING_SPLIT_4GB},
                          {IDM_WRITE_METADATA, SETTING_WRITE_METADATA},
                          {IDM_SKIP_BAD, SETTING_SKIP_BAD}};

bool checked(int command) {
    return menu_is_checked(app.main_window, command) == 1;
}

void set_check(int command, bool on) {
    if (on)
        menu_check(app.main_window, command);
    else
        menu_uncheck(app.main_window, command);
}

const char* setting_of(int command) {
    for (const Toggle& t : TOGGLES)
        if (t.command == command) return t.setting;
    return nullptr;
}

// The one program stream and the Matroska file are two containers for the same pass: one at a
// time. Splitting applies to the program stream only.
void toggle_command(int command) {
    const bool on = !checked(command);
    set_check(command, on);
    write_setting(on ? 1 : 0, setting_of(command));
    int other = command == IDM_ONE_PLAYABLE_FILE ? IDM_MATROSKA
                : command == IDM_MATROSKA        ? IDM_ONE_PLAYABLE_FILE
                                                 : 0;
    if (on && other && checked(other)) {
        set_check(other, false);
        write_setting(0, setting_of(other));
    }
    apply_extras_to_panel();
}

// The walk's notices, kept for the metadata file, and passed on.
struct NoticeKeeper {
    const OperationHooks* outer;
    std::vector<std::string> notices;
};

void keep_notice(void* context, const char* text) {
    auto* k = static_cast<NoticeKeeper*>(context);
    k->notices.emplace_back(text);
    hook_notice(k->outer, text);
}

void pass_progress(void* context, int64_t done, int64_t total) {
    hook_progress(static_cast<NoticeKeeper*>(context)->outer, done, total);
}

bool pass_confirm(void* context, const char* text) {
    return hook_confirm(static_cast<NoticeKeeper*>(context)->outer, text);
}

bool pass_cancelled(void* context) {
    return hook_cancelled(static_cast<NoticeKeeper*>(context)->outer);
}

// Extract All: the batch's state, shared by the work and the window thread's view.
struct Batch {
    std::string folder;
    ExtractionRequest base;  // the panel's audio and sync choices
    ExtraChoices choices;
    int count = 0;
    int64_t total_sectors = 0;
    std::atomic<int> current{0};  // the recording being extracted, 0-based
    std::chrono::steady_clock::time_point started;
    // Filled by the work, read once it has returned.
    int extracted = 0;
    int failed = 0;
    bool stopped = false;
    std::vector<std::string> lines;
};

struct BatchProgress {
    Batch* batch;
    const OperationHooks* outer;
    int64_t before;  // sectors of the recordings before this one
    volatile std::sig_atomic_t stop;
};

void batch_progress(void* context, int64_t done, int64_t) {
    auto* p = static_cast<BatchProgress*>(context);
    hook_progress(p->outer, p->before + done, p->batch->total_sectors);
    // The user's Cancel reaches the walk through its interrupt flag, polled between blocks.
    if (hook_cancelled(p->outer)) p->stop = 1;
}

void batch_notice(void* context, const char* text) {
    hook_notice(static_cast<BatchProgress*>(context)->outer, text);
}

void extract_all_work(void* context, const OperationHooks* hooks) {
    auto* batch = static_cast<Batch*>(context);
    std::set<std::string> used;
    BatchProgress progress{batch, hooks, 0, 0};
    OperationHooks inner{};
    inner.context = &progress;
    inner.progress = batch_progress;
    inner.notice = batch_notice;
    for (int i = 0; i < batch->count; ++i) {
        if (hook_cancelled(hooks) || progress.stop) {
            batch->stopped = true;
            break;
        }
        batch->current = i;
        const RecordingEntry& e = app.recordings[i];
        std::string prefix = unique_prefix(default_prefix(e, i + 1), &used);
        ExtractionRequest request = batch->base;
        request.first_cluster = e.first_cluster;
        request.start = static_cast<int32_t>(e.start_offset);
        request.length = static_cast<int32_t>(e.length);
        request.path = batch->folder.c_str();
        request.prefix = prefix.c_str();
        request.hooks = &inner;
        request.interrupt = &progress.stop;
        hook_progress(hooks, progress.before, batch->total_sectors);
        ExtrasOutcome outcome = extract_with_extras(app.disk, e, i + 1, request, batch->choices);
        progress.before += e.length;
        if (outcome.result.interrupted) {
            batch->stopped = true;
            batch->lines.push_back(std::to_string(i + 1) + ". " + prefix + ": " + outcome.text);
            break;
        }
        if (outcome.ok) {
            ++batch->extracted;
        } else {
            ++batch->failed;
            batch->lines.push_back(std::to_string(i + 1) + ". " + prefix + ": " + outcome.text);
        }
    }
}

// "Recording 2 of 5: News (about 1:05 left)" in the status line, the bar over the whole batch.
void show_batch_progress(void* context, int64_t done, int64_t total) {
    auto* batch = static_cast<Batch*>(context);
    int i = batch->current;
    char text[TITLE_BYTES + 80];
    int n = snprintf(text, sizeof text, "Recording %d of %d: %s", i + 1, batch->count,
                     app.recordings[i].display_title);
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - batch->started).count();
    if (n > 0 && n < static_cast<int>(sizeof text) && done > 0 && total > done && elapsed > 1) {
        double left = elapsed * double(total - done) / double(done);
        snprintf(text + n, sizeof text - n, " (about %s left)", duration_text(left).c_str());
    }
    set_status(text);
    set_panel_progress(static_cast<int>(total > 0 ? done * 10000 / total : 0));
}

// The batch has ended: the button takes its own caption back, locked until the result is shown.
void batch_ended(void*) {
    set_item_text(app.panel_window, IDC_BEGIN_EXTRACTION, "Begin Extraction");
    disable_item(app.panel_window, IDC_BEGIN_EXTRACTION);
}

void extract_all_command() {
    if (!app.disk || app.recording_count <= 0) {
        show_info(app.main_window, "There are no recordings on this disk.");
        return;
    }
    if (cut_list_is_set()) {
        show_info(app.main_window,
                  "The cut list gives times of the selected recording; Extract All extracts "
                  "whole recordings. Clear the cut list (Extras, \"Cut List...\") first.");
        return;
    }
    char folder[PATH_SIZE] = {};
    if (!system_dialogs.browse_for_folder(app.main_window,
                                          "Select a Folder for All Recordings:", folder))
        return;
    HWND panel = app.panel_window;
    Batch batch;
    batch.folder = folder;
    batch.choices = extra_choices();
    batch.count = app.recording_count < MAX_RECORDINGS ? app.recording_count : MAX_RECORDINGS;
    for (int i = 0; i < batch.count; ++i)
        batch.total_sectors += app.recordings[i].length;
    if (panel) {
        batch.base.sync_tuning = trackbar_get_pos(panel, IDC_SYNC_TUNING);
        batch.base.auto_video_sync = IsDlgButtonChecked(panel, IDC_AUTO_VIDEO_SYNC) == BST_CHECKED;
        batch.base.audio_type = IsDlgButtonChecked(panel, IDC_AUDIO_MPG) == BST_CHECKED
                                    ? AUDIO_TYPE_MPG
                                    : AUDIO_TYPE_MP2;
        batch.base.no_video = IsDlgButtonChecked(panel, IDC_NO_VIDEO) == BST_CHECKED;
    }
    batch.started = std::chrono::steady_clock::now();
    lock_panel();
    progress_set_range(panel, IDC_PROGRESS, 0, 10000);
    WorkView view{&batch, show_batch_progress, nullptr};
    // As for one extraction, the panel's button reads "Cancel" while the batch runs.
    WorkOptions options;
    if (panel) {
        set_item_text(panel, IDC_BEGIN_EXTRACTION, "Cancel");
        enable_item(panel, IDC_BEGIN_EXTRACTION);
        options.cancel_control = GetDlgItem(panel, IDC_BEGIN_EXTRACTION);
        options.ended = batch_ended;
    }
    run_background_work(app.main_window, extract_all_work, &batch, view, options);
    unlock_panel();
    // The bar and the status line back to the selected recording.
    refresh_panel();
    set_panel_progress(0);

    std::string text;
    if (batch.stopped)
        text = "Cancelled: " + std::to_string(batch.extracted) + " of " +
               std::to_string(batch.count) +
               " recordings were extracted; the recording being extracted was left as an "
               "unfinished extraction leaves it.";
    else if (batch.failed == 0)
        text = "All " + std::to_string(batch.count) + " recordings were extracted to " +
               batch.folder + ".";
    else
        text = std::to_string(batch.extracted) + " of " + std::to_string(batch.count) +
               " recordings were extracted to " + batch.folder + "; " +
               std::to_string(batch.failed) + " could not be:";
    for (const std::string& line : batch.lines)
        text += "\n" + line;
    set_status(batch.stopped ? "Extraction cancelled." : "Ok.");
    if (batch.failed == 0 && !batch.stopped)
        show_info(app.main_window, text.c_str());
    else
        show_error(app.main_window, text.c_str());
}

}  // namespace

const char* cut_conflict_text(CutConflict conflict) {
    switch (conflict) {
        case CutConflict::needs_one_file:
            return "The cut list cuts the one-file output: choose \"One Playable File (.mpg)\" or "
                   "\"Matroska (.mkv)\" in the Extras menu, or clear the cut list.";
        case CutConflict::chapters_have_no_place:
            return "A program stream holds no chapters: choose \"Matroska (.mkv)\" for them, or "
                   "\"Write Metadata File\" to have them in the .json beside the .mpg.";
        case CutConflict::none:
            break;
    }
    return "";
}

ExtraChoices extra_choices() {
    ExtraChoices c;
    c.one_file = checked(IDM_ONE_PLAYABLE_FILE);
    c.matroska = checked(IDM_MATROSKA);
    c.split = checked(IDM_SPLIT_4GB);
    c.metadata = checked(IDM_WRITE_METADATA);
    c.skip_bad = checked(IDM_SKIP_BAD);
    c.cut = current_cut_list();
    return c;
}

void load_extras_settings() {
    for (const Toggle& t : TOGGLES) {
        DWORD value = 0;
        read_setting(&value, t.setting);
        set_check(t.command, value == 1);
    }
    // A cut list is recording time of one recording: a new start has none.
    clear_cut_list();
    // Both stored by hand: the one program stream wins.
    if (checked(IDM_ONE_PLAYABLE_FILE)) set_check(IDM_MATROSKA, false);
    apply_extras_to_panel();
}

void apply_extras_to_panel() {
    const bool one_file = checked(IDM_ONE_PLAYABLE_FILE) || checked(IDM_MATROSKA);
    if (one_file)
        disable_item(app.panel_window, IDC_AUDIO_MPG);
    else
        enable_item(app.panel_window, IDC_AUDIO_MPG);
    // Parts are cut from the one program stream only.
    if (checked(IDM_ONE_PLAYABLE_FILE))
        menu_enable(app.main_window, IDM_SPLIT_4GB);
    else
        menu_disable(app.main_window, IDM_SPLIT_4GB);
}

bool handle_extras_command(int command) {
    switch (command) {
        case IDM_ONE_PLAYABLE_FILE:
        case IDM_MATROSKA:
        case IDM_SPLIT_4GB:
        case IDM_WRITE_METADATA:
        case IDM_SKIP_BAD:
            toggle_command(command);
            return true;
        case IDM_EXTRACT_ALL:
            extract_all_command();
            return true;
        case IDM_CUT_LIST:
            open_cut_list_dialog(app.main_window);
            return true;
        case IDM_RESCUE_DISK:
            open_rescue_dialog(app.main_window);
            return true;
        default:
            return false;
    }
}

ExtrasOutcome extract_with_extras(DiskHandle disk, const RecordingEntry& entry, int number,
                                  ExtractionRequest request, const ExtraChoices& choices) {
    ExtrasOutcome out;
    const bool one_file = choices.one_file || choices.matroska;
    if (one_file && request.no_video) {
        out.text =
            "The one-file output holds video and audio together; uncheck \"No Video\" "
            "for it, or turn the one-file output off in the Extras menu.";
        return out;
    }
    const CutConflict conflict =
        cut_conflict(choices.cut, one_file, choices.matroska, choices.metadata);
    if (conflict != CutConflict::none) {
        out.text = cut_conflict_text(conflict);
        return out;
    }
    char refused[MESSAGE_SIZE] = {};
    if (!apply_cut(entry, choices.cut, &request, refused)) {
        out.text = refused;
        return out;
    }
    NoticeKeeper keeper{request.hooks, {}};
    OperationHooks hooks{};
    hooks.context = &keeper;
    hooks.progress = pass_progress;
    hooks.notice = keep_notice;
    hooks.confirm = pass_confirm;
    hooks.cancelled = pass_cancelled;
    request.hooks = &hooks;
    request.mux = one_file;
    if (choices.one_file && choices.split) request.split_bytes = FAT32_SPLIT_BYTES;
    MatroskaParams matroska;
    if (choices.matroska) {
        fill_matroska_params(entry, &matroska);
        request.matroska = &matroska;
    }
    if (choices.metadata) request.output_time = entry.start_time;
    DamagedReads damaged;
    damaged.skip_bad = true;
    if (choices.skip_bad) request.damaged = &damaged;

    char message[MESSAGE_SIZE] = {};
    out.ok = extract_recording(disk, request, message, &out.result) == 1;
    out.text = message;
    if (choices.skip_bad) {
        int64_t unreadable = 0;
        const int64_t from = request.start;
        const int64_t to = int64_t(request.start) + request.length;
        for (const std::string& line : damage_report_lines(damaged, entry, from, to, &unreadable))
            out.text += "\n" + line;
        // The files are kept, but a recording with holes is not a clean success.
        if (unreadable > 0) out.ok = false;
    }
    if (out.ok && choices.metadata) {
        std::string name;
        if (!write_metadata_file(entry, number, "", request.mux, out.result, keeper.notices,
                                 request.path, request.prefix, &name)) {
            out.ok = false;
            out.text = "Could not create output file. (" + name + ")";
        }
    }
    return out;
}

}  // namespace quarrow::ui
