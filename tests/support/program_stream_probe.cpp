#include "support/program_stream_probe.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>

namespace quarrow::test {
namespace {

int64_t read_stamp(const uint8_t* p) {
    return (int64_t(p[0] & 0x0E) << 29) | (int64_t(p[1]) << 22) | (int64_t(p[2] & 0xFE) << 14) |
           (int64_t(p[3]) << 7) | (p[4] >> 1);
}

// A PES packet's payload as it arrived: where in the elementary stream, when, its stamps.
struct Packet {
    size_t es_from, es_to;
    int64_t arrival_start, arrival_end;  // 27 MHz
    int64_t pts = -1, dts = -1;          // 27 MHz
};

std::string at_text(const char* what, size_t offset) {
    char text[96];
    snprintf(text, sizeof text, "%s at byte %zu", what, offset);
    return text;
}

// Frame sizes of MPEG-1 Layer II at 48/44.1/32 kHz (all the tests use), and their play time.
bool audio_frame(const uint8_t* p, int* bytes, int64_t* ticks) {
    static const int rates[15] = {0,   32,  48,  56,  64,  80,  96, 112,
                                  128, 160, 192, 224, 256, 320, 384};
    static const int freqs[3] = {44100, 48000, 32000};
    if (p[0] != 0xFF || (p[1] & 0xFE) != 0xFC) return false;
    int r = p[2] >> 4, f = (p[2] >> 2) & 3;
    if (r == 0 || r == 15 || f == 3) return false;
    *bytes = 144 * rates[r] * 1000 / freqs[f] + ((p[2] >> 1) & 1);
    *ticks = int64_t(1152) * 27000000 / freqs[f];
    return true;
}

// Cuts the stream's data into units (pictures from one picture start code to the next, the
// headers before the first with it; audio frames). A unit takes the stamps of the packet its
// start code lies in when it is the first to start there; otherwise they follow from the unit
// before (one frame period for video: the model then removes it no earlier than it may).
void cut_units(ProbedStream& s, const std::vector<Packet>& packets, bool video, int64_t frame_ticks,
               std::vector<std::string>* faults) {
    std::vector<size_t> marks;   // where each unit's start code lies
    std::vector<size_t> starts;  // where it begins: a sequence or GOP header before the picture
    std::vector<int> types;
    std::vector<int64_t> durations;
    const std::vector<uint8_t>& d = s.data;
    if (video) {
        size_t headers = SIZE_MAX;
        for (size_t i = 0; i + 5 < d.size(); ++i) {
            if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1) continue;
            if ((d[i + 3] == 0xB3 || d[i + 3] == 0xB8) && headers == SIZE_MAX) headers = i;
            if (d[i + 3] != 0) continue;
            marks.push_back(i);
            starts.push_back(marks.size() == 1 ? 0 : std::min(headers, i));
            types.push_back((d[i + 5] >> 3) & 7);
            headers = SIZE_MAX;
        }
    } else {
        for (size_t i = 0; i + 4 <= d.size();) {
            int bytes;
            int64_t ticks;
            if (!audio_frame(d.data() + i, &bytes, &ticks)) {
                faults->push_back(at_text("audio that is no frame", i));
                break;
            }
            marks.push_back(i);
            starts.push_back(i);
            durations.push_back(ticks);
            i += size_t(bytes);
        }
    }
    size_t k = 0;
    for (size_t u = 0; u < marks.size(); ++u) {
        ProbedUnit unit;
        size_t from = starts[u], to = u + 1 < marks.size() ? starts[u + 1] : d.size();
        while (k < packets.size() && packets[k].es_to <= marks[u])
            ++k;
        bool first_in_packet = k < packets.size() && (u == 0 || marks[u - 1] < packets[k].es_from);
        if (first_in_packet && packets[k].pts >= 0) {
            unit.pts = packets[k].pts;
            unit.removal = packets[k].dts >= 0 ? packets[k].dts : packets[k].pts;
            unit.stamped = true;
        } else if (!s.units.empty()) {
            const ProbedUnit& prev = s.units.back();
            int64_t step = video ? frame_ticks : durations[u - 1];
            unit.removal = prev.removal + step;
            unit.pts = video ? unit.removal : prev.pts + step;
        } else {
            faults->push_back(at_text("first unit without time stamps", from));
        }
        // When its last byte arrived, at the mux rate within its packet.
        size_t last = to - 1, j = k;
        while (j < packets.size() && packets[j].es_to <= last)
            ++j;
        if (j < packets.size()) {
            const Packet& p = packets[j];
            unit.arrival_end = p.arrival_start + (p.arrival_end - p.arrival_start) *
                                                     int64_t(last + 1 - p.es_from) /
                                                     int64_t(p.es_to - p.es_from);
        }
        unit.bytes = int64_t(to - from);
        unit.start = marks[u];
        unit.type = video ? types[u] : 0;
        s.units.push_back(unit);
    }
}

// The decoder buffer: bytes enter as they arrive and the unit's bytes leave at its removal time;
// it may never hold more than its size, and no unit may be removed before it has arrived.
void check_buffer(ProbedStream& s, const std::vector<Packet>& packets, int64_t size,
                  const char* name, std::vector<std::string>* faults) {
    // Removal times per byte range of the stream.
    std::deque<std::pair<size_t, int64_t>> ends;  // (unit end offset, removal)
    size_t offset = 0;
    for (const ProbedUnit& u : s.units) {
        offset += size_t(u.bytes);
        ends.emplace_back(offset, u.removal);
    }
    for (const ProbedUnit& u : s.units)
        if (u.arrival_end > u.removal) {
            faults->push_back(std::string(name) + ": a unit arrives after its decoding time");
            break;
        }
    // Occupancy at the end of each packet's arrival (the highest point before later removals).
    size_t removed_to = 0, unit = 0;
    for (const Packet& p : packets) {
        while (unit < s.units.size() && s.units[unit].removal <= p.arrival_start) {
            removed_to = ends[unit].first;
            ++unit;
        }
        int64_t held = int64_t(p.es_to) - int64_t(removed_to);
        s.max_occupancy = std::max(s.max_occupancy, held);
    }
    if (s.max_occupancy > size)
        faults->push_back(std::string(name) + ": the decoder buffer overflows (" +
                          std::to_string(s.max_occupancy) + " bytes)");
}

}  // namespace

ProbedProgramStream probe_program_stream(const std::vector<uint8_t>& file, int64_t video_buffer,
                                         int64_t audio_buffer) {
    ProbedProgramStream ps;
    std::vector<Packet> video_packets, audio_packets;
    std::vector<std::string>& faults = ps.faults;
    if (file.size() % 2048 != 0) faults.push_back("the file is not whole packs long");
    if (file.size() < 4 || file[file.size() - 1] != 0xB9 || file[file.size() - 2] != 1)
        faults.push_back("no program end code at the end");
    int64_t video_last_dts = -1, audio_last_pts = -1;
    for (size_t at = 0; at + 2048 <= file.size(); at += 2048) {
        const uint8_t* p = file.data() + at;
        if (!(p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == 0xBA) || (p[4] & 0xC0) != 0x40) {
            faults.push_back(at_text("no MPEG-2 pack header", at));
            break;
        }
        int64_t base = (int64_t(p[4] & 0x38) << 27) | (int64_t(p[4] & 0x03) << 28) |
                       (int64_t(p[5]) << 20) | (int64_t(p[6] & 0xF8) << 12) |
                       (int64_t(p[6] & 0x03) << 13) | (int64_t(p[7]) << 5) | (p[8] >> 3);
        int64_t ext = (int64_t(p[8] & 0x03) << 7) | (p[9] >> 1);
        int64_t scr = base * 300 + ext;
        int64_t rate = ((int64_t(p[10]) << 14) | (int64_t(p[11]) << 6) | (p[12] >> 2)) * 50;
        if (!ps.scr.empty() && scr <= ps.scr.back())
            faults.push_back(at_text("SCR not increasing", at));
        ps.scr.push_back(scr);
        ++ps.packs;
        size_t k = 14 + (p[13] & 7);
        if (ps.packs == 1 && !(p[k + 3] == 0xBB)) faults.push_back("no system header in pack 1");
        while (k + 6 <= 2048) {
            const uint8_t* q = p + k;
            if (q[0] != 0 || q[1] != 0 || q[2] != 1) {
                faults.push_back(at_text("no packet start code", at + k));
                break;
            }
            uint8_t id = q[3];
            if (id == 0xB9) break;
            size_t length = size_t(q[4]) << 8 | q[5];
            if (k + 6 + length > 2048) {
                faults.push_back(at_text("a packet runs past its pack", at + k));
                break;
            }
            if (id == 0xBF && q[6] == 0) ++ps.navigation_packs;
            if (id == 0xE0 || id == 0xC0) {
                size_t header = 9 + q[8];
                Packet pk;
                ProbedStream& s = id == 0xE0 ? ps.video : ps.audio;
                if (q[7] & 0x80) pk.pts = read_stamp(q + 9) * 300;
                if ((q[7] & 0xC0) == 0xC0) pk.dts = read_stamp(q + 14) * 300;
                if (pk.pts >= 0) ++s.stamped_packets;
                if (pk.dts >= 0 && pk.dts > pk.pts) faults.push_back(at_text("DTS after PTS", at));
                int64_t decode = pk.dts >= 0 ? pk.dts : pk.pts;
                if (id == 0xE0 && decode >= 0) {
                    if (decode <= video_last_dts)
                        faults.push_back(at_text("video DTS not increasing", at));
                    video_last_dts = decode;
                }
                if (id == 0xC0 && pk.pts >= 0) {
                    if (pk.pts <= audio_last_pts)
                        faults.push_back(at_text("audio PTS not increasing", at));
                    audio_last_pts = pk.pts;
                }
                pk.es_from = s.data.size();
                s.data.insert(s.data.end(), q + header, q + 6 + length);
                pk.es_to = s.data.size();
                pk.arrival_start = scr + int64_t(k + header) * 27000000 / rate;
                pk.arrival_end = scr + int64_t(k + 6 + length) * 27000000 / rate;
                if (pk.es_to > pk.es_from)
                    (id == 0xE0 ? video_packets : audio_packets).push_back(pk);
            }
            k += 6 + length;
        }
    }
    int64_t frame_ticks = 1080000;
    for (size_t i = 0; i + 8 < ps.video.data.size(); ++i)
        if (ps.video.data[i] == 0 && ps.video.data[i + 1] == 0 && ps.video.data[i + 2] == 1 &&
            ps.video.data[i + 3] == 0xB3) {
            static const int64_t periods[9] = {1080000, 1126125, 1125000, 1080000, 900900,
                                               900000,  540000,  450450,  450000};
            int code = ps.video.data[i + 7] & 0x0F;
            if (code >= 1 && code <= 8) frame_ticks = periods[code];
            break;
        }
    cut_units(ps.video, video_packets, true, frame_ticks, &faults);
    cut_units(ps.audio, audio_packets, false, 0, &faults);
    check_buffer(ps.video, video_packets, video_buffer, "video", &faults);
    check_buffer(ps.audio, audio_packets, audio_buffer, "audio", &faults);
    return ps;
}

}  // namespace quarrow::test
