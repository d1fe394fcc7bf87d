// The rules every maintenance operation applies before it trusts what the disk says: which
// clusters belong to which listed recording, what is wrong with the listed chains, and whether a
// backup file is whole (the chain walk itself is fs/allocation_table.h, the record sectors'
// use fs/table_of_contents.h). Backup, restore, delete, recovery and
// the diagnostics all use these, so a damaged table is judged the same way everywhere.
#pragma once

#include <cstdint>

#include "disk/sector_access.h"
#include "fs/allocation_table.h"
#include "fs/layout.h"
#include "fs/table_of_contents.h"

namespace quarrow {

// Which listed recording each cluster belongs to, found by walking the chain of every slot.
struct ChainMap {
    // Slot + 1 of the first chain that reached the cluster; 0 for none.
    uint16_t owner[FAT_ENTRIES];
};

// One thing found wrong while mapping the listed chains.
enum ChainFault {
    FAULT_CROSS_LINK,     // cluster is in the chains of slot and other_slot
    FAULT_OUT_OF_BOUNDS,  // slot's chain links to cluster, beyond the disk
    FAULT_INTO_FREE,      // slot's chain reaches cluster, whose entry is free
    FAULT_LOOPS,          // slot's chain comes back on itself
    FAULT_SHARED_RECORD,  // slot names the record other_slot names
    FAULT_BAD_RECORD,     // slot names no usable record sector, or it cannot be read
};
struct ChainFinding {
    ChainFault fault;
    int slot;
    int other_slot;
    uint32_t cluster;
};

// What map_listed_chains found: counts per kind, and the first findings in slot order.
constexpr int MAX_CHAIN_FINDINGS = 16;
struct ChainReport {
    int slots;                 // slots walked; list number of slot j is slots - j
    uint32_t linked_clusters;  // clusters visited, counted once per chain
    uint32_t cross_linked;     // clusters reached by more than one chain
    uint32_t out_of_bounds;    // chains that link beyond the disk
    uint32_t into_free;        // chains that reach a free entry
    uint32_t loops;            // chains that come back on themselves
    uint32_t shared_records;   // slots naming a record an earlier slot names
    uint32_t bad_records;      // slots whose record is unusable or unreadable
    int finding_count;         // findings kept (at most MAX_CHAIN_FINDINGS)
    ChainFinding findings[MAX_CHAIN_FINDINGS];
};

// Walks the chain of each of the first `slots` slots (at most TOC_SLOT_CAPACITY), reading each
// record, and fills map (may be null) and report. A record that cannot be read is reported and
// skipped. Reads only.
void map_listed_chains(DiskHandle disk, const uint8_t* toc, int slots, const uint8_t* table,
                       uint16_t last, ChainMap* map, ChainReport* report);

// Clusters a recording must have to hold its data: from start_offset, length sectors of the
// clusters' data areas.
uint32_t clusters_needed(uint32_t start_offset, uint32_t length);

// Checks a backup file (2048 bytes of record, then whole clusters of CLUSTER_BYTES) of
// file_bytes bytes whose record is given, before anything is written: whole clusters only, no
// more than a disk can hold, the record in use, and at least one cluster unless the record has
// none. Fewer clusters than the record's start and length reach is accepted: the backup of a
// recording whose chain ended early, which extraction reads as far as the chain goes. 1 and
// *clusters set when it can be restored; 0 with a message that says what is wrong.
int check_backup_file(uint64_t file_bytes, const uint8_t* record, uint32_t* clusters,
                      char* message);

}  // namespace quarrow
