// Disk dump: copies the start of an open disk, unit by unit (a unit is normally one cluster's
// worth, 16384 sectors of 512 bytes), into a raw image file that can be opened later instead of
// the disk. Progress goes through the hooks: the Please Wait window in the Windows program, a
// progress bar on the terminal in `quarrow dump`.
#pragma once

#include "disk/hooks.h"
#include "disk/output_file.h"
#include "disk/sector_access.h"

namespace quarrow {

// The dump's message when the hooks asked it to stop (Ctrl-C) between units.
constexpr const char* DUMP_INTERRUPTED = "The dump was interrupted.";

// What a dump left, for the front end's report.
struct DumpOutcome {
    int units_written = 0;             // units that reached the file before it ended
    OutputLeft left = OUTPUT_NOTHING;  // after a failure: what path holds now
};

// 1 when unit_count units of sectors_per_unit sectors were copied from sector 0 into the file at
// path, made durable and given its name (replacing an earlier file); 0 with the reason in
// message. Where raw drives are out of reach (Windows 95/98/Me) it fails without a message.
// The copy is written beside path and renamed when complete (output_file.h): a failed or
// interrupted dump leaves the units copied before the failure under path when no file of that
// name existed, and an earlier file byte-identical when one did. The hooks' cancel question is
// asked before each unit.
int dump_disk(DiskHandle disk, int unit_count, int sectors_per_unit, int sector_size,
              const char* path, const OperationHooks* hooks, char* message,
              DumpOutcome* outcome = nullptr);

// The copy itself into an open output handle, written sequentially from its position; the
// handle stays open (it is the caller's).
int dump_to_handle(DiskHandle disk, int unit_count, int sectors_per_unit, int sector_size,
                   DiskHandle out, const OperationHooks* hooks, char* message);

}  // namespace quarrow
