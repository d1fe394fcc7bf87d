// A program stream read back independently of the writer: packs, their SCR, the PES packets of
// each stream with their time stamps, and the checks a DVD player's decoder model makes (pack
// size, SCR order, PTS/DTS order, buffers that never overflow and bytes that arrive before
// their decoding time).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarrow::test {

struct ProbedUnit {
    int64_t arrival_end = 0;  // 27 MHz: when its last byte has arrived
    int64_t removal = 0;      // 27 MHz: DTS (video) or PTS (audio)
    int64_t pts = 0;          // 27 MHz
    int64_t bytes = 0;
    int type = 0;          // video: 1 I, 2 P, 3 B
    bool stamped = false;  // its packet carried its time stamps
    size_t start = 0;      // where it begins in the elementary stream
};

struct ProbedStream {
    std::vector<uint8_t> data;      // the elementary stream
    std::vector<ProbedUnit> units;  // pictures or audio frames, in stream order
    int64_t max_occupancy = 0;      // the most bytes its decoder buffer held
    int stamped_packets = 0;
};

struct ProbedProgramStream {
    int packs = 0;
    int navigation_packs = 0;
    std::vector<int64_t> scr;  // 27 MHz, one per pack
    ProbedStream video, audio;
    std::vector<std::string> faults;  // every rule broken, with where
};

// Reads the file's bytes; video_buffer and audio_buffer are the decoder buffer sizes to hold it
// to.
ProbedProgramStream probe_program_stream(const std::vector<uint8_t>& file, int64_t video_buffer,
                                         int64_t audio_buffer);

}  // namespace quarrow::test
