#include "fs/recovery.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "fs/allocation_table.h"
#include "fs/layout.h"
#include "fs/maintenance_io.h"
#include "fs/table_of_contents.h"

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
    uint32_t chain_start;  // where its clusters lie in the chain array, in playing order
    uint32_t duration;     // hundredths of a second
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
    // Every data sector of every cluster.
    write_be32(record + REC_LENGTH, g.cluster_count * CLUSTER_DATA_SECTORS);
    write_be16(record + REC_FIRST_CLUSTER, first);
    write_be32(record + REC_HEADER_56, g.header_56);
    write_be32(record + REC_START_TIME, g.start_time);
    write_be32(record + REC_DURATION, g.duration);
    record[REC_BYTE_79] = 3;
    write_be16(record + REC_ATTRIBUTES, g.attributes);
    snprintf(reinterpret_cast<char*>(record + REC_CHANNEL), REC_CHANNEL_BYTES, "Recovered %d",
             number);
    write_be32(record + REC_TRAILER, 0xFFFFFFFFu);
}

// Groups the clusters that nothing listed uses by the key their headers carry, writing each
// cluster's group into group_of (NO_GROUP for the rest). Gives the number of groups, or -1 with
// the message set.
constexpr uint16_t NO_GROUP = 0xFFFF;

int scan_clusters(DiskHandle disk, int limit, const OperationHooks* hooks, const ClusterUse& use,
                  uint16_t last, uint16_t* group_of, DiscoveredRecording* groups, char* message) {
    for (uint32_t c = 0; c < FAT_ENTRIES; ++c)
        group_of[c] = NO_GROUP;
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
        const bool candidate = use.state[f] == CLUSTER_FREE ||
                               (use.state[f] == CLUSTER_UNLISTED && use.every_record_read);
        if (!candidate) continue;
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
        group_of[f] = static_cast<uint16_t>(j);
    }
    hook_progress(hooks, last, last);
    return found;
}

// The first and the last audio presentation time stamp a cluster's data holds, found in the
// PES headers at the start of its audio blocks' payloads. Only blocks whose header sector lies in
// the cluster are looked at (a cluster may begin inside a block that began in another).
struct ClusterStamps {
    bool found = false;
    uint64_t first = 0;
    uint64_t last = 0;
};

constexpr uint64_t PTS_MODULUS = uint64_t(1) << 33;
// The PTS runs at 90 kHz; the record's duration is in hundredths of a second.
constexpr uint64_t PTS_TICKS_PER_HUNDREDTH = 900;
// Where the first time stamp is looked for: the receiver interleaves audio with video blocks of
// a few hundred sectors, so the first audio block header lies well inside this.
constexpr int FIRST_STAMP_SECTORS = 1024;

bool pes_pts(const uint8_t* p, size_t available, uint64_t* pts) {
    if (available < 14 || p[0] != 0 || p[1] != 0 || p[2] != 1 || (p[3] & 0xE0) != 0xC0)
        return false;
    if ((p[6] & 0xC0) != 0x80 || !(p[7] & 0x80) || p[8] < 5) return false;
    if ((p[9] & 0xE1) != 0x21 || !(p[11] & 1) || !(p[13] & 1)) return false;
    *pts = (uint64_t((p[9] >> 1) & 7) << 30) | (uint64_t(p[10]) << 22) |
           (uint64_t(p[11] >> 1) << 15) | (uint64_t(p[12]) << 7) | (p[13] >> 1);
    return true;
}

void find_stamps(const uint8_t* data, int sectors, ClusterStamps* stamps) {
    for (int s = 0; s < sectors;) {
        const uint8_t* sector = data + size_t(s) * SECTOR_SIZE;
        uint32_t bytes = 0;
        uint16_t payload = 0;
        if (match_audio_block(sector, &bytes, &payload)) {
            const size_t room = size_t(sectors - s - 1) * SECTOR_SIZE;
            const size_t in_payload = bytes < room ? bytes : room;
            const uint8_t* p = sector + SECTOR_SIZE;
            for (size_t at = 0; at + 14 <= in_payload; ++at) {
                uint64_t pts = 0;
                if (p[at] != 0 || !pes_pts(p + at, in_payload - at, &pts)) continue;
                if (!stamps->found) stamps->first = pts;
                stamps->found = true;
                stamps->last = pts;
            }
            s += 1 + payload;
        } else if (match_video_block(sector, &bytes, &payload)) {
            s += 1 + payload;
        } else {
            ++s;
        }
    }
}

// Reads the start of cluster c's data (or all of it) and takes its time stamps; a cluster that
// cannot be read simply has none.
ClusterStamps cluster_stamps(DiskHandle disk, uint32_t c, bool whole, uint8_t* buffer) {
    ClusterStamps stamps;
    const int sectors = whole ? CLUSTER_DATA_SECTORS : FIRST_STAMP_SECTORS;
    if (read_whole(disk, buffer, static_cast<int>(cluster_data_sector(c)), sectors))
        find_stamps(buffer, sectors, &stamps);
    return stamps;
}

// Orders a group's clusters by their first time stamps, wrap-aware: the 33-bit stamps lie on a
// circle, and the recording starts after the widest gap between them. Clusters without a stamp
// follow in ascending order. Gives how many had a stamp.
uint32_t order_by_stamps(uint16_t* clusters, uint64_t* stamps, const bool* has, uint32_t count) {
    // Stamped clusters first (each keeping its stamp), sorted by stamp; the rest stay ascending.
    uint32_t stamped = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (!has[i]) continue;
        uint16_t c = clusters[i];
        uint64_t t = stamps[i];
        for (uint32_t k = i; k > stamped; --k) {
            clusters[k] = clusters[k - 1];
            stamps[k] = stamps[k - 1];
        }
        clusters[stamped] = c;
        stamps[stamped] = t;
        ++stamped;
    }
    // Insertion sort of the stamped part: groups are small next to the time the reads take.
    for (uint32_t i = 1; i < stamped; ++i) {
        uint16_t c = clusters[i];
        uint64_t t = stamps[i];
        uint32_t k = i;
        for (; k > 0 && stamps[k - 1] > t; --k) {
            clusters[k] = clusters[k - 1];
            stamps[k] = stamps[k - 1];
        }
        clusters[k] = c;
        stamps[k] = t;
    }
    if (stamped > 1) {
        uint32_t start = 0;
        uint64_t widest = stamps[0] + PTS_MODULUS - stamps[stamped - 1];
        for (uint32_t i = 1; i < stamped; ++i) {
            if (stamps[i] - stamps[i - 1] > widest) {
                widest = stamps[i] - stamps[i - 1];
                start = i;
            }
        }
        std::rotate(clusters, clusters + start, clusters + stamped);
        std::rotate(stamps, stamps + start, stamps + stamped);
    }
    return stamped;
}

// Lays each group's clusters out in chain[], group after group, in playing order, and sets its
// duration. Clusters are put back by the audio time stamps they carry: a chain the receiver
// wrote out of order (9 -> 4 -> 6) comes back as it was. Clusters that were never written
// (key 0) carry none and are not read.
void order_groups(DiskHandle disk, int found, uint16_t last, const uint16_t* group_of,
                  DiscoveredRecording* groups, uint16_t* chain, uint64_t* stamps, bool* stamped,
                  uint8_t* data) {
    uint32_t start = 0;
    for (int h = 0; h < found; ++h) {
        DiscoveredRecording& g = groups[h];
        g.chain_start = start;
        uint16_t* mine = chain + start;
        uint32_t count = 0;
        for (uint32_t c = 0; c < last && count < g.cluster_count; ++c)
            if (group_of[c] == h) mine[count++] = static_cast<uint16_t>(c);
        g.cluster_count = count;
        start += count;
        uint32_t with_stamps = 0;
        uint64_t span = 0;
        if (g.key != 0) {
            for (uint32_t i = 0; i < count; ++i) {
                ClusterStamps t = cluster_stamps(disk, mine[i], false, data);
                stamped[i] = t.found;
                stamps[i] = t.first;
            }
            with_stamps = order_by_stamps(mine, stamps, stamped, count);
            if (with_stamps > 0) {
                ClusterStamps t = cluster_stamps(disk, mine[with_stamps - 1], true, data);
                uint64_t end = t.found ? t.last : stamps[with_stamps - 1];
                span = (end + PTS_MODULUS - stamps[0]) % PTS_MODULUS;
            }
        }
        // The duration from the time stamps, 20 seconds for each cluster without one.
        g.duration =
            static_cast<uint32_t>(span / PTS_TICKS_PER_HUNDREDTH) + (count - with_stamps) * 2000;
    }
}

// may_write false: a look at what recovery would add, on a disk opened for reading; it stops
// after the question whatever the answer.
int recover_on(DiskHandle disk, bool may_write, int listed_count, const OperationHooks* hooks,
               char* message, const RecoveryView* view) {
    const int listed = listed_count < 0 ? 0 : listed_count;
    uint8_t table[FAT_BYTES];
    uint8_t residue[4];
    uint16_t last = 0;
    uint8_t toc[TOC_BYTES];
    std::unique_ptr<ClusterUse> use(new (std::nothrow) ClusterUse);
    std::unique_ptr<uint16_t[]> group_of(new (std::nothrow) uint16_t[FAT_ENTRIES]);
    std::unique_ptr<uint16_t[]> chain(new (std::nothrow) uint16_t[FAT_ENTRIES]);
    std::unique_ptr<uint64_t[]> stamps(new (std::nothrow) uint64_t[FAT_ENTRIES]);
    std::unique_ptr<bool[]> stamped(new (std::nothrow) bool[FAT_ENTRIES]);
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[CLUSTER_DATA_BYTES]);
    std::unique_ptr<DiscoveredRecording[]> groups(new (std::nothrow)
                                                      DiscoveredRecording[MAX_RECORDINGS]);
    if (!use || !group_of || !chain || !stamps || !stamped || !data || !groups) {
        put_message(message, "Not enough memory for the cluster buffer.");
        return 0;
    }
    int found = 0;
    {
        BusyScope busy(hooks);
        if (!read_fat_whole(disk, table, message)) return 0;
        if (!read_last_cluster(disk, &last, message)) return 0;
        fat_checksum_residue(table, residue, last);
        if (listed >= MAX_RECORDINGS) {
            put_message(message, "No Recordings to recover on this disk.");
            return 0;
        }
        if (!read_toc_whole(disk, toc, message)) return 0;
        // The new slots follow the count the caller passed in; were the table to list a
        // different number (a record that could not be loaded makes the list look empty), the
        // new slots would land on recordings the table still lists.
        if (toc_count(toc) != listed) {
            put_message(message,
                        "The Table of Contents does not list the recordings that were loaded; "
                        "nothing was changed.");
            return 0;
        }
        // A cluster a listed chain reaches is never made part of a group, whatever the table
        // says of it; one the table holds for no listed recording (a write cut short) is taken
        // back like a free one, unless a slot names a record we cannot see.
        if (!find_cluster_use(disk, toc, listed, -1, table, last, use.get(), message)) return 0;
        found = scan_clusters(disk, MAX_RECORDINGS - listed, hooks, *use, last, group_of.get(),
                              groups.get(), message);
        if (found < 0) return 0;
        order_groups(disk, found, last, group_of.get(), groups.get(), chain.get(), stamps.get(),
                     stamped.get(), data.get());
    }
    if (found == 0) {
        put_message(message, "No Recordings to recover on this disk.");
        return 0;
    }
    notice_kept_out(*use, hooks);
    for (int h = 0; view && view->group && h < found; ++h)
        view->group(view->context, h + 1,
                    RecoveryGroup{groups[h].key, groups[h].first_cluster, groups[h].cluster_count,
                                  groups[h].start_time});
    put_message(message, "%d Recordings discovered. Do you want to proceed with recovery?", found);
    if (!hook_confirm(hooks, message) || hook_cancelled(hooks) || !may_write) {
        put_message(message, "Recovery cancelled.");
        return 0;
    }

    uint8_t record[RECORD_BYTES];
    for (int h = 0; h < found; ++h) {
        const DiscoveredRecording& g = groups[h];
        const uint16_t* mine = chain.get() + g.chain_start;
        const uint32_t count = g.cluster_count;
        link_chain(table, mine, count);

        uint16_t offset = 0;
        // The slots already listed and those given to earlier groups name taken sectors.
        if (!find_free_record_sector(disk, toc, listed + h, record, &offset, message)) return 0;
        uint8_t* slot = toc_slot(toc, listed + h);
        write_be16(slot, g.attributes);
        write_be16(slot + 2, offset);
        build_record(g, h + 1, mine[0], record);
        // Written at once, so the next group's search skips this sector.
        if (!write_new_record(disk, record, offset, message)) return 0;
    }
    write_be16(toc + TOC_COUNT_OFFSET, static_cast<uint32_t>(listed + found));
    store_fat_checksum(table, residue, last);
    // Records, then the tables, and the Table of Contents last: until its slots are written the
    // new chains are allocated to nobody listed, which a later recovery takes back again.
    if (!write_fat_and_copy(disk, table, message)) return 0;
    if (!write_toc_whole(disk, toc, message)) return 0;
    put_message(message, "All Recordings were successfully restored.");
    return 1;
}

}  // namespace

int recover_recordings(WritableDisk target, int listed_count, const OperationHooks* hooks,
                       char* message, const RecoveryView* view) {
    DiskHandle disk = target.handle();
    return recover_on(disk, true, listed_count, hooks, message, view);
}

int preview_recovery(DiskHandle disk, int listed_count, const OperationHooks* hooks, char* message,
                     const RecoveryView* view) {
    return recover_on(disk, false, listed_count, hooks, message, view);
}

}  // namespace quarrow
