// The sync rule of the one-file output, measured: a synthetic broadcast with a white frame and a
// 1 kHz beep at the same broadcast time every 5 seconds, muxed into a transport stream by ffmpeg
// and laid on a disk image in arrival order (video as elementary-stream blocks, audio as PES
// blocks), clean and with stretches lost between two markers: 2 s of audio alone, 0.5 s of video
// alone, 1 s of both (a signal dropout). In the --mux file the beep-flash offsets stay put
// across all markers, it decodes without an error and dvdauthor takes it; the separate .m2v +
// .mp2, muxed naively, play everything after a gap of one stream shifted by the lost time.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "disk/rescue_map.h"
#include "fs/layout.h"
#include "support/disk_builder.h"
#include "support/run_program_posix.h"
#include "support/sample_disk.h"
#include "support/temp_files.h"

namespace quarrow {
namespace {

using Bytes = std::vector<uint8_t>;
using test::shell_quote;

constexpr double MARKER_PERIOD = 5.0;  // seconds between markers: more than the lost 2 s

bool run(const std::string& command) {
    test::ProgramResult r = test::run_program(command);
    EXPECT_EQ(r.status, 0) << command << "\n" << r.err;
    return r.status == 0;
}

// What the encoder writes in the GOP headers' time_code: a running clock, the same value in
// every group, or no GOP headers at all (a sequence header opens each group).
enum TimeCodes { CODES_RUNNING, CODES_CONSTANT, CODES_ABSENT };

// The video elementary stream with its GOP headers' time codes as `codes` says.
Bytes with_time_codes(const Bytes& es, TimeCodes codes) {
    Bytes out;
    out.reserve(es.size());
    for (size_t i = 0; i < es.size(); ++i) {
        bool gop = i + 8 <= es.size() && es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 &&
                   es[i + 3] == 0xB8;
        if (gop && codes == CODES_ABSENT) {
            i += 7;
            continue;
        }
        if (gop && codes == CODES_CONSTANT) {
            // time_code 00:00:00:00 with its marker bit; closed_gop and broken_link kept.
            out.insert(out.end(), {0, 0, 1, 0xB8, 0x00, 0x08, 0x00, uint8_t(es[i + 7] & 0x60)});
            i += 7;
            continue;
        }
        out.push_back(es[i]);
    }
    return out;
}

// The broadcast as a transport stream: 30 s, markers at 0.5 s, 5.5 s, ...; b.ts with running
// time codes, b1.ts with constant ones, b2.ts without GOP headers.
bool make_broadcast(const test::TempDir& dir) {
    std::string enable = "lt(mod(t+4.5\\,5)\\,0.039)";
    return run("ffmpeg -v error -y -f lavfi -i \"color=c=black:s=352x288:r=25:d=30,drawbox=c=white:"
               "t=fill:enable='" +
               enable + "'\" -c:v mpeg2video -b:v 1M -g 12 -bf 2 -f mpeg2video " +
               shell_quote(dir.file("v.m2v"))) &&
           run("ffmpeg -v error -y -f lavfi -i sine=f=1000:r=48000:d=30 -af \"volume=0:enable='gte("
               "mod(t+4.5\\,5)\\,0.04)'\" -ac 2 " +
               shell_quote(dir.file("a.wav"))) &&
           run("twolame --quiet --protect -b 192 " + shell_quote(dir.file("a.wav")) + " " +
               shell_quote(dir.file("a.mp2"))) &&
           run("ffmpeg -v error -y -fflags +genpts -r 25 -i " + shell_quote(dir.file("v.m2v")) +
               " -i " + shell_quote(dir.file("a.mp2")) + " -c copy -f mpegts " +
               shell_quote(dir.file("b.ts"))) &&
           [&] {
               Bytes es = test::read_file_bytes(dir.file("v.m2v"));
               for (TimeCodes codes : {CODES_CONSTANT, CODES_ABSENT}) {
                   std::string k = std::to_string(int(codes));
                   if (!test::write_file(dir.file("v" + k + ".m2v"), with_time_codes(es, codes)) ||
                       !run("ffmpeg -v error -y -fflags +genpts -r 25 -i " +
                            shell_quote(dir.file("v" + k + ".m2v")) + " -i " +
                            shell_quote(dir.file("a.mp2")) + " -c copy -f mpegts " +
                            shell_quote(dir.file("b" + k + ".ts"))))
                       return false;
               }
               return true;
           }();
}

// A stretch of the broadcast lost in reception, [from, to) seconds after the first time stamp.
struct Loss {
    double from = -1, to = -1;
    bool video = false, audio = false;
    // Received whole, but the disk cannot read the sectors that hold the stretch (by its audio's
    // time stamps): the extraction reads them as zeros with --map.
    bool on_disk = false;
};

// The transport stream's packets in arrival order as the receiver records them: video PES
// payloads as video blocks, audio PES packets whole as audio blocks. Packets of the lost streams
// whose PTS lies in the lost stretch are left out (a rain fade).
// lost_seconds receives how much of each stream (video, audio) was lost: the pictures whose
// packets were left out (or began in the unreadable stretch), and for audio from the first lost
// packet's time stamp to the first kept one's after it. unreadable receives the bytes of the
// data that an on_disk loss makes unreadable, whole blocks.
Bytes record(const Bytes& ts, const Loss& loss, double lost_seconds[2], size_t unreadable[2]) {
    Bytes data, run_bytes;
    uint8_t run_type = 0;
    auto flush = [&] {
        size_t limit = run_type == STREAM_BLOCK_VIDEO ? 32768 : 4096;
        for (size_t at = 0; at < run_bytes.size(); at += limit) {
            size_t n = std::min(limit, run_bytes.size() - at);
            test::append_stream_block(data, run_type, run_bytes.data() + at, uint32_t(n));
        }
        run_bytes.clear();
    };
    int64_t first_pts = -1;
    bool dropping[2] = {false, false}, ended[2] = {false, false};  // video, audio
    double first_lost[2] = {1e9, 1e9}, resumed[2] = {-1, -1};
    int lost_pictures = 0;
    for (size_t i = 0; i + 188 <= ts.size(); i += 188) {
        const uint8_t* p = ts.data() + i;
        int afc = (p[3] >> 4) & 3;
        if (p[0] != 0x47 || !(afc & 1)) continue;
        size_t off = 4 + ((afc & 2) ? 1 + size_t(p[4]) : 0);
        if (off >= 188) continue;
        const uint8_t* payload = p + off;
        size_t n = 188 - off;
        bool start = p[1] & 0x40;
        uint8_t type = 0;
        int pid = ((p[1] & 0x1F) << 8) | p[2];
        if (pid != 0x100 && pid != 0x101) continue;
        bool audio = pid == 0x101;
        if (start && n >= 14 && payload[0] == 0 && payload[1] == 0 && payload[2] == 1 &&
            (payload[7] & 0x80)) {
            const uint8_t* t = payload + 9;
            int64_t pts = (int64_t(t[0] & 0x0E) << 29) | (int64_t(t[1]) << 22) |
                          (int64_t(t[2] & 0xFE) << 14) | (int64_t(t[3]) << 7) | (t[4] >> 1);
            if (first_pts < 0) first_pts = pts;
            // Lost as they arrive: from the first packet stamped in the stretch to the first
            // stamped after it (a video packet's PTS runs ahead of its neighbours').
            double at = double(pts - first_pts) / 90000;
            bool lost = audio ? loss.audio : loss.video;
            if (lost && at >= loss.from && !ended[audio]) dropping[audio] = true;
            if (at >= loss.to && dropping[audio]) resumed[audio] = at;
            if (at >= loss.to) ended[audio] = true, dropping[audio] = false;
            if (dropping[audio]) first_lost[audio] = std::min(first_lost[audio], at);
            if (loss.on_disk && audio && at >= loss.from && unreadable[0] == 0) {
                flush();
                unreadable[0] = data.size();
                first_lost[1] = at;
            }
            if (loss.on_disk && audio && at >= loss.to && unreadable[1] == 0) {
                flush();
                unreadable[1] = data.size();
                resumed[1] = at;
            }
        }
        type = audio ? STREAM_BLOCK_AUDIO : STREAM_BLOCK_VIDEO;
        // Each video packet holds one picture.
        bool in_unreadable = unreadable[0] > 0 && unreadable[1] == 0;
        if (!audio && start && (dropping[0] || in_unreadable)) ++lost_pictures;
        if (dropping[audio]) continue;
        if (type == STREAM_BLOCK_VIDEO && start) {
            size_t header = 9 + size_t(payload[8]);
            payload += header;
            n -= header;
        }
        if (type != run_type) flush();
        run_type = type;
        run_bytes.insert(run_bytes.end(), payload, payload + n);
    }
    flush();
    lost_seconds[0] = lost_pictures * 0.04;
    lost_seconds[1] = resumed[1] < 0 ? 0 : resumed[1] - first_lost[1];
    return data;
}

// Times (seconds) ffmpeg finds the flashes and the beeps' onsets at in a file.
struct Markers {
    std::vector<double> flashes, beeps;
    std::string decode_errors;  // what ffmpeg -v error said
};

std::vector<std::pair<double, double>> metadata_values(const std::string& path) {
    std::vector<std::pair<double, double>> values;
    std::vector<uint8_t> bytes = test::read_file_bytes(path);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    double t = 0;
    while (std::getline(in, line)) {
        size_t at = line.find("pts_time:");
        if (at != std::string::npos) t = atof(line.c_str() + at + 9);
        size_t eq = line.find('=');
        if (line.rfind("lavfi.", 0) == 0 && eq != std::string::npos) {
            std::string v = line.substr(eq + 1);
            values.emplace_back(t, v == "-inf" ? -1000.0 : atof(v.c_str()));
        }
    }
    return values;
}

Markers find_markers(const std::string& file, const test::TempDir& dir) {
    Markers m;
    std::string v = dir.file("v.txt"), a = dir.file("a.txt");
    test::ProgramResult r = test::run_program(
        "ffmpeg -v error -i " + shell_quote(file) +
        " -vf \"signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=" + v +
        "\" -af \"asetnsamples=n=240,astats=metadata=1:reset=1,ametadata=print:key="
        "lavfi.astats.Overall.RMS_level:file=" +
        a + "\" -f null -");
    EXPECT_EQ(r.status, 0) << file;
    m.decode_errors = r.err;
    for (auto& f : metadata_values(v))
        if (f.second > 128) m.flashes.push_back(f.first);
    bool loud = false;
    for (auto& s : metadata_values(a)) {
        if (s.second > -30 && !loud) m.beeps.push_back(s.first);
        loud = s.second > -30;
    }
    return m;
}

// Beep minus flash for each flash that has its beep within half a marker period.
std::vector<double> offsets(const Markers& m) {
    std::vector<double> out;
    for (double f : m.flashes) {
        double best = 1e9;
        for (double b : m.beeps)
            if (std::fabs(b - f) < std::fabs(best)) best = b - f;
        if (std::fabs(best) < MARKER_PERIOD / 2) out.push_back(best);
    }
    return out;
}

double spread(const std::vector<double>& v) {
    return v.empty()
               ? 0
               : *std::max_element(v.begin(), v.end()) - *std::min_element(v.begin(), v.end());
}

// Seconds of "HH:MM:SS.mmm".
double clock_seconds(const std::string& text) {
    return atof(text.substr(0, 2).c_str()) * 3600 + atof(text.substr(3, 2).c_str()) * 60 +
           atof(text.substr(6).c_str());
}

std::string text_of(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

struct SyncCase {
    const char* name;
    Loss loss;
    // The naive .m2v + .mp2 after the gap drift by this, give or take `within`: the loss is
    // real. Lost as it arrives, video loses more than its stretch (its packets run ahead).
    double naive_drift, within;
    const char* mux_args = "";  // a stretch by time, a cut list
    size_t markers = 6;         // in the --mux file
    TimeCodes codes = CODES_RUNNING;
    // With a cut list: the joins it makes.
    bool cut = false;
    size_t joins = 0;
};

// The lost stretches lie between the markers at 10.5 s and 15.5 s.
const SyncCase SYNC_CASES[] = {
    {"clean", {}, 0, 0.03},
    {"audio", {12.0, 14.0, false, true}, -2.0, 0.1},
    {"video", {12.0, 12.5, true, false}, 0.6, 0.15},
    {"dropout", {12.0, 13.0, true, true}, 0.1, 0.15, " --chapters"},
    // The stretch from 8 s to 19 s holds the markers at 10.5 s and 15.5 s.
    {"range", {}, 0, 0.03, " --from 00:00:08 --to 00:00:19.000", 2},
    // Without time codes to go by, the video is timed against the audio clock.
    {"clean-constant", {}, 0, 0.03, "", 6, CODES_CONSTANT},
    {"video-constant", {12.0, 12.5, true, false}, 0.6, 0.15, "", 6, CODES_CONSTANT},
    {"dropout-constant", {12.0, 13.0, true, true}, 0.1, 0.15, "", 6, CODES_CONSTANT},
    {"clean-absent", {}, 0, 0.03, "", 6, CODES_ABSENT},
    {"video-absent", {12.0, 12.5, true, false}, 0.6, 0.15, "", 6, CODES_ABSENT},
    {"dropout-absent", {12.0, 13.0, true, true}, 0.1, 0.15, "", 6, CODES_ABSENT},
    // Sectors of the disk that cannot be read: a gap of both streams, the disk's.
    {"unreadable", {12.0, 13.0, false, false, true}, 0, 0.1},
    {"unreadable-constant", {12.0, 13.0, false, false, true}, 0, 0.1, "", 6, CODES_CONSTANT},
    // Cuts: a trim, two stretches kept, two stretches dropped.
    {"trim", {}, 0, 0.03, " --cut 00:00:03-00:00:24 --chapters", 4, CODES_RUNNING, true},
    {"two-cuts",
     {},
     0,
     0.03,
     " --cut 00:00:03-00:00:08,00:00:13-00:00:19 --chapters",
     2,
     CODES_RUNNING,
     true,
     1},
    {"dropped",
     {},
     0,
     0.03,
     " --drop 00:00:07-00:00:09.5,00:00:17-00:00:19 --chapters",
     6,
     CODES_RUNNING,
     true,
     2},
};

TEST(MuxSync, GapsInTheBroadcastKeepBeepAndFlashTogether) {
    if (test::run_program("command -v ffmpeg && command -v twolame").status != 0)
        GTEST_SKIP() << "ffmpeg and twolame are needed";
    bool dvdauthor = test::run_program("command -v dvdauthor").status == 0;
    test::TempDir dir;
    ASSERT_TRUE(make_broadcast(dir));
    const Bytes broadcasts[3] = {test::read_file_bytes(dir.file("b.ts")),
                                 test::read_file_bytes(dir.file("b1.ts")),
                                 test::read_file_bytes(dir.file("b2.ts"))};
    test::TestDisk disk;
    disk.cluster_count = 20;
    const int n_cases = int(sizeof SYNC_CASES / sizeof SYNC_CASES[0]);
    double lost[sizeof SYNC_CASES / sizeof SYNC_CASES[0]][2];
    size_t unreadable[sizeof SYNC_CASES / sizeof SYNC_CASES[0]][2] = {};
    for (const SyncCase& c : SYNC_CASES) {
        test::TestRecording r;
        r.default_title = c.name;
        size_t k = size_t(&c - SYNC_CASES);
        r.data = record(broadcasts[c.codes], c.loss, lost[k], unreadable[k]);
        disk.recordings.push_back(r);
    }
    std::string image = dir.file("disk.hex");
    DiskHandle out = create_output_file(image.c_str());
    ASSERT_TRUE(out && test::write_sample_disk(disk, out));
    close_disk(out);
    // The map of a rescue that could not read the on_disk stretches.
    RescueMap map;
    int64_t image_bytes = int64_t(test::read_file_bytes(image).size());
    init_rescue_map(&map, image_bytes);
    set_map_status(&map, 0, image_bytes, MAP_FINISHED);
    for (int i = 0; i < n_cases; ++i) {
        if (!SYNC_CASES[i].loss.on_disk) continue;
        ASSERT_EQ(disk.recordings[size_t(i)].clusters.size(), 1u);
        int64_t at = cluster_data_sector(disk.recordings[size_t(i)].clusters[0]) * SECTOR_SIZE;
        set_map_status(&map, at + int64_t(unreadable[i][0]),
                       int64_t(unreadable[i][1] - unreadable[i][0]), MAP_BAD);
    }
    std::string map_file = dir.file("disk.map");
    std::string map_text = format_rescue_map(map, "test");
    ASSERT_TRUE(test::write_file(map_file, Bytes(map_text.begin(), map_text.end())));

    std::vector<double> clean_flashes;  // where the markers lie in the recording
    for (int i = 0; i < n_cases; ++i) {
        const SyncCase& c = SYNC_CASES[i];
        std::string n = std::to_string(n_cases - i), name = c.name;
        std::string common = QUARROW_CLI_PATH + std::string(" extract ") + shell_quote(image) +
                             " " + n + " -q -o " + shell_quote(dir.path) +
                             (c.loss.on_disk ? " --map " + shell_quote(map_file) : "") +
                             " --prefix ";
        // A disk with unreadable sectors is named as damaged (exit 1); the files are written.
        auto extract = [&](const std::string& args) {
            test::ProgramResult r = test::run_program(common + args);
            EXPECT_EQ(r.status, c.loss.on_disk ? 1 : 0) << args << "\n" << r.err;
            return r.status == (c.loss.on_disk ? 1 : 0);
        };
        ASSERT_TRUE(extract(name + " --mux --metadata" + c.mux_args));
        // The repair report names the gap: one, of the lost streams, as long as they lost
        // within one frame; the pictures after a video loss that refer to lost ones are dropped
        // up to the next group of pictures and named beside it, so that the video is held up to
        // one group longer.
        nlohmann::json repairs = nlohmann::json::parse(
            text_of(test::read_file_bytes(dir.file(name + ".json"))))["repairs"];
        ASSERT_EQ(repairs.size(), c.loss.from < 0 ? 0u : 1u) << name << repairs.dump();
        if (!repairs.empty()) {
            const nlohmann::json& gap = repairs[0];
            EXPECT_EQ(gap["cause"],
                      c.loss.on_disk ? "unreadable on this disk" : "lost in reception")
                << name;
            std::vector<std::string> streams;
            if (c.loss.video || c.loss.on_disk) streams.push_back("video");
            if (c.loss.audio || c.loss.on_disk) streams.push_back("audio");
            EXPECT_EQ(gap["streams"].get<std::vector<std::string>>(), streams) << name;
            double duration = gap["duration_seconds"].get<double>();
            double expected = std::max(lost[i][0], lost[i][1]);
            double frame = lost[i][0] > 0 ? 0.04 : 1152.0 / 48000;
            EXPECT_NEAR(duration, expected, frame + 0.001)
                << name << ": " << duration << " s for " << lost[i][0] << " s of video and "
                << lost[i][1] << " s of audio lost";
            double dropped = gap["dropped_seconds"].get<double>();
            EXPECT_NEAR(dropped, gap["dropped_pictures"].get<double>() * 0.04, 0.002) << name;
            EXPECT_LE(duration + dropped, expected + 0.48 + frame) << name;
        }
        if (std::string(c.mux_args).find("--chapters") != std::string::npos) {
            // A chapter at the start, after each join and at each gap repaired, there.
            nlohmann::json chapters = nlohmann::json::parse(
                text_of(test::read_file_bytes(dir.file(name + ".json"))))["chapters"];
            EXPECT_EQ(chapters.size(), 1 + c.joins + repairs.size()) << name << chapters.dump();
            if (!repairs.empty() && chapters.size() == 2) {
                EXPECT_EQ(chapters[1]["name"], "Gap 1");
                EXPECT_NEAR(chapters[1]["at_seconds"].get<double>(),
                            repairs[0]["at_seconds"].get<double>(), 0.002);
            }
        }
        ASSERT_TRUE(extract(name));
        ASSERT_TRUE(run("ffmpeg -v error -y -fflags +genpts -r 25 -i " +
                        shell_quote(dir.file(name + ".m2v")) + " -i " +
                        shell_quote(dir.file(name + ".mp2")) + " -c copy -f mpegts " +
                        shell_quote(dir.file(name + "-naive.ts"))));
        Markers m = find_markers(dir.file(name + ".mpg"), dir);
        std::vector<double> muxed = offsets(m);
        std::vector<double> naive = offsets(find_markers(dir.file(name + "-naive.ts"), dir));
        ASSERT_EQ(muxed.size(), c.markers) << name;
        if (i == 0) clean_flashes = m.flashes;
        if (!c.cut) {
            EXPECT_NEAR(m.flashes.back() - m.flashes.front(), MARKER_PERIOD * double(c.markers - 1),
                        0.05)
                << name;
            // Timed against the audio clock, or over unreadable sectors, the .mkv keeps sync.
            if (c.codes != CODES_RUNNING || c.loss.on_disk) {
                ASSERT_TRUE(extract(name + "-mkv --mkv" + c.mux_args));
                Markers k = find_markers(dir.file(name + "-mkv.mkv"), dir);
                EXPECT_EQ(k.decode_errors, "") << name << " .mkv";
                EXPECT_EQ(k.flashes.size(), m.flashes.size()) << name << " .mkv";
                EXPECT_LE(spread(offsets(k)), 0.040) << name << " .mkv";
            }
        } else {
            // Each stretch falls within one group of pictures of the one asked for (a group is
            // 12 pictures or fewer), and every marker it holds lies where the stretches kept
            // before it add up to: the joins run on without a jump.
            nlohmann::json meta =
                nlohmann::json::parse(text_of(test::read_file_bytes(dir.file(name + ".json"))));
            const nlohmann::json& kept = meta["stretches"];
            ASSERT_EQ(kept.size(), 1 + c.joins) << name << kept.dump();
            std::vector<double> expected;
            double before = 0;
            for (const nlohmann::json& k : kept) {
                double from = k["from_seconds"],
                       to = k["to_seconds"].is_null() ? 1e9 : double(k["to_seconds"]);
                std::string asked = k["asked"];
                EXPECT_NEAR(from, clock_seconds(asked.substr(0, 12)), 0.48) << name << asked;
                if (asked.size() > 13) {
                    EXPECT_NEAR(to, clock_seconds(asked.substr(13)), 0.48) << name << asked;
                }
                for (double f : clean_flashes)
                    if (f >= from && f < to) expected.push_back(before + f - from);
                before += to - from;
            }
            // The .mkv gets the same cut from the same place.
            ASSERT_TRUE(run(common + name + "-mkv --mkv" + c.mux_args));
            Markers k = find_markers(dir.file(name + "-mkv.mkv"), dir);
            EXPECT_EQ(k.decode_errors, "") << name;
            EXPECT_LE(spread(offsets(k)), 0.040) << name << " .mkv";
            ASSERT_EQ(m.flashes.size(), expected.size()) << name;
            ASSERT_EQ(k.flashes.size(), expected.size()) << name << " .mkv";
            for (size_t f = 0; f < expected.size(); ++f) {
                EXPECT_NEAR(m.flashes[f], expected[f], 0.045) << name << ": flash " << f;
                EXPECT_NEAR(k.flashes[f], expected[f], 0.045) << name << ": .mkv flash " << f;
            }
        }
        ASSERT_GE(naive.size(), 5u) << name;
        std::string listed;
        for (double o : muxed)
            listed += " " + std::to_string(int(o * 1000));
        EXPECT_LE(spread(muxed), 0.040) << name << ": beep - flash (ms)" << listed;
        EXPECT_EQ(m.decode_errors, "") << name;
        double drift = naive.back() - naive.front();
        EXPECT_NEAR(drift, c.naive_drift, c.within) << name;
        if (dvdauthor) {
            test::ProgramResult dvd = test::run_program(
                "VIDEO_FORMAT=PAL dvdauthor -o " + shell_quote(dir.file("dvd-" + name)) + " -t " +
                shell_quote(dir.file(name + ".mpg")));
            EXPECT_EQ(dvd.status, 0) << name << "\n" << dvd.err;
        }
        std::string flashes;
        for (double f : m.flashes)
            flashes += " " + std::to_string(f);
        std::cout << name << ": lost " << lost[i][0] << " s of video, " << lost[i][1]
                  << " s of audio; flashes at" << flashes << "; --mux beep-flash offsets vary by "
                  << spread(muxed) * 1000 << " ms over " << muxed.size() << " markers (" << listed
                  << " ms); naive .m2v + .mp2 drift by " << drift * 1000 << " ms; repairs "
                  << repairs.dump() << "\n";
        RecordProperty(name + "_mux_spread_ms", int(spread(muxed) * 1000));
        RecordProperty(name + "_naive_drift_ms", int(drift * 1000));
    }
}

}  // namespace
}  // namespace quarrow
