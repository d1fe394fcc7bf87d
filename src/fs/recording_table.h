// The recording table: the Table of Contents and its records turned into display-ready entries,
// newest first (list index i is Table of Contents slot n - 1 - i).
#pragma once

#include <cstdint>

#include "disk/sector_access.h"
#include "fs/layout.h"
#include "fs/table_of_contents.h"

namespace quarrow {

constexpr int TITLE_BYTES = 48;
constexpr int CHANNEL_BYTES = 32;
constexpr int ATTRIBUTE_TEXT_BYTES = 25;
constexpr int DATE_TEXT_BYTES = 25;
constexpr int ISO_DATE_BYTES = 21;  // "2003-02-16T10:30:00Z"

struct RecordingEntry {
    char display_title[TITLE_BYTES];
    char default_title[TITLE_BYTES];
    char user_title[TITLE_BYTES];
    char channel[CHANNEL_BYTES];
    uint8_t flags;
    char attribute_text[ATTRIBUTE_TEXT_BYTES];
    char date_text[DATE_TEXT_BYTES];  // the start time as shown (format_start_time)
    uint16_t first_cluster;
    uint32_t length;        // sectors
    uint32_t start_offset;  // sectors from the start of the first cluster's data area
    int32_t hours;
    int32_t minutes;
    int32_t seconds;
    uint32_t start_time;  // the record's start time, seconds since 1970 (UTC)
};

// Recording count (0 ... 65535), or 0 when the table is unreadable, empty, or one of its records
// cannot be read. A count above MAX_RECORDINGS is given at once, the array untouched.
int load_recording_table(DiskHandle disk, RecordingEntry* entries);

// For the command line: a record that cannot be read, or whose offset names no whole record
// sector behind the Table of Contents, no longer hides the others. Its entry is cleared and
// unreadable[i] (MAX_RECORDINGS flags) set; the others are loaded as load_recording_table loads
// them. Gives the count, or a count above MAX_RECORDINGS at once, the arrays untouched; 0 when
// the Table of Contents cannot be read.
int load_readable_recordings(DiskHandle disk, RecordingEntry* entries, bool* unreadable);

void build_recording_entry(const RecordingInfoRecord& record, RecordingEntry* entry);

// "Pause", "Permanent" or "Erasable", with ", Locked" appended for the lock bit.
char* attribute_text(uint8_t flags, char* out);

// The start time as "%d-%m-%Y %H:%M:%S GMT" into a DATE_TEXT_BYTES buffer.
void format_start_time(uint32_t seconds_since_1970, char* out);
// The start time in ISO 8601, UTC ("2003-02-16T10:30:00Z"), into an ISO_DATE_BYTES buffer.
void format_start_time_iso(uint32_t seconds_since_1970, char* out);

// Size in MiB shown for a recording of length sectors, by truncating integer steps.
inline uint32_t recording_size_mb(uint32_t length) {
    return (length / 1024) * 512 / 1024;
}

}  // namespace quarrow
