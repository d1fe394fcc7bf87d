// The maintenance commands run as the built program, on image files made from the sample disk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "disk/sector_access.h"
#include "fs/layout.h"
#include "support/disk_builder.h"
#include "support/run_program_posix.h"
#include "support/sample_disk.h"
#include "support/temp_files.h"

namespace quarrow {
namespace {

namespace fs = std::filesystem;

// A test folder that other users may enter: the read-only checks run a command as another user.
struct TempDir : test::TempDir {
    TempDir() { chmod(path.c_str(), 0755); }
};

std::string read_file(const std::string& path) {
    std::vector<uint8_t> bytes = test::read_file_bytes(path);
    return std::string(bytes.begin(), bytes.end());
}

struct CliRun {
    int status = -1;
    std::string out, err;
};

CliRun run_cli(const std::string& args, const std::string& prefix = "") {
    test::ProgramResult r = test::run_program(prefix + QUARROW_CLI_PATH + " " + args);
    return {r.status, r.out, r.err};
}

std::string sample_image(const TempDir& dir, const std::string& name = "disk.img") {
    test::SampleMedia media;
    EXPECT_TRUE(test::load_sample_media("", &media));
    test::TestDisk disk = test::sample_disk(media);
    std::string path = dir.file(name);
    DiskHandle out = create_output_file(path.c_str());
    EXPECT_TRUE(out && test::write_sample_disk(disk, out));
    close_disk(out);
    return path;
}

nlohmann::json listing(const std::string& image) {
    CliRun r = run_cli("list " + image + " --json");
    EXPECT_EQ(r.status, 0) << r.err;
    return nlohmann::json::parse(r.out);
}

// A digest of a whole image, read in pieces: the images are sparse and hundreds of MiB long.
std::string image_digest(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string chunk(1 << 20, '\0'), digest;
    while (in.read(&chunk[0], std::streamsize(chunk.size())) || in.gcount() > 0) {
        size_t h =
            std::hash<std::string_view>()(std::string_view(chunk.data(), size_t(in.gcount())));
        digest += std::to_string(h) + ",";
    }
    return digest;
}

// Every file of a folder, by name.
std::vector<std::pair<std::string, std::string>> contents(const std::string& dir) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& e : fs::directory_iterator(dir))
        files.emplace_back(e.path().filename().string(), read_file(e.path().string()));
    std::sort(files.begin(), files.end());
    return files;
}

TEST(MaintenanceCommands, BackUpEverythingDeleteEverythingRestoreAndExtractTheSame) {
    TempDir dir;
    std::string image = sample_image(dir);
    fs::create_directories(dir.file("before"));
    fs::create_directories(dir.file("after"));
    ASSERT_EQ(run_cli("extract " + image + " all -q -o " + dir.file("before")).status, 0);
    for (int n = 1; n <= 5; ++n) {
        CliRun b = run_cli("backup " + image + " " + std::to_string(n) + " " +
                           dir.file(std::to_string(n) + ".mmr"));
        ASSERT_EQ(b.status, 0) << b.err;
        EXPECT_EQ(b.out, "Backup Operation Successful.\n");
    }
    EXPECT_EQ(fs::file_size(dir.file("3.mmr")), 25167872u);  // the 3-cluster recording
    for (int n = 1; n <= 5; ++n) {
        CliRun d = run_cli("delete " + image + " 1 --yes");
        ASSERT_EQ(d.status, 0) << d.err;
    }
    EXPECT_EQ(listing(image).size(), 0u);
    // Oldest first, so that each comes back in its old place in the list.
    CliRun r = run_cli("restore " + image + " " + dir.file("5.mmr") + " " + dir.file("4.mmr") +
                       " " + dir.file("3.mmr") + " " + dir.file("2.mmr") + " " + dir.file("1.mmr"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Restore Operation Successful.\n");
    ASSERT_EQ(run_cli("extract " + image + " all -q -o " + dir.file("after")).status, 0);
    auto before = contents(dir.file("before")), after = contents(dir.file("after"));
    ASSERT_EQ(before.size(), 10u);
    EXPECT_TRUE(before == after);
    CliRun diag = run_cli("diagnose " + image);
    EXPECT_EQ(diag.status, 0);
    EXPECT_NE(diag.out.find("FAT CRC: Correct\n"), std::string::npos) << diag.out;
    EXPECT_NE(diag.out.find("Linked Clusters: 7 [Ok]\n"), std::string::npos) << diag.out;
}

TEST(MaintenanceCommands, ADeletedRecordingIsReclaimedWithTheSameVideoAndAudio) {
    TempDir dir;
    std::string image = sample_image(dir);
    ASSERT_EQ(run_cli("extract " + image + " 1 -q --prefix old -o " + dir.path).status, 0);
    nlohmann::json list = listing(image);
    int first_cluster = list[0]["first_cluster"];
    ASSERT_EQ(run_cli("delete " + image + " 1 --yes").status, 0);
    CliRun no_yes = run_cli("recover " + image);
    EXPECT_EQ(no_yes.status, 2);
    CliRun rec = run_cli("recover " + image + " --yes");
    ASSERT_EQ(rec.status, 0) << rec.err;
    EXPECT_EQ(rec.out, "All Recordings were successfully restored.\n");
    list = listing(image);
    int number = 0;
    for (const auto& e : list)
        if (e["first_cluster"] == first_cluster) number = e["number"];
    ASSERT_NE(number, 0);
    EXPECT_EQ(list[number - 1]["length_sectors"], 16382);
    ASSERT_EQ(run_cli("extract " + image + " " + std::to_string(number) + " -q --prefix new -o " +
                      dir.path)
                  .status,
              0);
    EXPECT_EQ(read_file(dir.file("new.m2v")), read_file(dir.file("old.m2v")));
    EXPECT_EQ(read_file(dir.file("new.mp2")), read_file(dir.file("old.mp2")));
    EXPECT_GT(fs::file_size(dir.file("new.m2v")), 0u);
}

TEST(MaintenanceCommands, EditKeepsWhatIsNotGivenAndRefusesTextsThatDoNotFit) {
    TempDir dir;
    std::string image = sample_image(dir);
    // Recording 1 is paused, permanent and locked.
    CliRun e = run_cli("edit " + image + " 1 --title 'Caf\xC3\xA9 \xC3\xBC' --no-pause");
    ASSERT_EQ(e.status, 0) << e.err;
    EXPECT_EQ(e.out,
              "Recording 1: \"Caf\xC3\xA9 \xC3\xBC\", channel \"ORF 1\", Permanent, Locked.\n");
    nlohmann::json list = listing(image);
    EXPECT_EQ(list[0]["user_title"], "Caf\xC3\xA9 \xC3\xBC");
    EXPECT_EQ(list[0]["channel"], "ORF 1");
    EXPECT_EQ(list[0]["flags"], 9);
    ASSERT_EQ(run_cli("edit " + image + " 1 --channel Arte --no-permanent --no-locked").status, 0);
    list = listing(image);
    EXPECT_EQ(list[0]["channel"], "Arte");
    EXPECT_EQ(list[0]["user_title"], "Caf\xC3\xA9 \xC3\xBC");
    EXPECT_EQ(list[0]["attributes"], "Erasable");
    // A click on Permanent takes Pause off, as in the window.
    EXPECT_EQ(list[2]["attributes"], "Pause");
    ASSERT_EQ(run_cli("edit " + image + " 3 --permanent").status, 0);
    EXPECT_EQ(listing(image)[2]["attributes"], "Permanent");

    std::string before = image_digest(image);
    CliRun empty = run_cli("edit " + image + " 1 --channel ''");
    EXPECT_EQ(empty.status, 2);
    EXPECT_EQ(empty.err, "The channel name cannot be empty!\n");
    CliRun euro = run_cli("edit " + image + " 1 --title '\xE2\x82\xAC'");
    EXPECT_EQ(euro.status, 2);
    EXPECT_NE(euro.err.find("Latin-1"), std::string::npos);
    // 47 accented letters fit the 48-byte field; a 48th does not, and nothing is cut.
    std::string title47, title48;
    for (int i = 0; i < 47; ++i)
        title47 += "\xC3\xA9";
    title48 = title47 + "x";
    CliRun longer = run_cli("edit " + image + " 1 --title '" + title48 + "'");
    EXPECT_EQ(longer.status, 2);
    EXPECT_EQ(longer.err,
              "The title is 48 characters long; at most 47 fit. Nothing was changed.\n");
    CliRun channel32 = run_cli("edit " + image + " 1 --channel " + std::string(32, 'c'));
    EXPECT_EQ(channel32.status, 2);
    EXPECT_EQ(run_cli("edit " + image + " 9 --locked").status, 1);
    EXPECT_EQ(run_cli("edit " + image + " 1 --locked --no-locked").status, 2);
    EXPECT_EQ(run_cli("edit " + image + " 1").status, 2);
    EXPECT_EQ(image_digest(image), before);
    ASSERT_EQ(run_cli("edit " + image + " 1 --title '" + title47 + "'").status, 0);
    EXPECT_EQ(listing(image)[0]["user_title"], title47);
}

TEST(MaintenanceCommands, MoveAtTheEndsAndDeleteWithoutAnAnswer) {
    TempDir dir;
    std::string image = sample_image(dir);
    std::string before = image_digest(image);
    CliRun top = run_cli("move " + image + " 1 up");
    EXPECT_EQ(top.status, 1);
    EXPECT_EQ(top.err, "Recording 1 is already the first; nothing was changed.\n");
    EXPECT_EQ(run_cli("move " + image + " 5 down").status, 1);
    EXPECT_EQ(run_cli("move " + image + " 2 sideways").status, 2);
    CliRun ask = run_cli("delete " + image + " 1");
    EXPECT_EQ(ask.status, 2);
    EXPECT_EQ(image_digest(image), before);
    CliRun down = run_cli("move " + image + " 1 down");
    ASSERT_EQ(down.status, 0) << down.err;
    EXPECT_EQ(down.out, "Recording 1 is now number 2: Ski-WM \xC3\x85re\n");
    EXPECT_EQ(listing(image)[0]["title"], "arte");
    CliRun del = run_cli("delete " + image + " 2 --yes");
    EXPECT_EQ(del.out, "Deleted recording 2: 'Ski-WM \xC3\x85re'.\n");
}

TEST(MaintenanceCommands, RestoreGoesOnPastAFileThatFails) {
    TempDir dir;
    std::string image = sample_image(dir);
    ASSERT_EQ(run_cli("backup " + image + " 2 " + dir.file("a.mmr")).status, 0);
    // An existing file is not replaced without --force, and the disk itself never.
    CliRun again = run_cli("backup " + image + " 2 " + dir.file("a.mmr"));
    EXPECT_EQ(again.status, 2);
    EXPECT_EQ(run_cli("backup " + image + " 2 " + image + " --force").status, 2);
    // Nor a special file: the finished backup would be renamed over it.
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_EQ(run_cli("backup " + image + " 2 " + dir.file("fifo") + " --force").status, 2);
    struct stat st {};
    EXPECT_TRUE(stat(dir.file("fifo").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    EXPECT_EQ(run_cli("backup " + image + " 2 " + dir.file("a.mmr") + " --force").status, 0);
    CliRun r =
        run_cli("restore " + image + " " + dir.file("missing.mmr") + " " + dir.file("a.mmr"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Restore Operation Successful.\n");
    EXPECT_NE(r.err.find("Could not open input file. (" + dir.file("missing.mmr") +
                         ": No such file or directory)\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(listing(image).size(), 6u);
    CliRun none = run_cli("restore " + image + " " + dir.file("missing.mmr"));
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
}

TEST(MaintenanceCommands, DiagnoseShowsTheDialogsLinesAndJson) {
    TempDir dir;
    std::string image = sample_image(dir);
    CliRun d = run_cli("diagnose " + image);
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_EQ(d.out,
              "File System Error Notification: No Message [Ok]\n"
              "FAT Size: 48 clusters (0.38 GB)\n"
              "Allocated Space: 7 clusters (0.05 GB)\n"
              "Linked Clusters: 7 [Ok]\n"
              "Number of strings: 5 [Ok]\n"
              "FAT Termination: Correct\n"
              "FAT Integrity: Correct\n"
              "FAT CRC: Correct\n");
    // One table word changed behind the checksum's back: a chain now loops.
    {
        std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(FAT_SECTOR * SECTOR_SIZE + 2 * 6);
        const char loop[2] = {char(0x80), char(0x04)};  // 9 -> 4 -> 6 -> 4 ...
        f.write(loop, 2);
    }
    CliRun j = run_cli("diagnose " + image + " --json");
    ASSERT_EQ(j.status, 1) << j.err;  // a fault
    nlohmann::json v = nlohmann::json::parse(j.out);
    EXPECT_EQ(v["notification"], "");
    EXPECT_EQ(v["fat_entries"], 48);
    EXPECT_EQ(v["recording_count"], 5);
    EXPECT_EQ(v["checksum_ok"], false);
    EXPECT_EQ(v["entries_in_bounds"], true);
    EXPECT_EQ(v["chain_loops"], true);
    EXPECT_EQ(v["termination_found"], true);
    CliRun t = run_cli("diagnose " + image);
    EXPECT_NE(t.out.find("FAT Integrity: Error: Cluster chain loops back on itself!\n"),
              std::string::npos);
    EXPECT_NE(t.out.find("FAT CRC: Error: Incorrect CRC!\n"), std::string::npos);
}

TEST(MaintenanceCommands, WritingCommandsLeaveAnImageTheyCannotWriteAlone) {
    TempDir dir;
    std::string image = sample_image(dir);
    ASSERT_EQ(run_cli("backup " + image + " 2 " + dir.file("a.mmr")).status, 0);
    chmod(image.c_str(), 0444);
    chmod(dir.file("a.mmr").c_str(), 0444);
    // Root may write a file without write permission: the commands run as nobody.
    std::string as = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    if (!as.empty() && system("setpriv --reuid=65534 --regid=65534 --clear-groups true") != 0)
        GTEST_SKIP() << "cannot run a command as another user here";
    std::string before = image_digest(image);
    for (const std::string& args :
         {"edit " + image + " 1 --locked", "move " + image + " 1 down",
          "delete " + image + " 1 --yes", "restore " + image + " " + dir.file("a.mmr"),
          "recover " + image + " --yes"}) {
        CliRun r = run_cli(args, as);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.err, "Cannot open " + image +
                             " for writing (its file mode allows no writing); nothing was changed. "
                             "To allow changes: chmod u+w '" +
                             image + "'\n")
            << args;
    }
    EXPECT_EQ(run_cli("diagnose " + image, as).status, 0);
    EXPECT_EQ(image_digest(image), before);
}

}  // namespace
}  // namespace quarrow
