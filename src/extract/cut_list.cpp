#include "extract/cut_list.h"

#include <cctype>
#include <cstdio>

#include "disk/sector_access.h"

namespace quarrow {
namespace {

// The record counts whole seconds: a stretch may end this much past its length.
constexpr int64_t LENGTH_SLACK_MS = 1000;
// Shorter chapters would only clutter a player's list.
constexpr int64_t MIN_CHAPTER_INTERVAL_MS = 10000;

// The entry as a message quotes it: long ones shortened so that the message stays whole.
std::string quoted(const std::string& entry) {
    return entry.size() <= 40 ? entry : entry.substr(0, 37) + "...";
}

}  // namespace

int64_t parse_clock_time(const std::string& text) {
    unsigned h = 0, m = 0, s = 0;
    int used = 0;
    if (sscanf(text.c_str(), "%2u:%2u:%2u%n", &h, &m, &s, &used) != 3 || used != 8 || m > 59 ||
        s > 59)
        return -1;
    for (size_t i : {0, 1, 3, 4, 6, 7})  // sscanf also takes signs and spaces
        if (!isdigit(static_cast<unsigned char>(text[i]))) return -1;
    int64_t ms = (int64_t(h) * 3600 + m * 60 + s) * 1000;
    if (text.size() == 8) return ms;
    size_t digits = text.size() - 9;
    if (text[8] != '.' || digits < 1 || digits > 3) return -1;
    int64_t fraction = 0;
    for (size_t i = 9; i < text.size(); ++i) {
        if (!isdigit(static_cast<unsigned char>(text[i]))) return -1;
        fraction = fraction * 10 + (text[i] - '0');
    }
    for (size_t i = digits; i < 3; ++i)
        fraction *= 10;
    return ms + fraction;
}

std::string clock_time_text(int64_t ms) {
    if (ms < 0) ms = 0;
    char text[32];
    snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000),
             static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
             static_cast<long long>(ms % 1000));
    return text;
}

bool parse_cut_list(const std::string& text, std::vector<TimeStretch>* out, char* message) {
    out->clear();
    size_t at = 0;
    for (;;) {
        size_t comma = text.find(',', at);
        std::string entry =
            text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        size_t dash = entry.find('-');
        TimeStretch s;
        s.begin_ms = dash == std::string::npos ? -1 : parse_clock_time(entry.substr(0, dash));
        s.end_ms = dash == std::string::npos ? -1 : parse_clock_time(entry.substr(dash + 1));
        if (s.begin_ms < 0 || s.end_ms < 0) {
            put_message(message,
                        "A cut list takes stretches HH:MM:SS[.mmm]-HH:MM:SS[.mmm] joined by "
                        "commas: \"%s\"",
                        quoted(entry).c_str());
            return false;
        }
        if (s.end_ms <= s.begin_ms) {
            put_message(message,
                        "A stretch of the cut list is empty (its end is not after its "
                        "start): \"%s\"",
                        quoted(entry).c_str());
            return false;
        }
        if (!out->empty() && s.begin_ms < out->back().end_ms) {
            put_message(message,
                        "The stretches of a cut list go in order and may not overlap: \"%s\"",
                        quoted(entry).c_str());
            return false;
        }
        out->push_back(s);
        if (comma == std::string::npos) return true;
        at = comma + 1;
    }
}

bool stretches_to_keep(const std::vector<TimeStretch>& list, bool drop, int64_t from_ms,
                       int64_t to_ms, int64_t recording_ms, std::vector<TimeStretch>* keep,
                       char* message) {
    keep->clear();
    int64_t from = from_ms > 0 ? from_ms : 0;
    int64_t to = to_ms >= 0 ? to_ms : INT64_MAX;
    for (const TimeStretch& s : list) {
        std::string entry = clock_time_text(s.begin_ms) + "-" + clock_time_text(s.end_ms);
        if (recording_ms > 0 &&
            (s.begin_ms >= recording_ms || s.end_ms > recording_ms + LENGTH_SLACK_MS)) {
            put_message(message, "A stretch of the cut list runs past the recording's end (%s): %s",
                        clock_time_text(recording_ms).c_str(), entry.c_str());
            return false;
        }
        if (s.begin_ms < from || s.end_ms > to) {
            put_message(message, "A stretch of the cut list lies outside --from and --to: %s",
                        entry.c_str());
            return false;
        }
    }
    // A stretch begun by --from starts as --from does: at the first group at or after it.
    TimeStretch piece;
    piece.begin_ms = from;
    piece.begin_after = from_ms > 0;
    if (!drop) {
        *keep = list;
    } else {
        for (const TimeStretch& s : list) {
            piece.end_ms = s.begin_ms;
            if (piece.end_ms > piece.begin_ms) keep->push_back(piece);
            piece.begin_ms = s.end_ms;
            piece.begin_after = false;
        }
        // A drop up to the recording's end leaves nothing after it.
        piece.end_ms = to_ms;
        bool at_end = recording_ms > 0 && piece.begin_ms >= recording_ms;
        if (!at_end && (to_ms < 0 || piece.end_ms > piece.begin_ms)) keep->push_back(piece);
    }
    if (keep->empty()) {
        put_message(message, "The cut list leaves nothing of the recording to keep.");
        return false;
    }
    return true;
}

int64_t parse_chapter_interval(const std::string& text) {
    size_t digits = 0;
    while (digits < text.size() && isdigit(static_cast<unsigned char>(text[digits])))
        ++digits;
    if (digits == 0 || digits > 6) return -1;
    int64_t n = std::stoll(text.substr(0, digits));
    std::string unit = text.substr(digits);
    int64_t scale = unit.empty() || unit == "m" || unit == "min" ? 60000
                    : unit == "s"                                ? 1000
                    : unit == "h"                                ? 3600000
                                                                 : -1;
    if (scale < 0 || n * scale < MIN_CHAPTER_INTERVAL_MS) return -1;
    return n * scale;
}

}  // namespace quarrow
