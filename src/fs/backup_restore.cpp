#include "fs/backup_restore.h"

#include <cstring>
#include <memory>
#include <new>

#include "disk/output_file.h"
#include "fs/damaged_disk.h"
#include "fs/maintenance_io.h"
#include "fs/recording_table.h"

namespace quarrow {

const char* const BACKUP_CANCELLED_MESSAGE = "Backup cancelled; no file was written.";
const char* const RESTORE_CANCELLED_MESSAGE = "Restore cancelled; nothing was written to the disk.";

namespace {

const char* const NO_MEMORY_MESSAGE = "Not enough memory for the cluster buffer.";

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

}  // namespace

int backup_recording(DiskHandle disk, int index, const char* path, const OperationHooks* hooks,
                     char* message, DamagedReads* damaged) {
    // Written beside its final name and renamed into place only when whole and flushed: a
    // failed, cancelled or cut-off backup leaves no file, and an earlier one at path stays.
    OutputFilePtr out(begin_output_file(path));
    if (!out) {
        put_message(message, "Could not create output file.");
        return 0;
    }
    uint8_t table[FAT_BYTES];
    if (damaged)
        damaged->fat = read_fat_around_damage(disk, damaged->map, table);
    else if (!read_fat_whole(disk, table, message))
        return 0;
    uint8_t toc[TOC_BYTES];
    if (!read_toc_whole(disk, toc, message)) return 0;
    // A slot naming no usable record sector is reported as a record that could not be read.
    ListedRecord listed;
    if (!read_listed_record(disk, toc, index, &listed, message, READ_RECORD_ENTRY_FAILED_MESSAGE))
        return 0;
    const uint8_t* record = listed.record;
    if (!output_write(out.get(), record, RECORD_BYTES)) {
        put_message(message, "Error while writing output file.");
        return 0;
    }
    uint16_t last = 0;
    if (!read_last_cluster(disk, &last, message)) return 0;
    // The chain is judged whole before a cluster is copied: a damaged end mark would otherwise
    // lead the copy on through free clusters, up to the whole disk.
    const uint32_t first = read_be16(record + REC_FIRST_CLUSTER);
    ChainWalk chain = walk_chain(table, first, last, [](uint32_t) { return true; });
    if (chain.end != CHAIN_COMPLETE) {
        chain_end_message(chain, message);
        return 0;
    }
    std::unique_ptr<uint8_t[]> buffer = cluster_buffer();
    if (!buffer) {
        put_message(message, "%s", NO_MEMORY_MESSAGE);
        return 0;
    }

    BusyScope busy(hooks);
    const int64_t total = chain.links;
    int64_t done = 0;
    ChainWalk copy = walk_chain(table, first, last, [&](uint32_t k) {
        if (hook_cancelled(hooks)) {
            put_message(message, "%s", BACKUP_CANCELLED_MESSAGE);
            return false;
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
            return false;
        }
        if (!output_write(out.get(), buffer.get(), CLUSTER_BYTES)) {
            put_message(message, "Error while writing output file.");
            return false;
        }
        hook_progress(hooks, ++done, total);
        return true;
    });
    if (copy.end != CHAIN_COMPLETE) return 0;
    if (!output_flush(out.get()) || !commit_output_file(out.release())) {
        put_message(message, "Error while writing output file.");
        return 0;
    }
    return 1;
}

int restore_recording(DiskHandle disk, const char* path, const OperationHooks* hooks,
                      char* message) {
    UniqueDisk in(open_input_file(path));
    if (!in) {
        put_message(message, "Could not open input file.");
        return 0;
    }
    // The whole file is judged before the disk is touched: a file cut short would otherwise be
    // found out only after its recording was listed and allocated.
    uint8_t record[RECORD_BYTES];
    uint64_t file_bytes = 0;
    if (read_fully(in.get(), record, RECORD_BYTES) < uint32_t(RECORD_BYTES) || !in->size_bytes ||
        !in->size_bytes(in.get(), &file_bytes)) {
        put_message(message, "Error while reading recording information from file.");
        return 0;
    }
    uint32_t clusters = 0;
    if (!check_backup_file(file_bytes, record, &clusters, message)) return 0;

    uint8_t table[FAT_BYTES];
    if (!read_fat_whole(disk, table, message)) return 0;
    uint16_t last = 0;
    if (!read_last_cluster(disk, &last, message)) return 0;
    uint32_t free = count_free_clusters(table, last);
    if (clusters > free) {
        put_message(message, "Not enough space left on the MediaMaster disk!");
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
    uint32_t n = static_cast<uint32_t>(toc_count(toc));
    if (n >= uint32_t(MAX_RECORDINGS)) {
        put_message(message, "The Table of Contents is full. Please delete some recordings first.");
        return 0;
    }
    uint8_t sector[RECORD_BYTES];
    uint16_t offset = 0;
    if (!find_free_record_sector(disk, toc, static_cast<int>(n), sector, &offset, message))
        return 0;
    if (hook_cancelled(hooks)) {
        put_message(message, "%s", RESTORE_CANCELLED_MESSAGE);
        return 0;
    }

    write_be16(toc + TOC_COUNT_OFFSET, n + 1);
    uint8_t* slot = toc_slot(toc, static_cast<int>(n));
    slot[0] = 0x00;
    slot[1] = record[REC_FLAGS];
    write_be16(slot + 2, offset);
    write_be16(record + REC_FIRST_CLUSTER, first);

    if (!write_new_record(disk, record, offset, message)) return 0;
    if (!write_toc_whole(disk, toc, message)) return 0;
    if (!write_fat_and_copy(disk, table, message)) return 0;

    BusyScope busy(hooks);
    int64_t done = 0;
    for (uint32_t k = first; k <= last && done < int64_t(clusters); k = fat_link(table, k)) {
        if (read_fully(in.get(), buffer.get(), CLUSTER_BYTES) < CLUSTER_BYTES) {
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
