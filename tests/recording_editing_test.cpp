#include "fs/recording_editing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fs/maintenance_io.h"
#include "fs/recording_table.h"
#include "support/disk_probe.h"

namespace quarrow {
namespace {

using test::MemoryDisk;
using test::TestDisk;
using test::TestRecording;

TestRecording rec(const std::string& title, std::vector<uint16_t> clusters, uint8_t flags = 0) {
    TestRecording r;
    r.default_title = title;
    r.channel = "Ch " + title;
    r.flags = flags;
    r.clusters = std::move(clusters);
    return r;
}

// Three recordings, oldest first: A (slot 0), B, C (slot 2, list index 0).
TestDisk three_recordings() {
    TestDisk d;
    d.cluster_count = 8;
    d.recordings = {rec("A", {0, 3}), rec("B", {1}), rec("C", {2, 7, 4})};
    d.write_clusters = false;  // only the tables and records matter here
    return d;
}

// The disk opened with its recording list loaded, as the window holds it.
struct Loaded : test::OpenedImage {
    int count = 0;
    std::vector<RecordingEntry> list = std::vector<RecordingEntry>(MAX_RECORDINGS);
    explicit Loaded(TestDisk d) : OpenedImage(std::move(d)) {
        count = load_recording_table(disk, list.data());
        reset_counters();
    }
    std::string title(int i) const { return list[i].display_title; }
};

void fields(const char* title, const char* channel, char t[48], char c[32]) {
    memset(t, 0, 48);
    memset(c, 0, 32);
    strcpy(t, title);
    strcpy(c, channel);
}

TEST(ApplyRecordingChanges, MaskKeepsBitsOutsideItAndTheTitlesAreWrittenWhole) {
    TestDisk d = three_recordings();
    d.recordings[1].flags = 0x13;
    d.recordings[1].attribute_high = 0x55;
    Loaded l(d);
    char t[48], c[32];
    fields("New title", "New channel", t, c);
    ASSERT_EQ(apply_recording_changes(test::writable_disk(l.disk), 1, &l.list[1], t, c, 8,
                                      APPLY_MASK, l.message),
              1);
    EXPECT_STREQ(l.message, "untouched");
    const uint8_t* r = test::slot_record(l.image, 1);
    EXPECT_EQ(r[REC_FLAGS], 0x18);  // Pause and Permanent off, Locked on, bit 16 kept
    EXPECT_EQ(r[REC_ATTRIBUTES], 0x55);
    EXPECT_EQ(test::toc_slot_bytes(l.image, 1)[1], 0x18);
    EXPECT_EQ(test::toc_slot_bytes(l.image, 1)[0], 0x55);
    EXPECT_EQ(memcmp(r + REC_USER_TITLE, t, 48), 0);
    EXPECT_EQ(memcmp(r + REC_CHANNEL, c, 32), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + REC_DEFAULT_TITLE)), "B");
    EXPECT_STREQ(l.list[1].display_title, "New title");
    EXPECT_STREQ(l.list[1].channel, "New channel");
    EXPECT_EQ(l.list[1].flags, 0x18);
    EXPECT_STREQ(l.list[1].attribute_text, "Erasable, Locked");
}

TEST(ApplyRecordingChanges, DisplayTitleFallsBackToDefaultTitleThenToTheNewChannel) {
    TestDisk d = three_recordings();
    d.recordings[2].user_title = "Old user title";
    d.recordings[0].default_title = "";
    Loaded l(d);
    char t[48], c[32];
    fields("", "Chan", t, c);
    ASSERT_EQ(apply_recording_changes(test::writable_disk(l.disk), 0, &l.list[0], t, c, 0,
                                      APPLY_MASK, l.message),
              1);
    EXPECT_STREQ(l.list[0].display_title, "C");
    ASSERT_EQ(apply_recording_changes(test::writable_disk(l.disk), 2, &l.list[2], t, c, 0,
                                      APPLY_MASK, l.message),
              1);
    EXPECT_STREQ(l.list[2].display_title, "Chan");
    // The list matches what a reload would show.
    std::vector<RecordingEntry> fresh(MAX_RECORDINGS);
    ASSERT_EQ(load_recording_table(l.disk, fresh.data()), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(fresh[i].display_title, l.list[i].display_title) << i;
        EXPECT_STREQ(fresh[i].user_title, l.list[i].user_title) << i;
        EXPECT_STREQ(fresh[i].channel, l.list[i].channel) << i;
        EXPECT_STREQ(fresh[i].attribute_text, l.list[i].attribute_text) << i;
        EXPECT_EQ(fresh[i].flags, l.list[i].flags) << i;
    }
}

TEST(ApplyRecordingChanges, EachFailureLeavesWhatTheWriteOrderSays) {
    char t[48], c[32];
    fields("T", "C", t, c);
    struct Case {
        int read, write;
        const char* message;
    } cases[] = {
        {1, 0, "Could not read recording table from MediaMaster disk."},
        {2, 0, "Could not read recording entry from MediaMaster disk."},
        {0, 1, "Could not write recording table to MediaMaster disk (Read-only?)."},
        {0, 2, "Could not write recording entry to MediaMaster disk."},
    };
    for (const Case& k : cases) {
        TestDisk d = three_recordings();
        d.recordings[2].flags = FLAG_PAUSE;
        Loaded l(d);
        MemoryDisk before = l.image;
        RecordingEntry entry = l.list[0];
        l.image.fail_read_call = k.read;
        l.image.fail_write_call = k.write;
        EXPECT_EQ(apply_recording_changes(test::writable_disk(l.disk), 0, &l.list[0], t, c,
                                          FLAG_LOCKED, APPLY_MASK, l.message),
                  0);
        EXPECT_STREQ(l.message, k.message);
        EXPECT_EQ(memcmp(&entry, &l.list[0], sizeof entry), 0);
        if (k.write == 2) {
            // The slot carries the new flags; the record keeps its old titles and flags.
            EXPECT_EQ(test::toc_slot_bytes(l.image, 2)[1], FLAG_LOCKED);
            EXPECT_TRUE(test::same_sectors(
                l.image, before, TOC_SECTOR + read_be16(test::toc_slot_bytes(l.image, 2) + 2),
                RECORD_SECTORS));
        } else {
            EXPECT_EQ(l.image.bytes, before.bytes) << k.message;
        }
    }
}

TEST(MoveRecording, UpAndDownSwapSlotsAndListEntries) {
    Loaded l(three_recordings());
    ASSERT_EQ(l.title(0), "C");
    // Index 1 up exchanges the two last slots; the list then shows it first.
    ASSERT_EQ(move_recording_up(test::writable_disk(l.disk), 1, l.list.data(), l.message), 1);
    EXPECT_EQ(l.title(0), "B");
    EXPECT_EQ(l.title(1), "C");
    EXPECT_EQ(std::string(
                  reinterpret_cast<const char*>(test::slot_record(l.image, 2) + REC_DEFAULT_TITLE)),
              "B");
    // The last line down exchanges the two first slots.
    ASSERT_EQ(move_recording_down(test::writable_disk(l.disk), 1, l.list.data(), l.message), 1);
    ASSERT_EQ(move_recording_down(test::writable_disk(l.disk), 2, l.list.data(), l.message), 0);
    EXPECT_STREQ(l.message, NO_SUCH_RECORDING_MESSAGE);
    EXPECT_EQ(l.title(0), "B");
    EXPECT_EQ(l.title(1), "A");
    EXPECT_EQ(l.title(2), "C");
    std::vector<RecordingEntry> fresh(MAX_RECORDINGS);
    ASSERT_EQ(load_recording_table(l.disk, fresh.data()), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_STREQ(fresh[i].display_title, l.list[i].display_title);
}

TEST(MoveRecording, BeyondTheEndsAndOnFailureNothingChanges) {
    Loaded l(three_recordings());
    MemoryDisk before = l.image;
    std::vector<RecordingEntry> list = l.list;
    EXPECT_EQ(move_recording_up(test::writable_disk(l.disk), 0, l.list.data(), l.message), 0);
    EXPECT_EQ(move_recording_down(test::writable_disk(l.disk), 2, l.list.data(), l.message), 0);
    EXPECT_EQ(move_recording_up(test::writable_disk(l.disk), 3, l.list.data(), l.message), 0);
    l.image.fail_write_call = l.image.writes + 1;
    EXPECT_EQ(move_recording_up(test::writable_disk(l.disk), 1, l.list.data(), l.message), 0);
    EXPECT_STREQ(l.message, "Could not write recording table from MediaMaster disk (Read-only?).");
    l.image.fail_read_call = l.image.reads + 1;
    EXPECT_EQ(move_recording_down(test::writable_disk(l.disk), 0, l.list.data(), l.message), 0);
    EXPECT_STREQ(l.message, "Could not read recording table from MediaMaster disk.");
    EXPECT_EQ(l.image.bytes, before.bytes);
    EXPECT_EQ(memcmp(list.data(), l.list.data(), sizeof(RecordingEntry) * 3), 0);
}

// Checks the freed chain and the kept checksum residue after a delete of recording `which`.
void expect_freed(const MemoryDisk& m, const std::vector<uint16_t>& chain, uint16_t last,
                  uint32_t residue) {
    for (uint16_t c : chain) {
        uint32_t want = c == last ? FAT_CHAIN_END : c + 1u;
        EXPECT_EQ(test::fat_word(m, c), want) << "cluster " << c;
        EXPECT_EQ(test::fat_word(m, c, FAT_COPY_SECTOR), want) << "copy, cluster " << c;
    }
    EXPECT_EQ(test::fat_residue(m, last), residue);
}

TEST(DeleteRecording, NewestOldestAndOnlyWithAChainThroughTheLastCluster) {
    for (int index : {0, 1, 2}) {
        TestDisk d = three_recordings();
        d.checksum_error = 0x12345678;  // an already wrong checksum keeps its residue
        Loaded l(d);
        std::vector<std::string> before = {l.title(0), l.title(1), l.title(2)};
        int slot = 2 - index;
        uint32_t record_offset = read_be16(test::toc_slot_bytes(l.image, slot) + 2);
        std::vector<uint8_t> old_toc(test::at_sector(l.image, TOC_SECTOR),
                                     test::at_sector(l.image, TOC_SECTOR) + TOC_BYTES);
        ASSERT_EQ(delete_recording(test::writable_disk(l.disk), index, l.list.data(), l.message), 1)
            << l.message;
        EXPECT_EQ(test::toc_count(l.image), 2u);
        // The slots after it moved down, the 4 bytes behind the last slot came along.
        const uint8_t* toc = test::at_sector(l.image, TOC_SECTOR);
        EXPECT_EQ(memcmp(toc + TOC_SLOTS_OFFSET, old_toc.data() + TOC_SLOTS_OFFSET, 4 * slot), 0);
        EXPECT_EQ(memcmp(toc + TOC_SLOTS_OFFSET + 4 * slot,
                         old_toc.data() + TOC_SLOTS_OFFSET + 4 * (slot + 1), 4 * (3 - slot)),
                  0);
        const uint8_t* r = test::record_at(l.image, record_offset);
        EXPECT_EQ(read_be32(r), 0x00003FFFu);
        EXPECT_EQ(test::record_channel(r), "Ch " + before[index]);  // the rest stays
        expect_freed(l.image, d.recordings[slot].clusters, 7, 0x12345678);
        before.erase(before.begin() + index);
        EXPECT_EQ(l.title(0), before[0]);
        EXPECT_EQ(l.title(1), before[1]);
    }
    TestDisk d;
    d.cluster_count = 8;
    d.recordings = {rec("Only", {6, 7, 5})};
    Loaded l(d);
    ASSERT_EQ(delete_recording(test::writable_disk(l.disk), 0, l.list.data(), l.message), 1);
    EXPECT_EQ(test::toc_count(l.image), 0u);
    expect_freed(l.image, {5, 6, 7}, 7, 0);
    EXPECT_EQ(test::record_at(l.image, 4)[0], 0);
}

TEST(DeleteRecording, WithoutClustersRewritesBothTablesUnchanged) {
    TestDisk d = three_recordings();
    d.recordings[1] = rec("Empty", {});
    d.recordings[1].no_clusters = true;
    d.checksum_error = 0xBEEF;
    Loaded l(d);
    MemoryDisk before = l.image;
    ASSERT_EQ(delete_recording(test::writable_disk(l.disk), 1, l.list.data(), l.message), 1);
    EXPECT_TRUE(test::same_sectors(l.image, before, FAT_SECTOR, FAT_SECTORS));
    ASSERT_EQ(l.image.write_log.size(), 4u);
    EXPECT_EQ(l.image.write_log[0].first, TOC_SECTOR * SECTOR_SIZE);
    EXPECT_EQ(l.image.write_log[1].first, FAT_SECTOR * SECTOR_SIZE);
    EXPECT_EQ(l.image.write_log[2].first, FAT_COPY_SECTOR * SECTOR_SIZE);
}

TEST(DeleteRecording, EachReadOrWriteFailureLeavesWhatTheWriteOrderSays) {
    const char* read_messages[] = {
        "Could not read File Allocation Table from MediaMaster disk.",
        "Could not read Table of Contents from MediaMaster disk.",
        "Failed to retrieve information from Boot Sector.",
        "Could not read recording entry from MediaMaster disk.",
    };
    for (int k = 1; k <= 4; ++k) {
        Loaded l(three_recordings());
        MemoryDisk before = l.image;
        std::vector<RecordingEntry> list = l.list;
        l.image.fail_read_call = k;
        EXPECT_EQ(delete_recording(test::writable_disk(l.disk), 1, l.list.data(), l.message), 0);
        EXPECT_STREQ(l.message, read_messages[k - 1]);
        EXPECT_EQ(l.image.bytes, before.bytes);
        EXPECT_EQ(memcmp(list.data(), l.list.data(), sizeof(RecordingEntry) * 3), 0);
    }
    // The slot goes first, then both tables, then the record.
    const char* write_messages[] = {
        "Could not write Table of Contents to MediaMaster disk.",
        "Could not write File Allocation Table to MediaMaster disk.",
        "Could not write second File Allocation Table to MediaMaster disk.",
        "Could not write recording entry to MediaMaster disk.",
    };
    for (int k = 1; k <= 4; ++k) {
        TestDisk d = three_recordings();
        Loaded l(d);
        MemoryDisk before = l.image;
        std::vector<RecordingEntry> list = l.list;
        l.image.fail_write_call = k;
        EXPECT_EQ(delete_recording(test::writable_disk(l.disk), 0, l.list.data(), l.message), 0);
        EXPECT_STREQ(l.message, write_messages[k - 1]);
        EXPECT_EQ(memcmp(list.data(), l.list.data(), sizeof(RecordingEntry) * 3), 0);
        bool toc_written = k > 1, first_freed = k > 2, copy_freed = k > 3;
        EXPECT_EQ(test::fat_word(l.image, 2) == 3, first_freed) << k;
        EXPECT_EQ(test::fat_word(l.image, 2, FAT_COPY_SECTOR) == 3, copy_freed) << k;
        EXPECT_EQ(test::toc_count(l.image), toc_written ? 2u : 3u) << k;
        // The record sector still reads as in use in every case.
        EXPECT_TRUE(test::same_sectors(l.image, before, TOC_SECTOR + 12, RECORD_SECTORS)) << k;
    }
}

TEST(DeleteRecording, LoopingOrBrokenChainsStopWithoutFreeingOtherRecordings) {
    // C's chain 2 -> 7 -> 4 is bent back to 7, and B's cluster 1 must survive: a walk that went on
    // through the entries it had just freed would reach it.
    TestDisk d = three_recordings();
    Loaded l(d);
    uint8_t* fat = l.image.bytes.data() + FAT_SECTOR * SECTOR_SIZE;
    write_be16(fat + 2 * 4, FAT_ALLOCATED | 7);
    // A's chain 0 -> 3 leads beyond the disk.
    write_be16(fat + 2 * 3, FAT_ALLOCATED | 0x1234);
    ASSERT_EQ(delete_recording(test::writable_disk(l.disk), 0, l.list.data(), l.message), 1);
    EXPECT_EQ(test::fat_word(l.image, 2), 3u);
    EXPECT_EQ(test::fat_word(l.image, 7), FAT_CHAIN_END);
    EXPECT_EQ(test::fat_word(l.image, 4), 5u);
    EXPECT_EQ(test::fat_word(l.image, 1), FAT_LAST_ALLOCATED);  // B untouched
    ASSERT_EQ(delete_recording(test::writable_disk(l.disk), 1, l.list.data(), l.message), 1);  // A
    EXPECT_EQ(test::fat_word(l.image, 0), 1u);
    EXPECT_EQ(test::fat_word(l.image, 3), 4u);
    EXPECT_EQ(test::fat_word(l.image, 1), FAT_LAST_ALLOCATED);
}

TEST(DeleteRecording, ARecordOffsetOutsideTheRecordAreaIsRefused) {
    Loaded l(three_recordings());
    write_be16(l.image.bytes.data() + TOC_SECTOR * SECTOR_SIZE + TOC_SLOTS_OFFSET + 2, 0);
    MemoryDisk before = l.image;
    EXPECT_EQ(delete_recording(test::writable_disk(l.disk), 2, l.list.data(), l.message), 0);
    EXPECT_EQ(l.image.bytes, before.bytes);
    EXPECT_EQ(delete_recording(test::writable_disk(l.disk), 3, l.list.data(), l.message), 0);
    EXPECT_STREQ(l.message, NO_SUCH_RECORDING_MESSAGE);
    EXPECT_EQ(l.image.bytes, before.bytes);
}

}  // namespace
}  // namespace quarrow

namespace quarrow {
namespace {

TEST(EditingOnAReadOnlyDisk, TheFirstWriteFailsWithItsMessageAndNothingChanges) {
    Loaded l(three_recordings());
    l.image.read_only = true;
    MemoryDisk before = l.image;
    char t[48], c[32];
    fields("T", "C", t, c);
    EXPECT_EQ(apply_recording_changes(test::writable_disk(l.disk), 0, &l.list[0], t, c, 0,
                                      APPLY_MASK, l.message),
              0);
    EXPECT_STREQ(l.message, "Could not write recording table to MediaMaster disk (Read-only?).");
    EXPECT_EQ(move_recording_down(test::writable_disk(l.disk), 0, l.list.data(), l.message), 0);
    EXPECT_STREQ(l.message, "Could not write recording table from MediaMaster disk (Read-only?).");
    EXPECT_EQ(l.image.bytes, before.bytes);
    EXPECT_EQ(l.title(0), "C");
}

}  // namespace
}  // namespace quarrow
