// make_bench_disk IMAGE MIB: writes a MediaMaster disk image holding one recording of at least
// MIB mebibytes, laid out as the receiver lays a broadcast: video blocks of 100 to 300 sectors,
// each followed by the audio blocks of a few sectors that keep the audio level with it. The
// video is an MPEG-like elementary stream (a sequence header every 400 kB, slice start codes
// between) and the audio a stream of PES packets of one Layer II frame with CRC each. Every data
// sector is written (no holes), so that reading it costs what reading a real recording costs.
// Prints the recording's first cluster, length and the byte range of its clusters.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fs/layout.h"
#include "support/disk_builder.h"

using namespace quarrow;

namespace {

struct Rng {
    uint64_t s = 0x9E3779B97F4A7C15ull;
    uint64_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
};

// Streams blocks into consecutive cluster data areas, writing each area when it is full.
struct AreaWriter {
    DiskHandle out;
    uint16_t cluster = 0;
    std::vector<uint8_t> area = std::vector<uint8_t>(CLUSTER_DATA_BYTES);
    size_t used = 0;
    bool ok = true;
    void put(const uint8_t* p, size_t n) {
        while (n > 0 && ok) {
            size_t k = std::min(n, area.size() - used);
            memcpy(area.data() + used, p, k);
            used += k, p += k, n -= k;
            if (used == area.size()) flush();
        }
    }
    void flush() {
        if (used < area.size()) memset(area.data() + used, 0, area.size() - used);
        int64_t at = cluster_data_sector(cluster) * SECTOR_SIZE;
        ok = ok &&
             out->write_at(out, at, area.data(), uint32_t(area.size())) == int64_t(area.size());
        ++cluster;
        used = 0;
    }
};

void block(AreaWriter& w, uint8_t type, const uint8_t* payload, uint32_t bytes) {
    std::vector<uint8_t> b;
    test::append_stream_block(b, type, payload, bytes);
    w.put(b.data(), b.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: make_bench_disk IMAGE MIB\n");
        return 2;
    }
    uint64_t want = strtoull(argv[2], nullptr, 10) << 20;
    uint32_t clusters = uint32_t(want / CLUSTER_DATA_BYTES + 1);
    if (clusters + 2 > MAX_CLUSTER_COUNT) {
        fprintf(stderr, "too large\n");
        return 2;
    }
    // The table, the Table of Contents and the record first (the builder writes each data area's
    // last sector, which the areas below then overwrite whole).
    test::TestDisk disk;
    disk.cluster_count = uint16_t(clusters + 2);
    test::TestRecording r;
    r.default_title = "Benchmark";
    r.channel = "Bench";
    for (uint32_t c = 0; c < clusters; ++c)
        r.clusters.push_back(uint16_t(c));
    r.length = clusters * CLUSTER_DATA_SECTORS;
    disk.recordings.push_back(r);
    DiskHandle out = create_output_file(argv[1]);
    if (!out || !test::write_test_disk(disk, out)) {
        fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }

    AreaWriter w{out};
    Rng rng;
    std::vector<uint8_t> video(300 * SECTOR_SIZE), audio(4 * SECTOR_SIZE);
    // The blocks fill the clusters as far as whole blocks fit: the recording's length must not
    // reach past its last cluster, or the walk runs out of data before the length is done.
    const uint64_t capacity = uint64_t(clusters) * CLUSTER_DATA_BYTES;
    uint64_t written = 0, since_sequence = 1 << 30, audio_due = 0, since_picture = 1 << 30;
    bool full = false;
    auto fits = [&](uint64_t bytes) {
        if (written + bytes > capacity) full = true;
        return !full;
    };
    int picture_in_group = 0;
    int64_t audio_pts = 90000;
    // 6 Mbit/s of video and 192 kbit/s of audio: one 576-byte frame per 18 kB of video.
    const uint64_t video_per_frame = 18000;
    std::vector<uint8_t> frame(576);
    std::vector<uint8_t> pes_stream;
    while (w.ok && !full) {
        uint32_t sectors = 100 + uint32_t(rng.next() % 201);
        uint32_t bytes = sectors * SECTOR_SIZE - uint32_t(rng.next() % 400);
        if (!fits((1 + uint64_t(sectors)) * SECTOR_SIZE)) break;
        for (uint32_t i = 0; i < bytes; i += 8) {
            uint64_t v = rng.next() | 0x0101010101010101ull;  // no zero bytes: start codes are ours
            memcpy(video.data() + i, &v, std::min<uint32_t>(8, bytes - i));
        }
        // Slice start codes every few kB; a picture every 30 kB (25 pictures a second at
        // 6 Mbit/s) of the types I B B P B B P ..., and a sequence header with a GOP header
        // before the I-picture about every 400 kB, so that --mux finds pictures to time.
        for (uint32_t i = 1000; i + 4 < bytes; i += 3000) {
            video[i] = 0, video[i + 1] = 0, video[i + 2] = 1, video[i + 3] = 0x01;
        }
        for (uint32_t i = 0; i + 40 < bytes; i += 3000) {
            if (since_picture < 30000) {
                since_picture += 3000;
                continue;
            }
            since_picture = 0;
            uint32_t at = i + 1500;
            if (at + 40 >= bytes) break;
            int type = 2;
            if (since_sequence > 400000 && picture_in_group % 3 == 0) {
                const uint8_t headers[16] = {0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x23,
                                             0, 0, 1, 0xB8, 0x08, 0x00, 0x08, 0x40};
                memcpy(video.data() + at, headers, sizeof headers);
                at += sizeof headers;
                since_sequence = 0;
                picture_in_group = 0;
                type = 1;
            } else {
                type = picture_in_group % 3 == 0 ? 2 : 3;
            }
            // Numbered in display order, each anchor after the two B-pictures that follow it.
            int tr =
                (picture_in_group % 3 == 0 ? picture_in_group + 2 : picture_in_group - 1) & 1023;
            ++picture_in_group;
            video[at] = 0, video[at + 1] = 0, video[at + 2] = 1, video[at + 3] = 0x00;
            video[at + 4] = uint8_t(tr >> 2);
            video[at + 5] = uint8_t(((tr & 3) << 6) | (type << 3));
        }
        since_sequence += bytes;
        block(w, STREAM_BLOCK_VIDEO, video.data(), bytes);
        written += (1 + sectors) * SECTOR_SIZE;
        audio_due += bytes;
        while (audio_due >= video_per_frame) {
            audio_due -= video_per_frame;
            for (auto& b : frame)
                b = uint8_t(rng.next() | 1);
            // Layer II with CRC, 192 kbit/s, 48 kHz, stereo: 576 bytes.
            frame[0] = 0xFF, frame[1] = 0xFC, frame[2] = 0xA4, frame[3] = 0x04;
            std::vector<uint8_t> p = test::audio_pes_packet(frame.data(), frame.size(), audio_pts);
            audio_pts += 2160;  // 24 ms
            pes_stream.insert(pes_stream.end(), p.begin(), p.end());
        }
        // Audio blocks of 2 to 4 sectors, cut without regard to the packets.
        while (pes_stream.size() >= 4 * SECTOR_SIZE) {
            uint32_t n = (2 + uint32_t(rng.next() % 3)) * SECTOR_SIZE - uint32_t(rng.next() % 200);
            if (!fits((1 + (n + SECTOR_SIZE - 1) / SECTOR_SIZE) * uint64_t(SECTOR_SIZE))) break;
            block(w, STREAM_BLOCK_AUDIO, pes_stream.data(), n);
            pes_stream.erase(pes_stream.begin(), pes_stream.begin() + n);
            written += (1 + (n + SECTOR_SIZE - 1) / SECTOR_SIZE) * SECTOR_SIZE;
        }
    }
    while (w.ok && w.cluster < clusters)
        w.flush();
    // The recording's length: the sectors its blocks fill.
    uint8_t length[4];
    write_be32(length, uint32_t(written / SECTOR_SIZE));
    int64_t field =
        (int64_t(TOC_SECTOR) + disk.recordings[0].record_offset) * SECTOR_SIZE + REC_LENGTH;
    bool ok = w.ok && out->write_at(out, field, length, 4) == 4;
    close_disk(out);
    if (!ok) {
        fprintf(stderr, "writing %s failed\n", argv[1]);
        return 1;
    }
    int64_t first = cluster_data_sector(0) * SECTOR_SIZE;
    int64_t end = cluster_data_sector(clusters - 1) * SECTOR_SIZE + CLUSTER_DATA_BYTES;
    printf("first_cluster=0 length=%u range_start=%" PRId64 " range_bytes=%" PRId64 "\n",
           unsigned(written / SECTOR_SIZE), first, end - first);
    return 0;
}
