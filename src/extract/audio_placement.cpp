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
// it; gaps filled with silence, overlaps dropped, jumps start a new base. The frame's bytes move
// into the queue as they are.
void frame_done(AudioPlacement& a, std::vector<uint8_t>&& frame, int64_t pts90, int64_t duration,
                int64_t at) {
    const uint8_t* p = frame.data();
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

// A frame header of the kind the audio began with (a change of layer or rate is damage).
bool frame_header_at(const AudioPlacement& a, const uint8_t* p, AudioFrameHeader* h) {
    bool same_kind = !a.started || ((p[1] & 0xFE) == (a.first_header[1] & 0xFE) &&
                                    (p[2] & 0x0C) == (a.first_header[2] & 0x0C));
    return same_kind && parse_audio_frame_header(p, h) && h->bytes >= 4;
}

void begin_frame(AudioPlacement& a, const AudioFrameHeader& h, int64_t pts90, int64_t at) {
    a.frame.clear();
    a.frame.reserve(size_t(h.bytes));
    a.frame_need = size_t(h.bytes);
    a.frame_pts = pts90;
    a.frame_at = at;
}

void end_frame(AudioPlacement& a) {
    AudioFrameHeader h;
    parse_audio_frame_header(a.frame.data(), &h);
    int64_t duration = int64_t(h.samples) * CLOCK / h.sample_rate;
    a.frame_need = 0;
    frame_done(a, std::move(a.frame), a.frame_pts, duration, a.frame_at);
    a.frame = std::vector<uint8_t>();
}

// Payload bytes of the audio PES packets, cut into frames as they come: each frame is copied
// once, from where the walk holds it into its own bytes, and takes the time stamp of the packet
// it begins in (the first frame that begins in a packet owns the packet's stamp). Bytes that are
// no frame header are stepped over one at a time.
void take_frame_bytes(AudioPlacement& a, const uint8_t* p, size_t n) {
    while (n > 0) {
        if (a.frame_need > 0) {
            size_t k = std::min(n, a.frame_need - a.frame.size());
            a.frame.insert(a.frame.end(), p, p + k);
            p += k;
            n -= k;
            if (a.frame.size() == a.frame_need) end_frame(a);
            continue;
        }
        AudioFrameHeader h;
        if (a.head_have == 0 && n >= 4) {
            if (frame_header_at(a, p, &h)) {
                begin_frame(a, h, a.packet_pts, a.packet_at);
                a.packet_pts = a.packet_at = -1;
            } else {
                ++p, --n;
            }
            continue;
        }
        // A header that straddles two packets is gathered first.
        a.head[a.head_have] = *p;
        a.head_pts[a.head_have] = a.packet_pts;
        a.head_at[a.head_have] = a.packet_at;
        a.head_serial[a.head_have] = a.packet_serial;
        ++a.head_have;
        ++p, --n;
        if (a.head_have < 4) continue;
        if (frame_header_at(a, a.head, &h)) {
            begin_frame(a, h, a.head_pts[0], a.head_at[0]);
            if (a.head_serial[0] == a.packet_serial) a.packet_pts = a.packet_at = -1;
            a.frame.assign(a.head, a.head + 4);
            a.head_have = 0;
            if (a.frame.size() == a.frame_need) end_frame(a);
            continue;
        }
        for (int k = 0; k < 3; ++k) {
            a.head[k] = a.head[k + 1];
            a.head_pts[k] = a.head_pts[k + 1];
            a.head_at[k] = a.head_at[k + 1];
            a.head_serial[k] = a.head_serial[k + 1];
        }
        a.head_have = 3;
    }
}

// Whether the nine bytes of a PES header open an MPEG-2 audio packet whose header fits in it;
// 0: no start code here, -1: a start code but no such header.
int audio_pes_header(const uint8_t* b) {
    if (!(b[0] == 0 && b[1] == 0 && b[2] == 1 && (b[3] & 0xE0) == 0xC0)) return 0;
    size_t length = size_t(b[4]) << 8 | b[5];
    size_t header = 9 + size_t(b[8]);
    return (b[6] & 0xC0) == 0x80 && header <= 6 + length ? 1 : -1;
}

// A PES header is whole in pes_head: its stamp and payload length become the packet's; `at` is
// where the header began in the audio stream, the place a stamped packet marks on the clock.
void begin_packet(AudioPlacement& a, int64_t at) {
    const uint8_t* b = a.pes_head;
    size_t length = size_t(b[4]) << 8 | b[5];
    size_t header = 9 + size_t(b[8]);
    a.packet_pts = a.packet_at = -1;
    if ((b[7] & 0x80) && header >= 14) {
        const uint8_t* t = b + 9;
        a.packet_pts = (int64_t(t[0] & 0x0E) << 29) | (int64_t(t[1]) << 22) |
                       (int64_t(t[2] & 0xFE) << 14) | (int64_t(t[3]) << 7) | (t[4] >> 1);
        a.packet_at = at;
    }
    ++a.packet_serial;
    a.payload_left = int64_t(6 + length - header);
    a.pes_have = 0;
    a.pes_need = 9;
}

// Audio PES packets, wherever the walk's payloads cut them: the headers are read (and gathered
// where they straddle two payloads), the payloads go to the frames where they lie. `received`
// counts the audio stream's bytes up to p.
void take_pes_bytes(AudioPlacement& a, const uint8_t* p, size_t n) {
    const uint8_t* start = p;
    while (n > 0) {
        if (a.payload_left > 0) {
            size_t k = size_t(std::min<int64_t>(a.payload_left, int64_t(n)));
            take_frame_bytes(a, p, k);
            a.payload_left -= int64_t(k);
            p += k;
            n -= k;
            continue;
        }
        if (a.pes_have == 0 && n >= 9) {
            int kind = audio_pes_header(p);
            if (kind <= 0) {
                size_t skip = kind < 0 ? 4 : 1;  // not an MPEG-2 PES header: past its start code
                p += std::min(skip, n);
                n -= std::min(skip, n);
                continue;
            }
        }
        size_t k = std::min(n, size_t(a.pes_need - a.pes_have));
        memcpy(a.pes_head + a.pes_have, p, k);
        a.pes_have += int(k);
        p += k;
        n -= k;
        if (a.pes_have < a.pes_need) continue;
        if (a.pes_need == 9) {
            int kind = audio_pes_header(a.pes_head);
            if (kind <= 0) {
                // Look again from the next byte (past the start code of a header that is none).
                int skip = kind < 0 ? 4 : 1;
                memmove(a.pes_head, a.pes_head + skip, size_t(9 - skip));
                a.pes_have = 9 - skip;
                continue;
            }
            a.pes_need = 9 + a.pes_head[8];
            if (a.pes_have < a.pes_need) continue;
        }
        begin_packet(a, a.received + (p - start) - a.pes_need);
    }
}

}  // namespace

void take_audio(AudioPlacement& a, const ByteSpan* spans, int count) {
    for (int i = 0; i < count; ++i) {
        take_pes_bytes(a, static_cast<const uint8_t*>(spans[i].bytes), spans[i].size);
        a.received += int64_t(spans[i].size);
    }
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
