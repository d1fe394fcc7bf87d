#include "extract/matroska_mux.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <new>

#include "extract/mpeg_audio.h"
#include "extract/output_name.h"
#include "extract/output_spans.h"
#include "fs/disk_session.h"

namespace quarrow {
namespace {

// 90 kHz ticks per frame of each frame_rate_code.
const int64_t FRAME_PTS[9] = {3600, 3754, 3750, 3600, 3003, 3000, 1800, 1502, 1500};
// Bytes of a stream already handed on that are dropped from the front at once.
constexpr size_t TRIM_BYTES = 1 << 20;
// Pictures held before the first audio frame tells the audio track; a recording without audio
// gets a file without an audio track after this much.
constexpr size_t MAX_WAITING_BYTES = 8u << 20;

// A PES packet's payload in the stream and its time stamps, which belong to the first picture
// (or frame) whose start lies in it.
struct Stamp {
    int64_t from, to;
    int64_t pts, dts;
    bool used = false;
};

struct Stream {
    std::vector<uint8_t> bytes;
    int64_t base = 0;  // stream offset of bytes[0]
    std::deque<Stamp> stamps;
    int64_t end() const { return base + int64_t(bytes.size()); }
    const uint8_t* at(int64_t offset) const { return bytes.data() + (offset - base); }
    // Stamps whose packet ended before `offset` can no longer apply.
    bool stamp_for(int64_t offset, int64_t* pts, int64_t* dts) {
        while (!stamps.empty() && stamps.front().to <= offset)
            stamps.pop_front();
        if (stamps.empty() || stamps.front().from > offset || stamps.front().used) return false;
        stamps.front().used = true;
        *pts = stamps.front().pts;
        *dts = stamps.front().dts;
        return true;
    }
    void trim(int64_t before) {
        if (before - base < int64_t(TRIM_BYTES)) return;
        bytes.erase(bytes.begin(), bytes.begin() + (before - base));
        base = before;
    }
};

struct Picture {
    std::vector<uint8_t> bytes;
    int64_t pts, dts;
    bool key;
};

}  // namespace

struct MatroskaFromPacks {
    MatroskaParams params;
    MatroskaOutput output{};
    MatroskaWriter* writer = nullptr;
    bool failed = false;
    bool video_known = false;  // the first picture (and its sequence header) was met
    bool audio_in_file = false;
    std::vector<uint8_t> pack;  // an unfinished pack
    Stream video, audio;
    // Video: the picture being gathered and what its GOP's stamped pictures say.
    int64_t unit_at = -1, scanned = 0;
    bool after_slice = true;
    int64_t picture_at = -1;
    int temporal = 0, type = 0;
    int64_t period = 3600;
    bool anchor_known = false;
    int64_t anchor_pts = 0;
    int anchor_temporal = 0;
    int64_t last_dts = 0;
    // Audio: the next frame's place and time.
    int64_t frame_at = 0, next_pts = -1;
    std::deque<Picture> waiting;  // pictures before the tracks are known
    size_t waiting_bytes = 0;
};

namespace {

int64_t read_pts(const uint8_t* t) {
    return (int64_t(t[0] & 0x0E) << 29) | (int64_t(t[1]) << 22) | (int64_t(t[2] & 0xFE) << 14) |
           (int64_t(t[3]) << 7) | (t[4] >> 1);
}

bool start_writer(MatroskaFromPacks* m) {
    m->writer = create_matroska_writer(m->params, m->output);
    if (!m->writer) return false;
    m->audio_in_file = m->params.audio.present;
    for (const Picture& p : m->waiting)
        if (!matroska_video(m->writer, p.bytes.data(), p.bytes.size(), p.pts, p.dts, p.key))
            return false;
    m->waiting.clear();
    m->waiting_bytes = 0;
    return true;
}

void send_picture(MatroskaFromPacks* m, int64_t from, int64_t to) {
    if (m->failed || m->picture_at < 0) return;
    if (!m->video_known) {
        // The writer puts the sequence header before the first picture; what has none cannot
        // be shown and is left out.
        if (!matroska_video_from_sequence(m->video.at(from), size_t(to - from), &m->params.video))
            return;
        int rate = m->video.at(from)[7] & 0x0F;
        m->period = FRAME_PTS[rate <= 8 ? rate : 0];
    }
    int64_t pts, dts;
    if (m->video.stamp_for(m->picture_at, &pts, &dts)) {
        m->anchor_known = true;
        m->anchor_pts = pts;
        m->anchor_temporal = m->temporal;
    } else if (m->anchor_known) {
        // A second picture in one packet carries no stamp: its place in the group tells.
        pts = m->anchor_pts + (m->temporal - m->anchor_temporal) * m->period;
        dts = m->type == 3 ? pts : m->last_dts + m->period;
    } else {
        pts = dts = m->last_dts + m->period;
    }
    m->last_dts = dts;
    if (!m->video_known) {
        m->video_known = true;
        m->params.origin_pts = pts;
    }
    bool key = m->type == 1;
    if (m->writer) {
        if (!matroska_video(m->writer, m->video.at(from), size_t(to - from), pts, dts, key))
            m->failed = true;
        return;
    }
    m->waiting.push_back({std::vector<uint8_t>(m->video.at(from), m->video.at(to)), pts, dts, key});
    m->waiting_bytes += size_t(to - from);
    if (m->waiting_bytes > MAX_WAITING_BYTES && !start_writer(m)) m->failed = true;
}

// Cuts the video stream into pictures, each with the sequence and GOP headers before it.
void cut_pictures(MatroskaFromPacks* m, bool at_end) {
    Stream& v = m->video;
    int64_t i = m->scanned;
    for (;;) {
        size_t n = size_t(v.end() - i);
        size_t k = find_start_code_in(v.at(i), n);
        if (k == n) {
            // A start code may begin in the last two bytes and end in the next packet.
            if (v.end() - 2 > i) i = v.end() - 2;
            break;
        }
        i += int64_t(k);
        if (i + 6 > v.end()) break;  // its header bytes are still to come
        const uint8_t* p = v.at(i);
        uint8_t code = p[3];
        bool header = code == 0xB3 || code == 0xB8 || code == 0x00;
        if (header && m->after_slice) {
            if (m->unit_at >= 0) send_picture(m, m->unit_at, i);
            m->unit_at = i;
            m->picture_at = -1;
        }
        m->after_slice = code >= 0x01 && code <= 0xAF;
        if (code == 0xB8) m->anchor_known = false;
        if (code == 0x00) {
            m->picture_at = i;
            m->temporal = (p[4] << 2) | (p[5] >> 6);
            m->type = (p[5] >> 3) & 7;
        }
        i += 4;
    }
    m->scanned = i;
    if (at_end && m->unit_at >= 0) {
        send_picture(m, m->unit_at, v.end());
        m->unit_at = -1;
    }
    v.trim(m->unit_at >= 0 ? m->unit_at : m->scanned);
}

void cut_frames(MatroskaFromPacks* m) {
    Stream& a = m->audio;
    AudioFrameHeader h;
    while (!m->failed && m->frame_at + 4 <= a.end()) {
        if (!parse_audio_frame_header(a.at(m->frame_at), &h)) {
            ++m->frame_at;  // not a frame: look further
            continue;
        }
        if (m->frame_at + h.bytes > a.end()) break;
        int64_t pts, dts;
        if (!a.stamp_for(m->frame_at, &pts, &dts)) pts = m->next_pts;
        if (pts < 0) {  // no time yet: the frame cannot be placed
            m->frame_at += h.bytes;
            continue;
        }
        m->next_pts = pts + int64_t(h.samples) * 90000 / h.sample_rate;
        if (!m->writer) {
            // Audio before the first picture has nothing to be placed against.
            if (!m->video_known) {
                m->frame_at += h.bytes;
                continue;
            }
            MatroskaAudioTrack& t = m->params.audio;
            t.present = true;
            t.layer = h.layer;
            t.sample_rate = h.sample_rate;
            t.channels = h.channels;
            t.frame_ns = int64_t(h.samples) * 1000000000 / h.sample_rate;
            if (!start_writer(m)) {
                m->failed = true;
                break;
            }
        }
        if (m->audio_in_file && !matroska_audio(m->writer, a.at(m->frame_at), size_t(h.bytes), pts))
            m->failed = true;
        m->frame_at += h.bytes;
    }
    a.trim(m->frame_at);
}

// One PES packet of a pack: video and audio payloads join their streams with their stamps.
void take_packet(MatroskaFromPacks* m, const uint8_t* p, size_t size) {
    uint8_t id = p[3];
    if ((id != 0xE0 && id != 0xC0) || size < 9 || (p[6] & 0xC0) != 0x80) return;
    size_t header = 9 + size_t(p[8]);
    if (header > size) return;
    Stream& s = id == 0xE0 ? m->video : m->audio;
    if ((p[7] & 0x80) && header >= 14) {
        int64_t pts = read_pts(p + 9);
        int64_t dts = (p[7] & 0x40) && header >= 19 ? read_pts(p + 14) : pts;
        s.stamps.push_back({s.end(), s.end() + int64_t(size - header), pts, dts});
    }
    s.bytes.insert(s.bytes.end(), p + header, p + size);
    if (id == 0xE0)
        cut_pictures(m, false);
    else
        cut_frames(m);
}

void take_pack(MatroskaFromPacks* m, const uint8_t* p) {
    size_t at = 14 + (p[13] & 7);
    while (at + 6 <= size_t(PACK_SIZE) && p[at] == 0 && p[at + 1] == 0 && p[at + 2] == 1) {
        if (p[at + 3] == 0xB9) break;  // the end code
        size_t size = 6 + (size_t(p[at + 4]) << 8 | p[at + 5]);
        if (at + size > size_t(PACK_SIZE)) break;
        take_packet(m, p + at, size);
        at += size;
    }
}

bool begin_part(void*, int part) {
    return part == 0;
}

bool write_packs(void* context, const ByteSpan* spans, int count) {
    MatroskaFromPacks* m = static_cast<MatroskaFromPacks*>(context);
    for (int i = 0; i < count && !m->failed; ++i) {
        const uint8_t* p = static_cast<const uint8_t*>(spans[i].bytes);
        size_t left = spans[i].size;
        while (left > 0 && !m->failed) {
            size_t n = PACK_SIZE - m->pack.size();
            if (n > left) n = left;
            m->pack.insert(m->pack.end(), p, p + n);
            p += n;
            left -= n;
            if (m->pack.size() == size_t(PACK_SIZE)) {
                take_pack(m, m->pack.data());
                m->pack.clear();
            }
        }
    }
    return !m->failed;
}

}  // namespace

MatroskaFromPacks* create_matroska_from_packs(const MatroskaParams& texts,
                                              const MatroskaOutput& output) {
    MatroskaFromPacks* m = new (std::nothrow) MatroskaFromPacks;
    if (!m) return nullptr;
    m->params = texts;
    m->params.video = MatroskaVideoTrack();
    m->params.audio = MatroskaAudioTrack();
    m->output = output;
    m->pack.reserve(PACK_SIZE);
    return m;
}

void destroy_matroska_from_packs(MatroskaFromPacks* m) {
    if (m) destroy_matroska_writer(m->writer);
    delete m;
}

ProgramStreamOutput matroska_pack_output(MatroskaFromPacks* m) {
    return ProgramStreamOutput{m, begin_part, write_packs};
}

namespace {

bool write_mkv(void* context, const ByteSpan* spans, int count) {
    return write_output_spans(static_cast<OutputFile*>(context), spans, count);
}

bool patch_mkv(void* context, int64_t offset, const void* bytes, size_t size) {
    return output_write_at(static_cast<OutputFile*>(context), offset, bytes, size);
}

struct DestroyWriters {
    void operator()(ProgramStreamWriter* w) const { destroy_program_stream(w); }
    void operator()(MatroskaFromPacks* m) const { destroy_matroska_from_packs(m); }
};

}  // namespace

int extract_to_matroska(DiskHandle disk, const ExtractionRequest& r, const char* path,
                        const char* prefix, char* message, ExtractionResult* result) {
    char name[OUTPUT_NAME_BUFFER];
    build_output_name(path, prefix, ".mkv", name);
    // The disk being read is never the output, whatever the name's spelling.
    if (check_output(disk, name) == OUTPUT_IS_SOURCE) {
        snprintf(message, MESSAGE_SIZE, "Could not create output file.");
        return 0;
    }
    OutputFilePtr file(begin_output_file(name));
    MatroskaParams texts = *r.matroska;
    if (r.chapters) texts.chapters_at_end = true;
    std::unique_ptr<MatroskaFromPacks, DestroyWriters> mkv(
        file ? create_matroska_from_packs(texts, {file.get(), write_mkv, patch_mkv}) : nullptr);
    ProgramStreamOptions options;
    options.av_offset_ms = r.av_offset_ms;
    options.from_ms = r.from_ms;
    options.to_ms = r.to_ms;
    options.stretches = r.stretches;
    std::unique_ptr<ProgramStreamWriter, DestroyWriters> writer(
        mkv ? create_program_stream(options, matroska_pack_output(mkv.get()), r.hooks) : nullptr);
    if (!writer) {
        snprintf(message, MESSAGE_SIZE, "Could not create output file.");
        return 0;
    }
    ExtractionOutputs outputs;
    outputs.video = program_stream_video_sink(writer.get());
    outputs.audio = program_stream_audio_sink(writer.get());
    ExtractionRequest walk = r;
    walk.audio_type = AUDIO_TYPE_MPG;  // the writer takes the PES packets with their time stamps
    walk.no_video = false;
    if (!walk_recording(disk, walk, outputs, message)) return 0;
    if (!finish_program_stream(writer.get(), message)) return 0;
    result->repairs = program_stream_repairs(writer.get());
    result->stretches = program_stream_stretches(writer.get());
    if (r.chapters) {
        // Known only now: they go after the media, where the writer was told to leave room.
        result->chapters = program_stream_chapters(writer.get(), r.chapter_every_ms);
        mkv->params.chapters.clear();
        for (const StreamChapter& c : result->chapters)
            mkv->params.chapters.push_back({c.at_ms, c.name});
    }
    if (!finish_matroska_from_packs(mkv.get())) {
        snprintf(message, MESSAGE_SIZE, "Error while writing to disk.");
        return 0;
    }
    result->mux = program_stream_counts(writer.get());
    if (r.output_time >= 0) set_output_time(file.get(), r.output_time);
    if (!commit_output_file(file.release())) {
        snprintf(message, MESSAGE_SIZE, "Could not create output file.");
        return 0;
    }
    result->files.push_back(name);
    return 1;
}

bool finish_matroska_from_packs(MatroskaFromPacks* m) {
    if (m->failed) return false;
    cut_pictures(m, true);
    if (m->failed || (!m->writer && !start_writer(m))) return false;
    if (m->params.chapters_at_end) set_matroska_chapters(m->writer, m->params.chapters);
    return finish_matroska(m->writer);
}

}  // namespace quarrow
