// What the operations that change the disk share (editing, moving and deleting recordings, backup
// and restore, recovery): whole-structure reads and writes of the boot area's cluster count, the
// allocation table and its copy, the Table of Contents and a listed recording's record, each with
// the message for the one that failed; and the scope that switches the
// busy cursor off on every return path. The allocation table's reads, writes and chains are in
// fs/allocation_table.h, the Table of Contents' in fs/table_of_contents.h; the checks of what
// was read (cross-links, whether a backup file is whole) in fs/chain_checks.h. Each operation
// then holds only its own steps.
#pragma once

#include <cstdint>

#include "disk/hooks.h"
#include "disk/sector_access.h"
#include "fs/allocation_table.h"
#include "fs/layout.h"
#include "fs/recording_table.h"
#include "fs/table_of_contents.h"

namespace quarrow {

// An index outside the table just read, or a Table of Contents that lists more recordings than
// the program accepts, is refused with this message before anything is written.
extern const char* const NO_SUCH_RECORDING_MESSAGE;
// A slot whose record offset names no usable record sector (edit and delete).
extern const char* const DAMAGED_SLOT_MESSAGE;
extern const char* const READ_RECORD_ENTRY_FAILED_MESSAGE;

// The boot area's cluster count as the last cluster index; false with "Failed to retrieve
// information from Boot Sector." when it cannot be read or is out of range.
bool read_last_cluster(DiskHandle disk, uint16_t* last, char* message);

// A new recording's record, written whole (restore and recovery).
bool write_new_record(DiskHandle disk, const uint8_t* record, uint32_t offset, char* message);

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

// The busy hook (the hourglass) is switched on for the scope's life and off on every return.
struct BusyScope {
    const OperationHooks* hooks;
    explicit BusyScope(const OperationHooks* h) : hooks(h) { hook_busy(hooks, true); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    ~BusyScope() { hook_busy(hooks, false); }
};

// Restore and recovery: tells how many clusters the table shows as free but a listed recording
// still reaches, which their new chains leave alone; nothing when there are none.
void notice_kept_out(const ClusterUse& use, const OperationHooks* hooks);

}  // namespace quarrow
