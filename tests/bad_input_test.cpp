// Hostile and damaged disks: whatever the bytes say, nothing crashes and nothing is read outside
// a buffer (the sanitizer build runs these too).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fs/allocation_table.h"
#include "fs/disk_detection.h"
#include "fs/layout.h"
#include "fs/recording_table.h"
#include "support/disk_builder.h"
#include "support/memory_disk.h"

using namespace quarrow;
using namespace quarrow::test;

namespace {

MemoryDisk sample_image() {
    TestDisk disk;
    disk.cluster_count = 4;
    TestRecording a, b;
    a.default_title = "Erste";
    b.user_title = "Zweite";
    a.data.assign(3 * SECTOR_SIZE, 0x11);
    b.data.assign(5 * SECTOR_SIZE, 0x22);
    disk.recordings = {a, b};
    MemoryDisk image;
    DiskHandle h = open_memory_disk(&image);
    EXPECT_TRUE(write_test_disk(disk, h));
    close_disk(h);
    return image;
}

void set_cluster_count(MemoryDisk& image, uint32_t count) {
    write_be16(image.bytes.data() + BOOT_CLUSTER_COUNT_OFFSET, count);
}

}  // namespace

TEST(BadInput, ClusterCountsThatDoNotFitTheTableAreAnUnreadableBootArea) {
    MemoryDisk image = sample_image();
    struct Case {
        uint32_t count;
        uint16_t last;
    } cases[] = {{0, 0}, {1, 0}, {2, 1}, {16382, 16381}, {16383, 0}, {16384, 0}, {65535, 0}};
    for (const Case& c : cases) {
        set_cluster_count(image, c.count);
        DiskHandle h = open_memory_disk(&image);
        EXPECT_EQ(read_last_cluster_index(h), c.last) << c.count;
        close_disk(h);
    }
    MemoryDisk tiny;
    tiny.bytes.resize(SECTOR_SIZE + 100);  // the boot area is cut short
    DiskHandle h = open_memory_disk(&tiny);
    EXPECT_EQ(read_last_cluster_index(h), 0);
    close_disk(h);
    EXPECT_EQ(read_last_cluster_index(nullptr), 0);
}

TEST(BadInput, TruncatedImagesAtEveryInterestingLengthNeverCrash) {
    MemoryDisk whole = sample_image();
    const size_t lengths[] = {0,           1,
                              511,         512,
                              1024,        1025,
                              130 * 512,   130 * 512 + 9,
                              131 * 512,   133 * 512,
                              134 * 512,   135 * 512,
                              137 * 512,   138 * 512,
                              141 * 512,   142 * 512,
                              16384 * 512, 16386 * 512 + 7};
    for (size_t length : lengths) {
        MemoryDisk image = whole;
        image.bytes.resize(std::min(length, image.bytes.size()));
        DiskHandle h = open_memory_disk(&image);
        std::vector<RecordingEntry> entries(MAX_RECORDINGS);
        int count = load_recording_table(h, entries.data());
        EXPECT_TRUE(count == 0 || count == 2) << length;
        if (length < 142 * 512) {
            EXPECT_EQ(count, 0) << length;
        }
        std::vector<uint8_t> table(FAT_BYTES, 0xEE);
        read_fat(h, table.data());
        uint16_t c = 0;
        for (int steps = 0; steps < 20 && c != NO_CLUSTER; ++steps)
            c = next_cluster(table.data(), c);
        std::vector<uint8_t> area(CLUSTER_DATA_BYTES);
        EXPECT_EQ(read_cluster(h, 0, area.data()), length >= 16384u * 512 * 2 ? 1 : 0) << length;
        close_disk(h);
    }
}

TEST(BadInput, AShortTableReadLeavesNoStaleEntries) {
    MemoryDisk image = sample_image();
    image.bytes.resize(10 * SECTOR_SIZE);  // the table stops after 8 of its 64 sectors
    DiskHandle h = open_memory_disk(&image);
    std::vector<uint8_t> table(FAT_BYTES, 0xFF);
    EXPECT_EQ(read_fat(h, table.data()), 1);
    EXPECT_EQ(next_cluster(table.data(), 3000), NO_CLUSTER) << "unread entries read as free";
    close_disk(h);
}

TEST(BadInput, LinksOutsideTheTableEndTheChain) {
    std::vector<uint8_t> table(FAT_BYTES, 0);
    write_be16(table.data(), 0xFFFF);  // links to 0x7FFF, beyond the 16384 entries
    EXPECT_EQ(next_cluster(table.data(), 0), 0x7FFF);
    EXPECT_EQ(next_cluster(table.data(), 0x7FFF), NO_CLUSTER);
    EXPECT_EQ(next_cluster(table.data(), 16384), NO_CLUSTER);
    EXPECT_EQ(next_cluster(table.data(), 16383), NO_CLUSTER);
    write_be16(table.data() + 2 * 16383, 0x8000 | 16382);  // the table's last word is read
    EXPECT_EQ(next_cluster(table.data(), 16383), 16382);
}

TEST(BadInput, ChecksumOfALastClusterBeyondTheTableStaysInside) {
    std::vector<uint8_t> table(FAT_BYTES, 0x5A);
    uint8_t out[4];
    fat_checksum_residue(table.data(), out, 65535);
    fat_checksum_fold(table.data(), out, out, 65535);
    fat_checksum_residue(table.data(), out, 16381);  // the largest real disk
    SUCCEED();
}

TEST(BadInput, CountsAboveTheLimitAreRefusedWithoutReadingRecords) {
    MemoryDisk image = sample_image();
    for (uint32_t count : {449u, 1000u, 65535u}) {
        write_be16(image.bytes.data() + TOC_SECTOR * SECTOR_SIZE + TOC_COUNT_OFFSET, count);
        DiskHandle h = open_memory_disk(&image);
        int n = -1;
        std::vector<RecordingEntry> entries(MAX_RECORDINGS);
        char message[MESSAGE_SIZE];
        EXPECT_EQ(reload_recording_table(&h, &n, entries.data(), message), 0);
        EXPECT_EQ(h, nullptr);  // refused: closed and dropped
        EXPECT_EQ(n, 0);
        EXPECT_STREQ(message, "Too many recordings.");
    }
}

TEST(BadInput, SlotsNamingRecordsOutsideTheImageMakeTheTableUnreadable) {
    MemoryDisk image = sample_image();
    uint8_t* toc = image.bytes.data() + TOC_SECTOR * SECTOR_SIZE;
    for (uint32_t offset : {0xFFFFu, 0xFFFCu, 0xC000u}) {
        write_be16(toc + TOC_SLOTS_OFFSET + 2, offset);
        DiskHandle h = open_memory_disk(&image);
        std::vector<RecordingEntry> entries(MAX_RECORDINGS);
        EXPECT_EQ(load_recording_table(h, entries.data()), 0) << offset;
        close_disk(h);
    }
}

TEST(BadInput, RecordsWithoutAnyNulStillGiveTerminatedTexts) {
    MemoryDisk image = sample_image();
    uint8_t* record = image.bytes.data() + (TOC_SECTOR + 4) * SECTOR_SIZE;
    memset(record, 0xFF, RECORD_BYTES);
    DiskHandle h = open_memory_disk(&image);
    std::vector<RecordingEntry> entries(MAX_RECORDINGS);
    ASSERT_EQ(load_recording_table(h, entries.data()), 2);
    const RecordingEntry& e = entries[1];
    EXPECT_EQ(strlen(e.display_title), size_t(TITLE_BYTES - 1));
    EXPECT_EQ(strlen(e.default_title), size_t(TITLE_BYTES - 1));
    EXPECT_EQ(strlen(e.user_title), size_t(TITLE_BYTES - 1));
    EXPECT_EQ(strlen(e.channel), size_t(CHANNEL_BYTES - 1));
    EXPECT_STREQ(e.attribute_text, "Pause, Locked");
    EXPECT_STREQ(e.date_text, "07-02-2106 06:28:15 GMT");
    close_disk(h);
}

TEST(BadInput, ATableOfContentsWithoutItsSignatureIsNoMediaMasterDisk) {
    MemoryDisk image = sample_image();
    image.bytes[TOC_SECTOR * SECTOR_SIZE + TOC_SIGNATURE_OFFSET] = 'X';
    DiskHandle h = open_memory_disk(&image);
    EXPECT_EQ(is_mediamaster_disk(h), 0);
    close_disk(h);
}

TEST(BadInput, StreamBlockHeadersWithAnyFieldValuesAreOnlyDecoded) {
    uint8_t sector[SECTOR_SIZE];
    memset(sector, 0xFF, sizeof sector);
    memcpy(sector, "\x74\0\0\0\0\0\0\x02", 8);
    uint32_t bytes = 0;
    uint16_t sectors = 0;
    ASSERT_EQ(match_audio_block(sector, &bytes, &sectors), 1);
    EXPECT_EQ(sectors, 0xFFFF);
    EXPECT_EQ(bytes, 0xFFFFFFFFu);
    EXPECT_EQ(match_video_block(sector, &bytes, &sectors), 0);
}
