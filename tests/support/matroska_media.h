// The fixture media cut into what the Matroska writer takes (pictures with their times, audio
// frames with theirs), and a Matroska output held in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "extract/matroska_writer.h"

namespace quarrow::test {

struct MediaUnit {
    size_t at = 0, size = 0;   // within the elementary stream
    int64_t pts = 0, dts = 0;  // 90 kHz
    bool key = false;          // an I-picture (every audio frame)
};

// Pictures of an MPEG-2 video elementary stream in decoding order, each with the sequence and
// GOP headers before it; times from the GOP's place and the temporal reference, the first picture
// shown at frame_ticks. Empty when there is no sequence header.
std::vector<MediaUnit> split_pictures(const std::vector<uint8_t>& video, int64_t* frame_ticks);
// Frames of an MPEG audio stream, the first at start_pts.
std::vector<MediaUnit> split_audio_frames(const std::vector<uint8_t>& audio, int64_t start_pts);

// The file in memory; fail_write > 0 refuses that write call (1 the first) and every later one.
struct MemoryMatroska {
    std::vector<uint8_t> bytes;
    int writes = 0;
    int fail_write = 0;
};
MatroskaOutput memory_output(MemoryMatroska* file);

// The fixture media written as one file with the texts and chapters the caller put in
// made->params (the tracks and origin are filled in here); false when writing failed.
struct FixtureMatroska {
    MatroskaParams params;
    std::vector<MediaUnit> pictures, frames;
    MatroskaCounts counts;
};
bool write_fixture_matroska(const std::vector<uint8_t>& video, const std::vector<uint8_t>& audio,
                            MemoryMatroska* file, FixtureMatroska* made);

}  // namespace quarrow::test
