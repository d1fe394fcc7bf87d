#include "extract/extraction_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extract/output_name.h"
#include "fs/layout.h"
#include "support/disk_builder.h"
#include "support/disk_sink.h"
#include "support/memory_disk.h"

namespace quarrow {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes filler(size_t n, uint8_t seed) {
    Bytes b;
    b.reserve(n);
    for (size_t i = 0; i < n; ++i)
        b.push_back(uint8_t(0x80 | ((i * 7 + seed) & 0x7F)));
    return b;
}

Bytes with_sequence_header(size_t n, uint8_t seed, size_t at = 0) {
    Bytes b = filler(n, seed);
    b[at] = 0;
    b[at + 1] = 0;
    b[at + 2] = 1;
    b[at + 3] = 0xB3;
    return b;
}

// One PES packet whose bytes tell which audio block it came from.
Bytes audio_packet(size_t frame_bytes, uint8_t seed) {
    Bytes frame = filler(frame_bytes, seed);
    frame[0] = 0xFF;
    frame[1] = 0xFC;
    return test::audio_pes_packet(frame.data(), frame.size(), 90000);
}

// Recording data assembled block by block, remembering what each payload holds.
struct Layout {
    Bytes data;
    std::vector<Bytes> video, audio;  // payloads in disk order
    void add_video(const Bytes& p) {
        test::append_stream_block(data, STREAM_BLOCK_VIDEO, p.data(), uint32_t(p.size()));
        video.push_back(p);
    }
    void add_audio(const Bytes& p) {
        test::append_stream_block(data, STREAM_BLOCK_AUDIO, p.data(), uint32_t(p.size()));
        audio.push_back(p);
    }
    int32_t sectors() const { return int32_t(data.size() / SECTOR_SIZE); }
};

Bytes join(const std::vector<Bytes>& parts, size_t from, size_t to = size_t(-1)) {
    Bytes out;
    for (size_t i = from; i < parts.size() && i < to; ++i)
        out.insert(out.end(), parts[i].begin(), parts[i].end());
    return out;
}

struct Options {
    int32_t start = 0;
    int32_t length = -1;  // -1: the layout's sectors
    int audio_type = AUDIO_TYPE_MPG;
    bool auto_sync = false;
    int sync = 1;
    bool no_video = false;
};

// A disk with one recording laid along `clusters`, walked into files held in memory.
struct Walk {
    test::MemoryDisk image, video, audio;
    std::vector<std::string> notices;
    std::vector<std::pair<int64_t, int64_t>> progress;
    char message[MESSAGE_SIZE] = "";
    int result = -1;
    uint16_t first_cluster = 0;

    void build(const Layout& layout, std::vector<uint16_t> clusters, uint32_t start_offset = 0,
               uint16_t cluster_count = 4) {
        test::TestDisk disk;
        disk.cluster_count = cluster_count;
        test::TestRecording r;
        r.default_title = "Test";
        r.clusters = std::move(clusters);
        r.data = layout.data;
        r.start_offset = start_offset;
        disk.recordings.push_back(r);
        DiskHandle h = test::open_memory_disk(&image);
        ASSERT_TRUE(test::write_test_disk(disk, h));
        close_disk(h);
        first_cluster = disk.recordings[0].clusters[0];
        image.reads = image.writes = 0;
    }

    int run(const Options& o, int32_t length) {
        DiskHandle disk = test::open_memory_disk(&image);
        DiskHandle v = o.no_video ? nullptr : test::open_memory_disk(&video);
        DiskHandle a = test::open_memory_disk(&audio);
        OperationHooks hooks{};
        hooks.context = this;
        hooks.progress = [](void* c, int64_t done, int64_t total) {
            static_cast<Walk*>(c)->progress.emplace_back(done, total);
        };
        hooks.notice = [](void* c, const char* text) {
            static_cast<Walk*>(c)->notices.push_back(text);
        };
        ExtractionRequest r;
        r.first_cluster = first_cluster;
        r.start = o.start;
        r.length = length;
        r.audio_type = o.audio_type;
        r.auto_video_sync = o.auto_sync;
        r.sync_tuning = o.sync;
        r.no_video = o.no_video;
        r.hooks = &hooks;
        ExtractionOutputs outputs;
        outputs.video = test::disk_sink(v);
        outputs.audio = test::disk_sink(a);
        result = walk_recording(disk, r, outputs, message);
        close_disk(disk);
        close_disk(v);
        close_disk(a);
        return result;
    }
};

// Video blocks V0 (no sequence header) V1 (header at 40) V2 V3 ..., each followed by one audio
// block A0 A1 ..., every audio payload one whole PES packet.
Layout interleaved(int pairs, bool header_in_every_video = false) {
    Layout l;
    for (int i = 0; i < pairs; ++i) {
        if (i == 1)
            l.add_video(with_sequence_header(900, uint8_t(i), 40));
        else if (i > 1 && header_in_every_video)
            l.add_video(with_sequence_header(900, uint8_t(i)));
        else
            l.add_video(filler(900 + i, uint8_t(i)));
        l.add_audio(audio_packet(700 + i, uint8_t(100 + i)));
    }
    return l;
}

TEST(Walk, VideoStartsAtTheFirstSequenceHeaderAndAudioAfterTheSyncCountdown) {
    Layout l = interleaved(8);
    Walk w;
    w.build(l, {1});
    ASSERT_EQ(w.run(Options{}, l.sectors()), 1) << w.message;
    Bytes video = join(l.video, 2);
    Bytes v1 = l.video[1];
    video.insert(video.begin(), v1.begin() + 40, v1.end());
    EXPECT_EQ(w.video.bytes, video);
    // Sync 1, auto sync off: V1 and V2 count the countdown down from 1 to -1; A2 is the first
    // audio block let through and is dropped; the file begins with A3.
    EXPECT_EQ(w.audio.bytes, join(l.audio, 3));
    EXPECT_TRUE(w.notices.empty());
}

TEST(Walk, SyncTuningFiveHoldsAudioBackBySixWrittenVideoBlocks) {
    Layout l = interleaved(10);
    Walk w;
    w.build(l, {1});
    Options o;
    o.sync = 5;
    ASSERT_EQ(w.run(o, l.sectors()), 1);
    // V1 ... V6 decrease the countdown to -1; A6 is dropped as the first let through.
    EXPECT_EQ(w.audio.bytes, join(l.audio, 7));
}

TEST(Walk, AutoSyncCountsOnlyVideoBlocksWhoseNextBlockOpensNoSequence) {
    // V1, V2 and V3 hold sequence headers, V4 on none: with auto sync V1 and V2 keep the
    // countdown (their next block holds one), V3 and V4 count it down to -1, A4 is dropped.
    Layout l;
    for (int i = 0; i < 8; ++i) {
        l.add_video(i >= 1 && i <= 3 ? with_sequence_header(900, uint8_t(i)) : filler(900, 1));
        l.add_audio(audio_packet(500, uint8_t(i)));
    }
    Walk on, off;
    on.build(l, {1});
    off.build(l, {1});
    Options o;
    o.auto_sync = true;
    ASSERT_EQ(on.run(o, l.sectors()), 1);
    EXPECT_EQ(on.audio.bytes, join(l.audio, 5));
    o.auto_sync = false;
    ASSERT_EQ(off.run(o, l.sectors()), 1);
    EXPECT_EQ(off.audio.bytes, join(l.audio, 3));
}

TEST(Walk, AudioHeldBackToTheEndIsNoticed) {
    // Every video block opens a new sequence: with auto sync the countdown never moves.
    Layout l;
    for (int i = 0; i < 6; ++i) {
        l.add_video(with_sequence_header(900, uint8_t(i)));
        l.add_audio(audio_packet(500, uint8_t(i)));
    }
    l.add_video(with_sequence_header(900, 9));
    Walk w;
    w.build(l, {1});
    Options o;
    o.auto_sync = true;
    ASSERT_EQ(w.run(o, l.sectors()), 1);
    EXPECT_TRUE(w.audio.bytes.empty());
    ASSERT_EQ(w.notices.size(), 1u);
    EXPECT_EQ(w.notices[0],
              "No audio passed the video sync before the end of the range (try without auto "
              "video sync).");
    Walk off;
    off.build(l, {1});
    o.auto_sync = false;
    ASSERT_EQ(off.run(o, l.sectors()), 1);
    EXPECT_EQ(off.audio.bytes, join(l.audio, 2));  // V0, V1 count; A1 dropped
    EXPECT_TRUE(off.notices.empty());
}

TEST(Walk, NoVideoLetsAudioThroughFromTheSecondAudioBlock) {
    Layout l = interleaved(5);
    Walk w;
    w.build(l, {1});
    Options o;
    o.no_video = true;
    ASSERT_EQ(w.run(o, l.sectors()), 1);
    EXPECT_TRUE(w.video.bytes.empty());
    EXPECT_EQ(w.audio.bytes, join(l.audio, 1));
}

TEST(Walk, Mp2RemovesTheHeadersAndHoldsBackTheLastSixteenBytes) {
    Layout l = interleaved(6);
    Walk w;
    w.build(l, {1});
    Options o;
    o.no_video = true;
    o.audio_type = AUDIO_TYPE_MP2;
    ASSERT_EQ(w.run(o, l.sectors()), 1);
    Bytes expected;
    for (size_t i = 1; i < l.audio.size(); ++i)
        expected.insert(expected.end(), l.audio[i].begin() + 14, l.audio[i].end());
    expected.resize(expected.size() - 16);
    EXPECT_EQ(w.audio.bytes, expected);
}

TEST(Walk, NoSequenceHeaderAnywhereLeavesBothFilesEmpty) {
    Layout l;
    for (int i = 0; i < 4; ++i) {
        l.add_video(filler(800, uint8_t(i)));
        l.add_audio(audio_packet(300, uint8_t(i)));
    }
    Walk w;
    w.build(l, {1});
    ASSERT_EQ(w.run(Options{}, l.sectors()), 1);
    EXPECT_TRUE(w.video.bytes.empty());
    EXPECT_TRUE(w.audio.bytes.empty());
}

TEST(Walk, UnexpectedSectorsAreCountedOnceEachNoticedAndCountedAgainstTheLength) {
    Layout l = interleaved(6);
    Walk w;
    w.build(l, {1});
    Options o;
    // Start inside V0's payload (header at 0, 2 payload sectors): sectors 1 and 2 are skipped.
    o.start = 1;
    ASSERT_EQ(w.run(o, l.sectors() - 1), 1);
    ASSERT_EQ(w.notices.size(), 1u);
    EXPECT_EQ(w.notices[0], "Skipped 2 sectors during extraction (unexpected data sectors).");
    Bytes v1 = l.video[1];
    EXPECT_EQ(Bytes(w.video.bytes.begin(), w.video.bytes.begin() + 10),
              Bytes(v1.begin() + 40, v1.begin() + 50));
    // Length 2 from sector 1: only the two skipped sectors are walked.
    Walk s;
    s.build(l, {1});
    ASSERT_EQ(s.run(o, 2), 1);
    EXPECT_EQ(s.notices.size(), 1u);
    EXPECT_TRUE(s.video.bytes.empty());
    EXPECT_EQ(s.progress, (std::vector<std::pair<int64_t, int64_t>>{{0, 2}, {1, 2}}));
}

TEST(Walk, LengthZeroStillReadsTheClustersAndSucceeds) {
    Layout l = interleaved(3);
    Walk w;
    w.build(l, {2, 1});
    ASSERT_EQ(w.run(Options{}, 0), 1);
    EXPECT_EQ(w.image.reads, 3);  // the table and two clusters
    EXPECT_TRUE(w.video.bytes.empty());
    Walk f;
    f.build(l, {2, 1});
    f.image.fail_read_call = 3;
    EXPECT_EQ(f.run(Options{}, -5), 0);
    EXPECT_STREQ(f.message, "Error while accessing 2nd cluster (FAT Entry 1)");
}

// A recording that starts in the second data area, and blocks that run from one cluster into the
// next along a chain that goes down and up again.
TEST(Walk, BlocksCrossClusterBoundariesAlongANonAscendingChain) {
    Layout l;
    l.add_video(with_sequence_header(1000, 1));
    // Blocks of 250 sectors: their starts do not line up with the cluster data areas of 16382.
    int i = 0;
    while (l.data.size() < size_t(2 * CLUSTER_DATA_BYTES + 50 * SECTOR_SIZE)) {
        l.add_video(filler(250 * SECTOR_SIZE - 7, uint8_t(i)));
        l.add_audio(audio_packet(1500, uint8_t(i)));
        ++i;
    }
    Walk w;
    w.build(l, {3, 0, 2}, 0, 5);
    ASSERT_EQ(w.run(Options{}, l.sectors()), 1) << w.message;
    EXPECT_EQ(w.video.bytes, join(l.video, 0));
    EXPECT_EQ(w.audio.bytes, join(l.audio, 1));
    EXPECT_TRUE(w.notices.empty());
}

// The auto-sync look-ahead from the last video block of one cluster finds the next video block
// far into the next cluster, past a large audio block.
TEST(Walk, LookAheadReachesIntoTheNextCluster) {
    Layout l;
    int i = 0;
    while (l.data.size() < size_t(CLUSTER_DATA_BYTES - 300 * SECTOR_SIZE)) {
        l.add_video(with_sequence_header(250 * SECTOR_SIZE, uint8_t(i++)));
    }
    l.add_audio(audio_packet(700 * SECTOR_SIZE, 1));  // runs on into the next cluster
    l.add_video(with_sequence_header(100 * SECTOR_SIZE, 2));
    l.add_video(with_sequence_header(100 * SECTOR_SIZE, 3));
    for (int k = 0; k < 3; ++k)
        l.add_audio(audio_packet(500, uint8_t(10 + k)));
    Walk w;
    w.build(l, {2, 1});
    Options o;
    o.auto_sync = true;
    o.sync = 0;
    ASSERT_EQ(w.run(o, l.sectors()), 1) << w.message;
    // Every video block but the last is followed by one that opens a sequence: only the last
    // counts the countdown down, the first audio block after it is dropped.
    EXPECT_EQ(w.audio.bytes, join(l.audio, 2));
    EXPECT_TRUE(w.notices.empty());
}

TEST(Walk, StartInTheSecondDataArea) {
    Layout l;
    l.data.resize(SECTOR_SIZE, 0x33);  // one sector that is no header
    l.add_video(with_sequence_header(1000, 1));
    for (int i = 0; i < 4; ++i) {
        l.add_audio(audio_packet(400, uint8_t(i)));
        l.add_video(filler(700, uint8_t(i)));
    }
    // The data begins with the second cluster of the chain, area B.
    for (int32_t start : {CLUSTER_DATA_SECTORS, CLUSTER_DATA_SECTORS + 1}) {
        Walk w;
        w.build(l, {2, 1}, CLUSTER_DATA_SECTORS);
        Options o;
        o.start = start;
        ASSERT_EQ(w.run(o, l.sectors() - (start - CLUSTER_DATA_SECTORS)), 1) << w.message;
        EXPECT_EQ(w.video.bytes, join(l.video, 0));
        EXPECT_EQ(w.audio.bytes, join(l.audio, 2));
        EXPECT_EQ(w.notices.size(), start == CLUSTER_DATA_SECTORS ? 1u : 0u);
    }
}

TEST(Walk, LengthPastTheChainEndsAtTheLoadedDataWithANotice) {
    Layout l = interleaved(6);
    Walk w;
    w.build(l, {1});
    // Twice the recording's sectors, with a one-cluster chain: without a bound the walk would
    // go on into area B, which was never read.
    ASSERT_EQ(w.run(Options{}, 3 * CLUSTER_DATA_SECTORS), 1) << w.message;
    EXPECT_EQ(w.audio.bytes, join(l.audio, 3));
    ASSERT_FALSE(w.notices.empty());
    // The empty rest of the data area is not a block: its sectors are skipped up to the end.
    EXPECT_EQ(w.notices.back(),
              "The recording's clusters end after 16382 of 49146 sectors; the extraction "
              "stopped there.");
}

TEST(Walk, ChainThatLoopsBackIsNotWalkedTwice) {
    Layout l;
    l.add_video(with_sequence_header(600, 1));
    while (l.data.size() < size_t(CLUSTER_DATA_BYTES + 100 * SECTOR_SIZE))
        l.add_video(filler(100 * SECTOR_SIZE, 2));
    Walk w;
    w.build(l, {1, 2});
    // Make cluster 2 link back to cluster 1.
    write_be16(w.image.bytes.data() + FAT_SECTOR * SECTOR_SIZE + 2 * 2, FAT_ALLOCATED | 1);
    ASSERT_EQ(w.run(Options{}, 4 * CLUSTER_DATA_SECTORS), 1);
    EXPECT_LE(w.video.bytes.size(), size_t(2 * CLUSTER_DATA_BYTES));
    ASSERT_FALSE(w.notices.empty());
    EXPECT_NE(w.notices.back().find("loops back"), std::string::npos);
}

// A start in the third or fourth cluster of the chain: the walk follows the table to the cluster
// that holds it and reads none before (their sectors fail every read), and gives the blocks from
// there on. A start past the chain's end fails.
TEST(Walk, StartAnywhereReadsNoClusterBeforeIt) {
    Layout l;
    std::vector<int32_t> block_at;  // the sector of each video block
    while (l.data.size() < size_t(4 * CLUSTER_DATA_BYTES - 300 * SECTOR_SIZE)) {
        block_at.push_back(l.sectors());
        l.add_video(with_sequence_header(250 * SECTOR_SIZE - 7, uint8_t(block_at.size())));
    }
    const std::vector<uint16_t> chain = {3, 0, 2, 1};
    for (size_t first : {size_t(140), size_t(200), block_at.size()}) {
        int32_t start = first < block_at.size() ? block_at[first] : 4 * CLUSTER_DATA_SECTORS;
        SCOPED_TRACE(start);
        Walk w;
        w.build(l, chain, 0, 5);
        for (int64_t k = 0; k < start / CLUSTER_DATA_SECTORS; ++k)
            w.image.failing.push_back(
                {cluster_data_sector(chain[size_t(k)]), CLUSTER_DATA_SECTORS});
        Options o;
        o.start = start;
        int ok = w.run(o, std::max(1, l.sectors() - start));
        if (first == block_at.size()) {
            EXPECT_EQ(ok, 0);
            EXPECT_STREQ(w.message, "The start sector lies outside the recording's data.");
            continue;
        }
        ASSERT_EQ(ok, 1) << w.message;
        EXPECT_EQ(w.video.bytes, join(l.video, first));
        EXPECT_TRUE(w.notices.empty());
    }
}

TEST(Walk, StartOutsideTheLoadedDataFails) {
    Layout l = interleaved(2);
    for (int32_t start : {CLUSTER_DATA_SECTORS, CLUSTER_DATA_SECTORS + 5, -1}) {
        Walk w;
        w.build(l, {1});
        Options o;
        o.start = start;
        EXPECT_EQ(w.run(o, 10), 0);
        EXPECT_STREQ(w.message, "The start sector lies outside the recording's data.");
    }
}

TEST(Walk, HeadersWhoseLengthsDoNotFitAreSteppedOverAsUnexpectedSectors) {
    Layout l;
    l.add_video(with_sequence_header(600, 1));
    // A header that claims 65535 payload sectors (32 MB, more than the buffer) and one that
    // claims more bytes than its sectors hold.
    Bytes bad(SECTOR_SIZE, 0);
    bad[0] = 0x74;
    bad[7] = STREAM_BLOCK_VIDEO;
    write_be16(bad.data() + BLOCK_PAYLOAD_SECTORS, 0xFFFF);
    l.data.insert(l.data.end(), bad.begin(), bad.end());
    write_be16(bad.data() + BLOCK_PAYLOAD_SECTORS, 1);
    write_be32(bad.data() + BLOCK_PAYLOAD_BYTES, SECTOR_SIZE + 1);
    l.data.insert(l.data.end(), bad.begin(), bad.end());
    l.data.insert(l.data.end(), SECTOR_SIZE, 0x11);  // its one payload sector
    l.add_video(filler(300, 2));
    Walk w;
    w.build(l, {1});
    ASSERT_EQ(w.run(Options{}, l.sectors()), 1);
    EXPECT_EQ(w.video.bytes, join(l.video, 0));
    ASSERT_EQ(w.notices.size(), 1u);
    EXPECT_EQ(w.notices[0], "Skipped 3 sectors during extraction (unexpected data sectors).");
}

TEST(Walk, EachReadAndWriteFailureEndsTheWalkWithItsMessage) {
    Layout l;
    l.add_video(with_sequence_header(600, 1));
    l.add_audio(audio_packet(300, 1));
    while (l.data.size() < size_t(2 * CLUSTER_DATA_BYTES + 10 * SECTOR_SIZE)) {
        l.add_video(filler(200 * SECTOR_SIZE, 2));
        l.add_audio(audio_packet(300, 1));
    }
    struct Case {
        int fail_read, fail_video_write, fail_audio_write;
        const char* message;
    } cases[] = {
        {1, 0, 0, "Error while attempting to read the FAT"},
        {2, 0, 0, "Error while accessing 1st cluster (FAT Entry 2)."},
        {3, 0, 0, "Error while accessing 2nd cluster (FAT Entry 0)"},
        {4, 0, 0, "Error while accessing data cluster (FAT Entry 3)"},
        {0, 1, 0, "Error while writing to disk."},
        {0, 0, 1, "Error while writing to disk."},
    };
    for (const Case& c : cases) {
        Walk w;
        w.build(l, {2, 0, 3}, 0, 5);
        w.image.fail_read_call = c.fail_read;
        w.video.fail_write_call = c.fail_video_write;
        w.audio.fail_write_call = c.fail_audio_write;
        EXPECT_EQ(w.run(Options{}, l.sectors()), 0) << c.message;
        EXPECT_STREQ(w.message, c.message);
        EXPECT_TRUE(w.notices.empty());  // no notice on a failed walk
    }
    // A failed later read leaves what was written before it.
    Walk w;
    w.build(l, {2, 0, 3}, 0, 5);
    w.image.fail_read_call = 4;
    w.run(Options{}, l.sectors());
    EXPECT_GT(w.video.bytes.size(), size_t(CLUSTER_DATA_BYTES / 2));
}

TEST(Walk, FirstClusterThatIsNotOnTheDiskFailsItsRead) {
    Layout l = interleaved(2);
    Walk w;
    w.build(l, {1});
    w.first_cluster = 0xFFFF;
    EXPECT_EQ(w.run(Options{}, 5), 0);
    EXPECT_STREQ(w.message, "Error while accessing 1st cluster (FAT Entry 65535).");
}

TEST(Names, PathAndPrefixChecksInOrder) {
    char m[MESSAGE_SIZE];
    EXPECT_EQ(check_output_names("", "", m), 1);
    // 260 bytes for the Windows ANSI calls; the system's PATH_MAX on POSIX.
    const size_t limit = max_output_name_bytes();
#if defined(_WIN32)
    EXPECT_EQ(limit, 260u);
#else
    EXPECT_GT(limit, 1000u);
#endif
    std::string long_path(200, 'a'), long_prefix(limit - 205, 'b');
    EXPECT_EQ(check_output_names(long_path.c_str(), long_prefix.c_str(), m), 1);
    long_prefix += "b";
    EXPECT_EQ(check_output_names(long_path.c_str(), long_prefix.c_str(), m), 0);
    EXPECT_STREQ(m, "Invalid Path or Prefix (too long).");
    for (const char* bad : {"a*b", "a?", "<", ">", "|", "\""}) {
        EXPECT_EQ(check_output_names(bad, "p", m), 0) << bad;
        EXPECT_STREQ(m, "Path contains invalid characters.");
    }
    for (const char* bad : {"a\\b", "a/b", "c:", "*", "?", "<", ">", "|", "\""}) {
        EXPECT_EQ(check_output_names("dir", bad, m), 0) << bad;
        EXPECT_STREQ(m, "File Prefix contains invalid characters.");
    }
    // The path is checked before the prefix.
    EXPECT_EQ(check_output_names("a*", "b:", m), 0);
    EXPECT_STREQ(m, "Path contains invalid characters.");
    EXPECT_EQ(check_output_names("C:\\Videos\\", "Caf\xE9 No\xEBl", m), 1);
#if defined(_WIN32)
    EXPECT_FALSE(path_char_allowed('/'));
    // The broken bar of the ANSI code page.
    EXPECT_EQ(check_output_names("x\xA6", "p", m), 0);
    EXPECT_EQ(check_output_names("dir", "\xA6", m), 0);
#else
    // In UTF-8 the byte 0xA6 is part of a character: "\xC3\xA6" is the ligature ae.
    EXPECT_EQ(check_output_names("/tmp/\xC3\xA6", "\xD0\xA6", m), 1);
    // '/' separates folders here.
    EXPECT_EQ(check_output_names("/tmp/out", "p", m), 1);
#endif
}

}  // namespace
}  // namespace quarrow
