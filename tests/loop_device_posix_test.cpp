// The sample disk behind a loop device, found by `quarrow list scan` as drive 1 (an empty image
// on another loop device is drive 0). Needs root and working loop devices; skipped otherwise.
// Only the loop devices this test attaches are ever named, and they are always detached.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/run_program_posix.h"
#include "support/temp_files.h"

using namespace quarrow::test;

namespace {

// A loop device over an image file, detached when the object goes.
struct LoopDevice {
    std::string device;
    std::string error;
    explicit LoopDevice(const std::string& image) {
        ProgramResult r = run_program("losetup -f --show " + shell_quote(image));
        if (r.status == 0 && r.out.rfind("/dev/loop", 0) == 0) {
            device = r.out.substr(0, r.out.find('\n'));
        } else {
            error = r.err.empty() ? "losetup failed" : r.err;
        }
    }
    ~LoopDevice() {
        if (!device.empty()) run_program("losetup -d " + shell_quote(device));
    }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
};

}  // namespace

TEST(LoopDevice, ScanFindsTheSampleDiskOnDriveOne) {
    if (geteuid() != 0) GTEST_SKIP() << "loop devices need root";
    if (run_program("command -v losetup").status != 0) GTEST_SKIP() << "losetup is not installed";

    TempDir dir;
    std::string sample = dir.file("sample.hex");
    ProgramResult made =
        run_program(shell_quote(QUARROW_SAMPLE_TOOL_PATH) + " " + shell_quote(sample));
    ASSERT_EQ(made.status, 0) << made.err;
    // The size of a 40 GB drive whose geometry gives 38162 MiB; sparse.
    ASSERT_TRUE(resize_file(sample, 38162ull << 20));
    std::string empty = dir.file("system.img");
    ASSERT_TRUE(write_file(empty, std::vector<uint8_t>(1 << 20, 0)));

    LoopDevice drive0(empty);
    if (drive0.device.empty()) GTEST_SKIP() << "no loop device could be attached: " << drive0.error;
    LoopDevice drive1(sample);
    if (drive1.device.empty()) GTEST_SKIP() << "no loop device could be attached: " << drive1.error;

    ScopedEnv drives("QUARROW_DRIVES", drive_list({drive0.device, drive1.device}).c_str());
    ProgramResult r = run_program(shell_quote(QUARROW_CLI_PATH) + " list scan");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
              "Detected MediaMaster Disk (40 GB) with 5 Recordings.");
    EXPECT_NE(r.out.find("Urlaubsfilm f\xC3\xBCr Oma"), std::string::npos);

    // The device named where an image is expected opens like an image; its size is the
    // device's.
    r = run_program(shell_quote(QUARROW_CLI_PATH) + " list " + shell_quote(drive1.device));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
              "MediaMaster Disk Image with 5 Recordings (38162 MB).");
}
