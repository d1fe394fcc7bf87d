// The platform layer's answers the command line builds its guards and reasons on: which file a
// path or an open disk is, why an open failed, and which names Windows takes for devices.
#include "disk/file_identity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "disk/system_error.h"
#include "extract/output_name.h"
#include "support/memory_disk.h"
#include "support/temp_files.h"

namespace quarrow {
namespace {

TEST(FileIdentity, OneFileWhateverItsSpellingAndNeverAnother) {
    test::TempDir dir;
    const std::string a = dir.file("a.hex"), b = dir.file("b.hex");
    ASSERT_TRUE(test::write_file(a, std::vector<uint8_t>(1024, 1)));
    ASSERT_TRUE(test::write_file(b, std::vector<uint8_t>(1024, 1)));
    DiskHandle disk = open_image_file(a.c_str(), false);
    ASSERT_NE(disk, nullptr);
    const std::string other_spelling = dir.path + "/./" + "a.hex";
    EXPECT_TRUE(path_is_disk(a.c_str(), disk));
    EXPECT_TRUE(path_is_disk(other_spelling.c_str(), disk));
    EXPECT_FALSE(path_is_disk(b.c_str(), disk));
    EXPECT_FALSE(path_is_disk(dir.file("missing.hex").c_str(), disk));
    FileIdentity id;
    ASSERT_TRUE(disk_identity(disk, &id));
    EXPECT_TRUE(id.regular);
    EXPECT_TRUE(id.mode_writable);
    close_disk(disk);
    // A disk in memory is no file: nothing on the machine can be it.
    test::MemoryDisk image;
    image.bytes.assign(4096, 0);
    DiskHandle memory = open_memory_disk(&image);
    EXPECT_FALSE(disk_identity(memory, &id));
    EXPECT_FALSE(path_is_disk(a.c_str(), memory));
    close_disk(memory);
}

TEST(SystemFailure, AFailedOpenKeepsItsPathAndTheSystemsReason) {
    test::TempDir dir;
    const std::string missing = dir.file("missing.hex");
    const std::string nowhere = dir.file("no/such/folder/out.m2v");
    for (const std::string& path : {missing, nowhere}) {
        clear_system_failure();
        DiskHandle disk = path == missing ? open_image_file(path.c_str(), false)
                                          : create_output_file(path.c_str());
        EXPECT_EQ(disk, nullptr);
        EXPECT_EQ(last_system_failure().path, path);
        EXPECT_FALSE(last_system_failure().reason.empty()) << path;
    }
    clear_system_failure();
    EXPECT_TRUE(last_system_failure().reason.empty());
}

TEST(ReservedDeviceNames, WindowsDevicesInAnyCaseWithOrWithoutExtension) {
    struct Case {
        const char* prefix;
        bool reserved;
    } cases[] = {
        {"CON", true},    {"con", true},      {"Aux", true},       {"NUL.txt", true},
        {"PRN ", true},   {"COM1", true},     {"lpt9.m2v", true},  {"COM0", false},
        {"COM10", false}, {"CONSOLE", false}, {"News CON", false}, {"", false},
        {"LPT", false},   {"nul_", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(names_reserved_device(c.prefix), c.reserved) << c.prefix;
}

}  // namespace
}  // namespace quarrow
