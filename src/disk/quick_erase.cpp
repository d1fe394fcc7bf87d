#include "disk/quick_erase.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

#include "disk/drive_list.h"
#include "disk/drive_use.h"

namespace quarrow {

int erase_blocks(DiskHandle disk, int block_count, int block_sectors, char* message) {
    if (!disk || block_count <= 0 || block_sectors <= 0) {
        put_message(message, "Nothing to erase.");
        return 0;
    }
    // A failed geometry query gives 0: an empty block would erase nothing and still succeed.
    uint32_t sector_size = drive_sector_size(disk);
    if (sector_size == 0) {
        put_message(message, "The drive did not report its sector size. Nothing was erased.");
        return 0;
    }
    uint64_t block_bytes = static_cast<uint64_t>(block_sectors) * sector_size;
    if (block_bytes > 0x40000000u) {
        put_message(message, "The erase block is too large.");
        return 0;
    }
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[block_bytes]());
    if (!block) {
        put_message(message, "Not enough memory for the erase.");
        return 0;
    }
    for (int k = 0; k < block_count; ++k) {
        // 64-bit offsets: blocks past 4 GiB are reached, not wrapped to the start of the drive.
        int64_t offset = static_cast<int64_t>(k) * static_cast<int64_t>(block_bytes);
        int64_t moved =
            disk->write_at(disk, offset, block.get(), static_cast<uint32_t>(block_bytes));
        if (moved != static_cast<int64_t>(block_bytes)) {
            put_message(message, "Failed to write to the drive at byte %lld.",
                        static_cast<long long>(offset));
            return 0;
        }
    }
    return 1;
}

int quick_erase_drive(int drive, int block_count, int block_sectors, char* message) {
    if (!can_reach_raw_drives()) {
        put_message(message, "Physical drives can only be reached on Windows NT or later.");
        return 0;
    }
    if (drive == 0) {
        put_message(message, "%s", DRIVE0_DENIED_TEXT);
        return 0;
    }
    char path[4096];
    if (drive < 0 || !physical_drive_path(drive, path, sizeof path)) {
        put_message(message, "There is no drive %d.", drive);
        return 0;
    }
    DriveClaim claim;
    if (!claim_drive(drive, path, &claim, message)) return 0;
    DiskHandle disk = open_physical_drive(drive, true);
    int ok = 0;
    if (!disk) {
        put_message(message, "Could not open drive %d. Nothing was erased.", drive);
    } else if (!disk->writable) {
        put_message(message, "Could not open drive %d for writing. Nothing was erased.", drive);
    } else if (!lock_disk(disk, true)) {
        put_message(message, "%s Nothing was erased.", DISK_IN_USE_MESSAGE);
    } else {
        ok = erase_blocks(disk, block_count, block_sectors, message);
    }
    // An erase still in the page cache when the drive goes is not done.
    if (!flush_and_close(disk) && ok) {
        put_message(message, "Failed to write to drive %d.", drive);
        ok = 0;
    }
    disk = nullptr;
    if (!release_drive_claim(&claim) && ok) {
        put_message(message, "Failed to write to drive %d.", drive);
        ok = 0;
    }
    return ok;
}

int quick_erase(int drive, int block_count, int block_sectors) {
    char message[MESSAGE_SIZE];
    return quick_erase_drive(drive, block_count, block_sectors, message);
}

}  // namespace quarrow
