// The drives, erase and dump commands as a user runs them: the real program, drives named
// through QUARROW_DRIVES (temporary files), standard input not a terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/disk_builder.h"
#include "support/drive_env.h"
#include "support/run_program_posix.h"
#include "support/sample_disk.h"
#include "support/temp_files.h"

namespace quarrow {
namespace {

namespace fs = std::filesystem;

struct CommandResult {
    int status = -1;
    std::string out;  // stdout
    std::string all;  // stdout and stderr
};

// Runs quarrow with stdin from /dev/null.
CommandResult quarrow(const std::string& args) {
    test::ProgramResult p = test::run_program(std::string(QUARROW_CLI_PATH) + " " + args);
    return {p.status, p.out, p.out + p.err};
}

struct Workspace {
    test::TempDir dir;
    std::string file(const std::string& name) const { return dir.file(name); }
    std::string filled(const std::string& name, size_t bytes, char fill) const {
        std::ofstream(file(name), std::ios::binary) << std::string(bytes, fill);
        return file(name);
    }
    // A small MediaMaster disk: 4 clusters, one recording in cluster 0; 16 MiB long.
    std::string small_disk(const std::string& name) const {
        { std::ofstream create(file(name), std::ios::binary); }
        DiskHandle out = open_image_file(file(name).c_str(), true);
        test::TestDisk disk;
        disk.cluster_count = 4;
        test::TestRecording r;
        r.default_title = "Tagesschau";
        r.data.assign(4096, 0x47);
        disk.recordings.push_back(r);
        EXPECT_TRUE(write_test_disk(disk, out));
        close_disk(out);
        return file(name);
    }
};

using test::read_file_bytes;

TEST(DrivesCommand, AlignedColumnsAndJson) {
    Workspace ws;
    std::string d0 = ws.filled("d0.img", 1 << 20, 'S');
    std::string d1 = ws.small_disk("d1.img");
    test::ScopedDrives drives({d0, d1, d0});
    CommandResult text = quarrow("drives");
    EXPECT_EQ(text.status, 0) << text.all;
    EXPECT_EQ(text.out,
              "Drive 0:  [unknown]  (0 GB)  ---- Protected (System)\n"
              "Drive 1:  [unknown]  (0 GB)  ---- MediaMaster Disk\n"
              "Drive 2:  [unknown]  (0 GB)\n");
    CommandResult json = quarrow("drives --json");
    EXPECT_EQ(json.status, 0) << json.all;
    nlohmann::json list = nlohmann::json::parse(json.out);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]["number"], 0);
    EXPECT_EQ(list[0]["model"], "[unknown]");
    EXPECT_EQ(list[0]["size_gb"], 0);
    EXPECT_EQ(list[0]["mediamaster"], false);
    EXPECT_EQ(list[0]["system"], true);
    EXPECT_EQ(list[1]["mediamaster"], true);
    EXPECT_EQ(list[1]["system"], false);
    EXPECT_EQ(list[2]["number"], 2);
}

TEST(EraseCommand, RefusalsLeaveEveryDriveAsItWas) {
    Workspace ws;
    std::string d0 = ws.filled("d0.img", 9 << 20, 'S');
    std::string d1 = ws.filled("d1.img", 9 << 20, 'M');
    test::ScopedDrives drives({d0, d1});

    CommandResult none = quarrow("erase");
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.all.find("You must select a disk drive first"), std::string::npos) << none.all;
    CommandResult zero = quarrow("erase 0 --yes");
    EXPECT_EQ(zero.status, 1);
    EXPECT_NE(zero.all.find("The Drive 0 being typically your System drive, this operation is "
                            "denied."),
              std::string::npos)
        << zero.all;
    CommandResult word = quarrow("erase one --yes");
    EXPECT_EQ(word.status, 2);
    CommandResult absent = quarrow("erase 2 --yes");
    EXPECT_EQ(absent.status, 1);
    EXPECT_NE(absent.all.find("There is no drive 2"), std::string::npos) << absent.all;
    // Without a terminal to ask on, only --yes confirms.
    CommandResult unconfirmed = quarrow("erase 1");
    EXPECT_EQ(unconfirmed.status, 2);
    EXPECT_NE(unconfirmed.all.find("--yes"), std::string::npos) << unconfirmed.all;

    EXPECT_EQ(read_file_bytes(d0), std::vector<uint8_t>(9 << 20, 'S'));
    EXPECT_EQ(read_file_bytes(d1), std::vector<uint8_t>(9 << 20, 'M'));

    CommandResult done = quarrow("erase 1 --yes");
    EXPECT_EQ(done.status, 0) << done.all;
    EXPECT_EQ(done.out,
              "Operation successfully completed.\n"
              "Now, do not forget to use the 'Erase Disk' option in the 'System Configuration' "
              "of your MediaMaster !\n");
    std::vector<uint8_t> erased = read_file_bytes(d1);
    std::vector<uint8_t> expected(8 << 20, 0);
    expected.resize(9 << 20, 'M');
    EXPECT_EQ(erased, expected);
}

TEST(DumpCommand, TheSampleDiskDumpedWholeListsTheSameRecordings) {
    Workspace ws;
    test::SampleMedia media;
    ASSERT_TRUE(test::load_sample_media("", &media));
    test::TestDisk disk = test::sample_disk(media);
    std::string sample = ws.file("sample.hex");
    { std::ofstream create(sample, std::ios::binary); }
    DiskHandle out = open_image_file(sample.c_str(), true);
    ASSERT_TRUE(test::write_sample_disk(disk, out));
    close_disk(out);

    std::string copy = ws.file("copy.hex");
    CommandResult dumped = quarrow("dump '" + sample + "' '" + copy + "' --clusters all");
    EXPECT_EQ(dumped.status, 0) << dumped.all;
    EXPECT_EQ(dumped.out, "Operation successfully completed.\n");
    EXPECT_EQ(fs::file_size(copy), fs::file_size(sample));
    CommandResult original = quarrow("list --json '" + sample + "'");
    CommandResult listed = quarrow("list --json '" + copy + "'");
    EXPECT_EQ(listed.status, 0) << listed.all;
    EXPECT_GT(nlohmann::json::parse(listed.out).size(), 0u);
    EXPECT_EQ(listed.out, original.out);
}

TEST(DumpCommand, CountRuleRefusalsAndTheFileBeingRead) {
    Workspace ws;
    std::string small = ws.small_disk("small.hex");  // 16 MiB: 2 clusters fit
    ASSERT_EQ(fs::file_size(small), 16u << 20);
    std::string image = ws.file("image.hex");

    for (const char* bad : {"0", "-3", "many"}) {
        CommandResult r = quarrow("dump '" + small + "' '" + image + "' --clusters " + bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.all.find("You must enter a positive number of clusters!"), std::string::npos)
            << r.all;
        EXPECT_FALSE(fs::exists(image));
    }
    // More than the disk holds is cut to what fits.
    CommandResult cut = quarrow("dump '" + small + "' '" + image + "' --clusters 5");
    EXPECT_EQ(cut.status, 0) << cut.all;
    EXPECT_NE(cut.all.find("The disk holds 2 clusters (16 MB); dumping 2."), std::string::npos)
        << cut.all;
    EXPECT_EQ(read_file_bytes(image), read_file_bytes(small));

    // An existing file is kept unless --force, and the disk itself is never the target.
    CommandResult exists = quarrow("dump '" + small + "' '" + image + "' --clusters 1");
    EXPECT_EQ(exists.status, 2);
    EXPECT_EQ(fs::file_size(image), 16u << 20);
    CommandResult forced = quarrow("dump '" + small + "' '" + image + "' --clusters 1 --force");
    EXPECT_EQ(forced.status, 0) << forced.all;
    EXPECT_EQ(fs::file_size(image), 8u << 20);
    std::vector<uint8_t> before = read_file_bytes(small);
    CommandResult self = quarrow("dump '" + small + "' '" + small + "' --clusters 1 --force");
    EXPECT_EQ(self.status, 2);
    EXPECT_NE(self.all.find("is the disk being dumped"), std::string::npos) << self.all;
    EXPECT_EQ(read_file_bytes(small), before);

    CommandResult device = quarrow("dump '" + small + "' /dev/null --clusters 1 --force");
    EXPECT_EQ(device.status, 2);
    EXPECT_NE(device.all.find("not a regular file"), std::string::npos) << device.all;

    CommandResult nowhere =
        quarrow("dump '" + small + "' '" + ws.file("no/such/dir/x.hex") + "' --clusters 1");
    EXPECT_EQ(nowhere.status, 1);
    EXPECT_NE(nowhere.all.find("The operation failed: Failed to create output file."),
              std::string::npos)
        << nowhere.all;
}

}  // namespace
}  // namespace quarrow
