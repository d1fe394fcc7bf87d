// The rules every maintenance operation applies before it trusts what the disk says: how far a
// cluster chain may be followed, which record sectors are taken, which clusters belong to which
// listed recording, and whether a backup file is whole. Backup, restore, delete, recovery and
// the diagnostics all use these, so a damaged table is judged the same way everywhere.
#pragma once

#include <cstdint>

#include "disk/sector_access.h"
#include "fs/layout.h"

namespace quarrow {

// Where a chain walk ended.
enum ChainEnd {
    CHAIN_COMPLETE,       // reached the end mark (or the recording has no clusters)
    CHAIN_OUT_OF_BOUNDS,  // a link names a cluster beyond last_cluster
    CHAIN_INTO_FREE,      // a cluster of the chain has an entry without FAT_ALLOCATED
    CHAIN_LOOPS,          // more links than the disk has clusters: it comes back on itself
    CHAIN_STOPPED,        // the caller's visit asked to stop
};

struct ChainWalk {
    ChainEnd end;
    uint32_t cluster;  // where the walk ended (the offending cluster, or FAT_CHAIN_END)
    uint32_t links;    // clusters visited
};

// Follows a recording's chain from first: visit(cluster) is called for each cluster whose entry
// is allocated, before the walk goes on to the cluster that entry names (so a visit may rewrite
// the entry). A free entry ends the walk: the receiver never links a free cluster into a
// recording, so what follows it belongs to nobody, or to someone else. So does a link past the
// last cluster, and a walk longer than the disk has clusters. A visit that gives false stops the
// walk with CHAIN_STOPPED.
template <typename Visit>
ChainWalk walk_chain(const uint8_t* table, uint32_t first, uint16_t last, Visit visit) {
    uint32_t k = first;
    uint32_t links = 0;
    while (k != FAT_CHAIN_END) {
        if (k > last) return {CHAIN_OUT_OF_BOUNDS, k, links};
        // The link is taken before the visit, which may rewrite the entry.
        uint32_t entry = fat_entry(table, k);
        if (!(entry & FAT_ALLOCATED)) return {CHAIN_INTO_FREE, k, links};
        if (links > last) return {CHAIN_LOOPS, k, links};
        if (!visit(k)) return {CHAIN_STOPPED, k, links};
        ++links;
        k = fat_entry_link(entry);
    }
    return {CHAIN_COMPLETE, k, links};
}

// The message for a walk that did not complete, naming the cluster; "FAT Pointer out of bounds."
// for a link beyond the disk, as the backup has always said it.
void chain_end_message(const ChainWalk& walk, char* message);

// A record offset names a usable record sector: a whole record (a multiple of 4 sectors) behind
// the Table of Contents and inside the system area, never the table itself or cluster 0.
inline bool record_offset_usable(uint32_t offset) {
    return offset >= uint32_t(RECORD_SECTORS) && offset % RECORD_SECTORS == 0 &&
           TOC_SECTOR + offset + RECORD_SECTORS <= static_cast<uint32_t>(CLUSTER_SECTORS);
}

// Slots that fit in the 2048-byte Table of Contents.
constexpr int TOC_SLOT_CAPACITY = (TOC_BYTES - TOC_SLOTS_OFFSET) / TOC_SLOT_BYTES;

// Whether one of the first `slots` slots of the Table of Contents names the record at offset:
// such a record is taken, whatever its byte 0 says.
bool record_named_by_slot(const uint8_t* toc, int slots, uint32_t offset);

// The record offset (4, 8, ...) of the first free record sector from offset 4 on: byte 0 is 0
// and no slot among the first `slots` names it. Searches only the MAX_RECORDINGS record sectors
// a full Table of Contents can use. 1 and *offset set when found (record receives the sector's
// bytes); 0 with NO_FREE_RECORD_MESSAGE when none is free, or READ_RECORD_FAILED_MESSAGE when
// a read fails.
int find_free_record_sector(DiskHandle disk, const uint8_t* toc, int slots, uint8_t* record,
                            uint16_t* offset, char* message);

extern const char* const NO_FREE_RECORD_MESSAGE;
extern const char* const READ_RECORD_FAILED_MESSAGE;

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
// file_bytes bytes whose record is given, before anything is written: whole clusters only, the
// record in use, and as many clusters as the record's start and length need. 1 and *clusters
// set when it can be restored; 0 with a message that says what is wrong.
int check_backup_file(uint64_t file_bytes, const uint8_t* record, uint32_t* clusters,
                      char* message);

}  // namespace quarrow
