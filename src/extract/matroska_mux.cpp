// The Matroska feed: timed pictures and placed audio frames into Matroska blocks, interleaved by
// decoding time. A picture's block points at its bytes where the video stream holds them (the
// writer is flushed before they can go); only one that gets a sequence header put before it or
// broken_link set is copied. Each frame's bytes move into their block as the audio placement
// gathered them.
#include "extract/matroska_mux.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "extract/mpeg_audio.h"
#include "extract/program_stream_parts.h"

namespace quarrow {
namespace {

// Video held before the first audio frame tells the audio track; a recording without audio
// gets a file without an audio track after this much.
constexpr size_t MAX_WAITING_BYTES = 8u << 20;

int64_t to_pts90(int64_t ticks) {
    return ticks / TICKS_PER_PTS;
}

}  // namespace

struct MatroskaFeed {
    MatroskaParams params;
    MatroskaOutput output{};
    MatroskaWriter* writer = nullptr;
    bool audio_in_file = false;
    std::vector<ByteSpan> pieces;  // of the picture being handed over
};

void destroy_matroska_feed(MatroskaFeed* f) {
    if (f) destroy_matroska_writer(f->writer);
    delete f;
}

namespace {

// The picture's bytes as they go into the file.
std::vector<uint8_t> picture_bytes(VideoTiming& t, const VideoUnit& u) {
    std::vector<uint8_t> bytes(u.size());
    if (!u.inserted.empty()) memcpy(bytes.data(), u.inserted.data(), u.inserted.size());
    copy_video(t.bytes, u.begin, size_t(u.end - u.begin), bytes.data() + u.inserted.size());
    if (u.broken_link) bytes[size_t(u.gop_at) + 7] |= 0x20;
    return bytes;
}

// The video track from the front picture's sequence header; false when it has none readable.
bool video_track(VideoTiming& t, MatroskaVideoTrack* track) {
    const VideoUnit& u = t.queue.front();
    if (!u.has_sequence || u.sequence_at < 0) return false;
    std::vector<uint8_t> bytes = picture_bytes(t, u);
    size_t at = size_t(u.sequence_at);
    return matroska_video_from_sequence(bytes.data() + at, bytes.size() - at, track);
}

}  // namespace

bool matroska_feed_started(MatroskaFeed& f, VideoTiming& t, const AudioPlacement& a, bool force,
                           bool* failed) {
    if (f.writer) return true;
    bool video = !t.queue.empty() && t.queue.front().timed;
    if (!video && !force) return false;
    bool audio = a.started;
    if (!audio && !force && t.held <= MAX_WAITING_BYTES) return false;
    MatroskaParams& p = f.params;
    if (video) {
        // What cannot be shown without a sequence header is left out.
        while (!t.queue.empty() && t.queue.front().timed && !video_track(t, &p.video)) {
            VideoUnit& u = t.queue.front();
            u.sent = u.size();
            drop_sent_pictures(t);
        }
        video = p.video.present;
        if (!video && !force) return false;
        if (video) p.origin_pts = to_pts90(t.queue.front().pts);
    }
    AudioFrameHeader h;
    if (audio && parse_audio_frame_header(a.first_header, &h)) {
        MatroskaAudioTrack& track = p.audio;
        track.present = true;
        track.layer = h.layer;
        track.sample_rate = h.sample_rate;
        track.channels = h.channels;
        track.frame_ns = int64_t(h.samples) * 1000000000 / h.sample_rate;
        if (!video && !a.queue.empty()) p.origin_pts = to_pts90(a.queue.front().pts);
    }
    f.audio_in_file = p.audio.present;
    f.writer = create_matroska_writer(p, f.output);
    if (!f.writer) *failed = true;
    return f.writer != nullptr;
}

namespace {

bool feed_picture(MatroskaFeed& f, VideoTiming& t) {
    VideoUnit& u = t.queue.front();
    int64_t pts = to_pts90(u.pts);
    bool key = u.type == 1;
    bool ok;
    if (!u.inserted.empty() || u.broken_link) {
        ok = matroska_video(f.writer, picture_bytes(t, u), pts, key);
    } else {
        f.pieces.clear();
        for (int64_t at = u.begin; at < u.end;) {
            size_t run;
            const uint8_t* p = locate(t.bytes, at, &run);
            size_t n = std::min(run, size_t(u.end - at));
            f.pieces.push_back({p, n});
            at += int64_t(n);
        }
        ok = matroska_video(f.writer, f.pieces.data(), int(f.pieces.size()), pts, key);
    }
    u.sent = u.size();
    drop_sent_pictures(t);
    return ok;
}

}  // namespace

bool feed_matroska_next(MatroskaFeed& f, VideoTiming& t, AudioPlacement& a, bool force,
                        bool* failed) {
    bool picture = !t.queue.empty() && t.queue.front().timed;
    bool frame = !a.queue.empty();
    bool video_in_file = f.params.video.present;
    // What has no track in the file leaves its queue as it comes.
    if (picture && !video_in_file) {
        t.queue.front().sent = t.queue.front().size();
        drop_sent_pictures(t);
        return true;
    }
    if (frame && !f.audio_in_file) {
        a.queue.pop_front();
        return true;
    }
    bool take_picture;
    if (picture && frame)
        take_picture = t.queue.front().dts <= a.queue.front().pts;
    else if (picture && (force || !f.audio_in_file))
        take_picture = true;
    else if (frame && (force || !video_in_file))
        take_picture = false;
    else
        return false;
    if (take_picture) {
        *failed = !feed_picture(f, t);
    } else {
        AudioFrame& next = a.queue.front();
        *failed = !matroska_audio(f.writer, std::move(next.bytes), to_pts90(next.pts));
        a.queue.pop_front();
    }
    return !*failed;
}

bool flush_matroska_feed(MatroskaFeed& f) {
    return !f.writer || matroska_flush(f.writer);
}

bool finish_matroska_feed(MatroskaFeed& f, const std::vector<StreamChapter>& chapters) {
    if (!f.writer) return false;
    if (f.params.chapters_at_end) {
        // Known only now: they go after the media, where the writer was told to leave room.
        std::vector<MatroskaChapter> marks;
        marks.reserve(chapters.size());
        for (const StreamChapter& c : chapters)
            marks.push_back({c.at_ms, c.name});
        set_matroska_chapters(f.writer, marks);
    }
    return finish_matroska(f.writer);
}

ProgramStreamWriter* create_matroska_stream(const ProgramStreamOptions& options,
                                            const MatroskaParams& texts,
                                            const MatroskaOutput& output,
                                            const OperationHooks* hooks) {
    MatroskaFeed* f = new (std::nothrow) MatroskaFeed;
    if (!f) return nullptr;
    f->params = texts;
    f->params.video = MatroskaVideoTrack();
    f->params.audio = MatroskaAudioTrack();
    f->output = output;
    return create_matroska_feed_writer(options, f, hooks);
}

}  // namespace quarrow
