// The corrupted-image sweep: copies of a built disk with random byte flips and targeted changes
// to the fields the operations trust (cluster count, table entries, recording count, slots,
// record first cluster, start, length, in-use byte), then every maintenance operation in turn on
// each, on a sound disk and on three that hold damage a listed recording must survive (a chain
// into a free cluster, a shared record, a cross-link). Run natively and under
// AddressSanitizer/UndefinedBehaviorSanitizer; bounded in rounds and in time. No operation may
// crash, none may report success after writing outside the system area, except a restore into
// clusters that were free, and no restore, recovery or delete that succeeds may change a
// cluster (entry or bytes) that another listed line reaches.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "fs/allocation_table.h"
#include "fs/backup_restore.h"
#include "fs/diagnostics.h"
#include "fs/recording_editing.h"
#include "fs/recording_table.h"
#include "fs/recovery.h"
#include "fs/table_of_contents.h"
#include "support/disk_probe.h"
#include "support/temp_files.h"

namespace quarrow {
namespace {

using test::MemoryDisk;

constexpr int ROUNDS = 300;
constexpr double MAX_SECONDS = 20;
constexpr uint64_t SYSTEM_AREA_BYTES = uint64_t(CLUSTER_SECTORS) * SECTOR_SIZE;

test::TestDisk base_disk() {
    test::TestDisk d;
    d.cluster_count = 10;
    d.write_clusters = false;
    for (int i = 0; i < 4; ++i) {
        test::TestRecording r;
        r.default_title = "Recording " + std::to_string(i);
        r.clusters = {uint16_t(2 * i), uint16_t(2 * i + 1)};
        r.length = 3000;
        d.recordings.push_back(r);
    }
    return d;
}

// The shapes whose damage a listed recording survives only if the operations honour it: a chain
// that runs into a cluster the table shows as free, two lines naming one record, two chains
// crossing into one cluster.
enum BaseShape { SOUND, INTO_FREE, SHARED_RECORD, CROSS_LINK, SHAPES };
std::vector<uint8_t> base_image(BaseShape shape) {
    MemoryDisk m;
    test::TestDisk d = base_disk();
    EXPECT_TRUE(test::build_image(d, &m));
    uint8_t* fat = &m.bytes[FAT_SECTOR * SECTOR_SIZE];
    uint8_t* toc = &m.bytes[TOC_SECTOR * SECTOR_SIZE];
    if (shape == INTO_FREE) write_be16(fat + 2 * 3, 4);  // recording 1 = 2 -> 3, 3 now free
    if (shape == SHARED_RECORD) write_be16(toc + TOC_SLOTS_OFFSET + TOC_SLOT_BYTES * 3 + 2, 4);
    if (shape == CROSS_LINK) write_be16(fat + 2 * 4, FAT_ALLOCATED | 1);  // 4 -> 1
    return m.bytes;
}

// The clusters the listed lines reach, as the extraction follows them (a free cluster a chain
// runs into is read too), leaving out slot skip.
std::vector<bool> reached_clusters(const MemoryDisk& m, int skip = -1) {
    std::vector<bool> reached(FAT_ENTRIES, false);
    uint32_t count = read_be16(&m.bytes[BOOT_CLUSTER_COUNT_OFFSET]);
    const uint8_t* toc = test::at_sector(m, TOC_SECTOR);
    int slots = std::min<int>(read_be16(toc + TOC_COUNT_OFFSET), TOC_SLOT_CAPACITY);
    if (count < 2 || count > MAX_CLUSTER_COUNT) return reached;
    for (int j = 0; j < slots; ++j) {
        uint32_t offset = toc_slot_record_offset(toc, j);
        if (j == skip || !record_offset_usable(offset)) continue;
        uint32_t c = read_be16(test::record_at(m, offset) + REC_FIRST_CLUSTER);
        for (uint32_t steps = 0; c < count && steps <= count; ++steps) {
            reached[c] = true;
            c = next_cluster(test::at_sector(m, FAT_SECTOR), uint16_t(c));
        }
    }
    return reached;
}

// A successful restore, recovery or delete leaves every cluster a listed line reached (but the
// deleted line's own) with its table entry and its bytes as they were.
::testing::AssertionResult listed_kept(const MemoryDisk& before, const MemoryDisk& after,
                                       const std::vector<bool>& reached, const char* op) {
    for (uint32_t c = 0; c < FAT_ENTRIES; ++c) {
        if (!reached[c]) continue;
        if (test::fat_word(before, c) != test::fat_word(after, c))
            return ::testing::AssertionFailure()
                   << op << " changed the entry of listed cluster " << c;
        for (auto [offset, len] : after.write_log)
            if (offset < (cluster_first_sector(c) + CLUSTER_SECTORS) * SECTOR_SIZE &&
                offset + int64_t(len) > cluster_first_sector(c) * SECTOR_SIZE)
                return ::testing::AssertionFailure() << op << " wrote into listed cluster " << c;
    }
    return ::testing::AssertionSuccess();
}

// One damage: a random byte of the system area's used part, or a field the operations read.
void damage(std::vector<uint8_t>& b, std::mt19937& rng) {
    auto pick = [&](uint32_t n) { return uint32_t(rng() % n); };
    auto word = [&]() -> uint16_t {
        static const uint16_t interesting[] = {0x0000, 0x3FFF, 0x8000, 0xBFFF, 0xFFFF, 0x7FFF,
                                               0x0001, 0x8001, 0x000A, 0x800A, 0x4000, 0x01C0};
        return pick(2) ? interesting[pick(12)] : uint16_t(rng());
    };
    uint8_t* toc = &b[TOC_SECTOR * SECTOR_SIZE];
    uint32_t slots = read_be16(toc + TOC_COUNT_OFFSET);
    uint32_t record = TOC_SECTOR + 4 + 4 * pick(6);
    switch (pick(8)) {
        case 0:  // cluster count
            write_be16(&b[BOOT_CLUSTER_COUNT_OFFSET], pick(3) ? word() : uint16_t(pick(20)));
            break;
        case 1:  // a table entry, or one of its checksum words
            write_be16(&b[FAT_SECTOR * SECTOR_SIZE + 2 * pick(14)], word());
            break;
        case 2:  // the recording count
            write_be16(toc + TOC_COUNT_OFFSET, pick(2) ? word() : uint16_t(pick(8)));
            break;
        case 3:  // a slot's record offset
            write_be16(toc + TOC_SLOTS_OFFSET + 4 * pick(slots < 6 ? 6 : slots % 460) + 2, word());
            break;
        case 4:  // a record's first cluster
            write_be16(&b[record * SECTOR_SIZE + REC_FIRST_CLUSTER], word());
            break;
        case 5:  // a record's start offset or length
            write_be32(&b[record * SECTOR_SIZE + (pick(2) ? REC_LENGTH : REC_START_OFFSET)],
                       pick(2) ? rng() : pick(4 * CLUSTER_DATA_SECTORS));
            break;
        case 6:  // a record's in-use byte
            b[record * SECTOR_SIZE + REC_IN_USE] ^= 1;
            break;
        default:  // any byte of the sectors in use
            b[pick((TOC_SECTOR + 4 + 24) * SECTOR_SIZE)] ^= uint8_t(1 + pick(255));
            break;
    }
}

// The clusters whose table entries are free now, for the restore's allowance.
std::vector<bool> free_clusters(const MemoryDisk& m) {
    std::vector<bool> free(FAT_ENTRIES, false);
    uint32_t count = read_be16(&m.bytes[BOOT_CLUSTER_COUNT_OFFSET]);
    if (count < 2 || count > MAX_CLUSTER_COUNT) return free;
    for (uint32_t c = 0; c < count; ++c)
        free[c] = !(test::fat_word(m, c) & FAT_ALLOCATED);
    return free;
}

// Writes past the system area are allowed only into the clusters given.
::testing::AssertionResult writes_stay_inside(const MemoryDisk& m, const std::vector<bool>* free,
                                              const char* op) {
    for (auto [offset, len] : m.write_log) {
        if (uint64_t(offset) + len <= SYSTEM_AREA_BYTES) continue;
        int64_t cluster = offset / SYSTEM_AREA_BYTES - 1;
        bool whole_cluster = offset % SYSTEM_AREA_BYTES == 0 && len == SYSTEM_AREA_BYTES;
        if (free && whole_cluster && cluster >= 0 && (*free)[size_t(cluster)]) continue;
        return ::testing::AssertionFailure()
               << op << " succeeded after writing " << len << " bytes at " << offset;
    }
    return ::testing::AssertionSuccess();
}

TEST(CorruptedImageSweep, NoCrashAndNoSuccessThatWritesOutsideItsOwnClusters) {
    test::TempDir tmp;
    MemoryDisk base;
    base.bytes = base_image(SOUND);
    std::vector<std::vector<uint8_t>> bases;
    for (int shape = 0; shape < SHAPES; ++shape)
        bases.push_back(base_image(BaseShape(shape)));
    // A sound one-cluster backup to restore.
    std::string good = tmp.file("good.mmr");
    std::vector<uint8_t> backup(RECORD_BYTES + CLUSTER_BYTES, 0x11);
    memcpy(backup.data(), test::slot_record(base, 0), RECORD_BYTES);
    write_be32(&backup[REC_LENGTH], 100);
    write_be32(&backup[REC_START_OFFSET], 0);
    ASSERT_TRUE(test::write_file(good, backup));
    std::string out = tmp.file("out.mmr");

    std::mt19937 rng(20261207);
    auto started = std::chrono::steady_clock::now();
    int rounds = 0;
    for (; rounds < ROUNDS; ++rounds) {
        if (std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() >
            MAX_SECONDS)
            break;
        MemoryDisk m;
        m.bytes = bases[size_t(rounds) % bases.size()];
        // The shapes also go through undamaged, once each.
        for (int k = rounds < SHAPES ? 0 : 1 + int(rng() % 4); k > 0; --k)
            damage(m.bytes, rng);
        DiskHandle disk = test::open_memory_disk(&m);
        char message[MESSAGE_SIZE];
        std::vector<RecordingEntry> list(MAX_RECORDINGS);
        int count = load_recording_table(disk, list.data());
        bool flags[MAX_RECORDINGS];
        int readable = load_readable_recordings(disk, list.data(), flags);
        FatStatistics stats{};
        ChainReport report{};
        gather_fat_statistics(disk, &stats, &report);
        if (count > MAX_RECORDINGS) count = 0;
        if (readable > MAX_RECORDINGS) readable = 0;
        int n = readable > 0 ? readable : 1;
        uint8_t seed = uint8_t(rng());

        // Each operation on the disk as the previous ones left it; the write log of each is
        // judged on its own.
        struct Op {
            const char* name;
            std::function<int()> run;
            bool restore;
            int deleted_slot = -2;  // -2: the listed recordings are not this operation's to keep
        } ops[] = {
            {"backup",
             [&] {
                 int ok = backup_recording(disk, seed % n, out.c_str(), nullptr, message);
                 // A backup holds the record and at most as many clusters as a disk can have.
                 if (ok) {
                     EXPECT_LE(test::file_size(out),
                               int64_t(RECORD_BYTES) + int64_t(MAX_CLUSTER_COUNT) * CLUSTER_BYTES);
                 }
                 return ok;
             },
             false},
            {"edit",
             [&] {
                 char title[REC_USER_TITLE_BYTES] = "Edited";
                 char channel[REC_CHANNEL_BYTES] = "Channel";
                 return apply_recording_changes(test::writable_disk(disk), seed % n,
                                                &list[seed % n], title, channel, 8, 11, message);
             },
             false},
            {"move up",
             [&] {
                 return move_recording_up(test::writable_disk(disk), seed % n, list.data(),
                                          message);
             },
             false},
            {"move down",
             [&] {
                 return move_recording_down(test::writable_disk(disk), seed % n, list.data(),
                                            message);
             },
             false},
            {"delete",
             [&] {
                 return delete_recording(test::writable_disk(disk), seed % n, list.data(), message);
             },
             false, readable - 1 - seed % n},
            {"restore",
             [&] {
                 return restore_recording(test::writable_disk(disk), good.c_str(), nullptr,
                                          message);
             },
             true, -1},
            {"recover",
             [&] { return recover_recordings(test::writable_disk(disk), count, nullptr, message); },
             false, -1},
        };
        for (const Op& op : ops) {
            std::vector<bool> free = free_clusters(m);
            std::vector<bool> reached = reached_clusters(m, op.deleted_slot);
            MemoryDisk before;
            if (op.deleted_slot > -2) before.bytes = m.bytes;
            m.write_log.clear();
            if (op.run()) {
                EXPECT_TRUE(writes_stay_inside(m, op.restore ? &free : nullptr, op.name));
                if (op.deleted_slot > -2) {
                    EXPECT_TRUE(listed_kept(before, m, reached, op.name));
                }
            }
            if (m.bytes.size() > SYSTEM_AREA_BYTES) {
                // Restored clusters are not needed by the next operation.
                m.bytes.resize(SYSTEM_AREA_BYTES);
                m.bytes.shrink_to_fit();
            }
        }
        close_disk(disk);
        if (HasFailure()) break;
    }
    EXPECT_GT(rounds, 20);
}

}  // namespace
}  // namespace quarrow
