// Sector access through the real platform layer (image files) and the in-memory handle: null
// disks, short reads at the end of an image, 64-bit offsets, sizes in MiB, the drive table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "disk/drive_list.h"
#include "disk/sector_access.h"
#include "fs/layout.h"
#include "support/memory_disk.h"
#include "support/temp_files.h"

using namespace quarrow;
using namespace quarrow::test;

namespace {

std::vector<uint8_t> numbered_sectors(int sectors) {
    std::vector<uint8_t> bytes(size_t(sectors) * SECTOR_SIZE);
    for (int s = 0; s < sectors; ++s)
        memset(bytes.data() + size_t(s) * SECTOR_SIZE, s & 0xFF, SECTOR_SIZE);
    return bytes;
}

}  // namespace

TEST(SectorAccess, NullDiskTransfersNothingAndLeavesTheBufferAlone) {
    uint8_t buffer[SECTOR_SIZE];
    memset(buffer, 0xA5, sizeof buffer);
    EXPECT_EQ(read_sectors(nullptr, buffer, 0, 1, SECTOR_SIZE), 0);
    EXPECT_EQ(write_sectors(nullptr, buffer, 0, 1, SECTOR_SIZE), 0);
    for (uint8_t b : buffer)
        ASSERT_EQ(b, 0xA5);
    EXPECT_EQ(close_disk(nullptr), nullptr);
    EXPECT_EQ(drive_size_mb(nullptr), 0u);
    EXPECT_EQ(drive_sector_size(nullptr), 0u);
    EXPECT_EQ(image_size_mb(nullptr), 0u);
    EXPECT_EQ(is_mediamaster_disk(nullptr), 0);
}

TEST(SectorAccess, ShortReadsAtTheEndOfAnImageCountWholeSectorsOnly) {
    TempDir dir;
    struct Case {
        size_t file_bytes;
        int first, count, expected;
    } cases[] = {
        {131 * SECTOR_SIZE, 130, 4, 1},        // only sector 130 is there
        {130 * SECTOR_SIZE, 130, 4, 0},        // nothing from sector 130 on
        {130 * SECTOR_SIZE + 511, 129, 4, 1},  // a partial last sector is not counted
        {134 * SECTOR_SIZE, 130, 4, 4},       {134 * SECTOR_SIZE, 500, 1, 0},
    };
    for (const Case& c : cases) {
        std::string path = dir.file("short.hex");
        std::vector<uint8_t> bytes = numbered_sectors(135);
        bytes.resize(c.file_bytes);
        ASSERT_TRUE(write_file(path, bytes));
        DiskHandle disk = open_image_file(path.c_str(), false);
        ASSERT_NE(disk, nullptr);
        std::vector<uint8_t> buffer(size_t(c.count) * SECTOR_SIZE, 0xEE);
        EXPECT_EQ(read_sectors(disk, buffer.data(), c.first, c.count, SECTOR_SIZE), c.expected)
            << c.file_bytes << " bytes, " << c.count << " sectors at " << c.first;
        for (int s = 0; s < c.expected; ++s)
            EXPECT_EQ(buffer[size_t(s) * SECTOR_SIZE], (c.first + s) & 0xFF);
        close_disk(disk);
    }
}

TEST(SectorAccess, ImageSizeInMibTruncates) {
    TempDir dir;
    std::string path = dir.file("size.hex");
    struct Case {
        uint64_t bytes;
        uint32_t mb;
    } cases[] = {{1048575, 0}, {1048576, 1}, {6442450944ull, 6144}, {5368709120ull, 5120}};
    for (const Case& c : cases) {
        ASSERT_TRUE(write_file(path, {}));
        ASSERT_TRUE(resize_file(path, c.bytes));  // sparse
        DiskHandle disk = open_image_file(path.c_str(), false);
        ASSERT_NE(disk, nullptr);
        EXPECT_EQ(image_size_mb(disk), c.mb) << c.bytes;
        close_disk(disk);
    }
}

// Sector 8,388,608 of 512 bytes starts at byte 4 GiB: an offset kept in 32 bits would land on
// sector 0 and overwrite the boot area.
TEST(SectorAccess, TransfersBeyondFourGibUseTheFullOffset) {
    TempDir dir;
    std::string path = dir.file("big.hex");
    ASSERT_TRUE(write_file(path, numbered_sectors(2)));
    DiskHandle disk = open_image_file(path.c_str(), true);
    ASSERT_NE(disk, nullptr);
    ASSERT_TRUE(disk->writable);
    std::vector<uint8_t> sector(SECTOR_SIZE, 0x5A);
    EXPECT_EQ(write_sectors(disk, sector.data(), 8388608, 1, SECTOR_SIZE), 1);
    std::vector<uint8_t> back(SECTOR_SIZE, 0);
    EXPECT_EQ(read_sectors(disk, back.data(), 8388608, 1, SECTOR_SIZE), 1);
    EXPECT_EQ(back, sector);
    EXPECT_EQ(image_size_mb(disk), 4096u);
    close_disk(disk);

    EXPECT_EQ(file_size(path), 4294967296ll + SECTOR_SIZE);
    EXPECT_EQ(read_file_at(path, 4294967296ull, SECTOR_SIZE), sector);
    std::vector<uint8_t> start = read_file_at(path, 0, 2 * SECTOR_SIZE);
    EXPECT_EQ(start, numbered_sectors(2)) << "the write wrapped around to the start of the image";
}

TEST(SectorAccess, ReadOnlyOpensRefuseWrites) {
    TempDir dir;
    std::string path = dir.file("ro.hex");
    ASSERT_TRUE(write_file(path, numbered_sectors(4)));
    DiskHandle disk = open_image_file(path.c_str(), false);
    ASSERT_NE(disk, nullptr);
    EXPECT_FALSE(disk->writable);
    std::vector<uint8_t> sector(SECTOR_SIZE, 0x77);
    EXPECT_EQ(write_sectors(disk, sector.data(), 1, 1, SECTOR_SIZE), 0);
    close_disk(disk);
    EXPECT_EQ(read_file_at(path, 0, 4 * SECTOR_SIZE), numbered_sectors(4));

    disk = open_input_file(path.c_str());
    ASSERT_NE(disk, nullptr);
    EXPECT_EQ(write_sectors(disk, sector.data(), 1, 1, SECTOR_SIZE), 0);
    close_disk(disk);

    EXPECT_EQ(open_image_file(dir.file("missing.hex").c_str(), true), nullptr);
    EXPECT_EQ(open_image_file(dir.file("missing.hex").c_str(), false), nullptr);
    EXPECT_EQ(open_input_file(dir.file("missing.hex").c_str()), nullptr);
    EXPECT_EQ(open_image_file("", false), nullptr);
}

TEST(SectorAccess, OutputFilesAreCreatedEmptyAndWrittenInSequence) {
    TempDir dir;
    std::string path = dir.file("out.m2v");
    ASSERT_TRUE(write_file(path, numbered_sectors(8)));
    DiskHandle out = create_output_file(path.c_str());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(image_size_mb(out), 0u);
    EXPECT_TRUE(file_write(out, "abc", 3));
    EXPECT_TRUE(file_write(out, "defg", 4));
    EXPECT_TRUE(file_write(out, nullptr, 0));
    close_disk(out);
    std::vector<uint8_t> expected = {'a', 'b', 'c', 'd', 'e', 'f', 'g'};
    EXPECT_EQ(read_file_at(path, 0, 16), expected);

    DiskHandle in = open_input_file(path.c_str());
    ASSERT_NE(in, nullptr);
    char buffer[8] = {0};
    EXPECT_EQ(file_read(in, buffer, 4), 4);
    EXPECT_EQ(file_read(in, buffer + 4, 4), 3);
    EXPECT_EQ(file_read(in, buffer, 4), 0);
    EXPECT_STREQ(buffer, "abcdefg");
    close_disk(in);
    EXPECT_EQ(create_output_file(dir.file("no/such/folder.m2v").c_str()), nullptr);
}

TEST(SectorAccess, DriveSizeInMibAndSectorSizeFromTheGeometry) {
    MemoryDisk image;
    image.bytes.resize(4096);
    DiskHandle disk = open_memory_disk(&image);
    EXPECT_EQ(drive_sector_size(disk), 512u);
    EXPECT_EQ(drive_size_mb(disk), 0u);
    image.bytes.resize(size_t(3) << 20);
    EXPECT_EQ(drive_size_mb(disk), 3u);
    image.sector_size = 0;  // the geometry query fails
    EXPECT_EQ(drive_size_mb(disk), 0u);
    EXPECT_EQ(drive_sector_size(disk), 0u);
    close_disk(disk);
}

TEST(SectorAccess, ScriptedFaultsOfTheMemoryDisk) {
    MemoryDisk image;
    image.bytes = numbered_sectors(200);
    image.fail_read_call = 2;
    image.short_sector = 132;
    DiskHandle disk = open_memory_disk(&image);
    std::vector<uint8_t> buffer(4 * SECTOR_SIZE);
    EXPECT_EQ(read_sectors(disk, buffer.data(), 130, 4, SECTOR_SIZE), 2);  // stops at 132
    EXPECT_EQ(read_sectors(disk, buffer.data(), 0, 1, SECTOR_SIZE), 0);    // the 2nd read fails
    EXPECT_EQ(read_sectors(disk, buffer.data(), 0, 1, SECTOR_SIZE), 1);
    EXPECT_EQ(read_sectors(disk, buffer.data(), 132, 1, SECTOR_SIZE), 0);
    image.fail_write_call = 1;
    EXPECT_EQ(write_sectors(disk, buffer.data(), 0, 1, SECTOR_SIZE), 0);
    EXPECT_EQ(write_sectors(disk, buffer.data(), 0, 1, SECTOR_SIZE), 1);
    EXPECT_EQ(image.write_log.size(), 1u);
    close_disk(disk);
}

TEST(DriveTable, QuarrowDrivesNamesTheDrivesInOrderAndAnEmptyEntryIsAGap) {
    std::string list =
        std::string("first.hex") + drive_list_separator() + drive_list_separator() + "third.hex";
    ScopedEnv drives("QUARROW_DRIVES", list.c_str());
    char path[256];
    ASSERT_TRUE(physical_drive_path(0, path, sizeof path));
    EXPECT_STREQ(path, "first.hex");
    EXPECT_FALSE(physical_drive_path(1, path, sizeof path));
    ASSERT_TRUE(physical_drive_path(2, path, sizeof path));
    EXPECT_STREQ(path, "third.hex");
    EXPECT_FALSE(physical_drive_path(3, path, sizeof path));
    EXPECT_FALSE(physical_drive_path(-1, path, sizeof path));
    EXPECT_FALSE(physical_drive_path(0, path, 4));  // does not fit
    EXPECT_EQ(open_physical_drive(1, false), nullptr);
    EXPECT_EQ(open_physical_drive(3, false), nullptr);
}

TEST(DriveTable, AnEmptyListMeansNoDrives) {
    for (const std::string& list : {no_drives(), std::string()}) {
        ScopedEnv drives("QUARROW_DRIVES", list.c_str());
        char path[256];
        EXPECT_FALSE(physical_drive_path(0, path, sizeof path));
        EXPECT_EQ(open_physical_drive(0, false), nullptr);
    }
}

#if defined(_WIN32)
// Only the name is built; nothing is opened.
TEST(DriveTable, WindowsNamesPhysicalDrivesByDecimalNumber) {
    ScopedEnv drives("QUARROW_DRIVES", nullptr);
    char path[64];
    ASSERT_TRUE(physical_drive_path(12, path, sizeof path));
    EXPECT_STREQ(path, "\\\\.\\PhysicalDrive12");
    ASSERT_TRUE(physical_drive_path(3, path, sizeof path));
    EXPECT_STREQ(path, "\\\\.\\PhysicalDrive3");
}

TEST(Platform, WineAndWindowsReportTheNtFamily) {
    EXPECT_EQ(get_os_family(), OS_FAMILY_NT);
    EXPECT_TRUE(can_reach_raw_drives());
}
#else
TEST(Platform, PosixIsNoWindowsFamilyButReachesRawDrives) {
    EXPECT_EQ(get_os_family(), 0);
    EXPECT_TRUE(can_reach_raw_drives());
}
#endif

// The exact reader (O_DIRECT, FILE_FLAG_NO_BUFFERING) on an image file gives what the cached
// handle gives: across its 1 MiB bounce buffer, at places the device will not take directly,
// in the file's unaligned last sector and past its end. Runs natively and under Wine.
TEST(SectorAccess, TheExactReaderGivesTheBytesOfTheCachedOne) {
    TempDir dir;
    std::string path = dir.file("exact.hex");
    std::vector<uint8_t> bytes(size_t(3) << 20 | 1234);  // the last sector holds 210 bytes
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 13 + i / SECTOR_SIZE);
    ASSERT_TRUE(write_file(path, bytes));
    UniqueDisk cached(open_image_file(path.c_str(), false));
    ASSERT_TRUE(cached);
    DiskHandle opened = nullptr;
    ExactReaderResult result = open_exact_reader(cached.get(), &opened);
    UniqueDisk exact(opened);
    if (result == EXACT_READER_REFUSED) GTEST_SKIP() << "this file system refuses direct reads";
    ASSERT_EQ(result, EXACT_READER_OPENED);
    EXPECT_FALSE(exact->writable);
    EXPECT_EQ(exact->write_at(exact.get(), 0, bytes.data(), SECTOR_SIZE), -1);

    const int64_t size = int64_t(bytes.size()), tail = size - size % SECTOR_SIZE;
    struct Case {
        int64_t offset;
        uint32_t len;
    } cases[] = {
        {0, SECTOR_SIZE},
        {7 * SECTOR_SIZE, 4096},
        {(1 << 20) - SECTOR_SIZE, (2 << 20) + 1024},  // three bounce buffers' worth
        {100, 1000},                                  // not whole sectors: through the cache
        {tail, SECTOR_SIZE},                          // the unaligned tail
        {tail - 4096, 8192},                          // runs into the end
        {0, uint32_t(tail + SECTOR_SIZE)},            // the whole file in one read
        {tail + SECTOR_SIZE, SECTOR_SIZE},            // past the end
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> want(c.len, 0xEE), got(c.len, 0xEE);
        int64_t w = cached->read_at(cached.get(), c.offset, want.data(), c.len);
        int64_t g = exact->read_at(exact.get(), c.offset, got.data(), c.len);
        EXPECT_EQ(g, std::max<int64_t>(0, std::min<int64_t>(c.len, size - c.offset)))
            << "at " << c.offset;
        EXPECT_EQ(g, w) << "at " << c.offset;
        EXPECT_EQ(got, want) << "at " << c.offset;
    }
}
