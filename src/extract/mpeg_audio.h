// MPEG audio frames (ISO/IEC 11172-3 and the half rates of 13818-3): what a frame header says
// (size, play time) and a silent frame of the same header, for the program stream writer.
#pragma once

#include <cstdint>
#include <vector>

namespace quarrow {

struct AudioFrameHeader {
    int layer;         // 1, 2 or 3
    bool lsf;          // the half sampling rates of MPEG-2
    int bitrate_kbps;  // 0: free format, which has no fixed frame size
    int sample_rate;   // samples per second
    int channels;      // 1 or 2
    bool crc;          // a 16-bit CRC follows the header
    int bytes;         // the frame's size, header included
    int samples;       // samples per channel the frame plays
};

// Decodes the four header bytes at p; false for anything that is not a usable frame header
// (no sync word, reserved values, free format).
bool parse_audio_frame_header(const uint8_t* p, AudioFrameHeader* out);

// A frame that plays silence for as long as the frame whose header is given: the same layer,
// bit rate, mode and sampling rate, no padding, every bit allocation zero, the CRC recomputed.
// Empty when the header is not usable.
std::vector<uint8_t> silent_audio_frame(const uint8_t* header);

}  // namespace quarrow
