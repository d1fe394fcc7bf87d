// The sync rule of the one-file output, measured: a synthetic broadcast with a white frame and a
// 1 kHz beep at the same broadcast time every 5 seconds, muxed into a transport stream by ffmpeg
// and laid on a disk image in arrival order (video as elementary-stream blocks, audio as PES
// blocks), once clean and once with 2 s of audio PES packets lost between two markers. In the
// --mux file the beep-flash offsets stay put across all markers; the separate .m2v + .mp2, muxed
// naively, play everything after the gap early by the lost time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

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

// The broadcast as a transport stream: 30 s, markers at 0.5 s, 5.5 s, ...
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
               shell_quote(dir.file("b.ts")));
}

// The transport stream's packets in arrival order as the receiver records them: video PES
// payloads as video blocks, audio PES packets whole as audio blocks. Audio packets whose PTS lies
// in [lose_from, lose_to) seconds after the first are left out (a rain fade).
Bytes record(const Bytes& ts, double lose_from, double lose_to) {
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
    int64_t first_audio_pts = -1;
    bool dropping = false;
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
        if (start && n >= 14 && payload[0] == 0 && payload[1] == 0 && payload[2] == 1) {
            if (payload[3] == 0xE0) type = STREAM_BLOCK_VIDEO;
            if (payload[3] == 0xC0) {
                type = STREAM_BLOCK_AUDIO;
                const uint8_t* t = payload + 9;
                int64_t pts = (int64_t(t[0] & 0x0E) << 29) | (int64_t(t[1]) << 22) |
                              (int64_t(t[2] & 0xFE) << 14) | (int64_t(t[3]) << 7) | (t[4] >> 1);
                if (first_audio_pts < 0) first_audio_pts = pts;
                double at = double(pts - first_audio_pts) / 90000;
                dropping = at >= lose_from && at < lose_to;
            }
        }
        int pid = ((p[1] & 0x1F) << 8) | p[2];
        if (pid != 0x100 && pid != 0x101) continue;
        type = pid == 0x100 ? STREAM_BLOCK_VIDEO : STREAM_BLOCK_AUDIO;
        if (type == STREAM_BLOCK_AUDIO && dropping) continue;
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
    return data;
}

// Times (seconds) ffmpeg finds the flashes and the beeps' onsets at in a file.
struct Markers {
    std::vector<double> flashes, beeps;
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
    run("ffmpeg -v error -i " + shell_quote(file) +
        " -vf \"signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=" + v +
        "\" -af \"asetnsamples=n=240,astats=metadata=1:reset=1,ametadata=print:key="
        "lavfi.astats.Overall.RMS_level:file=" +
        a + "\" -f null -");
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

TEST(MuxSync, AudioLostInTheBroadcastLeavesSilenceNotAShift) {
    if (test::run_program("command -v ffmpeg && command -v twolame").status != 0)
        GTEST_SKIP() << "ffmpeg and twolame are needed";
    test::TempDir dir;
    ASSERT_TRUE(make_broadcast(dir));
    Bytes ts = test::read_file_bytes(dir.file("b.ts"));
    test::TestDisk disk;
    disk.cluster_count = 8;
    const char* names[2] = {"clean", "gap"};
    for (int i = 0; i < 2; ++i) {
        test::TestRecording r;
        r.default_title = names[i];
        // The lost stretch lies between the markers at 10.5 s and 15.5 s.
        r.data = i == 0 ? record(ts, -1, -1) : record(ts, 12.0, 14.0);
        disk.recordings.push_back(r);
    }
    std::string image = dir.file("disk.hex");
    DiskHandle out = create_output_file(image.c_str());
    ASSERT_TRUE(out && test::write_sample_disk(disk, out));
    close_disk(out);

    for (int i = 0; i < 2; ++i) {
        std::string n = std::to_string(2 - i), name = names[i];
        std::string common = QUARROW_CLI_PATH + std::string(" extract ") + shell_quote(image) +
                             " " + n + " -q -o " + shell_quote(dir.path) + " --prefix ";
        ASSERT_TRUE(run(common + name + " --mux"));
        ASSERT_TRUE(run(common + name));
        ASSERT_TRUE(run("ffmpeg -v error -y -fflags +genpts -r 25 -i " +
                        shell_quote(dir.file(name + ".m2v")) + " -i " +
                        shell_quote(dir.file(name + ".mp2")) + " -c copy -f mpegts " +
                        shell_quote(dir.file(name + "-naive.ts"))));
        std::vector<double> muxed = offsets(find_markers(dir.file(name + ".mpg"), dir));
        std::vector<double> naive = offsets(find_markers(dir.file(name + "-naive.ts"), dir));
        ASSERT_GE(muxed.size(), 5u) << name;
        ASSERT_GE(naive.size(), 5u) << name;
        EXPECT_LE(spread(muxed), 0.030) << name;
        double drift = naive.back() - naive.front();
        if (i == 0) {
            EXPECT_LE(std::fabs(drift), 0.030) << name;
        } else {
            EXPECT_NEAR(drift, -2.0, 0.1) << name;  // everything after the gap plays early
        }
        std::cout << name << ": --mux beep-flash offsets vary by " << spread(muxed) * 1000
                  << " ms over " << muxed.size() << " markers; naive .m2v + .mp2 drift by "
                  << drift * 1000 << " ms\n";
        RecordProperty(name + "_mux_spread_ms", int(spread(muxed) * 1000));
        RecordProperty(name + "_naive_drift_ms", int(drift * 1000));
    }
}

}  // namespace
}  // namespace quarrow
