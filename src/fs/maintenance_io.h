// Small helpers shared by the operations that change the disk (editing, backup and restore,
// recovery): whole-structure transfers and the sanity checks on links read from the disk.
#pragma once

#include <cstdint>

#include "disk/sector_access.h"
#include "fs/chain_checks.h"
#include "fs/layout.h"

namespace quarrow {

// A read counts only when every sector arrived: a structure that is changed and written back
// must never carry bytes that were not read.
inline bool read_whole(DiskHandle disk, void* buffer, int first_sector, int count) {
    return read_sectors(disk, buffer, first_sector, count, SECTOR_SIZE) == count;
}
inline bool write_whole(DiskHandle disk, const void* buffer, int first_sector, int count) {
    return write_sectors(disk, buffer, first_sector, count, SECTOR_SIZE) == count;
}

inline uint32_t fat_entry(const uint8_t* table, uint32_t cluster) {
    return read_be16(table + 2 * cluster);
}
inline void set_fat_entry(uint8_t* table, uint32_t cluster, uint32_t value) {
    write_be16(table + 2 * cluster, value);
}

// Stores S = P(table) xor residue at the checksum's place behind entry last_cluster.
inline void store_fat_checksum(uint8_t* table, const uint8_t residue[4], uint16_t last_cluster) {
    uint8_t s[4];
    fat_checksum_fold(table, residue, s, last_cluster);
    uint8_t* at = table + 2 * (uint32_t(last_cluster) + 1);
    for (int b = 0; b < 4; ++b)
        at[b] = s[b];
}

// The allocation table and the Table of Contents, read whole, with the message for the one that
// could not be read.
inline bool read_fat_whole(DiskHandle disk, uint8_t* table, char* message) {
    if (read_whole(disk, table, FAT_SECTOR, FAT_SECTORS)) return true;
    put_message(message, "Could not read File Allocation Table from MediaMaster disk.");
    return false;
}
inline bool read_toc_whole(DiskHandle disk, uint8_t* toc, char* message) {
    if (read_whole(disk, toc, TOC_SECTOR, TOC_SECTORS)) return true;
    put_message(message, "Could not read Table of Contents from MediaMaster disk.");
    return false;
}

// A changed allocation table goes to its place and then to the copy; a failure of either stops
// there with its own message.
inline bool write_fat_and_copy(DiskHandle disk, const uint8_t* table, char* message) {
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

inline uint8_t* toc_slot(uint8_t* toc, int slot) {
    return toc + TOC_SLOTS_OFFSET + TOC_SLOT_BYTES * slot;
}

}  // namespace quarrow

namespace quarrow {

// Closes a file handle on every return path.
struct HandleCloser {
    DiskHandle disk;
    explicit HandleCloser(DiskHandle d) : disk(d) {}
    HandleCloser(const HandleCloser&) = delete;
    HandleCloser& operator=(const HandleCloser&) = delete;
    ~HandleCloser() { close_disk(disk); }
};

}  // namespace quarrow
