// The writing commands as a user meets them when something else happens at the same time: a
// second program on the disk, a Ctrl-C part way, a disk damaged in ways the dialog cannot show.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "disk/sector_access.h"
#include "fs/layout.h"
#include "support/disk_builder.h"
#include "support/run_program_posix.h"
#include "support/temp_files.h"

namespace quarrow {
namespace {

using test::run_program;
using test::shell_quote;

const std::string cli = shell_quote(QUARROW_CLI_PATH);

test::TestRecording rec(const std::string& title, std::vector<uint16_t> clusters) {
    test::TestRecording r;
    r.default_title = title;
    r.clusters = std::move(clusters);
    r.data.assign(size_t(r.clusters.size()) * CLUSTER_DATA_BYTES - 512, uint8_t(title[0]));
    return r;
}

// A disk of 12 clusters: A = 0 -> 1, B = 2 -> 3 -> 4, C = 5, written to an image file that holds
// every cluster.
std::string small_disk(const test::TempDir& dir, const std::string& name = "disk.img") {
    test::TestDisk d;
    d.cluster_count = 12;
    d.recordings = {rec("A", {0, 1}), rec("B", {2, 3, 4}), rec("C", {5})};
    std::string path = dir.file(name);
    DiskHandle out = create_output_file(path.c_str());
    EXPECT_TRUE(out && test::write_test_disk(d, out));
    close_disk(out);
    EXPECT_TRUE(test::resize_file(path, uint64_t(d.cluster_count + 1) * CLUSTER_SECTORS * 512));
    return path;
}

size_t recordings(const std::string& image) {
    test::ProgramResult r = run_program(cli + " list " + shell_quote(image) + " --json");
    EXPECT_EQ(r.status, 0) << r.err;
    return nlohmann::json::parse(r.out).size();
}

// The test process plays the other program, holding the image's lock while the commands run.
TEST(SafetyCli, AWriterExcludesEveryoneAndReadersExcludeWriters) {
    test::TempDir dir;
    std::string image = small_disk(dir);
    ASSERT_EQ(run_program(cli + " backup " + shell_quote(image) + " 1 " + dir.file("c.mmr")).status,
              0);
    struct Case {
        int held;
        std::string command;
        bool refused;
    } cases[] = {
        {LOCK_EX, "list " + image, true},
        {LOCK_EX, "restore " + image + " " + dir.file("c.mmr"), true},
        {LOCK_SH, "delete " + image + " 1 --yes", true},
        {LOCK_SH, "diagnose " + image, false},
    };
    for (const Case& c : cases) {
        int fd = open(image.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(flock(fd, c.held | LOCK_NB), 0);
        test::ProgramResult r = run_program(cli + " " + c.command);
        close(fd);
        EXPECT_EQ(r.status, c.refused ? 1 : 0) << c.command << r.err;
        EXPECT_EQ(r.err.find("The disk is in use by another program.\n") != std::string::npos,
                  c.refused)
            << c.command << r.err;
    }
    EXPECT_EQ(recordings(image), 3u);
}

// Two restores started together: each either restores its file or is turned away; none is lost.
TEST(SafetyCli, TwoRestoresAtOnceNeverLoseARecording) {
    test::TempDir dir;
    std::string image = small_disk(dir);
    std::string a = dir.file("a.mmr"), c = dir.file("c.mmr");
    ASSERT_EQ(run_program(cli + " backup " + image + " 3 " + a).status, 0);
    ASSERT_EQ(run_program(cli + " backup " + image + " 1 " + c).status, 0);
    size_t expected = 3;
    for (int round = 0; round < 4; ++round) {
        test::ProgramResult r = run_program(
            "(" + cli + " restore " + image + " " + a + "; echo $? >" + dir.file("s1") + ") & (" +
            cli + " restore " + image + " " + c + "; echo $? >" + dir.file("s2") + "); wait");
        for (const char* s : {"s1", "s2"}) {
            std::vector<uint8_t> status = test::read_file_at(dir.file(s), 0, 1);
            ASSERT_EQ(status.size(), 1u);
            if (status[0] == '0') ++expected;
        }
        EXPECT_EQ(recordings(image), expected) << r.err;
    }
    test::ProgramResult d = run_program(cli + " diagnose " + image);
    EXPECT_EQ(d.status, 0) << d.out << d.err;
}

// An interrupt at any moment of a restore: either nothing changed (exit 130, or 143 when the
// signal came before the program was ready for it), or the recording is there whole and the
// disk checks out. SIGTERM stands for Ctrl-C: both reach the same handler.
TEST(SafetyCli, CtrlCDuringARestoreLeavesTheDiskConsistent) {
    test::TempDir dir;
    std::string image = small_disk(dir);
    std::string b = dir.file("b.mmr");
    ASSERT_EQ(run_program(cli + " backup " + image + " 2 " + b).status, 0);
    for (const char* delay : {"0", "0.02", "0.05", "0.1"}) {
        std::string copy = dir.file(std::string("copy") + delay + ".img");
        ASSERT_EQ(run_program("cp --sparse=always " + image + " " + copy).status, 0);
        test::ProgramResult r = run_program(cli + " restore " + copy + " " + b + " & sleep " +
                                            delay + "; kill -TERM $! 2>/dev/null; wait $!");
        ASSERT_TRUE(r.status == 0 || r.status == 130 || r.status == 143) << delay << r.err;
        EXPECT_EQ(recordings(copy), r.status == 0 ? 4u : 3u) << delay << r.err;
        test::ProgramResult d = run_program(cli + " diagnose " + copy);
        EXPECT_EQ(d.status, 0) << delay << d.out;
        if (r.status != 0) continue;
        // The restored recording (number 1) extracts to the same bytes as the one backed up.
        test::ProgramResult x =
            run_program(cli + " backup " + copy + " 1 " + dir.file("again") + " --force");
        ASSERT_EQ(x.status, 0);
        EXPECT_EQ(run_program("cmp -s " + b + " " + dir.file("again") + " -i 2048").status, 0);
    }
}

TEST(SafetyCli, DiagnoseReportsCrossLinksAndDeleteRefusesToFreeThem) {
    test::TempDir dir;
    std::string image = small_disk(dir);
    // C = 5 bent into B's cluster 4: the two recordings share it.
    ASSERT_EQ(run_program("printf '\\200\\004' | dd of=" + image + " bs=1 seek=" +
                          std::to_string(FAT_SECTOR * 512 + 2 * 5) + " conv=notrunc 2>/dev/null")
                  .status,
              0);
    test::ProgramResult d = run_program(cli + " diagnose " + image);
    EXPECT_EQ(d.status, 1);
    EXPECT_NE(
        d.out.find("Fault: cluster 4 is in the chains of recordings 1 and 2 (cross-linked)\n"),
        std::string::npos)
        << d.out;
    test::ProgramResult j = run_program(cli + " diagnose " + image + " --json");
    EXPECT_EQ(j.status, 1);
    nlohmann::json v = nlohmann::json::parse(j.out);
    EXPECT_EQ(v["ok"], false);
    EXPECT_EQ(v["cross_linked_clusters"], 1);
    ASSERT_EQ(v["faults"].size(), 1u);
    test::ProgramResult del = run_program(cli + " delete " + image + " 2 --yes");
    EXPECT_EQ(del.status, 1);
    EXPECT_EQ(del.err,
              "Cluster 4 also belongs to recording 1 ('C'); deleting this one would free its "
              "data. Nothing was changed.\n");
    EXPECT_EQ(recordings(image), 3u);
}

// Recording 2 (B) made unreadable: its slot names offset 3, not a whole record, or a record
// that would lie in cluster 0. The others stay listed and are extracted.
TEST(SafetyCli, AnUnreadableRecordHidesOnlyItsOwnRecording) {
    for (unsigned offset : {3u, 16300u}) {
        test::TempDir dir;
        std::string image = small_disk(dir);
        char octal[32];
        snprintf(octal, sizeof octal, "'\\%03o\\%03o'", offset >> 8, offset & 0xFF);
        ASSERT_EQ(run_program(std::string("printf ") + octal + " | dd bs=1 seek=" +
                              std::to_string(TOC_SECTOR * 512 + TOC_SLOTS_OFFSET + 4 + 2) +
                              " conv=notrunc 2>/dev/null of=" + image)
                      .status,
                  0);
        test::ProgramResult l = run_program(cli + " list " + image);
        EXPECT_EQ(l.status, 1) << offset;
        EXPECT_EQ(l.err, "Recording 2: its Recording Information record cannot be read.\n");
        EXPECT_NE(l.out.find("3 Recordings found; 1 of them cannot be read."), std::string::npos)
            << l.out;
        EXPECT_NE(l.out.find("  A\n"), std::string::npos) << l.out;
        EXPECT_NE(l.out.find("  C\n"), std::string::npos) << l.out;
        test::ProgramResult x =
            run_program(cli + " extract " + image + " all --quiet -o " + shell_quote(dir.path));
        EXPECT_EQ(x.status, 1) << x.err;
        EXPECT_NE(x.out.find("Recording 1 of 3: C\n"), std::string::npos) << x.out;
        EXPECT_NE(x.out.find("Recording 3 of 3: A\n"), std::string::npos) << x.out;
        EXPECT_NE(x.err.find("Recording 2 of 3: its Recording Information record cannot be read; "
                             "skipped.\n"),
                  std::string::npos)
            << x.err;
        test::ProgramResult one =
            run_program(cli + " extract " + image + " 2 -o " + shell_quote(dir.path));
        EXPECT_EQ(one.status, 1);
        test::ProgramResult d = run_program(cli + " diagnose " + image);
        EXPECT_EQ(d.status, 1);
        EXPECT_NE(d.out.find("Fault: the Recording Information record of recording 2 (offset " +
                             std::to_string(offset) + ") cannot be read\n"),
                  std::string::npos)
            << d.out << d.err;
    }
}

// A small tmpfs mounted for the test (root only), unmounted with what it holds when it goes.
struct SmallDrive {
    test::TempDir dir;
    bool mounted = false;
    explicit SmallDrive(const char* size) {
        if (geteuid() != 0) return;
        mounted = run_program("mount -t tmpfs -o size=" + std::string(size) + " quarrow-test " +
                              shell_quote(dir.path))
                      .status == 0;
    }
    ~SmallDrive() {
        if (mounted) run_program("umount " + shell_quote(dir.path));
    }
};

// A dump that fills the drive never replaces a good earlier dump by a fragment.
TEST(SafetyCli, DumpForceOntoAFullDriveLeavesTheEarlierDumpByteIdentical) {
    test::TempDir dir;
    std::string image = small_disk(dir);
    SmallDrive drive("20m");
    if (!drive.mounted) GTEST_SKIP() << "mounting a tmpfs needs root";
    const std::string dump = drive.dir.file("dump.hex");
    test::ProgramResult first =
        run_program(cli + " dump " + shell_quote(image) + " " + shell_quote(dump) + " -n 1");
    ASSERT_EQ(first.status, 0) << first.err;
    const std::vector<uint8_t> before = test::read_file_bytes(dump);
    ASSERT_EQ(before.size(), size_t(CLUSTER_SECTORS) * 512);
    test::ProgramResult full = run_program(cli + " dump " + shell_quote(image) + " " +
                                           shell_quote(dump) + " -n 3 --force");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("The operation failed: Failed to write to file."), std::string::npos)
        << full.err;
    EXPECT_NE(full.err.find("was left as it was"), std::string::npos) << full.err;
    EXPECT_EQ(test::read_file_bytes(dump), before);
    EXPECT_EQ(test::file_size(dump + ".part"), -1);  // the fragment is gone
}

}  // namespace
}  // namespace quarrow
