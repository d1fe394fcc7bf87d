// The File Allocation Table (sector 2, 64 sectors, and its copy at sector 66): one 16-bit entry
// per cluster (FAT_ALLOCATED plus the next cluster, 0xBFFF at a chain's end; a free entry holds
// the next index), then the checksum kept by residue. Reading and writing it with the copy,
// walking a chain by the one rule every operation uses, the free count, and the one way a new
// chain is chosen and linked (restore and recovery): only clusters that nothing listed uses.
#pragma once

#include <cstdint>

#include "disk/sector_access.h"
#include "fs/layout.h"

namespace quarrow {

// Reads the 64 table sectors into a FAT_BYTES buffer; 1 when any sectors were read.
int read_fat(DiskHandle disk, uint8_t* table);

// A cluster's table entry as stored, and the link it holds: the entry without the allocated bit,
// so that a chain's last entry (0xBFFF) links to FAT_CHAIN_END and a free entry to the index it
// holds. The maintenance walks bound links against the disk's last cluster themselves
// (walk_chain below); next_cluster below is stricter and ends a chain at a free
// entry too.
inline uint32_t fat_entry(const uint8_t* table, uint32_t cluster) {
    return read_be16(table + 2 * cluster);
}
inline uint32_t fat_entry_link(uint32_t entry) {
    return entry & ~uint32_t(FAT_ALLOCATED);
}
inline uint32_t fat_link(const uint8_t* table, uint32_t cluster) {
    return fat_entry_link(fat_entry(table, cluster));
}
inline void set_fat_entry(uint8_t* table, uint32_t cluster, uint32_t value) {
    write_be16(table + 2 * cluster, value);
}

// The cluster after index in its chain, or NO_CLUSTER at the chain's end, a free entry, or an
// index outside the table (a link the disk should never hold).
uint16_t next_cluster(const uint8_t* table, uint16_t index);

// The checksum is kept by residue: R = S xor P before a change, S = P(new) xor R after it.
void fat_checksum_residue(const uint8_t* table, uint8_t out[4], uint16_t last_cluster);
void fat_checksum_fold(const uint8_t* table, const uint8_t start[4], uint8_t out[4],
                       uint16_t last_cluster);

// The allocation table read whole, or written to its place and then to the copy (a failure of
// either stops there with its own message).
bool read_fat_whole(DiskHandle disk, uint8_t* table, char* message);
bool write_fat_and_copy(DiskHandle disk, const uint8_t* table, char* message);

// Stores S = P(table) xor residue at the checksum's place behind entry last_cluster.
void store_fat_checksum(uint8_t* table, const uint8_t residue[4], uint16_t last_cluster);

// Number of entries 0 ... last_cluster (inclusive) whose FAT_ALLOCATED bit is clear.
uint16_t count_free_clusters(const uint8_t* table, uint16_t last_cluster);

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

// What the listed recordings use, cluster by cluster. A cluster is free for a new chain only
// when the table marks it free AND no listed chain reaches it AND no listed record names it:
// a chain that runs into a free entry still has its data read there (the extraction reads that
// cluster before it stops), so taking it would overwrite a listed recording.
enum ClusterState : uint8_t {
    CLUSTER_FREE,      // free in the table, used by nothing listed
    CLUSTER_LISTED,    // reached by a listed chain, or the first cluster a listed record names
    CLUSTER_UNLISTED,  // allocated in the table, reached by nothing listed (lost, or a write cut
                       // short): recovery may take it back
};
struct ClusterUse {
    uint8_t state[FAT_ENTRIES];
    uint32_t free;           // CLUSTER_FREE clusters up to last
    uint32_t kept_out;       // free in the table but used by a listed recording
    uint32_t unlisted;       // CLUSTER_UNLISTED clusters up to last
    bool every_record_read;  // false: a slot named no usable record, whose clusters are unknown
};

// Fills use from the table and the chains of the first `slots` slots (at most
// TOC_SLOT_CAPACITY), each record read from the disk; slot skip_slot (-1: none) is left out.
// False with READ_RECORD_FAILED_MESSAGE when a listed record cannot be read: its clusters would
// be unknown, so nothing may be allocated.
bool find_cluster_use(DiskHandle disk, const uint8_t* toc, int slots, int skip_slot,
                      const uint8_t* table, uint16_t last, ClusterUse* use, char* message);

// The `count` lowest CLUSTER_FREE clusters into out, ascending; gives how many there were.
uint32_t take_free_clusters(const ClusterUse& use, uint16_t last, uint32_t count, uint16_t* out);

// Links clusters[0 .. count) into one chain in that order, the last entry 0xBFFF. Nothing for
// count 0 (a recording without clusters).
void link_chain(uint8_t* table, const uint16_t* clusters, uint32_t count);

}  // namespace quarrow
