// Reads that fail in part, on the in-memory faulty disk: which sectors come back as zeros and
// are named, how often a bad sector is touched, where the source ends.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "disk/partial_read.h"
#include "support/memory_disk.h"

using namespace quarrow;
using namespace quarrow::test;

namespace {

std::vector<uint8_t> numbered_sectors(int sectors) {
    std::vector<uint8_t> bytes(size_t(sectors) * SECTOR_SIZE);
    for (int s = 0; s < sectors; ++s)
        memset(bytes.data() + size_t(s) * SECTOR_SIZE, (s % 255) + 1, SECTOR_SIZE);
    return bytes;
}

// Reads of single sectors that touched sector s.
int single_reads_of(const MemoryDisk& m, int64_t s) {
    int n = 0;
    for (auto& [offset, len] : m.read_log)
        n += offset == s * SECTOR_SIZE && len == SECTOR_SIZE;
    return n;
}

}  // namespace

TEST(PartialRead, UnreadableSectorsReadAsZerosAndAreNamed) {
    struct Case {
        const char* what;
        int disk_sectors;
        std::vector<FailingSectors> failing;
        bool deliver_before;
        int retries;
        int64_t first, count;
        int64_t delivered;
        std::vector<SectorRun> bad;
        int max_reads;
    } cases[] = {
        {"clean: one transfer", 100, {}, false, 1, 0, 64, 64, {}, 1},
        {"one bad sector among 64", 100, {{37, 1}}, false, 1, 0, 64, 64, {{37, 1}}, 14},
        {"a bad run across the halves", 100, {{30, 4}}, false, 1, 0, 64, 64, {{30, 4}}, 30},
        {"two runs, read from 10",
         100,
         {{12, 2}, {70, 1}},
         false,
         1,
         10,
         80,
         80,
         {{12, 2}, {70, 1}},
         30},
        {"driver delivers the sectors before", 100, {{50, 1}}, true, 1, 0, 64, 64, {{50, 1}}, 10},
        {"weak sector reads on the second try", 100, {{5, 1, 4}}, false, 2, 0, 8, 8, {}, 8},
        {"weak sector with one try is bad", 100, {{5, 1, 4}}, false, 1, 0, 8, 8, {{5, 1}}, 8},
        {"source ends", 20, {}, false, 1, 10, 30, 10, {}, 2},
        {"bad sector then the end", 20, {{19, 1}}, false, 1, 16, 8, 4, {{19, 1}}, 8},
        {"past the end", 20, {}, false, 1, 25, 4, 0, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryDisk m;
        m.bytes = numbered_sectors(c.disk_sectors);
        m.failing = c.failing;
        m.deliver_before_failing = c.deliver_before;
        DiskHandle disk = open_memory_disk(&m);
        std::vector<uint8_t> buffer(size_t(c.count) * SECTOR_SIZE, 0xEE);
        std::vector<SectorRun> bad;
        int64_t got = read_sectors_partial(disk, buffer.data(), c.first, c.count, c.retries, &bad);
        close_disk(disk);
        EXPECT_EQ(got, c.delivered);
        ASSERT_EQ(bad.size(), c.bad.size());
        for (size_t i = 0; i < bad.size(); ++i) {
            EXPECT_EQ(bad[i].first, c.bad[i].first);
            EXPECT_EQ(bad[i].count, c.bad[i].count);
        }
        EXPECT_LE(m.reads, c.max_reads);
        for (int64_t i = 0; i < got; ++i) {
            int64_t s = c.first + i;
            bool is_bad = false;
            for (const SectorRun& r : c.bad)
                is_bad |= s >= r.first && s < r.first + r.count;
            uint8_t want = is_bad ? 0 : uint8_t((s % 255) + 1);
            ASSERT_EQ(buffer[size_t(i) * SECTOR_SIZE], want) << "sector " << s;
            ASSERT_EQ(buffer[size_t(i) * SECTOR_SIZE + 511], want) << "sector " << s;
        }
    }
}

TEST(PartialRead, ABadSectorIsReadAloneAtMostRetriesTimes) {
    for (int retries : {0, 1, 3}) {
        MemoryDisk m;
        m.bytes = numbered_sectors(64);
        m.failing = {{40, 1}};
        DiskHandle disk = open_memory_disk(&m);
        std::vector<uint8_t> buffer(64 * SECTOR_SIZE);
        std::vector<SectorRun> bad;
        EXPECT_EQ(read_sectors_partial(disk, buffer.data(), 0, 64, retries, &bad), 64);
        close_disk(disk);
        EXPECT_EQ(single_reads_of(m, 40), retries < 1 ? 1 : retries);
        EXPECT_LE(m.reads, 12 + (retries < 1 ? 1 : retries)) << "halving, not sector by sector";
    }
}
