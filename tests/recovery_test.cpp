#include "fs/recovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fs/recording_editing.h"
#include "fs/recording_table.h"
#include "support/disk_probe.h"

namespace quarrow {
namespace {

using test::MemoryDisk;
using test::TestDisk;
using test::TestRecording;

TestRecording rec(std::vector<uint16_t> clusters, uint32_t key = 0x4D4D0001) {
    TestRecording r;
    r.clusters = std::move(clusters);
    r.key = key;
    return r;
}

struct Answer {
    bool yes = true;
    int asked = 0;
    std::string question;
    int busy_on = 0, busy_off = 0;
};

OperationHooks answering(Answer* a) {
    OperationHooks h{};
    h.context = a;
    h.confirm = [](void* c, const char* text) {
        auto* a = static_cast<Answer*>(c);
        ++a->asked;
        a->question = text;
        return a->yes;
    };
    h.busy = [](void* c, bool on) {
        auto* a = static_cast<Answer*>(c);
        ++(on ? a->busy_on : a->busy_off);
    };
    return h;
}

struct Open : test::OpenedImage {
    explicit Open(TestDisk d) : OpenedImage(std::move(d), true) { message[0] = 0; }
    // Writes a cluster header: the key and fields into the first sector, or into the second (the
    // one in use once it carries a key) with a stale key left in the first.
    uint8_t* header(uint16_t c, uint32_t key, bool second = false) {
        uint8_t* h = image.bytes.data() + cluster_first_sector(c) * SECTOR_SIZE;
        memset(h, 0, 2 * SECTOR_SIZE);
        if (second) {
            write_be32(h, 0x11111111);
            h += SECTOR_SIZE;
        }
        write_be32(h, key);
        return h;
    }
};

TEST(RecoverRecordings, ADeletedRecordingComesBackAsOneRecording) {
    TestDisk d;
    d.cluster_count = 8;
    d.checksum_error = 0x00FF00FF;
    d.recordings = {rec({0, 1}), rec({4, 2, 6}, 0xAB), rec({3, 5, 7})};
    d.recordings[1].start_time = 1000000000;
    d.recordings[1].flags = FLAG_PERMANENT;
    Open o(d);
    std::vector<RecordingEntry> list(MAX_RECORDINGS);
    ASSERT_EQ(load_recording_table(o.disk, list.data()), 3);
    ASSERT_EQ(delete_recording(test::writable_disk(o.disk), 1, list.data(), o.message), 1);
    Answer answer;
    OperationHooks hooks = answering(&answer);
    ASSERT_EQ(recover_recordings(test::writable_disk(o.disk), 2, &hooks, o.message), 1)
        << o.message;
    EXPECT_STREQ(o.message, "All Recordings were successfully restored.");
    EXPECT_EQ(answer.question, "1 Recordings discovered. Do you want to proceed with recovery?");
    EXPECT_EQ(answer.busy_on, 1);
    EXPECT_EQ(answer.busy_off, 1);
    EXPECT_EQ(test::toc_count(o.image), 3u);
    EXPECT_EQ(test::fat_word(o.image, 2), 0x8004u);
    EXPECT_EQ(test::fat_word(o.image, 4), 0x8006u);
    EXPECT_EQ(test::fat_word(o.image, 6, FAT_COPY_SECTOR), 0xBFFFu);
    EXPECT_EQ(test::fat_residue(o.image, 7), 0x00FF00FFu);
    const uint8_t* slot = test::toc_slot_bytes(o.image, 2);
    EXPECT_EQ(read_be16(slot), 0x0001u);  // the header's attribute word
    EXPECT_EQ(read_be16(slot + 2), 8u);   // the deleted record's sector is reused
    const uint8_t* r = test::record_at(o.image, 8);
    const uint8_t marker[6] = {0x01, 0x20, 0x00, 0x00, 0x35, 0x64};
    EXPECT_EQ(memcmp(r, marker, 6), 0);
    EXPECT_EQ(read_be32(r + REC_KEY), 0xABu);
    EXPECT_EQ(read_be32(r + REC_LENGTH), 49146u);
    EXPECT_EQ(read_be16(r + REC_FIRST_CLUSTER), 2u);
    EXPECT_EQ(read_be32(r + REC_DURATION), 6000u);
    EXPECT_EQ(read_be32(r + REC_START_TIME), 1000000000u);
    EXPECT_EQ(read_be32(r + REC_HEADER_36), 0xC0000000u);
    EXPECT_EQ(r[REC_BYTE_79], 3);
    EXPECT_EQ(read_be32(r + REC_TRAILER), 0xFFFFFFFFu);
    EXPECT_EQ(test::record_channel(r), "Recovered 1");
    EXPECT_EQ(r[REC_DEFAULT_TITLE], 0);
    EXPECT_EQ(r[REC_USER_TITLE], 0);
    ASSERT_EQ(load_recording_table(o.disk, list.data()), 3);
    EXPECT_STREQ(list[0].display_title, "Recovered 1");
}

// Free clusters 4, 7, 9 carry key K and 5, 8 key L; 10, the last, is never examined.
TestDisk interleaved() {
    TestDisk d;
    d.cluster_count = 11;
    d.write_clusters = false;
    d.recordings = {rec({0, 1, 2, 3, 6})};
    return d;
}
constexpr uint32_t K = 0x1000000A, L = 0x2000000B;

void write_interleaved_headers(Open& o) {
    o.header(4, K);
    o.header(7, K, true);
    o.header(9, K);
    uint8_t* l = o.header(5, L, true);
    write_be16(l + 4, 0x0404);
    write_be32(l + 6, 0x06060606);
    write_be16(l + 10, 0x1010);
    write_be32(l + 36, 0x36363636);
    write_be32(l + 56, 0x56565656);
    write_be32(l + 60, 1039205700);
    write_be16(l + 82, 0x0209);
    o.header(8, L);
    o.header(10, 0x30000000);
}

TEST(RecoverRecordings, InterleavedKeysBecomeAscendingChainsInTheOrderFound) {
    Open o(interleaved());
    write_interleaved_headers(o);
    o.reset_counters();
    ASSERT_EQ(recover_recordings(test::writable_disk(o.disk), 1, nullptr, o.message), 1)
        << o.message;
    EXPECT_EQ(test::fat_word(o.image, 4), 0x8007u);
    EXPECT_EQ(test::fat_word(o.image, 7), 0x8009u);
    EXPECT_EQ(test::fat_word(o.image, 9), 0xBFFFu);
    EXPECT_EQ(test::fat_word(o.image, 5), 0x8008u);
    EXPECT_EQ(test::fat_word(o.image, 8), 0xBFFFu);
    EXPECT_EQ(test::fat_word(o.image, 10), FAT_CHAIN_END);
    EXPECT_EQ(test::fat_residue(o.image, 10), 0u);
    EXPECT_EQ(test::toc_count(o.image), 3u);
    // K's record is written first, at the first free sector.
    ASSERT_GE(o.image.write_log.size(), 2u);
    EXPECT_EQ(o.image.write_log[0].first, (TOC_SECTOR + 8) * SECTOR_SIZE);
    const uint8_t* k = test::slot_record(o.image, 1);
    EXPECT_EQ(read_be32(k + REC_KEY), K);
    EXPECT_EQ(read_be32(k + REC_LENGTH), 3u * 16382);
    EXPECT_EQ(read_be16(test::toc_slot_bytes(o.image, 1)), 16u);  // attribute word 0 gives 16
    EXPECT_EQ(read_be16(k + REC_ATTRIBUTES), 16u);
    EXPECT_EQ(test::record_channel(k), "Recovered 1");
    const uint8_t* l = test::slot_record(o.image, 2);
    EXPECT_EQ(read_be32(l + REC_KEY), L);
    EXPECT_EQ(read_be16(l + REC_FIRST_CLUSTER), 5u);
    EXPECT_EQ(read_be32(l + REC_HEADER_6), 0x06060606u);
    EXPECT_EQ(read_be16(l + REC_HEADER_10), 0x1010u);
    EXPECT_EQ(read_be32(l + REC_HEADER_36), 0x36363636u);
    EXPECT_EQ(read_be32(l + REC_HEADER_56), 0x56565656u);
    EXPECT_EQ(read_be32(l + REC_START_TIME), 1039205700u);
    EXPECT_EQ(read_be16(l + REC_ATTRIBUTES), 0x0209u);
    EXPECT_EQ(read_be16(test::toc_slot_bytes(o.image, 2)), 0x0209u);
    EXPECT_EQ(read_be16(l + 4), 0x3564u);  // header field 4 is kept, written nowhere
    EXPECT_EQ(test::record_channel(l), "Recovered 2");
}

TEST(RecoverRecordings, NeverWrittenClustersFormOneGroupWithKeyZero) {
    TestDisk d;
    d.cluster_count = 6;
    d.write_clusters = false;
    d.recordings = {rec({1, 3})};
    Open o(d);
    ASSERT_EQ(recover_recordings(test::writable_disk(o.disk), 1, nullptr, o.message), 1)
        << o.message;
    EXPECT_EQ(test::toc_count(o.image), 2u);
    const uint8_t* r = test::slot_record(o.image, 1);
    EXPECT_EQ(read_be32(r + REC_KEY), 0u);
    EXPECT_EQ(read_be16(r + REC_FIRST_CLUSTER), 0u);
    EXPECT_EQ(read_be32(r + REC_LENGTH), 3u * 16382);  // clusters 0, 2, 4; 5 is the last
    EXPECT_EQ(test::fat_word(o.image, 0), 0x8002u);
    EXPECT_EQ(test::fat_word(o.image, 2), 0x8004u);
    EXPECT_EQ(test::fat_word(o.image, 4), 0xBFFFu);
}

TEST(RecoverRecordings, With446ListedTheScanEndsAfterTheSecondGroup) {
    TestDisk d;
    d.cluster_count = 8;
    d.write_clusters = false;
    d.recordings = {rec({0})};
    d.count_override = 446;
    Open o(d);
    o.header(1, 0xA);
    o.header(2, 0xB);
    o.header(3, 0xA);  // a further cluster of the first key, after the scan has ended
    o.header(4, 0xC);
    ASSERT_EQ(recover_recordings(test::writable_disk(o.disk), 446, nullptr, o.message), 1)
        << o.message;
    EXPECT_EQ(test::toc_count(o.image), 448u);
    EXPECT_EQ(test::fat_word(o.image, 1), 0xBFFFu);
    EXPECT_EQ(test::fat_word(o.image, 2), 0xBFFFu);
    EXPECT_EQ(test::fat_word(o.image, 3), 4u);
    EXPECT_EQ(test::fat_word(o.image, 4), 5u);
    EXPECT_EQ(read_be32(test::slot_record(o.image, 446) + REC_LENGTH), 16382u);
}

TEST(RecoverRecordings, NothingToRecoverAsksNothing) {
    TestDisk d;
    d.cluster_count = 4;
    d.write_clusters = false;
    d.recordings = {rec({0, 1, 2, 3})};
    Open o(d);
    Answer answer;
    OperationHooks hooks = answering(&answer);
    EXPECT_EQ(recover_recordings(test::writable_disk(o.disk), 1, &hooks, o.message), 0);
    EXPECT_STREQ(o.message, "No Recordings to recover on this disk.");
    EXPECT_EQ(answer.asked, 0);
    EXPECT_EQ(answer.busy_on, answer.busy_off);
    // With 448 listed not a single cluster header is read.
    d.recordings = {rec({0})};
    d.count_override = 448;
    Open full(d);
    full.reset_counters();
    EXPECT_EQ(recover_recordings(test::writable_disk(full.disk), 448, &hooks, full.message), 0);
    EXPECT_STREQ(full.message, "No Recordings to recover on this disk.");
    EXPECT_EQ(full.image.reads, 2);
    EXPECT_EQ(answer.asked, 0);
}

TEST(RecoverRecordings, AnsweredNoWritesNothing) {
    Open o(interleaved());
    write_interleaved_headers(o);
    MemoryDisk before = o.image;
    Answer answer;
    answer.yes = false;
    OperationHooks hooks = answering(&answer);
    EXPECT_EQ(recover_recordings(test::writable_disk(o.disk), 1, &hooks, o.message), 0);
    EXPECT_STREQ(o.message, "Recovery cancelled.");
    EXPECT_EQ(answer.question, "2 Recordings discovered. Do you want to proceed with recovery?");
    EXPECT_EQ(o.image.bytes, before.bytes);
}

TEST(RecoverRecordings, APreviewAsksAndWritesNothingEvenWhenAnsweredYes) {
    Open o(interleaved());
    write_interleaved_headers(o);
    MemoryDisk before = o.image;
    Answer answer;
    OperationHooks hooks = answering(&answer);
    int groups = 0;
    RecoveryView view{&groups, [](void* c, int, const RecoveryGroup&) { ++*static_cast<int*>(c); }};
    EXPECT_EQ(preview_recovery(o.disk, 1, &hooks, o.message, &view), 0);
    EXPECT_STREQ(o.message, "Recovery cancelled.");
    EXPECT_EQ(answer.question, "2 Recordings discovered. Do you want to proceed with recovery?");
    EXPECT_EQ(groups, 2);
    EXPECT_EQ(o.image.writes, 0);
    EXPECT_EQ(o.image.bytes, before.bytes);
}

TEST(RecoverRecordings, ATableOfContentsThatListsOtherThanTheLoadedCountIsNotTouched) {
    Open o(interleaved());
    write_interleaved_headers(o);
    MemoryDisk before = o.image;
    // The loader saw no recordings (one of its records could not be read), the table lists one.
    EXPECT_EQ(recover_recordings(test::writable_disk(o.disk), 0, nullptr, o.message), 0);
    EXPECT_EQ(o.image.bytes, before.bytes);
}

TEST(RecoverRecordings, EachReadFailureLeavesTheDiskUnchanged) {
    Open o(interleaved());
    write_interleaved_headers(o);
    MemoryDisk pristine = o.image;
    o.reset_counters();
    ASSERT_EQ(recover_recordings(test::writable_disk(o.disk), 1, nullptr, o.message), 1);
    const int reads = o.image.reads;
    int went_on = 0;
    for (int k = 1; k <= reads; ++k) {
        o.image = pristine;
        o.image.fail_read_call = k;
        // A cluster whose data cannot be read only has no time stamps to order it by.
        if (recover_recordings(test::writable_disk(o.disk), 1, nullptr, o.message) == 1) {
            ++went_on;
            continue;
        }
        // Boot area, table, Table of Contents and the listed record come before the headers.
        if (k == 5) {
            EXPECT_STREQ(o.message, "Error reading cluster 4 from MediaMaster Disk.");
        }
        if (k == reads) {
            EXPECT_STREQ(o.message,
                         "Could not read Recording Information record from MediaMaster disk.");
            EXPECT_EQ(test::record_at(o.image, 8)[0], 1);  // K's record, listed nowhere
        }
        // Boot area, both tables and the Table of Contents are as they were; only records of
        // groups before the failing read may have been written.
        EXPECT_TRUE(test::same_sectors(o.image, pristine, 0, TOC_SECTOR + TOC_SECTORS)) << k;
        EXPECT_TRUE(test::same_sectors(o.image, pristine, TOC_SECTOR + 12, 16384 - 142)) << k;
    }
    EXPECT_EQ(went_on, 5);  // the data reads of the five clusters
}

TEST(RecoverRecordings, EachWriteFailureLeavesWhatTheWriteOrderSays) {
    // Records, tables, and the Table of Contents last.
    const char* messages[] = {
        "Could not write Recording Information record to MediaMaster disk.",
        "Could not write Recording Information record to MediaMaster disk.",
        "Could not write File Allocation Table to MediaMaster disk.",
        "Could not write second File Allocation Table to MediaMaster disk.",
        "Could not write Table of Contents to MediaMaster disk.",
    };
    for (int k = 1; k <= 5; ++k) {
        Open o(interleaved());
        write_interleaved_headers(o);
        MemoryDisk before = o.image;
        o.reset_counters();
        o.image.fail_write_call = k;
        EXPECT_EQ(recover_recordings(test::writable_disk(o.disk), 1, nullptr, o.message), 0) << k;
        EXPECT_STREQ(o.message, messages[k - 1]) << k;
        EXPECT_EQ(test::record_at(o.image, 8)[0], k > 1 ? 1 : 0) << k;
        EXPECT_EQ(test::record_at(o.image, 12)[0], k > 2 ? 1 : 0) << k;
        EXPECT_EQ(test::fat_word(o.image, 4), k > 3 ? 0x8007u : 5u) << k;
        EXPECT_EQ(test::fat_word(o.image, 4, FAT_COPY_SECTOR), k > 4 ? 0x8007u : 5u) << k;
        EXPECT_EQ(test::toc_count(o.image), 1u) << k;
    }
}

}  // namespace
}  // namespace quarrow

namespace quarrow {
namespace {

TEST(RecoverRecordings, OnAReadOnlyDiskTheFirstWriteFailsAndNothingChanges) {
    Open o(interleaved());
    write_interleaved_headers(o);
    o.image.read_only = true;
    MemoryDisk before = o.image;
    EXPECT_EQ(recover_recordings(test::writable_disk(o.disk), 1, nullptr, o.message), 0);
    EXPECT_STREQ(o.message, "Could not write Recording Information record to MediaMaster disk.");
    EXPECT_EQ(o.image.bytes, before.bytes);
}

}  // namespace
}  // namespace quarrow
