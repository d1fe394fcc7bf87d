// The Matroska feed: timed pictures and placed audio frames into Matroska blocks. Each picture's
// bytes are copied once, out of the stream into its block (with the sequence header put before
// it and broken_link set, as the timing decided); each frame's bytes move into their block as
// the audio placement gathered them.
#include "extract/matroska_mux.h"

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

bool feed_matroska_picture(MatroskaFeed& f, VideoTiming& t) {
    VideoUnit& u = t.queue.front();
    bool ok =
        !f.params.video.present || matroska_video(f.writer, picture_bytes(t, u), to_pts90(u.pts),
                                                  to_pts90(u.dts), u.type == 1);
    u.sent = u.size();
    drop_sent_pictures(t);
    return ok;
}

bool feed_matroska_frame(MatroskaFeed& f, AudioPlacement& a) {
    AudioFrame& frame = a.queue.front();
    bool ok =
        !f.audio_in_file || matroska_audio(f.writer, std::move(frame.bytes), to_pts90(frame.pts));
    a.queue.pop_front();
    return ok;
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
