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
// What a failed or cut-off restore leaves on the disk, by the order of its writes (cluster data,
// record, table, copy of the table, Table of Contents). A power cut after any write leaves the
// same as a failure of the next one:
//   reads, refusals: unchanged;
//   cluster data: clusters that nothing listed uses hold (part of) the new data; unchanged else;
//   record write: the record sector in use (or partly written) but listed nowhere; later
//   searches skip it;
//   table write: the new chain allocated in the first table (or that partly written) and
//   listed nowhere: diagnose counts it among the allocated clusters, recover takes it back;
//   copy write: both tables hold the chain, still listed nowhere;
//   Table of Contents write: the old listing, or (once written) the complete new recording.
// Never a listed recording of stale data, never a chain into a cluster another one uses.
#pragma once

#include <cstdint>

#include "disk/hooks.h"
#include "disk/sector_access.h"
#include "fs/chain_checks.h"
#include "fs/disk_session.h"
#include "fs/layout.h"

namespace quarrow {

struct DamagedReads;  // fs/damaged_disk.h

// Writes the recording at list index (slot n - 1 - index) to a backup file at path (an existing
// file is replaced). The file is written under a temporary name beside path and renamed only when
// every cluster is in it and flushed: a backup that fails or is cancelled (hooks->cancelled,
// checked between clusters) leaves no file behind, and an existing file at path stays as it was.
// The chain is checked before the copy: a link beyond the disk ("FAT Pointer out of bounds."), a
// free entry or a loop fails the backup with a message naming the cluster. With damaged (the
// command line's --skip-bad and --map; null in the Windows program) the clusters are read past
// unreadable sectors, zeros in their place, and the allocation table's copy stands in for
// unreadable sectors of the first; damaged->found names each run.
int backup_recording(DiskHandle disk, int index, const char* path, const OperationHooks* hooks,
                     char* message, DamagedReads* damaged = nullptr);

// Adds the recording in the backup file at path to the disk as a new recording (the newest, list
// index 0): allocates the lowest clusters that nothing listed uses (free in the table, reached by
// no listed chain, named by no listed record: find_cluster_use) as an ascending chain, copies the
// clusters, writes the record into the first free record sector and appends a slot. The whole
// file is checked before the first write (check_backup_file): a file cut inside a cluster or
// damaged is refused; one with fewer clusters than its record's start and length reach (the
// backup of a recording that ended early) is restored as it is, with a notice naming both
// counts. Clusters kept out because a listed recording reaches them are named in a notice. A
// request to cancel (hooks->cancelled) is honoured up to the first write; after it the restore
// runs to its end, so that the recording it lists has all its clusters.
int restore_recording(WritableDisk target, const char* path, const OperationHooks* hooks,
                      char* message);

extern const char* const BACKUP_CANCELLED_MESSAGE;
extern const char* const RESTORE_CANCELLED_MESSAGE;

}  // namespace quarrow
