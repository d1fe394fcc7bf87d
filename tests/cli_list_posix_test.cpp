// quarrow list, run as a program: the sample disk's lines and JSON, scanning through
// QUARROW_DRIVES, and the exit status of each outcome.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/run_program_posix.h"
#include "support/temp_files.h"

using namespace quarrow::test;

namespace {

const std::string kCli = QUARROW_CLI_PATH;

class CliList : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        sample_ = dir_->file("sample.hex");
        ProgramResult made =
            run_program(shell_quote(QUARROW_SAMPLE_TOOL_PATH) + " " + shell_quote(sample_));
        ASSERT_EQ(made.status, 0) << made.err;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static ProgramResult quarrow(const std::string& args) {
        return run_program(shell_quote(kCli) + " " + args);
    }
    static TempDir* dir_;
    static std::string sample_;
};

TempDir* CliList::dir_ = nullptr;
std::string CliList::sample_;

}  // namespace

TEST_F(CliList, ListsTheSampleDiskNewestFirstInAlignedColumns) {
    ProgramResult r = quarrow("list " + shell_quote(sample_));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "MediaMaster Disk Image with 5 Recordings (392 MB).\n"
              "Free space: 41 clusters (328 MB).\n"
              "1  16-02-2003 10:30:00 GMT  00:00:06   0 MB  Pause, Locked      ORF 1          "
              "Ski-WM \xC3\x85re\n"
              "2  01-02-2003 14:45:00 GMT  00:00:03   0 MB  Erasable, Locked   arte           "
              "arte\n"
              "3  10-01-2003 19:00:00 GMT  00:03:18  18 MB  Pause              3sat           "
              "Urlaubsfilm f\xC3\xBCr Oma\n"
              "4  24-12-2002 18:30:00 GMT  00:00:02   0 MB  Permanent, Locked  TV5MONDE       "
              "Caf\xC3\xA9 No\xC3\xABl\n"
              "5  06-12-2002 20:15:00 GMT  00:00:06   0 MB  Erasable           SWR Fernsehen  "
              "Nachrichten - S\xC3\xBC"
              "d\n");
}

TEST_F(CliList, JsonCarriesExactlyTheDocumentedKeysWithTheRecordsValues) {
    ProgramResult r = quarrow("list --json " + shell_quote(sample_));
    ASSERT_EQ(r.status, 0) << r.err;
    nlohmann::ordered_json list = nlohmann::ordered_json::parse(r.out);
    ASSERT_TRUE(list.is_array());
    ASSERT_EQ(list.size(), 5u);
    const std::vector<std::string> keys = {
        "number",  "title",      "default_title", "user_title",     "channel",
        "flags",   "attributes", "date",          "duration",       "hours",
        "minutes", "seconds",    "first_cluster", "length_sectors", "start_offset",
        "size_mb", "size_bytes", "start_time",    "date_iso",       "past_end_of_image"};
    for (size_t i = 0; i < list.size(); ++i) {
        std::vector<std::string> got;
        for (auto it = list[i].begin(); it != list[i].end(); ++it)
            got.push_back(it.key());
        EXPECT_EQ(got, keys);
        EXPECT_EQ(list[i]["number"], i + 1);
    }
    const auto& journey = list[2];
    EXPECT_EQ(journey["title"], "Urlaubsfilm f\xC3\xBCr Oma");
    EXPECT_EQ(journey["default_title"],
              "Gro\xC3\x9F"
              "e Reise durch \xC3\x96sterreich");
    EXPECT_EQ(journey["user_title"], "Urlaubsfilm f\xC3\xBCr Oma");
    EXPECT_EQ(journey["channel"], "3sat");
    EXPECT_EQ(journey["flags"], 2);
    EXPECT_EQ(journey["attributes"], "Pause");
    EXPECT_EQ(journey["date"], "10-01-2003 19:00:00 GMT");
    EXPECT_EQ(journey["duration"], "00:03:18");
    EXPECT_EQ(journey["hours"], 0);
    EXPECT_EQ(journey["minutes"], 3);
    EXPECT_EQ(journey["seconds"], 18);
    EXPECT_EQ(journey["first_cluster"], 9);
    EXPECT_GT(journey["length_sectors"].get<int>(), 2 * 16382);
    EXPECT_EQ(journey["size_mb"], journey["length_sectors"].get<int>() / 1024 * 512 / 1024);

    const auto& untitled = list[1];
    EXPECT_EQ(untitled["title"], "arte");
    EXPECT_EQ(untitled["default_title"], "");
    EXPECT_EQ(untitled["user_title"], "");
    EXPECT_EQ(untitled["flags"], 8);

    const auto& news = list[4];
    EXPECT_EQ(news["title"],
              "Nachrichten - S\xC3\xBC"
              "d");
    EXPECT_EQ(news["start_offset"], 32);
    EXPECT_EQ(news["date"], "06-12-2002 20:15:00 GMT");
}

TEST_F(CliList, ScanFindsTheDiskOnDriveOneThroughQuarrowDrives) {
    std::string empty = dir_->file("empty.img");
    ASSERT_TRUE(write_file(empty, std::vector<uint8_t>(300 * 512, 0)));
    ScopedEnv drives("QUARROW_DRIVES", drive_list({empty, sample_}).c_str());
    ProgramResult r = quarrow("list scan");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
              "Detected MediaMaster Disk (0 GB) with 5 Recordings.");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 7);  // with the free space
}

TEST_F(CliList, ScanStopsAtAMissingDrive) {
    std::string empty = dir_->file("empty.img");
    ASSERT_TRUE(write_file(empty, std::vector<uint8_t>(300 * 512, 0)));
    ScopedEnv drives("QUARROW_DRIVES",
                     drive_list({empty, dir_->file("no-such-drive"), sample_}).c_str());
    ProgramResult r = quarrow("list scan");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Could not find MediaMaster Disk.\n");
}

TEST_F(CliList, FailuresAndUsageErrorsHaveTheirExitStatus) {
    ProgramResult r = quarrow("list " + shell_quote(dir_->file("missing.hex")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Invalid image file. (No such file or directory)\n");
    EXPECT_EQ(r.out, "");

    std::string big = dir_->file("too-many.hex");
    ASSERT_EQ(
        run_program("cp --sparse=always " + shell_quote(sample_) + " " + shell_quote(big)).status,
        0);
    // Table of Contents count (sector 130, byte 40) set to 449.
    ASSERT_EQ(run_program("printf '\\001\\301' | dd of=" + shell_quote(big) +
                          " bs=1 seek=66600 conv=notrunc status=none")
                  .status,
              0);
    r = quarrow("list " + shell_quote(big));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Too many recordings in this image.\n");
    r = quarrow("list --json " + shell_quote(big));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");

    for (const char* args : {"", "list", "list a b", "list --bogus x", "frobnicate"}) {
        r = quarrow(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.out, "") << args;
        EXPECT_NE(r.err, "") << args;
    }
}

TEST_F(CliList, EmptyDiskListsOnlyItsMessage) {
    std::string empty = dir_->file("empty-table.hex");
    ASSERT_EQ(
        run_program("cp --sparse=always " + shell_quote(sample_) + " " + shell_quote(empty)).status,
        0);
    ASSERT_EQ(run_program("printf '\\000\\000' | dd of=" + shell_quote(empty) +
                          " bs=1 seek=66600 conv=notrunc status=none")
                  .status,
              0);
    ProgramResult r = quarrow("list " + shell_quote(empty));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "No Recordings found in this image.\nFree space: 41 clusters (328 MB).\n");
    r = quarrow("list --json " + shell_quote(empty));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "[]\n");
}

TEST_F(CliList, HelpExplainsTheProgramAndTheCommand) {
    ProgramResult r = quarrow("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("MediaMaster"), std::string::npos);
    EXPECT_NE(r.out.find("list"), std::string::npos);
    r = quarrow("list --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--json"), std::string::npos);
    EXPECT_NE(r.out.find("scan"), std::string::npos);
}
