// Finding the MediaMaster disk among the physical drives or accepting an image, loading its
// recording table, and wording every outcome as the one-line status message.
#pragma once

#include "disk/sector_access.h"
#include "fs/recording_table.h"

namespace quarrow {

// The first physical drive that opens and carries the signature, open; null when the scan reaches
// a drive number that does not open first.
DiskHandle scan_physical_drives(bool want_write);

DiskHandle detect_disk(int* count, RecordingEntry* entries, bool want_write, char* message);
DiskHandle open_disk_image(int* count, RecordingEntry* entries, bool want_write, char* message,
                           const char* path);
// 1 when the disk stays usable; 0 when it was refused (and closed) or is null.
int reload_recording_table(DiskHandle disk, int* count, RecordingEntry* entries, char* message);

// Decimal gigabytes shown for a drive of size_mb MiB.
uint32_t drive_gigabytes(uint32_t size_mb);

}  // namespace quarrow
