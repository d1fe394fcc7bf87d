// Rescue against real I/O errors: a disk image served by nbdkit through a small Python plugin
// that fails reads of chosen sectors with EIO, seen as a file through nbdfuse. The rescue gets
// every readable sector and maps exactly the failing ones; GNU ddrescue, run on the same source,
// gives the same image and bad blocks; a rescue stopped midway resumes without reading a rescued
// byte again. Skipped, with the reason, where FUSE or the tools are not available.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "disk/rescue_map.h"
#include "fs/layout.h"
#include "support/disk_builder.h"
#include "support/run_program_posix.h"
#include "support/sample_disk.h"
#include "support/temp_files.h"

using namespace quarrow;
using namespace quarrow::test;

namespace {

const std::string kCli = QUARROW_CLI_PATH;
const std::string kPlugin = std::string(QUARROW_SOURCE_DIR) + "/tests/support/failing_disk.py";
constexpr uint16_t CLUSTERS = 5;

// The failing sectors, first and last. The kernel reads a FUSE file in 4 KiB pages, so each
// range is whole pages: what a program sees failing is then exactly these sectors.
struct Range {
    int64_t first, last;
};
const std::vector<Range> kBad = {
    {8, 15},                                                   // the first allocation table
    {CLUSTER_SECTORS + 400, CLUSTER_SECTORS + 407},            // the recording, twice
    {CLUSTER_SECTORS + 1200, CLUSTER_SECTORS + 1215},          //
    {4 * CLUSTER_SECTORS + 5000, 4 * CLUSTER_SECTORS + 5031},  // free space
};

std::string bad_parameter() {
    std::string text;
    for (const Range& r : kBad)
        text += (text.empty() ? "" : ",") + std::to_string(r.first) + "-" + std::to_string(r.last);
    return text;
}

bool have(const std::string& program) {
    return run_program("command -v " + program + " >/dev/null 2>&1").status == 0;
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<uint8_t> read_all(const std::string& path) {
    std::string text = read_text(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

RescueMap load_map(const std::string& path) {
    RescueMap map;
    char message[MESSAGE_SIZE] = "";
    EXPECT_TRUE(parse_rescue_map(read_text(path), &map, message)) << path << ": " << message;
    return map;
}

std::vector<Range> bad_ranges(const RescueMap& map) {
    std::vector<Range> out;
    for (const MapBlock& b : map.blocks)
        if (b.status == MAP_BAD) out.push_back({b.pos / SECTOR_SIZE, (b.end() - 1) / SECTOR_SIZE});
    return out;
}

void expect_bad_ranges(const RescueMap& map) {
    std::vector<Range> got = bad_ranges(map);
    ASSERT_EQ(got.size(), kBad.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].first, kBad[i].first) << i;
        EXPECT_EQ(got[i].last, kBad[i].last) << i;
    }
}

class FailingDrive : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        struct stat st;
        if (stat("/dev/fuse", &st) != 0) {
            skip_ = "FUSE is not available here (/dev/fuse is missing)";
            return;
        }
        for (const char* tool :
             {"nbdkit", "nbdfuse", "fusermount3", "mountpoint", "ddrescue", "ddrescuelog"})
            if (!have(tool)) {
                skip_ = std::string(tool) + " is not installed (tools/deps.sh installs it)";
                return;
            }
        if (run_program("nbdkit python --dump-plugin >/dev/null 2>&1").status != 0) {
            skip_ = "nbdkit's Python plugin is not installed (nbdkit-plugin-python)";
            return;
        }
        dir_ = new TempDir;
        disk_ = dir_->file("disk.hex");
        ASSERT_TRUE(build_disk(disk_));
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
    }
    void TearDown() override { unmount(); }

    // One recording of real MPEG over clusters 0 and 1, the rest of the disk free.
    static bool build_disk(const std::string& path) {
        SampleMedia media;
        if (!load_sample_media("", &media)) return false;
        std::vector<uint8_t> video, audio;
        for (int i = 0; i < 3; ++i) {
            video.insert(video.end(), media.video.begin(), media.video.end());
            audio.insert(audio.end(), media.audio.begin(), media.audio.end());
        }
        TestDisk disk;
        disk.cluster_count = CLUSTERS;
        TestRecording r;
        r.default_title = "Damaged";
        r.duration = 900;
        r.clusters = {0, 1};
        r.data = broadcast_blocks(video, audio_pes_stream(audio, 2));
        disk.recordings.push_back(r);
        DiskHandle out = create_output_file(path.c_str());
        bool ok = out && write_test_disk(disk, out);
        close_disk(out);
        return ok && resize_file(path, uint64_t(CLUSTERS + 1) * CLUSTER_SECTORS * SECTOR_SIZE);
    }

    // Serves the disk through the plugin as dir/mnt/disk; empty, or why it could not.
    std::string mount(const std::string& extra = "", const std::string& bad = bad_parameter()) {
        mnt_ = dir_->file("mnt");
        mkdir(mnt_.c_str(), 0755);
        log_ = dir_->file("reads.log");
        unlink(log_.c_str());
        std::string command = "nbdfuse " + shell_quote(mnt_ + "/disk") +
                              " --command nbdkit -s python " + shell_quote(kPlugin) +
                              " file=" + shell_quote(disk_) + " bad=" + bad +
                              " log=" + shell_quote(log_) + " " + extra + " >" +
                              shell_quote(dir_->file("nbdfuse.log")) + " 2>&1 &";
        run_program(command);
        for (int i = 0; i < 100 && access((mnt_ + "/disk").c_str(), R_OK) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (access((mnt_ + "/disk").c_str(), R_OK) != 0)
            return "FUSE refused the mount: " + read_text(dir_->file("nbdfuse.log"));
        mounted_ = true;
        // Without read-ahead the kernel reads exactly the pages asked for, so the plugin's log
        // shows what the program read.
        ProgramResult bdi = run_program("mountpoint -d " + shell_quote(mnt_));
        std::string id = bdi.out.substr(0, bdi.out.find('\n'));
        std::ofstream ra("/sys/class/bdi/" + id + "/read_ahead_kb");
        ra << "0\n";
        ra.close();
        if (!ra) return "read-ahead of the FUSE mount cannot be switched off (needs root)";
        return "";
    }
    void unmount() {
        if (!mounted_) return;
        run_program("fusermount3 -u " + shell_quote(mnt_));
        for (int i = 0; i < 100 && run_program("mountpoint -q " + shell_quote(mnt_)).status == 0;
             ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        mounted_ = false;
    }
    std::string source() const { return mnt_ + "/disk"; }

    // The plugin's reads: (byte offset, length).
    std::vector<std::pair<int64_t, int64_t>> reads() const {
        std::vector<std::pair<int64_t, int64_t>> out;
        std::istringstream in(read_text(log_));
        int64_t offset = 0, len = 0;
        while (in >> offset >> len)
            out.emplace_back(offset, len);
        return out;
    }

    // The source as a rescue should leave it: zeros in the failing sectors.
    static std::vector<uint8_t> expected_image() {
        std::vector<uint8_t> bytes = read_all(disk_);
        for (const Range& r : kBad)
            std::fill(bytes.begin() + r.first * SECTOR_SIZE,
                      bytes.begin() + (r.last + 1) * SECTOR_SIZE, 0);
        return bytes;
    }

    static TempDir* dir_;
    static std::string disk_;
    static std::string skip_;
    std::string mnt_, log_;
    bool mounted_ = false;
};

TempDir* FailingDrive::dir_ = nullptr;
std::string FailingDrive::disk_;
std::string FailingDrive::skip_;

TEST_F(FailingDrive, RescueMapsExactlyTheFailingSectorsAsDdrescueDoes) {
    if (std::string why = mount(); !why.empty()) GTEST_SKIP() << why;
    std::string image = dir_->file("rescued.hex"), map = dir_->file("rescued.map");
    ProgramResult run = run_program(shell_quote(kCli) + " rescue " + shell_quote(source()) + " " +
                                    shell_quote(image) + " --map " + shell_quote(map));
    EXPECT_EQ(run.status, 1) << run.err << run.out;
    EXPECT_NE(run.out.find("64 unreadable sectors in 4 areas"), std::string::npos) << run.out;
    RescueMap ours = load_map(map);
    expect_bad_ranges(ours);
    std::vector<uint8_t> expected = expected_image();
    EXPECT_TRUE(read_all(image) == expected) << "every readable sector, zeros in the bad ones";
    EXPECT_EQ(run_program("ddrescuelog -t " + shell_quote(map)).status, 0) << "ddrescue reads it";

    std::string dd_image = dir_->file("ddrescue.hex"), dd_map = dir_->file("ddrescue.map");
    ProgramResult dd = run_program("ddrescue -q " + shell_quote(source()) + " " +
                                   shell_quote(dd_image) + " " + shell_quote(dd_map));
    EXPECT_EQ(dd.status, 0) << dd.err;
    EXPECT_TRUE(read_all(dd_image) == read_all(image)) << "the same bytes as ddrescue's image";
    expect_bad_ranges(load_map(dd_map));
}

TEST_F(FailingDrive, AStoppedRescueResumesWithoutRereadingRescuedAreas) {
    std::string image = dir_->file("resumed.hex"), map = dir_->file("resumed.map");
    std::string pid = dir_->file("rescue.pid");
    // The plugin interrupts the rescue itself after its 150th read: midway through the first pass.
    if (std::string why = mount("interrupt_after=150 pidfile=" + shell_quote(pid)); !why.empty())
        GTEST_SKIP() << why;
    std::string rescue = shell_quote(kCli) + " rescue " + shell_quote(source()) + " " +
                         shell_quote(image) + " --map " + shell_quote(map);
    ProgramResult first =
        run_program("sh -c " + shell_quote("echo $$ > " + shell_quote(pid) + "; exec " + rescue));
    EXPECT_EQ(first.status, 130) << first.err;
    EXPECT_NE(first.err.find("run the same command again"), std::string::npos) << first.err;
    RescueMap stopped = load_map(map);
    int64_t rescued = map_status_bytes(stopped, MAP_FINISHED);
    EXPECT_GT(rescued, 0);
    EXPECT_LT(rescued, stopped.size());
    unmount();

    ASSERT_EQ(mount(), "");
    ProgramResult second = run_program(rescue);
    EXPECT_EQ(second.status, 1) << second.err;
    for (auto& [offset, len] : reads())
        for (const MapBlock& b : stopped.blocks) {
            if (b.status != MAP_FINISHED) continue;
            ASSERT_FALSE(offset < b.end() && offset + len > b.pos)
                << "reread of rescued bytes at " << offset << " (" << len << " bytes)";
        }
    expect_bad_ranges(load_map(map));
    EXPECT_TRUE(read_all(image) == expected_image());
}

}  // namespace

namespace {

int count_of(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

}  // namespace

TEST_F(FailingDrive, ExtractAndBackupGoOnPastUnreadableSectorsAndNameThem) {
    if (std::string why = mount(); !why.empty()) GTEST_SKIP() << why;
    std::string q = shell_quote(kCli) + " ";
    std::string out = dir_->file("out");
    mkdir(out.c_str(), 0755);
    ProgramResult clean = run_program(q + "extract " + shell_quote(disk_) + " 1 -q -o " +
                                      shell_quote(out) + " --prefix clean");
    ASSERT_EQ(clean.status, 0) << clean.err;

    ProgramResult stops = run_program(q + "extract " + shell_quote(source()) + " 1 -q -o " +
                                      shell_quote(out) + " --prefix stops");
    EXPECT_EQ(stops.status, 1) << "without --skip-bad the first read error ends it";
    EXPECT_NE(stops.err.find("Error while accessing 1st cluster (FAT Entry 0)."), std::string::npos)
        << stops.err;

    ProgramResult skip = run_program(q + "extract " + shell_quote(source()) + " 1 -q -o " +
                                     shell_quote(out) + " --prefix damaged --skip-bad");
    EXPECT_EQ(skip.status, 1) << skip.err;
    EXPECT_NE(
        skip.err.find("The allocation table has 8 unreadable sectors; its copy was used for 8."),
        std::string::npos)
        << skip.err;
    EXPECT_EQ(count_of(skip.err, "Unreadable: 00:00:0"), 2) << skip.err;
    EXPECT_NE(skip.err.find("(8 sectors from disk sector 16784)"), std::string::npos) << skip.err;
    EXPECT_NE(skip.err.find("(16 sectors from disk sector 17584)"), std::string::npos) << skip.err;
    EXPECT_NE(skip.err.find("24 unreadable sectors in 2 ranges"), std::string::npos) << skip.err;
    // Everything else reaches the files: the unreadable sectors are zeros inside a payload, or
    // stepped over where a block header was.
    int64_t clean_bytes = file_size(out + "/clean.m2v") + file_size(out + "/clean.mp2");
    int64_t damaged_bytes = file_size(out + "/damaged.m2v") + file_size(out + "/damaged.mp2");
    EXPECT_LE(damaged_bytes, clean_bytes);
    EXPECT_GE(damaged_bytes, clean_bytes - 24 * SECTOR_SIZE - 2 * 200 * SECTOR_SIZE);
    EXPECT_FALSE(read_all(out + "/damaged.m2v") == read_all(out + "/clean.m2v"));

    std::string mmr = dir_->file("damaged.mmr");
    ProgramResult backup = run_program(q + "backup " + shell_quote(source()) + " 1 " +
                                       shell_quote(mmr) + " --skip-bad");
    EXPECT_EQ(backup.status, 1) << backup.err;
    EXPECT_EQ(count_of(backup.err, "Unreadable: "), 2) << backup.err;
    EXPECT_EQ(file_size(mmr), 2048 + 2 * int64_t(CLUSTER_SECTORS) * SECTOR_SIZE);

    // The image rescued from the drive, with its map: list and diagnose tell the damage.
    std::string image = dir_->file("listed.hex"), map = dir_->file("listed.map");
    run_program(q + "rescue " + shell_quote(source()) + " " + shell_quote(image) + " --map " +
                shell_quote(map));
    ProgramResult list =
        run_program(q + "list " + shell_quote(image) + " --map " + shell_quote(map));
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find(" % unreadable  Damaged"), std::string::npos) << list.out;
    ProgramResult diagnose =
        run_program(q + "diagnose " + shell_quote(image) + " --map " + shell_quote(map));
    EXPECT_EQ(diagnose.status, 1);
    EXPECT_NE(diagnose.out.find(
                  "System Area: unreadable sectors in the allocation table (8 sectors) [Damaged]"),
              std::string::npos)
        << diagnose.out;
    ProgramResult from_image =
        run_program(q + "extract " + shell_quote(image) + " 1 -q -o " + shell_quote(out) +
                    " --prefix mapped --map " + shell_quote(map));
    EXPECT_EQ(from_image.status, 1);
    EXPECT_EQ(count_of(from_image.err, "Unreadable: 00:00:0"), 2) << from_image.err;
}

TEST_F(FailingDrive, ASingleBadSectorInsideAPageCostsThatSectorAlone) {
    const int64_t bad = CLUSTER_SECTORS + 403;  // inside the recording, mid-page
    if (std::string why = mount("", std::to_string(bad) + "-" + std::to_string(bad)); !why.empty())
        GTEST_SKIP() << why;
    std::string q = shell_quote(kCli) + " ";
    std::string image = dir_->file("single.hex"), map = dir_->file("single.map");
    ProgramResult run = run_program(q + "rescue " + shell_quote(source()) + " " +
                                    shell_quote(image) + " --map " + shell_quote(map));
    EXPECT_EQ(run.status, 1) << run.err;
    std::vector<Range> ours = bad_ranges(load_map(map));
    ASSERT_EQ(ours.size(), 1u) << run.err;
    EXPECT_EQ(ours[0].first, bad);
    EXPECT_EQ(ours[0].last, bad);
    EXPECT_NE(
        run.err.find("Recording 1 (Damaged): 99.94 % rescued; unreadable 00:00:02 - 00:00:02"),
        std::string::npos)
        << run.err;

    std::string dd_image = dir_->file("single-dd.hex"), dd_map = dir_->file("single-dd.map");
    ProgramResult dd = run_program("ddrescue -q -d " + shell_quote(source()) + " " +
                                   shell_quote(dd_image) + " " + shell_quote(dd_map));
    EXPECT_EQ(dd.status, 0) << dd.err;
    std::vector<Range> theirs = bad_ranges(load_map(dd_map));
    ASSERT_EQ(theirs.size(), 1u);
    EXPECT_EQ(theirs[0].first, ours[0].first);
    EXPECT_EQ(theirs[0].last, ours[0].last);
    EXPECT_TRUE(read_all(dd_image) == read_all(image)) << "the same bytes as ddrescue -d";

    std::string out = dir_->file("single-out");
    mkdir(out.c_str(), 0755);
    ProgramResult skip = run_program(q + "extract " + shell_quote(source()) + " 1 -q -o " +
                                     shell_quote(out) + " --skip-bad");
    EXPECT_EQ(skip.status, 1) << skip.err;
    EXPECT_NE(skip.err.find("(1 sectors from disk sector " + std::to_string(bad) + ")"),
              std::string::npos)
        << skip.err;
    EXPECT_EQ(skip.out.find("completed successfully"), std::string::npos) << skip.out;
}

TEST_F(FailingDrive, AnUnreadableTableOfContentsIsNamedAsSuch) {
    if (std::string why = mount("", std::to_string(TOC_SECTOR) + "-" + std::to_string(TOC_SECTOR));
        !why.empty())
        GTEST_SKIP() << why;
    std::string q = shell_quote(kCli) + " ";
    ProgramResult list = run_program(q + "list " + shell_quote(source()));
    EXPECT_EQ(list.status, 1);
    EXPECT_NE(list.err.find("its Table of Contents, sector 130, could not be read: "),
              std::string::npos)
        << list.err;
    // Rescued, the image holds zeros there; with its map the commands name the lost sectors.
    std::string image = dir_->file("toc.hex"), map = dir_->file("toc.map");
    run_program(q + "rescue " + shell_quote(source()) + " " + shell_quote(image) + " --map " +
                shell_quote(map));
    ProgramResult diagnose =
        run_program(q + "diagnose " + shell_quote(image) + " --map " + shell_quote(map));
    EXPECT_EQ(diagnose.status, 1);
    EXPECT_NE(diagnose.err.find("The Table of Contents (sectors 130-133) was not rescued"),
              std::string::npos)
        << diagnose.err;
}
