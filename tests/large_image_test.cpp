// A sparse image with a recording whose cluster lies beyond 4 GiB: every offset on the way from
// the record to the cluster's data must stay 64-bit. Runs natively and in the Windows build.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fs/allocation_table.h"
#include "fs/disk_detection.h"
#include "fs/layout.h"
#include "support/disk_builder.h"
#include "support/disk_probe.h"
#include "support/temp_files.h"

using namespace quarrow;
using namespace quarrow::test;

TEST(LargeImage, RecordingBeyondFourGibIsListedAndItsClusterRead) {
    TempDir dir;
    std::string path = dir.file("large.hex");
    ASSERT_TRUE(write_file(path, {}));

    // Cluster 600 starts at sector 601 x 16384, byte 5,041,553,408: past 4 GiB, and its
    // low 32 bits (746,586,112) fall inside cluster 88, which stays empty.
    TestDisk disk;
    disk.cluster_count = 700;
    TestRecording r;
    r.default_title = "Sp\xE4tfilm";  // Spätfilm
    r.channel = "Das Erste";
    r.clusters = {600, 88 + 520};
    for (int i = 0; i < 16382 + 100; ++i) {
        std::vector<uint8_t> payload(SECTOR_SIZE - 64, uint8_t(i));
        append_stream_block(r.data, STREAM_BLOCK_VIDEO, payload.data(), uint32_t(payload.size()));
        if (r.data.size() >= size_t(CLUSTER_DATA_BYTES) + 100 * SECTOR_SIZE) break;
    }
    r.duration = 360000;
    disk.recordings = {r};
    DiskHandle out = open_image_file(path.c_str(), true);
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(write_test_disk(disk, out));
    close_disk(out);
    // The last cluster's data area ends the image: 701 x 8 MiB.
    ASSERT_TRUE(
        resize_file(path, uint64_t(disk.cluster_count + 1) * CLUSTER_SECTORS * SECTOR_SIZE));

    LoadedImage loaded(path);
    DiskHandle image = loaded.disk;
    const std::vector<RecordingEntry>& entries = loaded.list;
    ASSERT_NE(image, nullptr) << loaded.message;
    EXPECT_STREQ(loaded.message, "MediaMaster Disk Image with 1 Recordings (5608 MB).");
    ASSERT_EQ(loaded.count, 1);
    EXPECT_STREQ(entries[0].display_title, "Sp\xE4tfilm");
    EXPECT_EQ(entries[0].first_cluster, 600);
    EXPECT_EQ(entries[0].hours, 1);

    std::vector<uint8_t> table(FAT_BYTES);
    ASSERT_EQ(read_fat(image, table.data()), 1);
    EXPECT_EQ(next_cluster(table.data(), 600), 608);
    EXPECT_EQ(next_cluster(table.data(), 608), NO_CLUSTER);
    EXPECT_EQ(read_last_cluster_index(image), 699);

    std::vector<uint8_t> area(CLUSTER_DATA_BYTES);
    ASSERT_EQ(read_cluster(image, 600, area.data()), 1);
    EXPECT_TRUE(std::equal(area.begin(), area.end(), r.data.begin()))
        << "cluster 600's data differs from what was written there";
    ASSERT_EQ(read_cluster(image, 608, area.data()), 1);
    EXPECT_TRUE(std::equal(r.data.begin() + CLUSTER_DATA_BYTES, r.data.end(), area.begin()));
    // The cluster a 32-bit offset would have reached holds nothing.
    ASSERT_EQ(read_cluster(image, 88, area.data()), 1);
    EXPECT_EQ(std::count(area.begin(), area.end(), 0), CLUSTER_DATA_BYTES);

    // And independently of the code under test: the first block header sits at the cluster's
    // data area, byte (600 + 1) x 8 MiB + 1024.
    std::vector<uint8_t> header = read_file_at(path, 601ull * 8388608 + 1024, 8);
    std::vector<uint8_t> magic = {0x74, 0, 0, 0, 0, 0, 0, STREAM_BLOCK_VIDEO};
    EXPECT_EQ(header, magic);
}
