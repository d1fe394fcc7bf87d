// Recording backup files (".mmr"): one recording's 2048-byte Recording Information record, as
// stored, followed by each of its clusters in chain order, whole (16384 sectors, header included).
// No header, magic or checksum of its own; the cluster count is taken from the file size
// (whole MiB / 8).
//
// Called by the Recording Management window (src/ui, the "Backups" menu) and by the
// `quarrow backup` and `quarrow restore` commands (src/cli). Both operations give 1 on success
// and 0 on failure with one fixed message in the caller's MESSAGE_SIZE buffer (left as it was on
// success). hooks (may be null) get busy(true/false) around the cluster copy (the hourglass) and
// progress(clusters done, clusters in total) after each cluster. Neither changes the caller's
// recording list: after a restore the caller reloads it (reload_recording_table).
//
// What a failed restore leaves on the disk, by the order of its writes (record, Table of
// Contents, table, copy of the table, cluster data):
//   reads, refusals: unchanged;
//   record write: unchanged, or the record sector partly written;
//   Table of Contents write: the record sector is in use but listed nowhere;
//   table write: the recording is listed, its clusters still free in the table;
//   copy write: the first table has the new chain, the copy is old;
//   cluster data: listed and allocated, clusters from the failing one on hold old contents.
#pragma once

#include <cstdint>

#include "disk/hooks.h"
#include "disk/sector_access.h"
#include "fs/layout.h"

namespace quarrow {

struct DamagedReads;  // fs/damaged_disk.h

constexpr uint32_t CLUSTER_BYTES = uint32_t(CLUSTER_SECTORS) * SECTOR_SIZE;  // 8388608

// Writes the recording at list index (slot n - 1 - index) to a new backup file at path (an
// existing file is emptied). Ends with "FAT Pointer out of bounds." at a link beyond the disk's
// last cluster, and with CHAIN_LOOPS_MESSAGE when the chain is longer than the disk has clusters
// (it must then loop); the clusters before that point are in the file, which stays. With damaged
// (the command line's --skip-bad and --map; null in the Windows program) the clusters are read
// past unreadable sectors, zeros in their place, and the allocation table's copy stands in for
// unreadable sectors of the first; damaged->found names each run.
int backup_recording(DiskHandle disk, int index, const char* path, const OperationHooks* hooks,
                     char* message, DamagedReads* damaged = nullptr);

// Adds the recording in the backup file at path to the disk as a new recording (the newest, list
// index 0): allocates the lowest free clusters as an ascending chain, appends a slot, writes the
// record into the first free record sector and copies the clusters. A file with no whole cluster
// after its record restores as a recording without clusters (first cluster 0x3FFF) when its
// record says it has none, and is refused otherwise.
int restore_recording(DiskHandle disk, const char* path, const OperationHooks* hooks,
                      char* message);

// Number of entries 0 ... last_cluster (inclusive) whose FAT_ALLOCATED bit is clear.
uint16_t count_free_clusters(const uint8_t* table, uint16_t last_cluster);

// The record offset (4, 8, ...) of the first free record sector (byte 0 is 0) from offset 4 on,
// searching only the MAX_RECORDINGS record sectors that a full Table of Contents can use.
// 1 and *offset set when one is found; 0 with NO_FREE_RECORD_MESSAGE when none of them is free,
// or with READ_RECORD_FAILED_MESSAGE when a read fails. record receives the sector's bytes.
int find_free_record_sector(DiskHandle disk, uint8_t* record, uint16_t* offset, char* message);

extern const char* const CHAIN_LOOPS_MESSAGE;
extern const char* const NO_FREE_RECORD_MESSAGE;
extern const char* const READ_RECORD_FAILED_MESSAGE;

}  // namespace quarrow
