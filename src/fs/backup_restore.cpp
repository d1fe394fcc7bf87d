#include "fs/backup_restore.h"

#include <cstring>
#include <memory>
#include <new>

#include "disk/output_file.h"
#include "fs/chain_checks.h"
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

int restore_recording(WritableDisk target, const char* path, const OperationHooks* hooks,
                      char* message) {
    DiskHandle disk = target.handle();
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
    if (clusters > count_free_clusters(table, last)) {
        put_message(message, "Not enough space left on the MediaMaster disk!");
        return 0;
    }
    std::unique_ptr<uint8_t[]> buffer = cluster_buffer();
    std::unique_ptr<ClusterUse> use(new (std::nothrow) ClusterUse);
    std::unique_ptr<uint16_t[]> chain(new (std::nothrow) uint16_t[FAT_ENTRIES]);
    if (!buffer || !use || !chain) {
        put_message(message, "%s", NO_MEMORY_MESSAGE);
        return 0;
    }
    uint8_t residue[4];
    fat_checksum_residue(table, residue, last);

    uint8_t toc[TOC_BYTES];
    if (!read_toc_whole(disk, toc, message)) return 0;
    const int n = toc_count(toc);
    if (n >= MAX_RECORDINGS) {
        put_message(message, "The Table of Contents is full. Please delete some recordings first.");
        return 0;
    }
    uint8_t sector[RECORD_BYTES];
    uint16_t offset = 0;
    if (!find_free_record_sector(disk, toc, n, sector, &offset, message)) return 0;
    // A cluster the table shows as free may still be read by a listed recording whose chain runs
    // into it: the new chain takes only clusters that nothing listed uses.
    if (!find_cluster_use(disk, toc, n, -1, table, last, use.get(), message)) return 0;
    notice_kept_out(*use, hooks);
    if (clusters > use->free) {
        put_message(message, "Not enough space left on the MediaMaster disk!");
        return 0;
    }
    take_free_clusters(*use, last, clusters, chain.get());
    link_chain(table, chain.get(), clusters);
    store_fat_checksum(table, residue, last);
    if (hook_cancelled(hooks)) {
        put_message(message, "%s", RESTORE_CANCELLED_MESSAGE);
        return 0;
    }
    const uint32_t first = clusters > 0 ? chain[0] : FAT_CHAIN_END;
    append_slot(toc, 0x00, record[REC_FLAGS], offset);
    write_be16(record + REC_FIRST_CLUSTER, first);

    const uint32_t needed =
        clusters_needed(read_be32(record + REC_START_OFFSET), read_be32(record + REC_LENGTH));
    if (clusters > 0 && clusters < needed) {
        char notice[MESSAGE_SIZE];
        put_message(notice,
                    "The backup file holds %u clusters, its recording's length reaches %u: it "
                    "ends early, as it did on its disk.",
                    static_cast<unsigned>(clusters), static_cast<unsigned>(needed));
        hook_notice(hooks, notice);
    }

    // The data goes first, into clusters nothing uses yet; then the record, the tables, and last
    // the slot that lists it. A crash before the slot leaves the old listing (and clusters the
    // table holds for nobody, which recovery takes back); never a listed recording of stale data.
    BusyScope busy(hooks);
    for (uint32_t i = 0; i < clusters; ++i) {
        if (read_fully(in.get(), buffer.get(), CLUSTER_BYTES) < CLUSTER_BYTES) {
            put_message(message, "Error reading from input file.");
            return 0;
        }
        if (!write_whole(disk, buffer.get(), static_cast<int>(cluster_first_sector(chain[i])),
                         CLUSTER_SECTORS)) {
            put_message(message, "Error while writing to MediaMaster Disk.");
            return 0;
        }
        hook_progress(hooks, i + 1, clusters);
    }
    if (!write_new_record(disk, record, offset, message)) return 0;
    if (!write_fat_and_copy(disk, table, message)) return 0;
    if (!write_toc_whole(disk, toc, message)) return 0;
    return 1;
}

}  // namespace quarrow
