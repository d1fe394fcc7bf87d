#include "fs/backup_restore.h"

#include <cstring>
#include <memory>
#include <new>

#include "fs/damaged_disk.h"
#include "fs/maintenance_io.h"
#include "fs/recording_editing.h"
#include "fs/recording_table.h"

namespace quarrow {

const char* const CHAIN_LOOPS_MESSAGE =
    "The recording's cluster chain loops back on itself; the backup stops there.";
const char* const NO_FREE_RECORD_MESSAGE =
    "No free Recording Information record sector left on the MediaMaster disk.";
const char* const READ_RECORD_FAILED_MESSAGE =
    "Could not read Recording Information record from MediaMaster disk.";

namespace {

const char* const NO_MEMORY_MESSAGE = "Not enough memory for the cluster buffer.";

// The busy hook is switched off on every return once it was switched on.
struct BusyScope {
    const OperationHooks* hooks;
    bool on = false;
    explicit BusyScope(const OperationHooks* h) : hooks(h) {}
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    void start() {
        hook_busy(hooks, true);
        on = true;
    }
    void stop() {
        if (on) hook_busy(hooks, false);
        on = false;
    }
    ~BusyScope() { stop(); }
};

std::unique_ptr<uint8_t[]> cluster_buffer() {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[CLUSTER_BYTES]);
}

// Reads len bytes from a file; short only at its end or on an error.
uint32_t read_fully(DiskHandle file, uint8_t* buffer, uint32_t len) {
    uint32_t got = 0;
    while (got < len) {
        int64_t n = file_read(file, buffer + got, len - got);
        if (n <= 0) break;
        got += static_cast<uint32_t>(n);
    }
    return got;
}

// Links of the chain from first that a backup will copy, for the progress total: it stops where
// the copy stops (chain end, a link beyond the disk, more links than the disk has clusters).
int64_t chain_length(const uint8_t* table, uint32_t first, uint16_t last) {
    int64_t links = 0;
    for (uint32_t k = first; k != FAT_CHAIN_END && k <= last && links <= last;
         k = fat_entry(table, k) & 0x7FFF)
        ++links;
    return links;
}

}  // namespace

uint16_t count_free_clusters(const uint8_t* table, uint16_t last_cluster) {
    uint32_t free = 0;
    for (uint32_t c = 0; c <= last_cluster && c < FAT_ENTRIES; ++c)
        if (!(fat_entry(table, c) & FAT_ALLOCATED)) ++free;
    return static_cast<uint16_t>(free);
}

int find_free_record_sector(DiskHandle disk, uint8_t* record, uint16_t* offset, char* message) {
    // The receiver keeps at most MAX_RECORDINGS recordings, so the record sectors they can use are
    // the first MAX_RECORDINGS behind the Table of Contents; the search stops there rather than
    // running on into the rest of the system area.
    for (uint32_t at = RECORD_SECTORS; at <= uint32_t(RECORD_SECTORS) * MAX_RECORDINGS;
         at += RECORD_SECTORS) {
        if (!read_whole(disk, record, TOC_SECTOR + static_cast<int>(at), RECORD_SECTORS)) {
            put_message(message, "%s", READ_RECORD_FAILED_MESSAGE);
            return 0;
        }
        if (record[REC_IN_USE] == 0) {
            *offset = static_cast<uint16_t>(at);
            return 1;
        }
    }
    put_message(message, "%s", NO_FREE_RECORD_MESSAGE);
    return 0;
}

int backup_recording(DiskHandle disk, int index, const char* path, const OperationHooks* hooks,
                     char* message, DamagedReads* damaged) {
    DiskHandle out = create_output_file(path);
    if (!out) {
        put_message(message, "Could not create output file.");
        return 0;
    }
    HandleCloser close_out(out);
    uint8_t table[FAT_BYTES];
    if (damaged)
        damaged->fat = read_fat_around_damage(disk, damaged->map, table);
    else if (!read_fat_whole(disk, table, message))
        return 0;
    uint8_t toc[TOC_BYTES];
    if (!read_toc_whole(disk, toc, message)) return 0;
    int n = static_cast<int>(read_be16(toc + TOC_COUNT_OFFSET));
    if (n <= 0 || n > MAX_RECORDINGS || index < 0 || index >= n) {
        put_message(message, "%s", NO_SUCH_RECORDING_MESSAGE);
        return 0;
    }
    uint32_t offset = toc_slot_record_offset(toc, slot_of_index(n, index));
    uint8_t record[RECORD_BYTES];
    if (!record_offset_usable(offset) ||
        !read_whole(disk, record, TOC_SECTOR + static_cast<int>(offset), RECORD_SECTORS)) {
        put_message(message, "Could not read recording entry from MediaMaster disk.");
        return 0;
    }
    if (!file_write(out, record, RECORD_BYTES)) {
        put_message(message, "Error while writing output file.");
        return 0;
    }
    uint16_t last = read_last_cluster_index(disk);
    if (last == 0) {
        put_message(message, "Failed to retrieve information from Boot Sector.");
        return 0;
    }
    std::unique_ptr<uint8_t[]> buffer = cluster_buffer();
    if (!buffer) {
        put_message(message, "%s", NO_MEMORY_MESSAGE);
        return 0;
    }

    BusyScope busy(hooks);
    busy.start();
    uint32_t k = read_be16(record + REC_FIRST_CLUSTER);
    const int64_t total = chain_length(table, k, last);
    int64_t done = 0;
    // A chain longer than the disk has clusters must loop; it is stopped rather than followed
    // until the disk fills.
    while (k != FAT_CHAIN_END && k <= last) {
        if (done > last) {
            put_message(message, "%s", CHAIN_LOOPS_MESSAGE);
            return 0;
        }
        // On a damaged disk the header sectors count as the start of the cluster's data.
        bool read = damaged
                        ? read_damaged(disk, buffer.get(), cluster_first_sector(k), CLUSTER_SECTORS,
                                       done * CLUSTER_DATA_SECTORS - CLUSTER_HEADER_SECTORS,
                                       damaged) == CLUSTER_SECTORS
                        : read_whole(disk, buffer.get(), static_cast<int>(cluster_first_sector(k)),
                                     CLUSTER_SECTORS);
        if (!read) {
            put_message(message, "Read operation failed.");
            return 0;
        }
        if (!file_write(out, buffer.get(), CLUSTER_BYTES)) {
            put_message(message, "Error while writing output file.");
            return 0;
        }
        hook_progress(hooks, ++done, total);
        k = fat_entry(table, k) & 0x7FFF;
    }
    if (k != FAT_CHAIN_END) {
        put_message(message, "FAT Pointer out of bounds.");
        return 0;
    }
    return 1;
}

int restore_recording(DiskHandle disk, const char* path, const OperationHooks* hooks,
                      char* message) {
    DiskHandle in = open_input_file(path);
    if (!in) {
        put_message(message, "Could not open input file.");
        return 0;
    }
    HandleCloser close_in(in);
    uint8_t table[FAT_BYTES];
    if (!read_fat_whole(disk, table, message)) return 0;
    uint16_t last = read_last_cluster_index(disk);
    if (last == 0) {
        put_message(message, "Failed to retrieve information from Boot Sector.");
        return 0;
    }
    uint32_t free = count_free_clusters(table, last);
    uint32_t clusters = image_size_mb(in) / 8;
    if (clusters > free) {
        put_message(message, "Not enough space left on the MediaMaster disk!");
        return 0;
    }
    // A file cut short inside its last cluster would otherwise be found out only after the
    // recording was listed and allocated: it is refused before anything is written.
    uint64_t file_bytes = 0;
    if (clusters > 0 && in->size_bytes && in->size_bytes(in, &file_bytes) &&
        file_bytes < RECORD_BYTES + uint64_t(clusters) * CLUSTER_BYTES) {
        put_message(message, "The backup file ends inside its last cluster: it is incomplete.");
        return 0;
    }
    std::unique_ptr<uint8_t[]> buffer = cluster_buffer();
    if (!buffer) {
        put_message(message, "%s", NO_MEMORY_MESSAGE);
        return 0;
    }
    uint8_t residue[4];
    fat_checksum_residue(table, residue, last);

    // The chain takes the lowest free clusters in ascending order, overwriting their free links.
    uint32_t first = FAT_CHAIN_END;
    if (clusters > 0) {
        uint32_t c = 0;
        while (fat_entry(table, c) & FAT_ALLOCATED)
            ++c;
        first = c;
        uint32_t previous = c;
        for (uint32_t taken = 1; taken < clusters; ++taken) {
            do
                ++c;
            while (fat_entry(table, c) & FAT_ALLOCATED);
            set_fat_entry(table, previous, FAT_ALLOCATED | c);
            previous = c;
        }
        set_fat_entry(table, previous, FAT_LAST_ALLOCATED);
    }
    store_fat_checksum(table, residue, last);

    uint8_t toc[TOC_BYTES];
    if (!read_toc_whole(disk, toc, message)) return 0;
    uint32_t n = read_be16(toc + TOC_COUNT_OFFSET);
    if (n >= uint32_t(MAX_RECORDINGS)) {
        put_message(message, "The Table of Contents is full. Please delete some recordings first.");
        return 0;
    }
    uint8_t record[RECORD_BYTES];
    uint16_t offset = 0;
    if (!find_free_record_sector(disk, record, &offset, message)) return 0;
    if (read_fully(in, record, RECORD_BYTES) < uint32_t(RECORD_BYTES)) {
        put_message(message, "Error while reading recording information from file.");
        return 0;
    }
    // A file with no whole cluster is the backup of a recording without clusters only when its
    // record says so; otherwise it is a damaged backup and restoring it would list a recording
    // whose data is missing.
    if (clusters == 0 && read_be16(record + REC_FIRST_CLUSTER) != FAT_CHAIN_END) {
        put_message(message, "The backup file holds no whole cluster of its recording.");
        return 0;
    }

    write_be16(toc + TOC_COUNT_OFFSET, n + 1);
    uint8_t* slot = toc_slot(toc, static_cast<int>(n));
    slot[0] = 0x00;
    slot[1] = record[REC_FLAGS];
    write_be16(slot + 2, offset);
    write_be16(record + REC_FIRST_CLUSTER, first);

    if (!write_whole(disk, record, TOC_SECTOR + offset, RECORD_SECTORS)) {
        put_message(message, "Could not write Recording Information record to MediaMaster disk.");
        return 0;
    }
    if (!write_whole(disk, toc, TOC_SECTOR, TOC_SECTORS)) {
        put_message(message, "Could not write Table of Contents to MediaMaster disk.");
        return 0;
    }
    if (!write_fat_and_copy(disk, table, message)) return 0;

    BusyScope busy(hooks);
    busy.start();
    int64_t done = 0;
    for (uint32_t k = first; k <= last && done < int64_t(clusters);
         k = fat_entry(table, k) & 0x7FFF) {
        if (read_fully(in, buffer.get(), CLUSTER_BYTES) < CLUSTER_BYTES) {
            put_message(message, "Error reading from input file.");
            return 0;
        }
        if (!write_whole(disk, buffer.get(), static_cast<int>(cluster_first_sector(k)),
                         CLUSTER_SECTORS)) {
            put_message(message, "Error while writing to MediaMaster Disk.");
            return 0;
        }
        hook_progress(hooks, ++done, clusters);
    }
    return 1;
}

}  // namespace quarrow
