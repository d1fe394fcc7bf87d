#include "support/disk_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "fs/layout.h"

namespace quarrow::test {
namespace {

bool write_at(DiskHandle out, int64_t sector, const uint8_t* data, int sectors) {
    return out->write_at(out, sector * SECTOR_SIZE, data, uint32_t(sectors) * SECTOR_SIZE) ==
           int64_t(sectors) * SECTOR_SIZE;
}

void put_text(uint8_t* field, const std::string& text, size_t width) {
    size_t n = std::min(text.size(), width - 1);
    memcpy(field, text.data(), n);
}

}  // namespace

uint32_t table_parity(const uint8_t* table, uint16_t last_cluster) {
    uint32_t even = 0, odd = 0;
    for (uint32_t i = 0; i <= last_cluster; ++i) {
        uint32_t v = read_be16(table + 2 * i);
        if (i & 1)
            odd ^= v;
        else
            even ^= v;
    }
    return (even << 16) | odd;
}

void append_stream_block(std::vector<uint8_t>& out, uint8_t type, const uint8_t* payload,
                         uint32_t bytes) {
    uint32_t sectors = (bytes + SECTOR_SIZE - 1) / SECTOR_SIZE;
    size_t at = out.size();
    out.resize(at + SECTOR_SIZE * (1 + size_t(sectors)), 0);
    uint8_t* h = out.data() + at;
    h[0] = 0x74;
    h[7] = type;
    write_be16(h + BLOCK_PAYLOAD_SECTORS, sectors);
    write_be32(h + BLOCK_PAYLOAD_BYTES, bytes);
    if (bytes) memcpy(h + SECTOR_SIZE, payload, bytes);
}

std::vector<uint8_t> audio_pes_packet(const uint8_t* audio, size_t bytes, int64_t pts) {
    const size_t extension = pts >= 0 ? 5 : 0;
    const size_t header = 9 + extension;
    std::vector<uint8_t> pes(header + bytes, 0);
    pes[2] = 0x01;
    pes[3] = 0xC0;
    size_t length = bytes + 3 + extension;  // everything after the length field
    pes[4] = uint8_t(length >> 8);
    pes[5] = uint8_t(length);
    pes[6] = pts >= 0 ? 0x84 : 0x80;  // '10' marker; data aligned when a frame starts it
    pes[7] = pts >= 0 ? 0x80 : 0x00;  // PTS only
    pes[8] = uint8_t(extension);
    if (pts >= 0) {
        uint64_t t = uint64_t(pts) & 0x1FFFFFFFFull;
        pes[9] = uint8_t(0x21 | ((t >> 29) & 0x0E));
        pes[10] = uint8_t(t >> 22);
        pes[11] = uint8_t(((t >> 14) & 0xFE) | 1);
        pes[12] = uint8_t(t >> 7);
        pes[13] = uint8_t(((t << 1) & 0xFE) | 1);
    }
    if (bytes) memcpy(pes.data() + header, audio, bytes);
    return pes;
}

namespace {

// Length in bytes of the MPEG-1 audio frame whose header is at p, and its samples; 0 when p
// does not hold a valid MPEG-1 header.
size_t mpeg1_frame_length(const uint8_t* p, unsigned* samples) {
    static const int kbps[3][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // Layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // Layer II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // Layer III
    };
    static const int rates[3] = {44100, 48000, 32000};
    if (p[0] != 0xFF || (p[1] & 0xF8) != 0xF8) return 0;  // sync and MPEG-1
    int layer = 4 - ((p[1] >> 1) & 3);                    // 1, 2, 3 (4: reserved)
    int bitrate_index = p[2] >> 4;
    int rate_index = (p[2] >> 2) & 3;
    if (layer > 3 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3) return 0;
    int padding = (p[2] >> 1) & 1;
    long bitrate = kbps[layer - 1][bitrate_index] * 1000L;
    if (layer == 1) {
        *samples = 384;
        return size_t((12 * bitrate / rates[rate_index] + padding) * 4);
    }
    *samples = 1152;
    return size_t(144 * bitrate / rates[rate_index] + padding);
}

}  // namespace

std::vector<size_t> mpeg_audio_frames(const std::vector<uint8_t>& audio) {
    std::vector<size_t> frames;
    size_t at = 0;
    unsigned samples = 0;
    while (at + 4 <= audio.size()) {
        size_t length = mpeg1_frame_length(audio.data() + at, &samples);
        if (length < 4 || at + length > audio.size()) break;
        frames.push_back(at);
        at += length;
    }
    return frames;
}

std::vector<uint8_t> audio_pes_stream(const std::vector<uint8_t>& audio, unsigned frames_per_packet,
                                      int64_t first_pts) {
    std::vector<uint8_t> out;
    std::vector<size_t> frames = mpeg_audio_frames(audio);
    if (frames.empty() || frames_per_packet == 0) return out;
    static const int rates[3] = {44100, 48000, 32000};
    int64_t pts = first_pts;
    for (size_t i = 0; i < frames.size(); i += frames_per_packet) {
        size_t last = std::min(frames.size(), size_t(i + frames_per_packet));
        size_t begin = frames[i];
        unsigned samples = 0;
        size_t end =
            frames[last - 1] + mpeg1_frame_length(audio.data() + frames[last - 1], &samples);
        std::vector<uint8_t> pes = audio_pes_packet(audio.data() + begin, end - begin, pts);
        out.insert(out.end(), pes.begin(), pes.end());
        int rate = rates[(audio[begin + 2] >> 2) & 3];
        pts += int64_t(last - i) * samples * 90000 / rate;
    }
    return out;
}

std::vector<uint8_t> stamped_blocks(uint32_t sectors, int64_t first_pts, uint8_t seed) {
    constexpr uint32_t VIDEO_SECTORS = 120;
    constexpr size_t AUDIO_BYTES = 900;
    constexpr uint32_t UNIT_SECTORS = 1 + VIDEO_SECTORS + 1 + 2;
    std::vector<uint8_t> out;
    std::vector<uint8_t> video(VIDEO_SECTORS * SECTOR_SIZE);
    std::vector<uint8_t> audio(AUDIO_BYTES);
    int64_t pts = first_pts;
    for (uint32_t unit = 0; (unit + 1) * UNIT_SECTORS <= sectors; ++unit) {
        // Filler bytes from 0x10 up never form a start code.
        for (size_t i = 0; i < video.size(); ++i)
            video[i] = uint8_t(0x10 + (i * 7 + unit * 13 + seed) % 0xE0);
        const uint8_t sequence_header[] = {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, 0x33};
        memcpy(video.data(), sequence_header, sizeof sequence_header);
        append_stream_block(out, STREAM_BLOCK_VIDEO, video.data(), uint32_t(video.size()));
        for (size_t i = 0; i < audio.size(); ++i)
            audio[i] = uint8_t(0x10 + (i * 3 + unit + seed * 5) % 0xE0);
        std::vector<uint8_t> pes = audio_pes_packet(audio.data(), audio.size(), pts);
        append_stream_block(out, STREAM_BLOCK_AUDIO, pes.data(), uint32_t(pes.size()));
        pts = (pts + 3600) & 0x1FFFFFFFFll;
    }
    return out;
}

std::vector<uint8_t> broadcast_blocks(const std::vector<uint8_t>& video,
                                      const std::vector<uint8_t>& audio_pes,
                                      uint32_t video_sectors_per_block,
                                      uint32_t audio_bytes_per_block) {
    std::vector<uint8_t> out;
    if (video_sectors_per_block == 0) video_sectors_per_block = 1;
    if (audio_bytes_per_block == 0) audio_bytes_per_block = SECTOR_SIZE;
    const uint64_t video_block_bytes = uint64_t(video_sectors_per_block) * SECTOR_SIZE;
    size_t v = 0, a = 0;
    auto audio_block = [&] {
        size_t n = std::min<size_t>(audio_bytes_per_block, audio_pes.size() - a);
        append_stream_block(out, STREAM_BLOCK_AUDIO, audio_pes.data() + a, uint32_t(n));
        a += n;
    };
    while (v < video.size()) {
        size_t n = size_t(std::min<uint64_t>(video_block_bytes, video.size() - v));
        append_stream_block(out, STREAM_BLOCK_VIDEO, video.data() + v, uint32_t(n));
        v += n;
        // Keep a / audio size level with v / video size.
        while (a < audio_pes.size() && uint64_t(a) * video.size() < uint64_t(v) * audio_pes.size())
            audio_block();
    }
    while (a < audio_pes.size())
        audio_block();
    return out;
}

std::vector<uint8_t> read_file_bytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(f);
    return bytes;
}

std::string fixture_path(const std::string& name) {
#if defined(QUARROW_SOURCE_DIR)
    std::string dir = QUARROW_SOURCE_DIR;
#if defined(_WIN32)
    // Under Wine the source tree is reached through drive Z:, which maps the host's root.
    if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
#endif
    return dir + "/tests/fixtures/" + name;
#else
    return "tests/fixtures/" + name;
#endif
}

bool write_test_disk(TestDisk& disk, DiskHandle out) {
    const uint16_t last = uint16_t(disk.cluster_count - 1);
    std::vector<uint8_t> fat(FAT_BYTES, 0);
    std::vector<bool> used(disk.cluster_count ? disk.cluster_count : 1, false);
    for (auto& r : disk.recordings)
        for (uint16_t c : r.clusters)
            if (c < used.size()) used[c] = true;

    // Lay out the chains and lengths.
    for (auto& r : disk.recordings) {
        uint64_t sectors_needed = r.start_offset + (r.data.size() + SECTOR_SIZE - 1) / SECTOR_SIZE;
        if (r.clusters.empty() && !r.no_clusters) {
            uint64_t need = std::max<uint64_t>(
                1, (sectors_needed + CLUSTER_DATA_SECTORS - 1) / CLUSTER_DATA_SECTORS);
            for (uint16_t c = 0; c < used.size() && r.clusters.size() < need; ++c)
                if (!used[c]) {
                    used[c] = true;
                    r.clusters.push_back(c);
                }
            if (r.clusters.size() < need) return false;
        }
        if (r.length == 0) r.length = uint32_t((r.data.size() + SECTOR_SIZE - 1) / SECTOR_SIZE);
    }

    // Allocation table: free entries hold c + 1, the last free one 0x3FFF; chains link with
    // bit 15 set and end in 0xBFFF.
    for (uint32_t c = 0; c <= last; ++c)
        write_be16(fat.data() + 2 * c, c + 1);
    write_be16(fat.data() + 2 * last, FAT_CHAIN_END);
    for (auto& r : disk.recordings)
        for (size_t i = 0; i < r.clusters.size(); ++i) {
            uint32_t v = i + 1 < r.clusters.size() ? (FAT_ALLOCATED | r.clusters[i + 1])
                                                   : FAT_LAST_ALLOCATED;
            if (r.clusters[i] < FAT_ENTRIES) write_be16(fat.data() + 2 * r.clusters[i], v);
        }
    if (disk.cluster_count >= 2 && disk.cluster_count <= MAX_CLUSTER_COUNT) {
        uint32_t s = table_parity(fat.data(), last) ^ disk.checksum_error;
        write_be32(fat.data() + 2 * disk.cluster_count, s);
    }

    std::vector<uint8_t> boot(2 * SECTOR_SIZE, 0);
    write_be16(boot.data() + BOOT_CLUSTER_COUNT_OFFSET, disk.cluster_count);
    if (!write_at(out, 0, boot.data(), 2)) return false;
    if (!write_at(out, FAT_SECTOR, fat.data(), FAT_SECTORS)) return false;
    if (!write_at(out, FAT_COPY_SECTOR, fat.data(), FAT_SECTORS)) return false;

    std::vector<uint8_t> toc(TOC_BYTES, 0);
    if (disk.signature) memcpy(toc.data() + TOC_SIGNATURE_OFFSET, "Video", 6);
    put_text(toc.data() + TOC_NOTIFICATION_OFFSET, disk.notification,
             TOC_NOTIFICATION_END - TOC_NOTIFICATION_OFFSET);
    int count = disk.count_override >= 0 ? disk.count_override : int(disk.recordings.size());
    write_be16(toc.data() + TOC_COUNT_OFFSET, uint32_t(count));

    uint16_t next_offset = 4;
    for (size_t j = 0; j < disk.recordings.size(); ++j) {
        TestRecording& r = disk.recordings[j];
        if (r.record_offset == 0) r.record_offset = next_offset;
        next_offset = uint16_t(std::max<int>(next_offset, r.record_offset) + RECORD_SECTORS);
        if (TOC_SLOTS_OFFSET + TOC_SLOT_BYTES * (j + 1) <= TOC_BYTES) {
            uint8_t* slot = toc.data() + TOC_SLOTS_OFFSET + TOC_SLOT_BYTES * j;
            slot[0] = uint8_t(r.attribute_high);
            slot[1] = r.flags;
            write_be16(slot + 2, r.record_offset);
        }

        std::vector<uint8_t> rec(RECORD_BYTES, 0);
        rec[0] = 0x01;
        write_be32(rec.data() + REC_KEY, r.key);
        write_be32(rec.data() + REC_LENGTH, r.length);
        write_be16(rec.data() + REC_FIRST_CLUSTER, r.no_clusters        ? FAT_CHAIN_END
                                                   : r.clusters.empty() ? 0
                                                                        : r.clusters[0]);
        write_be32(rec.data() + REC_START_OFFSET, r.start_offset);
        write_be32(rec.data() + REC_START_TIME, r.start_time);
        write_be32(rec.data() + REC_DURATION, r.duration);
        rec[REC_ATTRIBUTES] = uint8_t(r.attribute_high);
        rec[REC_FLAGS] = r.flags;
        put_text(rec.data() + REC_DEFAULT_TITLE, r.default_title,
                 REC_USER_TITLE - REC_DEFAULT_TITLE);
        put_text(rec.data() + REC_USER_TITLE, r.user_title, REC_USER_TITLE_BYTES);
        put_text(rec.data() + REC_CHANNEL, r.channel, REC_CHANNEL_BYTES);
        if (!write_at(out, TOC_SECTOR + r.record_offset, rec.data(), RECORD_SECTORS)) return false;

        // Cluster headers and data areas, in chain order.
        std::vector<uint8_t> header(2 * SECTOR_SIZE, 0);
        write_be32(header.data(), r.key);
        write_be32(header.data() + 60, r.start_time);
        header[82] = uint8_t(r.attribute_high);
        header[83] = r.flags;
        if (!disk.write_clusters) continue;
        // Only the sectors that hold data are written, then the data area's last sector, so
        // that the area exists whole (a fresh image file stays sparse over the rest).
        std::vector<uint8_t> area(CLUSTER_DATA_BYTES);
        size_t taken = 0;
        for (size_t i = 0; i < r.clusters.size(); ++i) {
            uint16_t c = r.clusters[i];
            if (!write_at(out, cluster_first_sector(c), header.data(), 2)) return false;
            std::fill(area.begin(), area.end(), 0);
            size_t skip = i == 0 ? size_t(r.start_offset) * SECTOR_SIZE : 0;
            size_t used = 0;
            if (skip < area.size() && taken < r.data.size()) {
                size_t n = std::min(area.size() - skip, r.data.size() - taken);
                memcpy(area.data() + skip, r.data.data() + taken, n);
                taken += n;
                used = skip + n;
            }
            int data_sectors = int((used + SECTOR_SIZE - 1) / SECTOR_SIZE);
            if (data_sectors < CLUSTER_DATA_SECTORS) ++data_sectors;  // room for the last one
            if (data_sectors > 1 &&
                !write_at(out, cluster_data_sector(c), area.data(), data_sectors - 1))
                return false;
            if (!write_at(out, cluster_data_sector(c) + CLUSTER_DATA_SECTORS - 1,
                          area.data() + CLUSTER_DATA_BYTES - SECTOR_SIZE, 1))
                return false;
        }
    }
    return write_at(out, TOC_SECTOR, toc.data(), TOC_SECTORS);
}

}  // namespace quarrow::test
