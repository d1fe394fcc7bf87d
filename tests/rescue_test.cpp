// Rescue on the in-memory faulty disk: every readable sector reaches the image and the map's bad
// blocks are exactly the failing sectors; a bad area costs one read in the first pass; a stopped
// rescue resumes without reading a finished byte again; the areas of a damaged MediaMaster disk
// in the order a rescue reads them, and its allocation table taken from the copy; the whole
// rescue of such a disk, recording by recording.
#include "disk/rescue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fs/damaged_disk.h"
#include "fs/disk_rescue.h"
#include "support/disk_probe.h"
#include "support/temp_files.h"

using namespace quarrow;
using namespace quarrow::test;

namespace {

constexpr int SOURCE_SECTORS = 8192;

std::vector<uint8_t> numbered_sectors(int sectors) {
    std::vector<uint8_t> bytes(size_t(sectors) * SECTOR_SIZE);
    for (int s = 0; s < sectors; ++s)
        memset(bytes.data() + size_t(s) * SECTOR_SIZE, (s % 255) + 1, SECTOR_SIZE);
    return bytes;
}

struct Stopper {
    int calls = 0;
    int stop_after = -1;
};

bool count_and_stop(void* context, const RescueMap&) {
    auto* s = static_cast<Stopper*>(context);
    ++s->calls;
    return s->stop_after < 0 || s->calls < s->stop_after;
}

// Runs the passes as the command does: the first pass over every area, then the splitting one.
RescueResult run_rescue(MemoryDisk* source, MemoryDisk* image, RescueMap* map,
                        const std::vector<SectorRun>& areas, Stopper* stopper) {
    DiskHandle src = open_memory_disk(source);
    DiskHandle img = open_memory_disk(image);
    RescueRequest r;
    r.source = src;
    r.image = img;
    r.map = map;
    r.context = stopper;
    r.checkpoint = count_and_stop;
    char message[MESSAGE_SIZE] = "";
    RescueResult result = rescue_copy_pass(&r, areas, message);
    if (result == RESCUE_DONE) result = rescue_split_pass(&r, areas, message);
    close_disk(src);
    close_disk(img);
    return result;
}

std::vector<SectorRun> bad_runs(const RescueMap& map) {
    std::vector<SectorRun> runs;
    for (const MapBlock& b : map.blocks)
        if (b.status == MAP_BAD) runs.push_back({b.pos / SECTOR_SIZE, b.size / SECTOR_SIZE});
    return runs;
}

}  // namespace

TEST(Rescue, CopiesEveryReadableSectorAndMapsExactlyTheFailingOnes) {
    struct Case {
        const char* what;
        std::vector<FailingSectors> failing;
        bool deliver_before;
        int max_failed_first_pass;
    } cases[] = {
        {"clean", {}, false, 0},
        {"one sector", {{1000, 1}}, false, 1},
        {"two runs in one large read", {{3000, 16}, {3020, 1}}, false, 1},
        {"across two large reads", {{2040, 20}}, false, 2},
        {"the last sector", {{8191, 1}}, false, 1},
        {"driver delivers what precedes", {{5000, 3}, {7000, 1}}, true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryDisk source, image;
        source.bytes = numbered_sectors(SOURCE_SECTORS);
        source.failing = c.failing;
        source.deliver_before_failing = c.deliver_before;
        image.bytes.assign(source.bytes.size(), 0);
        RescueMap map;
        init_rescue_map(&map, int64_t(source.bytes.size()));
        DiskHandle src = open_memory_disk(&source);
        DiskHandle img = open_memory_disk(&image);
        RescueRequest r;
        r.source = src;
        r.image = img;
        r.map = &map;
        char message[MESSAGE_SIZE] = "";
        std::vector<SectorRun> all = {{0, SOURCE_SECTORS}};
        ASSERT_EQ(rescue_copy_pass(&r, all, message), RESCUE_DONE);
        int refused = 0;
        for (auto& [offset, len] : source.read_log) {
            int64_t first = offset / SECTOR_SIZE, end = (offset + len) / SECTOR_SIZE;
            for (const FailingSectors& f : c.failing)
                if (first < f.first + f.count && end > f.first) {
                    ++refused;
                    break;
                }
        }
        EXPECT_LE(refused, c.max_failed_first_pass) << "a bad area costs one read, not many";
        ASSERT_EQ(rescue_split_pass(&r, all, message), RESCUE_DONE);
        close_disk(src);
        close_disk(img);

        std::vector<SectorRun> bad = bad_runs(map);
        ASSERT_EQ(bad.size(), c.failing.size());
        std::vector<uint8_t> expected = source.bytes;
        for (size_t i = 0; i < bad.size(); ++i) {
            EXPECT_EQ(bad[i].first, c.failing[i].first);
            EXPECT_EQ(bad[i].count, c.failing[i].count);
            memset(expected.data() + bad[i].first * SECTOR_SIZE, 0,
                   size_t(bad[i].count) * SECTOR_SIZE);
        }
        EXPECT_TRUE(image.bytes == expected);
        EXPECT_EQ(map_status_bytes(map, MAP_FINISHED) + map_status_bytes(map, MAP_BAD),
                  int64_t(source.bytes.size()));
    }
}

TEST(Rescue, AStoppedRescueResumesWithoutRereadingFinishedBytes) {
    // Areas out of disk order: the first read is the first area's.
    std::vector<SectorRun> areas = {{6000, 500}, {0, SOURCE_SECTORS}};
    for (int stop_after : {1, 2, 5, 9, 14}) {
        SCOPED_TRACE(stop_after);
        MemoryDisk source, image;
        source.bytes = numbered_sectors(SOURCE_SECTORS);
        source.failing = {{6100, 4}, {2000, 1}, {7000, 40}};
        image.bytes.assign(source.bytes.size(), 0);
        RescueMap map;
        init_rescue_map(&map, int64_t(source.bytes.size()));
        Stopper first{0, stop_after};
        ASSERT_EQ(run_rescue(&source, &image, &map, areas, &first), RESCUE_STOPPED);
        EXPECT_EQ(source.read_log.front().first, 6000 * SECTOR_SIZE);

        // The map as saved at the stop, read back, drives the second run.
        char message[MESSAGE_SIZE] = "";
        RescueMap resumed;
        ASSERT_TRUE(parse_rescue_map(format_rescue_map(map, nullptr), &resumed, message));
        std::vector<MapBlock> finished;
        for (const MapBlock& b : resumed.blocks)
            if (b.status == MAP_FINISHED) finished.push_back(b);
        source.read_log.clear();
        Stopper rest;
        ASSERT_EQ(run_rescue(&source, &image, &resumed, areas, &rest), RESCUE_DONE);
        for (auto& [offset, len] : source.read_log)
            for (const MapBlock& b : finished)
                ASSERT_FALSE(offset < b.end() && offset + len > b.pos)
                    << "reread of finished bytes at " << offset;
        std::vector<SectorRun> bad = bad_runs(resumed);
        ASSERT_EQ(bad.size(), 3u);
        EXPECT_EQ(bad[0].first, 2000);
        EXPECT_EQ(bad[1].first, 6100);
        EXPECT_EQ(bad[2].count, 40);
        std::vector<uint8_t> expected = source.bytes;
        for (const SectorRun& b : bad)
            memset(expected.data() + b.first * SECTOR_SIZE, 0, size_t(b.count) * SECTOR_SIZE);
        EXPECT_TRUE(image.bytes == expected);
    }
}

TEST(Rescue, BadSectorsOfAnEarlierRunAreTriedAgain) {
    RescueMap map;
    init_rescue_map(&map, 8192);
    set_map_status(&map, 0, 4096, MAP_FINISHED);
    set_map_status(&map, 4096, 512, MAP_BAD);
    set_map_status(&map, 4608, 512, MAP_NON_SCRAPED);
    set_map_status(&map, 5120, 3072, MAP_FINISHED);
    retry_bad_sectors(&map);
    ASSERT_EQ(map.blocks.size(), 3u);
    EXPECT_EQ(map.blocks[1].status, MAP_NON_SCRAPED);
    EXPECT_EQ(map.blocks[1].size, 1024);
    finish_rescue_map(&map);
    EXPECT_EQ(map.current_status, MAP_NON_TRIED) << "not finished while sectors wait";
    set_map_status(&map, 4096, 1024, MAP_BAD);
    finish_rescue_map(&map);
    EXPECT_EQ(map.current_status, MAP_FINISHED);
}

TEST(DamagedDisk, TheTableComesFromTheCopyWhereTheFirstIsUnreadable) {
    TestDisk d;
    d.cluster_count = 12;
    d.write_clusters = false;
    for (auto clusters : {std::vector<uint16_t>{0, 1}, {5, 3}, {7}}) {
        TestRecording r;
        r.clusters = clusters;
        d.recordings.push_back(r);
    }
    MemoryDisk disk;
    ASSERT_TRUE(build_image(d, &disk));
    std::vector<uint8_t> table(disk.bytes.begin() + FAT_SECTOR * SECTOR_SIZE,
                               disk.bytes.begin() + (FAT_SECTOR + FAT_SECTORS) * SECTOR_SIZE);
    struct Case {
        const char* what;
        std::vector<FailingSectors> failing;
        int64_t missing_first, missing_count;  // missing from the image by its map
        FatDamage damage;
        bool whole;
        bool system_damaged;
    } cases[] = {
        {"whole", {}, 0, 0, {0, 0, 0}, true, false},
        {"first sector unreadable", {{FAT_SECTOR, 1}}, 0, 0, {1, 1, 0}, true, true},
        {"missing by the map", {}, FAT_SECTOR, 2, {2, 2, 0}, true, true},
        {"both copies", {{FAT_SECTOR, 1}, {FAT_COPY_SECTOR, 1}}, 0, 0, {1, 0, 1}, false, true},
        {"a record", {}, TOC_SECTOR + 8, 1, {0, 0, 0}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        disk.failing = c.failing;
        RescueMap map;
        init_rescue_map(&map, int64_t(disk.bytes.size()));
        set_map_status(&map, 0, map.size(), MAP_FINISHED);
        if (c.missing_count)
            set_map_status(&map, c.missing_first * SECTOR_SIZE, c.missing_count * SECTOR_SIZE,
                           MAP_NON_TRIED);
        DiskHandle h = open_memory_disk(&disk);
        std::vector<uint8_t> got(FAT_BYTES, 0xEE);
        FatDamage damage = read_fat_around_damage(h, &map, got.data());
        EXPECT_EQ(damage.first_table_bad, c.damage.first_table_bad);
        EXPECT_EQ(damage.from_copy, c.damage.from_copy);
        EXPECT_EQ(damage.lost, c.damage.lost);
        EXPECT_EQ(got == table, c.whole);
        EXPECT_EQ(check_system_area(h, &map).any(), c.system_damaged);
        close_disk(h);
    }
    disk.failing.clear();
    DiskHandle h = open_memory_disk(&disk);
    std::vector<SectorRun> areas = recording_areas(h, nullptr);
    close_disk(h);
    // Newest first (the last slot), each chain in its own order; neighbours joined.
    std::vector<int64_t> firsts, counts;
    for (const SectorRun& a : areas) {
        firsts.push_back(a.first / CLUSTER_SECTORS - 1);
        counts.push_back(a.count / CLUSTER_SECTORS);
    }
    EXPECT_EQ(firsts, (std::vector<int64_t>{7, 5, 3, 0}));
    EXPECT_EQ(counts, (std::vector<int64_t>{1, 1, 1, 2}));

    disk.bytes[TOC_SECTOR * SECTOR_SIZE + TOC_SIGNATURE_OFFSET] = 'v';
    h = open_memory_disk(&disk);
    EXPECT_TRUE(recording_areas(h, nullptr).empty())
        << "not a MediaMaster disk: no order of its own";
    close_disk(h);
}

TEST(DamagedDisk, DamagedReadsNameRunsByTheirPlaceInTheRecording) {
    struct Case {
        const char* what;
        bool skip_bad;
        std::vector<FailingSectors> failing;
        int64_t missing_first, missing_count;  // by the map
        int64_t delivered;
        std::vector<DamagedRun> found;
        std::vector<MapBlock> unfinished = {};  // by the byte: a sector partly in one is missing
        int64_t map_sectors = 256;              // what lies past the map was never tried
    } cases[] = {
        {"clean", true, {}, 0, 0, 64, {}},
        {"read error without skip-bad stops", false, {{110, 2}}, 0, 0, 0, {}},
        {"read errors skipped",
         true,
         {{110, 2}, {150, 1}},
         0,
         0,
         64,
         {{110, 2, 1010}, {150, 1, 1050}}},
        {"missing by the map", false, {}, 120, 4, 64, {{120, 4, 1020}}},
        {"both, touching", true, {{110, 2}}, 112, 3, 64, {{110, 5, 1010}}},
        {"map blocks within sectors, side by side",
         true,
         {{110, 2}},
         0,
         0,
         64,
         {{110, 2, 1010}, {120, 4, 1020}},
         {{120 * SECTOR_SIZE + 100, 600, MAP_BAD}, {62140, 1000, MAP_NON_TRIED}}},
        {"past the map's end", false, {}, 0, 0, 64, {{150, 14, 1050}}, {}, 150},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryDisk m;
        m.bytes = numbered_sectors(256);
        m.failing = c.failing;
        RescueMap map;
        init_rescue_map(&map, c.map_sectors * SECTOR_SIZE);
        set_map_status(&map, 0, map.size(), MAP_FINISHED);
        for (const MapBlock& b : c.unfinished)
            set_map_status(&map, b.pos, b.size, b.status);
        if (c.missing_count)
            set_map_status(&map, c.missing_first * SECTOR_SIZE, c.missing_count * SECTOR_SIZE,
                           MAP_NON_TRIED);
        DamagedReads damaged;
        damaged.skip_bad = c.skip_bad;
        damaged.map = &map;
        DiskHandle h = open_memory_disk(&m);
        std::vector<uint8_t> buffer(64 * SECTOR_SIZE, 0xEE);
        EXPECT_EQ(read_damaged(h, buffer.data(), 100, 64, 1000, &damaged), c.delivered);
        close_disk(h);
        ASSERT_EQ(damaged.found.size(), c.found.size());
        for (size_t i = 0; i < c.found.size(); ++i) {
            EXPECT_EQ(damaged.found[i].disk_sector, c.found[i].disk_sector);
            EXPECT_EQ(damaged.found[i].count, c.found[i].count);
            EXPECT_EQ(damaged.found[i].recording_sector, c.found[i].recording_sector);
            for (int64_t s = c.found[i].disk_sector; s < c.found[i].disk_sector + c.found[i].count;
                 ++s)
                EXPECT_EQ(buffer[size_t(s - 100) * SECTOR_SIZE], 0) << "zeros in sector " << s;
        }
    }
    // The share list shows: the sectors of a recording's data the map lacks, along its chain.
    std::vector<uint8_t> table(FAT_BYTES, 0);
    write_be16(table.data() + 2 * 4, FAT_ALLOCATED | 2);
    write_be16(table.data() + 2 * 2, FAT_LAST_ALLOCATED);
    RescueMap map;
    init_rescue_map(&map, int64_t(6) * CLUSTER_SECTORS * SECTOR_SIZE);
    set_map_status(&map, 0, map.size(), MAP_FINISHED);
    set_map_status(&map, (cluster_data_sector(4) + 10) * SECTOR_SIZE, 5 * SECTOR_SIZE, MAP_BAD);
    set_map_status(&map, (cluster_data_sector(2) + 100) * SECTOR_SIZE, 7 * SECTOR_SIZE, MAP_BAD);
    set_map_status(&map, (cluster_data_sector(3)) * SECTOR_SIZE, 9 * SECTOR_SIZE, MAP_BAD);
    EXPECT_EQ(recording_missing_sectors(map, table.data(), 4, 0, 2 * CLUSTER_DATA_SECTORS), 12);
    EXPECT_EQ(recording_missing_sectors(map, table.data(), 4, 12, CLUSTER_DATA_SECTORS), 3);
    EXPECT_EQ(recording_missing_sectors(map, table.data(), 4, 12, CLUSTER_DATA_SECTORS + 200), 10);
    EXPECT_EQ(recording_missing_sectors(map, table.data(), 4, 0, 100), 5);
}

namespace {

struct Told {
    std::vector<std::string> notices;
};

void keep_notice(void* context, const char* text) {
    static_cast<Told*>(context)->notices.push_back(text);
}

}  // namespace

// The core's order: the system area, then each recording whole (split down to its bad sector)
// before the next, newest first, then the rest; each recording's state told when it is done.
// A table the map lacks makes every sector past the first cluster unreadable, not whole.
TEST(DiskRescue, EachRecordingIsWholeBeforeTheNextAndTellsItsState) {
    TestDisk d;
    d.cluster_count = 6;
    for (auto clusters : {std::vector<uint16_t>{0, 1}, {3}}) {
        TestRecording r;
        r.default_title = clusters.size() == 2 ? "Older" : "Newest";
        r.duration = 6000;
        r.clusters = clusters;
        r.data.assign(clusters.size() * CLUSTER_DATA_SECTORS * SECTOR_SIZE, 0x5A);
        d.recordings.push_back(r);
    }
    MemoryDisk source;
    ASSERT_TRUE(build_image(d, &source));
    const int64_t bad = cluster_data_sector(3) + 100;
    source.failing = {{bad, 1}};
    MemoryDisk image;
    image.bytes.assign(source.bytes.size(), 0);
    TempDir dir;
    RescueMap map;
    init_rescue_map(&map, int64_t(source.bytes.size()));
    DiskHandle src = open_memory_disk(&source), img = open_memory_disk(&image);
    DiskRescueRequest request;
    request.source = src;
    request.image = img;
    request.map = &map;
    request.map_path = dir.file("image.map");
    Told told;
    OperationHooks hooks{};
    hooks.context = &told;
    hooks.notice = keep_notice;
    char message[MESSAGE_SIZE] = "";
    DiskRescueResult result = rescue_disk(&request, &hooks, message);
    ASSERT_EQ(result.status, RESCUE_DONE) << message;
    EXPECT_TRUE(result.map_saved);
    ASSERT_EQ(result.recordings.size(), 2u);
    EXPECT_EQ(result.recordings[0].missing, 1);
    EXPECT_EQ(result.recordings[1].missing, 0);
    ASSERT_EQ(told.notices.size(), 2u);
    EXPECT_EQ(
        told.notices[0].rfind("Recording 1 (Newest): 99.99 % rescued; unreadable 00:00:00", 0), 0u)
        << told.notices[0];
    EXPECT_EQ(told.notices[1], "Recording 2 (Older): 100.00 % rescued");
    // The newest recording's last read (the single bad sector, split) comes before any read of
    // the older recording's clusters.
    size_t last_newest = 0, first_older = source.read_log.size();
    for (size_t i = 0; i < source.read_log.size(); ++i) {
        int64_t sector = source.read_log[i].first / SECTOR_SIZE;
        if (sector >= cluster_first_sector(3) && sector < cluster_first_sector(4)) last_newest = i;
        if (sector >= cluster_first_sector(0) && sector < cluster_first_sector(2))
            first_older = std::min(first_older, i);
    }
    EXPECT_LT(last_newest, first_older);
    EXPECT_TRUE(std::all_of(image.bytes.begin() + bad * SECTOR_SIZE,
                            image.bytes.begin() + (bad + 1) * SECTOR_SIZE,
                            [](uint8_t b) { return b == 0; }));
    std::copy_n(source.bytes.begin() + bad * SECTOR_SIZE, SECTOR_SIZE,
                image.bytes.begin() + bad * SECTOR_SIZE);
    auto differs = std::mismatch(image.bytes.begin(), image.bytes.end(), source.bytes.begin());
    EXPECT_EQ(differs.first - image.bytes.begin(), int64_t(source.bytes.size()))
        << "every readable sector";

    // Both tables lost: the older recording's second cluster cannot be found any more.
    set_map_status(&map, int64_t(FAT_SECTOR) * SECTOR_SIZE, 2 * FAT_BYTES, MAP_BAD);
    std::vector<RecordingRescue> state = recording_rescue_state(img, &map);
    ASSERT_EQ(state.size(), 2u);
    EXPECT_EQ(state[1].missing, CLUSTER_DATA_SECTORS);
    ASSERT_EQ(state[1].unreadable.size(), 1u);
    EXPECT_EQ(state[1].unreadable[0].disk_sector, -1);
    close_disk(src);
    close_disk(img);
}
