// The shared half of the drive list: the drive table's QUARROW_DRIVES rule, the GB figure and the
// drive line.
#include "disk/drive_list.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quarrow {

bool drive_list_entry(const char* list, char separator, int drive, char* out, size_t out_size) {
    if (!list || drive < 0 || !out || out_size == 0) return false;
    int index = 0;
    const char* p = list;
    while (*p) {
        const char* end = strchr(p, separator);
        size_t len = end ? static_cast<size_t>(end - p) : strlen(p);
        if (index == drive) {
            if (len == 0 || len + 1 > out_size) return false;
            memcpy(out, p, len);
            out[len] = 0;
            return true;
        }
        ++index;
        if (!end) break;
        p = end + 1;
    }
    return false;
}

bool physical_drive_path(int drive, char* out, size_t out_size) {
    if (drive < 0 || !out || out_size == 0) return false;
    if (const char* env = getenv("QUARROW_DRIVES"))
        return drive_list_entry(env, DRIVE_LIST_SEPARATOR, drive, out, out_size);
    return system_drive_path(drive, out, out_size);
}

uint32_t drive_size_gb(uint64_t size_mb) {
    uint64_t s1 = size_mb * 1024 / 1000;
    uint64_t s2 = s1 * 1024 / 1000;
    return static_cast<uint32_t>(s2 / 1000);
}

void format_drive_line(char* out, size_t size, int drive, const char* model, uint32_t size_gb,
                       bool mediamaster) {
    const char* mark = mediamaster ? MEDIAMASTER_MARK : drive == 0 ? SYSTEM_MARK : "";
    snprintf(out, size, "Drive %d:\t\t%s\t(%u GB)%s", drive, model, size_gb, mark);
}

void describe_drive(DiskHandle disk, int drive, bool mediamaster, DriveEntry* entry) {
    *entry = DriveEntry{};
    entry->number = drive;
    entry->size_mb = drive_size_mb(disk);
    entry->size_gb = drive_size_gb(entry->size_mb);
    drive_model_name(entry->model, sizeof entry->model, drive);
    entry->mediamaster = mediamaster;
    entry->system = drive == 0;
    format_drive_line(entry->line, sizeof entry->line, drive, entry->model, entry->size_gb,
                      entry->mediamaster);
}

}  // namespace quarrow
