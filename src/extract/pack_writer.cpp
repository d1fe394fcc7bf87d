// Pack writing: MPEG-2 program stream packs of 2048 bytes (pack header, one PES packet, padding),
// navigation packs, the end code; laid out as spans (the writer's own bytes in `out`, the video
// where it lies) and handed to the output in large writes.
#include <algorithm>
#include <cstring>
#include <new>

#include "extract/program_stream_parts.h"

namespace quarrow {
namespace {

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

void add_span(PackWriter& w, const uint8_t* p, size_t n) {
    std::vector<ByteSpan>& spans = w.spans;
    if (!spans.empty()) {
        ByteSpan& last = spans.back();
        if (static_cast<const uint8_t*>(last.bytes) + last.size == p) {
            last.size += n;
            return;
        }
    }
    if (spans.size() == MAX_OUT_SPANS) flush_packs(w);
    spans.push_back(ByteSpan{p, n});
}

// n (at most a pack's) bytes of the writer's own next in the file; the caller fills them at once.
uint8_t* own_bytes(PackWriter& w, size_t n) {
    // Room first: a flush after the bytes were taken would hand them out again.
    if (w.out_used + n > OUT_CAPACITY || w.spans.size() == MAX_OUT_SPANS) flush_packs(w);
    uint8_t* p = w.out.get() + w.out_used;
    w.out_used += n;
    add_span(w, p, n);
    return p;
}

void new_pack(PackWriter& w, int64_t scr) {
    put_pack_header(own_bytes(w, PACK_HEADER_SIZE), scr);
    w.part_bytes += PACK_SIZE;
}

void pack_done(PackWriter& w) {
    if (w.out_used >= OUTPUT_CHUNK) flush_packs(w);
}

// The header of a PES packet of `payload` bytes with the given time stamps, the rest of the
// pack after the payload going to header stuffing (up to 7 bytes) or to a padding packet, whose
// size it gives (put_padding writes it after the payload).
int put_pes_header(PackWriter& w, uint8_t stream, bool with_pts, bool with_dts, int64_t pts,
                   int64_t dts, int payload) {
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

void put_padding(PackWriter& w, int gap) {
    if (gap <= 0) return;
    uint8_t* pad = own_bytes(w, size_t(gap));
    pad[0] = 0, pad[1] = 0, pad[2] = 1, pad[3] = 0xBE;
    pad[4] = uint8_t((gap - 6) >> 8);
    pad[5] = uint8_t(gap - 6);
    memset(pad + 6, 0xFF, size_t(gap - 6));
}

// n of the unit's bytes from offset `from` on into the file: the inserted sequence header and
// the byte that gets broken_link as the writer's own, the stream's bytes where they lie.
void put_unit_bytes(PackWriter& w, VideoBytes& bytes, const VideoUnit& u, size_t from, size_t n) {
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
            copy_video(bytes, at, 1, b);
            *b |= 0x20;
            ++from, --n;
            continue;
        }
        size_t run;
        const uint8_t* p = locate(bytes, at, &run);
        size_t k = std::min(run, n);
        if (mark > from && mark - from < k) k = mark - from;
        add_span(w, p, k);
        from += k;
        n -= k;
    }
}

}  // namespace

void DecoderBuffer::advance(int64_t now) {
    while (!held.empty() && held.front().first <= now) {
        bytes -= held.front().second;
        held.pop_front();
    }
}

int64_t DecoderBuffer::room_at(int64_t now, int64_t need) const {
    int64_t b = bytes;
    if (b + need <= size) return now;
    for (const auto& h : held) {
        b -= h.second;
        if (b + need <= size) return h.first > now ? h.first : now;
    }
    return now;
}

void DecoderBuffer::add(int64_t leaves_at, int64_t n) {
    if (!held.empty() && held.back().first == leaves_at)
        held.back().second += n;
    else
        held.emplace_back(leaves_at, n);
    bytes += n;
}

bool init_pack_writer(PackWriter& p, const ProgramStreamOutput& output) {
    p.output = output;
    p.out.reset(new (std::nothrow) uint8_t[OUT_CAPACITY]);
    p.spans.reserve(MAX_OUT_SPANS);
    return p.out != nullptr;
}

bool flush_packs(PackWriter& w) {
    std::vector<ByteSpan>& spans = w.spans;
    w.out_used = 0;
    if (!spans.empty() && !w.write_failed &&
        !w.output.write(w.output.context, spans.data(), int(spans.size())))
        w.write_failed = true;
    spans.clear();  // after a failed write nothing more reaches the file anyway
    return !w.write_failed;
}

// System header, then the PCI and DSI packets (private stream 2) that a DVD authoring tool
// fills in.
void write_navigation_pack(PackWriter& w, int64_t scr) {
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

// The packet carries the PTS (and DTS where it differs) of the first picture whose start code
// lies in it; a picture whose start code would not leave room for its stamps goes with the next.
void write_video_pack(PackWriter& w, VideoTiming& t, DecoderBuffer& buffer, int64_t scr) {
    // Where the first picture start code lies in the window, and whose it is.
    int64_t window = PES_ROOM - 9;
    int64_t offset = 0, first_at = -1;
    const VideoUnit* first = nullptr;
    for (size_t i = 0; i < t.queue.size() && offset < window; ++i) {
        const VideoUnit& u = t.queue[i];
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
    VideoWindow v = timed_video(t, payload);
    if (payload > v.bytes) payload = v.bytes;

    // The packet holds pieces of at most 16 pictures.
    int64_t take[16];
    int count = 0;
    int64_t left = payload;
    for (size_t i = 0; left > 0 && i < t.queue.size() && count < 16; ++i) {
        int64_t n = int64_t(t.queue[i].size() - t.queue[i].sent);
        take[count++] = n < left ? n : left;
        left -= take[count - 1];
    }
    new_pack(w, scr);
    int gap = put_pes_header(w, 0xE0, with_pts, with_dts, pts, dts, int(payload - left));
    for (int i = 0; i < count; ++i) {
        VideoUnit& u = t.queue[size_t(i)];
        put_unit_bytes(w, t.bytes, u, u.sent, size_t(take[i]));
        buffer.add(u.dts, take[i]);
        u.sent += size_t(take[i]);
    }
    put_padding(w, gap);
    drop_sent_pictures(t);
    pack_done(w);
}

void write_audio_pack(PackWriter& w, AudioPlacement& a, DecoderBuffer& buffer, int64_t scr,
                      int64_t limit) {
    int64_t window = PES_ROOM - 9;
    int64_t offset = 0, first_at = -1;
    int64_t pts = 0;
    for (size_t i = 0; i < a.queue.size() && offset < window; ++i) {
        const AudioFrame& f = a.queue[i];
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
    int64_t available = unsent_audio(a, payload);
    if (payload > available) payload = available;
    if (payload > limit) payload = limit;
    // The packet holds pieces of at most 32 frames.
    int64_t take[32];
    int count = 0;
    int64_t left = payload;
    for (size_t i = 0; left > 0 && i < a.queue.size() && count < 32; ++i) {
        int64_t n = int64_t(a.queue[i].bytes.size() - a.queue[i].sent);
        take[count++] = n < left ? n : left;
        left -= take[count - 1];
    }
    new_pack(w, scr);
    int gap = put_pes_header(w, 0xC0, with_pts, false, pts, 0, int(payload - left));
    for (int i = 0; i < count; ++i) {
        AudioFrame& f = a.queue[size_t(i)];
        memcpy(own_bytes(w, size_t(take[i])), f.bytes.data() + f.sent, size_t(take[i]));
        buffer.add(f.pts, take[i]);
        f.sent += size_t(take[i]);
    }
    put_padding(w, gap);
    drop_sent_frames(a);
    pack_done(w);
}

// The end code closes a last pack of padding, so that the file stays whole packs long, as DVD
// authoring tools read it in 2048-byte sectors.
void write_end_pack(PackWriter& w, int64_t scr) {
    new_pack(w, scr);
    uint8_t* p = own_bytes(w, PES_ROOM);
    int padding = PES_ROOM - 4 - 6;
    p[0] = 0, p[1] = 0, p[2] = 1, p[3] = 0xBE;
    p[4] = uint8_t(padding >> 8);
    p[5] = uint8_t(padding);
    memset(p + 6, 0xFF, size_t(padding));
    const uint8_t end_code[4] = {0x00, 0x00, 0x01, 0xB9};
    memcpy(p + 6 + padding, end_code, 4);
}

}  // namespace quarrow
