// Which file or device a path or an open disk is, whatever its spelling (a symlink, a relative
// path, a second device node, the drive a scan found): what the commands that write files
// compare so that their output is never the disk they read. Implemented in
// file_identity_posix.cpp (device and inode, st_rdev for devices) and file_identity_win32.cpp
// (volume serial number and file index); disk_identity in sector_access_*.cpp, which know the
// open handle.
#pragma once

#include <cstdint>

#include "disk/sector_access.h"

namespace quarrow {

struct FileIdentity {
    uint64_t volume = 0;  // st_dev; the volume serial number on Windows
    uint64_t index = 0;   // st_ino; the file index on Windows
    uint64_t device = 0;  // st_rdev of a block or character device, else 0
    bool regular = false;
    bool block_device = false;
    // Some write permission bit of the mode is set (POSIX); the read-only attribute is clear
    // (Windows). Root may write whatever the mode says: this is what the owner meant.
    bool mode_writable = false;
};

// The identity of what path names (following symlinks); false when it does not exist or the
// system cannot tell.
bool path_identity(const char* path, FileIdentity* out);
// The identity of an open disk; false for disks that are not files or devices (test images in
// memory) or when the system cannot tell.
bool disk_identity(DiskHandle disk, FileIdentity* out);

// The same file, or two names of the same device.
inline bool same_file(const FileIdentity& a, const FileIdentity& b) {
    if (a.device != 0 || b.device != 0) return a.device == b.device;
    return a.volume == b.volume && a.index == b.index;
}

// True when path exists and is the file or device disk reads.
inline bool path_is_disk(const char* path, DiskHandle disk) {
    FileIdentity a, b;
    return path_identity(path, &a) && disk_identity(disk, &b) && same_file(a, b);
}

}  // namespace quarrow
