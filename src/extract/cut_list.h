// Cut lists: the stretches of a recording to keep or to remove, as a user types them
// ("00:02:00-00:31:10,00:36:05-01:02:00"), in recording time (from the recording's first picture,
// as `quarrow list` and a player count it). Both front ends read them here; the one-file writer
// cuts by the list it is given (ProgramStreamOptions::stretches).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarrow {

// A stretch of the recording in ms from its first picture; end_ms -1: to the recording's end. The
// writer begins a stretch with the group of pictures that holds begin_ms (begin_after: with the
// first one that begins at or after it, as --from does) and ends it before the first group that
// begins at or after end_ms.
struct TimeStretch {
    int64_t begin_ms = 0, end_ms = -1;
    bool begin_after = false;
};

// "HH:MM:SS" or "HH:MM:SS.mmm" (one to three digits after the point) in ms; -1 when not so.
int64_t parse_clock_time(const std::string& text);

// "HH:MM:SS.mmm" of ms, for messages.
std::string clock_time_text(int64_t ms);

// "A-B[,C-D...]" into stretches, as typed; false with a message (MESSAGE_SIZE bytes) that names
// the entry refused: not two times joined by "-", empty (B not after A), or out of order or
// overlapping the one before.
bool parse_cut_list(const std::string& text, std::vector<TimeStretch>* out, char* message);

// The stretches to keep: the list itself (drop false: --cut) or what lies between its stretches
// (drop true: --drop), within --from/--to (from_ms, to_ms; -1 where not given). recording_ms is
// the recording's length as its record says (0: unknown). false with a message when a stretch
// begins past the recording's end or outside --from/--to, or when nothing is left to keep.
bool stretches_to_keep(const std::vector<TimeStretch>& list, bool drop, int64_t from_ms,
                       int64_t to_ms, int64_t recording_ms, std::vector<TimeStretch>* keep,
                       char* message);

// "10m", "90s", "1h", or a bare number of minutes, as ms; -1 when not so or under 10 seconds.
// CHAPTER_INTERVAL_FORM says what it takes, for the messages of both front ends.
constexpr const char* CHAPTER_INTERVAL_FORM =
    "a time between chapters such as 10m, 90s or 1h (at least 10s)";
int64_t parse_chapter_interval(const std::string& text);

}  // namespace quarrow
