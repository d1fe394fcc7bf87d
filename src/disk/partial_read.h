// Reads that fail in part: a transfer of many sectors that the drive refuses is split in halves
// down to single sectors, each single sector is tried a bounded number of times, and the caller
// learns which sectors could not be read. Used by rescue (src/disk/rescue.cpp) and by the
// extraction and backup of a damaged disk when the user asks to go on past read errors.
#pragma once

#include <cstdint>
#include <vector>

#include "disk/sector_access.h"

namespace quarrow {

// Sectors first ... first + count - 1.
struct SectorRun {
    int64_t first;
    int64_t count;
};

// Appends a run to a list kept in ascending order, merged with the last run when they touch.
void add_sector_run(std::vector<SectorRun>* runs, int64_t first, int64_t count);

// Reads count 512-byte sectors from sector first into buffer. A transfer that fails is retried in
// halves; a single sector is read at most `retries` times (at least once) and, when every try
// fails, reads as zeros and is added to *bad. Gives the sectors delivered, readable or zeroed:
// fewer than count only where the source ends (a partial last sector is not delivered). The
// number that failed is the total length of the runs added to *bad.
int64_t read_sectors_partial(DiskHandle disk, void* buffer, int64_t first, int64_t count,
                             int retries, std::vector<SectorRun>* bad);

}  // namespace quarrow
