// Whether a physical drive may be overwritten: the quick erase claims the drive first, so that it
// never writes to a drive the operating system is using (a mounted file system, swap space, a
// device stacked on it), and releases the claim after the last write.
//
// Platform halves: drive_use_posix.cpp (mount table, swap table, sysfs holders, an exclusive
// open that keeps the drive from being mounted meanwhile) and drive_use_win32.cpp (volumes with a
// drive letter that lie on the drive).
#pragma once

#include <cstdint>

namespace quarrow {

struct DriveClaim {
    intptr_t token = -1;
};

// Checks that drive (whose device path is path) is not in use and claims it. False with a
// message (MESSAGE_SIZE) naming what uses the drive, or why it could not be claimed.
bool claim_drive(int drive, const char* path, DriveClaim* claim, char* message);

// Makes the writes done meanwhile durable and gives the claim up; false when the operating
// system reports that they could not be written.
bool release_drive_claim(DriveClaim* claim);

}  // namespace quarrow
