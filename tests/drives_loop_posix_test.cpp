// The drive list and the quick erase on real block devices: loop devices over temporary images,
// named through QUARROW_DRIVES so that no drive of the machine is ever touched. Needs root and
// losetup; skipped with a message elsewhere.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "disk/drive_list.h"
#include "disk/quick_erase.h"
#include "fs/disk_detection.h"
#include "support/disk_builder.h"
#include "support/drive_env.h"
#include "support/run_program_posix.h"
#include "support/temp_files.h"

namespace quarrow {
namespace {

namespace fs = std::filesystem;

constexpr size_t ERASE_BYTES = 8388608;

struct CommandResult {
    int status = -1;
    std::string output;  // stdout, then stderr
};

CommandResult run_command(const std::string& command) {
    test::ProgramResult p = test::run_program(command);
    return {p.status, p.out + p.err};
}

using test::read_file_bytes;
using test::shell_quote;
using test::TempDir;

// A loop device over an image, detached (by its own name only) when the test ends.
struct LoopDevice {
    std::string device;
    explicit LoopDevice(const std::string& image) {
        CommandResult r = run_command("losetup -f --show " + shell_quote(image));
        if (r.status == 0 && r.output.rfind("/dev/loop", 0) == 0)
            device = r.output.substr(0, r.output.find('\n'));
    }
    ~LoopDevice() {
        if (!device.empty()) run_command("losetup -d " + shell_quote(device));
    }
};

struct Mount {
    std::string point;
    Mount(const std::string& device, const std::string& dir) {
        fs::create_directories(dir);
        if (run_command("mount " + shell_quote(device) + " " + shell_quote(dir)).status == 0)
            point = dir;
    }
    ~Mount() {
        if (!point.empty()) run_command("umount " + shell_quote(point));
    }
};

bool loop_devices_usable(std::string* why) {
    if (geteuid() != 0) {
        *why = "loop devices need root; the drive tests on files cover the rest";
        return false;
    }
    if (run_command("losetup --version").status != 0) {
        *why = "losetup is not installed";
        return false;
    }
    return true;
}

#define SKIP_WITHOUT_LOOP_DEVICES()                          \
    do {                                                     \
        std::string why;                                     \
        if (!loop_devices_usable(&why)) GTEST_SKIP() << why; \
    } while (0)

void write_pattern(const std::string& path, size_t bytes, uint8_t seed) {
    std::vector<char> data(bytes);
    for (size_t i = 0; i < bytes; ++i)
        data[i] = static_cast<char>((i / 512 + seed) | 1);  // never zero
    std::ofstream(path, std::ios::binary).write(data.data(), std::streamsize(bytes));
}

void write_mediamaster(const std::string& path) {
    { std::ofstream create(path, std::ios::binary); }
    DiskHandle out = open_image_file(path.c_str(), true);
    ASSERT_NE(out, nullptr);
    test::TestDisk disk;
    disk.cluster_count = 4;
    test::TestRecording r;
    r.default_title = "Nachrichten";
    r.data.assign(1 << 20, 0x5A);
    disk.recordings.push_back(r);
    EXPECT_TRUE(write_test_disk(disk, out));
    close_disk(out);
    // Past the written clusters, so that the end of the device holds data as well.
    std::ofstream tail(path, std::ios::binary | std::ios::in | std::ios::ate);
    tail << std::string(4096, '\x77');
}

void collect(void* context, const DriveEntry* entry) {
    static_cast<std::vector<DriveEntry>*>(context)->push_back(*entry);
}

TEST(LoopDrives, ListsMarksErasesDriveOneAndRefusesDriveZero) {
    SKIP_WITHOUT_LOOP_DEVICES();
    TempDir tmp;
    ASSERT_FALSE(tmp.path.empty());
    std::string system_image = tmp.file("system.img"), mm_image = tmp.file("mediamaster.img");
    write_pattern(system_image, 16 << 20, 3);
    write_mediamaster(mm_image);
    LoopDevice system_loop(system_image), mm_loop(mm_image);
    ASSERT_FALSE(system_loop.device.empty()) << "losetup could not attach " << system_image;
    ASSERT_FALSE(mm_loop.device.empty()) << "losetup could not attach " << mm_image;
    test::ScopedDrives drives({system_loop.device, mm_loop.device});

    std::vector<DriveEntry> list;
    DriveSink sink{&list, collect};
    list_physical_drives(&sink);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].size_mb, 16u);
    EXPECT_TRUE(list[0].system);
    EXPECT_FALSE(list[0].mediamaster);
    EXPECT_NE(std::string(list[0].line).find("\t---- Protected (System)"), std::string::npos)
        << list[0].line;
    EXPECT_TRUE(list[1].mediamaster);
    EXPECT_STREQ(list[1].model, "[unknown]");  // a loop device reports no model
    EXPECT_NE(std::string(list[1].line).find("\t---- MediaMaster Disk"), std::string::npos)
        << list[1].line;

    CommandResult shown = run_command(std::string(QUARROW_CLI_PATH) + " drives");
    EXPECT_EQ(shown.status, 0) << shown.output;
    EXPECT_NE(shown.output.find("Drive 1:"), std::string::npos) << shown.output;
    EXPECT_NE(shown.output.find("---- MediaMaster Disk"), std::string::npos) << shown.output;

    std::vector<uint8_t> system_before = read_file_bytes(system_image);
    std::vector<uint8_t> mm_before = read_file_bytes(mm_image);
    ASSERT_GT(mm_before.size(), ERASE_BYTES);

    CommandResult refused = run_command(std::string(QUARROW_CLI_PATH) + " erase 0 --yes");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find(DRIVE0_DENIED_TEXT), std::string::npos) << refused.output;
    char message[MESSAGE_SIZE] = "";
    EXPECT_EQ(quick_erase_drive(0, 1, ERASE_BLOCK_SECTORS, message), 0);

    CommandResult erased = run_command(std::string(QUARROW_CLI_PATH) + " erase 1 --yes");
    EXPECT_EQ(erased.status, 0) << erased.output;
    EXPECT_NE(erased.output.find("Operation successfully completed."), std::string::npos);

    std::vector<uint8_t> mm_after = read_file_bytes(mm_image);
    ASSERT_EQ(mm_after.size(), mm_before.size());
    for (size_t i = 0; i < ERASE_BYTES; ++i)
        ASSERT_EQ(mm_after[i], 0) << "byte " << i << " was not erased";
    EXPECT_TRUE(
        std::equal(mm_after.begin() + ERASE_BYTES, mm_after.end(), mm_before.begin() + ERASE_BYTES))
        << "the erase wrote past the first 8 MiB";
    EXPECT_EQ(read_file_bytes(system_image), system_before);

    list.clear();
    list_physical_drives(&sink);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_FALSE(list[1].mediamaster);
}

TEST(LoopDrives, AMountedOrClaimedDriveIsRefusedAndLeftAlone) {
    SKIP_WITHOUT_LOOP_DEVICES();
    if (run_command("mkfs.ext2 -V").status != 0) GTEST_SKIP() << "mkfs.ext2 is not installed";
    TempDir tmp;
    ASSERT_FALSE(tmp.path.empty());
    std::string system_image = tmp.file("system.img"), fs_image = tmp.file("fs.img");
    write_pattern(system_image, 1 << 20, 1);
    write_pattern(fs_image, 16 << 20, 9);
    ASSERT_EQ(run_command("mkfs.ext2 -q -F " + shell_quote(fs_image)).status, 0);
    LoopDevice fs_loop(fs_image);
    ASSERT_FALSE(fs_loop.device.empty());
    test::ScopedDrives drives({system_image, fs_loop.device});
    char message[MESSAGE_SIZE] = "";
    {
        Mount mounted(fs_loop.device, tmp.file("mnt"));
        if (mounted.point.empty()) GTEST_SKIP() << "mount of an ext2 image failed here";
        // Mounting itself writes the superblock: compare with the image as mounted.
        int root = open(mounted.point.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(root, 0);
        syncfs(root);
        std::vector<uint8_t> mounted_image = read_file_bytes(fs_image);
        EXPECT_EQ(quick_erase_drive(1, 1, ERASE_BLOCK_SECTORS, message), 0);
        std::string text = message;
        EXPECT_NE(text.find("Drive 1 is in use: /dev/loop"), std::string::npos) << text;
        EXPECT_NE(text.find("is mounted on " + mounted.point), std::string::npos) << text;
        CommandResult cli = run_command(std::string(QUARROW_CLI_PATH) + " erase 1 --yes");
        EXPECT_EQ(cli.status, 1);
        EXPECT_NE(cli.output.find("is mounted on"), std::string::npos) << cli.output;
        syncfs(root);
        close(root);
        EXPECT_EQ(read_file_bytes(fs_image), mounted_image);
    }
    std::vector<uint8_t> before = read_file_bytes(fs_image);

    // Another holder of an exclusive claim (here this test) keeps the erase away too.
    int held = open(fs_loop.device.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    ASSERT_GE(held, 0) << strerror(errno);
    EXPECT_EQ(quick_erase_drive(1, 1, ERASE_BLOCK_SECTORS, message), 0);
    EXPECT_STREQ(message, "Drive 1 is in use by the system. Nothing was erased.");
    close(held);
    EXPECT_EQ(read_file_bytes(fs_image), before);

    // Unmounted and unclaimed, the same drive is erased.
    EXPECT_EQ(quick_erase_drive(1, 1, ERASE_BLOCK_SECTORS, message), 1) << message;
    std::vector<uint8_t> after = read_file_bytes(fs_image);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(
        std::all_of(after.begin(), after.begin() + ERASE_BYTES, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(after.begin() + ERASE_BYTES, after.end(), before.begin() + ERASE_BYTES));
}

}  // namespace
}  // namespace quarrow
