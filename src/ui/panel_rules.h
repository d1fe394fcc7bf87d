// The decisions of the main window and the extraction panel that need no window: scroll-bar
// steps and ranges, which radio button a stored audio type checks, which commands a state allows.
// Kept free of Win32 so that they are tested natively as well as under Wine.
#pragma once

#include <cstdint>
#include <limits>

#include "extract/extraction_engine.h"
#include "resources/resource.h"

namespace quarrow::ui {

// Scroll codes of WM_HSCROLL (SB_LINELEFT ... SB_THUMBTRACK).
constexpr int SCROLL_LINE_LEFT = 0;
constexpr int SCROLL_LINE_RIGHT = 1;
constexpr int SCROLL_PAGE_LEFT = 2;
constexpr int SCROLL_PAGE_RIGHT = 3;
constexpr int SCROLL_THUMB_TRACK = 5;
// A page step of either range bar, in sectors.
constexpr int SCROLL_PAGE_SECTORS = 1024;

// The new position for a scroll code, kept within min ... max; false for the codes that are not
// handled (thumb position, top, bottom, end of scroll), which leave the bar as it is.
inline bool scroll_target(int code, int pos, int min, int max, int track_pos, int* out) {
    int64_t target;
    switch (code) {
        case SCROLL_LINE_LEFT:
            target = int64_t(pos) - 1;
            break;
        case SCROLL_LINE_RIGHT:
            target = int64_t(pos) + 1;
            break;
        case SCROLL_PAGE_LEFT:
            target = int64_t(pos) - SCROLL_PAGE_SECTORS;
            break;
        case SCROLL_PAGE_RIGHT:
            target = int64_t(pos) + SCROLL_PAGE_SECTORS;
            break;
        case SCROLL_THUMB_TRACK:
            *out = track_pos;
            return true;
        default:
            return false;
    }
    if (code == SCROLL_LINE_LEFT || code == SCROLL_PAGE_LEFT) {
        if (target < min) target = min;
    } else if (target > max) {
        target = max;
    }
    *out = int(target);
    return true;
}

// The start bar runs over the first 16384 sectors at most: the walk starts inside the two
// clusters it loads first.
inline int start_scroll_max(uint32_t length) {
    return length <= 16384 ? int(int64_t(length) - 1) : 16383;
}

// Sectors from the chosen start to the recording's end: the most the length bar may give.
inline int length_scroll_max(uint32_t length, uint32_t start_offset, int start) {
    int64_t max = int64_t(length) + start_offset - start;
    if (max > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (max < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return int(max);
}

// The radio button a stored "AudioType" checks: nothing stored (0) or AUDIO_TYPE_MP2 mean
// headers removed, anything else the audio PES packets.
inline int audio_button_for_setting(uint32_t audio_type) {
    return (audio_type == 0 || audio_type == AUDIO_TYPE_MP2) ? IDC_AUDIO_MP2 : IDC_AUDIO_MPG;
}

// The audio type passed to the extraction (and stored as "AudioType") for the checked radio
// button.
inline int audio_type_for_button(bool raw_checked) {
    return raw_checked ? AUDIO_TYPE_MPG : AUDIO_TYPE_MP2;
}

// Only the exact value 1 turns a protection switch on at start.
inline bool switch_is_on(uint32_t stored) {
    return stored == 1;
}

enum class CommandGate { Run, NtOnly, NeedsDisk };

// What stands between a Tools menu command and its window: the raw-drive platforms only (the
// NT family on Windows), and for the disk tools an open disk.
inline CommandGate command_gate(int command, bool raw_drives, bool disk_open) {
    switch (command) {
        case IDM_MANAGE_RECORDINGS:
        case IDM_DIAGNOSTICS:
        case IDM_DUMP_DISK:
            if (!raw_drives) return CommandGate::NtOnly;
            return disk_open ? CommandGate::Run : CommandGate::NeedsDisk;
        case IDM_ERASE_DISK:
            return raw_drives ? CommandGate::Run : CommandGate::NtOnly;
        default:
            return CommandGate::Run;
    }
}

// The menu commands that work on the open disk, greyed while none is open.
constexpr int DISK_COMMANDS[] = {IDM_DUMP_DISK, IDM_MANAGE_RECORDINGS, IDM_DIAGNOSTICS};
// The menu commands greyed while an extraction runs.
constexpr int EXTRACTION_LOCKED_COMMANDS[] = {IDM_OPEN_IMAGE,  IDM_SCAN_DISK, IDM_MANAGE_RECORDINGS,
                                              IDM_DIAGNOSTICS, IDM_DUMP_DISK, IDM_ERASE_DISK};

}  // namespace quarrow::ui
