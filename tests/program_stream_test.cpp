// The program stream writer fed directly: where audio frames go when the broadcast's time stamps
// have gaps, duplicates and jumps, and the silent frames it makes; the video start-code search;
// packs that stay whole; the spans reaching the file.
#include "extract/program_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "extract/matroska_mux.h"
#include "extract/mpeg_audio.h"
#include "extract/output_spans.h"
#include "extract/program_stream_parts.h"
#include "support/disk_builder.h"
#include "support/matroska_media.h"
#include "support/program_stream_probe.h"
#include "support/sample_disk.h"
#include "support/temp_files.h"

namespace quarrow {
namespace {

using Bytes = std::vector<uint8_t>;

struct Collected {
    Bytes bytes;
    std::vector<std::string> notices;
};

// The fixture audio as one PES packet per frame (frames: where each begins), stamped from 10 s
// on at 2160 ticks (24 ms) a frame.
Bytes stamped_audio_packets(const Bytes& audio, const std::vector<size_t>& frames) {
    Bytes pes;
    for (size_t i = 0; i < frames.size(); ++i) {
        size_t to = i + 1 < frames.size() ? frames[i + 1] : audio.size();
        Bytes p = test::audio_pes_packet(audio.data() + frames[i], to - frames[i],
                                         900000 + int64_t(i) * 2160);
        pes.insert(pes.end(), p.begin(), p.end());
    }
    return pes;
}

bool begin_part(void*, int) {
    return true;
}
bool collect(void* context, const ByteSpan* spans, int count) {
    Bytes& b = static_cast<Collected*>(context)->bytes;
    for (int i = 0; i < count; ++i) {
        const uint8_t* p = static_cast<const uint8_t*>(spans[i].bytes);
        b.insert(b.end(), p, p + spans[i].size);
    }
    return true;
}

TEST(ProgramStreamAudio, GapsAreFilledOverlapsDroppedAndJumpsStartANewTimeBase) {
    test::SampleMedia media;
    ASSERT_TRUE(test::load_sample_media("", &media));
    std::vector<size_t> frames = test::mpeg_audio_frames(media.audio);
    const int64_t FRAME = 2160;  // 1152 samples at 48 kHz, in 90 kHz ticks
    // Broadcast time stamps per frame (-1: the frame is not sent): steady, a gap of five frames,
    // a duplicate, a gap of 1.4 frames, a jump back by a second, a jump ahead by 20 seconds.
    std::vector<int64_t> stamps;
    int64_t t = 900000;
    for (int i = 0; i < 100; ++i) {
        if (i == 30) t += 5 * FRAME;
        if (i == 50) t -= FRAME;            // the frame before, again
        if (i == 60) t += FRAME * 14 / 10;  // 1.4 frames late
        if (i == 70) t -= 90000;
        if (i == 85) t += 20 * 90000;
        stamps.push_back(t);
        t += FRAME;
    }
    Bytes pes;
    for (size_t i = 0; i < stamps.size(); ++i) {
        size_t from = frames[i % frames.size()];
        size_t to = i % frames.size() + 1 < frames.size() ? frames[i % frames.size() + 1]
                                                          : media.audio.size();
        Bytes p = test::audio_pes_packet(media.audio.data() + from, to - from, stamps[i]);
        pes.insert(pes.end(), p.begin(), p.end());
    }

    Collected out;
    OperationHooks hooks{};
    hooks.context = &out;
    hooks.notice = [](void* c, const char* text) {
        static_cast<Collected*>(c)->notices.push_back(text);
    };
    ProgramStreamWriter* w = create_program_stream({}, {&out, begin_part, collect}, &hooks);
    ASSERT_NE(w, nullptr);
    ByteSink video = program_stream_video_sink(w), audio = program_stream_audio_sink(w);
    ASSERT_TRUE(sink_write(&video, media.video.data(), int64_t(media.video.size())));
    ASSERT_TRUE(sink_write(&audio, pes.data(), int64_t(pes.size())));
    char message[MESSAGE_SIZE] = "";
    ASSERT_TRUE(finish_program_stream(w, message));
    ProgramStreamCounts counts = program_stream_counts(w);
    destroy_program_stream(w);

    EXPECT_EQ(counts.silent_frames, 5 + 1);
    EXPECT_EQ(counts.dropped_frames, 1);
    EXPECT_EQ(counts.audio_frames, 100 - 1 + 6);
    ASSERT_EQ(out.notices.size(), 4u);
    EXPECT_EQ(out.notices[0],
              "The audio's time stamps jump back at 00:00:01; the audio goes on from there "
              "without a gap.");
    EXPECT_NE(out.notices[1].find("ahead by more than 10 seconds at 00:00:02"), std::string::npos)
        << out.notices[1];
    // The two gaps filled with silence, named at the end.
    EXPECT_EQ(out.notices[2], "Gap at 00:00:00, 0.12 s of audio: lost in reception.");
    EXPECT_EQ(out.notices[3], "Gap at 00:00:01, 0.02 s of audio: lost in reception.");

    // The audio plays without a break: every frame starts where the one before ended, and the
    // silent ones decode as frames of the same kind.
    test::ProbedProgramStream ps =
        test::probe_program_stream(out.bytes, VIDEO_BUFFER_BYTES, AUDIO_BUFFER_BYTES);
    EXPECT_EQ(ps.faults, std::vector<std::string>());
    ASSERT_EQ(ps.audio.units.size(), size_t(counts.audio_frames));
    for (size_t i = 1; i < ps.audio.units.size(); ++i) {
        if (!ps.audio.units[i].stamped) continue;
        EXPECT_EQ(ps.audio.units[i].pts - ps.audio.units[0].pts, int64_t(i) * FRAME * 300)
            << "frame " << i;
    }
    Bytes silent = silent_audio_frame(media.audio.data());
    ASSERT_EQ(silent.size(), 576u);
    EXPECT_EQ(Bytes(silent.begin(), silent.begin() + 4),
              Bytes(media.audio.begin(), media.audio.begin() + 4));
}

// The audio PES packets are taken apart wherever the walk's payloads cut them: a header, a
// frame header or a frame split over two payloads (or several calls), junk between packets and
// a start code that opens no MPEG-2 header give the same file as the packets in one piece.
TEST(ProgramStreamAudio, PacketsCutAnywhereGiveTheSameFile) {
    test::SampleMedia media;
    ASSERT_TRUE(test::load_sample_media("", &media));
    std::vector<size_t> frames = test::mpeg_audio_frames(media.audio);
    Bytes pes;
    for (size_t i = 0; i + 1 < frames.size() && i < 60; i += 2) {
        // Two frames and a half-open third per packet, so that frames straddle packets.
        size_t to = std::min(frames[i + 1] + 100, media.audio.size());
        size_t from = i == 0 ? 0 : frames[i - 1] + 100;
        Bytes p = test::audio_pes_packet(media.audio.data() + from, to - from,
                                         900000 + int64_t(i) * 2160);
        pes.insert(pes.end(), p.begin(), p.end());
        if (i == 10) pes.insert(pes.end(), {0x00, 0x00, 0x01, 0xC0, 0x00, 0x03, 0x0F, 0x00, 0x00});
        if (i == 20) pes.insert(pes.end(), {0x12, 0x00, 0x00, 0x34});
    }
    auto mux = [&](size_t cut, int per_call) {
        Collected out;
        ProgramStreamWriter* w = create_program_stream({}, {&out, begin_part, collect}, nullptr);
        EXPECT_NE(w, nullptr);
        ByteSink video = program_stream_video_sink(w), audio = program_stream_audio_sink(w);
        EXPECT_TRUE(sink_write(&video, media.video.data(), int64_t(media.video.size())));
        std::vector<ByteSpan> spans;
        for (size_t at = 0; at < pes.size(); at += cut)
            spans.push_back({pes.data() + at, std::min(cut, pes.size() - at)});
        for (size_t k = 0; k < spans.size(); k += size_t(per_call))
            EXPECT_TRUE(audio.write(audio.context, spans.data() + k,
                                    int(std::min(spans.size() - k, size_t(per_call)))));
        char message[MESSAGE_SIZE] = "";
        EXPECT_TRUE(finish_program_stream(w, message));
        int64_t placed = program_stream_counts(w).audio_frames;
        destroy_program_stream(w);
        return std::make_pair(out.bytes, placed);
    };
    auto whole = mux(pes.size(), 1);
    EXPECT_GT(whole.second, 50);
    for (size_t cut : {size_t(1), size_t(3), size_t(8), size_t(13), size_t(577), size_t(2048)})
        for (int per_call : {1, 5})
            EXPECT_TRUE(mux(cut, per_call) == whole) << "cut " << cut << ", " << per_call;
}

// The start-code search against a byte-by-byte one: codes around the 64-byte steps of the
// search, after runs of zeros, split by the end of the bytes, and none at all.
TEST(ProgramStreamVideo, StartCodeSearchFindsTheFirstCodeWherePlainSearchDoes) {
    auto plain = [](const Bytes& b, size_t n) {
        for (size_t i = 0; i + 3 <= n; ++i)
            if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) return i;
        return n;
    };
    for (size_t at : {size_t(0), size_t(1), size_t(61), size_t(62), size_t(63), size_t(64),
                      size_t(126), size_t(127), size_t(190), size_t(200), size_t(250)}) {
        for (size_t zeros : {size_t(2), size_t(3), size_t(5)}) {
            Bytes b(256, 0x55);
            for (size_t k = 0; k < 256; k += 7)
                b[k] = uint8_t(k & 1);  // lone 00 and 01 bytes
            b[at + 2 < 256 ? at + 2 : 255] = 0x55;
            for (size_t k = 0; k < zeros && at + k < 256; ++k)
                b[at + k] = 0;
            if (at + zeros < 256) b[at + zeros] = 1;
            for (size_t n : {size_t(256), at + zeros + 1, at + zeros}) {
                if (n > 256) continue;
                SCOPED_TRACE(testing::Message() << "at " << at << " zeros " << zeros << " n " << n);
                EXPECT_EQ(find_start_code_in(b.data(), n), plain(b, n));
            }
        }
    }
}

// A first picture whose start code lies more than a packet behind its sequence header (here
// behind 3000 bytes of user data) once made the packet before it overrun its pack.
TEST(ProgramStreamVideo, HeadersLongerThanAPacketStayWithinTheirPacks) {
    test::SampleMedia media;
    ASSERT_TRUE(test::load_sample_media("", &media));
    const uint8_t picture[4] = {0, 0, 1, 0};
    auto at = std::search(media.video.begin(), media.video.end(), picture, picture + 4);
    ASSERT_NE(at, media.video.end());
    Bytes user_data = {0, 0, 1, 0xB2};
    user_data.resize(3004, 0x55);
    Bytes video(media.video.begin(), at);
    video.insert(video.end(), user_data.begin(), user_data.end());
    video.insert(video.end(), at, media.video.end());

    Collected out;
    ProgramStreamWriter* w = create_program_stream({}, {&out, begin_part, collect}, nullptr);
    ASSERT_NE(w, nullptr);
    ByteSink sink = program_stream_video_sink(w);
    ASSERT_TRUE(sink_write(&sink, video.data(), int64_t(video.size())));
    char message[MESSAGE_SIZE] = "";
    ASSERT_TRUE(finish_program_stream(w, message));
    ProgramStreamCounts counts = program_stream_counts(w);
    destroy_program_stream(w);

    test::ProbedProgramStream ps =
        test::probe_program_stream(out.bytes, VIDEO_BUFFER_BYTES, AUDIO_BUFFER_BYTES);
    EXPECT_EQ(ps.faults, std::vector<std::string>());
    EXPECT_EQ(ps.video.units.size(), size_t(counts.video_pictures));
    size_t head = size_t(at - media.video.begin()) + user_data.size();
    ASSERT_GE(ps.video.data.size(), head);
    EXPECT_TRUE(std::equal(video.begin(), video.begin() + long(head), ps.video.data.begin()));
}

// The packs reach the file as many small spans (joined first on Windows): every byte in order.
TEST(ProgramStreamOutput, SpansReachTheFileWholeAndInOrder) {
    test::TempDir dir;
    std::string name = dir.file("spans.mpg");
    Bytes bytes(70000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7 + i / 251);
    std::vector<ByteSpan> spans;
    for (size_t at = 0, n = 0; at < bytes.size(); at += n, n = (n * 5 + 3) % 2100)
        spans.push_back(ByteSpan{bytes.data() + at, std::min(n, bytes.size() - at)});
    OutputFile* file = begin_output_file(name.c_str());
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(write_output_spans(file, spans.data(), int(spans.size())));
    ASSERT_TRUE(commit_output_file(file));
    EXPECT_EQ(test::read_file_bytes(name), bytes);
}

}  // namespace
}  // namespace quarrow

namespace quarrow {
namespace {

// Cut lists on the writer fed directly with the fixture media (groups of 12 pictures, 0.48 s):
// across each join the pictures are shown one frame after the other and the audio frames follow
// each other without a gap, the audio starts with the video, and the decoder model holds.
struct CutCase {
    const char* name;
    std::vector<TimeStretch> stretches;
};

TEST(ProgramStreamCut, JoinsRunOnWithoutAJumpAndTheDecoderModelHolds) {
    test::SampleMedia media;
    ASSERT_TRUE(test::load_sample_media("", &media));
    std::vector<size_t> frames = test::mpeg_audio_frames(media.audio);
    const int64_t FRAME = 2160;  // 90 kHz ticks of an audio frame
    Bytes pes = stamped_audio_packets(media.audio, frames);
    auto stretch = [](int64_t begin, int64_t end) {
        TimeStretch s;
        s.begin_ms = begin, s.end_ms = end;
        return s;
    };
    const CutCase cases[] = {
        {"two stretches", {stretch(200, 600), stretch(1500, 2200)}},
        {"from a later group", {stretch(500, 1000), stretch(2440, -1)}},
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes& video = media.video;
        Collected out;
        ProgramStreamOptions options;
        options.stretches = c.stretches;
        ProgramStreamWriter* w =
            create_program_stream(options, {&out, begin_part, collect}, nullptr);
        ASSERT_NE(w, nullptr);
        ByteSink v = program_stream_video_sink(w), a = program_stream_audio_sink(w);
        for (int k = 0; k < 10; ++k) {
            size_t vf = video.size() * k / 10, vt = video.size() * (k + 1) / 10;
            size_t af = pes.size() * k / 10, at = pes.size() * (k + 1) / 10;
            ASSERT_TRUE(sink_write(&v, video.data() + vf, int64_t(vt - vf)));
            ASSERT_TRUE(sink_write(&a, pes.data() + af, int64_t(at - af)));
        }
        char message[MESSAGE_SIZE] = "";
        ASSERT_TRUE(finish_program_stream(w, message));
        ProgramStreamCounts counts = program_stream_counts(w);
        std::vector<KeptStretchTimes> kept = program_stream_stretches(w);
        destroy_program_stream(w);
        test::ProbedProgramStream ps =
            test::probe_program_stream(out.bytes, VIDEO_BUFFER_BYTES, AUDIO_BUFFER_BYTES);
        EXPECT_EQ(ps.faults, std::vector<std::string>());
        ASSERT_EQ(kept.size(), c.stretches.size());
        std::vector<int64_t> stretch_at;  // where each stretch begins in the file, ms
        int64_t at_ms = 0;
        for (const KeptStretchTimes& k : kept) {
            stretch_at.push_back(at_ms);
            at_ms += (k.end_ms < 0 ? INT64_MAX / 4 : k.end_ms) - k.begin_ms;
        }
        std::vector<int64_t> shown;
        for (const test::ProbedUnit& u : ps.video.units)
            if (u.stamped) shown.push_back(u.pts);
        std::sort(shown.begin(), shown.end());
        ASSERT_FALSE(shown.empty());
        // The pictures stamped lie on one frame grid that the pictures written fill exactly.
        for (size_t i = 1; i < shown.size(); ++i)
            ASSERT_TRUE(shown[i] > shown[i - 1] && (shown[i] - shown[0]) % 1080000 == 0) << i;
        // No picture time is left out (the last pictures may go unstamped).
        EXPECT_LE((shown.back() - shown.front()) / 1080000 + 1, counts.video_pictures);
        EXPECT_EQ(int64_t(ps.video.units.size()), counts.video_pictures);
        ASSERT_FALSE(ps.audio.units.empty());
        for (size_t i = 1; i < ps.audio.units.size(); ++i)
            ASSERT_EQ(ps.audio.units[i].pts - ps.audio.units[i - 1].pts, FRAME * 300) << i;
        int64_t lead = ps.audio.units[0].pts - shown[0];
        EXPECT_TRUE(lead >= 0 && lead < FRAME * 300) << lead;
        // Each stretch's first picture is shown where the stretches before it add up to.
        for (size_t k = 1; k < kept.size(); ++k)
            EXPECT_TRUE(std::any_of(shown.begin(), shown.end(),
                                    [&](int64_t pts) {
                                        return std::llabs((pts - shown[0]) / 27000 -
                                                          stretch_at[k]) <= 1;
                                    }))
                << "stretch " << k << " at " << stretch_at[k] << " ms";
        // Each audio frame (known by its bytes) lies within half a frame of where its time in
        // the recording falls in the file: the sync holds across each join.
        for (const test::ProbedUnit& u : ps.audio.units) {
            Bytes bytes(ps.audio.data.begin() + long(u.start),
                        ps.audio.data.begin() + long(u.start + size_t(u.bytes)));
            int found = -1, matches = 0;
            for (size_t i = 0; i < frames.size(); ++i) {
                size_t to = i + 1 < frames.size() ? frames[i + 1] : media.audio.size();
                if (to - frames[i] == bytes.size() &&
                    std::equal(bytes.begin(), bytes.end(), media.audio.begin() + long(frames[i])))
                    found = int(i), ++matches;
            }
            if (matches != 1) continue;
            int64_t source_ms = found * FRAME / 90;
            for (size_t k = 0; k < kept.size(); ++k) {
                if (source_ms < kept[k].begin_ms ||
                    (kept[k].end_ms >= 0 && source_ms >= kept[k].end_ms))
                    continue;
                int64_t expected = stretch_at[k] + source_ms - kept[k].begin_ms;
                EXPECT_NEAR(double(u.pts - shown[0]) / 27000, double(expected), 15) << found;
            }
        }
    }
}

}  // namespace
}  // namespace quarrow

namespace quarrow {
namespace {

// Video that runs on after its audio has stopped (a long loss of the audio alone) goes out once
// the writer holds its bound of it, into a program stream or a Matroska file alike, instead of
// waiting in memory for audio to interleave with.
TEST(ProgramStreamBound, VideoWithoutItsAudioGoesOutOnceTheBoundIsHeld) {
    test::SampleMedia media;
    ASSERT_TRUE(test::load_sample_media("", &media));
    std::vector<size_t> frames = test::mpeg_audio_frames(media.audio);
    Bytes pes = stamped_audio_packets(media.audio, frames);
    size_t copies = (MAX_HELD_VIDEO + (8u << 20)) / media.video.size();
    for (bool matroska : {false, true}) {
        SCOPED_TRACE(matroska ? "mkv" : "mux");
        Collected out;
        test::MemoryMatroska file;
        ProgramStreamWriter* w =
            matroska ? create_matroska_stream({}, {}, test::memory_output(&file), nullptr)
                     : create_program_stream({}, {&out, begin_part, collect}, nullptr);
        ASSERT_NE(w, nullptr);
        ByteSink v = program_stream_video_sink(w), a = program_stream_audio_sink(w);
        ASSERT_TRUE(sink_write(&a, pes.data(), int64_t(pes.size())));
        for (size_t k = 0; k < copies; ++k)
            ASSERT_TRUE(sink_write(&v, media.video.data(), int64_t(media.video.size())));
        size_t written = matroska ? file.bytes.size() : out.bytes.size();
        EXPECT_GT(written + MAX_HELD_VIDEO + (1u << 20), copies * media.video.size());
        char message[MESSAGE_SIZE] = "";
        EXPECT_TRUE(finish_program_stream(w, message)) << message;
        destroy_program_stream(w);
    }
}

}  // namespace
}  // namespace quarrow
