#include "fs/allocation_table.h"

#include <cstring>

#include "fs/table_of_contents.h"

namespace quarrow {

int read_fat(DiskHandle disk, uint8_t* table) {
    // A short read still counts as success; the entries it did not reach read as free (0)
    // rather than as whatever the buffer held before.
    memset(table, 0, FAT_BYTES);
    return read_sectors(disk, table, FAT_SECTOR, FAT_SECTORS, SECTOR_SIZE) > 0 ? 1 : 0;
}

uint16_t next_cluster(const uint8_t* table, uint16_t index) {
    if (index == NO_CLUSTER) return NO_CLUSTER;
    // Links come from the disk as they are; one at or beyond the table's 16384 entries would read
    // outside it.
    if (index >= FAT_ENTRIES) return NO_CLUSTER;
    uint32_t v = fat_entry(table, index);
    if (v == FAT_LAST_ALLOCATED || v < FAT_ALLOCATED) return NO_CLUSTER;
    return static_cast<uint16_t>(fat_entry_link(v));
}

namespace {

void fold_entries(const uint8_t* table, uint16_t last_cluster, uint32_t* even, uint32_t* odd) {
    uint32_t limit = last_cluster;
    if (limit > FAT_ENTRIES - 3) limit = FAT_ENTRIES - 3;  // keep the checksum words inside
    for (uint32_t i = 0; i <= limit; ++i) {
        uint32_t v = read_be16(table + 2 * i);
        if (i & 1)
            *odd ^= v;
        else
            *even ^= v;
    }
}

}  // namespace

void fat_checksum_residue(const uint8_t* table, uint8_t out[4], uint16_t last_cluster) {
    uint32_t even = 0, odd = 0;
    fold_entries(table, last_cluster, &even, &odd);
    uint32_t last = last_cluster > FAT_ENTRIES - 3 ? FAT_ENTRIES - 3 : last_cluster;
    // The stored checksum's first half always pairs with the even entries, its second with the
    // odd ones, whatever the parity of the cluster count.
    even ^= read_be16(table + 2 * (last + 1));
    odd ^= read_be16(table + 2 * (last + 2));
    write_be16(out, even);
    write_be16(out + 2, odd);
}

void fat_checksum_fold(const uint8_t* table, const uint8_t start[4], uint8_t out[4],
                       uint16_t last_cluster) {
    uint32_t even = read_be16(start), odd = read_be16(start + 2);
    fold_entries(table, last_cluster, &even, &odd);
    write_be16(out, even);
    write_be16(out + 2, odd);
}

bool read_fat_whole(DiskHandle disk, uint8_t* table, char* message) {
    if (read_whole(disk, table, FAT_SECTOR, FAT_SECTORS)) return true;
    put_message(message, "Could not read File Allocation Table from MediaMaster disk.");
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

uint16_t count_free_clusters(const uint8_t* table, uint16_t last_cluster) {
    uint32_t free = 0;
    for (uint32_t c = 0; c <= last_cluster && c < FAT_ENTRIES; ++c)
        if (!(fat_entry(table, c) & FAT_ALLOCATED)) ++free;
    return static_cast<uint16_t>(free);
}

void chain_end_message(const ChainWalk& walk, char* message) {
    switch (walk.end) {
        case CHAIN_OUT_OF_BOUNDS:
            put_message(message, "FAT Pointer out of bounds.");
            break;
        case CHAIN_INTO_FREE:
            put_message(message,
                        "The recording's cluster chain runs into cluster %u, which the File "
                        "Allocation Table shows as free.",
                        static_cast<unsigned>(walk.cluster));
            break;
        case CHAIN_LOOPS:
            put_message(message,
                        "The recording's cluster chain loops back on itself at cluster %u.",
                        static_cast<unsigned>(walk.cluster));
            break;
        case CHAIN_COMPLETE:
        case CHAIN_STOPPED:
            break;
    }
}

bool find_cluster_use(DiskHandle disk, const uint8_t* toc, int slots, int skip_slot,
                      const uint8_t* table, uint16_t last, ClusterUse* use, char* message) {
    memset(use->state, CLUSTER_FREE, sizeof use->state);
    use->free = use->kept_out = use->unlisted = 0;
    use->every_record_read = true;
    const uint32_t end = last < FAT_ENTRIES ? last : FAT_ENTRIES - 1;
    auto mark = [&](uint32_t k) {
        if (k <= end) use->state[k] = CLUSTER_LISTED;
    };
    if (slots > TOC_SLOT_CAPACITY) slots = TOC_SLOT_CAPACITY;
    uint8_t record[RECORD_BYTES];
    for (int j = 0; j < slots; ++j) {
        if (j == skip_slot) continue;
        const uint32_t offset = toc_slot_record_offset(toc, j);
        if (!record_offset_usable(offset)) {
            use->every_record_read = false;
            continue;
        }
        if (!read_whole(disk, record, TOC_SECTOR + static_cast<int>(offset), RECORD_SECTORS)) {
            put_message(message, "%s", READ_RECORD_FAILED_MESSAGE);
            return false;
        }
        const uint32_t first = read_be16(record + REC_FIRST_CLUSTER);
        if (first != FAT_CHAIN_END) mark(first);
        ChainWalk walk = walk_chain(table, first, last, [&](uint32_t k) {
            // A chain that comes round onto its own clusters has nothing more to mark.
            if (use->state[k] == CLUSTER_LISTED && k != first) return false;
            mark(k);
            return true;
        });
        // The free cluster a damaged chain runs into is still read as part of the recording.
        if (walk.end == CHAIN_INTO_FREE) mark(walk.cluster);
    }
    for (uint32_t c = 0; c <= end; ++c) {
        const bool allocated = fat_entry(table, c) & FAT_ALLOCATED;
        if (use->state[c] == CLUSTER_LISTED) {
            if (!allocated) ++use->kept_out;
        } else if (allocated) {
            use->state[c] = CLUSTER_UNLISTED;
            ++use->unlisted;
        } else {
            ++use->free;
        }
    }
    return true;
}

uint32_t take_free_clusters(const ClusterUse& use, uint16_t last, uint32_t count, uint16_t* out) {
    uint32_t taken = 0;
    for (uint32_t c = 0; c <= last && c < FAT_ENTRIES && taken < count; ++c)
        if (use.state[c] == CLUSTER_FREE) out[taken++] = static_cast<uint16_t>(c);
    return taken;
}

void link_chain(uint8_t* table, const uint16_t* clusters, uint32_t count) {
    for (uint32_t i = 0; i + 1 < count; ++i)
        set_fat_entry(table, clusters[i], FAT_ALLOCATED | clusters[i + 1]);
    if (count > 0) set_fat_entry(table, clusters[count - 1], FAT_LAST_ALLOCATED);
}

}  // namespace quarrow
