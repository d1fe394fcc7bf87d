#include "disk/quick_erase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/disk_builder.h"
#include "support/drive_env.h"
#include "support/memory_disk.h"
#include "support/temp_files.h"

namespace quarrow {
namespace {

namespace fs = std::filesystem;
using test::MemoryDisk;

constexpr size_t ERASE_BYTES = 8388608;

bool all_equal(const std::vector<uint8_t>& bytes, size_t from, size_t to, uint8_t value) {
    return std::all_of(bytes.begin() + from, bytes.begin() + to,
                       [value](uint8_t b) { return b == value; });
}

TEST(EraseBlocks, OneBlockZeroesExactly8MiBAtOffsetZeroAndNothingBeyond) {
    MemoryDisk m;
    m.bytes.assign(ERASE_BYTES + 3 * 512, 0xA5);
    DiskHandle disk = test::open_memory_disk(&m);
    char message[MESSAGE_SIZE] = "";
    EXPECT_EQ(erase_blocks(disk, 1, ERASE_BLOCK_SECTORS, message), 1);
    close_disk(disk);
    ASSERT_EQ(m.write_log.size(), 1u);
    EXPECT_EQ(m.write_log[0].first, 0);
    EXPECT_EQ(m.write_log[0].second, ERASE_BYTES);
    EXPECT_EQ(m.bytes.size(), ERASE_BYTES + 3 * 512);
    EXPECT_TRUE(all_equal(m.bytes, 0, ERASE_BYTES, 0));
    EXPECT_TRUE(all_equal(m.bytes, ERASE_BYTES, m.bytes.size(), 0xA5));
}

TEST(EraseBlocks, BlocksFollowEachOtherInDriveSectorsWithoutGaps) {
    MemoryDisk m;
    m.sector_size = 4096;
    m.bytes.assign(5 * 8192, 0xA5);
    DiskHandle disk = test::open_memory_disk(&m);
    char message[MESSAGE_SIZE] = "";
    EXPECT_EQ(erase_blocks(disk, 3, 2, message), 1);
    close_disk(disk);
    ASSERT_EQ(m.write_log.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(m.write_log[k].first, k * 8192);
        EXPECT_EQ(m.write_log[k].second, 8192u);
    }
    EXPECT_TRUE(all_equal(m.bytes, 0, 3 * 8192, 0));
    EXPECT_TRUE(all_equal(m.bytes, 3 * 8192, m.bytes.size(), 0xA5));
}

TEST(EraseBlocks, NoSectorSizeOrAFailedWriteIsAFailureNotASilentSuccess) {
    MemoryDisk m;
    m.bytes.assign(1024, 0xA5);
    m.sector_size = 0;  // the geometry query fails
    DiskHandle disk = test::open_memory_disk(&m);
    char message[MESSAGE_SIZE] = "";
    EXPECT_EQ(erase_blocks(disk, 1, ERASE_BLOCK_SECTORS, message), 0);
    EXPECT_STREQ(message, "The drive did not report its sector size. Nothing was erased.");
    EXPECT_EQ(m.writes, 0);
    close_disk(disk);

    MemoryDisk w;
    w.bytes.assign(ERASE_BYTES * 2, 0xA5);
    w.fail_write_call = 2;
    disk = test::open_memory_disk(&w);
    EXPECT_EQ(erase_blocks(disk, 2, ERASE_BLOCK_SECTORS, message), 0);
    EXPECT_STREQ(message, "Failed to write to the drive at byte 8388608.");
    close_disk(disk);
    // The block written before the failure stays zeroed.
    EXPECT_TRUE(all_equal(w.bytes, 0, ERASE_BYTES, 0));
    EXPECT_TRUE(all_equal(w.bytes, ERASE_BYTES, w.bytes.size(), 0xA5));

    EXPECT_EQ(erase_blocks(nullptr, 1, ERASE_BLOCK_SECTORS, message), 0);
}

// A drive that keeps only where each write went, to follow offsets past 4 GiB.
struct OffsetLog {
    std::vector<int64_t> offsets;
};
int64_t log_write(Disk* disk, int64_t offset, const void*, uint32_t len) {
    static_cast<OffsetLog*>(disk->impl)->offsets.push_back(offset);
    return len;
}
bool log_geometry(Disk*, uint32_t* sector_size, uint64_t* bytes) {
    *sector_size = 512;
    *bytes = 1ull << 40;
    return true;
}

TEST(EraseBlocks, OffsetsPast4GiBAreNotWrapped) {
    OffsetLog log;
    Disk disk{};
    disk.write_at = log_write;
    disk.geometry = log_geometry;
    disk.impl = &log;
    disk.writable = true;
    char message[MESSAGE_SIZE] = "";
    EXPECT_EQ(erase_blocks(&disk, 513, ERASE_BLOCK_SECTORS, message), 1);
    ASSERT_EQ(log.offsets.size(), 513u);
    EXPECT_EQ(log.offsets[512], 4294967296LL);
}

struct Images {
    test::TempDir dir;
    std::string make(const std::string& name, size_t bytes, char fill) {
        std::string path = dir.file(name);
        std::ofstream(path, std::ios::binary) << std::string(bytes, fill);
        return path;
    }
    static std::vector<uint8_t> read(const std::string& path) {
        return test::read_file_bytes(path);
    }
};

TEST(QuickErase, RefusesDriveZeroItselfAndDrivesThatDoNotExist) {
    Images images;
    std::string d0 = images.make("d0.img", ERASE_BYTES + 512, 'S');
    test::ScopedDrives drives({d0});
    char message[MESSAGE_SIZE] = "";
    EXPECT_EQ(quick_erase_drive(0, 1, ERASE_BLOCK_SECTORS, message), 0);
    EXPECT_STREQ(message,
                 "The Drive 0 being typically your System drive, this operation is denied.");
    EXPECT_EQ(quick_erase(0, 1, ERASE_BLOCK_SECTORS), 0);
    EXPECT_EQ(quick_erase_drive(1, 1, ERASE_BLOCK_SECTORS, message), 0);
    EXPECT_STREQ(message, "There is no drive 1.");
    EXPECT_EQ(quick_erase_drive(-1, 1, ERASE_BLOCK_SECTORS, message), 0);
    std::vector<uint8_t> after = Images::read(d0);
    EXPECT_TRUE(all_equal(after, 0, after.size(), 'S'));
}

TEST(QuickErase, ErasesTheSystemAreaOfTheNumberedDriveOnly) {
    Images images;
    std::string d0 = images.make("d0.img", ERASE_BYTES + 4096, 'S');
    std::string d1 = images.make("d1.img", ERASE_BYTES + 4096, 'M');
    std::string d2 = images.make("d2.img", ERASE_BYTES + 4096, 'O');
    test::ScopedDrives drives({d0, d1, d2});
    char message[MESSAGE_SIZE] = "";
    EXPECT_EQ(quick_erase_drive(1, 1, ERASE_BLOCK_SECTORS, message), 1) << message;
    std::vector<uint8_t> b1 = Images::read(d1);
    ASSERT_EQ(b1.size(), ERASE_BYTES + 4096);
    EXPECT_TRUE(all_equal(b1, 0, ERASE_BYTES, 0));
    EXPECT_TRUE(all_equal(b1, ERASE_BYTES, b1.size(), 'M'));
    std::vector<uint8_t> b0 = Images::read(d0), b2 = Images::read(d2);
    EXPECT_TRUE(all_equal(b0, 0, b0.size(), 'S'));
    EXPECT_TRUE(all_equal(b2, 0, b2.size(), 'O'));
}

}  // namespace
}  // namespace quarrow
