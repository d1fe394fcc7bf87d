// Audio frame placement: the audio PES packets taken apart into MPEG audio frames, each placed on
// the video's time line at the first frame's place plus its broadcast distance from the first, so
// that audio lost in the broadcast leaves silence, not a shift.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "disk/sector_access.h"
#include "extract/mpeg_audio.h"
#include "extract/program_stream_parts.h"

namespace quarrow {
namespace {

// Audio time stamps further apart than this start a new time base.
constexpr int64_t MAX_AUDIO_GAP = 10 * CLOCK;

void place_frame(AudioPlacement& a, std::vector<uint8_t>&& bytes, int64_t at) {
    AudioFrame f;
    f.bytes = std::move(bytes);
    f.pts = at;
    a.queue.push_back(std::move(f));
    ++a.frames;
}

// Where a frame that begins a stamped packet (at >= 0) was placed, for the video's clock.
void note_clock(AudioPlacement& a, int64_t at, int64_t placed) {
    if (at < 0) return;
    a.clock.emplace_back(at, placed);
    if (a.clock.size() > MAX_CLOCK_ENTRIES) a.clock.pop_front();
}

// A whole frame with its broadcast time stamp (or none, -1), `at` the stream offset of the
// stamped packet it begins (-1: none): placed at the first frame's time plus its distance from
// it; gaps filled with silence, overlaps dropped, jumps start a new base.
void frame_done(AudioPlacement& a, const uint8_t* p, int bytes, int64_t pts90, int64_t duration,
                int64_t at) {
    std::vector<uint8_t> frame(p, p + bytes);
    int64_t previous_at = a.last_at;
    if (at >= 0) a.last_at = at;
    if (!a.started) {
        a.started = true;
        memcpy(a.first_header, p, 4);
        a.last_pts90 = pts90 >= 0 ? pts90 : 0;
        a.last_source = a.source_anchor = 0;
        a.out_anchor = a.origin;
        a.next_out = a.out_anchor + duration;
        note_clock(a, at, a.out_anchor);
        place_frame(a, std::move(frame), a.out_anchor);
        return;
    }
    int64_t step;
    if (pts90 >= 0) {
        int64_t d = (pts90 - a.last_pts90) & (PTS_WRAP - 1);
        if (d >= PTS_WRAP / 2) d -= PTS_WRAP;  // the 33-bit clock wrapped, or a step back
        step = d * TICKS_PER_PTS;
        a.last_pts90 = pts90;
    } else {
        step = duration;
        a.last_pts90 = (a.last_pts90 + duration / TICKS_PER_PTS) & (PTS_WRAP - 1);
    }
    int64_t source = a.last_source + step;
    a.last_source = source;
    int64_t expected = a.next_out;
    if (step < 0 || step > MAX_AUDIO_GAP) {
        // A damaged stream may jump at every frame: the first few are named, the rest counted.
        if (++a.jumps <= MAX_JUMP_NOTICES) {
            char notice[MESSAGE_SIZE];
            put_message(notice,
                        "The audio's time stamps jump %s at %s; the audio goes on from there "
                        "without a gap.",
                        step < 0 ? "back" : "ahead by more than 10 seconds",
                        clock_text(expected - a.video_origin).c_str());
            hook_notice(a.hooks, notice);
        }
        a.source_anchor = source;
        a.out_anchor = expected;
        Repair r;
        r.at = expected - a.video_origin;
        r.audio = true;
        r.cause = TIME_BASE_JUMP;
        a.repairs.push_back(r);
    }
    int64_t desired = a.out_anchor + (source - a.source_anchor);
    int64_t gap = desired - expected;
    if (gap < -duration / 2) {
        ++a.dropped;
        return;
    }
    if (gap >= duration) {
        int64_t n = (gap + duration / 2) / duration;
        std::vector<uint8_t> silence = silent_audio_frame(p);
        if (!silence.empty()) {
            Repair r;
            r.at = expected - a.video_origin;
            r.duration = n * duration;
            r.audio = true;
            if (unreadable_between(a.unreadable, previous_at, a.last_at))
                r.cause = UNREADABLE_ON_DISK;
            a.repairs.push_back(r);
        }
        for (int64_t k = 0; k < n && !silence.empty(); ++k) {
            place_frame(a, std::vector<uint8_t>(silence), expected);
            ++a.silent;
            expected += duration;
        }
    }
    note_clock(a, at, expected);
    place_frame(a, std::move(frame), expected);
    a.next_out = expected + duration;
}

// Frames out of the audio bytes, each with the time stamp of the PES packet it begins in (the
// first frame that begins in a packet owns the packet's stamp).
void cut_frames(AudioPlacement& a) {
    size_t at = 0;
    std::vector<uint8_t>& es = a.es;
    while (at + 4 <= es.size()) {
        AudioFrameHeader h;
        bool same_kind = !a.started || ((es[at + 1] & 0xFE) == (a.first_header[1] & 0xFE) &&
                                        (es[at + 2] & 0x0C) == (a.first_header[2] & 0x0C));
        if (!same_kind || !parse_audio_frame_header(es.data() + at, &h)) {
            ++at;  // not a frame: look for the next one
            continue;
        }
        if (at + size_t(h.bytes) > es.size()) break;
        int64_t pts90 = -1, packet_at = -1;
        while (!a.stamps.empty() && a.stamps.front().to <= at)
            a.stamps.pop_front();
        if (!a.stamps.empty() && a.stamps.front().from <= at) {
            pts90 = a.stamps.front().pts;
            packet_at = a.stamps.front().at;
            a.stamps.pop_front();
        }
        int64_t duration = int64_t(h.samples) * CLOCK / h.sample_rate;
        frame_done(a, es.data() + at, h.bytes, pts90, duration, packet_at);
        at += size_t(h.bytes);
    }
    es.erase(es.begin(), es.begin() + long(at));
    for (auto& s : a.stamps) {
        s.from = s.from > at ? s.from - at : 0;
        s.to = s.to > at ? s.to - at : 0;
    }
}

// Audio PES packets: their payloads to the frame bytes, their PTS to the stamps.
void take_pes_apart(AudioPlacement& a) {
    std::vector<uint8_t>& b = a.pes;
    int64_t first_at = a.received - int64_t(b.size());  // stream offset of b[0]
    size_t at = 0;
    while (at + 9 <= b.size()) {
        if (!(b[at] == 0 && b[at + 1] == 0 && b[at + 2] == 1 && (b[at + 3] & 0xE0) == 0xC0)) {
            ++at;
            continue;
        }
        size_t length = size_t(b[at + 4]) << 8 | b[at + 5];
        if (at + 6 + length > b.size()) break;
        size_t header = 9 + size_t(b[at + 8]);
        if ((b[at + 6] & 0xC0) != 0x80 || header > 6 + length) {
            at += 4;  // not an MPEG-2 PES header
            continue;
        }
        int64_t pts = -1;
        if ((b[at + 7] & 0x80) && header >= 14) {
            const uint8_t* t = b.data() + at + 9;
            pts = (int64_t(t[0] & 0x0E) << 29) | (int64_t(t[1]) << 22) |
                  (int64_t(t[2] & 0xFE) << 14) | (int64_t(t[3]) << 7) | (t[4] >> 1);
        }
        size_t from = a.es.size();
        a.es.insert(a.es.end(), b.begin() + long(at + header), b.begin() + long(at + 6 + length));
        if (pts >= 0) a.stamps.push_back({from, a.es.size(), pts, first_at + int64_t(at)});
        at += 6 + length;
    }
    b.erase(b.begin(), b.begin() + long(at));
    cut_frames(a);
}

}  // namespace

void take_audio(AudioPlacement& a, const ByteSpan* spans, int count) {
    for (int i = 0; i < count; ++i) {
        const uint8_t* p = static_cast<const uint8_t*>(spans[i].bytes);
        a.pes.insert(a.pes.end(), p, p + spans[i].size);
        a.received += int64_t(spans[i].size);
    }
    take_pes_apart(a);
}

int64_t unsent_audio(const AudioPlacement& a, int64_t limit) {
    int64_t n = 0;
    for (size_t i = 0; i < a.queue.size() && n < limit; ++i)
        n += int64_t(a.queue[i].bytes.size() - a.queue[i].sent);
    return n;
}

int64_t audio_clock_before(const AudioPlacement& a, int64_t at) {
    auto after = std::lower_bound(
        a.clock.begin(), a.clock.end(), at,
        [](const std::pair<int64_t, int64_t>& e, int64_t offset) { return e.first < offset; });
    return after == a.clock.begin() ? -1 : std::prev(after)->second;
}

void drop_sent_frames(AudioPlacement& a) {
    while (!a.queue.empty() && a.queue.front().sent == a.queue.front().bytes.size())
        a.queue.pop_front();
}

void finish_audio(AudioPlacement& a) {
    if (a.jumps > MAX_JUMP_NOTICES) {
        char notice[MESSAGE_SIZE];
        put_message(notice, "The audio's time stamps jumped %lld more times.",
                    static_cast<long long>(a.jumps - MAX_JUMP_NOTICES));
        hook_notice(a.hooks, notice);
    }
}

}  // namespace quarrow
