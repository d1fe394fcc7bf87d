// The corrupted-image sweep: copies of a built disk with random byte flips and targeted changes
// to the fields the operations trust (cluster count, table entries, recording count, slots,
// record first cluster, start, length, in-use byte), then every maintenance operation in turn on
// each. Run natively and under AddressSanitizer/UndefinedBehaviorSanitizer; bounded in rounds
// and in time. No operation may crash, and none may report success after writing outside the
// system area, except a restore into clusters that were free.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <random>
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
    test::TestDisk d = base_disk();
    ASSERT_TRUE(test::build_image(d, &base));
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
        m.bytes = base.bytes;
        for (int k = 1 + int(rng() % 4); k > 0; --k)
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
                 return apply_recording_changes(disk, seed % n, &list[seed % n], title, channel, 8,
                                                11, message);
             },
             false},
            {"move up", [&] { return move_recording_up(disk, seed % n, list.data(), message); },
             false},
            {"move down", [&] { return move_recording_down(disk, seed % n, list.data(), message); },
             false},
            {"delete", [&] { return delete_recording(disk, seed % n, list.data(), message); },
             false},
            {"restore", [&] { return restore_recording(disk, good.c_str(), nullptr, message); },
             true},
            {"recover", [&] { return recover_recordings(disk, count, nullptr, message); }, false},
        };
        for (const Op& op : ops) {
            std::vector<bool> free = free_clusters(m);
            m.write_log.clear();
            if (op.run()) {
                EXPECT_TRUE(writes_stay_inside(m, op.restore ? &free : nullptr, op.name));
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
