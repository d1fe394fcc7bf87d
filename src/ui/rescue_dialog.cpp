#include "ui/rescue_dialog.h"

#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "disk/rescue_files.h"
#include "disk/system_error.h"
#include "fs/disk_rescue.h"
#include "fs/disk_session.h"
#include "fs/layout.h"
#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/background_work.h"
#include "ui/control_helpers.h"
#include "ui/message_boxes.h"
#include "ui/settings.h"

namespace quarrow::ui {
namespace {

constexpr int PROGRESS_STEPS = 1000;
constexpr int INPUTS[] = {IDC_RESCUE_IMAGE, IDC_RESCUE_IMAGE_BROWSE, IDC_RESCUE_MAP,
                          IDC_RESCUE_MAP_BROWSE, IDC_RESCUE_START};

struct Rescue {
    HWND window;
    DiskRescueRequest request;
    DiskRescueResult result;
    char message[MESSAGE_SIZE] = {};
    int64_t size = 0;
    int64_t finished_at_start = 0;
    std::chrono::steady_clock::time_point started;
    std::vector<std::string> notices;  // the recordings' shares, kept for the result
};

bool running = false;

std::string item_string(HWND window, int id) {
    char text[PATH_SIZE] = {};
    GetDlgItemTextA(window, id, text, sizeof text);
    return text;
}

void browse(HWND window, int id, const char* title, const char* filter, const char* extension) {
    char file[PATH_SIZE] = {};
    GetDlgItemTextA(window, id, file, sizeof file);
    OPENFILENAMEA request = {};
    request.lStructSize = sizeof request;
    request.hwndOwner = window;
    request.lpstrFilter = filter;
    request.nFilterIndex = 1;
    request.lpstrFile = file;
    request.nMaxFile = sizeof file;
    request.lpstrTitle = title;
    // No overwrite question: an existing image and map are how a rescue goes on.
    request.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    request.lpstrDefExt = extension;
    if (!system_dialogs.save_file(&request)) return;
    SetDlgItemTextA(window, id, file);
    if (id == IDC_RESCUE_IMAGE && item_string(window, IDC_RESCUE_MAP).empty())
        SetDlgItemTextA(window, IDC_RESCUE_MAP, (std::string(file) + ".map").c_str());
}

void rescue_work(void* context, const OperationHooks* hooks) {
    auto* r = static_cast<Rescue*>(context);
    r->result = rescue_disk(&r->request, hooks, r->message);
}

// "Rescued 12.5 MB of 40.0 MB, 3.1 MB/s, 0:09 left" and the bar: bytes finished of the source.
void show_progress(void* context, int64_t done, int64_t total) {
    auto* r = static_cast<Rescue*>(context);
    if (total <= 0) return;
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - r->started).count();
    std::string text = "Rescued " + rescue_size_text(done) + " of " + rescue_size_text(total) +
                       ", " + rescue_pace_text(done - r->finished_at_start, total - done, elapsed);
    set_item_text(r->window, IDC_RESCUE_STATUS, text.c_str());
    progress_set_pos(r->window, IDC_RESCUE_PROGRESS,
                     static_cast<int>(done * PROGRESS_STEPS / total));
}

void keep_notice(void* context, const char* text) {
    static_cast<Rescue*>(context)->notices.emplace_back(text);
}

void set_inputs(HWND window, bool on) {
    for (int id : INPUTS)
        if (on)
            enable_item(window, id);
        else
            disable_item(window, id);
}

std::string result_text(const Rescue& r, const std::string& image, const std::string& map_path) {
    const RescueMap& map = *r.request.map;
    const int64_t finished = map_status_bytes(map, MAP_FINISHED);
    const int64_t bad = map_status_bytes(map, MAP_BAD);
    std::string text = "Rescued " + rescue_size_text(finished) + " of " +
                       rescue_size_text(map.size()) + " to " + image + "; map in " + map_path + ".";
    if (bad == 0 && finished == map.size()) return text;
    for (const RecordingRescue& rec : r.result.recordings)
        if (rec.missing > 0) text += "\n" + recording_rescue_text(rec);
    if (bad > 0)
        text += "\n" + std::to_string(bad / SECTOR_SIZE) +
                " unreadable sectors were read as zeros in the image. Rescuing again into the "
                "same image and map tries them once more.";
    return text;
}

void start_rescue(HWND window) {
    if (!app.disk) {
        show_info(window, "A MediaMaster Disk must be detected before you can use this option.");
        return;
    }
    const std::string image = item_string(window, IDC_RESCUE_IMAGE);
    std::string map_path = item_string(window, IDC_RESCUE_MAP);
    if (image.empty()) {
        show_info(window, "You must set a destination path!");
        return;
    }
    if (map_path.empty()) map_path = image + ".map";
    uint64_t size = 0;
    if (!app.disk->size_bytes || !app.disk->size_bytes(app.disk, &size) || size == 0) {
        show_error(window, "Could not tell the size of the open disk.");
        return;
    }
    RescueMap map;
    std::string message;
    std::vector<std::string> notices;
    RescueSetup setup = prepare_rescue_files(app.disk, int64_t(size), image, map_path, false, &map,
                                             &message, &notices);
    if (setup == RescueSetup::needs_consent) {
        if (!ask_confirmation(window, message.c_str())) return;
        setup = prepare_rescue_files(app.disk, int64_t(size), image, map_path, true, &map, &message,
                                     &notices);
    }
    if (setup != RescueSetup::ready) {
        show_error(window, message.c_str());
        return;
    }
    // The image through the disk session: never the open disk itself, grown only under its lock.
    DiskSession target;
    clear_system_failure();
    if (!open_rescue_image(&target, app.disk, image.c_str(), int64_t(size))) {
        show_error(window, rescue_image_refusal(target, image).c_str());
        return;
    }

    Rescue r;
    r.window = window;
    r.size = int64_t(size);
    r.request.source = app.disk;
    r.request.image = target.disk;
    r.request.map = &map;
    r.request.map_path = map_path;
    r.request.map_comment = "Windows program: Rescue Failing Disk into " + image;
    r.finished_at_start = map_status_bytes(map, MAP_FINISHED);
    r.notices = notices;
    r.started = std::chrono::steady_clock::now();
    std::string first = notices.empty() ? "Rescuing..." : notices.back();
    set_item_text(window, IDC_RESCUE_STATUS, first.c_str());
    set_inputs(window, false);
    running = true;
    // The main window is the work's owner: this dialog stays able to take its Cancel.
    WorkView view{&r, show_progress, keep_notice};
    run_background_work(app.main_window, rescue_work, &r, view);
    running = false;
    set_inputs(window, true);
    const bool closed = commit_session(&target);

    std::string text;
    if (r.result.status == RESCUE_FAILED) {
        text = r.message;
        if (!r.result.map_message.empty() && r.result.map_message != r.message)
            text += "\n" + r.result.map_message;
        if (!r.result.map_saved)
            text += "\n" + map_path +
                    " holds the rescue as of its last save; rescuing again into the same image "
                    "and map resumes from there.";
        show_error(window, text.c_str());
        return;
    }
    if (!closed) {
        show_error(window,
                   "The system could not confirm that the image's writes reached the disk.");
        return;
    }
    if (r.result.status == RESCUE_STOPPED) {
        text = "Cancelled: " + image + " and " + map_path +
               " hold what was rescued so far; rescue again into the same image and map to go on.";
        set_item_text(window, IDC_RESCUE_STATUS, "Cancelled.");
        show_info(window, text.c_str());
        return;
    }
    text = result_text(r, image, map_path);
    set_item_text(window, IDC_RESCUE_STATUS, "Done.");
    progress_set_pos(window, IDC_RESCUE_PROGRESS, PROGRESS_STEPS);
    if (map_status_bytes(map, MAP_BAD) == 0 && map_status_bytes(map, MAP_FINISHED) == map.size())
        show_info(window, text.c_str());
    else
        show_error(window, text.c_str());
}

void show_source(HWND window) {
    char text[MESSAGE_SIZE + 64] = {};
    char status[MESSAGE_SIZE] = {};
    if (app.panel_window) GetDlgItemTextA(app.panel_window, IDC_STATUS, status, sizeof status);
    uint64_t size = 0;
    if (app.disk && app.disk->size_bytes && app.disk->size_bytes(app.disk, &size))
        snprintf(text, sizeof text, "%s (%s)", status, rescue_size_text(int64_t(size)).c_str());
    else
        snprintf(text, sizeof text, "No disk is open.");
    SetDlgItemTextA(window, IDC_RESCUE_SOURCE, text);
}

}  // namespace

INT_PTR CALLBACK rescue_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            show_source(window);
            progress_set_range(window, IDC_RESCUE_PROGRESS, 0, PROGRESS_STEPS);
            if (!app.disk) disable_item(window, IDC_RESCUE_START);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wparam)) {
                case IDC_RESCUE_IMAGE_BROWSE:
                    browse(window, IDC_RESCUE_IMAGE, "Specify the Image file of the Rescue",
                           "Disk Image (*.hex)\0*.hex\0All Files\0*.*\0", "hex");
                    return TRUE;
                case IDC_RESCUE_MAP_BROWSE:
                    browse(window, IDC_RESCUE_MAP, "Specify the Map file of the Rescue",
                           "Rescue Map (*.map)\0*.map\0All Files\0*.*\0", "map");
                    return TRUE;
                case IDC_RESCUE_START:
                    start_rescue(window);
                    return TRUE;
                case IDCANCEL:
                    // While the rescue runs Cancel (and Esc, and the close box) stops it at the
                    // next read; the dialog closes only once it has.
                    if (running)
                        cancel_background_work();
                    else
                        EndDialog(window, IDCANCEL);
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

void open_rescue_dialog(HWND owner) {
    DialogBoxParamA(app.instance, MAKEINTRESOURCEA(IDD_RESCUE), owner, rescue_dialog_proc, 0);
}

}  // namespace quarrow::ui
