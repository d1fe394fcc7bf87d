#include "fs/chain_checks.h"

#include <cstring>
#include <memory>
#include <new>

namespace quarrow {

namespace {

void add_finding(ChainReport* report, ChainFault fault, int slot, int other_slot,
                 uint32_t cluster) {
    if (report->finding_count >= MAX_CHAIN_FINDINGS) return;
    report->findings[report->finding_count++] = {fault, slot, other_slot, cluster};
}

}  // namespace

void map_listed_chains(DiskHandle disk, const uint8_t* toc, int slots, const uint8_t* table,
                       uint16_t last, ChainMap* map, ChainReport* report) {
    memset(report, 0, sizeof *report);
    std::unique_ptr<ChainMap> own;
    if (!map) {
        own.reset(new (std::nothrow) ChainMap);
        map = own.get();
    }
    if (map) memset(map->owner, 0, sizeof map->owner);
    if (slots > TOC_SLOT_CAPACITY) slots = TOC_SLOT_CAPACITY;
    if (slots < 0) slots = 0;
    report->slots = slots;
    uint8_t record[RECORD_BYTES];
    for (int j = 0; j < slots; ++j) {
        uint32_t offset = toc_slot_record_offset(toc, j);
        bool shared = false;
        for (int i = 0; i < j && !shared; ++i) {
            if (toc_slot_record_offset(toc, i) == offset) {
                ++report->shared_records;
                add_finding(report, FAULT_SHARED_RECORD, j, i, 0);
                shared = true;
            }
        }
        if (!record_offset_usable(offset) ||
            !read_whole(disk, record, TOC_SECTOR + static_cast<int>(offset), RECORD_SECTORS)) {
            ++report->bad_records;
            add_finding(report, FAULT_BAD_RECORD, j, -1, offset);
            continue;
        }
        const uint16_t mine = static_cast<uint16_t>(j + 1);
        bool crossed = false;
        ChainWalk walk =
            walk_chain(table, read_be16(record + REC_FIRST_CLUSTER), last, [&](uint32_t k) {
                // A shared record's chain is counted, not mapped
                // again: its clusters are the other slot's.
                if (!map || shared) return true;
                uint16_t owner = map->owner[k];
                // Its own cluster again: the chain has come round, and
                // the walk's bound ends it.
                if (owner == mine) return true;
                if (owner == 0) {
                    map->owner[k] = mine;
                } else {
                    ++report->cross_linked;
                    if (!crossed) add_finding(report, FAULT_CROSS_LINK, j, owner - 1, k);
                    crossed = true;
                }
                return true;
            });
        report->linked_clusters += walk.links;
        switch (walk.end) {
            case CHAIN_OUT_OF_BOUNDS:
                ++report->out_of_bounds;
                add_finding(report, FAULT_OUT_OF_BOUNDS, j, -1, walk.cluster);
                break;
            case CHAIN_INTO_FREE:
                ++report->into_free;
                add_finding(report, FAULT_INTO_FREE, j, -1, walk.cluster);
                break;
            case CHAIN_LOOPS:
            case CHAIN_STOPPED:
                ++report->loops;
                add_finding(report, FAULT_LOOPS, j, -1, walk.cluster);
                break;
            case CHAIN_COMPLETE:
                break;
        }
    }
}

uint32_t clusters_needed(uint32_t start_offset, uint32_t length) {
    uint64_t sectors = uint64_t(start_offset) + length;
    return static_cast<uint32_t>((sectors + CLUSTER_DATA_SECTORS - 1) / CLUSTER_DATA_SECTORS);
}

int check_backup_file(uint64_t file_bytes, const uint8_t* record, uint32_t* clusters,
                      char* message) {
    if (file_bytes < uint64_t(RECORD_BYTES)) {
        put_message(message, "Error while reading recording information from file.");
        return 0;
    }
    uint64_t body = file_bytes - RECORD_BYTES;
    if (body % CLUSTER_BYTES != 0) {
        put_message(message, "The backup file ends inside its last cluster: it is incomplete.");
        return 0;
    }
    if (body / CLUSTER_BYTES > MAX_CLUSTER_COUNT) {
        put_message(message, "The backup file holds more clusters than any MediaMaster disk has.");
        return 0;
    }
    uint32_t k = static_cast<uint32_t>(body / CLUSTER_BYTES);
    if (record[REC_IN_USE] == 0) {
        put_message(message,
                    "The backup file's record is marked unused: the file is damaged and is not "
                    "restored.");
        return 0;
    }
    // A recording without clusters (first cluster 0x3FFF) is the record alone; any other needs
    // at least one whole cluster.
    if (read_be16(record + REC_FIRST_CLUSTER) != FAT_CHAIN_END && k == 0) {
        put_message(message, "The backup file holds no whole cluster of its recording.");
        return 0;
    }
    // Fewer clusters than the start and length reach is a recording that ended early on its
    // disk (its chain was shorter than its record says): restored as it was.
    *clusters = k;
    return 1;
}

}  // namespace quarrow
