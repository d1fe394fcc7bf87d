#include "support/matroska_media.h"

#include <cstring>

#include "extract/mpeg_audio.h"

namespace quarrow::test {

std::vector<MediaUnit> split_pictures(const std::vector<uint8_t>& v, int64_t* frame_ticks) {
    static const int64_t TICKS[9] = {0, 3754, 3750, 3600, 3003, 3000, 1800, 1502, 1500};
    std::vector<MediaUnit> units;
    std::vector<size_t> codes;
    for (size_t i = 0; i + 3 < v.size(); ++i)
        if (v[i] == 0 && v[i + 1] == 0 && v[i + 2] == 1) codes.push_back(i);
    int64_t period = 0;
    for (size_t c : codes)
        if (v[c + 3] == 0xB3 && c + 8 <= v.size()) {
            int rate = v[c + 7] & 0x0F;
            period = rate <= 8 ? TICKS[rate] : 0;
            break;
        }
    *frame_ticks = period;
    if (period == 0) return units;
    // A unit opens at a sequence, GOP or picture header that follows a slice (or nothing).
    bool after_slice = true;
    bool in_unit = false;
    int64_t gop_base = 0, decoded = 0;
    MediaUnit u;
    for (size_t c : codes) {
        uint8_t code = v[c + 3];
        bool header = code == 0xB3 || code == 0xB8 || code == 0x00;
        if (header && after_slice) {
            if (in_unit) {
                u.size = c - u.at;
                units.push_back(u);
            }
            u = MediaUnit{};
            u.at = c;
            in_unit = true;
        }
        after_slice = code >= 0x01 && code <= 0xAF;
        if (code == 0xB8) gop_base = decoded;
        if (code == 0x00 && c + 6 <= v.size()) {
            int temporal = (v[c + 4] << 2) | (v[c + 5] >> 6);
            u.key = ((v[c + 5] >> 3) & 7) == 1;
            u.pts = (gop_base + temporal + 1) * period;
            u.dts = decoded * period;
            ++decoded;
        }
    }
    if (in_unit) {
        u.size = v.size() - u.at;
        units.push_back(u);
    }
    return units;
}

std::vector<MediaUnit> split_audio_frames(const std::vector<uint8_t>& a, int64_t start_pts) {
    std::vector<MediaUnit> frames;
    AudioFrameHeader h;
    size_t at = 0;
    int64_t samples = 0;
    while (at + 4 <= a.size() && parse_audio_frame_header(a.data() + at, &h) &&
           at + size_t(h.bytes) <= a.size()) {
        MediaUnit f;
        f.at = at;
        f.size = size_t(h.bytes);
        f.pts = f.dts = start_pts + samples * 90000 / h.sample_rate;
        f.key = true;
        frames.push_back(f);
        samples += h.samples;
        at += size_t(h.bytes);
    }
    return frames;
}

namespace {

bool memory_write(void* context, const ByteSpan* spans, int count) {
    MemoryMatroska* f = static_cast<MemoryMatroska*>(context);
    if (f->fail_write > 0 && ++f->writes >= f->fail_write) return false;
    for (int i = 0; i < count; ++i) {
        const uint8_t* p = static_cast<const uint8_t*>(spans[i].bytes);
        f->bytes.insert(f->bytes.end(), p, p + spans[i].size);
    }
    return true;
}

bool memory_patch(void* context, int64_t offset, const void* bytes, size_t size) {
    MemoryMatroska* f = static_cast<MemoryMatroska*>(context);
    if (f->fail_write > 0 && ++f->writes >= f->fail_write) return false;
    if (offset < 0 || size_t(offset) + size > f->bytes.size()) return false;
    memcpy(f->bytes.data() + offset, bytes, size);
    return true;
}

}  // namespace

MatroskaOutput memory_output(MemoryMatroska* file) {
    return MatroskaOutput{file, memory_write, memory_patch};
}

bool write_fixture_matroska(const std::vector<uint8_t>& video, const std::vector<uint8_t>& audio,
                            MemoryMatroska* file, FixtureMatroska* made) {
    int64_t period = 0;
    made->pictures = split_pictures(video, &period);
    made->frames = split_audio_frames(audio, period);
    MatroskaParams& p = made->params;
    if (made->pictures.empty() || made->frames.empty() ||
        !matroska_video_from_sequence(video.data(), video.size(), &p.video))
        return false;
    AudioFrameHeader h;
    parse_audio_frame_header(audio.data(), &h);
    p.audio.present = true;
    p.audio.layer = h.layer;
    p.audio.sample_rate = h.sample_rate;
    p.audio.channels = h.channels;
    p.audio.frame_ns = int64_t(h.samples) * 1000000000 / h.sample_rate;
    p.origin_pts = period;
    MatroskaWriter* w = create_matroska_writer(p, memory_output(file));
    if (!w) return false;
    // Video and audio interleaved by time, as a walk of a recording hands them over.
    bool ok = true;
    size_t a = 0;
    for (const MediaUnit& u : made->pictures) {
        for (; ok && a < made->frames.size() && made->frames[a].pts <= u.dts; ++a)
            ok = matroska_audio(w, audio.data() + made->frames[a].at, made->frames[a].size,
                                made->frames[a].pts);
        ByteSpan picture{video.data() + u.at, u.size};
        ok = ok && matroska_video(w, &picture, 1, u.pts, u.key);
    }
    for (; ok && a < made->frames.size(); ++a)
        ok = matroska_audio(w, audio.data() + made->frames[a].at, made->frames[a].size,
                            made->frames[a].pts);
    ok = ok && finish_matroska(w);
    made->counts = matroska_counts(w);
    destroy_matroska_writer(w);
    return ok;
}

}  // namespace quarrow::test
