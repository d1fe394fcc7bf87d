// The recording table: slot order, the texts of each entry, the count limits and unreadable
// records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fs/layout.h"
#include "fs/recording_table.h"
#include "support/disk_builder.h"
#include "support/memory_disk.h"

using namespace quarrow;
using namespace quarrow::test;

namespace {

RecordingInfoRecord blank_record() {
    RecordingInfoRecord r;
    memset(r.bytes, 0, sizeof r.bytes);
    return r;
}

void put(RecordingInfoRecord& r, int offset, const std::string& text) {
    memcpy(r.bytes + offset, text.c_str(), text.size() + 1);
}

RecordingEntry entry_of(const RecordingInfoRecord& r) {
    RecordingEntry e;
    memset(&e, 0x55, sizeof e);
    build_recording_entry(r, &e);
    return e;
}

TestRecording titled(const std::string& title) {
    TestRecording r;
    r.default_title = title;
    r.clusters = {0};
    return r;
}

// A memory image of a disk whose recordings are given oldest first.
MemoryDisk image_of(std::vector<TestRecording> recordings, uint16_t cluster_count = 4) {
    TestDisk disk;
    disk.cluster_count = cluster_count;
    disk.recordings = std::move(recordings);
    MemoryDisk image;
    DiskHandle h = open_memory_disk(&image);
    EXPECT_TRUE(write_test_disk(disk, h));
    close_disk(h);
    return image;
}

// Sets the Table of Contents count and points every slot at the record at offset 4.
void set_count(MemoryDisk& image, int count) {
    uint8_t* toc = image.bytes.data() + TOC_SECTOR * SECTOR_SIZE;
    write_be16(toc + TOC_COUNT_OFFSET, uint32_t(count));
    for (int j = 0; j < count && TOC_SLOTS_OFFSET + 4 * j + 4 <= TOC_BYTES; ++j)
        write_be16(toc + TOC_SLOTS_OFFSET + 4 * j + 2, 4);
}

}  // namespace

TEST(RecordingTable, ListIndexZeroIsTheNewestSlot) {
    std::vector<TestRecording> recs = {titled("oldest"), titled("middle"), titled("newest")};
    recs[0].record_offset = 4;   // sector 134
    recs[1].record_offset = 8;   // sector 138
    recs[2].record_offset = 12;  // sector 142
    for (auto& r : recs)
        r.clusters.clear();
    MemoryDisk image = image_of(recs);
    DiskHandle disk = open_memory_disk(&image);
    RecordingEntry entries[MAX_RECORDINGS];
    ASSERT_EQ(load_recording_table(disk, entries), 3);
    EXPECT_STREQ(entries[0].display_title, "newest");
    EXPECT_STREQ(entries[1].display_title, "middle");
    EXPECT_STREQ(entries[2].display_title, "oldest");
    EXPECT_EQ(slot_of_index(3, 0), 2);
    EXPECT_EQ(slot_of_index(3, 2), 0);
    close_disk(disk);
}

TEST(RecordingTable, SlotsMayNameRecordsInAnyOrder) {
    std::vector<TestRecording> recs = {titled("A"), titled("B")};
    recs[0].record_offset = 40;
    recs[1].record_offset = 8;
    for (auto& r : recs)
        r.clusters.clear();
    MemoryDisk image = image_of(recs);
    DiskHandle disk = open_memory_disk(&image);
    RecordingEntry entries[MAX_RECORDINGS];
    ASSERT_EQ(load_recording_table(disk, entries), 2);
    EXPECT_STREQ(entries[0].display_title, "B");
    EXPECT_STREQ(entries[1].display_title, "A");
    close_disk(disk);
}

TEST(RecordingEntryTexts, DisplayTitleIsUserThenDefaultThenChannel) {
    RecordingInfoRecord r = blank_record();
    put(r, REC_CHANNEL, "arte");
    EXPECT_STREQ(entry_of(r).display_title, "arte");
    put(r, REC_DEFAULT_TITLE, "Caf\xE9 No\xEBl");
    EXPECT_STREQ(entry_of(r).display_title, "Caf\xE9 No\xEBl");
    put(r, REC_USER_TITLE, "Mine");
    RecordingEntry e = entry_of(r);
    EXPECT_STREQ(e.display_title, "Mine");
    EXPECT_STREQ(e.default_title, "Caf\xE9 No\xEBl");
    EXPECT_STREQ(e.user_title, "Mine");
    EXPECT_STREQ(e.channel, "arte");

    RecordingInfoRecord empty = blank_record();
    e = entry_of(empty);
    EXPECT_STREQ(e.display_title, "");
    EXPECT_STREQ(e.channel, "");
}

TEST(RecordingEntryTexts, TextsAreCutToTheirFieldsWithTheirNul) {
    RecordingInfoRecord r = blank_record();
    std::string long_title(300, 'T');
    put(r, REC_DEFAULT_TITLE, long_title);
    // User title and channel fill their whole fields without a terminating NUL.
    memset(r.bytes + REC_USER_TITLE, 'U', REC_USER_TITLE_BYTES);
    memset(r.bytes + REC_CHANNEL, 'C', REC_CHANNEL_BYTES);
    RecordingEntry e = entry_of(r);
    EXPECT_EQ(std::string(e.default_title), std::string(47, 'T'));
    EXPECT_EQ(std::string(e.user_title), std::string(47, 'U'));
    EXPECT_EQ(std::string(e.display_title), std::string(47, 'U'));
    EXPECT_EQ(std::string(e.channel), std::string(31, 'C'));

    // The default title runs up to the user title field at most.
    memset(r.bytes + REC_DEFAULT_TITLE, 'D', REC_USER_TITLE - REC_DEFAULT_TITLE);
    r.bytes[REC_USER_TITLE] = 0;
    e = entry_of(r);
    EXPECT_EQ(std::string(e.display_title), std::string(47, 'D'));
}

TEST(RecordingEntryTexts, StartTimeIsShownInGmtAndKeptInSeconds) {
    struct Case {
        uint32_t seconds;
        const char* text;
        const char* iso;
    } cases[] = {
        {0, "01-01-1970 00:00:00 GMT", "1970-01-01T00:00:00Z"},
        {1039205700, "06-12-2002 20:15:00 GMT", "2002-12-06T20:15:00Z"},
        // leap day of a century leap year
        {951782400, "29-02-2000 00:00:00 GMT", "2000-02-29T00:00:00Z"},
        {951868799, "29-02-2000 23:59:59 GMT", "2000-02-29T23:59:59Z"},
        // 2100 is no leap year
        {4107542400u, "01-03-2100 00:00:00 GMT", "2100-03-01T00:00:00Z"},
        {2147483647, "19-01-2038 03:14:07 GMT", "2038-01-19T03:14:07Z"},
        // past a signed 32-bit time
        {2147483648u, "19-01-2038 03:14:08 GMT", "2038-01-19T03:14:08Z"},
        {4294967295u, "07-02-2106 06:28:15 GMT", "2106-02-07T06:28:15Z"},
    };
    for (const Case& c : cases) {
        RecordingInfoRecord r = blank_record();
        write_be32(r.bytes + REC_START_TIME, c.seconds);
        RecordingEntry e = entry_of(r);
        EXPECT_STREQ(e.date_text, c.text) << c.seconds;
        EXPECT_EQ(e.start_time, c.seconds);
        char iso[ISO_DATE_BYTES];
        format_start_time_iso(e.start_time, iso);
        EXPECT_STREQ(iso, c.iso) << c.seconds;
    }
}

TEST(RecordingEntryTexts, DurationDropsHundredths) {
    struct Case {
        uint32_t hundredths;
        int h, m, s;
    } cases[] = {
        {0, 0, 0, 0},
        {359999, 0, 59, 59},
        {360000, 1, 0, 0},
        {6099, 0, 1, 0},
        {366099, 1, 1, 0},
        {99, 0, 0, 0},
        {4294967295u, 11930, 27, 52},  // unsigned: no negative figures
    };
    for (const Case& c : cases) {
        RecordingInfoRecord r = blank_record();
        write_be32(r.bytes + REC_DURATION, c.hundredths);
        RecordingEntry e = entry_of(r);
        EXPECT_EQ(e.hours, c.h) << c.hundredths;
        EXPECT_EQ(e.minutes, c.m) << c.hundredths;
        EXPECT_EQ(e.seconds, c.s) << c.hundredths;
    }
}

TEST(RecordingEntryTexts, AttributeTextsPauseWinsAndLockIsAppended) {
    struct Case {
        uint8_t flags;
        const char* text;
    } cases[] = {
        {0x00, "Erasable"},
        {0x10, "Erasable"},
        {0x01, "Permanent"},
        {0x02, "Pause"},
        {0x03, "Pause"},
        {0x08, "Erasable, Locked"},
        {0x09, "Permanent, Locked"},
        {0x0A, "Pause, Locked"},
        {0xFF, "Pause, Locked"},
        {0xF4, "Erasable"},
    };
    for (const Case& c : cases) {
        char out[ATTRIBUTE_TEXT_BYTES];
        EXPECT_STREQ(attribute_text(c.flags, out), c.text) << int(c.flags);
        RecordingInfoRecord r = blank_record();
        r.bytes[REC_FLAGS] = c.flags;
        RecordingEntry e = entry_of(r);
        EXPECT_STREQ(e.attribute_text, c.text);
        EXPECT_EQ(e.flags, c.flags);
    }
}

TEST(RecordingEntryTexts, NumbersAreBigEndian) {
    RecordingInfoRecord r = blank_record();
    write_be16(r.bytes + REC_FIRST_CLUSTER, 0x1234);
    write_be32(r.bytes + REC_LENGTH, 0x80000001u);
    write_be32(r.bytes + REC_START_OFFSET, 0x00012345);
    RecordingEntry e = entry_of(r);
    EXPECT_EQ(e.first_cluster, 0x1234);
    EXPECT_EQ(e.length, 0x80000001u);
    EXPECT_EQ(e.start_offset, 0x12345u);
}

TEST(RecordingSize, MegabytesByTruncatingSteps) {
    EXPECT_EQ(recording_size_mb(10000), 4u);
    EXPECT_EQ(recording_size_mb(2047), 0u);
    EXPECT_EQ(recording_size_mb(2048), 1u);
    EXPECT_EQ(recording_size_mb(0xFFFFFFFFu), 2097151u);
}

TEST(RecordingTable, CountsAboveTheLimitAreGivenWithoutTouchingTheArray) {
    MemoryDisk image = image_of({titled("only")});
    for (int count : {449, 65535}) {
        set_count(image, count);
        DiskHandle disk = open_memory_disk(&image);
        std::vector<RecordingEntry> entries(MAX_RECORDINGS);
        memset(entries.data(), 0x5C, entries.size() * sizeof(RecordingEntry));
        std::vector<RecordingEntry> before = entries;
        int reads_before = image.reads;
        EXPECT_EQ(load_recording_table(disk, entries.data()), count);
        EXPECT_EQ(memcmp(entries.data(), before.data(), entries.size() * sizeof(RecordingEntry)),
                  0);
        EXPECT_EQ(image.reads - reads_before, 1) << "only the Table of Contents is read";
        close_disk(disk);
    }
}

TEST(RecordingTable, FourHundredFortyEightRecordingsFillTheArray) {
    MemoryDisk image = image_of({titled("only")});
    set_count(image, MAX_RECORDINGS);
    DiskHandle disk = open_memory_disk(&image);
    std::vector<RecordingEntry> entries(MAX_RECORDINGS);
    EXPECT_EQ(load_recording_table(disk, entries.data()), MAX_RECORDINGS);
    EXPECT_STREQ(entries[MAX_RECORDINGS - 1].display_title, "only");
    close_disk(disk);
}

TEST(RecordingTable, AnUnreadableRecordOrTableGivesZero) {
    std::vector<TestRecording> recs = {titled("old"), titled("new")};
    recs[0].record_offset = 4;  // sector 134, read last
    recs[1].record_offset = 8;  // sector 138, read first
    for (auto& r : recs)
        r.clusters.clear();
    MemoryDisk image = image_of(recs);
    RecordingEntry entries[MAX_RECORDINGS];

    image.short_sector = 136;  // the older record ends short
    DiskHandle disk = open_memory_disk(&image);
    EXPECT_EQ(load_recording_table(disk, entries), 0);
    EXPECT_STREQ(entries[0].display_title, "new") << "entries already built stay";
    close_disk(disk);

    image.short_sector = 131;  // the Table of Contents itself
    disk = open_memory_disk(&image);
    EXPECT_EQ(load_recording_table(disk, entries), 0);
    close_disk(disk);

    image.short_sector = -1;
    for (int call = 1; call <= 3; ++call) {
        image.reads = 0;
        image.fail_read_call = call;
        disk = open_memory_disk(&image);
        EXPECT_EQ(load_recording_table(disk, entries), 0) << "read " << call << " fails";
        close_disk(disk);
    }
    image.fail_read_call = 0;
    disk = open_memory_disk(&image);
    EXPECT_EQ(load_recording_table(disk, entries), 2);
    close_disk(disk);
    EXPECT_EQ(load_recording_table(nullptr, entries), 0);
}

TEST(RecordingTable, AnEmptyTableGivesZero) {
    MemoryDisk image = image_of({});
    DiskHandle disk = open_memory_disk(&image);
    RecordingEntry entries[MAX_RECORDINGS];
    EXPECT_EQ(load_recording_table(disk, entries), 0);
    close_disk(disk);
}
