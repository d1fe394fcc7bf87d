// quarrow rescue as a program, where no failing drive is needed: a clean image copied whole with
// its map, a rerun that finds nothing left to read, and the outputs it refuses; maps that do not
// cover the image they are given with; a resume into an image cut short; the domain mapfile as
// GNU ddrescue takes it; a file system that fills up during the rescue.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "disk/rescue_map.h"
#include "disk/sector_access.h"
#include "fs/layout.h"
#include "support/disk_builder.h"
#include "support/run_program_posix.h"
#include "support/temp_files.h"

using namespace quarrow;
using namespace quarrow::test;

namespace {

const std::string kCli = QUARROW_CLI_PATH;

ProgramResult rescue(const std::string& args) {
    return run_program(shell_quote(kCli) + " rescue " + args + " </dev/null");
}

}  // namespace

TEST(RescueCli, CopiesACleanImageAndRefusesUnsafeOutputs) {
    TempDir dir;
    std::string source = dir.file("source.hex"), image = dir.file("image.hex");
    std::vector<uint8_t> bytes(3 * 1024 * 1024 + 1000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7 + i / 512);
    ASSERT_TRUE(write_file(source, bytes));

    ProgramResult first = rescue(shell_quote(source) + " " + shell_quote(image));
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(read_file_at(image, 0, bytes.size()), bytes) << "a partial last sector too";
    EXPECT_EQ(file_size(image), int64_t(bytes.size()));
    ProgramResult again = rescue(shell_quote(source) + " " + shell_quote(image));
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("Resuming from"), std::string::npos) << again.err;

    std::string link = dir.file("link.hex");
    ASSERT_EQ(symlink(source.c_str(), link.c_str()), 0);
    std::string small = dir.file("small.hex");
    ASSERT_TRUE(write_file(small, std::vector<uint8_t>(4096, 1)));
    // A writer holds this one for the whole table: neither as source nor as image may it be had.
    std::string held = dir.file("held.hex");
    ASSERT_TRUE(write_file(held, std::vector<uint8_t>(8192, 2)));
    UniqueDisk writer(open_image_file(held.c_str(), true));
    ASSERT_TRUE(writer && lock_disk(writer.get(), true));
    struct Case {
        std::string args;
        int status;
        std::string message;
    } cases[] = {
        {shell_quote(source) + " " + shell_quote(link) + " --force", 2,
         "is the disk being rescued"},
        {shell_quote(source) + " " + shell_quote(dir.file("x.hex")) + " --map " + shell_quote(link),
         2, "is the disk being rescued"},
        {shell_quote(source) + " " + shell_quote(dir.path), 2, "is not a regular file"},
        {shell_quote(source) + " " + shell_quote(small), 2, "add --force"},
        {shell_quote(source) + " " + shell_quote(dir.file("y.hex")) + " --retries 0", 2,
         "--retries must be from 1 to 1000."},
        {shell_quote(small) + " " + shell_quote(dir.file("z.hex")) + " --map " +
             shell_quote(image + ".map"),
         1, "belongs to another disk"},
        {shell_quote(dir.file("missing.hex")) + " " + shell_quote(dir.file("w.hex")), 1,
         "Could not open"},
        {shell_quote(held) + " " + shell_quote(dir.file("v.hex")), 1, DISK_IN_USE_MESSAGE},
        {shell_quote(source) + " " + shell_quote(held) + " --force", 1, DISK_IN_USE_MESSAGE},
    };
    for (const Case& c : cases) {
        ProgramResult r = rescue(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
    }
    EXPECT_EQ(read_file_at(small, 0, 4096), std::vector<uint8_t>(4096, 1)) << "left alone";
    EXPECT_EQ(read_file_at(held, 0, 8192), std::vector<uint8_t>(8192, 2)) << "left alone";
    EXPECT_EQ(file_size(held), 8192);
}

namespace {

// A MediaMaster image of six clusters: an older recording in clusters 0 and 1, the newest in
// cluster 4, numbered bytes everywhere else in their data.
std::string build_disk(const TempDir& dir) {
    std::string path = dir.file("disk.hex");
    TestDisk disk;
    disk.cluster_count = 6;
    for (int i = 0; i < 2; ++i) {
        TestRecording r;
        r.default_title = i ? "Newest" : "Older";
        r.duration = 60000;
        r.clusters = i ? std::vector<uint16_t>{4} : std::vector<uint16_t>{0, 1};
        r.data.resize(size_t(i ? 1 : 2) * CLUSTER_DATA_SECTORS * SECTOR_SIZE);
        for (size_t k = 0; k < r.data.size(); ++k)
            r.data[k] = uint8_t(k / SECTOR_SIZE * 3 + i);
        disk.recordings.push_back(r);
    }
    DiskHandle out = create_output_file(path.c_str());
    bool ok = out && write_test_disk(disk, out);
    close_disk(out);
    if (!ok || !resize_file(path, uint64_t(7) * CLUSTER_SECTORS * SECTOR_SIZE)) return "";
    return path;
}

std::vector<uint8_t> whole(const std::string& path) {
    return read_file_at(path, 0, size_t(file_size(path)));
}

}  // namespace

TEST(RescueCli, MapsMustCoverTheImageAndNameWhatTheyLack) {
    TempDir dir;
    std::string disk = build_disk(dir);
    ASSERT_FALSE(disk.empty());
    const int64_t size = file_size(disk);
    auto map_file = [&dir](const std::string& name, const std::string& text) {
        std::string path = dir.file(name);
        EXPECT_TRUE(write_file(path, std::vector<uint8_t>(text.begin(), text.end())));
        return path;
    };
    char whole_map[128], system_only[128], huge[128];
    snprintf(whole_map, sizeof whole_map, "0 + 1\n0 %lld +\n", static_cast<long long>(size));
    snprintf(system_only, sizeof system_only, "0 + 1\n0 %d +\n", CLUSTER_SECTORS * SECTOR_SIZE);
    snprintf(huge, sizeof huge, "0 + 1\n0 0x7000000000000000 +\n");
    struct Case {
        const char* what;
        std::string command;  // after "quarrow", before "--map MAP"
        std::string map;
        int status;
        std::string says;
    } cases[] = {
        {"a whole map", "list " + disk, whole_map, 0, "whole  Newest"},
        {"an empty map knows nothing: the list is not read", "list " + disk, "0 ? 1\n", 1,
         "The Table of Contents (sectors 130-133) was not rescued"},
        {"a map of the system area only", "list " + disk, system_only, 0,
         "100.00 % unreadable  Newest"},
        {"and the bytes it lacks are named", "list " + disk, system_only, 0, "maps only 8388608"},
        {"a map of a larger disk is refused", "diagnose " + disk, huge, 1,
         "maps 8070450532247928832 bytes, but the image holds 58720256"},
        {"extract says one verdict", "extract " + disk + " 1 -q -o " + dir.path, system_only, 1,
         "unreadable sectors in 1 range were read as zeros"},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string map = map_file("m" + std::to_string(n++) + ".map", c.map);
        ProgramResult r = run_program(shell_quote(kCli) + " " + c.command + " --map " +
                                      shell_quote(map) + " </dev/null");
        EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << c.what << "\n"
                                                                   << r.out << r.err;
        EXPECT_EQ(r.out.find("completed successfully"), std::string::npos) << c.what;
    }
}

TEST(RescueCli, AResumeRereadsWhatACutImageLostAndTheDomainHoldsTheChosenRecording) {
    TempDir dir;
    std::string disk = build_disk(dir);
    ASSERT_FALSE(disk.empty());
    std::string image = dir.file("image.hex");
    ASSERT_EQ(rescue(shell_quote(disk) + " " + shell_quote(image)).status, 0);
    ASSERT_TRUE(resize_file(image, uint64_t(file_size(disk)) / 3));
    ProgramResult again = rescue(shell_quote(disk) + " " + shell_quote(image));
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("rescued bytes past its end are read again"), std::string::npos)
        << again.err;
    EXPECT_TRUE(whole(image) == whole(disk));

    if (run_program("command -v ddrescue >/dev/null 2>&1").status != 0)
        GTEST_SKIP() << "ddrescue is not installed (tools/deps.sh installs it)";
    // The domain of recording 1 (the newest, cluster 4): ddrescue copies that and the system
    // area, nothing else.
    std::string domain = dir.file("domain.map"), copy = dir.file("copy.hex");
    ProgramResult d = rescue(shell_quote(disk) + " 1 --domain " + shell_quote(domain));
    ASSERT_EQ(d.status, 0) << d.err;
    ProgramResult dd = run_program("ddrescue -q --domain-mapfile=" + shell_quote(domain) + " " +
                                   shell_quote(disk) + " " + shell_quote(copy) + " " +
                                   shell_quote(dir.file("copy.map")));
    ASSERT_EQ(dd.status, 0) << dd.err;
    std::vector<uint8_t> source = whole(disk), got = whole(copy);
    got.resize(source.size(), 0);
    const size_t cluster = size_t(CLUSTER_SECTORS) * SECTOR_SIZE;
    for (size_t c = 0; c < 7; ++c) {
        bool in_domain = c == 0 || c == 5;  // the system area; cluster 4 lies after it
        bool same = std::equal(got.begin() + c * cluster, got.begin() + (c + 1) * cluster,
                               source.begin() + c * cluster);
        bool zero = std::all_of(got.begin() + c * cluster, got.begin() + (c + 1) * cluster,
                                [](uint8_t b) { return b == 0; });
        EXPECT_TRUE(in_domain ? same : zero) << "area " << c;
    }
    EXPECT_EQ(rescue(shell_quote(disk) + " 9 --domain " + shell_quote(domain)).status, 1);
    EXPECT_EQ(rescue(shell_quote(disk) + " x --domain " + shell_quote(domain)).status, 2);
}

TEST(RescueCli, AFullFileSystemKeepsAWholeMapAndNamesTheReason) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    TempDir dir;
    std::string disk = build_disk(dir);
    ASSERT_FALSE(disk.empty());
    std::string mnt = dir.file("small");
    mkdir(mnt.c_str(), 0755);
    if (run_program("mount -t tmpfs -o size=12m tmpfs " + shell_quote(mnt)).status != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    struct Unmount {
        std::string at;
        ~Unmount() { run_program("umount " + shell_quote(at)); }
    } unmount{mnt};
    std::string image = mnt + "/image.hex", map = mnt + "/image.hex.map";
    ProgramResult r = rescue(shell_quote(disk) + " " + shell_quote(image));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    ProgramResult listing = run_program("ls -a " + shell_quote(mnt));
    EXPECT_EQ(listing.out.find(".part"), std::string::npos) << listing.out;
    EXPECT_EQ(listing.out.find(".tmp"), std::string::npos) << listing.out;
    // The map left behind is whole and claims only bytes the image holds as the source has them.
    std::vector<uint8_t> text = whole(map);
    RescueMap saved;
    char message[MESSAGE_SIZE] = "";
    ASSERT_TRUE(parse_rescue_map(std::string(text.begin(), text.end()), &saved, message))
        << message;
    std::vector<uint8_t> source = whole(disk), got = whole(image);
    for (const MapBlock& b : saved.blocks) {
        if (b.status != MAP_FINISHED) continue;
        EXPECT_TRUE(
            std::equal(source.begin() + b.pos, source.begin() + b.end(), got.begin() + b.pos))
            << "finished block at " << b.pos;
    }
    EXPECT_GE(map_status_bytes(saved, MAP_FINISHED), int64_t(CLUSTER_SECTORS) * SECTOR_SIZE)
        << "the system area, saved when it was done";
}
