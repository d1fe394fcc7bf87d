#include "fs/maintenance_io.h"

#include "fs/recording_table.h"

namespace quarrow {

const char* const NO_SUCH_RECORDING_MESSAGE =
    "No such recording in the Table of Contents of the MediaMaster disk.";
const char* const DAMAGED_SLOT_MESSAGE =
    "The Table of Contents names a record outside the record area.";
const char* const READ_RECORD_ENTRY_FAILED_MESSAGE =
    "Could not read recording entry from MediaMaster disk.";

bool read_last_cluster(DiskHandle disk, uint16_t* last, char* message) {
    *last = read_last_cluster_index(disk);
    if (*last != 0) return true;
    put_message(message, "Failed to retrieve information from Boot Sector.");
    return false;
}

bool read_fat_whole(DiskHandle disk, uint8_t* table, char* message) {
    if (read_whole(disk, table, FAT_SECTOR, FAT_SECTORS)) return true;
    put_message(message, "Could not read File Allocation Table from MediaMaster disk.");
    return false;
}

bool read_toc_whole(DiskHandle disk, uint8_t* toc, char* message) {
    if (read_whole(disk, toc, TOC_SECTOR, TOC_SECTORS)) return true;
    put_message(message, "Could not read Table of Contents from MediaMaster disk.");
    return false;
}

bool write_new_record(DiskHandle disk, const uint8_t* record, uint32_t offset, char* message) {
    if (write_whole(disk, record, TOC_SECTOR + static_cast<int>(offset), RECORD_SECTORS))
        return true;
    put_message(message, "Could not write Recording Information record to MediaMaster disk.");
    return false;
}

bool write_toc_whole(DiskHandle disk, const uint8_t* toc, char* message) {
    if (write_whole(disk, toc, TOC_SECTOR, TOC_SECTORS)) return true;
    put_message(message, "Could not write Table of Contents to MediaMaster disk.");
    return false;
}

bool write_fat_and_copy(DiskHandle disk, const uint8_t* table, char* message) {
    if (!write_whole(disk, table, FAT_SECTOR, FAT_SECTORS)) {
        put_message(message, "Could not write File Allocation Table to MediaMaster disk.");
        return false;
    }
    if (!write_whole(disk, table, FAT_COPY_SECTOR, FAT_SECTORS)) {
        put_message(message, "Could not write second File Allocation Table to MediaMaster disk.");
        return false;
    }
    return true;
}

void store_fat_checksum(uint8_t* table, const uint8_t residue[4], uint16_t last_cluster) {
    uint8_t s[4];
    fat_checksum_fold(table, residue, s, last_cluster);
    uint8_t* at = table + 2 * (uint32_t(last_cluster) + 1);
    for (int b = 0; b < 4; ++b)
        at[b] = s[b];
}

int listed_slot(int count, int index) {
    if (count <= 0 || count > MAX_RECORDINGS || index < 0 || index >= count) return -1;
    return slot_of_index(count, index);
}

bool read_listed_record(DiskHandle disk, const uint8_t* toc, int index, ListedRecord* out,
                        char* message, const char* damaged_slot_message) {
    out->slot = listed_slot(toc_count(toc), index);
    if (out->slot < 0) {
        put_message(message, "%s", NO_SUCH_RECORDING_MESSAGE);
        return false;
    }
    out->offset = toc_slot_record_offset(toc, out->slot);
    if (!record_offset_usable(out->offset)) {
        put_message(message, "%s", damaged_slot_message);
        return false;
    }
    if (!read_whole(disk, out->record, TOC_SECTOR + static_cast<int>(out->offset),
                    RECORD_SECTORS)) {
        put_message(message, "%s", READ_RECORD_ENTRY_FAILED_MESSAGE);
        return false;
    }
    return true;
}

uint16_t count_free_clusters(const uint8_t* table, uint16_t last_cluster) {
    uint32_t free = 0;
    for (uint32_t c = 0; c <= last_cluster && c < FAT_ENTRIES; ++c)
        if (!(fat_entry(table, c) & FAT_ALLOCATED)) ++free;
    return static_cast<uint16_t>(free);
}

}  // namespace quarrow
