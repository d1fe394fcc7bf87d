#include "fs/disk_detection.h"

#include <climits>

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
    uint32_t size_gb = drive_size_gb(drive_size_mb(disk));
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
                static_cast<int>(size_gb), n);
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

int reload_recording_table(DiskHandle* disk, int* count, RecordingEntry* entries, char* message) {
    if (!*disk) {
        *count = 0;
        put_message(message, "Could not find MediaMaster Disk.");
        return 0;
    }
    int n = load_recording_table(*disk, entries);
    *count = n;
    if (n == 0) {
        put_message(message, "No Recordings found.");
        return 1;
    }
    if (n > MAX_RECORDINGS) {
        *count = 0;
        put_message(message, "Too many recordings.");
        *disk = close_disk(*disk);
        return 0;
    }
    put_message(message, "%i Recordings found.", n);
    return 1;
}

bool describe_physical_drive(int drive, DriveEntry* entry) {
    DiskHandle disk = open_physical_drive(drive, false);
    if (!disk) return false;
    describe_drive(disk, drive, is_mediamaster_disk(disk) != 0, entry);
    close_disk(disk);
    return true;
}

void list_physical_drives(const DriveSink* sink) {
    // The first number that does not open ends the list.
    for (int n = 0; n < INT_MAX; ++n) {
        DriveEntry entry;
        if (!describe_physical_drive(n, &entry)) break;
        if (sink && sink->drive) sink->drive(sink->context, &entry);
    }
}

}  // namespace quarrow
