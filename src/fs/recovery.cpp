#include "fs/recovery.h"

#include <cstdio>
#include <cstring>

#include "fs/layout.h"
#include "fs/maintenance_io.h"

namespace quarrow {

namespace {

// One group of free clusters that carry the same recording key, with the header fields of its
// first (lowest-numbered) cluster.
struct DiscoveredRecording {
    uint32_t cluster_count;
    uint16_t first_cluster;
    uint32_t key;
    uint16_t header_4;  // kept, written nowhere
    uint32_t header_6;
    uint16_t header_10;
    uint32_t header_36;
    uint32_t header_56;
    uint32_t start_time;
    uint16_t attributes;
};

// Record offsets of a cluster header mirror the record's own.
constexpr int HDR_KEY = 0;
constexpr int HDR_4 = 4;

void take_header(const uint8_t* h, uint16_t cluster, uint32_t key, DiscoveredRecording* g) {
    g->cluster_count = 1;
    g->first_cluster = cluster;
    g->key = key;
    g->header_4 = static_cast<uint16_t>(read_be16(h + HDR_4));
    g->header_6 = read_be32(h + REC_HEADER_6);
    g->header_10 = static_cast<uint16_t>(read_be16(h + REC_HEADER_10));
    g->header_36 = read_be32(h + REC_HEADER_36);
    if (g->header_36 == 0) g->header_36 = 0xC0000000u;
    g->header_56 = read_be32(h + REC_HEADER_56);
    g->start_time = read_be32(h + REC_START_TIME);
    g->attributes = static_cast<uint16_t>(read_be16(h + REC_ATTRIBUTES));
    if (g->attributes == 0) g->attributes = 0x0010;
}

void build_record(const DiscoveredRecording& g, int number, uint16_t first, uint8_t* record) {
    memset(record, 0, RECORD_BYTES);
    static const uint8_t marker[6] = {0x01, 0x20, 0x00, 0x00, 0x35, 0x64};
    memcpy(record, marker, sizeof marker);
    write_be32(record + REC_HEADER_6, g.header_6);
    write_be16(record + REC_HEADER_10, g.header_10);
    write_be32(record + REC_HEADER_36, g.header_36);
    write_be32(record + REC_KEY, g.key);
    // Every data sector of every cluster, and 20 seconds per cluster.
    write_be32(record + REC_LENGTH, g.cluster_count * CLUSTER_DATA_SECTORS);
    write_be16(record + REC_FIRST_CLUSTER, first);
    write_be32(record + REC_HEADER_56, g.header_56);
    write_be32(record + REC_START_TIME, g.start_time);
    write_be32(record + REC_DURATION, g.cluster_count * 2000);
    record[REC_BYTE_79] = 3;
    write_be16(record + REC_ATTRIBUTES, g.attributes);
    snprintf(reinterpret_cast<char*>(record + REC_CHANNEL), REC_CHANNEL_BYTES, "Recovered %d",
             number);
    write_be32(record + REC_TRAILER, 0xFFFFFFFFu);
}

// Reads the table and groups the free clusters by key, writing each cluster's group index into
// its entry of the table buffer (a temporary mark: every marked entry becomes a chain link before
// the table is written). Gives the number of groups, or -1 with the message set.
int scan_free_clusters(DiskHandle disk, int limit, const OperationHooks* hooks, uint8_t* table,
                       uint16_t* last_out, uint8_t residue[4], DiscoveredRecording* groups,
                       char* message) {
    BusyScope busy(hooks);
    if (!read_fat_whole(disk, table, message)) return -1;
    uint16_t last = 0;
    if (!read_last_cluster(disk, &last, message)) return -1;
    *last_out = last;
    fat_checksum_residue(table, residue, last);  // before any mark is written
    int found = 0;
    uint8_t header[CLUSTER_HEADER_SECTORS * SECTOR_SIZE];
    // The last cluster of the disk is never examined.
    for (uint32_t f = 0; f < last; ++f) {
        if (found >= limit) break;
        // Only reads so far: a Ctrl-C ends the scan with nothing written.
        if (hook_cancelled(hooks)) {
            put_message(message, "Recovery cancelled.");
            return -1;
        }
        if ((f & 63) == 0) hook_progress(hooks, f, last);
        if (fat_entry(table, f) & FAT_ALLOCATED) continue;
        if (!read_whole(disk, header, static_cast<int>(cluster_first_sector(f)),
                        CLUSTER_HEADER_SECTORS)) {
            put_message(message, "Error reading cluster %d from MediaMaster Disk.",
                        static_cast<int>(f));
            return -1;
        }
        // The second header sector is the one in use once it carries a key.
        const uint8_t* h =
            read_be32(header + SECTOR_SIZE + HDR_KEY) != 0 ? header + SECTOR_SIZE : header;
        uint32_t key = read_be32(h + HDR_KEY);
        int j = 0;
        while (j < found && groups[j].key != key)
            ++j;
        if (j < found) {
            ++groups[j].cluster_count;
        } else {
            take_header(h, static_cast<uint16_t>(f), key, &groups[found]);
            ++found;
        }
        set_fat_entry(table, f, static_cast<uint32_t>(j));
    }
    hook_progress(hooks, last, last);
    return found;
}

}  // namespace

int recover_recordings(DiskHandle disk, int listed_count, const OperationHooks* hooks,
                       char* message, const RecoveryView* view) {
    uint8_t table[FAT_BYTES];
    uint8_t residue[4];
    uint16_t last = 0;
    DiscoveredRecording groups[MAX_RECORDINGS];
    const int listed = listed_count < 0 ? 0 : listed_count;
    const int found = scan_free_clusters(disk, MAX_RECORDINGS - listed, hooks, table, &last,
                                         residue, groups, message);
    if (found < 0) return 0;
    if (found == 0) {
        put_message(message, "No Recordings to recover on this disk.");
        return 0;
    }
    for (int h = 0; view && view->group && h < found; ++h)
        view->group(view->context, h + 1,
                    RecoveryGroup{groups[h].key, groups[h].first_cluster, groups[h].cluster_count,
                                  groups[h].start_time});
    put_message(message, "%d Recordings discovered. Do you want to proceed with recovery?", found);
    if (!hook_confirm(hooks, message) || hook_cancelled(hooks)) {
        put_message(message, "Recovery cancelled.");
        return 0;
    }

    uint8_t toc[TOC_BYTES];
    if (!read_toc_whole(disk, toc, message)) return 0;
    // The new slots follow the count the caller passed in; were the table to list a different
    // number (a record that could not be loaded makes the list look empty), the new slots would
    // land on recordings the table still lists.
    if (toc_count(toc) != listed) {
        put_message(message,
                    "The Table of Contents does not list the recordings that were loaded; "
                    "nothing was changed.");
        return 0;
    }
    write_be16(toc + TOC_COUNT_OFFSET, static_cast<uint32_t>(listed + found));

    uint8_t record[RECORD_BYTES];
    for (int h = 0; h < found; ++h) {
        const DiscoveredRecording& g = groups[h];
        // Links the group's clusters in ascending order, replacing their marks.
        uint32_t o = g.first_cluster;
        for (uint32_t linked = 1; linked < g.cluster_count; ++linked) {
            uint32_t m = o + 1;
            while (m < last && fat_entry(table, m) != static_cast<uint32_t>(h))
                ++m;
            if (m >= last) break;  // every marked cluster lies below last
            set_fat_entry(table, o, FAT_ALLOCATED | m);
            o = m;
        }
        set_fat_entry(table, o, FAT_LAST_ALLOCATED);

        uint16_t offset = 0;
        // The slots already listed and those given to earlier groups name taken sectors.
        if (!find_free_record_sector(disk, toc, listed + h, record, &offset, message)) return 0;
        uint8_t* slot = toc_slot(toc, listed + h);
        write_be16(slot, g.attributes);
        write_be16(slot + 2, offset);
        build_record(g, h + 1, g.first_cluster, record);
        // Written at once, so the next group's search skips this sector.
        if (!write_new_record(disk, record, offset, message)) return 0;
    }
    store_fat_checksum(table, residue, last);
    if (!write_toc_whole(disk, toc, message)) return 0;
    if (!write_fat_and_copy(disk, table, message)) return 0;
    put_message(message, "All Recordings were successfully restored.");
    return 1;
}

}  // namespace quarrow
