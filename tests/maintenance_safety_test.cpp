// Maintenance that cannot lose data: damaged backups refused before the first write, listed
// records never taken as free, cross-links found and never freed, Ctrl-C honoured only where the
// disk stays consistent, one writer at a time, and changes flushed before they count as done.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fs/backup_restore.h"
#include "fs/diagnostics.h"
#include "fs/recording_editing.h"
#include "fs/recording_table.h"
#include "fs/recovery.h"
#include "support/disk_probe.h"
#include "support/temp_files.h"

namespace quarrow {
namespace {

using test::MemoryDisk;
using test::TestDisk;
using test::TestRecording;

TestRecording rec(const std::string& title, std::vector<uint16_t> clusters) {
    TestRecording r;
    r.default_title = title;
    r.clusters = std::move(clusters);
    return r;
}

// The shared opened image, with the structures a test damages by hand.
struct Open : test::OpenedImage {
    using OpenedImage::OpenedImage;
    uint8_t* fat() { return image.bytes.data() + FAT_SECTOR * SECTOR_SIZE; }
    uint8_t* record(uint32_t offset) {
        return image.bytes.data() + (TOC_SECTOR + offset) * SECTOR_SIZE;
    }
};

// A backup file of `clusters` clusters after a record with the given first cluster, start and
// length, cut `cut` bytes short.
std::string backup_file(const test::TempDir& tmp, const std::string& name, int clusters,
                        uint32_t length, uint8_t in_use = 1, size_t cut = 0) {
    std::vector<uint8_t> bytes(RECORD_BYTES + size_t(clusters) * CLUSTER_BYTES, 0x5A);
    memset(bytes.data(), 0, RECORD_BYTES);
    bytes[REC_IN_USE] = in_use;
    write_be16(&bytes[REC_FIRST_CLUSTER], 2);
    write_be32(&bytes[REC_LENGTH], length);
    bytes.resize(bytes.size() - cut);
    std::string path = tmp.file(name);
    EXPECT_TRUE(test::write_file(path, bytes));
    return path;
}

TEST(RestoreChecksTheWholeFileFirst, TruncatedOrDamagedBackupsAreRefusedBeforeAnyWrite) {
    test::TempDir tmp;
    const uint32_t three = 2 * CLUSTER_DATA_SECTORS + 1;  // a length that needs 3 clusters
    struct Case {
        std::string path;
        const char* message;
    } cases[] = {
        // Cut inside a cluster that is not the last: the file ends inside its (new) last one.
        {backup_file(tmp, "mid.mmr", 3, three, 1, CLUSTER_BYTES + 7),
         "The backup file ends inside its last cluster: it is incomplete."},
        {backup_file(tmp, "none.mmr", 0, three),
         "The backup file holds no whole cluster of its recording."},
        {backup_file(tmp, "unused.mmr", 3, three, 0),
         "The backup file's record is marked unused: the file is damaged and is not restored."},
    };
    for (const Case& c : cases) {
        TestDisk d;
        d.cluster_count = 8;
        d.write_clusters = false;
        d.recordings = {rec("A", {0})};
        Open o(d);
        MemoryDisk before = o.image;
        EXPECT_EQ(
            restore_recording(test::writable_disk(o.disk), c.path.c_str(), nullptr, o.message), 0)
            << c.path;
        EXPECT_STREQ(o.message, c.message);
        EXPECT_EQ(o.image.writes, 0);
        EXPECT_EQ(o.image.bytes, before.bytes);
    }
}

// Slot 1 names the record at offset 8, whose byte 0 was damaged to 0: restore and recovery must
// both leave it alone and take offset 12.
TEST(ListedRecordsAreTaken, RestoreAndRecoveryNeverReuseARecordASlotNames) {
    test::TempDir tmp;
    std::string one = backup_file(tmp, "one.mmr", 1, 100);
    for (bool recovery : {false, true}) {
        TestDisk d;
        d.cluster_count = 6;
        d.recordings = {rec("A", {0}), rec("B", {1})};
        Open o(d, recovery);
        ASSERT_EQ(read_be16(test::toc_slot_bytes(o.image, 1) + 2), 8u);
        o.record(8)[REC_IN_USE] = 0;
        if (recovery) {
            ASSERT_EQ(recover_recordings(test::writable_disk(o.disk), 2, nullptr, o.message), 1)
                << o.message;
        } else {
            ASSERT_EQ(
                restore_recording(test::writable_disk(o.disk), one.c_str(), nullptr, o.message), 1)
                << o.message;
        }
        EXPECT_EQ(read_be16(test::toc_slot_bytes(o.image, 2) + 2), 12u) << recovery;
        EXPECT_EQ(test::record_channel(o.record(8)), "Channel") << recovery;
        std::vector<RecordingEntry> list(MAX_RECORDINGS);
        ASSERT_EQ(load_recording_table(o.disk, list.data()), 3);
        EXPECT_STREQ(list[1].display_title, "B");
    }
}

std::vector<std::string>* notices_of(OperationHooks* h, std::vector<std::string>* seen) {
    h->context = seen;
    h->notice = [](void* c, const char* text) {
        static_cast<std::vector<std::string>*>(c)->push_back(text);
    };
    return seen;
}

// A = 0 -> 1 -> 2 on a disk of 6 clusters, its table damaged so that a cluster it reaches reads
// as free: restore and recovery must take other clusters, and say how many they kept out.
TEST(UsedMeansUsedByAnything, RestoreAndRecoverNeverTakeAClusterAListedRecordingReaches) {
    struct Case {
        const char* what;
        uint16_t cluster, word;  // the entry damaged to free
    } cases[] = {{"the chain runs into a free cluster", 1, 2},
                 {"the record names a free cluster", 0, 1}};
    test::TempDir tmp;
    std::string one = backup_file(tmp, "one.mmr", 1, 100);
    for (const Case& c : cases) {
        for (bool recovery : {false, true}) {
            TestDisk d;
            d.cluster_count = 6;
            d.recordings = {rec("A", {0, 1, 2})};
            Open o(d, true);
            write_be16(o.fat() + 2 * c.cluster, c.word);
            MemoryDisk before = o.image;
            std::vector<std::string> seen;
            OperationHooks hooks{};
            notices_of(&hooks, &seen);
            int ok = recovery
                         ? recover_recordings(test::writable_disk(o.disk), 1, &hooks, o.message)
                         : restore_recording(test::writable_disk(o.disk), one.c_str(), &hooks,
                                             o.message);
            ASSERT_EQ(ok, 1) << c.what << recovery << o.message;
            EXPECT_EQ(test::fat_word(o.image, c.cluster), c.word) << c.what << recovery;
            EXPECT_TRUE(test::same_sectors(o.image, before, cluster_first_sector(c.cluster),
                                           CLUSTER_SECTORS))
                << c.what << recovery;
            ASSERT_FALSE(seen.empty()) << c.what << recovery;
            EXPECT_EQ(seen[0],
                      "1 clusters that the File Allocation Table shows as free are kept out: "
                      "listed recordings still reach them.");
        }
    }
}

// D names A's record: deleting either line removes only that line, and A's record and clusters
// stay with the other.
TEST(DeleteRemovesOnlyWhatIsItsOwn, ALineSharingARecordLeavesRecordAndClustersToTheOther) {
    for (int index : {0, 3}) {  // D, then A
        TestDisk d;
        d.cluster_count = 10;
        d.write_clusters = false;
        d.recordings = {rec("A", {0, 1}), rec("B", {2, 3}), rec("C", {4, 5}), rec("D", {6})};
        Open o(d);
        write_be16(o.image.bytes.data() + TOC_SECTOR * SECTOR_SIZE + TOC_SLOTS_OFFSET +
                       TOC_SLOT_BYTES * 3 + 2,
                   4);
        std::vector<RecordingEntry> list(MAX_RECORDINGS);
        ASSERT_EQ(load_recording_table(o.disk, list.data()), 4);
        std::vector<std::string> seen;
        OperationHooks hooks{};
        notices_of(&hooks, &seen);
        ASSERT_EQ(
            delete_recording(test::writable_disk(o.disk), index, list.data(), o.message, &hooks), 1)
            << index;
        EXPECT_EQ(test::toc_count(o.image), 3u);
        EXPECT_EQ(test::fat_word(o.image, 0), FAT_ALLOCATED | 1u) << index;
        EXPECT_EQ(test::fat_word(o.image, 1), FAT_LAST_ALLOCATED) << index;
        EXPECT_EQ(test::record_at(o.image, 4)[REC_IN_USE], 1) << index;
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0],
                  "Another line of the list names the same record: only this line was removed; "
                  "the record and its clusters stay with the other.");
        ASSERT_EQ(load_recording_table(o.disk, list.data()), 3);
        // The line left names A's record: last after D went, first after A's own line went.
        EXPECT_STREQ(list[index == 0 ? 2 : 0].display_title, "A");
    }
}

// Disk of 10 clusters: A = 0 -> 1, B = 2 -> 3, C = 4 -> 5, D = 6.
TestDisk four_recordings() {
    TestDisk d;
    d.cluster_count = 10;
    d.write_clusters = false;
    d.recordings = {rec("A", {0, 1}), rec("B", {2, 3}), rec("C", {4, 5}), rec("D", {6})};
    return d;
}

TEST(DiagnosticsFindDamage, CrossLinksFreeEntriesInChainsAndSharedRecords) {
    struct Case {
        const char* what;
        std::vector<std::pair<uint16_t, uint16_t>> words;  // FAT entries changed
        int shared_slot;                                   // slot made to name slot 0's record
        uint32_t ChainReport::*count;
        ChainFinding finding;
    } cases[] = {
        {"B's chain bent into A's",
         {{2, FAT_ALLOCATED | 1}},
         -1,
         &ChainReport::cross_linked,
         {FAULT_CROSS_LINK, 1, 0, 1}},
        {"C's end mark damaged into a free link",
         {{5, 6 + 1}},
         -1,
         &ChainReport::into_free,
         {FAULT_INTO_FREE, 2, -1, 5}},
        {"D names A's record", {}, 3, &ChainReport::shared_records, {FAULT_SHARED_RECORD, 3, 0, 0}},
    };
    for (const Case& c : cases) {
        Open o(four_recordings());
        for (auto [cluster, word] : c.words)
            write_be16(o.fat() + 2 * cluster, word);
        if (c.shared_slot >= 0)
            write_be16(o.image.bytes.data() + TOC_SECTOR * SECTOR_SIZE + TOC_SLOTS_OFFSET +
                           TOC_SLOT_BYTES * c.shared_slot + 2,
                       4);
        FatStatistics stats{};
        ChainReport report{};
        EXPECT_EQ(gather_fat_statistics(o.disk, &stats, &report), 1) << c.what;
        EXPECT_EQ(report.*c.count, 1u) << c.what;
        ASSERT_EQ(report.finding_count, 1) << c.what;
        EXPECT_EQ(report.findings[0].fault, c.finding.fault) << c.what;
        EXPECT_EQ(report.findings[0].slot, c.finding.slot) << c.what;
        EXPECT_EQ(report.findings[0].other_slot, c.finding.other_slot) << c.what;
        EXPECT_EQ(report.findings[0].cluster, c.finding.cluster) << c.what;
    }
    // A sound disk has nothing to report.
    Open o(four_recordings());
    FatStatistics stats{};
    ChainReport report{};
    ASSERT_EQ(gather_fat_statistics(o.disk, &stats, &report), 1);
    EXPECT_EQ(report.finding_count, 0);
}

TEST(DiagnosticsFindDamage, ARecordThatCannotBeUsedIsNamed) {
    for (uint32_t offset : {3u, 0u, 60000u}) {  // not a whole record, the table, past the area
        Open o(four_recordings());
        write_be16(o.image.bytes.data() + TOC_SECTOR * SECTOR_SIZE + TOC_SLOTS_OFFSET + 4 + 2,
                   offset);
        FatStatistics stats{};
        ChainReport report{};
        EXPECT_EQ(gather_fat_statistics(o.disk, &stats, &report), 0) << offset;
        ASSERT_EQ(report.finding_count, 1);
        EXPECT_EQ(report.findings[0].fault, FAULT_BAD_RECORD);
        EXPECT_EQ(report.findings[0].slot, 1);
    }
}

TEST(DeleteRefusesASharedChain, NamingTheOtherRecordingAndChangingNothing) {
    Open o(four_recordings());
    write_be16(o.fat() + 2 * 2, FAT_ALLOCATED | 1);  // B = 2 -> 1, into A's last cluster
    std::vector<RecordingEntry> list(MAX_RECORDINGS);
    ASSERT_EQ(load_recording_table(o.disk, list.data()), 4);
    MemoryDisk before = o.image;
    EXPECT_EQ(delete_recording(test::writable_disk(o.disk), 2, list.data(), o.message),
              0);  // B, list line 3
    EXPECT_STREQ(o.message,
                 "Cluster 1 also belongs to recording 4 ('A'); deleting this one would free its "
                 "data. Nothing was changed.");
    EXPECT_EQ(o.image.bytes, before.bytes);
    // A recording that shares nothing is deleted as before.
    ASSERT_EQ(delete_recording(test::writable_disk(o.disk), 0, list.data(), o.message), 1)
        << o.message;
}

struct Cancel {
    const MemoryDisk* image;
    int after_writes;  // cancelled once the disk has seen this many writes
};
OperationHooks cancelling(Cancel* c) {
    OperationHooks h{};
    h.context = c;
    h.cancelled = [](void* p) {
        auto* c = static_cast<Cancel*>(p);
        return c->image->writes >= c->after_writes;
    };
    return h;
}

// Ctrl-C before the first write leaves the disk as it was; after it the restore finishes, every
// cluster written. A backup stopped between clusters leaves no file.
TEST(InterruptsAtSafePoints, BeforeTheFirstWriteNothingChangesAfterItTheRestoreFinishes) {
    test::TempDir tmp;
    std::string two = backup_file(tmp, "two.mmr", 2, 100);
    for (int after : {0, 1}) {
        TestDisk d;
        d.cluster_count = 6;
        d.recordings = {rec("A", {0})};
        Open o(d, true);
        MemoryDisk before = o.image;
        Cancel c{&o.image, after};
        OperationHooks hooks = cancelling(&c);
        int ok = restore_recording(test::writable_disk(o.disk), two.c_str(), &hooks, o.message);
        if (after == 0) {
            EXPECT_EQ(ok, 0);
            EXPECT_STREQ(o.message, RESTORE_CANCELLED_MESSAGE);
            EXPECT_EQ(o.image.bytes, before.bytes);
            continue;
        }
        ASSERT_EQ(ok, 1) << o.message;
        EXPECT_EQ(o.image.writes, 6);  // record, contents, both tables, both clusters
        EXPECT_EQ(o.image.bytes[cluster_first_sector(2) * SECTOR_SIZE], 0x5A);
    }
    TestDisk d;
    d.cluster_count = 6;
    d.recordings = {rec("A", {0, 1})};
    Open o(d, true);
    Cancel c{&o.image, 0};
    OperationHooks hooks = cancelling(&c);
    std::string path = tmp.file("stopped.mmr");
    EXPECT_EQ(backup_recording(o.disk, 0, path.c_str(), &hooks, o.message), 0);
    EXPECT_STREQ(o.message, BACKUP_CANCELLED_MESSAGE);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));
}

TEST(Durability, AFailedFlushOrCloseIsAFailedWrite) {
    struct Case {
        bool fail_flush, fail_close, ok;
    } cases[] = {{false, false, true}, {true, false, false}, {false, true, false}};
    for (const Case& c : cases) {
        MemoryDisk m;
        m.fail_flush = c.fail_flush;
        m.fail_close = c.fail_close;
        EXPECT_EQ(flush_and_close(test::open_memory_disk(&m)), c.ok);
        EXPECT_EQ(m.flushes, 1);
    }
    // A real file flushes and closes cleanly.
    test::TempDir tmp;
    ASSERT_TRUE(test::write_file(tmp.file("img"), std::vector<uint8_t>(4096, 1)));
    DiskHandle disk = open_image_file(tmp.file("img").c_str(), true);
    ASSERT_TRUE(disk);
    EXPECT_TRUE(flush_and_close(disk));
}

// Two handles on one image stand for two programs: a writer excludes everyone, readers share.
TEST(OneWriterAtATime, AnExclusiveLockExcludesEveryOtherLock) {
    test::TempDir tmp;
    std::string path = tmp.file("disk.img");
    ASSERT_TRUE(test::write_file(path, std::vector<uint8_t>(4096, 0)));
    struct Case {
        bool first_exclusive, second_exclusive, second_gets_it;
    } cases[] = {
        {true, true, false}, {true, false, false}, {false, true, false}, {false, false, true}};
    for (const Case& c : cases) {
        DiskHandle a = open_image_file(path.c_str(), true);
        DiskHandle b = open_image_file(path.c_str(), true);
        ASSERT_TRUE(a && b);
        EXPECT_TRUE(lock_disk(a, c.first_exclusive));
        EXPECT_EQ(lock_disk(b, c.second_exclusive), c.second_gets_it);
        close_disk(a);
        // The lock ends with the handle that held it.
        EXPECT_TRUE(lock_disk(b, c.second_exclusive));
        close_disk(b);
    }
}

}  // namespace
}  // namespace quarrow
