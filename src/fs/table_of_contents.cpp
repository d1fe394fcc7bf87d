#include "fs/table_of_contents.h"

#include <cstring>

namespace quarrow {

const char* const NO_FREE_RECORD_MESSAGE =
    "No free Recording Information record sector left on the MediaMaster disk.";
const char* const READ_RECORD_FAILED_MESSAGE =
    "Could not read Recording Information record from MediaMaster disk.";

int read_toc(DiskHandle disk, uint8_t* toc) {
    return read_sectors(disk, toc, TOC_SECTOR, TOC_SECTORS, SECTOR_SIZE) == TOC_SECTORS ? 1 : 0;
}

bool read_toc_whole(DiskHandle disk, uint8_t* toc, char* message) {
    if (read_whole(disk, toc, TOC_SECTOR, TOC_SECTORS)) return true;
    put_message(message, "Could not read Table of Contents from MediaMaster disk.");
    return false;
}

bool write_toc_whole(DiskHandle disk, const uint8_t* toc, char* message) {
    if (write_whole(disk, toc, TOC_SECTOR, TOC_SECTORS)) return true;
    put_message(message, "Could not write Table of Contents to MediaMaster disk.");
    return false;
}

int listed_slot(int count, int index) {
    if (count <= 0 || count > MAX_RECORDINGS || index < 0 || index >= count) return -1;
    return slot_of_index(count, index);
}

void append_slot(uint8_t* toc, uint8_t attribute_high, uint8_t flags, uint32_t record_offset) {
    const int n = toc_count(toc);
    uint8_t* slot = toc_slot(toc, n);
    slot[0] = attribute_high;
    slot[1] = flags;
    write_be16(slot + 2, record_offset);
    write_be16(toc + TOC_COUNT_OFFSET, static_cast<uint32_t>(n + 1));
}

void remove_slot(uint8_t* toc, int j) {
    const int n = toc_count(toc);
    memmove(toc_slot(toc, j), toc_slot(toc, j + 1), TOC_SLOT_BYTES * static_cast<size_t>(n - j));
    write_be16(toc + TOC_COUNT_OFFSET, static_cast<uint32_t>(n - 1));
}

bool record_named_by_slot(const uint8_t* toc, int slots, uint32_t offset) {
    return slots_naming_record(toc, slots, offset) > 0;
}

int slots_naming_record(const uint8_t* toc, int slots, uint32_t offset) {
    if (slots > TOC_SLOT_CAPACITY) slots = TOC_SLOT_CAPACITY;
    int named = 0;
    for (int j = 0; j < slots; ++j)
        if (toc_slot_record_offset(toc, j) == offset) ++named;
    return named;
}

int find_free_record_sector(DiskHandle disk, const uint8_t* toc, int slots, uint8_t* record,
                            uint16_t* offset, char* message) {
    // The receiver keeps at most MAX_RECORDINGS recordings, so the record sectors they can use are
    // the first MAX_RECORDINGS behind the Table of Contents; the search stops there rather than
    // running on into the rest of the system area. A sector a slot names is taken: its recording
    // is listed even when its byte 0 was damaged to 0, and writing over it would leave two list
    // lines sharing one record.
    for (uint32_t at = RECORD_SECTORS; at <= uint32_t(RECORD_SECTORS) * MAX_RECORDINGS;
         at += RECORD_SECTORS) {
        if (!read_whole(disk, record, TOC_SECTOR + static_cast<int>(at), RECORD_SECTORS)) {
            put_message(message, "%s", READ_RECORD_FAILED_MESSAGE);
            return 0;
        }
        if (record[REC_IN_USE] == 0 && !record_named_by_slot(toc, slots, at)) {
            *offset = static_cast<uint16_t>(at);
            return 1;
        }
    }
    put_message(message, "%s", NO_FREE_RECORD_MESSAGE);
    return 0;
}

}  // namespace quarrow
