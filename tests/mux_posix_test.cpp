// The one-file output (extract --mux): the program stream read back by a parser of its own
// (packs, SCR, PTS/DTS, the decoder buffers), decoded by ffmpeg, counted by ffprobe and taken by
// dvdauthor, on the sample disk and on a recording with a 3:2 pulldown stretch; the command
// line's rules for the new options.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "extract/program_stream.h"
#include "fs/layout.h"
#include "support/disk_builder.h"
#include "support/program_stream_probe.h"
#include "support/run_program_posix.h"
#include "support/sample_disk.h"
#include "support/temp_files.h"

namespace quarrow {
namespace {

using Bytes = std::vector<uint8_t>;
using test::shell_quote;

bool have(const char* tool) {
    return test::run_program(std::string("command -v ") + tool).status == 0;
}

test::ProgramResult quarrow(const std::string& args) {
    return test::run_program(shell_quote(QUARROW_CLI_PATH) + " " + args);
}

// ffprobe's count of decoded frames per stream type ("video", "audio").
std::map<std::string, int> frame_counts(const std::string& file) {
    test::ProgramResult r = test::run_program(
        "ffprobe -v error -count_frames -show_entries stream=codec_type,nb_read_frames -of "
        "csv=p=0 " +
        shell_quote(file));
    std::map<std::string, int> counts;
    size_t at = 0;
    while (at < r.out.size()) {
        size_t end = r.out.find('\n', at);
        std::string line = r.out.substr(at, end - at);
        size_t comma = line.find(',');
        if (comma != std::string::npos)
            counts[line.substr(0, comma)] = atoi(line.c_str() + comma + 1);
        at = end == std::string::npos ? r.out.size() : end + 1;
    }
    return counts;
}

std::string decode_errors(const std::string& file) {
    return test::run_program("ffmpeg -v error -err_detect crccheck -i " + shell_quote(file) +
                             " -f null - 2>&1")
        .out;
}

std::string probe_faults(const test::ProbedProgramStream& ps) {
    std::string all;
    for (const std::string& f : ps.faults)
        all += f + "\n";
    return all;
}

std::string write_image(const test::TempDir& dir, test::TestDisk disk) {
    std::string path = dir.file("disk.hex");
    DiskHandle out = create_output_file(path.c_str());
    EXPECT_TRUE(out && test::write_sample_disk(disk, out));
    close_disk(out);
    return path;
}

TEST(MuxSample, EveryRecordingIsAProgramStreamThatDecodersAndDvdauthorTake) {
    if (!have("ffprobe") || !have("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    test::SampleMedia media;
    ASSERT_TRUE(test::load_sample_media("", &media));
    test::TempDir dir;
    std::string image = write_image(dir, test::sample_disk(media));
    for (int n = 1; n <= 5; ++n) {
        std::string p = "r" + std::to_string(n), m = "m" + std::to_string(n);
        std::string common =
            shell_quote(image) + " " + std::to_string(n) + " -q -o " + shell_quote(dir.path);
        ASSERT_EQ(quarrow("extract " + common + " --prefix " + p).status, 0);
        test::ProgramResult run = quarrow("extract " + common + " --prefix " + m + " --mux");
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out.find(dir.file(m + ".mpg")), run.out.find("  /") + 2) << run.out;
        // Nothing was lost in the sample's broadcast: no gap is found either.
        EXPECT_EQ((run.out + run.err).find("Gap at"), std::string::npos) << n << run.err;
        EXPECT_EQ((run.out + run.err).find("repaired"), std::string::npos) << n << run.err;

        std::string mpg = dir.file(m + ".mpg");
        test::ProbedProgramStream ps = test::probe_program_stream(
            test::read_file_bytes(mpg), VIDEO_BUFFER_BYTES, AUDIO_BUFFER_BYTES);
        EXPECT_EQ(probe_faults(ps), "") << n;
        EXPECT_GT(ps.navigation_packs, 0) << n;
        EXPECT_EQ(decode_errors(mpg), "") << n;
        // The same pictures as the .m2v, the same audio frames as the .mp2 (nothing was lost
        // in the sample's broadcast, so no silence is added).
        std::map<std::string, int> muxed = frame_counts(mpg);
        EXPECT_EQ(muxed["video"], frame_counts(dir.file(p + ".m2v"))["video"]) << n;
        EXPECT_EQ(muxed["audio"], frame_counts(dir.file(p + ".mp2"))["audio"]) << n;
        // The first I-picture and the first audio frame are shown together.
        ASSERT_FALSE(ps.video.units.empty());
        ASSERT_FALSE(ps.audio.units.empty());
        EXPECT_EQ(ps.audio.units[0].pts, ps.video.units[0].pts) << n;
    }
    if (!have("dvdauthor")) GTEST_SKIP() << "dvdauthor is not installed";
    test::ProgramResult dvd =
        test::run_program("VIDEO_FORMAT=PAL dvdauthor -o " + shell_quote(dir.file("dvd")) + " -t " +
                          shell_quote(dir.file("m3.mpg")));
    EXPECT_EQ(dvd.status, 0) << dvd.err;
    EXPECT_NE(dvd.err.find("fixed 462 VOBUs"), std::string::npos) << dvd.err;
    EXPECT_GT(test::file_size(dir.file("dvd/VIDEO_TS/VTS_01_1.VOB")), 1 << 20);
}

// The fixture video as an interlaced broadcast whose middle pictures carry film in 3:2
// pulldown: every other one is shown for three fields.
Bytes with_pulldown(Bytes video, int from_picture, int to_picture, int* repeated) {
    int picture = -1;
    *repeated = 0;
    bool top_first = true;
    for (size_t i = 0; i + 9 < video.size(); ++i) {
        if (video[i] || video[i + 1] || video[i + 2] != 1) continue;
        if (video[i + 3] == 0x00) ++picture;
        if (video[i + 3] != 0xB5) continue;
        int id = video[i + 4] >> 4;
        if (id == 1) video[i + 5] &= uint8_t(~0x08);  // progressive_sequence 0
        if (id == 8 && picture >= from_picture && picture < to_picture) {
            bool repeat = picture % 2 == 0;
            video[i + 7] =
                uint8_t((video[i + 7] & 0x7D) | (top_first ? 0x80 : 0) | (repeat ? 2 : 0));
            video[i + 8] |= 0x80;  // progressive_frame, as film is
            if (repeat) top_first = !top_first, ++*repeated;
        } else if (id == 8) {
            video[i + 7] = uint8_t((video[i + 7] & 0x7D) | 0x80);
        }
    }
    return video;
}

TEST(MuxTiming, PulldownPicturesAreShownForThreeFieldsAndTheModelHolds) {
    if (!have("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    test::SampleMedia media;
    ASSERT_TRUE(test::load_sample_media("", &media));
    Bytes twice = media.video;
    twice.insert(twice.end(), media.video.begin(), media.video.end());
    int repeated = 0;
    Bytes video = with_pulldown(twice, 30, 90, &repeated);
    Bytes audio = media.audio;
    audio.insert(audio.end(), media.audio.begin(), media.audio.end());
    test::TestDisk disk;
    disk.cluster_count = 8;
    test::TestRecording r;
    r.default_title = "Film";
    r.data = test::broadcast_blocks(video, test::audio_pes_stream(audio, 1, 90000), 24, 1800);
    disk.recordings.push_back(r);
    test::TempDir dir;
    std::string image = write_image(dir, disk);
    test::ProgramResult run = quarrow("extract " + shell_quote(image) +
                                      " 1 -q --mux --prefix f -o " + shell_quote(dir.path));
    ASSERT_EQ(run.status, 0) << run.err;
    test::ProbedProgramStream ps = test::probe_program_stream(
        test::read_file_bytes(dir.file("f.mpg")), VIDEO_BUFFER_BYTES, AUDIO_BUFFER_BYTES);
    EXPECT_EQ(probe_faults(ps), "");
    EXPECT_EQ(decode_errors(dir.file("f.mpg")), "");
    // Each picture is shown when the pictures before it in display order (temporal reference
    // within its group) have been shown for their fields: two, or three for repeated ones.
    const Bytes& es = ps.video.data;
    struct Picture {
        int group, order, fields;
        size_t unit;
    };
    std::vector<Picture> pictures;
    int group = -1;
    for (size_t u = 0; u < ps.video.units.size(); ++u) {
        size_t at = ps.video.units[u].start;
        for (size_t i = u == 0 ? 0 : ps.video.units[u - 1].start; i < at; ++i)
            if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == 0xB8) ++group;
        if (u == 0) ++group;
        int fields = 2;
        for (size_t i = at + 4; i + 8 < es.size() &&
                                !(es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == 0);
             ++i)
            if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == 0xB5 &&
                (es[i + 4] >> 4) == 8) {
                fields = 2 + ((es[i + 7] >> 1) & 1);
                break;
            }
        pictures.push_back({group, (es[at + 4] << 2) | (es[at + 5] >> 6), fields, u});
    }
    std::vector<Picture> shown = pictures;
    std::stable_sort(shown.begin(), shown.end(), [](const Picture& a, const Picture& b) {
        return a.group != b.group ? a.group < b.group : a.order < b.order;
    });
    int64_t clock = ps.video.units[shown[0].unit].pts, checked = 0, three = 0;
    for (const Picture& p : shown) {
        const test::ProbedUnit& u = ps.video.units[p.unit];
        if (u.stamped) {
            EXPECT_NEAR(double(u.pts), double(clock), 300) << "picture " << p.unit;
            ++checked;
        }
        three += p.fields == 3;
        clock += int64_t(p.fields) * 540000;
    }
    EXPECT_EQ(three, repeated);
    EXPECT_GT(checked, int64_t(shown.size()) / 2);
}

// B-pictures that lead a part's first group when it is open (marked broken_link): a decoder
// that starts with the part cannot show them.
int leading_b_pictures(const Bytes& es) {
    bool open = false, seen_i = false;
    int count = 0;
    for (size_t i = 0; i + 8 < es.size(); ++i) {
        if (es[i] || es[i + 1] || es[i + 2] != 1) continue;
        if (es[i + 3] == 0xB8 && !seen_i) open = !(es[i + 7] & 0x40);
        if (es[i + 3] != 0) continue;
        int type = (es[i + 5] >> 3) & 7;
        if (type == 3 && seen_i) ++count;
        if (type != 3 && seen_i) break;
        if (type == 1) seen_i = true;
    }
    return open ? count : 0;
}

TEST(MuxSplit, PartsBeginAGroupOfPicturesPlayAloneAndAddUp) {
    if (!have("ffmpeg") || !have("ffprobe")) GTEST_SKIP() << "ffmpeg is not installed";
    test::SampleMedia media;
    ASSERT_TRUE(test::load_sample_media("", &media));
    test::TempDir dir;
    std::string image = write_image(dir, test::sample_disk(media));
    std::string common = "extract " + shell_quote(image) + " 3 -q -o " + shell_quote(dir.path);
    ASSERT_EQ(quarrow(common + " --mux --prefix whole").status, 0);
    test::ProgramResult run = quarrow(common + " --mux --prefix part --split 2M");
    ASSERT_EQ(run.status, 0) << run.err;
    std::map<std::string, int> whole = frame_counts(dir.file("whole.mpg"));
    int parts = 0, video = 0, audio = 0, undecodable = 0;
    int64_t audio_end = 0;  // the part before's
    for (;; ++parts) {
        char name[32];
        snprintf(name, sizeof name, "part-%03d.mpg", parts + 1);
        std::string file = dir.file(name);
        if (test::file_size(file) < 0) break;
        Bytes bytes = test::read_file_bytes(file);
        EXPECT_LE(bytes.size(), size_t(2 << 20)) << name;
        test::ProbedProgramStream ps =
            test::probe_program_stream(bytes, VIDEO_BUFFER_BYTES, AUDIO_BUFFER_BYTES);
        EXPECT_EQ(probe_faults(ps), "") << name;
        // A navigation pack with the system header first, then a sequence header.
        EXPECT_EQ(bytes[17], 0xBB) << name;
        EXPECT_EQ(bytes[38 + 6], 0x00) << name;  // PCI
        ASSERT_GE(ps.video.data.size(), 4u);
        EXPECT_EQ(ps.video.data[3], 0xB3) << name;
        EXPECT_EQ(decode_errors(file), "") << name;
        // Audio and video begin together, and each part's audio runs up to where the next
        // part's pictures begin; in 27 MHz ticks, one audio frame (1152 samples at 48 kHz) apart
        // at most.
        const int64_t AUDIO_FRAME = 648000;
        int64_t video_begin = INT64_MAX, audio_begin = INT64_MAX;
        for (const test::ProbedUnit& u : ps.video.units)
            video_begin = std::min(video_begin, u.pts);
        for (const test::ProbedUnit& u : ps.audio.units)
            audio_begin = std::min(audio_begin, u.pts);
        EXPECT_LE(std::llabs(video_begin - audio_begin), AUDIO_FRAME) << name;
        if (parts > 0) {
            EXPECT_LE(std::llabs(video_begin - audio_end), AUDIO_FRAME) << name;
        }
        audio_end = ps.audio.units.empty() ? 0 : ps.audio.units.back().pts + AUDIO_FRAME;
        std::map<std::string, int> counts = frame_counts(file);
        video += counts["video"];
        audio += counts["audio"];
        undecodable += leading_b_pictures(ps.video.data);
    }
    EXPECT_GE(parts, 8);
    EXPECT_EQ(audio, whole["audio"]);
    EXPECT_EQ(video + undecodable, whole["video"]);
}

TEST(MuxCommand, OptionsThatDoNotGoTogetherAreRefused) {
    test::SampleMedia media;
    ASSERT_TRUE(test::load_sample_media("", &media));
    test::TempDir dir;
    std::string image = write_image(dir, test::sample_disk(media));
    std::string base = "extract " + shell_quote(image) + " 4 -q -o " + shell_quote(dir.path) + " ";
    for (const char* bad : {"--mux --audio mpg",
                            "--mux --no-video",
                            "--av-offset 100",
                            "--split 4000M",
                            "--mux --split 1023K",
                            "--mux --split 12X",
                            "--from 00:00:01",
                            "--mux --from 1:00",
                            "--mux --to 00:60:00",
                            "--mux --from 00:00:01.5000",
                            "--mux --from 00:00:02 --to 00:00:01",
                            "--cut 00:00:00-00:00:01",
                            "--drop 00:00:00-00:00:01",
                            "--mux --cut 00:00:00-00:00:01 --drop 00:00:02-00:00:03",
                            "--mux --cut 00:00:01-00:00:01",
                            "--mux --cut 00:00:01-00:00:00.5",
                            "--mux --cut 00:00:00-00:00:01,00:00:00.5-00:00:02",
                            "--mkv --cut 00:10:00-00:11:00",
                            "--mux --cut 00:00:00-00:00:01x",
                            "--mux --from 00:00:01 --cut 00:00:00.5-00:00:02",
                            "--mux --drop 00:00:00-00:00:02",
                            "--mux --chapters",
                            "--chapters --metadata",
                            "--mkv --chapters 5s"}) {
        test::ProgramResult r = quarrow(base + bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err, "") << bad;
    }
    EXPECT_EQ(test::run_program("ls " + shell_quote(dir.path)).out, "disk.hex\n");
    EXPECT_EQ(quarrow(base + "--mux --audio mp2 --av-offset -200 --split 1M").status, 0);
    EXPECT_EQ(quarrow(base + "--mux --from 00:00:00.5 --to 00:00:01.25").status, 0);
    EXPECT_EQ(quarrow(base + "--mux --drop 00:00:00.5-00:00:01 --chapters --metadata").status, 0);
    EXPECT_EQ(quarrow(base + "--mkv --cut 00:00:00.2-00:00:00.8,00:00:01-00:00:01.5 --chapters 10s")
                  .status,
              0);
}

TEST(MuxCommand, CtrlCStopsTheExtractionRemovesItsFilesAndExits130) {
    // A long recording of empty sectors: its walk takes seconds.
    test::TestDisk disk;
    disk.cluster_count = 202;
    test::TestRecording r;
    r.default_title = "Long";
    for (uint16_t c = 1; c <= 200; ++c)
        r.clusters.push_back(c);
    r.length = 200 * CLUSTER_DATA_SECTORS;
    disk.recordings.push_back(r);
    test::TempDir dir;
    std::string image = dir.file("disk.hex");
    DiskHandle out = create_output_file(image.c_str());
    ASSERT_TRUE(out && test::write_test_disk(disk, out));
    close_disk(out);
    ASSERT_TRUE(test::write_file(dir.file("p.mpg"), Bytes(100, 0x42)));
    test::ProgramResult run = test::run_program(
        shell_quote(QUARROW_CLI_PATH) + " extract " + shell_quote(image) + " 1 -q --mux -o " +
        shell_quote(dir.path) + " --prefix p & pid=$!; sleep 0.5; kill -INT $pid; wait $pid");
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_NE(run.err.find("The extraction was interrupted."), std::string::npos) << run.err;
    EXPECT_EQ(test::run_program("ls " + shell_quote(dir.path)).out, "disk.hex\np.mpg\n");
    EXPECT_EQ(test::read_file_bytes(dir.file("p.mpg")), Bytes(100, 0x42));
}

TEST(MuxCommand, MetadataDescribesTheRecordingAndDatesEveryOutput) {
    test::SampleMedia media;
    ASSERT_TRUE(test::load_sample_media("", &media));
    test::TempDir dir;
    std::string image = write_image(dir, test::sample_disk(media));
    for (const char* mode : {"", " --mux"}) {
        test::ProgramResult r = quarrow("extract " + shell_quote(image) + " 4 -q --metadata -o " +
                                        shell_quote(dir.path) + mode);
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<uint8_t> json = test::read_file_bytes(dir.file("Cafe Noel.json"));
        std::string text(json.begin(), json.end());
        for (const char* field :
             {"\"title\": \"Caf\xC3\xA9 No\xC3\xABl\"", "\"channel\": \"TV5MONDE\"",
              "\"date\": \"2002-12-24T18:30:00Z\"", "\"duration_seconds\": 2",
              "\"attributes\": \"Permanent, Locked\"", "\"number\": 4", "\"notices\": []"})
            EXPECT_NE(text.find(field), std::string::npos) << field << "\n" << text;
        for (const char* name : {"Cafe Noel.json", *mode ? "Cafe Noel.mpg" : "Cafe Noel.m2v"}) {
            struct stat st;
            ASSERT_EQ(stat(dir.file(name).c_str(), &st), 0) << name;
            EXPECT_EQ(st.st_mtime, 1040754600) << name;  // 24-12-2002 18:30:00 GMT
            if (strstr(name, ".json") == nullptr) {      // listed among the files
                EXPECT_NE(text.find(dir.file(name)), std::string::npos) << text;
            }
        }
    }
}

}  // namespace
}  // namespace quarrow
