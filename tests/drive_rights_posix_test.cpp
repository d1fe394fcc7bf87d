// A drive the user may not read: quarrow says that permission was denied and to run it with sudo,
// for a device named as SOURCE, for the drive at which a scan stopped, and in the drive list. A
// loop device over a small image, readable by root only, is run against as user nobody; skipped
// where that cannot be arranged.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/run_program_posix.h"
#include "support/temp_files.h"

using namespace quarrow::test;

namespace {

struct LoopDevice {
    std::string device;
    explicit LoopDevice(const std::string& image) {
        ProgramResult r = run_program("losetup -f --show " + shell_quote(image));
        if (r.status == 0 && r.out.rfind("/dev/loop", 0) == 0)
            device = r.out.substr(0, r.out.find('\n'));
    }
    ~LoopDevice() {
        if (!device.empty()) run_program("losetup -d " + shell_quote(device));
    }
};

}  // namespace

TEST(DriveRights, ARefusedDeviceSaysToRunWithSudo) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to attach a loop device and drop to nobody";
    if (run_program("losetup --version").status != 0 || run_program("setpriv --version").status)
        GTEST_SKIP() << "losetup or setpriv is not installed";
    TempDir dir;
    chmod(dir.path.c_str(), 0755);
    std::string image = dir.file("disk.img");
    ASSERT_TRUE(write_file(image, std::vector<uint8_t>(1 << 20, 0)));
    LoopDevice loop(image);
    if (loop.device.empty()) GTEST_SKIP() << "losetup could not attach " << image;
    ASSERT_EQ(chmod(loop.device.c_str(), 0600), 0);

    // The device stands for drives 0 and 1, so that erase has a drive it may try.
    const std::string as_nobody = "QUARROW_DRIVES=" + shell_quote(loop.device + ":" + loop.device) +
                                  " setpriv --reuid=65534 --regid=65534 --clear-groups " +
                                  shell_quote(QUARROW_CLI_PATH) + " ";
    const std::string denied = "Permission denied opening " + loop.device +
                               ": reading a drive needs root rights. Run the command again with "
                               "sudo (or as root).\n";
    struct Case {
        std::string args;
        int status;
        std::string first_words;  // how the command's own message starts, before the reason
    } cases[] = {
        {"list " + shell_quote(loop.device), 1, "Invalid image file."},
        {"list scan", 1, "Could not find MediaMaster Disk.\n"},
        {"dump scan " + shell_quote(dir.file("out.hex")) + " --clusters 1", 1,
         "Could not find MediaMaster Disk.\n"},
        {"drives", 0, ""},  // an empty list is not a failure
        {"erase 1 --yes", 1, ""},
    };
    for (const Case& c : cases) {
        ProgramResult r = run_program(as_nobody + c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.err.rfind(c.first_words, 0), 0u) << c.args << ": " << r.err;
        ASSERT_GE(r.err.size(), denied.size()) << c.args << ": " << r.err;
        EXPECT_EQ(r.err.substr(r.err.size() - denied.size()), denied) << c.args;
        // The command's message on one line (when it has one), the reason on the next.
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.first_words.empty() ? 1 : 2)
            << c.args << ": " << r.err;
    }
}
