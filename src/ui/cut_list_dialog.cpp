#include "ui/cut_list_dialog.h"

#include <cstdio>
#include <string>

#include "disk/sector_access.h"
#include "extract/cut_list.h"
#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/control_helpers.h"
#include "ui/extras_menu.h"
#include "ui/message_boxes.h"

namespace quarrow::ui {
namespace {

// What the dialog was given, as typed, and the request read from it, with the recording it was
// set for. On the window thread only.
struct CutListSetting {
    std::string text;
    int chapters = IDC_CHAPTERS_NONE;
    std::string interval = "10m";
    CutRequest cut;
    uint16_t first_cluster = 0;
    uint32_t start_offset = 0, length = 0, start_time = 0;
};

CutListSetting setting;

// Set when it cuts or marks chapters; an empty setting is none.
bool is_set(const CutListSetting& s) {
    return !s.cut.list.empty() || s.cut.chapters;
}

bool same_recording(const CutListSetting& s, const RecordingEntry& e) {
    return s.first_cluster == e.first_cluster && s.start_offset == e.start_offset &&
           s.length == e.length && s.start_time == e.start_time;
}

const RecordingEntry* selected_recording() {
    if (!app.panel_window) return nullptr;
    return recording_at(list_get_selection(app.panel_window, IDC_RECORDING_LIST));
}

void show_check() {
    if (is_set(setting))
        menu_check(app.main_window, IDM_CUT_LIST);
    else
        menu_uncheck(app.main_window, IDM_CUT_LIST);
}

std::string item_string(HWND window, int id) {
    char text[1024] = {};
    GetDlgItemTextA(window, id, text, sizeof text);
    return text;
}

void fill_dialog(HWND window, const RecordingEntry& entry) {
    char line[TITLE_BYTES + 64];
    snprintf(line, sizeof line, "%s (%02i:%02i:%02i)", entry.display_title, entry.hours,
             entry.minutes, entry.seconds);
    SetDlgItemTextA(window, IDC_CUT_RECORDING, line);
    SetDlgItemTextA(window, IDC_CUT_TEXT, setting.text.c_str());
    CheckRadioButton(window, IDC_CUT_KEEP, IDC_CUT_DROP,
                     setting.cut.drop ? IDC_CUT_DROP : IDC_CUT_KEEP);
    CheckRadioButton(window, IDC_CHAPTERS_NONE, IDC_CHAPTERS_EVERY, setting.chapters);
    SetDlgItemTextA(window, IDC_CHAPTER_INTERVAL, setting.interval.c_str());
}

// OK: the text read and fitted to the recording by the core, as the command line reads --cut;
// false, with the refusal shown, when it does not pass.
bool accept(HWND window) {
    const RecordingEntry* entry = selected_recording();
    if (!entry) return true;  // the recording went away: nothing to set
    CutListSetting s;
    s.text = item_string(window, IDC_CUT_TEXT);
    s.chapters = IsDlgButtonChecked(window, IDC_CHAPTERS_EVERY) == BST_CHECKED ? IDC_CHAPTERS_EVERY
                 : IsDlgButtonChecked(window, IDC_CHAPTERS_JOINS) == BST_CHECKED
                     ? IDC_CHAPTERS_JOINS
                     : IDC_CHAPTERS_NONE;
    s.interval = item_string(window, IDC_CHAPTER_INTERVAL);
    char message[MESSAGE_SIZE] = {};
    if (!s.text.empty() && !parse_cut_list(s.text, &s.cut.list, message)) {
        show_error(window, message);
        return false;
    }
    s.cut.drop = IsDlgButtonChecked(window, IDC_CUT_DROP) == BST_CHECKED;
    s.cut.chapters = s.chapters != IDC_CHAPTERS_NONE;
    if (s.chapters == IDC_CHAPTERS_EVERY) {
        s.cut.chapter_every_ms = parse_chapter_interval(s.interval);
        if (s.cut.chapter_every_ms < 0) {
            std::string text =
                "A chapter every \"" + s.interval + "\": give " + CHAPTER_INTERVAL_FORM + ".";
            show_error(window, text.c_str());
            return false;
        }
    }
    ExtractionRequest fitted;
    if (!apply_cut(*entry, s.cut, &fitted, message)) {
        show_error(window, message);
        return false;
    }
    // Told now rather than at the extraction; a missing one-file output only then (the list
    // may be set before it is chosen again).
    const ExtraChoices choices = extra_choices();
    const bool one_file = choices.one_file || choices.matroska;
    const CutConflict conflict = cut_conflict(s.cut, one_file, choices.matroska, choices.metadata);
    if (one_file && conflict == CutConflict::chapters_have_no_place) {
        show_error(window, cut_conflict_text(conflict));
        return false;
    }
    s.first_cluster = entry->first_cluster;
    s.start_offset = entry->start_offset;
    s.length = entry->length;
    s.start_time = entry->start_time;
    if (!is_set(s)) s = CutListSetting{};
    setting = s;
    show_check();
    return true;
}

}  // namespace

INT_PTR CALLBACK cut_list_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            const RecordingEntry* entry = selected_recording();
            if (entry) fill_dialog(window, *entry);
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wparam)) {
                case IDOK:
                    if (accept(window)) EndDialog(window, IDOK);
                    return TRUE;
                case IDC_CUT_CLEAR:
                    clear_cut_list();
                    EndDialog(window, IDOK);
                    return TRUE;
                case IDCANCEL:
                    EndDialog(window, IDCANCEL);
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

void open_cut_list_dialog(HWND owner) {
    if (!app.disk) {
        show_info(owner, "A MediaMaster Disk must be detected before you can use this option.");
        return;
    }
    if (!selected_recording()) {
        show_info(owner, "There are no recordings on this disk.");
        return;
    }
    const ExtraChoices choices = extra_choices();
    if (!is_set(setting) && !choices.one_file && !choices.matroska) {
        show_info(owner,
                  "A cut list cuts the one-file output: choose \"One Playable File (.mpg)\" or "
                  "\"Matroska (.mkv)\" in the Extras menu first.");
        return;
    }
    DialogBoxParamA(app.instance, MAKEINTRESOURCEA(IDD_CUT_LIST), owner, cut_list_dialog_proc, 0);
}

CutRequest current_cut_list() {
    return setting.cut;
}

bool cut_list_is_set() {
    return is_set(setting);
}

void clear_cut_list() {
    setting = CutListSetting{};
    show_check();
}

void cut_list_follow_selection(const RecordingEntry& entry) {
    if (is_set(setting) && !same_recording(setting, entry)) clear_cut_list();
}

}  // namespace quarrow::ui
