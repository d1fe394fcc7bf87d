#include "extract/stream_filters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "extract/extraction_engine.h"
#include "fs/layout.h"
#include "support/disk_builder.h"
#include "support/disk_sink.h"
#include "support/memory_disk.h"

namespace quarrow {
namespace {

using Bytes = std::vector<uint8_t>;

// An output file in memory, with a fresh filter state as a walk starts it.
struct Filter {
    test::MemoryDisk out;
    DiskHandle file = test::open_memory_disk(&out);
    ByteSink sink = test::disk_sink(file);
    StreamFilterState state{};
    Filter() { reset_stream_filters(&state); }
    ~Filter() { close_disk(file); }
    int video(const Bytes& b) {
        return write_video_block(&state, &sink, b.data(), b.size(), b.size());
    }
    // The audio calls hand their output to the file at once, so that a test sees it.
    int audio(const Bytes& b, int type) {
        int ok = write_audio_block(&state, &sink, b.data(), int64_t(b.size()), type);
        return flush_audio_output(&state, &sink) && ok;
    }
    int strip(const Bytes& b) {
        int ok = strip_pes_headers(&state, &sink, b.data(), int64_t(b.size()));
        return flush_audio_output(&state, &sink) && ok;
    }
};

// Compressed-looking bytes that never hold 00 00 01.
Bytes filler(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(0x80 | ((i * 7 + seed) & 0x7F));
    return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kSeq = {0x00, 0x00, 0x01, 0xB3};

// A PES packet as broadcasts send it: 14-byte header with a PTS, then an MPEG-1 Layer II frame
// (FF FC with CRC, FF FD without).
Bytes pes_packet(size_t frame_bytes, uint8_t second = 0xFC, uint8_t stream = 0xC0) {
    Bytes frame = filler(frame_bytes, uint8_t(frame_bytes));
    frame[0] = 0xFF;
    frame[1] = second;
    Bytes p = test::audio_pes_packet(frame.data(), frame.size(), 90000);
    p[3] = stream;
    return p;
}

TEST(VideoFilter, StartsAtTheFirstSequenceHeaderAndDropsEverythingBefore) {
    Filter f;
    Bytes none = filler(700, 1);
    Bytes with = concat({filler(100, 2), kSeq, filler(300, 3)});
    Bytes later = filler(50, 4);
    EXPECT_EQ(f.video(none), 1);
    EXPECT_TRUE(f.state.video_waiting);
    EXPECT_TRUE(f.out.bytes.empty());
    EXPECT_EQ(f.video(with), 1);
    EXPECT_FALSE(f.state.video_waiting);
    EXPECT_EQ(f.video(later), 1);
    Bytes expected = concat({Bytes(with.begin() + 100, with.end()), later});
    EXPECT_EQ(f.out.bytes, expected);
}

TEST(VideoFilter, ASequenceHeaderSplitAcrossPayloadsIsNotFound) {
    Filter f;
    Bytes first = concat({filler(40, 1), {0x00, 0x00}});
    Bytes second = concat({{0x01, 0xB3}, filler(40, 2)});
    Bytes third = concat({filler(8, 3), kSeq, filler(8, 4)});
    f.video(first);
    f.video(second);
    EXPECT_TRUE(f.out.bytes.empty());
    EXPECT_TRUE(f.state.video_waiting);
    f.video(third);
    EXPECT_EQ(f.out.bytes, Bytes(third.begin() + 8, third.end()));
}

TEST(VideoFilter, StartCodeMayReachPastTheByteCountButNeverPastTheReadableData) {
    Bytes payload = concat({filler(10, 1), kSeq});
    StreamFilterState s{};
    reset_stream_filters(&s);
    test::MemoryDisk out;
    DiskHandle file = test::open_memory_disk(&out);
    ByteSink sink = test::disk_sink(file);
    // Byte count 11: the code starts at offset 10, its last three bytes lie beyond the count.
    EXPECT_EQ(write_video_block(&s, &sink, payload.data(), 11, int64_t(payload.size())), 1);
    EXPECT_FALSE(s.video_waiting);
    EXPECT_EQ(out.bytes, Bytes({0x00}));
    // The same payload at the very end of the loaded data: the code cannot be read whole.
    reset_stream_filters(&s);
    EXPECT_EQ(write_video_block(&s, &sink, payload.data(), 11, 13), 1);
    EXPECT_TRUE(s.video_waiting);
    close_disk(file);
    EXPECT_TRUE(contains_sequence_header(payload.data(), 0, 0));
    EXPECT_FALSE(contains_sequence_header(payload.data(), -1, 14));
    EXPECT_TRUE(contains_sequence_header(payload.data(), 14, 14));
    EXPECT_FALSE(contains_sequence_header(payload.data(), 10, 14));
}

TEST(VideoFilter, FailedWriteGivesZero) {
    Filter f;
    f.out.fail_write_call = 1;
    EXPECT_EQ(f.video(concat({kSeq, filler(10, 1)})), 0);
}

// The look-ahead: sector after sector from the payload's second sector to the next video block
// header, passing over audio headers and other sectors, never past the loaded data.
TEST(SequenceHeaderAhead, FindsTheNextVideoBlockAndStopsAtTheLoadedEnd) {
    Bytes data;
    test::append_stream_block(data, STREAM_BLOCK_VIDEO, filler(1000, 1).data(), 1000);
    Bytes audio = pes_packet(600);
    test::append_stream_block(data, STREAM_BLOCK_AUDIO, audio.data(), uint32_t(audio.size()));
    data.resize(data.size() + SECTOR_SIZE, 0x55);  // a sector that is no header
    size_t next_header = data.size();
    Bytes with = concat({filler(200, 2), kSeq});
    test::append_stream_block(data, STREAM_BLOCK_VIDEO, with.data(), uint32_t(with.size()));
    const uint8_t* payload = data.data() + SECTOR_SIZE;
    EXPECT_TRUE(sequence_header_ahead(payload, data.data() + data.size()));
    // Without the next block's sectors nothing can be seen: no header found.
    EXPECT_FALSE(sequence_header_ahead(payload, data.data() + next_header));
    // Its header loaded but not the sector that holds the code.
    EXPECT_FALSE(sequence_header_ahead(payload, data.data() + next_header + SECTOR_SIZE));
    // A next video block without the code.
    Bytes other;
    test::append_stream_block(other, STREAM_BLOCK_VIDEO, filler(600, 1).data(), 600);
    test::append_stream_block(other, STREAM_BLOCK_VIDEO, filler(600, 2).data(), 600);
    EXPECT_FALSE(sequence_header_ahead(other.data() + SECTOR_SIZE, other.data() + other.size()));
}

TEST(AudioFilter, FindsAStartCodeSplitAcrossPayloadsThroughThePendingTail) {
    Bytes stream = concat({filler(300, 1), pes_packet(400), pes_packet(400)});
    // Cut inside the start code, which begins at 300.
    for (size_t cut : {301, 302, 303, 310, 320}) {
        Filter f;
        Bytes a(stream.begin(), stream.begin() + cut), b(stream.begin() + cut, stream.end());
        EXPECT_EQ(f.audio(a, AUDIO_TYPE_MPG), 1);
        EXPECT_TRUE(f.state.audio_waiting);
        EXPECT_TRUE(tail_pending(&f.state));
        EXPECT_EQ(f.audio(b, AUDIO_TYPE_MPG), 1);
        EXPECT_FALSE(f.state.audio_waiting);
        EXPECT_FALSE(tail_pending(&f.state));
        EXPECT_EQ(f.out.bytes, Bytes(stream.begin() + 300, stream.end())) << "cut " << cut;
    }
}

TEST(AudioFilter, Mpg_KeepsThePacketsUnchangedFromTheFirstStartCode) {
    Filter f;
    Bytes noise = filler(100, 9);
    Bytes packets = concat({pes_packet(300, 0xFC, 0xC1), pes_packet(300, 0xFD)});
    f.audio(filler(64, 3), AUDIO_TYPE_MPG);  // no start code: kept as tail, nothing written
    EXPECT_TRUE(f.out.bytes.empty());
    f.audio(concat({noise, packets}), AUDIO_TYPE_MPG);
    ASSERT_GE(f.out.bytes.size(), 4u);
    EXPECT_EQ(f.out.bytes, packets);
}

TEST(AudioFilter, ShortPayloadsWhileWaitingAreKeptWholeAndNothingIsLost) {
    Bytes stream = concat({filler(5, 1), pes_packet(200)});
    Filter f;
    // Payloads of 1 to 9 bytes, shorter than the tail, then the rest.
    size_t at = 0;
    for (size_t n = 1; at + n < 40; at += n, ++n)
        f.audio(Bytes(stream.begin() + at, stream.begin() + at + n), AUDIO_TYPE_MPG);
    f.audio(Bytes(stream.begin() + at, stream.end()), AUDIO_TYPE_MPG);
    EXPECT_EQ(f.out.bytes, Bytes(stream.begin() + 5, stream.end()));
}

TEST(AudioFilter, StartCodeNeedsTwentyEightBytesFromIt) {
    // A start code in the last 27 bytes is left for the next payload to confirm.
    Filter f;
    Bytes a = concat({filler(50, 1), {0x00, 0x00, 0x01, 0xC0}, filler(20, 2)});
    f.audio(a, AUDIO_TYPE_MPG);
    EXPECT_TRUE(f.state.audio_waiting);
    f.audio(filler(10, 3), AUDIO_TYPE_MPG);
    EXPECT_FALSE(f.state.audio_waiting);
    EXPECT_EQ(f.out.bytes, concat({{0x00, 0x00, 0x01, 0xC0}, filler(20, 2), filler(10, 3)}));
}

TEST(PesHeaderRemoval, RemovesHeadersBeforeFFFCKeepsOthersAndHoldsBackTheEnd) {
    Bytes p1 = pes_packet(300), p2 = pes_packet(300, 0xFD), p3 = pes_packet(300);
    Filter f;
    EXPECT_EQ(f.audio(concat({filler(20, 1), p1, p2, p3}), AUDIO_TYPE_MP2), 1);
    // p1 and p3 lose their 14-byte headers; p2 (no CRC: FF FD) stays whole; the last 16 bytes
    // wait in the carry.
    Bytes all = concat({Bytes(p1.begin() + 14, p1.end()), p2, Bytes(p3.begin() + 14, p3.end())});
    EXPECT_EQ(f.out.bytes, Bytes(all.begin(), all.end() - 16));
    EXPECT_EQ(f.state.pes_carry.count, 16);
}

TEST(PesHeaderRemoval, HeaderStraddlingTwoPayloadsIsRemoved) {
    Bytes p1 = pes_packet(200), p2 = pes_packet(200);
    Bytes stream = concat({p1, p2, filler(40, 5)});
    Bytes expected =
        concat({Bytes(p1.begin() + 14, p1.end()), Bytes(p2.begin() + 14, p2.end()), filler(40, 5)});
    expected.resize(expected.size() - 16);
    // Cut at every offset around p2's header, so that it begins in the carry and ends in the
    // next payload, lies whole in the carry, or starts at the next payload's first byte.
    for (size_t cut = p1.size() - 20; cut <= p1.size() + 20; ++cut) {
        Filter f;
        f.strip(Bytes(stream.begin(), stream.begin() + cut));
        f.strip(Bytes(stream.begin() + cut, stream.end()));
        EXPECT_EQ(f.out.bytes, Bytes(expected.begin() + 0, expected.end()) /* whole */)
            << "cut " << cut;
    }
}

TEST(PesHeaderRemoval, HoldsBackThreeToSixteenBytes) {
    // A header that ends 2 bytes before the limit leaves 3 bytes... the carry keeps what
    // follows the last examined offset.
    Bytes p = pes_packet(100);
    Filter f;
    Bytes data = concat({filler(40, 1), Bytes(p.begin(), p.begin() + 17)});
    f.strip(data);  // the header starts 17 bytes before the end: removed, 3 bytes wait
    EXPECT_EQ(f.state.pes_carry.count, 3);
    EXPECT_EQ(f.out.bytes, filler(40, 1));
    Filter g;
    g.strip(filler(100, 1));
    EXPECT_EQ(g.state.pes_carry.count, 16);
}

TEST(PesHeaderRemoval, FailedWriteGivesZero) {
    Filter f;
    f.out.fail_write_call = 1;
    EXPECT_EQ(f.strip(concat({filler(50, 1), pes_packet(100), filler(50, 2)})), 0);
}

// The removal as a rule over the whole stream: every offset in order is a possible header
// start, a header is 00 00 01 C0/C1 with FF FC 14 bytes on, and it is skipped whole; the last 16
// bytes are never written.
Bytes reference_strip(const Bytes& s) {
    Bytes out;
    size_t k = 0;
    while (k + 16 < s.size()) {
        if (s[k] == 0 && s[k + 1] == 0 && s[k + 2] == 1 && (s[k + 3] & 0xFE) == 0xC0 &&
            s[k + 14] == 0xFF && s[k + 15] == 0xFC) {
            k += 14;
        } else {
            out.push_back(s[k++]);
        }
    }
    return out;
}

Bytes random_audio_stream(std::mt19937& rng) {
    Bytes s;
    std::uniform_int_distribution<int> kind(0, 9), size(2, 300);
    int packets = 1 + int(rng() % 20);
    for (int i = 0; i < packets; ++i) {
        switch (kind(rng)) {
            case 0:
                s.push_back(0x00);
                break;  // stray bytes that shift the alignment
            case 1:
                s.insert(s.end(), {0x00, 0x00, 0x01, 0xC1});
                break;  // a lone start code
            case 2: {
                Bytes p = pes_packet(size_t(size(rng)), 0xFD);
                s.insert(s.end(), p.begin(), p.end());
                break;
            }
            case 3: {
                // Back-to-back headers: the second is data of the first's frame.
                Bytes p = pes_packet(2), q = pes_packet(size_t(size(rng)));
                s.insert(s.end(), p.begin(), p.end());
                s.insert(s.end(), q.begin(), q.end());
                break;
            }
            default: {
                Bytes p = pes_packet(size_t(size(rng)), 0xFC, (rng() & 1) ? 0xC0 : 0xC1);
                s.insert(s.end(), p.begin(), p.end());
            }
        }
    }
    return s;
}

Bytes strip_in_pieces(const Bytes& s, std::mt19937& rng, size_t min_piece, size_t max_piece) {
    Filter f;
    size_t at = 0;
    while (at < s.size()) {
        size_t n = min_piece + rng() % (max_piece - min_piece + 1);
        if (s.size() - at < n || s.size() - at - n < min_piece) n = s.size() - at;
        EXPECT_EQ(f.strip(Bytes(s.begin() + at, s.begin() + at + n)), 1);
        at += n;
    }
    return f.out.bytes;
}

TEST(PesHeaderRemoval, SameBytesHoweverTheStreamIsCutIntoPiecesOfSixteenOrMore) {
    std::mt19937 rng(20021206);
    for (int round = 0; round < 400; ++round) {
        Bytes s = random_audio_stream(rng);
        if (s.size() < 16) continue;
        Bytes whole = strip_in_pieces(s, rng, s.size(), s.size());
        ASSERT_EQ(whole, reference_strip(s)) << "round " << round;
        ASSERT_EQ(strip_in_pieces(s, rng, 16, 40), whole) << "round " << round;
        ASSERT_EQ(strip_in_pieces(s, rng, 16, 600), whole) << "round " << round;
    }
}

// Pieces shorter than the look-ahead go through the small-window path; the bytes are the same.
TEST(PesHeaderRemoval, PiecesShorterThanSixteenGiveTheSameBytes) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 300; ++round) {
        Bytes s = random_audio_stream(rng);
        ASSERT_EQ(strip_in_pieces(s, rng, 1, 20), reference_strip(s)) << "round " << round;
    }
}

TEST(AudioOutput, GatheredUntilTheBufferIsFullOrFlushed) {
    test::MemoryDisk out;
    DiskHandle file = test::open_memory_disk(&out);
    ByteSink sink = test::disk_sink(file);
    StreamFilterState s{};
    reset_stream_filters(&s);
    s.audio_waiting = false;
    Bytes small = filler(1000, 1), large = filler(AUDIO_OUTPUT_BUFFER + 10, 2);
    for (int i = 0; i < 60; ++i)
        ASSERT_EQ(write_audio_block(&s, &sink, small.data(), int64_t(small.size()), AUDIO_TYPE_MPG),
                  1);
    EXPECT_EQ(out.writes, 0);
    ASSERT_EQ(write_audio_block(&s, &sink, small.data(), int64_t(small.size()), AUDIO_TYPE_MPG), 1);
    ASSERT_EQ(write_audio_block(&s, &sink, large.data(), int64_t(large.size()), AUDIO_TYPE_MPG), 1);
    EXPECT_EQ(out.writes, 2);  // the 61 small ones gathered, then the large one directly
    ASSERT_EQ(flush_audio_output(&s, &sink), 1);
    Bytes expected;
    for (int i = 0; i < 61; ++i)
        expected.insert(expected.end(), small.begin(), small.end());
    expected.insert(expected.end(), large.begin(), large.end());
    EXPECT_EQ(out.bytes, expected);
    out.fail_writes_from = out.writes + 1;
    ASSERT_EQ(write_audio_block(&s, &sink, small.data(), int64_t(small.size()), AUDIO_TYPE_MPG), 1);
    EXPECT_EQ(flush_audio_output(&s, &sink), 0);
    close_disk(file);
}

TEST(PendingTail, KeepJoinDrop) {
    StreamFilterState s{};
    reset_stream_filters(&s);
    EXPECT_FALSE(tail_pending(&s));
    Bytes b = filler(40, 1);
    tail_keep(&s, b.data(), int64_t(b.size()));
    EXPECT_TRUE(tail_pending(&s));
    EXPECT_EQ(s.pending_tail.length, PENDING_TAIL_LENGTH);
    uint8_t out[31];
    int n = tail_join(&s, b.data(), 10, out, sizeof out);
    EXPECT_EQ(n, 31);
    EXPECT_EQ(0, memcmp(out, b.data() + 12, 28));
    EXPECT_EQ(0, memcmp(out + 28, b.data(), 3));
    tail_drop(&s);
    EXPECT_FALSE(tail_pending(&s));
    // A new walk forgets a tail left by the last one.
    tail_keep(&s, b.data(), 5);
    reset_stream_filters(&s);
    EXPECT_FALSE(tail_pending(&s));
}

}  // namespace
}  // namespace quarrow
