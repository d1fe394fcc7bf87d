#include "extract/program_stream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "disk/sector_access.h"
#include "extract/mpeg_audio.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarrow {
namespace {

// Times are counted in ticks of the 27 MHz system clock; PTS and DTS are its 90 kHz part.
constexpr int64_t CLOCK = 27000000;
constexpr int64_t TICKS_PER_PTS = 300;
constexpr int64_t MUX_BYTES_PER_SECOND = int64_t(PROGRAM_MUX_RATE) * 50;
// One pack's transfer time at the mux rate, rounded up.
constexpr int64_t PACK_TICKS =
    (PACK_SIZE * CLOCK + MUX_BYTES_PER_SECOND - 1) / MUX_BYTES_PER_SECOND;
constexpr int PACK_HEADER_SIZE = 14;
constexpr int PES_ROOM = PACK_SIZE - PACK_HEADER_SIZE;  // for one PES packet (and padding)
// The first I-picture is shown this long after the first pack, so that it has arrived.
constexpr int64_t PREROLL = CLOCK * 7 / 10;
// Audio time stamps further apart than this start a new time base.
constexpr int64_t MAX_AUDIO_GAP = 10 * CLOCK;
// Video held while the audio is missing (a long gap in the broadcast) before packs go out
// regardless; bounds the writer's memory.
constexpr size_t MAX_HELD_VIDEO = 20u << 20;
constexpr size_t MAX_HELD_FRAMES = 4000;
constexpr size_t MAX_PICTURE_BYTES = 16u << 20;
constexpr int64_t MAX_JUMP_NOTICES = 5;
constexpr size_t OUTPUT_CHUNK = 256 * 1024;
constexpr size_t OUT_CAPACITY = OUTPUT_CHUNK + 2 * PACK_SIZE;
constexpr size_t MAX_OUT_SPANS = 1024;  // as many as one writev takes on Linux
constexpr int64_t PTS_WRAP = int64_t(1) << 33;

// Frame period per frame_rate_code of the sequence header.
const int64_t FRAME_TICKS[9] = {1080000, 1126125, 1125000, 1080000, 900900,
                                900000,  540000,  450450,  450000};

constexpr int PICTURE_I = 1, PICTURE_B = 3;  // picture_coding_type; P-pictures are 2

// One picture of the video elementary stream (two field pictures of one frame count as one),
// with the sequence and GOP headers that precede it. Its bytes stay where the video stream holds
// them (VideoBytes); only a sequence header put before them is its own. Offsets count from its
// first byte as written, the inserted header first.
struct VideoUnit {
    int64_t begin = 0, end = 0;     // its bytes in the video stream
    std::vector<uint8_t> inserted;  // a sequence header written before them
    int picture_at = -1;            // offset of its (first) picture start code
    int type = 0;
    int fields = 2;          // fields it is shown for
    bool opens_gop = false;  // begins a group of pictures: a navigation pack goes before it
    int gop_at = -1;
    bool closed_gop = false;
    bool broken_link = false;  // its GOP header goes out with broken_link set
    bool has_sequence = false;
    int sequence_at = -1;
    bool timed = false;
    int64_t pts = 0, dts = 0;
    size_t sent = 0;
    size_t size() const { return inserted.size() + size_t(end - begin); }
};

// The video stream's bytes within the writer's reach: those it keeps between calls (from stream
// offset kept_at on), followed during a call by the caller's spans, read where they lie. Packs
// sent during the call point straight into the spans; at its end only what is still needed
// moves into `kept`.
struct VideoBytes {
    std::vector<uint8_t> kept;
    int64_t kept_at = 0;
    const ByteSpan* input = nullptr;
    int input_count = 0;
    std::vector<int64_t> input_at;  // stream offset of each span
    int64_t end = 0;                // stream offset after the last byte
    int cursor = 0;                 // the span the last look-up found
};

// The byte at stream offset `at` (kept_at <= at < end) and how many follow it in one piece.
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

struct AudioFrame {
    std::vector<uint8_t> bytes;
    int64_t pts = 0;
    size_t sent = 0;
};

// Bytes in a decoder buffer and when they leave it (the DTS of their picture, the PTS of their
// frame), in the order they came.
struct DecoderBuffer {
    int64_t size = 0;
    std::deque<std::pair<int64_t, int64_t>> held;  // (leaves at, bytes)
    int64_t bytes = 0;
    void advance(int64_t now) {
        while (!held.empty() && held.front().first <= now) {
            bytes -= held.front().second;
            held.pop_front();
        }
    }
    // The earliest time from `now` on at which `need` more bytes fit.
    int64_t room_at(int64_t now, int64_t need) const {
        int64_t b = bytes;
        if (b + need <= size) return now;
        for (const auto& h : held) {
            b -= h.second;
            if (b + need <= size) return h.first > now ? h.first : now;
        }
        return now;
    }
    void add(int64_t leaves_at, int64_t n) {
        if (!held.empty() && held.back().first == leaves_at)
            held.back().second += n;
        else
            held.emplace_back(leaves_at, n);
        bytes += n;
    }
};

void put_timestamp(uint8_t* p, int prefix, int64_t ticks) {
    uint64_t t = uint64_t(ticks / TICKS_PER_PTS) & uint64_t(PTS_WRAP - 1);
    p[0] = uint8_t((prefix << 4) | ((t >> 29) & 0x0E) | 1);
    p[1] = uint8_t(t >> 22);
    p[2] = uint8_t(((t >> 14) & 0xFE) | 1);
    p[3] = uint8_t(t >> 7);
    p[4] = uint8_t(((t << 1) & 0xFE) | 1);
}

void put_pack_header(uint8_t* p, int64_t scr) {
    uint64_t base = uint64_t(scr / TICKS_PER_PTS) & uint64_t(PTS_WRAP - 1);
    uint64_t ext = uint64_t(scr % TICKS_PER_PTS);
    p[0] = 0, p[1] = 0, p[2] = 1, p[3] = 0xBA;
    p[4] = uint8_t(0x44 | ((base >> 27) & 0x38) | ((base >> 28) & 0x03));
    p[5] = uint8_t(base >> 20);
    p[6] = uint8_t(((base >> 12) & 0xF8) | 0x04 | ((base >> 13) & 0x03));
    p[7] = uint8_t(base >> 5);
    p[8] = uint8_t(((base << 3) & 0xF8) | 0x04 | ((ext >> 7) & 0x03));
    p[9] = uint8_t((ext << 1) | 1);
    p[10] = uint8_t(PROGRAM_MUX_RATE >> 14);
    p[11] = uint8_t(PROGRAM_MUX_RATE >> 6);
    p[12] = uint8_t((PROGRAM_MUX_RATE << 2) | 0x03);
    p[13] = 0xF8;  // no pack stuffing
}

// "HH:MM:SS" of a time from the start of the video.
std::string clock_text(int64_t ticks) {
    if (ticks < 0) ticks = 0;
    int64_t s = ticks / CLOCK;
    char text[32];
    snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(s / 3600),
             static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
    return text;
}

}  // namespace

struct ProgramStreamWriter {
    ProgramStreamOptions options;
    ProgramStreamOutput output;
    const OperationHooks* hooks = nullptr;
    ProgramStreamCounts counts;
    bool write_failed = false;
    bool part_failed = false;  // the next part's file could not be created

    // ---- Video: the elementary stream cut into pictures ----
    VideoBytes video_bytes;
    int64_t pending_from = 0;  // where the picture being gathered begins in the stream
    int64_t scanned = 0;       // start codes before this stream offset are handled
    int pictures_in_pending = 0;
    int pending_structure = 3;  // picture_structure of its first picture (3: a frame)
    VideoUnit unit;             // what is known of the pending picture
    int frame_rate_code = 3;
    bool progressive_sequence = false;
    std::vector<uint8_t> sequence_header;  // the last, with its extensions
    bool video_started = false;            // the first I-picture was met
    bool dropping_leading_b = false;
    std::deque<VideoUnit> video;  // decode order; timed ones first
    size_t untimed_from = 0;      // index of the first unit not yet timed
    size_t held_video = 0;        // bytes in `video`
    bool first_group = true;
    int64_t display_clock = 0;
    int64_t last_anchor_pts = 0;
    int64_t first_picture_pts = 0;  // where the first I-picture is shown

    // ---- Audio: PES packets to frames placed on the video's time line ----
    std::vector<uint8_t> pes;  // PES bytes not yet taken apart
    std::vector<uint8_t> es;   // audio frames' bytes not yet cut into frames
    struct Stamp {
        size_t from, to;  // the packet's payload in `es`
        int64_t pts;      // 90 kHz
    };
    std::deque<Stamp> stamps;
    uint8_t first_header[4] = {0, 0, 0, 0};
    bool audio_started = false;
    int64_t last_source = 0;    // the previous frame's broadcast time, unwrapped, in ticks
    int64_t last_pts90 = 0;     // and as the 33-bit value
    int64_t source_anchor = 0;  // broadcast time of the frame the time base starts with
    int64_t out_anchor = 0;     // where that frame was placed
    int64_t next_out = 0;       // where the frame after the last one placed begins
    std::deque<AudioFrame> audio;
    int64_t jumps = 0;  // new time bases

    // ---- The multiplex ----
    DecoderBuffer video_buffer, audio_buffer;
    int64_t next_scr = 0;
    bool finishing = false;
    int part = 0;
    int64_t part_bytes = 0;
    // The packs not yet written, as spans in file order: pieces of `out` (OUT_CAPACITY bytes),
    // which holds what the writer makes itself (headers, padding, audio, inserted sequence
    // headers), and video bytes where they lie, in the caller's spans or in `kept`. They are
    // written before those bytes can go: at the end of every call with video, and whenever the
    // list or `out` is full.
    std::unique_ptr<uint8_t[]> out;
    size_t out_used = 0;
    std::vector<ByteSpan> out_spans;
};

size_t find_start_code_in(const uint8_t* p, size_t n) {
    size_t i = 0;
#if defined(__SSE2__)
    // A start code opens with two zero bytes, which compressed video seldom holds side by side:
    // 64 places at a time are searched for such a pair, and only a pair is looked at further.
    uint64_t zero_before = 0;  // whether the byte before the 64 is zero
    for (; i + 65 <= n; i += 64) {
        uint64_t zeros = zero_bytes(p + i);
        uint64_t pairs = zeros & (zeros >> 1);  // bit k: p[i + k] and p[i + k + 1] are zero
        bool pair_before = zero_before && (zeros & 1);
        zero_before = zeros >> 63;
        if (pair_before && p[i + 1] == 1) return i - 1;
        for (; pairs; pairs &= pairs - 1) {
            size_t at = i + size_t(__builtin_ctzll(pairs));
            if (p[at + 2] == 1) return at;
        }
    }
    if (zero_before) --i;  // a pair across the last step's end
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

namespace {

// ---- Output ----

bool flush_output(ProgramStreamWriter* w) {
    std::vector<ByteSpan>& spans = w->out_spans;
    w->out_used = 0;
    if (!spans.empty() && !w->write_failed &&
        !w->output.write(w->output.context, spans.data(), int(spans.size())))
        w->write_failed = true;
    spans.clear();  // after a failed write nothing more reaches the file anyway
    return !w->write_failed;
}

void add_span(ProgramStreamWriter* w, const uint8_t* p, size_t n) {
    std::vector<ByteSpan>& spans = w->out_spans;
    if (!spans.empty()) {
        ByteSpan& last = spans.back();
        if (static_cast<const uint8_t*>(last.bytes) + last.size == p) {
            last.size += n;
            return;
        }
    }
    if (spans.size() == MAX_OUT_SPANS) flush_output(w);
    spans.push_back(ByteSpan{p, n});
}

// n (at most a pack's) bytes of the writer's own next in the file; the caller fills them at once.
uint8_t* own_bytes(ProgramStreamWriter* w, size_t n) {
    // Room first: a flush after the bytes were taken would hand them out again.
    if (w->out_used + n > OUT_CAPACITY || w->out_spans.size() == MAX_OUT_SPANS) flush_output(w);
    uint8_t* p = w->out.get() + w->out_used;
    w->out_used += n;
    add_span(w, p, n);
    return p;
}

void new_pack(ProgramStreamWriter* w, int64_t scr) {
    put_pack_header(own_bytes(w, PACK_HEADER_SIZE), scr);
    w->part_bytes += PACK_SIZE;
}

void pack_done(ProgramStreamWriter* w) {
    if (w->out_used >= OUTPUT_CHUNK) flush_output(w);
}

// A navigation pack: system header, then the PCI and DSI packets (private stream 2) that a DVD
// authoring tool fills in; it marks where a video object unit (one group of pictures) begins.
void write_navigation_pack(ProgramStreamWriter* w, int64_t scr) {
    new_pack(w, scr);
    uint8_t* p = own_bytes(w, PES_ROOM);
    static const uint8_t system_header[24] = {
        0x00,
        0x00,
        0x01,
        0xBB,
        0x00,
        0x12,
        uint8_t(0x80 | (PROGRAM_MUX_RATE >> 15)),
        uint8_t(PROGRAM_MUX_RATE >> 7),
        uint8_t((PROGRAM_MUX_RATE << 1) | 1),
        0x04,  // one audio stream, variable rate
        0xE1,  // audio and video locked to the clock, one video stream
        0x7F,
        0xE0,
        0xE0,
        0xE8,  // video: 232 x 1024 bytes
        0xC0,
        0xC0,
        0x20,  // MPEG audio: 32 x 128 bytes
        0xBD,
        0xE0,
        0x3A,  // private stream 1, as DVD players expect it listed
        0xBF,
        0xE0,
        0x02,  // private stream 2: the navigation packets
    };
    memcpy(p, system_header, sizeof system_header);
    p += sizeof system_header;
    // PCI: 980 bytes of packet data, substream 0; DSI: 1018 bytes, substream 1.
    const uint8_t pci[7] = {0x00, 0x00, 0x01, 0xBF, 0x03, 0xD4, 0x00};
    memset(p, 0, 986);
    memcpy(p, pci, sizeof pci);
    p += 986;
    const uint8_t dsi[7] = {0x00, 0x00, 0x01, 0xBF, 0x03, 0xFA, 0x01};
    memset(p, 0, 1024);
    memcpy(p, dsi, sizeof dsi);
    pack_done(w);
}

// The header of a PES packet of `payload` bytes with the given time stamps, the rest of the
// pack after the payload going to header stuffing (up to 7 bytes) or to a padding packet, whose
// size it gives (put_padding writes it after the payload).
int put_pes_header(ProgramStreamWriter* w, uint8_t stream, bool with_pts, bool with_dts,
                   int64_t pts, int64_t dts, int payload) {
    int ts = with_pts ? (with_dts ? 10 : 5) : 0;
    int gap = PES_ROOM - (9 + ts + payload);
    int stuffing = gap <= 7 ? gap : 0;
    int header_data = ts + stuffing;
    int packet_length = 3 + header_data + payload;
    uint8_t* p = own_bytes(w, 9 + size_t(header_data));
    p[0] = 0, p[1] = 0, p[2] = 1, p[3] = stream;
    p[4] = uint8_t(packet_length >> 8);
    p[5] = uint8_t(packet_length);
    p[6] = 0x81;  // MPEG-2 PES, original
    p[7] = uint8_t(with_pts ? (with_dts ? 0xC0 : 0x80) : 0x00);
    p[8] = uint8_t(header_data);
    uint8_t* q = p + 9;
    if (with_pts) {
        put_timestamp(q, with_dts ? 3 : 2, pts);
        q += 5;
    }
    if (with_dts) {
        put_timestamp(q, 1, dts);
        q += 5;
    }
    memset(q, 0xFF, size_t(stuffing));
    return gap - stuffing;
}

void put_padding(ProgramStreamWriter* w, int gap) {
    if (gap <= 0) return;
    uint8_t* pad = own_bytes(w, size_t(gap));
    pad[0] = 0, pad[1] = 0, pad[2] = 1, pad[3] = 0xBE;
    pad[4] = uint8_t((gap - 6) >> 8);
    pad[5] = uint8_t(gap - 6);
    memset(pad + 6, 0xFF, size_t(gap - 6));
}

// The end code closes a last pack of padding, so that the file stays whole packs long, as DVD
// authoring tools read it in 2048-byte sectors.
void write_end_pack(ProgramStreamWriter* w) {
    new_pack(w, w->next_scr);
    uint8_t* p = own_bytes(w, PES_ROOM);
    w->next_scr += PACK_TICKS;
    int padding = PES_ROOM - 4 - 6;
    p[0] = 0, p[1] = 0, p[2] = 1, p[3] = 0xBE;
    p[4] = uint8_t(padding >> 8);
    p[5] = uint8_t(padding);
    memset(p + 6, 0xFF, size_t(padding));
    const uint8_t end_code[4] = {0x00, 0x00, 0x01, 0xB9};
    memcpy(p + 6 + padding, end_code, 4);
}

// ---- Video timing ----

int64_t frame_ticks(const ProgramStreamWriter* w) {
    int code = w->frame_rate_code >= 1 && w->frame_rate_code <= 8 ? w->frame_rate_code : 3;
    return FRAME_TICKS[code];
}

int64_t shown_ticks(const ProgramStreamWriter* w, const VideoUnit& u) {
    return frame_ticks(w) * u.fields / 2;
}

// Times the held anchor picture and the B-pictures after it in decode order, which are shown
// before it: the B-pictures one after the other from the display clock, then the anchor. An
// anchor is decoded when the anchor before it is shown (B-pictures when they are shown).
void time_group(ProgramStreamWriter* w, size_t end) {
    size_t from = w->untimed_from;
    if (from >= end) return;
    VideoUnit& anchor = w->video[from];
    int64_t first_decode = 0;
    if (w->first_group) {
        // B-pictures of a closed first group are shown before the I-picture.
        int64_t before = 0;
        for (size_t i = from + 1; i < end; ++i)
            before += shown_ticks(w, w->video[i]);
        w->display_clock = w->first_picture_pts - before;
        first_decode = w->display_clock - frame_ticks(w);
    }
    for (size_t i = from + 1; i < end; ++i) {
        VideoUnit& b = w->video[i];
        b.pts = b.dts = w->display_clock;
        b.timed = true;
        w->display_clock += shown_ticks(w, b);
    }
    anchor.pts = w->display_clock;
    anchor.dts = w->first_group ? first_decode : w->last_anchor_pts;
    anchor.timed = true;
    w->display_clock += shown_ticks(w, anchor);
    w->last_anchor_pts = anchor.pts;
    w->first_group = false;
    w->untimed_from = end;
}

// Puts the last sequence header before a picture that has none, where the file (or a part of it)
// begins with that picture; its offsets move behind the header.
void insert_sequence_header(const ProgramStreamWriter* w, VideoUnit& u) {
    if (u.has_sequence || w->sequence_header.empty()) return;
    int n = int(w->sequence_header.size());
    u.inserted = w->sequence_header;
    u.picture_at += n;
    if (u.gop_at >= 0) u.gop_at += n;
    u.has_sequence = true;
    u.sequence_at = 0;
}

// A whole picture has been gathered: dropped (before the first I-picture, or a B-picture that
// leads an open first group and refers to a picture never recorded), or queued and timed.
void picture_done(ProgramStreamWriter* w, VideoUnit&& u) {
    int end = u.gop_at > u.sequence_at ? u.gop_at : u.picture_at;
    if (u.has_sequence && end > u.sequence_at) {
        w->sequence_header.resize(size_t(end - u.sequence_at));
        copy_video(w->video_bytes, u.begin + u.sequence_at, w->sequence_header.size(),
                   w->sequence_header.data());
    }
    if (!w->video_started) {
        if (u.type != PICTURE_I) {
            ++w->counts.dropped_pictures;
            return;
        }
        w->video_started = true;
        w->dropping_leading_b = !(u.gop_at >= 0 && u.closed_gop);
        // The sequence header came with a picture that was dropped: the file needs it first.
        insert_sequence_header(w, u);
        u.opens_gop = true;
    } else if (u.type == PICTURE_B && w->dropping_leading_b) {
        ++w->counts.dropped_pictures;
        return;
    }
    if (u.type != PICTURE_B) w->dropping_leading_b = false;
    ++w->counts.video_pictures;
    bool anchor = u.type != PICTURE_B;
    w->held_video += u.size();
    w->video.push_back(std::move(u));
    if (anchor) time_group(w, w->video.size() - 1);
    // A stream whose anchors stop coming (damaged data) would hold every picture untimed.
    if (w->held_video > MAX_HELD_VIDEO) time_group(w, w->video.size());
}

// Start codes of the pending bytes, from where the last call stopped. A picture ends where a
// sequence header, a GOP header or the next picture begins (the second field of a frame coded
// as two field pictures stays with the first).
void scan_video(ProgramStreamWriter* w) {
    VideoBytes& v = w->video_bytes;
    int64_t i = w->scanned;
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
            w->pictures_in_pending > 0 &&
            (code == 0xB3 || code == 0xB8 ||
             (code == 0x00 && !(w->pictures_in_pending == 1 && w->pending_structure != 3)));
        if (ends_picture) {
            VideoUnit u = std::move(w->unit);
            u.begin = w->pending_from;
            u.end = i;
            w->pending_from = i;
            w->unit = VideoUnit();
            w->pictures_in_pending = 0;
            w->pending_structure = 3;
            picture_done(w, std::move(u));
            continue;  // the start code at i opens the next picture
        }
        VideoUnit& u = w->unit;
        int offset = int(i - w->pending_from);
        if (code == 0xB3) {
            u.has_sequence = true;
            u.sequence_at = offset;
            w->frame_rate_code = b[7] & 0x0F;
        } else if (code == 0xB8) {
            u.gop_at = offset;
            u.closed_gop = (b[7] & 0x40) != 0;
            u.opens_gop = true;
        } else if (code == 0xB5) {
            int id = b[4] >> 4;
            if (id == 1) w->progressive_sequence = (b[5] >> 3) & 1;
            if (id == 8 && w->pictures_in_pending == 1) {
                int structure = b[6] & 3;
                bool top_first = b[7] >> 7;
                bool repeat = (b[7] >> 1) & 1;
                w->pending_structure = structure;
                if (structure != 3)
                    u.fields = 2;  // with its second field
                else if (w->progressive_sequence)
                    u.fields = repeat ? (top_first ? 6 : 4) : 2;
                else
                    u.fields = 2 + (repeat ? 1 : 0);
            }
        } else if (code == 0x00) {
            if (w->pictures_in_pending == 0) {
                u.picture_at = offset;
                u.type = (b[5] >> 3) & 7;
            }
            ++w->pictures_in_pending;
        }
        i += 4;
    }
    w->scanned = i;
}

// ---- Audio placement ----

void place_frame(ProgramStreamWriter* w, std::vector<uint8_t>&& bytes, int64_t at) {
    AudioFrame f;
    f.bytes = std::move(bytes);
    f.pts = at;
    w->audio.push_back(std::move(f));
    ++w->counts.audio_frames;
}

// A whole frame with its broadcast time stamp (or none, -1): placed at the first frame's time
// plus its distance from it; gaps filled with silence, overlaps dropped, jumps start a new base.
void frame_done(ProgramStreamWriter* w, const uint8_t* p, int bytes, int64_t pts90,
                int64_t duration) {
    std::vector<uint8_t> frame(p, p + bytes);
    if (!w->audio_started) {
        w->audio_started = true;
        memcpy(w->first_header, p, 4);
        w->last_pts90 = pts90 >= 0 ? pts90 : 0;
        w->last_source = w->source_anchor = 0;
        w->out_anchor = w->first_picture_pts + w->options.av_offset_ms * (CLOCK / 1000);
        w->next_out = w->out_anchor + duration;
        place_frame(w, std::move(frame), w->out_anchor);
        return;
    }
    int64_t step;
    if (pts90 >= 0) {
        int64_t d = (pts90 - w->last_pts90) & (PTS_WRAP - 1);
        if (d >= PTS_WRAP / 2) d -= PTS_WRAP;  // the 33-bit clock wrapped, or a step back
        step = d * TICKS_PER_PTS;
        w->last_pts90 = pts90;
    } else {
        step = duration;
        w->last_pts90 = (w->last_pts90 + duration / TICKS_PER_PTS) & (PTS_WRAP - 1);
    }
    int64_t source = w->last_source + step;
    w->last_source = source;
    int64_t expected = w->next_out;
    if (step < 0 || step > MAX_AUDIO_GAP) {
        // A damaged stream may jump at every frame: the first few are named, the rest counted.
        if (++w->jumps <= MAX_JUMP_NOTICES) {
            char notice[MESSAGE_SIZE];
            put_message(notice,
                        "The audio's time stamps jump %s at %s; the audio goes on from there "
                        "without a gap.",
                        step < 0 ? "back" : "ahead by more than 10 seconds",
                        clock_text(expected - w->first_picture_pts).c_str());
            hook_notice(w->hooks, notice);
        }
        w->source_anchor = source;
        w->out_anchor = expected;
    }
    int64_t desired = w->out_anchor + (source - w->source_anchor);
    int64_t gap = desired - expected;
    if (gap < -duration / 2) {
        ++w->counts.dropped_frames;
        return;
    }
    if (gap >= duration) {
        int64_t n = (gap + duration / 2) / duration;
        std::vector<uint8_t> silence = silent_audio_frame(p);
        for (int64_t k = 0; k < n && !silence.empty(); ++k) {
            place_frame(w, std::vector<uint8_t>(silence), expected);
            ++w->counts.silent_frames;
            expected += duration;
        }
    }
    place_frame(w, std::move(frame), expected);
    w->next_out = expected + duration;
}

// Frames out of the audio bytes, each with the time stamp of the PES packet it begins in (the
// first frame that begins in a packet owns the packet's stamp).
void cut_frames(ProgramStreamWriter* w) {
    size_t at = 0;
    std::vector<uint8_t>& es = w->es;
    while (at + 4 <= es.size()) {
        AudioFrameHeader h;
        bool same_kind = !w->audio_started || ((es[at + 1] & 0xFE) == (w->first_header[1] & 0xFE) &&
                                               (es[at + 2] & 0x0C) == (w->first_header[2] & 0x0C));
        if (!same_kind || !parse_audio_frame_header(es.data() + at, &h)) {
            ++at;  // not a frame: look for the next one
            continue;
        }
        if (at + size_t(h.bytes) > es.size()) break;
        int64_t pts90 = -1;
        while (!w->stamps.empty() && w->stamps.front().to <= at)
            w->stamps.pop_front();
        if (!w->stamps.empty() && w->stamps.front().from <= at) {
            pts90 = w->stamps.front().pts;
            w->stamps.pop_front();
        }
        int64_t duration = int64_t(h.samples) * CLOCK / h.sample_rate;
        frame_done(w, es.data() + at, h.bytes, pts90, duration);
        at += size_t(h.bytes);
    }
    es.erase(es.begin(), es.begin() + long(at));
    for (auto& s : w->stamps) {
        s.from = s.from > at ? s.from - at : 0;
        s.to = s.to > at ? s.to - at : 0;
    }
}

// Audio PES packets: their payloads to the frame bytes, their PTS to the stamps.
void take_pes_apart(ProgramStreamWriter* w) {
    std::vector<uint8_t>& b = w->pes;
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
        size_t from = w->es.size();
        w->es.insert(w->es.end(), b.begin() + long(at + header), b.begin() + long(at + 6 + length));
        if (pts >= 0) w->stamps.push_back({from, w->es.size(), pts});
        at += 6 + length;
    }
    b.erase(b.begin(), b.begin() + long(at));
    cut_frames(w);
}

// ---- The multiplex ----

// Bytes of timed video that may go into the next packet: up to the next group of pictures (a
// navigation pack goes before it) or the first picture not yet timed.
struct VideoWindow {
    int64_t bytes = 0;
    bool ends_at_group = false;
};

VideoWindow video_window(const ProgramStreamWriter* w, int64_t limit) {
    VideoWindow v;
    for (size_t i = 0; i < w->video.size() && v.bytes < limit; ++i) {
        const VideoUnit& u = w->video[i];
        if (!u.timed) break;
        if (i > 0 && u.opens_gop) {
            v.ends_at_group = true;
            break;
        }
        v.bytes += int64_t(u.size() - u.sent);
    }
    return v;
}

int64_t audio_bytes(const ProgramStreamWriter* w, int64_t limit) {
    int64_t n = 0;
    for (size_t i = 0; i < w->audio.size() && n < limit; ++i)
        n += int64_t(w->audio[i].bytes.size() - w->audio[i].sent);
    return n;
}

// n of the unit's bytes from offset `from` on into the file: the inserted sequence header and
// the byte that gets broken_link as the writer's own, the stream's bytes where they lie.
void put_unit_bytes(ProgramStreamWriter* w, const VideoUnit& u, size_t from, size_t n) {
    size_t inserted = u.inserted.size();
    if (from < inserted) {
        size_t k = std::min(n, inserted - from);
        memcpy(own_bytes(w, k), u.inserted.data() + from, k);
        from += k;
        n -= k;
    }
    // The byte that holds closed_gop and broken_link.
    size_t mark = u.broken_link ? size_t(u.gop_at) + 7 : SIZE_MAX;
    while (n > 0) {
        int64_t at = u.begin + int64_t(from - inserted);
        if (from == mark) {
            uint8_t* b = own_bytes(w, 1);
            copy_video(w->video_bytes, at, 1, b);
            *b |= 0x20;
            ++from, --n;
            continue;
        }
        size_t run;
        const uint8_t* p = locate(w->video_bytes, at, &run);
        size_t k = std::min(run, n);
        if (mark > from && mark - from < k) k = mark - from;
        add_span(w, p, k);
        from += k;
        n -= k;
    }
}

// One video PES packet at scr: the window's bytes, with the PTS (and DTS where it differs) of
// the first picture whose start code lies in it.
void write_video_pack(ProgramStreamWriter* w, int64_t scr) {
    // Where the first picture start code lies in the window, and whose it is.
    int64_t window = PES_ROOM - 9;
    int64_t offset = 0, first_at = -1;
    const VideoUnit* first = nullptr;
    for (size_t i = 0; i < w->video.size() && offset < window; ++i) {
        const VideoUnit& u = w->video[i];
        if (!u.timed || (i > 0 && u.opens_gop)) break;
        if (int64_t(u.sent) <= u.picture_at) {
            first_at = offset + u.picture_at - int64_t(u.sent);
            first = &u;
            break;
        }
        offset += int64_t(u.size() - u.sent);
    }
    bool with_pts = false, with_dts = false;
    int64_t payload = window;
    if (first) {
        int header = 9 + (first->dts != first->pts ? 10 : 5);
        if (first_at < PES_ROOM - header) {
            with_pts = true;
            with_dts = first->dts != first->pts;
            payload = PES_ROOM - header;
        } else if (first_at < window) {
            payload = first_at;  // the picture goes with the next packet and its stamps
        }
    }
    int64_t pts = first ? first->pts : 0, dts = first ? first->dts : 0;
    VideoWindow v = video_window(w, payload);
    if (payload > v.bytes) payload = v.bytes;

    // The packet holds pieces of at most 16 pictures.
    int64_t take[16];
    int count = 0;
    int64_t left = payload;
    for (size_t i = 0; left > 0 && i < w->video.size() && count < 16; ++i) {
        int64_t n = int64_t(w->video[i].size() - w->video[i].sent);
        take[count++] = n < left ? n : left;
        left -= take[count - 1];
    }
    new_pack(w, scr);
    int gap = put_pes_header(w, 0xE0, with_pts, with_dts, pts, dts, int(payload - left));
    for (int i = 0; i < count; ++i) {
        VideoUnit& u = w->video[size_t(i)];
        put_unit_bytes(w, u, u.sent, size_t(take[i]));
        w->video_buffer.add(u.dts, take[i]);
        u.sent += size_t(take[i]);
    }
    put_padding(w, gap);
    // Pictures whose bytes are all in the file go.
    while (!w->video.empty() && w->video.front().sent == w->video.front().size()) {
        w->held_video -= w->video.front().size();
        w->video.pop_front();
        --w->untimed_from;
    }
    pack_done(w);
}

void write_audio_pack(ProgramStreamWriter* w, int64_t scr, int64_t limit = PES_ROOM) {
    int64_t window = PES_ROOM - 9;
    int64_t offset = 0, first_at = -1;
    int64_t pts = 0;
    for (size_t i = 0; i < w->audio.size() && offset < window; ++i) {
        const AudioFrame& f = w->audio[i];
        if (f.sent == 0) {
            first_at = offset;
            pts = f.pts;
            break;
        }
        offset += int64_t(f.bytes.size() - f.sent);
    }
    bool with_pts = false;
    int64_t payload = window;
    if (first_at >= 0) {
        if (first_at < PES_ROOM - 14) {
            with_pts = true;
            payload = PES_ROOM - 14;
        } else {
            payload = first_at;
        }
    }
    int64_t available = audio_bytes(w, payload);
    if (payload > available) payload = available;
    if (payload > limit) payload = limit;
    // The packet holds pieces of at most 32 frames.
    int64_t take[32];
    int count = 0;
    int64_t left = payload;
    for (size_t i = 0; left > 0 && i < w->audio.size() && count < 32; ++i) {
        int64_t n = int64_t(w->audio[i].bytes.size() - w->audio[i].sent);
        take[count++] = n < left ? n : left;
        left -= take[count - 1];
    }
    new_pack(w, scr);
    int gap = put_pes_header(w, 0xC0, with_pts, false, pts, 0, int(payload - left));
    for (int i = 0; i < count; ++i) {
        AudioFrame& f = w->audio[size_t(i)];
        memcpy(own_bytes(w, size_t(take[i])), f.bytes.data() + f.sent, size_t(take[i]));
        w->audio_buffer.add(f.pts, take[i]);
        f.sent += size_t(take[i]);
    }
    put_padding(w, gap);
    while (!w->audio.empty() && w->audio.front().sent == w->audio.front().bytes.size())
        w->audio.pop_front();
    pack_done(w);
}

// Whether the group of pictures at the front of the queue still fits into the current part: 1
// when a new part must begin before it, 0 when not, -1 when the group is not whole yet. Its
// packs are counted from its video bytes and the audio that plays meanwhile, generously.
int cut_before_group(ProgramStreamWriter* w, bool force) {
    int64_t video_bytes = 0, ticks = 0;
    size_t i = 0;
    for (; i < w->video.size(); ++i) {
        const VideoUnit& u = w->video[i];
        if (i > 0 && u.opens_gop) break;
        video_bytes += int64_t(u.size());
        ticks += shown_ticks(w, u);
    }
    if (i == w->video.size() && !force) return -1;
    AudioFrameHeader h;
    int64_t audio_rate = w->audio_started && parse_audio_frame_header(w->first_header, &h)
                             ? int64_t(h.bitrate_kbps) * 125
                             : 0;
    int64_t audio_bytes = audio_rate * (ticks + CLOCK) / CLOCK;
    int64_t packs = 1 + (video_bytes + PES_ROOM - 30) / (PES_ROOM - 29) + w->video.size() / 8 +
                    (audio_bytes * 3 / 2 + PES_ROOM - 30) / (PES_ROOM - 23) + 4;
    int64_t need = packs * PACK_SIZE + PACK_SIZE;  // and the part's end pack
    if (need > w->options.split_bytes) {
        char notice[MESSAGE_SIZE];
        put_message(notice,
                    "A group of pictures at %s is larger than a part (about %lld bytes); it gets "
                    "a part of its own.",
                    clock_text(w->video.front().pts - w->first_picture_pts).c_str(),
                    static_cast<long long>(need));
        hook_notice(w->hooks, notice);
    }
    return w->part_bytes > 0 && w->part_bytes + need > w->options.split_bytes ? 1 : 0;
}

// Ends the current part with its end code and opens the next; its first group of pictures gets
// the sequence header (when it has none) and, where it is open, broken_link, so that the part
// plays on its own.
bool start_next_part(ProgramStreamWriter* w) {
    // An audio frame begun in this part ends in it: the next part starts with a whole frame.
    if (!w->audio.empty() && w->audio.front().sent > 0) {
        const AudioFrame& f = w->audio.front();
        int64_t rest = int64_t(f.bytes.size() - f.sent);
        int64_t at = w->audio_buffer.room_at(w->next_scr, rest);
        w->audio_buffer.advance(at);
        write_audio_pack(w, at, rest);
        w->next_scr = at + PACK_TICKS;
    }
    write_end_pack(w);
    if (!flush_output(w)) return false;
    if (!w->output.begin_part(w->output.context, w->part + 1)) {
        w->write_failed = true;
        w->part_failed = true;
        return false;
    }
    ++w->part;
    ++w->counts.parts;
    w->part_bytes = 0;
    VideoUnit& u = w->video.front();
    size_t before = u.inserted.size();
    insert_sequence_header(w, u);
    w->held_video += u.inserted.size() - before;
    if (u.gop_at >= 0 && !u.closed_gop) u.broken_link = true;
    return true;
}

// Sends packs while what decides the next one is known: video and audio both waiting with a
// packet's worth (or at their ends), the stream whose next bytes are due first going first as
// far as its buffer has room.
void multiplex(ProgramStreamWriter* w) {
    while (!w->write_failed) {
        bool force =
            w->finishing || w->held_video > MAX_HELD_VIDEO || w->audio.size() > MAX_HELD_FRAMES;
        VideoWindow v = video_window(w, PES_ROOM);
        int64_t a = audio_bytes(w, PES_ROOM);
        bool video_ready = v.bytes > 0 && (v.bytes >= PES_ROOM - 9 || v.ends_at_group || force);
        bool audio_ready = a > 0 && (a >= PES_ROOM - 9 || force);
        // Which goes first is decided only when both streams' next bytes are known (or at the
        // end, or when memory runs short).
        if (!force && !(video_ready && audio_ready)) return;
        if (!video_ready && !audio_ready) return;

        int64_t now = w->next_scr;
        w->video_buffer.advance(now);
        w->audio_buffer.advance(now);
        int64_t video_at = INT64_MAX, audio_at = INT64_MAX;
        int64_t video_due = INT64_MAX, audio_due = INT64_MAX;
        if (video_ready) {
            const VideoUnit& u = w->video.front();
            video_at = w->video_buffer.room_at(now, v.bytes < PES_ROOM ? v.bytes : PES_ROOM);
            video_due = u.dts;
        }
        if (audio_ready) {
            audio_at = w->audio_buffer.room_at(now, a < PES_ROOM ? a : PES_ROOM);
            audio_due = w->audio.front().pts;
        }
        bool video_now = video_at <= now, audio_now = audio_at <= now;
        bool take_video;
        if (video_now && audio_now)
            take_video = video_due <= audio_due;
        else if (video_now || audio_now)
            take_video = video_now;
        else
            take_video = video_at <= audio_at;
        int64_t scr = take_video ? video_at : audio_at;
        if (scr < now) scr = now;
        if (take_video) {
            VideoUnit& u = w->video.front();
            if (u.opens_gop && u.sent == 0 && w->options.split_bytes > 0) {
                int cut = cut_before_group(w, force);
                if (cut < 0) return;  // the group is not whole yet
                if (cut > 0 && !start_next_part(w)) return;
                if (cut > 0 && scr < w->next_scr) scr = w->next_scr;
            }
            if (u.opens_gop && u.sent == 0) {
                write_navigation_pack(w, scr);
                scr += PACK_TICKS;
                u.opens_gop = false;  // the pack is written; the video follows
                w->next_scr = scr;
                continue;
            }
            w->video_buffer.advance(scr);
            write_video_pack(w, scr);
        } else {
            w->audio_buffer.advance(scr);
            write_audio_pack(w, scr);
        }
        w->next_scr = scr + PACK_TICKS;
    }
}

// After a call: the bytes still needed (from the first one not yet sent of the queued pictures,
// or else from the pending picture's start) move out of the caller's spans into `kept`, whose
// unneeded front is dropped only once it outweighs the rest.
void keep_video_bytes(ProgramStreamWriter* w) {
    VideoBytes& v = w->video_bytes;
    int64_t from = w->pending_from;
    if (!w->video.empty()) {
        const VideoUnit& u = w->video.front();
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

bool video_input(void* context, const ByteSpan* spans, int count) {
    ProgramStreamWriter* w = static_cast<ProgramStreamWriter*>(context);
    VideoBytes& v = w->video_bytes;
    v.input = spans;
    v.input_count = count;
    v.input_at.resize(size_t(count));
    for (int i = 0; i < count; ++i) {
        v.input_at[size_t(i)] = v.end;
        v.end += int64_t(spans[i].size);
    }
    scan_video(w);
    // No picture is this large (the largest decoder buffer of MPEG-2 holds under 10 MB): data
    // without picture boundaries is dropped rather than held without end.
    if (v.end - w->pending_from > int64_t(MAX_PICTURE_BYTES)) {
        w->pending_from = v.end;
        w->scanned = v.end;
        w->unit = VideoUnit();
        w->pictures_in_pending = 0;
        w->pending_structure = 3;
        ++w->counts.dropped_pictures;
    }
    multiplex(w);
    flush_output(w);  // the packs point into the caller's spans and into `kept`
    keep_video_bytes(w);
    return !w->write_failed;
}

bool audio_input(void* context, const ByteSpan* spans, int count) {
    ProgramStreamWriter* w = static_cast<ProgramStreamWriter*>(context);
    for (int i = 0; i < count; ++i) {
        const uint8_t* p = static_cast<const uint8_t*>(spans[i].bytes);
        w->pes.insert(w->pes.end(), p, p + spans[i].size);
    }
    take_pes_apart(w);
    multiplex(w);
    return !w->write_failed;
}

}  // namespace

ProgramStreamWriter* create_program_stream(const ProgramStreamOptions& options,
                                           const ProgramStreamOutput& output,
                                           const OperationHooks* hooks) {
    ProgramStreamWriter* w = new (std::nothrow) ProgramStreamWriter();
    if (!w) return nullptr;
    w->options = options;
    w->output = output;
    w->hooks = hooks;
    w->out.reset(new (std::nothrow) uint8_t[OUT_CAPACITY]);
    w->out_spans.reserve(MAX_OUT_SPANS);
    if (!w->out) {
        delete w;
        return nullptr;
    }
    w->video_buffer.size = VIDEO_BUFFER_BYTES;
    w->audio_buffer.size = AUDIO_BUFFER_BYTES;
    int64_t earlier = options.av_offset_ms < 0 ? -options.av_offset_ms * (CLOCK / 1000) : 0;
    w->first_picture_pts = PREROLL + earlier;
    w->part = options.split_bytes > 0 ? 1 : 0;
    if (!output.begin_part(output.context, w->part)) {
        delete w;
        return nullptr;
    }
    w->counts.parts = 1;
    return w;
}

void destroy_program_stream(ProgramStreamWriter* writer) {
    delete writer;
}

ByteSink program_stream_video_sink(ProgramStreamWriter* writer) {
    return ByteSink{writer, video_input};
}

ByteSink program_stream_audio_sink(ProgramStreamWriter* writer) {
    return ByteSink{writer, audio_input};
}

bool finish_program_stream(ProgramStreamWriter* w, char* message) {
    // The last picture ends with the stream.
    if (w->pictures_in_pending > 0) {
        VideoUnit u = std::move(w->unit);
        u.begin = w->pending_from;
        u.end = w->scanned = w->pending_from = w->video_bytes.end;
        w->pictures_in_pending = 0;
        picture_done(w, std::move(u));
    }
    time_group(w, w->video.size());
    if (w->jumps > MAX_JUMP_NOTICES) {
        char notice[MESSAGE_SIZE];
        put_message(notice, "The audio's time stamps jumped %lld more times.",
                    static_cast<long long>(w->jumps - MAX_JUMP_NOTICES));
        hook_notice(w->hooks, notice);
    }
    w->finishing = true;
    multiplex(w);
    write_end_pack(w);
    if (!flush_output(w)) {
        put_message(message, w->part_failed ? "Could not create output file."
                                            : "Error while writing to disk.");
        return false;
    }
    return true;
}

ProgramStreamCounts program_stream_counts(const ProgramStreamWriter* writer) {
    return writer->counts;
}

}  // namespace quarrow
