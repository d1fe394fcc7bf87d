// What the operations that change the disk share (editing, moving and deleting recordings, backup
// and restore, recovery): whole-structure reads and writes of the boot area's cluster count, the
// allocation table and its copy, the Table of Contents and a listed recording's record, each with
// the message for the one that failed; the free cluster count; and the scope that switches the
// busy cursor off on every return path. The rules for trusting what was read (the chain walk,
// record offsets, which record sector is free, whether a backup file is whole) are in
// fs/chain_checks.h; the table's entries and links in fs/layout.h. Each operation then holds
// only its own steps.
#pragma once

#include <cstdint>

#include "disk/hooks.h"
#include "disk/sector_access.h"
#include "fs/chain_checks.h"
#include "fs/layout.h"
#include "fs/recording_table.h"

namespace quarrow {

// An index outside the table just read, or a Table of Contents that lists more recordings than
// the program accepts, is refused with this message before anything is written.
extern const char* const NO_SUCH_RECORDING_MESSAGE;
// A slot whose record offset names no usable record sector (edit and delete).
extern const char* const DAMAGED_SLOT_MESSAGE;
extern const char* const READ_RECORD_ENTRY_FAILED_MESSAGE;

// A read counts only when every sector arrived: a structure that is changed and written back
// must never carry bytes that were not read.
inline bool read_whole(DiskHandle disk, void* buffer, int first_sector, int count) {
    return read_sectors(disk, buffer, first_sector, count, SECTOR_SIZE) == count;
}
inline bool write_whole(DiskHandle disk, const void* buffer, int first_sector, int count) {
    return write_sectors(disk, buffer, first_sector, count, SECTOR_SIZE) == count;
}

// The boot area's cluster count as the last cluster index; false with "Failed to retrieve
// information from Boot Sector." when it cannot be read or is out of range.
bool read_last_cluster(DiskHandle disk, uint16_t* last, char* message);

// The allocation table and the Table of Contents, read whole, with the message for the one that
// could not be read.
bool read_fat_whole(DiskHandle disk, uint8_t* table, char* message);
bool read_toc_whole(DiskHandle disk, uint8_t* toc, char* message);

// A new recording's record and the Table of Contents that lists it, written whole, with the
// message for the one that could not be written (restore and recovery).
bool write_new_record(DiskHandle disk, const uint8_t* record, uint32_t offset, char* message);
bool write_toc_whole(DiskHandle disk, const uint8_t* toc, char* message);

// A changed allocation table goes to its place and then to the copy; a failure of either stops
// there with its own message.
bool write_fat_and_copy(DiskHandle disk, const uint8_t* table, char* message);

// Stores S = P(table) xor residue at the checksum's place behind entry last_cluster.
void store_fat_checksum(uint8_t* table, const uint8_t residue[4], uint16_t last_cluster);

inline uint8_t* toc_slot(uint8_t* toc, int slot) {
    return toc + TOC_SLOTS_OFFSET + TOC_SLOT_BYTES * slot;
}

// The slot of list index among the count recordings of a table just read, or -1 when the index
// does not name one of them or the count is more than the program accepts. The windows keep
// their indices in range; this guard keeps a stale or damaged count from moving bytes outside
// the 2048-byte table.
int listed_slot(int count, int index);

// A listed recording's record, read whole.
struct ListedRecord {
    int slot;
    uint32_t offset;  // record offset, in sectors from the Table of Contents
    uint8_t record[RECORD_BYTES];
};

// Finds the slot of list index in toc and reads its record. False with the message set when the
// index is not in the table (NO_SUCH_RECORDING_MESSAGE), the slot names no usable record sector
// (damaged_slot_message), or the record cannot be read (READ_RECORD_ENTRY_FAILED_MESSAGE).
bool read_listed_record(DiskHandle disk, const uint8_t* toc, int index, ListedRecord* out,
                        char* message, const char* damaged_slot_message = DAMAGED_SLOT_MESSAGE);

// Number of entries 0 ... last_cluster (inclusive) whose FAT_ALLOCATED bit is clear.
uint16_t count_free_clusters(const uint8_t* table, uint16_t last_cluster);

// The busy hook (the hourglass) is switched on for the scope's life and off on every return.
struct BusyScope {
    const OperationHooks* hooks;
    explicit BusyScope(const OperationHooks* h) : hooks(h) { hook_busy(hooks, true); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    ~BusyScope() { hook_busy(hooks, false); }
};

}  // namespace quarrow
