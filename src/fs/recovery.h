// Reclaiming recordings whose clusters no listed recording uses ("Reclaim all data on disk"):
// the header of every cluster that is free in the table, or allocated but reached by no listed
// chain (a write cut short), is read, the clusters are grouped by the recording key the header
// carries, the user is asked whether to go on, and each group becomes a new recording (a chain in
// playing order, a new record named "Recovered %d", a slot appended to the Table of Contents).
// A cluster a listed chain reaches, or a listed record names, is never made part of a group,
// whatever the table says of it (a notice says how many were kept out). Each group's clusters
// are ordered by the first audio time stamp each holds (33-bit, wrap-aware), those without one
// following in ascending order; the duration comes from the first and last time stamps, 20
// seconds for each cluster without one. Recordings the disk already lists are not touched.
//
// Called by the Recording Management window (src/ui, the "Recovery" menu) and by
// `quarrow recover` (src/cli).
//
// What a failure, or a power cut after a write, leaves on the disk (records, then the table, its
// copy, and the Table of Contents last):
//   reads, no recordings found, an answer other than yes: unchanged;
//   record read or write of group h: records of groups 0 ... h - 1 written, in use, listed
//   nowhere; tables and Table of Contents unchanged;
//   table write: every new record written, the first table (or part of it) holds the new
//   chains, listed nowhere (a later recovery takes them back);
//   copy write: both tables hold the new chains, listed nowhere;
//   Table of Contents write: the old listing, or (once written) every new recording complete.
#pragma once

#include <cstdint>

#include "disk/hooks.h"
#include "disk/sector_access.h"
#include "fs/disk_session.h"

namespace quarrow {

// listed_count is the number of recordings the disk lists (the caller's loaded count); at most
// MAX_RECORDINGS - listed_count groups are made. hooks (may be null): busy(true/false) around the
// scan (the hourglass), progress(clusters scanned, clusters) during it, and confirm with the text
// "%d Recordings discovered. Do you want to proceed with recovery?" before anything is written;
// an answer other than yes gives "Recovery cancelled.". Gives 1 with
// "All Recordings were successfully restored." in message when the recordings were added and
// everything was written; else 0 with the failure's message (also "No Recordings to recover on
// this disk."). The caller reloads its recording list after a success.
//
// view (may be null) is shown every group the scan found, in order, just before the question, so
// that a front end can list them (the command line does; the Windows program asks as it is).
struct RecoveryGroup {
    uint32_t key;            // the recording key of the group's cluster headers; 0: never written
    uint16_t first_cluster;  // the lowest-numbered cluster of the group (not always the first
                             // in playing order)
    uint32_t cluster_count;
    uint32_t start_time;  // seconds since 1970, from the first cluster's header
};
struct RecoveryView {
    void* context;
    void (*group)(void* context, int number, const RecoveryGroup& group);
};
int recover_recordings(WritableDisk target, int listed_count, const OperationHooks* hooks,
                       char* message, const RecoveryView* view = nullptr);

// The scan of recover_recordings on a disk opened for reading (a dry run): the same groups go to
// view and the question is asked, then it stops with "Recovery cancelled." whatever the answer;
// nothing is ever written.
int preview_recovery(DiskHandle disk, int listed_count, const OperationHooks* hooks, char* message,
                     const RecoveryView* view = nullptr);

}  // namespace quarrow
