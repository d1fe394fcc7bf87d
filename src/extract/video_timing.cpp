// Picture timing: the video elementary stream, which carries no time stamps of its own, cut into
// pictures at their start codes and timed from the frame cadence (frame rate, the temporal order
// of I/P/B pictures, repeated fields).
#include <algorithm>
#include <cstring>

#include "extract/program_stream_parts.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace quarrow {
namespace {

constexpr size_t MAX_PICTURE_BYTES = 16u << 20;
// A time code further ahead than this is a new time base, not video lost in reception.
constexpr int64_t MAX_VIDEO_GAP = 10 * CLOCK;
// How far the video's lead over the audio that arrives with it wanders while nothing is lost.
constexpr int64_t MAX_LEAD_WANDER = CLOCK / 4;

// Frame period per frame_rate_code of the sequence header.
const int64_t FRAME_TICKS[9] = {1080000, 1126125, 1125000, 1080000, 900900,
                                900000,  540000,  450450,  450000};

constexpr int PICTURE_I = 1, PICTURE_B = 3;  // picture_coding_type; P-pictures are 2

// n bytes from `at` in one piece: where they lie, or copied into scratch where they are split.
const uint8_t* view_video(VideoBytes& v, int64_t at, size_t n, uint8_t* scratch) {
    size_t run;
    const uint8_t* p = locate(v, at, &run);
    if (run >= n) return p;
    copy_video(v, at, n, scratch);
    return scratch;
}

#if defined(__SSE2__)
// Bit k set where p[k] is zero, for the 64 bytes from p.
inline uint64_t zero_bytes(const uint8_t* p) {
    const __m128i zero = _mm_setzero_si128();
    uint64_t mask = 0;
    for (int k = 0; k < 4; ++k) {
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        mask |= uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(b, zero)))) << (16 * k);
    }
    return mask;
}
#endif

// The first start code at or after `from` whose twelve bytes from its start all lie before
// `end`, or -1.
int64_t find_start_code(VideoBytes& v, int64_t from, int64_t end) {
    int64_t last = end - 12;  // the last start that qualifies
    int64_t s = from;
    while (s <= last) {
        size_t run;
        const uint8_t* p = locate(v, s, &run);
        int64_t stop = std::min(s + int64_t(run), last + 3);
        size_t n = size_t(stop - s);
        size_t at = find_start_code_in(p, n);
        if (at < n) return s + int64_t(at);
        // Starts in the piece's last two bytes read on into the next piece.
        for (s = std::max(s, stop - 2); s < stop && s <= last; ++s) {
            uint8_t scratch[3];
            const uint8_t* b = view_video(v, s, 3, scratch);
            if (b[0] == 0 && b[1] == 0 && b[2] == 1) return s;
        }
    }
    return -1;
}

// A GOP header's time_code (hours, minutes, seconds, pictures) as a count of frames.
int64_t time_code_frames(const VideoTiming& t, const uint8_t* p) {
    uint32_t code = uint32_t(p[0]) << 17 | uint32_t(p[1]) << 9 | uint32_t(p[2]) << 1 | p[3] >> 7;
    int64_t fps = (CLOCK + frame_ticks(t) / 2) / frame_ticks(t);  // 25, 30 for 29.97, ...
    int64_t minutes = ((code >> 19) & 31) * 60 + ((code >> 13) & 63);
    int64_t frames = (minutes * 60 + ((code >> 6) & 63)) * fps + (code & 63);
    // Drop-frame counting skips two numbers each minute but every tenth.
    if ((code >> 24) && fps == 30) frames -= 2 * (minutes - minutes / 10);
    return frames;
}

// A gap before the group `anchor` opens; one whose stretch of the stream held unreadable sectors
// is the disk's.
void add_video_repair(VideoTiming& t, const VideoUnit& anchor, int64_t at, int64_t duration,
                      RepairCause cause) {
    if (cause == LOST_IN_RECEPTION && unreadable_between(t.unreadable, t.group_begin, anchor.begin))
        cause = UNREADABLE_ON_DISK;
    Repair r;
    r.at = at - t.first_picture_pts;
    r.duration = duration;
    r.dropped_pictures = t.dropped_since_group;
    r.dropped = std::min(t.dropped_ticks, duration);
    r.video = true;
    r.cause = cause;
    t.repairs.push_back(r);
}

// How far the group that `anchor` opens is shown later than the cadence says: the time its GOP
// time code names minus the time the pictures so far add up to, once the codes have been seen
// to run with the pictures (a constant or absent code says nothing). A code that runs back, or
// far ahead, is a new time base of the broadcast: the video goes on without a gap.
int64_t gap_before_group(VideoTiming& t, const VideoUnit& anchor, int64_t cadence_pts) {
    if (anchor.time_code < 0) return 0;
    int64_t frame = frame_ticks(t);
    int64_t code_pts = (anchor.time_code + anchor.temporal_reference) * frame;
    int64_t gap = 0;
    if (t.have_code) {
        int64_t d = t.code_origin + code_pts - cadence_pts;
        if (d > -frame / 2 && d < frame / 2) {
            t.codes_running = true;
        } else if (t.codes_running && d > 0 && d <= MAX_VIDEO_GAP) {
            gap = (d + frame / 2) / frame * frame;
            add_video_repair(t, anchor, cadence_pts, gap, LOST_IN_RECEPTION);
        } else if (t.codes_running) {
            add_video_repair(t, anchor, cadence_pts, 0, TIME_BASE_JUMP);
        }
    }
    t.have_code = true;
    t.code_origin = cadence_pts + gap - code_pts;
    return gap;
}

// How far the group that `anchor` opens is shown later than the cadence says, by the audio
// clock: the anchor's lead over the audio that arrived just before its first byte, against the
// lead the groups before it had. That lead wanders with the broadcast's buffering (a large
// picture is sent early), so it is trusted only where the stream shows that video was lost
// before the group (pictures whose temporal references do not add up, or sectors the disk could
// not read); there a lead that falls by more than its wander is video lost, by the fall in whole
// frames. Right after a loss the audio before the anchor tends to be older than the anchor (the
// stretch lost both streams, or the first pictures after it were dropped up to the group): the
// gap found is the least it can be, and the next group, with the streams interleaved again, adds
// what is still missing to the same repair.
int64_t gap_by_audio_clock(VideoTiming& t, const VideoUnit& anchor, int64_t cadence_pts) {
    std::deque<ArrivalMark>& marks = t.arrivals;
    while (marks.size() > 1 && marks[1].video_at <= anchor.begin)
        marks.pop_front();
    if (!t.audio || marks.empty() || marks.front().video_at > anchor.begin) return 0;
    // The audio block that arrived last before the anchor ends where the next mark begins.
    int64_t clock = audio_clock_before(*t.audio, marks.size() > 1 ? marks[1].audio_at : INT64_MAX);
    if (clock < 0) return 0;
    int64_t lead = cadence_pts - clock;
    // A lead that jumps by more than any gap is a new time base of the broadcast's clocks.
    if (!t.have_lead || lead - t.lead > MAX_VIDEO_GAP || t.lead - lead > MAX_VIDEO_GAP) {
        t.have_lead = true;
        t.lead = lead;
        return 0;
    }
    int64_t frame = frame_ticks(t);
    int64_t gap = 0;
    int64_t fall = t.lead - lead;
    bool unsure = t.gap_unsure;
    t.gap_unsure = false;
    bool lost =
        t.lost_before_group || unreadable_between(t.unreadable, t.group_begin, anchor.begin);
    if ((lost || unsure) && fall > (unsure ? frame / 2 : MAX_LEAD_WANDER)) {
        gap = (unsure ? fall + frame / 2 : fall) / frame * frame;
        if (gap > 0 && unsure && !t.repairs.empty()) {
            Repair& r = t.repairs.back();
            r.duration += gap;
            r.dropped_pictures += t.dropped_since_group;
            r.dropped = std::min(r.dropped + t.dropped_ticks, r.duration);
        } else if (gap > 0)
            add_video_repair(t, anchor, cadence_pts, gap, LOST_IN_RECEPTION);
        t.gap_unsure = gap > 0 && !unsure;
    }
    if (t.gap_unsure) return gap;  // the lead is known again at the next group
    // The lead follows the slow wander of the broadcast's clocks, but not a fall that nothing
    // explains yet: it may be a loss whose evidence comes with the next group.
    int64_t step = lead + gap - t.lead;
    if (step > -MAX_LEAD_WANDER) t.lead += step / 8;
    return gap;
}

// Times the held anchor picture and the B-pictures after it in decode order, which are shown
// before it: the B-pictures one after the other from the display clock, then the anchor. An
// anchor is decoded when the anchor before it is shown (B-pictures when they are shown).
void time_group(VideoTiming& t, size_t end) {
    size_t from = t.untimed_from;
    if (from >= end) return;
    VideoUnit& anchor = t.queue[from];
    int64_t first_decode = 0;
    int64_t before = 0;  // B-pictures shown before the anchor
    for (size_t i = from + 1; i < end; ++i)
        before += shown_ticks(t, t.queue[i]);
    if (t.first_group) {
        t.display_clock = t.first_picture_pts - before;
        first_decode = t.display_clock - frame_ticks(t);
    }
    bool opens = anchor.group_start;
    int64_t gap = opens ? gap_before_group(t, anchor, t.display_clock + before) : 0;
    if (opens && !t.codes_running && !t.first_group)
        gap = gap_by_audio_clock(t, anchor, t.display_clock + before);
    if (opens) {
        t.lost_before_group = false;
        t.dropped_since_group = t.dropped_ticks = 0;
    }
    if (gap > 0) {
        // The video resumes at its true time; the anchor is decoded just before the first
        // picture shown after the gap.
        t.display_clock += gap;
        first_decode = std::max(t.last_anchor_pts, t.display_clock - frame_ticks(t));
    }
    t.prev_anchor_tr = anchor.temporal_reference;
    for (size_t i = from + 1; i < end; ++i) {
        VideoUnit& b = t.queue[i];
        b.pts = b.dts = t.display_clock;
        b.timed = true;
        t.display_clock += shown_ticks(t, b);
    }
    anchor.pts = t.display_clock;
    anchor.dts = t.first_group || gap > 0 ? first_decode : t.last_anchor_pts;
    anchor.timed = true;
    if (opens) t.group_begin = anchor.begin;
    t.display_clock += shown_ticks(t, anchor);
    t.last_anchor_pts = anchor.pts;
    t.first_group = false;
    t.untimed_from = end;
}

// Whether pictures are missing before the held anchor: within a group, each anchor's
// temporal_reference is the last one's plus the B-pictures shown between them plus one. A
// stream whose B-pictures are not numbered between their anchors does not count in display
// order, and says nothing.
bool group_lost_pictures(const VideoTiming& t) {
    if (t.first_group || t.untimed_from >= t.queue.size()) return false;
    const VideoUnit& anchor = t.queue[t.untimed_from];
    if (anchor.group_start) {
        // A new group counts afresh (its time code tells the rest): its leading B-pictures are
        // numbered before its I-picture, so one numbered after it came from a lost anchor.
        for (size_t i = t.untimed_from + 1; i < t.queue.size(); ++i)
            if (t.queue[i].temporal_reference > anchor.temporal_reference) return true;
        return false;
    }
    int span = (anchor.temporal_reference - t.prev_anchor_tr) & 1023;
    if (span == 0) return false;  // not numbered at all
    for (size_t i = t.untimed_from + 1; i < t.queue.size(); ++i) {
        int b = (t.queue[i].temporal_reference - t.prev_anchor_tr) & 1023;
        if (b == 0 || b >= span) return false;
    }
    int between = int(t.queue.size() - t.untimed_from - 1);
    return span != between + 1;
}

// A picture that is not written once timing has begun: the time it would have been shown is
// held over the gap before the next group, beside what the stream lost.
void drop_picture(VideoTiming& t, const VideoUnit& u) {
    ++t.dropped;
    ++t.dropped_since_group;
    t.dropped_ticks += shown_ticks(t, u);
}

// A whole picture has been gathered: dropped (before the first I-picture, or a B-picture that
// leads an open first group and refers to a picture never recorded), or queued and timed.
void picture_done(VideoTiming& t, VideoUnit&& u) {
    int end = u.gop_at > u.sequence_at ? u.gop_at : u.picture_at;
    if (u.has_sequence && end > u.sequence_at) {
        t.sequence_header.resize(size_t(end - u.sequence_at));
        copy_video(t.bytes, u.begin + u.sequence_at, t.sequence_header.size(),
                   t.sequence_header.data());
    }
    if (!t.started) {
        if (u.type != PICTURE_I) {
            ++t.dropped;
            return;
        }
        t.started = true;
        t.dropping_leading_b = !(u.gop_at >= 0 && u.closed_gop);
        // The sequence header came with a picture that was dropped: the file needs it first.
        insert_sequence_header(t, u);
        u.opens_gop = true;
    } else if (u.type == PICTURE_B && t.dropping_leading_b) {
        drop_picture(t, u);
        return;
    }
    bool anchor = u.type != PICTURE_B;
    if (anchor && group_lost_pictures(t)) {
        // The held group refers to pictures that never came: it goes, and so does every
        // picture up to the next group's I-picture.
        for (size_t i = t.untimed_from; i < t.queue.size(); ++i) {
            t.held -= t.queue[i].size();
            --t.pictures;
            drop_picture(t, t.queue[i]);
        }
        t.queue.resize(t.untimed_from);
        t.broken = true;
        t.lost_before_group = true;
    }
    if (t.broken) {
        if (u.type != PICTURE_I || !u.group_start) {
            drop_picture(t, u);
            return;
        }
        t.broken = false;
        // Its leading B-pictures refer to the lost picture before it.
        t.dropping_leading_b = !u.closed_gop;
    } else if (u.type != PICTURE_B) {
        t.dropping_leading_b = false;
    }
    ++t.pictures;
    t.held += u.size();
    t.queue.push_back(std::move(u));
    if (anchor) time_group(t, t.queue.size() - 1);
    // A stream whose anchors stop coming (damaged data) would hold every picture untimed.
    if (t.held > MAX_HELD_VIDEO) time_group(t, t.queue.size());
}

// Start codes of the pending bytes, from where the last call stopped. A picture ends where a
// sequence header, a GOP header or the next picture begins (the second field of a frame coded
// as two field pictures stays with the first).
void scan_video(VideoTiming& t) {
    VideoBytes& v = t.bytes;
    int64_t i = t.scanned;
    while (i + 12 <= v.end) {
        int64_t at = find_start_code(v, i, v.end);
        if (at < 0) {
            i = v.end - 11;  // a start code may begin in the last 11 bytes
            break;
        }
        i = at;
        uint8_t scratch[8];
        const uint8_t* b = view_video(v, i, 8, scratch);
        uint8_t code = b[3];
        bool ends_picture =
            t.pictures_in_pending > 0 &&
            (code == 0xB3 || code == 0xB8 ||
             (code == 0x00 && !(t.pictures_in_pending == 1 && t.pending_structure != 3)));
        if (ends_picture) {
            VideoUnit u = std::move(t.unit);
            u.begin = t.pending_from;
            u.end = i;
            t.pending_from = i;
            t.unit = VideoUnit();
            t.pictures_in_pending = 0;
            t.pending_structure = 3;
            picture_done(t, std::move(u));
            continue;  // the start code at i opens the next picture
        }
        VideoUnit& u = t.unit;
        int offset = int(i - t.pending_from);
        if (code == 0xB3) {
            u.has_sequence = true;
            u.sequence_at = offset;
            t.frame_rate_code = b[7] & 0x0F;
        } else if (code == 0xB8) {
            u.gop_at = offset;
            u.closed_gop = (b[7] & 0x40) != 0;
            u.opens_gop = u.group_start = true;
            u.time_code = time_code_frames(t, b + 4);
        } else if (code == 0xB5) {
            int id = b[4] >> 4;
            if (id == 1) t.progressive_sequence = (b[5] >> 3) & 1;
            if (id == 8 && t.pictures_in_pending == 1) {
                int structure = b[6] & 3;
                bool top_first = b[7] >> 7;
                bool repeat = (b[7] >> 1) & 1;
                t.pending_structure = structure;
                if (structure != 3)
                    u.fields = 2;  // with its second field
                else if (t.progressive_sequence)
                    u.fields = repeat ? (top_first ? 6 : 4) : 2;
                else
                    u.fields = 2 + (repeat ? 1 : 0);
            }
        } else if (code == 0x00) {
            if (t.pictures_in_pending == 0) {
                u.picture_at = offset;
                u.type = (b[5] >> 3) & 7;
                u.temporal_reference = (b[4] << 2) | (b[5] >> 6);
                // An encoder that writes no GOP headers opens each group with a sequence
                // header and an I-picture.
                if (u.type == PICTURE_I && u.has_sequence && u.gop_at < 0)
                    u.opens_gop = u.group_start = true;
            }
            ++t.pictures_in_pending;
        }
        i += 4;
    }
    t.scanned = i;
}

}  // namespace

const uint8_t* locate(VideoBytes& v, int64_t at, size_t* run) {
    int64_t kept_end = v.kept_at + int64_t(v.kept.size());
    if (at < kept_end) {
        *run = size_t(kept_end - at);
        return v.kept.data() + (at - v.kept_at);
    }
    int k = v.cursor;
    if (k >= v.input_count || at < v.input_at[size_t(k)] ||
        at - v.input_at[size_t(k)] >= int64_t(v.input[k].size)) {
        // The last span that starts at or before `at`: empty spans before it start there too.
        auto first = v.input_at.begin();
        k = int(std::upper_bound(first, first + v.input_count, at) - first) - 1;
        v.cursor = k;
    }
    size_t offset = size_t(at - v.input_at[size_t(k)]);
    *run = v.input[k].size - offset;
    return static_cast<const uint8_t*>(v.input[k].bytes) + offset;
}

void copy_video(VideoBytes& v, int64_t at, size_t n, uint8_t* to) {
    while (n > 0) {
        size_t run;
        const uint8_t* p = locate(v, at, &run);
        size_t k = run < n ? run : n;
        memcpy(to, p, k);
        to += k;
        at += int64_t(k);
        n -= k;
    }
}

namespace {

#if defined(__SSE2__)
// Where the 64-byte steps of the search end (i, with the byte before it zero or not), or the
// start code's offset with *found set.
template <uint64_t (*ZEROS)(const uint8_t*)>
__attribute__((always_inline)) inline size_t search_pairs(const uint8_t* p, size_t n, bool* found) {
    size_t i = 0;
    uint64_t zero_before = 0;  // whether the byte before the 64 is zero
    *found = true;
    for (; i + 65 <= n; i += 64) {
        uint64_t zeros = ZEROS(p + i);
        uint64_t pairs = zeros & (zeros >> 1);  // bit k: p[i + k] and p[i + k + 1] are zero
        bool pair_before = zero_before && (zeros & 1);
        zero_before = zeros >> 63;
        if (pair_before && p[i + 1] == 1) return i - 1;
        for (; pairs; pairs &= pairs - 1) {
            size_t at = i + size_t(__builtin_ctzll(pairs));
            if (p[at + 2] == 1) return at;
        }
    }
    *found = false;
    return zero_before ? i - 1 : i;  // a pair across the last step's end
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// The same 64 bytes in two 32-byte steps, where the processor has them: the search runs over
// every byte of the video, and this halves its instructions.
__attribute__((target("avx2"))) uint64_t zero_bytes_avx2(const uint8_t* p) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    return uint64_t(uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(lo, zero)))) |
           uint64_t(uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(hi, zero)))) << 32;
}
__attribute__((target("avx2"))) size_t search_pairs_avx2(const uint8_t* p, size_t n, bool* found) {
    return search_pairs<zero_bytes_avx2>(p, n, found);
}
#define QUARROW_HAS_AVX2_SEARCH 1
#endif
#endif

}  // namespace

size_t find_start_code_in(const uint8_t* p, size_t n) {
    size_t i = 0;
#if defined(__SSE2__)
    bool found;
#if defined(QUARROW_HAS_AVX2_SEARCH)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    i = avx2 ? search_pairs_avx2(p, n, &found) : search_pairs<zero_bytes>(p, n, &found);
#else
    i = search_pairs<zero_bytes>(p, n, &found);
#endif
    if (found) return i;
#endif
    while (i + 3 <= n) {
        const void* hit = memchr(p + i + 2, 0x01, n - i - 2);
        if (!hit) break;
        size_t h = size_t(static_cast<const uint8_t*>(hit) - p);
        if (p[h - 2] == 0 && p[h - 1] == 0) return h - 2;
        i = h - 1;
    }
    return n;
}

int64_t frame_ticks(const VideoTiming& t) {
    int code = t.frame_rate_code >= 1 && t.frame_rate_code <= 8 ? t.frame_rate_code : 3;
    return FRAME_TICKS[code];
}

int64_t shown_ticks(const VideoTiming& t, const VideoUnit& u) {
    return frame_ticks(t) * u.fields / 2;
}

void insert_sequence_header(const VideoTiming& t, VideoUnit& u) {
    if (u.has_sequence || t.sequence_header.empty()) return;
    int n = int(t.sequence_header.size());
    u.inserted = t.sequence_header;
    u.picture_at += n;
    if (u.gop_at >= 0) u.gop_at += n;
    u.has_sequence = true;
    u.sequence_at = 0;
}

void take_video(VideoTiming& t, const ByteSpan* spans, int count) {
    VideoBytes& v = t.bytes;
    v.input = spans;
    v.input_count = count;
    v.input_at.resize(size_t(count));
    for (int i = 0; i < count; ++i) {
        v.input_at[size_t(i)] = v.end;
        v.end += int64_t(spans[i].size);
    }
    scan_video(t);
    // No picture is this large (the largest decoder buffer of MPEG-2 holds under 10 MB): data
    // without picture boundaries is dropped rather than held without end.
    if (v.end - t.pending_from > int64_t(MAX_PICTURE_BYTES)) {
        t.pending_from = v.end;
        t.scanned = v.end;
        t.unit = VideoUnit();
        t.pictures_in_pending = 0;
        t.pending_structure = 3;
        ++t.dropped;
    }
}

// The bytes still needed (from the first one not yet sent of the queued pictures, or else from
// the pending picture's start) move out of the caller's spans into `kept`, whose unneeded front
// is dropped only once it outweighs the rest.
void keep_video_bytes(VideoTiming& t) {
    VideoBytes& v = t.bytes;
    int64_t from = t.pending_from;
    if (!t.queue.empty()) {
        const VideoUnit& u = t.queue.front();
        size_t inserted = u.inserted.size();
        from = u.begin + (u.sent > inserted ? int64_t(u.sent - inserted) : 0);
    }
    int64_t kept_end = v.kept_at + int64_t(v.kept.size());
    if (from >= kept_end) {
        v.kept.clear();
        v.kept_at = from;
    } else if (from > v.kept_at) {
        size_t dead = size_t(from - v.kept_at);
        size_t incoming = size_t(v.end - kept_end);
        if (dead >= v.kept.size() - dead || v.kept.size() + incoming > v.kept.capacity()) {
            v.kept.erase(v.kept.begin(), v.kept.begin() + long(dead));
            v.kept_at = from;
        }
    }
    int64_t copy_from = v.kept_at + int64_t(v.kept.size());
    for (int k = 0; k < v.input_count; ++k) {
        int64_t at = v.input_at[size_t(k)], to = at + int64_t(v.input[k].size);
        if (to <= copy_from) continue;
        const uint8_t* p = static_cast<const uint8_t*>(v.input[k].bytes);
        size_t skip = copy_from > at ? size_t(copy_from - at) : 0;
        v.kept.insert(v.kept.end(), p + skip, p + v.input[k].size);
    }
    v.input = nullptr;
    v.input_count = 0;
    v.cursor = 0;
}

void finish_video(VideoTiming& t) {
    if (t.pictures_in_pending > 0) {
        VideoUnit u = std::move(t.unit);
        u.begin = t.pending_from;
        u.end = t.scanned = t.pending_from = t.bytes.end;
        t.pictures_in_pending = 0;
        picture_done(t, std::move(u));
    }
    time_group(t, t.queue.size());
}

VideoWindow timed_video(const VideoTiming& t, int64_t limit) {
    VideoWindow v;
    for (size_t i = 0; i < t.queue.size() && v.bytes < limit; ++i) {
        const VideoUnit& u = t.queue[i];
        if (!u.timed) break;
        if (i > 0 && u.opens_gop) {
            v.ends_at_group = true;
            break;
        }
        v.bytes += int64_t(u.size() - u.sent);
    }
    return v;
}

void drop_sent_pictures(VideoTiming& t) {
    while (!t.queue.empty() && t.queue.front().sent == t.queue.front().size()) {
        t.held -= t.queue.front().size();
        t.queue.pop_front();
        --t.untimed_from;
    }
}

}  // namespace quarrow
