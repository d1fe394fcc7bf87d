#include "fs/diagnostics.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/disk_probe.h"

namespace quarrow {
namespace {

using test::MemoryDisk;
using test::TestDisk;
using test::TestRecording;

TestRecording rec(std::vector<uint16_t> clusters) {
    TestRecording r;
    r.clusters = std::move(clusters);
    return r;
}

struct Diagnosed {
    MemoryDisk image;
    DiskHandle disk = nullptr;
    FatStatistics stats{};
    DiagnosticsTexts texts{};
    explicit Diagnosed(TestDisk d) {
        d.write_clusters = false;
        EXPECT_TRUE(test::build_image(d, &image));
        disk = test::open_memory_disk(&image);
    }
    ~Diagnosed() { close_disk(disk); }
    uint8_t* fat() { return image.bytes.data() + FAT_SECTOR * SECTOR_SIZE; }
    int run(int recording_count) {
        int ok = gather_fat_statistics(disk, &stats);
        if (ok) format_diagnostics(stats, recording_count, &texts);
        return ok;
    }
};

TestDisk two_recordings() {
    TestDisk d;
    d.cluster_count = 10;
    d.recordings = {rec({0, 4, 2}), rec({8, 1})};  // 9, the last cluster, is free
    return d;
}

TEST(Diagnostics, AConsistentDiskIsCorrectThroughout) {
    Diagnosed g(two_recordings());
    ASSERT_EQ(g.run(2), 1);
    EXPECT_EQ(g.stats.fat_entries, 10u);
    EXPECT_EQ(g.stats.allocated_clusters, 5u);
    EXPECT_EQ(g.stats.linked_clusters, 5u);
    EXPECT_EQ(g.stats.string_count, 2u);
    EXPECT_EQ(g.stats.checksum_ok, 1u);
    EXPECT_EQ(g.stats.entries_in_bounds, 1u);
    EXPECT_EQ(g.stats.termination_found, 1u);
    EXPECT_EQ(g.stats.chain_loops, 0u);
    EXPECT_STREQ(g.texts.fat_size, "10 clusters (0.08 GB)");
    EXPECT_STREQ(g.texts.allocated, "5 clusters (0.04 GB)");
    EXPECT_STREQ(g.texts.linked, "5 [Ok]");
    EXPECT_STREQ(g.texts.strings, "2 [Ok]");
    EXPECT_STREQ(g.texts.termination, "Correct");
    EXPECT_STREQ(g.texts.integrity, "Correct");
    EXPECT_STREQ(g.texts.crc, "Correct");
}

TEST(Diagnostics, EveryVerdictOfADamagedTable) {
    Diagnosed g(two_recordings());
    // 0 -> 4 -> 2 is cut at 4: cluster 2 stays allocated but unlinked, and ends no chain now.
    write_be16(g.fat() + 2 * 4, 0xBFFF);
    // The last entry no longer holds the termination word, and nothing fixes the checksum.
    write_be16(g.fat() + 2 * 9, 9);
    ASSERT_EQ(g.run(2), 1);
    EXPECT_STREQ(g.texts.linked, "4 [Warning: Differs from the number of allocated clusters!]");
    EXPECT_STREQ(g.texts.strings, "3 [Warning: Differs from the number of recordings!]");
    EXPECT_STREQ(g.texts.termination, "Error: Did not find FAT Termination word where expected!");
    EXPECT_STREQ(g.texts.crc, "Error: Incorrect CRC!");
    EXPECT_STREQ(g.texts.integrity, "Correct");
    // A first-cluster word with bit 15 set is out of bounds at once.
    uint8_t* record = g.image.bytes.data() + (TOC_SECTOR + 4) * SECTOR_SIZE;
    write_be16(record + REC_FIRST_CLUSTER, 0x8000);
    ASSERT_EQ(g.run(2), 1);
    EXPECT_EQ(g.stats.entries_in_bounds, 0u);
    EXPECT_STREQ(g.texts.integrity, "Error: FAT entry out of bounds!");
}

TEST(Diagnostics, ALoopingChainEndsItsWalkAndIsAnIntegrityError) {
    Diagnosed g(two_recordings());
    write_be16(g.fat() + 2 * 2, 0x8004);  // 0 -> 4 -> 2 -> 4 -> ...
    ASSERT_EQ(g.run(2), 1);
    EXPECT_EQ(g.stats.chain_loops, 1u);
    EXPECT_EQ(g.stats.entries_in_bounds, 1u);
    EXPECT_EQ(g.stats.linked_clusters, 10u + 2u);  // cut after cluster_count links, then 9 -> 1
    EXPECT_STREQ(g.texts.integrity, "Error: Cluster chain loops back on itself!");
}

TEST(Diagnostics, TerminationWordsAndRecordingsWithoutClusters) {
    TestDisk d;
    d.cluster_count = 4;
    d.recordings = {rec({3}), rec({})};
    d.recordings[1].no_clusters = true;
    Diagnosed g(d);
    ASSERT_EQ(g.run(2), 1);
    // The last entry ends a recording: 0xBFFF is the termination word, allocated and a string.
    EXPECT_EQ(g.stats.termination_found, 1u);
    EXPECT_EQ(g.stats.allocated_clusters, 1u);
    EXPECT_EQ(g.stats.string_count, 1u);
    EXPECT_EQ(g.stats.linked_clusters, 1u);
}

TEST(Diagnostics, UnreadableOrImpossibleBootAreasFail) {
    for (uint16_t count : {0, 1, 16383}) {
        TestDisk d = two_recordings();
        Diagnosed g(d);
        write_be16(g.image.bytes.data() + BOOT_CLUSTER_COUNT_OFFSET, count);
        EXPECT_EQ(g.run(2), 0) << count;
    }
    Diagnosed g(two_recordings());
    g.image.fail_read_call = 1;
    EXPECT_EQ(g.run(2), 0);
    g.image.fail_read_call = g.image.reads + 4;  // the second record
    EXPECT_EQ(g.run(2), 0);
}

TEST(Diagnostics, NotificationTextFoldedEmptyOrFillingItsWholeField) {
    TestDisk d = two_recordings();
    d.notification = "Disque plein \xe9t\xe9";
    Diagnosed g(d);
    char text[MESSAGE_SIZE];
    char shown[DIAG_TEXT_BYTES];
    ASSERT_EQ(read_fs_notification(g.disk, text), 1);
    diagnostics_notification_text(text, shown);
    EXPECT_STREQ(shown, "Disque plein ete");
    diagnostics_notification_text("", shown);
    EXPECT_STREQ(shown, "No Message [Ok]");
    // 28 bytes without a terminating zero up to the recording count.
    memset(g.image.bytes.data() + TOC_SECTOR * SECTOR_SIZE + 12, 'x', 28);
    memset(text, 'y', sizeof text);
    ASSERT_EQ(read_fs_notification(g.disk, text), 1);
    EXPECT_EQ(std::string(text), std::string(28, 'x'));
    g.image.fail_read_call = g.image.reads + 1;
    strcpy(text, "kept");
    EXPECT_EQ(read_fs_notification(g.disk, text), 0);
    EXPECT_STREQ(text, "kept");
}

TEST(Diagnostics, SizesShowTwoDecimalsOfGigabytes) {
    FatStatistics s{};
    s.fat_entries = 20000;
    s.allocated_clusters = 1;
    DiagnosticsTexts t{};
    format_diagnostics(s, 0, &t);
    EXPECT_STREQ(t.fat_size, "20000 clusters (156.25 GB)");
    EXPECT_STREQ(t.allocated, "1 clusters (0.01 GB)");
}

}  // namespace
}  // namespace quarrow
