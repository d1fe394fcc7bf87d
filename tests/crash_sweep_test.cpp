// Writes that cannot lose a recording: the power cut after every write of every writing
// operation (the memory disk drops each write after the k-th), and the round trips a user
// relies on (backup, delete, restore; delete, recover) compared by what the recordings extract
// to, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "extract/extraction_engine.h"
#include "fs/backup_restore.h"
#include "fs/diagnostics.h"
#include "fs/recording_editing.h"
#include "fs/recording_table.h"
#include "fs/recovery.h"
#include "support/disk_probe.h"
#include "support/disk_sink.h"
#include "support/temp_files.h"

namespace quarrow {
namespace {

using test::MemoryDisk;
using test::TestDisk;
using test::TestRecording;

TestRecording stamped(std::vector<uint16_t> clusters, uint32_t sectors, uint8_t seed,
                      uint32_t start_offset = 0) {
    TestRecording r;
    r.default_title = "R" + std::to_string(seed);
    r.key = 0x4D4D0000u + seed;
    r.clusters = std::move(clusters);
    r.start_offset = start_offset;
    r.data = test::stamped_blocks(sectors, 90000 * seed, seed);
    return r;
}

// What a recording extracts to: the walk's result and both streams.
struct Extracted {
    int ok = 0;
    std::vector<uint8_t> video, audio;
    bool operator==(const Extracted& o) const {
        return ok == o.ok && video == o.video && audio == o.audio;
    }
};

Extracted extract(DiskHandle disk, const RecordingEntry& e) {
    MemoryDisk video, audio;
    DiskHandle v = test::open_memory_disk(&video);
    DiskHandle a = test::open_memory_disk(&audio);
    ExtractionRequest r;
    r.first_cluster = e.first_cluster;
    r.start = int32_t(e.start_offset);
    r.length = int32_t(e.length);
    r.audio_type = AUDIO_TYPE_MPG;
    ExtractionOutputs outputs;
    outputs.video = test::disk_sink(v);
    outputs.audio = test::disk_sink(a);
    char message[MESSAGE_SIZE];
    Extracted x;
    x.ok = walk_recording(disk, r, outputs, message);
    close_disk(v);
    close_disk(a);
    x.video = video.bytes;
    x.audio = audio.bytes;
    return x;
}

// Every listed recording's extraction, by its record offset.
std::map<uint32_t, Extracted> listed(MemoryDisk& m) {
    std::map<uint32_t, Extracted> out;
    DiskHandle disk = test::open_memory_disk(&m);
    uint8_t toc[TOC_BYTES];
    std::vector<RecordingEntry> list(MAX_RECORDINGS);
    int n = load_recording_table(disk, list.data());
    EXPECT_TRUE(read_toc(disk, toc));
    for (int i = 0; i < n && n <= MAX_RECORDINGS; ++i)
        out[toc_slot_record_offset(toc, slot_of_index(n, i))] = extract(disk, list[i]);
    close_disk(disk);
    return out;
}

// The crash invariants on what a cut-off operation left: no cross-link, no chain into a free
// cluster, no two lines on one record; every recording listed before (but the one deleted) is
// still listed and extracts as before; with after, every recording listed now extracts as it
// did before or as the finished operation leaves it, never half-written.
std::map<uint32_t, Extracted> check_left(MemoryDisk& m, const std::map<uint32_t, Extracted>& before,
                                         const std::map<uint32_t, Extracted>* after,
                                         uint32_t deleted, const std::string& what) {
    DiskHandle disk = test::open_memory_disk(&m);
    FatStatistics stats{};
    ChainReport report{};
    gather_fat_statistics(disk, &stats, &report);
    close_disk(disk);
    EXPECT_EQ(report.cross_linked, 0u) << what;
    EXPECT_EQ(report.into_free, 0u) << what;
    EXPECT_EQ(report.shared_records, 0u) << what;
    std::map<uint32_t, Extracted> now = listed(m);
    for (const auto& [offset, x] : before) {
        if (offset == deleted) continue;
        auto it = now.find(offset);
        if (it == now.end()) {
            ADD_FAILURE() << what << ": record " << offset << " no longer listed";
            continue;
        }
        EXPECT_TRUE(it->second == x) << what << ": record " << offset << " changed";
    }
    for (const auto& [offset, x] : now) {
        if (!after) break;
        auto b = before.find(offset);
        auto a = after->find(offset);
        EXPECT_TRUE((b != before.end() && b->second == x) || (a != after->end() && a->second == x))
            << what << ": record " << offset << " is listed with data of neither state";
    }
    return now;
}

// A disk of 8 clusters: A = 0 -> 1, B = 4 -> 2, C = 5; 3 and 6 free (7, the last, too).
TestDisk three_recordings() {
    TestDisk d;
    d.cluster_count = 8;
    // Each chain's data crosses its clusters' join, kept short so that the sweep stays fast.
    d.recordings = {stamped({0, 1}, 600, 1, CLUSTER_DATA_SECTORS - 300),
                    stamped({4, 2}, 500, 2, CLUSTER_DATA_SECTORS - 200), stamped({5}, 300, 3)};
    return d;
}

// The backups of the recording shapes restore has to take: one cluster, a chain out of order,
// a start near a cluster's end, a chain shorter than the length, no clusters.
struct Shape {
    const char* name;
    TestRecording recording;
};
std::vector<Shape> shapes() {
    TestRecording shorter = stamped({4}, 600, 14);
    shorter.length = 2 * CLUSTER_DATA_SECTORS;
    TestRecording none;
    none.default_title = "none";
    none.no_clusters = true;
    return {{"one cluster", stamped({0}, 600, 11)},
            {"non-ascending chain", stamped({6, 3}, 700, 12, CLUSTER_DATA_SECTORS - 400)},
            {"start near a cluster's end", stamped({1, 2}, 500, 13, CLUSTER_DATA_SECTORS - 10)},
            {"chain shorter than the length", shorter},
            {"no clusters", none}};
}

TestDisk shape_disk() {
    TestDisk d;
    d.cluster_count = 8;
    for (const Shape& s : shapes())
        d.recordings.push_back(s.recording);
    return d;
}

// Runs op on a copy of base without a crash, then once for every k with the power cut after
// the k-th write, checking what each cut leaves, and (then_recover: for the operations that
// allocate or free) what a recovery in the next session makes of it.
void sweep(const MemoryDisk& base, uint32_t deleted, const std::string& what,
           const std::function<void(DiskHandle)>& op, bool then_recover = true) {
    MemoryDisk start = base;
    std::map<uint32_t, Extracted> before = listed(start);
    MemoryDisk done = base;
    DiskHandle disk = test::open_memory_disk(&done);
    op(disk);
    close_disk(disk);
    const int writes = done.writes;
    ASSERT_GT(writes, 0) << what;
    std::map<uint32_t, Extracted> after = listed(done);
    for (int k = 1; k <= writes; ++k) {
        MemoryDisk m = base;
        m.crash_after_write = k;
        disk = test::open_memory_disk(&m);
        op(disk);
        close_disk(disk);
        m.crash_after_write = 0;
        const std::string at = what + ", power cut after write " + std::to_string(k);
        std::map<uint32_t, Extracted> left = check_left(m, before, &after, deleted, at);
        if (!then_recover) continue;
        // The next session: a recovery takes back what a cut left allocated to nobody, and
        // touches no listed recording.
        disk = test::open_memory_disk(&m);
        char message[MESSAGE_SIZE];
        recover_recordings(test::writable_disk(disk), int(left.size()), nullptr, message);
        close_disk(disk);
        check_left(m, left, nullptr, 0, at + ", then recover");
        if (::testing::Test::HasFailure()) return;
    }
}

TEST(PowerCutAfterEveryWrite, LeavesTheOldListingOrTheNewOneNeverStaleData) {
    test::TempDir tmp;
    // Backups of every shape, made as a user makes them.
    std::vector<std::string> backups;
    {
        TestDisk source = shape_disk();
        test::OpenedImage src(source, true);
        for (size_t i = 0; i < shapes().size(); ++i) {
            backups.push_back(tmp.file("shape" + std::to_string(i) + ".mmr"));
            int index = int(shapes().size() - 1 - i);
            ASSERT_EQ(backup_recording(src.disk, index, backups[i].c_str(), nullptr, src.message),
                      1)
                << src.message;
        }
    }
    MemoryDisk base;
    TestDisk d = three_recordings();
    ASSERT_TRUE(test::build_image(d, &base, true));
    for (size_t i = 0; i < backups.size(); ++i)
        sweep(base, 0, std::string("restore of ") + shapes()[i].name, [&](DiskHandle disk) {
            char message[MESSAGE_SIZE];
            EXPECT_EQ(
                restore_recording(test::writable_disk(disk), backups[i].c_str(), nullptr, message),
                1)
                << message;
        });
    const uint32_t b_record = 8;  // B, list index 1
    sweep(base, b_record, "delete", [](DiskHandle disk) {
        std::vector<RecordingEntry> list(MAX_RECORDINGS);
        char message[MESSAGE_SIZE];
        ASSERT_EQ(load_recording_table(disk, list.data()), 3);
        EXPECT_EQ(delete_recording(test::writable_disk(disk), 1, list.data(), message), 1)
            << message;
    });
    sweep(
        base, 0, "edit",
        [](DiskHandle disk) {
            std::vector<RecordingEntry> list(MAX_RECORDINGS);
            char message[MESSAGE_SIZE], title[REC_USER_TITLE_BYTES] = "New", channel[32] = "C";
            ASSERT_EQ(load_recording_table(disk, list.data()), 3);
            EXPECT_EQ(apply_recording_changes(test::writable_disk(disk), 1, &list[1], title,
                                              channel, FLAG_LOCKED, APPLY_MASK, message),
                      1);
        },
        false);
    sweep(
        base, 0, "move",
        [](DiskHandle disk) {
            std::vector<RecordingEntry> list(MAX_RECORDINGS);
            char message[MESSAGE_SIZE];
            ASSERT_EQ(load_recording_table(disk, list.data()), 3);
            EXPECT_EQ(move_recording_up(test::writable_disk(disk), 1, list.data(), message), 1);
        },
        false);
    // Recovery of B after its delete.
    MemoryDisk deleted = base;
    DiskHandle disk = test::open_memory_disk(&deleted);
    std::vector<RecordingEntry> list(MAX_RECORDINGS);
    char message[MESSAGE_SIZE];
    ASSERT_EQ(load_recording_table(disk, list.data()), 3);
    ASSERT_EQ(delete_recording(test::writable_disk(disk), 1, list.data(), message), 1);
    close_disk(disk);
    deleted.writes = 0;
    sweep(deleted, 0, "recover", [](DiskHandle disk) {
        char message[MESSAGE_SIZE];
        EXPECT_EQ(recover_recordings(test::writable_disk(disk), 2, nullptr, message), 1) << message;
    });
}

// Backup, delete, restore: every shape comes back extracting byte for byte as it did, on a disk
// that lists 447 recordings too.
TEST(EveryBackupRestores, BackupDeleteRestoreExtractsByteIdentical) {
    test::TempDir tmp;
    std::vector<Shape> all = shapes();
    TestDisk many;
    many.cluster_count = 4;
    for (int i = 0; i < 446; ++i) {
        TestRecording r;
        r.no_clusters = true;
        many.recordings.push_back(r);
    }
    many.recordings.push_back(stamped({2, 0}, 600, 21, CLUSTER_DATA_SECTORS - 300));
    for (size_t i = 0; i <= all.size(); ++i) {
        const bool crowded = i == all.size();
        TestDisk d = crowded ? many : shape_disk();
        const int count = int(d.recordings.size());
        const int index = crowded ? 0 : int(all.size() - 1 - i);
        const std::string what = crowded ? "447 recordings" : all[i].name;
        test::OpenedImage o(d);
        std::vector<RecordingEntry> list(MAX_RECORDINGS);
        ASSERT_EQ(load_recording_table(o.disk, list.data()), count);
        Extracted before = extract(o.disk, list[index]);
        std::string path = tmp.file("b.mmr");
        ASSERT_EQ(backup_recording(o.disk, index, path.c_str(), nullptr, o.message), 1) << what;
        ASSERT_EQ(delete_recording(test::writable_disk(o.disk), index, list.data(), o.message), 1)
            << what;
        std::vector<std::string> notices;
        OperationHooks hooks{};
        hooks.context = &notices;
        hooks.notice = [](void* c, const char* text) {
            static_cast<std::vector<std::string>*>(c)->push_back(text);
        };
        ASSERT_EQ(restore_recording(test::writable_disk(o.disk), path.c_str(), &hooks, o.message),
                  1)
            << what << ": " << o.message;
        ASSERT_EQ(load_recording_table(o.disk, list.data()), count);
        EXPECT_TRUE(extract(o.disk, list[0]) == before) << what;
        if (!crowded && all[i].recording.length == 2 * CLUSTER_DATA_SECTORS) {
            ASSERT_EQ(notices.size(), 1u);
            EXPECT_EQ(notices[0],
                      "The backup file holds 1 clusters, its recording's length reaches 2: it "
                      "ends early, as it did on its disk.");
        } else {
            EXPECT_TRUE(notices.empty()) << what;
        }
    }
}

// A deleted recording whose chain ran 6 -> 3 comes back as 6 -> 3, extracting as it did, its
// duration taken from its time stamps.
TEST(ReclaimedInPlayingOrder, ANonAscendingChainIsRecoveredInItsOriginalOrder) {
    TestDisk d;
    d.cluster_count = 8;
    d.recordings = {stamped({0}, 3000, 1), stamped({6, 3, 1}, 2 * CLUSTER_DATA_SECTORS + 900, 2)};
    test::OpenedImage o(d, true);
    std::vector<RecordingEntry> list(MAX_RECORDINGS);
    ASSERT_EQ(load_recording_table(o.disk, list.data()), 2);
    Extracted before = extract(o.disk, list[0]);
    ASSERT_EQ(delete_recording(test::writable_disk(o.disk), 0, list.data(), o.message), 1);
    ASSERT_EQ(recover_recordings(test::writable_disk(o.disk), 1, nullptr, o.message), 1)
        << o.message;
    // Its group is found first (cluster 1); the never-written clusters make the second.
    ASSERT_EQ(load_recording_table(o.disk, list.data()), 3);
    EXPECT_EQ(list[1].first_cluster, 6);
    EXPECT_EQ(test::fat_word(o.image, 6), FAT_ALLOCATED | 3u);
    EXPECT_EQ(test::fat_word(o.image, 3), FAT_ALLOCATED | 1u);
    EXPECT_EQ(test::fat_word(o.image, 1), FAT_LAST_ALLOCATED);
    EXPECT_TRUE(extract(o.disk, list[1]) == before);
    // 124-sector units 40 ms apart: the stamps span the whole units less one.
    const uint32_t units = (2 * CLUSTER_DATA_SECTORS + 900) / 124;
    const uint32_t duration = read_be32(test::slot_record(o.image, 1) + REC_DURATION);
    EXPECT_EQ(read_be32(test::slot_record(o.image, 2) + REC_DURATION), 3 * 2000u);  // no stamps
    EXPECT_EQ(duration, (units - 1) * 4);
}

}  // namespace
}  // namespace quarrow
