// Reading back a MediaMaster image held in memory, for tests that check what an operation (or a
// failure part way through it) left on the disk; and an image file opened and listed as the
// programs open it (LoadedImage).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fs/allocation_table.h"
#include "fs/disk_detection.h"
#include "fs/disk_session.h"
#include "fs/layout.h"
#include "support/disk_builder.h"
#include "support/memory_disk.h"

namespace quarrow::test {

inline const uint8_t* at_sector(const MemoryDisk& m, int64_t sector) {
    return m.bytes.data() + sector * SECTOR_SIZE;
}
inline uint32_t fat_word(const MemoryDisk& m, uint32_t cluster, int table = FAT_SECTOR) {
    return read_be16(at_sector(m, table) + 2 * cluster);
}
inline uint32_t toc_count(const MemoryDisk& m) {
    return read_be16(at_sector(m, TOC_SECTOR) + TOC_COUNT_OFFSET);
}
inline const uint8_t* toc_slot_bytes(const MemoryDisk& m, int slot) {
    return at_sector(m, TOC_SECTOR) + TOC_SLOTS_OFFSET + TOC_SLOT_BYTES * slot;
}
inline const uint8_t* record_at(const MemoryDisk& m, uint32_t offset) {
    return at_sector(m, TOC_SECTOR + offset);
}
inline const uint8_t* slot_record(const MemoryDisk& m, int slot) {
    return record_at(m, read_be16(toc_slot_bytes(m, slot) + 2));
}
inline std::string record_channel(const uint8_t* record) {
    return reinterpret_cast<const char*>(record + REC_CHANNEL);
}
// The checksum residue S xor P of the first table (0 when consistent).
inline uint32_t fat_residue(const MemoryDisk& m, uint16_t last, int table = FAT_SECTOR) {
    uint8_t r[4];
    fat_checksum_residue(at_sector(m, table), r, last);
    return read_be32(r);
}
inline bool same_sectors(const MemoryDisk& a, const MemoryDisk& b, int64_t sector, int count) {
    return memcmp(at_sector(a, sector), at_sector(b, sector), size_t(count) * SECTOR_SIZE) == 0;
}

// The disk for a maintenance operation, given by the session as the Windows program takes it for
// one write. The lock of the test's previous write is let go first (Windows takes no second lock
// on a handle that holds one); the last stays until the test closes the handle. A handle whose
// writes fail later (MemoryDisk::read_only set after opening) still gets one, so the operation's
// own refusal shows.
inline WritableDisk writable_disk(DiskHandle disk) {
    WritableDisk out;
    char message[MESSAGE_SIZE] = {};
    unlock_disk(disk);
    EXPECT_TRUE(begin_disk_write(disk, &out, message)) << message;
    return out;
}

// Builds the disk into a fresh in-memory image, sized to hold every cluster of the disk when
// full_size is set (recovery reads the header of every free cluster).
inline bool build_image(TestDisk& disk, MemoryDisk* image, bool full_size = false) {
    image->bytes.clear();
    DiskHandle h = open_memory_disk(image);
    bool ok = write_test_disk(disk, h);
    close_disk(h);
    // At least the whole system area, so that record sector searches read zeros, not the end.
    size_t size = full_size ? size_t(disk.cluster_count + 1) * CLUSTER_SECTORS * SECTOR_SIZE
                            : size_t(CLUSTER_SECTORS) * SECTOR_SIZE;
    if (image->bytes.size() < size) image->bytes.resize(size, 0);
    image->reads = image->writes = 0;
    image->write_log.clear();
    return ok;
}

// A disk built into an in-memory image and opened through a handle, closed when the object goes:
// the fixture of the tests of the operations that change the disk.
struct OpenedImage {
    MemoryDisk image;
    DiskHandle disk = nullptr;
    char message[MESSAGE_SIZE] = "untouched";
    explicit OpenedImage(TestDisk d, bool full_size = false) {
        EXPECT_TRUE(build_image(d, &image, full_size));
        disk = open_memory_disk(&image);
    }
    ~OpenedImage() { close_disk(disk); }
    OpenedImage(const OpenedImage&) = delete;
    OpenedImage& operator=(const OpenedImage&) = delete;
    // Counts and logs only what follows.
    void reset_counters() {
        image.reads = image.writes = 0;
        image.write_log.clear();
    }
};

// An image file opened as the programs open it (open_disk_image), its recording list loaded;
// closed when the object goes. disk is null when the image was refused (message says why).
struct LoadedImage {
    DiskHandle disk = nullptr;
    int count = 0;
    std::vector<RecordingEntry> list = std::vector<RecordingEntry>(MAX_RECORDINGS);
    char message[MESSAGE_SIZE] = {};
    explicit LoadedImage(const std::string& path, bool want_write = false) {
        disk = open_disk_image(&count, list.data(), want_write, message, path.c_str());
    }
    ~LoadedImage() { close_disk(disk); }
    LoadedImage(const LoadedImage&) = delete;
    LoadedImage& operator=(const LoadedImage&) = delete;
};

}  // namespace quarrow::test
