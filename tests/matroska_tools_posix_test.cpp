// The fixture media written as .mkv and read back by the readers users have: mkvmerge and
// mkvinfo (mkvtoolnix), ffmpeg and ffprobe, mediainfo; and extract --mkv against --mux. Skipped
// where a reader is not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "disk/sector_access.h"
#include "support/matroska_media.h"
#include "support/run_program_posix.h"
#include "support/sample_disk.h"
#include "support/temp_files.h"

namespace quarrow::test {
namespace {

bool have(const char* tool) {
    return run_program(std::string("command -v ") + tool).status == 0;
}

struct MatroskaTools : ::testing::Test {
    TempDir dir;
    std::string mkv;
    void SetUp() override {
        SampleMedia media;
        ASSERT_TRUE(load_sample_media("", &media));
        MemoryMatroska file;
        FixtureMatroska made;
        MatroskaParams& p = made.params;
        p.title = "Caf\xc3\xa9 <Late> & \"News\"";
        p.channel = "Kanal \xc3\x9c";
        p.date_iso = "2009-03-14T20:15:00Z";
        p.date_unix = 1237061700;
        p.duration_seconds = 3;
        p.application = "quarrow test";
        p.chapters = {{0, "Opening"}, {1440, "Second half"}};
        ASSERT_TRUE(write_fixture_matroska(media.video, media.audio, &file, &made));
        mkv = dir.file("sample.mkv");
        ASSERT_TRUE(write_file(mkv, file.bytes));
    }
};

TEST_F(MatroskaTools, ReadersAcceptTracksChaptersTagsAndDecodeSilently) {
    if (!have("mkvmerge") || !have("mkvinfo") || !have("ffmpeg"))
        GTEST_SKIP() << "mkvtoolnix or ffmpeg is not installed";
    ProgramResult id = run_program("mkvmerge --identify " + shell_quote(mkv));
    EXPECT_EQ(id.status, 0) << id.out << id.err;
    EXPECT_NE(id.out.find("Track ID 0: video (MPEG-1/2)"), std::string::npos) << id.out;
    EXPECT_NE(id.out.find("Track ID 1: audio (MP2)"), std::string::npos) << id.out;
    EXPECT_NE(id.out.find("Chapters: 2 entries"), std::string::npos) << id.out;

    ProgramResult info = run_program("mkvinfo " + shell_quote(mkv));
    EXPECT_EQ(info.status, 0) << info.err;
    for (const char* text :
         {"Title: Caf\xc3\xa9 <Late> & \"News\"", "Chapter string: Opening",
          "Chapter string: Second half", "Chapter time start: 00:00:01.440000000",
          "Name: DISTRIBUTED_BY", "String: Kanal \xc3\x9c", "String: 2009-03-14T20:15:00Z",
          "String: 00:00:03.000000000", "Pixel width: 352", "Sampling frequency: 48000",
          "Codec's private data"})
        EXPECT_NE(info.out.find(text), std::string::npos) << text << "\n" << info.out;
    EXPECT_EQ(info.out.find("rror"), std::string::npos) << info.out;

    ProgramResult decode =
        run_program("ffmpeg -nostdin -v error -i " + shell_quote(mkv) + " -f null -");
    EXPECT_EQ(decode.status, 0);
    EXPECT_EQ(decode.err, "");
}

TEST_F(MatroskaTools, SeekingIntoTheMiddleLandsOnTheGroupOfPicturesBefore) {
    if (!have("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
    // Groups of pictures of 12 frames start every 0.48 s; a seek to 1.7 s lands on the one at
    // 1.44 s, found through the cues.
    ProgramResult seek = run_program(
        "ffprobe -v error -read_intervals 1.7%+#1 -select_streams v -show_entries "
        "packet=pts_time,flags -of csv=p=0 " +
        shell_quote(mkv));
    ASSERT_EQ(seek.status, 0) << seek.err;
    double landed = atof(seek.out.c_str());
    EXPECT_GE(landed, 1.7 - 0.48 - 0.001) << seek.out;
    EXPECT_LE(landed, 1.7 + 0.001) << seek.out;
    EXPECT_NE(seek.out.find(",K"), std::string::npos) << seek.out;
}

TEST_F(MatroskaTools, MediainfoSeesAMatroskaFileWithItsDuration) {
    if (!have("mediainfo")) GTEST_SKIP() << "mediainfo is not installed";
    ProgramResult m =
        run_program("mediainfo --Inform='General;%Format%|%Duration%|%Title%' " + shell_quote(mkv));
    ASSERT_EQ(m.status, 0) << m.err;
    EXPECT_EQ(m.out.rfind("Matroska|30", 0), 0u) << m.out;
}

// The packets' presentation times of one stream type ("v", "a"), as ffprobe reads them.
std::vector<double> packet_times(const std::string& file, const char* stream) {
    ProgramResult r =
        run_program("ffprobe -v error -select_streams " + std::string(stream) +
                    " -show_entries packet=pts_time -of default=nk=1:nw=1 " + shell_quote(file));
    std::vector<double> times;
    for (size_t at = 0; at < r.out.size();) {
        size_t end = r.out.find('\n', at);
        if (end == std::string::npos) end = r.out.size();
        if (r.out.compare(at, 3, "N/A") != 0) times.push_back(atof(r.out.c_str() + at));
        at = end + 1;
    }
    std::sort(times.begin(), times.end());
    return times;
}

TEST(MkvCommand, ExtractMkvKeepsTheMuxTimingAndTagsTheRecord) {
    if (!have("mkvinfo") || !have("ffprobe")) GTEST_SKIP() << "mkvtoolnix or ffmpeg is missing";
    TempDir dir;
    std::string image = dir.file("disk.hex");
    ASSERT_TRUE(write_sample_image(image));
    std::string run = shell_quote(QUARROW_CLI_PATH) + " extract " + shell_quote(image) +
                      " 3 -q -o " + shell_quote(dir.path);
    ProgramResult split = run_program(run + " --mkv --split 1M");
    EXPECT_EQ(split.status, 2) << split.err;
    ASSERT_EQ(run_program(run + " --mux --prefix m").status, 0);
    ProgramResult mkv = run_program(run + " --mkv --prefix k");
    ASSERT_EQ(mkv.status, 0) << mkv.err;
    EXPECT_NE(mkv.out.find(dir.file("k.mkv")), std::string::npos) << mkv.out;

    ProgramResult info = run_program("mkvinfo " + shell_quote(dir.file("k.mkv")));
    for (const char* text : {"Title: Urlaubsfilm f\xC3\xBCr Oma", "String: 3sat",
                             "String: 2003-01-10T19:00:00Z", "String: 00:03:18.000000000"})
        EXPECT_NE(info.out.find(text), std::string::npos) << text << "\n" << info.out;
    // Every frame at the time --mux gave it, counted from the first picture; the pictures the
    // program stream leaves unstamped have theirs on the same 40 ms grid.
    std::vector<double> mux_audio = packet_times(dir.file("m.mpg"), "a");
    std::vector<double> mkv_audio = packet_times(dir.file("k.mkv"), "a");
    std::vector<double> mux_video = packet_times(dir.file("m.mpg"), "v");
    std::vector<double> mkv_video = packet_times(dir.file("k.mkv"), "v");
    ASSERT_FALSE(mux_video.empty());
    ASSERT_EQ(mkv_audio.size(), mux_audio.size());
    for (size_t i = 0; i < mux_audio.size(); ++i)
        ASSERT_NEAR(mkv_audio[i], mux_audio[i] - mux_video[0], 0.0015) << i;
    for (size_t i = 0; i < mkv_video.size(); ++i)
        ASSERT_NEAR(mkv_video[i], 0.04 * double(i), 0.0015) << i;
    EXPECT_EQ(mkv_video.size(), size_t(198 * 25));
}

// A cut .mkv with chapters: the readers find the chapters the metadata file lists, at the same
// times and with the same names, and ffmpeg decodes it without a word.
TEST(MkvCommand, CutFilesCarryTheirChaptersAsWritten) {
    if (!have("mkvinfo") || !have("mkvmerge") || !have("ffmpeg"))
        GTEST_SKIP() << "mkvtoolnix or ffmpeg is missing";
    TempDir dir;
    std::string image = dir.file("disk.hex");
    ASSERT_TRUE(write_sample_image(image));
    const std::pair<const char*, size_t> cases[] = {
        // Start, two joins, two marks a minute apart (the file is 148 s long).
        {" --drop 00:00:30-00:01:10,00:02:00-00:02:10 --chapters 1m", 5},
        {" --cut 00:00:10-00:00:40 --chapters", 1},
    };
    for (const auto& [args, count] : cases) {
        std::string run = shell_quote(QUARROW_CLI_PATH) + " extract " + shell_quote(image) +
                          " 3 -q --mkv --metadata --prefix k -o " + shell_quote(dir.path) + args;
        ProgramResult mkv = run_program(run);
        ASSERT_EQ(mkv.status, 0) << args << mkv.err;
        std::vector<uint8_t> json = read_file_bytes(dir.file("k.json"));
        nlohmann::json chapters =
            nlohmann::json::parse(std::string(json.begin(), json.end()))["chapters"];
        ASSERT_EQ(chapters.size(), count) << args << chapters.dump();
        ProgramResult id = run_program("mkvmerge --identify " + shell_quote(dir.file("k.mkv")));
        EXPECT_NE(id.out.find("Chapters: " + std::to_string(count) + " entr"), std::string::npos)
            << args << id.out;
        ProgramResult info = run_program("mkvinfo " + shell_quote(dir.file("k.mkv")));
        EXPECT_EQ(info.out.find("rror"), std::string::npos) << info.out;
        size_t at = 0;
        for (const nlohmann::json& c : chapters) {
            int64_t ms = llround(c["at_seconds"].get<double>() * 1000);
            char start[64];
            snprintf(start, sizeof start, "Chapter time start: %02lld:%02lld:%02lld.%03lld000000",
                     static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                     static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
            at = info.out.find(start, at);
            ASSERT_NE(at, std::string::npos) << args << start << "\n" << info.out;
            at = info.out.find("Chapter string: " + c["name"].get<std::string>(), at);
            ASSERT_NE(at, std::string::npos) << args << c.dump() << "\n" << info.out;
        }
        ProgramResult decode = run_program("ffmpeg -nostdin -v error -i " +
                                           shell_quote(dir.file("k.mkv")) + " -f null -");
        EXPECT_EQ(decode.status, 0);
        EXPECT_EQ(decode.err, "") << args;
    }
}

}  // namespace
}  // namespace quarrow::test
