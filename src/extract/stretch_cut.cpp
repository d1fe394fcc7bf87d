// Cuts: the stretches of the recording a cut list keeps, decided on the timed pictures and the
// placed audio frames before any of them is sent, so that every container written from the
// picture timing and the audio placement gets the same cut. What is kept has its times moved
// back by what was dropped before it, so that they run on across each join.
#include <algorithm>

#include "extract/mpeg_audio.h"
#include "extract/program_stream_parts.h"

namespace quarrow {
namespace {

constexpr int PICTURE_B = 3;  // picture_coding_type
constexpr int64_t TICKS_PER_MS = CLOCK / 1000;
// The most silence put in at a join whose audio before it ended early; beyond it the audio
// after the join starts at once.
constexpr int64_t MAX_JOIN_SILENCE = 10 * CLOCK;

enum { DROP = -1, WAIT = -2 };

// When the group that opens at queue[i] is first shown: its earliest picture.
int64_t group_shown(const VideoTiming& t, size_t i) {
    int64_t at = t.queue[i].pts;
    for (size_t k = i + 1; k < t.untimed_from && !t.queue[k].opens_gop; ++k)
        at = std::min(at, t.queue[k].pts);
    return at;
}

// The next timed picture after i that opens a group, or untimed_from.
size_t next_group(const VideoTiming& t, size_t i) {
    for (++i; i < t.untimed_from; ++i)
        if (t.queue[i].opens_gop) return i;
    return t.untimed_from;
}

// Decided pictures are the front of the queue: those that end at or before decided_end.
size_t first_undecided(const StretchCut& c, const VideoTiming& t) {
    size_t i = t.untimed_from;
    while (i > 0 && t.queue[i - 1].begin >= c.decided_end)
        --i;
    return i;
}

// Pictures queue[from, to) leave the file; none of them has been sent.
void drop_pictures(StretchCut& c, VideoTiming& t, size_t from, size_t to) {
    if (to <= from) return;
    for (size_t k = from; k < to; ++k) {
        t.held -= t.queue[k].size();
        --t.pictures;
    }
    c.decided_end = std::max(c.decided_end, t.queue[to - 1].end);
    t.queue.erase(t.queue.begin() + long(from), t.queue.begin() + long(to));
    t.untimed_from -= to - from;
    c.dropped = true;
}

void keep_picture(StretchCut& c, const VideoTiming& t, VideoUnit& u) {
    const CutStretch& s = c.kept.back();
    u.pts -= s.shift;
    u.dts -= s.shift;
    c.last_dts = std::max(c.last_dts, u.dts);
    c.out_end = std::max(c.out_end, u.pts + shown_ticks(t, u));
    c.decided_end = u.end;
}

// The group at queue[i] begins a stretch. Where anything was dropped before it, an open group
// loses its leading B-pictures (they refer to a picture that is not in the file) and gets
// broken_link, it gets the sequence header, and its first picture is shown where the stretch
// before ends, decoded a frame earlier.
void begin_stretch(StretchCut& c, VideoTiming& t, size_t i) {
    bool natural = c.kept.empty() && !c.dropped;  // the recording's own start
    if (!natural) {
        if (!t.queue[i].closed_gop) {
            size_t k = i + 1;
            while (k < t.untimed_from && t.queue[k].type == PICTURE_B && !t.queue[k].opens_gop)
                ++k;
            t.dropped += int64_t(k - i - 1);
            drop_pictures(c, t, i + 1, k);
            if (t.queue[i].gop_at >= 0) t.queue[i].broken_link = true;
        }
        VideoUnit& u = t.queue[i];
        size_t before = u.inserted.size();
        insert_sequence_header(t, u);
        t.held += u.inserted.size() - before;
    }
    CutStretch s;
    s.asked = c.next;
    s.begin = group_shown(t, i);
    int64_t out_at = natural          ? s.begin
                     : c.kept.empty() ? t.first_picture_pts
                                      : c.kept.back().end - c.kept.back().shift;
    s.shift = s.audio_shift = s.begin - out_at;
    if (!c.kept.empty()) c.joins.push_back(out_at - t.first_picture_pts);
    c.kept.push_back(s);
    VideoUnit& u = t.queue[i];
    int64_t last_dts = c.last_dts;
    keep_picture(c, t, u);
    if (!natural) {
        // Decoded before the group's first picture is shown and after the last picture kept.
        u.dts = std::min(u.pts, std::max(out_at - frame_ticks(t), last_dts + TICKS_PER_PTS));
        c.last_dts = std::max(last_dts, u.dts);
    }
    c.dropped = false;
}

// Every timed picture not yet decided, a group at a time, as far as the groups after it tell.
void decide_video(StretchCut& c, VideoTiming& t, bool at_end) {
    size_t i = first_undecided(c, t);
    while (i < t.untimed_from) {
        if (!t.queue[i].opens_gop) {
            // A picture of the group last decided follows it.
            if (c.keeping) {
                keep_picture(c, t, t.queue[i]);
                ++i;
            } else {
                drop_pictures(c, t, i, i + 1);
            }
            continue;
        }
        int64_t shown = group_shown(t, i);
        int64_t g = shown - t.first_picture_pts;  // the group's time in the recording
        if (c.inside) {
            const TimeStretch& s = c.asked[c.next];
            if (s.end_ms < 0 || g < s.end_ms * TICKS_PER_MS) {
                keep_picture(c, t, t.queue[i]);
                ++i;
                continue;
            }
            c.kept.back().end = shown;  // the stretch ends before this group
            c.inside = false;
            ++c.next;
        }
        c.keeping = false;
        if (c.next >= c.asked.size()) {
            drop_pictures(c, t, i, i + 1);  // past the last stretch
            continue;
        }
        const TimeStretch& s = c.asked[c.next];
        int64_t b = s.begin_ms * TICKS_PER_MS;
        bool starts;
        if (s.begin_after || g > b) {
            starts = g >= b;
        } else {
            // The group holds the start when the next begins after it: after every picture of
            // this one.
            size_t n = next_group(t, i);
            int64_t next_g = n < t.untimed_from ? group_shown(t, n) : t.display_clock;
            if (n == t.untimed_from && !at_end) {
                next_g = shown;
                for (size_t k = i + 1; k < n; ++k)
                    next_g = std::max(next_g, t.queue[k].pts);
                if (next_g - t.first_picture_pts <= b && t.held <= MAX_HELD_VIDEO) {
                    c.audio_floor = shown;  // the stretch begins here or later
                    return;
                }
                // A group this long (a stream without GOP headers) cannot be held for its
                // start: it goes, and the stretch begins with a group after it, if any.
            }
            starts = next_g - t.first_picture_pts > b;
        }
        if (!starts) {
            c.audio_floor = shown;
            drop_pictures(c, t, i, i + 1);
            continue;
        }
        c.keeping = c.inside = true;
        c.audio_past_end = false;
        if (!c.kept.empty() && !c.dropped) {
            // Nothing lies between this stretch and the one before: they are one.
            c.kept.back().end = INT64_MAX;
            keep_picture(c, t, t.queue[i]);
        } else {
            begin_stretch(c, t, i);
        }
        ++i;
    }
}

// Which kept stretch a frame shown at pts falls in (its index), DROP, or WAIT while the video
// has not told yet.
int audio_verdict(const StretchCut& c, const VideoTiming& t, int64_t pts, bool at_end) {
    for (size_t k = c.kept.size(); k-- > 0;) {
        const CutStretch& s = c.kept[k];
        if (pts < s.begin) continue;
        bool last = k + 1 == c.kept.size();
        if (pts < s.end) {
            if (!last || !c.inside || at_end) return int(k);
            // The stretch's end is not known yet: a frame before the end asked for is in it.
            int64_t e = c.asked[c.next].end_ms;
            return e < 0 || pts - t.first_picture_pts < e * TICKS_PER_MS ? int(k) : WAIT;
        }
        if (!last || c.next >= c.asked.size() || at_end || pts < c.audio_floor) return DROP;
        return WAIT;
    }
    return !c.kept.empty() || at_end || pts < c.audio_floor ? DROP : WAIT;
}

// A frame of kept stretch k goes out. The first one after a join is placed where the audio
// before the join ends, within half a frame of where its picture is shown (dropped when it
// would overlap that audio, silence put before it when it would leave a gap), so that the audio
// plays on without a jump.
void let_through(StretchCut& c, AudioPlacement& a, AudioFrame&& f, size_t k) {
    AudioFrameHeader h;
    if (!parse_audio_frame_header(f.bytes.data(), &h)) return;
    int64_t duration = int64_t(h.samples) * CLOCK / h.sample_rate;
    CutStretch& s = c.kept[k];
    if (!s.audio_started) {
        if (c.any_audio && k > 0) {
            int64_t gap = f.pts - s.shift - c.audio_end;
            if (gap < -duration / 2) return;
            int64_t n = gap >= duration / 2
                            ? (std::min(gap, MAX_JOIN_SILENCE) + duration / 2) / duration
                            : 0;
            std::vector<uint8_t> silence =
                n > 0 ? silent_audio_frame(f.bytes.data()) : std::vector<uint8_t>();
            for (int64_t j = 0; j < n && !silence.empty(); ++j) {
                AudioFrame z;
                z.bytes = silence;
                z.pts = c.audio_end;
                a.queue.push_back(std::move(z));
                c.audio_end += duration;
                ++a.silent;
                ++a.frames;
                ++c.frames_seen;
            }
            s.audio_shift = f.pts - c.audio_end;
        }
        s.audio_started = true;
    }
    f.pts -= s.audio_shift;
    c.audio_end = f.pts + duration;
    c.any_audio = true;
    a.queue.push_back(std::move(f));
}

void decide_audio(StretchCut& c, const VideoTiming& t, AudioPlacement& a, bool at_end) {
    // The frames placed since the last look wait here until they are decided.
    size_t fresh = std::min(size_t(a.frames - c.frames_seen), a.queue.size());
    c.frames_seen = a.frames;
    for (size_t k = a.queue.size() - fresh; k < a.queue.size(); ++k)
        c.waiting.push_back(std::move(a.queue[k]));
    a.queue.erase(a.queue.end() - long(fresh), a.queue.end());
    while (!c.waiting.empty()) {
        AudioFrame& f = c.waiting.front();
        int verdict = audio_verdict(c, t, f.pts, at_end);
        if (!c.inside && !c.kept.empty() && f.pts >= c.kept.back().end) c.audio_past_end = true;
        // Audio the video never comes to tell about is not held without bound.
        if (verdict == WAIT && c.waiting.size() <= MAX_HELD_FRAMES) break;
        if (verdict >= 0) let_through(c, a, std::move(f), size_t(verdict));
        c.waiting.pop_front();
    }
}

}  // namespace

bool cut_to_stretches(StretchCut& c, VideoTiming& t, AudioPlacement& a, bool at_end) {
    if (!c.active) return true;
    decide_video(c, t, at_end);
    decide_audio(c, t, a, at_end);
    return t.queue.empty() || !t.queue.front().timed || t.queue.front().begin < c.decided_end;
}

bool cut_between_stretches(const StretchCut& c, const AudioPlacement& a) {
    return c.active && !c.inside && !c.kept.empty() && (c.audio_past_end || !a.started);
}

int64_t cut_time_in_file(const StretchCut& c, int64_t at) {
    if (!c.active) return at;
    for (const CutStretch& s : c.kept)
        if (at >= s.begin && at < s.end) return at - s.shift;
    return -1;
}

}  // namespace quarrow
