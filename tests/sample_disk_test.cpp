// The sample disk as the tool writes it: its table, and data that really is the fixture media
// laid out in stream blocks along each recording's chain.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fs/allocation_table.h"
#include "fs/disk_detection.h"
#include "fs/layout.h"
#include "support/disk_builder.h"
#include "support/disk_probe.h"
#include "support/sample_disk.h"
#include "support/temp_files.h"

using namespace quarrow;
using namespace quarrow::test;

namespace {

struct Streams {
    std::vector<uint8_t> video;
    std::vector<uint8_t> audio_pes;
    int video_blocks = 0;
    int audio_blocks = 0;
    int other_sectors = 0;
};

// Follows the chain from the disk and splits the recording's sectors into the two streams.
Streams read_recording(DiskHandle disk, const RecordingEntry& e) {
    Streams s;
    std::vector<uint8_t> table(FAT_BYTES);
    EXPECT_EQ(read_fat(disk, table.data()), 1);
    std::vector<uint8_t> data;
    std::vector<uint8_t> area(CLUSTER_DATA_BYTES);
    uint64_t wanted = (uint64_t(e.start_offset) + e.length) * SECTOR_SIZE;
    for (uint16_t c = e.first_cluster; c != NO_CLUSTER && data.size() < wanted;
         c = next_cluster(table.data(), c)) {
        EXPECT_EQ(read_cluster(disk, c, area.data()), 1) << "cluster " << c;
        data.insert(data.end(), area.begin(), area.end());
    }
    EXPECT_GE(data.size(), wanted);
    size_t at = size_t(e.start_offset) * SECTOR_SIZE;
    size_t end = std::min<size_t>(size_t(wanted), data.size());
    while (at + SECTOR_SIZE <= end) {
        uint32_t bytes = 0;
        uint16_t sectors = 0;
        const uint8_t* p = data.data() + at;
        std::vector<uint8_t>* to = nullptr;
        if (match_video_block(p, &bytes, &sectors)) {
            to = &s.video;
            ++s.video_blocks;
        } else if (match_audio_block(p, &bytes, &sectors)) {
            to = &s.audio_pes;
            ++s.audio_blocks;
        } else {
            ++s.other_sectors;
            at += SECTOR_SIZE;
            continue;
        }
        EXPECT_LE(bytes, uint32_t(sectors) * SECTOR_SIZE);
        EXPECT_LE(at + SECTOR_SIZE + size_t(sectors) * SECTOR_SIZE, end) << "block crosses the end";
        to->insert(to->end(), p + SECTOR_SIZE, p + SECTOR_SIZE + bytes);
        at += SECTOR_SIZE * (1 + size_t(sectors));
    }
    EXPECT_EQ(at, end) << "the length ends inside a block";
    return s;
}

// The audio frames carried by a PES stream that may begin inside a packet.
std::vector<uint8_t> pes_payloads(const std::vector<uint8_t>& pes, int* packets) {
    std::vector<uint8_t> audio;
    size_t at = 0;
    while (at + 4 <= pes.size() &&
           !(pes[at] == 0 && pes[at + 1] == 0 && pes[at + 2] == 1 && pes[at + 3] == 0xC0))
        ++at;
    *packets = 0;
    while (at + 9 <= pes.size()) {
        EXPECT_EQ(pes[at + 3], 0xC0);
        size_t length = size_t(pes[at + 4]) << 8 | pes[at + 5];
        size_t header = 9 + pes[at + 8];
        EXPECT_EQ(header, 14u) << "PES header with PTS";
        EXPECT_EQ(pes[at + 9 + 5], 0xFF);
        EXPECT_EQ(pes[at + 9 + 6], 0xFC) << "a frame with CRC follows each header";
        audio.insert(audio.end(), pes.begin() + at + header, pes.begin() + at + 6 + length);
        at += 6 + length;
        ++*packets;
    }
    EXPECT_EQ(at, pes.size());
    return audio;
}

std::vector<uint8_t> repeated(const std::vector<uint8_t>& bytes, int times) {
    std::vector<uint8_t> out;
    for (int i = 0; i < times; ++i)
        out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

bool ends_with(const std::vector<uint8_t>& whole, const std::vector<uint8_t>& tail) {
    return whole.size() >= tail.size() &&
           std::equal(tail.begin(), tail.end(), whole.end() - std::ptrdiff_t(tail.size()));
}

}  // namespace

TEST(FixtureMedia, VideoAndAudioWithCrcAsTheScriptMadeThem) {
    SampleMedia media;
    ASSERT_TRUE(load_sample_media("", &media)) << fixture_path("");
    const uint8_t sequence_header[4] = {0, 0, 1, 0xB3};
    EXPECT_TRUE(std::equal(sequence_header, sequence_header + 4, media.video.begin()));
    std::vector<size_t> frames = mpeg_audio_frames(media.audio);
    EXPECT_EQ(frames.size(), 125u);  // 3 s of 24 ms frames
    for (size_t f : frames) {
        ASSERT_EQ(media.audio[f], 0xFF);
        ASSERT_EQ(media.audio[f + 1], 0xFC);
    }
    EXPECT_LT(media.video.size() + media.audio.size(), 400u * 1024);
}

TEST(BroadcastBlocks, InterleavesVideoWithTheAudioThatKeepsPace) {
    std::vector<uint8_t> video(10 * 512 * 3 + 100, 0x11), pes(9000, 0x22);
    std::vector<uint8_t> data = broadcast_blocks(video, pes, 10, 1800);
    // Four video blocks (the last of 100 bytes); after each, the audio blocks that bring the audio
    // to the same share of its stream.
    std::vector<char> kinds;
    size_t at = 0;
    while (at < data.size()) {
        uint32_t bytes;
        uint16_t sectors;
        if (match_video_block(data.data() + at, &bytes, &sectors)) {
            kinds.push_back('V');
        } else {
            ASSERT_EQ(match_audio_block(data.data() + at, &bytes, &sectors), 1);
            EXPECT_EQ(sectors, (bytes + 511) / 512);
            kinds.push_back('A');
        }
        at += 512 * (1 + size_t(sectors));
    }
    EXPECT_EQ(std::string(kinds.begin(), kinds.end()), "VAAVAAVAV");
}

TEST(SampleDisk, TableAndMediaAsWritten) {
    SampleMedia media;
    ASSERT_TRUE(load_sample_media("", &media));
    TestDisk disk = sample_disk(media);
    TempDir dir;
    std::string path = dir.file("sample.hex");
    DiskHandle out = create_output_file(path.c_str());
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(write_sample_disk(disk, out));
    close_disk(out);
    EXPECT_EQ(file_size(path), 49ll * 8388608);

    LoadedImage loaded(path);
    DiskHandle h = loaded.disk;
    const std::vector<RecordingEntry>& entries = loaded.list;
    ASSERT_NE(h, nullptr) << loaded.message;
    EXPECT_STREQ(loaded.message, "MediaMaster Disk Image with 5 Recordings (392 MB).");
    ASSERT_EQ(loaded.count, 5);

    const char* titles[] = {"Ski-WM \xC5re", "arte", "Urlaubsfilm f\xFCr Oma", "Caf\xE9 No\xEBl",
                            "Nachrichten - S\xFC\x64"};  // \x64: the d of Süd
    const char* attributes[] = {"Pause, Locked", "Erasable, Locked", "Pause", "Permanent, Locked",
                                "Erasable"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_STREQ(entries[i].display_title, titles[i]);
        EXPECT_STREQ(entries[i].attribute_text, attributes[i]);
    }
    EXPECT_EQ(entries[2].first_cluster, 9);
    EXPECT_GT(entries[2].length, uint32_t(2 * CLUSTER_DATA_SECTORS)) << "spans three clusters";
    EXPECT_EQ(entries[2].minutes, 3);
    EXPECT_EQ(entries[2].seconds, 18);
    EXPECT_EQ(entries[4].start_offset, 32u);

    const int passes[] = {2, 1, 66, 1, 2};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(entries[i].display_title);
        Streams s = read_recording(h, entries[i]);
        EXPECT_EQ(s.other_sectors, 0);
        EXPECT_GT(s.audio_blocks, s.video_blocks) << "audio blocks are a few sectors each";
        std::vector<uint8_t> video = repeated(media.video, passes[i]);
        std::vector<uint8_t> audio = repeated(media.audio, passes[i]);
        int packets = 0;
        std::vector<uint8_t> frames = pes_payloads(s.audio_pes, &packets);
        if (i == 3) {  // the recording that began part-way
            EXPECT_EQ(s.video.size(), video.size() - 20000);
            EXPECT_TRUE(ends_with(video, s.video));
            EXPECT_TRUE(ends_with(audio, frames));
            EXPECT_EQ(packets, 123);  // 1000 bytes cut the first packet and part of the second
        } else {
            EXPECT_EQ(s.video, video);
            EXPECT_EQ(frames, audio);
            EXPECT_EQ(packets, 125 * passes[i]);
        }
        uint32_t seconds = entries[i].hours * 3600 + entries[i].minutes * 60 + entries[i].seconds;
        EXPECT_EQ(seconds, uint32_t(3 * passes[i] - (i == 3 ? 1 : 0))) << "duration matches";
    }
}
