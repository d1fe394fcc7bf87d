// Disk dump: copies the start of an open disk, unit by unit (a unit is normally one cluster's
// worth, 16384 sectors of 512 bytes), into a raw image file that can be opened later instead of
// the disk. Progress goes through the hooks: the Please Wait window in the Windows program, a
// progress bar on the terminal in `quarrow dump`.
#pragma once

#include "disk/hooks.h"
#include "disk/sector_access.h"

namespace quarrow {

// 1 when unit_count units of sectors_per_unit sectors were copied from sector 0 into a file
// created (or emptied) at path; 0 with the reason in message. Where raw drives are out of reach
// (Windows 95/98/Me) it fails without a message. A failed dump leaves the file holding the
// units copied before the failure.
int dump_disk(DiskHandle disk, int unit_count, int sectors_per_unit, int sector_size,
              const char* path, const OperationHooks* hooks, char* message);

// The copy itself into an open output handle, written sequentially from its position; the
// handle stays open (it is the caller's).
int dump_to_handle(DiskHandle disk, int unit_count, int sectors_per_unit, int sector_size,
                   DiskHandle out, const OperationHooks* hooks, char* message);

}  // namespace quarrow
