// Finding the MediaMaster disk among the physical drives or accepting an image, loading its
// recording table, and wording every outcome as the one-line status message; and the drive list
// with each MediaMaster disk marked. Called by the Windows program (src/ui) and by every command
// of `quarrow` that opens a SOURCE or lists drives (src/cli).
#pragma once

#include "disk/drive_list.h"
#include "disk/sector_access.h"
#include "fs/recording_table.h"

namespace quarrow {

// The first physical drive that opens and carries the signature, open; null when the scan reaches
// a drive number that does not open first.
DiskHandle scan_physical_drives(bool want_write);

DiskHandle detect_disk(int* count, RecordingEntry* entries, bool want_write, char* message);
DiskHandle open_disk_image(int* count, RecordingEntry* entries, bool want_write, char* message,
                           const char* path);
// Reads the recording table of the open disk *disk again. 1 when the disk stays usable; 0 when
// *disk is null, or when the table lists more recordings than the program takes: the disk is
// then refused, so the reload closes it and sets the caller's *disk to null.
int reload_recording_table(DiskHandle* disk, int* count, RecordingEntry* entries, char* message);

// Opens the drive read-only and describes it, marked when it holds a MediaMaster disk; false when
// it does not open.
bool describe_physical_drive(int drive, DriveEntry* entry);

// Opens drive 0, 1, 2, ... read-only until one does not open, and hands each to the sink.
void list_physical_drives(const DriveSink* sink);

}  // namespace quarrow
