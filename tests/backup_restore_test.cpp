#include "fs/backup_restore.h"
#include "fs/allocation_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fs/maintenance_io.h"
#include "fs/recording_editing.h"
#include "fs/recording_table.h"
#include "support/disk_builder.h"
#include "support/disk_probe.h"
#include "support/temp_files.h"

namespace quarrow {
namespace {

namespace fs = std::filesystem;
using test::MemoryDisk;
using test::TestDisk;
using test::TestRecording;

using test::read_file_bytes;
using test::TempDir;

// A backup file: the record, then clusters whose every byte is fill + k (cluster k).
void write_backup(const std::string& path, const std::vector<uint8_t>& record, int clusters,
                  uint8_t fill = 0x40, size_t cut = 0) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(record.data()), RECORD_BYTES);
    std::vector<char> cluster(CLUSTER_BYTES);
    for (int k = 0; k < clusters; ++k) {
        memset(cluster.data(), fill + k, cluster.size());
        size_t n = k + 1 == clusters ? cluster.size() - cut : cluster.size();
        out.write(cluster.data(), std::streamsize(n));
    }
}

std::vector<uint8_t> backup_record(uint8_t flags = 0x09, uint16_t first = 3) {
    std::vector<uint8_t> r(RECORD_BYTES, 0);
    r[0] = 0x01;
    r[REC_FLAGS] = flags;
    r[REC_ATTRIBUTES] = 0x7A;
    write_be16(&r[REC_FIRST_CLUSTER], first);
    write_be32(&r[REC_LENGTH], 100);
    strcpy(reinterpret_cast<char*>(&r[REC_CHANNEL]), "Backed up");
    return r;
}

TestRecording rec(std::vector<uint16_t> clusters) {
    TestRecording r;
    r.clusters = std::move(clusters);
    return r;
}

using Open = test::OpenedImage;

TEST(BackupRecording, ThreeClustersInChainOrderWholeWithHeaders) {
    TempDir tmp;
    TestDisk d;
    d.cluster_count = 8;
    d.recordings = {rec({1}), rec({5, 2, 7})};
    d.recordings[1].key = 0xCAFE0001;
    Open o(d);
    for (uint16_t c : {5, 2, 7})
        o.image.bytes[cluster_data_sector(c) * SECTOR_SIZE + 10] = uint8_t(0xA0 + c);
    struct Counter {
        int busy_on = 0, busy_off = 0;
        int64_t last_done = 0, last_total = 0;
    } seen;
    OperationHooks hooks{};
    hooks.context = &seen;
    hooks.busy = [](void* c, bool on) {
        ++(on ? static_cast<Counter*>(c)->busy_on : static_cast<Counter*>(c)->busy_off);
    };
    hooks.progress = [](void* c, int64_t done, int64_t total) {
        static_cast<Counter*>(c)->last_done = done;
        static_cast<Counter*>(c)->last_total = total;
    };
    std::string path = tmp.file("three.mmr");
    ASSERT_EQ(backup_recording(o.disk, 0, path.c_str(), &hooks, o.message), 1) << o.message;
    EXPECT_STREQ(o.message, "untouched");
    std::vector<uint8_t> file = read_file_bytes(path);
    ASSERT_EQ(file.size(), 25167872u);
    EXPECT_EQ(memcmp(file.data(), test::slot_record(o.image, 1), RECORD_BYTES), 0);
    int k = 0;
    for (uint16_t c : {5, 2, 7}) {
        const uint8_t* cluster = file.data() + RECORD_BYTES + size_t(k++) * CLUSTER_BYTES;
        EXPECT_EQ(read_be32(cluster), 0xCAFE0001u);  // the header came along
        EXPECT_EQ(cluster[2 * SECTOR_SIZE + 10], 0xA0 + c);
    }
    EXPECT_EQ(seen.busy_on, 1);
    EXPECT_EQ(seen.busy_off, 1);
    EXPECT_EQ(seen.last_done, 3);
    EXPECT_EQ(seen.last_total, 3);
}

TEST(BackupRecording, WithoutClustersIsTheRecordAlone) {
    TempDir tmp;
    TestDisk d;
    d.cluster_count = 4;
    d.write_clusters = false;
    d.recordings = {rec({})};
    d.recordings[0].no_clusters = true;
    Open o(d);
    std::string path = tmp.file("empty.mmr");
    ASSERT_EQ(backup_recording(o.disk, 0, path.c_str(), nullptr, o.message), 1) << o.message;
    EXPECT_EQ(fs::file_size(path), 2048u);
}

// A damaged chain (1 -> 2 -> 3 on a disk of 8 clusters) fails the backup before a cluster is
// copied, naming the cluster; no file is left, and a file already at the path keeps its bytes.
TEST(BackupRecording, ADamagedChainFailsNamingTheClusterAndLeavesNoFile) {
    struct Case {
        std::vector<std::pair<uint16_t, uint16_t>> words;
        const char* message;
    } cases[] = {
        // The end mark damaged into a free link: the copy would run on through the free clusters.
        {{{3, 4}},
         "The recording's cluster chain runs into cluster 3, which the File Allocation Table "
         "shows as free."},
        {{{2, FAT_ALLOCATED | 9}}, "FAT Pointer out of bounds."},
        {{{2, FAT_ALLOCATED | 3}, {3, FAT_ALLOCATED | 2}},
         "The recording's cluster chain loops back on itself at cluster 3."},
    };
    TempDir tmp;
    std::string path = tmp.file("kept.mmr");
    for (const Case& c : cases) {
        TestDisk d;
        d.cluster_count = 8;
        d.recordings = {rec({1, 2, 3})};
        Open o(d);
        for (auto [cluster, word] : c.words)
            write_be16(o.image.bytes.data() + FAT_SECTOR * SECTOR_SIZE + 2 * cluster, word);
        std::ofstream(path, std::ios::binary) << "an older backup";
        EXPECT_EQ(backup_recording(o.disk, 0, path.c_str(), nullptr, o.message), 0);
        EXPECT_STREQ(o.message, c.message);
        EXPECT_EQ(fs::file_size(path), 15u);
        EXPECT_FALSE(fs::exists(path + ".part"));
        EXPECT_EQ(o.image.reads, 4);  // table, contents, record, boot area: no cluster
    }
}

TEST(BackupRecording, FailuresGiveTheirMessages) {
    TempDir tmp;
    TestDisk d;
    d.cluster_count = 4;
    d.recordings = {rec({2})};
    Open o(d);
    EXPECT_EQ(backup_recording(o.disk, 0, tmp.file("no/such/dir.mmr").c_str(), nullptr, o.message),
              0);
    EXPECT_STREQ(o.message, "Could not create output file.");
    const char* messages[] = {
        "Could not read File Allocation Table from MediaMaster disk.",
        "Could not read Table of Contents from MediaMaster disk.",
        "Could not read recording entry from MediaMaster disk.",
        "Failed to retrieve information from Boot Sector.",
        "Read operation failed.",
    };
    for (int k = 1; k <= 5; ++k) {
        o.reset_counters();
        o.image.fail_read_call = k;
        EXPECT_EQ(backup_recording(o.disk, 0, tmp.file("f.mmr").c_str(), nullptr, o.message), 0);
        EXPECT_STREQ(o.message, messages[k - 1]);
    }
    o.image.fail_read_call = 0;
    o.reset_counters();
    EXPECT_EQ(backup_recording(o.disk, 1, tmp.file("f.mmr").c_str(), nullptr, o.message), 0);
    EXPECT_STREQ(o.message, NO_SUCH_RECORDING_MESSAGE);
    EXPECT_EQ(o.image.writes, 0);
}

TEST(CountFreeClusters, CountsEntriesWithoutTheAllocatedBitUpToTheLastCluster) {
    std::vector<uint8_t> table(FAT_BYTES, 0);
    write_be16(&table[0], 0x8001);
    write_be16(&table[2], 0xBFFF);
    write_be16(&table[4], 3);
    write_be16(&table[6], 0x3FFF);
    write_be16(&table[8], 5);  // beyond last_cluster 3
    EXPECT_EQ(count_free_clusters(table.data(), 3), 2);
}

// A disk of 14 clusters whose only free entries are 5, 9 and 12.
TestDisk disk_free_5_9_12() {
    TestDisk d;
    d.cluster_count = 14;
    d.write_clusters = false;
    d.recordings = {rec({0, 1, 2, 3, 4, 6}), rec({7, 8, 10, 11, 13})};
    d.checksum_error = 0x01020304;
    return d;
}

TEST(RestoreRecording, TakesTheLowestFreeClustersAsAnAscendingChain) {
    TempDir tmp;
    Open o(disk_free_5_9_12());
    std::string path = tmp.file("two.mmr");
    write_backup(path, backup_record(0x0B), 2);
    ASSERT_EQ(restore_recording(test::writable_disk(o.disk), path.c_str(), nullptr, o.message), 1)
        << o.message;
    EXPECT_STREQ(o.message, "untouched");
    EXPECT_EQ(test::fat_word(o.image, 5), 0x8009u);
    EXPECT_EQ(test::fat_word(o.image, 9), 0xBFFFu);
    EXPECT_EQ(test::fat_word(o.image, 12), 13u);
    EXPECT_EQ(test::fat_word(o.image, 9, FAT_COPY_SECTOR), 0xBFFFu);
    EXPECT_EQ(test::fat_residue(o.image, 13), 0x01020304u);  // the residue is kept
    EXPECT_EQ(test::toc_count(o.image), 3u);
    const uint8_t* slot = test::toc_slot_bytes(o.image, 2);
    EXPECT_EQ(slot[0], 0);
    EXPECT_EQ(slot[1], 0x0B);
    EXPECT_EQ(read_be16(slot + 2), 12u);
    const uint8_t* r = test::record_at(o.image, 12);
    EXPECT_EQ(read_be16(r + REC_FIRST_CLUSTER), 5u);
    std::vector<uint8_t> want = backup_record(0x0B);
    write_be16(&want[REC_FIRST_CLUSTER], 5);
    EXPECT_EQ(memcmp(r, want.data(), RECORD_BYTES), 0);
    EXPECT_EQ(o.image.bytes[cluster_first_sector(5) * SECTOR_SIZE], 0x40);
    EXPECT_EQ(o.image.bytes[(cluster_first_sector(9) + CLUSTER_SECTORS) * SECTOR_SIZE - 1], 0x41);
    // The restored recording is the newest.
    std::vector<RecordingEntry> list(MAX_RECORDINGS);
    ASSERT_EQ(load_recording_table(o.disk, list.data()), 3);
    EXPECT_STREQ(list[0].channel, "Backed up");
}

TEST(RestoreRecording, ExactlyAsManyFreeClustersIsEnoughOneFewerIsNot) {
    TempDir tmp;
    std::string three = tmp.file("three.mmr"), four = tmp.file("four.mmr");
    write_backup(three, backup_record(), 3);
    write_backup(four, backup_record(), 4);
    Open o(disk_free_5_9_12());
    MemoryDisk before = o.image;
    o.reset_counters();
    EXPECT_EQ(restore_recording(test::writable_disk(o.disk), four.c_str(), nullptr, o.message), 0);
    EXPECT_STREQ(o.message, "Not enough space left on the MediaMaster disk!");
    EXPECT_EQ(o.image.writes, 0);
    EXPECT_EQ(restore_recording(test::writable_disk(o.disk), three.c_str(), nullptr, o.message), 1)
        << o.message;
    EXPECT_EQ(test::fat_word(o.image, 12), 0xBFFFu);
    EXPECT_EQ(restore_recording(test::writable_disk(o.disk), three.c_str(), nullptr, o.message), 0);
    EXPECT_STREQ(o.message, "Not enough space left on the MediaMaster disk!");
}

TEST(RestoreRecording, FillsTheTableOfContentsTo448AndNoFurther) {
    TempDir tmp;
    std::string path = tmp.file("one.mmr");
    write_backup(path, backup_record(), 1);
    TestDisk d;
    d.cluster_count = 4;
    d.write_clusters = false;
    d.recordings = {rec({0})};
    d.count_override = 447;
    Open o(d);
    ASSERT_EQ(restore_recording(test::writable_disk(o.disk), path.c_str(), nullptr, o.message), 1)
        << o.message;
    EXPECT_EQ(test::toc_count(o.image), 448u);
    EXPECT_EQ(read_be16(test::toc_slot_bytes(o.image, 447) + 2), 8u);
    MemoryDisk before = o.image;
    o.reset_counters();
    EXPECT_EQ(restore_recording(test::writable_disk(o.disk), path.c_str(), nullptr, o.message), 0);
    EXPECT_STREQ(o.message, "The Table of Contents is full. Please delete some recordings first.");
    EXPECT_EQ(o.image.writes, 0);
}

TEST(RestoreRecording, ReusesADeletedRecordSectorAndStopsSearchingAt448Sectors) {
    TempDir tmp;
    std::string path = tmp.file("one.mmr");
    write_backup(path, backup_record(), 1);
    TestDisk d;
    d.cluster_count = 8;
    d.write_clusters = false;
    d.recordings = {rec({0}), rec({1}), rec({2})};
    Open o(d);
    std::vector<RecordingEntry> list(MAX_RECORDINGS);
    ASSERT_EQ(load_recording_table(o.disk, list.data()), 3);
    ASSERT_EQ(delete_recording(test::writable_disk(o.disk), 1, list.data(), o.message),
              1);  // record offset 8
    ASSERT_EQ(restore_recording(test::writable_disk(o.disk), path.c_str(), nullptr, o.message), 1)
        << o.message;
    EXPECT_EQ(read_be16(test::toc_slot_bytes(o.image, 2) + 2), 8u);
    EXPECT_EQ(test::record_at(o.image, 8)[0], 1);

    // Every record sector a full table can use is taken (some by records listed nowhere).
    for (uint32_t offset = 4; offset <= 4 * 448; offset += 4)
        o.image.bytes[(TOC_SECTOR + offset) * SECTOR_SIZE] = 1;
    MemoryDisk before = o.image;
    o.reset_counters();
    EXPECT_EQ(restore_recording(test::writable_disk(o.disk), path.c_str(), nullptr, o.message), 0);
    EXPECT_STREQ(o.message, NO_FREE_RECORD_MESSAGE);
    EXPECT_EQ(o.image.writes, 0);
    EXPECT_LE(o.image.reads, 3 + 448);
}

TEST(RestoreRecording, AFileWithoutAWholeClusterRestoresOnlyARecordingWithoutClusters) {
    TempDir tmp;
    TestDisk d;
    d.cluster_count = 4;
    d.write_clusters = false;
    d.recordings = {rec({0})};
    Open o(d);
    std::string damaged = tmp.file("damaged.mmr"), empty = tmp.file("empty.mmr"),
                cut = tmp.file("cut.mmr");
    write_backup(damaged, backup_record(0, 2), 0);
    write_backup(empty, backup_record(0, FAT_CHAIN_END), 0);
    write_backup(cut, backup_record(0, 2), 1, 0x40, 100);  // ends 100 bytes short
    MemoryDisk before = o.image;
    EXPECT_EQ(restore_recording(test::writable_disk(o.disk), damaged.c_str(), nullptr, o.message),
              0);
    EXPECT_STREQ(o.message, "The backup file holds no whole cluster of its recording.");
    EXPECT_EQ(restore_recording(test::writable_disk(o.disk), cut.c_str(), nullptr, o.message), 0);
    EXPECT_STREQ(o.message, "The backup file ends inside its last cluster: it is incomplete.");
    EXPECT_EQ(o.image.bytes, before.bytes);
    ASSERT_EQ(restore_recording(test::writable_disk(o.disk), empty.c_str(), nullptr, o.message), 1)
        << o.message;
    EXPECT_EQ(test::toc_count(o.image), 2u);
    EXPECT_EQ(read_be16(test::slot_record(o.image, 1) + REC_FIRST_CLUSTER), FAT_CHAIN_END);
    EXPECT_TRUE(test::same_sectors(o.image, before, FAT_SECTOR, FAT_SECTORS));
    std::string tiny = tmp.file("tiny.mmr");
    std::ofstream(tiny, std::ios::binary) << "not a backup";
    EXPECT_EQ(restore_recording(test::writable_disk(o.disk), tiny.c_str(), nullptr, o.message), 0);
    EXPECT_STREQ(o.message, "Error while reading recording information from file.");
    EXPECT_EQ(restore_recording(test::writable_disk(o.disk), tmp.file("missing.mmr").c_str(),
                                nullptr, o.message),
              0);
    EXPECT_STREQ(o.message, "Could not open input file.");
}

TEST(RestoreRecording, EachReadFailureLeavesTheDiskUnchanged) {
    TempDir tmp;
    std::string path = tmp.file("one.mmr");
    write_backup(path, backup_record(), 1);
    const char* messages[] = {
        "Could not read File Allocation Table from MediaMaster disk.",
        "Failed to retrieve information from Boot Sector.",
        "Could not read Table of Contents from MediaMaster disk.",
        "Could not read Recording Information record from MediaMaster disk.",
        "Could not read Recording Information record from MediaMaster disk.",
    };
    for (int k = 1; k <= 5; ++k) {
        TestDisk d;
        d.cluster_count = 4;
        d.write_clusters = false;
        d.recordings = {rec({0})};
        Open o(d);
        MemoryDisk before = o.image;
        o.reset_counters();
        o.image.fail_read_call = k;
        EXPECT_EQ(restore_recording(test::writable_disk(o.disk), path.c_str(), nullptr, o.message),
                  0)
            << k;
        EXPECT_STREQ(o.message, messages[k - 1]);
        EXPECT_EQ(o.image.bytes, before.bytes) << k;
    }
}

TEST(RestoreRecording, EachWriteFailureLeavesWhatTheWriteOrderSays) {
    TempDir tmp;
    std::string path = tmp.file("one.mmr");
    write_backup(path, backup_record(0x01), 1);
    // The cluster data first, then the record, both tables, and the slot that lists it last.
    const char* messages[] = {
        "Error while writing to MediaMaster Disk.",
        "Could not write Recording Information record to MediaMaster disk.",
        "Could not write File Allocation Table to MediaMaster disk.",
        "Could not write second File Allocation Table to MediaMaster disk.",
        "Could not write Table of Contents to MediaMaster disk.",
    };
    for (int k = 1; k <= 5; ++k) {
        TestDisk d;
        d.cluster_count = 4;
        d.write_clusters = false;
        d.recordings = {rec({0})};
        Open o(d, true);
        MemoryDisk before = o.image;
        o.reset_counters();
        o.image.fail_write_call = k;
        EXPECT_EQ(restore_recording(test::writable_disk(o.disk), path.c_str(), nullptr, o.message),
                  0)
            << k;
        EXPECT_STREQ(o.message, messages[k - 1]);
        if (k == 1) {
            EXPECT_EQ(o.image.bytes, before.bytes);
            continue;
        }
        // The cluster holds its new data from the first step on; the recording is never listed.
        EXPECT_EQ(o.image.bytes[cluster_first_sector(1) * SECTOR_SIZE], 0x40) << k;
        EXPECT_EQ(test::record_at(o.image, 8)[0], k > 2 ? 1 : 0) << k;
        EXPECT_EQ(test::fat_word(o.image, 1), k > 3 ? 0xBFFFu : 2u) << k;
        EXPECT_EQ(test::fat_word(o.image, 1, FAT_COPY_SECTOR), k > 4 ? 0xBFFFu : 2u) << k;
        EXPECT_EQ(test::toc_count(o.image), 1u) << k;
    }
}

TEST(RestoreRecording, OnAReadOnlyDiskTheFirstWriteFailsAndNothingChanges) {
    TempDir tmp;
    std::string path = tmp.file("one.mmr");
    write_backup(path, backup_record(), 1);
    TestDisk d;
    d.cluster_count = 4;
    d.write_clusters = false;
    d.recordings = {rec({0})};
    Open o(d);
    o.image.read_only = true;
    MemoryDisk before = o.image;
    EXPECT_EQ(restore_recording(test::writable_disk(o.disk), path.c_str(), nullptr, o.message), 0);
    EXPECT_STREQ(o.message, "Error while writing to MediaMaster Disk.");
    std::vector<RecordingEntry> list(MAX_RECORDINGS);
    ASSERT_EQ(load_recording_table(o.disk, list.data()), 1);
    EXPECT_EQ(delete_recording(test::writable_disk(o.disk), 0, list.data(), o.message), 0);
    EXPECT_STREQ(o.message, "Could not write Table of Contents to MediaMaster disk.");
    EXPECT_EQ(o.image.bytes, before.bytes);
}

}  // namespace
}  // namespace quarrow
