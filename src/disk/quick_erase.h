// Quick erase: zeroes the start of a physical drive (with the default parameters the 8 MiB
// system area before cluster 0: boot area, both allocation tables, Table of Contents and every
// record), so that the receiver's own "Erase Disk" can format it afresh.
//
// It never writes to drive 0, which is treated as the system drive, nor to a drive that the
// operating system is using (drive_use.h), whatever the caller checked before.
#pragma once

#include "disk/sector_access.h"

namespace quarrow {

// One block of 16384 sectors: the whole system area.
constexpr int ERASE_BLOCK_SECTORS = 16384;

constexpr const char* DRIVE0_DENIED_TEXT =
    "The Drive 0 being typically your System drive, this operation is denied.";

// 1 when block_count blocks of block_sectors sectors were zeroed from sector 0 of the drive.
int quick_erase(int drive, int block_count, int block_sectors);

// The same, with the reason of a refusal or failure in message (MESSAGE_SIZE bytes).
int quick_erase_drive(int drive, int block_count, int block_sectors, char* message);

// The writing itself, on an open drive: block k of block_sectors × the drive's sector size bytes
// goes to byte k × that size, each in one write. Fails when the drive reports no sector size.
int erase_blocks(DiskHandle disk, int block_count, int block_sectors, char* message);

}  // namespace quarrow
