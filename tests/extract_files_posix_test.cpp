// Extraction into real files: names, creation, what a failure leaves, the command line, and the
// sample disk's recordings as ffprobe sees them.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "extract/extraction_engine.h"
#include "fs/layout.h"
#include "support/disk_builder.h"
#include "support/run_program_posix.h"
#include "support/sample_disk.h"
#include "support/temp_files.h"

namespace quarrow {
namespace {

using Bytes = std::vector<uint8_t>;

using test::TempDir;

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

Bytes filler(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(0x80 | ((i * 7 + seed) & 0x7F));
    return b;
}

// Video blocks, the first opening with a sequence header, and audio blocks of one PES packet.
test::TestRecording small_recording(const std::string& title, int pairs) {
    test::TestRecording r;
    r.default_title = title;
    for (int i = 0; i < pairs; ++i) {
        Bytes v = filler(1500, uint8_t(i));
        if (i == 0) v[0] = 0, v[1] = 0, v[2] = 1, v[3] = 0xB3;
        test::append_stream_block(r.data, STREAM_BLOCK_VIDEO, v.data(), uint32_t(v.size()));
        Bytes frame = filler(600, uint8_t(i));
        frame[0] = 0xFF, frame[1] = 0xFC;
        Bytes a = test::audio_pes_packet(frame.data(), frame.size(), 90000);
        test::append_stream_block(r.data, STREAM_BLOCK_AUDIO, a.data(), uint32_t(a.size()));
    }
    return r;
}

// A disk image file with the given recordings (oldest first).
std::string write_image(const TempDir& dir, std::vector<test::TestRecording> recordings,
                        uint16_t cluster_count = 4) {
    test::TestDisk disk;
    disk.cluster_count = cluster_count;
    disk.recordings = std::move(recordings);
    std::string path = dir.file("disk.hex");
    DiskHandle out = create_output_file(path.c_str());
    EXPECT_TRUE(out && test::write_test_disk(disk, out));
    close_disk(out);
    return path;
}

struct Extraction {
    char message[MESSAGE_SIZE] = "";
    int result = -1;
};

Extraction extract(const std::string& image, uint16_t cluster, int32_t length, int audio_type,
                   bool no_video, const std::string& path, const std::string& prefix,
                   const OperationHooks* hooks = nullptr,
                   const volatile std::sig_atomic_t* interrupt = nullptr) {
    Extraction e;
    DiskHandle disk = open_image_file(image.c_str(), false);
    ExtractionRequest r;
    r.first_cluster = cluster;
    r.length = length;
    r.audio_type = audio_type;
    r.auto_video_sync = false;
    r.no_video = no_video;
    r.path = path.c_str();
    r.prefix = prefix.c_str();
    r.hooks = hooks;
    r.interrupt = interrupt;
    e.result = extract_recording(disk, r, e.message);
    close_disk(disk);
    return e;
}

TEST(ExtractFiles, WritesBothFilesAndReplacesOldOnes) {
    TempDir dir;
    std::string image = write_image(dir, {small_recording("A", 6)});
    ASSERT_TRUE(test::write_file(dir.file("out.m2v"), Bytes(100000, 0x42)));
    Extraction e = extract(image, 0, 1000, AUDIO_TYPE_MP2, false, dir.path, "out");
    EXPECT_EQ(e.result, 1);
    EXPECT_STREQ(e.message, "The extraction has completed successfully.");
    Bytes video = test::read_file_bytes(dir.file("out.m2v"));
    ASSERT_EQ(video.size(), 6u * 1500);  // replaced, not overwritten in place
    EXPECT_EQ(video[3], 0xB3);
    EXPECT_TRUE(exists(dir.file("out.mp2")));
    EXPECT_FALSE(exists(dir.file("out.mpg")));
    // A folder path that ends with its separator gives a doubled one, which is accepted.
    e = extract(image, 0, 1000, AUDIO_TYPE_MPG, false, dir.path + "/", "again");
    EXPECT_EQ(e.result, 1);
    EXPECT_TRUE(exists(dir.file("again.mpg")));
}

// Blocks of one kind or two: audio only (a radio recording), or video that never opens a
// sequence, with or without audio after each video block.
test::TestRecording without_sequence(bool video, bool audio) {
    test::TestRecording r = small_recording("A", 4);
    r.data.clear();
    for (int i = 0; i < 4; ++i) {
        Bytes v = filler(1500, uint8_t(i));
        if (video)
            test::append_stream_block(r.data, STREAM_BLOCK_VIDEO, v.data(), uint32_t(v.size()));
        Bytes frame = filler(600, uint8_t(i));
        frame[0] = 0xFF, frame[1] = 0xFC;
        Bytes a = test::audio_pes_packet(frame.data(), frame.size(), 90000);
        if (audio)
            test::append_stream_block(r.data, STREAM_BLOCK_AUDIO, a.data(), uint32_t(a.size()));
    }
    return r;
}

TEST(ExtractFiles, NothingToWriteLeavesNoEmptyFilesAndSaysWhy) {
    struct Case {
        bool video, audio, no_video;
        int result;
        const char* message;  // its start; null for success
    } cases[] = {
        {false, true, false, 0,
         "Nothing was extracted. (the video has no sequence header, so no audio passed: leave "
         "the video out for an audio-only recording)"},
        {true, true, false, 0, "Nothing was extracted. (the video has no sequence header"},
        {true, false, false, 0,
         "Nothing was extracted. (the range holds no video sequence header and no audio)"},
        {true, false, true, 0, "Nothing was extracted. (the range holds no audio)"},
        {false, true, true, 1, nullptr},  // the way out: audio alone
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::string image = write_image(dir, {without_sequence(c.video, c.audio)});
        ASSERT_TRUE(test::write_file(dir.file("out.mp2"), Bytes(10, 0x42)));
        Extraction e = extract(image, 0, 1000, AUDIO_TYPE_MP2, c.no_video, dir.path, "out");
        EXPECT_EQ(e.result, c.result) << e.message;
        if (c.message) {
            EXPECT_EQ(std::string(e.message).rfind(c.message, 0), 0u) << e.message;
            EXPECT_FALSE(exists(dir.file("out.m2v"))) << c.message;
            EXPECT_EQ(test::read_file_bytes(dir.file("out.mp2")), Bytes(10, 0x42)) << c.message;
        } else {
            EXPECT_GT(test::file_size(dir.file("out.mp2")), 10);
        }
    }
}

TEST(ExtractFiles, NoVideoCreatesNoVideoFileAndLeavesAnOldOne) {
    TempDir dir;
    std::string image = write_image(dir, {small_recording("A", 4)});
    ASSERT_TRUE(test::write_file(dir.file("out.m2v"), Bytes(10, 0x42)));
    Extraction e = extract(image, 0, 1000, AUDIO_TYPE_MPG, true, dir.path, "out");
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(test::read_file_bytes(dir.file("out.m2v")), Bytes(10, 0x42));
    EXPECT_FALSE(test::read_file_bytes(dir.file("out.mpg")).empty());
}

// File names are UTF-8 here: the engine takes them as they are (the front end converts the
// disk's Latin-1 titles).
TEST(ExtractFiles, Utf8NamesAreTakenAsTheyAre) {
    TempDir dir;
    std::string image = write_image(dir, {small_recording("A", 2)});
    Extraction e = extract(image, 0, 1000, AUDIO_TYPE_MP2, false, dir.path, "Caf\xC3\xA9 \xC3\xA6");
    EXPECT_EQ(e.result, 1);
    EXPECT_TRUE(exists(dir.file("Caf\xC3\xA9 \xC3\xA6.m2v")));
}

TEST(ExtractFiles, RefusedNamesCreateNothing) {
    TempDir dir;
    std::string image = write_image(dir, {small_recording("A", 2)});
    Extraction e = extract(image, 0, 1000, AUDIO_TYPE_MP2, false, dir.path, "a:b");
    EXPECT_EQ(e.result, 0);
    EXPECT_STREQ(e.message, "File Prefix contains invalid characters.");
    e = extract(image, 0, 1000, AUDIO_TYPE_MP2, false, dir.path + "/x?", "ab");
    EXPECT_STREQ(e.message, "Path contains invalid characters.");
    // The system's own limit here (PATH_MAX), not the 260 bytes of the Windows ANSI calls.
    e = extract(image, 0, 1000, AUDIO_TYPE_MP2, false, dir.path, std::string(5000, 'p'));
    EXPECT_STREQ(e.message, "Invalid Path or Prefix (too long).");
    EXPECT_FALSE(exists(dir.file("a:b.m2v")));
    EXPECT_EQ(test::read_file_bytes(dir.file("disk.hex")).empty(), false);
}

// The names in a folder, sorted: what an extraction left there.
std::vector<std::string> folder_names(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ExtractFiles, FilesThatCannotBeCreated) {
    TempDir dir;
    std::string image = write_image(dir, {small_recording("A", 2)});
    Extraction e = extract(image, 0, 1000, AUDIO_TYPE_MP2, false, dir.file("missing"), "p");
    EXPECT_EQ(e.result, 0);
    EXPECT_STREQ(e.message, "Could not create output file.");
    // The audio file's name is taken by a folder: nothing is written, an earlier video file
    // stays as it was.
    mkdir(dir.file("p.mp2").c_str(), 0755);
    ASSERT_TRUE(test::write_file(dir.file("p.m2v"), Bytes(10, 0x42)));
    e = extract(image, 0, 1000, AUDIO_TYPE_MP2, false, dir.path, "p");
    EXPECT_EQ(e.result, 0);
    EXPECT_STREQ(e.message, "Could not create output file.");
    EXPECT_EQ(test::read_file_bytes(dir.file("p.m2v")), Bytes(10, 0x42));
    EXPECT_EQ(folder_names(dir.path), (std::vector<std::string>{"disk.hex", "p.m2v", "p.mp2"}));
}

// A failed read and an interrupt midway: the earlier files of the same names stay byte for
// byte, and no temporary file is left.
TEST(ExtractFiles, AFailedOrInterruptedExtractionLeavesEarlierFilesAsTheyWere) {
    TempDir dir;
    test::TestRecording r = small_recording("A", 1);
    while (r.data.size() < size_t(CLUSTER_DATA_BYTES + 4096)) {
        Bytes v = filler(100 * SECTOR_SIZE, 3);
        test::append_stream_block(r.data, STREAM_BLOCK_VIDEO, v.data(), uint32_t(v.size()));
    }
    r.clusters = {1, 2};
    std::string image = write_image(dir, {r});
    ASSERT_TRUE(test::write_file(dir.file("cut.m2v"), Bytes(5000, 0x11)));
    ASSERT_TRUE(test::write_file(dir.file("cut.mp2"), Bytes(700, 0x22)));
    std::vector<std::string> before = folder_names(dir.path);

    // Interrupted after the third block, as Ctrl-C stops the command line's walk.
    volatile std::sig_atomic_t interrupt = 0;
    OperationHooks hooks{};
    hooks.context = const_cast<std::sig_atomic_t*>(&interrupt);
    hooks.progress = [](void* c, int64_t done, int64_t) {
        if (done > 0) *static_cast<std::sig_atomic_t*>(c) = 1;
    };
    Extraction e =
        extract(image, 1, 100000, AUDIO_TYPE_MP2, false, dir.path, "cut", &hooks, &interrupt);
    EXPECT_EQ(e.result, 0);
    EXPECT_STREQ(e.message, EXTRACTION_INTERRUPTED);
    EXPECT_EQ(folder_names(dir.path), before);

    // Cut the image inside the second cluster: its read comes up short.
    ASSERT_EQ(truncate(image.c_str(), cluster_data_sector(2) * SECTOR_SIZE + 4096), 0);
    e = extract(image, 1, 100000, AUDIO_TYPE_MP2, false, dir.path, "cut");
    EXPECT_EQ(e.result, 0);
    EXPECT_STREQ(e.message, "Error while accessing 2nd cluster (FAT Entry 2)");
    EXPECT_EQ(test::read_file_bytes(dir.file("cut.m2v")), Bytes(5000, 0x11));
    EXPECT_EQ(test::read_file_bytes(dir.file("cut.mp2")), Bytes(700, 0x22));
    EXPECT_EQ(folder_names(dir.path), before);
}

// A recording over clusters 1, 2 and 3 in an image cut at the start of cluster 3, and the same
// recording's whole extraction for comparison.
struct CutShort {
    // The video payloads of the blocks wholly inside the first two clusters (100 of every 101
    // sectors), less one block.
    static constexpr size_t TWO_CLUSTERS_OF_VIDEO =
        size_t(2 * CLUSTER_DATA_SECTORS / 101 - 1) * 100 * SECTOR_SIZE;
    TempDir dir;
    std::string image;
    Bytes whole_video;
    CutShort() {
        test::TestRecording r = small_recording("A", 1);
        while (r.data.size() < size_t(2 * CLUSTER_DATA_BYTES + 4096)) {
            Bytes v = filler(100 * SECTOR_SIZE, 3);
            test::append_stream_block(r.data, STREAM_BLOCK_VIDEO, v.data(), uint32_t(v.size()));
        }
        r.clusters = {1, 2, 3};
        image = write_image(dir, {r});
        mkdir(dir.file("whole").c_str(), 0755);
        EXPECT_EQ(extract(image, 1, 100000, AUDIO_TYPE_MP2, false, dir.file("whole"), "v").result,
                  1);
        whole_video = test::read_file_bytes(dir.file("whole/v.m2v"));
        EXPECT_EQ(truncate(image.c_str(), cluster_first_sector(3) * SECTOR_SIZE), 0);
    }
};

// A read that fails at the third cluster keeps the first two clusters' output where no file of
// the name existed, and an earlier file byte-identical where one did.
TEST(ExtractFiles, AFailureAtTheThirdClusterKeepsWhatCameBeforeOnlyWhereItReplacesNothing) {
    CutShort cut;
    for (bool earlier : {false, true}) {
        SCOPED_TRACE(earlier ? "an earlier file" : "no earlier file");
        std::string folder = cut.dir.file(earlier ? "earlier" : "fresh");
        mkdir(folder.c_str(), 0755);
        if (earlier) {
            ASSERT_TRUE(test::write_file(folder + "/cut.m2v", Bytes(5000, 0x11)));
        }
        std::vector<std::string> notices;
        OperationHooks hooks{};
        hooks.context = &notices;
        hooks.notice = [](void* c, const char* text) {
            static_cast<std::vector<std::string>*>(c)->push_back(text);
        };
        Extraction e = extract(cut.image, 1, 100000, AUDIO_TYPE_MP2, false, folder, "cut", &hooks);
        EXPECT_EQ(e.result, 0);
        EXPECT_STREQ(e.message, "Error while accessing data cluster (FAT Entry 3)");
        Bytes video = test::read_file_bytes(folder + "/cut.m2v");
        if (earlier) {
            EXPECT_EQ(video, Bytes(5000, 0x11));
            EXPECT_EQ(folder_names(folder), std::vector<std::string>{"cut.m2v"});
            continue;
        }
        // Everything before the block that reaches into the third cluster, and nothing else.
        ASSERT_GT(video.size(), CutShort::TWO_CLUSTERS_OF_VIDEO);
        EXPECT_TRUE(std::equal(video.begin(), video.end(), cut.whole_video.begin()));
        // The audio file had nothing written to it: there is none.
        EXPECT_EQ(folder_names(folder), std::vector<std::string>{"cut.m2v"});
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].rfind("The extraction stopped after ", 0), 0u) << notices[0];
    }
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARROW_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QUARROW_ASAN 1
#endif
// AddressSanitizer reserves its shadow memory up front, so the address-space limit below would
// stop it rather than the allocation.
#if !defined(QUARROW_ASAN)
TEST(ExtractFilesDeathTest, BufferThatCannotBeAllocatedFailsWithAMessage) {
    TempDir dir;
    std::string image = write_image(dir, {small_recording("A", 2)});
    EXPECT_EXIT(
        {
            // Leave the process no room for the 16 MB working buffer.
            struct rlimit limit;
            getrlimit(RLIMIT_AS, &limit);
            FILE* maps = fopen("/proc/self/statm", "r");
            unsigned long pages = 0;
            if (!maps || fscanf(maps, "%lu", &pages) != 1) _exit(3);
            fclose(maps);
            limit.rlim_cur = pages * uint64_t(sysconf(_SC_PAGESIZE)) + (4 << 20);
            setrlimit(RLIMIT_AS, &limit);
            Extraction e = extract(image, 0, 1000, AUDIO_TYPE_MP2, false, dir.path, "p");
            fprintf(stderr, "%s", e.message);
            _exit(e.result == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "Not enough memory for the extraction");
}
#endif

// ---- The command line ----

struct CliRun {
    int status = -1;
    std::string out, err;
};

CliRun run_cli(const std::string& args) {
    test::ProgramResult r = test::run_program(std::string(QUARROW_CLI_PATH) + " " + args);
    return {r.status, r.out, r.err};
}

TEST(ExtractCommand, MessagesOnTheirStreamsAndExitCodes) {
    TempDir dir;
    std::string image = write_image(dir, {small_recording("Caf\xE9: Noel", 3)});
    CliRun ok = run_cli("extract " + image + " 1 -o " + dir.path);
    EXPECT_EQ(ok.status, 0) << ok.err;
    // The title folded to ASCII, the colon a prefix may not hold made "_".
    EXPECT_EQ(ok.out, "The extraction has completed successfully.\n  " + dir.path +
                          "/Cafe_ Noel.m2v\n  " + dir.path + "/Cafe_ Noel.mp2\n");
    EXPECT_EQ(ok.err, "");  // stderr is no terminal: no progress bar
    // A refused --prefix is a wrong command line, told before the disk is opened.
    CliRun bad = run_cli("extract " + image + " 1 -o " + dir.path + " --prefix 'a|b'");
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "File Prefix contains invalid characters. ('|')\n");
    EXPECT_EQ(bad.out, "");
    // A range of the first video block and one audio block after it (--length 3 held no audio
    // block, and an extraction that writes nothing fails).
    CliRun mpg = run_cli("extract " + image + " 1 -o " + dir.path + " --prefix x --audio mpg " +
                         "--no-video --sync 5 --no-auto-sync --start 0 --length 12 --quiet");
    EXPECT_EQ(mpg.status, 0) << mpg.err;
    EXPECT_TRUE(exists(dir.file("x.mpg")));
    EXPECT_FALSE(exists(dir.file("x.m2v")));
    EXPECT_EQ(run_cli("extract " + image + " 1 --sync 6").status, 2);
    EXPECT_EQ(run_cli("extract " + image + " 1 --audio wav").status, 2);
    EXPECT_EQ(run_cli("extract " + image + " 2").status, 1);
    EXPECT_EQ(run_cli("extract " + image + " all --prefix p").status, 2);
    // A prefix that does not fit Latin-1 is a file name like any other here.
    CliRun wide = run_cli("extract " + image + " 1 -o " + dir.path + " --prefix '\xE2\x82\xAC'");
    EXPECT_EQ(wide.status, 0);
}

TEST(ExtractCommand, AnAudioOnlyRecordingNamesTheWayOut) {
    TempDir dir;
    std::string image = write_image(dir, {without_sequence(false, true)});
    CliRun none = run_cli("extract " + image + " 1 -q -o " + dir.path + " --prefix r");
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err,
              "Nothing was extracted. (the video has no sequence header, so no audio passed; for "
              "an audio-only recording give --no-video)\n");
    EXPECT_FALSE(exists(dir.file("r.m2v")));
    EXPECT_FALSE(exists(dir.file("r.mp2")));
    EXPECT_EQ(
        run_cli("extract " + image + " 1 -q --no-video -o " + dir.path + " --prefix r").status, 0);
    EXPECT_GT(test::file_size(dir.file("r.mp2")), 0);
}

TEST(ExtractCommand, SkippedSectorsNoticeGoesToStderrBeforeSuccess) {
    TempDir dir;
    test::TestRecording r = small_recording("N", 3);
    r.start_offset = 0;
    std::string image = write_image(dir, {r});
    // From sector 1 the video's one sequence header is skipped: audio alone (--no-video) is
    // written, since an extraction that writes nothing fails.
    CliRun run =
        run_cli("extract " + image + " 1 -o " + dir.path + " --start 1 --length 17 --no-video");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "Skipped 3 sectors during extraction (unexpected data sectors).\n");
}

// Clusters past the end of an image cut short are unreadable, not the end of the extraction:
// with --skip-bad it goes on to the end of the range, names them and keeps its files (exit 1).
TEST(ExtractCommand, AnImageCutShortExtractsWithSkipBadUpToItsEndAndNamesTheMissingClusters) {
    CutShort cut;
    CliRun run = run_cli("extract " + cut.image + " 1 --skip-bad --prefix cut -o " + cut.dir.path);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("Unreadable: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(") in cluster 3\n"), std::string::npos) << run.err;
    // One verdict: sectors were skipped, so no success text, only the files written.
    EXPECT_EQ(run.out.rfind("Files written:", 0), 0u) << run.out;
    // Up to the end of the image as extracted whole; zeros stand for what it lacks.
    Bytes video = test::read_file_bytes(cut.dir.file("cut.m2v"));
    ASSERT_GT(video.size(), CutShort::TWO_CLUSTERS_OF_VIDEO);
    EXPECT_TRUE(std::equal(video.begin(), video.begin() + CutShort::TWO_CLUSTERS_OF_VIDEO,
                           cut.whole_video.begin()));
}

// A start without a length runs to the recording's end and succeeds; a start past its end is
// refused.
TEST(ExtractCommand, StartWithoutLengthEndsAtTheRecordingsEnd) {
    TempDir dir;
    test::TestRecording r = small_recording("N", 3);
    r.start_offset = 0;
    int32_t sectors = int32_t(r.data.size() / SECTOR_SIZE);
    std::string image = write_image(dir, {r});
    struct Case {
        int32_t start;
        int status;
        const char* err;
    } cases[] = {
        {0, 0, ""},
        // The last sector alone holds no stream block: nothing to write, and it says so.
        {sectors - 1, 1,
         "Skipped 1 sectors during extraction (unexpected data sectors).\nNothing was extracted. "
         "(the range holds no video sequence header and no audio)\n"},
        {sectors, 1, "The start sector lies outside the recording's data.\n"},
    };
    for (const Case& c : cases) {
        CliRun run = run_cli("extract " + image + " 1 -q -o " + dir.path + " --start " +
                             std::to_string(c.start));
        EXPECT_EQ(run.status, c.status) << c.start << ": " << run.err;
        EXPECT_EQ(run.err, c.err) << c.start;
    }
}

TEST(ExtractCommand, AllGivesEachRecordingItsOwnFiles) {
    TempDir dir;
    std::string image = write_image(dir, {small_recording("News", 2), small_recording("news", 2),
                                          small_recording("News", 2), small_recording("", 2)});
    CliRun run = run_cli("extract " + image + " all -q -o " + dir.path);
    EXPECT_EQ(run.status, 0) << run.err;
    // Newest first: the recording without a title (its channel "Channel"), then the Newses.
    for (const char* name : {"Channel", "News", "news (2)", "News (3)"})
        EXPECT_TRUE(exists(dir.file(std::string(name) + ".m2v"))) << name << "\n" << run.out;
}

// ---- The sample disk through ffprobe ----

bool have_ffprobe() {
    return system("ffprobe -version >/dev/null 2>&1") == 0;
}

std::string ffprobe(const std::string& file, const std::string& entries) {
    test::ProgramResult r =
        test::run_program("ffprobe -v error -count_frames -show_entries " + entries +
                          " -of default=noprint_wrappers=1 " + test::shell_quote(file));
    return r.status == 0 ? r.out : "";
}

std::string field(const std::string& text, const std::string& key) {
    size_t at = text.find(key + "=");
    if (at == std::string::npos) return "";
    size_t end = text.find('\n', at);
    return text.substr(at + key.size() + 1, end - at - key.size() - 1);
}

// The recording's blocks read back independently of the engine.
struct Blocks {
    std::vector<std::pair<uint8_t, Bytes>> list;
};
Blocks parse_blocks(const Bytes& data) {
    Blocks b;
    for (size_t at = 0; at + SECTOR_SIZE <= data.size();) {
        const uint8_t* h = data.data() + at;
        uint32_t sectors = read_be16(h + BLOCK_PAYLOAD_SECTORS), bytes = read_be32(h + 12);
        b.list.emplace_back(h[7], Bytes(h + SECTOR_SIZE, h + SECTOR_SIZE + bytes));
        at += SECTOR_SIZE * (1 + size_t(sectors));
    }
    return b;
}

size_t find(const Bytes& b, const Bytes& code, size_t from = 0) {
    for (size_t i = from; i + code.size() <= b.size(); ++i)
        if (std::equal(code.begin(), code.end(), b.begin() + i)) return i;
    return std::string::npos;
}

// Frames a decoder shows from the first sequence header on: every picture, less the B pictures
// that lead an open first group (they refer to pictures before the cut).
int expected_frames(const Bytes& video) {
    int pictures = 0, leading_b = 0;
    bool open_gop = false, past_first_ip = false;
    int seen_i = 0;
    for (size_t i = 0; i + 6 <= video.size(); ++i) {
        if (video[i] || video[i + 1] || video[i + 2] != 1) continue;
        if (video[i + 3] == 0xB8 && pictures == 0) open_gop = !(video[i + 7] & 0x40);
        if (video[i + 3] != 0x00) continue;
        ++pictures;
        int type = (video[i + 5] >> 3) & 7;
        if (type == 1 && ++seen_i > 1) past_first_ip = true;
        if (type == 2) past_first_ip = true;
        if (type == 3 && !past_first_ip) ++leading_b;
    }
    return pictures - (open_gop ? leading_b : 0);
}

TEST(ExtractSample, FfprobeReadsTheVideoAndTheAudioOfEveryRecording) {
    if (!have_ffprobe()) GTEST_SKIP() << "ffprobe is not installed";
    test::SampleMedia media;
    ASSERT_TRUE(test::load_sample_media("", &media));
    test::TestDisk disk = test::sample_disk(media);
    TempDir dir;
    std::string image = dir.file("sample.hex");
    DiskHandle out = create_output_file(image.c_str());
    ASSERT_TRUE(out && test::write_sample_disk(disk, out));
    close_disk(out);
    int n = int(disk.recordings.size());
    for (int number = 1; number <= n; ++number) {
        const test::TestRecording& r = disk.recordings[size_t(n - number)];
        std::string prefix = "r" + std::to_string(number);
        CliRun run = run_cli("extract " + image + " " + std::to_string(number) + " -o " + dir.path +
                             " --prefix " + prefix);
        ASSERT_EQ(run.status, 0) << run.err;

        // Video: the recording's video stream from its first sequence header, byte for byte.
        Blocks blocks = parse_blocks(r.data);
        Bytes video;
        for (auto& b : blocks.list)
            if (b.first == STREAM_BLOCK_VIDEO)
                video.insert(video.end(), b.second.begin(), b.second.end());
        video.erase(video.begin(), video.begin() + long(find(video, {0, 0, 1, 0xB3})));
        std::string m2v = dir.file(prefix + ".m2v");
        EXPECT_EQ(test::read_file_bytes(m2v), video) << number;
        std::string v = ffprobe(m2v, "stream=codec_name,nb_read_frames");
        EXPECT_EQ(field(v, "codec_name"), "mpeg2video") << number;
        EXPECT_EQ(field(v, "nb_read_frames"), std::to_string(expected_frames(video))) << number;

        // Audio with the default options (sync 1, auto sync): the countdown runs out within the
        // first groups of pictures; the first audio block let through is dropped; the .mp2
        // then plays for its length at 192 kbit/s, whole frames but the last (16 bytes short).
        Bytes mp2 = test::read_file_bytes(dir.file(prefix + ".mp2"));
        ASSERT_GT(mp2.size(), 10000u) << number;
        EXPECT_EQ(mp2[0], 0xFF);
        EXPECT_EQ(mp2[1], 0xFC);
        std::string a = ffprobe(dir.file(prefix + ".mp2"), "stream=codec_name,duration");
        EXPECT_EQ(field(a, "codec_name"), "mp2") << number;
        double expected = double(mp2.size()) * 8 / 192000;
        EXPECT_NEAR(atof(field(a, "duration").c_str()), expected, 0.03) << number;
        double recording = r.duration / 100.0;
        EXPECT_GT(expected, recording * 0.25) << number;
        EXPECT_LT(expected, recording + 0.05) << number;
        EXPECT_EQ(mp2.size() % 576, 576u - 16) << number;
    }
    // The .mpg: audio PES packets that ffprobe reads as MPEG audio.
    CliRun run =
        run_cli("extract " + image + " 1 -o " + dir.path + " --prefix pes --audio mpg --no-video");
    ASSERT_EQ(run.status, 0) << run.err;
    std::string p = ffprobe(dir.file("pes.mpg"), "stream=codec_name:format=format_name");
    EXPECT_EQ(field(p, "codec_name"), "mp2");
    EXPECT_EQ(field(p, "format_name"), "mpeg");
}

}  // namespace
}  // namespace quarrow
