// Physical drives: the drive table (which device or file stands for drive number n), and the
// list the erase dialog and `quarrow drives` show (number, model name as the drive reports it,
// size in GB, system mark). Whether a drive holds a MediaMaster disk is for the file-system layer
// to say: it passes that mark in (fs/disk_detection.h lists the drives with it).
//
// Platform halves: drive_list_win32.cpp ("\\.\PhysicalDriveN", the model through SMART IDENTIFY)
// and drive_list_posix.cpp (the whole-disk block devices in sysfs, the model from
// HDIO_GET_IDENTITY, then sysfs). Everything else here is shared and pure.
#pragma once

#include <cstddef>
#include <cstdint>

#include "disk/ata_identify.h"
#include "disk/sector_access.h"

namespace quarrow {

// "Drive N:\t\t" + model + "\t(N GB)" + the longest mark, with room to spare.
constexpr size_t DRIVE_LINE_SIZE = 160;

// The marks at the end of a drive line.
constexpr const char* MEDIAMASTER_MARK = "\t---- MediaMaster Disk";
constexpr const char* SYSTEM_MARK = "\t---- Protected (System)";

// One listed drive, as the sink receives it.
struct DriveEntry {
    int number;
    char line[DRIVE_LINE_SIZE];   // the drive line with its tabs and mark
    char model[MODEL_TEXT_SIZE];  // model text or "[unknown]" (8-bit, as the drive gives it)
    uint64_t size_mb;
    uint32_t size_gb;
    bool mediamaster;  // the drive holds a MediaMaster file system
    bool system;       // drive 0, which is treated as the system drive
};

// Receives the drives in order, 0 first.
struct DriveSink {
    void* context;
    void (*drive)(void* context, const DriveEntry* entry);
};

// The path that stands for physical drive n: the n-th entry of QUARROW_DRIVES when it is set
// (entries separated by DRIVE_LIST_SEPARATOR), else the machine's own drive n. False past the
// table, for an empty entry, or when the path does not fit out_size.
bool physical_drive_path(int drive, char* out, size_t out_size);

// Entry n of a drive list such as QUARROW_DRIVES. Every entry keeps its position: an empty one is
// a drive number that does not open, so "a::b" leaves drive 1 missing and a scan stops there, as
// with a real gap. False for an empty or missing entry and for one that does not fit out_size.
bool drive_list_entry(const char* list, char separator, int drive, char* out, size_t out_size);

// Describes drive number drive, open as disk: its size, model and drive line. mediamaster is the
// file-system layer's verdict on the disk.
void describe_drive(DiskHandle disk, int drive, bool mediamaster, DriveEntry* entry);

// Decimal gigabytes of a drive of size_mb MiB: three truncating steps (× 1024 / 1000 twice,
// then / 1000), in 64-bit arithmetic so that large drives do not wrap.
uint32_t drive_size_gb(uint64_t size_mb);

// Builds the drive line: "Drive N:\t\t" model "\t(" GB " GB)" and the mark (MediaMaster first;
// otherwise the system mark for drive 0; otherwise none).
void format_drive_line(char* out, size_t size, int drive, const char* model, uint32_t size_gb,
                       bool mediamaster);

// Platform halves.

// Separates the entries of QUARROW_DRIVES: ':' on POSIX, ';' on Windows (where ':' is part of
// a path).
extern const char DRIVE_LIST_SEPARATOR;

// The machine's own drive n, when QUARROW_DRIVES is not set: "\\.\PhysicalDriveN" on Windows;
// on Linux the whole-disk block devices (not RAM disks, zram, unattached loop devices or drives
// without a medium), the disk of the root file system first so that drive 0 is the system disk,
// then the others by name.
bool system_drive_path(int drive, char* out, size_t out_size);

// The model text of a drive into buffer (MODEL_TEXT_SIZE bytes is enough), or "[unknown]"
// whenever the drive does not say.
void drive_model_name(char* buffer, size_t size, int drive);

}  // namespace quarrow
