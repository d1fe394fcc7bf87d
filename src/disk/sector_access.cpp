// The platform-neutral half of sector access: whole-sector arithmetic over a handle's transfer
// functions. The platform halves only open handles and fill in the record.
#include "disk/sector_access.h"

#include <cstdarg>
#include <cstdio>

namespace quarrow {

DiskHandle close_disk(DiskHandle disk) {
    if (disk && disk->close) disk->close(disk);
    return nullptr;
}

bool lock_disk(DiskHandle disk, bool exclusive) {
    if (!disk || !disk->lock) return true;
    return disk->lock(disk, exclusive) != DISK_IN_USE;
}

void unlock_disk(DiskHandle disk) {
    if (disk && disk->unlock) disk->unlock(disk);
}

bool flush_disk(DiskHandle disk) {
    if (!disk) return false;
    return !disk->flush || disk->flush(disk);
}

bool flush_and_close(DiskHandle disk) {
    if (!disk) return false;
    bool flushed = flush_disk(disk);
    bool closed = !disk->close || disk->close(disk);
    return flushed && closed;
}

// The offset is a 64-bit product so that sectors beyond 4 GiB are reachable; a transfer cut short
// by the end of an image counts the whole sectors it covered, never a partial one.
int read_sectors(DiskHandle disk, void* buffer, int first_sector, int count, int sector_size) {
    if (!disk || count <= 0 || sector_size <= 0 || first_sector < 0) return 0;
    int64_t offset = static_cast<int64_t>(first_sector) * sector_size;
    uint32_t len = static_cast<uint32_t>(count) * static_cast<uint32_t>(sector_size);
    int64_t moved = disk->read_at(disk, offset, buffer, len);
    if (moved <= 0) return 0;
    return static_cast<int>(static_cast<uint64_t>(moved) / static_cast<uint32_t>(sector_size));
}

int write_sectors(DiskHandle disk, const void* buffer, int first_sector, int count,
                  int sector_size) {
    if (!disk || count <= 0 || sector_size <= 0 || first_sector < 0) return 0;
    int64_t offset = static_cast<int64_t>(first_sector) * sector_size;
    uint32_t len = static_cast<uint32_t>(count) * static_cast<uint32_t>(sector_size);
    int64_t moved = disk->write_at(disk, offset, buffer, len);
    if (moved <= 0) return 0;
    return static_cast<int>(static_cast<uint64_t>(moved) / static_cast<uint32_t>(sector_size));
}

int64_t file_read(DiskHandle disk, void* buffer, uint32_t len) {
    if (!disk) return -1;
    int64_t moved = disk->read_at(disk, disk->position, buffer, len);
    if (moved > 0) disk->position += moved;
    return moved;
}

bool file_write(DiskHandle disk, const void* buffer, uint32_t len) {
    if (!disk) return false;
    if (len == 0) return true;
    int64_t moved = disk->write_at(disk, disk->position, buffer, len);
    if (moved > 0) disk->position += moved;
    return moved == static_cast<int64_t>(len);
}

uint32_t drive_sector_size(DiskHandle disk) {
    uint32_t sector_size = 0;
    uint64_t bytes = 0;
    if (!disk || !disk->geometry || !disk->geometry(disk, &sector_size, &bytes)) return 0;
    return sector_size;
}

uint64_t drive_size_mb(DiskHandle disk) {
    uint32_t sector_size = 0;
    uint64_t bytes = 0;
    if (!disk || !disk->geometry || !disk->geometry(disk, &sector_size, &bytes)) return 0;
    return bytes >> 20;
}

uint32_t image_size_mb(DiskHandle disk) {
    uint64_t bytes = 0;
    if (!disk || !disk->size_bytes || !disk->size_bytes(disk, &bytes)) return 0;
    return static_cast<uint32_t>(bytes >> 20);
}

void put_message(char* message, const char* format, ...) {
    if (!message) return;
    va_list args;
    va_start(args, format);
    vsnprintf(message, MESSAGE_SIZE, format, args);
    va_end(args);
}

}  // namespace quarrow
