#include "disk/disk_detection.h"

#include "fs/layout.h"

namespace quarrow {

DiskHandle scan_physical_drives(bool want_write) {
    for (int d = 0;; ++d) {
        DiskHandle disk = open_physical_drive(d, want_write);
        // The scan ends at the first number that does not open, even if higher numbers exist.
        if (!disk) return nullptr;
        if (is_mediamaster_disk(disk)) return disk;
        close_disk(disk);
    }
}

// MiB to decimal gigabytes in three truncating steps. The products are taken in 64 bits: in 32
// bits a drive of 4 TiB or more would wrap and show a small, wrong size.
uint32_t drive_gigabytes(uint32_t size_mb) {
    uint64_t s1 = uint64_t(size_mb) * 1024 / 1000;
    uint64_t s2 = s1 * 1024 / 1000;
    return static_cast<uint32_t>(s2 / 1000);
}

DiskHandle detect_disk(int* count, RecordingEntry* entries, bool want_write, char* message) {
    if (get_os_family() == OS_FAMILY_WIN9X) {
        *count = 0;
        put_message(message, "No physical disk access from Win9x/Me! Use a disk image.");
        return nullptr;
    }
    DiskHandle disk = scan_physical_drives(want_write);
    if (!disk) {
        *count = 0;
        put_message(message, "Could not find MediaMaster Disk.");
        return nullptr;
    }
    uint32_t size = static_cast<uint32_t>(drive_size_mb(disk));
    int n = load_recording_table(disk, entries);
    *count = n;
    if (n == 0) {
        put_message(message, "No Recordings found on this disk.");
        return disk;
    }
    if (n > MAX_RECORDINGS) {
        *count = 0;
        put_message(message, "Too many recordings on this disk.");
        close_disk(disk);
        return nullptr;
    }
    put_message(message, "Detected MediaMaster Disk (%i GB) with %i Recordings.",
                static_cast<int>(drive_gigabytes(size)), n);
    return disk;
}

DiskHandle open_disk_image(int* count, RecordingEntry* entries, bool want_write, char* message,
                           const char* path) {
    DiskHandle disk = open_image_file(path, want_write);
    if (!disk) {
        *count = 0;
        put_message(message, "Invalid image file.");
        return nullptr;
    }
    if (!is_mediamaster_disk(disk)) {
        close_disk(disk);
        *count = 0;
        put_message(message, "Invalid image file.");
        return nullptr;
    }
    uint32_t size = image_size_mb(disk);
    int n = load_recording_table(disk, entries);
    *count = n;
    if (n == 0) {
        put_message(message, "No Recordings found in this image.");
        return disk;
    }
    if (n > MAX_RECORDINGS) {
        *count = 0;
        put_message(message, "Too many recordings in this image.");
        close_disk(disk);
        return nullptr;
    }
    put_message(message, "MediaMaster Disk Image with %i Recordings (%i MB).", n,
                static_cast<int>(size));
    return disk;
}

int reload_recording_table(DiskHandle disk, int* count, RecordingEntry* entries, char* message) {
    if (!disk) {
        *count = 0;
        put_message(message, "Could not find MediaMaster Disk.");
        return 0;
    }
    int n = load_recording_table(disk, entries);
    *count = n;
    if (n == 0) {
        put_message(message, "No Recordings found.");
        return 1;
    }
    if (n > MAX_RECORDINGS) {
        *count = 0;
        put_message(message, "Too many recordings.");
        close_disk(disk);
        return 0;
    }
    put_message(message, "%i Recordings found.", n);
    return 1;
}

}  // namespace quarrow
