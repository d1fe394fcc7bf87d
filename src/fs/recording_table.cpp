#include "fs/recording_table.h"

#include <cstdio>
#include <cstring>

#include "fs/table_of_contents.h"

namespace quarrow {

namespace {

// Copies the NUL-terminated text at p, reading at most limit bytes of the record, into a field of
// width bytes, cut to fit with its terminating NUL.
void copy_text(const uint8_t* p, size_t limit, char* field, size_t width) {
    size_t n = 0;
    while (n < limit && n + 1 < width && p[n])
        ++n;
    memcpy(field, p, n);
    field[n] = 0;
}

bool is_leap(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// Calendar conversion by hand rather than gmtime: gmtime is not reentrant everywhere and a
// 32-bit time_t would refuse start times from 2038 on. The full unsigned range of the field is
// shown as the date it stands for (up to the year 2106).
struct CivilTime {
    int year, month, day;  // month and day from 1
    unsigned hour, minute, second;
};

CivilTime civil_time(uint32_t seconds_since_1970) {
    uint32_t days = seconds_since_1970 / 86400;
    uint32_t rest = seconds_since_1970 % 86400;
    int64_t year = 1970;
    while (true) {
        uint32_t in_year = is_leap(year) ? 366 : 365;
        if (days < in_year) break;
        days -= in_year;
        ++year;
    }
    static const int month_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int month = 0;
    while (true) {
        uint32_t md = month_days[month] + (month == 1 && is_leap(year) ? 1 : 0);
        if (days < md) break;
        days -= md;
        ++month;
    }
    return {static_cast<int>(year), month + 1, static_cast<int>(days) + 1, rest / 3600,
            (rest % 3600) / 60,     rest % 60};
}

void copy_date(const char* text, char* out, size_t size) {
    size_t n = strnlen(text, size - 1);
    memcpy(out, text, n);
    out[n] = 0;
}

}  // namespace

void format_start_time(uint32_t seconds_since_1970, char* out) {
    CivilTime t = civil_time(seconds_since_1970);
    char text[64];
    snprintf(text, sizeof text, "%02d-%02d-%04d %02u:%02u:%02u GMT", t.day, t.month, t.year, t.hour,
             t.minute, t.second);
    copy_date(text, out, DATE_TEXT_BYTES);
}

void format_start_time_iso(uint32_t seconds_since_1970, char* out) {
    CivilTime t = civil_time(seconds_since_1970);
    char text[64];
    snprintf(text, sizeof text, "%04d-%02d-%02dT%02u:%02u:%02uZ", t.year, t.month, t.day, t.hour,
             t.minute, t.second);
    copy_date(text, out, ISO_DATE_BYTES);
}

char* attribute_text(uint8_t flags, char* out) {
    const char* kind = (flags & FLAG_PAUSE)       ? "Pause"
                       : (flags & FLAG_PERMANENT) ? "Permanent"
                                                  : "Erasable";
    snprintf(out, ATTRIBUTE_TEXT_BYTES, "%s%s", kind, (flags & FLAG_LOCKED) ? ", Locked" : "");
    return out;
}

void build_recording_entry(const RecordingInfoRecord& record, RecordingEntry* entry) {
    const uint8_t* r = record.bytes;
    // The default title's width is not fixed on disk: read it up to the user title field.
    const size_t default_limit = REC_USER_TITLE - REC_DEFAULT_TITLE;
    const uint8_t* display;
    size_t display_limit;
    if (r[REC_USER_TITLE]) {
        display = r + REC_USER_TITLE;
        display_limit = REC_USER_TITLE_BYTES;
    } else if (r[REC_DEFAULT_TITLE]) {
        display = r + REC_DEFAULT_TITLE;
        display_limit = default_limit;
    } else {
        display = r + REC_CHANNEL;
        display_limit = REC_CHANNEL_BYTES;
    }
    copy_text(display, display_limit, entry->display_title, TITLE_BYTES);
    copy_text(r + REC_DEFAULT_TITLE, default_limit, entry->default_title, TITLE_BYTES);
    copy_text(r + REC_USER_TITLE, REC_USER_TITLE_BYTES, entry->user_title, TITLE_BYTES);
    copy_text(r + REC_CHANNEL, REC_CHANNEL_BYTES, entry->channel, CHANNEL_BYTES);

    entry->start_time = read_be32(r + REC_START_TIME);
    format_start_time(entry->start_time, entry->date_text);

    uint32_t duration = read_be32(r + REC_DURATION);
    entry->hours = static_cast<int32_t>(duration / 360000);
    entry->minutes = static_cast<int32_t>((duration % 360000) / 6000);
    entry->seconds = static_cast<int32_t>(((duration % 360000) % 6000) / 100);

    entry->flags = r[REC_FLAGS];
    attribute_text(entry->flags, entry->attribute_text);
    entry->first_cluster = static_cast<uint16_t>(read_be16(r + REC_FIRST_CLUSTER));
    entry->length = read_be32(r + REC_LENGTH);
    entry->start_offset = read_be32(r + REC_START_OFFSET);
}

int load_recording_table(DiskHandle disk, RecordingEntry* entries) {
    uint8_t toc[TOC_BYTES];
    if (!read_toc(disk, toc)) return 0;
    int n = toc_count(toc);
    if (n == 0) return 0;
    if (n > MAX_RECORDINGS) return n;
    RecordingInfoRecord record;
    for (int i = 0; i < n; ++i) {
        uint32_t offset = toc_slot_record_offset(toc, slot_of_index(n, i));
        if (read_sectors(disk, record.bytes, TOC_SECTOR + static_cast<int>(offset), RECORD_SECTORS,
                         SECTOR_SIZE) != RECORD_SECTORS)
            return 0;
        build_recording_entry(record, &entries[i]);
    }
    return n;
}

int load_readable_recordings(DiskHandle disk, RecordingEntry* entries, bool* unreadable) {
    uint8_t toc[TOC_BYTES];
    if (!read_toc(disk, toc)) return 0;
    int n = toc_count(toc);
    if (n > MAX_RECORDINGS) return n;
    RecordingInfoRecord record;
    for (int i = 0; i < n; ++i) {
        uint32_t offset = toc_slot_record_offset(toc, slot_of_index(n, i));
        unreadable[i] = !record_offset_usable(offset) ||
                        read_sectors(disk, record.bytes, TOC_SECTOR + static_cast<int>(offset),
                                     RECORD_SECTORS, SECTOR_SIZE) != RECORD_SECTORS;
        if (unreadable[i])
            memset(&entries[i], 0, sizeof entries[i]);
        else
            build_recording_entry(record, &entries[i]);
    }
    return n;
}

}  // namespace quarrow
