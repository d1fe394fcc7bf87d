#include "ui/recording_management.h"

#include <cstdio>
#include <cstring>

#include "fs/backup_restore.h"
#include "fs/disk_detection.h"
#include "fs/disk_session.h"
#include "fs/recording_editing.h"
#include "fs/recovery.h"
#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/background_work.h"
#include "ui/control_helpers.h"
#include "ui/message_boxes.h"
#include "ui/please_wait.h"
#include "ui/settings.h"
#include "ui/tool_windows.h"

namespace quarrow::ui {
namespace {

// The controls that are usable exactly while there are recordings to show.
constexpr int DETAIL_CONTROLS[] = {IDC_USER_TITLE, IDC_CHANNEL_NAME, IDC_PERMANENT,
                                   IDC_PAUSE,      IDC_LOCKED,       IDC_RESET,
                                   IDC_APPLY,      IDC_DELETE_RECORD};

constexpr int LIST_LINE_SIZE = 60;

constexpr const char* BACKUP_FILTER = "MediaMaster Recording (*.mmr)\0*.mmr\0";

// One change to the open disk through the session: the one-writer lock for its length, and the
// flush before the window may say it is done.
struct DiskWrite {
    WritableDisk disk;
    char refusal[MESSAGE_SIZE] = {};
    bool begin() { return begin_disk_write(app.disk, &disk, refusal); }
    // False, with the box shown, when the system could not confirm the changes.
    bool end(HWND window) {
        if (end_disk_write(&disk)) return true;
        show_error(window, FLUSH_FAILED_MESSAGE);
        return false;
    }
    ~DiskWrite() {
        if (disk) end_disk_write(&disk);
    }
};

template <typename Step>
void call_step(void* context, const OperationHooks* hooks) {
    (*static_cast<Step*>(context))(hooks);
}

// A long step (backup, restore, reclaim) away from the window thread, behind the Please Wait
// window with its Cancel; its questions are asked by boxes owned by window. True when the user
// asked to stop meanwhile.
template <typename Step>
bool run_step(HWND window, int64_t bytes_per_unit, Step step) {
    HWND wait = show_please_wait(app.main_window);
    WorkView view{wait, wait ? move_please_wait_bar : nullptr, nullptr};
    WorkOptions options;
    options.bytes_per_unit = bytes_per_unit;
    options.unit = "clusters";
    bool cancelled = run_background_work(window, call_step<Step>, &step, view, options);
    close_please_wait(wait);
    return cancelled;
}

void set_check(HWND window, int id, bool on) {
    CheckDlgButton(window, id, on ? BST_CHECKED : BST_UNCHECKED);
}

bool is_checked(HWND window, int id) {
    return IsDlgButtonChecked(window, id) == BST_CHECKED;
}

// Move Up is usable below the first line, Move Down above the last.
void set_move_buttons(HWND window, int sel, int count) {
    enable_item(window, IDC_MOVE_UP);
    enable_item(window, IDC_MOVE_DOWN);
    if (sel == 0) disable_item(window, IDC_MOVE_UP);
    if (sel == count - 1) disable_item(window, IDC_MOVE_DOWN);
}

void show_details_of(HWND window, int index) {
    if (const RecordingEntry* entry = recording_at(index)) show_management_details(window, *entry);
}

// The disk holds no recordings (any more): nothing to show, select, move, delete or back up.
void show_empty_state(HWND window) {
    fill_management_list(window, 0, app.recordings);
    list_reset(window, IDC_MANAGEMENT_LIST);
    set_item_text(window, IDC_MANAGEMENT_DATE, "");
    set_item_text(window, IDC_MANAGEMENT_DURATION, "00:00:00");
    disable_item(window, IDC_MOVE_UP);
    disable_item(window, IDC_MOVE_DOWN);
    disable_item(window, IDC_DELETE_RECORD);
    menu_disable(window, IDM_BACKUP_RECORDING);
}

// After a restore or a reclaim: the list read again from the disk, its first line shown.
void reload_and_show(HWND window) {
    char status[MESSAGE_SIZE] = {};
    if (!reload_recording_table(&app.disk, &app.recording_count, app.recordings, status)) {
        // A table that lists more recordings than the program takes closes the disk (app.disk
        // is null now): nothing of it stays in the state.
        app.disk_size_mb = 0;
        app.recording_count = 0;
    }
    if (app.recording_count <= 0) {
        show_empty_state(window);
        return;
    }
    fill_management_list(window, app.recording_count, app.recordings);
    list_select(window, IDC_MANAGEMENT_LIST, 0);
    show_details_of(window, 0);
    disable_item(window, IDC_MOVE_UP);
    if (app.recording_count > 1)
        enable_item(window, IDC_MOVE_DOWN);
    else
        disable_item(window, IDC_MOVE_DOWN);
    menu_enable(window, IDM_BACKUP_RECORDING);
}

int selection(HWND window) {
    return list_get_selection(window, IDC_MANAGEMENT_LIST);
}

void list_selection_changed(HWND window) {
    int sel = selection(window);
    if (sel < 0) return;
    show_details_of(window, sel);
    set_move_buttons(window, sel, app.recording_count);
}

void move_selected(HWND window, bool up) {
    int sel = selection(window);
    if (sel < 0) return;
    DiskWrite write;
    if (!write.begin()) {
        show_error(window, write.refusal);
        return;
    }
    char message[MESSAGE_SIZE] = {};
    int ok = up ? move_recording_up(write.disk, sel, app.recordings, message)
                : move_recording_down(write.disk, sel, app.recordings, message);
    if (!ok) {
        show_error(window, message);
        return;
    }
    write.end(window);
    int moved_to = up ? sel - 1 : sel + 1;
    fill_management_list(window, app.recording_count, app.recordings);
    list_select(window, IDC_MANAGEMENT_LIST, moved_to);
    set_move_buttons(window, moved_to, app.recording_count);
    show_details_of(window, moved_to);
}

void delete_selected(HWND window) {
    int sel = selection(window);
    const RecordingEntry* entry = recording_at(sel);
    if (!entry) return;
    char question[MESSAGE_SIZE + 64];
    snprintf(question, sizeof question, "Do you really want to delete '%s' ?",
             entry->display_title);
    if (!ask_confirmation(window, question)) return;
    DiskWrite write;
    if (!write.begin()) {
        show_error(window, write.refusal);
        return;
    }
    char message[MESSAGE_SIZE] = {};
    if (!delete_recording(write.disk, sel, app.recordings, message)) {
        show_error(window, message);
        return;
    }
    write.end(window);
    --app.recording_count;
    fill_management_list(window, app.recording_count, app.recordings);
    if (sel == app.recording_count) --sel;
    if (sel < 0) {
        show_empty_state(window);
        return;
    }
    list_select(window, IDC_MANAGEMENT_LIST, sel);
    set_move_buttons(window, sel, app.recording_count);
    show_details_of(window, sel);
}

void apply_details(HWND window) {
    int sel = selection(window);
    RecordingEntry* entry = sel >= 0 && sel < app.recording_count ? &app.recordings[sel] : nullptr;
    if (!entry) return;
    char user_title[REC_USER_TITLE_BYTES];
    char channel[REC_CHANNEL_BYTES];
    memset(user_title, 0, sizeof user_title);
    memset(channel, 0, sizeof channel);
    GetDlgItemTextA(window, IDC_USER_TITLE, user_title, sizeof user_title);
    GetDlgItemTextA(window, IDC_CHANNEL_NAME, channel, sizeof channel);
    if (channel[0] == 0) {
        show_error(window, "The channel name cannot be empty!");
        return;
    }
    uint8_t flags = 0;
    if (is_checked(window, IDC_PERMANENT)) flags |= FLAG_PERMANENT;
    if (is_checked(window, IDC_PAUSE)) flags |= FLAG_PAUSE;
    if (is_checked(window, IDC_LOCKED)) flags |= FLAG_LOCKED;
    DiskWrite write;
    if (!write.begin()) {
        show_error(window, write.refusal);
        return;
    }
    char message[MESSAGE_SIZE] = {};
    if (!apply_recording_changes(write.disk, sel, entry, user_title, channel, flags, APPLY_MASK,
                                 message)) {
        show_error(window, message);
        return;
    }
    write.end(window);
    fill_management_list(window, app.recording_count, app.recordings);
    list_select(window, IDC_MANAGEMENT_LIST, sel);
    show_details_of(window, sel);
}

void backup_selected(HWND window) {
    char file[FILE_LIST_SIZE] = {};
    if (!ask_save_path(window, BACKUP_FILTER, "Specify a Directory and Name for the Backup file",
                       ".mmr", file, sizeof file))
        return;
    int sel = selection(window);
    if (!recording_at(sel)) return;
    // The backup would be written over the very disk it reads, or over a device.
    OutputCheck target = check_output(app.disk, file);
    if (target != OUTPUT_USABLE) {
        show_error(window, target == OUTPUT_IS_SOURCE ? OUTPUT_IS_OPEN_DISK_MESSAGE
                                                      : OUTPUT_NOT_A_FILE_MESSAGE);
        return;
    }
    char message[MESSAGE_SIZE] = {};
    int ok = 0;
    run_step(window, CLUSTER_BYTES, [&](const OperationHooks* hooks) {
        ok = backup_recording(app.disk, sel, file, hooks, message);
    });
    if (ok)
        show_info(window, "Backup Operation Successful.");
    else
        show_error(window, message);
}

void restore_from_files(HWND window) {
    char files[FILE_LIST_SIZE] = {};
    OPENFILENAMEA request = {};
    request.lStructSize = sizeof request;
    request.hwndOwner = window;
    request.lpstrFilter = BACKUP_FILTER;
    request.nFilterIndex = 1;
    request.lpstrFile = files;
    // Two bytes kept back, so that the list always ends with an empty name inside the buffer.
    request.nMaxFile = sizeof files - 2;
    request.lpstrTitle = "Select a MediaMaster Backup file:";
    request.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY;
    if (!system_dialogs.open_file(&request)) return;
    DiskWrite write;
    if (!write.begin()) {
        show_error(window, write.refusal);
        return;
    }
    char message[MESSAGE_SIZE] = {};
    bool restored = false;
    bool stopped = false;
    run_step(window, CLUSTER_BYTES, [&](const OperationHooks* hooks) {
        for_each_selected_file(files, sizeof files, [&](const char* path) {
            if (stopped) return;
            // Between files is a safe point: the files not begun are left for another run.
            if (hook_cancelled(hooks)) {
                stopped = true;
                return;
            }
            if (!path) {
                snprintf(message, sizeof message, "%s", RESTORE_PATH_TOO_LONG);
                return;
            }
            if (restore_recording(write.disk, path, hooks, message)) restored = true;
        });
    });
    const bool flushed = write.end(window);
    reload_and_show(window);
    if (!flushed) return;
    if (restored) show_info(window, "Restore Operation Successful.");
    if (stopped)
        show_info(window, restored ? "Interrupted; the files not yet restored were left."
                                   : "Interrupted; nothing was changed.");
    else if (!restored)
        show_error(window, message);
}

void reclaim_all(HWND window) {
    if (app.recording_count > 0 &&
        !ask_confirmation(window,
                          "Warning: if this operation fails, you can loose the current "
                          "recordings! Do you want to continue?"))
        return;
    DiskWrite write;
    if (!write.begin()) {
        show_error(window, write.refusal);
        return;
    }
    char message[MESSAGE_SIZE] = {};
    int ok = 0;
    const int listed = app.recording_count;
    // The scan reports the clusters it has looked at, not bytes.
    run_step(window, 0, [&](const OperationHooks* hooks) {
        ok = recover_recordings(write.disk, listed, hooks, message);
    });
    if (!ok) {
        show_error(window, message);
        return;
    }
    if (write.end(window)) show_info(window, message);
    reload_and_show(window);
}

BOOL init_dialog(HWND window) {
    disable_item(window, IDC_MOVE_UP);
    if (app.recording_count < 2) disable_item(window, IDC_MOVE_DOWN);
    edit_set_limit(window, IDC_USER_TITLE, REC_USER_TITLE_BYTES - 1);
    edit_set_limit(window, IDC_CHANNEL_NAME, REC_CHANNEL_BYTES - 1);
    fill_management_list(window, app.recording_count, app.recordings);
    int sel = selection(window);
    if (sel >= 0) show_details_of(window, sel);
    return TRUE;
}

BOOL command(HWND window, int id, int notification) {
    switch (id) {
        case IDC_MANAGEMENT_LIST:
            if (notification == LBN_SELCHANGE) list_selection_changed(window);
            return TRUE;
        case IDC_MOVE_UP:
            move_selected(window, true);
            return TRUE;
        case IDC_MOVE_DOWN:
            move_selected(window, false);
            return TRUE;
        case IDC_DELETE_RECORD:
            delete_selected(window);
            return TRUE;
        case IDC_APPLY:
            apply_details(window);
            return TRUE;
        case IDC_RESET:
            show_details_of(window, selection(window));
            return TRUE;
        case IDC_PAUSE:
            // Enabled only for a paused recording, so the click has just cleared it: the
            // attribute can be taken off, never put back on.
            disable_item(window, IDC_PAUSE);
            return TRUE;
        case IDC_PERMANENT:
            set_check(window, IDC_PAUSE, false);
            disable_item(window, IDC_PAUSE);
            return TRUE;
        case IDCANCEL:
            EndDialog(window, IDCANCEL);
            return TRUE;
        case IDM_BACKUP_RECORDING:
            backup_selected(window);
            return TRUE;
        case IDM_RESTORE_FROM_FILE:
            restore_from_files(window);
            return TRUE;
        case IDM_RECLAIM_ALL:
            reclaim_all(window);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void fill_management_list(HWND window, int count, const RecordingEntry* list) {
    if (count > 0) {
        for (int id : DETAIL_CONTROLS)
            enable_item(window, id);
        menu_enable(window, IDM_BACKUP_RECORDING);
        list_reset(window, IDC_MANAGEMENT_LIST);
        for (int i = 0; i < count && i < MAX_RECORDINGS; ++i) {
            char line[LIST_LINE_SIZE];
            snprintf(line, sizeof line, "%d. %s", i + 1, list[i].display_title);
            list_add(window, IDC_MANAGEMENT_LIST, line);
        }
        list_select(window, IDC_MANAGEMENT_LIST, 0);
        return;
    }
    set_item_text(window, IDC_DEFAULT_TITLE, "");
    set_item_text(window, IDC_USER_TITLE, "");
    set_item_text(window, IDC_CHANNEL_NAME, "");
    set_check(window, IDC_PERMANENT, false);
    set_check(window, IDC_PAUSE, false);
    set_check(window, IDC_LOCKED, false);
    for (int id : DETAIL_CONTROLS)
        disable_item(window, id);
    menu_disable(window, IDM_BACKUP_RECORDING);
}

void show_management_details(HWND window, const RecordingEntry& entry) {
    SetDlgItemTextA(window, IDC_DEFAULT_TITLE, entry.default_title);
    SetDlgItemTextA(window, IDC_USER_TITLE, entry.user_title);
    SetDlgItemTextA(window, IDC_CHANNEL_NAME, entry.channel);
    char duration[32];
    snprintf(duration, sizeof duration, "%02i:%02i:%02i", entry.hours, entry.minutes,
             entry.seconds);
    SetDlgItemTextA(window, IDC_MANAGEMENT_DURATION, duration);
    SetDlgItemTextA(window, IDC_MANAGEMENT_DATE, entry.date_text);
    set_check(window, IDC_PERMANENT, (entry.flags & FLAG_PERMANENT) != 0);
    set_check(window, IDC_LOCKED, (entry.flags & FLAG_LOCKED) != 0);
    bool paused = (entry.flags & FLAG_PAUSE) != 0;
    set_check(window, IDC_PAUSE, paused);
    if (paused)
        enable_item(window, IDC_PAUSE);
    else
        disable_item(window, IDC_PAUSE);
}

INT_PTR CALLBACK recording_management_proc(HWND window, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return init_dialog(window);
        case WM_COMMAND:
            return command(window, LOWORD(wparam), HIWORD(wparam));
        default:
            return FALSE;
    }
}

void open_recording_management(HWND owner) {
    DialogBoxParamA(app.instance, MAKEINTRESOURCEA(IDD_RECORDING_MANAGEMENT), owner,
                    recording_management_proc, 0);
}

}  // namespace quarrow::ui
