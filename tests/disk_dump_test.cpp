#include "disk/disk_dump.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fs/layout.h"
#include "support/disk_builder.h"
#include "support/memory_disk.h"
#include "support/temp_files.h"

namespace quarrow {
namespace {

namespace fs = std::filesystem;
using test::MemoryDisk;

constexpr size_t UNIT_BYTES = size_t(CLUSTER_SECTORS) * SECTOR_SIZE;

// The folder of a test's dump files.
struct DumpFiles {
    test::TempDir dir;
    std::string path(const std::string& name) const { return dir.file(name); }
    static std::vector<uint8_t> read(const std::string& path) {
        return test::read_file_bytes(path);
    }
};

// A disk whose every sector s holds the bytes of s, so misplaced data shows.
void fill_numbered(MemoryDisk* m, size_t units_and_a_bit) {
    m->bytes.resize(units_and_a_bit);
    for (size_t i = 0; i < m->bytes.size(); i += 4) {
        uint32_t sector = static_cast<uint32_t>(i / SECTOR_SIZE);
        write_be32(m->bytes.data() + i, sector ^ static_cast<uint32_t>(i));
    }
}

struct ProgressLog {
    std::vector<std::pair<int64_t, int64_t>> calls;
};
void log_progress(void* context, int64_t done, int64_t total) {
    static_cast<ProgressLog*>(context)->calls.emplace_back(done, total);
}

TEST(DumpDisk, OneUnitIsSectors0To16383Exactly) {
    DumpFiles files;
    MemoryDisk m;
    fill_numbered(&m, 2 * UNIT_BYTES);
    DiskHandle disk = test::open_memory_disk(&m);
    char message[MESSAGE_SIZE] = "";
    std::string out = files.path("one.hex");
    EXPECT_EQ(dump_disk(disk, 1, CLUSTER_SECTORS, SECTOR_SIZE, out.c_str(), nullptr, message), 1);
    close_disk(disk);
    std::vector<uint8_t> image = DumpFiles::read(out);
    ASSERT_EQ(image.size(), 8388608u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), m.bytes.begin()));
}

TEST(DumpDisk, ProgressRunsFromZeroAndEndsAtTheCount) {
    DumpFiles files;
    MemoryDisk m;
    fill_numbered(&m, 3 * UNIT_BYTES);
    DiskHandle disk = test::open_memory_disk(&m);
    ProgressLog log;
    OperationHooks hooks{};
    hooks.context = &log;
    hooks.progress = log_progress;
    char message[MESSAGE_SIZE] = "";
    std::string out = files.path("three.hex");
    EXPECT_EQ(dump_disk(disk, 3, CLUSTER_SECTORS, SECTOR_SIZE, out.c_str(), &hooks, message), 1);
    close_disk(disk);
    std::vector<std::pair<int64_t, int64_t>> expected = {{0, 3}, {1, 3}, {2, 3}, {3, 3}};
    EXPECT_EQ(log.calls, expected);
    EXPECT_EQ(DumpFiles::read(out), m.bytes);
}

TEST(DumpDisk, AReadErrorAtUnitKKeepsTheUnitsBeforeItAndSaysWhatWasRead) {
    DumpFiles files;
    MemoryDisk m;
    fill_numbered(&m, 4 * UNIT_BYTES);
    // Unit 2 reads only its first 5 sectors.
    m.short_sector = 2 * CLUSTER_SECTORS + 5;
    DiskHandle disk = test::open_memory_disk(&m);
    char message[MESSAGE_SIZE] = "";
    std::string out = files.path("short.hex");
    EXPECT_EQ(dump_disk(disk, 4, CLUSTER_SECTORS, SECTOR_SIZE, out.c_str(), nullptr, message), 0);
    close_disk(disk);
    EXPECT_STREQ(message, "Failed to read from disk, cluster 2 (got 5 sectors from 16384)");
    std::vector<uint8_t> image = DumpFiles::read(out);
    ASSERT_EQ(image.size(), 2 * UNIT_BYTES);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), m.bytes.begin()));

    // A read that fails outright counts 0 sectors; a disk that ends early is short too.
    MemoryDisk f;
    fill_numbered(&f, UNIT_BYTES + 512);
    f.fail_read_call = 1;
    disk = test::open_memory_disk(&f);
    EXPECT_EQ(dump_disk(disk, 2, CLUSTER_SECTORS, SECTOR_SIZE, out.c_str(), nullptr, message), 0);
    EXPECT_STREQ(message, "Failed to read from disk, cluster 0 (got 0 sectors from 16384)");
    // The earlier dump of that name stays as it was: a good file is never replaced by less.
    EXPECT_EQ(DumpFiles::read(out).size(), 2 * UNIT_BYTES);
    std::string fresh = files.path("fresh.hex");
    EXPECT_EQ(dump_disk(disk, 2, CLUSTER_SECTORS, SECTOR_SIZE, fresh.c_str(), nullptr, message), 0);
    EXPECT_STREQ(message, "Failed to read from disk, cluster 1 (got 1 sectors from 16384)");
    EXPECT_EQ(DumpFiles::read(fresh).size(), UNIT_BYTES);
    close_disk(disk);
}

TEST(DumpDisk, AnOutputThatCannotBeCreatedOrWrittenIsReported) {
    DumpFiles files;
    MemoryDisk m;
    fill_numbered(&m, UNIT_BYTES);
    DiskHandle disk = test::open_memory_disk(&m);
    char message[MESSAGE_SIZE] = "";
    std::string out = files.path("no/such/folder.hex");
    EXPECT_EQ(dump_disk(disk, 1, CLUSTER_SECTORS, SECTOR_SIZE, out.c_str(), nullptr, message), 0);
    EXPECT_STREQ(message, "Failed to create output file.");

    MemoryDisk target;
    target.fail_write_call = 2;
    DiskHandle sink = test::open_memory_disk(&target);
    m.bytes.resize(3 * UNIT_BYTES, 0x11);
    EXPECT_EQ(dump_to_handle(disk, 3, CLUSTER_SECTORS, SECTOR_SIZE, sink, nullptr, message), 0);
    EXPECT_STREQ(message, "Failed to write to file.");
    EXPECT_EQ(target.bytes.size(), UNIT_BYTES);
    close_disk(sink);
    close_disk(disk);
}

// Reads succeed anywhere and leave the buffer as it is; the offsets are kept.
struct ReadLog {
    int64_t last_offset = -1;
};
int64_t any_read(Disk* disk, int64_t offset, void*, uint32_t len) {
    static_cast<ReadLog*>(disk->impl)->last_offset = offset;
    return len;
}
int64_t any_write(Disk*, int64_t, const void*, uint32_t len) {
    return len;
}

TEST(DumpDisk, UnitsBeyondOneTebibyteAreReadWhereTheyLie) {
    ReadLog log;
    Disk source{};
    source.read_at = any_read;
    source.impl = &log;
    Disk sink{};
    sink.write_at = any_write;
    char message[MESSAGE_SIZE] = "";
    // Unit 131072 starts at sector 2^31, past what a 32-bit sector number holds.
    EXPECT_EQ(
        dump_to_handle(&source, 131073, CLUSTER_SECTORS, SECTOR_SIZE, &sink, nullptr, message), 1)
        << message;
    EXPECT_EQ(log.last_offset, int64_t(1) << 40);
}

}  // namespace
}  // namespace quarrow
