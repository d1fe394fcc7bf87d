// The command line as a user meets it, run as the built program on copies of the sample disk:
// the source is never a target, exit statuses, paths, the reasons after the messages, images cut
// short, what recover shows before it asks, the traps (FIFOs, control characters, read-only
// images, full disks, recordings without clusters) and the progress bar and JSON.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fs/layout.h"
#include "support/drive_env.h"
#include "support/run_program_posix.h"
#include "support/temp_files.h"

using namespace quarrow;
using namespace quarrow::test;

namespace {

class CliUser : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        pristine_ = new TempDir;
        ProgramResult made = run_program(shell_quote(QUARROW_SAMPLE_TOOL_PATH) + " " +
                                         shell_quote(pristine_->file("sample.hex")));
        ASSERT_EQ(made.status, 0) << made.err;
    }
    static void TearDownTestSuite() {
        delete pristine_;
        pristine_ = nullptr;
    }
    // A fresh copy of the sample disk in this test's folder.
    std::string copy_sample(const std::string& name = "disk.hex") {
        std::string path = dir_.file(name);
        EXPECT_EQ(run_program("cp --sparse=always " + shell_quote(pristine_->file("sample.hex")) +
                              " " + shell_quote(path))
                      .status,
                  0);
        return path;
    }
    // Runs quarrow ARGS in the test's folder; stdin is no terminal.
    ProgramResult quarrow(const std::string& args) {
        return run_program("cd " + shell_quote(dir_.path) + " && " + shell_quote(QUARROW_CLI_PATH) +
                           " " + args + " </dev/null");
    }
    std::string digest(const std::string& path) {
        return run_program("md5sum < " + shell_quote(path)).out;
    }
    // Writes bytes at a byte offset of a file, as damage or a test's edit.
    void patch(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
        FILE* f = fopen(path.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        fseek(f, long(offset), SEEK_SET);
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    TempDir dir_;
    static TempDir* pristine_;
};

TempDir* CliUser::pristine_ = nullptr;

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(CliUser, TheSourceIsNeverATargetHoweverItIsNamed) {
    std::string image = copy_sample("disk.hex");
    ASSERT_EQ(symlink(image.c_str(), dir_.file("link.hex").c_str()), 0);
    ASSERT_EQ(symlink(image.c_str(), dir_.file("arte-002.mpg").c_str()), 0);
    std::string plain = dir_.file("blank.img");
    ASSERT_TRUE(write_file(plain, std::vector<uint8_t>(4096, 0)));
    // An image named as the files its recording 2 ("arte") would be extracted to.
    std::string arte = dir_.file("arte.mp2");
    ASSERT_EQ(
        run_program("cp --sparse=always " + shell_quote(image) + " " + shell_quote(arte)).status,
        0);
    const std::string before = digest(image), arte_before = digest(arte);
    ScopedDrives drives({plain, image});  // scan finds the image as drive 1
    struct Case {
        std::string args;
    } cases[] = {
        {"dump scan disk.hex --clusters 1 --force"},
        {"dump disk.hex link.hex --clusters 1 --force"},
        {"dump link.hex ./disk.hex --clusters 1 --force"},
        {"dump disk.hex ../" + dir_.path.substr(dir_.path.rfind('/') + 1) +
         "/disk.hex --clusters all --force"},
        {"backup scan 1 disk.hex --force"},
        {"backup disk.hex 1 link.hex --force"},
        {"rescue scan disk.hex"},
        {"rescue disk.hex out.img --map link.hex"},
        {"extract arte.mp2 2 --no-video"},
        {"extract disk.hex 2 --mux --split 1M -q"},  // its second part would be the disk
        {"extract arte.mp2 all --no-video -q"},
    };
    for (const Case& c : cases) {
        ProgramResult r = quarrow(c.args);
        EXPECT_NE(r.status, 0) << c.args;
        EXPECT_TRUE(has(r.err, "is the disk being")) << c.args << "\n" << r.err;
    }
    EXPECT_EQ(digest(image), before);
    EXPECT_EQ(digest(arte), arte_before);
    EXPECT_EQ(quarrow("dump scan disk.hex --clusters 1 --force").status, 2);
}

TEST_F(CliUser, ExitStatusesAScriptCanTrust) {
    std::string image = copy_sample();
    struct Case {
        std::string args;
        int status;
    } cases[] = {
        {"extract disk.hex abc", 2},
        {"extract disk.hex 0", 2},
        {"extract disk.hex 1 --length 0", 2},
        {"extract disk.hex 1 --audio wav", 2},
        {"extract disk.hex 9", 1},  // a number past the table needs the disk to know
        {"backup disk.hex one x.mmr", 2},
        {"delete disk.hex -1 --yes", 2},
        {"edit disk.hex 1x --locked", 2},
        {"extract disk.hex 3 --audio MP2 -q", 0},
        {"extract disk.hex 3 --audio Mpg --no-video -q", 0},
        // The recording's clusters end long before this range: files kept, status 1.
        {"extract disk.hex 3 --length 2000000000 -q", 1},
        {"diagnose disk.hex", 0},
    };
    for (const Case& c : cases) {
        ProgramResult r = quarrow(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    }
    ProgramResult early = quarrow("extract disk.hex 3 --length 2000000000 -q --prefix early");
    EXPECT_TRUE(has(early.err, "The recording's clusters end after")) << early.err;
    EXPECT_TRUE(has(early.err, "The extraction ended early")) << early.err;
    EXPECT_GT(file_size(dir_.file("early.m2v")), 0);

    ProgramResult sound = quarrow("diagnose disk.hex --json");
    EXPECT_EQ(sound.status, 0);
    EXPECT_EQ(nlohmann::json::parse(sound.out)["ok"], true);
    patch(image, FAT_SECTOR * SECTOR_SIZE + 2 * 47, {0x00, 0x01});  // the checksum no longer holds
    ProgramResult faulty = quarrow("diagnose disk.hex --json");
    EXPECT_EQ(faulty.status, 1);
    EXPECT_EQ(nlohmann::json::parse(faulty.out)["ok"], false);
    EXPECT_EQ(quarrow("diagnose disk.hex").status, 1);
    EXPECT_TRUE(has(quarrow("--help").out, "Exit status"));
}

TEST_F(CliUser, PathsArePosixPaths) {
    copy_sample();
    const std::string long_name(249, 'v');
    struct Case {
        std::string output;  // as typed after -o
        std::string file;    // the video file expected, from the test's folder
        bool created;        // "Created folder" said
    } cases[] = {
        {"\xD0\x92\xD0\xB8\xD0\xB4\xD0\xB5\xD0\xBE",
         "\xD0\x92\xD0\xB8\xD0\xB4\xD0\xB5\xD0\xBE/x.m2v", true},
        {"a/b/c", "a/b/c/x.m2v", true},
        {long_name, long_name + "/x.m2v", true},
        {"''", "x.m2v", false},  // an unset variable in a script: the current folder
        {".", "x.m2v", false},
    };
    for (const Case& c : cases) {
        ProgramResult r = quarrow("extract disk.hex 3 -q --prefix x -o " + c.output);
        EXPECT_EQ(r.status, 0) << c.output << "\n" << r.err;
        EXPECT_GT(file_size(dir_.file(c.file)), 0) << c.output;
        EXPECT_EQ(has(r.err, "Created folder"), c.created) << c.output << "\n" << r.err;
        remove(dir_.file(c.file).c_str());
    }
    // A UTF-8 prefix is a file name like any other here.
    EXPECT_EQ(quarrow("extract disk.hex 3 -q --prefix \xE2\x82\xAC").status, 0);
    EXPECT_GT(file_size(dir_.file("\xE2\x82\xAC.mp2")), 0);
}

TEST_F(CliUser, MessagesSayWhy) {
    copy_sample();
    ASSERT_TRUE(write_file(dir_.file("zeros.hex"), std::vector<uint8_t>(8192, 0)));
    ASSERT_EQ(mkdir(dir_.file("folder").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(dir_.file("fifo").c_str(), 0644), 0);
    ASSERT_EQ(mkdir(dir_.file("taken.m2v").c_str(), 0755), 0);
    ASSERT_TRUE(write_file(dir_.file("file"), {1}));
    struct Case {
        std::string args;
        std::string err;  // the whole first line of stderr: the fixed text, then the reason
        int status = 1;
    } cases[] = {
        {"list missing.hex", "Invalid image file. (No such file or directory)"},
        {"list zeros.hex", "Invalid image file. (no MediaMaster signature at sector 0)"},
        {"list folder", "Invalid image file. (it is a directory)"},
        // A FIFO is refused before it is opened for reading, which would wait for a writer.
        {"list fifo", "Invalid image file. (it is not a regular file or a block device)"},
        {"restore disk.hex fifo",
         "Could not open input file. (fifo: it is not a regular file or a block device)"},
        {"extract disk.hex 3 --prefix 'a|b:c'",
         "File Prefix contains invalid characters. ('|', ':')", 2},
        {"extract disk.hex 3 -o 'a?b'", "Path contains invalid characters. ('?')", 2},
        {"extract disk.hex 3 --prefix taken",
         "Could not create output file. (./taken.m2v: Is a directory)"},
        {"extract disk.hex 3 -o file", "Could not create output file. (file is not a folder)"},
        {"list disk.hex --map missing.map",
         "Could not open input file. (missing.map: No such file or directory)"},
        {"rescue missing.hex copy.hex",
         "Could not open input file. (missing.hex: No such file or directory)"},
        {"lsit disk.hex",
         "Unknown command 'quarrow lsit'. (did you mean 'quarrow list'? 'quarrow --help' lists "
         "the commands)",
         2},
    };
    for (const Case& c : cases) {
        ProgramResult r = run_program("cd " + shell_quote(dir_.path) + " && timeout 20 " +
                                      shell_quote(QUARROW_CLI_PATH) + " " + c.args + " </dev/null");
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.err) << c.args;
    }
}

TEST_F(CliUser, AnImageCutShortSaysSo) {
    copy_sample();
    ProgramResult dumped = quarrow("dump disk.hex part.hex --clusters 2");
    ASSERT_EQ(dumped.status, 0) << dumped.err;
    ProgramResult list = quarrow("list part.hex");
    EXPECT_EQ(list.status, 0);
    EXPECT_TRUE(has(list.out,
                    "This image holds 1 of the disk's 48 clusters; 4 recordings reach "
                    "past its end (marked *)."))
        << list.out;
    EXPECT_TRUE(has(list.out, "\n3*  ")) << list.out;
    EXPECT_EQ(nlohmann::json::parse(quarrow("list part.hex --json").out)[0]["past_end_of_image"],
              true);
    ProgramResult diagnose = quarrow("diagnose part.hex");
    EXPECT_EQ(diagnose.status, 1);
    EXPECT_TRUE(has(diagnose.out,
                    "Image Size: 1 of 48 clusters [Error: 4 recordings reach past "
                    "the end of the image!]"))
        << diagnose.out;
    ProgramResult extract = quarrow("extract part.hex 3 -q");
    EXPECT_EQ(extract.status, 1);
    EXPECT_TRUE(has(extract.err,
                    "(the image ends before this recording's clusters do: it holds 1 "
                    "of the disk's 48 clusters)"))
        << extract.err;
}

TEST_F(CliUser, RecoverShowsTheGroupsBeforeItAsks) {
    std::string image = copy_sample();
    const std::string before = digest(image);
    ProgramResult dry = quarrow("recover disk.hex --dry-run");
    EXPECT_EQ(dry.status, 0) << dry.err;
    // The sample disk's free clusters were never written: one group of all of them but the
    // disk's last, which the scan never examines.
    EXPECT_TRUE(has(dry.out, "Recovered 1: 40 clusters (320 MB) from cluster 5")) << dry.out;
    EXPECT_TRUE(has(dry.out, "never written")) << dry.out;
    EXPECT_TRUE(has(dry.out, "Dry run: nothing was changed.")) << dry.out;
    EXPECT_EQ(digest(image), before);
    ProgramResult yes = quarrow("recover disk.hex --yes");
    EXPECT_EQ(yes.status, 0) << yes.err;
    EXPECT_TRUE(has(yes.err, "Recovered 1: 40 clusters")) << yes.err;
}

TEST_F(CliUser, NoTraps) {
    std::string image = copy_sample();
    // Control characters of a title are shown escaped, never sent to the terminal.
    ASSERT_EQ(quarrow("edit disk.hex 1 --title \"$(printf 'Bell\\a\\033[2J')\"").status, 0);
    ProgramResult list = quarrow("list disk.hex");
    EXPECT_TRUE(has(list.out, "Bell\\x07\\x1b[2J\n")) << list.out;
    EXPECT_FALSE(has(list.out, "\a"));

    // A read-only image stays as it is, for root too, and the message says how to allow it.
    chmod(image.c_str(), 0444);
    const std::string before = digest(image);
    ProgramResult locked = quarrow("edit disk.hex 1 --locked");
    EXPECT_EQ(locked.status, 1);
    EXPECT_TRUE(has(locked.err, "Cannot open disk.hex for writing")) << locked.err;
    EXPECT_TRUE(has(locked.err, "chmod u+w")) << locked.err;
    EXPECT_EQ(digest(image), before);
    chmod(image.c_str(), 0644);

    // A write the system refuses names its reason: a file size limit stands for a full disk
    // (with SIGXFSZ ignored, the write fails with EFBIG instead of ending the program).
    ProgramResult full = run_program(
        "cd " + shell_quote(dir_.path) + " && trap '' XFSZ && ulimit -f 64 && " +
        shell_quote(QUARROW_CLI_PATH) + " extract disk.hex 3 -q --prefix full </dev/null");
    EXPECT_EQ(full.status, 1);
    const std::string reason = "Error while writing to disk. (File too large)\n";
    ASSERT_GE(full.err.size(), reason.size()) << full.err;
    EXPECT_EQ(full.err.substr(full.err.size() - reason.size()), reason);
    // What reached the files before the write failed stays: no file of the name existed.
    EXPECT_TRUE(has(full.err, "the files hold what came before.\n  kept: ./full.m2v\n"))
        << full.err;

    // A recording whose first cluster is no cluster (16383): recording 1 is the last slot.
    std::vector<uint8_t> toc = read_file_at(image, TOC_SECTOR * SECTOR_SIZE, TOC_BYTES);
    uint32_t count = read_be16(toc.data() + TOC_COUNT_OFFSET);
    uint32_t offset = read_be16(toc.data() + TOC_SLOTS_OFFSET + TOC_SLOT_BYTES * (count - 1) + 2);
    patch(image, (TOC_SECTOR + offset) * uint64_t(SECTOR_SIZE) + REC_FIRST_CLUSTER, {0x3F, 0xFF});
    ProgramResult none = quarrow("extract disk.hex 1 -q");
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err,
              "Error while accessing 1st cluster (FAT Entry 16383). (recording 1 has no clusters: "
              "its first cluster is past the disk's last, 47)\n");
}

TEST_F(CliUser, ProgressInBytesAndTimeWithOneFinalLineAndJson) {
    copy_sample();
    // script(1) gives the program a terminal, so that it draws its bar.
    for (const std::string& args :
         {std::string("dump disk.hex d.hex --clusters 3"), std::string("backup disk.hex 3 b.mmr"),
          std::string("extract disk.hex 3")}) {
        ProgramResult r = run_program("cd " + shell_quote(dir_.path) + " && script -qec " +
                                      shell_quote(std::string(QUARROW_CLI_PATH) + " " + args) +
                                      " /dev/null </dev/null");
        EXPECT_EQ(r.status, 0) << args << r.out;
        size_t first = r.out.find("done in ");
        EXPECT_NE(first, std::string::npos) << args << r.out;
        EXPECT_EQ(r.out.find("done in ", first + 1), std::string::npos) << args << r.out;
        EXPECT_TRUE(has(r.out, " MB/s")) << args;
        EXPECT_FALSE(has(r.out, "100%  --:--")) << args;
    }
    nlohmann::json list = nlohmann::json::parse(quarrow("list disk.hex --json").out);
    EXPECT_EQ(list[0]["start_time"], 1045391400);
    EXPECT_EQ(list[0]["date_iso"], "2003-02-16T10:30:00Z");
    EXPECT_EQ(list[0]["size_bytes"], uint64_t(list[0]["length_sectors"]) * SECTOR_SIZE);
    EXPECT_GT(list[0]["size_bytes"], 0u);
    EXPECT_TRUE(has(quarrow("list disk.hex").out, "\nFree space: 41 clusters (328 MB).\n"));
    nlohmann::json diagnose = nlohmann::json::parse(quarrow("diagnose disk.hex --json").out);
    EXPECT_EQ(diagnose["free_clusters"], 41);
    EXPECT_EQ(diagnose["free_bytes"], 41ull << 23);
}

}  // namespace
